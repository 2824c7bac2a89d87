// The explore view: opens on the current task with the column captions and colours, marks from
// the pop-up menu and the state image change the items' flags, rows follow the list as it grows,
// and browsing a zip-mode item without its Zip says so.
#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTreeView>

#include <filesystem>

#include "engine/download_list.h"
#include "engine/task.h"
#include "links/file_io.h"
#include "tasks/ui/explore_model.h"
#include "tasks/ui/explore_view.h"
#include "workspace/task_runner.h"
#include "tests/tasks/ui/ui_session.h"

using namespace pellix;

namespace {

std::string Record(int state, int action, const std::string& group, const std::string& status = {})
{
    const std::string fields[11] = {std::to_string(state), status, group, "", "1", "http://h/", "", std::to_string(action),
                                    "", "10", ""};
    std::string line;
    for (const std::string& field : fields)
        line += field + kRecordSeparator;
    return line;
}

// A task made current with four items: a parsed page, a saved image, a failed image and an
// unmarked page.
std::shared_ptr<TPXTask> CurrentTask(test::TUiSession& ui)
{
    auto task = std::make_shared<TPXTask>(&ui.App());
    task->SetTaskName("Site");
    task->SetURL("http://h/index.html");
    task->SetDestination(ui.Folder() + "dl/Site.zip");
    task->SetTaskFile(ui.Folder() + "home/Tasks/General/Site.pxt");
    const std::string data = "http://h/index.html\r\n" + Record(kStateParsed, 1, "HTML") + "\r\n" +
                             "http://h/a.gif\r\n" + Record(kStateSaved, 1, "Images") + "\r\n" +
                             "http://h/b.gif\r\n" + Record(kStateError, 1, "Images", "404 Not Found") + "\r\n" +
                             "http://h/c.html\r\n" + Record(kStateNone, 0, "HTML") + "\r\n";
    std::filesystem::create_directories(task->DownloadList().FilePath().parent_path());
    WriteFileAtomically(task->DownloadList().FilePath(), data);
    ui.Session().Runner().MakeCurrent(task);
    return task;
}

void Select(TExploreView& view, int row)
{
    view.lvExplore->selectionModel()->select(view.Model().index(row, 0),
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view.lvExplore->setCurrentIndex(view.Model().index(row, 0));
}

QString Cell(TExploreModel& model, int row, int column)
{
    return model.data(model.index(row, column), Qt::DisplayRole).toString();
}

} // namespace

class TExploreViewTest : public QObject {
    Q_OBJECT
private slots:
    void OpensOnTheCurrentTask()
    {
        test::TUiSession ui;
        const auto task = CurrentTask(ui);
        TExploreView view(ui.Session());
        view.show();
        TExploreModel& model = view.Model();
        QCOMPARE(model.rowCount(), 4);
        const QStringList captions = {"Mark", "Status", "Title", "URL", "Type", "Size", "Last Modified",
                                      "Download Result", "Level", "Referrer"};
        for (int c = 0; c < captions.size(); ++c)
            QCOMPARE(model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), captions[c]);
        QCOMPARE(view.lvExplore->columnWidth(kExploreReferrer), 200);
        QCOMPARE(Cell(model, 2, kExploreURL), QString("http://h/b.gif"));
        QCOMPARE(Cell(model, 2, kExploreStatus), QString("Error"));
        QCOMPARE(Cell(model, 2, kExploreResult), QString("404 Not Found"));
        QCOMPARE(model.data(model.index(2, kExploreURL), Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
        QCOMPARE(model.data(model.index(3, kExploreURL), Qt::ForegroundRole).value<QColor>(), QColor(128, 128, 128));
        QCOMPARE(model.StateImageAt(0), int(kMarkImageDone));
        QCOMPARE(model.StateImageAt(2), int(kMarkImageError));
        QCOMPARE(model.StateImageAt(3), int(kMarkImageNone));
        // Nothing selected: the menu's items are off.
        view.lvExplore->selectionModel()->clearSelection();
        emit view.popExplore->aboutToShow();
        QVERIFY(!view.MarkAction(TExploreMark::DownloadSelected)->isEnabled());
        QVERIFY(!view.MarkAction(TExploreMark::DownloadAll)->isEnabled());
        Select(view, 0);
        emit view.popExplore->aboutToShow();
        QVERIFY(view.MarkAction(TExploreMark::DownloadAll)->isEnabled());
    }

    void MarksChangeTheItemsFlags()
    {
        test::TUiSession ui;
        const auto task = CurrentTask(ui);
        TExploreView view(ui.Session());
        view.show();
        TPXDownloadList& list = task->DownloadList();

        // "Mark for update" > "Selected" on the saved image: action 3, state 0, shown at once.
        Select(view, 1);
        view.MarkAction(TExploreMark::UpdateSelected)->trigger();
        QCOMPARE(int(list.Item(1)->State()), int(kStateNone));
        QCOMPARE(int(list.Item(1)->Action()), int(kActionUpdate));
        QCOMPARE(view.Model().StateImageAt(1), int(kMarkImageUpdate));
        QCOMPARE(Cell(view.Model(), 1, kExploreStatus), QString("None"));

        // The error's state image does nothing; "All errors" requeues it, its result text stays.
        QVERIFY(!view.ToggleRow(2));
        Select(view, 2);
        view.MarkAction(TExploreMark::DownloadErrors)->trigger();
        QCOMPARE(int(list.Item(2)->State()), int(kStateNone));
        QCOMPARE(int(list.Item(2)->Action()), int(kActionDownload));
        QCOMPARE(Cell(view.Model(), 2, kExploreResult), QString("404 Not Found"));
        QVERIFY(std::filesystem::exists(task->TaskFile()));

        // A click on the unmarked page's state image marks it for download, and back.
        view.lvExplore->resize(900, 300);
        const QRect cell = view.lvExplore->visualRect(view.Model().index(3, kExploreMark));
        QTest::mouseClick(view.lvExplore->viewport(), Qt::LeftButton, {}, cell.topLeft() + QPoint(6, cell.height() / 2));
        QCOMPARE(int(list.Item(3)->Action()), int(kActionDownload));
        QCOMPARE(view.Model().StateImageAt(3), int(kMarkImageDownload));
        Select(view, 3);
        QTest::keyClick(view.lvExplore, Qt::Key_Space);
        QCOMPARE(int(list.Item(3)->Action()), int(kActionSkip));

        // The marks are in the list file.
        TPXTask reread(&ui.App());
        reread.SetTaskName("Site");
        reread.SetTaskFile(task->TaskFile());
        QVERIFY(reread.DownloadList().LoadList().ok);
        QCOMPARE(TPXDownloadList::RecordField(reread.DownloadList().Line(3), 7), std::string("3"));
        QCOMPARE(TPXDownloadList::RecordField(reread.DownloadList().Line(5), 0), std::string("0"));
    }

    void RowsFollowTheListAndTheFilter()
    {
        test::TUiSession ui;
        const auto task = CurrentTask(ui);
        TExploreView view(ui.Session());
        view.show();
        task->DownloadList().AddItem(task->MakeItem("http://h/new.gif", kActionDownload));
        // Coalesced: shown on the timer, not at once.
        QCOMPARE(view.Model().rowCount(), 4);
        QTRY_COMPARE(view.Model().rowCount(), 5);
        QCOMPARE(Cell(view.Model(), 4, kExploreURL), QString("http://h/new.gif"));

        view.edFilter->setText("GIF");
        QCOMPARE(view.Model().rowCount(), 3);
        view.Model().sort(kExploreURL, Qt::DescendingOrder);
        QCOMPARE(Cell(view.Model(), 0, kExploreURL), QString("http://h/new.gif"));
        task->DownloadList().AddItem(task->MakeItem("http://h/z.gif", kActionDownload));
        task->DownloadList().AddItem(task->MakeItem("http://h/z.html", kActionDownload));
        view.Model().Flush();
        QCOMPARE(view.Model().rowCount(), 4);
        QCOMPARE(Cell(view.Model(), 0, kExploreURL), QString("http://h/z.gif"));
        view.edFilter->clear();
        QCOMPARE(view.Model().rowCount(), 7);

        // Another task made current replaces the rows.
        ui.Session().Runner().MakeCurrent(nullptr);
        QTRY_COMPARE(view.Model().rowCount(), 0);
    }

    void BrowseOfflineWithoutTheZip()
    {
        test::TUiSession ui;
        const auto task = CurrentTask(ui);
        TExploreView view(ui.Session());
        QStringList messages;
        view.SetMessageHandler([&](QWidget*, QMessageBox::Icon, const QString& text, QMessageBox::StandardButtons) {
            messages << text;
            return QMessageBox::Ok;
        });
        QString entry;
        view.SetBrowseHooks([&](const QString&, const QString& name) { entry = name; }, [](const QString&) {});
        view.show();
        Select(view, 0);
        view.Browse(false, -1);
        QCOMPARE(messages, QStringList{"Zip file does not exist"});
        std::filesystem::create_directories(ui.Folder() + "dl");
        WriteFileAtomically(task->Destination(), "PK");
        view.Browse(false, -1);
        QCOMPARE(entry, QString("h/index.html"));
    }
};

QTEST_MAIN(TExploreViewTest)
#include "explore_view_test.moc"
