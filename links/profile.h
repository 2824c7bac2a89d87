// TPXProfile: a named set of crawl rules (file types, depth, locations, URL filters) and AcceptLink.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pellix {

class TIniFile;

// Where followed links may lie.
inline constexpr int kLocationCurrentDirectory = 0;
inline constexpr int kLocationCurrentSite = 1;
inline constexpr int kLocationAnywhere = 2;

inline constexpr const char* kProfileSection = "Profile";
// A task whose profile has this name keeps its rules only in its task file.
inline constexpr const char* kCustomProfileName = "Custom";

// A profile lives in its own file (profiles folder + name + ".pxp") or, as a task's copy, in the
// task file; either way in the section "Profile", leaving the file's other sections alone.
class TPXProfile final {
public:
    TPXProfile() = default;

    // Reads every key from ProfileFile(); missing keys take their defaults, while a missing or
    // empty list key leaves the list as it was. A missing file reads as all defaults.
    void Load();
    // Creates the missing folders of ProfileFile() and writes every key. False with a reason in
    // error when the file cannot be written.
    bool Save(std::string* error = nullptr) const;
    // The same on a file the caller holds (a task writes its own section in the same file).
    void ReadFrom(const TIniFile& file);
    void WriteTo(TIniFile& file) const;

    // Whether the link is to be followed. url is absolute; startFolderURL is the folder URL of
    // the task's start page; level is the level to test a page link with; typeGroup is the link's
    // file-type group ("HTML" marks a page).
    bool AcceptLink(std::string_view url, std::string_view startFolderURL, int level,
                    std::string_view typeGroup) const;

    const std::string& ProfileFile() const { return m_profileFile; }
    void SetProfileFile(std::string file) { m_profileFile = std::move(file); }
    const std::string& ProfileName() const { return m_profileName; }
    void SetProfileName(std::string name) { m_profileName = std::move(name); }
    // Extensions to fetch, lowercase with the dot; empty means every type.
    const std::vector<std::string>& FileTypes() const { return m_fileTypes; }
    void SetFileTypes(std::vector<std::string> types) { m_fileTypes = std::move(types); }
    int PageLocation() const { return m_pageLocation; }
    void SetPageLocation(int location) { m_pageLocation = location; }
    int ResourceLocation() const { return m_resourceLocation; }
    void SetResourceLocation(int location) { m_resourceLocation = location; }
    // -1 all levels; 0 the start page only; N the start page and N levels of pages below it.
    int Depth() const { return m_depth; }
    void SetDepth(int depth) { m_depth = depth; }
    int AggressiveParser() const { return m_aggressiveParser; }
    void SetAggressiveParser(int mode) { m_aggressiveParser = mode; }
    int ConvertFollowedLinks() const { return m_convertFollowedLinks; }
    void SetConvertFollowedLinks(int mode) { m_convertFollowedLinks = mode; }
    int ConvertUnfollowedLinks() const { return m_convertUnfollowedLinks; }
    void SetConvertUnfollowedLinks(int mode) { m_convertUnfollowedLinks = mode; }
    bool UseStartPageTitle() const { return m_useStartPageTitle; }
    void SetUseStartPageTitle(bool use) { m_useStartPageTitle = use; }
    // Filter lines: an optional marker "[AL]", "[PL]" or "[RL]" and then terms as comma text.
    const std::vector<std::string>& ExcludeFilters() const { return m_excludeFilters; }
    void SetExcludeFilters(std::vector<std::string> lines) { m_excludeFilters = std::move(lines); }
    const std::vector<std::string>& IncludeFilters() const { return m_includeFilters; }
    void SetIncludeFilters(std::vector<std::string> lines) { m_includeFilters = std::move(lines); }
    // Stored and read back only.
    int PageFileSizeMin() const { return m_pageFileSizeMin; }
    void SetPageFileSizeMin(int size) { m_pageFileSizeMin = size; }
    int PageFileSizeMax() const { return m_pageFileSizeMax; }
    void SetPageFileSizeMax(int size) { m_pageFileSizeMax = size; }
    int ResourceFileSizeMin() const { return m_resourceFileSizeMin; }
    void SetResourceFileSizeMin(int size) { m_resourceFileSizeMin = size; }
    int ResourceFileSizeMax() const { return m_resourceFileSizeMax; }
    void SetResourceFileSizeMax(int size) { m_resourceFileSizeMax = size; }

private:
    std::string m_profileFile;
    std::string m_profileName;
    std::vector<std::string> m_fileTypes;
    int m_pageLocation = kLocationCurrentSite;
    int m_resourceLocation = kLocationAnywhere;
    int m_depth = -1;
    int m_aggressiveParser = 1;
    int m_convertFollowedLinks = 1;
    int m_convertUnfollowedLinks = 1;
    bool m_useStartPageTitle = true;
    std::vector<std::string> m_excludeFilters;
    std::vector<std::string> m_includeFilters;
    int m_pageFileSizeMin = 0;
    int m_pageFileSizeMax = 0;
    int m_resourceFileSizeMin = 0;
    int m_resourceFileSizeMax = 0;
};

} // namespace pellix
