// TPageLinkKeys: what the links of each page parsed in this process can lead to, for the link repair at completion.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace pellix {

class TLinkRepair;
struct TLinkDecision;
struct TRewritePass;

// The link keys (TLinkRepair::LinkKey) of one page: of every value a rewrite found in it, as found
// and as written back.
class TLinkKeyList final {
public:
    void Add(const TRewritePass& pass, const TLinkDecision& decision);
    // Sorted, each key once.
    std::vector<std::uint64_t> Take();

private:
    std::vector<std::uint64_t> m_keys;
};

// The parse thread records the keys of each page it wrote back; the repair at completion reads
// only the pages that may link a failed or renamed item, and every page this process did not
// parse (no keys: earlier processes' pages). Keyed by the page's URL as the list holds it.
// Thread-safe.
class TPageLinkKeys final {
public:
    void Set(const std::string& pageURL, std::vector<std::uint64_t> keys);
    // True when the page has no keys here, or when its keys let repair change it.
    bool MayChange(const std::string& pageURL, const TLinkRepair& repair) const;
    void Clear();
    std::size_t Count() const;

private:
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, std::vector<std::uint64_t>> m_pages;
};

} // namespace pellix
