// Zip file layout: record signatures and sizes, little-endian fields, whole reads and writes at an
// offset, and the reader of the end record and central directory shared by the appender and the
// compactor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pellix {

constexpr std::uint32_t kZipLocalSignature = 0x04034b50;
constexpr std::uint32_t kZipCentralSignature = 0x02014b50;
constexpr std::uint32_t kZipEndSignature = 0x06054b50;
constexpr std::uint32_t kZipDescriptorSignature = 0x08074b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::size_t kZipEndSize = 22;
constexpr std::size_t kZipCentralSize = 46;
constexpr std::size_t kZipLocalSize = 30;
// An entry comment, as this program stores and shows it.
constexpr std::size_t kZipMaxComment = 255;

// A file descriptor, closed when it goes.
class TZipFd final {
public:
    explicit TZipFd(int fd = -1) : m_fd(fd) {}
    ~TZipFd();
    TZipFd(const TZipFd&) = delete;
    TZipFd& operator=(const TZipFd&) = delete;
    int Get() const { return m_fd; }
    // Closes the one held and takes fd.
    void Reset(int fd);
    // False when closing reports a failed write.
    bool Close();

private:
    int m_fd;
};

inline void ZipPut16(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

inline void ZipPut32(std::string& out, std::uint32_t v) {
    ZipPut16(out, v & 0xFFFF);
    ZipPut16(out, v >> 16);
}

inline std::uint32_t ZipGet16(std::string_view s, std::size_t at) {
    return static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8);
}

inline std::uint32_t ZipGet32(std::string_view s, std::size_t at) {
    return ZipGet16(s, at) | (ZipGet16(s, at + 2) << 16);
}

// pwrite / pread until done (EINTR retried). False with errno set; a read past the end is EIO.
bool ZipWriteAt(int fd, const char* data, std::size_t size, std::int64_t offset);
bool ZipReadAt(int fd, char* data, std::size_t size, std::int64_t offset);

// The result code for a failed system call on the archive (disk full, no memory, missing, access).
int ZipCodeFromErrno(int error);

// The end record and central directory of an open archive.
struct TZipDirectory {
    bool simple = false;         // false: Zip64, leading data or split; left to libzip
    std::int64_t offset = 0;     // where the directory starts (= end of the entries)
    std::string bytes;           // the directory as stored
    std::string archiveComment;
    std::uint32_t count = 0;
    // Where the archive ends: the file's size, or less when a torn tail follows (below).
    std::int64_t size = 0;
    bool tornTail = false;
};

// Reads the directory of the file open as fd, fileSize bytes long. kZipOk with simple false for
// archives that are readable but not by our own writers; an error code when it is no Zip file.
//
// A process killed while an add wrote the copy of the old directory past the end leaves the
// archive as it was, then unused space, then the first part of that same copy: no reader finds
// an end record at the end any more. Exactly that state is recognised (the bytes at the end must
// equal the start of the directory), and the archive before them is read. So are the states an
// add leaves while it grows the file in strides (see TZipAppender): an end record of the old
// entries whose directory size runs past their records up to it, and after it at most the start
// of the next such record.
int ReadZipDirectory(int fd, std::int64_t fileSize, TZipDirectory& directory);

// The archive's own size when the file at path has a torn tail, else 0.
std::int64_t ZipSizeBeforeTornTail(const std::string& path);

// One record of a central directory. The other fields are read from the bytes where needed:
// every add parses the whole directory, so the record is kept small.
struct TZipDirectoryRecord {
    std::size_t at = 0;      // position in the directory's bytes
    std::size_t length = 0;  // bytes of the record, name, extra field and comment
    std::string_view name;   // inside the directory's bytes
    std::uint32_t dosTime = 0;
};

// Offsets of fields in a directory record.
constexpr std::size_t kZipCentralFlags = 8;
constexpr std::size_t kZipCentralCrc = 16;
constexpr std::size_t kZipCentralPacked = 20;
constexpr std::size_t kZipCentralLocalOffset = 42;

// The record that starts at `at` in a directory's bytes; false when it does not fit them.
inline bool ParseZipRecord(std::string_view bytes, std::size_t at, TZipDirectoryRecord& record) {
    if (at + kZipCentralSize > bytes.size() || ZipGet32(bytes, at) != kZipCentralSignature) {
        return false;
    }
    const std::size_t nameLength = ZipGet16(bytes, at + 28);
    record.at = at;
    record.length = kZipCentralSize + nameLength + ZipGet16(bytes, at + 30) + ZipGet16(bytes, at + 32);
    record.name = bytes.substr(at + kZipCentralSize, nameLength);
    record.dosTime = ZipGet32(bytes, at + 12);
    return at + record.length <= bytes.size();
}

// Splits directory.bytes into its count records (names point into the bytes); false when the
// records do not fit the bytes.
bool ParseZipDirectory(const TZipDirectory& directory, std::vector<TZipDirectoryRecord>& records);

} // namespace pellix
