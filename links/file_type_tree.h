// TFileTypeTree: the file-type groups as a tree of check-state nodes plus "All", for the editors.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "links/file_types.h"

namespace pellix {

class TSettingsStore;

// Check states, as the tree's state images number them.
inline constexpr int kCheckNoImage = 0;
inline constexpr int kCheckUnchecked = 1;
inline constexpr int kCheckChecked = 2;
inline constexpr int kCheckPartial = 3;

struct TFileTypeNode {
    std::string text;     // the group name or the extension
    int state = kCheckUnchecked;
    bool isGroup = false;
    std::size_t group = 0; // index of the node's group node (itself for a group)
};

// Nodes are kept flat in tree order: each group node followed by its extension nodes. The model
// only holds state; a widget shows it and forwards clicks.
class TFileTypeTree final {
public:
    // One top node per group, one child per extension of its data. An extension is checked when
    // checkedExtensions holds it (any case); "All" is checked exactly when that list is empty.
    void Build(const std::vector<TFileTypeGroup>& groups, const std::vector<std::string>& checkedExtensions);
    // Build again from the store with the extensions now collected.
    void Rebuild(const TSettingsStore& store);

    const std::vector<TFileTypeNode>& Nodes() const { return m_nodes; }

    // "All": checked means every type, and disables the tree.
    bool AllChecked() const { return m_all; }
    void SetAllChecked(bool all);
    bool TreeEnabled() const { return !m_all; }

    // A click on a node's state image: unchecked becomes checked, anything else unchecked; the
    // children follow and an extension's group is worked out again. A node without a state image
    // ignores the click.
    void Toggle(std::size_t node);

    // Every checked extension in tree order; empty when "All" is checked (every type).
    std::vector<std::string> Collect() const;

    // Whether "&Delete" is offered for the node (built-in groups and extensions are not).
    bool CanDelete(std::size_t node) const;
    // The confirmation question for deleting the node.
    std::string DeleteQuestion(std::size_t node) const;
    // Deletes the node's extension or group from the store (after the user said Yes) and
    // rebuilds. False when the node may not be deleted or the store was not changed.
    bool Delete(TSettingsStore& store, std::size_t node);
    // The group a node belongs to (for "&Edit...").
    const std::string& GroupName(std::size_t node) const { return m_nodes.at(m_nodes.at(node).group).text; }

    // Set by every change the user makes; the editor clears it after saving.
    bool Changed() const { return m_changed; }
    void SetChanged(bool changed) { m_changed = changed; }

private:
    void UpdateGroupState(std::size_t group);

    std::vector<TFileTypeNode> m_nodes;
    bool m_all = true;
    bool m_changed = false;
};

} // namespace pellix
