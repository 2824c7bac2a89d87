// TOfflineAddress: the addresses under which the internal browser shows entries of Zip files,
// straight from the archive, and the way back from such an address to its Zip file and entry.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellix {

// The browser's own scheme for Zip entries: "pellix-zip://<zip key>/<entry path>". Each Zip file
// has a host of its own, so relative links inside the offline copy resolve among its entries and
// never climb out of it, and two Zip files never share an origin.
inline constexpr const char* kZipScheme = "pellix-zip";

struct TZipEntryRef {
    std::string zipPath;
    std::string entry;  // "/" separated, as the archive stores it
    bool operator==(const TZipEntryRef&) const = default;
};

// What an address typed or followed in the internal browser leads to.
enum class TAddressKind {
    ZipEntry,   // an entry of a Zip file, served from the archive
    Online,     // the web: items that failed keep their web address and open online
    LocalFile,  // a file: address (the personal intranet, the downloads folder)
    Other,      // about:, data: and the like: the browser's business
};

class TOfflineAddress final {
public:
    // The address of entry in the Zip file zipPath; the Zip is remembered so that EntryOfAddress
    // finds it again. A folder entry ("site/" or "") stands for its "index.htm".
    std::string AddressOfEntry(const std::string& zipPath, const std::string& entry);
    // The Zip file and entry an address of ours names: the path is percent-decoded, the query
    // and anchor dropped, a folder gets "index.htm". Nothing for other addresses, for Zip files
    // never handed to AddressOfEntry, and for paths that climb with "..".
    std::optional<TZipEntryRef> EntryOfAddress(std::string_view address) const;

    static TAddressKind Classify(std::string_view address);
    // The file: address of a local file or folder, percent-encoded as a browser expects.
    static std::string FileAddress(const std::string& localPath);
    // What the address box makes of typed text: an address with a scheme stays, a local path
    // becomes its file: address, anything else is taken as a web address ("http://" in front).
    static std::string AddressOfTyped(std::string_view text);
    // The host that stands for a Zip file: stable across runs, lower case, a valid host name.
    static std::string ZipKey(const std::string& zipPath);

private:
    mutable std::mutex m_mutex;  // the browser's request handler reads from its workers
    std::map<std::string, std::string> m_zips;  // key -> Zip path
};

// The browser's address list after a completed navigation: the address goes on top unless the
// list holds it already, compared without regard to case. True when it was added.
bool AddToAddressList(std::vector<std::string>& list, const std::string& address);

} // namespace pellix
