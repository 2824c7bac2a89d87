// TLinkRepair: gives the links of saved pages that lead to items which failed their addresses back,
// and makes them local again once such an item has been recovered.
#include "links/link_repair.h"

#include <array>
#include <filesystem>
#include <vector>

#include "links/css_scanner.h"
#include "links/html_parser.h"
#include "links/parse_thread.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"

namespace pellix {

namespace {

// Local files are compared under a root of their own: only the layout below it matters.
constexpr const char* kRoot = "/";

std::string LocalFileOf(const std::string& url, const std::string& typeExtension = {})
{
    return LocalFileName(kRoot, "", url, typeExtension);
}

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

// The path of a local link (no scheme, not rooted, "?" percent-encoded), percent-decoded, or
// nothing for any other value.
std::optional<std::string> LocalLinkPath(const std::string& value)
{
    if (value.empty() || value[0] == '#' || value[0] == '/' || HasScheme(value))
        return std::nullopt;
    const std::string path = value.substr(0, value.find('#'));
    // Local links carry "?" percent-encoded; a raw one is somebody else's link.
    if (path.empty() || path.find('?') != std::string::npos)
        return std::nullopt;
    return PercentDecode(path);
}

// The local file that a local link written in a page whose links start from localBase names,
// or empty for any other value.
std::string LinkedLocalFile(const std::string& value, const std::string& localBase)
{
    const std::optional<std::string> path = LocalLinkPath(value);
    if (!path)
        return {};
    const std::filesystem::path folder = std::filesystem::path(LocalFileOf(localBase)).parent_path();
    return (folder / *path).lexically_normal().generic_string();
}

// The part after the last "/".
std::string_view LastSegment(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// FNV-1a of a file name, kept clear of the two reserved keys.
std::uint64_t NameKey(std::string_view name)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : name) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash <= TLinkRepair::kAnyFileKey ? hash + 2 : hash;
}

// The address goes into an attribute or a quoted string as it stands: bytes that would end the
// value or break the markup are percent-encoded, as a browser would send them anyway.
std::string AttributeSafe(const std::string& url)
{
    return PercentEncode(url, [](unsigned char byte) {
        return byte <= 0x20 || byte == 0x7F || byte == '"' || byte == '\'' || byte == '<' || byte == '>' || byte == '`';
    });
}

// "#part" of a value, or empty.
std::string AnchorOf(const std::string& value)
{
    const std::size_t hash = value.find('#');
    return hash == std::string::npos ? std::string() : value.substr(hash);
}

// The quoted-string scanner takes only strings without ":" and ";" (relative links), so an
// address written into a string would go unseen. Inside strings that hold a wanted address the
// two characters are swapped for two control bytes the text does not hold, which keeps every
// position; Unmask swaps them back.
struct TMask {
    char colon = 0;
    char semicolon = 0;

    void Unmask(std::string& text) const
    {
        for (char& c : text) {
            if (c == colon)
                c = ':';
            else if (c == semicolon)
                c = ';';
        }
    }
};

template <typename TWanted>
std::optional<TMask> MaskAddressStrings(std::string& text, char quote, const TWanted& wanted)
{
    std::array<bool, 32> seen{};
    for (const char c : text)
        if (static_cast<unsigned char>(c) < seen.size())
            seen[static_cast<unsigned char>(c)] = true;
    std::vector<char> free;
    // Tab to carriage return count as blanks for the scanner: never those.
    for (unsigned char byte = 1; byte < seen.size() && free.size() < 2; ++byte)
        if (!seen[byte] && (byte < '\t' || byte > '\r'))
            free.push_back(static_cast<char>(byte));
    if (free.size() < 2)
        return std::nullopt;
    const TMask mask{free[0], free[1]};
    for (std::size_t open = text.find(quote); open != std::string::npos;) {
        const std::size_t close = text.find(quote, open + 1);
        if (close == std::string::npos)
            break;
        const std::string content = text.substr(open + 1, close - open - 1);
        if (wanted(content.substr(0, content.find('#')))) {
            for (std::size_t i = open + 1; i < close; ++i) {
                if (text[i] == ':')
                    text[i] = mask.colon;
                else if (text[i] == ';')
                    text[i] = mask.semicolon;
            }
        }
        open = close;
    }
    return mask;
}

} // namespace

std::uint64_t TLinkRepair::LinkKey(const std::string& value)
{
    const std::optional<std::string> path = LocalLinkPath(value);
    if (!path)
        return kNoFileKey;
    // A normalised path that ends in ".", ".." or "/" names a folder, never an item's file; such
    // a value is still let through rather than reasoned away.
    const std::string_view name = LastSegment(*path);
    if (name.empty() || name == "." || name == "..")
        return kAnyFileKey;
    return NameKey(name);
}

TLinkRepair::TLinkRepair(int aggressiveParser) : m_aggressive(aggressiveParser) {}

bool TLinkRepair::MayChange(const std::vector<std::uint64_t>& linkKeys) const
{
    if (!m_recovered.empty())
        return true;
    if (m_nameKeys.empty())
        return false;
    for (const std::uint64_t key : linkKeys) {
        if (key == kAnyFileKey || m_nameKeys.contains(key))
            return true;
    }
    return false;
}

void TLinkRepair::AddFailed(const std::string& url, const std::string& typeExtension)
{
    if (url.empty())
        return;
    const std::string address = StripAnchor(url);
    auto add = [&](std::string file) {
        m_nameKeys.insert(NameKey(LastSegment(file)));
        m_failed.emplace(std::move(file), address);
    };
    add(LocalFileOf(address, typeExtension));
    // Pages saved by an earlier run, or before the item's reply, may link to the name the
    // address alone gave.
    if (!typeExtension.empty())
        add(LocalFileOf(address));
    if (std::string legacy = LegacyLocalFileName(kRoot, address); !legacy.empty())
        add(std::move(legacy));
}

void TLinkRepair::AddSaved(const std::string& url, const std::string& typeExtension)
{
    if (url.empty())
        return;
    const std::string address = StripAnchor(url);
    m_saved.insert(LocalFileOf(address, typeExtension));
    if (std::string legacy = LegacyLocalFileName(kRoot, address); !legacy.empty())
        m_saved.insert(std::move(legacy));
}

void TLinkRepair::AddRenamed(const std::string& url, const std::string& typeExtension)
{
    if (url.empty() || typeExtension.empty())
        return;
    const std::string address = StripAnchor(url);
    const std::string current = LocalFileOf(address, typeExtension);
    for (std::string old : {LocalFileOf(address), LegacyLocalFileName(kRoot, address)}) {
        if (!old.empty() && old != current) {
            m_nameKeys.insert(NameKey(LastSegment(old)));
            m_renamed.emplace(std::move(old), std::make_pair(address, typeExtension));
        }
    }
}

void TLinkRepair::AddRecovered(const std::string& url, const std::string& typeExtension)
{
    if (url.empty())
        return;
    const std::string address = StripAnchor(url);
    // As RepairPage wrote it: in an attribute or string, and unquoted inside url(...).
    const std::string safe = AttributeSafe(address);
    m_recovered.insert_or_assign(address, address);
    m_recovered.emplace(safe, address);
    m_recovered.emplace(UnquotedCssURL(safe), address);
    if (!typeExtension.empty())
        m_typeExtensions.insert_or_assign(address, typeExtension);
}

std::string TLinkRepair::FailedTarget(const std::string& value, const std::string& localBase) const
{
    const std::string file = LinkedLocalFile(value, localBase);
    if (file.empty())
        return {};
    const auto found = m_failed.find(file);
    if (found == m_failed.end() || m_saved.contains(file))
        return {};
    return found->second;
}

std::string TLinkRepair::RenamedLink(const std::string& value, const std::string& localBase) const
{
    if (m_renamed.empty())
        return {};
    const std::string file = LinkedLocalFile(value, localBase);
    if (file.empty())
        return {};
    const auto found = m_renamed.find(file);
    // Another item's file of that very name keeps its links.
    if (found == m_renamed.end() || m_saved.contains(file))
        return {};
    return LocalLink(found->second.first, localBase, found->second.second);
}

std::string TLinkRepair::RecoveredTarget(const std::string& value) const
{
    if (value.empty() || value[0] == '#')
        return {};
    const auto found = m_recovered.find(value.substr(0, value.find('#')));
    return found == m_recovered.end() ? std::string() : found->second;
}

std::size_t TLinkRepair::Rewrite(const std::string& pageURL, std::string& text, bool styleSheet, bool maskAddresses,
                                 const TConvert& convert) const
{
    const std::string ownFolder = URLDirectory(pageURL);
    std::size_t changed = 0;

    auto pass = [&](const std::string& tag, const std::string& tagEnd, const std::string& attribute,
                    TParserMode mode, const std::optional<TMask>& mask) {
        TPXParser parser(std::move(text), tag, tagEnd, attribute, mode);
        while (!parser.Finished()) {
            std::string value = parser.Next();
            if (value.empty() || value[0] == '#')
                continue;
            if (mask)
                mask->Unmask(value);
            std::string localBase = ownFolder;
            if (attribute == "CODE") {
                // The parse thread made an applet's code link relative to its code base.
                const std::string codebase = parser.AttributeValue("CODEBASE");
                if (!codebase.empty())
                    localBase = WithTrailingSlash(StripAnchor(ResolveURL(codebase, localBase)));
            }
            if (std::optional<std::string> converted = convert(value, localBase)) {
                parser.ReplaceValue(*converted);
                ++changed;
            }
        }
        text = parser.TakeText();
        if (mask)
            mask->Unmask(text);
    };

    // srcset: each link of the list on its own, descriptors and commas kept (as the parse thread
    // splits it).
    auto listPass = [&](const std::string& tag, const std::string& attribute) {
        TPXParser parser(std::move(text), tag, ">", attribute, pmTag);
        while (!parser.Finished()) {
            const std::string value = parser.Next();
            if (value.empty())
                continue;
            std::size_t count = 0;
            const std::string rebuilt = RebuildLinkList(value, [&](const std::string& link, std::size_t) {
                std::optional<std::string> converted = convert(link, ownFolder);
                count += converted ? 1 : 0;
                return converted;
            });
            if (count > 0) {
                parser.ReplaceValue(rebuilt);
                changed += count;
            }
        }
        text = parser.TakeText();
    };

    auto stylePass = [&](bool wholeSheet) {
        const std::vector<TCssLink> found = wholeSheet ? FindStyleSheetLinks(text) : FindPageStyleLinks(text);
        std::vector<TTextEdit> edits;
        for (const TCssLink& link : found) {
            if (link.value[0] == '#')
                continue;
            std::optional<std::string> converted = convert(link.value, ownFolder);
            if (converted && *converted != link.value)
                edits.push_back({link.start, link.length, link.quoted ? *converted : UnquotedCssURL(*converted)});
        }
        if (!edits.empty()) {
            text = ApplyTextEdits(text, edits);
            changed += edits.size();
        }
    };

    if (styleSheet) {
        stylePass(true);
        return changed;
    }
    if (m_aggressive != 2) {
        for (const TLinkTableRow& row : kLinkTable)
            pass(row.tag, ">", row.attribute, pmTag, std::nullopt);
        for (const TLinkTableRow& row : kLinkListTable)
            listPass(row.tag, row.attribute);
        stylePass(false);
    }
    if (m_aggressive == 1 || m_aggressive == 2) {
        const auto mode = static_cast<TParserMode>(m_aggressive);
        for (const char quote : {'\'', '"'}) {
            std::optional<TMask> mask;
            if (maskAddresses)
                mask = MaskAddressStrings(text, quote, [this](const std::string& value) {
                    return m_recovered.contains(value);
                });
            pass(std::string(1, quote), std::string(1, quote), "", mode, mask);
        }
    }
    return changed;
}

std::size_t TLinkRepair::RepairPage(const std::string& pageURL, std::string& text, bool styleSheet) const
{
    if ((m_failed.empty() && m_renamed.empty()) || text.empty())
        return 0;
    return Rewrite(pageURL, text, styleSheet, false,
                   [this](const std::string& value, const std::string& localBase) -> std::optional<std::string> {
                       if (const std::string target = FailedTarget(value, localBase); !target.empty())
                           return AttributeSafe(target) + AnchorOf(value);
                       if (std::string link = RenamedLink(value, localBase); !link.empty())
                           return link + AnchorOf(value);
                       return std::nullopt;
                   });
}

std::size_t TLinkRepair::RestorePage(const std::string& pageURL, std::string& text, bool styleSheet) const
{
    if (m_recovered.empty() || text.empty())
        return 0;
    return Rewrite(pageURL, text, styleSheet, true,
                   [this](const std::string& value, const std::string& localBase) -> std::optional<std::string> {
                       const std::string target = RecoveredTarget(value);
                       if (target.empty())
                           return std::nullopt;
                       const auto type = m_typeExtensions.find(target);
                       return LocalLink(target, localBase, type == m_typeExtensions.end() ? "" : type->second)
                              + AnchorOf(value);
                   });
}

} // namespace pellix
