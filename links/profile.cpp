#include "links/profile.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "links/comma_text.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"
#include "workspace/ini_file.h"

namespace pellix {

namespace {

constexpr const char* kKeyProfileName = "Profile Name";
constexpr const char* kKeyFileTypes = "File Types";
constexpr const char* kKeyPageLocation = "Page Location";
constexpr const char* kKeyResourceLocation = "Resource Location";
constexpr const char* kKeyDepth = "Depth";
constexpr const char* kKeyAggressiveParser = "Aggressive Parser";
constexpr const char* kKeyConvertFollowed = "Convert Followed Links";
constexpr const char* kKeyConvertUnfollowed = "Convert Unfollowed Links";
constexpr const char* kKeyUseStartPageTitle = "Use Start Page Title";
constexpr const char* kKeyExcludeFilters = "URL Filters Exclude";
constexpr const char* kKeyIncludeFilters = "URL Filters Include";
constexpr const char* kKeyPageSizeMin = "Page File Size Min";
constexpr const char* kKeyPageSizeMax = "Page File Size Max";
constexpr const char* kKeyResourceSizeMin = "Resource File Size Min";
constexpr const char* kKeyResourceSizeMax = "Resource File Size Max";

void ReadList(const TIniFile& file, const char* key, std::vector<std::string>& list)
{
    const std::string text = file.ReadString(kProfileSection, key, std::string());
    if (!text.empty())
        list = SplitCommaText(text);
}

// Which links a filter line applies to.
enum class TFilterScope { fsAll, fsPages, fsResources };

struct TFilterLine {
    TFilterScope scope = TFilterScope::fsAll;
    std::vector<std::string> terms;
};

TFilterLine ParseFilterLine(std::string_view line)
{
    TFilterLine filter;
    filter.terms = SplitCommaText(line);
    if (filter.terms.empty())
        return filter;
    std::string& first = filter.terms.front();
    const std::string_view marker = std::string_view(first).substr(0, 4);
    if (marker == "[AL]" || marker == "[PL]" || marker == "[RL]") {
        if (marker == "[PL]")
            filter.scope = TFilterScope::fsPages;
        else if (marker == "[RL]")
            filter.scope = TFilterScope::fsResources;
        first.erase(0, 4); // may leave an empty term, which is never contained
    }
    return filter;
}

bool AppliesTo(const TFilterLine& filter, bool page)
{
    switch (filter.scope) {
    case TFilterScope::fsPages:
        return page;
    case TFilterScope::fsResources:
        return !page;
    case TFilterScope::fsAll:
        break;
    }
    return true;
}

// Terms match as written, letter case included; an empty term never matches.
bool ContainsAll(std::string_view url, const std::vector<std::string>& terms)
{
    return std::all_of(terms.begin(), terms.end(), [url](const std::string& term) {
        return !term.empty() && url.find(term) != std::string_view::npos;
    });
}

// The same address under the other of http:// and https://, so that a site that moved to
// https (or links back to http) still counts as the same site.
std::string OtherScheme(std::string_view url)
{
    const std::string lower = LowerCase(url.substr(0, 8));
    if (lower.starts_with("https://"))
        return "http://" + std::string(url.substr(8));
    if (lower.starts_with("http://"))
        return "https://" + std::string(url.substr(7));
    return std::string();
}

} // namespace

void TPXProfile::Load()
{
    ReadFrom(TIniFile(m_profileFile));
}

bool TPXProfile::Save(std::string* error) const
{
    const std::filesystem::path path(m_profileFile);
    std::error_code ec;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), ec);
    TIniFile file(path);
    WriteTo(file);
    return file.Save(false, error);
}

void TPXProfile::ReadFrom(const TIniFile& file)
{
    m_profileName = file.ReadString(kProfileSection, kKeyProfileName, std::string());
    ReadList(file, kKeyFileTypes, m_fileTypes);
    m_pageLocation = file.ReadInteger(kProfileSection, kKeyPageLocation, kLocationCurrentSite);
    m_resourceLocation = file.ReadInteger(kProfileSection, kKeyResourceLocation, kLocationAnywhere);
    m_depth = file.ReadInteger(kProfileSection, kKeyDepth, -1);
    m_aggressiveParser = file.ReadInteger(kProfileSection, kKeyAggressiveParser, 1);
    m_convertFollowedLinks = file.ReadInteger(kProfileSection, kKeyConvertFollowed, 1);
    m_convertUnfollowedLinks = file.ReadInteger(kProfileSection, kKeyConvertUnfollowed, 1);
    m_useStartPageTitle = file.ReadBool(kProfileSection, kKeyUseStartPageTitle, true);
    ReadList(file, kKeyExcludeFilters, m_excludeFilters);
    ReadList(file, kKeyIncludeFilters, m_includeFilters);
    m_pageFileSizeMin = file.ReadInteger(kProfileSection, kKeyPageSizeMin, 0);
    m_pageFileSizeMax = file.ReadInteger(kProfileSection, kKeyPageSizeMax, 0);
    m_resourceFileSizeMin = file.ReadInteger(kProfileSection, kKeyResourceSizeMin, 0);
    m_resourceFileSizeMax = file.ReadInteger(kProfileSection, kKeyResourceSizeMax, 0);
}

void TPXProfile::WriteTo(TIniFile& file) const
{
    file.WriteString(kProfileSection, kKeyProfileName, m_profileName);
    file.WriteString(kProfileSection, kKeyFileTypes, JoinCommaText(m_fileTypes));
    file.WriteInteger(kProfileSection, kKeyPageLocation, m_pageLocation);
    file.WriteInteger(kProfileSection, kKeyResourceLocation, m_resourceLocation);
    file.WriteInteger(kProfileSection, kKeyDepth, m_depth);
    file.WriteInteger(kProfileSection, kKeyAggressiveParser, m_aggressiveParser);
    file.WriteInteger(kProfileSection, kKeyConvertFollowed, m_convertFollowedLinks);
    file.WriteInteger(kProfileSection, kKeyConvertUnfollowed, m_convertUnfollowedLinks);
    file.WriteBool(kProfileSection, kKeyUseStartPageTitle, m_useStartPageTitle);
    file.WriteString(kProfileSection, kKeyExcludeFilters, JoinCommaText(m_excludeFilters));
    file.WriteString(kProfileSection, kKeyIncludeFilters, JoinCommaText(m_includeFilters));
    file.WriteInteger(kProfileSection, kKeyPageSizeMin, m_pageFileSizeMin);
    file.WriteInteger(kProfileSection, kKeyPageSizeMax, m_pageFileSizeMax);
    file.WriteInteger(kProfileSection, kKeyResourceSizeMin, m_resourceFileSizeMin);
    file.WriteInteger(kProfileSection, kKeyResourceSizeMax, m_resourceFileSizeMax);
}

bool TPXProfile::AcceptLink(std::string_view url, std::string_view startFolderURL, int level,
                            std::string_view typeGroup) const
{
    const std::string protocol = LowerCase(URLProtocol(url));
    if (protocol != "http://" && protocol != "https://")
        return false;

    const std::string extension = m_fileTypes.empty() ? std::string() : URLExtension(url);
    if (!extension.empty()) {
        const std::string lower = LowerCase(extension);
        const bool listed = std::any_of(m_fileTypes.begin(), m_fileTypes.end(),
                                        [&lower](const std::string& type) { return LowerCase(type) == lower; });
        if (!listed)
            return false;
    }

    const bool page = typeGroup == "HTML";
    if (page && m_depth >= 0 && m_depth < level)
        return false;

    for (const std::string& line : m_excludeFilters) {
        const TFilterLine filter = ParseFilterLine(line);
        if (AppliesTo(filter, page) && !filter.terms.empty() && ContainsAll(url, filter.terms))
            return false;
    }

    if (!m_includeFilters.empty()) {
        const bool passes = std::any_of(m_includeFilters.begin(), m_includeFilters.end(),
                                        [url, page](const std::string& line) {
                                            const TFilterLine filter = ParseFilterLine(line);
                                            return !AppliesTo(filter, page) || ContainsAll(url, filter.terms);
                                        });
        if (!passes)
            return false;
    }

    if (ContainsText(url, "mailto:"))
        return false;

    if (!m_fileTypes.empty() && (extension == ".js" || extension == ".css"))
        return true;

    const auto beginsWith = [url](const std::string& prefix) {
        return !prefix.empty() && url.starts_with(prefix);
    };
    const auto contains = [url](const std::string& part) {
        return !part.empty() && url.find(part) != std::string_view::npos;
    };
    switch (page ? m_pageLocation : m_resourceLocation) {
    case kLocationCurrentDirectory: {
        const std::string folder(startFolderURL);
        return beginsWith(folder) || beginsWith(OtherScheme(folder));
    }
    case kLocationCurrentSite: {
        const std::string root = URLAncestor(startFolderURL, 0);
        return contains(root) || contains(OtherScheme(root));
    }
    case kLocationAnywhere:
        return true;
    default:
        return false;
    }
}

} // namespace pellix
