// TTaskListModel: the task list's rows as a Qt item model, with the state images, colours and
// hints of the core's rules; row changes are coalesced and shown on a timer.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QTimer>

#include <set>

#include "tasks/task_list.h"

namespace pellix {

class TTaskListModel final : public QAbstractTableModel, public ITaskListObserver {
    Q_OBJECT
public:
    static constexpr int kFlushMs = 250;

    // Observes list until destroyed.
    explicit TTaskListModel(TTaskList& list, QObject* parent = nullptr);
    ~TTaskListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // The first column's new caption renames the task; a refused name keeps the old caption and
    // the reason goes to RenameFailed.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    static QIcon StateIcon(int image);
    // Shows pending row changes now (tests, and before a menu reads the rows).
    void Flush();

signals:
    void RenameFailed(const QString& message);
    // A row's task changed (after the coalescing).
    void RowsRefreshed();

private:
    void OnRowsAboutToReset() override;
    void OnRowsReset() override;
    void OnRowAboutToBeAdded(std::size_t row) override;
    void OnRowAdded(std::size_t row) override;
    void OnRowAboutToBeRemoved(std::size_t row) override;
    void OnRowRemoved(std::size_t row) override;
    void OnRowChanged(std::size_t row) override;

    TTaskList& m_list;
    std::set<const TPXTask*> m_dirty; // compared only, never dereferenced
    QTimer m_flush;
};

} // namespace pellix
