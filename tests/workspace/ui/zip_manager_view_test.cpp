// The zip tree, the zip file list and the page tree on small archives: opening, listing, icons,
// deleting, adding through the wizard, extracting hostile names, a file that is no Zip, and a
// running task's Zip kept from changes.
#include <QApplication>
#include <QHBoxLayout>
#include <QMimeData>
#include <QUrl>
#include <QTest>
#include <QTreeView>

#include <filesystem>
#include <fstream>

#include "engine/task.h"
#include "tests/support/zip_entries.h"
#include "tests/tasks/ui/ui_session.h"
#include "workspace/ui/zip_icon_cache.h"
#include "workspace/ui/zip_list_model.h"
#include "workspace/ui/zip_manager_view.h"
#include "workspace/ui/zip_page_model.h"
#include "workspace/ui/zip_tree_model.h"

using namespace pellix;
namespace fs = std::filesystem;

namespace {

void WriteText(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

struct TViewFixture {
    TViewFixture()
    {
        host.resize(900, 500);
        auto* row = new QHBoxLayout(&host);
        zipTree = new QTreeView(&host);
        pageTree = new QTreeView(&host);
        view = new TZipManagerView(ui.Session(), zipTree, pageTree, &host);
        row->addWidget(zipTree);
        row->addWidget(pageTree);
        row->addWidget(view, 1);
        view->Message = [this](TRunnerMessageKind, const QString& text) { messages << text; };
        view->Confirm = [this](const QString&, const QString& question) {
            questions << question;
            return true;
        };
        host.show();
        host.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&host));
    }

    // A Zip of files below src/, with their paths.
    std::string MakeZip(const std::string& name, const std::vector<std::pair<std::string, std::string>>& files)
    {
        const fs::path src = fs::path(ui.Folder()) / ("src-" + name);
        std::vector<std::string> names;
        for (const auto& [file, text] : files) {
            WriteText(src / file, text);
            names.push_back(file);
        }
        const std::string zip = ui.Folder() + name;
        TZipEngine engine;
        engine.SetZipFileName(zip);
        engine.SetBaseDirectory(src.string());
        engine.SetFilesToProcess(names);
        // A failed fixture shows as a Zip that does not open.
        return engine.Add(kZipAddReplace) == kZipOk ? zip : std::string();
    }

    bool Open(const std::string& zip)
    {
        view->OpenZip(QString::fromStdString(zip));
        return QTest::qWaitFor([&] { return !view->Manager().Busy() && view->TreeModel().FindTree(zip); });
    }

    bool Idle()
    {
        return QTest::qWaitFor([&] { return !view->Manager().Busy(); });
    }

    test::TUiSession ui;
    QWidget host;
    QTreeView* zipTree = nullptr;
    QTreeView* pageTree = nullptr;
    TZipManagerView* view = nullptr;
    QStringList messages;
    QStringList questions;
};

const std::vector<std::pair<std::string, std::string>> kSite = {
    {"site/index.htm", "<html>home</html>"},
    {"site/about.html", "<html>about</html>"},
    {"site/img/logo.gif", "GIF89a"},
    {"site/img/photo.GIF", "GIF89a"},
    {"README", "plain"},
};

} // namespace

class TZipManagerViewTest : public QObject {
    Q_OBJECT
private slots:
    void OpeningFillsTheTreeTheListAndThePages()
    {
        TViewFixture f;
        const std::string zip = f.MakeZip("site.zip", kSite);
        QVERIFY(f.Open(zip));
        TZipTreeModel& tree = f.view->TreeModel();
        QCOMPARE(tree.rowCount(), 1);
        const QModelIndex root = tree.index(0, 0);
        QCOMPARE(tree.data(root, Qt::DisplayRole).toString(), QString("site.zip"));
        QCOMPARE(tree.rowCount(root), 2);  // site/ and README
        QCOMPARE(f.zipTree->currentIndex(), root);
        QCOMPARE(f.view->ListModel().rowCount(), 5);
        QVERIFY(f.view->TotalsText().startsWith("Total: 5 files  "));
        QCOMPARE(f.view->PageModel().rowCount(), 2);  // the two pages, not the images

        // A folder lists what lies below it.
        f.view->SelectNode(zip, "site/img/");
        QCOMPARE(f.view->ListModel().rowCount(), 2);
        QCOMPARE(f.view->ListModel().data(f.view->ListModel().index(0, TZipListModel::Path), Qt::DisplayRole).toString(),
                 QString("site/img/"));
        QCOMPARE(f.view->ListModel().data(f.view->ListModel().index(0, TZipListModel::Ratio), Qt::DisplayRole)
                     .toString()
                     .right(1),
                 QString("%"));

        // While another Zip opens, the selection stays where it is.
        const std::string other = f.MakeZip("other.zip", {{"x.txt", "x"}});
        f.view->OpenZip(QString::fromStdString(other));
        QVERIFY(f.view->Manager().Busy());
        QVERIFY(!f.view->SelectNode(zip, "README"));
        QVERIFY(f.Idle());
        QCOMPARE(tree.rowCount(), 2);
        QVERIFY(f.view->SelectNode(zip, "README"));

        // Opening it again selects it; nothing is listed twice.
        f.view->OpenZip(QString::fromStdString(zip));
        QCOMPARE(tree.rowCount(), 2);
        QCOMPARE(f.zipTree->currentIndex(), root);
        QVERIFY(f.messages.isEmpty());
    }

    void IconsAreLookedUpOncePerExtensionWhateverItsCase()
    {
        TViewFixture f;
        QVERIFY(f.Open(f.MakeZip("site.zip", kSite)));
        TZipListModel& list = f.view->ListModel();
        for (int pass = 0; pass < 3; ++pass)
            for (int r = 0; r < list.rowCount(); ++r)
                QVERIFY(!list.data(list.index(r, 0), Qt::DecorationRole).value<QIcon>().isNull());
        // htm, html, gif (= GIF), none (the folder icon, also the tree's folders), zip (the root).
        QCOMPARE(f.view->Icons().Lookups(), 5);
    }

    void SortingByAColumnTogglesItsDirection()
    {
        TViewFixture f;
        QVERIFY(f.Open(f.MakeZip("site.zip", {{"a.txt", "xx"}, {"b.txt", "x"}, {"c.txt", "xxx"}})));
        TZipListModel& list = f.view->ListModel();
        const auto names = [&] {
            QStringList n;
            for (int r = 0; r < list.rowCount(); ++r)
                n << list.data(list.index(r, TZipListModel::Name), Qt::DisplayRole).toString();
            return n;
        };
        f.view->List()->sortByColumn(TZipListModel::Size, Qt::AscendingOrder);
        QCOMPARE(names(), (QStringList{"b.txt", "a.txt", "c.txt"}));
        f.view->List()->sortByColumn(TZipListModel::Size, Qt::DescendingOrder);
        QCOMPARE(names(), (QStringList{"c.txt", "a.txt", "b.txt"}));
    }

    void AFileThatIsNoZipIsSaidSoAndNothingIsWritten()
    {
        TViewFixture f;
        const fs::path file = fs::path(f.ui.Folder()) / "fake.zip";
        WriteText(file, "not an archive at all");
        const auto size = fs::file_size(file);
        const auto time = fs::last_write_time(file);
        f.view->OpenZip(QString::fromStdString(file.string()));
        QTRY_COMPARE(f.messages.size(), 1);
        QCOMPARE(f.messages[0], QString::fromStdString(file.string() + " is not a Zip file, or it is damaged."));
        QVERIFY(f.Idle());
        QCOMPARE(f.view->TreeModel().rowCount(), 0);
        QCOMPARE(fs::file_size(file), size);
        QCOMPARE(fs::last_write_time(file), time);
    }

    void DeletingTheLastFilesOfAFolderRemovesItButNeverTheRoot()
    {
        TViewFixture f;
        const std::string zip = f.MakeZip("site.zip", kSite);
        QVERIFY(f.Open(zip));
        // From the list, with its focus: no question, every selected row.
        f.view->SelectNode(zip, "site/img/");
        f.view->List()->setFocus();
        f.view->List()->selectAll();
        QCOMPARE(f.view->SelectionText().left(16), QString("Selected 2 files"));
        f.view->DeleteSelection();
        QVERIFY(f.Idle());
        TZipTree* tree = f.view->TreeModel().FindTree(zip);
        QVERIFY(!tree->FindFolder("site/img/"));
        QVERIFY(tree->FindFolder("site/"));
        QVERIFY(f.questions.isEmpty());
        QCOMPARE(test::ZipEntryNames(zip), (std::set<std::string>{"site/index.htm", "site/about.html", "README"}));

        // From the tree: asked first; the last files of site/ take the folder, the root stays.
        for (const char* entry : {"site/index.htm", "site/about.html"}) {
            QVERIFY(f.view->SelectNode(zip, entry));
            f.zipTree->setFocus();
            f.view->DeleteSelection();
            QVERIFY(f.Idle());
        }
        QCOMPARE(f.questions.first(), QString("Are you sure you want to delete index.htm?"));
        QVERIFY(!tree->FindFolder("site/"));
        QCOMPARE(f.view->TreeModel().rowCount(f.view->TreeModel().index(0, 0)), 1);  // README
        QCOMPARE(f.view->ListModel().rowCount(), 1);
    }

    void TheWizardsFilesArriveInTheTreeAndTheList()
    {
        TViewFixture f;
        const std::string zip = f.MakeZip("site.zip", {{"a.txt", "a"}});
        QVERIFY(f.Open(zip));
        const fs::path added = fs::path(f.ui.Folder()) / "more" / "b.txt";
        WriteText(added, "b");
        TZipWizardPreset seen;
        f.view->RunWizard = [&](const TZipWizardPreset& preset) -> std::optional<TZipWizardChoice> {
            seen = preset;
            TZipWizardChoice choice;
            choice.zipPath = preset.zipPath;
            choice.openExisting = true;
            choice.files = preset.droppedFiles;
            return choice;
        };
        // Dropped onto the list: local files go to the wizard, other addresses are not taken.
        QMimeData remote;
        remote.setUrls({QUrl("http://example.org/x.htm")});
        QVERIFY(!f.view->ListModel().canDropMimeData(&remote, Qt::CopyAction, -1, -1, {}));
        QMimeData drop;
        drop.setUrls({QUrl::fromLocalFile(QString::fromStdString(added.string()))});
        QVERIFY(f.view->ListModel().dropMimeData(&drop, Qt::CopyAction, -1, -1, {}));
        QVERIFY(f.Idle());
        QCOMPARE(seen.zipPath, zip);
        QVERIFY(seen.openExisting);
        QCOMPARE(test::ZipEntryNames(zip), (std::set<std::string>{"a.txt", "b.txt"}));
        QVERIFY(f.view->TreeModel().FindTree(zip)->FindEntry("b.txt"));
        QCOMPARE(f.view->ListModel().rowCount(), 2);
    }

    void HostileEntryNamesAreRefusedWithTheMessageInTheWindow()
    {
        TViewFixture f;
        const fs::path src = fs::path(f.ui.Folder()) / "evil";
        WriteText(src / "good.txt", "good");
        const std::string zip = f.ui.Folder() + "evil.zip";
        QCOMPARE(std::system(("cd '" + src.string() + "' && zip -q '" + zip +
                              "' good.txt && printf '@ good.txt\\n@=../../bad.txt\\n' | zipnote -w '" + zip +
                              "' && zip -q '" + zip + "' good.txt")
                                 .c_str()),
                 0);
        QVERIFY(f.Open(zip));
        const std::string out = f.ui.Folder() + "out/deep/";
        f.view->RunUnzip = [&](bool allFiles) -> std::optional<TUnzipChoice> {
            TUnzipChoice choice;
            choice.folder = out;
            choice.allFiles = allFiles;
            choice.overwrite = true;
            return choice;
        };
        f.zipTree->setFocus();
        f.view->Unzip();
        QVERIFY(f.Idle());
        QCOMPARE(f.messages.size(), 1);
        QVERIFY(f.messages[0].contains("Some files were skipped while extracting."));
        QVERIFY(f.messages[0].contains("../../bad.txt"));
        QVERIFY(fs::exists(out + "good.txt"));
        QVERIFY(!fs::exists(f.ui.Folder() + "out/bad.txt"));
        QVERIFY(!fs::exists(f.ui.Folder() + "bad.txt"));
    }

    void EntriesATaskPacksAppearAfterEachTick()
    {
        TViewFixture f;
        const std::string zip = f.MakeZip("site.zip", {{"site/index.htm", "<p>"}});
        QVERIFY(f.Open(zip));
        f.view->SelectNode(zip, "site/");
        TPXTask task;
        task.SetDestination(zip);
        for (int tick = 1; tick <= 2; ++tick) {
            // What the packing thread does, then the event it sends from the owner thread.
            const fs::path src = fs::path(f.ui.Folder()) / "work";
            const std::string name = "site/page" + std::to_string(tick) + ".htm";
            WriteText(src / name, "<p>page</p>");
            TZipEngine engine;
            engine.SetZipFileName(zip);
            engine.SetBaseDirectory(src.string());
            engine.SetFilesToProcess({name});
            QCOMPARE(engine.Add(kZipAddReplace), kZipOk);
            f.ui.Session().Events().ZipPacked(task, 1);
            QTRY_COMPARE(f.view->ListModel().rowCount(), 1 + tick);
            QVERIFY(f.view->TreeModel().FindTree(zip)->FindEntry(name));
        }
        QCOMPARE(f.view->PageModel().rowCount(), 3);
    }

    void BrowsingAPageExtractsTheWholeZipOnce()
    {
        TViewFixture f;
        const std::string zip = f.MakeZip("site.zip", kSite);
        QVERIFY(f.Open(zip));
        std::vector<std::pair<TBrowseWith, std::string>> launched;
        f.view->Launch = [&](TBrowseWith with, const std::string& file) {
            launched.emplace_back(with, file);
            return true;
        };
        const std::string folder = f.view->BrowseFolder(zip);
        QVERIFY(f.view->SelectNode(zip, "site/index.htm"));
        f.zipTree->setFocus();
        f.view->Browse(TBrowseWith::FirstBrowser);
        QTRY_COMPARE(launched.size(), std::size_t(1));
        QCOMPARE(launched[0].second, folder + "site/index.htm");
        QVERIFY(fs::exists(folder + "site/img/logo.gif"));  // the page finds its images
        fs::remove(folder + "site/img/logo.gif");

        QVERIFY(f.view->SelectNode(zip, "site/about.html"));
        f.zipTree->setFocus();
        f.view->Browse(TBrowseWith::SecondBrowser);
        QTRY_COMPARE(launched.size(), std::size_t(2));
        QVERIFY(!fs::exists(folder + "site/img/logo.gif"));  // not extracted again

        // Not a page: that entry alone, for the text editor too.
        QVERIFY(f.view->SelectNode(zip, "README"));
        f.zipTree->setFocus();
        f.view->Browse(TBrowseWith::TextEditor);
        QTRY_COMPARE(launched.size(), std::size_t(3));
        QCOMPARE(launched[2], std::make_pair(TBrowseWith::TextEditor, folder + "README"));
        QVERIFY(f.messages.isEmpty());
    }

    void TheRunningTasksZipRefusesEveryChange()
    {
        TViewFixture f;
        const std::string zip = f.MakeZip("site.zip", kSite);
        QVERIFY(f.Open(zip));
        const auto before = test::StoredZipEntries(zip);
        f.view->Manager().SetTaskZip([&] { return zip; });
        bool wizard = false;
        f.view->RunWizard = [&](const TZipWizardPreset&) -> std::optional<TZipWizardChoice> {
            wizard = true;
            return std::nullopt;
        };
        f.view->SelectNode(zip, "site/index.htm");
        f.zipTree->setFocus();
        const TZipCommands commands = f.view->Commands(true, true);
        QVERIFY(!commands.add && !commands.del && !commands.rename);
        QVERIFY(commands.unzip && commands.browse);
        // Keys and drops reach the commands whatever the menus say: each refuses with the reason.
        f.view->DeleteSelection();
        f.view->AddFiles({QString::fromStdString(f.ui.Folder() + "x.txt")});
        f.view->Rename();
        f.view->SelectNode(zip);
        f.view->DeleteSelection();  // the Zip file itself to the trash
        QCOMPARE(f.messages.size(), 4);
        for (const QString& m : f.messages)
            QVERIFY(m.contains("is being written by the running task"));
        QVERIFY(!wizard);
        QVERIFY(f.questions.isEmpty());
        QVERIFY(fs::exists(zip));
        QVERIFY(test::StoredZipEntries(zip) == before);
    }
};

QTEST_MAIN(TZipManagerViewTest)
#include "zip_manager_view_test.moc"
