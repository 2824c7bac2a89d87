// Carrying out wizard and unzip choices: creating, replacing and adding to Zips with each action
// and path option, cancelling, files that are not Zips, hostile entry names and the overwrite
// rules of an extraction.
#include "workspace/zip_choice_jobs.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <ctime>

#include "tests/support/temp_folder.h"
#include "tests/support/zip_entries.h"
#include "tests/support/zip_fixture.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;
using test::WriteText;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TFiles {
    TFiles() {
        WriteText(temp.Path() / "src/a.txt", std::string(4000, 'a'));
        WriteText(temp.Path() / "src/b.txt", "bee");
        WriteText(temp.Path() / "src/sub/c.txt", "sea");
    }
    std::string Src(const std::string& name) const { return (temp.Path() / "src" / name).string(); }
    std::string Zip(const std::string& name) const { return (temp.Path() / name).string(); }
    // The entry name of a source file when paths are saved.
    std::string Entry(const std::string& name) const {
        return fs::path(Src(name)).relative_path().generic_string();
    }
    test::TTempFolder temp;
};

TEST(PerformZipWizardChoiceTest, CreatesWithPathOptionsAndCompression) {
    struct Case {
        bool usePaths;
        bool recurse;
        int compression;
    } cases[] = {{false, false, 0}, {true, false, 9}, {true, true, 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.usePaths) + std::to_string(c.recurse) + std::to_string(c.compression));
        TFiles files;
        TZipArchive archive;
        TZipWizardChoice choice;
        choice.zipPath = files.Zip("out/new.zip");
        choice.files = c.recurse ? std::vector<std::string>{files.Src("a.txt"), files.Src("sub")}
                                 : std::vector<std::string>{files.Src("a.txt"), files.Src("b.txt")};
        choice.usePaths = c.usePaths;
        choice.recurse = c.recurse;
        choice.compression = c.compression;
        std::vector<std::int64_t> done;
        std::int64_t lastTotal = -1;
        TZipWizardJobResult result = PerformZipWizardChoice(
            archive, choice, [&](const std::string&, std::int64_t d, std::int64_t t) { done.push_back(d), lastTotal = t; });
        ASSERT_NE(result.zip, nullptr);
        EXPECT_FALSE(result.opened);
        EXPECT_EQ(result.outcome.view.yield, TZipYield::Success) << result.outcome.view.message;
        std::set<std::string> expected;
        if (c.recurse) {
            expected = {files.Entry("a.txt"), files.Entry("sub/c.txt")};
        } else if (c.usePaths) {
            expected = {files.Entry("a.txt"), files.Entry("b.txt")};
        } else {
            expected = {"a.txt", "b.txt"};
        }
        EXPECT_EQ(test::ZipEntryNames(choice.zipPath), expected);
        EXPECT_EQ(std::set<std::string>(result.zip->entries.begin(), result.zip->entries.end()), expected);
        EXPECT_EQ(done, (std::vector<std::int64_t>{1, 2}));
        EXPECT_EQ(lastTotal, 2);
        for (const test::TStoredZipEntry& e : test::StoredZipEntries(choice.zipPath)) {
            if (e.size == 4000) {
                EXPECT_EQ(c.compression == 0, e.packed == e.size) << "compression " << c.compression;
            }
        }
    }
}

TEST(PerformZipWizardChoiceTest, ReplacesAFileOnlyWhenTheUserConfirmedIt) {
    TFiles files;
    const std::string zipPath = files.Zip("old.zip");
    ASSERT_TRUE(test::WriteZipFixture(zipPath, {{"kept.txt", "old"}}));
    {
        // Typed name of an existing Zip, not confirmed: added to, nothing lost.
        TZipArchive archive;
        TZipWizardChoice choice;
        choice.zipPath = zipPath;
        choice.files = {files.Src("b.txt")};
        TZipWizardJobResult result = PerformZipWizardChoice(archive, choice);
        EXPECT_TRUE(result.opened);
        EXPECT_EQ(test::ZipEntryNames(zipPath), (std::set<std::string>{"kept.txt", "b.txt"}));
    }
    {
        // Open in the zip manager meanwhile: the same node, now with only the new entry.
        TZipArchive archive;
        TZipObj* open = archive.Open(zipPath).zip;
        ASSERT_NE(open, nullptr);
        TZipWizardChoice choice;
        choice.zipPath = zipPath;
        choice.replaceExisting = true;
        choice.files = {files.Src("a.txt")};
        TZipWizardJobResult result = PerformZipWizardChoice(archive, choice);
        EXPECT_FALSE(result.opened);
        EXPECT_EQ(result.zip, open);
        EXPECT_EQ(test::ZipEntryNames(zipPath), (std::set<std::string>{"a.txt"}));
        EXPECT_EQ(open->entries, std::vector<std::string>{"a.txt"});
    }
}

TEST(PerformZipWizardChoiceTest, ActionsOnAnExistingZip) {
    const std::time_t past = 1000000000;
    const std::time_t future = std::time(nullptr) + 86400;
    struct Case {
        TZipAddMode action;
        std::time_t zipEntryTime;  // of b.txt in the Zip; the file on disk is from now
        std::set<std::string> entries;
        const char* bData;         // b.txt's contents in the Zip afterwards
    } cases[] = {
        {kZipAddReplace, future, {"a.txt", "b.txt"}, "bee"},
        {kZipAddFreshen, past, {"b.txt"}, "bee"},  // only what is there, when newer
        {kZipAddFreshen, future, {"b.txt"}, "old"},
        {kZipAddUpdate, past, {"a.txt", "b.txt"}, "bee"},
        {kZipAddUpdate, future, {"a.txt", "b.txt"}, "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.action)) + (c.zipEntryTime == past ? " past" : " future"));
        TFiles files;
        const std::string zipPath = files.Zip("site.zip");
        ASSERT_TRUE(test::WriteZipFixture(zipPath, {{"b.txt", "old"}}, c.zipEntryTime));
        TZipArchive archive;
        TZipWizardChoice choice;
        choice.zipPath = zipPath;
        choice.openExisting = true;
        choice.action = c.action;
        choice.files = {files.Src("a.txt"), files.Src("b.txt")};
        TZipWizardJobResult result = PerformZipWizardChoice(archive, choice);
        ASSERT_TRUE(result.opened);
        EXPECT_NE(result.outcome.view.yield, TZipYield::Error) << result.outcome.view.message;
        EXPECT_EQ(test::ZipEntryNames(zipPath), c.entries);
        const fs::path out = files.temp.Path() / "check";
        PerformUnzipChoice(archive, *result.zip, {out.string(), true, false, true}, {});
        EXPECT_EQ(ReadAll(out / "b.txt"), c.bData);
    }
}

TEST(PerformZipWizardChoiceTest, NotAZipIsReportedAndLeftAlone) {
    TFiles files;
    const std::string path = files.Zip("notes.zip");
    WriteText(path, "just some text, not an archive");
    TZipArchive archive;
    TZipWizardChoice choice;
    choice.zipPath = path;
    choice.openExisting = true;
    choice.files = {files.Src("a.txt")};
    TZipWizardJobResult result = PerformZipWizardChoice(archive, choice);
    EXPECT_EQ(result.zip, nullptr);
    EXPECT_TRUE(result.outcome.failed);
    EXPECT_EQ(result.outcome.view.yield, TZipYield::Error);
    EXPECT_EQ(result.outcome.view.message, "The archive file is corrupted. Try using the Fix option on it.");
    EXPECT_EQ(ReadAll(path), "just some text, not an archive");
}

TEST(PerformZipWizardChoiceTest, CancelLeavesTheZipAsItWas) {
    TFiles files;
    for (int i = 0; i < 20; ++i) {
        WriteText(files.temp.Path() / "many" / ("f" + std::to_string(i) + ".txt"), "x");
    }
    const std::string zipPath = files.Zip("site.zip");
    ASSERT_TRUE(test::WriteZipFixture(zipPath, {{"kept.txt", "old"}}));
    TZipArchive archive;
    TZipWizardChoice choice;
    choice.zipPath = zipPath;
    choice.openExisting = true;
    choice.recurse = true;
    choice.files = {(files.temp.Path() / "many").string()};
    TZipWizardJobResult result = PerformZipWizardChoice(archive, choice, [&](const std::string&, std::int64_t done, std::int64_t) {
        if (done == 5) {
            archive.Engine().Abort();
        }
    });
    EXPECT_EQ(result.outcome.code, kZipAborted);
    EXPECT_TRUE(test::UnzipTest(zipPath));
    std::set<std::string> names = test::ZipEntryNames(zipPath);
    EXPECT_EQ(names.count("kept.txt"), 1u);
    EXPECT_LT(names.size(), 21u);
    // What the tree knows is what the file holds.
    EXPECT_EQ(std::set<std::string>(result.zip->entries.begin(), result.zip->entries.end()), names);
}

struct TExtractFixture {
    TExtractFixture() {
        zipPath = (temp.Path() / "site.zip").string();
        EXPECT_TRUE(test::WriteZipFixture(zipPath, {{"index.htm", "home"},
                                                    {"img/a.gif", "GIF"},
                                                    {"../escape.txt", "evil"},
                                                    {"/tmp/abs-escape.txt", "evil"},
                                                    {"ok/../../up.txt", "evil"}}));
        zip = archive.Open(zipPath).zip;
        out = temp.Path() / "deep/out";
    }
    test::TTempFolder temp;
    std::string zipPath;
    TZipArchive archive;
    TZipObj* zip = nullptr;
    fs::path out;
};

TEST(PerformUnzipChoiceTest, AllOrSelectedWithOrWithoutPaths) {
    struct Case {
        bool allFiles;
        bool usePaths;
        std::vector<std::string> selected;
        std::set<std::string> written;
    } cases[] = {
        {true, true, {}, {"index.htm", "img", "img/a.gif"}},
        {true, false, {}, {"index.htm", "a.gif"}},
        {false, true, {"img/*.*"}, {"img", "img/a.gif"}},
        {false, false, {"index.htm"}, {"index.htm"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.allFiles) + std::to_string(c.usePaths));
        TExtractFixture f;
        ASSERT_NE(f.zip, nullptr);
        std::int64_t lastDone = 0;
        TZipOutcome outcome = PerformUnzipChoice(f.archive, *f.zip, {f.out.string(), c.allFiles, c.usePaths, false},
                                                 c.selected, [&](const std::string&, std::int64_t d, std::int64_t) { lastDone = d; });
        EXPECT_NE(outcome.view.yield, TZipYield::Error) << outcome.view.message;
        std::set<std::string> written;
        for (auto it = fs::recursive_directory_iterator(f.out); it != fs::recursive_directory_iterator(); ++it) {
            written.insert(it->path().lexically_relative(f.out).generic_string());
        }
        EXPECT_EQ(written, c.written);
        EXPECT_GT(lastDone, 0);
        // Nothing escaped the folder.
        EXPECT_FALSE(fs::exists(f.out.parent_path() / "escape.txt"));
        EXPECT_FALSE(fs::exists(f.temp.Path() / "up.txt"));
        EXPECT_FALSE(fs::exists(f.out.parent_path() / "up.txt"));
    }
}

TEST(PerformUnzipChoiceTest, HostileNamesAreNamedInTheMessage) {
    TExtractFixture f;
    TZipOutcome outcome = PerformUnzipChoice(f.archive, *f.zip, {f.out.string(), true, true, false}, {});
    EXPECT_EQ(outcome.code, kZipSkipped);
    EXPECT_EQ(outcome.view.kind, TZipMessageKind::Information);
    EXPECT_EQ(outcome.view.message.rfind("Some files were skipped while extracting.", 0), 0u);
    for (const char* name : {"../escape.txt", "/tmp/abs-escape.txt", "ok/../../up.txt"}) {
        EXPECT_NE(outcome.view.message.find(name), std::string::npos) << name;
    }
    EXPECT_FALSE(fs::exists("/tmp/abs-escape.txt"));
}

TEST(PerformUnzipChoiceTest, NotAZipWritesNothing) {
    test::TTempFolder temp;
    const std::string path = (temp.Path() / "fake.zip").string();
    WriteText(path, "<html>not a zip</html>");
    TZipArchive archive;
    TZipObj& zip = archive.CreateNode(path);  // as a caller that did not list it first
    const fs::path out = temp.Path() / "out";
    TZipOutcome outcome = PerformUnzipChoice(archive, zip, {out.string(), true, true, true}, {});
    EXPECT_EQ(outcome.view.yield, TZipYield::Error);
    EXPECT_EQ(outcome.view.message, "The archive file is corrupted. Try using the Fix option on it.");
    EXPECT_FALSE(fs::exists(out));
}

TEST(PerformUnzipChoiceTest, OverwriteRules) {
    struct Case {
        bool overwrite;
        TZipReplaceAction answer;
        const char* expected;
        int asked;
    } cases[] = {
        {true, xraSkip, "home", 0},       // replaced without asking
        {false, xraReplace, "home", 1},
        {false, xraSkip, "mine", 1},
        {false, xraCancel, "mine", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.overwrite) + "/" + std::to_string(c.answer));
        TExtractFixture f;
        WriteText(f.out / "index.htm", "mine");
        int asked = 0;
        f.archive.OnReplace = [&](const std::string& file, std::string&, TZipReplaceAction& action) {
            ++asked;
            EXPECT_EQ(file, (f.out / "index.htm").string());
            action = c.answer;
        };
        TZipOutcome outcome = PerformUnzipChoice(f.archive, *f.zip, {f.out.string(), false, true, c.overwrite}, {"index.htm"});
        EXPECT_EQ(ReadAll(f.out / "index.htm"), c.expected);
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(outcome.code == kZipAborted, c.answer == xraCancel && !c.overwrite);
    }
}

TEST(PerformUnzipChoiceTest, ADestinationThatIsAFileIsRefused) {
    TExtractFixture f;
    WriteText(f.out, "a file");
    TZipOutcome outcome = PerformUnzipChoice(f.archive, *f.zip, {f.out.string(), true, true, true}, {});
    EXPECT_EQ(outcome.view.yield, TZipYield::Error);
    EXPECT_NE(outcome.view.message.find("not a folder"), std::string::npos);
    EXPECT_EQ(ReadAll(f.out), "a file");
}

} // namespace
} // namespace pellix
