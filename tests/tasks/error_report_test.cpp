// Tests for the error report: which items it lists and the HTML it writes.
#include "tasks/error_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/download_list.h"
#include "engine/queue_item.h"
#include "engine/task.h"
#include "links/file_io.h"
#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

// A record line with the fields the report reads: state, status text and parent URL.
std::string Record(const std::string& state, const std::string& status, const std::string& parent)
{
    const std::string fields[11] = {state, status, "HTML", "", "1", parent, "", "1", "", "0", ""};
    std::string record;
    for (const std::string& field : fields)
        record += field + kRecordSeparator;
    return record;
}

const std::string kHeading =
    "<font face=\"Arial\" size=\"5\"><strong>Pellix Error Report</strong></font><br>\r\n"
    "<font face=\"Arial\" size=\"2\"><strong>Task: Docs -  Docs Home</strong></font><br>\r\n"
    "<table cellpadding=\"4\" cellspacing=\"4\">\r\n"
    "<tr>\r\n"
    "<td bgcolor=\"#004080\"><font face=\"Arial\" color=\"#FFFFFF\"><strong>URL</strong></font></td>\r\n"
    "<td bgcolor=\"#004080\"><font face=\"Arial\" color=\"#FFFFFF\"><strong>Error</strong></font></td>\r\n"
    "<td bgcolor=\"#004080\"><font face=\"Arial\" color=\"#FFFFFF\"><strong>Referrer</strong></font></td>\r\n"
    "</tr>\r\n";

TEST(ErrorReportTest, ReportText)
{
    const std::vector<std::string> lines = {
        "http://h/", Record("10", "OK", ""),
        "http://h/gone.html", Record("3", "Not Found", "http://h/"),
        "http://h/a.png", Record("5", "OK", "http://h/"),
        // Only state 3 exactly is an error: 13 or 30 are not.
        "http://h/x", Record("30", "odd", "http://h/"),
        "http://h/b.png", Record("3", "[TLS] certificate verify failed: unable to get local issuer certificate",
                                 "http://h/gone.html"),
    };
    const std::vector<TFailedItem> failed = FailedItems(lines);
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[1].url, "http://h/b.png");
    EXPECT_EQ(failed[1].referrer, "http://h/gone.html");

    const struct {
        const char* name;
        std::vector<TFailedItem> failed;
        std::string rows;
    } cases[] = {
        {"none failed", {}, ""},
        {"rows alternate their colour",
         failed,
         "<tr>\r\n"
         "<td bgcolor=\"#F5F5F5\"><font face=\"Arial\" size=\"2\"><a href=\"http://h/gone.html\">http://h/gone.html</a></font></td>\r\n"
         "<td bgcolor=\"#F5F5F5\"><font face=\"Arial\" size=\"2\">Not Found</font></td>\r\n"
         "<td bgcolor=\"#F5F5F5\"><font face=\"Arial\" size=\"2\"><a href=\"http://h/\">http://h/</a></font></td>\r\n"
         "</tr>\r\n"
         "<tr>\r\n"
         "<td bgcolor=\"#E9E9E9\"><font face=\"Arial\" size=\"2\"><a href=\"http://h/b.png\">http://h/b.png</a></font></td>\r\n"
         "<td bgcolor=\"#E9E9E9\"><font face=\"Arial\" size=\"2\">[TLS] certificate verify failed: unable to get local issuer certificate</font></td>\r\n"
         "<td bgcolor=\"#E9E9E9\"><font face=\"Arial\" size=\"2\"><a href=\"http://h/gone.html\">http://h/gone.html</a></font></td>\r\n"
         "</tr>\r\n"},
        // What a site sends cannot close the attribute or open a tag in a page opened locally.
        {"site texts are escaped",
         {{"http://h/a?x=\"><script>", "Bad <b>& worse", ""}},
         "<tr>\r\n"
         "<td bgcolor=\"#F5F5F5\"><font face=\"Arial\" size=\"2\"><a href=\"http://h/a?x=&quot;&gt;&lt;script&gt;\">"
         "http://h/a?x=&quot;&gt;&lt;script&gt;</a></font></td>\r\n"
         "<td bgcolor=\"#F5F5F5\"><font face=\"Arial\" size=\"2\">Bad &lt;b&gt;&amp; worse</font></td>\r\n"
         "<td bgcolor=\"#F5F5F5\"><font face=\"Arial\" size=\"2\"><a href=\"\"></a></font></td>\r\n"
         "</tr>\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ErrorReportText("Docs", "Docs Home", c.failed), kHeading + c.rows + "</table>");
    }
    EXPECT_NE(ErrorReportText("Docs", "<Home & \"Away\">", {}).find("Task: Docs -  &lt;Home &amp; &quot;Away&quot;&gt;"),
              std::string::npos);
}

// From a task's list in memory and from its file alike, written beside the task file.
TEST(ErrorReportTest, TaskListAndFile)
{
    test::TTempFolder folder;
    TPXTask task;
    task.SetTaskName("Site");
    task.SetTaskFile(folder.Text() + "Site.pxt");
    task.SetURL("http://h/");
    task.SetStartPageTitle("Home");
    TPXDownloadList& list = task.DownloadList();
    TPXQItem& start = list.AddItem(task.MakeItem("http://h/", kActionDownload));
    start.SetState(kStateParsed);
    start.WriteBack(true);
    auto missing = task.MakeItem("http://h/missing.png", kActionDownload);
    missing->SetParentURL("http://h/");
    TPXQItem& failedItem = list.AddItem(std::move(missing));
    failedItem.Reload();
    failedItem.SetStatusText("Not Found");
    failedItem.SetState(kStateError);
    failedItem.WriteBack(true);

    const std::vector<TFailedItem> failed = FailedItems(ListLines(list));
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].url, "http://h/missing.png");
    EXPECT_EQ(failed[0].reason, "Not Found");
    EXPECT_EQ(failed[0].referrer, "http://h/");

    ASSERT_TRUE(list.SaveList().ok);
    const auto fromFile = ReadListFile(list.FilePath());
    ASSERT_TRUE(fromFile.has_value());
    EXPECT_EQ(*fromFile, ListLines(list));
    EXPECT_FALSE(ReadListFile(folder.Path() / "none.dwn").has_value());

    EXPECT_EQ(ErrorReportPath(task), folder.Path() / "Site_errors.htm");
    ASSERT_TRUE(WriteErrorReport(task, failed));
    EXPECT_EQ(ReadWholeFile(ErrorReportPath(task)), ErrorReportText("Site", "Home", failed));

    // A task whose folder is a file: the reason comes back, nothing is thrown.
    ASSERT_TRUE(WriteFileAtomically(folder.Path() / "plain", "x"));
    task.SetTaskFile((folder.Path() / "plain" / "Site.pxt").string());
    std::string error;
    EXPECT_FALSE(WriteErrorReport(task, failed, &error));
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace pellix
