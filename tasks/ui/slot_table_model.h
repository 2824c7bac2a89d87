// TSlotTableModel: the connection slots as table rows (what each retrieves, its progress, bytes,
// size and status), refreshed from the slot list's changed rows when the view flushes.
#pragma once

#include <QAbstractTableModel>

#include <vector>

#include "engine/connection_slot.h"

namespace pellix {

class TSlotList;

class TSlotTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { kRetrieving, kProgress, kBytes, kSize, kStatus, kColumnCount };

    explicit TSlotTableModel(TSlotList& slotList, QObject* parent = nullptr);
    ~TSlotTableModel() override;

    // Takes the slot list's changes: rows added or removed reset the table, changed rows are
    // updated in place. Owner thread.
    void Flush();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // A cell's text as shown (the progress bar marks become block characters).
    static QString CellText(const TSlotRow& row, int column);

private:
    TSlotList& m_slots;
    std::vector<TSlotRow> m_rows;
};

} // namespace pellix
