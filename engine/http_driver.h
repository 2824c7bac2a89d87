// TbwHTTP: the HTTP driver of a connection slot: its client, the worker of the transfer in
// progress, and the state, status, per cent and byte count that the coordinator watches.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/http_client.h"
#include "links/profile.h"

namespace pellix {

class IOwnerThread;
class TPXQItem;
class TPXTask;
class TThreadHTTP;
class TTransferWorker;

enum TbwHTTPState { hsIdle, hsConnecting, hsDownloading, hsComplete, hsError, hsStopping };

// Where an item may be redirected: the profile's link test, as the item's link passed it.
struct TRedirectRule {
    TPXProfile profile;
    std::string startFolder; // folder of the task's start address
    int level = 0;           // a redirect keeps the item's depth: it never fails the depth test
    std::string typeGroup;   // the item's: a redirected page is still saved and parsed as a page

    bool Accepts(const std::string& url) const { return profile.AcceptLink(url, startFolder, level, typeGroup); }
};

// What a transfer works from, copied on the owner thread when it starts, so that the worker
// never reads the item or the task from its own thread.
struct TTransferJob {
    TPXQItem* item = nullptr;
    TPXTask* task = nullptr;
    std::string url;
    int action = 1;
    std::string statusText;   // "Incomplete (n bytes)" resumes
    std::string lastModified; // sent as If-Modified-Since for an update
    std::string localPath;    // where the body is saved
    std::string userName;
    std::string password;
    std::string startError;   // the client refused the settings; the transfer fails at once
    // Redirect targets must pass it. Not set for the start address (no rule chose it).
    std::optional<TRedirectRule> redirectRule;
};

// Owner thread: URL, QItem, proxy and credential fields, Start, Stop, FreeWorker.
// Any thread: State, Status, Percent, Bytes, TransferFinished.
class TbwHTTP final {
public:
    // The client's time-out for a transfer, in seconds.
    static constexpr int kTransferTimeOut = 300;

    explicit TbwHTTP(IOwnerThread& owner);
    // Stops a running transfer first.
    ~TbwHTTP();
    TbwHTTP(const TbwHTTP&) = delete;
    TbwHTTP& operator=(const TbwHTTP&) = delete;

    TagHTTP& HTTP() { return *m_http; }
    TThreadHTTP* ThreadHTTP() const { return m_thread.get(); }
    IOwnerThread& Owner() const { return m_owner; }

    const std::string& URL() const { return m_url; }
    void SetURL(std::string url) { m_url = std::move(url); }
    TPXQItem* QItem() const { return m_item; }
    void SetQItem(TPXQItem* item) { m_item = item; }
    const std::string& Proxy() const { return m_proxy; }
    void SetProxy(std::string proxy) { m_proxy = std::move(proxy); }
    const std::string& ProxyUsername() const { return m_proxyUsername; }
    void SetProxyUsername(std::string name) { m_proxyUsername = std::move(name); }
    const std::string& ProxyPassword() const { return m_proxyPassword; }
    void SetProxyPassword(std::string password) { m_proxyPassword = std::move(password); }
    const std::string& UserName() const { return m_userName; }
    void SetUserName(std::string name) { m_userName = std::move(name); }
    const std::string& Password() const { return m_password; }
    void SetPassword(std::string password) { m_password = std::move(password); }

    // -1 when the length is not announced.
    int Percent() const { return m_percent.load(std::memory_order_relaxed); }
    // Body bytes received by the current request.
    std::int64_t Bytes() const { return m_bytes.load(std::memory_order_relaxed); }
    std::string Status() const;
    void SetStatus(std::string status);
    TbwHTTPState State() const { return m_state.load(std::memory_order_acquire); }
    void SetState(TbwHTTPState state) { m_state.store(state, std::memory_order_release); }

    // GETs that the next transfer's first request sends ahead (TagHTTP::SetPipelineNext).
    void SetPipelineNext(std::vector<TPipelinedGet> gets) { m_pipelineNext = std::move(gets); }
    // Runs the transfer of QItem for task on the slot's worker.
    void Start(TPXTask& task);
    // Cancels a running transfer and waits for its worker; the driver is idle afterwards.
    // On the owner thread the worker's pending calls to it are dropped, so this cannot deadlock.
    void Stop();
    // The worker has ended (the client's tag is 1) and the driver has not been made idle yet.
    bool TransferFinished() const;
    // Waits for the finished worker and forgets it.
    void FreeWorker();

    // Called by the worker's body sink for every piece of body received.
    void AddBodyBytes(std::int64_t count);

    // Hooks, installed before transfers run.
    std::function<void(TagHTTP&)> OnSetupClient; // owner thread, last step before the worker runs
    std::function<void(TPXQItem&)> OnPageSaved;  // owner thread, a page has just reached "Saved"
    std::function<void()> OnTransferEnded;       // worker thread, its very last step

private:
    void InstallEvents();

    IOwnerThread& m_owner;
    std::unique_ptr<TagHTTP> m_http;
    std::unique_ptr<TThreadHTTP> m_thread;
    TPXTask* m_task = nullptr;
    std::string m_url;
    TPXQItem* m_item = nullptr;
    std::string m_proxy;
    std::string m_proxyUsername;
    std::string m_proxyPassword;
    std::string m_userName;
    std::string m_password;
    std::vector<TPipelinedGet> m_pipelineNext;

    std::atomic<int> m_percent{0};
    std::atomic<std::int64_t> m_bytes{0};
    std::atomic<TbwHTTPState> m_state{hsIdle};
    mutable std::mutex m_statusMutex;
    std::string m_status;
    // Last: it ends its thread before anything a transfer uses is gone.
    std::unique_ptr<TTransferWorker> m_worker;
};

} // namespace pellix
