// Carrying out the zip wizard's and the unzip dialog's choices.
#include "workspace/zip_choice_jobs.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "workspace/unzip_rules.h"

namespace pellix {

namespace fs = std::filesystem;

namespace {

// Chains a counter behind the archive's own handlers of one engine event for the length of a job,
// so that the status line texts go on as before.
class TCountingHook final {
public:
    TCountingHook(TZipEntryEvent& event, std::int64_t& done, std::int64_t total, const TZipJobProgress& progress)
        : m_event(event), m_saved(event) {
        if (!progress) {
            return;
        }
        m_event = [this, &done, total, &progress](const TZipEntry& entry) {
            if (m_saved) {
                m_saved(entry);
            }
            progress(entry.name, ++done, total);
        };
    }
    ~TCountingHook() { m_event = std::move(m_saved); }
    TCountingHook(const TCountingHook&) = delete;
    TCountingHook& operator=(const TCountingHook&) = delete;

private:
    TZipEntryEvent& m_event;
    TZipEntryEvent m_saved;
};

TZipOutcome Failure(int code, const std::string& verb) {
    TZipOutcome outcome;
    outcome.code = code;
    outcome.view = InterpretZipResult(code, verb);
    outcome.failed = true;
    return outcome;
}

} // namespace

std::int64_t CountFilesToAdd(const std::vector<std::string>& files, bool recurse) {
    std::int64_t count = 0;
    for (const std::string& file : files) {
        std::error_code ec;
        if (!fs::is_directory(file, ec)) {
            ++count;
            continue;
        }
        if (!recurse) {
            continue;
        }
        for (auto it = fs::recursive_directory_iterator(file, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            if (it->is_regular_file(ec)) {
                ++count;
            }
        }
    }
    return count;
}

TZipWizardJobResult PerformZipWizardChoice(TZipArchive& archive, const TZipWizardChoice& choice,
                                           const TZipJobProgress& progress) {
    TZipWizardJobResult result;
    std::error_code ec;
    const bool exists = fs::exists(choice.zipPath, ec);
    if (exists && !choice.openExisting && choice.replaceExisting) {
        // The user asked for a new Zip in place of this file: it starts empty. When it is open, its
        // node stays (windows point to it) and forgets the old entries.
        if (!fs::remove(choice.zipPath, ec) || ec) {
            result.outcome = Failure(kZipAccess, "adding");
            result.outcome.systemError = ec.value();
            return result;
        }
        if (TZipObj* open = archive.Find(choice.zipPath)) {
            open->RemoveEntries(open->entries);
            const std::vector<std::string> folders = open->folders;
            for (const std::string& folder : folders) {
                if (!folder.empty()) {
                    open->RemoveFolder(folder);
                }
            }
            open->extracted = false;
        }
    }
    if (fs::exists(choice.zipPath, ec)) {
        result.open = archive.Open(choice.zipPath);
        if (result.open.zip == nullptr) {
            // Not a Zip, unreadable: reported, and the file is left as it is.
            result.outcome = Failure(result.open.code, "adding");
            result.outcome.view = result.open.view;
            return result;
        }
        result.opened = true;
        result.zip = result.open.zip;
    } else {
        result.zip = &archive.CreateNode(choice.zipPath);
    }
    if (choice.files.empty()) {
        return result;
    }
    TZipEngine& engine = archive.Engine();
    engine.SetCompression(choice.compression);
    const TZipAddMode action = result.opened ? choice.action : kZipAddReplace;
    std::int64_t done = 0;
    const std::int64_t total = progress ? CountFilesToAdd(choice.files, choice.recurse) : 0;
    TCountingHook adding(engine.OnAdding, done, total, progress);
    TCountingHook updating(engine.OnUpdating, done, total, progress);
    result.outcome = archive.AddFiles(*result.zip, choice.files, action, choice.usePaths, choice.recurse);
    return result;
}

TZipOutcome PerformUnzipChoice(TZipArchive& archive, TZipObj& zip, const TUnzipChoice& choice,
                               const std::vector<std::string>& selected, const TZipJobProgress& progress) {
    const std::vector<std::string> patterns = choice.allFiles ? std::vector<std::string>{"*.*"} : selected;
    if (patterns.empty()) {
        return Failure(kZipNothingToDo, "extracting");
    }
    std::error_code ec;
    if (fs::exists(choice.folder, ec) && !fs::is_directory(choice.folder, ec)) {
        TZipOutcome outcome = Failure(kZipAccess, "extracting");
        outcome.view.message = "Cannot unzip to " + choice.folder + ": it is a file, not a folder.";
        return outcome;
    }
    // The folder itself is made by the first entry written, so a file that is not a Zip leaves
    // nothing behind.
    std::int64_t total = 0;
    if (progress) {
        for (const std::string& entry : zip.entries) {
            for (const std::string& pattern : patterns) {
                if (TZipEngine::MatchesPattern(pattern, entry)) {
                    ++total;
                    break;
                }
            }
        }
    }
    std::int64_t done = 0;
    TCountingHook extracting(archive.Engine().OnExtracting, done, total, progress);
    return archive.Extract(zip, patterns, choice.folder, choice.usePaths, UnzipOverwriteMode(choice.overwrite) == xowAlways);
}

} // namespace pellix
