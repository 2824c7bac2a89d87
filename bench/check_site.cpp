// check_site: lists the local links of a saved site folder that lead to no file.
// Usage: bench_check_site <folder>. Exit status 0 when every local link works, 1 when some are
// broken, 2 on bad usage.
#include <cstdio>

// The checker is a test tool; the benchmarks link only the core, so it is compiled in here.
#include "tests/support/site_checker.cpp"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <saved site folder>\n", argv[0]);
        return 2;
    }
    const pellix::test::TSiteReport report = pellix::test::TSiteChecker(argv[1]).Check();
    std::printf("%s\n", report.Describe().c_str());
    return report.broken.empty() ? 0 : 1;
}
