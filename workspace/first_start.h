// TFirstStart: the steps that set up a fresh program folder and settings store once per version.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace pellix {

class TPXApp;

struct TFirstStartResult {
    bool ran = false;                  // false when this version's steps had already run
    bool fileTypesImported = false;
    std::vector<std::string> problems; // what went wrong, for the log; nothing here stops a start
};

// Copies the shipped data files into the program folder (existing files are kept), imports
// "FTypes.reg" from there, stores the downloads folder default, moves task and download-list
// files lying directly in the tasks folder into "General/", and finally writes "Version", so a
// start killed half-way runs the steps again. Skipped when "Version" is current and the program
// folder holds "Skins/".
class TFirstStart final {
public:
    explicit TFirstStart(TPXApp& app) : m_app(app) {}

    TFirstStartResult Run(const std::filesystem::path& dataFolder);
    TFirstStartResult Run() { return Run(DefaultDataFolder()); }

    // The installed data folder (<prefix>/share/pellix/data beside the executable's bin/) when it
    // holds FTypes.reg, else the source tree's data/ folder.
    static std::filesystem::path DefaultDataFolder();

private:
    TPXApp& m_app;
};

} // namespace pellix
