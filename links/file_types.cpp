#include "links/file_types.h"

#include <algorithm>
#include <array>

#include "links/url_rules.h"
#include "workspace/app_settings.h"
#include "workspace/settings_store.h"

namespace pellix {

namespace {

std::string FirstGroupListing(const std::vector<TFileTypeGroup>& groups, const std::string& extension)
{
    const std::string entry = extension + ";";
    for (const TFileTypeGroup& group : groups)
        if (group.data.find(entry) != std::string::npos)
            return group.name;
    return std::string();
}

} // namespace

std::vector<TFileTypeGroup> ReadFileTypeGroups(const TSettingsStore& store)
{
    const std::vector<std::string> names = store.SettingNames(kFileTypesKey);
    const std::vector<std::string> values = store.SettingValues(kFileTypesKey);
    std::vector<TFileTypeGroup> groups;
    groups.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        groups.push_back({names[i], i < values.size() ? values[i] : std::string()});
    return groups;
}

std::string FileTypeOfURL(const std::vector<TFileTypeGroup>& groups, std::string_view url)
{
    std::string extension = URLExtension(url);
    if (extension.empty())
        extension = ".htm";
    if (url.find('?') != std::string_view::npos) {
        // The extension the local file ends in: a versioned style sheet is no page.
        extension = QueryNameExtension(url);
        if (extension == ".html")
            extension = ".htm";
    }
    return FirstGroupListing(groups, extension);
}

std::string FileTypeOfURL(const TSettingsStore& store, std::string_view url)
{
    return FileTypeOfURL(ReadFileTypeGroups(store), url);
}

std::string FileTypeOfFile(const std::vector<TFileTypeGroup>& groups, std::string_view fileName)
{
    const std::size_t slash = fileName.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    std::string extension = dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return FirstGroupListing(groups, extension);
}

std::string FileTypeOfFile(const TSettingsStore& store, std::string_view fileName)
{
    return FileTypeOfFile(ReadFileTypeGroups(store), fileName);
}

std::vector<std::string> SplitExtensions(std::string_view data)
{
    std::vector<std::string> extensions;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find(';', start);
        if (end == std::string_view::npos)
            end = data.size();
        if (end > start)
            extensions.emplace_back(data.substr(start, end - start));
        start = end + 1;
    }
    return extensions;
}

bool IsBuiltInFileType(std::string_view text)
{
    static constexpr std::array<std::string_view, 10> kBuiltIn = {
        "HTML", ".htm", ".html", ".shtm", ".shtml", ".asp", "Images", ".gif", ".jpg", ".jpeg"};
    return std::find(kBuiltIn.begin(), kBuiltIn.end(), text) != kBuiltIn.end();
}

bool DeleteFileTypeExtension(TSettingsStore& store, const std::string& group, const std::string& extension)
{
    if (!store.ValueExists(kFileTypesKey, group))
        return false;
    // Entry by entry, so that deleting ".mp" leaves ".amp;" and ".mpg;" alone.
    std::string data;
    for (const std::string& entry : SplitExtensions(store.ReadSetting(kFileTypesKey, group, "")))
        if (entry != extension)
            data += entry + ";";
    return store.WriteSetting(kFileTypesKey, group, data);
}

bool DeleteFileTypeGroup(TSettingsStore& store, const std::string& group)
{
    return store.DeleteSetting(kFileTypesKey, group);
}

} // namespace pellix
