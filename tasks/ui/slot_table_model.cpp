#include "tasks/ui/slot_table_model.h"

#include "engine/slot_list.h"

namespace pellix {

TSlotTableModel::TSlotTableModel(TSlotList& slotList, QObject* parent) : QAbstractTableModel(parent), m_slots(slotList)
{
    Flush();
}

TSlotTableModel::~TSlotTableModel() = default;

void TSlotTableModel::Flush()
{
    const bool reshaped = m_slots.TakeRowsAddedOrRemoved() || m_rows.size() != m_slots.Count();
    std::vector<std::pair<std::size_t, TSlotRow>> changed = m_slots.TakeChangedRows();
    if (reshaped) {
        beginResetModel();
        m_rows.clear();
        for (std::size_t i = 0; i < m_slots.Count(); ++i)
            m_rows.push_back(m_slots.Slot(i).ShownRow());
        endResetModel();
        return;
    }
    for (auto& [index, row] : changed) {
        if (index >= m_rows.size() || m_rows[index] == row)
            continue;
        m_rows[index] = std::move(row);
        const int r = static_cast<int>(index);
        emit dataChanged(this->index(r, 0), this->index(r, kColumnCount - 1));
    }
}

int TSlotTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TSlotTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QString TSlotTableModel::CellText(const TSlotRow& row, int column)
{
    switch (column) {
    case kRetrieving:
        // Until its first transfer a slot shows its own name.
        return QString::fromStdString(row.retrieving.empty() ? row.caption : row.retrieving);
    case kProgress: {
        QString text = QString::fromStdString(row.progress);
        text.replace(QChar(0x1E), QChar(0x2588));
        return text;
    }
    case kBytes: return QString::fromStdString(row.bytes);
    case kSize: return QString::fromStdString(row.size);
    case kStatus: return QString::fromStdString(row.status);
    default: return {};
    }
}

QVariant TSlotTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size()))
        return {};
    const TSlotRow& row = m_rows[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole)
        return CellText(row, index.column());
    if (role == Qt::ToolTipRole && index.column() == kRetrieving)
        return QString::fromStdString(row.caption);
    if (role == Qt::TextAlignmentRole && (index.column() == kBytes || index.column() == kSize))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant TSlotTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const kTitles[] = {"Retrieving", "Progress", "Bytes", "Size", "Status"};
    return section >= 0 && section < kColumnCount ? QString(kTitles[section]) : QVariant();
}

} // namespace pellix
