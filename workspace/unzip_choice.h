// TUnzipChoice: what the unzip dialog hands back when the user confirms it.
#pragma once

#include <string>

namespace pellix {

struct TUnzipChoice {
    std::string folder;      // the destination, never empty
    bool allFiles = true;    // "All Files" (true) or "Selected Files"
    bool usePaths = true;    // "Use path names"
    bool overwrite = false;  // "Overwrite existing files"
};

} // namespace pellix
