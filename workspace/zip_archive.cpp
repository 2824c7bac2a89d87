// TZipArchive: the zip manager's operations on open Zip files.
#include "workspace/zip_archive.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <system_error>

#include "links/text_helpers.h"

namespace pellix {

namespace fs = std::filesystem;

namespace {

std::string Folded(const std::string& text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string FolderOf(const std::string& entryPath) {
    std::size_t slash = entryPath.find_last_of('/');
    return slash == std::string::npos ? std::string() : entryPath.substr(0, slash + 1);
}

} // namespace

void TZipObj::SyncKeys() const {
    if (m_entryKeys.size() != entries.size()) {
        m_entryKeys.clear();
        for (const std::string& e : entries) {
            m_entryKeys.insert(Folded(e));
        }
    }
    if (m_folderKeys.size() != folders.size()) {
        m_folderKeys.clear();
        for (const std::string& f : folders) {
            m_folderKeys.insert(Folded(f));
        }
    }
}

bool TZipObj::HasEntry(const std::string& entryPath) const {
    SyncKeys();
    return m_entryKeys.count(Folded(entryPath)) != 0;
}

bool TZipObj::HasFolder(const std::string& folderPath) const {
    SyncKeys();
    return m_folderKeys.count(Folded(folderPath)) != 0;
}

bool TZipObj::AddEntry(const std::string& entryPath) {
    SyncKeys();
    if (!m_entryKeys.insert(Folded(entryPath)).second) {
        return false;
    }
    entries.push_back(entryPath);
    return true;
}

bool TZipObj::AddFolder(const std::string& folderPath) {
    SyncKeys();
    if (!m_folderKeys.insert(Folded(folderPath)).second) {
        return false;
    }
    folders.push_back(folderPath);
    return true;
}

void TZipObj::RemoveEntries(const std::vector<std::string>& names) {
    std::unordered_set<std::string> gone;
    for (const std::string& name : names) {
        gone.insert(Folded(name));
    }
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::string& e) { return gone.count(Folded(e)) != 0; }),
                  entries.end());
    m_entryKeys.clear();
    SyncKeys();
}

void TZipObj::RemoveFolder(const std::string& folderPath) {
    const std::string key = Folded(folderPath);
    folders.erase(std::remove_if(folders.begin(), folders.end(),
                                 [&](const std::string& f) { return Folded(f) == key; }),
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
    result.code = List(*zip, "*.*", result.rows);
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

TZipOutcome TZipArchive::AddFiles(TZipObj& zip, const std::vector<std::string>& files, int action, bool usePaths,
                                  bool recurse) {
    m_engine.SetZipFileName(zip.path);
    m_engine.SetBaseDirectory({});
    m_engine.SetUsePaths(usePaths);
    m_engine.SetRecurse(recurse);
    m_engine.SetFilesToProcess(files);
    std::vector<std::string> added;
    auto collect = [&added](const TZipEntry& e) { added.push_back(e.name); };
    auto adding = m_engine.OnAdding;
    auto updating = m_engine.OnUpdating;
    m_engine.OnAdding = [&](const TZipEntry& e) { collect(e); adding(e); };
    m_engine.OnUpdating = [&](const TZipEntry& e) { collect(e); updating(e); };
    int code = m_engine.Add(action);
    m_engine.OnAdding = adding;
    m_engine.OnUpdating = updating;
    TZipOutcome outcome = Finish(code, "adding");
    if (outcome.view.yield != TZipYield::Error) {
        for (const std::string& name : added) {
            Register(zip, name);
        }
        outcome.entries = std::move(added);
    }
    return outcome;
}

TZipOutcome TZipArchive::AddTaskFiles(TZipObj& zip, const std::string& tempFolder,
                                      const std::vector<TZipTaskFile>& files) {
    fs::path temp = fs::path(tempFolder).lexically_normal();
    std::vector<std::string> names;
    std::map<std::string, std::string> titles;  // entry name -> title
    for (const TZipTaskFile& file : files) {
        fs::path local = fs::path(file.localPath).lexically_normal();
        fs::path relative = local.lexically_relative(temp);
        bool inside = !relative.empty() && *relative.begin() != "..";
        std::string given = inside ? relative.string() : local.string();
        names.push_back(given);
        std::string entry = inside ? relative.generic_string() : local.relative_path().generic_string();
        titles[entry] = file.title.substr(0, 255);
    }
    m_pendingComment = [&titles](const std::string& name) {
        auto it = titles.find(name);
        return it == titles.end() ? std::string() : it->second;
    };
    m_engine.SetZipFileName(zip.path);
    m_engine.SetBaseDirectory(temp.string());
    m_engine.SetUsePaths(true);
    m_engine.SetRecurse(false);
    m_engine.SetFilesToProcess(names);
    std::vector<std::string> added;
    auto adding = m_engine.OnAdding;
    auto updating = m_engine.OnUpdating;
    m_engine.OnAdding = [&](const TZipEntry& e) { added.push_back(e.name); adding(e); };
    m_engine.OnUpdating = [&](const TZipEntry& e) { added.push_back(e.name); updating(e); };
    int code = m_engine.Add(kZipAddReplace);
    m_engine.OnAdding = adding;
    m_engine.OnUpdating = updating;
    m_pendingComment = nullptr;
    m_engine.SetBaseDirectory({});
    TZipOutcome outcome = Finish(code, "adding");
    for (const std::string& name : added) {
        bool failed = std::any_of(outcome.skipped.begin(), outcome.skipped.end(), [&](const TZipSkip& s) {
            return fs::path(s.name).lexically_normal().generic_string().ends_with(name);
        });
        if (!failed) {
            Register(zip, name);
            outcome.entries.push_back(name);
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
        const std::string folded = Folded(path);
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
        if (used.count(Folded(folder)) == 0) {
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

TZipRenameResult TZipArchive::Rename(TZipObj& zip, const std::string& newName) {
    TZipRenameResult result;
    fs::path folder = fs::path(zip.path).parent_path();
    std::string wanted = (folder / newName).string();
    auto failure = [&](const std::string& path) {
        result.message = "Unable to rename file to: " + path + "\n" +
                         "A file may not contain any of the following characters: \n\\/:*?\"<>|";
        return result;
    };
    if (newName.empty() || newName.find('/') != std::string::npos || newName == "." || newName == "..") {
        return failure(wanted);
    }
    if (wanted == zip.path) {
        result.ok = true;
        result.newPath = wanted;
        return result;
    }
    std::string target = UniqueFileName(wanted);
    std::error_code ec;
    fs::rename(zip.path, target, ec);
    if (ec) {
        return failure(target);
    }
    if (m_engine.ZipFileName() == zip.path) {
        m_engine.SetZipFileName(target);
    }
    zip.path = target;
    result.ok = true;
    result.newPath = target;
    return result;
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
