// Download list benchmark: build, save, load and pick through a list of 100,000 items.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <malloc.h>
#include <unistd.h>

#include "engine/download_list.h"
#include "engine/task.h"

using namespace pellix;

namespace {

using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point since)
{
    return std::chrono::duration<double>(TClock::now() - since).count();
}

// Heap bytes in use.
double HeapBytes()
{
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

std::string URLOf(int i)
{
    return "http://www.example.com/section" + std::to_string(i % 97) + "/page" + std::to_string(i) +
           (i % 4 == 0 ? ".gif" : ".html");
}

void Fill(TPXTask& task, int count)
{
    for (int i = 0; i < count; ++i) {
        const bool page = i % 4 != 0;
        auto item = std::make_unique<TPXQItem>(URLOf(i), page ? "HTML" : "Images", kActionDownload);
        item->SetParentURL("http://www.example.com/section" + std::to_string(i % 97) + "/");
        item->SetDepth(i % 7);
        task.DownloadList().AddItem(std::move(item));
    }
}

// Microseconds per pick when every item is picked and taken in turn, as the coordinator does.
double PickMicroseconds(TPXTask& task)
{
    TPXDownloadList& list = task.DownloadList();
    const auto start = TClock::now();
    long picks = 0;
    for (;;) {
        TPXQItem* item = list.NextPage();
        if (!item)
            item = list.NextResource();
        if (!item)
            break;
        item->SetState(kStateDownloading);
        ++picks;
    }
    return picks ? Seconds(start) * 1e6 / static_cast<double>(picks) : 0;
}

// Nanoseconds per URL index look-up, half of them hits, the way the parse thread asks for every
// link of a page: the same host, in the case the page wrote it.
double LookupNanoseconds(const TPXDownloadList& list, int count)
{
    std::vector<std::string> probes;
    probes.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        probes.push_back(i % 2 == 0 ? URLOf(i) : URLOf(i + count));
    probes[0] = "HTTP://WWW.Example.com/section0/page0.gif";
    const auto start = TClock::now();
    std::size_t found = 0;
    constexpr int kRounds = 5;
    for (int round = 0; round < kRounds; ++round)
        for (const std::string& url : probes)
            found += list.ContainsURL(url) ? 1 : 0;
    const double seconds = Seconds(start);
    if (found != static_cast<std::size_t>(kRounds) * static_cast<std::size_t>((count + 1) / 2))
        std::printf("look-up found %zu, expected %d\n", found, kRounds * ((count + 1) / 2));
    return seconds * 1e9 / (static_cast<double>(kRounds) * count);
}

} // namespace

int main()
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("pellix-bench-list-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);

    std::printf("items      look-up (ns)  pick (us)\n");
    for (const int count : {1000, 10000, 100000}) {
        TPXTask task;
        task.SetTaskName("Bench");
        task.SetTaskFile((folder / "Bench.pxt").string());
        Fill(task, count);
        const double lookup = LookupNanoseconds(task.DownloadList(), count);
        std::printf("%-9d  %-12.1f  %.3f\n", count, lookup, PickMicroseconds(task));
    }

    constexpr int kItems = 100000;
    double saveSeconds = 0;
    {
        TPXTask task;
        task.SetTaskName("Bench");
        task.SetTaskFile((folder / "Bench.pxt").string());
        auto start = TClock::now();
        Fill(task, kItems);
        const double buildSeconds = Seconds(start);
        start = TClock::now();
        const TListResult saved = task.DownloadList().SaveList();
        saveSeconds = Seconds(start);
        std::printf("build %d items: %.3f s; save: %.3f s (%s, %.1f MB)\n", kItems, buildSeconds, saveSeconds,
                    saved.ok ? "ok" : saved.message.c_str(),
                    static_cast<double>(std::filesystem::file_size(task.DownloadList().FilePath())) / 1e6);
    }

    const double beforeLoad = HeapBytes();
    TPXTask task;
    task.SetTaskName("Bench");
    task.SetTaskFile((folder / "Bench.pxt").string());
    const auto start = TClock::now();
    const TListResult loaded = task.DownloadList().LoadList();
    const double loadSeconds = Seconds(start);
    const double afterLoad = HeapBytes();
    std::printf("load %zu items: %.3f s (%s; goal under 1 s)\n", task.DownloadList().Count(), loadSeconds,
                loaded.ok ? "ok" : loaded.message.c_str());
    std::printf("memory per loaded item: %.0f bytes (heap in use, lines, item, indexes)\n",
                (afterLoad - beforeLoad) / kItems);
    std::printf("pick through the loaded list: %.3f us per pick\n", PickMicroseconds(task));

    std::filesystem::remove_all(folder);
    return loaded.ok ? 0 : 1;
}
