// TZipArchive: the zip manager's operations on open Zip files.
#include "workspace/zip_archive.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <system_error>
#include <unordered_map>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>

#include "links/file_io.h"
#include "links/text_helpers.h"

namespace pellix {

namespace fs = std::filesystem;

namespace {

std::string FolderOf(const std::string& entryPath) {
    std::size_t slash = entryPath.find_last_of('/');
    return slash == std::string::npos ? std::string() : entryPath.substr(0, slash + 1);
}

} // namespace

void TZipObj::SyncKeys() const {
    if (m_entryKeys.size() != entries.size()) {
        m_entryKeys.clear();
        for (const std::string& e : entries) {
            m_entryKeys.insert(LowerCase(e));
        }
    }
    if (m_folderKeys.size() != folders.size()) {
        m_folderKeys.clear();
        for (const std::string& f : folders) {
            m_folderKeys.insert(LowerCase(f));
        }
    }
}

bool TZipObj::HasEntry(const std::string& entryPath) const {
    SyncKeys();
    return m_entryKeys.count(LowerCase(entryPath)) != 0;
}

bool TZipObj::HasFolder(const std::string& folderPath) const {
    SyncKeys();
    return m_folderKeys.count(LowerCase(folderPath)) != 0;
}

bool TZipObj::AddEntry(const std::string& entryPath) {
    SyncKeys();
    if (!m_entryKeys.insert(LowerCase(entryPath)).second) {
        return false;
    }
    entries.push_back(entryPath);
    return true;
}

bool TZipObj::AddFolder(const std::string& folderPath) {
    SyncKeys();
    if (!m_folderKeys.insert(LowerCase(folderPath)).second) {
        return false;
    }
    folders.push_back(folderPath);
    return true;
}

void TZipObj::RemoveEntries(const std::vector<std::string>& names) {
    std::unordered_set<std::string> gone;
    for (const std::string& name : names) {
        gone.insert(LowerCase(name));
    }
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::string& e) { return gone.count(LowerCase(e)) != 0; }),
                  entries.end());
    m_entryKeys.clear();
    SyncKeys();
}

void TZipObj::RemoveFolder(const std::string& folderPath) {
    const std::string key = LowerCase(folderPath);
    folders.erase(std::remove_if(folders.begin(), folders.end(),
                                 [&](const std::string& f) { return LowerCase(f) == key; }),
                  folders.end());
    m_folderKeys.clear();
    SyncKeys();
}

TZipArchive::TZipArchive() {
    m_engine.OnAdding = [this](const TZipEntry& e) { Status("Adding: " + e.name); };
    m_engine.OnUpdating = [this](const TZipEntry& e) { Status("Updating: " + e.name); };
    m_engine.OnExtracting = [this](const TZipEntry& e) { Status("Extracting \"" + e.name + "\"."); };
    m_engine.OnDeleting = [this](const std::string& name) { Status("Deleting: " + name); };
    m_engine.OnFileComment = [this](const std::string& name, std::string& comment) {
        if (m_pendingComment) {
            comment = m_pendingComment(name);
        }
    };
    m_engine.OnReplace = [this](const std::string& file, std::string& name, TZipReplaceAction& action) {
        if (OnReplace) {
            OnReplace(file, name, action);
        }
    };
}

void TZipArchive::Status(const std::string& text) {
    if (OnStatusText) {
        OnStatusText(text);
    }
}

void TZipArchive::Progress(const std::string& text, std::int64_t position, std::int64_t maximum) {
    if (OnProgress) {
        OnProgress(text, position, maximum);
    }
}

TZipObj* TZipArchive::Find(const std::string& path) {
    for (auto& zip : m_zips) {
        if (zip->path == path) {
            return zip.get();
        }
    }
    return nullptr;
}

void TZipArchive::Register(TZipObj& zip, const std::string& entryPath) {
    std::string folder = FolderOf(entryPath);
    for (std::size_t slash = folder.find('/'); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
        std::string level = folder.substr(0, slash + 1);
        zip.AddFolder(level);
    }
    bool isFolder = !entryPath.empty() && entryPath.back() == '/';
    if (!isFolder) {
        zip.AddEntry(entryPath);
    }
}

TZipOpenResult TZipArchive::Open(const std::string& path) {
    TZipOpenResult result;
    if (TZipObj* open = Find(path)) {
        result.zip = open;
        result.alreadyOpen = true;
        return result;
    }
    Status("Opening Zip: " + fs::path(path).filename().string());
    auto zip = std::make_unique<TZipObj>();
    zip->path = path;
    m_engine.SetZipFileName(path);
    m_engine.SetFilesToProcess({"*.*"});
    m_engine.OnListing = [this, &result](const TZipEntry& entry) {
        result.rows.push_back(entry);
        Progress(kOpeningZipText, static_cast<std::int64_t>(result.rows.size()), m_engine.ListTotal());
    };
    result.code = m_engine.List();
    m_engine.OnListing = nullptr;
    // Cleared also when the listing failed part way.
    Progress({}, 0, 0);
    result.view = InterpretZipResult(result.code, "opening");
    if (result.code != kZipOk) {
        return result;
    }
    for (const TZipEntry& row : result.rows) {
        Register(*zip, row.name);
    }
    result.zip = zip.get();
    m_zips.push_back(std::move(zip));
    Status("Ready");
    return result;
}

TZipObj& TZipArchive::CreateNode(const std::string& path) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    m_engine.SetZipFileName(path);
    if (TZipObj* open = Find(path)) {
        return *open;
    }
    auto zip = std::make_unique<TZipObj>();
    zip->path = path;
    m_zips.push_back(std::move(zip));
    return *m_zips.back();
}

void TZipArchive::Close(const std::string& path) {
    if (m_engine.ZipFileName() == path) {
        m_engine.SetZipFileName({});
    }
    m_zips.erase(std::remove_if(m_zips.begin(), m_zips.end(), [&](const auto& z) { return z->path == path; }),
                 m_zips.end());
}

int TZipArchive::List(TZipObj& zip, const std::string& pattern, std::vector<TZipEntry>& rows) {
    m_engine.SetZipFileName(zip.path);
    m_engine.SetFilesToProcess({pattern});
    m_engine.OnListing = [&rows](const TZipEntry& entry) { rows.push_back(entry); };
    int code = m_engine.List();
    m_engine.OnListing = nullptr;
    return code;
}

TZipOutcome TZipArchive::Finish(int code, const std::string& verb) {
    TZipOutcome outcome;
    outcome.code = code;
    outcome.view = InterpretZipResult(code, verb);
    outcome.skipped = m_engine.Skipped();
    return outcome;
}

TZipOutcome TZipArchive::AddFiles(TZipObj& zip, const std::vector<std::string>& files, TZipAddMode action, bool usePaths,
                                  bool recurse) {
    m_engine.SetZipFileName(zip.path);
    m_engine.SetBaseDirectory({});
    m_engine.SetUsePaths(usePaths);
    m_engine.SetRecurse(recurse);
    m_engine.SetFilesToProcess(files);
    int code = m_engine.Add(action);
    TZipOutcome outcome = Finish(code, "adding");
    // What the file holds now, also after a failure part way.
    outcome.entries = m_engine.Added();
    for (const std::string& name : outcome.entries) {
        Register(zip, name);
    }
    if (outcome.view.yield == TZipYield::Error) {
        outcome.failed = true;
        outcome.systemError = m_engine.LastSystemError();
        outcome.fault = ZipAddFaultOf(code, outcome.systemError);
    }
    return outcome;
}

namespace {

// "a, b, c and 12 more": the first names, then how many are left.
std::string NameList(const std::vector<std::string>& names) {
    constexpr std::size_t kShown = 3;
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < kShown; ++i) {
        text += (i == 0 ? "" : ", ") + names[i];
    }
    if (names.size() > kShown) {
        text += " and " + std::to_string(names.size() - kShown) + " more";
    }
    return text;
}

} // namespace

TZipOutcome TZipArchive::AddTaskFiles(TZipObj& zip, const std::string& tempFolder,
                                      const std::vector<TZipTaskFile>& files) {
    const fs::path temp = fs::path(tempFolder).lexically_normal();
    std::vector<std::string> names;       // as the engine takes them
    std::vector<std::string> entryNames;  // per file; reserved, so views into it stay valid
    std::unordered_map<std::string_view, std::string_view> titles;  // entry name -> title
    names.reserve(files.size());
    entryNames.reserve(files.size());
    titles.reserve(files.size());
    for (const TZipTaskFile& file : files) {
        fs::path local = fs::path(file.localPath).lexically_normal();
        fs::path relative = local.lexically_relative(temp);
        bool inside = !relative.empty() && *relative.begin() != "..";
        names.push_back(inside ? relative.string() : local.string());
        entryNames.push_back(inside ? relative.generic_string() : local.relative_path().generic_string());
        titles[entryNames.back()] = std::string_view(file.title).substr(0, 255);
    }
    m_pendingComment = [&titles](const std::string& name) {
        auto it = titles.find(name);
        return it == titles.end() ? std::string() : std::string(it->second);
    };
    m_engine.SetZipFileName(zip.path);
    m_engine.SetBaseDirectory(temp.string());
    m_engine.SetUsePaths(true);
    m_engine.SetRecurse(false);
    m_engine.SetFilesToProcess(std::move(names));
    int code = m_engine.Add(kZipAddReplace);
    m_pendingComment = nullptr;
    m_engine.SetBaseDirectory({});
    TZipOutcome outcome = Finish(code, "adding");

    // Only what the file holds is registered and reported packed.
    const std::vector<std::string>& added = m_engine.Added();
    std::unordered_map<std::string_view, bool> in;  // entry name -> listed in entries yet
    in.reserve(added.size());
    for (const std::string& name : added) {
        Register(zip, name);
        in.emplace(name, false);
    }
    std::unordered_set<std::string> skipped;  // normalised sources
    for (const TZipSkip& skip : outcome.skipped) {
        const fs::path path(skip.name);
        skipped.insert((path.is_absolute() ? path : temp / path).lexically_normal().string());
    }
    outcome.filesPacked.assign(files.size(), false);
    outcome.entries.reserve(added.size());
    std::unordered_set<std::string_view> leftNames;
    std::vector<std::string> left;  // files the failure kept out
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& entry = entryNames[i];
        if (auto found = in.find(entry); found != in.end()) {
            outcome.filesPacked[i] = true;
            if (!found->second) {
                found->second = true;
                outcome.entries.push_back(entry);
            }
        } else if ((skipped.empty() ||
                    skipped.count(fs::path(files[i].localPath).lexically_normal().string()) == 0) &&
                   leftNames.insert(entry).second) {
            left.push_back(entry);
        }
    }
    if (outcome.view.yield != TZipYield::Error) {
        return outcome;
    }
    outcome.failed = true;
    outcome.systemError = m_engine.LastSystemError();
    outcome.fault = ZipAddFaultOf(code, outcome.systemError);
    if (outcome.fault != TZipAddFault::Aborted) {
        outcome.view.kind = TZipMessageKind::Error;
        outcome.view.message = "Cannot add to " + zip.path + ": " + ZipAddFailureReason(code, outcome.systemError) + ".";
        if (!left.empty()) {
            outcome.view.message += " Not packed: " + NameList(left) + ".";
        }
    }
    return outcome;
}

TZipOutcome TZipArchive::Delete(TZipObj& zip, const std::string& entryPath) {
    m_engine.SetZipFileName(zip.path);
    m_engine.SetFilesToProcess({entryPath});
    std::vector<std::string> deleted;
    auto deleting = m_engine.OnDeleting;
    m_engine.OnDeleting = [&](const std::string& name) { deleted.push_back(name); deleting(name); };
    int code = m_engine.Delete();
    m_engine.OnDeleting = deleting;
    TZipOutcome outcome = Finish(code, "deleting");
    if (code != kZipOk) {
        return outcome;
    }
    zip.RemoveEntries(deleted);
    // Folders left without entries go too, deepest first, never the root. Every folder above a
    // remaining entry or folder is in use.
    std::unordered_set<std::string> used;
    auto markAncestors = [&used](const std::string& path) {
        const std::string folded = LowerCase(path);
        for (std::size_t slash = folded.find('/'); slash != std::string::npos && slash + 1 < folded.size();
             slash = folded.find('/', slash + 1)) {
            used.insert(folded.substr(0, slash + 1));
        }
    };
    for (const std::string& entry : zip.entries) {
        markAncestors(entry);
    }
    std::vector<std::string> folders = zip.folders;
    std::sort(folders.begin(), folders.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const std::string& folder : folders) {
        if (folder.empty()) {
            continue;
        }
        if (used.count(LowerCase(folder)) == 0) {
            zip.RemoveFolder(folder);
            outcome.folders.push_back(folder);
        } else {
            markAncestors(folder);
        }
    }
    outcome.entries = std::move(deleted);
    return outcome;
}

TZipOutcome TZipArchive::Extract(TZipObj& zip, const std::vector<std::string>& entryPaths, const std::string& folder,
                                 bool usePaths, bool overwriteAlways) {
    m_engine.SetZipFileName(zip.path);
    m_engine.SetFilesToProcess(entryPaths);
    m_engine.SetExtractDirectory(folder);
    m_engine.SetUsePaths(usePaths);
    m_engine.SetOverwrite(overwriteAlways ? xowAlways : xowAsk);
    TZipOutcome outcome = Finish(m_engine.Extract(), "extracting");
    if (!outcome.skipped.empty() && outcome.view.kind == TZipMessageKind::Information) {
        // Say which names were refused, so the user knows the archive is at fault.
        outcome.view.message += "\n";
        for (const TZipSkip& skip : outcome.skipped) {
            outcome.view.message += "\n" + skip.name + ": " + skip.reason;
        }
    }
    return outcome;
}

TZipOutcome TZipArchive::ExtractForBrowsing(TZipObj& zip, const std::string& entryPath, const std::string& folder) {
    TZipOutcome outcome = Extract(zip, {entryPath}, folder, true, true);
    if (outcome.view.yield != TZipYield::Error) {
        outcome.status = "Unzipped: " + entryPath + ".";
        Status(outcome.status);
    }
    return outcome;
}

TZipOutcome TZipArchive::ExtractAllForBrowsing(TZipObj& zip, const std::string& tempFolder, bool taskFileBeingAdded) {
    if (zip.extracted || taskFileBeingAdded) {
        return {};
    }
    TZipOutcome outcome = Extract(zip, {"*.*"}, tempFolder, true, true);
    if (outcome.view.yield != TZipYield::Error) {
        zip.extracted = true;
        outcome.status = "All files extracted successfully.";
        Status(outcome.status);
    }
    return outcome;
}

namespace {

constexpr std::size_t kMaxFileName = 255;  // bytes of one name on Linux file systems

std::string TrimBlanks(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// At most size bytes, never ending inside a UTF-8 character.
// rename that never replaces a file: 0, or the errno (EEXIST when the name is taken).
int MoveNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without the flag: look first, as every caller did before it existed.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec))) {
        return EEXIST;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

} // namespace

TZipRenameResult TZipArchive::Rename(TZipObj& zip, const std::string& newName) {
    TZipRenameResult result;
    const fs::path folder = fs::path(zip.path).parent_path();
    auto refused = [&](const std::string& path) {
        result.message = "Unable to rename file to: " + path + "\n" +
                         "A file may not contain any of the following characters: \n\\/:*?\"<>|";
        return result;
    };
    auto renamed = [&](const std::string& path) {
        if (m_engine.ZipFileName() == zip.path) {
            m_engine.SetZipFileName(path);
        }
        zip.path = path;
        result.ok = true;
        result.newPath = path;
        return result;
    };

    std::string name = newName;
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = ' ';
        }
    }
    name = TrimBlanks(name);
    if (name.find('/') != std::string::npos) {
        return refused((folder / name).string());
    }
    std::string extension = ".zip";
    std::string stem = name;
    if (stem.size() >= 4 && SameText(std::string_view(stem).substr(stem.size() - 4), ".zip")) {
        extension = stem.substr(stem.size() - 4);
        stem.resize(stem.size() - 4);
    }
    // Room for the extension and the largest "(n)". Blanks before the extension stay: a title
    // "Docs: What?" gives "Docs  What .zip".
    const std::size_t room = kMaxFileName - extension.size() - std::to_string(kMaxRenameTries - 1).size() - 2;
    stem.resize(Utf8CutLength(stem, room));
    if (stem.find_first_not_of(". ") == std::string::npos) {
        return refused((folder / name).string());  // empty, ".", "..", blanks
    }

    const std::string wanted = (folder / (stem + extension)).string();
    for (int n = -1; n < kMaxRenameTries; ++n) {
        const std::string candidate =
            n < 0 ? wanted : (folder / (stem + "(" + std::to_string(n) + ")" + extension)).string();
        if (candidate == zip.path) {
            return renamed(candidate);  // it has that name already
        }
        const int error = MoveNoReplace(zip.path, candidate);
        if (error == 0) {
            return renamed(candidate);
        }
        if (error == EEXIST || error == ENOTEMPTY || error == EISDIR) {
            continue;
        }
        if (error == ENAMETOOLONG || error == EINVAL || error == EILSEQ) {
            return refused(candidate);
        }
        result.message = "Unable to rename file to: " + candidate + "\n" + WriteErrorReason(error) + ".";
        return result;
    }
    result.message = "Unable to rename file to: " + wanted + "\n" + "It and the next " +
                     std::to_string(kMaxRenameTries) + " numbered names are taken.";
    return result;
}

bool TZipArchive::IsWasteful(const TZipSpace& space) {
    return space.measured && space.deadBytes > kCompactMinDeadBytes &&
           space.deadBytes * 100 > space.fileSize * kCompactMinDeadPercent;
}

TZipCompactOutcome TZipArchive::CompactIfWasteful(TZipObj& zip) {
    TZipCompactOutcome outcome;
    outcome.space = MeasureZipSpace(zip.path);
    outcome.sizeAfter = outcome.space.fileSize;
    if (!IsWasteful(outcome.space)) {
        return outcome;
    }
    outcome.due = true;
    Status("Compacting: " + fs::path(zip.path).filename().string());
    const TZipCompaction compaction = CompactZip(zip.path);
    outcome.compacted = compaction.rewritten;
    outcome.sizeAfter = compaction.sizeAfter;
    outcome.systemError = compaction.systemError;
    if (!compaction.rewritten && compaction.code != kZipNothingToDo) {
        outcome.message = "Cannot compact " + zip.path + ": " +
                          ZipAddFailureReason(compaction.code, compaction.systemError) + ". The Zip file is unchanged.";
    }
    Status("Ready");
    return outcome;
}

std::string TZipArchive::TotalsText(std::int64_t entries, std::int64_t size, std::int64_t packed, int engineCount) {
    if (size == 0) {
        return "Total: " + std::to_string(engineCount) + " files  ";
    }
    long percent = std::lround(100.0 - static_cast<double>(packed) * 100.0 / static_cast<double>(size));
    return "Total: " + std::to_string(entries) + " files  " + std::to_string(size) + " / " + std::to_string(packed) +
           " bytes (" + std::to_string(percent) + "%)";
}

std::string TZipArchive::SelectionText(std::int64_t count, std::int64_t size, std::int64_t packed) {
    if (size == 0) {
        return "Selected " + std::to_string(count) + " files ";
    }
    return "Selected " + std::to_string(count) + " files  " + std::to_string(size) + " / " + std::to_string(packed) +
           " bytes";
}

} // namespace pellix
