// TZipArchive: opening and listing (with progress), task-mode packing with titles, ticks that cannot write the Zip
// file (size limit, read-only, permission, abort), deleting with folder cleanup, extraction
// (refused names, browsing once), renaming, compaction, and the totals lines.
#include "workspace/zip_archive.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "links/file_io.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zip_entries.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

using test::WriteText;

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

// The zip manager's progress bar while a Zip is opened: one step per entry of the whole count,
// then cleared, also when the listing ends early.
TEST(TZipArchiveTest, OpeningReportsProgressPerEntryThenClears) {
    TPackedSite site;
    ASSERT_EQ(site.outcome.code, kZipOk);
    struct TStep {
        std::string text;
        std::int64_t position;
        std::int64_t maximum;
        bool operator==(const TStep&) const = default;
    };
    const std::string opening = "Opening Zip File...";

    TZipArchive manager;
    std::vector<TStep> steps;
    manager.OnProgress = [&](const std::string& text, std::int64_t position, std::int64_t maximum) {
        steps.push_back({text, position, maximum});
    };
    ASSERT_NE(manager.Open(site.zip->path).zip, nullptr);
    EXPECT_EQ(steps, (std::vector<TStep>{{opening, 1, 3}, {opening, 2, 3}, {opening, 3, 3}, {"", 0, 0}}));

    // Already open: selected without a listing, so no progress.
    steps.clear();
    EXPECT_TRUE(manager.Open(site.zip->path).alreadyOpen);
    EXPECT_TRUE(steps.empty());

    // Stopped after the second entry: the bar is still cleared.
    TZipArchive aborted;
    steps.clear();
    aborted.OnProgress = [&](const std::string& text, std::int64_t position, std::int64_t maximum) {
        steps.push_back({text, position, maximum});
        if (position == 2) {
            aborted.Engine().Abort();
        }
    };
    EXPECT_EQ(aborted.Open(site.zip->path).zip, nullptr);
    EXPECT_EQ(steps, (std::vector<TStep>{{opening, 1, 3}, {opening, 2, 3}, {"", 0, 0}}));

    // Not a Zip file: nothing to count, and nothing left on the bar.
    WriteText(site.temp.Path() / "junk.zip", "not a zip file at all");
    steps.clear();
    TZipArchive junk;
    junk.OnProgress = manager.OnProgress;
    EXPECT_EQ(junk.Open((site.temp.Path() / "junk.zip").string()).zip, nullptr);
    EXPECT_EQ(steps, (std::vector<TStep>{{"", 0, 0}}));
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
    EXPECT_FALSE(outcome.failed);
    EXPECT_EQ(outcome.view.message, "Some files were skipped while adding.");
    ASSERT_EQ(outcome.skipped.size(), 1u);
    EXPECT_EQ(outcome.filesPacked, (std::vector<bool>{true, false, true, true}));
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
    EXPECT_EQ(ReadWholeFile(folder / "My Site.zip").value_or(""), "taken");  // never replaced

    TZipRenameResult failed = site.archive.Rename(*site.zip, "a/b.zip");
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.message, "Unable to rename file to: " + (folder / "a/b.zip").string() +
                                  "\nA file may not contain any of the following characters: \n\\/:*?\"<>|");
    EXPECT_EQ(site.zip->path, renamed.newPath);
}

// Whatever the name, the Zip ends with a valid name ending in ".zip", or keeps its old one.
TEST(TZipArchiveTest, RenameNamesAreMadeSafe) {
    const std::string longName(300, 'n');
    std::string longUtf8 = "x";  // the cut falls inside a character
    while (longUtf8.size() < 300) {
        longUtf8 += "\xC3\xA9";  // é
    }
    struct Case {
        std::string name;
        std::string expected;  // the new file name; empty: refused, the old name stays
    } cases[] = {
        {std::string("Home\0Page", 9), "Home Page.zip"},
        {std::string("\0", 1) + "Title\r\n.zip", "Title  .zip"},
        {"Docs  What .zip", "Docs  What .zip"},  // a title's ":" and "?" made blanks
        {std::string(1, '\0'), ""},
        {"..", ""},
        {"...zip", ""},
        {"  .zip", ""},
        {". .zip", ""},
        {"a/b", ""},
        {"/", ""},
        {"Report", "Report.zip"},
        {"Backup.ZIP", "Backup.ZIP"},
        {"taken.zip", "taken(0).zip"},
        {longName, std::string(246, 'n') + ".zip"},
        {longUtf8, longUtf8.substr(0, 245) + ".zip"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 20));
        TPackedSite site;
        const fs::path folder = site.temp.Path() / "Downloads";
        WriteText(folder / "taken.zip", "taken");
        const std::string old = site.zip->path;
        TZipRenameResult renamed = site.archive.Rename(*site.zip, c.name);
        if (c.expected.empty()) {
            EXPECT_FALSE(renamed.ok);
            EXPECT_NE(renamed.message.find("Unable to rename file to: "), std::string::npos);
            EXPECT_EQ(site.zip->path, old);
            EXPECT_TRUE(fs::exists(old));
            continue;
        }
        ASSERT_TRUE(renamed.ok) << renamed.message;
        EXPECT_EQ(renamed.newPath, (folder / c.expected).string());
        EXPECT_LE(fs::path(renamed.newPath).filename().string().size(), 255u);
        EXPECT_TRUE(fs::exists(renamed.newPath));
        EXPECT_EQ(test::ZipEntryNames(renamed.newPath).size(), 3u);
    }

    // A long name that is taken still gets a numbered name that fits.
    TPackedSite site;
    const fs::path folder = site.temp.Path() / "Downloads";
    WriteText(folder / (std::string(246, 'n') + ".zip"), "taken");
    TZipRenameResult renamed = site.archive.Rename(*site.zip, longName);
    ASSERT_TRUE(renamed.ok) << renamed.message;
    EXPECT_EQ(fs::path(renamed.newPath).filename().string(), std::string(246, 'n') + "(0).zip");
}

TEST(TZipArchiveTest, RenameGivesUpWhenEveryNumberedNameIsTaken) {
    TPackedSite site;
    const fs::path folder = site.temp.Path() / "Downloads";
    WriteText(folder / "Busy.zip", "");
    for (int n = 0; n < TZipArchive::kMaxRenameTries; ++n) {
        WriteText(folder / ("Busy(" + std::to_string(n) + ").zip"), "");
    }
    const std::string old = site.zip->path;
    TZipRenameResult renamed = site.archive.Rename(*site.zip, "Busy.zip");
    EXPECT_FALSE(renamed.ok);
    EXPECT_EQ(renamed.message, "Unable to rename file to: " + (folder / "Busy.zip").string() +
                                   "\nIt and the next 1000 numbered names are taken.");
    EXPECT_EQ(site.zip->path, old);
    EXPECT_TRUE(fs::exists(old));
}

// Bytes that deflate cannot shrink, so that sizes on disk are predictable.
std::string Noise(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (char& c : s) {
        seed = seed * 1103515245 + 12345;
        c = static_cast<char>(seed >> 16);
    }
    return s;
}

// What a forked child reported ("key=value" lines) and how it ended.
struct TChildReport {
    int exitCode = -1;
    std::map<std::string, std::string> values;
};

// Runs body in a child process; body returns its report lines, or exits on its own.
TChildReport RunInChild(const std::function<std::string()>& body) {
    TChildReport report;
    int fds[2];
    if (::pipe(fds) != 0) {
        return report;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        const std::string text = body();
        const bool sent = ::write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::_exit(sent ? 0 : 3);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    report.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) {
            report.values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return report;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ",") + name;
    }
    return text;
}

// The report lines of a failed tick, with what the Zip object and the file hold afterwards.
std::string DescribeTick(const TZipOutcome& outcome, const TZipObj& zip) {
    std::vector<std::string> registered = zip.entries;
    std::sort(registered.begin(), registered.end());
    const std::set<std::string> inFile = test::ZipEntryNames(zip.path);
    std::string packed;
    for (bool p : outcome.filesPacked) {
        packed += p ? '1' : '0';
    }
    return "failed=" + std::to_string(outcome.failed) + "\nfault=" + std::to_string(static_cast<int>(outcome.fault)) +
           "\nerrno=" + std::to_string(outcome.systemError) + "\nmessage=" + outcome.view.message +
           "\nentries=" + Joined(outcome.entries) + "\npacked=" + packed + "\nregistered=" + Joined(registered) +
           "\ninfile=" + Joined({inFile.begin(), inFile.end()}) + "\n";
}

// A task's temp folder whose Zip file holds three pages from an earlier tick, with 15 more files
// of 20 kB waiting for the next one.
struct TWaitingTick {
    test::TTempFolder temp;
    std::string tmp;
    std::string zipPath;
    std::vector<TZipTaskFile> files;
    std::string earlier = "www.x.com/e0.htm,www.x.com/e1.htm,www.x.com/e2.htm";

    TWaitingTick() {
        tmp = (temp.Path() / "tmp").string();
        zipPath = (temp.Path() / "Downloads/Site.zip").string();
        std::vector<TZipTaskFile> first;
        for (int i = 0; i < 3; ++i) {
            const std::string path = tmp + "/www.x.com/e" + std::to_string(i) + ".htm";
            WriteText(path, "<html>earlier " + std::to_string(i) + "</html>");
            first.push_back({path, "Earlier"});
        }
        for (int i = 0; i < 15; ++i) {
            const std::string path = tmp + "/www.x.com/p" + std::to_string(i) + ".png";
            WriteText(path, Noise(20000, static_cast<unsigned>(i)));
            files.push_back({path, ""});
        }
        TZipArchive archive;
        EXPECT_EQ(archive.AddTaskFiles(archive.CreateNode(zipPath), tmp, first).code, kZipOk);
    }

    // The tick that could not write left the Zip file as it was, and the Zip object agrees.
    void ExpectNothingPacked(const TChildReport& report, TZipAddFault fault, const std::string& reason) const {
        ASSERT_EQ(report.exitCode, 0);
        const auto& v = report.values;
        EXPECT_EQ(v.at("failed"), "1");
        EXPECT_EQ(v.at("fault"), std::to_string(static_cast<int>(fault)));
        EXPECT_NE(v.at("errno"), "0");
        EXPECT_EQ(v.at("message"), "Cannot add to " + zipPath + ": " + reason +
                                       ". Not packed: www.x.com/p0.png, www.x.com/p1.png, www.x.com/p2.png and 12 more.");
        EXPECT_EQ(v.at("entries"), "");
        EXPECT_EQ(v.at("packed"), std::string(15, '0'));
        EXPECT_EQ(v.at("registered"), earlier);
        EXPECT_EQ(v.at("infile"), earlier);
        std::string out;
        EXPECT_TRUE(test::UnzipTest(zipPath, &out)) << out;
    }

    // A later tick with room puts every file in.
    void ExpectLaterTickPacksAll() const {
        TZipArchive archive;
        TZipOpenResult opened = archive.Open(zipPath);
        ASSERT_NE(opened.zip, nullptr);
        TZipOutcome outcome = archive.AddTaskFiles(*opened.zip, tmp, files);
        EXPECT_EQ(outcome.code, kZipOk) << outcome.view.message;
        EXPECT_FALSE(outcome.failed);
        EXPECT_EQ(outcome.filesPacked, std::vector<bool>(15, true));
        EXPECT_EQ(outcome.entries.size(), 15u);
        EXPECT_EQ(opened.zip->entries.size(), 18u);
        EXPECT_EQ(test::ZipEntryNames(zipPath).size(), 18u);
        std::string out;
        EXPECT_TRUE(test::UnzipTest(zipPath, &out)) << out;
    }
};

// The waiting tick, run in a child process after restrict() has taken the room or the right to
// write away from it (exit 77 when restrict cannot).
TChildReport TickInChild(const TWaitingTick& tick, const std::function<bool()>& restrict) {
    return RunInChild([&] {
        if (!restrict()) {
            ::_exit(77);
        }
        TZipArchive archive;
        TZipOpenResult opened = archive.Open(tick.zipPath);
        if (opened.zip == nullptr) {
            ::_exit(4);
        }
        return DescribeTick(archive.AddTaskFiles(*opened.zip, tick.tmp, tick.files), *opened.zip);
    });
}

TEST(TZipArchiveTest, TickBeyondTheFileSizeLimitFailsAndKeepsTheZip) {
    TWaitingTick tick;
    const auto size = static_cast<rlim_t>(fs::file_size(tick.zipPath));
    TChildReport report = TickInChild(tick, [&] {
        // The limit's signal would end the process; ignored, the write fails with EFBIG.
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit{size + 4096, RLIM_INFINITY};
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    });
    tick.ExpectNothingPacked(report, TZipAddFault::DiskFull, "file size limit reached");
    EXPECT_EQ(report.values["errno"], std::to_string(EFBIG));
    EXPECT_EQ(fs::file_size(tick.zipPath), size);
    tick.ExpectLaterTickPacksAll();
}

// Permission bits do not stop root, a read-only mount does: the child makes the Zip's folder a
// read-only bind mount in a mount namespace of its own.
TEST(TZipArchiveTest, TickOnAReadOnlyFileSystemFailsAndKeepsTheZip) {
    TWaitingTick tick;
    const std::string folder = fs::path(tick.zipPath).parent_path().string();
    TChildReport report = TickInChild(tick, [&] {
        return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
               ::mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    });
    if (report.exitCode == 77) {
        GTEST_SKIP() << "no rights to make a read-only bind mount here";
    }
    tick.ExpectNothingPacked(report, TZipAddFault::ReadOnly, "read-only file system");
    EXPECT_EQ(report.values["errno"], std::to_string(EROFS));
    tick.ExpectLaterTickPacksAll();
}

TEST(TZipArchiveTest, TickOnAZipWithoutWritePermissionFailsAndKeepsTheZip) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root; the read-only mount test covers this path";
    }
    TWaitingTick tick;
    fs::permissions(tick.zipPath, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    TChildReport report = TickInChild(tick, [] { return true; });
    fs::permissions(tick.zipPath, fs::perms::owner_write, fs::perm_options::add);
    tick.ExpectNothingPacked(report, TZipAddFault::Permission, "permission denied");
    tick.ExpectLaterTickPacksAll();
}

// A tick ended part way (the run stops) keeps what it wrote, and reports exactly that.
TEST(TZipArchiveTest, AbortedTickReportsExactlyWhatWentIn) {
    TWaitingTick tick;
    TZipArchive archive;
    TZipOpenResult opened = archive.Open(tick.zipPath);
    ASSERT_NE(opened.zip, nullptr);
    archive.OnStatusText = [&](const std::string& text) {
        if (text == "Adding: www.x.com/p3.png") {
            archive.Engine().Abort();
        }
    };
    TZipOutcome outcome = archive.AddTaskFiles(*opened.zip, tick.tmp, tick.files);
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.fault, TZipAddFault::Aborted);
    EXPECT_TRUE(outcome.view.message.empty());  // the stop needs no message
    EXPECT_EQ(outcome.entries, (std::vector<std::string>{"www.x.com/p0.png", "www.x.com/p1.png", "www.x.com/p2.png"}));
    EXPECT_EQ(outcome.filesPacked, (std::vector<bool>{true, true, true, false, false, false, false, false, false,
                                                      false, false, false, false, false, false}));
    const std::set<std::string> registered(opened.zip->entries.begin(), opened.zip->entries.end());
    EXPECT_EQ(registered, test::ZipEntryNames(tick.zipPath));
    EXPECT_EQ(registered.size(), 6u);
    std::string out;
    EXPECT_TRUE(test::UnzipTest(tick.zipPath, &out)) << out;
}

TEST(TZipArchiveTest, StatusTextsComeOnTheThreadThatAdds) {
    TWaitingTick tick;
    TZipArchive archive;
    TZipObj* zip = archive.Open(tick.zipPath).zip;
    ASSERT_NE(zip, nullptr);
    std::vector<std::thread::id> callers;
    std::vector<std::string> texts;
    archive.OnStatusText = [&](const std::string& text) {
        callers.push_back(std::this_thread::get_id());
        texts.push_back(text);
    };
    std::thread::id packer;
    TZipOutcome outcome;
    std::thread thread([&] {
        packer = std::this_thread::get_id();
        outcome = archive.AddTaskFiles(*zip, tick.tmp, tick.files);
    });
    thread.join();
    EXPECT_EQ(outcome.code, kZipOk);
    ASSERT_EQ(texts.size(), 15u);
    EXPECT_EQ(texts.front(), "Adding: www.x.com/p0.png");
    EXPECT_TRUE(std::all_of(callers.begin(), callers.end(), [&](std::thread::id id) { return id == packer; }));
}

// Dead space: entries replaced by later ticks, and a tick cut short by a killed process.
TEST(TZipArchiveTest, CompactionDropsDeadSpaceAndKeepsEveryEntry) {
    test::TTempFolder temp;
    const std::string tmp = (temp.Path() / "tmp").string();
    const std::string zipPath = (temp.Path() / "Site.zip").string();
    std::vector<TZipTaskFile> files;
    for (int i = 0; i < 6; ++i) {
        const std::string path = tmp + "/h/f" + std::to_string(i) + (i % 2 ? ".htm" : ".bin");
        WriteText(path, i % 2 ? "<html>" + std::string(300000, 'a' + i) + "</html>" : Noise(300000, i));
        files.push_back({path, "Title " + std::to_string(i)});
    }
    TZipArchive archive;
    TZipObj& zip = archive.CreateNode(zipPath);
    ASSERT_EQ(archive.AddTaskFiles(zip, tmp, files).code, kZipOk);
    // Replaced: the old data of f0 and f2 stays behind in the file.
    WriteText(files[0].localPath, Noise(300000, 100));
    WriteText(files[2].localPath, Noise(300000, 102));
    ASSERT_EQ(archive.AddTaskFiles(zip, tmp, {files[0], files[2]}).code, kZipOk);
    // A tick killed while it writes its third file.
    std::vector<std::string> more;
    for (int i = 0; i < 4; ++i) {
        WriteText(temp.Path() / "tmp/h/g" / (std::to_string(i) + ".bin"), Noise(300000, 200 + i));
        more.push_back("h/g/" + std::to_string(i) + ".bin");
    }
    RunInChild([&] {
        TZipEngine engine;
        engine.SetZipFileName(zipPath);
        engine.SetBaseDirectory(tmp);
        engine.SetFilesToProcess(more);
        engine.OnStatus = [](const TZipEntry& e) {
            if (e.name == "h/g/2.bin" && e.bytes > 100000) {
                ::kill(::getpid(), SIGKILL);
            }
        };
        engine.Add(kZipAddReplace);
        return std::string();
    });
    const std::vector<test::TStoredZipEntry> before = test::StoredZipEntries(zipPath);
    ASSERT_EQ(before.size(), 6u);
    EXPECT_EQ(before[0].name, "h/f1.htm");  // replaced entries move to the end of the directory
    const TZipSpace space = MeasureZipSpace(zipPath);
    ASSERT_TRUE(space.measured) << space.error;
    EXPECT_EQ(space.fileSize, static_cast<std::int64_t>(fs::file_size(zipPath)));
    EXPECT_GT(space.deadBytes, 600000 + 2 * 300000);
    EXPECT_TRUE(TZipArchive::IsWasteful(space));

    const std::vector<std::string> entries = zip.entries;
    TZipCompactOutcome outcome = archive.CompactIfWasteful(zip);
    EXPECT_TRUE(outcome.due);
    ASSERT_TRUE(outcome.compacted) << outcome.message;
    EXPECT_EQ(outcome.sizeAfter, space.liveBytes);
    EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(zipPath)), space.liveBytes);
    EXPECT_EQ(test::StoredZipEntries(zipPath), before);  // names, order, CRCs, times, sizes, comments
    EXPECT_EQ(before[4].comment, "Title 0");
    EXPECT_EQ(zip.entries, entries);
    EXPECT_EQ(MeasureZipSpace(zipPath).deadBytes, 0);
    std::string out;
    EXPECT_TRUE(test::UnzipTest(zipPath, &out)) << out;
    for (const auto& entry : fs::directory_iterator(temp.Path())) {
        EXPECT_EQ(entry.path().filename().string().find(".pellix-compact"), std::string::npos);
    }
    // Not wasteful any more, and later ticks append as before.
    EXPECT_FALSE(archive.CompactIfWasteful(zip).due);
    ASSERT_EQ(archive.AddTaskFiles(zip, tmp, {{tmp + "/h/g/0.bin", ""}}).code, kZipOk);
    EXPECT_TRUE(test::UnzipTest(zipPath, &out)) << out;
    EXPECT_EQ(test::ZipEntryNames(zipPath).size(), 7u);
}

TEST(TZipArchiveTest, FailedCompactionLeavesTheZipAsItWas) {
    test::TTempFolder temp;
    const std::string tmp = (temp.Path() / "tmp").string();
    const std::string zipPath = (temp.Path() / "Site.zip").string();
    TZipArchive archive;
    TZipObj& zip = archive.CreateNode(zipPath);
    for (unsigned round = 0; round < 4; ++round) {
        WriteText(tmp + "/a.bin", Noise(600000, round));
        ASSERT_EQ(archive.AddTaskFiles(zip, tmp, {{tmp + "/a.bin", ""}}).code, kZipOk);
    }
    const std::string bytes = ReadWholeFile(zipPath).value_or("");
    TChildReport report = RunInChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit{300000, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        TZipCompactOutcome outcome = archive.CompactIfWasteful(zip);
        return "due=" + std::to_string(outcome.due) + "\ncompacted=" + std::to_string(outcome.compacted) +
               "\nmessage=" + outcome.message + "\n";
    });
    ASSERT_EQ(report.exitCode, 0);
    EXPECT_EQ(report.values["due"], "1");
    EXPECT_EQ(report.values["compacted"], "0");
    EXPECT_EQ(report.values["message"],
              "Cannot compact " + zipPath + ": file size limit reached. The Zip file is unchanged.");
    EXPECT_EQ(ReadWholeFile(zipPath).value_or(""), bytes);
    for (const auto& entry : fs::directory_iterator(temp.Path())) {
        EXPECT_EQ(entry.path().filename().string().find(".pellix-compact"), std::string::npos);
    }
}

TEST(TZipArchiveTest, CompactionThresholds) {
    struct Case {
        bool measured;
        std::int64_t fileSize;
        std::int64_t deadBytes;
        bool wasteful;
    } cases[] = {
        {true, 100 << 20, 20 << 20, true},       {true, 5 << 20, (1 << 20) + 1, true},
        {true, 5 << 20, 1 << 20, false},         // not more than 1 MB
        {true, 30 << 20, 2 << 20, false},        // under 10 %
        {true, 2 << 20, 2 << 20, true},          {false, 100 << 20, 50 << 20, false},
    };
    for (const Case& c : cases) {
        TZipSpace space;
        space.measured = c.measured;
        space.fileSize = c.fileSize;
        space.deadBytes = c.deadBytes;
        EXPECT_EQ(TZipArchive::IsWasteful(space), c.wasteful) << c.fileSize << " " << c.deadBytes;
    }
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
