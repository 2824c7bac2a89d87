// The main window: menu enabling, recent lists in the menus, view switching, the command line
// and creating a task from the clipboard.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QEventLoop>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

#include "engine/task.h"
#include "tests/support/modal_driver.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zip_fixture.h"
#include "tests/support/test_app.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"
#include "tasks/ui/task_list_view.h"
#include "tasks/ui/options_dialog.h"
#include "workspace/ui/form_pellix.h"
#include "workspace/drop_decision.h"
#include "workspace/ui/drop_bar.h"
#include "workspace/ui/unzip_dialog.h"
#include "workspace/ui/qt_owner_thread.h"

using namespace pellix;
namespace fs = std::filesystem;

namespace {

// A window over a session in a fresh home; messages are collected, not shown.
struct TWindowFixture {
    explicit TWindowFixture(const std::function<void(TPXApp&)>& prepare = {})
    {
        const TAppPaths paths = test::UserHomeAppPaths(temp.Path());
        app = std::make_unique<TPXApp>(paths);
        if (prepare)
            prepare(*app);
        owner = std::make_unique<TQtOwnerThread>();
        session = std::make_unique<TSession>(*app, *owner);
        window = std::make_unique<TFormPellix>(*session);
        window->SetMessageSink([this](TRunnerMessageKind, const QString& text) { messages << text; });
        window->SetBrowserLookup([] { return std::make_pair(true, false); });
        window->TaskList()->SetError([this](const QString& text) { messages << text; });
        window->TaskList()->SetInform([this](const QString& text) { messages << text; });
        window->show();
        window->Activate();
    }
    ~TWindowFixture()
    {
        window.reset();
        owner->RunElsewhere([&] { session.reset(); });
        owner->Stop();
    }

    QPushButton* Link(const char* name) { return window->findChild<QPushButton*>(name); }

    pellix::test::TTempFolder temp;
    std::unique_ptr<TPXApp> app;
    std::unique_ptr<TQtOwnerThread> owner;
    std::unique_ptr<TSession> session;
    std::unique_ptr<TFormPellix> window;
    QStringList messages;
};

} // namespace

class TFormPellixTest : public QObject {
    Q_OBJECT
private slots:
    void CaptionMinimumSizeAndStoredPlace()
    {
        TWindowFixture f([](TPXApp& app) { app.SetWindowPosition({30, 40, 700, 500}); });
        QCOMPARE(f.window->windowTitle(), QString("Pellix 2.50"));
        QCOMPARE(f.window->minimumSize(), QSize(540, 400));
        QCOMPARE(f.window->size(), QSize(700, 500));
        f.window->resize(800, 600);
        f.window->close();
        const TWindowPosition stored = f.app->WindowPosition();
        QCOMPARE(stored.width, 800);
        QCOMPARE(stored.height, 600);
    }

    void MenuEnablingFollowsFocusSelectionAndClipboard_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("select");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<bool>("cut");
        QTest::addColumn<bool>("paste");
        QTest::addColumn<bool>("undo");
        QTest::newRow("address box, selection, clipboard") << "address" << "http://a/" << true << "x" << true << true << true;
        QTest::newRow("address box, no selection, empty clipboard") << "address" << "http://a/" << false << "" << false << false << true;
        QTest::newRow("address box untouched") << "address" << "" << false << "x" << false << true << false;
        QTest::newRow("zip tree: edit items off") << "zipTree" << "http://a/" << true << "x" << false << false << false;
    }
    void MenuEnablingFollowsFocusSelectionAndClipboard()
    {
        QFETCH(QString, focus);
        QFETCH(QString, text);
        QFETCH(bool, select);
        QFETCH(QString, clipboard);
        QFETCH(bool, cut);
        QFETCH(bool, paste);
        QFETCH(bool, undo);
        TWindowFixture f;
        QApplication::clipboard()->setText(clipboard);
        QLineEdit* edit = f.window->AddressBox()->lineEdit();
        f.window->activateWindow();
        QTRY_VERIFY(f.window->isActiveWindow());
        edit->setFocus();
        if (!text.isEmpty())
            QTest::keyClicks(edit, text);
        if (select)
            edit->selectAll();
        if (focus == "zipTree") {
            f.window->SwitchView(TView::ZipProperties);
            f.window->findChild<QWidget*>("tvZip")->setFocus();
            QTRY_COMPARE(QApplication::focusWidget(), f.window->findChild<QWidget*>("tvZip"));
        }
        QTRY_VERIFY(QApplication::focusWidget() != nullptr);
        f.window->ApplyEnabling();
        QCOMPARE(f.window->Action("editCut")->isEnabled(), cut);
        QCOMPARE(f.window->Action("editCopy")->isEnabled(), cut);
        QCOMPARE(f.window->Action("editPaste")->isEnabled(), paste);
        QCOMPARE(f.window->Action("editUndo")->isEnabled(), undo);
        // No Zip file is selected: the zip commands stay off wherever the focus is.
        for (const char* name : {"fileClose", "zipClose", "zipAdd", "zipDelete", "zipUnzip", "zipRename"})
            QVERIFY2(!f.window->Action(name)->isEnabled(), name);
        QVERIFY(!f.window->Menu("zipBrowse")->isEnabled());
        // Browsers: the lookup said the first is installed, the second not.
        QVERIFY(!f.window->Action("zipBrowseSecond")->isEnabled());
    }

    void RecentZipsAreTheReopenMenuAndAMissingOneIsDropped()
    {
        TWindowFixture empty;
        QVERIFY(!empty.window->Menu("fileReopen")->menuAction()->isVisible());

        fs::path existing;
        TWindowFixture f([&](TPXApp& app) {
            existing = fs::path(app.ProgramFolder()) / "here.zip";
            std::ofstream(existing) << "PK";
            app.SaveRecentItems(kRecentZipFilesKey, {existing.string(), "/nowhere/gone.zip"});
        });
        QMenu* reopen = f.window->Menu("fileReopen");
        QVERIFY(reopen->menuAction()->isVisible());
        const QList<QAction*> entries = reopen->actions();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0]->text(), "&1 " + QString::fromStdString(existing.string()));
        QCOMPARE(entries[1]->text(), QString("&2 /nowhere/gone.zip"));

        entries[1]->trigger();
        QCOMPARE(f.messages, QStringList{"The file /nowhere/gone.zip no longer exists."});
        QCOMPARE(f.app->RecentItems(kRecentZipFilesKey), std::vector<std::string>{existing.string()});
        QTRY_COMPARE(reopen->actions().size(), 1);
    }

    void RecentURLsFillTheAddressBoxMostRecentFirst()
    {
        TWindowFixture f([](TPXApp& app) { app.SaveRecentItems(kRecentURLsKey, {"http://b/", "http://a/"}); });
        QComboBox* box = f.window->AddressBox();
        QCOMPARE(box->count(), 2);
        QCOMPARE(box->itemText(0), QString("http://b/"));
        QCOMPARE(box->itemText(1), QString("http://a/"));
        QVERIFY(box->currentText().isEmpty());
    }

    void ViewLinksSetTitleAndLeftPane_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("leftPane");
        QTest::addColumn<QString>("page");
        QTest::newRow("home") << "linkPellixHome" << " Pellix Home" << false << "Pellix Home";
        QTest::newRow("tasks") << "linkTasks" << " Tasks" << false << "Tasks";
        QTest::newRow("explore, no task") << "linkExplore" << " Exploring Task: " << false << "Explore";
        QTest::newRow("connections") << "linkConnections" << " Connections" << false << "Connections";
        QTest::newRow("zip properties") << "linkZipProperties" << " Zip Properties" << true << "Zip Properties";
        QTest::newRow("browse") << "linkBrowse" << " Browse - Zip Files" << true << "Browse";
    }
    void ViewLinksSetTitleAndLeftPane()
    {
        QFETCH(QString, link);
        QFETCH(QString, title);
        QFETCH(bool, leftPane);
        QFETCH(QString, page);
        TWindowFixture f;
        QCOMPARE(f.window->ViewTitleText(), QString(" Pellix Home"));
        QVERIFY(!f.window->LeftPaneShown());
        f.Link(link.toLatin1().constData())->click();
        QCOMPARE(f.window->ViewTitleText(), title);
        QCOMPARE(f.window->LeftPaneShown(), leftPane);
        QCOMPARE(f.window->CurrentPage()->accessibleName(), page);
    }

    void BrowseTwiceTogglesTheLeftPane()
    {
        TWindowFixture f;
        QPushButton* browse = f.Link("linkBrowse");
        QCOMPARE(browse->toolTip(), QString("Click twice to toggle wide-view"));
        browse->click();
        QVERIFY(f.window->LeftPaneShown());
        browse->click();
        QVERIFY(!f.window->LeftPaneShown());
        browse->click();
        QVERIFY(f.window->LeftPaneShown());
        f.Link("linkTasks")->click();
        QVERIFY(!f.window->LeftPaneShown());
    }

    // Without the browser control (none on this platform, whatever the build): the Browse view
    // explains why, each showing of the Home view opens the home page in the default browser, and
    // so does a page of a Zip, unpacked first.
    void WithoutTheBrowserControlBrowseExplainsAndHomeUsesTheDefaultBrowser()
    {
        pellix::test::TTempFolder bin;
        const fs::path opened = bin.Path() / "opened";
        {
            std::ofstream opener(bin.Path() / "xdg-open");
            opener << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << opened.string() << "'\n";
        }
        fs::permissions(bin.Path() / "xdg-open", fs::perms::owner_all);
        const QByteArray path = qgetenv("PATH");
        const QByteArray homePage = qgetenv("PELLIX_HOME_PAGE");
        qputenv("PATH", QByteArray::fromStdString(bin.Path().string()) + ":" + path);
        qputenv("PELLIX_HOME_PAGE", "http://127.0.0.1:9/pellix-home");
        const auto lines = [&] {
            std::ifstream in(opened);
            std::vector<std::string> all;
            for (std::string line; std::getline(in, line);)
                all.push_back(line);
            return all;
        };
        {
            TWindowFixture f;
            f.Link("linkBrowse")->click();
            QVERIFY(!f.window->Browser());
            const QLabel* page = nullptr;
            for (const QLabel* label : f.window->findChildren<QLabel*>())
                if (label->isVisible() && label->text().startsWith("Pellix's internal browser requires"))
                    page = label;
            QVERIFY(page);
            QCOMPARE(page->text(), QString("Pellix's internal browser requires Internet Explorer 3 or above to be installed "
                                           "on your system.  You can however use your default browser to browse a zipped "
                                           "website externally.   Simply right click on a web page and select 'view in -> "
                                           "default browser'."));

            f.Link("linkPellixHome")->click();
            QVERIFY(!f.window->HomeBrowser());
            QTRY_COMPARE(lines().size(), std::size_t(1));
            QCOMPARE(lines().front(), std::string("http://127.0.0.1:9/pellix-home"));
            f.Link("linkTasks")->click();
            f.Link("linkPellixHome")->click();
            QTRY_COMPARE(lines().size(), std::size_t(2));

            // A page of a Zip goes to the default browser from the Zip unpacked for browsing.
            const std::string zipPath = (f.temp.Path() / "site.zip").string();
            QVERIFY(test::WriteZipFixture(zipPath, {{"site/index.htm", "home page"}, {"site/a.gif", "GIF"}}));
            f.window->BrowseZipEntry(QString::fromStdString(zipPath), "site/index.htm");
            QTRY_COMPARE(lines().size(), std::size_t(3));
            const fs::path shown = lines().back();
            QCOMPARE(shown.filename().string(), std::string("index.htm"));
            QVERIFY(shown.string().starts_with(f.app->TempFolder()));
            QVERIFY(fs::exists(shown.parent_path() / "a.gif"));
            std::ifstream unpacked(shown);
            QCOMPARE(std::string(std::istreambuf_iterator<char>(unpacked), {}), std::string("home page"));
            QCOMPARE(f.messages, QStringList());
        }
        qputenv("PATH", path);
        qputenv("PELLIX_HOME_PAGE", homePage);
    }

    void TasksViewFirstWhenSet()
    {
        TWindowFixture f([](TPXApp& app) { app.SetTasksViewFirst(true); });
        f.window->StartUp({});
        QCOMPARE(f.window->ViewTitleText(), QString(" Tasks"));
    }

    // At start the address box has the focus in either first view, so Enter after typing is Go.
    void StartUpFocusesTheAddressBox()
    {
        for (const bool tasksFirst : {false, true}) {
            TWindowFixture f([tasksFirst](TPXApp& app) { app.SetTasksViewFirst(tasksFirst); });
            f.window->StartUp({});
            QCOMPARE(f.window->focusWidget(), static_cast<QWidget*>(f.window->AddressBox()));
        }
    }

    void CommandLineArgumentsWhateverTheirCase()
    {
        TWindowFixture f;
        const QString zip = QString::fromStdString((f.temp.Path() / "Site.ZIP").string());
        // An empty archive: the end record alone.
        std::ofstream(zip.toStdString(), std::ios::binary) << std::string("PK\x05\x06", 4) << std::string(18, '\0');
        QStringList chooser;
        f.window->SetChooserHook([&](const QString& address) -> std::optional<QString> {
            chooser << address;
            return std::nullopt; // cancelled: nothing is created
        });

        f.window->StartUp({zip});
        QTRY_COMPARE(f.window->RecentZips().Items(), std::vector<std::string>{zip.toStdString()});

        f.window->StartUp({"HTTP://example.org/"});
        QTRY_COMPARE(chooser, QStringList{"HTTP://example.org/"});
        QVERIFY(!fs::exists(f.app->TasksFolder() + "General/example.org.pxt"));

        // A handed-over address is not taken; a task file opens the Tasks view.
        f.window->HandleArgument("http://example.org/", false);
        f.window->HandleArgument("/t/site.PXT", false);
        QCOMPARE(f.window->ViewTitleText(), QString(" Tasks"));
        QTRY_COMPARE(f.messages.size(), 1); // the task list says the task file is missing
        QCOMPARE(chooser.size(), 1);
    }

    void PasteURLCreatesATaskThroughTheEditor()
    {
        TWindowFixture f;
        std::shared_ptr<TPXTask> edited;
        f.window->SetEditorHook([&](const std::shared_ptr<TPXTask>& task) {
            edited = task;
            return true;
        });
        QApplication::clipboard()->setText("  127.0.0.1:8/docs/  ");
        f.window->Action("editPasteURL")->trigger();
        QVERIFY(edited);
        QCOMPARE(edited->Status(), int(kStatusScheduled));
        QVERIFY(fs::exists(edited->TaskFile()));
        QCOMPARE(f.window->AddressBox()->currentText(), QString::fromStdString(edited->URL()));
        QCOMPARE(f.window->ViewTitleText(), QString(" Tasks"));
        QCOMPARE(f.window->RecentURLs().Items().front(), edited->URL());

        // Not an address: nothing happens.
        edited.reset();
        QApplication::clipboard()->setText("not an address at all");
        f.window->Action("editPasteURL")->trigger();
        QVERIFY(!edited);
        QVERIFY(f.messages.isEmpty());
    }

    void CancelledEditorCreatesNothingButKeepsTheAddress()
    {
        TWindowFixture f;
        std::string file;
        f.window->SetEditorHook([&](const std::shared_ptr<TPXTask>& task) {
            file = task->TaskFile();
            return false;
        });
        f.window->AddressBox()->setEditText("http://127.0.0.1:9/x/");
        f.window->ProfileBox()->setCurrentIndex(0); // "Custom"
        QTest::keyClick(f.window->AddressBox()->lineEdit(), Qt::Key_Return);
        QVERIFY(!file.empty());
        QVERIFY(!fs::exists(file));
        QCOMPARE(f.window->RecentURLs().Items().front(), std::string("http://127.0.0.1:9/x/"));
    }

    void UnbuiltMenusSayNotAvailableYet()
    {
        TWindowFixture f;
        for (const char* name : {"helpOnline", "helpNews", "helpTour", "helpHomePage"})
            f.window->Action(name)->trigger();
        QCOMPARE(f.messages.size(), 4);
        for (const QString& text : f.messages)
            QCOMPARE(text, QString("Not available yet."));
    }

    void EveryKeyOfTheWindowHasOneCommand()
    {
        TWindowFixture f;
        std::map<QString, QStringList> owners;
        for (QAction* action : f.window->findChildren<QAction*>())
            for (const QKeySequence& key : action->shortcuts())
                owners[key.toString()] << (action->objectName().isEmpty() ? action->text() : action->objectName());
        QVERIFY(owners.count("Ctrl+N") && owners.count("Ctrl+R") && owners.count("Ctrl+O") && owners.count("F2"));
        for (const auto& [key, names] : owners)
            QVERIFY2(names.size() == 1, qPrintable(key + " belongs to " + names.join(", ")));
    }

    void PreferencesOpenTheOptionsDialog()
    {
        TWindowFixture f;
        QString caption;
        QTimer::singleShot(0, [&] {
            if (auto* dialog = qobject_cast<TdlgOptions*>(QApplication::activeModalWidget())) {
                caption = dialog->windowTitle();
                dialog->btnCancel->click();
            }
        });
        f.window->Action("viewPreferences")->trigger();
        QCOMPARE(caption, QString("Pellix Options"));
        QVERIFY(f.messages.empty());
    }

    void DroppedAddressesGoThroughTheProfileChooser()
    {
        TWindowFixture f;
        QStringList offered;
        f.window->SetChooserHook([&](const QString& address) -> std::optional<QString> {
            offered << address;
            return std::nullopt; // cancelled: no task
        });
        TDropData link;
        link.otherURIs = {"http://example.com/a"};
        link.text = "http://example.com/a";
        link.localFiles = {"/tmp/page.htm"};
        f.window->HandleDrop(link);
        TDropData lines;
        lines.text = "https://one.example/\nhttps://two.example/\n";
        f.window->HandleDrop(lines);
        TDropData other;
        other.localFiles = {"/tmp/notes.txt"};
        f.window->HandleDrop(other);
        QCOMPARE(offered, (QStringList{"http://example.com/a/", "https://one.example/", "https://two.example/"}));
        QVERIFY(f.messages.isEmpty());
    }

    void TrayMenuItems()
    {
        TWindowFixture f;
        QStringList captions;
        for (QAction* action : f.window->TrayMenu()->actions())
            if (!action->isSeparator())
                captions << action->text();
        QCOMPARE(captions, (QStringList{"Add To Current Zip", "Paste URL and Pellix...\tCtrl+B", "&Options...",
                                        "&Restore", "&Exit"}));
        emit f.window->TrayMenu()->aboutToShow();
        QVERIFY(!f.window->Action("trayRestore")->isEnabled()); // no drop zone while the window shows
        QVERIFY(!f.window->Action("trayAddToZip")->isEnabled()); // no Zip selected
    }

    void MinimisingOpensTheDropZoneAndRestoringClosesIt()
    {
        TWindowFixture f;
        f.window->show();
        f.window->showMinimized();
        QTRY_VERIFY(f.window->DropBar() != nullptr);
        QVERIFY(f.window->DropBar()->isVisible());
        emit f.window->TrayMenu()->aboutToShow();
        QVERIFY(f.window->Action("trayRestore")->isEnabled());
        f.window->Action("trayRestore")->trigger();
        QVERIFY(f.window->DropBar() == nullptr);
        QVERIFY(!f.window->isMinimized());
    }

    void OpenedZipIsSelectedAndUnzipExtractsIt()
    {
        TWindowFixture f;
        const std::string zipPath = (f.temp.Path() / "site.zip").string();
        QVERIFY(test::WriteZipFixture(zipPath, {{"index.htm", "home"}, {"img/a.gif", "GIF"}}));
        f.window->activateWindow();
        QTRY_VERIFY(f.window->isActiveWindow());
        f.window->OpenZipFile(QString::fromStdString(zipPath));
        QTRY_VERIFY(f.window->Action("zipUnzip")->isEnabled());
        const fs::path out = f.temp.Path() / "out";
        test::WhenModal<TFormExtract>([&](TFormExtract* dialog) {
            dialog->edUnzipTo->setText(QString::fromStdString(out.string()));
            dialog->cbUsePaths->setChecked(true);
            dialog->btnUnzip->click();
        });
        f.window->Action("zipUnzip")->trigger();
        // The extraction runs off the window's thread.
        QTRY_VERIFY(fs::exists(out / "img/a.gif"));
        QTRY_VERIFY(fs::exists(out / "index.htm"));
        QCOMPARE(f.messages, QStringList());
    }

    void DayZipCaptionUsesTodaysShortDate()
    {
        TWindowFixture f;
        f.window->Menu("fileNewSpecial")->aboutToShow();
        QVERIFY(f.window->Action("dayZip")->text().startsWith("New - My Pellix's for "));
        QVERIFY(!f.window->Action("dayZip")->text().endsWith("for "));
    }
};

QTEST_MAIN(TFormPellixTest)
#include "form_pellix_test.moc"
