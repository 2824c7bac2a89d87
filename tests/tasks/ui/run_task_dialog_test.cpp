// The run dialog: its texts and summary for a given task, the description that follows the
// checked mode, and the Run paths of the task list: Run stores the chosen mode and schedules the
// task, Cancel leaves it as it was.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "engine/download_list.h"
#include "engine/task.h"
#include "tasks/schedule_thread.h"
#include "tasks/task_list.h"
#include "tasks/ui/run_task_dialog.h"
#include "tasks/ui/task_list_view.h"
#include "tests/tasks/ui/ui_session.h"
#include "workspace/session.h"

using namespace pellix;

namespace {

void SetCounters(TPXTask& task, int pageErrors, int resourceErrors)
{
    task.SetTotalPages(12);
    task.SetPagesSaved(10);
    task.SetPageErrors(pageErrors);
    task.SetTotalResources(30);
    task.SetResourcesSaved(25);
    task.SetResourceErrors(resourceErrors);
}

// Answers the next modal dialog with what act does to it.
void WhenModal(std::function<void(TdlgRunTask&)> act)
{
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<TdlgRunTask*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        act(*dialog);
    });
}

} // namespace

class TRunTaskDialogTest : public QObject {
    Q_OBJECT
private slots:
    void ShowsTheTaskAndItsSummary()
    {
        TPXTask task;
        task.SetTaskName("site");
        task.SetStatus(kStatusStopped);
        task.SetRunMode(kRunSmartUpdate); // the previous run's mode does not preselect
        SetCounters(task, 1, 2);
        TdlgRunTask dialog(task);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QString("Pellix - Run Task (site)"));
        QCOMPARE(dialog.Label1->text(), QString("This task was previously run but is incomplete."));
        QCOMPARE(dialog.rbRestart->text(), QString("Restart"));
        QCOMPARE(dialog.rbResume->text(), QString("Resume"));
        QCOMPARE(dialog.rbSmartUpdate->text(), QString("SmartUpdate"));
        QCOMPARE(dialog.rbSmartRecovery->text(), QString("SmartRecovery"));
        QCOMPARE(dialog.btnRun->text(), QString("&Run"));
        QCOMPARE(dialog.btnCancel->text(), QString("&Cancel"));
        QVERIFY(dialog.rbResume->isChecked());
        QVERIFY(dialog.rbSmartRecovery->isEnabled());
        QCOMPARE(dialog.lblDesc->text(), QString("Resumes the task from where it was last stopped."));

        QCOMPARE(dialog.lvSummary->horizontalHeaderItem(1)->text(), QString("Pages"));
        QCOMPARE(dialog.lvSummary->horizontalHeaderItem(2)->text(), QString("Media"));
        QCOMPARE(dialog.lvSummary->horizontalHeaderItem(3)->text(), QString("Total"));
        const QStringList rows[] = {{"Downloaded", "9", "23", "32"},
                                    {"Queued", "2", "5", "7"},
                                    {"New/Modified", "", "", ""},
                                    {"Errors", "1", "2", "3"}};
        for (int row = 0; row < 4; ++row)
            for (int column = 0; column < 4; ++column)
                QCOMPARE(dialog.lvSummary->item(row, column)->text(), rows[row][column]);
    }

    void DescriptionFollowsTheCheckedMode()
    {
        TPXTask task;
        task.SetStatus(kStatusZipped);
        SetCounters(task, 0, 1);
        TdlgRunTask dialog(task);
        dialog.show();
        QCOMPARE(dialog.Label1->text(),
                 QString("This task has run to completion but contains some URL's. which failed to download."));
        const std::pair<QRadioButton*, QString> cases[] = {
            {dialog.rbRestart, "Reruns the task again from the start."},
            {dialog.rbSmartUpdate, "Reruns the task and downloads only items which are new or have changed."},
            {dialog.rbSmartRecovery, "Retry downloading URL's which have failed"},
            {dialog.rbResume, "Resumes the task from where it was last stopped."},
        };
        for (const auto& [button, description] : cases) {
            QTest::mouseClick(button, Qt::LeftButton);
            QVERIFY(button->isChecked());
            QCOMPARE(dialog.lblDesc->text(), description);
        }
        QTest::mouseClick(dialog.rbSmartRecovery, Qt::LeftButton);
        QCOMPARE(dialog.SelectedMode(), kRunSmartRecovery);
    }

    void NoFailuresNoRecovery()
    {
        TPXTask task;
        task.SetStatus(kStatusTaskComplete);
        SetCounters(task, 0, 0);
        TdlgRunTask dialog(task);
        dialog.show();
        QCOMPARE(dialog.Label1->text(), QString("This task has successfully run to completion."));
        QVERIFY(!dialog.rbSmartRecovery->isEnabled());
        QTest::mouseClick(dialog.rbSmartRecovery, Qt::LeftButton);
        QCOMPARE(dialog.SelectedMode(), kRunResume);
    }

    // The task list's Run on a task with a download list goes through the dialog: Run stores the
    // checked mode and schedules the task now; Cancel changes nothing, in memory or on disk.
    void RunAndCancelThroughTheTaskList()
    {
        test::TUiSession desk;
        TTaskListView view(desk.Session());
        desk.Session().Scheduler().SetTaskList(nullptr); // nothing starts in this test

        auto task = std::make_shared<TPXTask>(&desk.App());
        task->SetTaskFile(desk.App().TasksFolder() + "General/site.pxt");
        task->SetTaskName("site");
        task->SetURL("http://127.0.0.1:9/");
        task->SetStatus(kStatusZipped);
        task->SetRunMode(kRunRestart);
        SetCounters(*task, 1, 0);
        QVERIFY(task->Save());
        {
            std::ofstream list(task->DownloadList().FilePath(), std::ios::binary);
            list << "http://127.0.0.1:9/\r\n";
        }

        WhenModal([](TdlgRunTask& dialog) { dialog.btnCancel->click(); });
        view.RunTask(*task);
        QCOMPARE(task->Status(), kStatusZipped);
        QCOMPARE(task->RunMode(), kRunRestart);
        TPXTask stored;
        stored.SetTaskFile(task->TaskFile());
        QVERIFY(stored.Load());
        QCOMPARE(stored.Status(), kStatusZipped);

        WhenModal([](TdlgRunTask& dialog) {
            QCOMPARE(dialog.windowTitle(), QString("Pellix - Run Task (site)"));
            dialog.rbSmartRecovery->click();
            dialog.btnRun->click();
        });
        view.RunTask(*task);
        QCOMPARE(task->RunMode(), kRunSmartRecovery);
        QCOMPARE(task->Status(), kStatusScheduled);
        QVERIFY(stored.Load());
        QCOMPARE(stored.Status(), kStatusScheduled);
    }
};

QTEST_MAIN(TRunTaskDialogTest)
#include "run_task_dialog_test.moc"
