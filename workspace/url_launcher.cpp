#include "workspace/url_launcher.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace pellix {

namespace {

bool IsExecutableFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string PathVariable()
{
    const char* path = std::getenv("PATH");
    return path ? path : "/usr/local/bin:/usr/bin:/bin";
}

bool Spawn(const std::string& program, const std::string& target)
{
    if (program.empty() || target.empty() || target[0] == '-')
        return false;
    std::string programArg = program;
    std::string targetArg = target;
    char* argv[] = {programArg.data(), targetArg.data(), nullptr};
    pid_t pid = 0;
    // posix_spawnp reports a program that cannot be executed as an error.
    if (::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0)
        return false;
    // Reap the child whenever it ends, without making the caller wait for the browser.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

} // namespace

TURLLauncher::TURLLauncher(std::string opener) : m_opener(std::move(opener)) {}

bool TURLLauncher::Open(const std::string& target) const
{
    return Spawn(m_opener, target);
}

bool TURLLauncher::OpenWith(const std::string& program, const std::string& target) const
{
    return Spawn(program, target);
}

std::string TURLLauncher::FindProgram(const std::vector<std::string>& names, const std::string& pathList)
{
    for (const std::string& name : names) {
        std::size_t start = 0;
        while (start <= pathList.size()) {
            std::size_t end = pathList.find(':', start);
            if (end == std::string::npos)
                end = pathList.size();
            const std::string folder = pathList.substr(start, end - start);
            start = end + 1;
            if (folder.empty() || folder[0] != '/')
                continue; // relative entries depend on the working folder: not trusted
            const std::string candidate = folder + (folder.back() == '/' ? "" : "/") + name;
            if (IsExecutableFile(candidate))
                return candidate;
        }
    }
    return {};
}

std::string TURLLauncher::ChromiumPath()
{
    return FindProgram({"chromium", "chromium-browser", "google-chrome", "google-chrome-stable",
                        "brave-browser", "microsoft-edge", "vivaldi"},
                       PathVariable());
}

std::string TURLLauncher::FirefoxPath()
{
    return FindProgram({"firefox", "firefox-esr"}, PathVariable());
}

} // namespace pellix
