// Tests of the file-type lookups and of deleting extensions and groups in the settings store.
#include "links/file_types.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"
#include "workspace/app_settings.h"
#include "workspace/settings_store.h"

namespace pellix {
namespace {

class FileTypesTest : public ::testing::Test {
protected:
    FileTypesTest() : m_store(m_folder.Path() / "registry.ini")
    {
        m_store.WriteSetting(kFileTypesKey, "HTML", ".htm;.html;.shtm;.shtml;.asp;");
        m_store.WriteSetting(kFileTypesKey, "Images", ".gif;.jpg;.jpeg;");
        m_store.WriteSetting(kFileTypesKey, "Video", ".mpg;.mp;.amp;");
    }
    test::TTempFolder m_folder;
    TSettingsStore m_store;
};

TEST_F(FileTypesTest, GroupOfURL)
{
    const std::pair<const char*, const char*> cases[] = {
        {"http://host/docs/", "HTML"},           // no extension
        {"http://host/a.asp?id=1", "HTML"},      // a query not naming an image
        {"http://host/cgi?img=5", "HTML"},
        {"http://host/pic?f=1=gif", "Images"},
        {"http://host/pic?f=jpg", "Images"},
        {"http://host/pic?jpg", "HTML"},         // "jpg" without "=" names nothing
        // A versioned file keeps the group of its own extension; a page's query stays a page.
        {"http://host/a.gif?v=2", "Images"},
        {"http://host/a.JPG?w=200#top", "Images"},
        {"http://host/a.mpg?v=2", "Video"},
        {"http://host/a.mp?v=2", "HTML"},        // not a name a browser goes by: the page rule
        {"http://host/pic?f=1=jpg", "Images"},
        {"http://host/a.HTM", "HTML"},           // extensions are lowered first
        {"http://host/a.JPEG", "Images"},
        {"http://host/a.mp", "Video"},           // ".mp;" is not read inside ".amp;"
        {"http://host/a.pdf", ""},
        {"https://host/a.gif", "Images"},
    };
    for (const auto& [url, group] : cases)
        EXPECT_EQ(FileTypeOfURL(m_store, url), group) << url;
}

TEST_F(FileTypesTest, GroupOfFile)
{
    const std::pair<const char*, const char*> cases[] = {
        {"index.HTML", "HTML"},
        {"/tmp/Pellix/host/a.b/logo.gif", "Images"},
        {"README", "HTML"}, // no extension: the first group listing any extension
        {"archive.tar.gz", ""},
        {"clip.mpg", "Video"},
    };
    for (const auto& [name, group] : cases)
        EXPECT_EQ(FileTypeOfFile(m_store, name), group) << name;
}

TEST_F(FileTypesTest, MissingKeyMakesNothingAPage)
{
    TSettingsStore empty(m_folder.Path() / "empty.ini");
    EXPECT_EQ(FileTypeOfURL(empty, "http://host/"), "");
    EXPECT_EQ(FileTypeOfFile(empty, "a.htm"), "");
}

TEST_F(FileTypesTest, LookupsSeeChangesAtOnce)
{
    EXPECT_EQ(FileTypeOfURL(m_store, "http://host/a.png"), "");
    m_store.WriteSetting(kFileTypesKey, "Images", ".gif;.png;");
    EXPECT_EQ(FileTypeOfURL(m_store, "http://host/a.png"), "Images");
}

TEST_F(FileTypesTest, DeletingAnExtensionRemovesOnlyThatEntry)
{
    ASSERT_TRUE(DeleteFileTypeExtension(m_store, "Video", ".mp"));
    EXPECT_EQ(m_store.ReadSetting(kFileTypesKey, "Video", ""), ".mpg;.amp;");
    ASSERT_TRUE(DeleteFileTypeGroup(m_store, "Video"));
    EXPECT_FALSE(m_store.ValueExists(kFileTypesKey, "Video"));
    EXPECT_FALSE(DeleteFileTypeExtension(m_store, "Video", ".mpg"));
    EXPECT_EQ(ReadFileTypeGroups(m_store).size(), 2u);
}

} // namespace
} // namespace pellix
