// Checks shared by the fuzz targets: a trap on a broken invariant, and a local link opened the
// way a browser opens it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "links/text_helpers.h"

namespace pellix::fuzz {

inline void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

inline std::vector<std::string> Split(std::string_view path)
{
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = path.find('/', start);
        segments.emplace_back(path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos)
            return segments;
        start = slash + 1;
    }
}

// Opens a relative local link from the folder of fromFile as a browser does: decoded per
// segment (a "%" must start a valid escape), ".." never climbing above the root folder "/r/".
inline std::string Open(const std::string& fromFile, const std::string& link)
{
    std::vector<std::string> segments = Split(fromFile);
    segments.pop_back();
    for (const std::string& segment : Split(link)) {
        if (segment == "..") {
            Check(segments.size() > 2); // "", "r", host...
            segments.pop_back();
            continue;
        }
        std::string decoded;
        for (std::size_t i = 0; i < segment.size(); ++i) {
            if (segment[i] == '%') {
                Check(i + 2 < segment.size());
                const int high = HexDigit(segment[i + 1]);
                const int low = HexDigit(segment[i + 2]);
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

} // namespace pellix::fuzz
