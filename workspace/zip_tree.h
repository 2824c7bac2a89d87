// TZipTree: the nodes of one open Zip file in the zip tree (root, folders, files), with lookups
// by entry and folder path that ignore case.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "workspace/zip_engine.h"

namespace pellix {

enum class TZipNodeKind { Root, Folder, File };

struct TZipNode {
    TZipNodeKind kind = TZipNodeKind::File;
    std::string name;     // file or folder name; the Zip's file name for the root
    std::string path;     // entry path, folder path ending in "/", or the Zip file's path (root)
    std::string comment;  // files: the entry's comment
    TZipNode* parent = nullptr;
    int row = 0;          // position among the parent's children
    std::vector<std::unique_ptr<TZipNode>> children;

    // Files: name + "   (" + comment + ")" when there is a comment; others: name.
    std::string Caption() const;
};

class TZipTree final {
public:
    explicit TZipTree(const std::string& zipPath);
    TZipTree(const TZipTree&) = delete;
    TZipTree& operator=(const TZipTree&) = delete;

    TZipNode& Root() { return *m_root; }
    const TZipNode& Root() const { return *m_root; }
    const std::string& ZipPath() const { return m_root->path; }
    // The Zip file was renamed: the root's path and name follow.
    void SetZipPath(const std::string& path);

    // Every entry of a listing, folders made as they are met; entries already there are updated.
    void AddRows(const std::vector<TZipEntry>& rows);

    TZipNode* FindEntry(const std::string& entryPath) const;
    // "" is the root.
    TZipNode* FindFolder(const std::string& folderPath) const;
    // A child at the end of parent's children; no check for duplicates (callers look first).
    TZipNode* AddChild(TZipNode& parent, TZipNodeKind kind, const std::string& name, const std::string& path,
                       const std::string& comment = {});
    // Removes the child at row with everything below it.
    void RemoveChild(TZipNode& parent, int row);
    // The node to remove with an entry: the entry's node, or the highest folder above it that would
    // be left empty. Never the root.
    static TZipNode* TopmostRemovable(TZipNode& entryNode);

    // Root: "*.*"; folder: its path + "*.*"; file: its entry path.
    static std::string EntryPathOf(const TZipNode& node);
    // The folder levels of an entry path: "a/b/c.htm" gives "a/", "a/b/".
    static std::vector<std::string> FolderLevels(const std::string& entryPath);
    // The folder part ("a/b/") and the name part ("c.htm") of an entry path.
    static std::string FolderOf(const std::string& entryPath);
    static std::string NameOf(const std::string& entryPath);

    std::size_t EntryCount() const { return m_entries.size(); }
    // Every entry path held, in no particular order.
    std::vector<std::string> EntryPaths() const;

private:
    void Forget(const TZipNode& node);

    std::unique_ptr<TZipNode> m_root;
    std::unordered_map<std::string, TZipNode*> m_entries;  // lower-cased entry path
    std::unordered_map<std::string, TZipNode*> m_folders;  // lower-cased folder path
};

} // namespace pellix
