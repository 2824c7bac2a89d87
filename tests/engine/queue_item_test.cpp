// Tests of TPXQItem: state texts and the counter rules of state changes.
#include "engine/queue_item.h"

#include <gtest/gtest.h>

#include "engine/task.h"

namespace pellix {
namespace {

TEST(TPXQItemTest, StateTexts)
{
    const std::pair<int, const char*> cases[] = {
        {0, "None"},   {1, "Downloading"}, {2, "Updating"}, {3, "Error"},   {4, "Downloaded"}, {5, "Saved"},
        {6, "Updated"}, {7, "Mapping"},    {8, "Parsing"},  {9, "Mapped"},  {10, "Parsed"},    {11, "Zipped"},
        {12, "Unknown"}, {-1, "Unknown"}};
    for (const auto& [state, text] : cases)
        EXPECT_EQ(TPXQItem::StateText(state), text) << state;
}

struct TCounterCase {
    const char* name;
    const char* group;
    TItemState from;
    TItemState to;
    const char* statusText;
    std::int64_t size;
    int pagesSaved, resourcesSaved, pageErrors, resourceErrors; // changes
    std::int64_t bytes;
};

TEST(TPXQItemTest, StateChangesKeepTheTaskCountersRight)
{
    const TCounterCase cases[] = {
        {"failed page retried", "HTML", kStateError, kStateNone, "404 Not Found", 0, -1, 0, -1, 0, 0},
        {"failed resource retried", "Images", kStateError, kStateNone, "", 10, 0, -1, 0, -1, 0},
        {"saved page again", "HTML", kStateSaved, kStateNone, "200 OK", 300, -1, 0, 0, 0, -300},
        {"parsed page again", "HTML", kStateParsed, kStateNone, "", 40, -1, 0, 0, 0, -40},
        {"interrupted resource", "Images", kStateSaved, kStateNone, "Incomplete (1200 bytes)", 5000, 0, -1, 0, 0, -1200},
        {"not quite incomplete text", "", kStateUpdated, kStateNone, "Incomplete (12x bytes)", 7, 0, -1, 0, 0, -7},
        {"downloading to none", "HTML", kStateDownloading, kStateNone, "", 9, 0, 0, 0, 0, 0},
        {"downloaded (text only) to none", "HTML", kStateDownloaded, kStateNone, "", 9, 0, 0, 0, 0, 0},
        {"saved to error", "HTML", kStateSaved, kStateError, "", 9, 0, 0, 0, 0, 0},
        {"none to saved", "HTML", kStateNone, kStateSaved, "", 9, 0, 0, 0, 0, 0},
    };
    for (const TCounterCase& c : cases) {
        SCOPED_TRACE(c.name);
        TPXTask task;
        task.SetPagesSaved(10);
        task.SetResourcesSaved(10);
        task.SetPageErrors(10);
        task.SetResourceErrors(10);
        task.SetTotalBytes(10000);
        TPXQItem& item = task.DownloadList().AddItem(std::make_unique<TPXQItem>("http://h/x", c.group, 1));
        item.SetState(c.from);
        item.SetStatusText(c.statusText);
        item.SetSize(c.size);
        int notified = 0;
        task.SetOnProgress([&](const std::string& text, std::int64_t, std::int64_t) {
            EXPECT_EQ(text, "");
            ++notified;
        });
        item.SetState(c.to);
        EXPECT_EQ(item.State(), c.to);
        EXPECT_EQ(task.PagesSaved(), 10 + c.pagesSaved);
        EXPECT_EQ(task.ResourcesSaved(), 10 + c.resourcesSaved);
        EXPECT_EQ(task.PageErrors(), 10 + c.pageErrors);
        EXPECT_EQ(task.ResourceErrors(), 10 + c.resourceErrors);
        EXPECT_EQ(task.TotalBytes(), 10000 + c.bytes);
        EXPECT_EQ(notified, 1);
    }
}

TEST(TPXQItemTest, ItemOutsideAListKeepsItsOwnFields)
{
    TPXQItem item("http://host/docs/a.html?x=1", "HTML", kActionMap);
    EXPECT_EQ(item.BaseURL(), "http://host/docs/");
    EXPECT_TRUE(item.IsPage());
    item.SetState(kStateSaved);
    item.Reload();
    item.WriteBack(false);
    EXPECT_EQ(item.State(), kStateSaved);
    EXPECT_EQ(item.URL(), "http://host/docs/a.html?x=1");
    item.WriteBack(true);
    EXPECT_EQ(item.URL(), "");
}

} // namespace
} // namespace pellix
