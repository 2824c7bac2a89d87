// The slot list: sizing by the slider, rows for the view, reset at the end of a run.
#include "engine/slot_list.h"

#include <gtest/gtest.h>

#include "engine/loop_owner_thread.h"

namespace pellix {
namespace {

class TSlotListTest : public ::testing::Test {
protected:
    TLoopOwnerThread m_owner;
    TSlotList m_slots{m_owner};
};

TEST_F(TSlotListTest, SizeFollowsTheSliderWithinOneToSixteen)
{
    std::vector<int> stored;
    m_slots.OnConnectionsChanged = [&](int n) { stored.push_back(n); };
    const std::pair<int, std::size_t> cases[] = {{10, 10}, {0, 1}, {40, 16}, {3, 3}};
    for (const auto& [wanted, count] : cases) {
        SCOPED_TRACE(wanted);
        m_slots.SetConnections(wanted);
        EXPECT_EQ(m_slots.Count(), count);
        EXPECT_EQ(m_slots.Connections(), static_cast<int>(count));
    }
    EXPECT_EQ(stored, (std::vector<int>{10, 1, 16, 3}));
    EXPECT_EQ(m_slots.BusyCount(), 0);
    EXPECT_EQ(m_slots.FirstIdleSlot(), &m_slots.Slot(0));
}

TEST_F(TSlotListTest, DuringARunSurplusSlotsStayUntilResetRecreatesThem)
{
    m_slots.SetConnections(10);
    m_slots.SetDownloading(true);
    m_slots.SetConnections(4);
    EXPECT_EQ(m_slots.Count(), 10u);
    // The coordinator frees idle surplus slots one at a time; say it managed four.
    for (int i = 0; i < 4; ++i)
        m_slots.FreeSlot(*m_slots.FirstIdleSlot());
    m_slots.SetDownloading(false);
    m_slots.ResetSlots();
    EXPECT_EQ(m_slots.Count(), 6u);
    EXPECT_EQ(m_slots.Connections(), 6);
    for (std::size_t i = 0; i < m_slots.Count(); ++i) {
        EXPECT_EQ(m_slots.Slot(i).ShownRow().caption, "HTTP Socket: " + std::to_string(i + 1));
        EXPECT_EQ(m_slots.Slot(i).ShownRow().status, "Idle");
        EXPECT_EQ(m_slots.Slot(i).QItem(), nullptr);
    }
}

TEST_F(TSlotListTest, RowChangesAreFlushedOnce)
{
    m_slots.SetConnections(3);
    EXPECT_TRUE(m_slots.TakeRowsAddedOrRemoved());
    EXPECT_EQ(m_slots.TakeChangedRows().size(), 3u);
    EXPECT_FALSE(m_slots.TakeRowsAddedOrRemoved());
    EXPECT_TRUE(m_slots.TakeChangedRows().empty());

    m_slots.FreeSlot(m_slots.Slot(0));
    EXPECT_TRUE(m_slots.TakeRowsAddedOrRemoved());
    const auto rows = m_slots.TakeChangedRows();
    ASSERT_EQ(rows.size(), 2u); // the rows below moved up
    EXPECT_EQ(rows[0].second.caption, "HTTP Socket: 2");
    EXPECT_FALSE(m_slots.Slot(0).RefreshRow()); // nothing new to show
}

TEST(TPXSocketTest, ProgressText)
{
    const std::pair<int, std::string> cases[] = {
        {-1, "  ?"}, {0, "  0%"}, {9, "  9%"}, {45, "\x1E\x1E\x1E\x1E  45%"},
        {100, std::string(10, '\x1E') + "  100%"},
    };
    for (const auto& [percent, text] : cases)
        EXPECT_EQ(TPXSocket::ProgressText(percent), text) << percent;
}

} // namespace
} // namespace pellix
