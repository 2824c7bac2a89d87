// The task list view: the start-up pass, rows after adding, the Task menu's enabling by status, the pop-up's Error
// Report, and delete through the injected trash.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/active_task_list.h"
#include "engine/task.h"
#include "links/file_io.h"
#include "tasks/schedule_thread.h"
#include "tasks/task_list.h"
#include "tasks/ui/task_list_model.h"
#include "tasks/ui/task_list_view.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"
#include "workspace/task_runner.h"
#include "workspace/ui/qt_owner_thread.h"

using namespace pellix;

namespace {

// The application, the owner thread and the session in a fresh folder, and task files written
// as an earlier session left them.
struct TDesk {
    TDesk()
    {
        app = std::make_unique<TPXApp>(test::TestAppPaths(folder.Path()));
        owner = std::make_unique<TQtOwnerThread>();
    }
    ~TDesk()
    {
        owner->Stop();
        session.reset();
    }
    void Start() { session = std::make_unique<TSession>(*app, *owner); }

    std::string TaskPath(const std::string& name) const { return app->TasksFolder() + "General/" + name + ".pxt"; }
    void WriteTask(const std::string& name, int status)
    {
        TPXTask task(nullptr);
        task.SetTaskFile(TaskPath(name));
        task.SetTaskName(name);
        task.SetURL("http://127.0.0.1:9/" + name + "/");
        task.SetStatus(static_cast<TTaskStatus>(status));
        QVERIFY(task.Save());
    }

    pellix::test::TTempFolder folder;
    std::unique_ptr<TPXApp> app;
    std::unique_ptr<TQtOwnerThread> owner;
    std::unique_ptr<TSession> session;
};

QStringList Captions(const QMenu* menu)
{
    QStringList captions;
    for (const QAction* action : menu->actions())
        captions << (action->isSeparator() ? QString("-") : action->text());
    return captions;
}

QMenu* SubMenu(const QMenu* menu, const QString& caption)
{
    for (QAction* action : menu->actions())
        if (action->text() == caption)
            return action->menu();
    return nullptr;
}

} // namespace

class TTaskListViewTest : public QObject {
    Q_OBJECT
private slots:
    // A task the runner adds shows as a row of the shown category with its texts.
    void RowsAfterAdding()
    {
        TDesk desk;
        // A run that a crash left "Downloading...": the start-up pass makes it "Incomplete".
        desk.WriteTask("Old", kStatusDownloading);
        QVERIFY(WriteFileAtomically(ActiveTaskListPath(*desk.app), desk.TaskPath("Old") + "\r\n"));
        desk.Start();
        TTaskListView view(*desk.session);
        // Nothing is to start in this test.
        desk.session->Scheduler().SetTaskList(nullptr);
        QCOMPARE(view.CategoryBox().currentText(), QString("General"));
        QCOMPARE(view.CategoryBox().itemText(0), QString("Active Tasks"));
        QCOMPARE(view.Model().rowCount(), 1);
        QCOMPARE(view.Model().index(0, kColumnStatus).data().toString(), QString("Incomplete"));
        QVERIFY(desk.app->ActiveTasks().empty());

        auto task = std::make_shared<TPXTask>(desk.app.get());
        task->SetTaskFile(desk.TaskPath("New"));
        task->SetTaskName("New");
        task->SetURL("http://127.0.0.1:9/new/");
        desk.session->Runner().AddTask(*task); // the task-added event reaches the view
        QCOMPARE(view.Model().rowCount(), 2);
        const QModelIndex row = view.Model().index(1, kColumnStatus);
        QCOMPARE(row.data().toString(), QString("Scheduled"));
        QCOMPARE(view.Model().index(1, kColumnSchedule).data().toString(), QString("Now"));
        QCOMPARE(view.Model().headerData(kColumnStartingURL, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QString("Starting URL"));
        // The main window's call for the same task adds no second row.
        view.AddTask(task);
        QCOMPARE(view.Model().rowCount(), 2);

        // A save refreshes the row after the coalescing timer.
        QSignalSpy changed(&view.Model(), &QAbstractItemModel::dataChanged);
        task->SetStatus(kStatusStopped);
        QVERIFY(task->Save());
        QCOMPARE(changed.count(), 0);
        QTRY_VERIFY(changed.count() > 0);
        QCOMPARE(row.data().toString(), QString("Download Stopped"));
    }

    // The Task menu, the pop-up and the buttons take the states of the core's table for the
    // focused row each time a menu opens.
    void TaskMenuEnablingByStatus()
    {
        TDesk desk;
        desk.WriteTask("One", kStatusUnscheduled);
        desk.Start();
        TTaskListView view(*desk.session);
        desk.session->Scheduler().SetTaskList(nullptr);
        view.TaskView().setCurrentIndex(view.Model().index(0, 0));
        TPXTask& task = *view.List().Task(0);
        const std::vector<TTaskCommand> commands = {TTaskCommand::New,      TTaskCommand::Edit,
                                                    TTaskCommand::Delete,   TTaskCommand::Run,
                                                    TTaskCommand::Stop,     TTaskCommand::Schedule,
                                                    TTaskCommand::Unschedule, TTaskCommand::Explore};
        for (const int status : {0, 1, 2, 3, 4, 5, 6, 7}) {
            task.SetStatus(static_cast<TTaskStatus>(status));
            for (QMenu* menu : {view.TaskMenu(), view.PopupMenu()}) {
                emit menu->aboutToShow();
                for (const TTaskCommand command : commands) {
                    const bool expected = TaskCommandEnabled(command, &task, false);
                    QVERIFY2(view.Action(command)->isEnabled() == expected,
                             qPrintable(QString("status %1, %2").arg(status).arg(view.Action(command)->text())));
                    if (QPushButton* button = view.Button(command))
                        QCOMPARE(button->isEnabled(), expected);
                }
            }
        }
        QCOMPARE(view.Action(TTaskCommand::Run)->shortcut(), QKeySequence("Ctrl+R"));
        QCOMPARE(view.Action(TTaskCommand::Stop)->toolTip(), QString("Abort selected task"));
        // No row: only New.
        view.TaskView().clearSelection();
        emit view.TaskMenu()->aboutToShow();
        QVERIFY(view.Action(TTaskCommand::New)->isEnabled());
        QVERIFY(!view.Action(TTaskCommand::Edit)->isEnabled());
        QVERIFY(!view.Button(TTaskCommand::Browse)->isEnabled());

        // The menus' items; only the pop-up's Browse ends with "Error Report".
        const QStringList items = {"&New...", "&Edit...", "&Delete", "&Run", "&Stop", "Schedu&le...",
                                   "&Unschedule", "&Copy", "&Browse", "E&xplore"};
        QCOMPARE(Captions(view.TaskMenu()), items);
        QCOMPARE(Captions(view.PopupMenu()), items);
        QCOMPARE(Captions(SubMenu(view.TaskMenu(), "&Browse")), QStringList({"&Offline", "On &Internet"}));
        QCOMPARE(Captions(SubMenu(view.PopupMenu(), "&Browse")),
                 QStringList({"&Offline", "On &Internet", "-", "Error Report"}));
        QCOMPARE(Captions(SubMenu(SubMenu(view.PopupMenu(), "&Browse"), "On &Internet")),
                 QStringList({"&Internet Explorer...", "&Netscape Navigator...", "Integrated &Browser"}));
    }

    // Delete asks, then the selected tasks' files go to the injected trash and the rows go;
    // "No" changes nothing.
    void DeleteGoesToTheInjectedTrash()
    {
        TDesk desk;
        desk.WriteTask("A", kStatusZipped);
        desk.WriteTask("B", kStatusUnscheduled);
        desk.WriteTask("C", kStatusStopped);
        desk.Start();
        TTaskListView view(*desk.session);
        desk.session->Scheduler().SetTaskList(nullptr);
        QCOMPARE(view.Model().rowCount(), 3);
        std::vector<std::string> trashed;
        view.SetTrash([&](const std::string& path, std::string*) {
            trashed.push_back(path);
            std::filesystem::remove(path);
            return true;
        });
        QStringList asked;
        bool yes = false;
        view.SetConfirm([&](const QString& text) {
            asked << text;
            return yes;
        });
        view.TaskView().setCurrentIndex(view.Model().index(0, 0));
        view.TaskView().selectionModel()->select(view.Model().index(2, 0),
                                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
        view.Action(TTaskCommand::Delete)->trigger();
        QCOMPARE(asked, QStringList({"Are you sure you want to delete the selected Task/s? "}));
        QVERIFY(trashed.empty());
        QCOMPARE(view.Model().rowCount(), 3);

        yes = true;
        view.Action(TTaskCommand::Delete)->trigger();
        QCOMPARE(trashed, (std::vector<std::string>{desk.TaskPath("A"), desk.TaskPath("C")}));
        QCOMPARE(view.Model().rowCount(), 1);
        QCOMPARE(view.Model().index(0, 0).data().toString(), QString("B"));
        QVERIFY(std::filesystem::exists(desk.TaskPath("B")));
    }
};

QTEST_MAIN(TTaskListViewTest)
#include "task_list_view_test.moc"
