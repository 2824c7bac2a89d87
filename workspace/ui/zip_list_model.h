// TZipListModel: the zip file list's rows (Name, Size, Packed, Ratio, Modified, Path) over the
// entries of the selected node; sortable by any column; files dropped on it are handed on.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

#include "workspace/zip_engine.h"

namespace pellix {

class TZipIconCache;

class TZipListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { Name, Size, Packed, Ratio, Modified, Path, ColumnCount };

    explicit TZipListModel(TZipIconCache& icons, QObject* parent = nullptr);

    void SetRows(std::vector<TZipEntry> rows);
    // Rows added at the end (entries that came with a task's pack), in the current order.
    void AppendRows(const std::vector<TZipEntry>& rows);
    const TZipEntry& Entry(int row) const { return m_rows[static_cast<std::size_t>(row)]; }
    const std::vector<TZipEntry>& Rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order) override;

    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    static QString ModifiedText(double dateTime);

signals:
    // Local files and folders dropped onto the list.
    void FilesDropped(const QStringList& paths);

private:
    TZipIconCache& m_icons;
    std::vector<TZipEntry> m_rows;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

} // namespace pellix
