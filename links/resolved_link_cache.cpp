#include "links/resolved_link_cache.h"

#include <algorithm>

namespace pellix {

void TResolvedLinkCache::UseGroups(const std::vector<TFileTypeGroup>& groups)
{
    const bool same = groups.size() == m_groups.size() &&
                      std::equal(groups.begin(), groups.end(), m_groups.begin(), [](const auto& a, const auto& b) {
                          return a.name == b.name && a.data == b.data;
                      });
    if (same)
        return;
    m_groups = groups;
    m_entries.clear();
}

void TResolvedLinkCache::MakeKey(std::string& key, std::string_view value, std::string_view base,
                                 std::string_view localBase, char context)
{
    key.clear();
    key.append(value).push_back('\0');
    key.push_back(context);
    key.append(base).push_back('\0');
    // Most pages are saved where they were served from: the second folder is then left out.
    if (localBase != base)
        key.append(1, '\1').append(localBase);
}

} // namespace pellix
