// TResolvedLinkCache: what a link written some way in pages of one folder resolves to, kept
// across the pages one parse thread rewrites.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "links/file_types.h"

namespace pellix {

// The parts of a link's decision that depend only on how it is written, where it stands and the
// task's file-type groups; whether it is known, new or accepted at the page's level is decided
// each time.
struct TResolvedLink {
    std::string url;       // resolved and validated; empty when it is no web address
    std::string group;     // its file-type group in the context it stands in
    std::string itemURL;   // url without its anchor
    std::string key;       // itemURL as the URL index keys it
    std::string contextTypeExtension;
    // The last link test and local link made for it, for the next page that asks the same.
    std::optional<int> testedLevel;
    bool accepted = false;
    std::string localFor;  // the type extension the local link was made with
    std::optional<std::string> local;
};

// Bounded; one per parse thread (no locking).
class TResolvedLinkCache final {
public:
    static constexpr std::size_t kEntries = 1024;

    // Forgets everything when the task's groups are not the ones its entries were made with.
    void UseGroups(const std::vector<TFileTypeGroup>& groups);
    // For another task or run: its profile may test links otherwise.
    void Clear() { m_entries.clear(); }

    // The entry for a link written as value, resolved against base and made relative to localBase,
    // in the context named by context; made with resolve() when there is none (the cache empties
    // itself first when full). The entry stays valid until the next look-up.
    template <typename TResolve>
    TResolvedLink& Lookup(std::string_view value, std::string_view base, std::string_view localBase, char context,
                          const TResolve& resolve)
    {
        MakeKey(m_key, value, base, localBase, context);
        if (const auto found = m_entries.find(m_key); found != m_entries.end())
            return found->second;
        // A crawl moves from folder to folder: what the last few hundred links needed is what the
        // next pages need.
        if (m_entries.size() >= kEntries)
            m_entries.clear();
        return m_entries.emplace(m_key, resolve()).first->second;
    }

    std::size_t Size() const { return m_entries.size(); }

private:
    static void MakeKey(std::string& key, std::string_view value, std::string_view base, std::string_view localBase,
                        char context);

    std::vector<TFileTypeGroup> m_groups;
    std::unordered_map<std::string, TResolvedLink> m_entries;
    std::string m_key; // scratch, so a look-up makes no string
};

} // namespace pellix
