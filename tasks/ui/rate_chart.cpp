#include "tasks/ui/rate_chart.h"

#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace pellix {
namespace {

// A round step for about `ticks` divisions of span: 1, 2 or 5 times a power of ten.
double NiceStep(double span, int ticks)
{
    if (span <= 0)
        return 1;
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double f : {1.0, 2.0, 5.0, 10.0})
        if (raw <= f * power)
            return f * power;
    return 10 * power;
}

} // namespace

TRateChart::TRateChart(QWidget* parent) : QWidget(parent), m_line(Qt::green)
{
    setObjectName("chartStats");
    setAccessibleName("Transfer Rate");
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TRateChart::~TRateChart() = default;

void TRateChart::SetPoints(std::vector<TChartPoint> points)
{
    m_points = std::move(points);
    update();
}

void TRateChart::SetLineColour(const QColor& colour)
{
    m_line = colour;
    update();
}

QSize TRateChart::sizeHint() const { return {360, 150}; }

// Small, so that the counters beside it keep their room at the window's minimum width.
QSize TRateChart::minimumSizeHint() const { return {140, 90}; }

QString TRateChart::AxisText(double value)
{
    // Truncated to hundredths, trailing zeros dropped.
    const double hundredths = std::floor(value * 100 + 1e-9);
    QString text = QLocale(QLocale::English).toString(hundredths / 100, 'f', 2);
    if (text.contains('.')) {
        while (text.endsWith('0'))
            text.chop(1);
        if (text.endsWith('.'))
            text.chop(1);
    }
    return text;
}

void TRateChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, height());
    background.setColorAt(0, QColor(0x30, 0x30, 0x30));
    background.setColorAt(1, Qt::black);
    p.fillRect(rect(), background);

    const QFontMetrics fm = p.fontMetrics();
    p.setPen(Qt::white);
    const QRect titleRect(0, 2, width(), fm.height());
    p.drawText(titleRect, Qt::AlignHCenter, "Transfer Rate");

    double maxX = 10, maxY = 1;
    for (const TChartPoint& point : m_points) {
        maxX = std::max(maxX, point.x);
        maxY = std::max(maxY, point.y);
    }
    const double stepY = NiceStep(maxY, 4);
    maxY = std::ceil(maxY / stepY) * stepY;

    int labelWidth = fm.horizontalAdvance("( KB/sec )");
    for (double y = 0; y <= maxY + stepY / 2; y += stepY)
        labelWidth = std::max(labelWidth, fm.horizontalAdvance(AxisText(y)));
    const QRect plot(labelWidth + 10, titleRect.bottom() + 6 + fm.height(), width() - labelWidth - 20,
                     height() - titleRect.bottom() - 12 - 3 * fm.height());
    if (plot.width() < 20 || plot.height() < 20)
        return;
    // As many time labels as the width holds.
    const int timeLabels = std::clamp(plot.width() / (fm.horizontalAdvance("000") + 8), 2, 5);
    const double stepX = NiceStep(maxX, timeLabels);
    maxX = std::ceil(maxX / stepX) * stepX;

    auto toPoint = [&](double x, double y) {
        return QPointF(plot.left() + x / maxX * plot.width(), plot.bottom() - y / maxY * plot.height());
    };

    // Grid, axis labels and titles.
    p.setPen(QColor(0x50, 0x50, 0x50));
    for (double y = 0; y <= maxY + stepY / 2; y += stepY)
        p.drawLine(toPoint(0, y), toPoint(maxX, y));
    for (double x = 0; x <= maxX + stepX / 2; x += stepX)
        p.drawLine(toPoint(x, 0), toPoint(x, maxY));
    p.setPen(Qt::lightGray);
    // In a low chart the grid lines lie closer than a line of text: label every few of them.
    const double stepPixels = plot.height() * stepY / maxY;
    const int labelEvery = std::max(1, static_cast<int>(std::ceil(fm.height() / std::max(1.0, stepPixels))));
    int line = 0;
    for (double y = 0; y <= maxY + stepY / 2; y += stepY, ++line) {
        if (line % labelEvery != 0)
            continue;
        const QPointF at = toPoint(0, y);
        p.drawText(QRectF(0, at.y() - fm.height() / 2.0, labelWidth + 4, fm.height()), Qt::AlignRight,
                   AxisText(y));
    }
    for (double x = 0; x <= maxX + stepX / 2; x += stepX) {
        const QPointF at = toPoint(x, 0);
        const QString text = QString::number(x, 'g', 6);
        p.drawText(QRectF(at.x() - 30, plot.bottom() + 2, 60, fm.height()), Qt::AlignHCenter, text);
    }
    p.drawText(QRect(0, titleRect.bottom() + 2, labelWidth + 8, fm.height()), Qt::AlignRight, "( KB/sec )");
    p.drawText(QRect(0, plot.bottom() + 2 + fm.height(), width(), fm.height()), Qt::AlignHCenter, "Time (secs)");
    p.setPen(Qt::gray);
    p.drawRect(plot);

    if (m_points.empty())
        return;
    QPainterPath path(toPoint(m_points.front().x, m_points.front().y));
    for (std::size_t i = 1; i < m_points.size(); ++i)
        path.lineTo(toPoint(m_points[i].x, m_points[i].y));
    p.setPen(QPen(m_line, 2));
    p.setClipRect(plot.adjusted(-1, -1, 1, 1));
    p.drawPath(path);
    if (m_points.size() == 1)
        p.drawEllipse(toPoint(m_points.front().x, m_points.front().y), 2, 2);
}

} // namespace pellix
