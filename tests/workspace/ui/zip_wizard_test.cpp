// The zip wizard: its pages and buttons, the settings it shows and stores, the file name check,
// replacing a file only when finished, dropped files and folders, and the whole File Zip command
// on small archives, a file that is not a Zip among them.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/support/modal_driver.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "tests/support/zip_entries.h"
#include "tests/support/zip_fixture.h"
#include "workspace/app_settings.h"
#include "workspace/ui/zip_commands.h"
#include "workspace/ui/zip_wizard.h"

using namespace pellix;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TFixture {
    TFixture() : app(test::UserHomeAppPaths(temp.Path()))
    {
        test::WriteText(temp.Path() / "src/a.txt", "alpha");
        test::WriteText(temp.Path() / "src/sub/b.txt", "beta");
    }
    std::string Path(const std::string& relative) const { return (temp.Path() / relative).string(); }
    // A wizard whose file dialogs answer from the fields below and whose messages are collected.
    std::unique_ptr<TwizFileZip> Wizard(const TZipWizardPreset& preset = {})
    {
        auto wizard = std::make_unique<TwizFileZip>(app, preset);
        wizard->SetPathPrompt([this](TwizFileZip::TPrompt prompt, const QString&) {
            return prompt == TwizFileZip::TPrompt::AddFiles ? addAnswer : zipAnswer;
        });
        wizard->SetMessageHandler(Collector());
        return wizard;
    }
    TMessageHandler Collector()
    {
        return [this](QWidget*, QMessageBox::Icon, const QString& text, QMessageBox::StandardButtons) {
            messages << text;
            return QMessageBox::Ok;
        };
    }

    test::TTempFolder temp;
    TPXApp app;
    QStringList zipAnswer;
    QStringList addAnswer;
    QStringList messages;
};

} // namespace

class TZipWizardTest : public QObject {
    Q_OBJECT
private slots:
    void PagesButtonsAndStoredSettings()
    {
        TFixture f;
        {
            auto wizard = f.Wizard();
            QCOMPARE(wizard->windowTitle(), QString("File Zip Wizard"));
            QCOMPARE(wizard->PageIndex(), 0);
            QVERIFY(!wizard->btnBack->isEnabled());
            QCOMPARE(wizard->btnNext->text(), QString("&Next  >"));
            // Until finished once: compression 0, no path names, add and replace.
            QCOMPARE(wizard->tbCompression->value(), 0);
            QVERIFY(!wizard->cbUsePaths->isChecked());
            QVERIFY(wizard->rbAction[0]->isChecked());
            wizard->edZipFileName->setText(QString::fromStdString(f.Path("out/site")));
            wizard->btnNext->click();
            QCOMPARE(wizard->PageIndex(), 1);
            QVERIFY(wizard->btnBack->isEnabled());
            QCOMPARE(wizard->edZipFileName->text(), QString::fromStdString(f.Path("out/site.zip")));
            f.addAnswer = {QString::fromStdString(f.Path("src/a.txt"))};
            wizard->btnAdd->click();
            wizard->cbUsePaths->setChecked(true);
            wizard->btnNext->click();
            QCOMPARE(wizard->PageIndex(), 2);
            QCOMPARE(wizard->btnNext->text(), QString("&Finish"));
            wizard->btnBack->click();
            QCOMPARE(wizard->PageIndex(), 1);
            wizard->btnNext->click();
            wizard->tbCompression->setValue(7);
            wizard->btnNext->click();
            QCOMPARE(wizard->result(), int(QDialog::Accepted));
            const TZipWizardChoice& choice = *wizard->Choice();
            QCOMPARE(choice.zipPath, f.Path("out/site.zip"));
            QVERIFY(!choice.openExisting);
            QCOMPARE(choice.compression, 7);
            QVERIFY(choice.usePaths);
            QCOMPARE(choice.files, std::vector<std::string>{f.Path("src/a.txt")});
        }
        QCOMPARE(f.app.Compression(), 7);
        QVERIFY(f.app.UsePaths(false));
        auto again = f.Wizard();
        QCOMPARE(again->tbCompression->value(), 7);
        QVERIFY(again->cbUsePaths->isChecked());
        // Escape cancels without storing anything.
        again->tbCompression->setValue(2);
        again->show();
        QTest::keyClick(again.get(), Qt::Key_Escape);
        QCOMPARE(again->result(), int(QDialog::Rejected));
        QVERIFY(!again->Choice());
        QCOMPARE(f.app.Compression(), 7);
    }

    void InvalidFileNameKeepsTheFirstPage()
    {
        TFixture f;
        auto wizard = f.Wizard();
        for (const std::string& text : {f.Path("out/.zip"), std::string("site.zip"), f.Path("out") + "/", std::string()}) {
            f.messages.clear();
            wizard->edZipFileName->setText(QString::fromStdString(text));
            wizard->btnNext->click();
            QCOMPARE(wizard->PageIndex(), 0);
            QCOMPARE(f.messages,
                     QStringList{"A valid Zip filename is required.\nHint:  Pellix requires the full path and filename."});
        }
    }

    void ActionsFollowTheOpenOrCreateChoice()
    {
        TFixture f;
        const std::string existing = f.Path("old.zip");
        QVERIFY(test::WriteZipFixture(existing, {{"kept.txt", "old"}}));
        auto wizard = f.Wizard();
        f.zipAnswer = {QString::fromStdString(existing)};
        wizard->btnOpen->click();
        for (QRadioButton* button : wizard->rbAction)
            QVERIFY(button->isEnabled());
        wizard->rbAction[2]->setChecked(true);
        wizard->btnCreate->click();
        QVERIFY(wizard->rbAction[0]->isChecked());
        QVERIFY(!wizard->rbAction[1]->isEnabled());
        QVERIFY(!wizard->rbAction[2]->isEnabled());
        // Chosen in the create dialog, but the wizard is cancelled: the file is untouched.
        wizard->reject();
        QCOMPARE(test::ZipEntryNames(existing), std::set<std::string>{"kept.txt"});
    }

    void DroppedFilesAndFolders()
    {
        TFixture f;
        TZipWizardPreset preset;
        preset.droppedFiles = {f.Path("src/sub"), f.Path("src/a.txt"), f.Path("src/a.txt")};
        auto wizard = f.Wizard(preset);
        QCOMPARE(wizard->windowTitle(), QString("File Zip Wizard - 3 files dropped."));
        QCOMPARE(wizard->lvFiles->topLevelItemCount(), 2);
        QTreeWidgetItem* folder = wizard->lvFiles->topLevelItem(1);
        QCOMPARE(folder->text(0), QString());
        QCOMPARE(folder->text(1), QString::fromStdString(f.Path("src/sub")));
        QCOMPARE(wizard->lvFiles->topLevelItem(0)->text(0), QString("a.txt"));
        QVERIFY(!wizard->cbRecurse->isHidden());
        QVERIFY(wizard->cbRecurse->isChecked());
        folder->setSelected(true);
        wizard->btnRemove->click();
        QCOMPARE(wizard->lvFiles->topLevelItemCount(), 1);
        QVERIFY(wizard->cbRecurse->isHidden());
        TZipWizardPreset one;
        one.droppedFiles = {f.Path("src/a.txt")};
        QCOMPARE(f.Wizard(one)->windowTitle(), QString("File Zip Wizard - 1 file dropped."));
    }

    void FileZipCommandCreatesReplacesAndAdds()
    {
        TFixture f;
        const std::string zipPath = f.Path("site.zip");
        QVERIFY(test::WriteZipFixture(zipPath, {{"gone.txt", "old"}}));
        TZipArchive archive;
        // New Zip over an existing file, confirmed in the create dialog: it holds only the new files.
        test::WhenModal<TwizFileZip>([&](TwizFileZip* wizard) {
            wizard->SetPathPrompt([&](TwizFileZip::TPrompt prompt, const QString&) {
                return prompt == TwizFileZip::TPrompt::AddFiles ? QStringList{QString::fromStdString(f.Path("src/sub"))}
                                                                 : QStringList{QString::fromStdString(zipPath)};
            });
            wizard->btnCreate->click();
            wizard->btnNext->click();
            wizard->btnAdd->click();
            wizard->btnNext->click();
            wizard->btnNext->click();
        });
        TZipWizardJobResult result = TZipDialogCommands::FileZip(nullptr, f.app, archive, {}, f.Collector());
        QVERIFY(result.zip != nullptr);
        QCOMPARE(f.messages, QStringList());
        QCOMPARE(test::ZipEntryNames(zipPath), std::set<std::string>{"b.txt"});
        // Add to it, preset as the zip manager's Add does.
        test::WhenModal<TwizFileZip>([&](TwizFileZip* wizard) {
            QCOMPARE(wizard->edZipFileName->text(), QString::fromStdString(zipPath));
            QVERIFY(wizard->rbAction[1]->isEnabled());
            wizard->AddFiles({f.Path("src/a.txt")});
            for (int i = 0; i < 3; ++i)
                wizard->btnNext->click();
        });
        result = TZipDialogCommands::FileZip(nullptr, f.app, archive, {zipPath, true, {}}, f.Collector());
        QVERIFY(result.opened);
        QCOMPARE(test::ZipEntryNames(zipPath), (std::set<std::string>{"a.txt", "b.txt"}));
        QVERIFY(test::UnzipTest(zipPath));
    }

    void FileZipCommandOnAFileThatIsNotAZip()
    {
        TFixture f;
        const std::string fake = f.Path("fake.zip");
        test::WriteText(fake, "plain text");
        TZipArchive archive;
        test::WhenModal<TwizFileZip>([&](TwizFileZip* wizard) {
            wizard->AddFiles({f.Path("src/a.txt")});
            for (int i = 0; i < 3; ++i)
                wizard->btnNext->click();
        });
        TZipWizardJobResult result = TZipDialogCommands::FileZip(nullptr, f.app, archive, {fake, true, {}}, f.Collector());
        QVERIFY(result.zip == nullptr);
        QCOMPARE(f.messages, QStringList{"The archive file is corrupted. Try using the Fix option on it."});
        QCOMPARE(ReadAll(fake), std::string("plain text"));
    }
};

QTEST_MAIN(TZipWizardTest)
#include "zip_wizard_test.moc"
