// TZipAppender: files on either side of the size read whole, and an append cut short at each of
// its writes (as a kill leaves it), checked with the zip tool, libzip and the next append.
#include "workspace/zip_appender.h"

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>

#include "links/file_io.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zip_entries.h"
#include "workspace/zip_engine.h"
#include "workspace/zip_format.h"
#include "workspace/zip_result.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

using test::WriteText;

std::string Noise(std::size_t size, unsigned seed) {
    std::string s;
    s.reserve(size);
    for (unsigned v = seed; s.size() < size;) {
        v = v * 1103515245 + 12345;
        s.push_back(static_cast<char>(v >> 16));
    }
    return s;
}

std::string Text(std::size_t size, int seed) {
    std::string s;
    s.reserve(size + 16);
    for (int i = seed; s.size() < size; ++i) {
        s += "<p>line " + std::to_string(i * 7919 % 100003) + "</p>\n";
    }
    s.resize(size);
    return s;
}

// Through the engine, which reads what a cut add left as the archive before it.
std::set<std::string> ListedNames(TZipEngine& engine) {
    std::set<std::string> names;
    engine.SetFilesToProcess({"*.*"});
    engine.OnListing = [&](const TZipEntry& e) { names.insert(e.name); };
    EXPECT_EQ(engine.List(), kZipOk) << engine.LastError();
    engine.OnListing = nullptr;
    return names;
}

TZipAddItem Item(const fs::path& source, const std::string& name) {
    TZipAddItem item;
    item.sourcePath = source.string();
    item.entryName = name;
    item.size = static_cast<std::int64_t>(fs::file_size(source));
    item.dosTime = (45u << 25) | (1u << 21) | (1u << 16);  // 2025-01-01
    return item;
}

TEST(TZipAppenderTest, FilesEitherSideOfTheWholeFileSizeRoundTrip) {
    test::TTempFolder temp;
    const std::size_t mib = 1024 * 1024;
    struct TCase {
        std::string name;
        std::string body;
    };
    const std::vector<TCase> cases = {
        {"empty.txt", ""},
        {"one.txt", "x"},
        {"page.html", Text(30000, 1)},
        {"at-limit.html", Text(4 * mib, 2)},
        {"past-limit.html", Text(4 * mib + 1, 3)},
        {"noise-small.bin", Noise(70000, 4)},
        {"noise-big.bin", Noise(4 * mib + 4096, 5)},
    };
    for (int level : {1, 6, 9}) {
        SCOPED_TRACE(level);
        const std::string zipPath = (temp.Path() / ("l" + std::to_string(level) + ".zip")).string();
        TZipEngine engine;
        engine.SetZipFileName(zipPath);
        engine.SetCompression(level);
        std::vector<TZipAddItem> items;
        for (const TCase& c : cases) {
            WriteText(temp.Path() / "src" / c.name, c.body);
            items.push_back(Item(temp.Path() / "src" / c.name, c.name));
        }
        TZipAppender appender(engine);
        ASSERT_EQ(appender.Append(items, kZipAddReplace), kZipOk) << appender.LastError();
        for (const TZipAddItem& item : items) {
            SCOPED_TRACE(item.entryName);
            EXPECT_TRUE(item.written);
            // Compressing pays for text only; noise and tiny files are stored, never larger.
            const bool text = item.entryName.find(".html") != std::string::npos;
            EXPECT_EQ(item.deflated, text);
            EXPECT_LE(item.packed, item.size);
            if (text) {
                EXPECT_LT(item.packed, item.size / 3);
            }
        }
        std::string out;
        ASSERT_TRUE(test::UnzipTest(zipPath, &out)) << out;
        engine.SetExtractDirectory((temp.Path() / ("out" + std::to_string(level))).string());
        engine.SetFilesToProcess({"*.*"});
        ASSERT_EQ(engine.Extract(), kZipOk) << engine.LastError();
        for (const TCase& c : cases) {
            EXPECT_EQ(ReadWholeFile(temp.Path() / ("out" + std::to_string(level)) / c.name).value_or("<missing>"),
                      c.body)
                << c.name;
        }
    }
}

// An append stopped part way through one of its writes, and nothing written after it: the file
// must be, for the zip tool and for the engine, the archive before the append or the one after
// it, and the next append must go on from it and end the file cleanly for libzip as well. The directory and the room for the new files are
// larger than the reach of a reader's search for the end record (64 KiB), as on a real site.
TEST(TZipAppenderTest, EveryCutOfAnAppendLeavesTheOldOrTheNewArchive) {
    test::TTempFolder temp;
    const fs::path files = temp.Path() / "files";
    std::vector<std::string> oldNames;
    for (int i = 0; i < 1200; ++i) {
        oldNames.push_back("section-" + std::to_string(i / 100) + "/page-" + std::to_string(i) + ".html");
        WriteText(files / oldNames.back(), "page " + std::to_string(i));
    }
    const std::string base = (temp.Path() / "base.zip").string();
    {
        TZipEngine engine;
        engine.SetZipFileName(base);
        engine.SetBaseDirectory(files.string());
        engine.SetFilesToProcess(oldNames);
        ASSERT_EQ(engine.Add(kZipAddReplace), kZipOk) << engine.LastError();
    }
    {
        const std::string bytes = ReadWholeFile(base).value_or("");
        ASSERT_GT(ZipGet32(bytes, bytes.size() - kZipEndSize + 12), 0x10000u);
    }
    WriteText(files / "big.bin", Noise(150000, 9));
    WriteText(files / "manual.html", Text(120000, 7));
    WriteText(files / "section-3/page-300.html", "page 300, changed");
    const std::set<std::string> before(oldNames.begin(), oldNames.end());
    std::set<std::string> after = before;
    after.insert({"big.bin", "manual.html"});

    auto items = [&] {
        std::vector<TZipAddItem> list;
        for (const char* name : {"big.bin", "manual.html", "section-3/page-300.html"}) {
            list.push_back(Item(files / name, name));
        }
        return list;
    };
    const std::string zipPath = (temp.Path() / "cut.zip").string();

    // The writes of a whole append, by size.
    std::vector<std::size_t> sizes;
    {
        fs::copy_file(base, zipPath, fs::copy_options::overwrite_existing);
        TZipEngine engine;
        engine.SetZipFileName(zipPath);
        TZipAppender appender(engine);
        appender.SetWriteCut([&](int, std::size_t size) {
            sizes.push_back(size);
            return size;
        });
        std::vector<TZipAddItem> list = items();
        ASSERT_EQ(appender.Append(list, kZipAddReplace), kZipOk) << appender.LastError();
        ASSERT_EQ(test::ZipEntryNames(zipPath), after);
    }
    ASSERT_GT(sizes.size(), 8u);

    for (std::size_t write = 0; write < sizes.size(); ++write) {
        std::set<std::size_t> cuts = {0, 1, 3, 4, 5, sizes[write] / 2, sizes[write] - 1};
        for (std::size_t cut : cuts) {
            if (cut >= sizes[write]) {
                continue;
            }
            SCOPED_TRACE("write " + std::to_string(write) + " of " + std::to_string(sizes[write]) +
                         " bytes, cut after " + std::to_string(cut));
            fs::copy_file(base, zipPath, fs::copy_options::overwrite_existing);
            TZipEngine engine;
            engine.SetZipFileName(zipPath);
            engine.SetBaseDirectory(files.string());
            {
                TZipAppender appender(engine);
                appender.SetWriteCut([&](int n, std::size_t size) {
                    return static_cast<std::size_t>(n) == write ? cut : size;
                });
                std::vector<TZipAddItem> list = items();
                EXPECT_NE(appender.Append(list, kZipAddReplace), kZipOk);
            }
            std::string out;
            EXPECT_TRUE(test::UnzipTest(zipPath, &out)) << out;
            const std::set<std::string> names = ListedNames(engine);
            EXPECT_TRUE(names == before || names == after) << names.size() << " entries";
            // Our own reader agrees, and the next append writes over whatever the cut left.
            TZipDirectory directory;
            {
                TZipFd fd(::open(zipPath.c_str(), O_RDONLY | O_CLOEXEC));
                ASSERT_EQ(ReadZipDirectory(fd.Get(), static_cast<std::int64_t>(fs::file_size(zipPath)), directory),
                          kZipOk);
            }
            EXPECT_TRUE(directory.simple);
            EXPECT_EQ(directory.count, names.size());
            engine.SetFilesToProcess({"manual.html"});
            ASSERT_EQ(engine.Add(kZipAddReplace), kZipOk) << engine.LastError();
            std::set<std::string> next = names;
            next.insert("manual.html");
            EXPECT_EQ(ListedNames(engine), next);
            EXPECT_EQ(test::ZipEntryNames(zipPath), next);  // plain libzip too, once the add is done
            EXPECT_TRUE(test::UnzipTest(zipPath, &out)) << out;
        }
    }
}

} // namespace
} // namespace pellix
