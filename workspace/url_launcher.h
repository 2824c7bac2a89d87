// TURLLauncher: opens a URL or a file in the user's default browser and finds installed browsers.
#pragma once

#include <string>
#include <vector>

namespace pellix {

// Programs are started without a shell, the target passed as one argument, and never waited
// for (a helper thread reaps them). A target beginning with "-" is refused: the program would
// take it for an option.
class TURLLauncher final {
public:
    // opener: the program that hands a target to the desktop's default application.
    explicit TURLLauncher(std::string opener = "xdg-open");

    // Whether the opener could be started with the target.
    bool Open(const std::string& target) const;
    // Starts a given browser program (a path or a name looked up on PATH) with the target.
    bool OpenWith(const std::string& program, const std::string& target) const;

    // Full path of a Chromium-family browser or of Firefox found on PATH; empty when absent.
    static std::string ChromiumPath();
    static std::string FirefoxPath();
    // The first of the names that is an executable file in one of the colon-separated folders.
    static std::string FindProgram(const std::vector<std::string>& names, const std::string& pathList);

private:
    std::string m_opener;
};

} // namespace pellix
