// TExploreModel: every item of one task's download list as a Qt item model: a row keeps only
// its item and state image, cells are read from the list's lines when painted; sorting and
// filtering go through an index vector; changes during a crawl are collected and shown on a timer.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tasks/explore_rules.h"
#include "workspace/session_observer.h"

namespace pellix {

class TPXQItem;
class TPXTask;

// Owner thread only. Subscribes to the events hub for the bound task's list changes; events of
// another task's list are ignored (the view rebinds when the current task changes).
class TExploreModel final : public QAbstractTableModel, private ISessionObserver {
    Q_OBJECT
public:
    static constexpr int kFlushMs = 250;

    explicit TExploreModel(TSessionEvents& events, QObject* parent = nullptr);
    ~TExploreModel() override;

    // Shows the task's items (or none). The rows are made from the list as it is now; later
    // additions and changes come through the events.
    void Bind(std::shared_ptr<TPXTask> task);
    const std::shared_ptr<TPXTask>& Task() const { return m_task; }
    // Removes every row.
    void Clear();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

    // Rows whose URL, title or download result hold the text (any case); empty shows all.
    void SetFilter(const QString& text);
    QString Filter() const { return m_filter; }

    // The item of a shown row, or null.
    TPXQItem* ItemAt(int row) const;
    // The shown row of an item, or -1.
    int RowOf(const TPXQItem& item) const;
    // The fields of a shown row as the list holds them.
    std::optional<TExploreRow> RowData(int row) const;
    // The state image a shown row has.
    int StateImageAt(int row) const;

    // Shows pending additions and changes now (tests, and before a command reads the rows).
    void Flush();
    // Rows added or changed and not shown yet.
    bool HasPending() const { return m_pendingFrom < m_rows.size() || !m_changed.empty(); }

    static QIcon StateIcon(int image);

private:
    struct TRow {
        TPXQItem* item = nullptr; // null: a pair left without an item (never shown)
        std::uint8_t image = 0;
        bool changed = false;
    };

    void OnItemsCleared(TPXTask& task) override;
    void OnItemAdded(TPXTask& task, TPXQItem& item) override;
    void OnItemChanged(TPXTask& task, TPXQItem& item, std::optional<int> stateImage) override;

    void ScheduleFlush();
    // Runs change between the layout signals and moves the persistent indexes with their items.
    void ChangeLayout(const std::function<void()>& change);
    // Data row (pair number) of a shown row.
    std::uint32_t DataRow(int row) const;
    bool Identity() const { return m_sortColumn < 0 && m_filter.isEmpty(); }
    // Rebuilds the index vector from the sort and filter (not inside begin/end calls).
    void RebuildOrder();
    bool PassesFilter(std::uint32_t dataRow) const;
    TExploreRow ReadRow(std::uint32_t dataRow) const;

    TSessionEvents& m_events;
    std::shared_ptr<TPXTask> m_task;
    std::vector<TRow> m_rows;           // by pair number
    std::size_t m_pendingFrom = 0;      // rows from here on are not announced yet
    std::size_t m_shownData = 0;        // identity: rows announced
    std::vector<std::uint32_t> m_order; // not identity: the shown rows' data rows, in order
    std::vector<std::uint32_t> m_changed;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QString m_filter;
    std::string m_filterLower;
    QTimer m_flush;
    // The last row read for painting: a view asks for a row's cells one after another.
    mutable std::uint32_t m_cachedRow = UINT32_MAX;
    mutable TExploreRow m_cached;
};

} // namespace pellix
