// TSlotList: the application's connection slots, sized live by the connections slider, with
// the row data that the connections view shows.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/connection_slot.h"

namespace pellix {

class IOwnerThread;
class TagHTTP;
class TPXQItem;

// Everything runs on the owner thread. The hooks are installed before a run starts.
class TSlotList final {
public:
    static constexpr int kMinConnections = 1;
    static constexpr int kMaxConnections = 16;

    explicit TSlotList(IOwnerThread& owner);
    // Stops every transfer.
    ~TSlotList();
    TSlotList(const TSlotList&) = delete;
    TSlotList& operator=(const TSlotList&) = delete;

    IOwnerThread& Owner() const { return m_owner; }

    std::size_t Count() const { return m_slots.size(); }
    TPXSocket& Slot(std::size_t index) const { return *m_slots[index]; }

    // The slider: the number of slots wanted, 1 to 16.
    int Connections() const { return m_connections; }
    // Clamps n to 1..16, grows the list to n at once and, while no task is downloading, shrinks
    // it to n; during a run the coordinator frees surplus slots as they fall idle. Then tells
    // OnConnectionsChanged (which stores the setting).
    void SetConnections(int n);
    // Politeness: at most this many busy slots per server; 0 (the default) means the number of
    // connections, so a task with many servers spreads its slots only when it is set lower.
    int PerHostLimit() const { return m_perHostLimit > 0 ? m_perHostLimit : m_connections; }
    void SetPerHostLimit(int n) { m_perHostLimit = std::max(0, n); }
    // Busy slots whose transfer goes to the server key (ServerKeyOf).
    int BusyCountFor(const std::string& serverKey) const;
    // The idle slot for an item of serverKey: one connected to that server, else one without a
    // connection, else the first idle one; nullptr when none is idle.
    TPXSocket* IdleSlotFor(const std::string& serverKey) const;
    // The main window's busy indicator: a run is going on.
    bool Downloading() const { return m_downloading; }
    void SetDownloading(bool downloading) { m_downloading = downloading; }

    // Requests a kept connection may have in flight: its transfer's own and the GETs of items
    // picked ahead for its slot while no other slot could take them. 1: one at a time.
    static constexpr int kDefaultPipelineDepth = 3;
    static constexpr int kMaxPipelineDepth = 4;
    int PipelineDepth() const { return m_pipelineDepth; }
    void SetPipelineDepth(int depth) { m_pipelineDepth = std::clamp(depth, 1, kMaxPipelineDepth); }
    // Items picked ahead for a slot (TPXSocket::Ahead) are not picked again until they go back.
    bool PickedAhead(std::string_view url) const { return m_pickedAhead.count(url) != 0; }
    bool AnyPickedAhead() const { return !m_pickedAhead.empty(); }
    // item has been reloaded; page: its pick was counted as a page's.
    void PickAhead(TPXSocket& slot, TPXQItem& item, bool page);
    // The first item picked ahead for the slot leaves the reserve (it is about to start there,
    // or goes back to waiting); false when the slot has none.
    bool TakeAhead(TPXSocket& slot, TPXSocket::TAhead& ahead);

    // Slots whose driver is not idle.
    int BusyCount() const;
    TPXSocket* FirstIdleSlot() const;
    // Removes the slot (with its row) from the list; its items picked ahead go back to waiting.
    void FreeSlot(TPXSocket& slot);
    // End of a run: every transfer is stopped and every slot released, from the last to the
    // first; then as many new idle slots are made as there were, and the slider set to that.
    void ResetSlots();
    // The items are about to go (the task's list is cleared): slots forget them.
    void ForgetItems();

    // Row data for the view, flushed on the view's timer: rows whose texts changed since the
    // last call, by index, and whether rows were added or removed in between.
    std::vector<std::pair<std::size_t, TSlotRow>> TakeChangedRows();
    bool TakeRowsAddedOrRemoved();
    void MarkRowChanged(std::size_t index);

    // Hooks for the wiring code.
    std::function<void(int)> OnConnectionsChanged;
    std::function<void(TPXQItem&)> OnPageSaved;  // owner thread
    std::function<void()> OnTransferEnded;       // worker thread
    std::function<void(TagHTTP&)> OnSetupClient; // owner thread, before each transfer
    // Owner thread: a row's texts changed and it was not marked yet (once per flush of the view).
    std::function<void(std::size_t)> OnRowChanged;

private:
    void AddSlot();
    std::size_t IndexOf(const TPXSocket& slot) const;

    IOwnerThread& m_owner;
    std::vector<std::unique_ptr<TPXSocket>> m_slots;
    std::vector<bool> m_rowChanged;
    bool m_rowsAddedOrRemoved = false;
    int m_connections = 0;
    int m_perHostLimit = 0;
    bool m_downloading = false;
    int m_pipelineDepth = kDefaultPipelineDepth;
    std::set<std::string, std::less<>> m_pickedAhead;
};

} // namespace pellix
