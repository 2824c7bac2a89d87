// TSiteChecker: finds the local links of a saved site that lead to no file.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace pellix::test {

// A local link whose target is missing.
struct TBrokenLink {
    std::string page;   // the page holding it, relative to the root
    std::string link;   // as written in the page
    std::string target; // the file it names, relative to the root (may climb out of it)
};

struct TSiteReport {
    std::size_t pages = 0; // pages read
    std::size_t links = 0; // local links checked
    std::vector<TBrokenLink> broken;

    // One line per broken link, for test failure messages.
    std::string Describe() const;
};

// Reads every page (.htm, .html, any case) under a saved site's root folder (a Personal Intranet
// Mode folder, or an unpacked Zip file) with the same scanner the crawl uses, and checks every
// local link: a link that is not absolute (no scheme such as http:, mailto:, javascript:, data:,
// and not "//host"), not empty and not only an anchor. The link loses its anchor and query, is
// percent-decoded and resolved against the page's folder; it is broken when no regular file is
// there, or when it leaves the root (a root-relative "/x" link counts as leaving it).
class TSiteChecker final {
public:
    explicit TSiteChecker(std::filesystem::path root);

    TSiteReport Check() const;
    // The links one page's text holds, in scan order (tag passes, with an applet's CODEBASE).
    static std::vector<std::string> LinksOf(const std::string& page);
    // Whether a link as written in a page points into the saved site.
    static bool IsLocalLink(const std::string& link);
    static std::string PercentDecode(const std::string& text);

private:
    std::filesystem::path m_root;
};

} // namespace pellix::test
