#include "workspace/settings_store.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "links/file_io.h"
#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

const std::string kKey = "\\Software\\Brackwell\\Pellix\\Settings";

TEST(TSettingsStoreTest, ReadsEachTypeAndFallsBackOnMissingOrWrongType)
{
    test::TTempFolder temp;
    TSettingsStore store(temp.Path() / "registry.ini");
    ASSERT_TRUE(store.WriteSetting(kKey, "Int", -42));
    ASSERT_TRUE(store.WriteSetting(kKey, "Bool", true));
    ASSERT_TRUE(store.WriteSetting(kKey, "Double", 0.1));
    ASSERT_TRUE(store.WriteSetting(kKey, "Text", "hello"));

    EXPECT_EQ(store.ReadSetting(kKey, "Int", 7), -42);
    EXPECT_TRUE(store.ReadSetting(kKey, "Bool", false));
    EXPECT_EQ(store.ReadSetting(kKey, "Double", 9.0), 0.1);
    EXPECT_EQ(store.ReadSetting(kKey, "Text", "x"), "hello");

    // Wrong type: the default.
    EXPECT_EQ(store.ReadSetting(kKey, "Text", 7), 7);
    EXPECT_EQ(store.ReadSetting(kKey, "Int", "dflt"), "dflt");
    EXPECT_EQ(store.ReadSetting(kKey, "Text", 2.5), 2.5);
    EXPECT_TRUE(store.ReadSetting(kKey, "Double", true));
    // Missing value, missing key.
    EXPECT_EQ(store.ReadSetting(kKey, "Nope", 3), 3);
    EXPECT_EQ(store.ReadSetting("\\No\\Such\\Key", "Int", 4), 4);
    // Booleans are stored as integers 0/1.
    store.WriteSetting(kKey, "Bool", false);
    EXPECT_EQ(store.ReadSetting(kKey, "Bool", 5), 0);

    // Key paths and names ignore case and redundant backslashes.
    EXPECT_EQ(store.ReadSetting("software\\BRACKWELL\\pellix\\settings\\", "int", 0), -42);
}

TEST(TSettingsStoreTest, KeepsStoredOrderAndDeletes)
{
    test::TTempFolder temp;
    TSettingsStore store(temp.Path() / "registry.ini");
    const std::string key = "\\Software\\Brackwell\\Pellix\\File Types";
    store.WriteSetting(key, "HTML", ".htm;");
    store.WriteSetting(key, "Images", ".gif;");
    store.WriteSetting(key, "Audio", ".mp3;");
    store.WriteSetting(key, "images", ".gif;.jpg;"); // same value, keeps its place and name
    store.WriteSetting(key, "Count", 3);

    EXPECT_EQ(store.SettingNames(key), (std::vector<std::string>{"HTML", "Images", "Audio", "Count"}));
    EXPECT_EQ(store.SettingValues(key), (std::vector<std::string>{".htm;", ".gif;.jpg;", ".mp3;", "3"}));

    EXPECT_TRUE(store.DeleteSetting(key, "images"));
    EXPECT_FALSE(store.DeleteSetting(key, "images"));
    EXPECT_EQ(store.SettingNames(key), (std::vector<std::string>{"HTML", "Audio", "Count"}));

    const std::string pellix = "\\Software\\Brackwell\\Pellix";
    store.WriteSetting(pellix + "\\Recent URLs", "F0", "http://a/");
    store.WriteSetting(pellix + "\\Recent URLs\\Deeper", "X", 1);
    EXPECT_EQ(store.SubKeyNames(pellix), (std::vector<std::string>{"File Types", "Recent URLs"}));
    EXPECT_TRUE(store.KeyExists("\\Software\\Brackwell")); // exists through its sub-keys

    EXPECT_TRUE(store.DeleteKey(pellix + "\\Recent URLs"));
    EXPECT_FALSE(store.KeyExists(pellix + "\\Recent URLs\\Deeper"));
    EXPECT_EQ(store.ReadSetting(pellix + "\\Recent URLs", "F0", "gone"), "gone");
    EXPECT_EQ(store.SettingNames(key).size(), 3u);

    // Everything above is on disk: a fresh store sees the same.
    TSettingsStore again(temp.Path() / "registry.ini");
    EXPECT_EQ(again.SettingNames(key), (std::vector<std::string>{"HTML", "Audio", "Count"}));
    EXPECT_EQ(again.SubKeyNames(pellix), (std::vector<std::string>{"File Types"}));
}

// Another process's write, made the way the desktop program or the command line makes it.
void WriteInAnotherProcess(const std::filesystem::path& file, const std::function<bool(TSettingsStore&)>& write)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TSettingsStore other(file);
        ::_exit(write(other) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(TSettingsStoreTest, ValueWrittenByAnotherProcessIsSeen)
{
    test::TTempFolder temp;
    const auto file = temp.Path() / "registry.ini";
    std::chrono::steady_clock::time_point now{};
    TSettingsStore store(file, [&] { return now; });
    store.WriteSetting(kKey, "Skin", "Default");
    EXPECT_EQ(store.ReadSetting(kKey, "Skin", ""), "Default");

    WriteInAnotherProcess(file, [](TSettingsStore& other) {
        return other.WriteSetting(kKey, "Skin", "Blue") && other.WriteSetting(kKey, "Priority", 9);
    });
    // Reads trust memory until the interval has passed, then find the new file.
    now += TSettingsStore::kRecheckInterval - std::chrono::milliseconds(1);
    EXPECT_EQ(store.ReadSetting(kKey, "Skin", ""), "Default");
    now += std::chrono::milliseconds(1);
    EXPECT_EQ(store.ReadSetting(kKey, "Skin", ""), "Blue");
    EXPECT_EQ(store.ReadSetting(kKey, "Priority", 5), 9);

    // A write looks at the file at once: it starts from the other process's values instead of
    // saving over them, and this store's reads see them from then on.
    WriteInAnotherProcess(file, [](TSettingsStore& other) { return other.WriteSetting(kKey, "Priority", 7); });
    EXPECT_EQ(store.ReadSetting(kKey, "Priority", 5), 9);
    ASSERT_TRUE(store.WriteSetting(kKey, "Connections", 4));
    EXPECT_EQ(store.ReadSetting(kKey, "Priority", 5), 7);
    EXPECT_EQ(store.ReadSetting(kKey, "Connections", 10), 4);
    TSettingsStore fresh(file);
    EXPECT_EQ(fresh.ReadSetting(kKey, "Priority", 5), 7);
    EXPECT_EQ(fresh.ReadSetting(kKey, "Connections", 10), 4);

    // A file removed by someone else leaves the defaults once the interval has passed.
    std::filesystem::remove(file);
    EXPECT_EQ(store.ReadSetting(kKey, "Priority", 5), 7);
    now += TSettingsStore::kRecheckInterval;
    EXPECT_EQ(store.ReadSetting(kKey, "Priority", 5), 5);
}

TEST(TSettingsStoreTest, OddBytesRoundTripInNamesAndValues)
{
    test::TTempFolder temp;
    const std::vector<std::string> texts = {
        "",
        "line1\r\nline2\n",
        "quote \" and back\\slash\\",
        std::string("nul\0inside", 10),
        "\x01\x1f\x7f\x80\xff",
        "[\\Software\\Fake]",
        "=dword:00000001",
        "; not a comment",
        "trailing blanks   ",
        "\\x41 literally",
    };
    {
        TSettingsStore store(temp.Path() / "registry.ini");
        for (std::size_t i = 0; i < texts.size(); ++i) {
            ASSERT_TRUE(store.WriteSetting(kKey, "v" + std::to_string(i), texts[i]));
            if (!texts[i].empty()) {
                ASSERT_TRUE(store.WriteSetting(kKey, "n:" + texts[i], static_cast<int>(i)));
            }
        }
        ASSERT_TRUE(store.WriteSetting(kKey, "", "the default value"));
    }
    TSettingsStore store(temp.Path() / "registry.ini");
    for (std::size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(store.ReadSetting(kKey, "v" + std::to_string(i), "?"), texts[i]);
        if (!texts[i].empty()) {
            EXPECT_EQ(store.ReadSetting(kKey, "n:" + texts[i], -1), static_cast<int>(i));
        }
    }
    EXPECT_EQ(store.ReadSetting(kKey, "", "?"), "the default value");
    EXPECT_EQ(store.SubKeyNames("\\Software"), (std::vector<std::string>{"Brackwell"}));
}

TEST(TSettingsStoreTest, FileCutShortAtAnyByteLoadsOnlyTrueValues)
{
    test::TTempFolder temp;
    const auto full = temp.Path() / "full.ini";
    std::map<std::string, TSettingValue> written;
    {
        TSettingsStore store(full);
        const std::pair<std::string, TSettingValue> values[] = {
            {"Connections", TSettingValue::Dword(0x12345678)},
            {"Ratio", TSettingValue::Double(1234.5678)},
            {"Proxy", TSettingValue::String("proxy.example:8080")},
            {"Flag", TSettingValue::Binary(std::string("\x01\x00\x00\x00", 4))},
            {"Priority", TSettingValue::Dword(5)},
        };
        for (const auto& [name, value] : values) {
            ASSERT_TRUE(store.WriteValue(kKey, name, value));
            written[name] = value;
        }
        store.WriteSetting("\\Software\\Other", "Last", "end");
    }
    const std::string bytes = *ReadWholeFile(full);
    std::size_t lastCount = 0;
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        const auto file = temp.Path() / "cut.ini";
        ASSERT_TRUE(WriteFileAtomically(file, bytes.substr(0, cut)));
        TSettingsStore store(file);
        std::size_t count = 0;
        for (const auto& [name, value] : written) {
            TSettingValue read;
            if (store.ReadValue(kKey, name, read)) {
                EXPECT_TRUE(read == value) << name; // never a different value
                ++count;
            }
        }
        EXPECT_GE(count, lastCount); // what was complete stays loaded
        lastCount = count;
    }
    EXPECT_EQ(lastCount, written.size());
}

TEST(TSettingsStoreTest, WriteFailureIsReported)
{
    test::TTempFolder temp;
    std::ofstream(temp.Path() / "plain-file") << "x";
    TSettingsStore store(temp.Path() / "plain-file" / "registry.ini");
    EXPECT_FALSE(store.WriteSetting(kKey, "Skin", "Blue"));
    EXPECT_FALSE(store.LastError().empty());
    EXPECT_FALSE(store.WriteSetting("\\Bad\nKey", "Skin", "Blue"));
}

TEST(TSettingsStoreTest, ConcurrentReadersAndWriters)
{
    test::TTempFolder temp;
    TSettingsStore store(temp.Path() / "registry.ini");
    constexpr int kRounds = 20;
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i <= kRounds; ++i)
                store.WriteSetting(kKey, "Writer" + std::to_string(t), i);
        });
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i) {
            const int v = store.ReadSetting(kKey, "Writer0", 0);
            EXPECT_TRUE(v >= 0 && v <= kRounds);
            store.SettingNames(kKey);
        }
    });
    for (std::thread& thread : threads)
        thread.join();
    TSettingsStore fresh(temp.Path() / "registry.ini");
    for (int t = 0; t < 3; ++t)
        EXPECT_EQ(fresh.ReadSetting(kKey, "Writer" + std::to_string(t), -1), kRounds);
}

} // namespace
} // namespace pellix
