#include "tasks/ui/status_panel.h"

#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLCDNumber>
#include <QLabel>
#include <QProgressBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

#include "tasks/status_model.h"
#include "tasks/ui/rate_chart.h"
#include "workspace/ui/skin_images.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"

namespace pellix {
namespace {

QLCDNumber* Led(QWidget* parent, const char* name, const QString& accessible, int digits)
{
    auto* led = new QLCDNumber(digits, parent);
    led->setObjectName(name);
    led->setAccessibleName(accessible);
    led->setSegmentStyle(QLCDNumber::Flat);
    led->setFrameShape(QFrame::NoFrame);
    led->setFixedSize(13 * digits + 6, 20);
    return led;
}

QProgressBar* Gauge(QWidget* parent, const char* name, const QString& accessible, const char* colour)
{
    auto* gauge = new QProgressBar(parent);
    gauge->setObjectName(name);
    gauge->setAccessibleName(accessible);
    gauge->setTextVisible(true);
    gauge->setAlignment(Qt::AlignCenter);
    gauge->setStyleSheet(QString("QProgressBar { border: 1px solid #606060; background: #202020; color: white; }"
                                 "QProgressBar::chunk { background: %1; }")
                             .arg(colour));
    gauge->setFixedHeight(15);
    gauge->setRange(0, 1);
    gauge->setValue(0);
    gauge->setFormat("0/0 -> ");
    return gauge;
}

void SetGauge(QProgressBar* gauge, int progress, int maximum, const std::string& caption)
{
    gauge->setRange(0, std::max(1, maximum));
    gauge->setValue(std::clamp(progress, 0, std::max(1, maximum)));
    gauge->setFormat(QString::fromStdString(caption) + "%p%");
}

int ProgressUnits(std::int64_t value, std::int64_t maximum)
{
    // A progress bar counts in int: large byte counts are scaled to fit.
    if (maximum <= std::numeric_limits<int>::max())
        return static_cast<int>(value);
    return static_cast<int>(value / (maximum / std::numeric_limits<int>::max() + 1));
}

} // namespace

TStatusPanel::TStatusPanel(TSession& session, QWidget* parent) : QWidget(parent), m_session(session)
{
    setObjectName("FormStatus");
    setAccessibleName("Status");
    setAutoFillBackground(true);

    lblTaskName = new QLabel(this);
    lblTaskName->setObjectName("lblTaskName");
    lblTaskName->setAccessibleName("Task name");
    QFont bold = lblTaskName->font();
    bold.setBold(true);
    lblTaskName->setFont(bold);
    btnRun = new QToolButton(this);
    btnRun->setObjectName("btnRun");
    btnRun->setAccessibleName("Run");
    btnRun->setToolTip("Run");
    btnStop = new QToolButton(this);
    btnStop->setObjectName("btnStop");
    btnStop->setAccessibleName("Stop");
    btnStop->setToolTip("Stop");
    for (QToolButton* button : {btnRun, btnStop}) {
        button->setFixedSize(22, 20);
        button->setIconSize(QSize(14, 14));
    }
    connect(btnRun, &QToolButton::clicked, this, &TStatusPanel::RunRequested);
    connect(btnStop, &QToolButton::clicked, this, &TStatusPanel::StopRequested);

    gaugePages = Gauge(this, "gaugePages", "Pages:", "aqua");
    gaugeRes = Gauge(this, "gaugeRes", "Media Files:", "yellow");
    gaugeErrors = Gauge(this, "gaugeErrors", "Errors:", "red");

    ledTotalBytes = Led(this, "ledTotalBytes", "Kb", 6);
    ledTotalBytesDec = Led(this, "ledTotalBytesDec", "Kb decimal", 1);
    ledHour = Led(this, "ledHour", "Hours", 2);
    ledMin = Led(this, "ledMin", "Minutes", 2);
    ledSec = Led(this, "ledSec", "Seconds", 2);
    ledRate = Led(this, "ledRate", "Kb/sec", 3);
    ledRateDec = Led(this, "ledRateDec", "Kb/sec decimals", 2);

    chartStats = new TRateChart(this);

    lblStatus = new QLabel("Ready", this);
    lblStatus->setObjectName("lblStatus");
    lblStatus->setAccessibleName("Status");
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName("ProgressBar");
    ProgressBar->setAccessibleName("Progress");
    ProgressBar->setFixedHeight(14);
    ProgressBar->setTextVisible(false);
    ProgressBar->hide();

    auto* head = new QHBoxLayout;
    head->addWidget(lblTaskName, 1);
    head->addWidget(btnRun);
    head->addWidget(btnStop);

    auto* gauges = new QGridLayout;
    const std::pair<const char*, QProgressBar*> rows[] = {
        {"Pages:", gaugePages}, {"Media Files:", gaugeRes}, {"Errors:", gaugeErrors}};
    int row = 0;
    for (const auto& [caption, gauge] : rows) {
        gauges->addWidget(new QLabel(caption, this), row, 0);
        gauges->addWidget(gauge, row, 1);
        ++row;
    }
    gauges->setColumnStretch(1, 1);
    gauges->setVerticalSpacing(1);

    auto dot = [this](const char* text) { return new QLabel(text, this); };
    auto* leds = new QHBoxLayout;
    leds->setSpacing(2);
    leds->addWidget(ledTotalBytes);
    leds->addWidget(dot("."));
    leds->addWidget(ledTotalBytesDec);
    leds->addWidget(dot("Kb"));
    leds->addSpacing(12);
    leds->addWidget(ledHour);
    leds->addWidget(dot(":"));
    leds->addWidget(ledMin);
    leds->addWidget(dot(":"));
    leds->addWidget(ledSec);
    leds->addSpacing(12);
    leds->addWidget(ledRate);
    leds->addWidget(dot("."));
    leds->addWidget(ledRateDec);
    leds->addWidget(dot("Kb/sec"));
    leds->addStretch();

    // Everything fits the status host's 120 pixels: tight rows, no slack between them.
    auto* left = new QVBoxLayout;
    left->setSpacing(2);
    left->addLayout(head);
    left->addLayout(gauges);
    left->addLayout(leds);
    left->addStretch();

    auto* top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addWidget(chartStats, 1);

    auto* line = new QHBoxLayout;
    line->addWidget(lblStatus);
    line->addSpacing(20);
    line->addWidget(ProgressBar, 1);
    line->addStretch(0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->setSpacing(2);
    layout->addLayout(top, 1);
    layout->addLayout(line);

    ApplySkin();
    ShowTask();
    ShowCounters();
    ShowLine();

    m_timer = new QTimer(this);
    m_timer->setInterval(kRefreshMs);
    connect(m_timer, &QTimer::timeout, this, &TStatusPanel::Flush);
    m_timer->start();
    m_session.Events().Subscribe(*this);
}

TStatusPanel::~TStatusPanel() { m_session.Events().Unsubscribe(*this); }

void TStatusPanel::ApplySkin()
{
    const TColourScheme& colours = m_session.App().Colours();
    const QColor dark(QRgb(colours.dark)), main(QRgb(colours.main)), accent(QRgb(colours.accent)),
        light(QRgb(colours.light));
    QPalette panel = palette();
    panel.setColor(QPalette::Window, main);
    panel.setColor(QPalette::WindowText, light.lightness() > main.lightness() ? light : dark);
    setPalette(panel);
    // LED digits must stand out on their black face: the scheme's light colour, or classic green.
    const QColor digits = light.lightness() > 160 ? light : QColor(0x40, 0xff, 0x40);
    for (QLCDNumber* led : {ledTotalBytes, ledTotalBytesDec, ledHour, ledMin, ledSec, ledRate, ledRateDec}) {
        QPalette p = led->palette();
        p.setColor(QPalette::Window, Qt::black);
        p.setColor(QPalette::WindowText, digits);
        led->setAutoFillBackground(true);
        led->setPalette(p);
    }
    chartStats->SetLineColour(accent.isValid() && accent != Qt::black ? accent : QColor(Qt::green));

    btnRun->setIcon(SkinIcon(m_session.App(), "run.bmp", style()->standardIcon(QStyle::SP_MediaPlay)));
    btnStop->setIcon(SkinIcon(m_session.App(), "stop.bmp", style()->standardIcon(QStyle::SP_MediaStop)));
}

void TStatusPanel::SetRunEnabled(bool enabled)
{
    m_runEnabled = enabled;
    ShowTask();
}

void TStatusPanel::Flush()
{
    TStatusModel& model = m_session.Status();
    const unsigned changes = model.TakeChanges();
    if (changes & kStatusTaskChanged)
        ShowTask();
    if (changes & (kStatusCountersChanged | kStatusTaskChanged))
        ShowCounters();
    if (changes & kStatusChartChanged)
        chartStats->SetPoints(model.TransferRate());
    if (changes & kStatusLineChanged)
        ShowLine();
}

void TStatusPanel::ShowTask()
{
    const TStatusModel& model = m_session.Status();
    lblTaskName->setText(QString::fromStdString(model.TaskName()));
    btnRun->setEnabled(model.RunEnabled() && m_runEnabled);
    btnStop->setEnabled(model.StopEnabled());
}

void TStatusPanel::ShowCounters()
{
    const TStatusCounters& c = m_session.Status().Counters();
    SetGauge(gaugePages, c.pagesProgress, c.pagesMax, c.pagesCaption.empty() ? "0/0 -> " : c.pagesCaption);
    SetGauge(gaugeRes, c.resourcesProgress, c.resourcesMax,
             c.resourcesCaption.empty() ? "0/0 -> " : c.resourcesCaption);
    SetGauge(gaugeErrors, c.errorsProgress, c.errorsMax, c.errorsCaption.empty() ? "0/0 -> " : c.errorsCaption);
    // Six digits: a larger count shows as the highest the display holds, never as a wrong one.
    ledTotalBytes->display(QString::number(std::min<std::int64_t>(c.totalKBytes, 999999)));
    ledTotalBytesDec->display(c.totalKBytesDecimal);
    ledHour->display(c.hours);
    ledMin->display(c.minutes);
    ledSec->display(c.seconds);
    ledRate->display(c.rate);
    ledRateDec->display(QString("%1").arg(c.rateDecimals, 2, 10, QChar('0')));
}

void TStatusPanel::ShowLine()
{
    const TStatusModel& model = m_session.Status();
    lblStatus->setText(QString::fromStdString(model.StatusText()));
    if (model.ProgressVisible()) {
        const std::int64_t maximum = std::max<std::int64_t>(1, model.ProgressMaximum());
        ProgressBar->setRange(0, ProgressUnits(maximum, maximum));
        ProgressBar->setValue(ProgressUnits(std::clamp<std::int64_t>(model.ProgressPosition(), 0, maximum), maximum));
        ProgressBar->show();
    } else {
        ProgressBar->hide();
    }
}

void TStatusPanel::OnProgress(const std::string& text, std::int64_t position, std::int64_t maximum)
{
    m_session.Status().ShowStatus(text, maximum == 0 ? 0 : position, maximum);
}

void TStatusPanel::OnTaskChanged(TPXTask& task)
{
    if (&task == m_session.Status().Task())
        m_session.Status().RefreshCounters();
}

void TStatusPanel::OnTaskCompleted(TPXTask& task, const std::string&)
{
    if (&task == m_session.Status().Task())
        m_session.Status().RefreshCounters();
}

} // namespace pellix
