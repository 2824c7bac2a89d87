// Whole-file writes and private folders: what stands at the path afterwards.
#include "links/file_io.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;
using test::TTempFolder;
using test::WriteText;

// Names in folder, sorted: temp files left behind would show here.
std::vector<std::string> NamesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FileIoTest, WritersReplaceTheFileAndLeaveNothingBeside)
{
    struct TWriter {
        const char* name;
        bool (*write)(const fs::path&, std::string_view, std::string*);
    };
    const TWriter writers[] = {
        {"atomically", [](const fs::path& p, std::string_view d, std::string* e) { return WriteFileAtomically(p, d, e); }},
        {"quickly", [](const fs::path& p, std::string_view d, std::string* e) { return ReplaceFileQuickly(p, d, e); }},
    };
    for (const TWriter& writer : writers) {
        SCOPED_TRACE(writer.name);
        TTempFolder temp;
        const fs::path page = temp.Path() / "page.htm";
        // A new file, then one replaced by a shorter and by a longer text.
        for (const std::string text : {"<p>first version, the longest of them</p>", "<p>2</p>", "<p>third one</p>"}) {
            std::string error;
            ASSERT_TRUE(writer.write(page, text, &error)) << error;
            EXPECT_EQ(ReadWholeFile(page).value_or("?"), text);
            EXPECT_EQ(NamesIn(temp.Path()), std::vector<std::string>{"page.htm"});
        }
        // A hard link to the old file keeps the old bytes: the name got a new file, nothing
        // was written into the old one.
        ASSERT_EQ(::link(page.c_str(), (temp.Path() / "kept").c_str()), 0);
        ASSERT_TRUE(writer.write(page, "new", nullptr));
        EXPECT_EQ(ReadWholeFile(page).value_or("?"), "new");
        EXPECT_EQ(ReadWholeFile(temp.Path() / "kept").value_or("?"), "<p>third one</p>");
        EXPECT_EQ(NamesIn(temp.Path()), (std::vector<std::string>{"kept", "page.htm"}));
    }
}

// In a working folder the replaced copy stays, emptied, so that no inode is freed during a crawl;
// what stood at the path is never written through.
TEST(FileIoTest, WorkFolderWriteLeavesTheReplacedCopyEmpty)
{
    TTempFolder temp;
    const fs::path page = temp.Path() / "page.htm";
    ASSERT_TRUE(ReplaceFileInWorkFolder(page, "new page", nullptr)); // nothing to replace
    EXPECT_EQ(NamesIn(temp.Path()), std::vector<std::string>{"page.htm"});
    ASSERT_EQ(::link(page.c_str(), (temp.Path() / "kept").c_str()), 0);
    std::string error;
    ASSERT_TRUE(ReplaceFileInWorkFolder(page, "rewritten", &error)) << error;
    EXPECT_EQ(ReadWholeFile(page).value_or("?"), "rewritten");
    // The old inode is the emptied one beside, still linked as "kept".
    EXPECT_EQ(ReadWholeFile(temp.Path() / "kept").value_or("?"), "");
    const std::vector<std::string> names = NamesIn(temp.Path());
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "kept");
    EXPECT_EQ(names[1], "page.htm");
    EXPECT_EQ(names[2].rfind("page.htm.tmp", 0), 0u) << names[2];
    EXPECT_EQ(fs::file_size(temp.Path() / names[2]), 0u);

    // A symbolic link at the path is replaced, and what it pointed at is left alone.
    WriteText(temp.Path() / "target.htm", "not ours to empty");
    fs::create_symlink(temp.Path() / "target.htm", temp.Path() / "link.htm");
    ASSERT_TRUE(ReplaceFileInWorkFolder(temp.Path() / "link.htm", "page", &error)) << error;
    EXPECT_FALSE(fs::is_symlink(temp.Path() / "link.htm"));
    EXPECT_EQ(ReadWholeFile(temp.Path() / "link.htm").value_or("?"), "page");
    EXPECT_EQ(ReadWholeFile(temp.Path() / "target.htm").value_or("?"), "not ours to empty");

    // A folder at the path stays, and the write fails.
    WriteText(temp.Path() / "docs" / "inside.htm", "kept");
    EXPECT_FALSE(ReplaceFileInWorkFolder(temp.Path() / "docs", "page", &error));
    EXPECT_EQ(ReadWholeFile(temp.Path() / "docs" / "inside.htm").value_or("?"), "kept");
}

// Pages written back one after another take turns with one spare file instead of leaving a new
// one each; a spare that is gone or shared with another name is left for a new temp file.
TEST(FileIoTest, WorkFolderWritesPassOneSpareFileAlong)
{
    TTempFolder temp;
    const fs::path a = temp.Path() / "a.htm";
    const fs::path b = temp.Path() / "sub" / "b.htm";
    const fs::path c = temp.Path() / "sub" / "c.htm";
    WriteText(a, "old a");
    WriteText(b, "old b");
    WriteText(c, "old c");
    std::string spare;
    std::string error;
    ASSERT_TRUE(ReplaceFileInWorkFolder(a, "new a", &error, &spare)) << error;
    ASSERT_FALSE(spare.empty());
    const std::string first = spare;
    ASSERT_TRUE(ReplaceFileInWorkFolder(b, "new b", &error, &spare)) << error;
    ASSERT_TRUE(ReplaceFileInWorkFolder(c, "new c", &error, &spare)) << error;
    EXPECT_EQ(spare, first); // the same name throughout, holding the last replaced copy
    EXPECT_EQ(ReadWholeFile(spare).value_or("?"), "old c");
    EXPECT_EQ(ReadWholeFile(a).value_or("?"), "new a");
    EXPECT_EQ(ReadWholeFile(b).value_or("?"), "new b");
    EXPECT_EQ(ReadWholeFile(c).value_or("?"), "new c");
    EXPECT_EQ(NamesIn(temp.Path()).size(), 3u); // a.htm, sub and the one spare
    EXPECT_EQ(NamesIn(temp.Path() / "sub"), (std::vector<std::string>{"b.htm", "c.htm"}));

    // A longer copy is cut to the new text's length.
    ASSERT_TRUE(ReplaceFileInWorkFolder(b, "b", &error, &spare)) << error;
    EXPECT_EQ(ReadWholeFile(b).value_or("?"), "b");
    EXPECT_EQ(ReadWholeFile(spare).value_or("?"), "new b");

    // Linked under another name too: writing into it would change that file.
    ASSERT_EQ(::link(spare.c_str(), (temp.Path() / "other").c_str()), 0);
    ASSERT_TRUE(ReplaceFileInWorkFolder(a, "newer a", &error, &spare)) << error;
    EXPECT_EQ(ReadWholeFile(temp.Path() / "other").value_or("?"), "new b");
    EXPECT_EQ(ReadWholeFile(a).value_or("?"), "newer a");
    EXPECT_NE(spare, first);

    // Gone: a new temp file serves.
    fs::remove(spare);
    ASSERT_TRUE(ReplaceFileInWorkFolder(b, "newer b", &error, &spare)) << error;
    EXPECT_EQ(ReadWholeFile(b).value_or("?"), "newer b");
    EXPECT_TRUE(fs::is_regular_file(spare));
}

TEST(FileIoTest, QuickWriteOverAFolderFailsAndKeepsIt)
{
    TTempFolder temp;
    const fs::path target = temp.Path() / "docs";
    WriteText(target / "inside.htm", "kept");
    std::string error;
    errno = 0;
    EXPECT_FALSE(ReplaceFileQuickly(target, "page", &error));
    EXPECT_NE(errno, 0);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(ReadWholeFile(target / "inside.htm").value_or("?"), "kept");
    EXPECT_EQ(NamesIn(temp.Path()), std::vector<std::string>{"docs"});
}

TEST(FileIoTest, PrivateFolderStates)
{
    struct TCase {
        const char* name;
        void (*prepare)(const fs::path& folder);
        bool ok;
        const char* reason; // part of the error text when not ok
    };
    const TCase cases[] = {
        {"missing, parents too", [](const fs::path&) {}, true, ""},
        {"already private", [](const fs::path& f) { fs::create_directories(f); ::chmod(f.c_str(), 0700); }, true, ""},
        {"open to others: tightened", [](const fs::path& f) { fs::create_directories(f); ::chmod(f.c_str(), 0755); },
         true, ""},
        {"a symbolic link to a private folder",
         [](const fs::path& f) {
             fs::create_directories(f.parent_path() / "real");
             ::chmod((f.parent_path() / "real").c_str(), 0700);
             fs::create_directory_symlink(f.parent_path() / "real", f);
         },
         false, "symbolic link"},
        {"a file", [](const fs::path& f) { WriteText(f, "x"); }, false, "not a folder"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTempFolder temp;
        const fs::path folder = temp.Path() / "a" / "b" / "Pellix";
        fs::create_directories(folder.parent_path());
        c.prepare(folder);
        std::string error;
        EXPECT_EQ(EnsurePrivateFolder(folder.string() + "/", &error), c.ok) << error;
        if (c.ok) {
            struct stat info {};
            ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
            EXPECT_TRUE(S_ISDIR(info.st_mode));
            EXPECT_EQ(info.st_mode & 0777, 0700u);
        } else {
            EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        }
    }
}

// A working folder of many site folders goes whole; a link in it goes, what it points at stays.
TEST(FileIoTest, FolderTreeIsRemovedOnSeveralThreadsWithoutFollowingLinks)
{
    TTempFolder folder;
    const fs::path outside = folder.Path() / "outside";
    WriteText(outside / "keep.txt", "kept");
    const fs::path work = folder.Path() / "work";
    const auto makeTree = [&] {
        for (int dir = 0; dir < 12; ++dir)
            for (int file = 0; file < 20; ++file)
                WriteText(work / "host" / ("d" + std::to_string(dir)) / ("f" + std::to_string(file)), "x");
        WriteText(work / "host" / "top.html", "x");
        WriteText(work / "banner.htm", "x");
        fs::create_directory_symlink(outside, work / "host" / "d3" / "link");
        fs::create_directory_symlink(outside, work / "linked");
    };
    for (unsigned threads : {1u, 3u}) {
        makeTree();
        EXPECT_TRUE(RemoveFolderTree(work, threads)) << threads;
        EXPECT_FALSE(fs::exists(fs::symlink_status(work))) << threads;
        EXPECT_EQ(NamesIn(outside), std::vector<std::string>{"keep.txt"}) << threads;
    }
    // A link given as the folder is removed itself.
    fs::create_directory_symlink(outside, work);
    EXPECT_TRUE(RemoveFolderTree(work, 2));
    EXPECT_FALSE(fs::exists(fs::symlink_status(work)));
    EXPECT_EQ(NamesIn(outside), std::vector<std::string>{"keep.txt"});
}

} // namespace
} // namespace pellix
