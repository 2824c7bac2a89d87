// TLinkRepair: gives the links of saved pages that lead to items which failed their addresses back.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace pellix {

// Pages are rewritten when they are parsed, before the items they link to are fetched. An item
// that then fails (host not found, 404) leaves a local link to a file that never came. At the
// end of a run such links are pointed at the item's address again, as a browser can still
// follow that one.
//
// The page is scanned the way the parse thread scanned it (one pass per row of the link table,
// then the quoted-string passes the profile's "Aggressive Parser" setting asks for), so every
// link it rewrote is seen. A value is a local link to a failed item when it has no scheme, is
// not rooted, and, anchor taken off and percent-decoded, names from the page's own local folder
// the local file of the failed item. The new value is the item's address plus the link's anchor.
// Cost: linear in the size of the page; the failed items are looked up by their local file.
class TLinkRepair final {
public:
    explicit TLinkRepair(int aggressiveParser);

    // An item that ended in Error.
    void AddFailed(const std::string& url);
    // An item whose file was written: a failed item that maps to the same local file (http and
    // https of one host, "docs" and "docs/") keeps the links to it local.
    void AddSaved(const std::string& url);
    bool Empty() const { return m_failed.empty(); }

    // Repairs the text of the page saved from pageURL in place; the number of links changed.
    std::size_t RepairPage(const std::string& pageURL, std::string& text) const;

    // The failed item's address that value (as written in a page whose rewritten links start from
    // the folder URL localBase) leads to, or empty.
    std::string FailedTarget(const std::string& value, const std::string& localBase) const;

private:
    int m_aggressive;
    std::unordered_map<std::string, std::string> m_failed; // local file -> address
    std::unordered_set<std::string> m_saved;               // local files that exist
};

} // namespace pellix
