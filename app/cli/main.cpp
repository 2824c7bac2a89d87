// pellix-cli: downloads a site without a window.
#include <cstdio>

int main(int, char**)
{
    std::fprintf(stderr, "pellix-cli: the crawl is not built yet; this program only checks the build.\n");
    return 0;
}
