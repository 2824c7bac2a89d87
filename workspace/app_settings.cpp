#include "workspace/app_settings.h"

#include <algorithm>

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <system_error>

#include "engine/task.h"
#include "links/file_io.h"
#include "links/text_helpers.h"
#include "workspace/product.h"

namespace pellix {

namespace {

void CreateFolder(const std::string& folder)
{
    // A folder that cannot be created stays missing; whoever writes into it fails then.
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
}

std::string EnvText(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string UserHome()
{
    std::string home = EnvText("HOME");
    if (home.empty())
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
            home = pw->pw_dir;
    return home;
}

// The folder as a comparable path: absolute form, no dot segments, no trailing separator.
std::filesystem::path Comparable(const std::string& folder)
{
    std::filesystem::path p = std::filesystem::path(folder).lexically_normal();
    std::string text = p.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// Whether child equals parent or lies below it.
bool IsWithin(const std::filesystem::path& child, const std::filesystem::path& parent)
{
    auto c = child.begin();
    for (auto p = parent.begin(); p != parent.end(); ++p, ++c)
        if (c == child.end() || *c != *p)
            return false;
    return true;
}

// Whether the last component of a folder text names the product, in any case.
bool NamesProduct(const std::string& folder)
{
    std::string text = folder;
    while (!text.empty() && text.back() == '/')
        text.pop_back();
    return LowerCase(text.substr(text.rfind('/') + 1)).find("pellix") != std::string::npos;
}

int ParseInt(const std::string& text, int defaultValue)
{
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        return defaultValue;
    return value;
}

} // namespace

TAppPaths TAppPaths::FromEnvironment()
{
    TAppPaths paths;
    const std::string home = UserHome();
    paths.homeFolder = home;
    const std::string pellixHome = EnvText("PELLIX_HOME");
    const std::string dataHome = EnvText("XDG_DATA_HOME");
    if (!pellixHome.empty())
        paths.programFolder = pellixHome;
    else if (!dataHome.empty() && dataHome[0] == '/')
        paths.programFolder = std::filesystem::path(dataHome) / "Pellix";
    else
        paths.programFolder = std::filesystem::path(home) / ".local" / "share" / "Pellix";
    paths.settingsFile = TSettingsStore::DefaultPath();
    const std::string tmp = EnvText("TMPDIR");
    paths.systemTemp = tmp.empty() ? std::filesystem::path("/tmp") : std::filesystem::path(tmp);
    paths.intranetDefault = std::filesystem::path(home) / "My Intranet";
    return paths;
}

TPXApp::TPXApp(TAppPaths paths, int displayBitsPerPixel)
    : m_paths(std::move(paths)),
      m_programFolder(WithTrailingSlash(m_paths.programFolder.string())),
      m_store(std::make_unique<TSettingsStore>(m_paths.settingsFile)),
      m_launcher(std::make_unique<TURLLauncher>())
{
    const TSettingsStore& s = *m_store;
    m_beepOnCompletion = s.ReadSetting(kSettingsKey, "Beep On Completion", true);
    m_tasksViewFirst = s.ReadSetting(kSettingsKey, "Zip Properties First", false);
    m_connections = static_cast<std::uint32_t>(s.ReadSetting(kSettingsKey, "Connections", 10));
    m_priority = s.ReadSetting(kSettingsKey, "Priority", 5);
    m_useProxy = s.ReadSetting(kSettingsKey, "Use Proxy", false);
    m_proxyAddress = s.ReadSetting(kSettingsKey, "Proxy Address", "");
    m_proxyPort = s.ReadSetting(kSettingsKey, "Proxy Port", "");
    m_proxyAuthorization = s.ReadSetting(kSettingsKey, "Proxy Authorization", "");
    m_skin = s.ReadSetting(kSettingsKey, "Skin", "Default");
    m_noAds = s.ReadSetting(kSettingsKey, "No Ads", false);
    m_maxURLHistory = static_cast<std::uint32_t>(s.ReadSetting(kSettingsKey, "Max URL History", 20));
    m_maxFileHistory = static_cast<std::uint32_t>(s.ReadSetting(kSettingsKey, "Max File History", 10));
    m_lastCategory = s.ReadSetting(kSettingsKey, "Last Category", "General");
    if (m_lastCategory.empty())
        m_lastCategory = "General";
    m_userAgent = MapUserAgent(s.ReadSetting(kSettingsKey, "User Agent", ""));
    SetDisplayDepth(displayBitsPerPixel);
}

TPXApp::~TPXApp() = default;

std::unique_ptr<TPXApp> TPXApp::FromEnvironment(int displayBitsPerPixel)
{
    return std::make_unique<TPXApp>(TAppPaths::FromEnvironment(), displayBitsPerPixel);
}

// ---- Folders ----

std::string TPXApp::ProgramFolder() const
{
    return m_programFolder;
}

std::string TPXApp::TasksFolder() const
{
    const std::string folder = m_programFolder + "Tasks/";
    CreateFolder(folder);
    return folder;
}

std::string TPXApp::ProfilesFolder() const
{
    const std::string folder = m_programFolder + "Profiles/";
    CreateFolder(folder);
    return folder;
}

std::string TPXApp::SkinsFolder() const
{
    return m_programFolder + "Skins/" + Skin() + "/";
}

std::string TPXApp::DefaultDownloadsFolder() const
{
    return m_programFolder + "Downloads/";
}

std::string TPXApp::DefaultIntranetFolder() const
{
    return WithTrailingSlash(m_paths.intranetDefault.string());
}

std::string TPXApp::StoredFolder(const char* name) const
{
    return WithTrailingSlash(m_store->ReadSetting(kSettingsKey, name, ""));
}

std::string TPXApp::DownloadsFolder()
{
    std::string folder = StoredFolder("Downloads Folder");
    if (folder.empty()) {
        SetDownloadsFolder("");
        folder = DefaultDownloadsFolder();
    }
    CreateFolder(folder);
    return folder;
}

void TPXApp::SetDownloadsFolder(const std::string& folder)
{
    const std::string text = folder.empty() ? DefaultDownloadsFolder() : WithTrailingSlash(folder);
    m_store->WriteSetting(kSettingsKey, "Downloads Folder", text);
}

std::string TPXApp::IntranetFolder()
{
    std::string folder = StoredFolder("Local Intranet Folder");
    if (folder.empty()) {
        SetIntranetFolder("");
        folder = DefaultIntranetFolder();
    }
    CreateFolder(folder);
    return folder;
}

void TPXApp::SetIntranetFolder(const std::string& folder)
{
    const std::string text = folder.empty() ? DefaultIntranetFolder() : WithTrailingSlash(folder);
    m_store->WriteSetting(kSettingsKey, "Local Intranet Folder", text);
}

std::string TPXApp::TempFolder() const
{
    std::string folder = StoredFolder("Temp Folder");
    if (folder.empty())
        folder = WithTrailingSlash(m_paths.systemTemp.string()) + "Pellix/";
    // Private from the start; CheckTempFolder tells whether an existing one can be trusted.
    EnsurePrivateFolder(folder);
    return folder;
}

bool TPXApp::CheckTempFolder(std::string* error) const
{
    const std::string folder = TempFolder();
    std::string reason;
    if (EnsurePrivateFolder(folder, &reason))
        return true;
    if (error)
        *error = "Cannot use the temp folder " + folder + ": " + reason +
                 ". Remove it, or choose another temp folder.";
    return false;
}

bool TPXApp::SetTempFolder(const std::string& folder)
{
    if (folder.empty())
        return false;
    std::string text = WithTrailingSlash(folder);
    // The product name in the folder's own name is what lets the program delete it at exit. A
    // parent's name does not count: a user called "pellix" would lose ~/Downloads otherwise.
    if (!NamesProduct(text))
        text += "Pellix/";
    // A folder that would take the user's data with it at exit is refused outright.
    if (!IsTempFolderDisposable(text))
        return false;
    m_store->WriteSetting(kSettingsKey, "Temp Folder", text);
    return true;
}

bool TPXApp::IsTempFolderDisposable(const std::string& folder) const
{
    if (!NamesProduct(folder))
        return false;
    const std::filesystem::path temp = Comparable(folder);
    if (temp.empty() || temp == "/" || temp.is_relative())
        return false;
    const auto stored = [this](const char* name, const std::string& fallback) {
        const std::string text = StoredFolder(name);
        return text.empty() ? fallback : text;
    };
    // Neither any of these nor a folder holding one of them may go.
    const std::string kept[] = {
        m_paths.homeFolder.string(),
        m_programFolder,
        m_programFolder + "Tasks/",
        m_programFolder + "Profiles/",
        m_programFolder + "Skins/",
        stored("Downloads Folder", DefaultDownloadsFolder()),
        stored("Local Intranet Folder", DefaultIntranetFolder()),
    };
    for (const std::string& k : kept)
        if (!k.empty() && IsWithin(Comparable(k), temp))
            return false;
    // Nor a folder inside the program's own data folders.
    for (const char* sub : {"Tasks/", "Profiles/", "Skins/"})
        if (IsWithin(temp, Comparable(m_programFolder + sub)))
            return false;
    return true;
}

// ---- Cached settings ----

bool TPXApp::BeepOnCompletion() const
{
    std::lock_guard lock(m_mutex);
    return m_beepOnCompletion;
}

void TPXApp::SetBeepOnCompletion(bool value)
{
    {
        std::lock_guard lock(m_mutex);
        m_beepOnCompletion = value;
    }
    m_store->WriteSetting(kSettingsKey, "Beep On Completion", value);
}

bool TPXApp::TasksViewFirst() const
{
    std::lock_guard lock(m_mutex);
    return m_tasksViewFirst;
}

void TPXApp::SetTasksViewFirst(bool value)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasksViewFirst = value;
    }
    m_store->WriteSetting(kSettingsKey, "Zip Properties First", value);
}

std::uint32_t TPXApp::Connections() const
{
    std::lock_guard lock(m_mutex);
    return m_connections;
}

void TPXApp::SetConnections(std::uint32_t value)
{
    {
        std::lock_guard lock(m_mutex);
        m_connections = value;
    }
    m_store->WriteSetting(kSettingsKey, "Connections", static_cast<int>(value));
}

int TPXApp::Priority() const
{
    std::lock_guard lock(m_mutex);
    return m_priority;
}

void TPXApp::SetPriority(int value)
{
    {
        std::lock_guard lock(m_mutex);
        m_priority = value;
    }
    m_store->WriteSetting(kSettingsKey, "Priority", value);
    // The page/resource balance starts over with the new priority.
    if (TPXTask* task = CurrentTask())
        task->ResetTaken();
}

bool TPXApp::UseProxy() const
{
    std::lock_guard lock(m_mutex);
    return m_useProxy;
}

void TPXApp::SetUseProxy(bool value)
{
    {
        std::lock_guard lock(m_mutex);
        m_useProxy = value;
    }
    m_store->WriteSetting(kSettingsKey, "Use Proxy", value);
}

std::string TPXApp::ProxyAddress() const
{
    std::lock_guard lock(m_mutex);
    return m_proxyAddress;
}

void TPXApp::SetProxyAddress(const std::string& value)
{
    {
        std::lock_guard lock(m_mutex);
        m_proxyAddress = value;
    }
    m_store->WriteSetting(kSettingsKey, "Proxy Address", value);
}

std::string TPXApp::ProxyPort() const
{
    std::lock_guard lock(m_mutex);
    return m_proxyPort;
}

void TPXApp::SetProxyPort(const std::string& value)
{
    {
        std::lock_guard lock(m_mutex);
        m_proxyPort = value;
    }
    m_store->WriteSetting(kSettingsKey, "Proxy Port", value);
}

std::string TPXApp::ProxyAuthorization() const
{
    std::lock_guard lock(m_mutex);
    return m_proxyAuthorization;
}

void TPXApp::SetProxyAuthorization(const std::string& value)
{
    {
        std::lock_guard lock(m_mutex);
        m_proxyAuthorization = value;
    }
    m_store->WriteSetting(kSettingsKey, "Proxy Authorization", value);
}

std::string TPXApp::Skin() const
{
    std::lock_guard lock(m_mutex);
    return m_skin;
}

void TPXApp::SetSkin(const std::string& value)
{
    {
        std::lock_guard lock(m_mutex);
        m_skin = value;
    }
    m_store->WriteSetting(kSettingsKey, "Skin", value);
}

bool TPXApp::NoAds() const
{
    std::lock_guard lock(m_mutex);
    return m_noAdsOverride.value_or(m_noAds);
}

void TPXApp::OverrideNoAds(bool value)
{
    std::lock_guard lock(m_mutex);
    m_noAdsOverride = value;
}

void TPXApp::SetNoAds(bool value)
{
    {
        std::lock_guard lock(m_mutex);
        m_noAds = value;
    }
    m_store->WriteSetting(kSettingsKey, "No Ads", value);
}

std::uint32_t TPXApp::MaxURLHistory() const
{
    std::lock_guard lock(m_mutex);
    return m_maxURLHistory;
}

void TPXApp::SetMaxURLHistory(std::uint32_t value)
{
    {
        std::lock_guard lock(m_mutex);
        m_maxURLHistory = value;
    }
    m_store->WriteSetting(kSettingsKey, "Max URL History", static_cast<int>(value));
}

std::uint32_t TPXApp::MaxFileHistory() const
{
    std::lock_guard lock(m_mutex);
    return m_maxFileHistory;
}

void TPXApp::SetMaxFileHistory(std::uint32_t value)
{
    {
        std::lock_guard lock(m_mutex);
        m_maxFileHistory = value;
    }
    m_store->WriteSetting(kSettingsKey, "Max File History", static_cast<int>(value));
}

std::string TPXApp::LastCategory() const
{
    std::lock_guard lock(m_mutex);
    return m_lastCategory;
}

void TPXApp::SetLastCategory(const std::string& value)
{
    {
        std::lock_guard lock(m_mutex);
        m_lastCategory = value.empty() ? "General" : value;
    }
    m_store->WriteSetting(kSettingsKey, "Last Category", value);
}

std::string TPXApp::UserAgent() const
{
    std::lock_guard lock(m_mutex);
    return m_userAgent;
}

std::string TPXApp::StoredUserAgent() const
{
    return m_store->ReadSetting(kSettingsKey, "User Agent", "");
}

void TPXApp::SetUserAgent(const std::string& choice)
{
    m_store->WriteSetting(kSettingsKey, "User Agent", choice);
    std::lock_guard lock(m_mutex);
    m_userAgent = MapUserAgent(choice);
}

std::string TPXApp::MapUserAgent(const std::string& choice)
{
    if (choice.empty() || choice == "Pellix")
        return std::string(kProductName) + "/" + kProductVersion + " (" + kHomePage + ")";
    if (choice == "Internet Explorer 4.01")
        return "Mozilla/4.0 (compatible; MSIE 4.01; Windows 95)";
    if (choice == "Netscape Navigator 4.05")
        return "Mozilla/4.05 [en] (Win95; I)";
    if (choice == "Anonymous")
        return {};
    return choice;
}

// ---- Settings read on every call ----

int TPXApp::SaveMode() const
{
    return m_store->ReadSetting(kSettingsKey, "Save Mode", kSaveModeZip);
}

void TPXApp::SetSaveMode(int mode)
{
    m_store->WriteSetting(kSettingsKey, "Save Mode", mode);
}

std::int64_t TPXApp::MaxParsedPageSize() const
{
    const std::int64_t bytes = m_store->ReadSetting(kSettingsKey, "Max Parsed Page Size",
                                                    static_cast<int>(kDefaultMaxParsedPageSize));
    return bytes < 0 ? kDefaultMaxParsedPageSize : bytes;
}

void TPXApp::SetMaxParsedPageSize(std::int64_t bytes)
{
    m_store->WriteSetting(kSettingsKey, "Max Parsed Page Size",
                          static_cast<int>(std::clamp<std::int64_t>(bytes, 0, 0x7fffffff)));
}

std::string TPXApp::CAFile() const
{
    {
        std::lock_guard lock(m_mutex);
        if (m_caFileOverride)
            return *m_caFileOverride;
    }
    return m_store->ReadSetting(kSettingsKey, "CA File", "");
}

void TPXApp::SetCAFile(const std::string& path)
{
    m_store->WriteSetting(kSettingsKey, "CA File", path);
}

bool TPXApp::CheckCertificate() const
{
    {
        std::lock_guard lock(m_mutex);
        if (m_checkCertificateOverride)
            return *m_checkCertificateOverride;
    }
    return m_store->ReadSetting(kSettingsKey, "Check Certificate", true);
}

void TPXApp::SetCheckCertificate(bool value)
{
    m_store->WriteSetting(kSettingsKey, "Check Certificate", value);
}

void TPXApp::OverrideCAFile(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    m_caFileOverride = path;
}

void TPXApp::OverrideCheckCertificate(bool value)
{
    std::lock_guard lock(m_mutex);
    m_checkCertificateOverride = value;
}

bool TPXApp::ZipLast() const
{
    return m_store->ReadSetting(kSettingsKey, "Zip Last", false);
}

void TPXApp::SetZipLast(bool value)
{
    m_store->WriteSetting(kSettingsKey, "Zip Last", value);
}

int TPXApp::Compression(int defaultValue) const
{
    return m_store->ReadSetting(kSettingsKey, "Compression", defaultValue);
}

void TPXApp::SetCompression(int value)
{
    m_store->WriteSetting(kSettingsKey, "Compression", value);
}

bool TPXApp::UsePaths(bool defaultValue) const
{
    return m_store->ReadSetting(kSettingsKey, "Use Paths", defaultValue);
}

void TPXApp::SetUsePaths(bool value)
{
    m_store->WriteSetting(kSettingsKey, "Use Paths", value);
}

int TPXApp::ZipAction() const
{
    return m_store->ReadSetting(kSettingsKey, "Action", 0);
}

void TPXApp::SetZipAction(int value)
{
    m_store->WriteSetting(kSettingsKey, "Action", value);
}

std::string TPXApp::ZipFolder() const
{
    return m_store->ReadSetting(kSettingsKey, "Zip Folder", "");
}

void TPXApp::SetZipFolder(const std::string& value)
{
    m_store->WriteSetting(kSettingsKey, "Zip Folder", value);
}

bool TPXApp::LastZipFolder() const
{
    return m_store->ReadSetting(kSettingsKey, "Last Zip Folder", false);
}

void TPXApp::SetLastZipFolder(bool value)
{
    m_store->WriteSetting(kSettingsKey, "Last Zip Folder", value);
}

std::string TPXApp::UnzipFolder() const
{
    return m_store->ReadSetting(kSettingsKey, "Unzip Folder", "");
}

void TPXApp::SetUnzipFolder(const std::string& value)
{
    m_store->WriteSetting(kSettingsKey, "Unzip Folder", value);
}

bool TPXApp::LastUnzipFolder() const
{
    return m_store->ReadSetting(kSettingsKey, "Last Unzip Folder", false);
}

void TPXApp::SetLastUnzipFolder(bool value)
{
    m_store->WriteSetting(kSettingsKey, "Last Unzip Folder", value);
}

bool TPXApp::ExtractUsePaths() const
{
    return m_store->ReadSetting(kSettingsKey, "Extract Use Paths", false);
}

void TPXApp::SetExtractUsePaths(bool value)
{
    m_store->WriteSetting(kSettingsKey, "Extract Use Paths", value);
}

bool TPXApp::ExtractOverwrite() const
{
    return m_store->ReadSetting(kSettingsKey, "Extract Overwrite", false);
}

void TPXApp::SetExtractOverwrite(bool value)
{
    m_store->WriteSetting(kSettingsKey, "Extract Overwrite", value);
}

TWindowPosition TPXApp::WindowPosition() const
{
    const TWindowPosition d;
    TWindowPosition p;
    p.left = ParseInt(m_store->ReadSetting(kWindowPositionKey, "Left", "0"), d.left);
    p.top = ParseInt(m_store->ReadSetting(kWindowPositionKey, "Top", "0"), d.top);
    p.width = ParseInt(m_store->ReadSetting(kWindowPositionKey, "Width", "640"), d.width);
    p.height = ParseInt(m_store->ReadSetting(kWindowPositionKey, "Height", "480"), d.height);
    return p;
}

void TPXApp::SetWindowPosition(const TWindowPosition& position)
{
    std::vector<TSettingChange> changes;
    const std::pair<const char*, int> values[] = {
        {"Left", position.left}, {"Top", position.top}, {"Width", position.width}, {"Height", position.height}};
    for (const auto& [name, value] : values)
        changes.push_back({TSettingChange::coSetValue, kWindowPositionKey, name,
                           TSettingValue::String(std::to_string(value))});
    m_store->ApplyChanges(changes);
}

std::string TPXApp::StoredVersion() const
{
    return m_store->ReadSetting(kPellixKey, "Version", "");
}

void TPXApp::SetStoredVersion(const std::string& version)
{
    m_store->WriteSetting(kPellixKey, "Version", version);
}

std::vector<std::string> TPXApp::RecentItems(const std::string& listKey) const
{
    return m_store->SettingValues(listKey);
}

void TPXApp::SaveRecentItems(const std::string& listKey, const std::vector<std::string>& items)
{
    // One write replaces the whole list, so a crash never leaves half a list.
    std::vector<TSettingChange> changes;
    changes.push_back({TSettingChange::coDeleteKey, listKey, "", {}});
    changes.push_back({TSettingChange::coCreateKey, listKey, "", {}});
    for (std::size_t i = 0; i < items.size(); ++i)
        changes.push_back({TSettingChange::coSetValue, listKey, "F" + std::to_string(i),
                           TSettingValue::String(items[i])});
    m_store->ApplyChanges(changes);
}

// ---- Colours ----

TColourScheme TPXApp::HighColours()
{
    return {0x003366, 0x336699, 0x31659C, 0xCECFBD};
}

TColourScheme TPXApp::LowColours()
{
    return {0x00405F, 0x004080, 0x0060A1, 0xC0DCC0};
}

void TPXApp::SetDisplayDepth(int bitsPerPixel)
{
    m_colours = bitsPerPixel > 8 ? HighColours() : LowColours();
}

} // namespace pellix
