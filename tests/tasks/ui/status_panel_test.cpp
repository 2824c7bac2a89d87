// The status panel: the bound task's counters, LEDs, chart and status line appear on the panel's
// timer (never per event), and its buttons; the chart's axis texts.
#include <QLCDNumber>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "engine/task.h"
#include "links/date_time.h"
#include "tasks/status_model.h"
#include "tasks/ui/rate_chart.h"
#include "tasks/ui/status_panel.h"
#include "tests/tasks/ui/ui_session.h"

using namespace pellix;

class TStatusPanelTest : public QObject {
    Q_OBJECT
private slots:
    void ShowsTheBoundTaskOnItsTimer()
    {
        test::TUiSession ui;
        TStatusPanel panel(ui.Session());
        panel.show();
        QCOMPARE(panel.lblStatus->text(), QString("Ready"));
        QVERIFY(!panel.btnRun->isEnabled());
        QVERIFY(!panel.btnStop->isEnabled());
        QVERIFY(panel.ProgressBar->isHidden());

        TPXTask task(&ui.App());
        task.SetTaskName("example");
        task.SetTotalBytes(1536);
        task.SetElapsedTime(EncodeTime(0, 0, 3));
        task.SetTotalPages(5);
        task.SetPagesSaved(2);
        task.SetTotalResources(4);
        task.SetResourcesSaved(1);
        task.SetPageErrors(1);
        ui.Session().Status().BindTask(&task);
        QCOMPARE(panel.lblTaskName->text(), QString()); // not before the timer
        QTRY_COMPARE(panel.lblTaskName->text(), QString("example"));
        QVERIFY(panel.btnRun->isEnabled());
        QVERIFY(panel.btnStop->isEnabled());

        // 1536 bytes in 3 seconds: 1.5 Kb, 0.33 Kb/sec, truncated.
        QCOMPARE(panel.ledTotalBytes->intValue(), 1);
        QCOMPARE(panel.ledTotalBytesDec->intValue(), 5);
        QCOMPARE(panel.ledSec->intValue(), 3);
        QCOMPARE(panel.ledRate->intValue(), 0);
        QCOMPARE(panel.ledRateDec->intValue(), 33);
        QCOMPARE(panel.gaugePages->value(), 2);
        QCOMPARE(panel.gaugePages->maximum(), 5);
        QCOMPARE(panel.gaugePages->format(), QString("2/5 -> %p%"));
        QCOMPARE(panel.gaugeRes->format(), QString("1/4 -> %p%"));
        QCOMPARE(panel.gaugeErrors->format(), QString("1/9 -> %p%"));

        // Progress from the core's events and from the model reach the status line.
        ui.Session().Events().Progress("Opening Zip File...", 3, 10);
        QTRY_VERIFY(panel.ProgressBar->isVisible());
        QCOMPARE(panel.lblStatus->text(), QString("Opening Zip File..."));
        QCOMPARE(panel.ProgressBar->value(), 3);
        ui.Session().Status().ShowStatus("Ready", 0, 0);
        QTRY_VERIFY(panel.ProgressBar->isHidden());
        QCOMPARE(panel.lblStatus->text(), QString("Ready"));

        // One chart point per second of the run, none on a whole minute.
        task.SetElapsedTime(EncodeTime(0, 1, 0));
        ui.Session().Status().AddRateSample(4);
        task.SetElapsedTime(EncodeTime(0, 1, 1));
        ui.Session().Status().AddRateSample(4);
        QTRY_COMPARE(panel.chartStats->Points().size(), std::size_t(1));
        QCOMPARE(panel.chartStats->Points()[0].x, 61.0);

        QSignalSpy run(&panel, &TStatusPanel::RunRequested);
        QSignalSpy stop(&panel, &TStatusPanel::StopRequested);
        panel.btnRun->click();
        panel.btnStop->click();
        QCOMPARE(run.count(), 1);
        QCOMPARE(stop.count(), 1);
        panel.SetRunEnabled(false);
        QVERIFY(!panel.btnRun->isEnabled());

        ui.Session().Status().BindTask(nullptr);
        QTRY_COMPARE(panel.lblTaskName->text(), QString());
        QVERIFY(!panel.btnStop->isEnabled());
    }

    void AxisTexts()
    {
        const std::pair<double, QString> cases[] = {
            {0, "0"}, {0.5, "0.5"}, {12, "12"}, {0.333, "0.33"}, {1234.567, "1,234.56"}, {1000000, "1,000,000"}};
        for (const auto& [value, text] : cases)
            QCOMPARE(TRateChart::AxisText(value), text);
    }
};

QTEST_MAIN(TStatusPanelTest)
#include "status_panel_test.moc"
