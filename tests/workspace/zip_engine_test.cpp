// TZipEngine: round trips with the zip/unzip tools, add modes, overwrite rules, stored extensions,
// refused entry names, the result table, append cost, a kill during packing, a kill while the
// directory is copied, and compaction of archives made by the zip tool.
#include "workspace/zip_engine.h"

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include "links/file_io.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zip_entries.h"
#include "workspace/zip_compact.h"
#include "workspace/zip_format.h"
#include "workspace/zip_result.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

using test::WriteText;

std::string ReadText(const fs::path& path) {
    return ReadWholeFile(path).value_or("<missing>");
}

// Runs a shell command; returns its exit status and its output.
int RunShell(const std::string& command, std::string* output = nullptr) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::string text;
    char buffer[4096];
    while (pipe != nullptr) {
        std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe);
        if (n == 0) {
            break;
        }
        text.append(buffer, n);
    }
    int status = pipe == nullptr ? -1 : ::pclose(pipe);
    if (output != nullptr) {
        *output = text;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, TZipEntry> ListAll(TZipEngine& engine, int* code = nullptr) {
    std::map<std::string, TZipEntry> entries;
    engine.SetFilesToProcess({"*.*"});
    engine.OnListing = [&](const TZipEntry& e) { entries[e.name] = e; };
    int result = engine.List();
    engine.OnListing = nullptr;
    if (code != nullptr) {
        *code = result;
    }
    return entries;
}

void SetMtime(const fs::path& path, int secondsAgo) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
}

TEST(TZipEngineTest, RoundTripWithZipTools) {
    test::TTempFolder temp;
    const fs::path src = temp.Path() / "src";
    WriteText(src / "index.htm", std::string(5000, 'a') + "<html>");
    WriteText(src / "img/logo.gif", "GIF89a binary");
    WriteText(src / "img/deep/x.css", "body{}");
    const std::string zipPath = (temp.Path() / "site.zip").string();
    ASSERT_EQ(RunShell("cd '" + src.string() + "' && zip -q -r '" + zipPath + "' ."), 0);

    TZipEngine engine;
    engine.SetZipFileName(zipPath);
    int count = 0;
    ASSERT_EQ(engine.Count(count), kZipOk);
    auto listed = ListAll(engine);
    ASSERT_TRUE(listed.count("index.htm"));
    EXPECT_EQ(listed["index.htm"].size, 5006);
    EXPECT_GT(listed["index.htm"].ratio, 90);
    EXPECT_GT(listed["index.htm"].dateTime, 40000.0);
    EXPECT_TRUE(listed.count("img/deep/x.css"));

    // Appending to the tool's archive keeps it valid for the tool.
    WriteText(temp.Path() / "new/page two.htm", "second page");
    engine.SetBaseDirectory((temp.Path() / "new").string());
    engine.SetFilesToProcess({"page two.htm"});
    ASSERT_EQ(engine.Add(kZipAddReplace), kZipOk);
    std::string out;
    EXPECT_EQ(RunShell("unzip -t '" + zipPath + "'", &out), 0) << out;
    EXPECT_NE(out.find("page two.htm"), std::string::npos);
    EXPECT_EQ(ListAll(engine).size(), static_cast<std::size_t>(count) + 1);

    // Extract everything and compare with the sources.
    engine.SetExtractDirectory((temp.Path() / "out").string());
    engine.SetFilesToProcess({"*.*"});
    engine.SetOverwrite(xowAlways);
    ASSERT_EQ(engine.Extract(), kZipOk) << engine.LastError();
    EXPECT_EQ(ReadText(temp.Path() / "out/index.htm"), ReadText(src / "index.htm"));
    EXPECT_EQ(ReadText(temp.Path() / "out/img/deep/x.css"), "body{}");
    EXPECT_EQ(ReadText(temp.Path() / "out/page two.htm"), "second page");

    // Delete a folder's entries by wildcard; the tool sees them gone.
    engine.SetFilesToProcess({"img\\*.*"});
    ASSERT_EQ(engine.Delete(), kZipOk);
    EXPECT_EQ(RunShell("unzip -l '" + zipPath + "'", &out), 0);
    EXPECT_EQ(out.find("logo.gif"), std::string::npos);
    EXPECT_NE(out.find("index.htm"), std::string::npos);

    // Deleting the rest leaves an empty archive, not a missing file.
    engine.SetFilesToProcess({"*.*"});
    ASSERT_EQ(engine.Delete(), kZipOk);
    ASSERT_TRUE(fs::exists(zipPath));
    ASSERT_EQ(engine.Count(count), kZipOk);
    EXPECT_EQ(count, 0);
    engine.SetFilesToProcess({"*.*"});
    EXPECT_EQ(engine.Extract(), kZipEmpty);
}

TEST(TZipEngineTest, ErrorsAndNothingToDo) {
    test::TTempFolder temp;
    TZipEngine engine;
    engine.SetZipFileName((temp.Path() / "missing.zip").string());
    int count = 0;
    EXPECT_EQ(engine.Count(count), kZipNotFound);
    engine.SetFilesToProcess({"*.*"});
    EXPECT_EQ(engine.Extract(), kZipNotFound);

    WriteText(temp.Path() / "junk.zip", std::string(300, 'x'));
    engine.SetZipFileName((temp.Path() / "junk.zip").string());
    EXPECT_EQ(engine.List(), kZipCorrupt);
    WriteText(temp.Path() / "a.txt", "a");
    engine.SetBaseDirectory(temp.Text());
    engine.SetFilesToProcess({"a.txt"});
    EXPECT_EQ(engine.Add(kZipAddReplace), kZipCorrupt);
    EXPECT_EQ(ReadText(temp.Path() / "junk.zip"), std::string(300, 'x'));  // left alone

    engine.SetZipFileName((temp.Path() / "new.zip").string());
    engine.SetFilesToProcess({"a.txt", "nothere.txt"});
    EXPECT_EQ(engine.Add(kZipAddReplace), kZipSkipped);
    ASSERT_EQ(engine.Skipped().size(), 1u);
    EXPECT_EQ(engine.Skipped()[0].name, "nothere.txt");
    EXPECT_TRUE(engine.FilesToProcess().empty());
    engine.SetFilesToProcess({"zzz*.*"});
    EXPECT_EQ(engine.Delete(), kZipNothingToDo);

    // Without paths, two files of the same name cannot both be stored.
    WriteText(temp.Path() / "d1/same.txt", "1");
    WriteText(temp.Path() / "d2/same.txt", "2");
    engine.SetUsePaths(false);
    engine.SetFilesToProcess({"d1/same.txt", "d2/same.txt"});
    EXPECT_EQ(engine.Add(kZipAddReplace), kZipNamesRepeated);
}

TEST(TZipEngineTest, AddModes) {
    // Archive holds old.txt (older than the file) and same.txt (as new as the file); new.txt is
    // not in the archive.
    struct Case {
        TZipAddMode mode;
        bool oldReplaced;
        bool newAdded;
    } cases[] = {{kZipAddReplace, true, true}, {kZipAddFreshen, true, false}, {kZipAddUpdate, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        test::TTempFolder temp;
        TZipEngine engine;
        engine.SetZipFileName((temp.Path() / "a.zip").string());
        engine.SetBaseDirectory(temp.Text());
        WriteText(temp.Path() / "old.txt", "old version");
        WriteText(temp.Path() / "same.txt", "same");
        SetMtime(temp.Path() / "old.txt", 3600);
        SetMtime(temp.Path() / "same.txt", 3600);
        engine.SetFilesToProcess({"old.txt", "same.txt"});
        ASSERT_EQ(engine.Add(kZipAddReplace), kZipOk);
        WriteText(temp.Path() / "old.txt", "new version");
        WriteText(temp.Path() / "same.txt", "SAME");
        SetMtime(temp.Path() / "same.txt", 3600);
        WriteText(temp.Path() / "new.txt", "brand new");

        std::vector<std::string> updated;
        engine.OnUpdating = [&](const TZipEntry& e) { updated.push_back(e.name); };
        engine.SetFilesToProcess({"*.txt"});
        engine.Add(c.mode);
        auto listed = ListAll(engine);
        EXPECT_EQ(listed.count("new.txt") == 1, c.newAdded);
        engine.SetExtractDirectory((temp.Path() / "out").string());
        engine.SetFilesToProcess({"*.*"});
        ASSERT_EQ(engine.Extract(), kZipOk);
        EXPECT_EQ(ReadText(temp.Path() / "out/old.txt"), c.oldReplaced ? "new version" : "old version");
        // Mode 0 replaces regardless of age; the others keep an entry that is not older.
        EXPECT_EQ(ReadText(temp.Path() / "out/same.txt"), c.mode == kZipAddReplace ? "SAME" : "same");
        EXPECT_EQ(listed.size(), c.newAdded ? 3u : 2u);  // a replaced entry is listed once
        std::string out;
        EXPECT_EQ(RunShell("unzip -t '" + engine.ZipFileName() + "'", &out), 0) << out;
    }
}

TEST(TZipEngineTest, OverwriteRules) {
    struct Case {
        TZipOverwrite overwrite;
        TZipReplaceAction answer;
        int code;
        std::string a;  // content of a.txt afterwards ("old" or "new")
        std::string b;
    } cases[] = {
        {xowAlways, xraSkip, kZipOk, "new", "new"},
        {xowNever, xraReplace, kZipOk, "old", "old"},
        {xowAsk, xraSkip, kZipOk, "old", "old"},
        {xowAsk, xraReplace, kZipOk, "new", "new"},
        {xowAsk, xraReplaceAll, kZipOk, "new", "new"},
        {xowAsk, xraCancel, kZipAborted, "old", "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.overwrite) * 10 + c.answer);
        test::TTempFolder temp;
        TZipEngine engine;
        engine.SetZipFileName((temp.Path() / "a.zip").string());
        engine.SetBaseDirectory(temp.Text());
        WriteText(temp.Path() / "a.txt", "new");
        WriteText(temp.Path() / "b.txt", "new");
        engine.SetFilesToProcess({"a.txt", "b.txt"});
        ASSERT_EQ(engine.Add(kZipAddReplace), kZipOk);
        WriteText(temp.Path() / "out/a.txt", "old");
        WriteText(temp.Path() / "out/b.txt", "old");
        int asked = 0;
        engine.OnReplace = [&](const std::string&, std::string&, TZipReplaceAction& action) {
            ++asked;
            action = c.answer;
        };
        engine.SetOverwrite(c.overwrite);
        engine.SetExtractDirectory((temp.Path() / "out").string());
        engine.SetFilesToProcess({"*.*"});
        EXPECT_EQ(engine.Extract(), c.code);
        EXPECT_EQ(ReadText(temp.Path() / "out/a.txt"), c.a);
        EXPECT_EQ(ReadText(temp.Path() / "out/b.txt"), c.b);
        int expectedAsks = c.overwrite != xowAsk ? 0 : (c.answer == xraReplace || c.answer == xraSkip) ? 2 : 1;
        EXPECT_EQ(asked, expectedAsks);
    }
}

TEST(TZipEngineTest, StoredExtensionsAndCompressionLevel) {
    test::TTempFolder temp;
    const std::string text(20000, 'z');
    WriteText(temp.Path() / "inner.ZIP", text);
    WriteText(temp.Path() / "page.htm", text);
    WriteText(temp.Path() / "random.bin", [] {
        std::string s;
        unsigned v = 12345;
        for (int i = 0; i < 50000; ++i) {
            v = v * 1103515245 + 12345;
            s.push_back(static_cast<char>(v >> 16));
        }
        return s;
    }());
    TZipEngine engine;
    engine.SetZipFileName((temp.Path() / "a.zip").string());
    engine.SetBaseDirectory(temp.Text());
    engine.SetFilesToProcess({"inner.ZIP", "page.htm", "random.bin"});
    ASSERT_EQ(engine.Add(kZipAddReplace), kZipOk);
    auto listed = ListAll(engine);
    EXPECT_EQ(listed["inner.ZIP"].compressedSize, 20000);  // stored
    EXPECT_LT(listed["page.htm"].compressedSize, 1000);    // deflated
    EXPECT_EQ(listed["random.bin"].compressedSize, 50000); // incompressible: stored, never larger
    EXPECT_EQ(listed["random.bin"].ratio, 0);

    engine.SetCompression(0);
    engine.SetFilesToProcess({"page.htm"});
    ASSERT_EQ(engine.Add(kZipAddReplace), kZipOk);
    EXPECT_EQ(ListAll(engine)["page.htm"].compressedSize, 20000);
    std::string out;
    EXPECT_EQ(RunShell("unzip -t '" + engine.ZipFileName() + "'", &out), 0) << out;
}

TEST(TZipEngineTest, HostileEntryNamesAreRefused) {
    test::TTempFolder temp;
    const std::string zipPath = (temp.Path() / "evil.zip").string();
    {
        int error = 0;
        zip_t* za = zip_open(zipPath.c_str(), ZIP_CREATE, &error);
        ASSERT_NE(za, nullptr);
        for (const char* name : {"../escape1.txt", "/tmp/escape2.txt", "a\\..\\..\\escape3.txt", "C:\\escape4.txt",
                                 "ok/../../escape5.txt", "ok/good.txt"}) {
            static const char kData[] = "payload";
            zip_source_t* s = zip_source_buffer(za, kData, sizeof kData - 1, 0);
            ASSERT_GE(zip_file_add(za, name, s, ZIP_FL_ENC_RAW), 0) << name;
        }
        ASSERT_EQ(zip_close(za), 0);
    }
    const fs::path out = temp.Path() / "deep/out";
    fs::create_directories(out);
    for (bool usePaths : {true, false}) {
        SCOPED_TRACE(usePaths);
        TZipEngine engine;
        engine.SetZipFileName(zipPath);
        engine.SetExtractDirectory(out.string());
        engine.SetUsePaths(usePaths);
        engine.SetOverwrite(xowAlways);
        engine.SetFilesToProcess({"*.*"});
        EXPECT_EQ(engine.Extract(), kZipSkipped);
        EXPECT_EQ(engine.Skipped().size(), 5u);
        EXPECT_EQ(ReadText(usePaths ? out / "ok/good.txt" : out / "good.txt"), "payload");
        for (const fs::path& p : fs::recursive_directory_iterator(temp.Path())) {
            EXPECT_EQ(p.filename().string().find("escape"), std::string::npos) << p;
        }
    }
    EXPECT_FALSE(fs::exists("/tmp/escape2.txt"));

    struct Case {
        const char* name;
        const char* withPaths;
    } cases[] = {{"a/b.txt", "a/b.txt"}, {"./a//b.txt", "a/b.txt"}, {"a\\b.txt", "a/b.txt"},
                 {"..", ""},           {"a/..", ""},             {"\\x", ""},
                 {"D:x", ""},          {"..\\x", ""},            {"a..b/c..", "a..b/c.."}};
    for (const Case& c : cases) {
        EXPECT_EQ(TZipEngine::SafeEntryPath(c.name, true), c.withPaths) << c.name;
    }
}

TEST(TZipEngineTest, PatternMatching) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*.*", "README", true},          {"*.*", "a/b/c.htm", true},        {"pages\\*.*", "PAGES/x/y.htm", true},
        {"pages/*.*", "other/x.htm", false}, {"*.htm", "a/index.HTM", true}, {"a/b.txt", "A/B.TXT", true},
        {"a/b.txt", "a/b.txt2", false},   {"?.gif", "x.gif", true},          {"[a].txt", "[a].txt", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TZipEngine::MatchesPattern(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
    }
}

TEST(TZipEngineTest, ArchivesTheAppenderLeavesToLibzip) {
    // A Zip64 archive from the tool: adding still works and the tool still reads it.
    test::TTempFolder temp;
    WriteText(temp.Path() / "a.txt", "alpha");
    WriteText(temp.Path() / "b.txt", "beta");
    const std::string zipPath = (temp.Path() / "z64.zip").string();
    ASSERT_EQ(RunShell("cd '" + temp.Path().string() + "' && zip -q -fz '" + zipPath + "' a.txt"), 0);
    TZipEngine engine;
    engine.SetZipFileName(zipPath);
    engine.SetBaseDirectory(temp.Text());
    engine.SetFilesToProcess({"b.txt"});
    ASSERT_EQ(engine.Add(kZipAddReplace), kZipOk) << engine.LastError();
    EXPECT_EQ(ListAll(engine).size(), 2u);
    std::string out;
    EXPECT_EQ(RunShell("unzip -t '" + zipPath + "'", &out), 0) << out;
}

TEST(TZipEngineTest, ResultTable) {
    struct Case {
        int code;
        TZipYield yield;
        TZipMessageKind kind;
        const char* message;
    } cases[] = {
        {0, TZipYield::Success, TZipMessageKind::None, ""},
        {-3, TZipYield::Success, TZipMessageKind::None, ""},
        {10, TZipYield::SuccessWithNote, TZipMessageKind::None, ""},
        {140, TZipYield::SuccessWithNote, TZipMessageKind::None, ""},
        {40, TZipYield::SuccessWithNote, TZipMessageKind::Information, "Some files were skipped while adding."},
        {50, TZipYield::SuccessWithNote, TZipMessageKind::Information, "The Zip file is empty."},
        {100, TZipYield::Error, TZipMessageKind::Error, "Could not find the archive file."},
        {160, TZipYield::Error, TZipMessageKind::Error,
         "The archive file is corrupted. Try using the Fix option on it."},
        {150, TZipYield::Error, TZipMessageKind::Error, "Disk full while adding."},
        {190, TZipYield::Error, TZipMessageKind::None, ""},
        {370, TZipYield::Error, TZipMessageKind::Error, "Names repeated in archive after discarding pathnames."},
        {999, TZipYield::Error, TZipMessageKind::Error, "An error occured while adding the specified files."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        TZipResultView view = InterpretZipResult(c.code, "adding");
        EXPECT_EQ(view.yield, c.yield);
        EXPECT_EQ(view.kind, c.kind);
        EXPECT_EQ(view.message, c.message);
    }
    EXPECT_EQ(InterpretZipResult(120, "extracting").message, "Ran out of memory while extracting.");
}

double ProcessCpuMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Packs count small files in ticks of 50 into a fresh archive; returns microseconds of CPU time
// (user and system, every thread of the process) per file for the last tenth of the run, where
// the archive is largest. CPU time rather than the clock on the wall: other work on a busy
// machine must not decide the result, while a rewrite of the archive still costs its copying.
double PackInTicks(const fs::path& folder, int count) {
    TZipEngine engine;
    engine.SetZipFileName((folder / "site.zip").string());
    engine.SetBaseDirectory(folder.string());
    for (int i = 0; i < count; ++i) {
        WriteText(folder / ("d" + std::to_string(i / 100)) / ("f" + std::to_string(i) + ".htm"),
                  "<html>page " + std::to_string(i) + std::string(200, 'x') + "</html>");
    }
    double lastTenth = 0;
    for (int start = 0; start < count; start += 50) {
        std::vector<std::string> names;
        for (int i = start; i < std::min(count, start + 50); ++i) {
            names.push_back("d" + std::to_string(i / 100) + "/f" + std::to_string(i) + ".htm");
        }
        engine.SetFilesToProcess(names);
        const double t0 = ProcessCpuMicroseconds();
        EXPECT_EQ(engine.Add(kZipAddReplace), kZipOk);
        if (start >= count - count / 10) {
            lastTenth += ProcessCpuMicroseconds() - t0;
        }
    }
    int entries = 0;
    EXPECT_EQ(engine.Count(entries), kZipOk);
    EXPECT_EQ(entries, count);
    return lastTenth / (count / 10);
}

TEST(TZipEngineTest, AppendCostPerFileStaysFlat) {
    test::TTempFolder small;
    test::TTempFolder large;
    double perFileSmall = PackInTicks(small.Path(), 1000);
    double perFileLarge = PackInTicks(large.Path(), 10000);
    std::printf("append cost per file: %.1f us at 1,000 files, %.1f us at 10,000 files\n", perFileSmall,
                perFileLarge);
    // Only the directory grows per tick; a rewrite of the whole archive would be ~10 times slower.
    EXPECT_LT(perFileLarge, perFileSmall * 6 + 200);
}

// A child packs ticks and reports each finished one; it is killed at once after the nth report,
// in the middle of the next tick. Whatever was reported must survive, for us and for unzip.
TEST(TZipEngineTest, KilledDuringPackingLeavesAValidArchive) {
    test::TTempFolder temp;
    const int kTicks = 40;
    const int kPerTick = 20;
    for (int i = 0; i < kTicks * kPerTick; ++i) {
        std::string body = "file " + std::to_string(i);
        while (body.size() < 30000) {
            body += " " + std::to_string(body.size() * 7919 % 10007);
        }
        WriteText(temp.Path() / "files" / ("f" + std::to_string(i) + ".txt"), body);
    }
    for (int killAfter : {1, 3, 6, 10, 15}) {
        SCOPED_TRACE(killAfter);
        const std::string zipPath = (temp.Path() / ("k" + std::to_string(killAfter) + ".zip")).string();
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(fds[0]);
            TZipEngine engine;
            engine.SetZipFileName(zipPath);
            engine.SetBaseDirectory((temp.Path() / "files").string());
            for (int t = 0; t < kTicks; ++t) {
                std::vector<std::string> names;
                for (int i = t * kPerTick; i < (t + 1) * kPerTick; ++i) {
                    names.push_back("f" + std::to_string(i) + ".txt");
                }
                engine.SetFilesToProcess(names);
                if (engine.Add(kZipAddReplace) != kZipOk) {
                    ::_exit(2);
                }
                char done = 1;
                if (::write(fds[1], &done, 1) != 1) {
                    ::_exit(3);
                }
            }
            ::_exit(0);
        }
        ::close(fds[1]);
        int reported = 0;
        char byte;
        while (reported < killAfter && ::read(fds[0], &byte, 1) == 1) {
            ++reported;
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(fds[0]);
        ASSERT_EQ(reported, killAfter);

        TZipEngine engine;
        engine.SetZipFileName(zipPath);
        int count = 0;
        ASSERT_EQ(engine.Count(count), kZipOk);
        EXPECT_GE(count, killAfter * kPerTick);
        EXPECT_EQ(count % kPerTick, 0);  // a tick is all or nothing
        std::string out;
        EXPECT_EQ(RunShell("unzip -tq '" + zipPath + "'", &out), 0) << out;
        engine.SetExtractDirectory((temp.Path() / "check").string());
        engine.SetOverwrite(xowAlways);
        engine.SetFilesToProcess({"*.*"});
        ASSERT_EQ(engine.Extract(), kZipOk) << engine.LastError();
        for (int i = 0; i < count; ++i) {
            std::string name = "f" + std::to_string(i) + ".txt";
            ASSERT_EQ(ReadText(temp.Path() / "check" / name), ReadText(temp.Path() / "files" / name)) << name;
        }
        // Packing goes on after the crash.
        engine.SetBaseDirectory((temp.Path() / "files").string());
        engine.SetFilesToProcess({"f799.txt"});
        EXPECT_EQ(engine.Add(kZipAddReplace), kZipOk);
        EXPECT_EQ(RunShell("unzip -tq '" + zipPath + "'", &out), 0) << out;
    }
}

// The file size limit ends a child (SIGXFSZ) while an add grows the file past the room for the
// new file, before it copies the directory there: the file then ends far past the archive's own
// end record, with what the add wrote so far.
TEST(TZipEngineTest, KilledWhileCopyingTheDirectoryLeavesARecoverableArchive) {
    test::TTempFolder temp;
    const fs::path files = temp.Path() / "files";
    std::vector<std::string> names;
    for (int i = 0; i < 2000; ++i) {
        names.push_back("f" + std::to_string(i) + ".txt");
        WriteText(files / names.back(), "small file " + std::to_string(i));
    }
    std::string big;
    for (unsigned v = 7; big.size() < 300000;) {
        v = v * 1103515245 + 12345;
        big.push_back(static_cast<char>(v >> 16));
    }
    WriteText(files / "big.bin", big);
    const std::string zipPath = (temp.Path() / "site.zip").string();
    TZipEngine engine;
    engine.SetZipFileName(zipPath);
    engine.SetBaseDirectory(files.string());
    engine.SetFilesToProcess(names);
    ASSERT_EQ(engine.Add(kZipAddReplace), kZipOk);
    const auto size = static_cast<std::int64_t>(fs::file_size(zipPath));
    const std::string end = ReadText(zipPath).substr(static_cast<std::size_t>(size) - kZipEndSize);
    const std::int64_t directorySize = ZipGet32(end, 12);
    ASSERT_GT(directorySize, 50000);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        // Past the gap for big.bin, half way into the copy.
        const auto limit = static_cast<rlim_t>(size + 300000 + 200 + directorySize / 2);
        struct rlimit fileSize{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        ::signal(SIGXFSZ, SIG_DFL);
        TZipEngine killed;
        killed.SetZipFileName(zipPath);
        killed.SetBaseDirectory(files.string());
        killed.SetFilesToProcess({"big.bin"});
        killed.Add(kZipAddReplace);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    const auto tornSize = static_cast<std::int64_t>(fs::file_size(zipPath));
    EXPECT_GT(tornSize, size + 300000);
    EXPECT_EQ(ZipSizeBeforeTornTail(zipPath), size);

    // Read as it was before the add; its dead space counts the torn bytes.
    int count = 0;
    ASSERT_EQ(engine.Count(count), kZipOk) << engine.LastError();
    EXPECT_EQ(count, 2000);
    EXPECT_EQ(ListAll(engine).size(), 2000u);
    const TZipSpace space = MeasureZipSpace(zipPath);
    ASSERT_TRUE(space.measured) << space.error;
    EXPECT_EQ(space.deadBytes, tornSize - size);

    // Deleting through libzip first cuts the torn bytes off.
    const std::string copy = (temp.Path() / "copy.zip").string();
    fs::copy_file(zipPath, copy);
    TZipEngine other;
    other.SetZipFileName(copy);
    other.SetFilesToProcess({"f0.txt"});
    EXPECT_EQ(other.Delete(), kZipOk) << other.LastError();
    EXPECT_EQ(ListAll(other).size(), 1999u);
    std::string out;
    EXPECT_TRUE(test::UnzipTest(copy, &out)) << out;

    // The next add writes over the torn bytes and ends the file cleanly.
    engine.SetFilesToProcess({"big.bin"});
    ASSERT_EQ(engine.Add(kZipAddReplace), kZipOk) << engine.LastError();
    EXPECT_EQ(ListAll(engine).size(), 2001u);
    EXPECT_EQ(ZipSizeBeforeTornTail(zipPath), 0);
    EXPECT_TRUE(test::UnzipTest(zipPath, &out)) << out;
    EXPECT_EQ(MeasureZipSpace(zipPath).deadBytes, 0);
}

// Archives from the zip tool: entries with data descriptors and an archive comment.
TEST(TZipEngineTest, CompactionKeepsWhatTheZipToolWrote) {
    test::TTempFolder temp;
    const std::string zipPath = (temp.Path() / "tool.zip").string();
    WriteText(temp.Path() / "a.txt", std::string(40000, 'a'));
    WriteText(temp.Path() / "b.txt", "bee");
    // Written to a pipe, the tool cannot seek back: its entry "-" carries a data descriptor.
    ASSERT_EQ(RunShell("cd '" + temp.Path().string() + "' && cat a.txt | zip -q -fz- - - | cat > '" + zipPath +
                       "' && zip -q '" + zipPath + "' a.txt b.txt && echo 'the archive comment' | zip -q -z '" +
                       zipPath + "'"),
              0);
    TZipSpace space = MeasureZipSpace(zipPath);
    ASSERT_TRUE(space.measured) << space.error;
    EXPECT_EQ(space.deadBytes, 0);

    // Replaced by us: the tool's old a.txt becomes dead space.
    TZipEngine engine;
    engine.SetZipFileName(zipPath);
    engine.SetBaseDirectory(temp.Text());
    WriteText(temp.Path() / "a.txt", std::string(30000, 'A') + "changed");
    engine.SetFilesToProcess({"a.txt"});
    ASSERT_EQ(engine.Add(kZipAddReplace), kZipOk) << engine.LastError();
    space = MeasureZipSpace(zipPath);
    EXPECT_GT(space.deadBytes, 0);
    const std::vector<test::TStoredZipEntry> before = test::StoredZipEntries(zipPath);
    ASSERT_EQ(before.size(), 3u);

    const TZipCompaction compaction = CompactZip(zipPath);
    ASSERT_TRUE(compaction.rewritten) << compaction.error;
    EXPECT_EQ(compaction.sizeBefore, space.fileSize);
    EXPECT_EQ(compaction.sizeAfter, space.liveBytes);
    EXPECT_EQ(test::StoredZipEntries(zipPath), before);
    EXPECT_EQ(MeasureZipSpace(zipPath).deadBytes, 0);
    std::string out;
    EXPECT_TRUE(test::UnzipTest(zipPath, &out)) << out;
    EXPECT_EQ(RunShell("unzip -z '" + zipPath + "'", &out), 0);
    EXPECT_NE(out.find("the archive comment"), std::string::npos) << out;
    engine.SetExtractDirectory((temp.Path() / "out").string());
    engine.SetOverwrite(xowAlways);
    engine.SetFilesToProcess({"*.*"});
    ASSERT_EQ(engine.Extract(), kZipOk) << engine.LastError();
    EXPECT_EQ(ReadText(temp.Path() / "out/-"), std::string(40000, 'a'));
    EXPECT_EQ(ReadText(temp.Path() / "out/a.txt"), std::string(30000, 'A') + "changed");

    // Not a Zip file: measured as unreadable and left alone.
    WriteText(temp.Path() / "junk.zip", std::string(300, 'x'));
    EXPECT_EQ(MeasureZipSpace((temp.Path() / "junk.zip").string()).code, kZipCorrupt);
    EXPECT_FALSE(CompactZip((temp.Path() / "junk.zip").string()).rewritten);
    EXPECT_EQ(ReadText(temp.Path() / "junk.zip"), std::string(300, 'x'));
}

} // namespace
} // namespace pellix
