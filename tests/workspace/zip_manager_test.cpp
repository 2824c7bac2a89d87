// TZipManager: operations off the owner thread, their results back on it, a file that is not a
// Zip, hostile entry names, and a running task's Zip kept from every change.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "engine/loop_owner_thread.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zip_entries.h"
#include "workspace/zip_manager.h"

using namespace pellix;
namespace fs = std::filesystem;

namespace {

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

struct TManagerFixture {
    TManagerFixture() : manager(std::make_unique<TZipManager>(owner)) {}
    ~TManagerFixture() {
        owner.Call([&] { manager.reset(); });
        owner.Stop();
    }
    // Runs start on the owner thread and waits for the result it hands back.
    template <typename TResult>
    TResult Run(const std::function<bool(TZipManager&, std::function<void(TResult)>)>& start) {
        std::promise<TResult> result;
        bool started = false;
        owner.Call([&] { started = start(*manager, [&](TResult r) { result.set_value(std::move(r)); }); });
        EXPECT_TRUE(started);
        if (!started) {
            return {};
        }
        return result.get_future().get();
    }
    std::string Zip(const std::vector<std::pair<std::string, std::string>>& files) {
        for (const auto& [name, text] : files) {
            WriteText(temp.Path() / "src" / name, text);
        }
        const std::string zip = (temp.Path() / "site.zip").string();
        TZipEngine engine;
        engine.SetZipFileName(zip);
        engine.SetBaseDirectory((temp.Path() / "src").string());
        std::vector<std::string> names;
        for (const auto& f : files) {
            names.push_back(f.first);
        }
        engine.SetFilesToProcess(names);
        EXPECT_EQ(engine.Add(kZipAddReplace), kZipOk);
        return zip;
    }

    test::TTempFolder temp;
    TLoopOwnerThread owner;
    std::unique_ptr<TZipManager> manager;
};

} // namespace

TEST(TZipManagerTest, OpenListsOffTheOwnerThreadWithProgressAndATree) {
    TManagerFixture f;
    const std::string zip = f.Zip({{"a/index.htm", "<p>"}, {"a/b/logo.gif", "GIF"}, {"top.txt", "t"}});
    std::vector<std::int64_t> positions;
    bool progressOnOwner = true;
    f.owner.Call([&] {
        f.manager->OnProgress = [&](const std::string&, std::int64_t position, std::int64_t maximum) {
            progressOnOwner = progressOnOwner && f.owner.IsOwnerThread();
            if (maximum > 0) {
                positions.push_back(position);
            }
        };
    });
    TZipListing listing = f.Run<TZipListing>([&](TZipManager& m, auto done) { return m.Open(zip, done); });
    ASSERT_EQ(listing.code, kZipOk);
    ASSERT_TRUE(listing.tree);
    EXPECT_EQ(listing.rows.size(), 3u);
    EXPECT_NE(listing.tree->FindEntry("A/B/LOGO.GIF"), nullptr);  // case ignored
    EXPECT_EQ(listing.tree->FindFolder("a/b/")->parent, listing.tree->FindFolder("a/"));
    f.owner.Call([] {});  // progress posted before the result has run
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.back(), 3);
    EXPECT_TRUE(progressOnOwner);
}

TEST(TZipManagerTest, AFileThatIsNoZipIsSaidSoAndLeftAlone) {
    TManagerFixture f;
    const fs::path file = f.temp.Path() / "notes.zip";
    WriteText(file, "just some text, no archive");
    const auto before = fs::last_write_time(file);
    TZipListing listing = f.Run<TZipListing>([&](TZipManager& m, auto done) { return m.Open(file.string(), done); });
    EXPECT_NE(listing.code, kZipOk);
    EXPECT_FALSE(listing.tree);
    EXPECT_EQ(listing.view.kind, TZipMessageKind::Error);
    EXPECT_EQ(listing.view.message, file.string() + " is not a Zip file, or it is damaged.");
    EXPECT_EQ(fs::last_write_time(file), before);
    EXPECT_EQ(fs::file_size(file), 26u);
}

TEST(TZipManagerTest, OneOperationAtATime) {
    TManagerFixture f;
    const std::string zip = f.Zip({{"a.txt", "a"}});
    std::promise<void> first;
    bool second = true;
    f.owner.Call([&] {
        EXPECT_TRUE(f.manager->Open(zip, [&](TZipListing) { first.set_value(); }));
        EXPECT_TRUE(f.manager->Busy());
        second = f.manager->Relist(zip, [](TZipListing) {});
    });
    EXPECT_FALSE(second);
    first.get_future().get();
    f.owner.Call([&] { EXPECT_FALSE(f.manager->Busy()); });
}

TEST(TZipManagerTest, HostileEntryNamesAreRefusedWithTheirNames) {
    TManagerFixture f;
    WriteText(f.temp.Path() / "a/good.txt", "good");
    const std::string zip = (f.temp.Path() / "z/evil.zip").string();
    fs::create_directories(f.temp.Path() / "z");
    ASSERT_EQ(std::system(("cd '" + (f.temp.Path() / "a").string() + "' && zip -q '" + zip +
                           "' good.txt && printf '@ good.txt\\n@=../../bad.txt\\n' | zipnote -w '" + zip +
                           "' && zip -q '" + zip + "' good.txt")
                              .c_str()),
              0);
    const std::string out = (f.temp.Path() / "out").string();
    TZipOutcome outcome = f.Run<TZipOutcome>([&](TZipManager& m, auto done) {
        return m.Extract(zip, {"*.*"}, out, true, true, done);
    });
    EXPECT_EQ(outcome.code, kZipSkipped);
    EXPECT_NE(outcome.view.message.find("../../bad.txt"), std::string::npos);
    EXPECT_TRUE(fs::exists(f.temp.Path() / "out/good.txt"));
    EXPECT_FALSE(fs::exists(f.temp.Path() / "bad.txt"));
}

TEST(TZipManagerTest, TheRunningTasksZipTakesNoChange) {
    TManagerFixture f;
    const std::string zip = f.Zip({{"a.txt", "a"}, {"b.txt", "b"}});
    WriteText(f.temp.Path() / "new.txt", "n");
    const auto before = test::StoredZipEntries(zip);
    std::string taskZip = zip;
    f.owner.Call([&] {
        f.manager->SetTaskZip([&] { return taskZip; });
        EXPECT_NE(f.manager->TaskZipRefusal(fs::path(zip).parent_path().string() + "/./site.zip"), "");
        EXPECT_FALSE(f.manager->Add(zip, {(f.temp.Path() / "new.txt").string()}, kZipAddReplace, false, false, 6,
                                    [](TZipChange) {}));
        EXPECT_FALSE(f.manager->Delete(zip, {"a.txt"}, [](TZipChange) {}));
        const TZipRenameResult renamed = f.manager->Rename(zip, "other.zip");
        EXPECT_FALSE(renamed.ok);
        EXPECT_NE(renamed.message.find("being written by the running task"), std::string::npos);
        EXPECT_FALSE(f.manager->Busy());
    });
    EXPECT_EQ(test::StoredZipEntries(zip), before);
    EXPECT_TRUE(fs::exists(zip));
    // Reading stays possible, and once the task is over the changes are too.
    TZipOutcome read = f.Run<TZipOutcome>([&](TZipManager& m, auto done) {
        return m.Extract(zip, {"a.txt"}, (f.temp.Path() / "out").string(), true, true, done);
    });
    EXPECT_EQ(read.code, kZipOk);
    f.owner.Call([&] { taskZip.clear(); });
    TZipChange deleted = f.Run<TZipChange>([&](TZipManager& m, auto done) { return m.Delete(zip, {"a.txt"}, done); });
    EXPECT_EQ(deleted.outcome.entries, std::vector<std::string>{"a.txt"});
    ASSERT_EQ(deleted.after.rows.size(), 1u);
    EXPECT_EQ(deleted.after.rows[0].name, "b.txt");
}

TEST(TZipManagerTest, TheReplacePromptIsAskedOnTheOwnerThreadAndHeeded) {
    TManagerFixture f;
    const std::string zip = f.Zip({{"a.txt", "new a"}, {"b.txt", "new b"}});
    const fs::path out = f.temp.Path() / "out";
    WriteText(out / "a.txt", "old a");
    WriteText(out / "b.txt", "old b");
    std::vector<std::string> asked;
    f.owner.Call([&] {
        f.manager->OnReplace = [&](const std::string& file, std::string&, TZipReplaceAction& action) {
            EXPECT_TRUE(f.owner.IsOwnerThread());
            asked.push_back(fs::path(file).filename().string());
            action = asked.size() == 1 ? xraSkip : xraReplace;
        };
    });
    TZipOutcome outcome = f.Run<TZipOutcome>([&](TZipManager& m, auto done) {
        return m.Extract(zip, {"*.*"}, out.string(), true, false, done);
    });
    EXPECT_EQ(asked.size(), 2u);
    std::ifstream a(out / "a.txt"), b(out / "b.txt");
    std::string ta, tb;
    std::getline(a, ta);
    std::getline(b, tb);
    EXPECT_EQ(ta, "old a");  // No
    EXPECT_EQ(tb, "new b");  // Yes
}
