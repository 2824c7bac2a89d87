#include "engine/transfer_thread.h"

#include <filesystem>
#include <system_error>

#include "engine/body_sink.h"
#include "engine/file_body_sink.h"
#include "engine/owner_thread.h"
#include "engine/queue_item.h"
#include "engine/task.h"
#include "links/file_io.h"
#include "links/file_kind.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"

namespace pellix {

namespace {

constexpr std::string_view kIncomplete = "Incomplete";

bool IsSuccess(const std::string& code)
{
    return !code.empty() && code.front() == '2';
}

bool IsRedirect(const std::string& code)
{
    return code == "301" || code == "302" || code == "303" || code == "307" || code == "308";
}

// A Location that names a scheme other than http or https ("ftp:", "mailto:") cannot be
// fetched; without this check it would be taken as a relative link.
bool HasOtherScheme(std::string_view location)
{
    const std::size_t colon = location.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = location[i];
        const bool schemeChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!schemeChar)
            return false;
    }
    std::string scheme(location.substr(0, colon));
    for (char& c : scheme)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return scheme != "http" && scheme != "https";
}

// The body of a 2xx GET goes into the part file; any other reply's body (an error page, a
// redirect notice) is counted and dropped, so it never replaces the item's bytes.
class TTransferSink final : public IBodySink {
public:
    TTransferSink(TagHTTP& http, TbwHTTP& driver, std::filesystem::path partPath)
        : m_http(http), m_driver(driver), m_file(std::move(partPath))
    {
    }

    bool Start(std::int64_t keep, std::string& error) override
    {
        m_toFile = IsSuccess(TReplyInfo::FromHeaders(m_http.Headers()).statusCode);
        if (!m_toFile)
            return true;
        m_used = true;
        return m_file.Start(keep, error);
    }
    bool Write(std::string_view data, std::string& error) override
    {
        m_driver.AddBodyBytes(static_cast<std::int64_t>(data.size()));
        return m_toFile ? m_file.Write(data, error) : true;
    }
    bool Finish(std::string& error) override { return m_toFile ? m_file.Finish(error) : true; }
    std::int64_t Size() const override { return m_toFile ? m_file.Size() : 0; }

    // The last reply's body went to the part file.
    bool ToFile() const { return m_toFile; }
    // errno of a failed write of the part file; 0 when the local file never failed.
    int LocalError() const { return m_toFile ? m_file.ErrorNumber() : 0; }

private:
    TagHTTP& m_http;
    TbwHTTP& m_driver;
    TFileBodySink m_file;
    bool m_toFile = false;
    bool m_used = false;
};

// Puts the client's own body buffer back in place, and drops the transfer's reply rules,
// however the transfer ends.
class TSinkGuard final {
public:
    TSinkGuard(TagHTTP& http, IBodySink* sink) : m_http(http) { m_http.SetBodySink(sink); }
    ~TSinkGuard()
    {
        m_http.SetBodySink(nullptr);
        m_http.OnReplyHeaders = nullptr;
    }
    TSinkGuard(const TSinkGuard&) = delete;
    TSinkGuard& operator=(const TSinkGuard&) = delete;

private:
    TagHTTP& m_http;
};

} // namespace

struct TThreadHTTP::TGate {
    std::mutex mutex;
    std::condition_variable cv;
    bool abandoned = false;
};

TReplyInfo TReplyInfo::FromHeaders(const std::vector<std::string>& lines)
{
    TReplyInfo info;
    for (const std::string& line : lines) {
        const std::size_t blank = line.find(' ');
        if (std::string_view(line).starts_with("HTTP/")) {
            if (blank == std::string::npos)
                continue;
            info.reason = line.substr(blank + 1);
            info.statusCode = info.reason.substr(0, info.reason.find(' '));
            continue;
        }
        if (blank == std::string::npos)
            continue;
        const std::string name = line.substr(0, blank);
        const std::string rest = line.substr(blank + 1);
        if (name == "Location:")
            info.location = rest.substr(0, rest.find(' '));
        else if (name == "Date:")
            info.date = rest;
        else if (name == "Content-Type:")
            info.contentType = rest;
        else if (name == "Content-Length:")
            info.contentLength = rest;
        else if (name == "Last-Modified:")
            info.lastModified = rest;
        else if (name == "Server:")
            info.server = rest;
    }
    return info;
}

TTransferWorker::~TTransferWorker()
{
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [this] { return !m_busy; });
        m_quit = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void TTransferWorker::Run(std::function<void()> fn)
{
    {
        std::lock_guard lock(m_mutex);
        m_fn = std::move(fn);
        m_busy = true;
        if (!m_thread.joinable()) {
            m_thread = std::thread([this] { Loop(); });
            m_id.store(m_thread.get_id(), std::memory_order_release);
        }
    }
    m_cv.notify_all();
}

void TTransferWorker::Wait()
{
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return !m_busy; });
}

void TTransferWorker::Loop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_fn || m_quit; });
        if (!m_fn)
            return;
        std::function<void()> fn = std::move(m_fn);
        m_fn = nullptr;
        lock.unlock();
        fn();
        // Its captures go before a waiting Join frees what they point to.
        fn = nullptr;
        lock.lock();
        m_busy = false;
        m_cv.notify_all();
    }
}

TThreadHTTP::TThreadHTTP(TbwHTTP& driver, TTransferWorker& worker, TTransferJob job)
    : m_driver(driver), m_worker(worker), m_job(std::move(job)), m_gate(std::make_shared<TGate>())
{
    m_busy.store(true, std::memory_order_release);
}

TThreadHTTP::~TThreadHTTP()
{
    Join();
}

void TThreadHTTP::Resume()
{
    if (m_started)
        return;
    m_started = true;
    m_worker.Run([this] { Execute(); });
}

void TThreadHTTP::RequestStop()
{
    m_stopRequested.store(true, std::memory_order_release);
    m_driver.HTTP().Cancel();
}

void TThreadHTTP::Abandon()
{
    {
        std::lock_guard lock(m_gate->mutex);
        m_gate->abandoned = true;
    }
    m_gate->cv.notify_all();
}

bool TThreadHTTP::WaitDone(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_doneMutex);
    return m_doneCv.wait_for(lock, timeout, [this] { return !m_busy.load(std::memory_order_acquire); });
}

void TThreadHTTP::Join()
{
    if (m_started && !m_joined && !m_worker.OnThread()) {
        m_worker.Wait();
        m_joined = true;
    }
}

void TThreadHTTP::CheckStop() const
{
    if (m_stopRequested.load(std::memory_order_acquire))
        throw ECanceledError();
}

bool TThreadHTTP::OwnerCall(std::function<void()> fn)
{
    // Every call here is about the job's item: a reply's fields waiting to be recorded go first.
    fn = [this, call = std::move(fn)] {
        if (m_job.item)
            RecordPending(*m_job.item);
        call();
    };
    IOwnerThread& owner = m_driver.Owner();
    if (owner.IsOwnerThread()) {
        fn();
        return true;
    }
    struct TPending {
        bool started = false;
        bool finished = false;
        std::exception_ptr error;
    };
    auto pending = std::make_shared<TPending>();
    std::shared_ptr<TGate> gate = m_gate;
    {
        std::lock_guard lock(gate->mutex);
        if (gate->abandoned)
            return false;
    }
    const bool posted = owner.Post([gate, pending, fn = std::move(fn)] {
        {
            std::lock_guard lock(gate->mutex);
            if (gate->abandoned)
                return;
            pending->started = true;
        }
        try {
            fn();
        } catch (...) {
            pending->error = std::current_exception();
        }
        {
            std::lock_guard lock(gate->mutex);
            pending->finished = true;
        }
        gate->cv.notify_all();
    });
    if (!posted)
        return false;
    {
        std::unique_lock lock(gate->mutex);
        gate->cv.wait(lock, [&] { return pending->finished || (gate->abandoned && !pending->started); });
        if (!pending->finished)
            return false;
    }
    if (pending->error)
        std::rethrow_exception(pending->error);
    return true;
}

void TThreadHTTP::Execute()
{
    TagHTTP& http = m_driver.HTTP();
    http.SetTag(0);
    bool recorded = false;
    std::string error;
    try {
        recorded = Run();
    } catch (const std::exception& exception) {
        error = exception.what();
    } catch (...) {
        error = "Transfer failed";
    }
    if (!recorded) {
        if (m_driver.State() != hsStopping) {
            if (m_driver.State() != hsError)
                m_driver.SetStatus(error);
            m_driver.SetState(hsError);
        }
        try {
            if (m_localError != 0)
                LocalFailure();
            else
                FailurePath(error);
        } catch (...) {
            // The item keeps its state; the coordinator records the failure.
        }
    } else if (m_driver.State() != hsStopping && m_driver.State() != hsError) {
        // However the last connection ended, the outcome is recorded: the slot is free again.
        m_driver.SetState(hsComplete);
    }
    http.SetTag(1);
    {
        std::lock_guard lock(m_doneMutex);
        m_busy.store(false, std::memory_order_release);
    }
    m_doneCv.notify_all();
    if (m_driver.OnTransferEnded)
        m_driver.OnTransferEnded();
}

bool TThreadHTTP::Run()
{
    if (!m_job.startError.empty())
        throw std::runtime_error(m_job.startError);
    if (!m_job.item)
        throw std::runtime_error("No item to fetch");
    TagHTTP& http = m_driver.HTTP();
    http.Body().Clear();
    http.SetIfModifiedSince({});
    http.SetRange(0);
    if (m_job.action == kActionUpdate)
        http.SetIfModifiedSince(m_job.lastModified);

    const std::filesystem::path savePath(m_job.localPath);
    const std::filesystem::path partPath(m_job.localPath + kPartSuffix);
    http.SetRange(ResumeRange(m_job.statusText, partPath));

    TTransferSink sink(http, m_driver, partPath);
    TSinkGuard guard(http, &sink);
    TPXQItem& item = *m_job.item;
    const bool credentials = !m_job.userName.empty() && !m_job.password.empty();
    const auto head = [&] { return credentials ? http.Head(m_job.userName, m_job.password) : http.Head(); };
    const auto get = [&] { return credentials ? http.Get(m_job.userName, m_job.password) : http.Get(); };
    // Records the reply's fields in the item (owner thread).
    const auto record = [&](const TReplyInfo& reply, bool size) {
        if (!OwnerCall([&] {
                RecordReply(item, reply, size);
            }))
            throw ECanceledError();
    };

    const auto markUpdated = [&](const TReplyInfo& reply) {
        if (!OwnerCall([&] {
                item.Reload();
                item.SetStatusText(reply.reason);
                item.SetState(kStateUpdated);
                item.WriteBack(true);
            }))
            throw ECanceledError();
    };

    std::string url = m_job.url;
    int hops = 0;
    bool headRefused = false;
    bool noGet = false;
    std::string failure; // why the item fails without a body
    TReplyInfo final;
    // Follows a redirect reply; false (with failure set) when it cannot be followed.
    const auto follow = [&](const TReplyInfo& reply) {
        std::string location = reply.location.empty() ? http.Header("Location") : reply.location;
        location = location.substr(0, location.find(' '));
        if (++hops > kMaxRedirects) {
            failure = reply.reason + " (too many redirects)";
            return false;
        }
        std::string next;
        if (!location.empty() && !HasOtherScheme(location))
            next = ResolveAndValidateURL(location, URLDirectory(url));
        if (next.empty()) {
            failure = reply.reason + " (redirect to an address that cannot be fetched: " + location + ")";
            return false;
        }
        // A redirect must not take the crawl where the profile would not follow a link.
        if (m_job.redirectRule && !m_job.redirectRule->Accepts(next)) {
            failure = reply.reason + " (redirect refused by the profile: " + next + ")";
            return false;
        }
        url = next;
        return true;
    };

    // On a persistent client one GET per item: the rules that HEAD's reply decided are applied
    // to the GET's header lines, and a body they do not want is left unread.
    const bool oneRoundTrip = http.Persistent();
    try {
        for (;;) {
            CheckStop();
            http.SetURL(url);
            if (!headRefused && !oneRoundTrip) {
                head();
                m_reply = TReplyInfo::FromHeaders(http.Headers());
                const std::string& code = m_reply.statusCode;
                if (IsRedirect(code)) {
                    if (!follow(m_reply))
                        break;
                    continue;
                }
                if (code == "405" || code == "501") {
                    // The server does not do HEAD: GET alone tells everything.
                    headRefused = true;
                } else if (code == "304") {
                    markUpdated(m_reply);
                    return true;
                } else if (code == "404") {
                    record(m_reply, false);
                    final = m_reply;
                    noGet = true;
                    break;
                } else if (code == "206") {
                    record(m_reply, false);
                } else {
                    http.SetRange(0);
                    record(m_reply, true);
                }
            }
            CheckStop();
            bool recorded = false;
            bool retryWhole = false;
            if (oneRoundTrip) {
                http.OnReplyHeaders = [&](TagHTTP&) {
                    const TReplyInfo reply = TReplyInfo::FromHeaders(http.Headers());
                    const std::string& code = reply.statusCode;
                    if (IsRedirect(code))
                        return false;
                    // The part file is longer than the server's file now: fetch it whole.
                    if (code == "416" && http.Range() > 0) {
                        retryWhole = true;
                        return false;
                    }
                    recorded = true;
                    if (code == "404") {
                        record(reply, false);
                        return false;
                    }
                    // A body that came whole with the headers is saved at once: its fields are
                    // recorded in the same visit to the owner thread as the outcome.
                    if (http.BodyBuffered())
                        m_pendingRecord.emplace(reply, code != "206");
                    else
                        record(reply, code != "206");
                    return true;
                };
            }
            get();
            http.OnReplyHeaders = nullptr;
            TReplyInfo reply = TReplyInfo::FromHeaders(http.Headers());
            if (retryWhole) {
                http.SetRange(0);
                continue;
            }
            if (oneRoundTrip && reply.statusCode == "304") {
                m_reply = reply;
                markUpdated(reply);
                return true;
            }
            if (IsRedirect(reply.statusCode)) {
                m_reply = reply;
                if (!follow(reply))
                    break;
                continue;
            }
            if (oneRoundTrip) {
                m_reply = reply;
                // Replies without a body (204) never reached the rules.
                if (!recorded)
                    record(reply, reply.statusCode != "206" && reply.statusCode != "404");
                if (reply.statusCode == "404") {
                    final = std::move(reply);
                    noGet = true;
                    break;
                }
            } else if (headRefused) {
                m_reply = reply;
                record(reply, reply.statusCode != "206");
            }
            final = std::move(reply);
            break;
        }
    } catch (...) {
        // What the body left in the part file decides whether the item is "Incomplete".
        m_bodyToFile = sink.ToFile();
        m_bodyHeld = sink.Size();
        m_localError = sink.LocalError();
        throw;
    }
    try {
        http.SetURL(m_job.url);
    } catch (...) {
    }
    m_bodyToFile = !noGet && failure.empty() && sink.ToFile();
    m_bodyHeld = sink.Size();

    // Save the result on the owner thread: the GET's own status decides.
    const bool saved = IsSuccess(final.statusCode) && m_bodyToFile;
    std::string saveError;
    int renameError = 0;
    if (!OwnerCall([&] {
            item.Reload();
            if (item.Size() == 0)
                item.SetSize(m_bodyHeld);
            if (!failure.empty()) {
                item.SetStatusText(failure);
                item.SetState(kStateError);
            } else if (saved) {
                // The reply's type may name the file better than its link did ("/img?id=7" is
                // a PNG): it is saved under that name, and links written before are put right
                // at completion.
                std::filesystem::path localPath = savePath;
                const std::string typeExtension =
                    ReplyTypeExtension(m_job.url, item.TypeExtension(), final.contentType);
                if (typeExtension != item.TypeExtension() && m_job.task) {
                    if (const std::string renamed = m_job.task->LocalFileOf(m_job.url, typeExtension); !renamed.empty())
                        localPath = renamed;
                }
                std::error_code ec;
                std::filesystem::rename(partPath, localPath, ec);
                if (ec) {
                    renameError = ec.value();
                    saveError = "Failed to create file: " + localPath.string() + " (" + WriteErrorReason(renameError) + ")";
                    if (IsRunStoppingWriteError(renameError)) {
                        // The whole body waits in the part file: a resume asks for its last byte.
                        // The item goes back to the queue once the fault is recorded.
                        item.SetStatusText(IncompleteText(m_bodyHeld));
                    } else {
                        item.SetStatusText("Error: " + saveError);
                        item.SetState(kStateError);
                    }
                } else {
                    // Recorded only once the file has its name: a resume finds the part file
                    // under the name it was started with.
                    if (typeExtension != item.TypeExtension()) {
                        item.SetTypeExtension(typeExtension);
                        if (localPath != savePath)
                            m_job.task->AddRenamedByType(1);
                    }
                    item.SetLocalPath(localPath.string());
                    if (!final.reason.empty())
                        item.SetStatusText(final.reason);
                    // Links of a redirected page are resolved against where it really came from.
                    if (hops > 0)
                        item.SetBaseURL(URLDirectory(url));
                    item.SetState(kStateSaved);
                }
            } else {
                if (!final.reason.empty())
                    item.SetStatusText(final.reason);
                item.SetState(kStateError);
            }
            item.WriteBack(true);
            if (item.State() == kStateSaved && item.IsLinkSource() && m_driver.OnPageSaved)
                m_driver.OnPageSaved(item);
        }))
        throw ECanceledError();
    if (!saveError.empty()) {
        m_driver.SetStatus(saveError);
        m_driver.SetState(hsError);
        if (IsRunStoppingWriteError(renameError))
            GiveBack(renameError);
    }
    return true;
}

void TThreadHTTP::RecordReply(TPXQItem& item, const TReplyInfo& reply, bool size)
{
    item.Reload();
    item.SetStatusText(reply.reason);
    item.SetLastModified(reply.lastModified);
    if (size)
        item.SetSize(std::max<std::int64_t>(0, NumberOf(reply.contentLength)));
    item.WriteBack(false);
}

void TThreadHTTP::RecordPending(TPXQItem& item)
{
    if (!m_pendingRecord)
        return;
    RecordReply(item, m_pendingRecord->first, m_pendingRecord->second);
    m_pendingRecord.reset();
}

std::int64_t TThreadHTTP::ResumeRange(const std::string& statusText, const std::filesystem::path& partPath)
{
    if (!std::string_view(statusText).starts_with(kIncomplete))
        return 0;
    std::int64_t n = NumberOf(TextAfter(statusText, "Incomplete (", " bytes)"));
    if (n < 1)
        n = 1;
    // Without the bytes to continue, the whole body is fetched again.
    std::error_code ec;
    const std::uintmax_t held = std::filesystem::file_size(partPath, ec);
    if (n > 1 && !ec && held >= static_cast<std::uintmax_t>(n - 1))
        return n - 1;
    return 0;
}

std::string TThreadHTTP::IncompleteText(std::int64_t held)
{
    return "Incomplete (" + std::to_string(held) + " bytes)";
}

void TThreadHTTP::GiveBack(int error)
{
    // The fault first: once the item is waiting again, the coordinator must not hand it out.
    if (m_job.task)
        m_job.task->RecordWriteFault(m_job.localPath, WriteErrorReason(error));
    if (!m_job.item)
        return;
    TPXQItem& item = *m_job.item;
    // A stop that came meanwhile drops this call; its reset of interrupted items does the same.
    OwnerCall([&] {
        item.Reload();
        if (item.State() == kStateDownloading || item.State() == kStateUpdating)
            item.SetState(kStateNone);
        item.WriteBack(true);
    });
}

void TThreadHTTP::LocalFailure()
{
    if (!m_job.item)
        return;
    TPXQItem& item = *m_job.item;
    const bool runStopping = IsRunStoppingWriteError(m_localError);
    const std::int64_t held = m_bodyToFile ? m_bodyHeld : 0;
    OwnerCall([&] {
        item.Reload();
        if (runStopping) {
            // Every later write would fail the same way: the item waits for a resume, with the
            // bytes it holds, instead of failing.
            if (held >= 1) {
                if (item.Size() == 0)
                    item.SetSize(held);
                item.SetStatusText(IncompleteText(held));
            } else {
                item.SetStatusText(m_job.statusText);
            }
        } else {
            item.SetStatusText("Error: Failed to create file: " + m_job.localPath + " (" +
                               WriteErrorReason(m_localError) + ")");
            item.SetState(kStateError);
        }
        item.WriteBack(true);
    });
    if (runStopping)
        GiveBack(m_localError);
}

void TThreadHTTP::FailurePath(const std::string& message)
{
    if (!m_job.item)
        return;
    TPXQItem& item = *m_job.item;
    const std::int64_t held = m_bodyHeld;
    const bool partial = m_bodyToFile && held >= 1;
    OwnerCall([&] {
        item.Reload();
        if (partial) {
            // The bytes stay in the part file; the next try asks only for the rest.
            if (item.Size() == 0)
                item.SetSize(held);
            item.SetStatusText(IncompleteText(held));
            // An update keeps "Updating": in "Downloading" it would be picked again before the
            // coordinator records the failure.
            item.SetState(m_job.action == kActionUpdate ? kStateUpdating : kStateDownloading);
        } else if (!std::string_view(item.StatusText()).starts_with(kIncomplete) && !message.empty()) {
            item.SetStatusText(message);
        }
        item.WriteBack(true);
    });
}

} // namespace pellix
