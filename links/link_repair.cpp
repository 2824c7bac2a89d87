// TLinkRepair: gives the links of saved pages that lead to items which failed their addresses back.
#include "links/link_repair.h"

#include <filesystem>

#include "links/html_parser.h"
#include "links/parse_thread.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"

namespace pellix {

namespace {

// Local files are compared under a root of their own: only the layout below it matters.
constexpr const char* kRoot = "/";

std::string LocalFileOf(const std::string& url) { return LocalFileName(kRoot, "", url); }

// "http:", "mailto:", "javascript:": a scheme is letters, digits, "+", "-", "." before ":".
bool HasScheme(const std::string& value)
{
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (c == ':')
            return i > 0;
        if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')))
            return false;
    }
    return false;
}

// The address goes into an attribute or a quoted string as it stands: bytes that would end the
// value or break the markup are percent-encoded, as a browser would send them anyway.
std::string AttributeSafe(const std::string& url)
{
    return PercentEncode(url, [](unsigned char byte) {
        return byte <= 0x20 || byte == 0x7F || byte == '"' || byte == '\'' || byte == '<' || byte == '>' || byte == '`';
    });
}

std::string WithTrailingSlash(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

} // namespace

TLinkRepair::TLinkRepair(int aggressiveParser) : m_aggressive(aggressiveParser) {}

void TLinkRepair::AddFailed(const std::string& url)
{
    if (!url.empty())
        m_failed.emplace(LocalFileOf(StripAnchor(url)), StripAnchor(url));
}

void TLinkRepair::AddSaved(const std::string& url)
{
    if (!url.empty())
        m_saved.insert(LocalFileOf(StripAnchor(url)));
}

std::string TLinkRepair::FailedTarget(const std::string& value, const std::string& localBase) const
{
    if (value.empty() || value[0] == '#' || value[0] == '/' || HasScheme(value))
        return {};
    const std::string path = value.substr(0, value.find('#'));
    // Local links carry "?" percent-encoded; a raw one is somebody else's link.
    if (path.empty() || path.find('?') != std::string::npos)
        return {};
    const std::filesystem::path folder = std::filesystem::path(LocalFileOf(localBase)).parent_path();
    const std::string file = (folder / PercentDecode(path)).lexically_normal().generic_string();
    const auto found = m_failed.find(file);
    if (found == m_failed.end() || m_saved.contains(file))
        return {};
    return found->second;
}

std::size_t TLinkRepair::RepairPage(const std::string& pageURL, std::string& text) const
{
    if (m_failed.empty() || text.empty())
        return 0;
    const std::string ownFolder = URLDirectory(pageURL);
    std::size_t changed = 0;
    auto pass = [&](const std::string& tag, const std::string& tagEnd, const std::string& attribute,
                    TParserMode mode) {
        TPXParser parser(std::move(text), tag, tagEnd, attribute, mode);
        while (!parser.Finished()) {
            const std::string value = parser.Next();
            if (value.empty() || value[0] == '#')
                continue;
            std::string localBase = ownFolder;
            if (attribute == "CODE") {
                // The parse thread made an applet's code link relative to its code base.
                const std::string codebase = parser.AttributeValue("CODEBASE");
                if (!codebase.empty())
                    localBase = WithTrailingSlash(StripAnchor(ResolveURL(codebase, localBase)));
            }
            const std::string target = FailedTarget(value, localBase);
            if (target.empty())
                continue;
            const std::size_t hash = value.find('#');
            parser.ReplaceValue(AttributeSafe(target) + (hash == std::string::npos ? "" : value.substr(hash)));
            ++changed;
        }
        text = parser.TakeText();
    };
    if (m_aggressive != 2) {
        for (const TLinkTableRow& row : kLinkTable)
            pass(row.tag, ">", row.attribute, pmTag);
    }
    if (m_aggressive == 1 || m_aggressive == 2) {
        const auto mode = static_cast<TParserMode>(m_aggressive);
        for (const char* quote : {"'", "\""})
            pass(quote, quote, "", mode);
    }
    return changed;
}

} // namespace pellix
