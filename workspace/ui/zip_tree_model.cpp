// TZipTreeModel: the zip tree.
#include "workspace/ui/zip_tree_model.h"

#include <unordered_set>

#include "links/text_helpers.h"
#include "workspace/ui/zip_icon_cache.h"

namespace pellix {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

} // namespace

TZipTreeModel::TZipTreeModel(TZipIconCache& icons, QObject* parent) : QAbstractItemModel(parent), m_icons(icons) {}

TZipTreeModel::~TZipTreeModel() = default;

QModelIndex TZipTreeModel::AddTree(std::unique_ptr<TZipTree> tree) {
    const int row = static_cast<int>(m_trees.size());
    beginInsertRows({}, row, row);
    tree->Root().row = row;
    m_trees.push_back(std::move(tree));
    endInsertRows();
    return index(row, 0);
}

void TZipTreeModel::RemoveTree(TZipTree& tree) {
    const int row = tree.Root().row;
    if (row < 0 || row >= static_cast<int>(m_trees.size()) || m_trees[row].get() != &tree)
        return;
    beginRemoveRows({}, row, row);
    m_trees.erase(m_trees.begin() + row);
    for (std::size_t i = row; i < m_trees.size(); ++i)
        m_trees[i]->Root().row = static_cast<int>(i);
    endRemoveRows();
}

TZipTree* TZipTreeModel::FindTree(const std::string& zipPath) const {
    for (const auto& tree : m_trees)
        if (tree->ZipPath() == zipPath)
            return tree.get();
    return nullptr;
}

TZipNode* TZipTreeModel::NodeOf(const QModelIndex& index) {
    return index.isValid() ? static_cast<TZipNode*>(index.internalPointer()) : nullptr;
}

TZipTree* TZipTreeModel::TreeOf(const QModelIndex& index) const {
    const TZipNode* node = NodeOf(index);
    while (node && node->parent)
        node = node->parent;
    if (!node || node->row < 0 || node->row >= static_cast<int>(m_trees.size()))
        return nullptr;
    TZipTree* tree = m_trees[node->row].get();
    return &tree->Root() == node ? tree : nullptr;
}

QModelIndex TZipTreeModel::IndexOf(const TZipNode* node) const {
    return node ? createIndex(node->row, 0, const_cast<TZipNode*>(node)) : QModelIndex();
}

QModelIndex TZipTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row < static_cast<int>(m_trees.size()) ? createIndex(row, 0, &m_trees[row]->Root()) : QModelIndex();
    const TZipNode* node = NodeOf(parent);
    if (row >= static_cast<int>(node->children.size()))
        return {};
    return createIndex(row, 0, node->children[row].get());
}

QModelIndex TZipTreeModel::parent(const QModelIndex& child) const {
    const TZipNode* node = NodeOf(child);
    return node && node->parent ? IndexOf(node->parent) : QModelIndex();
}

int TZipTreeModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid())
        return static_cast<int>(m_trees.size());
    return static_cast<int>(NodeOf(parent)->children.size());
}

int TZipTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant TZipTreeModel::data(const QModelIndex& index, int role) const {
    const TZipNode* node = NodeOf(index);
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: return Q(node->Caption());
    case Qt::EditRole: return Q(node->name);
    case Qt::ToolTipRole: return node->kind == TZipNodeKind::Root ? Q(node->path) : QVariant();
    case Qt::DecorationRole:
        return node->kind == TZipNodeKind::Folder ? m_icons.FolderIcon() : m_icons.IconFor(Q(node->name));
    default: return {};
    }
}

bool TZipTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    TZipNode* node = NodeOf(index);
    if (!node || role != Qt::EditRole || node->kind != TZipNodeKind::Root || !OnRename)
        return false;
    TZipTree* tree = TreeOf(index);
    const QString name = value.toString();
    if (!tree || name == Q(node->name))
        return false;
    // The caption changes only when the file did (OnRename calls SetZipPath).
    return OnRename(*tree, name);
}

Qt::ItemFlags TZipTreeModel::flags(const QModelIndex& index) const {
    const TZipNode* node = NodeOf(index);
    if (!node)
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (node->kind == TZipNodeKind::Root)
        f |= Qt::ItemIsEditable;
    return f;
}

void TZipTreeModel::SetZipPath(TZipTree& tree, const std::string& path) {
    tree.SetZipPath(path);
    const QModelIndex root = IndexOf(&tree.Root());
    emit dataChanged(root, root);
}

void TZipTreeModel::AddOne(TZipTree& tree, const TZipEntry& row) {
    if (row.name.empty())
        return;
    TZipNode* parent = &tree.Root();
    for (const std::string& level : TZipTree::FolderLevels(row.name)) {
        TZipNode* folder = tree.FindFolder(level);
        if (!folder) {
            const int at = static_cast<int>(parent->children.size());
            beginInsertRows(IndexOf(parent), at, at);
            folder = tree.AddChild(*parent, TZipNodeKind::Folder, TZipTree::NameOf(level.substr(0, level.size() - 1)),
                                   level);
            endInsertRows();
        }
        parent = folder;
    }
    if (row.name.back() == '/')
        return;
    if (TZipNode* existing = tree.FindEntry(row.name)) {
        if (existing->comment != row.comment) {
            existing->comment = row.comment;
            const QModelIndex i = IndexOf(existing);
            emit dataChanged(i, i);
        }
        return;
    }
    const int at = static_cast<int>(parent->children.size());
    beginInsertRows(IndexOf(parent), at, at);
    tree.AddChild(*parent, TZipNodeKind::File, TZipTree::NameOf(row.name), row.name, row.comment);
    endInsertRows();
}

void TZipTreeModel::RemoveOne(TZipTree& tree, const std::string& entryPath) {
    TZipNode* node = tree.FindEntry(entryPath);
    if (!node)
        return;
    TZipNode* top = TZipTree::TopmostRemovable(*node);
    TZipNode* parent = top->parent;
    beginRemoveRows(IndexOf(parent), top->row, top->row);
    tree.RemoveChild(*parent, top->row);
    endRemoveRows();
}

void TZipTreeModel::Sync(TZipTree& tree, const std::vector<TZipEntry>& rows) {
    std::unordered_set<std::string> listed;
    listed.reserve(rows.size());
    for (const TZipEntry& row : rows)
        listed.insert(LowerCase(row.name));
    for (const std::string& path : tree.EntryPaths())
        if (!listed.count(LowerCase(path)))
            RemoveOne(tree, path);
    for (const TZipEntry& row : rows)
        AddOne(tree, row);
}

} // namespace pellix
