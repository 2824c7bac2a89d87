// TRateChart: the status panel's transfer-rate chart, one line of (elapsed seconds, KB/sec)
// points painted on a dark gradient with its title and axes.
#pragma once

#include <QWidget>

#include <vector>

#include "tasks/status_model.h"

namespace pellix {

class TRateChart final : public QWidget {
    Q_OBJECT
public:
    explicit TRateChart(QWidget* parent = nullptr);
    ~TRateChart() override;

    void SetPoints(std::vector<TChartPoint> points);
    const std::vector<TChartPoint>& Points() const { return m_points; }
    void SetLineColour(const QColor& colour);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // A value as the left axis shows it: thousands grouped, at most two decimals ("1,234.5").
    static QString AxisText(double value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<TChartPoint> m_points;
    QColor m_line;
};

} // namespace pellix
