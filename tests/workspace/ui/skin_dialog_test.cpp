// The skin dialog: the current skin selected, each click stored and applied, Cancel going back.
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <filesystem>

#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "workspace/app_settings.h"
#include "workspace/ui/skin_dialog.h"

using namespace pellix;
namespace fs = std::filesystem;

class TdlgSelectSkinTest : public QObject {
    Q_OBJECT
private slots:
    void ChooseKeepOrCancel_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("OK keeps the choice") << false;
        QTest::newRow("Cancel restores") << true;
    }
    void ChooseKeepOrCancel()
    {
        QFETCH(bool, cancel);
        test::TTempFolder folder;
        TPXApp app(test::TestAppPaths(folder.Path()));
        for (const char* skin : {"Default", "Night", "Paper"})
            fs::create_directories(fs::path(app.ProgramFolder()) / "Skins" / skin);
        app.SetSkin("Night");
        std::vector<std::string> applied;
        TdlgSelectSkin dialog(app, [&] { applied.push_back(app.Skin()); });
        QCOMPARE(dialog.windowTitle(), QString("Select Skin"));
        QCOMPARE(dialog.palette().color(QPalette::Window), QColor::fromRgb(app.Colours().main));
        QCOMPARE(dialog.lbSkins->count(), 3);
        QCOMPARE(dialog.lbSkins->currentItem()->text(), QString("Night"));
        QVERIFY(applied.empty()); // opening applies nothing
        dialog.show();

        dialog.lbSkins->setCurrentRow(2);
        QCOMPARE(app.Skin(), std::string("Paper"));
        QCOMPARE(TPXApp(test::TestAppPaths(folder.Path())).Skin(), std::string("Paper")); // stored at once
        dialog.lbSkins->setCurrentRow(0);
        QCOMPARE(applied, (std::vector<std::string>{"Paper", "Default"}));

        (cancel ? dialog.btnCancel : dialog.btnOK)->click();
        QCOMPARE(app.Skin(), std::string(cancel ? "Night" : "Default"));
        QCOMPARE(applied.back(), std::string(cancel ? "Night" : "Default"));
        QCOMPARE(dialog.result(), int(cancel ? QDialog::Rejected : QDialog::Accepted));
    }
};

QTEST_MAIN(TdlgSelectSkinTest)
#include "skin_dialog_test.moc"
