// TFileBodySink: where a body lands, with and without its folders, and what a failure says.
#include "engine/file_body_sink.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "links/file_io.h"
#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;
using test::TTempFolder;
using test::WriteText;

TEST(TFileBodySinkTest, WritesIntoExistingAndMissingFolders)
{
    TTempFolder temp;
    WriteText(temp.Path() / "site" / "old.htm", "sibling");
    const fs::path paths[] = {
        temp.Path() / "site" / "next.htm",        // its folder exists
        temp.Path() / "site" / "a" / "b" / "c.png", // three levels to make
        temp.Path() / "site" / "a" / "b" / "d.png", // made by the one before
    };
    for (const fs::path& path : paths) {
        SCOPED_TRACE(path.string());
        TFileBodySink sink(path);
        std::string error;
        ASSERT_TRUE(sink.Start(0, error)) << error;
        ASSERT_TRUE(sink.Write("body of ", error));
        ASSERT_TRUE(sink.Write(path.filename().string(), error));
        ASSERT_TRUE(sink.Finish(error)) << error;
        EXPECT_EQ(ReadWholeFile(path).value_or("?"), "body of " + path.filename().string());
        EXPECT_EQ(sink.Size(), static_cast<std::int64_t>(8 + path.filename().string().size()));
    }
    EXPECT_EQ(ReadWholeFile(temp.Path() / "site" / "old.htm").value_or("?"), "sibling");
}

TEST(TFileBodySinkTest, ReplacesOrResumesAnEarlierFile)
{
    TTempFolder temp;
    const fs::path path = temp.Path() / "part.bin";
    WriteText(path, "0123456789");
    std::string error;
    {
        TFileBodySink sink(path);
        ASSERT_TRUE(sink.Start(4, error)) << error;
        ASSERT_TRUE(sink.Write("abc", error));
        ASSERT_TRUE(sink.Finish(error));
        EXPECT_EQ(sink.Size(), 7);
    }
    EXPECT_EQ(ReadWholeFile(path).value_or("?"), "0123abc");
    {
        TFileBodySink sink(path);
        EXPECT_FALSE(sink.Start(100, error)); // fewer bytes than the resume needs
        EXPECT_NE(error.find("Cannot resume"), std::string::npos) << error;
    }
    {
        TFileBodySink sink(path);
        ASSERT_TRUE(sink.Start(0, error)) << error;
        ASSERT_TRUE(sink.Finish(error));
    }
    EXPECT_EQ(ReadWholeFile(path).value_or("?"), "");
}

TEST(TFileBodySinkTest, AFileInPlaceOfAFolderIsReported)
{
    TTempFolder temp;
    WriteText(temp.Path() / "site", "a file where the folder should be");
    TFileBodySink sink(temp.Path() / "site" / "deep" / "page.htm");
    std::string error;
    EXPECT_FALSE(sink.Start(0, error));
    EXPECT_EQ(error.rfind("Failed to create file: ", 0), 0u) << error;
    EXPECT_NE(sink.ErrorNumber(), 0);
    EXPECT_NE(sink.ErrorNumber(), ENOENT); // the folder's reason, not "no such file"
}

} // namespace
} // namespace pellix
