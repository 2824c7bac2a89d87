#include "workspace/offline_address.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "links/text_helpers.h"

namespace pellix {

namespace {

// Every byte but the plain ones and "/" as %XX: names with blanks, "#", "?" or UTF-8 survive.
bool EncodedInPath(unsigned char c)
{
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~' || c == '/';
    return !plain;
}

std::string EncodePath(std::string_view path)
{
    return PercentEncode(path, EncodedInPath);
}

// The scheme of an address, lower case; empty when it has none.
std::string SchemeOf(std::string_view address)
{
    const std::size_t colon = address.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return {};
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = address[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && !(i > 0 && other))
            return {};
    }
    return LowerCase(address.substr(0, colon));
}

std::string EntryOrIndex(std::string entry)
{
    if (entry.empty() || entry.back() == '/')
        entry += "index.htm";
    return entry;
}

} // namespace

std::string TOfflineAddress::ZipKey(const std::string& zipPath)
{
    // FNV-1a: enough to tell a user's Zip files apart; the map below says which one it is.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : zipPath) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char key[24];
    std::snprintf(key, sizeof key, "z%016llx", static_cast<unsigned long long>(hash));
    return key;
}

std::string TOfflineAddress::AddressOfEntry(const std::string& zipPath, const std::string& entry)
{
    const std::string key = ZipKey(zipPath);
    {
        std::lock_guard lock(m_mutex);
        m_zips[key] = zipPath;
    }
    std::string path = entry;
    while (!path.empty() && path.front() == '/')
        path.erase(0, 1);
    return std::string(kZipScheme) + "://" + key + "/" + EncodePath(EntryOrIndex(path));
}

std::optional<TZipEntryRef> TOfflineAddress::EntryOfAddress(std::string_view address) const
{
    const std::string prefix = std::string(kZipScheme) + "://";
    if (address.size() < prefix.size() || LowerCase(address.substr(0, prefix.size())) != prefix)
        return std::nullopt;
    std::string_view rest = address.substr(prefix.size());
    rest = rest.substr(0, rest.find_first_of("?#"));
    const std::size_t slash = rest.find('/');
    const std::string key = LowerCase(rest.substr(0, slash));
    std::string entry = slash == std::string_view::npos ? std::string() : PercentDecode(rest.substr(slash + 1));
    // The browser resolves dot segments itself; one that is left (encoded, or typed) names no
    // entry, and must not reach one outside the copy's folder.
    std::size_t start = 0;
    while (start <= entry.size()) {
        const std::size_t end = std::min(entry.find('/', start), entry.size());
        const std::string_view segment = std::string_view(entry).substr(start, end - start);
        if (segment == ".." || segment == ".")
            return std::nullopt;
        start = end + 1;
    }
    std::lock_guard lock(m_mutex);
    const auto it = m_zips.find(key);
    if (it == m_zips.end())
        return std::nullopt;
    return TZipEntryRef{it->second, EntryOrIndex(std::move(entry))};
}

TAddressKind TOfflineAddress::Classify(std::string_view address)
{
    const std::string scheme = SchemeOf(address);
    if (scheme == kZipScheme)
        return TAddressKind::ZipEntry;
    if (scheme == "http" || scheme == "https" || scheme == "ftp")
        return TAddressKind::Online;
    if (scheme == "file")
        return TAddressKind::LocalFile;
    return TAddressKind::Other;
}

std::string TOfflineAddress::FileAddress(const std::string& localPath)
{
    std::error_code ec;
    std::string path = std::filesystem::absolute(localPath, ec).lexically_normal().string();
    if (ec)
        path = localPath;
    return "file://" + EncodePath(path);
}

std::string TOfflineAddress::AddressOfTyped(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (text.empty())
        return {};
    if (text.front() == '/')
        return FileAddress(std::string(text));
    const std::string scheme = SchemeOf(text);
    // "host:8080/page" has no scheme: only known schemes and "scheme://" count.
    if (!scheme.empty() && (scheme == kZipScheme || scheme == "http" || scheme == "https" || scheme == "ftp" ||
                            scheme == "file" || scheme == "about" || scheme == "data" ||
                            text.substr(scheme.size(), 3) == "://"))
        return std::string(text);
    return "http://" + std::string(text);
}

bool AddToAddressList(std::vector<std::string>& list, const std::string& address)
{
    const std::string key = LowerCase(address);
    for (const std::string& item : list)
        if (LowerCase(item) == key)
            return false;
    list.insert(list.begin(), address);
    return true;
}

} // namespace pellix
