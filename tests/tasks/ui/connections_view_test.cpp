// The connections view: one row per slot that follows a real transfer, and the two sliders
// acting on the slot list and the stored settings.
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <QTreeView>

#include "engine/slot_list.h"
#include "engine/task.h"
#include "tasks/ui/connections_view.h"
#include "tasks/ui/slot_table_model.h"
#include "tasks/ui/status_panel.h"
#include "workspace/task_runner.h"
#include "tests/support/test_http_server.h"
#include "tests/tasks/ui/ui_session.h"

using namespace pellix;

namespace {

QString Cell(TSlotTableModel& model, int row, int column)
{
    return model.data(model.index(row, column)).toString();
}

bool AnyRow(TSlotTableModel& model, const std::function<bool(int)>& test)
{
    for (int row = 0; row < model.rowCount(); ++row)
        if (test(row))
            return true;
    return false;
}

} // namespace

class TConnectionsViewTest : public QObject {
    Q_OBJECT
private slots:
    // A slot fetching a slow image shows its address and its bytes growing; a new slot is idle.
    void RowsFollowATransfer()
    {
        test::TUiSession ui;
        test::TTestHttpServer server;
        server.Route("/")
            .Header("Content-Type", "text/html")
            .Body("<html><body><img src=\"slow.gif\"></body></html>");
        server.Route("/slow.gif")
            .Header("Content-Type", "image/gif")
            .Body(std::string(40000, 'g'))
            .Slow(1000, std::chrono::milliseconds(40));

        TStatusPanel panel(ui.Session());
        TConnectionsView view(ui.Session(), panel);
        view.show();
        TSlotTableModel& model = view.Model();
        QCOMPARE(model.rowCount(), 10);
        QCOMPARE(Cell(model, 0, TSlotTableModel::kRetrieving), QString("HTTP Socket: 1"));
        QCOMPARE(Cell(model, 9, TSlotTableModel::kStatus), QString("Idle"));
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QString("Retrieving"));

        TTaskRunner& runner = ui.Session().Runner();
        const TCreateTaskResult created =
            runner.CreateTaskFromAddress(server.Url("/"), "Default", false, true, ui.Folder() + "site/");
        QVERIFY2(created.ok, created.message.c_str());
        QVERIFY(runner.StartTask(created.task).ok);

        const QString image = QString::fromStdString(server.Url("/slow.gif"));
        int row = -1;
        QTRY_VERIFY_WITH_TIMEOUT(AnyRow(model, [&](int r) {
                                     if (Cell(model, r, TSlotTableModel::kRetrieving) != image)
                                         return false;
                                     row = r;
                                     return Cell(model, r, TSlotTableModel::kBytes).toLongLong() > 0;
                                 }),
                                 20000);
        QTRY_VERIFY_WITH_TIMEOUT(Cell(model, row, TSlotTableModel::kRetrieving) != image ||
                                     Cell(model, row, TSlotTableModel::kBytes).toLongLong() == 40000,
                                 30000);
        QTRY_VERIFY_WITH_TIMEOUT(created.task->Status() == kStatusTaskComplete, 30000);
        QTRY_COMPARE(model.rowCount(), 10);
    }

    void SlidersReachTheSlotsAndTheSettings()
    {
        test::TUiSession ui;
        TStatusPanel panel(ui.Session());
        TConnectionsView view(ui.Session(), panel);
        view.show();
        TSlotList& slotList = ui.Session().Slots();

        view.tbSockets->setValue(4);
        QCOMPARE(slotList.Count(), std::size_t(4));
        QCOMPARE(view.Model().rowCount(), 4);
        QCOMPARE(view.lblSockets->text(), QString("4"));
        QCOMPARE(TPXApp(ui.App().Paths()).Connections(), 4u);

        view.tbPriority->setValue(8);
        QCOMPARE(ui.App().Priority(), 8);
        QCOMPARE(TPXApp(ui.App().Paths()).Priority(), 8);

        // During a run surplus slots stay until they fall idle; the end of the run sets the slider
        // (and the setting) to the slots that were left.
        slotList.SetDownloading(true);
        view.tbSockets->setValue(2);
        QCOMPARE(slotList.Connections(), 2);
        QCOMPARE(slotList.Count(), std::size_t(4));
        slotList.SetDownloading(false);
        slotList.ResetSlots();
        QTRY_COMPARE(view.tbSockets->value(), 4);
        QCOMPARE(view.lblSockets->text(), QString("4"));
        QCOMPARE(ui.App().Connections(), 4u);
        QCOMPARE(view.Model().rowCount(), 4);

        // The main window's call at activation.
        view.SetConnections(6);
        QCOMPARE(slotList.Count(), std::size_t(6));
        QCOMPARE(view.Model().rowCount(), 6);
        view.SetPriority(3);
        QCOMPARE(view.tbPriority->value(), 3);
    }
};

QTEST_MAIN(TConnectionsViewTest)
#include "connections_view_test.moc"
