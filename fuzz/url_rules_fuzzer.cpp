// Fuzz target for the URL rules: any bytes as URL, base and link; local files must stay under
// their root and local links must name those files.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_checks.h"
#include "links/text_helpers.h"
#include "links/url.h"
#include "links/url_rules.h"

using namespace pellix;
using namespace pellix::fuzz;

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
    (void)StripAnchor(url);

    // Names made for files: nothing a file name may not hold.
    const auto fitForFileName = [](const std::string& name) {
        for (const char c : name) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
                return false;
        }
        return name != "." && name != "..";
    };
    Check(fitForFileName(SiteName(url)));
    const std::string stem = FileStemFromTitle(url);
    Check(fitForFileName(stem) && stem.size() <= kMaxTitleStemBytes);
    Check(stem.empty() || (stem.front() != ' ' && stem.front() != '.' && stem.back() != ' ' && stem.back() != '.'));

    // An address that validates has a port of 1 to 65535 or none, a host without blanks or
    // control bytes, and a non-default port in its host folder.
    std::string address = url;
    if (ValidateURL(address)) {
        const TbwURL valid(address);
        const int port = valid.PortNumber();
        Check(port >= 0 && port <= 65535);
        Check(!valid.Host().empty());
        for (const char c : valid.Host())
            Check(static_cast<unsigned char>(c) > 0x20 && c != 0x7F);
        const std::string scheme = LowerCase(valid.Protocol());
        Check(scheme == "http://" || scheme == "https://");
        const std::string folder = Split(LocalFileName("/r/", "", address))[2];
        const bool defaultPort = port == 0 || port == (scheme == "https://" ? 443 : 80);
        if (!defaultPort)
            Check(folder.ends_with("_" + std::to_string(port)));
        std::string again = address;
        Check(ValidateURL(again));
    }

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
