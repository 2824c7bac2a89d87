#include "links/file_type_tree.h"

#include <algorithm>

#include "workspace/settings_store.h"

namespace pellix {

namespace {

bool EqualNoCase(const std::string& a, const std::string& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

} // namespace

void TFileTypeTree::Build(const std::vector<TFileTypeGroup>& groups,
                          const std::vector<std::string>& checkedExtensions)
{
    m_nodes.clear();
    for (const TFileTypeGroup& group : groups) {
        const std::size_t groupIndex = m_nodes.size();
        m_nodes.push_back({group.name, kCheckNoImage, true, groupIndex});
        for (std::string& extension : SplitExtensions(group.data)) {
            const bool checked = std::any_of(checkedExtensions.begin(), checkedExtensions.end(),
                                             [&extension](const std::string& c) { return EqualNoCase(c, extension); });
            m_nodes.push_back({std::move(extension), checked ? kCheckChecked : kCheckUnchecked, false, groupIndex});
        }
        UpdateGroupState(groupIndex);
    }
    m_all = checkedExtensions.empty();
}

void TFileTypeTree::Rebuild(const TSettingsStore& store)
{
    Build(ReadFileTypeGroups(store), Collect());
}

void TFileTypeTree::SetAllChecked(bool all)
{
    m_all = all;
    m_changed = true;
}

void TFileTypeTree::UpdateGroupState(std::size_t group)
{
    std::size_t children = 0;
    std::size_t checked = 0;
    for (std::size_t i = group + 1; i < m_nodes.size() && !m_nodes[i].isGroup; ++i) {
        ++children;
        if (m_nodes[i].state == kCheckChecked)
            ++checked;
    }
    int& state = m_nodes[group].state;
    if (children == 0)
        state = kCheckNoImage;
    else if (checked == children)
        state = kCheckChecked;
    else if (checked == 0)
        state = kCheckUnchecked;
    else
        state = kCheckPartial;
}

void TFileTypeTree::Toggle(std::size_t node)
{
    if (node >= m_nodes.size() || m_nodes[node].state == kCheckNoImage)
        return;
    const int state = m_nodes[node].state == kCheckUnchecked ? kCheckChecked : kCheckUnchecked;
    m_nodes[node].state = state;
    if (m_nodes[node].isGroup) {
        for (std::size_t i = node + 1; i < m_nodes.size() && !m_nodes[i].isGroup; ++i)
            m_nodes[i].state = state;
    } else {
        UpdateGroupState(m_nodes[node].group);
    }
    m_changed = true;
}

std::vector<std::string> TFileTypeTree::Collect() const
{
    std::vector<std::string> extensions;
    if (m_all)
        return extensions;
    for (const TFileTypeNode& node : m_nodes)
        if (!node.isGroup && node.state == kCheckChecked)
            extensions.push_back(node.text);
    return extensions;
}

bool TFileTypeTree::CanDelete(std::size_t node) const
{
    return node < m_nodes.size() && !IsBuiltInFileType(m_nodes[node].text);
}

std::string TFileTypeTree::DeleteQuestion(std::size_t node) const
{
    const TFileTypeNode& n = m_nodes.at(node);
    if (n.isGroup)
        return "Are you sure you want to delete the " + n.text + " file type group?";
    return "Are you sure you want to delete the " + n.text + " file type?";
}

bool TFileTypeTree::Delete(TSettingsStore& store, std::size_t node)
{
    if (!CanDelete(node))
        return false;
    const TFileTypeNode n = m_nodes[node];
    const bool done = n.isGroup ? DeleteFileTypeGroup(store, n.text)
                                : DeleteFileTypeExtension(store, m_nodes[n.group].text, n.text);
    // What was deleted is no longer checked: with nothing else checked the editor means every type.
    std::vector<std::string> checked;
    if (!m_all)
        for (std::size_t i = 0; i < m_nodes.size(); ++i) {
            const bool deleted = n.isGroup ? m_nodes[i].group == node : i == node;
            if (!m_nodes[i].isGroup && m_nodes[i].state == kCheckChecked && !(done && deleted))
                checked.push_back(m_nodes[i].text);
        }
    Build(ReadFileTypeGroups(store), checked);
    return done;
}

} // namespace pellix
