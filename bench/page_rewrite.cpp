// page_rewrite: the CPU the link rewriter costs on a real site's pages, on one thread.
// Usage: bench_page_rewrite [folder] [rounds]
//   folder: a site's files (default: the CMake manual of cmake-doc, bench/mirror's site)
//   rounds: how often the whole site is rewritten; the best round is printed (default: 5)
// Every page is rewritten as a crawl of the site would: its links are tested with the default
// profile's rules, and links queued by earlier pages count as known to the later ones.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "links/file_io.h"
#include "links/file_types.h"
#include "links/page_rewriter.h"
#include "links/profile.h"
#include "links/resolved_link_cache.h"
#include "workspace/app_settings.h"
#include "workspace/first_start.h"

namespace fs = std::filesystem;
using namespace pellix;

int main(int argc, char** argv)
{
    const fs::path root = argc > 1 ? fs::path(argv[1]) : fs::path("/usr/share/doc/cmake-data/html");
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::string site = "http://127.0.0.1:18080/";

    struct TPage {
        std::string url;
        std::string text;
    };
    std::vector<TPage> pages;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root, ec)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || !(name.ends_with(".html") || name.ends_with(".htm")))
            continue;
        if (std::optional<std::string> text = ReadWholeFile(entry.path()))
            pages.push_back({site + fs::relative(entry.path(), root).generic_string(), std::move(*text)});
    }
    if (pages.empty()) {
        std::fprintf(stderr, "no pages under %s\n", root.c_str());
        return 2;
    }
    // The file-type groups a new user's settings hold.
    const fs::path home = fs::temp_directory_path() / ("pellix-bench-rewrite-" + std::to_string(::getpid()));
    TAppPaths paths;
    paths.programFolder = home;
    paths.settingsFile = home / "registry.ini";
    std::vector<TFileTypeGroup> groups;
    {
        TPXApp app(paths);
        TFirstStart(app).Run();
        groups = ReadFileTypeGroups(app.Store());
    }
    fs::remove_all(home, ec);
    const TPXProfile profile;

    double best = 0;
    long links = 0;
    long newLinks = 0;
    std::size_t bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        std::unordered_map<std::string, std::string> known; // URL -> type extension, as the list holds them
        TResolvedLinkCache resolved;                        // one parse thread's
        known.emplace(pages.front().url, "");
        links = newLinks = 0;
        bytes = 0;
        const auto start = std::chrono::steady_clock::now();
        for (const TPage& page : pages) {
            TPageRewriteInput input;
            input.url = page.url;
            input.startURL = site + "index.html";
            input.depth = 1;
            input.groups = groups;
            input.aggressiveParser = profile.AggressiveParser();
            input.convertFollowedLinks = profile.ConvertFollowedLinks();
            input.convertUnfollowedLinks = profile.ConvertUnfollowedLinks();
            TPageRewriter rewriter(
                std::move(input),
                [&profile](std::string_view url, std::string_view folder, int level, std::string_view group) {
                    return profile.AcceptLink(url, folder, level, group);
                },
                [&known](std::string_view url) { return known.contains(std::string(url)); },
                [&known](std::string_view url) {
                    const auto found = known.find(std::string(url));
                    return found == known.end() ? std::string() : found->second;
                });
            rewriter.SetResolvedLinks(&resolved);
            TPageRewrite rewrite = rewriter.Rewrite(page.text);
            for (const TQueuedLink& link : rewrite.queued)
                known.emplace(link.url, link.typeExtension);
            for (const TPassCounts& counts : rewrite.passes) {
                links += counts.links;
                newLinks += counts.newLinks;
            }
            bytes += rewrite.text.size();
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (round == 0 || seconds < best)
            best = seconds;
    }
    std::printf("%zu pages, %ld links, %ld new, %zu bytes written: best of %d rounds %.1f ms (%.2f us per link)\n",
                pages.size(), links, newLinks, bytes, rounds, best * 1e3, best * 1e6 / std::max(1L, links));
    return 0;
}
