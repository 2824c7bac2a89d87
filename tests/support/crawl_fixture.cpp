// TCrawlFixture: the core as TSession assembles it, with one task in one folder, for tests of
// crawls, the coordinator and transfers; TCrawlTest gives a gtest fixture a fresh one per SetUp.
#include "tests/support/crawl_fixture.h"

#include <utility>

#include "engine/download_list.h"
#include "engine/download_thread.h"
#include "engine/loop_owner_thread.h"
#include "engine/slot_list.h"
#include "engine/task.h"
#include "links/file_io.h"
#include "links/parse_thread.h"
#include "links/url_rules.h"
#include "tasks/status_model.h"
#include "tests/support/test_app.h"
#include "tests/support/test_http_server.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"

namespace pellix::test {

namespace {

std::string FolderText(const std::filesystem::path& path)
{
    return path.string() + "/";
}

} // namespace

TCrawlFixture::TCrawlFixture(std::filesystem::path folder, int connections)
    : m_folder(std::move(folder)), m_alive(std::make_shared<bool>(true))
{
    std::filesystem::create_directories(m_folder);
    m_app = MakeTestApp(m_folder, {{"HTML", ".htm;.html;"},
                                   {"Images", ".gif;.jpg;.png;"},
                                   {"Scripts and Style Sheets", ".js;.css;"}});
    m_app->SetNoAds(false);

    m_owner = std::make_unique<TLoopOwnerThread>();
    m_session = std::make_unique<TSession>(*m_app, *m_owner);
    auto task = std::make_shared<TPXTask>(m_app.get());
    task->SetTaskName("Site");
    task->SetTaskFile(TaskFile().string());
    task->SetIntranetMode(true);
    task->SetDestination(FolderText(SiteFolder()));
    m_owner->Call([&] {
        m_session->OverrideConnections(connections);
        Adopt(std::move(task));
    });
}

TCrawlFixture::~TCrawlFixture()
{
    if (m_running)
        Stop();
    m_owner->Call([this] {
        *m_alive = false;
        m_task->SetOnWriteFault(nullptr);
    });
    m_session.reset();
    m_owner->Call([this] { m_task.reset(); });
    m_owner->Stop();
}

TSlotList& TCrawlFixture::Slots() { return m_session->Slots(); }
TThreadDownload& TCrawlFixture::Coordinator() { return m_session->Coordinator(); }
TThreadParse& TCrawlFixture::Parser() { return m_session->Parser(); }
TStatusModel& TCrawlFixture::Status() { return m_session->Status(); }

void TCrawlFixture::Adopt(std::shared_ptr<TPXTask> task)
{
    // The status model lets go of the task it showed before that task goes.
    const std::shared_ptr<TPXTask> previous = std::exchange(m_task, std::move(task));
    m_session->Status().BindTask(m_task.get());
    if (previous)
        previous->SetOnWriteFault(nullptr);
    // A write fault may be recorded on any worker: the reaction goes through the owner thread,
    // never waiting there (the worker may be the one a stop would wait for).
    std::shared_ptr<bool> alive = m_alive;
    m_task->SetOnWriteFault([this, alive] {
        m_owner->Post([this, alive] {
            if (*alive)
                m_session->Coordinator().Wake();
        });
    });
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

std::string TCrawlFixture::FileText(const std::string& url) const
{
    return ReadWholeFile(FileOf(url)).value_or("<missing>");
}

bool TCrawlFixture::FileExists(const std::string& url) const
{
    return std::filesystem::exists(FileOf(url));
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
    bool ok = false;
    m_owner->Call([&] {
        TLoadTaskResult loaded = m_session->LoadTask(TaskFile().string());
        ok = loaded.task != nullptr;
        if (ok)
            Adopt(std::move(loaded.task));
    });
    return ok;
}

bool TCrawlFixture::Run(TRunMode runMode)
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
        Coordinator().Start(*m_task, Slots(), &Status());
        Parser().Start(m_task);
    });
    m_running = ok;
    return ok;
}

bool TCrawlFixture::WaitComplete(std::chrono::milliseconds timeout)
{
    const bool done = m_owner->WaitUntil([this] { return m_task->Status() == kStatusComplete; },
                                         TLoopOwnerThread::TClock::now() + timeout);
    if (done) {
        Parser().Stop();
        Coordinator().WaitSuspended(timeout);
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
        Coordinator().Stop();
        Parser().Stop();
        Slots().ResetSlots();
        m_task->DownloadList().ResetInterrupted();
    });
    EXPECT_TRUE(Coordinator().WaitSuspended(kDeadline));
    EXPECT_TRUE(Parser().WaitForIdle(TThreadParse::TClock::now() + kDeadline));
    m_owner->Call([this] {
        // A page the parse thread finished after the stop may have queued items.
        m_task->DownloadList().ResetInterrupted();
        m_task->DownloadList().SaveList();
        m_task->SetStatus(kStatusStopped);
        m_task->Save();
    });
    m_running = false;
}

TPXQItem* TCrawlFixture::Add(const std::string& url, const std::string& group, int action, int depth)
{
    TPXQItem* item = nullptr;
    m_owner->Call([&] {
        item = &m_task->DownloadList().AddItem(std::make_unique<TPXQItem>(url, group, action));
        if (depth != 0) {
            item->Reload();
            item->SetDepth(depth);
            item->WriteBack(true);
        }
    });
    return item;
}

void TCrawlFixture::ParsePagesOnSave()
{
    m_owner->Call([&] {
        Slots().OnPageSaved = [](TPXQItem& item) {
            item.SetState(kStateParsed);
            item.WriteBack(true);
        };
    });
}

void TCrawlFixture::SetConnections(int n)
{
    m_owner->Call([&] { Slots().SetConnections(n); });
}

void TCrawlFixture::StartRun()
{
    m_owner->Call([&] {
        m_task->SetStatus(kStatusDownloading);
        Coordinator().Start(*m_task, Slots(), &Status());
    });
}

bool TCrawlFixture::RunToEnd()
{
    StartRun();
    return Coordinator().WaitSuspended(kDeadline);
}

int TCrawlFixture::StateOf(TPXQItem* item)
{
    int state = -1;
    m_owner->Call([&] { state = item->State(); });
    return state;
}

std::string TCrawlFixture::StatusTextOf(TPXQItem* item)
{
    std::string text;
    m_owner->Call([&] {
        item->Reload();
        text = item->StatusText();
        item->ReleaseStrings();
    });
    return text;
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

std::vector<std::string> Requests(const TTestHttpServer& server, const std::string& method)
{
    std::vector<std::string> out;
    for (const TReceivedRequest& request : server.Requests())
        if (method.empty() || request.method == method)
            out.push_back(request.method + " " + request.target);
    return out;
}

void TCrawlTest::SetUp()
{
    m_crawl.emplace(m_folder.Path() / ("run" + std::to_string(++m_setups)), 2);
}

void TCrawlTest::TearDown()
{
    m_crawl.reset();
}

} // namespace pellix::test
