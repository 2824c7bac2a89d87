#include "workspace/ini_file.h"

#include <sys/stat.h>

#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "links/file_io.h"
#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

// Hand-written, as an editor would leave it: comments, odd spacing, a quoted value, blank lines.
const std::string kFixture =
    "; task file\r\n"
    "[Task]\r\n"
    "URL=http://www.example.com/\r\n"
    "  Name = My Site  \r\n"
    "Password=\"  secret  \"\r\n"
    "; a comment between keys\r\n"
    "Status=5\r\n"
    "\r\n"
    "[Profile]\r\n"
    "Depth=3\r\n"
    "stray line without equals\r\n"
    "Types=.htm;.gif;\r\n";

TEST(TIniFileTest, UntouchedFileRoundTripsByteForByte)
{
    test::TTempFolder temp;
    const auto path = temp.Path() / "site.pxt";
    ASSERT_TRUE(WriteFileAtomically(path, kFixture));
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Task", "Name", ""), "My Site");
    EXPECT_EQ(ini.ReadString("Task", "Password", ""), "  secret  ");
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ(*ReadWholeFile(path), kFixture);
}

TEST(TIniFileTest, WritesKeepOrderAndTouchOnlyTheirLines)
{
    TIniFile ini("unused.ini", kFixture);
    EXPECT_TRUE(ini.WriteInteger("task", "STATUS", 6)); // existing key, any case: stays in place
    EXPECT_TRUE(ini.WriteString("Task", "Category", "General")); // new key: after the last key
    EXPECT_TRUE(ini.WriteBool("Schedule", "Enabled", true));     // new section: at the end
    EXPECT_EQ(ini.Text(),
              "; task file\r\n"
              "[Task]\r\n"
              "URL=http://www.example.com/\r\n"
              "  Name = My Site  \r\n"
              "Password=\"  secret  \"\r\n"
              "; a comment between keys\r\n"
              "Status=6\r\n"
              "Category=General\r\n"
              "\r\n"
              "[Profile]\r\n"
              "Depth=3\r\n"
              "stray line without equals\r\n"
              "Types=.htm;.gif;\r\n"
              "\r\n"
              "[Schedule]\r\n"
              "Enabled=1\r\n");
    EXPECT_EQ(ini.ReadSection("TASK"), (std::vector<std::string>{"URL", "Name", "Password", "Status", "Category"}));
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Task", "Profile", "Schedule"}));

    ini.DeleteKey("Task", "name");
    EXPECT_FALSE(ini.ValueExists("Task", "Name"));
    ini.EraseSection("profile");
    EXPECT_FALSE(ini.SectionExists("Profile"));
    EXPECT_TRUE(ini.SectionExists("schedule"));
    EXPECT_EQ(ini.ReadString("Profile", "Depth", "gone"), "gone");
}

TEST(TIniFileTest, NumbersReadAsDefaultWhenAbsurd)
{
    const TIniFile ini("unused.ini",
                       "[S]\r\n"
                       "dec= 42 \r\nneg=-7\r\nhex=0x1F\r\ndollar=$ff\r\nhuge=99999999999\r\n"
                       "word=abc\r\nmixed=12abc\r\nempty=\r\nplusminus=+-3\r\nbig64=9000000000\r\n"
                       "f=2.5\r\nfexp=1e-3\r\nfnan=nan\r\nfinf=inf\r\nfcomma=2,5\r\n"
                       "btrue=TRUE\r\nbzero=0\r\nbtwo=2\r\nbword=yes\r\n");
    const struct {
        const char* key;
        int expected;
    } ints[] = {{"dec", 42}, {"neg", -7}, {"hex", 31}, {"dollar", 255}, {"huge", -1},
                {"word", -1}, {"mixed", -1}, {"empty", -1}, {"plusminus", -1}, {"missing", -1}};
    for (const auto& c : ints) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(ini.ReadInteger("S", c.key, -1), c.expected);
    }
    EXPECT_EQ(ini.ReadInt64("S", "big64", 0), 9000000000LL);
    EXPECT_EQ(ini.ReadFloat("S", "f", 0), 2.5);
    EXPECT_EQ(ini.ReadFloat("S", "fexp", 0), 0.001);
    for (const char* key : {"fnan", "finf", "fcomma", "word", "empty"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(ini.ReadFloat("S", key, -1.5), -1.5);
    }
    EXPECT_TRUE(ini.ReadBool("S", "btrue", false));
    EXPECT_FALSE(ini.ReadBool("S", "bzero", true));
    EXPECT_TRUE(ini.ReadBool("S", "btwo", false));
    EXPECT_TRUE(ini.ReadBool("S", "bword", true));
    EXPECT_FALSE(ini.ReadBool("S", "bword", false));
}

TEST(TIniFileTest, WrittenValuesReadBackAndCannotInjectLines)
{
    test::TTempFolder temp;
    const auto path = temp.Path() / "t.pxt";
    const double when = 45000.123456789012;
    {
        TIniFile ini(path);
        ini.WriteString("Task", "Blanks", "  padded  ");
        ini.WriteString("Task", "Quoted", "\"quoted\"");
        ini.WriteString("Task", "Equals", "a=b;c");
        ini.WriteString("Task", "Inject", "x\r\n[Evil]\r\nStatus=1");
        ini.WriteFloat("Task", "When", when);
        ini.WriteInt64("Task", "Bytes", -5000000000LL);
        EXPECT_FALSE(ini.WriteString("Task", "Bad=Key", "v"));
        EXPECT_FALSE(ini.WriteString("Bad]Section", "Key", "v"));
        EXPECT_FALSE(ini.WriteString("Task", "", "v"));
        ASSERT_TRUE(ini.Save());
    }
    const TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Task", "Blanks", ""), "  padded  ");
    EXPECT_EQ(ini.ReadString("Task", "Quoted", ""), "\"quoted\"");
    EXPECT_EQ(ini.ReadString("Task", "Equals", ""), "a=b;c");
    EXPECT_EQ(ini.ReadString("Task", "Inject", ""), "x  [Evil]  Status=1");
    EXPECT_FALSE(ini.SectionExists("Evil"));
    EXPECT_EQ(ini.ReadFloat("Task", "When", 0), when);
    EXPECT_EQ(ini.ReadInt64("Task", "Bytes", 0), -5000000000LL);
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Task"}));
}

TEST(TIniFileTest, SaveIsOwnerOnlyOnRequestAndReportsFailure)
{
    test::TTempFolder temp;
    TIniFile ini(temp.Path() / "secret.pxt");
    ini.WriteString("Task", "Password", "pw");
    ASSERT_TRUE(ini.Save(true));
    struct stat st {};
    ASSERT_EQ(::stat((temp.Path() / "secret.pxt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    TIniFile nowhere(temp.Path() / "missing" / "folder" / "x.pxt");
    nowhere.WriteString("Task", "A", "b");
    std::string error;
    EXPECT_FALSE(nowhere.Save(false, &error));
    EXPECT_FALSE(error.empty());
}

TEST(TIniFileTest, AnyBytesLoadWithoutHarm)
{
    std::mt19937 random(7);
    std::vector<std::string> inputs = {
        "",
        "\r\n\r\n",
        "[",
        "[]\r\n=\r\n==\r\n",
        "[Task",              // header cut short
        "[Task]\r\nURL=http://ex", // value cut short
        std::string(1 << 20, 'k') + "=" + std::string(1 << 20, 'v'),
        std::string("[A]\0\r\nk\0=v\0\r\n", 14),
    };
    for (int i = 0; i < 50; ++i) {
        std::string bytes(static_cast<std::size_t>(random() % 400), '\0');
        for (char& c : bytes)
            c = "[]=;\r\n\"aZ \t\x00\xff"[random() % 13];
        inputs.push_back(bytes);
    }
    for (const std::string& input : inputs) {
        TIniFile ini("unused.ini", input);
        for (const std::string& section : ini.ReadSections())
            for (const std::string& key : ini.ReadSection(section)) {
                ini.ReadInteger(section, key, 0);
                ini.ReadFloat(section, key, 0);
            }
        ini.WriteString("Task", "Added", "1");
        EXPECT_EQ(TIniFile("unused.ini", ini.Text()).ReadString("Task", "Added", ""), "1");
    }
    EXPECT_EQ(TIniFile("unused.ini", "[Task]\r\nURL=http://ex").ReadString("Task", "URL", ""), "http://ex");
}

} // namespace
} // namespace pellix
