// TZipArchive: opening and listing, task-mode packing with titles, deleting with folder cleanup,
// extraction (refused names, browsing once), renaming, and the totals lines.
#include "workspace/zip_archive.h"

#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "links/file_io.h"
#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A task's temp folder with three downloaded files, packed into site.zip in one tick.
struct TPackedSite {
    test::TTempFolder temp;
    TZipArchive archive;
    TZipObj* zip = nullptr;
    TZipOutcome outcome;

    TPackedSite() {
        WriteText(temp.Path() / "tmp/www.x.com/index.htm", "<html>home</html>");
        WriteText(temp.Path() / "tmp/www.x.com/img/a.gif", "GIF");
        WriteText(temp.Path() / "tmp/www.x.com/img/b.gif", "GIF2");
        zip = &archive.CreateNode((temp.Path() / "Downloads/site.zip").string());
        const std::string tmp = (temp.Path() / "tmp").string();
        outcome = archive.AddTaskFiles(*zip, tmp + "/",
                                       {{tmp + "/www.x.com/index.htm", "Home: " + std::string(300, 't')},
                                        {tmp + "/www.x.com/img/a.gif", ""},
                                        {tmp + "/www.x.com/img/b.gif", ""}});
    }
};

TEST(TZipArchiveTest, TaskTickPacksRelativeToTempFolderWithTitles) {
    TPackedSite site;
    ASSERT_EQ(site.outcome.code, kZipOk) << site.archive.Engine().LastError();
    EXPECT_EQ(site.outcome.entries,
              (std::vector<std::string>{"www.x.com/index.htm", "www.x.com/img/a.gif", "www.x.com/img/b.gif"}));
    EXPECT_TRUE(site.zip->HasFolder("www.x.com/img/"));
    EXPECT_TRUE(site.zip->HasEntry("WWW.X.COM/INDEX.HTM"));  // lookups ignore case

    std::vector<TZipEntry> rows;
    ASSERT_EQ(site.archive.List(*site.zip, "www.x.com/*.htm", rows), kZipOk);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].comment, "Home: " + std::string(249, 't'));  // cut to 255

    // Opening the same path again selects it without listing; another archive lists afresh.
    TZipArchive other;
    TZipOpenResult opened = other.Open(site.zip->path);
    ASSERT_NE(opened.zip, nullptr);
    EXPECT_FALSE(opened.alreadyOpen);
    EXPECT_EQ(opened.rows.size(), 3u);
    EXPECT_TRUE(other.Open(site.zip->path).alreadyOpen);
    EXPECT_EQ(other.Open(site.temp.Text() + "nothere.zip").view.message, "Could not find the archive file.");
}

TEST(TZipArchiveTest, UnreadableFileDoesNotBlockTheTick) {
    test::TTempFolder temp;
    TZipArchive archive;
    TZipObj& zip = archive.CreateNode((temp.Path() / "a.zip").string());
    WriteText(temp.Path() / "tmp/ok1.htm", "1");
    WriteText(temp.Path() / "tmp/ok2.htm", "2");
    WriteText(temp.Path() / "outside.css", "3");
    const std::string tmp = (temp.Path() / "tmp").string();
    TZipOutcome outcome = archive.AddTaskFiles(zip, tmp, {{tmp + "/ok1.htm", "One"}, {tmp + "/gone.htm", "Gone"},
                                                          {tmp + "/ok2.htm", "Two"},
                                                          {(temp.Path() / "outside.css").string(), ""}});
    EXPECT_EQ(outcome.code, kZipSkipped);
    EXPECT_EQ(outcome.view.message, "Some files were skipped while adding.");
    ASSERT_EQ(outcome.skipped.size(), 1u);
    EXPECT_EQ(zip.entries.size(), 3u);
    // A file outside the temp folder keeps its full path, without the root.
    EXPECT_TRUE(zip.HasEntry(fs::path(temp.Path() / "outside.css").relative_path().generic_string()));
}

TEST(TZipArchiveTest, DeleteRemovesEmptyFoldersButNotTheRoot) {
    TPackedSite site;
    TZipOutcome outcome = site.archive.Delete(*site.zip, "www.x.com/img/a.gif");
    ASSERT_EQ(outcome.code, kZipOk);
    EXPECT_TRUE(outcome.folders.empty());  // b.gif still there

    outcome = site.archive.Delete(*site.zip, "www.x.com/img/b.gif");
    EXPECT_EQ(outcome.folders, std::vector<std::string>{"www.x.com/img/"});

    outcome = site.archive.Delete(*site.zip, "www.x.com/*.*");
    EXPECT_EQ(outcome.folders, std::vector<std::string>{"www.x.com/"});
    EXPECT_EQ(site.zip->folders, std::vector<std::string>{""});
    EXPECT_TRUE(site.zip->entries.empty());
    // The emptied Zip file stays and opens.
    TZipArchive reopened;
    EXPECT_EQ(reopened.Open(site.zip->path).code, kZipOk);
}

TEST(TZipArchiveTest, ExtractionAndBrowsing) {
    TPackedSite site;
    const fs::path out = site.temp.Path() / "out";
    TZipOutcome outcome = site.archive.ExtractForBrowsing(*site.zip, "www.x.com/img/a.gif", out.string());
    EXPECT_EQ(outcome.status, "Unzipped: www.x.com/img/a.gif.");
    EXPECT_EQ(ReadWholeFile(out / "www.x.com/img/a.gif").value_or(""), "GIF");
    EXPECT_FALSE(fs::exists(out / "www.x.com/index.htm"));

    // While a task's file is being added nothing is extracted; afterwards once per Zip.
    const fs::path browse = site.temp.Path() / "browse";
    EXPECT_TRUE(site.archive.ExtractAllForBrowsing(*site.zip, browse.string(), true).status.empty());
    EXPECT_FALSE(fs::exists(browse));
    outcome = site.archive.ExtractAllForBrowsing(*site.zip, browse.string(), false);
    EXPECT_EQ(outcome.status, "All files extracted successfully.");
    EXPECT_TRUE(site.zip->extracted);
    fs::remove(browse / "www.x.com/index.htm");
    site.archive.ExtractAllForBrowsing(*site.zip, browse.string(), false);
    EXPECT_FALSE(fs::exists(browse / "www.x.com/index.htm"));

    // Unzip without overwriting asks, through the callback, for each existing file.
    int asked = 0;
    site.archive.OnReplace = [&](const std::string&, std::string&, TZipReplaceAction& a) {
        ++asked;
        a = xraSkip;
    };
    WriteText(out / "www.x.com/index.htm", "mine");
    outcome = site.archive.Extract(*site.zip, {"*.*"}, out.string(), true, false);
    EXPECT_EQ(outcome.code, kZipOk);
    EXPECT_EQ(asked, 2);  // index.htm and a.gif exist
    EXPECT_EQ(ReadWholeFile(out / "www.x.com/index.htm").value_or(""), "mine");
}

TEST(TZipArchiveTest, RefusedNamesAreNamedInTheMessage) {
    test::TTempFolder temp;
    WriteText(temp.Path() / "a/good.txt", "good");
    const std::string zipPath = (temp.Path() / "z/evil.zip").string();
    fs::create_directories(temp.Path() / "z");
    // Built with the zip tool: "-r" from a folder whose entries are then renamed in place.
    ASSERT_EQ(std::system(("cd '" + (temp.Path() / "a").string() + "' && zip -q '" + zipPath +
                           "' good.txt && printf '@ good.txt\\n@=../../bad.txt\\n' | zipnote -w '" + zipPath +
                           "' && cd '" + (temp.Path() / "a").string() + "' && zip -q '" + zipPath + "' good.txt")
                              .c_str()),
              0);
    TZipArchive archive;
    TZipOpenResult opened = archive.Open(zipPath);
    ASSERT_NE(opened.zip, nullptr);
    TZipOutcome outcome = archive.Extract(*opened.zip, {"*.*"}, (temp.Path() / "out").string(), true, true);
    EXPECT_EQ(outcome.code, kZipSkipped);
    EXPECT_NE(outcome.view.message.find("Some files were skipped while extracting."), std::string::npos);
    EXPECT_NE(outcome.view.message.find("../../bad.txt"), std::string::npos);
    EXPECT_TRUE(fs::exists(temp.Path() / "out/good.txt"));
    EXPECT_FALSE(fs::exists(temp.Path() / "bad.txt"));
}

TEST(TZipArchiveTest, RenameMakesTheNameUnique) {
    TPackedSite site;
    const fs::path folder = site.temp.Path() / "Downloads";
    WriteText(folder / "My Site.zip", "taken");
    TZipRenameResult renamed = site.archive.Rename(*site.zip, "My Site.zip");
    ASSERT_TRUE(renamed.ok);
    EXPECT_EQ(renamed.newPath, (folder / "My Site(0).zip").string());
    EXPECT_EQ(site.zip->path, renamed.newPath);
    EXPECT_EQ(site.archive.Engine().ZipFileName(), renamed.newPath);
    EXPECT_FALSE(fs::exists(folder / "site.zip"));

    TZipRenameResult failed = site.archive.Rename(*site.zip, "a/b.zip");
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.message, "Unable to rename file to: " + (folder / "a/b.zip").string() +
                                  "\nA file may not contain any of the following characters: \n\\/:*?\"<>|");
    EXPECT_EQ(site.zip->path, renamed.newPath);
}

TEST(TZipArchiveTest, TotalsAndSelectionLines) {
    EXPECT_EQ(TZipArchive::TotalsText(3, 1000, 250, 3), "Total: 3 files  1000 / 250 bytes (75%)");
    EXPECT_EQ(TZipArchive::TotalsText(0, 0, 0, 7), "Total: 7 files  ");
    EXPECT_EQ(TZipArchive::TotalsText(1, 3, 2, 1), "Total: 1 files  3 / 2 bytes (33%)");
    EXPECT_EQ(TZipArchive::SelectionText(2, 10, 5), "Selected 2 files  10 / 5 bytes");
    EXPECT_EQ(TZipArchive::SelectionText(1, 0, 0), "Selected 1 files ");
}

} // namespace
} // namespace pellix
