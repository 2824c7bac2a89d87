// TLinkRepair: gives the links of saved pages that lead to items which failed their addresses back,
// and makes them local again once such an item has been recovered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace pellix {

// Pages are rewritten when they are parsed, before the items they link to are fetched. An item
// that then fails (host not found, 404) leaves a local link to a file that never came. At the
// end of a run such links are pointed at the item's address again, as a browser can still
// follow that one. A later run (a retry, an update) that fetches the item after all turns those
// addresses back into the local links the parse thread wrote.
//
// The page is scanned the way the parse thread scanned it: one pass per row of the link table,
// the srcset lists, the page's style blocks and style attributes, then the quoted-string passes
// the profile's "Aggressive Parser" setting asks for (with setting 2, only those); a style sheet
// gets the style pass alone. So every link it rewrote is seen.
//
// Repair: a value is a local link to a failed item when it has no scheme, is not rooted, and,
// anchor taken off and percent-decoded, names from the page's own local folder the local file of
// the failed item. The new value is the item's address plus the link's anchor.
// Restore: a value is the address of a recovered item, as the repair wrote it (anchor taken
// off); the new value is LocalLink of the item from the page's local folder plus the anchor.
// Every absolute link to a recovered item turns local, also one the page held from the start,
// as the parse thread would have converted it; a profile that keeps followed links as written
// (no conversion) should leave the repaired addresses alone instead.
//
// Rename: a value is a local link to an item whose reply gave it another local name than its
// address alone gives ("/img?id=7" saved as a ".png"): anchor taken off and percent-decoded, it
// names from the page's own local folder the file that the address alone names (or the name of
// earlier runs); the new value is LocalLink of the item, with its type extension, plus the anchor.
//
// typeExtension below is the item's (TPXQItem::TypeExtension): its local file is named with it.
//
// Cost: linear in the size of the page; the items are looked up by local file or by address.
//
// Reading every saved page costs seconds on a large site, so a page whose links are known (the
// keys of TPageLinkKeys, gathered while the parse thread rewrote it) is only read when one of
// its links may lead to a failed or renamed item: a link can only name a file whose name is its
// own last segment.
class TLinkRepair final {
public:
    // What a link value, as a page holds it, can lead to: a key of the file name it names from
    // the page's folder, kNoFileKey when it names no local file (an address, a rooted path, a raw
    // "?"), kAnyFileKey when its last segment is no name (".", "..", a closing "/").
    static constexpr std::uint64_t kNoFileKey = 0;
    static constexpr std::uint64_t kAnyFileKey = 1;
    static std::uint64_t LinkKey(const std::string& value);

    explicit TLinkRepair(int aggressiveParser);

    // An item that ended in Error.
    void AddFailed(const std::string& url, const std::string& typeExtension = {});
    // An item whose file was written: a failed item that maps to the same local file (http and
    // https of one host, "docs" and "docs/") keeps the links to it local.
    void AddSaved(const std::string& url, const std::string& typeExtension = {});
    // An item that had ended in Error in an earlier run and whose file has now been written.
    void AddRecovered(const std::string& url, const std::string& typeExtension = {});
    // An item whose file was written under a name its type extension decides: links to the
    // names its address alone gives are made to lead to that file.
    void AddRenamed(const std::string& url, const std::string& typeExtension);
    // Nothing to repair, rename or restore.
    bool Empty() const { return m_failed.empty() && m_recovered.empty() && m_renamed.empty(); }
    // False when a page whose link values have exactly these keys (LinkKey of each) holds
    // nothing RepairPage or RestorePage would change. Restoring looks for addresses, which a
    // page may hold anywhere: with recovered items every page may change.
    bool MayChange(const std::vector<std::uint64_t>& linkKeys) const;

    // Repairs the text of the page (or, with styleSheet, the style sheet) saved from pageURL in
    // place, links to renamed items included; the number of links changed.
    std::size_t RepairPage(const std::string& pageURL, std::string& text, bool styleSheet = false) const;

    // Turns the addresses of recovered items in the text of the page (or style sheet) saved from
    // pageURL back into local links, in place; the number of links changed. Undoes RepairPage
    // for those items byte for byte.
    std::size_t RestorePage(const std::string& pageURL, std::string& text, bool styleSheet = false) const;

    // The failed item's address that value (as written in a page whose rewritten links start from
    // the folder URL localBase) leads to, or empty.
    std::string FailedTarget(const std::string& value, const std::string& localBase) const;

    // The renamed item's new local link from localBase that value (a local link as written in a
    // page) should be, or empty.
    std::string RenamedLink(const std::string& value, const std::string& localBase) const;

    // The recovered item's address that value (an absolute link, anchor allowed) names, or empty.
    std::string RecoveredTarget(const std::string& value) const;

private:
    // The new text of one link value found in a page, or nothing to leave it.
    using TConvert = std::function<std::optional<std::string>(const std::string& value, const std::string& localBase)>;
    // Runs every pass over text; maskAddresses lets the quoted-string passes see addresses.
    std::size_t Rewrite(const std::string& pageURL, std::string& text, bool styleSheet, bool maskAddresses,
                        const TConvert& convert) const;

    int m_aggressive;
    std::unordered_map<std::string, std::string> m_failed;    // local file -> address
    std::unordered_set<std::string> m_saved;                  // local files that exist
    std::unordered_map<std::string, std::string> m_recovered; // address as written -> address
    std::unordered_map<std::string, std::pair<std::string, std::string>> m_renamed; // old local file -> address, type
    std::unordered_map<std::string, std::string> m_typeExtensions; // address -> type extension
    std::unordered_set<std::uint64_t> m_nameKeys; // file names of m_failed's and m_renamed's files
};

} // namespace pellix
