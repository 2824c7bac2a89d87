// TZipListModel: the zip file list's rows.
#include "workspace/ui/zip_list_model.h"

#include <QDateTime>
#include <QLocale>
#include <QMimeData>
#include <QUrl>

#include <algorithm>
#include <unordered_map>

#include "links/date_time.h"
#include "workspace/ui/zip_icon_cache.h"
#include "workspace/zip_tree.h"

namespace pellix {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            files << url.toLocalFile();
    return files;
}

} // namespace

TZipListModel::TZipListModel(TZipIconCache& icons, QObject* parent) : QAbstractTableModel(parent), m_icons(icons) {}

void TZipListModel::SetRows(std::vector<TZipEntry> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
    if (m_sortColumn >= 0)
        sort(m_sortColumn, m_sortOrder);
}

void TZipListModel::AppendRows(const std::vector<TZipEntry>& rows) {
    if (rows.empty())
        return;
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    m_rows.insert(m_rows.end(), rows.begin(), rows.end());
    endInsertRows();
}

int TZipListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TZipListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QString TZipListModel::ModifiedText(double dateTime) {
    if (dateTime == 0)
        return {};
    const TDateTimeParts p = DecodeDateTime(dateTime);
    const QDateTime value(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second));
    return QLocale::system().toString(value, QLocale::ShortFormat);
}

QVariant TZipListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size()))
        return {};
    const TZipEntry& e = m_rows[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
        switch (index.column()) {
        case Name: return Q(TZipTree::NameOf(e.name));
        case Size: return QString::number(e.size);
        case Packed: return QString::number(e.compressedSize);
        case Ratio: return QString::number(e.ratio) + "%";
        case Modified: return ModifiedText(e.dateTime);
        case Path: return Q(TZipTree::FolderOf(e.name));
        }
    } else if (role == Qt::DecorationRole && index.column() == Name) {
        return m_icons.IconFor(Q(TZipTree::NameOf(e.name)));
    } else if (role == Qt::TextAlignmentRole && (index.column() == Size || index.column() == Packed)) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    } else if (role == Qt::ToolTipRole && index.column() == Name && !e.comment.empty()) {
        return Q(e.comment);
    } else if (role == Qt::UserRole) {
        return Q(e.name);
    }
    return {};
}

QVariant TZipListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        static const char* captions[ColumnCount] = {"Name", "Size", "Packed", "Ratio", "Modified", "Path"};
        return section >= 0 && section < ColumnCount ? QString(captions[section]) : QVariant();
    }
    if (role == Qt::TextAlignmentRole && (section == Size || section == Packed))
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags TZipListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void TZipListModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount)
        return;
    m_sortColumn = column;
    m_sortOrder = order;
    const auto key = [column](const TZipEntry& a, const TZipEntry& b) {
        switch (column) {
        case Size: return a.size < b.size;
        case Packed: return a.compressedSize < b.compressedSize;
        case Ratio: return a.ratio < b.ratio;
        case Modified: return a.dateTime < b.dateTime;
        case Path: {
            const std::string fa = TZipTree::FolderOf(a.name), fb = TZipTree::FolderOf(b.name);
            return fa != fb ? fa < fb : a.name < b.name;
        }
        default: return TZipTree::NameOf(a.name) < TZipTree::NameOf(b.name);
        }
    };
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Selected rows stay selected: persistent indexes follow their entries.
    const QModelIndexList before = persistentIndexList();
    std::vector<std::string> names;
    for (const QModelIndex& i : before)
        names.push_back(m_rows[static_cast<std::size_t>(i.row())].name);
    if (order == Qt::AscendingOrder)
        std::stable_sort(m_rows.begin(), m_rows.end(), key);
    else
        std::stable_sort(m_rows.begin(), m_rows.end(), [&key](const TZipEntry& a, const TZipEntry& b) { return key(b, a); });
    if (!before.isEmpty()) {
        std::unordered_map<std::string, int> rowOf;
        for (std::size_t r = 0; r < m_rows.size(); ++r)
            rowOf.emplace(m_rows[r].name, static_cast<int>(r));
        QModelIndexList after;
        for (int k = 0; k < before.size(); ++k)
            after << index(rowOf[names[static_cast<std::size_t>(k)]], before[k].column());
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QStringList TZipListModel::mimeTypes() const { return {"text/uri-list"}; }

Qt::DropActions TZipListModel::supportedDropActions() const { return Qt::CopyAction; }

bool TZipListModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int, const QModelIndex&) const {
    return !LocalFiles(data).isEmpty();
}

bool TZipListModel::dropMimeData(const QMimeData* data, Qt::DropAction, int, int, const QModelIndex&) {
    const QStringList files = LocalFiles(data);
    if (files.isEmpty())
        return false;
    emit FilesDropped(files);
    return true;
}

} // namespace pellix
