// TTextEditor: the desktop's default program for text files.
#include "workspace/text_editor.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace pellix {

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// Output of a program run without a shell; empty when it cannot run.
std::string Output(std::vector<std::string> argv) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (std::string& a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    std::string out;
    if (spawned == 0) {
        char buffer[512];
        for (;;) {
            const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
            if (got > 0) {
                out.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR || out.size() > 4096) {
                break;
            }
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ::close(fds[0]);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

} // namespace

std::string TTextEditor::DesktopFilePath(const std::string& id) {
    if (id.empty() || id.find('/') != std::string::npos) {
        return {};
    }
    std::vector<std::string> folders{Env("XDG_DATA_HOME", Env("HOME", "") + "/.local/share")};
    const std::string dirs = Env("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        if (end > start) {
            folders.push_back(dirs.substr(start, end - start));
        }
        start = end + 1;
    }
    std::error_code ec;
    for (const std::string& folder : folders) {
        const fs::path candidate = fs::path(folder) / "applications" / id;
        if (fs::is_regular_file(candidate, ec)) {
            return candidate.string();
        }
    }
    return {};
}

std::string TTextEditor::DesktopEntryExec(const std::string& desktopFile) {
    std::ifstream in(desktopFile);
    std::string line;
    bool inEntry = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            inEntry = line.rfind("[Desktop Entry]", 0) == 0;
        } else if (inEntry && line.rfind("Exec=", 0) == 0) {
            return line.substr(5);
        }
    }
    return {};
}

std::string TTextEditor::Find() {
    const std::string id = Output({"xdg-mime", "query", "default", "text/plain"});
    const std::string file = DesktopFilePath(id);
    return file.empty() ? std::string() : DesktopEntryExec(file);
}

std::vector<std::string> TTextEditor::ExecArguments(const std::string& exec, const std::string& file) {
    // Split on blanks, honouring double quotes and backslash escapes inside them.
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size()) {
                word += exec[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                word += c;
            }
        } else if (c == '"') {
            quoted = true;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) {
                words.push_back(word);
            }
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    std::vector<std::string> argv;
    bool placed = false;
    for (const std::string& w : words) {
        if (w == "%f" || w == "%F" || w == "%u" || w == "%U") {
            if (!placed) {
                argv.push_back(file);
                placed = true;
            }
            continue;
        }
        std::string out;
        for (std::size_t i = 0; i < w.size(); ++i) {
            if (w[i] == '%' && i + 1 < w.size()) {
                if (w[i + 1] == '%') {
                    out += '%';
                }
                ++i;  // %i, %c, %k and the deprecated codes give nothing
                continue;
            }
            out += w[i];
        }
        if (!out.empty()) {
            argv.push_back(out);
        }
    }
    if (argv.empty()) {
        return {};
    }
    if (!placed) {
        argv.push_back(file);
    }
    return argv;
}

bool TTextEditor::Start(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return false;
    }
    std::vector<std::string> copy = argv;
    std::vector<char*> args;
    for (std::string& a : copy) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
        return false;
    }
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

} // namespace pellix
