// The profiles editor as the user drives it: selecting, the save question, renaming, new,
// delete, filters and closing.
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>

#include "links/profile.h"
#include "links/ui/edit_profile_dialog.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "workspace/app_settings.h"
#include "workspace/settings_store.h"

using namespace pellix;
namespace fs = std::filesystem;

namespace {

TPXProfile Stored(TPXApp& app, const std::string& name)
{
    TPXProfile profile;
    profile.SetProfileFile(app.ProfilesFolder() + name + ".pxp");
    profile.Load();
    return profile;
}

struct TFixture {
    TFixture()
    {
        // A deleted profile goes to the trash: this folder's, not the user's. The home is here
        // too, so that the trash is found by the home's file system and not by the profile's.
        fs::create_directories(folder.Path() / "user");
        qputenv("HOME", QByteArray::fromStdString((folder.Path() / "user").string()));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString((folder.Path() / "xdg").string()));
        app = std::make_unique<TPXApp>(test::TestAppPaths(folder.Path()));
        app->Store().WriteSetting(kFileTypesKey, "HTML", ".htm;.html;");
        app->Store().WriteSetting(kFileTypesKey, "Images", ".gif;.jpg;");
        test::WriteText(app->ProfilesFolder() + "Site.pxp",
                        "[Profile]\nProfile Name=Site\nDepth=2\nPage Location=0\nAggressive Parser=2\n");
        test::WriteText(app->ProfilesFolder() + "Other.pxp", "[Profile]\nProfile Name=Other\nDepth=-1\n");
    }
    std::unique_ptr<TdlgEditProfile> Open(std::vector<QString>* questions, QMessageBox::StandardButton answer)
    {
        auto dialog = std::make_unique<TdlgEditProfile>(*app);
        dialog->SetMessageHandler([questions, answer](QWidget*, QMessageBox::Icon, const QString& text,
                                                      QMessageBox::StandardButtons) {
            questions->push_back(text);
            return answer;
        });
        dialog->show();
        return dialog;
    }
    test::TTempFolder folder;
    std::unique_ptr<TPXApp> app;
};

} // namespace

class TdlgEditProfileTest : public QObject {
    Q_OBJECT
private slots:
    void ListsAndShowsTheSelectedProfile()
    {
        TFixture f;
        std::vector<QString> asked;
        auto dialog = f.Open(&asked, QMessageBox::No);
        QCOMPARE(dialog->windowTitle(), QString("Profiles Editor"));
        QCOMPARE(dialog->lvProfiles->count(), 2);
        QVERIFY(!dialog->Editor().HasSelection());
        QVERIFY(!dialog->rbAll->isEnabled()); // nothing to edit before a choice

        dialog->lvProfiles->setCurrentItem(dialog->ProfileItem("Site"));
        QCOMPARE(dialog->edProfileName->text(), QString("Site"));
        QVERIFY(dialog->rbLevels->isChecked());
        QCOMPARE(dialog->edLevels->value(), 2);
        QVERIFY(dialog->rbPagesDir->isChecked());
        QVERIFY(dialog->rbResAnywhere->isChecked());
        QVERIFY(dialog->cbAll->isChecked());
        QVERIFY(!dialog->tvFileTypes->isEnabled());
        QVERIFY(!dialog->Editor().Changed()); // filling the controls is no edit
        QVERIFY(asked.empty());
    }

    void SaveQuestionOnLeavingAndClosing_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("byClose");
        QTest::newRow("Yes when another is selected") << int(QMessageBox::Yes) << false;
        QTest::newRow("No when another is selected") << int(QMessageBox::No) << false;
        QTest::newRow("Yes on close") << int(QMessageBox::Yes) << true;
        QTest::newRow("No on close") << int(QMessageBox::No) << true;
    }
    void SaveQuestionOnLeavingAndClosing()
    {
        QFETCH(int, answer);
        QFETCH(bool, byClose);
        TFixture f;
        std::vector<QString> asked;
        auto dialog = f.Open(&asked, QMessageBox::StandardButton(answer));
        dialog->lvProfiles->setCurrentItem(dialog->ProfileItem("Site"));
        dialog->rbAll->click();
        QVERIFY(dialog->Editor().Changed());
        if (byClose)
            dialog->btnCancel->click();
        else
            dialog->lvProfiles->setCurrentItem(dialog->ProfileItem("Other"));
        QCOMPARE(asked, (std::vector<QString>{"Save changes to profile: Site?"}));
        const TPXProfile site = Stored(*f.app, "Site");
        QCOMPARE(site.Depth(), answer == QMessageBox::Yes ? -1 : 2);
        QCOMPARE(site.AggressiveParser(), 2); // kept whatever the answer
        QVERIFY(!dialog->Editor().Changed());
    }

    void NewRenameAndDelete()
    {
        TFixture f;
        std::vector<QString> asked;
        auto dialog = f.Open(&asked, QMessageBox::No);
        dialog->btnProfileNew->click();
        QListWidgetItem* item = dialog->lvProfiles->currentItem();
        QCOMPARE(item->text(), QString("New Profile"));
        QVERIFY(dialog->Editor().Changed());
        QVERIFY(dialog->rbAll->isChecked()); // the defaults
        QVERIFY(!fs::exists(f.app->ProfilesFolder() + "New Profile.pxp"));

        dialog->RenameItem(item, "Images Only");
        QVERIFY(fs::exists(f.app->ProfilesFolder() + "Images Only.pxp"));
        QCOMPARE(Stored(*f.app, "Images Only").ConvertFollowedLinks(), 1);
        QCOMPARE(dialog->edProfileName->text(), QString("Images Only"));
        QVERIFY(!dialog->Editor().Changed());

        // A rename onto another profile is refused and the caption goes back.
        dialog->RenameItem(item, "Other");
        QCOMPARE(item->text(), QString("Images Only"));
        QCOMPARE(asked.size(), std::size_t(1));
        QCOMPARE(Stored(*f.app, "Other").Depth(), -1);

        dialog->btnProfileDelete->click();
        QVERIFY(!fs::exists(f.app->ProfilesFolder() + "Images Only.pxp"));
        QVERIFY(fs::exists(f.folder.Path() / "xdg" / "Trash" / "files" / "Images Only.pxp"));
        QCOMPARE(dialog->lvProfiles->count(), 2);
        QVERIFY(!dialog->Editor().HasSelection());
    }

    void FiltersAndFileTypesMarkTheProfileChanged()
    {
        TFixture f;
        std::vector<QString> asked;
        auto dialog = f.Open(&asked, QMessageBox::Yes);
        QString answer = "cgi,bin";
        dialog->askFilter = [&answer](const QString&, const QString&, bool* ok) {
            *ok = true;
            return answer;
        };
        dialog->lvProfiles->setCurrentItem(dialog->ProfileItem("Site"));
        QVERIFY(!dialog->btnExEdit->isEnabled());
        dialog->AddFilter(false, "[RL]");
        QCOMPARE(dialog->lbEx->item(0)->text(), QString("[RL]cgi,bin"));
        QVERIFY(dialog->btnExEdit->isEnabled());
        answer = "exe";
        dialog->EditFilter(false);
        QCOMPARE(dialog->lbEx->item(0)->text(), QString("[RL]exe")); // the marker stays
        dialog->AddFilter(true, "[PL]");
        dialog->RemoveFilter(true);
        QCOMPARE(dialog->lbInc->count(), 0);

        dialog->cbAll->click();
        QVERIFY(dialog->tvFileTypes->isEnabled());
        // The "Images" group: its node and its extensions are checked together.
        const auto& nodes = dialog->FileTypeTree().Nodes();
        std::size_t images = 0;
        while (images < nodes.size() && nodes[images].text != "Images")
            ++images;
        QVERIFY(images < nodes.size());
        dialog->ToggleFileType(images);
        dialog->lvProfiles->setCurrentItem(dialog->ProfileItem("Other"));
        const TPXProfile site = Stored(*f.app, "Site");
        QCOMPARE(site.ExcludeFilters(), std::vector<std::string>{"[RL]exe"});
        QCOMPARE(site.FileTypes(), (std::vector<std::string>{".gif", ".jpg"}));
    }

    void TypedNameAloneIsNoEdit()
    {
        TFixture f;
        std::vector<QString> asked;
        auto dialog = f.Open(&asked, QMessageBox::Yes);
        dialog->lvProfiles->setCurrentItem(dialog->ProfileItem("Site"));
        QTest::keyClicks(dialog->edProfileName, "X");
        QVERIFY(!dialog->Editor().Changed());
        dialog->lvProfiles->setCurrentItem(dialog->ProfileItem("Other"));
        QVERIFY(asked.empty());
        QCOMPARE(Stored(*f.app, "Site").ProfileName(), std::string("Site"));
    }
};

QTEST_MAIN(TdlgEditProfileTest)
#include "edit_profile_dialog_test.moc"
