#include "workspace/reg_file_importer.h"

#include <gtest/gtest.h>

#include "workspace/settings_store.h"
#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

const std::string kTypes = "\\Software\\Brackwell\\Pellix\\File Types";

TEST(TRegFileImporterTest, ImportsTheRegedit4Syntax)
{
    test::TTempFolder temp;
    TSettingsStore store(temp.Path() / "registry.ini");
    store.WriteSetting("\\Software\\Old", "Stale", "x");
    store.WriteSetting("\\Software\\Keep", "Gone", "x");

    const std::string text =
        "REGEDIT4\r\n"
        "\r\n"
        "; comment\r\n"
        "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
        "\"Plain\"=\"text\"\r\n"
        "\"Escaped\"=\"say \\\"hi\\\" C:\\\\dir\\\\\"\r\n"
        "\"Backslash\"=\"a\\b\"\r\n"
        "@=\"default\"\r\n"
        "\"Number\"=dword:0000002A\r\n"
        "\"Short\"=dword:ff\r\n"
        "\"Bytes\"=hex:01,02,\\\r\n"
        "  ff\r\n"
        "\"Spaced\" = \"ok\"\r\n"
        "\"BadDword\"=dword:xyz\r\n"
        "\"Open\"=\"never closed\r\n"
        "\"Expand\"=hex(2):41,00\r\n"
        "garbage line\r\n"
        "[hkcu\\Software\\Test\\Sub]\r\n"
        "\"Inner\"=\"1\"\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]\r\n"
        "\"Machine\"=\"no\"\r\n"
        "[-HKEY_CURRENT_USER\\Software\\Old]\r\n"
        "[HKEY_CURRENT_USER\\Software\\Keep]\r\n"
        "\"Gone\"=-\r\n"
        "[HKEY_CURRENT_USER\\Software\\Empty]\r\n";
    const TRegImportResult result = TRegFileImporter(store).ImportText(text);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.valuesWritten, 9);
    EXPECT_EQ(result.linesSkipped, 6); // BadDword, Open, Expand, garbage, HKLM header, Machine

    const std::string k = "\\Software\\Test";
    EXPECT_EQ(store.ReadSetting(k, "Plain", ""), "text");
    EXPECT_EQ(store.ReadSetting(k, "Escaped", ""), "say \"hi\" C:\\dir\\");
    EXPECT_EQ(store.ReadSetting(k, "Backslash", ""), "a\\b");
    EXPECT_EQ(store.ReadSetting(k, "", ""), "default");
    EXPECT_EQ(store.ReadSetting(k, "Number", 0), 42);
    EXPECT_EQ(store.ReadSetting(k, "Short", 0), 255);
    TSettingValue bytes;
    ASSERT_TRUE(store.ReadValue(k, "Bytes", bytes));
    EXPECT_EQ(bytes.bytes, "\x01\x02\xff");
    EXPECT_EQ(store.ReadSetting(k, "Spaced", ""), "ok");
    EXPECT_FALSE(store.ValueExists(k, "BadDword"));
    EXPECT_EQ(store.ReadSetting(k + "\\Sub", "Inner", ""), "1");
    EXPECT_FALSE(store.KeyExists("\\Software\\Elsewhere"));
    EXPECT_FALSE(store.KeyExists("\\Software\\Old"));
    EXPECT_TRUE(store.KeyExists("\\Software\\Keep"));
    EXPECT_FALSE(store.ValueExists("\\Software\\Keep", "Gone"));
    EXPECT_TRUE(store.KeyExists("\\Software\\Empty"));
}

TEST(TRegFileImporterTest, RefusesFilesWithoutTheHeader)
{
    test::TTempFolder temp;
    TSettingsStore store(temp.Path() / "registry.ini");
    for (const std::string text : {"", "[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"b\"\n", "REGEDIT5\n"}) {
        const TRegImportResult result = TRegFileImporter(store).ImportText(text);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.message.empty());
    }
    EXPECT_FALSE(store.KeyExists("\\Software"));
    EXPECT_FALSE(TRegFileImporter(store).ImportFile(temp.Path() / "missing.reg").ok);
}

TEST(TRegFileImporterTest, ShippedFileTypesHoldTheBuiltInGroupsFirst)
{
    test::TTempFolder temp;
    TSettingsStore store(temp.Path() / "registry.ini");
    const TRegImportResult result =
        TRegFileImporter(store).ImportFile(std::string(PELLIX_SOURCE_DIR) + "/data/FTypes.reg");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.linesSkipped, 0);

    const std::vector<std::string> names = store.SettingNames(kTypes);
    const std::vector<std::string> values = store.SettingValues(kTypes);
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[0], "HTML");
    EXPECT_EQ(values[0].rfind(".htm;.html;.shtm;.shtml;.asp;", 0), 0u);
    EXPECT_EQ(names[1], "Images");
    EXPECT_EQ(values[1].rfind(".gif;.jpg;.jpeg;", 0), 0u);
    for (const char* group : {"Audio", "Video", "Archives", "Documents", "Fonts"})
        EXPECT_NE(std::find(names.begin(), names.end(), group), names.end()) << group;

    // Every extension: lowercase, with its dot, ";"-terminated, and in one group only, so the
    // first-group rule of the look-ups never depends on order.
    std::vector<std::string> seen;
    for (const std::string& data : values) {
        SCOPED_TRACE(data);
        ASSERT_FALSE(data.empty());
        EXPECT_EQ(data.back(), ';');
        std::size_t start = 0;
        while (start < data.size()) {
            const std::size_t end = data.find(';', start);
            const std::string ext = data.substr(start, end - start);
            start = end + 1;
            EXPECT_EQ(ext[0], '.');
            for (char c : ext)
                EXPECT_FALSE(c >= 'A' && c <= 'Z') << ext;
            EXPECT_EQ(std::find(seen.begin(), seen.end(), ext), seen.end()) << ext;
            seen.push_back(ext);
        }
    }
}

TEST(TRegFileImporterTest, CutOrScrambledFilesNeverCrash)
{
    test::TTempFolder temp;
    TSettingsStore store(temp.Path() / "registry.ini");
    const std::string text =
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\T]\n\"A\"=\"x\\\\\\\"y\"\n\"B\"=hex:01,\\\n02\n"
        "\"C\"=dword:00000001\n@=\"d\"\n[-HKEY_CURRENT_USER\\Software\\T\\U]\n";
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        TRegFileImporter(store).ImportText(text.substr(0, cut));
        TRegFileImporter(store).ImportText("REGEDIT4\n" + text.substr(cut));
    }
    EXPECT_EQ(store.ReadSetting("\\Software\\T", "C", 0), 1);
    EXPECT_EQ(store.ReadSetting("\\Software\\T", "A", ""), "x\\\"y");
}

} // namespace
} // namespace pellix
