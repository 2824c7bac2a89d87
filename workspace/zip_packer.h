// TZipPacker: the Zip file of the task that runs, with an archive object of its own and the
// packing thread that compresses and appends a tick's files while the crawl goes on.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "workspace/zip_archive.h"

namespace pellix {

class IOwnerThread;
class TSessionEvents;

// The archive object is the packer's alone: a zip manager window opens its own TZipArchive on the
// same file, and never sees an entry list that the packing thread is changing.
//
// Threads: everything runs on the owner thread except the pack handed to PackAsync, which runs
// on the packing thread; its outcome is posted back to the owner thread. While a pack is in
// flight (Busy), the owner thread leaves the archive alone: only Abort, WaitIdle and Busy may be
// called. Opening the Zip reports its listing to the events' OnProgress, on the owner thread;
// the archive's status texts of a pack would fire on the packing thread and are not passed on.
class TZipPacker final {
public:
    using TPackDone = std::function<void(TZipOutcome outcome)>;

    TZipPacker(IOwnerThread& owner, TSessionEvents& events);
    // Ends the packing thread after the pack in flight; outcomes not yet delivered are dropped.
    // Not on the owner thread while a pack is in flight.
    ~TZipPacker();
    TZipPacker(const TZipPacker&) = delete;
    TZipPacker& operator=(const TZipPacker&) = delete;

    // Opens the task's Zip file (listing it), or makes ready a new one that the first pack
    // creates. Open's result says why an archive could not be listed.
    TZipOpenResult Open(const std::string& path);
    void Create(const std::string& path);
    void Close();
    // The open Zip (null when none); its path and entries are current while the packer is idle.
    const TZipObj* Zip() const { return m_zip; }
    bool HasEntry(const std::string& entryName) const { return m_zip && m_zip->HasEntry(entryName); }

    // Packs files (paths relative to workFolder become the entry names) on the packing thread;
    // done runs on the owner thread with the outcome.
    void PackAsync(std::string workFolder, std::vector<TZipTaskFile> files, TPackDone done);
    // The same pack on the calling thread, for ticks given by hand.
    TZipOutcome PackNow(const std::string& workFolder, const std::vector<TZipTaskFile>& files);
    bool Busy() const;
    // Ends the pack in flight as soon as it can (what went in stays in, and is reported).
    void Abort();
    void WaitIdle();

    // Owner thread, idle: the end of a task.
    TZipCompactOutcome CompactIfWasteful();
    TZipRenameResult Rename(const std::string& newName);
    // Reads the named entries whole; names that could not be read are listed in skipped.
    void ReadEntries(const std::vector<std::string>& names, const TZipDataEvent& onData,
                     std::vector<TZipSkip>& skipped);

private:
    struct TJob {
        std::string workFolder;
        std::vector<TZipTaskFile> files;
        TPackDone done;
    };
    void Run();

    IOwnerThread& m_owner;
    TZipArchive m_archive;
    TZipObj* m_zip = nullptr;
    std::shared_ptr<bool> m_alive; // posted outcomes check it (owner thread)

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::optional<TJob> m_job;
    bool m_busy = false;
    bool m_terminate = false;
    std::thread m_thread;
};

} // namespace pellix
