// The unzip dialog: what it proposes and stores, the empty destination, and the whole Unzip
// command on small archives: the files against the Zip, hostile entry names, a file that is not a
// Zip, and the replace prompt.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/support/modal_driver.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "tests/support/zip_fixture.h"
#include "workspace/app_settings.h"
#include "workspace/ui/unzip_dialog.h"
#include "workspace/ui/zip_commands.h"

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

std::set<std::string> FilesBelow(const fs::path& folder)
{
    std::set<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file())
            files.insert(it->path().lexically_relative(folder).generic_string());
    return files;
}

const test::TZipFixtureEntries kSite = {{"index.htm", "<html>home</html>"}, {"img/a.gif", "GIF89a"}, {"css/s.css", "b{}"}};

struct TFixture {
    TFixture() : app(test::UserHomeAppPaths(temp.Path())) { out = temp.Path() / "out"; }
    TMessageHandler Collector(QMessageBox::StandardButton answer = QMessageBox::Ok)
    {
        return [this, answer](QWidget*, QMessageBox::Icon, const QString& text, QMessageBox::StandardButtons) {
            messages << text;
            return answer;
        };
    }
    // Confirms the next unzip dialog with folder and the options.
    void Confirm(const fs::path& folder, bool usePaths, bool overwrite)
    {
        test::WhenModal<TFormExtract>([=](TFormExtract* dialog) {
            dialog->edUnzipTo->setText(QString::fromStdString(folder.string()));
            dialog->cbUsePaths->setChecked(usePaths);
            dialog->cbOverwrite->setChecked(overwrite);
            dialog->btnUnzip->click();
        });
    }

    test::TTempFolder temp;
    TPXApp app;
    fs::path out;
    QStringList messages;
};

} // namespace

class TUnzipDialogTest : public QObject {
    Q_OBJECT
private slots:
    void ProposesAndStores()
    {
        TFixture f;
        {
            TFormExtract dialog(f.app, false);
            QCOMPARE(dialog.windowTitle(), QString("Unzip"));
            QVERIFY(dialog.rbSelectedFiles->isChecked());
            QVERIFY(!dialog.cbUsePaths->isChecked());
            QVERIFY(!dialog.cbOverwrite->isChecked());
            QCOMPARE(dialog.edUnzipTo->text(), QString());
            QVERIFY(!dialog.btnUnzip->isEnabled());  // nothing to unzip to
            dialog.edUnzipTo->setText("   ");
            QVERIFY(!dialog.btnUnzip->isEnabled());
            dialog.edUnzipTo->setText(QString::fromStdString(f.out.string()));
            QVERIFY(dialog.btnUnzip->isEnabled());
            dialog.cbUsePaths->setChecked(true);
            dialog.btnUnzip->click();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(dialog.Choice()->folder, f.out.string());
            QVERIFY(!dialog.Choice()->allFiles);
        }
        QVERIFY(f.app.ExtractUsePaths());
        QCOMPARE(f.app.UnzipFolder(), std::string());  // "Last Unzip Folder" is off
        f.app.SetLastUnzipFolder(true);
        fs::create_directories(f.out);
        {
            TFormExtract dialog(f.app, true);
            QVERIFY(dialog.rbAllFiles->isChecked());
            QVERIFY(dialog.cbUsePaths->isChecked());
            dialog.edUnzipTo->setText(QString::fromStdString(f.out.string()));
            dialog.btnUnzip->click();
        }
        TFormExtract next(f.app, true);
        QCOMPARE(next.edUnzipTo->text(), QString::fromStdString(f.out.string()));
        // Cancel stores nothing.
        next.cbUsePaths->setChecked(false);
        next.btnCancel->click();
        QVERIFY(!next.Choice());
        QVERIFY(f.app.ExtractUsePaths());
    }

    void UnzipCommandWritesTheZipsFiles()
    {
        TFixture f;
        const std::string zipPath = (f.temp.Path() / "site.zip").string();
        QVERIFY(test::WriteZipFixture(zipPath, kSite));
        TZipArchive archive;
        TZipObj* zip = archive.Open(zipPath).zip;
        QVERIFY(zip != nullptr);
        f.Confirm(f.out, true, false);
        QVERIFY(TZipDialogCommands::Unzip(nullptr, f.app, archive, *zip, true, {}, f.Collector()));
        QCOMPARE(f.messages, QStringList());
        QCOMPARE(FilesBelow(f.out), (std::set<std::string>{"index.htm", "img/a.gif", "css/s.css"}));
        for (const auto& [name, data] : kSite)
            QCOMPARE(ReadAll(f.out / name), data);
        // Selected files without path names.
        const fs::path flat = f.temp.Path() / "flat";
        f.Confirm(flat, false, false);
        QVERIFY(TZipDialogCommands::Unzip(nullptr, f.app, archive, *zip, false, {"img/*.*"}, f.Collector()));
        QCOMPARE(FilesBelow(flat), std::set<std::string>{"a.gif"});
        // A cancelled dialog extracts nothing.
        test::WhenModal<TFormExtract>([](TFormExtract* dialog) { dialog->btnCancel->click(); });
        QVERIFY(!TZipDialogCommands::Unzip(nullptr, f.app, archive, *zip, true, {}, f.Collector()));
    }

    void HostileEntryNamesAreRefusedAndNamed()
    {
        TFixture f;
        const std::string zipPath = (f.temp.Path() / "evil.zip").string();
        QVERIFY(test::WriteZipFixture(zipPath, {{"good.txt", "ok"}, {"../escape.txt", "x"}, {"/tmp/pellix-abs.txt", "x"}}));
        TZipArchive archive;
        TZipObj* zip = archive.Open(zipPath).zip;
        QVERIFY(zip != nullptr);
        f.Confirm(f.out, true, true);
        TZipDialogCommands::Unzip(nullptr, f.app, archive, *zip, true, {}, f.Collector());
        QCOMPARE(f.messages.size(), 1);
        QVERIFY(f.messages[0].startsWith("Some files were skipped while extracting."));
        QVERIFY(f.messages[0].contains("../escape.txt"));
        QVERIFY(f.messages[0].contains("/tmp/pellix-abs.txt"));
        QCOMPARE(FilesBelow(f.out), std::set<std::string>{"good.txt"});
        QVERIFY(!fs::exists(f.temp.Path() / "escape.txt"));
        QVERIFY(!fs::exists("/tmp/pellix-abs.txt"));
    }

    void NotAZipWritesNothing()
    {
        TFixture f;
        const std::string fake = (f.temp.Path() / "fake.zip").string();
        test::WriteText(fake, "<html>this is not an archive</html>");
        TZipArchive archive;
        TZipObj& zip = archive.CreateNode(fake);
        f.Confirm(f.out, true, true);
        TZipDialogCommands::Unzip(nullptr, f.app, archive, zip, true, {}, f.Collector());
        QCOMPARE(f.messages, QStringList{"The archive file is corrupted. Try using the Fix option on it."});
        QVERIFY(!fs::exists(f.out));
    }

    void ReplacePromptDecides()
    {
        for (const auto& [answer, expected] : std::vector<std::pair<QMessageBox::StandardButton, std::string>>{
                 {QMessageBox::No, "mine"}, {QMessageBox::Yes, "<html>home</html>"},
                 {QMessageBox::YesToAll, "<html>home</html>"}}) {
            TFixture f;
            const std::string zipPath = (f.temp.Path() / "site.zip").string();
            QVERIFY(test::WriteZipFixture(zipPath, kSite));
            test::WriteText(f.out / "index.htm", "mine");
            TZipArchive archive;
            TZipObj* zip = archive.Open(zipPath).zip;
            f.Confirm(f.out, true, false);
            TZipDialogCommands::Unzip(nullptr, f.app, archive, *zip, true, {}, f.Collector(answer));
            QCOMPARE(f.messages.size(), 1);
            QCOMPARE(f.messages[0], QString::fromStdString("Replace File : " + (f.out / "index.htm").string() +
                                                           "\nWith File: "));
            QCOMPARE(ReadAll(f.out / "index.htm"), expected);
            QCOMPARE(ReadAll(f.out / "img/a.gif"), std::string("GIF89a"));
        }
    }
};

QTEST_MAIN(TUnzipDialogTest)
#include "unzip_dialog_test.moc"
