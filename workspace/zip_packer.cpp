// TZipPacker: the Zip file of the task that runs, with an archive object of its own and the
// packing thread that compresses and appends a tick's files while the crawl goes on.
#include "workspace/zip_packer.h"

#include "engine/owner_thread.h"
#include "workspace/session_observer.h"

namespace pellix {

TZipPacker::TZipPacker(IOwnerThread& owner, TSessionEvents& events)
    : m_owner(owner), m_alive(std::make_shared<bool>(true))
{
    m_archive.OnProgress = [&events](const std::string& text, std::int64_t position, std::int64_t maximum) {
        events.Progress(text, position, maximum);
    };
    m_thread = std::thread([this] { Run(); });
}

TZipPacker::~TZipPacker()
{
    {
        std::lock_guard lock(m_mutex);
        m_terminate = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    // Outcomes already posted find the packer gone and do nothing.
    m_owner.Call([this] { *m_alive = false; });
}

TZipOpenResult TZipPacker::Open(const std::string& path)
{
    Close();
    TZipOpenResult opened = m_archive.Open(path);
    m_zip = opened.zip;
    return opened;
}

void TZipPacker::Create(const std::string& path)
{
    Close();
    m_zip = &m_archive.CreateNode(path);
}

void TZipPacker::Close()
{
    if (m_zip)
        m_archive.Close(m_zip->path);
    m_zip = nullptr;
}

void TZipPacker::PackAsync(std::string workFolder, std::vector<TZipTaskFile> files, TPackDone done)
{
    {
        std::lock_guard lock(m_mutex);
        m_job = TJob{std::move(workFolder), std::move(files), std::move(done)};
        m_busy = true;
    }
    m_cv.notify_all();
}

TZipOutcome TZipPacker::PackNow(const std::string& workFolder, const std::vector<TZipTaskFile>& files)
{
    if (!m_zip)
        return {};
    return m_archive.AddTaskFiles(*m_zip, workFolder, files);
}

bool TZipPacker::Busy() const
{
    std::lock_guard lock(m_mutex);
    return m_busy;
}

void TZipPacker::Abort()
{
    m_archive.Engine().Abort();
}

void TZipPacker::WaitIdle()
{
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return !m_busy; });
}

void TZipPacker::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_terminate || m_job.has_value(); });
        if (m_terminate)
            return;
        TJob job = std::move(*m_job);
        m_job.reset();
        lock.unlock();
        // The owner thread leaves the archive alone until the outcome is posted.
        TZipOutcome outcome = m_zip ? m_archive.AddTaskFiles(*m_zip, job.workFolder, job.files) : TZipOutcome{};
        std::shared_ptr<bool> alive = m_alive;
        m_owner.Post([alive, done = std::move(job.done), outcome = std::move(outcome)]() mutable {
            if (*alive && done)
                done(std::move(outcome));
        });
        lock.lock();
        m_busy = false;
        m_cv.notify_all();
    }
}

TZipCompactOutcome TZipPacker::CompactIfWasteful()
{
    return m_zip ? m_archive.CompactIfWasteful(*m_zip) : TZipCompactOutcome{};
}

TZipRenameResult TZipPacker::Rename(const std::string& newName)
{
    if (!m_zip)
        return {};
    return m_archive.Rename(*m_zip, newName);
}

void TZipPacker::ReadEntries(const std::vector<std::string>& names, const TZipDataEvent& onData,
                             std::vector<TZipSkip>& skipped)
{
    if (!m_zip)
        return;
    TZipEngine& engine = m_archive.Engine();
    engine.SetZipFileName(m_zip->path);
    engine.ReadEntries(names, onData);
    skipped = engine.Skipped();
}

} // namespace pellix
