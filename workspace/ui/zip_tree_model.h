// TZipTreeModel: the zip tree: one root per open Zip file, its folders and files below; only a
// root's caption may be edited (which renames the Zip file).
#pragma once

#include <QAbstractItemModel>

#include <functional>
#include <memory>
#include <vector>

#include "workspace/zip_tree.h"

namespace pellix {

class TZipIconCache;

class TZipTreeModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit TZipTreeModel(TZipIconCache& icons, QObject* parent = nullptr);
    ~TZipTreeModel() override;

    // Takes the tree of a Zip just opened or created; its root's index.
    QModelIndex AddTree(std::unique_ptr<TZipTree> tree);
    void RemoveTree(TZipTree& tree);
    TZipTree* FindTree(const std::string& zipPath) const;
    const std::vector<std::unique_ptr<TZipTree>>& Trees() const { return m_trees; }

    static TZipNode* NodeOf(const QModelIndex& index);
    TZipTree* TreeOf(const QModelIndex& index) const;
    QModelIndex IndexOf(const TZipNode* node) const;

    // Brings the tree in step with a fresh listing: entries gone are removed with the folders
    // left empty, new ones are added, comments follow.
    void Sync(TZipTree& tree, const std::vector<TZipEntry>& rows);
    // The Zip file has a new path (renamed).
    void SetZipPath(TZipTree& tree, const std::string& path);

    // Asked when a root's caption was edited; true when the Zip file took the new name.
    std::function<bool(TZipTree& tree, const QString& newName)> OnRename;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void AddOne(TZipTree& tree, const TZipEntry& row);
    void RemoveOne(TZipTree& tree, const std::string& entryPath);

    TZipIconCache& m_icons;
    std::vector<std::unique_ptr<TZipTree>> m_trees;
};

} // namespace pellix
