// Fetches one URL with TagHTTP and prints the transfer rate and the process's peak memory.
// Usage: bench_http_throughput URL [runs]   (bench/http_throughput.sh compares it with curl)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/resource.h>

#include "engine/body_sink.h"
#include "engine/http_client.h"

namespace {

// Counts the body and drops it, as curl -o /dev/null does.
class TDiscardSink final : public pellix::IBodySink {
public:
    bool Start(std::int64_t, std::string&) override { m_size = 0; return true; }
    bool Write(std::string_view data, std::string&) override { m_size += static_cast<std::int64_t>(data.size()); return true; }
    bool Finish(std::string&) override { return true; }
    std::int64_t Size() const override { return m_size; }

private:
    std::int64_t m_size = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s URL [runs]\n", argv[0]);
        return 2;
    }
    int runs = argc > 2 ? std::atoi(argv[2]) : 1;
    double bestRate = 0;
    std::int64_t bytes = 0;
    for (int run = 0; run < runs; ++run) {
        pellix::TagHTTP http;
        TDiscardSink sink;
        http.SetBodySink(&sink);
        try {
            http.SetURL(argv[1]);
            auto start = std::chrono::steady_clock::now();
            int code = http.Get();
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (code != 200) {
                std::fprintf(stderr, "reply code %d\n", code);
                return 1;
            }
            bytes = sink.Size();
            double rate = static_cast<double>(bytes) / seconds;
            if (rate > bestRate)
                bestRate = rate;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "failed: %s\n", error.what());
            return 1;
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    // One line for the script: bytes, best rate in bytes per second, peak resident set in KiB.
    std::printf("bytes=%lld rate=%.0f peak_rss_kb=%ld\n", static_cast<long long>(bytes), bestRate, usage.ru_maxrss);
    return 0;
}
