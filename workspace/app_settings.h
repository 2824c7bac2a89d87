// TPXApp: the application object: every setting with its default, the folders, the current task,
// the active-task list, the colour scheme and the URL launcher.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "workspace/settings_store.h"
#include "workspace/url_launcher.h"

namespace pellix {

class TPXTask;

// Where the program keeps things; tests build one inside a temp folder.
struct TAppPaths {
    std::filesystem::path programFolder;   // the Pellix home
    std::filesystem::path settingsFile;    // the settings store file
    std::filesystem::path systemTemp;      // the system's temporary folder
    std::filesystem::path intranetDefault; // default "Local Intranet Folder"
    std::filesystem::path homeFolder;      // the user's home, never to be used as temp folder

    // $PELLIX_HOME, else $XDG_DATA_HOME/Pellix, else ~/.local/share/Pellix; TSettingsStore's
    // default path; $TMPDIR or /tmp; ~/My Intranet (there is no drive root to put it in).
    static TAppPaths FromEnvironment();
};

// Colours as 0xRRGGBB.
struct TColourScheme {
    std::uint32_t dark = 0;
    std::uint32_t main = 0;
    std::uint32_t accent = 0;
    std::uint32_t light = 0;
};

// One scheduled or running task: its task-file path and the loaded task.
struct TActiveTask {
    std::string path;
    std::shared_ptr<TPXTask> task;
};

struct TWindowPosition {
    int left = 0;
    int top = 0;
    int width = 640;
    int height = 480;
};

inline constexpr const char* kPellixKey = "\\Software\\Brackwell\\Pellix";
inline constexpr const char* kSettingsKey = "\\Software\\Brackwell\\Pellix\\Settings";
inline constexpr const char* kFileTypesKey = "\\Software\\Brackwell\\Pellix\\File Types";
inline constexpr const char* kWindowPositionKey = "\\Software\\Brackwell\\Pellix\\Settings\\FormPellix";
inline constexpr const char* kRecentURLsKey = "\\Software\\Brackwell\\Pellix\\Recent URLs";
inline constexpr const char* kRecentZipFilesKey = "\\Software\\Brackwell\\Pellix\\Recent ZIP files";

inline constexpr int kSaveModeZip = 0;
inline constexpr int kSaveModeIntranet = 1;

// Folder texts end in "/". Setters store in memory and write to the store at once. Getters of
// values read by worker threads (priority, proxy, user agent, temp folder) are safe to call from
// any thread; everything else belongs to the owner thread.
class TPXApp final {
public:
    // displayBitsPerPixel chooses the colour scheme: more than 8 gives the high-colour set. clock
    // stands in for the steady clock of the settings store's and the temp folder's re-checks
    // (tests step it); empty is the steady clock.
    explicit TPXApp(TAppPaths paths, int displayBitsPerPixel = 32, TSettingsStore::TClock clock = {});
    ~TPXApp();
    TPXApp(const TPXApp&) = delete;
    TPXApp& operator=(const TPXApp&) = delete;

    static std::unique_ptr<TPXApp> FromEnvironment(int displayBitsPerPixel = 32);

    TSettingsStore& Store() { return *m_store; }
    const TSettingsStore& Store() const { return *m_store; }
    const TAppPaths& Paths() const { return m_paths; }
    TURLLauncher& URLLauncher() { return *m_launcher; }

    // Folders.
    std::string ProgramFolder() const;
    std::string TasksFolder() const;    // program folder + "Tasks/", created when missing
    std::string ProfilesFolder() const; // program folder + "Profiles/", created when missing
    std::string SkinsFolder() const;    // program folder + "Skins/" + skin + "/" (not created)
    std::string DownloadsFolder();      // stores the default on first use; created when missing
    void SetDownloadsFolder(const std::string& folder);
    std::string IntranetFolder();
    void SetIntranetFolder(const std::string& folder);
    // Never writes the default back; created (mode 0700) when missing. Asked for every file a
    // task fetches, so a folder found private is looked at again only after
    // TSettingsStore::kRecheckInterval (or when the setting names another folder).
    std::string TempFolder() const;
    // Whether the temp folder is this user's alone (not a symbolic link, not another user's); a
    // run in zip mode refuses to start otherwise, with the message in error. Always looks.
    bool CheckTempFolder(std::string* error) const;
    // Empty text changes nothing. A folder whose own name lacks the product name gains
    // "Pellix/". False (and nothing stored) for empty text or a folder that
    // IsTempFolderDisposable refuses.
    bool SetTempFolder(const std::string& folder);
    // The folder SetTempFolder would store for this text, or nothing when it would refuse it.
    std::optional<std::string> TempFolderChoice(const std::string& folder) const;
    // Whether a temp folder may be deleted whole at exit: its own name holds the product name,
    // and it neither is nor holds the user's home, the program folder or a data folder, nor lies
    // inside the tasks, profiles or skins folder.
    bool IsTempFolderDisposable(const std::string& folder) const;

    // Settings cached at construction.
    bool BeepOnCompletion() const;
    void SetBeepOnCompletion(bool value);
    bool TasksViewFirst() const; // "Zip Properties First"
    void SetTasksViewFirst(bool value);
    std::uint32_t Connections() const;
    void SetConnections(std::uint32_t value);
    int Priority() const;
    // The owner also resets the current task's pages and resources taken when the task exists.
    void SetPriority(int value);
    bool UseProxy() const;
    void SetUseProxy(bool value);
    std::string ProxyAddress() const;
    void SetProxyAddress(const std::string& value);
    std::string ProxyPort() const;
    void SetProxyPort(const std::string& value);
    std::string ProxyAuthorization() const;
    void SetProxyAuthorization(const std::string& value);
    std::string Skin() const;
    void SetSkin(const std::string& value);
    bool NoAds() const;
    void SetNoAds(bool value);
    // Holds for this process only and wins over the stored value (a command-line switch); a
    // process that is killed leaves the stored setting as it was.
    void OverrideNoAds(bool value);
    std::uint32_t MaxURLHistory() const;
    void SetMaxURLHistory(std::uint32_t value);
    std::uint32_t MaxFileHistory() const;
    void SetMaxFileHistory(std::uint32_t value);
    std::string LastCategory() const; // never empty
    void SetLastCategory(const std::string& value);
    int DownloadListSaveInterval() const { return 10; }
    // The header value sent (after mapping); the stored choice is StoredUserAgent().
    std::string UserAgent() const;
    std::string StoredUserAgent() const;
    void SetUserAgent(const std::string& choice);
    static std::string MapUserAgent(const std::string& choice);

    // Settings read from the store on every call.
    int SaveMode() const;
    void SetSaveMode(int mode);
    bool ZipLast() const;
    // With the reader's own default: a task keeps its value when the store has none.
    bool ZipLast(bool defaultValue) const;
    void SetZipLast(bool value);
    int Compression(int defaultValue = 6) const;
    void SetCompression(int value);
    bool UsePaths(bool defaultValue = true) const;
    void SetUsePaths(bool value);
    int ZipAction() const; // "Action"
    void SetZipAction(int value);
    std::string ZipFolder() const;
    void SetZipFolder(const std::string& value);
    bool LastZipFolder() const;
    void SetLastZipFolder(bool value);
    // Pages larger than this many bytes are saved but not scanned for links (memory stays
    // bounded whatever a server sends); 0 scans every page.
    std::int64_t MaxParsedPageSize() const;
    void SetMaxParsedPageSize(std::int64_t bytes);
    static constexpr std::int64_t kDefaultMaxParsedPageSize = 16 * 1024 * 1024;
    // A file of extra certificate authorities trusted for https besides the system's; empty: none.
    std::string CAFile() const;
    void SetCAFile(const std::string& path);
    // Whether https certificates and host names are verified (on unless switched off).
    bool CheckCertificate() const;
    void SetCheckCertificate(bool value);
    // Both hold for this process only and win over the stored values (command-line switches).
    void OverrideCAFile(const std::string& path);
    void OverrideCheckCertificate(bool value);
    std::string UnzipFolder() const;
    void SetUnzipFolder(const std::string& value);
    bool LastUnzipFolder() const;
    void SetLastUnzipFolder(bool value);
    bool ExtractUsePaths() const;
    void SetExtractUsePaths(bool value);
    bool ExtractOverwrite() const;
    void SetExtractOverwrite(bool value);
    TWindowPosition WindowPosition() const;
    void SetWindowPosition(const TWindowPosition& position);
    // "Version" under the product key ("2.50" once the first-start steps have run).
    std::string StoredVersion() const;
    void SetStoredVersion(const std::string& version);
    // A recent-items list (kRecentURLsKey or kRecentZipFilesKey): values "F0", "F1", ...
    std::vector<std::string> RecentItems(const std::string& listKey) const;
    void SaveRecentItems(const std::string& listKey, const std::vector<std::string>& items);

    // Colour scheme.
    const TColourScheme& Colours() const { return m_colours; }
    void SetDisplayDepth(int bitsPerPixel);
    static TColourScheme HighColours();
    static TColourScheme LowColours();

    // Tasks (owner thread only, except CurrentTask()).
    std::vector<TActiveTask>& ActiveTasks() { return m_activeTasks; }
    const std::vector<TActiveTask>& ActiveTasks() const { return m_activeTasks; }
    TPXTask* CurrentTask() const { return m_currentTask.load(); }
    void SetCurrentTask(TPXTask* task) { m_currentTask.store(task); }

private:
    std::string DefaultDownloadsFolder() const;
    std::string DefaultIntranetFolder() const;
    std::string StoredFolder(const TSetting<std::string>& setting) const;
    // The temp folder the settings name, or the default; nothing made or looked at.
    std::string StoredTempFolder() const;

    TAppPaths m_paths;
    std::string m_programFolder;
    std::unique_ptr<TSettingsStore> m_store;
    std::unique_ptr<TURLLauncher> m_launcher;
    std::atomic<TPXTask*> m_currentTask{nullptr};
    std::vector<TActiveTask> m_activeTasks;
    TColourScheme m_colours;

    mutable std::mutex m_mutex; // guards the cached settings below
    bool m_beepOnCompletion = true;
    bool m_tasksViewFirst = false;
    std::uint32_t m_connections = 10;
    int m_priority = 5;
    bool m_useProxy = false;
    std::string m_proxyAddress;
    std::string m_proxyPort;
    std::string m_proxyAuthorization;
    std::string m_skin = "Default";
    bool m_noAds = false;
    std::optional<bool> m_noAdsOverride;
    std::optional<std::string> m_caFileOverride;
    std::optional<bool> m_checkCertificateOverride;
    std::uint32_t m_maxURLHistory = 20;
    std::uint32_t m_maxFileHistory = 10;
    std::string m_lastCategory = "General";
    std::string m_userAgent;

    TSettingsStore::TClock m_clock;
    // The temp folder last found private, and when (guarded by m_tempMutex).
    mutable std::mutex m_tempMutex;
    mutable std::string m_privateTemp;
    mutable std::chrono::steady_clock::time_point m_privateTempAt{};
};

} // namespace pellix
