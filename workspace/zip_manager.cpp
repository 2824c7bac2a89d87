// TZipManager: the zip manager's operations on a worker thread of its own.
#include "workspace/zip_manager.h"

#include <filesystem>

#include "engine/owner_thread.h"

namespace pellix {

namespace fs = std::filesystem;

namespace {

std::string Normal(const std::string& path) { return fs::path(path).lexically_normal().string(); }

} // namespace

TZipManager::TZipManager(IOwnerThread& owner) : m_owner(owner), m_alive(std::make_shared<bool>(true)) {
    m_archive.OnStatusText = [this](const std::string& text) { PostStatus(text, false); };
    m_archive.OnReplace = [this](const std::string& file, std::string& name, TZipReplaceAction& action) {
        // Asked on the owner thread; the worker waits for the answer, or for the end.
        struct TAsk {
            std::string file, name;
            TZipReplaceAction action = xraCancel;
            bool answered = false;
        };
        auto ask = std::make_shared<TAsk>();
        ask->file = file;
        // The engine leaves the other side unnamed; the user is to know what would replace it.
        ask->name = name.empty() ? "the copy in " + m_archive.Engine().ZipFileName() : name;
        std::shared_ptr<bool> alive = m_alive;
        const bool posted = m_owner.Post([this, alive, ask] {
            TZipReplaceAction answer = xraCancel;
            std::string field = ask->name;
            if (*alive && OnReplace) {
                answer = xraReplace;
                OnReplace(ask->file, field, answer);
            }
            if (!*alive) {
                return;
            }
            std::lock_guard lock(m_mutex);
            ask->action = answer;
            ask->name = field;
            ask->answered = true;
            m_cv.notify_all();
        });
        std::unique_lock lock(m_mutex);
        if (posted) {
            m_cv.wait(lock, [&] { return ask->answered || m_terminate; });
        }
        action = ask->answered ? ask->action : xraCancel;
        name = ask->name;
    };
    m_thread = std::thread([this] { Run(); });
}

TZipManager::~TZipManager() {
    m_archive.Engine().Abort();
    {
        std::lock_guard lock(m_mutex);
        m_terminate = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    *m_alive = false;
}

void TZipManager::Cancel() {
    if (Busy()) {
        m_archive.Engine().Abort();
    }
}

std::string TZipManager::TaskZipRefusal(const std::string& path) const {
    const std::string taskZip = m_taskZip ? m_taskZip() : std::string();
    if (taskZip.empty() || Normal(taskZip) != Normal(path)) {
        return {};
    }
    return "The Zip file " + path +
           " is being written by the running task. Wait until the task has ended, or stop it, before changing the "
           "Zip file.";
}

bool TZipManager::Start(TZipOperation operation, TJob job) {
    if (Busy()) {
        return false;
    }
    m_operation = operation;
    {
        std::lock_guard lock(m_mutex);
        m_job = std::move(job);
    }
    m_cv.notify_all();
    return true;
}

void TZipManager::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_terminate || m_job.has_value(); });
        if (m_terminate) {
            return;
        }
        TJob job = std::move(*m_job);
        m_job.reset();
        lock.unlock();
        m_lastStatus = {};
        m_lastProgress = {};
        std::function<void()> deliver = job();
        std::shared_ptr<bool> alive = m_alive;
        m_owner.Post([this, alive, deliver = std::move(deliver)] {
            if (!*alive) {
                return;
            }
            m_operation = TZipOperation::Idle;
            deliver();
        });
        lock.lock();
    }
}

void TZipManager::PostStatus(const std::string& text, bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastStatus < kEventGap) {
        return;
    }
    m_lastStatus = now;
    std::shared_ptr<bool> alive = m_alive;
    m_owner.Post([this, alive, text] {
        if (*alive && OnStatusText) {
            OnStatusText(text);
        }
    });
}

void TZipManager::PostProgress(const std::string& text, std::int64_t position, std::int64_t maximum, bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastProgress < kEventGap) {
        return;
    }
    m_lastProgress = now;
    std::shared_ptr<bool> alive = m_alive;
    m_owner.Post([this, alive, text, position, maximum] {
        if (*alive && OnProgress) {
            OnProgress(text, position, maximum);
        }
    });
}

TZipListing TZipManager::ListAll(const std::string& path, bool withProgress, bool withTree) {
    TZipListing listing;
    TZipEngine& engine = m_archive.Engine();
    engine.SetZipFileName(path);
    engine.SetFilesToProcess({"*.*"});
    engine.OnListing = [&](const TZipEntry& entry) {
        listing.rows.push_back(entry);
        if (withProgress) {
            PostProgress(kOpeningZipText, static_cast<std::int64_t>(listing.rows.size()), engine.ListTotal(), false);
        }
    };
    listing.code = engine.List();
    engine.OnListing = nullptr;
    if (withProgress) {
        PostProgress(kOpeningZipText, static_cast<std::int64_t>(listing.rows.size()), engine.ListTotal(), true);
        PostProgress({}, 0, 0, true);
    }
    // An empty archive lists as "empty": it opens all the same.
    if (listing.code == kZipEmpty || listing.code == kZipNothingToDo) {
        listing.code = kZipOk;
    }
    listing.view = InterpretZipResult(listing.code, "opening");
    if (listing.code == kZipNotFound || listing.code == kZipCorrupt || listing.code == kZipBadData) {
        // Said plainly: the file is no Zip archive (or no longer there).
        listing.view.kind = TZipMessageKind::Error;
        listing.view.message = (listing.code == kZipNotFound ? "Could not find the archive file " + path + "."
                                                             : path + " is not a Zip file, or it is damaged.");
    }
    if (withTree && listing.code == kZipOk) {
        listing.tree = std::make_unique<TZipTree>(path);
        listing.tree->AddRows(listing.rows);
    }
    return listing;
}

bool TZipManager::Open(const std::string& path, std::function<void(TZipListing)> done) {
    return Start(TZipOperation::Opening, [this, path, done = std::move(done)]() mutable -> std::function<void()> {
        PostStatus("Opening Zip: " + fs::path(path).filename().string(), true);
        auto listing = std::make_shared<TZipListing>(ListAll(path, true, true));
        PostStatus(listing->code == kZipOk ? "Ready" : "", true);
        return [listing, done = std::move(done)] { done(std::move(*listing)); };
    });
}

bool TZipManager::Relist(const std::string& path, std::function<void(TZipListing)> done) {
    return Start(TZipOperation::Listing, [this, path, done = std::move(done)]() mutable -> std::function<void()> {
        auto listing = std::make_shared<TZipListing>(ListAll(path, false, false));
        return [listing, done = std::move(done)] { done(std::move(*listing)); };
    });
}

bool TZipManager::Add(const std::string& path, std::vector<std::string> files, TZipAddMode action, bool usePaths,
                      bool recurse, int compression, std::function<void(TZipChange)> done) {
    if (!TaskZipRefusal(path).empty()) {
        return false;
    }
    const TZipOperation operation = action == kZipAddReplace ? TZipOperation::Adding : TZipOperation::Updating;
    return Start(operation, [=, this, files = std::move(files), done = std::move(done)]() mutable
                     -> std::function<void()> {
        auto change = std::make_shared<TZipChange>();
        TZipObj scratch;
        scratch.path = path;
        m_archive.Engine().SetCompression(compression);
        change->outcome = m_archive.AddFiles(scratch, files, action, usePaths, recurse);
        change->after = ListAll(path, false, false);
        PostStatus("Ready", true);
        return [change, done = std::move(done)] { done(std::move(*change)); };
    });
}

bool TZipManager::Delete(const std::string& path, std::vector<std::string> entryPaths,
                         std::function<void(TZipChange)> done) {
    if (!TaskZipRefusal(path).empty()) {
        return false;
    }
    return Start(TZipOperation::Deleting, [=, this, entryPaths = std::move(entryPaths),
                                           done = std::move(done)]() mutable -> std::function<void()> {
        auto change = std::make_shared<TZipChange>();
        TZipObj scratch;
        scratch.path = path;
        bool failed = false;
        for (const std::string& entry : entryPaths) {
            TZipOutcome one = m_archive.Delete(scratch, entry);
            change->outcome.entries.insert(change->outcome.entries.end(), one.entries.begin(), one.entries.end());
            if (!failed && one.view.yield != TZipYield::Success) {
                change->outcome.code = one.code;
                change->outcome.view = one.view;
                failed = one.view.yield == TZipYield::Error;
            }
            if (m_archive.Engine().Aborted() || failed) {
                break;
            }
        }
        change->after = ListAll(path, false, false);
        PostStatus("Ready", true);
        return [change, done = std::move(done)] { done(std::move(*change)); };
    });
}

bool TZipManager::Extract(const std::string& path, std::vector<std::string> entryPaths, std::string folder,
                          bool usePaths, bool overwrite, std::function<void(TZipOutcome)> done) {
    return Start(TZipOperation::Extracting, [=, this, entryPaths = std::move(entryPaths), folder = std::move(folder),
                                             done = std::move(done)]() mutable -> std::function<void()> {
        TZipObj scratch;
        scratch.path = path;
        auto outcome = std::make_shared<TZipOutcome>(m_archive.Extract(scratch, entryPaths, folder, usePaths, overwrite));
        if (outcome->view.yield != TZipYield::Error) {
            outcome->status = "Extracted to " + folder + ".";
        }
        PostStatus(outcome->status.empty() ? std::string("Ready") : outcome->status, true);
        return [outcome, done = std::move(done)] { done(std::move(*outcome)); };
    });
}

bool TZipManager::ExtractForBrowsing(const std::string& path, std::string entryPath, std::string folder, bool all,
                                     std::function<void(TZipOutcome)> done) {
    return Start(TZipOperation::Extracting, [=, this, entryPath = std::move(entryPath), folder = std::move(folder),
                                             done = std::move(done)]() mutable -> std::function<void()> {
        TZipObj scratch;
        scratch.path = path;
        auto outcome = std::make_shared<TZipOutcome>(all ? m_archive.ExtractAllForBrowsing(scratch, folder, false)
                                                         : m_archive.ExtractForBrowsing(scratch, entryPath, folder));
        PostStatus(outcome->status.empty() ? std::string("Ready") : outcome->status, true);
        return [outcome, done = std::move(done)] { done(std::move(*outcome)); };
    });
}

TZipRenameResult TZipManager::Rename(const std::string& path, const std::string& newName) {
    if (Busy()) {
        return {false, {}, "Wait until the running Zip operation has ended."};
    }
    if (std::string refusal = TaskZipRefusal(path); !refusal.empty()) {
        return {false, {}, refusal};
    }
    TZipObj scratch;
    scratch.path = path;
    return m_archive.Rename(scratch, newName);
}

} // namespace pellix
