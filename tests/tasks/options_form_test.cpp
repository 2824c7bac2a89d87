// The preferences' settings: what OK writes and reads back (cleaned proxy texts, history counts,
// folders), a refused temp folder that writes nothing, and the system proxy offered from the
// environment.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tasks/options_form.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "workspace/app_settings.h"

using namespace pellix;

namespace {

class TOptionsFormTest : public ::testing::Test {
protected:
    TOptionsFormTest() : m_app(test::UserHomeAppPaths(m_temp.Path())) {}

    std::string StoreBytes() const
    {
        std::ifstream in(m_app.Paths().settingsFile, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    test::TTempFolder m_temp;
    TPXApp m_app;
};

} // namespace

TEST_F(TOptionsFormTest, ReadBackAfterWrite)
{
    TOptionsValues values = TOptionsForm::Read(m_app);
    values.zipLast = true;
    values.noAds = true;
    values.zipPropertiesFirst = true;
    values.beepOnCompletion = false;
    values.maxURLHistory = "7";
    values.maxFileHistory = " 3 ";
    values.tempFolder = m_temp.Text() + "scratch";
    values.downloadsFolder = m_temp.Text() + "dl";
    values.intranetFolder = m_temp.Text() + "web";
    values.lastZipFolder = false;
    values.zipFolder = "/srv/zips/";
    values.lastUnzipFolder = true;
    values.unzipFolder = "/not/written/";
    values.useProxy = true;
    values.proxyAddress = "  HTTP://proxy.lan\t";
    values.proxyPort = " 3128\r\n";
    values.proxyUserName = "ann";
    values.proxyPassword = "se:cret";
    values.userAgent = "Anonymous";
    ASSERT_TRUE(TOptionsForm::Write(m_app, values).ok);

    // A second application object reads only what reached the store.
    TPXApp reread(m_app.Paths());
    EXPECT_TRUE(reread.ZipLast());
    EXPECT_TRUE(reread.NoAds());
    EXPECT_TRUE(reread.TasksViewFirst());
    EXPECT_FALSE(reread.BeepOnCompletion());
    EXPECT_EQ(reread.MaxURLHistory(), 7u);
    EXPECT_EQ(reread.MaxFileHistory(), 3u);
    EXPECT_EQ(reread.TempFolder(), m_temp.Text() + "scratch/Pellix/");
    EXPECT_EQ(reread.DownloadsFolder(), m_temp.Text() + "dl/");
    EXPECT_EQ(reread.IntranetFolder(), m_temp.Text() + "web/");
    EXPECT_FALSE(reread.LastZipFolder());
    EXPECT_EQ(reread.ZipFolder(), "/srv/zips/");
    EXPECT_TRUE(reread.LastUnzipFolder());
    EXPECT_EQ(reread.UnzipFolder(), ""); // only written while its own folder is chosen
    EXPECT_TRUE(reread.UseProxy());
    EXPECT_EQ(reread.ProxyAddress(), "proxy.lan");
    EXPECT_EQ(reread.ProxyPort(), "3128");
    EXPECT_EQ(reread.ProxyAuthorization(), "ann:se:cret");
    EXPECT_EQ(reread.StoredUserAgent(), "Anonymous");
    EXPECT_EQ(reread.UserAgent(), "");

    // And the dialog opened again shows the same.
    const TOptionsValues shown = TOptionsForm::Read(reread);
    EXPECT_EQ(shown.proxyUserName, "ann");
    EXPECT_EQ(shown.proxyPassword, "se:cret");
    EXPECT_EQ(shown.maxFileHistory, "3");
    EXPECT_EQ(shown.tempFolder, m_temp.Text() + "scratch/Pellix/");
}

TEST_F(TOptionsFormTest, TextsCleanedOnWrite)
{
    struct TCase {
        const char* name;
        std::function<void(TOptionsValues&)> set;
        std::function<void(const TPXApp&)> check;
    };
    const TCase cases[] = {
        {"user name without password", [](TOptionsValues& v) { v.proxyUserName = "ann"; v.proxyPassword = ""; },
         [](const TPXApp& a) { EXPECT_EQ(a.ProxyAuthorization(), ""); }},
        {"password without user name", [](TOptionsValues& v) { v.proxyUserName = ""; v.proxyPassword = "x"; },
         [](const TPXApp& a) { EXPECT_EQ(a.ProxyAuthorization(), ""); }},
        {"histories not numbers", [](TOptionsValues& v) { v.maxURLHistory = "many"; v.maxFileHistory = ""; },
         [](const TPXApp& a) { EXPECT_EQ(a.MaxURLHistory(), 20u); EXPECT_EQ(a.MaxFileHistory(), 10u); }},
        {"histories negative or trailing text", [](TOptionsValues& v) { v.maxURLHistory = "-4"; v.maxFileHistory = "5x"; },
         [](const TPXApp& a) { EXPECT_EQ(a.MaxURLHistory(), 20u); EXPECT_EQ(a.MaxFileHistory(), 10u); }},
        {"history zero", [](TOptionsValues& v) { v.maxURLHistory = "0"; },
         [](const TPXApp& a) { EXPECT_EQ(a.MaxURLHistory(), 0u); }},
        {"address without scheme keeps its text", [](TOptionsValues& v) { v.proxyAddress = "10.0.0.1"; },
         [](const TPXApp& a) { EXPECT_EQ(a.ProxyAddress(), "10.0.0.1"); }},
        {"user agent typed", [](TOptionsValues& v) { v.userAgent = "MyBot/1.0"; },
         [](const TPXApp& a) { EXPECT_EQ(a.UserAgent(), "MyBot/1.0"); }},
        {"unzip folder chosen", [](TOptionsValues& v) { v.lastUnzipFolder = false; v.unzipFolder = "/u/"; },
         [](const TPXApp& a) { EXPECT_FALSE(a.LastUnzipFolder()); EXPECT_EQ(a.UnzipFolder(), "/u/"); }},
        {"empty temp folder keeps the old one", [](TOptionsValues& v) { v.tempFolder = ""; },
         [](const TPXApp& a) { EXPECT_EQ(a.TempFolder(), a.Paths().systemTemp.string() + "/Pellix/"); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TOptionsValues values = TOptionsForm::Read(m_app);
        c.set(values);
        ASSERT_TRUE(TOptionsForm::Write(m_app, values).ok);
        c.check(TPXApp(m_app.Paths()));
    }
}

TEST_F(TOptionsFormTest, RefusedTempFolderWritesNothing)
{
    TOptionsValues values = TOptionsForm::Read(m_app);
    const std::string before = StoreBytes();
    values.zipLast = !values.zipLast;
    values.proxyAddress = "changed";
    for (const std::string& folder : {m_app.Paths().homeFolder.string(), m_app.Paths().programFolder.string(),
                                      m_app.Paths().programFolder.string() + "/.."}) {
        SCOPED_TRACE(folder);
        values.tempFolder = folder;
        const TOptionsWriteResult result = TOptionsForm::Write(m_app, values);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.message.find("cannot hold temporary files"), std::string::npos);
        EXPECT_EQ(StoreBytes(), before);
    }
}

TEST(TOptionsFormProxyTest, SystemProxyFromTheEnvironment)
{
    struct TCase {
        std::map<std::string, std::string> environment;
        std::optional<std::string> proxy;
    };
    const TCase cases[] = {
        {{}, std::nullopt},
        {{{"http_proxy", ""}}, std::nullopt},
        {{{"http_proxy", "http://proxy.lan:3128/"}}, "proxy.lan:3128"},
        {{{"http_proxy", "proxy.lan:8080"}}, "proxy.lan:8080"},
        {{{"http_proxy", "http://ann:pw@proxy.lan:3128"}}, "proxy.lan:3128"},
        {{{"http_proxy", "http://proxy.lan"}}, "proxy.lan:80"},
        {{{"https_proxy", "https://secure.lan"}}, "secure.lan:443"},
        {{{"HTTP_PROXY", "http://upper.lan:1"}}, "upper.lan:1"},
        {{{"http_proxy", "http://first:1"}, {"https_proxy", "http://second:2"}}, "first:1"},
        {{{"http_proxy", "  "}, {"https_proxy", "http://second:2"}}, "second:2"},
        {{{"http_proxy", "http://[::1]:3128/"}}, "[::1]:3128"},
        {{{"http_proxy", "http://[::1]"}}, "[::1]:80"},
    };
    for (const TCase& c : cases) {
        const TOptionsForm::TEnvironment environment = [&](const char* name) -> std::optional<std::string> {
            const auto found = c.environment.find(name);
            return found == c.environment.end() ? std::nullopt : std::optional<std::string>(found->second);
        };
        const std::optional<std::string> proxy = TOptionsForm::SystemProxy(environment);
        EXPECT_EQ(proxy, c.proxy) << (c.environment.empty() ? "" : c.environment.begin()->second);
    }
}

TEST(TOptionsFormProxyTest, SplitIntoAddressAndPort)
{
    struct TCase {
        const char* proxy;
        const char* address;
        const char* port;
    };
    const TCase cases[] = {
        {"proxy.lan:3128", "proxy.lan", "3128"},
        {"[::1]:3128", "[::1]", "3128"},
        {"proxy.lan", "proxy.lan", ""}, // a host alone is an address, not a port
        {"a:b:c", "a", "b:c"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.proxy);
        const TProxyParts parts = TOptionsForm::SplitProxy(c.proxy);
        EXPECT_EQ(parts.address, c.address);
        EXPECT_EQ(parts.port, c.port);
    }
    EXPECT_EQ(TOptionsForm::ProxyOfferText("p:1"),
              "Pellix has determined that your system uses the following proxy server to access the Internet\np:1\n\n"
              "Pellix will most likely also need to use this proxy server to access the Internet\n"
              "Do you want to set this proxy server for Pellix also?");
}
