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

// Every value the application object keeps in the store, each named once with its default.
constexpr TSetting<bool> kBeepOnCompletion{kSettingsKey, "Beep On Completion", true};
constexpr TSetting<bool> kTasksViewFirst{kSettingsKey, "Zip Properties First", false};
constexpr TSetting<int> kConnections{kSettingsKey, "Connections", 10};
constexpr TSetting<int> kPriority{kSettingsKey, "Priority", 5};
constexpr TSetting<bool> kUseProxy{kSettingsKey, "Use Proxy", false};
constexpr TSetting<std::string> kProxyAddress{kSettingsKey, "Proxy Address", ""};
constexpr TSetting<std::string> kProxyPort{kSettingsKey, "Proxy Port", ""};
constexpr TSetting<std::string> kProxyAuthorization{kSettingsKey, "Proxy Authorization", ""};
constexpr TSetting<std::string> kSkin{kSettingsKey, "Skin", "Default"};
constexpr TSetting<bool> kNoAds{kSettingsKey, "No Ads", false};
constexpr TSetting<int> kMaxURLHistory{kSettingsKey, "Max URL History", 20};
constexpr TSetting<int> kMaxFileHistory{kSettingsKey, "Max File History", 10};
constexpr TSetting<std::string> kLastCategory{kSettingsKey, "Last Category", "General"};
constexpr TSetting<std::string> kUserAgent{kSettingsKey, "User Agent", ""};
// Empty stands for the folder's default, which depends on the machine.
constexpr TSetting<std::string> kDownloadsFolder{kSettingsKey, "Downloads Folder", ""};
constexpr TSetting<std::string> kIntranetFolder{kSettingsKey, "Local Intranet Folder", ""};
constexpr TSetting<std::string> kTempFolder{kSettingsKey, "Temp Folder", ""};
constexpr TSetting<int> kSaveMode{kSettingsKey, "Save Mode", kSaveModeZip};
constexpr TSetting<int> kMaxParsedPageSize{kSettingsKey, "Max Parsed Page Size",
                                           static_cast<int>(TPXApp::kDefaultMaxParsedPageSize)};
constexpr TSetting<std::string> kCAFile{kSettingsKey, "CA File", ""};
constexpr TSetting<bool> kCheckCertificate{kSettingsKey, "Check Certificate", true};
constexpr TSetting<bool> kZipLast{kSettingsKey, "Zip Last", false};
constexpr TSetting<int> kCompression{kSettingsKey, "Compression", 6};
constexpr TSetting<bool> kUsePaths{kSettingsKey, "Use Paths", true};
constexpr TSetting<int> kZipAction{kSettingsKey, "Action", 0};
constexpr TSetting<std::string> kZipFolder{kSettingsKey, "Zip Folder", ""};
constexpr TSetting<bool> kLastZipFolder{kSettingsKey, "Last Zip Folder", false};
constexpr TSetting<std::string> kUnzipFolder{kSettingsKey, "Unzip Folder", ""};
constexpr TSetting<bool> kLastUnzipFolder{kSettingsKey, "Last Unzip Folder", false};
constexpr TSetting<bool> kExtractUsePaths{kSettingsKey, "Extract Use Paths", false};
constexpr TSetting<bool> kExtractOverwrite{kSettingsKey, "Extract Overwrite", false};
// The window position is kept as decimal text.
constexpr TSetting<std::string> kWindowLeft{kWindowPositionKey, "Left", "0"};
constexpr TSetting<std::string> kWindowTop{kWindowPositionKey, "Top", "0"};
constexpr TSetting<std::string> kWindowWidth{kWindowPositionKey, "Width", "640"};
constexpr TSetting<std::string> kWindowHeight{kWindowPositionKey, "Height", "480"};
constexpr TSetting<std::string> kVersion{kPellixKey, "Version", ""};

// A folder setting ends in "/"; empty text stands for the default, and stores it.
void WriteFolder(TSettingsStore& store, const TSetting<std::string>& setting, const std::string& folder,
                 const std::string& defaultFolder)
{
    setting.Write(store, folder.empty() ? defaultFolder : WithTrailingSlash(folder));
}

// The stored folder, or the default stored on first use; created when missing.
std::string DefaultedFolder(TSettingsStore& store, const TSetting<std::string>& setting,
                            const std::string& defaultFolder)
{
    std::string folder = WithTrailingSlash(setting.Read(store));
    if (folder.empty()) {
        WriteFolder(store, setting, "", defaultFolder);
        folder = defaultFolder;
    }
    CreateFolder(folder);
    return folder;
}

// A setting cached in memory: read under the lock, since worker threads read some of them.
template <typename T>
T Cached(std::mutex& mutex, const T& field)
{
    std::lock_guard lock(mutex);
    return field;
}

// Stores a cached setting in memory, then writes it at once. Unsigned counts are stored as
// the store's 32-bit integers.
template <typename T, typename TStored>
void SetCached(std::mutex& mutex, T& field, const T& value, TSettingsStore& store,
               const TSetting<TStored>& setting)
{
    {
        std::lock_guard lock(mutex);
        field = value;
    }
    setting.Write(store, static_cast<TStored>(value));
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

TPXApp::TPXApp(TAppPaths paths, int displayBitsPerPixel, TSettingsStore::TClock clock)
    : m_paths(std::move(paths)),
      m_programFolder(WithTrailingSlash(m_paths.programFolder.string())),
      m_launcher(std::make_unique<TURLLauncher>()),
      m_clock(clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); })
{
    m_store = std::make_unique<TSettingsStore>(m_paths.settingsFile, m_clock);
    const TSettingsStore& s = *m_store;
    m_beepOnCompletion = kBeepOnCompletion.Read(s);
    m_tasksViewFirst = kTasksViewFirst.Read(s);
    m_connections = static_cast<std::uint32_t>(kConnections.Read(s));
    m_priority = kPriority.Read(s);
    m_useProxy = kUseProxy.Read(s);
    m_proxyAddress = kProxyAddress.Read(s);
    m_proxyPort = kProxyPort.Read(s);
    m_proxyAuthorization = kProxyAuthorization.Read(s);
    m_skin = kSkin.Read(s);
    m_noAds = kNoAds.Read(s);
    m_maxURLHistory = static_cast<std::uint32_t>(kMaxURLHistory.Read(s));
    m_maxFileHistory = static_cast<std::uint32_t>(kMaxFileHistory.Read(s));
    m_lastCategory = kLastCategory.Read(s);
    if (m_lastCategory.empty())
        m_lastCategory = kLastCategory.defaultValue;
    m_userAgent = MapUserAgent(kUserAgent.Read(s));
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

std::string TPXApp::StoredFolder(const TSetting<std::string>& setting) const
{
    return WithTrailingSlash(setting.Read(*m_store));
}

std::string TPXApp::DownloadsFolder()
{
    return DefaultedFolder(*m_store, kDownloadsFolder, DefaultDownloadsFolder());
}

void TPXApp::SetDownloadsFolder(const std::string& folder)
{
    WriteFolder(*m_store, kDownloadsFolder, folder, DefaultDownloadsFolder());
}

std::string TPXApp::IntranetFolder()
{
    return DefaultedFolder(*m_store, kIntranetFolder, DefaultIntranetFolder());
}

void TPXApp::SetIntranetFolder(const std::string& folder)
{
    WriteFolder(*m_store, kIntranetFolder, folder, DefaultIntranetFolder());
}

std::string TPXApp::StoredTempFolder() const
{
    std::string folder = StoredFolder(kTempFolder);
    if (folder.empty())
        folder = WithTrailingSlash(m_paths.systemTemp.string()) + "Pellix/";
    return folder;
}

std::string TPXApp::TempFolder() const
{
    const std::string folder = StoredTempFolder();
    // Private from the start; CheckTempFolder tells whether an existing one can be trusted. The
    // look is skipped while the last one is recent: a folder removed meanwhile is made again
    // within the interval.
    std::lock_guard lock(m_tempMutex);
    const auto now = m_clock();
    if (folder == m_privateTemp && now - m_privateTempAt < TSettingsStore::kRecheckInterval)
        return folder;
    if (EnsurePrivateFolder(folder)) {
        m_privateTemp = folder;
        m_privateTempAt = now;
    } else {
        m_privateTemp.clear();
    }
    return folder;
}

bool TPXApp::CheckTempFolder(std::string* error) const
{
    const std::string folder = StoredTempFolder();
    std::string reason;
    const bool usable = EnsurePrivateFolder(folder, &reason);
    {
        std::lock_guard lock(m_tempMutex);
        m_privateTemp = usable ? folder : std::string();
        m_privateTempAt = m_clock();
    }
    if (usable)
        return true;
    if (error)
        *error = "Cannot use the temp folder " + folder + ": " + reason +
                 ". Remove it, or choose another temp folder.";
    return false;
}

bool TPXApp::SetTempFolder(const std::string& folder)
{
    const std::optional<std::string> text = TempFolderChoice(folder);
    if (!text)
        return false;
    kTempFolder.Write(*m_store, *text);
    return true;
}

std::optional<std::string> TPXApp::TempFolderChoice(const std::string& folder) const
{
    if (folder.empty())
        return std::nullopt;
    std::string text = WithTrailingSlash(folder);
    // The product name in the folder's own name is what lets the program delete it at exit. A
    // parent's name does not count: a user called "pellix" would lose ~/Downloads otherwise.
    if (!NamesProduct(text))
        text += "Pellix/";
    // A folder that would take the user's data with it at exit is refused outright.
    if (!IsTempFolderDisposable(text))
        return std::nullopt;
    return text;
}

bool TPXApp::IsTempFolderDisposable(const std::string& folder) const
{
    if (!NamesProduct(folder))
        return false;
    const std::filesystem::path temp = Comparable(folder);
    if (temp.empty() || temp == "/" || temp.is_relative())
        return false;
    const auto stored = [this](const TSetting<std::string>& setting, const std::string& fallback) {
        const std::string text = StoredFolder(setting);
        return text.empty() ? fallback : text;
    };
    // Neither any of these nor a folder holding one of them may go.
    const std::string kept[] = {
        m_paths.homeFolder.string(),
        m_programFolder,
        m_programFolder + "Tasks/",
        m_programFolder + "Profiles/",
        m_programFolder + "Skins/",
        stored(kDownloadsFolder, DefaultDownloadsFolder()),
        stored(kIntranetFolder, DefaultIntranetFolder()),
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

bool TPXApp::BeepOnCompletion() const { return Cached(m_mutex, m_beepOnCompletion); }
void TPXApp::SetBeepOnCompletion(bool value)
{
    SetCached(m_mutex, m_beepOnCompletion, value, *m_store, kBeepOnCompletion);
}

bool TPXApp::TasksViewFirst() const { return Cached(m_mutex, m_tasksViewFirst); }
void TPXApp::SetTasksViewFirst(bool value)
{
    SetCached(m_mutex, m_tasksViewFirst, value, *m_store, kTasksViewFirst);
}

std::uint32_t TPXApp::Connections() const { return Cached(m_mutex, m_connections); }
void TPXApp::SetConnections(std::uint32_t value)
{
    SetCached(m_mutex, m_connections, value, *m_store, kConnections);
}

int TPXApp::Priority() const { return Cached(m_mutex, m_priority); }
void TPXApp::SetPriority(int value)
{
    SetCached(m_mutex, m_priority, value, *m_store, kPriority);
    // The page/resource balance starts over with the new priority.
    if (TPXTask* task = CurrentTask())
        task->ResetTaken();
}

bool TPXApp::UseProxy() const { return Cached(m_mutex, m_useProxy); }
void TPXApp::SetUseProxy(bool value) { SetCached(m_mutex, m_useProxy, value, *m_store, kUseProxy); }

std::string TPXApp::ProxyAddress() const { return Cached(m_mutex, m_proxyAddress); }
void TPXApp::SetProxyAddress(const std::string& value)
{
    SetCached(m_mutex, m_proxyAddress, value, *m_store, kProxyAddress);
}

std::string TPXApp::ProxyPort() const { return Cached(m_mutex, m_proxyPort); }
void TPXApp::SetProxyPort(const std::string& value)
{
    SetCached(m_mutex, m_proxyPort, value, *m_store, kProxyPort);
}

std::string TPXApp::ProxyAuthorization() const { return Cached(m_mutex, m_proxyAuthorization); }
void TPXApp::SetProxyAuthorization(const std::string& value)
{
    SetCached(m_mutex, m_proxyAuthorization, value, *m_store, kProxyAuthorization);
}

std::string TPXApp::Skin() const { return Cached(m_mutex, m_skin); }
void TPXApp::SetSkin(const std::string& value) { SetCached(m_mutex, m_skin, value, *m_store, kSkin); }

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

void TPXApp::SetNoAds(bool value) { SetCached(m_mutex, m_noAds, value, *m_store, kNoAds); }

std::uint32_t TPXApp::MaxURLHistory() const { return Cached(m_mutex, m_maxURLHistory); }
void TPXApp::SetMaxURLHistory(std::uint32_t value)
{
    SetCached(m_mutex, m_maxURLHistory, value, *m_store, kMaxURLHistory);
}

std::uint32_t TPXApp::MaxFileHistory() const { return Cached(m_mutex, m_maxFileHistory); }
void TPXApp::SetMaxFileHistory(std::uint32_t value)
{
    SetCached(m_mutex, m_maxFileHistory, value, *m_store, kMaxFileHistory);
}

std::string TPXApp::LastCategory() const { return Cached(m_mutex, m_lastCategory); }
void TPXApp::SetLastCategory(const std::string& value)
{
    {
        std::lock_guard lock(m_mutex);
        m_lastCategory = value.empty() ? kLastCategory.defaultValue : value;
    }
    // Written unchanged: an empty category stays empty in the store.
    kLastCategory.Write(*m_store, value);
}

std::string TPXApp::UserAgent() const { return Cached(m_mutex, m_userAgent); }

std::string TPXApp::StoredUserAgent() const { return kUserAgent.Read(*m_store); }

void TPXApp::SetUserAgent(const std::string& choice)
{
    kUserAgent.Write(*m_store, choice);
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

int TPXApp::SaveMode() const { return kSaveMode.Read(*m_store); }
void TPXApp::SetSaveMode(int mode) { kSaveMode.Write(*m_store, mode); }

std::int64_t TPXApp::MaxParsedPageSize() const
{
    const std::int64_t bytes = kMaxParsedPageSize.Read(*m_store);
    return bytes < 0 ? kDefaultMaxParsedPageSize : bytes;
}

void TPXApp::SetMaxParsedPageSize(std::int64_t bytes)
{
    kMaxParsedPageSize.Write(*m_store, static_cast<int>(std::clamp<std::int64_t>(bytes, 0, 0x7fffffff)));
}

std::string TPXApp::CAFile() const
{
    {
        std::lock_guard lock(m_mutex);
        if (m_caFileOverride)
            return *m_caFileOverride;
    }
    return kCAFile.Read(*m_store);
}

void TPXApp::SetCAFile(const std::string& path) { kCAFile.Write(*m_store, path); }

bool TPXApp::CheckCertificate() const
{
    {
        std::lock_guard lock(m_mutex);
        if (m_checkCertificateOverride)
            return *m_checkCertificateOverride;
    }
    return kCheckCertificate.Read(*m_store);
}

void TPXApp::SetCheckCertificate(bool value) { kCheckCertificate.Write(*m_store, value); }

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

bool TPXApp::ZipLast() const { return kZipLast.Read(*m_store); }
bool TPXApp::ZipLast(bool defaultValue) const { return kZipLast.Read(*m_store, defaultValue); }
void TPXApp::SetZipLast(bool value) { kZipLast.Write(*m_store, value); }

int TPXApp::Compression(int defaultValue) const { return kCompression.Read(*m_store, defaultValue); }
void TPXApp::SetCompression(int value) { kCompression.Write(*m_store, value); }

bool TPXApp::UsePaths(bool defaultValue) const { return kUsePaths.Read(*m_store, defaultValue); }
void TPXApp::SetUsePaths(bool value) { kUsePaths.Write(*m_store, value); }

int TPXApp::ZipAction() const { return kZipAction.Read(*m_store); }
void TPXApp::SetZipAction(int value) { kZipAction.Write(*m_store, value); }

std::string TPXApp::ZipFolder() const { return kZipFolder.Read(*m_store); }
void TPXApp::SetZipFolder(const std::string& value) { kZipFolder.Write(*m_store, value); }

bool TPXApp::LastZipFolder() const { return kLastZipFolder.Read(*m_store); }
void TPXApp::SetLastZipFolder(bool value) { kLastZipFolder.Write(*m_store, value); }

std::string TPXApp::UnzipFolder() const { return kUnzipFolder.Read(*m_store); }
void TPXApp::SetUnzipFolder(const std::string& value) { kUnzipFolder.Write(*m_store, value); }

bool TPXApp::LastUnzipFolder() const { return kLastUnzipFolder.Read(*m_store); }
void TPXApp::SetLastUnzipFolder(bool value) { kLastUnzipFolder.Write(*m_store, value); }

bool TPXApp::ExtractUsePaths() const { return kExtractUsePaths.Read(*m_store); }
void TPXApp::SetExtractUsePaths(bool value) { kExtractUsePaths.Write(*m_store, value); }

bool TPXApp::ExtractOverwrite() const { return kExtractOverwrite.Read(*m_store); }
void TPXApp::SetExtractOverwrite(bool value) { kExtractOverwrite.Write(*m_store, value); }

TWindowPosition TPXApp::WindowPosition() const
{
    const TWindowPosition d;
    TWindowPosition p;
    p.left = ParseInt(kWindowLeft.Read(*m_store), d.left);
    p.top = ParseInt(kWindowTop.Read(*m_store), d.top);
    p.width = ParseInt(kWindowWidth.Read(*m_store), d.width);
    p.height = ParseInt(kWindowHeight.Read(*m_store), d.height);
    return p;
}

void TPXApp::SetWindowPosition(const TWindowPosition& position)
{
    std::vector<TSettingChange> changes;
    const std::pair<const TSetting<std::string>&, int> values[] = {
        {kWindowLeft, position.left}, {kWindowTop, position.top}, {kWindowWidth, position.width},
        {kWindowHeight, position.height}};
    for (const auto& [setting, value] : values)
        changes.push_back({TSettingChange::coSetValue, setting.key, setting.name,
                           TSettingValue::String(std::to_string(value))});
    m_store->ApplyChanges(changes);
}

std::string TPXApp::StoredVersion() const
{
    return kVersion.Read(*m_store);
}

void TPXApp::SetStoredVersion(const std::string& version)
{
    kVersion.Write(*m_store, version);
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
