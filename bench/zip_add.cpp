// Adds a generated tree of 1,000 files to a new Zip file through the zip wizard's path (the
// wizard's choice carried out with progress, folders recursed, path names saved, level 6), and
// packs the same files with `zip -r -6` in the same run; prints the time per file of each (best
// of three runs) and their ratio. Usage: bench_zip_add [files] (default 1000).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "workspace/zip_choice_jobs.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Text that compresses about as well as web pages do.
void MakeTree(const fs::path& root, int count) {
    std::string words[] = {"offline ", "browser ", "<div class=\"item\">", "</div>\n", "download ", "zip ", "page ",
                           "<a href=\"page", ".htm\">", "</a> "};
    for (int i = 0; i < count; ++i) {
        fs::path file = root / ("d" + std::to_string(i / 100)) / ("page" + std::to_string(i) + ".htm");
        fs::create_directories(file.parent_path());
        std::string text;
        unsigned seed = static_cast<unsigned>(i) * 2654435761u;
        const std::size_t size = 1500 + static_cast<std::size_t>(i % 7) * 1100;
        while (text.size() < size) {
            seed = seed * 1103515245u + 12345u;
            text += words[(seed >> 16) % 10];
            if ((seed >> 8) % 5 == 0) {
                text += std::to_string(seed % 1000);
            }
        }
        std::ofstream(file, std::ios::binary) << text;
    }
}

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double OursOnce(const fs::path& work, const fs::path& tree, int count) {
    const fs::path zipPath = work / "ours.zip";
    fs::remove(zipPath);
    pellix::TZipArchive archive;
    pellix::TZipWizardChoice choice;
    choice.zipPath = zipPath.string();
    choice.files = {tree.string()};
    choice.recurse = true;
    choice.usePaths = true;
    choice.compression = 6;
    std::int64_t seen = 0;
    const auto t0 = Clock::now();
    pellix::TZipWizardJobResult result = pellix::PerformZipWizardChoice(
        archive, choice, [&](const std::string&, std::int64_t done, std::int64_t) { seen = done; });
    const double s = Seconds(t0);
    if (result.outcome.code != pellix::kZipOk || seen != count) {
        std::fprintf(stderr, "add failed: code %d, %lld of %d files\n", result.outcome.code,
                     static_cast<long long>(seen), count);
        std::exit(1);
    }
    return s;
}

double ZipToolOnce(const fs::path& work, const fs::path& tree) {
    const fs::path zipPath = work / "tool.zip";
    fs::remove(zipPath);
    const std::string command = "cd '" + tree.parent_path().string() + "' && zip -r -6 -q '" + zipPath.string() +
                                "' '" + tree.filename().string() + "'";
    const auto t0 = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "zip failed: %s\n", command.c_str());
        std::exit(1);
    }
    return Seconds(t0);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const char* tmp = std::getenv("TMPDIR");
    fs::path work = fs::path(tmp ? tmp : "/tmp") / ("pellix-zip-add-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const fs::path tree = work / "site";
    MakeTree(tree, count);
    double ours = 1e9;
    double tool = 1e9;
    for (int run = 0; run < 3; ++run) {
        ours = std::min(ours, OursOnce(work, tree, count));
        tool = std::min(tool, ZipToolOnce(work, tree));
    }
    std::printf("%d files: wizard add %.1f us per file (%lld bytes), zip -r -6 %.1f us per file (%lld bytes), "
                "ratio %.2f\n",
                count, ours * 1e6 / count, static_cast<long long>(fs::file_size(work / "ours.zip")), tool * 1e6 / count,
                static_cast<long long>(fs::file_size(work / "tool.zip")), ours / tool);
    fs::remove_all(work);
    return ours <= tool ? 0 : 3;
}
