#include "engine/http_driver.h"

#include <chrono>

#include "engine/download_list.h"
#include "engine/owner_thread.h"
#include "engine/queue_item.h"
#include "engine/task.h"
#include "engine/transfer_thread.h"
#include "links/url_rules.h"
#include "workspace/app_settings.h"

namespace pellix {


TbwHTTP::TbwHTTP(IOwnerThread& owner)
    : m_owner(owner), m_http(std::make_unique<TagHTTP>()), m_worker(std::make_unique<TTransferWorker>())
{
    InstallEvents();
}

TbwHTTP::~TbwHTTP()
{
    Stop();
}

void TbwHTTP::InstallEvents()
{
    m_http->OnOpen = [this](TagHTTP&) {
        SetStatus("Opening connection...");
        m_bytes.store(0, std::memory_order_relaxed);
    };
    m_http->OnHostFound = [this](TagHTTP&) { SetStatus("Host Found"); };
    m_http->OnConnected = [this](TagHTTP&) { SetStatus("Waiting for reply..."); };
    m_http->OnProgress = [this](TagHTTP&, int percent, std::int64_t) {
        if (State() == hsStopping || State() == hsError)
            return;
        SetState(hsDownloading);
        SetStatus("Downloading");
        m_percent.store(percent, std::memory_order_relaxed);
    };
    m_http->OnClosed = [this](TagHTTP&) {
        if (State() == hsError || State() == hsStopping)
            return;
        SetStatus("Connection closed");
        SetState(hsComplete);
    };
    m_http->OnError = [this](TagHTTP&, const std::string& message) {
        if (State() != hsStopping)
            SetState(hsError);
        SetStatus(message);
    };
}

std::string TbwHTTP::Status() const
{
    std::lock_guard lock(m_statusMutex);
    return m_status;
}

void TbwHTTP::SetStatus(std::string status)
{
    std::lock_guard lock(m_statusMutex);
    m_status = std::move(status);
}

void TbwHTTP::AddBodyBytes(std::int64_t count)
{
    m_bytes.fetch_add(count, std::memory_order_relaxed);
    if (m_task)
        m_task->AddTotalBytes(count);
}

void TbwHTTP::Start(TPXTask& task)
{
    // A worker left from the last transfer is gone once the coordinator collected it.
    if (m_thread) {
        m_thread->Join();
        m_thread.reset();
    }
    m_task = &task;
    // The coordinator must not take the last transfer's end for this one's.
    m_http->SetTag(0);
    m_http->SetTimeOut(kTransferTimeOut);
    SetState(hsConnecting);
    SetStatus("Connecting...");
    m_bytes.store(0, std::memory_order_relaxed);
    m_percent.store(0, std::memory_order_relaxed);

    TTransferJob job;
    job.item = m_item;
    job.task = &task;
    job.url = m_url;
    job.userName = m_userName;
    job.password = m_password;
    if (m_item) {
        job.action = m_item->Action();
        job.statusText = m_item->StatusText();
        job.lastModified = m_item->LastModified();
        job.localPath = task.LocalFileOf(m_url, m_item->TypeExtension());
        if (m_item->Depth() > 0) {
            const TPXDownloadList& list = task.DownloadList();
            TRedirectRule rule;
            rule.profile = task.Profile();
            // The start address is the list's first item, as for the links of every page.
            rule.startFolder = URLDirectory(list.Count() > 0 ? list.Line(0) : task.URL());
            rule.level = m_item->Depth() - 1;
            rule.typeGroup = m_item->TypeGroup();
            job.redirectRule = std::move(rule);
        }
    }
    try {
        m_http->SetProxy(m_proxy);
        m_http->SetProxyUserName(m_proxyUsername);
        m_http->SetProxyPassword(m_proxyPassword);
        m_http->SetURL(m_url);
    } catch (const std::exception& error) {
        job.startError = error.what();
    }
    m_http->SetUserAgent(task.UserAgent());
    if (const TPXApp* app = task.App())
        m_http->SetTrust({app->CAFile(), app->CheckCertificate()});
    if (OnSetupClient)
        OnSetupClient(*m_http);
    m_http->SetPipelineNext(std::move(m_pipelineNext));
    m_pipelineNext.clear();

    m_thread = std::make_unique<TThreadHTTP>(*this, *m_worker, std::move(job));
    m_thread->Resume();
}

void TbwHTTP::Stop()
{
    if (State() == hsIdle && !m_thread)
        return;
    if (m_thread) {
        SetState(hsStopping);
        m_thread->RequestStop();
        if (m_owner.IsOwnerThread())
            m_thread->Abandon();
        // A cancel that lands between two requests is cleared by the next one: cancel again
        // until the worker is done.
        while (!m_thread->WaitDone(std::chrono::milliseconds(50)))
            m_http->Cancel();
        m_thread->Join();
        m_thread.reset();
    }
    SetState(hsIdle);
}

bool TbwHTTP::TransferFinished() const
{
    const TbwHTTPState state = State();
    return m_http->Tag() == 1 && state != hsIdle && state != hsStopping;
}

void TbwHTTP::FreeWorker()
{
    if (m_thread) {
        m_thread->Join();
        m_thread.reset();
    }
}

} // namespace pellix
