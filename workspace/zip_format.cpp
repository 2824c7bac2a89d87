// Zip file layout: whole reads and writes, and the reader of the end record and directory.
#include "workspace/zip_format.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "workspace/zip_result.h"

namespace pellix {

TZipFd::~TZipFd() {
    Close();
}

void TZipFd::Reset(int fd) {
    Close();
    m_fd = fd;
}

bool TZipFd::Close() {
    const int fd = m_fd;
    m_fd = -1;
    return fd < 0 || ::close(fd) == 0;
}

bool ZipWriteAt(int fd, const char* data, std::size_t size, std::int64_t offset) {
    while (size > 0) {
        ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

bool ZipReadAt(int fd, char* data, std::size_t size, std::int64_t offset) {
    while (size > 0) {
        ssize_t n = ::pread(fd, data, size, offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

int ZipCodeFromErrno(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:  // the file size limit: no more room for this file
        return kZipDiskFull;
    case ENOMEM:
        return kZipNoMemory;
    case ENOENT:
        return kZipNotFound;
    default:
        return kZipAccess;
    }
}

namespace {

// The directory of an archive whose end record ends exactly at fileSize.
int ReadDirectoryEndingAt(int fd, std::int64_t fileSize, TZipDirectory& directory) {
    directory = TZipDirectory{};
    directory.size = fileSize;
    if (fileSize == 0) {
        directory.simple = true;
        return kZipOk;
    }
    if (fileSize < static_cast<std::int64_t>(kZipEndSize)) {
        return kZipCorrupt;
    }
    std::int64_t tailSize = std::min<std::int64_t>(fileSize, kZipEndSize + 0xFFFF);
    std::string tail(static_cast<std::size_t>(tailSize), '\0');
    if (!ZipReadAt(fd, tail.data(), tail.size(), fileSize - tailSize)) {
        return ZipCodeFromErrno(errno);
    }
    std::int64_t found = -1;
    for (std::int64_t at = tailSize - static_cast<std::int64_t>(kZipEndSize); at >= 0; --at) {
        auto pos = static_cast<std::size_t>(at);
        if (ZipGet32(tail, pos) == kZipEndSignature && pos + kZipEndSize + ZipGet16(tail, pos + 20) == tail.size()) {
            found = at;
            break;
        }
    }
    if (found < 0) {
        return kZipCorrupt;
    }
    auto e = static_cast<std::size_t>(found);
    std::int64_t endPos = fileSize - tailSize + found;
    std::uint32_t disk = ZipGet16(tail, e + 4);
    std::uint32_t cdDisk = ZipGet16(tail, e + 6);
    std::uint32_t onDisk = ZipGet16(tail, e + 8);
    directory.count = ZipGet16(tail, e + 10);
    std::uint32_t cdSize = ZipGet32(tail, e + 12);
    std::uint32_t cdStart = ZipGet32(tail, e + 16);
    directory.archiveComment = tail.substr(e + kZipEndSize);
    if (disk != 0 || cdDisk != 0) {
        return kZipMultidisk;
    }
    bool zip64 = (found >= 20 && ZipGet32(tail, e - 20) == kZip64LocatorSignature) || directory.count == 0xFFFF ||
                 cdSize == 0xFFFFFFFF || cdStart == 0xFFFFFFFF;
    if (zip64 || onDisk != directory.count || static_cast<std::int64_t>(cdStart) + cdSize != endPos) {
        return kZipOk;  // readable, but not by our writers
    }
    directory.bytes.assign(cdSize, '\0');
    if (cdSize > 0 && !ZipReadAt(fd, directory.bytes.data(), cdSize, cdStart)) {
        return ZipCodeFromErrno(errno);
    }
    directory.offset = cdStart;
    directory.simple = true;
    return kZipOk;
}

// Whether the file's last bytes are the start of the copy an add writes of this end record's
// directory: the directory's bytes, then an end record that differs only in its offset field.
bool EndsWithTornCopy(int fd, std::int64_t fileSize, std::int64_t endAt, std::string_view end) {
    const std::uint32_t cdSize = ZipGet32(end, 12);
    const std::uint32_t cdStart = ZipGet32(end, 16);
    std::string expected(cdSize, '\0');
    if (cdSize > 0 && !ZipReadAt(fd, expected.data(), cdSize, cdStart)) {
        return false;
    }
    expected.append(end);
    const std::size_t offsetField = cdSize + 16;  // masked: the copy names its own place
    const std::int64_t archiveEnd = endAt + static_cast<std::int64_t>(end.size());
    // A complete copy would be a valid end; anything shorter is torn.
    const auto window = static_cast<std::size_t>(
        std::min<std::int64_t>(fileSize - archiveEnd, static_cast<std::int64_t>(expected.size()) - 1));
    if (window == 0) {
        return false;
    }
    std::string last(window, '\0');
    if (!ZipReadAt(fd, last.data(), window, fileSize - static_cast<std::int64_t>(window))) {
        return false;
    }
    for (std::size_t from = 0; from < window; ++from) {
        if (last[from] != expected[0]) {
            continue;
        }
        bool same = true;
        for (std::size_t i = from; i < window && same; ++i) {
            const std::size_t at = i - from;
            same = (at >= offsetField && at < offsetField + 4) || last[i] == expected[at];
        }
        if (same) {
            return true;
        }
    }
    return false;
}

// The end of the archive before a torn tail, or 0: the last end record that describes a
// directory right before it, provided the bytes after it are the torn copy of that directory.
std::int64_t TornTailStart(int fd, std::int64_t fileSize) {
    constexpr std::int64_t kChunk = 1 << 20;
    std::string chunk;
    for (std::int64_t end = fileSize; end > 0;) {
        const std::int64_t start = std::max<std::int64_t>(0, end - kChunk);
        // Enough past the chunk for a record that starts in it.
        const std::int64_t stop = std::min<std::int64_t>(fileSize, end + static_cast<std::int64_t>(kZipEndSize) - 1);
        chunk.resize(static_cast<std::size_t>(stop - start));
        if (!ZipReadAt(fd, chunk.data(), chunk.size(), start)) {
            return 0;
        }
        const std::string_view view(chunk);
        const std::string_view signature("PK\x05\x06", 4);
        // Records that start in this chunk, from the last one back.
        std::size_t pos = static_cast<std::size_t>(end - start);
        while (pos > 0 && (pos = view.rfind(signature, pos - 1)) != std::string_view::npos) {
            if (pos + kZipEndSize > chunk.size()) {
                continue;
            }
            const std::int64_t endAt = start + static_cast<std::int64_t>(pos);
            const std::string_view record = view.substr(pos, kZipEndSize);
            const std::uint32_t count = ZipGet16(record, 10);
            const std::uint32_t cdSize = ZipGet32(record, 12);
            const std::uint32_t cdStart = ZipGet32(record, 16);
            const std::int64_t archiveEnd = endAt + static_cast<std::int64_t>(kZipEndSize) + ZipGet16(record, 20);
            if (ZipGet16(record, 4) != 0 || ZipGet16(record, 6) != 0 || ZipGet16(record, 8) != count ||
                static_cast<std::int64_t>(cdStart) + cdSize != endAt || archiveEnd >= fileSize) {
                continue;  // not the end of a directory right before it
            }
            std::string endRecord(static_cast<std::size_t>(archiveEnd - endAt), '\0');
            if (!ZipReadAt(fd, endRecord.data(), endRecord.size(), endAt)) {
                return 0;
            }
            return EndsWithTornCopy(fd, fileSize, endAt, endRecord) ? archiveEnd : 0;
        }
        end = start;
    }
    return 0;
}

// The end record that closes directory: count, size, offset and comment as read.
std::string EndRecordOf(const TZipDirectory& directory, std::uint32_t cdSize) {
    std::string end;
    ZipPut32(end, kZipEndSignature);
    ZipPut16(end, 0);
    ZipPut16(end, 0);
    ZipPut16(end, directory.count);
    ZipPut16(end, directory.count);
    ZipPut32(end, cdSize);
    ZipPut32(end, static_cast<std::uint32_t>(directory.offset));
    ZipPut16(end, static_cast<std::uint32_t>(directory.archiveComment.size()));
    return end + directory.archiveComment;
}

// An add that grows the file first writes end records of the old entries whose directory size
// runs up to each record. When directory is such a one, the end of the archive before the add:
// its records are followed by its own end record. Else 0.
std::int64_t EndBeforeStrides(const TZipDirectory& directory) {
    const std::string_view bytes(directory.bytes);
    TZipDirectoryRecord record;
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < directory.count; ++i, at += record.length) {
        if (!ParseZipRecord(bytes, at, record)) {
            return 0;
        }
    }
    if (at == bytes.size()) {
        return 0;
    }
    const std::string end = EndRecordOf(directory, static_cast<std::uint32_t>(at));
    if (bytes.substr(at, end.size()) != end) {
        return 0;
    }
    return directory.offset + static_cast<std::int64_t>(at + end.size());
}

// Such an end record, then what a kill in the middle of writing the next one leaves: the gap
// (zeros) and the first bytes of that record after its signature, the same but for the size, or
// all of them and the first bytes of the signature.
// The end of the archive up to that record, or 0.
std::int64_t StrideEndBeforeTornRecord(int fd, std::int64_t fileSize) {
    const std::int64_t tailSize = std::min<std::int64_t>(fileSize, kZipEndSize + 0xFFFF);
    std::string tail(static_cast<std::size_t>(tailSize), '\0');
    if (tailSize < static_cast<std::int64_t>(kZipEndSize) ||
        !ZipReadAt(fd, tail.data(), tail.size(), fileSize - tailSize)) {
        return 0;
    }
    const std::string_view view(tail);
    const std::string_view signature("PK\x05\x06", 4);
    std::size_t pos = view.size();
    while (pos > 0 && (pos = view.rfind(signature, pos - 1)) != std::string_view::npos) {
        if (pos + kZipEndSize > view.size()) {
            continue;
        }
        const std::size_t recordEnd = pos + kZipEndSize + ZipGet16(view, pos + 20);
        if (recordEnd >= view.size()) {
            continue;
        }
        const std::string_view body = view.substr(pos + 4, recordEnd - pos - 4);
        const std::string_view after = view.substr(recordEnd);
        // The torn record's bytes: the longest run at the end that matches the body's start.
        std::size_t written = std::min(after.size(), body.size());
        for (; written > 0; --written) {
            bool same = true;
            for (std::size_t i = 0; i < written && same; ++i) {
                same = (i >= 8 && i < 12) || after[after.size() - written + i] == body[i];
            }
            if (same) {
                break;
            }
        }
        std::string_view gap = after.substr(0, after.size() - written);
        if (written == body.size() && gap.size() >= 4) {
            // The body is complete: its signature, written last, may be torn too.
            const std::string_view head = gap.substr(gap.size() - 4);
            std::size_t same = 0;
            while (same < 4 && head[same] == signature[same]) {
                ++same;
            }
            if (std::all_of(head.begin() + static_cast<std::ptrdiff_t>(same), head.end(),
                            [](char c) { return c == 0; })) {
                gap.remove_suffix(4);
            }
        }
        if (std::all_of(gap.begin(), gap.end(), [](char c) { return c == 0; })) {
            return fileSize - tailSize + static_cast<std::int64_t>(recordEnd);
        }
        return 0;  // only the last record counts
    }
    return 0;
}

} // namespace

int ReadZipDirectory(int fd, std::int64_t fileSize, TZipDirectory& directory) {
    int code = ReadDirectoryEndingAt(fd, fileSize, directory);
    bool torn = false;
    if (code == kZipCorrupt) {
        std::int64_t size = StrideEndBeforeTornRecord(fd, fileSize);
        if (size <= 0) {
            size = TornTailStart(fd, fileSize);
        }
        if (size <= 0) {
            return code;
        }
        code = ReadDirectoryEndingAt(fd, size, directory);
        torn = true;
    }
    if (code == kZipOk && directory.simple) {
        if (const std::int64_t size = EndBeforeStrides(directory); size > 0) {
            code = ReadDirectoryEndingAt(fd, size, directory);
            torn = true;
        }
    }
    directory.tornTail = torn && code == kZipOk;
    return code;
}

std::int64_t ZipSizeBeforeTornTail(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    struct stat st;
    TZipDirectory directory;
    const bool torn = ::fstat(fd, &st) == 0 && ReadZipDirectory(fd, st.st_size, directory) == kZipOk &&
                      directory.tornTail;
    ::close(fd);
    return torn ? directory.size : 0;
}

bool ParseZipDirectory(const TZipDirectory& directory, std::vector<TZipDirectoryRecord>& records) {
    records.clear();
    records.reserve(directory.count);
    const std::string_view bytes(directory.bytes);
    TZipDirectoryRecord record;
    for (std::size_t at = 0, i = 0; i < directory.count; ++i, at += record.length) {
        if (!ParseZipRecord(bytes, at, record)) {
            return false;
        }
        records.push_back(record);
    }
    return true;
}

} // namespace pellix
