// Packs a generated tree of small files into a Zip file in ticks of 50, for 1,000 and 10,000
// files, and prints the time per file of each run and of its last tenth (where the archive is
// largest), so that growth with the archive's size shows.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "workspace/zip_engine.h"

namespace fs = std::filesystem;

namespace {

int Pack(const fs::path& folder, int count) {
    for (int i = 0; i < count; ++i) {
        fs::path file = folder / ("d" + std::to_string(i / 100)) / ("page" + std::to_string(i) + ".htm");
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "<html><title>Page " << i << "</title>" << std::string(600 + i % 400, 'x') << "</html>";
    }
    pellix::TZipEngine engine;
    engine.SetZipFileName((folder / "site.zip").string());
    engine.SetBaseDirectory(folder.string());
    using Clock = std::chrono::steady_clock;
    double total = 0;
    double lastTenth = 0;
    for (int start = 0; start < count; start += 50) {
        std::vector<std::string> names;
        for (int i = start; i < std::min(count, start + 50); ++i) {
            names.push_back("d" + std::to_string(i / 100) + "/page" + std::to_string(i) + ".htm");
        }
        engine.SetFilesToProcess(names);
        auto t0 = Clock::now();
        int code = engine.Add(pellix::kZipAddReplace);
        double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        if (code != pellix::kZipOk) {
            std::fprintf(stderr, "add failed: %d %s\n", code, engine.LastError().c_str());
            return 1;
        }
        total += us;
        if (start >= count - count / 10) {
            lastTenth += us;
        }
    }
    std::printf("%6d files: %8.1f us per file overall, %8.1f us per file in the last tenth, archive %lld bytes\n",
                count, total / count, lastTenth / (count / 10),
                static_cast<long long>(fs::file_size(folder / "site.zip")));
    return 0;
}

} // namespace

int main() {
    fs::path root = fs::temp_directory_path() / ("pellix-zip-bench-" + std::to_string(::getpid()));
    int rc = 0;
    for (int count : {1000, 10000}) {
        fs::path folder = root / std::to_string(count);
        fs::create_directories(folder);
        rc |= Pack(folder, count);
    }
    fs::remove_all(root);
    return rc;
}
