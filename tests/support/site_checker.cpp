// TSiteChecker: finds the local links of a saved site that lead to no file.
#include "tests/support/site_checker.h"

#include "links/text_helpers.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "links/banner.h"
#include "links/file_io.h"
#include "links/html_parser.h"

namespace pellix::test {

namespace {

struct TLinkTag {
    const char* tag;
    const char* attribute;
};

// The crawl's link table, and the other tags a browser loads from when it shows a page.
constexpr TLinkTag kCheckedTags[] = {
    {"FRAME", "SRC"},  {"A", "HREF"},      {"IMG", "SRC"},    {"INPUT", "SRC"},  {"META", "URL"},
    {"BODY", "BACKGROUND"}, {"BGSOUND", "SRC"}, {"AREA", "HREF"}, {"APPLET", "CODE"}, {"LINK", "HREF"},
    {"IFRAME", "SRC"}, {"SCRIPT", "SRC"},  {"EMBED", "SRC"},  {"SOURCE", "SRC"},
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

bool IsPageFile(const std::filesystem::path& path)
{
    const std::string extension = Lower(path.extension().string());
    return extension == ".htm" || extension == ".html";
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

std::string TSiteReport::Describe() const
{
    std::string text = std::to_string(pages) + " pages, " + std::to_string(links) + " local links, "
                       + std::to_string(broken.size()) + " broken";
    for (const TBrokenLink& link : broken)
        text += "\n  " + link.page + ": \"" + link.link.substr(0, 200) + "\" -> " + link.target.substr(0, 200);
    return text;
}

TSiteChecker::TSiteChecker(std::filesystem::path root) : m_root(std::move(root)) {}

std::vector<std::string> TSiteChecker::LinksOf(const std::string& page)
{
    std::vector<std::string> links;
    for (const TLinkTag& row : kCheckedTags) {
        TPXParser parser(page, row.tag, ">", row.attribute);
        while (!parser.Finished()) {
            std::string value = parser.Next();
            if (value.empty())
                continue;
            if (std::string(row.attribute) == "CODE") {
                std::string codebase = parser.AttributeValue("CODEBASE");
                if (!codebase.empty() && IsLocalLink(codebase)) {
                    if (codebase.back() != '/')
                        codebase += '/';
                    value = codebase + value;
                }
            }
            links.push_back(std::move(value));
        }
    }
    return links;
}

bool TSiteChecker::IsLocalLink(const std::string& link)
{
    if (link.empty() || link[0] == '#' || link.starts_with("//"))
        return false;
    // A scheme: letters, digits, "+", "-", "." before the first ":" that comes before any "/".
    const std::size_t colon = link.find(':');
    if (colon != std::string::npos && colon > 0 && link.find('/') > colon) {
        const bool scheme = std::all_of(link.begin(), link.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
        });
        if (scheme)
            return false;
    }
    return true;
}

std::string TSiteChecker::PercentDecode(const std::string& text)
{
    return pellix::PercentDecode(text);
}

TSiteReport TSiteChecker::Check() const
{
    TSiteReport report;
    std::error_code ec;
    const std::filesystem::path root = std::filesystem::weakly_canonical(m_root, ec);
    std::vector<std::filesystem::path> pages;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        // The banner page at the root is the program's, not one of the site's pages; the links
        // to it are checked like every other.
        if (it->is_regular_file() && IsPageFile(it->path())
            && !(it->path().parent_path() == root && it->path().filename() == kBannerPageName))
            pages.push_back(it->path());
    }
    std::sort(pages.begin(), pages.end());
    for (const std::filesystem::path& pagePath : pages) {
        const std::string text = ReadWholeFile(pagePath).value_or("");
        ++report.pages;
        const std::string pageName = pagePath.lexically_relative(root).string();
        for (const std::string& link : LinksOf(text)) {
            if (!IsLocalLink(link))
                continue;
            ++report.links;
            std::string path = ReplaceAll(link, "&amp;", "&");
            path = path.substr(0, path.find_first_of("#?"));
            path = PercentDecode(path);
            const std::filesystem::path target = (pagePath.parent_path() / path).lexically_normal();
            const std::filesystem::path relative = target.lexically_relative(root);
            const bool outside = path.starts_with("/") || relative.empty() || *relative.begin() == "..";
            if (outside || !std::filesystem::is_regular_file(target, ec))
                report.broken.push_back({pageName, link, relative.string()});
        }
    }
    return report;
}

} // namespace pellix::test
