// Fuzz target for the URL rules: any bytes as URL, base and link; local files must stay under
// their root and local links must name those files.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "links/url.h"
#include "links/url_rules.h"

using namespace pellix;

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::vector<std::string> Split(const std::string& path)
{
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (true) {
        const auto slash = path.find('/', start);
        segments.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos)
            return segments;
        start = slash + 1;
    }
}

// Resolves a relative link from the folder of pageFile and decodes it, as a browser does.
std::string Open(const std::string& pageFile, const std::string& link)
{
    std::vector<std::string> segments = Split(pageFile);
    segments.pop_back();
    for (const std::string& segment : Split(link)) {
        if (segment == "..") {
            Check(segments.size() > 2); // never above the root "/r/"
            segments.pop_back();
            continue;
        }
        std::string decoded;
        for (std::size_t i = 0; i < segment.size(); ++i) {
            if (segment[i] == '%') {
                Check(i + 2 < segment.size());
                const int high = HexValue(segment[i + 1]);
                const int low = HexValue(segment[i + 2]);
                Check(high >= 0 && low >= 0);
                decoded += static_cast<char>(high * 16 + low);
                i += 2;
            } else {
                decoded += segment[i];
            }
        }
        segments.push_back(decoded);
    }
    std::string path;
    for (std::size_t i = 0; i < segments.size(); ++i)
        path += (i ? "/" : "") + segments[i];
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Input: two split bytes (shares of the rest, in 255ths), then url, base and link, so that
    // any byte can go anywhere and parts of any length can be formed.
    if (size < 2)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::size_t urlSize = data[0] * input.size() / 255;
    const std::string url(input.substr(0, urlSize));
    input.remove_prefix(urlSize);
    const std::size_t baseSize = data[1] * input.size() / 255;
    const std::string base(input.substr(0, baseSize));
    const std::string link(input.substr(baseSize));

    const TbwURL parsed(url);
    Check(parsed.Path().empty() || parsed.Path().back() == '/');
    (void)URLExtension(url);
    (void)URLAncestor(url, static_cast<int>(size % 5) - 1);
    (void)RelativeURL(url, base);
    (void)EscapeLocalPath(url);
    (void)SiteName(url);
    (void)StripAnchor(url);

    const std::string directory = URLDirectory(url);
    Check(!directory.empty() && directory.back() == '/');

    std::string validated = ResolveAndValidateURL(link, base);
    if (!validated.empty()) {
        std::string again = validated;
        Check(ValidateURL(again));
    }

    const std::string root = "/r/";
    const std::string file = LocalFileName(root, base, url);
    Check(file.compare(0, root.size(), root) == 0);
    for (const std::string& segment : Split(file.substr(root.size()))) {
        Check(!segment.empty() && segment != "." && segment != "..");
        Check(segment.size() <= 255);
        Check(segment.find('\0') == std::string::npos);
    }

    const std::string localLink = LocalLink(url, base);
    for (const char c : localLink) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || std::string_view("-._~!$()+,;=@/%").find(c) != std::string_view::npos;
        Check(plain);
    }
    Check(Open(LocalFileName(root, base, base), localLink) == file);
    return 0;
}
