// Tests of the explore view's rules: cell texts, colours by state, marks by item state with the
// saved list and task file, the state-image toggle, and where browsing an item leads.
#include "tasks/explore_rules.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/download_list.h"
#include "engine/task.h"
#include "links/file_io.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "workspace/app_settings.h"

namespace pellix {
namespace {

std::string Record(int state, const std::string& status, const std::string& group, int action,
                   const std::string& title = {}, const std::string& size = "0")
{
    const std::string fields[11] = {std::to_string(state), status, group, "", "2", "http://h/parent.html",
                                    "Tue, 01 Dec 2026 10:00:00 GMT", std::to_string(action), title, size, ""};
    std::string line;
    for (const std::string& field : fields)
        line += field + kRecordSeparator;
    return line;
}

class ExploreRulesTest : public ::testing::Test {
protected:
    ExploreRulesTest()
    {
        m_app = test::MakeTestApp(m_folder.Path(), {{"HTML", ".htm;.html;"}, {"Images", ".gif;.jpg;"}});
        m_task = std::make_unique<TPXTask>(m_app.get());
        m_task->SetTaskName("Site");
        m_task->SetURL("http://h/index.html");
        m_task->SetTaskFile((m_folder.Path() / "General" / "Site.pxt").string());
    }

    // One item per state 0 to 11; pages at even states, images at odd ones; actions 1 except
    // state 0 (action 0). Counters as the states give them.
    void LoadEveryState()
    {
        std::string data;
        for (int state = 0; state <= 11; ++state) {
            const bool page = state % 2 == 0;
            data += "http://h/item" + std::to_string(state) + (page ? ".html" : ".gif") + "\r\n";
            data += Record(state, state == kStateError ? "404 Not Found" : "", page ? "HTML" : "Images",
                           state == 0 ? kActionSkip : kActionDownload) +
                    "\r\n";
        }
        std::filesystem::create_directories(List().FilePath().parent_path());
        ASSERT_TRUE(WriteFileAtomically(List().FilePath(), data));
        ASSERT_TRUE(List().LoadList().ok);
        m_task->RecountFromList();
    }

    TPXDownloadList& List() { return m_task->DownloadList(); }
    TPXQItem& Item(int state) { return *List().Item(static_cast<std::size_t>(state)); }
    std::string StoredRecord(int state) const { return m_task->DownloadList().Line(2 * static_cast<std::size_t>(state) + 1); }

    test::TTempFolder m_folder;
    std::unique_ptr<TPXApp> m_app;
    std::unique_ptr<TPXTask> m_task;
};

TEST(ExploreRowTest, CellTextsComeFromTheRecordLine)
{
    const TExploreRow row = ExploreRowOf("http://h/a.gif", Record(3, "404 Not Found", "Images", 1, "A title", "1234"));
    const struct {
        int column;
        const char* text;
    } cases[] = {
        {kExploreMark, ""},
        {kExploreStatus, "Error"},
        {kExploreTitle, "A title"},
        {kExploreURL, "http://h/a.gif"},
        {kExploreType, "Images"},
        {kExploreSize, "1234"},
        {kExploreLastModified, "Tue, 01 Dec 2026 10:00:00 GMT"},
        {kExploreResult, "404 Not Found"},
        {kExploreLevel, "2"},
        {kExploreReferrer, "http://h/parent.html"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ExploreColumns()[static_cast<std::size_t>(c.column)].caption);
        EXPECT_EQ(ExploreCellText(row, c.column), c.text);
    }
    // An empty action reads as "download"; an empty record gives state 0 and size 0.
    const TExploreRow empty = ExploreRowOf("http://h/", "");
    EXPECT_EQ(empty.action, kActionDownload);
    EXPECT_EQ(ExploreCellText(empty, kExploreStatus), "None");
    EXPECT_EQ(ExploreCellText(empty, kExploreSize), "0");
}

TEST(ExploreRowTest, ColumnsAndColoursByState)
{
    const char* captions[] = {"Mark", "Status", "Title", "URL", "Type", "Size", "Last Modified", "Download Result",
                              "Level", "Referrer"};
    const int widths[] = {40, 70, 150, 150, 0, 70, 80, 100, 0, 200};
    for (int c = 0; c < kExploreColumnCount; ++c) {
        EXPECT_STREQ(ExploreColumns()[static_cast<std::size_t>(c)].caption, captions[c]);
        EXPECT_EQ(ExploreColumns()[static_cast<std::size_t>(c)].width, widths[c]);
    }
    const TRgb grey{128, 128, 128}, green{0, 128, 0}, red{255, 0, 0}, maroon{128, 0, 0}, navy{0, 0, 128};
    const TRgb expected[12] = {grey, green, green, red, navy, navy, maroon, navy, navy, navy, navy, navy};
    for (int state = 0; state <= 11; ++state) {
        SCOPED_TRACE(state);
        EXPECT_EQ(ExploreTextColour(state), expected[state]);
    }
}

// Which items each mark changes, by state (0 to 11) and kind, and what they hold afterwards.
TEST_F(ExploreRulesTest, MarksByItemState)
{
    struct TCase {
        TExploreMark mark;
        const char* changed; // per state 0..11: 'x' changed
        int action;          // of the changed items
        bool saved;
    };
    const TCase cases[] = {
        {TExploreMark::DownloadSelected, "xxxxxxxxxxxx", kActionDownload, true},
        {TExploreMark::DownloadAll, "xxxxxxxxxxxx", kActionDownload, true},
        {TExploreMark::DownloadErrors, "...x........", kActionDownload, true},
        {TExploreMark::DownloadUnmarked, "x...........", kActionDownload, true},
        {TExploreMark::UpdateSelected, ".....xxxxxxx", kActionUpdate, false},
        {TExploreMark::UpdateAll, ".....xxxxxxx", kActionUpdate, true},
        {TExploreMark::MapSelected, "x.x.x.x.x.x.", kActionMap, false},
        {TExploreMark::MapAll, "x.x.x.x.x.x.", kActionMap, true},
        {TExploreMark::UnmarkSelected, "x...........", kActionSkip, true},
        {TExploreMark::UnmarkAll, "x...........", kActionSkip, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.changed);
        SCOPED_TRACE(static_cast<int>(c.mark));
        m_task->Clear();
        LoadEveryState();
        std::filesystem::remove(m_task->TaskFile());
        std::vector<TPXQItem*> all;
        int loaded[12];
        for (int state = 0; state <= 11; ++state) {
            all.push_back(&Item(state));
            loaded[state] = Item(state).State();
        }
        const TMarkResult result = ApplyMark(*m_task, c.mark, all, false);
        EXPECT_EQ(result.taskSaved, c.saved);
        EXPECT_EQ(std::filesystem::exists(m_task->TaskFile()), c.saved);
        EXPECT_TRUE(result.message.empty()) << result.message;
        for (int state = 0; state <= 11; ++state) {
            SCOPED_TRACE(state);
            const bool changed = c.changed[state] == 'x';
            const TExploreRow stored = ExploreRowOf("", StoredRecord(state));
            if (changed) {
                const int newState = c.mark == TExploreMark::UnmarkSelected || c.mark == TExploreMark::UnmarkAll
                                         ? state
                                         : kStateNone;
                EXPECT_EQ(Item(state).State(), newState);
                EXPECT_EQ(Item(state).Action(), c.action);
                EXPECT_EQ(stored.state, newState);
                EXPECT_EQ(stored.action, c.action);
            } else {
                EXPECT_EQ(Item(state).State(), loaded[state]);
                EXPECT_EQ(stored.state, loaded[state]);
            }
        }
        // The counters follow the new states, and the list file holds the marks.
        const TListCounts counts = List().CountStates();
        EXPECT_EQ(m_task->PagesSaved(), counts.pagesSaved);
        EXPECT_EQ(m_task->ResourcesSaved(), counts.resourcesSaved);
        EXPECT_EQ(m_task->ResourceErrors(), counts.resourceErrors);
        TPXTask reread(m_app.get());
        reread.SetTaskName("Site");
        reread.SetTaskFile(m_task->TaskFile());
        ASSERT_TRUE(reread.DownloadList().LoadList().ok);
        for (int state = 0; state <= 11; ++state)
            EXPECT_EQ(reread.DownloadList().Line(2 * static_cast<std::size_t>(state) + 1), StoredRecord(state));
    }
}

// A requeued error keeps its old download result until it is fetched again; the counters lose
// the error.
TEST_F(ExploreRulesTest, RequeuedErrorKeepsItsResultText)
{
    LoadEveryState();
    ASSERT_EQ(m_task->ResourceErrors(), 1);
    ApplyMark(*m_task, TExploreMark::DownloadErrors, {}, false);
    const TExploreRow stored = ExploreRowOf("", StoredRecord(kStateError));
    EXPECT_EQ(stored.state, kStateNone);
    EXPECT_EQ(stored.action, kActionDownload);
    EXPECT_EQ(stored.statusText, "404 Not Found");
    EXPECT_EQ(m_task->ResourceErrors(), 0);
    EXPECT_EQ(List().NextResourceWhere([](std::string_view url) { return url.find("item3") != url.npos; }, 100),
              &Item(kStateError));
}

// While the task runs, items in transfer, being mapped or parsed are left alone.
TEST_F(ExploreRulesTest, RunningCrawlKeepsItsBusyItems)
{
    LoadEveryState();
    // A load takes interrupted transfers back to waiting; the run hands them out again.
    Item(kStateDownloading).SetState(kStateDownloading);
    Item(kStateUpdating).SetState(kStateUpdating);
    const TMarkResult result = ApplyMark(*m_task, TExploreMark::DownloadAll, {}, true);
    EXPECT_EQ(result.changed, 8u);
    for (const int busy : {kStateDownloading, kStateUpdating, kStateMapping, kStateParsing})
        EXPECT_EQ(Item(busy).State(), busy);
}

TEST_F(ExploreRulesTest, StateImageTogglesOnlyUnfetchedItems)
{
    LoadEveryState();
    EXPECT_TRUE(ToggleMark(Item(kStateNone)));
    EXPECT_EQ(Item(kStateNone).Action(), kActionDownload);
    EXPECT_EQ(ExploreRowOf("", StoredRecord(kStateNone)).action, kActionDownload);
    EXPECT_TRUE(ToggleMark(Item(kStateNone)));
    EXPECT_EQ(Item(kStateNone).Action(), kActionSkip);
    // An error, a saved item and an item marked for mapping stay as they are.
    EXPECT_FALSE(ToggleMark(Item(kStateError)));
    EXPECT_EQ(Item(kStateError).Action(), kActionDownload);
    EXPECT_FALSE(ToggleMark(Item(kStateSaved)));
    ApplyMark(*m_task, TExploreMark::MapSelected, {&Item(kStateNone)}, false);
    EXPECT_FALSE(ToggleMark(Item(kStateNone)));
    EXPECT_EQ(Item(kStateNone).Action(), kActionMap);
}

TEST_F(ExploreRulesTest, MappingAllImagesChangesNothingButSaves)
{
    std::filesystem::create_directories(List().FilePath().parent_path());
    ASSERT_TRUE(WriteFileAtomically(List().FilePath(), "http://h/a.gif\r\n" + Record(5, "", "Images", 1) + "\r\n"));
    ASSERT_TRUE(List().LoadList().ok);
    const TMarkResult result = ApplyMark(*m_task, TExploreMark::MapAll, {}, false);
    EXPECT_EQ(result.changed, 0u);
    EXPECT_TRUE(result.taskSaved);
    EXPECT_TRUE(std::filesystem::exists(m_task->TaskFile()));
}

TEST_F(ExploreRulesTest, BrowseTargets)
{
    const std::string url = "http://h/sub/page.html";
    // Zip mode without the Zip file.
    m_task->SetDestination((m_folder.Path() / "dl" / "Site.zip").string());
    TExploreTarget target = ExploreBrowseTarget(*m_app, *m_task, url, false, false);
    EXPECT_EQ(target.kind, TExploreTarget::TKind::Failed);
    EXPECT_EQ(target.message, "Zip file does not exist");
    // With the Zip: the entry is the item's path below the working folder.
    std::filesystem::create_directories(m_folder.Path() / "dl");
    ASSERT_TRUE(WriteFileAtomically(m_task->Destination(), "PK"));
    target = ExploreBrowseTarget(*m_app, *m_task, url, false, false);
    EXPECT_EQ(target.kind, TExploreTarget::TKind::ZipEntry);
    EXPECT_EQ(target.zipPath, m_task->Destination());
    EXPECT_EQ(target.entry, "h/sub/page.html");
    // Online: the URL itself with "No Ads", the banner frameset otherwise.
    m_app->SetNoAds(true);
    target = ExploreBrowseTarget(*m_app, *m_task, url, true, false);
    EXPECT_EQ(target.kind, TExploreTarget::TKind::Address);
    EXPECT_EQ(target.path, url);
    m_app->SetNoAds(false);
    target = ExploreBrowseTarget(*m_app, *m_task, url, true, false);
    EXPECT_EQ(target.kind, TExploreTarget::TKind::Address);
    EXPECT_EQ(std::filesystem::path(target.path).filename(), "Pellix.htm");
    // Intranet mode: the file under the destination.
    m_task->SetIntranetMode(true);
    m_task->SetDestination((m_folder.Path() / "site").string() + "/");
    target = ExploreBrowseTarget(*m_app, *m_task, url, false, false);
    EXPECT_EQ(target.kind, TExploreTarget::TKind::LocalFile);
    EXPECT_EQ(target.path, (m_folder.Path() / "site").string() + "/h/sub/page.html");
}

} // namespace
} // namespace pellix
