// TZipTree: the nodes of one open Zip file in the zip tree.
#include "workspace/zip_tree.h"

#include <filesystem>

#include "links/text_helpers.h"

namespace pellix {

std::string TZipNode::Caption() const {
    if (kind == TZipNodeKind::File && !comment.empty()) {
        return name + "   (" + comment + ")";
    }
    return name;
}

TZipTree::TZipTree(const std::string& zipPath) : m_root(std::make_unique<TZipNode>()) {
    m_root->kind = TZipNodeKind::Root;
    SetZipPath(zipPath);
    m_folders[""] = m_root.get();
}

void TZipTree::SetZipPath(const std::string& path) {
    m_root->path = path;
    m_root->name = std::filesystem::path(path).filename().string();
}

std::string TZipTree::FolderOf(const std::string& entryPath) {
    const std::size_t slash = entryPath.find_last_of('/');
    return slash == std::string::npos ? std::string() : entryPath.substr(0, slash + 1);
}

std::string TZipTree::NameOf(const std::string& entryPath) {
    const std::size_t slash = entryPath.find_last_of('/');
    return slash == std::string::npos ? entryPath : entryPath.substr(slash + 1);
}

std::vector<std::string> TZipTree::FolderLevels(const std::string& entryPath) {
    std::vector<std::string> levels;
    for (std::size_t slash = entryPath.find('/'); slash != std::string::npos; slash = entryPath.find('/', slash + 1)) {
        levels.push_back(entryPath.substr(0, slash + 1));
    }
    return levels;
}

TZipNode* TZipTree::FindEntry(const std::string& entryPath) const {
    const auto it = m_entries.find(LowerCase(entryPath));
    return it == m_entries.end() ? nullptr : it->second;
}

TZipNode* TZipTree::FindFolder(const std::string& folderPath) const {
    const auto it = m_folders.find(LowerCase(folderPath));
    return it == m_folders.end() ? nullptr : it->second;
}

TZipNode* TZipTree::AddChild(TZipNode& parent, TZipNodeKind kind, const std::string& name, const std::string& path,
                             const std::string& comment) {
    auto node = std::make_unique<TZipNode>();
    node->kind = kind;
    node->name = name;
    node->path = path;
    node->comment = comment;
    node->parent = &parent;
    node->row = static_cast<int>(parent.children.size());
    TZipNode* raw = node.get();
    parent.children.push_back(std::move(node));
    (kind == TZipNodeKind::Folder ? m_folders : m_entries)[LowerCase(path)] = raw;
    return raw;
}

void TZipTree::Forget(const TZipNode& node) {
    for (const auto& child : node.children) {
        Forget(*child);
    }
    auto& map = node.kind == TZipNodeKind::Folder ? m_folders : m_entries;
    const auto it = map.find(LowerCase(node.path));
    if (it != map.end() && it->second == &node) {
        map.erase(it);
    }
}

void TZipTree::RemoveChild(TZipNode& parent, int row) {
    if (row < 0 || row >= static_cast<int>(parent.children.size())) {
        return;
    }
    Forget(*parent.children[row]);
    parent.children.erase(parent.children.begin() + row);
    for (std::size_t i = row; i < parent.children.size(); ++i) {
        parent.children[i]->row = static_cast<int>(i);
    }
}

TZipNode* TZipTree::TopmostRemovable(TZipNode& entryNode) {
    TZipNode* node = &entryNode;
    while (node->parent && node->parent->kind == TZipNodeKind::Folder && node->parent->children.size() == 1) {
        node = node->parent;
    }
    return node;
}

void TZipTree::AddRows(const std::vector<TZipEntry>& rows) {
    for (const TZipEntry& row : rows) {
        if (row.name.empty()) {
            continue;
        }
        TZipNode* parent = m_root.get();
        for (const std::string& level : FolderLevels(row.name)) {
            TZipNode* folder = FindFolder(level);
            if (!folder) {
                std::string name = level.substr(0, level.size() - 1);
                folder = AddChild(*parent, TZipNodeKind::Folder, NameOf(name), level);
            }
            parent = folder;
        }
        if (row.name.back() == '/') {
            continue;  // a folder entry: its node is made above
        }
        if (TZipNode* existing = FindEntry(row.name)) {
            existing->comment = row.comment;
            continue;
        }
        AddChild(*parent, TZipNodeKind::File, NameOf(row.name), row.name, row.comment);
    }
}

std::vector<std::string> TZipTree::EntryPaths() const {
    std::vector<std::string> paths;
    paths.reserve(m_entries.size());
    for (const auto& [key, node] : m_entries) {
        paths.push_back(node->path);
    }
    return paths;
}

std::string TZipTree::EntryPathOf(const TZipNode& node) {
    switch (node.kind) {
    case TZipNodeKind::Root: return "*.*";
    case TZipNodeKind::Folder: return node.path + "*.*";
    case TZipNodeKind::File: return node.path;
    }
    return {};
}

} // namespace pellix
