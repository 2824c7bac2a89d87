#include "tasks/ui/connections_view.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <algorithm>

#include <QApplication>
#include <QPainter>
#include <QSlider>
#include <QStyleOptionProgressBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "engine/slot_list.h"
#include "tasks/ui/slot_table_model.h"
#include "tasks/ui/status_panel.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"

namespace pellix {
namespace {

// The progress column's text ("\x1E" blocks and a percentage) drawn as a bar, which reads at a
// glance and does not depend on a font having block glyphs; the text stays for screen readers.
class TProgressDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QString text = index.data(Qt::DisplayRole).toString();
        const qsizetype percentAt = text.lastIndexOf('%');
        if (percentAt < 0) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        qsizetype start = percentAt;
        while (start > 0 && text[start - 1].isDigit())
            --start;
        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(1, 2, -1, -2);
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = std::clamp(text.mid(start, percentAt - start).toInt(), 0, 100);
        bar.text = QString::number(bar.progress) + "%";
        bar.textVisible = true;
        bar.state = option.state | QStyle::State_Horizontal;
        QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
    }
};

} // namespace

TConnectionsView::TConnectionsView(TSession& session, TStatusPanel& statusPanel, QWidget* parent)
    : QWidget(parent), m_session(session), m_statusPanel(statusPanel)
{
    setObjectName("FormDownloader");
    setAccessibleName("Connections");
    m_model = new TSlotTableModel(m_session.Slots(), this);
    lvSockets = new QTreeView(this);
    lvSockets->setObjectName("lvSockets");
    lvSockets->setAccessibleName("Connections");
    lvSockets->setRootIsDecorated(false);
    lvSockets->setUniformRowHeights(true);
    lvSockets->setSelectionMode(QAbstractItemView::NoSelection);
    lvSockets->setModel(m_model);
    lvSockets->setItemDelegateForColumn(TSlotTableModel::kProgress, new TProgressDelegate(lvSockets));
    const int widths[] = {200, 100, 70, 70, 150};
    for (int column = 0; column < TSlotTableModel::kColumnCount; ++column)
        lvSockets->setColumnWidth(column, widths[column]);
    lvSockets->header()->setStretchLastSection(true);

    tbSockets = new QSlider(Qt::Horizontal, this);
    tbSockets->setObjectName("tbSockets");
    tbSockets->setAccessibleName("Connections:");
    tbSockets->setRange(TSlotList::kMinConnections, TSlotList::kMaxConnections);
    tbSockets->setTickPosition(QSlider::TicksBelow);
    tbSockets->setTickInterval(1);
    tbSockets->setPageStep(1);
    lblSockets = new QLabel(this);
    lblSockets->setObjectName("lblSockets");
    lblSockets->setAccessibleName("Connections");
    lblSockets->setMinimumWidth(24);

    tbPriority = new QSlider(Qt::Horizontal, this);
    tbPriority->setObjectName("tbPriority");
    tbPriority->setAccessibleName("Download Priority:");
    tbPriority->setRange(0, 10);
    tbPriority->setTickPosition(QSlider::TicksBelow);
    tbPriority->setTickInterval(1);
    tbPriority->setPageStep(1);

    auto* sliders = new QGridLayout;
    sliders->addWidget(new QLabel("Connections:", this), 0, 0);
    sliders->addWidget(tbSockets, 0, 1, 1, 3);
    sliders->addWidget(lblSockets, 0, 4);
    sliders->addWidget(new QLabel("Download Priority:", this), 1, 0);
    sliders->addWidget(new QLabel("Pages", this), 1, 1);
    sliders->addWidget(tbPriority, 1, 2);
    sliders->addWidget(new QLabel("Media files", this), 1, 3);
    sliders->setColumnStretch(2, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lvSockets, 1);
    layout->addLayout(sliders);

    m_following = true;
    tbSockets->setValue(m_session.Slots().Connections());
    tbPriority->setValue(m_session.App().Priority());
    lblSockets->setText(QString::number(tbSockets->value()));
    m_following = false;
    connect(tbSockets, &QSlider::valueChanged, this, &TConnectionsView::tbSocketsChange);
    connect(tbPriority, &QSlider::valueChanged, this, &TConnectionsView::tbPriorityChange);

    m_timer = new QTimer(this);
    m_timer->setInterval(kRefreshMs);
    connect(m_timer, &QTimer::timeout, this, &TConnectionsView::Flush);
}

TConnectionsView::~TConnectionsView() = default;

void TConnectionsView::showEvent(QShowEvent* event)
{
    Flush();
    m_timer->start();
    QWidget::showEvent(event);
}

void TConnectionsView::hideEvent(QHideEvent* event)
{
    m_timer->stop();
    QWidget::hideEvent(event);
}

void TConnectionsView::SetConnections(int n)
{
    m_following = true;
    tbSockets->setValue(n);
    m_following = false;
    tbSocketsChange();
}

void TConnectionsView::SetPriority(int priority)
{
    m_following = true;
    tbPriority->setValue(priority);
    m_following = false;
}

void TConnectionsView::tbSocketsChange()
{
    lblSockets->setText(QString::number(tbSockets->value()));
    if (m_following)
        return;
    // The slot list stores the "Connections" setting through the session's wiring.
    m_session.Slots().SetConnections(tbSockets->value());
    Flush();
}

void TConnectionsView::tbPriorityChange()
{
    if (!m_following)
        m_session.App().SetPriority(tbPriority->value());
}

void TConnectionsView::Flush()
{
    m_model->Flush();
    // The end of a run sets the slots (and the setting) to what was left: the slider follows.
    const int connections = m_session.Slots().Connections();
    if (tbSockets->value() != connections) {
        m_following = true;
        tbSockets->setValue(connections);
        m_following = false;
    }
}

} // namespace pellix
