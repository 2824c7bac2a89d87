// File-type groups: named extension lists in the settings store that tell pages from resources.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pellix {

class TSettingsStore;

// One group as the store keeps it: the value name, and the extensions each followed by ";"
// (".htm;.html;").
struct TFileTypeGroup {
    std::string name;
    std::string data;
};

// The groups under "File Types", in the store's order; none when the key is missing.
std::vector<TFileTypeGroup> ReadFileTypeGroups(const TSettingsStore& store);

// The group of a URL: its extension (".htm" when it has none; with a query, the extension its
// local name ends in, QueryNameExtension, with ".html" looked up as ".htm"), looked up as extension + ";" in each group's data. Empty when no group lists it.
// The store is read afresh on every call.
std::string FileTypeOfURL(const TSettingsStore& store, std::string_view url);
std::string FileTypeOfURL(const std::vector<TFileTypeGroup>& groups, std::string_view url);

// The group of a file name by its lowercased extension; empty when no group lists it.
std::string FileTypeOfFile(const TSettingsStore& store, std::string_view fileName);
std::string FileTypeOfFile(const std::vector<TFileTypeGroup>& groups, std::string_view fileName);

// The extensions of a group's data, in order, without their ";".
std::vector<std::string> SplitExtensions(std::string_view data);

// The built-in groups ("HTML", "Images") and their extensions, which may not be deleted.
bool IsBuiltInFileType(std::string_view text);

// Removes every entry equal to extension from the group's data and writes the data back.
// False when the group is missing or the store cannot be written.
bool DeleteFileTypeExtension(TSettingsStore& store, const std::string& group,
                             const std::string& extension);
// Deletes the group's value. False when it was not there or the store cannot be written.
bool DeleteFileTypeGroup(TSettingsStore& store, const std::string& group);

} // namespace pellix
