// TPXSocket: one connection slot: its HTTP driver, the item of its current or last transfer,
// the items picked for it ahead of their turn, and the row that the connections view shows for it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/http_driver.h"

namespace pellix {

class IOwnerThread;
class TPXApp;
class TPXQItem;
class TPXTask;
class TSlotList;

// The texts of a slot's row in the connections view.
struct TSlotRow {
    std::string caption;    // "HTTP Socket: " + number
    std::string retrieving; // the URL
    std::string progress;   // "  ?" or one 0x1E per full 10 per cent, "  ", per cent, "%"
    std::string bytes;
    std::string size;       // "?" while 0
    std::string status;

    bool operator==(const TSlotRow&) const = default;
};

// What a connection to url's server is known by: scheme and server text ("http://host:port"),
// in lower case; the form TagHTTP::ConnectedTo gives for a direct connection.
std::string ServerKeyOf(std::string_view url);

// Owner thread only, except Driver().State() and friends.
class TPXSocket final {
public:
    TPXSocket(TSlotList& list, IOwnerThread& owner, int number);
    ~TPXSocket();
    TPXSocket(const TPXSocket&) = delete;
    TPXSocket& operator=(const TPXSocket&) = delete;

    TbwHTTP& Driver() { return *m_driver; }
    const TbwHTTP& Driver() const { return *m_driver; }
    TSlotList& List() const { return m_list; }
    TPXQItem* QItem() const { return m_item; }
    bool Idle() const { return m_driver->State() == hsIdle; }
    // The server the slot's kept connection goes to (ServerKeyOf form), empty when none.
    std::string ConnectedTo() const { return m_driver->HTTP().ConnectedTo(); }
    // The server of the slot's current or last transfer.
    std::string ServerKey() const { return ServerKeyOf(m_driver->URL()); }

    // Reloads the item, sets up the driver (proxy from app, credentials from task), marks the
    // item "Downloading" ("Updating" for an update) and starts the driver. app may be null. The
    // GETs of the items picked ahead that were not sent yet go ahead with its request.
    void StartTransfer(TPXQItem& item, TPXTask& task, const TPXApp* app);

    // Items picked for this slot while it was busy, in the order they were picked: their GETs go
    // ahead on its kept connection, and each is started here in turn. They keep their state
    // (waiting) until then; TSlotList keeps them from being picked again.
    struct TAhead {
        TPXQItem* item = nullptr;
        std::string url; // the item's (its fields may be released meanwhile)
        bool page = false; // the pick was counted as a page's
    };
    const std::deque<TAhead>& Ahead() const { return m_ahead; }
    void AddAhead(TAhead ahead);
    // Takes the first item picked ahead; false when there is none.
    bool TakeAhead(TAhead& ahead);
    // Copies the driver's URL, bytes, per cent and status and the item's size for the row.
    void CopyFromDriver();
    // Forgets the item (its list is about to be cleared).
    void ForgetItem() { m_item = nullptr; }

    // The row as it should look now; RefreshRow stores it and says whether it changed.
    TSlotRow Row() const;
    bool RefreshRow();
    const TSlotRow& ShownRow() const { return m_shown; }

    const std::string& URLText() const { return m_urlText; }
    const std::string& StatusText() const { return m_statusText; }
    int Percent() const { return m_percent; }
    std::int64_t Bytes() const { return m_bytes; }
    std::int64_t Size() const { return m_size; }

    // The progress cell for a per cent.
    static std::string ProgressText(int percent);

private:
    static TPipelinedGet PipelinedGetOf(TPXQItem& item, TPXTask& task);

    TSlotList& m_list;
    TPXQItem* m_item = nullptr;
    std::unique_ptr<TbwHTTP> m_driver;
    int m_number;
    std::string m_urlText;
    std::string m_statusText = "Idle";
    int m_percent = 0;
    std::int64_t m_bytes = 0;
    std::int64_t m_size = 0;
    TSlotRow m_shown;
    std::deque<TAhead> m_ahead;
    std::size_t m_aheadSent = 0; // the first of m_ahead whose GETs went ahead
};

} // namespace pellix
