#include "engine/task.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "engine/active_task_list.h"
#include "links/file_io.h"
#include "links/file_types.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"
#include "workspace/app_settings.h"
#include "workspace/ini_file.h"

namespace pellix {

namespace {

// A task file beyond this is not one we wrote; reading it would only waste memory.
constexpr std::uintmax_t kMaxTaskFileSize = 16u << 20;

constexpr const char* kKeyTaskName = "Task Name";
constexpr const char* kKeyURL = "URL";
constexpr const char* kKeyStartPageTitle = "Start Page Title";
constexpr const char* kKeyServer = "Server";
constexpr const char* kKeyCanUpdate = "Can Update";
constexpr const char* kKeyUserName = "User Name";
constexpr const char* kKeyPassword = "Password";
constexpr const char* kKeyComment = "Comment";
constexpr const char* kKeyDestination = "Destination";
constexpr const char* kKeyIntranetMode = "Intranet Mode";
constexpr const char* kKeyStatus = "Status";
constexpr const char* kKeySchedule = "Schedule";
constexpr const char* kKeyTotalBytes = "Total Bytes";
constexpr const char* kKeyTotalPages = "Total Pages";
constexpr const char* kKeyTotalResources = "Total Resources";
constexpr const char* kKeyPagesSaved = "Pages Saved";
constexpr const char* kKeyResourcesSaved = "Resources Saved";
constexpr const char* kKeyPageErrors = "Page Errors";
constexpr const char* kKeyResourceErrors = "Resource Errors";
constexpr const char* kKeyElapsedTime = "Elapsed Time";
constexpr const char* kKeyLastRun = "Last Run";
constexpr const char* kKeyNextRun = "Next Run";

constexpr std::string_view kIllegalNameChars = "\\/:*?\"<>|";

// Moves from to to unless to exists (rename(2) alone would replace it).
int RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to)
{
#ifdef SYS_renameat2
    if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 1u /* RENAME_NOREPLACE */) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
#endif
    // File systems without that flag: a hard link fails on an existing name too.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}

// The elapsed time is a span written as a date on the day-0 scale ("12/30/99 01:05:00" is
// 65 minutes). Its two-digit year belongs to 1899 and the years after, not to this century;
// read as a calendar date it would add a hundred years to every resumed run.
TDateTime ReadSpan(const std::string& text)
{
    TDateTime value = ParseTaskDateTime(text);
    const TDateTimeParts parts = DecodeDateTime(value);
    if (value != 0 && parts.year >= 1950 && parts.year <= 2049) {
        const TDateTime shifted = EncodeDateTime(parts.year - 100, parts.month, parts.day, parts.hour,
                                                 parts.minute, parts.second, parts.millisecond);
        if (shifted != 0 || (parts.year == 1999 && parts.month == 12 && parts.day == 30))
            value = shifted;
    }
    return value;
}

} // namespace

TPXTask::TPXTask(TPXApp* app)
    : m_app(app), m_profile(std::make_unique<TPXProfile>()), m_list(std::make_unique<TPXDownloadList>(*this))
{
    Reset();
}

TPXTask::~TPXTask()
{
    // Nobody is left to show progress; the view (if any) still drops its rows.
    m_onProgress = nullptr;
    Clear();
}

std::string TPXTask::StartPageTitle() const
{
    std::lock_guard lock(m_titleMutex);
    return m_startPageTitle;
}

void TPXTask::SetStartPageTitle(std::string title)
{
    std::lock_guard lock(m_titleMutex);
    m_startPageTitle = std::move(title);
}

std::string TPXTask::WorkFolder() const
{
    std::string folder;
    if (m_intranetMode) {
        folder = m_destination;
    } else {
        folder = m_app ? m_app->TempFolder() : (std::filesystem::temp_directory_path() / "Pellix").string();
        if (!folder.empty() && folder.back() != '/')
            folder += '/';
        // FNV-1a of the task file: stable across processes, distinct for two tasks of one site.
        std::uint64_t hash = 14695981039346656037ull;
        for (const unsigned char c : m_taskFile) {
            hash ^= c;
            hash *= 1099511628211ull;
        }
        char name[32];
        std::snprintf(name, sizeof name, "task-%016llx", static_cast<unsigned long long>(hash));
        folder += name;
    }
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

std::string TPXTask::LocalFileOf(const std::string& url, const std::string& typeExtension) const
{
    const std::string root = WorkFolder();
    return root.empty() ? std::string() : LocalFileName(root, URLDirectory(url), url, typeExtension);
}

void TPXTask::RecordWriteFault(std::string path, std::string reason)
{
    std::function<void()> listener;
    {
        std::lock_guard lock(m_faultMutex);
        if (m_writeFault)
            return;
        m_writeFault = TWriteFault{std::move(path), std::move(reason)};
        listener = m_onWriteFault;
    }
    if (listener)
        listener();
}

std::optional<TWriteFault> TPXTask::WriteFault() const
{
    std::lock_guard lock(m_faultMutex);
    return m_writeFault;
}

void TPXTask::ClearWriteFault()
{
    std::lock_guard lock(m_faultMutex);
    m_writeFault.reset();
}

void TPXTask::SetOnWriteFault(std::function<void()> listener)
{
    std::lock_guard lock(m_faultMutex);
    m_onWriteFault = std::move(listener);
}

void TPXTask::ResetTaken()
{
    m_pagesTaken.store(0, std::memory_order_relaxed);
    m_resourcesTaken.store(0, std::memory_order_relaxed);
}

std::string TPXTask::UserAgent() const
{
    return m_app ? m_app->UserAgent() : std::string();
}

void TPXTask::AppendToZipQueue(std::string path, TPXQItem* item)
{
    std::lock_guard lock(m_zipMutex);
    m_zipQueue.push_back({std::move(path), item});
}

std::optional<TZipQueueEntry> TPXTask::TakeFromZipQueue()
{
    std::lock_guard lock(m_zipMutex);
    if (m_zipQueue.empty())
        return std::nullopt;
    TZipQueueEntry entry = std::move(m_zipQueue.front());
    m_zipQueue.pop_front();
    return entry;
}

std::size_t TPXTask::ZipQueueCount() const
{
    std::lock_guard lock(m_zipMutex);
    return m_zipQueue.size();
}

void TPXTask::ClearZipQueue()
{
    std::lock_guard lock(m_zipMutex);
    m_zipQueue.clear();
}

void TPXTask::NotifyProgress(const std::string& text, std::int64_t position, std::int64_t maximum) const
{
    if (m_onProgress)
        m_onProgress(text, position, maximum);
}

TDateTime TPXTask::CurrentTime() const
{
    return m_clock ? m_clock() : Now();
}

void TPXTask::Clear()
{
    NotifyProgress("Clearing previous task...", 0, 0);
    ClearZipQueue();
    m_list->Clear();
}

void TPXTask::Reset()
{
    ClearZipQueue();
    Clear();
    SetPagesSaved(0);
    SetResourcesSaved(0);
    SetPageErrors(0);
    SetResourceErrors(0);
    SetTotalPages(0);
    SetTotalResources(0);
    SetTotalBytes(0);
    m_runStartTime.store(0, std::memory_order_relaxed);
    SetElapsedTime(0);
    // A store without the setting leaves the task as it was.
    if (m_app)
        m_zipLast = m_app->ZipLast(m_zipLast);
}

bool TPXTask::Load(std::string* error)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(m_taskFile, ec);
    if (!ec && size > kMaxTaskFileSize) {
        if (error)
            *error = "The task file " + m_taskFile + " is too large to be one (" + std::to_string(size) + " bytes).";
        return false;
    }
    const std::optional<std::string> data = ReadWholeFile(m_taskFile);
    if (!data) {
        if (error)
            *error = std::filesystem::exists(m_taskFile, ec) ? "Cannot read the task file " + m_taskFile + "."
                                                             : "The task file " + m_taskFile + " does not exist.";
        return false;
    }
    const TIniFile file(m_taskFile, *data);
    // The least a task file holds is its "Task" section with the start address; an empty, cut or
    // foreign file would otherwise run as a blank task and be saved over.
    if (!file.SectionExists(kTaskSection)) {
        if (error)
            *error = "Not a Pellix task file: " + m_taskFile + " (it has no [Task] section).";
        return false;
    }
    if (TrimBlanks(file.ReadString(kTaskSection, kKeyURL, "")).empty()) {
        if (error)
            *error = "The task file " + m_taskFile + " has no start address.";
        return false;
    }
    m_taskName = file.ReadString(kTaskSection, kKeyTaskName, FileNameNoExt(m_taskFile));
    m_url = file.ReadString(kTaskSection, kKeyURL, "");
    SetStartPageTitle(file.ReadString(kTaskSection, kKeyStartPageTitle, ""));
    m_server = file.ReadString(kTaskSection, kKeyServer, "");
    m_canUpdate = file.ReadBool(kTaskSection, kKeyCanUpdate, false);
    m_userName = file.ReadString(kTaskSection, kKeyUserName, "");
    m_password = file.ReadString(kTaskSection, kKeyPassword, "");
    m_comment = file.ReadString(kTaskSection, kKeyComment, "");
    m_destination = file.ReadString(kTaskSection, kKeyDestination, "");
    m_intranetMode = file.ReadBool(kTaskSection, kKeyIntranetMode, false);
    SetStatus(static_cast<TTaskStatus>(file.ReadInteger(kTaskSection, kKeyStatus, 0)));
    m_schedule = file.ReadString(kTaskSection, kKeySchedule, "");
    SetTotalBytes(file.ReadInt64(kTaskSection, kKeyTotalBytes, 0));
    SetTotalPages(file.ReadInteger(kTaskSection, kKeyTotalPages, 0));
    SetTotalResources(file.ReadInteger(kTaskSection, kKeyTotalResources, 0));
    SetPagesSaved(file.ReadInteger(kTaskSection, kKeyPagesSaved, 0));
    SetResourcesSaved(file.ReadInteger(kTaskSection, kKeyResourcesSaved, 0));
    SetPageErrors(file.ReadInteger(kTaskSection, kKeyPageErrors, 0));
    SetResourceErrors(file.ReadInteger(kTaskSection, kKeyResourceErrors, 0));
    SetElapsedTime(ReadSpan(file.ReadString(kTaskSection, kKeyElapsedTime, "")));
    SetLastRun(ParseTaskDateTime(file.ReadString(kTaskSection, kKeyLastRun, "")));
    SetNextRun(ParseTaskDateTime(file.ReadString(kTaskSection, kKeyNextRun, "")));
    m_profile->SetProfileFile(m_taskFile);
    m_profile->ReadFrom(file);
    return true;
}

bool TPXTask::Save(std::string* error)
{
    const std::filesystem::path path(m_taskFile);
    std::error_code ec;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), ec);

    TIniFile file(path);
    file.WriteString(kTaskSection, kKeyTaskName, m_taskName);
    file.WriteString(kTaskSection, kKeyURL, m_url);
    file.WriteString(kTaskSection, kKeyStartPageTitle, StartPageTitle());
    file.WriteString(kTaskSection, kKeyServer, m_server);
    file.WriteBool(kTaskSection, kKeyCanUpdate, m_canUpdate);
    file.WriteString(kTaskSection, kKeyUserName, m_userName);
    file.WriteString(kTaskSection, kKeyPassword, m_password);
    file.WriteString(kTaskSection, kKeyComment, m_comment);
    // Stored with the system's own separator, like every path we keep.
    file.WriteString(kTaskSection, kKeyDestination, m_destination);
    file.WriteBool(kTaskSection, kKeyIntranetMode, m_intranetMode);
    file.WriteInteger(kTaskSection, kKeyStatus, Status());
    file.WriteString(kTaskSection, kKeySchedule, m_schedule);
    file.WriteInt64(kTaskSection, kKeyTotalBytes, TotalBytes());
    file.WriteInteger(kTaskSection, kKeyTotalPages, TotalPages());
    file.WriteInteger(kTaskSection, kKeyTotalResources, TotalResources());
    file.WriteInteger(kTaskSection, kKeyPagesSaved, PagesSaved());
    file.WriteInteger(kTaskSection, kKeyResourcesSaved, ResourcesSaved());
    file.WriteInteger(kTaskSection, kKeyPageErrors, PageErrors());
    file.WriteInteger(kTaskSection, kKeyResourceErrors, ResourceErrors());
    file.WriteString(kTaskSection, kKeyElapsedTime, FormatTaskDateTime(ElapsedTime()));
    file.WriteString(kTaskSection, kKeyLastRun, FormatTaskDateTime(LastRun()));
    file.WriteString(kTaskSection, kKeyNextRun, FormatTaskDateTime(NextRun()));
    m_profile->SetProfileFile(m_taskFile);
    m_profile->WriteTo(file);
    // Passwords are kept in plain text, so such a file is for its owner's eyes only.
    bool ok = file.Save(!m_password.empty(), error);

    if (!UpdateActiveTaskList(ok ? error : nullptr))
        ok = false;
    if (m_onSaved)
        m_onSaved(*this);
    return ok;
}

bool TPXTask::UpdateActiveTaskList(std::string* error)
{
    if (!m_app)
        return true;
    return UpdateActiveTask(*m_app, m_taskFile, Status(), weak_from_this().lock(), nullptr, error);
}

TRenameResult TPXTask::Rename(const std::string& newName)
{
    const std::filesystem::path oldPath(m_taskFile);
    const std::filesystem::path folder = oldPath.parent_path();
    const std::filesystem::path newPath = folder / (newName + kTaskFileExtension);
    const std::string head = "Unable to rename task to: " + newPath.string() + "\n";
    const std::string illegal = head + "A file may not contain any of the following characters: \n" +
                                std::string(kIllegalNameChars);
    const std::string exists = head + "File already exists.";

    const bool badName = newName.empty() || newName == "." || newName == ".."
                         || newName.find_first_of(kIllegalNameChars) != std::string::npos
                         || newName.find('\0') != std::string::npos;
    if (badName)
        return {false, illegal};
    std::error_code ec;
    if (std::filesystem::exists(newPath, ec))
        return {false, exists};

    // The download list moves along, so that a later resume finds it by the new name.
    const std::filesystem::path oldList = m_list->FilePath();
    const std::filesystem::path newList = folder / (newName + kDownloadListExtension);
    const bool moveList = oldList != newList && std::filesystem::exists(oldList, ec);
    if (moveList && std::filesystem::exists(newList, ec))
        return {false, head + "File already exists."};

    if (const int err = RenameNoReplace(oldPath, newPath); err != 0) {
        if (err == EEXIST)
            return {false, exists};
        if (err == ENAMETOOLONG || err == EINVAL)
            return {false, illegal};
        return {false, head + std::strerror(err)};
    }
    if (moveList) {
        if (const int err = RenameNoReplace(oldList, newList); err != 0) {
            RenameNoReplace(newPath, oldPath);
            return {false, head + std::strerror(err)};
        }
    }
    m_taskName = newName;
    m_taskFile = newPath.string();
    m_list->SetFilePath(newList);
    Save();
    return {true, std::string()};
}

void TPXTask::BeginRun()
{
    const TDateTime now = CurrentTime();
    SetLastRun(now);
    m_runStartTime.store(now, std::memory_order_relaxed);
    SetElapsedTime(0);
    ResetTaken();
    m_list->ResetSaveCountdown();
    int action = kActionDownload;
    if (m_runMode == kRunMap) {
        action = kActionMap;
        m_runMode = kRunRestart;
    }
    m_list->AddItem(MakeItem(m_url, action));
}

void TPXTask::ContinueRun()
{
    const TDateTime now = CurrentTime();
    SetLastRun(now);
    m_runStartTime.store(now - ElapsedTime(), std::memory_order_relaxed);
    ResetTaken();
}

void TPXTask::RecountFromList()
{
    const TListCounts counts = m_list->CountStates();
    SetTotalPages(counts.totalPages);
    SetTotalResources(counts.totalResources);
    SetPagesSaved(counts.pagesSaved);
    SetResourcesSaved(counts.resourcesSaved);
    SetPageErrors(counts.pageErrors);
    SetResourceErrors(counts.resourceErrors);
    // The stored figure also holds bytes no item keeps (error pages, bodies fetched twice), but
    // not what a killed process received after its last save of the task.
    if (counts.bytesHeld > TotalBytes())
        SetTotalBytes(counts.bytesHeld);
}

void TPXTask::RecoverStartPageTitle()
{
    if (!StartPageTitle().empty() || m_list->Count() == 0)
        return;
    const std::string record = m_list->Line(1);
    if (TPXDownloadList::RecordField(record, 4) != "0")
        return; // not the start page
    std::string title = TPXDownloadList::RecordField(record, 8);
    if (!title.empty())
        SetStartPageTitle(std::move(title));
}

TListResult TPXTask::PrepareRun(bool listInMemory)
{
    TListResult result;
    const bool resumes = m_runMode == kRunResume || m_runMode == kRunSmartUpdate || m_runMode == kRunSmartRecovery;
    if (resumes) {
        if (!listInMemory) {
            result = m_list->LoadList();
            // Nothing runs on a list that did not load whole: the task stays as it was, unsaved.
            if (!result.ok)
                return result;
            // The counters in the task file are those of its last save; a process killed after it
            // left the rest of its work only in the list.
            RecountFromList();
            RecoverStartPageTitle();
        }
        ContinueRun();
        if (m_runMode == kRunSmartRecovery)
            m_list->PrepareRetry();
        else if (m_runMode == kRunSmartUpdate)
            m_list->PrepareUpdate();
    } else {
        Reset();
        BeginRun();
    }
    SetStatus(kStatusDownloading);
    std::string error;
    if (!Save(&error) && result.ok)
        result = {false, error};
    return result;
}

std::unique_ptr<TPXQItem> TPXTask::MakeItem(const std::string& url, int action) const
{
    std::string group = m_app ? FileTypeOfURL(m_app->Store(), url) : std::string();
    return std::make_unique<TPXQItem>(url, std::move(group), action);
}

std::filesystem::path TPXTask::DefaultDownloadListPath() const
{
    return std::filesystem::path(m_taskFile).parent_path() / (m_taskName + kDownloadListExtension);
}

std::string TPXTask::StatusText(int code)
{
    static constexpr const char* kTexts[] = {"Unscheduled",       "Scheduled", "Downloading...",
                                             "Download Stopped",  "Incomplete", "Download Complete",
                                             "Zipped!",           "Task Complete", "Deleted"};
    if (code < 0 || code >= static_cast<int>(std::size(kTexts)))
        return "Unknown";
    return kTexts[code];
}

} // namespace pellix
