// TZipEngine: reading, listing, extracting and deleting go through libzip; adding goes through
// TZipAppender, which writes only the new entries and the central directory.
#include "workspace/zip_engine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include "links/file_io.h"
#include "links/text_helpers.h"
#include "workspace/zip_appender.h"
#include "workspace/zip_format.h"

namespace pellix {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

// DOS date (high 16 bits) and time (low 16 bits), local time, clamped to the format's range.
std::uint32_t DosDateTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    if (tm.tm_year < 80) {
        return (1u << 5 | 1u) << 16;
    }
    if (tm.tm_year > 207) {
        tm.tm_year = 207;
    }
    std::uint32_t date = static_cast<std::uint32_t>((tm.tm_year - 80) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
    std::uint32_t time = static_cast<std::uint32_t>(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
    return date << 16 | time;
}

TDateTime DateTimeFromTime(std::time_t t) {
    return t <= 0 ? 0 : FromTimeT(t);
}

int Ratio(std::int64_t size, std::int64_t packed) {
    if (size <= 0 || packed >= size) {
        return 0;
    }
    return static_cast<int>(std::lround(100.0 - static_cast<double>(packed) * 100.0 / static_cast<double>(size)));
}

int CodeFromLibzip(int zipError, int systemError) {
    switch (zipError) {
    case ZIP_ER_OK:
        return kZipOk;
    case ZIP_ER_NOENT:
        return kZipNotFound;
    case ZIP_ER_MEMORY:
        return kZipNoMemory;
    case ZIP_ER_NOZIP:
    case ZIP_ER_INCONS:
    case ZIP_ER_SEEK:
        return kZipCorrupt;
    case ZIP_ER_CRC:
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_EOF:
        return kZipBadData;
    case ZIP_ER_MULTIDISK:
        return kZipMultidisk;
    case ZIP_ER_TMPOPEN:
        return systemError == ENOSPC ? kZipDiskFull : kZipTempFile;
    case ZIP_ER_WRITE:
    case ZIP_ER_CLOSE:
    case ZIP_ER_RENAME:
        return ZipCodeFromErrno(systemError);
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
        return systemError == ENOENT ? kZipNotFound : kZipAccess;
    case ZIP_ER_CANCELLED:
        return kZipAborted;
    default:
        return kZipInternal;
    }
}

std::string LibzipText(int zipError, int systemError) {
    zip_error_t error;
    zip_error_init_with_code(&error, zipError);
    if (systemError != 0) {
        error.sys_err = systemError;
    }
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

std::string EmptyArchive() {
    std::string end;
    ZipPut32(end, kZipEndSignature);
    end.append(18, '\0');
    return end;
}

} // namespace

TZipEngine::TZipEngine() = default;
TZipEngine::~TZipEngine() = default;

void TZipEngine::SetCompression(int value) {
    m_compression = std::clamp(value, 0, 9);
}

void TZipEngine::BeginOperation() {
    m_abort = false;
    m_skipped.clear();
    m_added.clear();
    m_lastError.clear();
    m_lastSystemError = 0;
    m_listTotal = 0;
}

bool TZipEngine::Fire(const TZipEntryEvent& event, const TZipEntry& entry) {
    if (event) {
        event(entry);
    }
    return !m_abort;
}

int TZipEngine::Fail(int code, std::string message) {
    m_lastError = std::move(message);
    m_filesToProcess.clear();
    return code;
}

int TZipEngine::SystemFail(int error) {
    m_lastSystemError = error;
    return Fail(ZipCodeFromErrno(error), m_zipFileName + ": " + WriteErrorReason(error));
}

bool TZipEngine::MatchesPattern(const std::string& pattern, const std::string& name) {
    std::string p = UpperCase(ToSlashes(pattern));
    std::string n = UpperCase(ToSlashes(name));
    // "*.*" stands for every name, with or without an extension.
    if (p.size() >= 3 && p.compare(p.size() - 3, 3, "*.*") == 0) {
        p.erase(p.size() - 2);
    }
    return ::fnmatch(p.c_str(), n.c_str(), FNM_NOESCAPE) == 0;
}

std::string TZipEngine::SafeEntryPath(const std::string& name, bool usePaths) {
    std::string n = ToSlashes(name);
    if (n.empty() || n[0] == '/' || (n.size() >= 2 && n[1] == ':')) {
        return {};
    }
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= n.size()) {
        std::size_t slash = n.find('/', start);
        if (slash == std::string::npos) {
            slash = n.size();
        }
        std::string part = n.substr(start, slash - start);
        if (part == "..") {
            return {};
        }
        if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = slash + 1;
    }
    if (parts.empty()) {
        return {};
    }
    if (!usePaths) {
        return n.back() == '/' ? std::string() : parts.back();
    }
    std::string out;
    for (const std::string& part : parts) {
        out += out.empty() ? part : "/" + part;
    }
    return out;
}

bool TZipEngine::MatchesFilesToProcess(const std::string& name) const {
    if (m_filesToProcess.empty()) {
        return true;
    }
    for (const std::string& pattern : m_filesToProcess) {
        if (MatchesPattern(pattern, name)) {
            return true;
        }
    }
    return false;
}

namespace {

struct TArchive {
    zip_t* za = nullptr;
    ~TArchive() {
        if (za != nullptr) {
            zip_discard(za);
        }
    }
};

// An archive whose last add was cut short while it copied the directory (see ReadZipDirectory):
// read as the archive before the torn bytes; cut back to it before libzip writes it.
zip_t* OpenBeforeTornTail(const std::string& path, int flags, int& error) {
    const std::int64_t size = ZipSizeBeforeTornTail(path);
    if (size <= 0) {
        return nullptr;
    }
    if ((flags & ZIP_RDONLY) == 0) {
        return ::truncate(path.c_str(), size) == 0 ? zip_open(path.c_str(), flags, &error) : nullptr;
    }
    zip_error_t sourceError;
    zip_error_init(&sourceError);
    zip_source_t* source = zip_source_file_create(path.c_str(), 0, size, &sourceError);
    zip_t* za = source == nullptr ? nullptr : zip_open_from_source(source, flags, &sourceError);
    if (za == nullptr && source != nullptr) {
        zip_source_free(source);
    }
    zip_error_fini(&sourceError);
    return za;
}

int OpenArchive(const std::string& path, int flags, TArchive& archive, std::string& message) {
    int error = 0;
    archive.za = zip_open(path.c_str(), flags, &error);
    if (archive.za == nullptr && (error == ZIP_ER_NOZIP || error == ZIP_ER_INCONS)) {
        const int firstError = error;
        archive.za = OpenBeforeTornTail(path, flags, error);
        if (archive.za == nullptr) {
            error = firstError;
        }
    }
    if (archive.za == nullptr) {
        int sys = errno;
        message = path + ": " + LibzipText(error, sys);
        std::error_code ec;
        if (error == ZIP_ER_OPEN && !fs::exists(path, ec)) {
            return kZipNotFound;
        }
        return CodeFromLibzip(error, sys);
    }
    return kZipOk;
}

TZipEntry EntryFromStat(zip_t* za, zip_uint64_t index, const zip_stat_t& st) {
    TZipEntry entry;
    entry.name = st.name != nullptr ? st.name : "";
    entry.size = static_cast<std::int64_t>(st.size);
    entry.compressedSize = static_cast<std::int64_t>(st.comp_size);
    entry.ratio = Ratio(entry.size, entry.compressedSize);
    entry.dateTime = DateTimeFromTime(st.mtime);
    zip_uint32_t length = 0;
    const char* comment = zip_file_get_comment(za, index, &length, ZIP_FL_ENC_RAW);
    if (comment != nullptr) {
        entry.comment.assign(comment, std::min<std::size_t>(length, kZipMaxComment));
    }
    return entry;
}

} // namespace

int TZipEngine::Count(int& count) {
    BeginOperation();
    count = 0;
    TArchive archive;
    if (int code = OpenArchive(m_zipFileName, ZIP_RDONLY, archive, m_lastError); code != kZipOk) {
        return code;
    }
    count = static_cast<int>(zip_get_num_entries(archive.za, 0));
    return kZipOk;
}

int TZipEngine::FileStats(int index, TZipEntry& entry) {
    BeginOperation();
    TArchive archive;
    if (int code = OpenArchive(m_zipFileName, ZIP_RDONLY, archive, m_lastError); code != kZipOk) {
        return code;
    }
    zip_stat_t st;
    if (index < 0 || zip_stat_index(archive.za, static_cast<zip_uint64_t>(index), 0, &st) != 0) {
        m_lastError = "No entry at index " + std::to_string(index) + ".";
        return kZipNothingToDo;
    }
    entry = EntryFromStat(archive.za, static_cast<zip_uint64_t>(index), st);
    return kZipOk;
}

int TZipEngine::List() {
    BeginOperation();
    TArchive archive;
    if (int code = OpenArchive(m_zipFileName, ZIP_RDONLY, archive, m_lastError); code != kZipOk) {
        return Fail(code, m_lastError);
    }
    zip_int64_t count = zip_get_num_entries(archive.za, 0);
    m_listTotal = std::max<zip_int64_t>(count, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive.za, static_cast<zip_uint64_t>(i), 0, &st) != 0 || st.name == nullptr) {
            continue;
        }
        if (!MatchesFilesToProcess(st.name)) {
            continue;
        }
        if (!Fire(OnListing, EntryFromStat(archive.za, static_cast<zip_uint64_t>(i), st))) {
            return Fail(kZipAborted, "Aborted.");
        }
    }
    m_filesToProcess.clear();
    return kZipOk;
}

int TZipEngine::ReadEntries(const std::vector<std::string>& names, const TZipDataEvent& onData) {
    BeginOperation();
    TArchive archive;
    if (int code = OpenArchive(m_zipFileName, ZIP_RDONLY, archive, m_lastError); code != kZipOk) {
        return Fail(code, m_lastError);
    }
    std::set<std::string> wanted(names.begin(), names.end());
    zip_int64_t count = zip_get_num_entries(archive.za, 0);
    for (zip_int64_t i = 0; i < count && !wanted.empty(); ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t st;
        if (zip_stat_index(archive.za, index, 0, &st) != 0 || st.name == nullptr || !wanted.count(st.name)) {
            continue;
        }
        const std::string name = st.name;
        wanted.erase(name);
        if (m_abort) {
            return Fail(kZipAborted, "Aborted.");
        }
        zip_file_t* zf = zip_fopen_index(archive.za, index, 0);
        if (zf == nullptr) {
            m_skipped.push_back({name, zip_strerror(archive.za)});
            continue;
        }
        std::string data;
        if ((st.valid & ZIP_STAT_SIZE) != 0) {
            data.reserve(static_cast<std::size_t>(st.size));
        }
        char buffer[kBufferSize / 4];
        zip_int64_t got = 0;
        while ((got = zip_fread(zf, buffer, sizeof buffer)) > 0) {
            data.append(buffer, static_cast<std::size_t>(got));
        }
        const bool ok = got == 0;
        std::string reason = ok ? std::string() : zip_file_strerror(zf);
        zip_fclose(zf);
        if (!ok) {
            m_skipped.push_back({name, reason});
            continue;
        }
        if (onData) {
            onData(name, std::move(data));
        }
    }
    for (const std::string& name : wanted) {
        m_skipped.push_back({name, "not in the archive"});
    }
    return m_skipped.empty() ? kZipOk : kZipSkipped;
}

// ---- Delete ----

int TZipEngine::Delete() {
    BeginOperation();
    TZipFd lock(::open(m_zipFileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (lock.Get() >= 0 && ::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
        return Fail(kZipBusy, m_zipFileName + " is being written by another process.");
    }
    TArchive archive;
    if (int code = OpenArchive(m_zipFileName, 0, archive, m_lastError); code != kZipOk) {
        return Fail(code, m_lastError);
    }
    zip_int64_t count = zip_get_num_entries(archive.za, 0);
    if (count == 0) {
        return Fail(kZipEmpty, "The Zip file is empty.");
    }
    zip_int64_t deleted = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(archive.za, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (name == nullptr || !MatchesFilesToProcess(name)) {
            continue;
        }
        if (OnDeleting) {
            OnDeleting(name);
        }
        if (m_abort) {
            return Fail(kZipAborted, "Aborted.");  // the archive is discarded unchanged
        }
        zip_delete(archive.za, static_cast<zip_uint64_t>(i));
        ++deleted;
    }
    m_filesToProcess.clear();
    if (deleted == 0) {
        return kZipNothingToDo;
    }
    if (zip_close(archive.za) != 0) {
        zip_error_t* error = zip_get_error(archive.za);
        int code = CodeFromLibzip(zip_error_code_zip(error), zip_error_code_system(error));
        return Fail(code, zip_error_strerror(error));
    }
    archive.za = nullptr;
    // libzip removes an archive left without entries; the user deleted entries, not the Zip file.
    std::error_code ec;
    if (deleted == count && !fs::exists(m_zipFileName, ec)) {
        std::string error;
        TZipFd fd(::open(m_zipFileName.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        std::string empty = EmptyArchive();
        if (fd.Get() < 0 || !ZipWriteAt(fd.Get(), empty.data(), empty.size(), 0)) {
            return SystemFail(errno);
        }
    }
    return kZipOk;
}

// ---- Extract ----

int TZipEngine::Extract() {
    BeginOperation();
    TArchive archive;
    if (int code = OpenArchive(m_zipFileName, ZIP_RDONLY, archive, m_lastError); code != kZipOk) {
        return Fail(code, m_lastError);
    }
    zip_int64_t count = zip_get_num_entries(archive.za, 0);
    if (count == 0) {
        return Fail(kZipEmpty, "The Zip file is empty.");
    }
    bool replaceAll = m_overwrite == xowAlways;
    int result = kZipOk;
    bool any = false;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive.za, static_cast<zip_uint64_t>(i), 0, &st) != 0 || st.name == nullptr) {
            continue;
        }
        if (!MatchesFilesToProcess(st.name)) {
            continue;
        }
        any = true;
        TZipEntry entry = EntryFromStat(archive.za, static_cast<zip_uint64_t>(i), st);
        if (!Fire(OnExtracting, entry)) {
            return Fail(kZipAborted, "Aborted.");
        }
        int code = ExtractOne(archive.za, i, entry, replaceAll);
        if (code == kZipAborted || code == kZipDiskFull || code == kZipNoMemory) {
            return Fail(code, m_lastError);
        }
        if (code != kZipOk && result == kZipOk) {
            result = code;
        }
    }
    m_filesToProcess.clear();
    if (!any) {
        return kZipNothingToDo;
    }
    if (result == kZipOk && !m_skipped.empty()) {
        result = kZipSkipped;
    }
    return result;
}

int TZipEngine::ExtractOne(void* za, std::int64_t index, const TZipEntry& entry, bool& replaceAll) {
    zip_t* archive = static_cast<zip_t*>(za);
    std::string relative = SafeEntryPath(entry.name, m_usePaths);
    bool folder = !entry.name.empty() && (entry.name.back() == '/' || entry.name.back() == '\\');
    if (relative.empty()) {
        if (folder && !m_usePaths) {
            return kZipOk;  // folders are not made without paths
        }
        m_skipped.push_back({entry.name, "refused: the name is absolute or leaves the extraction folder"});
        return kZipOk;
    }
    std::error_code ec;
    fs::path base = m_extractDirectory.empty() ? fs::current_path(ec) : fs::path(m_extractDirectory);
    fs::path target = base / relative;
    if (folder) {
        fs::create_directories(target, ec);
        if (ec) {
            m_skipped.push_back({entry.name, ec.message()});
        }
        return kZipOk;
    }
    if (fs::exists(fs::symlink_status(target, ec))) {
        if (fs::is_directory(fs::symlink_status(target, ec))) {
            m_skipped.push_back({entry.name, "a folder of that name exists"});
            return kZipOk;
        }
        if (!replaceAll) {
            if (m_overwrite == xowNever) {
                return kZipOk;
            }
            TZipReplaceAction action = xraSkip;  // without an answer nothing is overwritten
            std::string nameField;
            if (OnReplace) {
                OnReplace(target.string(), nameField, action);
            }
            if (m_abort || action == xraCancel) {
                m_lastError = "Cancelled.";
                return kZipAborted;
            }
            if (action == xraSkip) {
                return kZipOk;
            }
            if (action == xraReplaceAll) {
                replaceAll = true;
            }
        }
    }
    fs::create_directories(target.parent_path(), ec);
    // Written beside the target and renamed over it, so a failure never leaves a torn file.
    std::string temp = target.parent_path().string() + "/.pellix-unzip-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        int err = errno;
        m_lastError = target.string() + ": " + std::strerror(err);
        if (err == ENOSPC) {
            return kZipDiskFull;
        }
        m_skipped.push_back({entry.name, std::strerror(err)});
        return kZipOk;
    }
    TZipFd file(fd);
    zip_file_t* zf = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
    if (zf == nullptr) {
        zip_error_t* error = zip_get_error(archive);
        m_lastError = entry.name + ": " + zip_error_strerror(error);
        ::unlink(temp.c_str());
        return CodeFromLibzip(zip_error_code_zip(error), zip_error_code_system(error));
    }
    std::string buffer(kBufferSize, '\0');
    std::int64_t done = 0;
    int code = kZipOk;
    for (;;) {
        zip_int64_t n = zip_fread(zf, buffer.data(), buffer.size());
        if (n < 0) {
            zip_error_t* error = zip_file_get_error(zf);
            m_lastError = entry.name + ": " + zip_error_strerror(error);
            code = CodeFromLibzip(zip_error_code_zip(error), zip_error_code_system(error));
            break;
        }
        if (n == 0) {
            break;
        }
        if (!ZipWriteAt(fd, buffer.data(), static_cast<std::size_t>(n), done)) {
            m_lastError = target.string() + ": " + std::strerror(errno);
            code = ZipCodeFromErrno(errno);
            break;
        }
        done += n;
        TZipEntry progress = entry;
        progress.bytes = done;
        progress.percent = entry.size > 0 ? static_cast<int>(done * 100 / entry.size) : 100;
        if (!Fire(OnStatus, progress)) {
            m_lastError = "Aborted.";
            code = kZipAborted;
            break;
        }
    }
    zip_fclose(zf);
    if (code != kZipOk) {
        ::unlink(temp.c_str());
        return code;
    }
    ::fchmod(fd, 0644);
    if (entry.dateTime > 0) {
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = ToTimeT(entry.dateTime);
        times[0].tv_nsec = times[1].tv_nsec = 0;
        ::futimens(fd, times);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        m_skipped.push_back({entry.name, std::strerror(errno)});
        ::unlink(temp.c_str());
    }
    return kZipOk;
}

// ---- Add ----

int TZipEngine::CollectAddItems(std::vector<TZipAddItem>& items) {
    std::error_code cwdError;
    fs::path base = m_baseDirectory.empty() ? fs::current_path(cwdError) : fs::path(m_baseDirectory);
    std::set<std::string> seenSources;
    std::map<std::string, std::string> seenNames;  // entry name -> source
    bool repeated = false;

    auto entryNameFor = [&](const fs::path& source, const std::string& given) {
        if (!m_usePaths) {
            return source.filename().string();
        }
        fs::path given_path(given);
        fs::path relative = given_path.is_absolute() ? fs::path() : given_path.lexically_normal();
        std::string name = relative.empty() ? std::string() : relative.generic_string();
        if (name.empty() || *relative.begin() == "..") {
            // Outside the base folder: the full path without its root.
            name = source.lexically_normal().relative_path().generic_string();
        }
        while (name.rfind("./", 0) == 0) {
            name.erase(0, 2);
        }
        return name;
    };

    auto addFile = [&](const fs::path& source, const std::string& given) {
        std::string key = source.lexically_normal().string();
        if (!seenSources.insert(key).second) {
            return;
        }
        struct stat st;
        if (::stat(source.c_str(), &st) != 0) {
            m_skipped.push_back({given, std::strerror(errno)});
            return;
        }
        if (!S_ISREG(st.st_mode)) {
            m_skipped.push_back({given, "not a regular file"});
            return;
        }
        TZipAddItem item;
        item.sourcePath = source.string();
        item.entryName = entryNameFor(source, given);
        item.size = st.st_size;
        item.mtime = st.st_mtime;
        item.dosTime = DosDateTime(st.st_mtime);
        item.mode = st.st_mode & 0177777;
        std::string ext = UpperCase(source.extension().string());
        std::string stored = ";" + UpperCase(m_storedExtensions) + ";";
        item.store = m_compression == 0 || (!ext.empty() && stored.find(";" + ext + ";") != std::string::npos);
        auto [it, inserted] = seenNames.emplace(item.entryName, item.sourcePath);
        if (!inserted) {
            repeated = true;
            return;
        }
        items.push_back(std::move(item));
    };

    for (const std::string& raw : m_filesToProcess) {
        std::string given = raw;
        fs::path full = fs::path(given).is_absolute() ? fs::path(given) : base / given;
        std::string leaf = full.filename().string();
        bool wildcard = leaf.find_first_of("*?") != std::string::npos;
        std::error_code ec;
        if (!wildcard && fs::is_directory(full, ec)) {
            if (!m_recurse) {
                m_skipped.push_back({given, "a folder (folders are added with Recurse)"});
                continue;
            }
            for (auto it = fs::recursive_directory_iterator(full, ec); !ec && it != fs::recursive_directory_iterator();
                 it.increment(ec)) {
                if (it->is_regular_file(ec)) {
                    std::string sub = (fs::path(given) / it->path().lexically_relative(full)).string();
                    addFile(it->path(), sub);
                }
            }
            continue;
        }
        if (!wildcard) {
            addFile(full, given);
            continue;
        }
        fs::path folder = full.parent_path();
        fs::path givenFolder = fs::path(given).parent_path();
        auto consider = [&](const fs::path& path) {
            if (MatchesPattern(leaf, path.filename().string())) {
                addFile(path, (givenFolder / path.lexically_relative(folder)).string());
            }
        };
        if (m_recurse) {
            for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
                 it.increment(ec)) {
                if (it->is_regular_file(ec)) {
                    consider(it->path());
                }
            }
        } else {
            for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
                if (it->is_regular_file(ec)) {
                    consider(it->path());
                }
            }
        }
    }
    if (repeated) {
        return kZipNamesRepeated;
    }
    return kZipOk;
}

int TZipEngine::Add(TZipAddMode mode) {
    BeginOperation();
    if (mode < kZipAddReplace || mode > kZipAddUpdate) {
        return Fail(kZipInternal, "Unknown add mode " + std::to_string(static_cast<int>(mode)) + ".");
    }
    std::vector<TZipAddItem> items;
    if (int code = CollectAddItems(items); code != kZipOk) {
        return Fail(code, "Two files would be stored under the same name.");
    }
    int code = kZipNothingToDo;
    if (!items.empty()) {
        // Lives to the end of the add: a fallback to the library runs under its lock.
        TZipAppender appender(*this);
        code = appender.Append(items, mode);
        m_skipped.insert(m_skipped.end(), appender.Skipped().begin(), appender.Skipped().end());
        m_added = appender.Added();
        m_lastError = appender.LastError();
        m_lastSystemError = appender.LastSystemError();
        if (appender.NeedsLibrary()) {
            code = AddThroughLibrary(items, mode);
        }
    }
    m_filesToProcess.clear();
    if (code == kZipOk && !m_skipped.empty()) {
        code = kZipSkipped;
    }
    return code;
}

int TZipEngine::AddThroughLibrary(std::vector<TZipAddItem>& items, TZipAddMode mode) {
    TArchive archive;
    if (int code = OpenArchive(m_zipFileName, ZIP_CREATE, archive, m_lastError); code != kZipOk) {
        return Fail(code, m_lastError);
    }
    std::vector<const TZipAddItem*> staged;
    for (TZipAddItem& item : items) {
        zip_int64_t existing = zip_name_locate(archive.za, item.entryName.c_str(), ZIP_FL_ENC_RAW);
        item.replaces = existing >= 0;
        if (item.replaces) {
            zip_stat_t st;
            bool newer = zip_stat_index(archive.za, static_cast<zip_uint64_t>(existing), 0, &st) == 0 &&
                         DosDateTime(item.mtime) > DosDateTime(st.mtime);
            item.wanted = mode == kZipAddReplace || newer;
        } else {
            item.wanted = mode != kZipAddFreshen;
        }
        if (!item.wanted) {
            continue;
        }
        if (OnFileComment) {
            OnFileComment(item.entryName, item.comment);
        }
        if (item.comment.size() > kZipMaxComment) {
            item.comment.resize(kZipMaxComment);
        }
        TZipEntry entry;
        entry.name = item.entryName;
        entry.size = item.size;
        entry.dateTime = DateTimeFromTime(item.mtime);
        entry.comment = item.comment;
        if (!Fire(item.replaces ? OnUpdating : OnAdding, entry)) {
            return Fail(kZipAborted, "Aborted.");  // discarded: the archive stays as it was
        }
        zip_source_t* source = zip_source_file(archive.za, item.sourcePath.c_str(), 0, -1);
        zip_int64_t index = source == nullptr ? -1
                                              : zip_file_add(archive.za, item.entryName.c_str(), source,
                                                             ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS);
        if (index < 0) {
            if (source != nullptr) {
                zip_source_free(source);
            }
            m_skipped.push_back({item.sourcePath, zip_strerror(archive.za)});
            continue;
        }
        zip_set_file_compression(archive.za, static_cast<zip_uint64_t>(index),
                                 item.store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                 static_cast<zip_uint32_t>(m_compression));
        zip_file_set_mtime(archive.za, static_cast<zip_uint64_t>(index), item.mtime, 0);
        zip_file_set_external_attributes(archive.za, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                         item.mode << 16);
        if (!item.comment.empty()) {
            zip_file_set_comment(archive.za, static_cast<zip_uint64_t>(index), item.comment.data(),
                                 static_cast<zip_uint16_t>(item.comment.size()), ZIP_FL_ENC_GUESS);
        }
        staged.push_back(&item);
    }
    if (staged.empty()) {
        return m_skipped.empty() ? kZipNothingToDo : kZipSkipped;
    }
    // libzip writes a new file and renames it over the old one: all or nothing.
    if (zip_close(archive.za) != 0) {
        zip_error_t* error = zip_get_error(archive.za);
        if (zip_error_system_type(error) == ZIP_ET_SYS) {
            m_lastSystemError = zip_error_code_system(error);
        }
        int code = CodeFromLibzip(zip_error_code_zip(error), zip_error_code_system(error));
        return Fail(code, m_zipFileName + ": " + zip_error_strerror(error));
    }
    archive.za = nullptr;
    for (const TZipAddItem* item : staged) {
        m_added.push_back(item->entryName);
    }
    return kZipOk;
}

} // namespace pellix
