// TCrawlFixture: the crawl core wired as the program wires it, in one folder, for end-to-end tests.
#include "tests/support/crawl_fixture.h"

#include "engine/download_list.h"
#include "engine/download_thread.h"
#include "engine/loop_owner_thread.h"
#include "engine/slot_list.h"
#include "engine/task.h"
#include "links/parse_thread.h"
#include "links/url_rules.h"
#include "workspace/app_settings.h"

namespace pellix::test {

namespace {

std::string FolderText(const std::filesystem::path& path)
{
    return path.string() + "/";
}

} // namespace

TCrawlFixture::TCrawlFixture(std::filesystem::path folder, int connections)
    : m_folder(std::move(folder)), m_connections(connections)
{
    std::filesystem::create_directories(m_folder);
    TAppPaths paths;
    paths.programFolder = m_folder / "home";
    paths.settingsFile = m_folder / "registry.ini";
    paths.systemTemp = m_folder / "tmp";
    paths.intranetDefault = m_folder / "site";
    paths.homeFolder = m_folder / "user";
    m_app = std::make_unique<TPXApp>(paths);
    m_app->Store().WriteSetting(kFileTypesKey, "HTML", ".htm;.html;");
    m_app->Store().WriteSetting(kFileTypesKey, "Images", ".gif;.jpg;.png;");
    m_app->Store().WriteSetting(kFileTypesKey, "Scripts and Style Sheets", ".js;.css;");
    m_app->SetNoAds(false);

    m_task = std::make_shared<TPXTask>(m_app.get());
    m_task->SetTaskName("Site");
    m_task->SetTaskFile(TaskFile().string());
    m_owner = std::make_unique<TLoopOwnerThread>();
    m_parse = std::make_unique<TThreadParse>(*m_owner);
    m_coordinator = std::make_unique<TThreadDownload>(*m_owner, m_app.get());
    m_owner->Call([this] {
        m_slots = std::make_unique<TSlotList>(*m_owner);
        m_slots->SetConnections(m_connections);
    });
    Wire();
}

TCrawlFixture::~TCrawlFixture()
{
    if (m_running)
        Stop();
    m_parse.reset();
    m_coordinator.reset();
    m_owner->Call([this] { m_slots.reset(); });
    m_owner->Stop();
}

std::filesystem::path TCrawlFixture::TaskFile() const
{
    return m_folder / "home" / "Tasks" / "General" / "Site.pxt";
}

std::filesystem::path TCrawlFixture::FileOf(const std::string& url) const
{
    if (m_task->IntranetMode())
        return LocalFileName(FolderText(SiteFolder()), URLDirectory(url), url);
    return m_task->LocalFileOf(url);
}

void TCrawlFixture::Wire()
{
    // A saved page wakes the parse thread; new items wake the coordinator.
    m_owner->Call([this] {
        m_slots->OnPageSaved = [this](TPXQItem&) { m_parse->Wake(); };
    });
    m_parse->SetOnItemsQueued([this] { m_coordinator->Wake(); });
    // A write fault may be recorded on any worker: the reaction goes through the owner thread,
    // never waiting there (the worker may be the one a stop would wait for).
    m_task->SetOnWriteFault([this] { m_owner->Post([this] { m_coordinator->Wake(); }); });
}

void TCrawlFixture::NewTask(const std::string& url, bool intranet)
{
    m_task->SetURL(url);
    m_task->SetIntranetMode(intranet);
    m_task->SetDestination(FolderText(SiteFolder()));
    m_task->SetStatus(kStatusScheduled);
}

bool TCrawlFixture::LoadTask()
{
    if (!std::filesystem::exists(TaskFile()))
        return false;
    bool ok = false;
    m_owner->Call([&] { ok = m_task->Load(); });
    return ok;
}

bool TCrawlFixture::Run(int runMode)
{
    bool ok = false;
    m_owner->Call([&] {
        m_task->SetRunMode(runMode);
        m_task->ClearWriteFault();
        ok = m_task->PrepareRun(false).ok;
        if (!ok)
            return;
        if (runMode != kRunRestart && runMode != kRunMap) {
            // A process killed mid-run never reached the end of its run: what it was fetching
            // is fetched again, and a list it never saved means starting from the start URL.
            m_task->DownloadList().ResetInterrupted();
            if (m_task->DownloadList().Count() == 0)
                m_task->BeginRun();
        }
        m_coordinator->Start(*m_task, *m_slots, nullptr);
        m_parse->Start(m_task);
    });
    m_running = ok;
    return ok;
}

bool TCrawlFixture::WaitComplete(std::chrono::milliseconds timeout)
{
    const bool done = m_owner->WaitUntil([this] { return m_task->Status() == kStatusComplete; },
                                         TLoopOwnerThread::TClock::now() + timeout);
    if (done) {
        m_parse->Stop();
        m_coordinator->WaitSuspended(timeout);
        m_running = false;
    }
    return done;
}

bool TCrawlFixture::WaitForWriteFault(std::chrono::milliseconds timeout)
{
    return m_owner->WaitUntil([this] { return m_task->WriteFault().has_value(); },
                              TLoopOwnerThread::TClock::now() + timeout);
}

void TCrawlFixture::Stop()
{
    m_owner->Call([this] {
        m_coordinator->Stop();
        m_parse->Stop();
        m_slots->ResetSlots();
        m_task->DownloadList().ResetInterrupted();
    });
    m_coordinator->WaitSuspended(std::chrono::seconds(30));
    m_parse->WaitForIdle(TThreadParse::TClock::now() + std::chrono::seconds(30));
    m_owner->Call([this] {
        // A page the parse thread finished after the stop may have queued items.
        m_task->DownloadList().ResetInterrupted();
        m_task->DownloadList().SaveList();
        m_task->SetStatus(kStatusStopped);
        m_task->Save();
    });
    m_running = false;
}

int TCrawlFixture::CountInState(int state)
{
    int count = 0;
    m_owner->Call([&] {
        const TPXDownloadList& list = m_task->DownloadList();
        for (std::size_t i = 0; i < list.Count(); ++i) {
            const TPXQItem* item = list.Item(i);
            if (item != nullptr && item->State() == state)
                ++count;
        }
    });
    return count;
}

} // namespace pellix::test
