// TThreadHTTP: the worker of one transfer: one GET whose reply the HEAD rules judge (HEAD, then
// GET where the reply allows it, when the client keeps no connections), the body streamed into
// the item's file, and the outcome recorded in the item on the owner thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/http_driver.h"

namespace pellix {

// What the worker read from a reply's header lines (names compared exactly, with letter case).
struct TReplyInfo {
    std::string statusCode;   // second word of the status line, e.g. "200"
    std::string reason;       // the status line after its first word, e.g. "200 OK"
    std::string location;
    std::string date;
    std::string contentType;
    std::string contentLength;
    std::string server;
    std::string lastModified;

    static TReplyInfo FromHeaders(const std::vector<std::string>& lines);
};

// The thread a slot's transfers run on, one after another: kept between transfers, so that an
// item costs no thread of its own.
class TTransferWorker final {
public:
    TTransferWorker() = default;
    // Waits for the running function, then ends the thread.
    ~TTransferWorker();
    TTransferWorker(const TTransferWorker&) = delete;
    TTransferWorker& operator=(const TTransferWorker&) = delete;

    // Runs fn on the thread (started on first use); the last function must have ended (Wait).
    void Run(std::function<void()> fn);
    // Waits until the function handed by Run has returned and its captures are gone.
    void Wait();
    bool OnThread() const { return std::this_thread::get_id() == m_id.load(std::memory_order_acquire); }

private:
    void Loop();

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::function<void()> m_fn;
    bool m_busy = false;
    bool m_quit = false;
    std::atomic<std::thread::id> m_id{};
    std::thread m_thread;
};

// One transfer: created on the owner thread by TbwHTTP::Start, run once on the slot's worker,
// then freed.
class TThreadHTTP final {
public:
    // Redirect hops followed before the item fails.
    static constexpr int kMaxRedirects = 5;
    // The body is written here first and renamed over the item's file when it is complete, so a
    // killed process never leaves a torn file under the item's name; a broken-off body stays
    // here and a later try continues it.
    static constexpr const char* kPartSuffix = ".pxpart";

    TThreadHTTP(TbwHTTP& driver, TTransferWorker& worker, TTransferJob job);
    // The first byte a transfer asks for: an "Incomplete (n bytes)" item continues its part file
    // when the file holds the bytes before n; 0 (the whole body) otherwise.
    static std::int64_t ResumeRange(const std::string& statusText, const std::filesystem::path& partPath);
    // Waits for the transfer to end.
    ~TThreadHTTP();
    TThreadHTTP(const TThreadHTTP&) = delete;
    TThreadHTTP& operator=(const TThreadHTTP&) = delete;

    void Resume();
    bool Busy() const { return m_busy.load(std::memory_order_acquire); }
    // Any thread: the next request is not started and the running one is canceled.
    void RequestStop();
    // Owner thread: calls of the worker not yet run on the owner thread are dropped, and further
    // ones fail at once, so the owner thread may wait for the worker.
    void Abandon();
    // Waits until the worker is no longer busy or the timeout passes; true when it is not busy.
    bool WaitDone(std::chrono::milliseconds timeout);
    // Waits until the transfer's last step has run (not on the worker itself).
    void Join();

    const TTransferJob& Job() const { return m_job; }
    // The reply the rules judged (the last HEAD, or the GET when none was sent); read after the
    // worker ended.
    const TReplyInfo& Reply() const { return m_reply; }

private:
    struct TGate;

    void Execute();
    // Everything of the transfer that may raise; true when the outcome was recorded.
    bool Run();
    void FailurePath(const std::string& message);
    // The part file could not be written: the item waits for a resume (a full or read-only disk,
    // recorded on the task as its write fault) or fails with the reason (a bad name).
    void LocalFailure();
    // Records the task's write fault, then puts the item back in the queue (state None).
    void GiveBack(int error);
    static std::string IncompleteText(std::int64_t held);
    // Runs fn on the owner thread and waits; false when it was abandoned and did not run.
    bool OwnerCall(std::function<void()> fn);
    // Records a reply's fields in the item (owner thread).
    static void RecordReply(TPXQItem& item, const TReplyInfo& reply, bool size);
    // Records the pending reply, if any (owner thread, at the start of the item's next call).
    void RecordPending(TPXQItem& item);
    void CheckStop() const;

    TbwHTTP& m_driver;
    TTransferWorker& m_worker;
    TTransferJob m_job;
    TReplyInfo m_reply;
    // A reply's fields that wait to be recorded with the outcome, in the same owner-thread call
    // (its body came whole with the headers); the flag: with its size.
    std::optional<std::pair<TReplyInfo, bool>> m_pendingRecord;
    std::shared_ptr<TGate> m_gate;
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_stopRequested{false};
    std::mutex m_doneMutex;
    std::condition_variable m_doneCv;
    std::int64_t m_bodyHeld = 0;   // bytes of the body in the part file
    bool m_bodyToFile = false;     // the last GET's body went to the part file
    int m_localError = 0;          // errno of a failed write of the part file
    bool m_started = false;        // handed to the worker
    bool m_joined = false;
};

} // namespace pellix
