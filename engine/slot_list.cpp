#include "engine/slot_list.h"

#include <algorithm>
#include <utility>

#include "engine/queue_item.h"

namespace pellix {

TSlotList::TSlotList(IOwnerThread& owner) : m_owner(owner) {}

TSlotList::~TSlotList()
{
    while (!m_slots.empty()) {
        m_slots.back()->Driver().Stop();
        m_slots.pop_back();
    }
}

void TSlotList::AddSlot()
{
    m_slots.push_back(std::make_unique<TPXSocket>(*this, m_owner, static_cast<int>(m_slots.size()) + 1));
    m_rowChanged.push_back(true);
    m_rowsAddedOrRemoved = true;
}

void TSlotList::SetConnections(int n)
{
    n = std::clamp(n, kMinConnections, kMaxConnections);
    m_connections = n;
    while (m_slots.size() < static_cast<std::size_t>(n))
        AddSlot();
    // During a run busy slots finish first: the coordinator frees the surplus as it idles.
    if (!m_downloading) {
        while (m_slots.size() > static_cast<std::size_t>(n))
            FreeSlot(*m_slots.back());
    }
    if (OnConnectionsChanged)
        OnConnectionsChanged(n);
}

void TSlotList::PickAhead(TPXSocket& slot, TPXQItem& item, bool page)
{
    m_pickedAhead.insert(item.URL());
    slot.AddAhead({&item, item.URL(), page});
}

bool TSlotList::TakeAhead(TPXSocket& slot, TPXSocket::TAhead& ahead)
{
    if (!slot.TakeAhead(ahead))
        return false;
    m_pickedAhead.erase(ahead.url);
    return true;
}

int TSlotList::BusyCount() const
{
    return static_cast<int>(std::count_if(m_slots.begin(), m_slots.end(),
                                          [](const auto& slot) { return !slot->Idle(); }));
}

TPXSocket* TSlotList::FirstIdleSlot() const
{
    for (const auto& slot : m_slots)
        if (slot->Idle())
            return slot.get();
    return nullptr;
}

int TSlotList::BusyCountFor(const std::string& serverKey) const
{
    return static_cast<int>(std::count_if(m_slots.begin(), m_slots.end(), [&](const auto& slot) {
        return !slot->Idle() && slot->ServerKey() == serverKey;
    }));
}

TPXSocket* TSlotList::IdleSlotFor(const std::string& serverKey) const
{
    TPXSocket* unconnected = nullptr;
    TPXSocket* first = nullptr;
    for (const auto& slot : m_slots) {
        if (!slot->Idle())
            continue;
        const std::string connected = slot->ConnectedTo();
        if (connected == serverKey)
            return slot.get();
        if (!first)
            first = slot.get();
        if (!unconnected && connected.empty())
            unconnected = slot.get();
    }
    return unconnected ? unconnected : first;
}

std::size_t TSlotList::IndexOf(const TPXSocket& slot) const
{
    for (std::size_t i = 0; i < m_slots.size(); ++i)
        if (m_slots[i].get() == &slot)
            return i;
    return m_slots.size();
}

void TSlotList::FreeSlot(TPXSocket& slot)
{
    const std::size_t index = IndexOf(slot);
    if (index == m_slots.size())
        return;
    for (TPXSocket::TAhead ahead; TakeAhead(slot, ahead);) {
    }
    std::unique_ptr<TPXSocket> owned = std::move(m_slots[index]);
    m_slots.erase(m_slots.begin() + static_cast<std::ptrdiff_t>(index));
    m_rowChanged.erase(m_rowChanged.begin() + static_cast<std::ptrdiff_t>(index));
    // Rows after it moved up.
    for (std::size_t i = index; i < m_rowChanged.size(); ++i)
        m_rowChanged[i] = true;
    m_rowsAddedOrRemoved = true;
    owned->Driver().Stop();
    owned.reset();
}

void TSlotList::ResetSlots()
{
    const int count = static_cast<int>(m_slots.size());
    while (!m_slots.empty())
        FreeSlot(*m_slots.back());
    SetConnections(count);
}

void TSlotList::ForgetItems()
{
    for (const auto& slot : m_slots) {
        for (TPXSocket::TAhead ahead; slot->TakeAhead(ahead);) {
        }
        slot->ForgetItem();
    }
    m_pickedAhead.clear();
}

void TSlotList::MarkRowChanged(std::size_t index)
{
    if (index >= m_rowChanged.size() || m_rowChanged[index])
        return; // already waiting for the view's next flush
    m_rowChanged[index] = true;
    if (OnRowChanged)
        OnRowChanged(index);
}

std::vector<std::pair<std::size_t, TSlotRow>> TSlotList::TakeChangedRows()
{
    std::vector<std::pair<std::size_t, TSlotRow>> rows;
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        if (!m_rowChanged[i])
            continue;
        rows.emplace_back(i, m_slots[i]->ShownRow());
        m_rowChanged[i] = false;
    }
    return rows;
}

bool TSlotList::TakeRowsAddedOrRemoved()
{
    return std::exchange(m_rowsAddedOrRemoved, false);
}

} // namespace pellix
