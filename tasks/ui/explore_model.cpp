// TExploreModel: every item of one task's download list as a Qt item model: a row keeps only
// its item and state image, cells are read from the list's lines when painted; sorting and
// filtering go through an index vector; changes during a crawl are collected and shown on a timer.
#include "tasks/ui/explore_model.h"

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>

#include <algorithm>
#include <numeric>

#include "engine/download_list.h"
#include "engine/queue_item.h"
#include "engine/task.h"
#include "links/text_helpers.h"

namespace pellix {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

bool NumericColumn(int column)
{
    return column == kExploreSize || column == kExploreLevel || column == kExploreMark || column == kExploreStatus;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

TExploreModel::TExploreModel(TSessionEvents& events, QObject* parent) : QAbstractTableModel(parent), m_events(events)
{
    m_flush.setSingleShot(true);
    m_flush.setInterval(kFlushMs);
    connect(&m_flush, &QTimer::timeout, this, &TExploreModel::Flush);
    m_events.Subscribe(*this);
}

TExploreModel::~TExploreModel()
{
    m_events.Unsubscribe(*this);
}

void TExploreModel::Bind(std::shared_ptr<TPXTask> task)
{
    beginResetModel();
    m_task = std::move(task);
    m_rows.clear();
    m_changed.clear();
    m_order.clear();
    m_cachedRow = UINT32_MAX;
    if (m_task) {
        const TPXDownloadList& list = m_task->DownloadList();
        const std::size_t count = list.Count();
        m_rows.resize(count);
        for (std::size_t pair = 0; pair < count; ++pair) {
            TRow& row = m_rows[pair];
            row.item = list.Item(pair);
            if (row.item)
                row.image = static_cast<std::uint8_t>(
                    TPXDownloadList::StateImage(row.item->State(), row.item->Action()).value_or(kMarkImageNone));
        }
    }
    m_pendingFrom = m_rows.size();
    m_shownData = m_rows.size();
    if (!Identity() || std::any_of(m_rows.begin(), m_rows.end(), [](const TRow& r) { return !r.item; }))
        RebuildOrder();
    endResetModel();
    m_flush.stop();
}

void TExploreModel::Clear()
{
    Bind(nullptr);
}

int TExploreModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return static_cast<int>(m_order.empty() && Identity() ? m_shownData : m_order.size());
}

int TExploreModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kExploreColumnCount;
}

std::uint32_t TExploreModel::DataRow(int row) const
{
    if (m_order.empty() && Identity())
        return static_cast<std::uint32_t>(row);
    return m_order[static_cast<std::size_t>(row)];
}

TExploreRow TExploreModel::ReadRow(std::uint32_t dataRow) const
{
    if (dataRow == m_cachedRow)
        return m_cached;
    const TPXQItem* item = m_rows[dataRow].item;
    const TPXDownloadList& list = m_task->DownloadList();
    const std::size_t line = item->ListIndex();
    m_cached = ExploreRowOf(list.Line(line), list.Line(line + 1));
    m_cachedRow = dataRow;
    return m_cached;
}

QVariant TExploreModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !m_task || index.row() >= rowCount())
        return {};
    const std::uint32_t dataRow = DataRow(index.row());
    const TRow& r = m_rows[dataRow];
    if (!r.item)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        if (index.column() == kExploreMark)
            return role == Qt::AccessibleTextRole ? Q(ExploreImageHint(r.image)) : QVariant();
        return Q(ExploreCellText(ReadRow(dataRow), index.column()));
    case Qt::DecorationRole:
        if (index.column() == kExploreMark)
            return StateIcon(r.image);
        return {};
    case Qt::ToolTipRole:
        if (index.column() == kExploreMark)
            return Q(ExploreImageHint(r.image));
        return {};
    case Qt::ForegroundRole: {
        const TRgb colour = ExploreTextColour(r.item->State());
        return QColor(colour.red, colour.green, colour.blue);
    }
    case Qt::TextAlignmentRole:
        if (index.column() == kExploreSize || index.column() == kExploreLevel)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

QVariant TExploreModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kExploreColumnCount)
        return QString::fromLatin1(ExploreColumns()[static_cast<std::size_t>(section)].caption);
    return QAbstractTableModel::headerData(section, orientation, role);
}

void TExploreModel::sort(int column, Qt::SortOrder order)
{
    if (column >= kExploreColumnCount)
        return;
    Flush();
    ChangeLayout([&] {
        m_sortColumn = column;
        m_sortOrder = order;
        RebuildOrder();
    });
}

void TExploreModel::SetFilter(const QString& text)
{
    if (text == m_filter)
        return;
    Flush();
    beginResetModel();
    m_filter = text;
    m_filterLower = Lower(text.toStdString());
    RebuildOrder();
    endResetModel();
}

bool TExploreModel::PassesFilter(std::uint32_t dataRow) const
{
    const TPXQItem* item = m_rows[dataRow].item;
    if (!item)
        return false;
    if (m_filterLower.empty())
        return true;
    const auto holds = [this](std::string_view text) {
        return std::search(text.begin(), text.end(), m_filterLower.begin(), m_filterLower.end(), [](char a, char b) {
                   return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
               }) != text.end();
    };
    const TPXDownloadList& list = m_task->DownloadList();
    if (holds(list.Line(item->ListIndex())))
        return true;
    const std::string record = list.Line(item->ListIndex() + 1);
    return holds(FieldOf(record, kRecordSeparator, 1)) || holds(FieldOf(record, kRecordSeparator, 8));
}

void TExploreModel::RebuildOrder()
{
    m_order.clear();
    const auto count = static_cast<std::uint32_t>(m_pendingFrom);
    const bool anyMissing =
        std::any_of(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(m_pendingFrom),
                    [](const TRow& r) { return !r.item; });
    if (Identity() && !anyMissing)
        return;
    m_order.reserve(count);
    for (std::uint32_t row = 0; row < count; ++row)
        if (PassesFilter(row))
            m_order.push_back(row);
    if (m_sortColumn < 0)
        return;
    // Keys are read once for the rows shown, then dropped again.
    const int column = m_sortColumn;
    const bool descending = m_sortOrder == Qt::DescendingOrder;
    if (NumericColumn(column)) {
        std::vector<std::int64_t> keys(m_rows.size(), 0);
        for (const std::uint32_t row : m_order) {
            if (column == kExploreMark)
                keys[row] = m_rows[row].image;
            else if (column == kExploreStatus)
                keys[row] = m_rows[row].item->State();
            else {
                const TExploreRow data = ReadRow(row);
                keys[row] = column == kExploreSize ? data.size : data.depth;
            }
        }
        std::stable_sort(m_order.begin(), m_order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return descending ? keys[b] < keys[a] : keys[a] < keys[b];
        });
    } else {
        std::vector<std::string> keys(m_rows.size());
        for (const std::uint32_t row : m_order)
            keys[row] = Lower(ExploreCellText(ReadRow(row), column));
        std::stable_sort(m_order.begin(), m_order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return descending ? keys[b] < keys[a] : keys[a] < keys[b];
        });
    }
}

TPXQItem* TExploreModel::ItemAt(int row) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    return m_rows[DataRow(row)].item;
}

int TExploreModel::RowOf(const TPXQItem& item) const
{
    const std::size_t dataRow = item.ListIndex() / 2;
    if (dataRow >= m_pendingFrom || m_rows[dataRow].item != &item)
        return -1;
    if (m_order.empty() && Identity())
        return static_cast<int>(dataRow);
    const auto found = std::find(m_order.begin(), m_order.end(), static_cast<std::uint32_t>(dataRow));
    return found == m_order.end() ? -1 : static_cast<int>(found - m_order.begin());
}

std::optional<TExploreRow> TExploreModel::RowData(int row) const
{
    if (!ItemAt(row))
        return std::nullopt;
    return ReadRow(DataRow(row));
}

int TExploreModel::StateImageAt(int row) const
{
    return ItemAt(row) ? m_rows[DataRow(row)].image : static_cast<int>(kMarkImageNone);
}

void TExploreModel::OnItemsCleared(TPXTask& task)
{
    if (m_task.get() != &task)
        return;
    // The task stays bound: a run that starts afresh adds its rows again.
    std::shared_ptr<TPXTask> keep = m_task;
    Bind(nullptr);
    beginResetModel();
    m_task = std::move(keep);
    endResetModel();
}

void TExploreModel::OnItemAdded(TPXTask& task, TPXQItem& item)
{
    if (m_task.get() != &task)
        return;
    const std::size_t dataRow = item.ListIndex() / 2;
    if (dataRow < m_pendingFrom) {
        // A row already shown got its item again (a reload): a change.
        m_rows[dataRow].item = &item;
        OnItemChanged(task, item, TPXDownloadList::StateImage(item.State(), item.Action()));
        return;
    }
    if (dataRow >= m_rows.size())
        m_rows.resize(dataRow + 1);
    m_rows[dataRow].item = &item;
    m_rows[dataRow].image = static_cast<std::uint8_t>(
        TPXDownloadList::StateImage(item.State(), item.Action()).value_or(kMarkImageNone));
    ScheduleFlush();
}

void TExploreModel::OnItemChanged(TPXTask& task, TPXQItem& item, std::optional<int> stateImage)
{
    if (m_task.get() != &task)
        return;
    const std::size_t dataRow = item.ListIndex() / 2;
    if (dataRow >= m_rows.size() || m_rows[dataRow].item != &item)
        return;
    TRow& row = m_rows[dataRow];
    if (stateImage)
        row.image = static_cast<std::uint8_t>(*stateImage);
    if (dataRow == m_cachedRow)
        m_cachedRow = UINT32_MAX;
    if (dataRow < m_pendingFrom && !row.changed) {
        row.changed = true;
        m_changed.push_back(static_cast<std::uint32_t>(dataRow));
    }
    ScheduleFlush();
}

void TExploreModel::ScheduleFlush()
{
    if (!m_flush.isActive())
        m_flush.start();
}

void TExploreModel::Flush()
{
    m_flush.stop();
    m_cachedRow = UINT32_MAX;
    // Changes first, to rows already shown: one signal per run of neighbouring rows, since a view
    // measures every row of a signalled range again.
    if (!m_changed.empty()) {
        std::vector<int> rows;
        rows.reserve(m_changed.size());
        if (m_order.empty() && Identity()) {
            for (const std::uint32_t dataRow : m_changed)
                rows.push_back(static_cast<int>(dataRow));
        } else {
            // One pass over the index vector finds every changed row.
            for (std::size_t row = 0; row < m_order.size(); ++row)
                if (m_rows[m_order[row]].changed)
                    rows.push_back(static_cast<int>(row));
        }
        for (const std::uint32_t dataRow : m_changed)
            m_rows[dataRow].changed = false;
        m_changed.clear();
        std::sort(rows.begin(), rows.end());
        for (std::size_t i = 0; i < rows.size();) {
            std::size_t j = i;
            while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
                ++j;
            emit dataChanged(index(rows[i], 0), index(rows[j], kExploreColumnCount - 1));
            i = j + 1;
        }
    }
    if (m_pendingFrom >= m_rows.size())
        return;
    const std::size_t from = m_pendingFrom;
    const std::size_t to = m_rows.size();
    if (m_order.empty() && Identity()) {
        bool complete = true;
        for (std::size_t row = from; row < to && complete; ++row)
            complete = m_rows[row].item != nullptr;
        if (complete) {
            beginInsertRows({}, static_cast<int>(from), static_cast<int>(to - 1));
            m_pendingFrom = to;
            m_shownData = to;
            endInsertRows();
            return;
        }
        // A gap (a pair without an item): from now on the rows go through the index vector.
        emit layoutAboutToBeChanged();
        m_pendingFrom = to;
        RebuildOrder();
        emit layoutChanged();
        return;
    }
    // Not sorted: new rows that pass the filter go at the end.
    if (m_sortColumn < 0) {
        std::vector<std::uint32_t> added;
        m_pendingFrom = to;
        for (std::size_t row = from; row < to; ++row)
            if (PassesFilter(static_cast<std::uint32_t>(row)))
                added.push_back(static_cast<std::uint32_t>(row));
        if (added.empty())
            return;
        const int first = static_cast<int>(m_order.size());
        beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
        m_order.insert(m_order.end(), added.begin(), added.end());
        endInsertRows();
        return;
    }
    // Sorted: each new row goes to its place among the shown ones, which keep theirs.
    ChangeLayout([&] {
        m_pendingFrom = to;
        const int column = m_sortColumn;
        const bool descending = m_sortOrder == Qt::DescendingOrder;
        const auto key = [&](std::uint32_t row) -> std::pair<std::int64_t, std::string> {
            if (column == kExploreMark)
                return {m_rows[row].image, {}};
            if (column == kExploreStatus)
                return {m_rows[row].item->State(), {}};
            const TExploreRow data = ReadRow(row);
            if (column == kExploreSize)
                return {data.size, {}};
            if (column == kExploreLevel)
                return {data.depth, {}};
            return {0, Lower(ExploreCellText(data, column))};
        };
        for (std::size_t row = from; row < to; ++row) {
            const auto dataRow = static_cast<std::uint32_t>(row);
            if (!PassesFilter(dataRow))
                continue;
            const auto newKey = key(dataRow);
            const auto place = std::upper_bound(m_order.begin(), m_order.end(), newKey,
                                                [&](const std::pair<std::int64_t, std::string>& k, std::uint32_t other) {
                                                    const auto otherKey = key(other);
                                                    return descending ? otherKey < k : k < otherKey;
                                                });
            m_order.insert(place, dataRow);
        }
    });
}

void TExploreModel::ChangeLayout(const std::function<void()>& change)
{
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<std::uint32_t> items;
    items.reserve(before.size());
    for (const QModelIndex& index : before)
        items.push_back(DataRow(index.row()));
    change();
    QModelIndexList after;
    after.reserve(before.size());
    for (int i = 0; i < before.size(); ++i) {
        const int row = RowOf(*m_rows[items[static_cast<std::size_t>(i)]].item);
        after.push_back(row < 0 ? QModelIndex() : index(row, before[i].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

QIcon TExploreModel::StateIcon(int image)
{
    static QIcon icons[6];
    if (image < 0 || image > 5)
        image = kMarkImageNone;
    QIcon& icon = icons[image];
    if (!icon.isNull())
        return icon;
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (image) {
    case kMarkImageNone:
        painter.setPen(QColor(128, 128, 128));
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(2.5, 2.5, 11, 11));
        break;
    case kMarkImageDownload: // a box with a down arrow
        painter.setPen(QColor(0, 90, 0));
        painter.setBrush(QColor(0, 160, 0));
        painter.drawPolygon(QPolygonF({QPointF(5, 2), QPointF(11, 2), QPointF(11, 8), QPointF(14, 8), QPointF(8, 14),
                                       QPointF(2, 8), QPointF(5, 8)}));
        break;
    case kMarkImageMap: // a page outline
        painter.setPen(QPen(QColor(0, 0, 128), 1.2));
        painter.setBrush(QColor(220, 230, 255));
        painter.drawRect(QRectF(3.5, 1.5, 9, 13));
        painter.drawLine(QPointF(5.5, 5), QPointF(10.5, 5));
        painter.drawLine(QPointF(5.5, 8), QPointF(10.5, 8));
        painter.drawLine(QPointF(5.5, 11), QPointF(10.5, 11));
        break;
    case kMarkImageUpdate: // two turning arrows
        painter.setPen(QPen(QColor(0, 100, 160), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(3, 3, 10, 10), 30 * 16, 150 * 16);
        painter.drawArc(QRectF(3, 3, 10, 10), 210 * 16, 150 * 16);
        painter.setBrush(QColor(0, 100, 160));
        painter.drawPolygon(QPolygonF({QPointF(12, 1), QPointF(14, 6), QPointF(9, 5)}));
        painter.drawPolygon(QPolygonF({QPointF(4, 15), QPointF(2, 10), QPointF(7, 11)}));
        break;
    case kMarkImageError: // a red cross
        painter.setPen(QPen(QColor(200, 0, 0), 2.5));
        painter.drawLine(QPointF(4, 4), QPointF(12, 12));
        painter.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    default: // done: a tick
        painter.setPen(QPen(QColor(0, 0, 128), 2.2));
        painter.drawLine(QPointF(3, 8.5), QPointF(6.5, 12));
        painter.drawLine(QPointF(6.5, 12), QPointF(13, 4));
        break;
    }
    painter.end();
    icon = QIcon(pixmap);
    return icon;
}

} // namespace pellix
