// Packs a generated tree of small files into a Zip file the way a task's zip timer does (ticks
// of 50 files through TZipArchive::AddTaskFiles, with titles as comments), for 1,000, 10,000
// and 30,000 files, and prints the time per file of each run and of its last tenth (where the
// archive is largest), so that growth with the archive's size shows. The CPU figure leaves out
// the waits for the disk (each tick flushes twice); TMPDIR=/dev/shm takes most of them away.
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "workspace/zip_archive.h"

namespace fs = std::filesystem;

namespace {

int Pack(const fs::path& folder, int count) {
    const fs::path temp = folder / "tmp";
    for (int i = 0; i < count; ++i) {
        fs::path file = temp / ("d" + std::to_string(i / 100)) / ("page" + std::to_string(i) + ".htm");
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "<html><title>Page " << i << "</title>" << std::string(600 + i % 400, 'x') << "</html>";
    }
    pellix::TZipArchive archive;
    pellix::TZipObj& zip = archive.CreateNode((folder / "site.zip").string());
    using Clock = std::chrono::steady_clock;
    double total = 0;
    double lastTenth = 0;
    const std::clock_t cpu0 = std::clock();
    for (int start = 0; start < count; start += 50) {
        std::vector<pellix::TZipTaskFile> files;
        for (int i = start; i < std::min(count, start + 50); ++i) {
            files.push_back({(temp / ("d" + std::to_string(i / 100)) / ("page" + std::to_string(i) + ".htm")).string(),
                             "Page " + std::to_string(i)});
        }
        auto t0 = Clock::now();
        pellix::TZipOutcome outcome = archive.AddTaskFiles(zip, temp.string(), files);
        double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        if (outcome.code != pellix::kZipOk) {
            std::fprintf(stderr, "add failed: %d %s\n", outcome.code, archive.Engine().LastError().c_str());
            return 1;
        }
        total += us;
        if (start >= count - count / 10) {
            lastTenth += us;
        }
    }
    const double cpuUs = static_cast<double>(std::clock() - cpu0) * 1e6 / CLOCKS_PER_SEC;
    std::printf("%6d files: %8.1f us per file overall, %8.1f us per file in the last tenth, %8.1f us CPU per file, "
                "archive %lld bytes\n",
                count, total / count, lastTenth / (count / 10), cpuUs / count,
                static_cast<long long>(fs::file_size(folder / "site.zip")));
    return zip.entries.size() == static_cast<std::size_t>(count) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    fs::path root = fs::temp_directory_path() / ("pellix-zip-bench-" + std::to_string(::getpid()));
    std::vector<int> counts = {1000, 10000, 30000};
    if (argc > 1) {
        counts.clear();
        for (int i = 1; i < argc; ++i) {
            counts.push_back(std::atoi(argv[i]));
        }
    }
    int rc = 0;
    for (int count : counts) {
        fs::path folder = root / std::to_string(count);
        fs::create_directories(folder);
        rc |= Pack(folder, count);
        fs::remove_all(folder);
    }
    fs::remove_all(root);
    return rc;
}
