#include "workspace/url_launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

#include "links/file_io.h"
#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

void WriteScript(const fs::path& path, const std::string& body)
{
    ASSERT_TRUE(WriteFileAtomically(path, "#!/bin/sh\n" + body));
    ::chmod(path.c_str(), 0755);
}

// Everything written to the FIFO until the writer closes it, or what came within the deadline.
std::string ReadFifo(const fs::path& fifo)
{
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return "<open failed>";
    std::string data;
    bool sawWriter = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 100);
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            data.append(buffer, static_cast<std::size_t>(n));
            sawWriter = true;
        } else if (n == 0 && sawWriter) {
            break;
        }
    }
    ::close(fd);
    return data;
}

TEST(TURLLauncherTest, PassesTheTargetAsOneArgumentWithoutAShell)
{
    test::TTempFolder temp;
    const fs::path fifo = temp.Path() / "args";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path opener = temp.Path() / "fake-open";
    WriteScript(opener, "printf '%s|' \"$#\" \"$@\" > '" + fifo.string() + "'\n");

    const std::string target = "http://host/a b?x=1&y=$(touch " + (temp.Path() / "pwned").string() + ");z";
    const TURLLauncher launcher(opener.string());
    ASSERT_TRUE(launcher.Open(target));
    EXPECT_EQ(ReadFifo(fifo), "1|" + target + "|");
    EXPECT_FALSE(fs::exists(temp.Path() / "pwned"));
}

TEST(TURLLauncherTest, ReportsStartsThatCannotHappen)
{
    test::TTempFolder temp;
    EXPECT_FALSE(TURLLauncher((temp.Path() / "no-such-program").string()).Open("http://host/"));
    const TURLLauncher launcher("/bin/true");
    EXPECT_FALSE(launcher.Open(""));
    EXPECT_FALSE(launcher.Open("--new-window=evil")); // would be read as an option
    EXPECT_TRUE(launcher.Open("http://host/"));
}

TEST(TURLLauncherTest, FindsProgramsOnThePath)
{
    test::TTempFolder temp;
    fs::create_directories(temp.Path() / "a");
    fs::create_directories(temp.Path() / "b");
    WriteScript(temp.Path() / "b" / "firefox", "exit 0\n");
    ASSERT_TRUE(WriteFileAtomically(temp.Path() / "a" / "chromium", "not executable"));
    WriteScript(temp.Path() / "b" / "google-chrome", "exit 0\n");
    const std::string path = (temp.Path() / "a").string() + "::relative:" + (temp.Path() / "b").string() + "/";

    EXPECT_EQ(TURLLauncher::FindProgram({"firefox"}, path), (temp.Path() / "b" / "firefox").string());
    EXPECT_EQ(TURLLauncher::FindProgram({"chromium", "google-chrome"}, path),
              (temp.Path() / "b" / "google-chrome").string());
    EXPECT_EQ(TURLLauncher::FindProgram({"opera"}, path), "");
    EXPECT_EQ(TURLLauncher::FindProgram({"firefox"}, ""), "");
}

} // namespace
} // namespace pellix
