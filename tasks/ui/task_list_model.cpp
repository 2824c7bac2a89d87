// TTaskListModel: the task list's rows as a Qt item model, with the state images, colours and
// hints of the core's rules; row changes are coalesced and shown on a timer.
#include "tasks/ui/task_list_model.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

#include "engine/task.h"

namespace pellix {

TTaskListModel::TTaskListModel(TTaskList& list, QObject* parent) : QAbstractTableModel(parent), m_list(list)
{
    m_flush.setSingleShot(true);
    m_flush.setInterval(kFlushMs);
    connect(&m_flush, &QTimer::timeout, this, &TTaskListModel::Flush);
    m_list.SetObserver(this);
}

TTaskListModel::~TTaskListModel()
{
    m_list.SetObserver(nullptr);
}

int TTaskListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_list.Count());
}

int TTaskListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kTaskColumnCount;
}

QVariant TTaskListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TPXTask& task = *m_list.Task(static_cast<std::size_t>(index.row()));
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::AccessibleTextRole:
        return QString::fromStdString(TaskCellText(task, index.column()));
    case Qt::DecorationRole:
        if (index.column() == kColumnTaskName)
            return StateIcon(TaskStateImage(task));
        return {};
    case Qt::ForegroundRole: {
        const TRgb colour = TaskTextColour(task);
        return QColor(colour.red, colour.green, colour.blue);
    }
    default:
        return {};
    }
}

QVariant TTaskListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kTaskColumnCount)
        return QString::fromLatin1(TaskColumns()[static_cast<std::size_t>(section)].caption);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TTaskListModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == kColumnTaskName)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool TTaskListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != kColumnTaskName || index.row() >= rowCount())
        return false;
    TPXTask& task = *m_list.Task(static_cast<std::size_t>(index.row()));
    const TTaskCommandResult renamed = m_list.Rename(task, value.toString().toStdString());
    if (!renamed.ok) {
        emit RenameFailed(QString::fromStdString(renamed.message));
        return false;
    }
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), kTaskColumnCount - 1));
    return true;
}

QIcon TTaskListModel::StateIcon(int image)
{
    static QIcon icons[3];
    if (image < 0 || image > 2)
        image = kImageRun;
    QIcon& icon = icons[image];
    if (!icon.isNull())
        return icon;
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (image == kImageRun) {
        painter.setBrush(QColor(0, 140, 0));
        painter.setPen(QColor(0, 90, 0));
        painter.drawPolygon(QPolygonF({QPointF(4, 2), QPointF(13, 8), QPointF(4, 14)}));
    } else if (image == kImageStop) {
        painter.setBrush(QColor(200, 0, 0));
        painter.setPen(QColor(120, 0, 0));
        QPolygonF octagon;
        for (const auto& [x, y] : {std::pair{5, 1}, {11, 1}, {15, 5}, {15, 11}, {11, 15}, {5, 15}, {1, 11}, {1, 5}})
            octagon << QPointF(x, y);
        painter.drawPolygon(octagon);
    } else {
        painter.setBrush(QColor(255, 255, 230));
        painter.setPen(QPen(QColor(0, 0, 128), 1.5));
        painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        painter.drawLine(QPointF(8, 8), QPointF(8, 4));
        painter.drawLine(QPointF(8, 8), QPointF(11, 9.5));
    }
    painter.end();
    icon = QIcon(pixmap);
    return icon;
}

void TTaskListModel::Flush()
{
    m_flush.stop();
    const std::set<const TPXTask*> dirty = std::move(m_dirty);
    m_dirty.clear();
    bool any = false;
    for (std::size_t row = 0; row < m_list.Count(); ++row) {
        if (!dirty.count(m_list.Task(row).get()))
            continue;
        const int r = static_cast<int>(row);
        emit dataChanged(index(r, 0), index(r, kTaskColumnCount - 1));
        any = true;
    }
    if (any)
        emit RowsRefreshed();
}

void TTaskListModel::OnRowsAboutToReset()
{
    beginResetModel();
}

void TTaskListModel::OnRowsReset()
{
    m_dirty.clear();
    endResetModel();
    emit RowsRefreshed();
}

void TTaskListModel::OnRowAboutToBeAdded(std::size_t row)
{
    beginInsertRows({}, static_cast<int>(row), static_cast<int>(row));
}

void TTaskListModel::OnRowAdded(std::size_t)
{
    endInsertRows();
    emit RowsRefreshed();
}

void TTaskListModel::OnRowAboutToBeRemoved(std::size_t row)
{
    m_dirty.erase(m_list.Task(row).get());
    beginRemoveRows({}, static_cast<int>(row), static_cast<int>(row));
}

void TTaskListModel::OnRowRemoved(std::size_t)
{
    endRemoveRows();
    emit RowsRefreshed();
}

void TTaskListModel::OnRowChanged(std::size_t row)
{
    m_dirty.insert(m_list.Task(row).get());
    if (!m_flush.isActive())
        m_flush.start();
}

} // namespace pellix
