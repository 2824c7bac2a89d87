// Zip compaction: measuring the unused space and rewriting the archive without it.
#include "workspace/zip_compact.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "links/file_io.h"
#include "workspace/zip_format.h"

namespace pellix {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCopyBuffer = 256 * 1024;
constexpr std::uint16_t kFlagDescriptor = 0x0008;

// Where one entry lies in the file: local header, data and data descriptor.
struct TSpan {
    std::int64_t offset = 0;
    std::int64_t length = 0;
};

struct TLayout {
    TZipDirectory directory;
    std::vector<TZipDirectoryRecord> records;
    std::vector<TSpan> spans;  // one per record, in directory order
};

// Reads the directory and, per record, the extent of its entry. kZipOk with directory.simple
// false for archives left to libzip.
int ReadLayout(int fd, std::int64_t fileSize, TLayout& layout, std::string& error) {
    int code = ReadZipDirectory(fd, fileSize, layout.directory);
    if (code != kZipOk) {
        error = "not a readable Zip file";
        return code;
    }
    const TZipDirectory& cd = layout.directory;
    if (!cd.simple) {
        return kZipOk;
    }
    if (!ParseZipDirectory(cd, layout.records)) {
        error = "damaged central directory";
        return kZipCorrupt;
    }
    layout.spans.reserve(layout.records.size());
    char header[kZipLocalSize];
    const std::string_view bytes(cd.bytes);
    for (const TZipDirectoryRecord& record : layout.records) {
        const std::int64_t at = ZipGet32(bytes, record.at + kZipCentralLocalOffset);
        const std::uint32_t packed = ZipGet32(bytes, record.at + kZipCentralPacked);
        const std::uint32_t crc = ZipGet32(bytes, record.at + kZipCentralCrc);
        const std::uint32_t flags = ZipGet16(bytes, record.at + kZipCentralFlags);
        if (at + static_cast<std::int64_t>(kZipLocalSize) > cd.offset) {
            error = "an entry lies outside the archive";
            return kZipCorrupt;
        }
        if (!ZipReadAt(fd, header, sizeof header, at)) {
            error = WriteErrorReason(errno);
            return ZipCodeFromErrno(errno);
        }
        const std::string_view local(header, sizeof header);
        if (ZipGet32(local, 0) != kZipLocalSignature) {
            error = "damaged entry header";
            return kZipCorrupt;
        }
        std::int64_t length = static_cast<std::int64_t>(kZipLocalSize + ZipGet16(local, 26) + ZipGet16(local, 28)) +
                              packed;
        if ((flags & kFlagDescriptor) != 0) {
            // crc, sizes, and before them a signature that writers may leave out.
            char descriptor[16];
            const std::int64_t end = at + length;
            const bool signed16 = end + 16 <= cd.offset && ZipReadAt(fd, descriptor, sizeof descriptor, end) &&
                                  ZipGet32(std::string_view(descriptor, 16), 0) == kZipDescriptorSignature &&
                                  ZipGet32(std::string_view(descriptor, 16), 4) == crc;
            length += signed16 ? 16 : 12;
        }
        if (at + length > cd.offset) {
            error = "an entry lies outside the archive";
            return kZipCorrupt;
        }
        layout.spans.push_back({at, length});
    }
    return kZipOk;
}

// Bytes the entries, the directory and the end record cover; entries shared by two records count
// once.
std::int64_t LiveBytes(const TLayout& layout) {
    std::vector<TSpan> spans = layout.spans;
    std::sort(spans.begin(), spans.end(), [](const TSpan& a, const TSpan& b) { return a.offset < b.offset; });
    std::int64_t live = 0;
    std::int64_t covered = 0;  // end of what is counted so far
    for (const TSpan& span : spans) {
        const std::int64_t start = std::max(span.offset, covered);
        const std::int64_t end = span.offset + span.length;
        if (end > start) {
            live += end - start;
            covered = end;
        }
    }
    const TZipDirectory& cd = layout.directory;
    return live + static_cast<std::int64_t>(cd.bytes.size() + kZipEndSize + cd.archiveComment.size());
}

} // namespace

TZipSpace MeasureZipSpace(const std::string& zipPath) {
    TZipSpace space;
    TZipFd fd(::open(zipPath.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) {
        space.code = ZipCodeFromErrno(errno);
        space.error = zipPath + ": " + WriteErrorReason(errno);
        return space;
    }
    space.fileSize = st.st_size;
    TLayout layout;
    space.code = ReadLayout(fd.Get(), st.st_size, layout, space.error);
    if (space.code != kZipOk) {
        space.error = zipPath + ": " + space.error;
        return space;
    }
    if (!layout.directory.simple) {
        return space;
    }
    space.measured = true;
    space.liveBytes = LiveBytes(layout);
    space.deadBytes = std::max<std::int64_t>(0, space.fileSize - space.liveBytes);
    return space;
}

TZipCompaction CompactZip(const std::string& zipPath) {
    TZipCompaction result;
    auto systemFail = [&](int error, const std::string& what) {
        result.code = ZipCodeFromErrno(error);
        result.systemError = error;
        result.error = what + ": " + WriteErrorReason(error);
        return result;
    };
    // A link is followed, as every write to the archive follows it, and the file it names is replaced.
    std::error_code ec;
    const fs::path real = fs::canonical(zipPath, ec);
    if (ec) {
        return systemFail(ec.value(), zipPath);
    }
    TZipFd fd(::open(real.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        return systemFail(errno, real.string());
    }
    // Held until the new file has taken the archive's place, so no add runs meanwhile.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        result.code = kZipBusy;
        result.error = real.string() + " is being written by another process.";
        return result;
    }
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) {
        return systemFail(errno, real.string());
    }
    result.sizeBefore = result.sizeAfter = st.st_size;
    if (st.st_nlink > 1) {
        result.code = kZipNothingToDo;
        result.error = real.string() + " has other names, which a rewrite would part from it.";
        return result;
    }
    TLayout layout;
    result.code = ReadLayout(fd.Get(), st.st_size, layout, result.error);
    if (result.code != kZipOk) {
        result.error = real.string() + ": " + result.error;
        return result;
    }
    if (!layout.directory.simple) {
        result.code = kZipNothingToDo;
        result.error = real.string() + ": a Zip64 or self-extracting archive, left as it is.";
        return result;
    }

    std::string temp = (real.parent_path() / ".pellix-compact-XXXXXX").string();
    TZipFd out(::mkstemp(temp.data()));
    if (out.Get() < 0) {
        return systemFail(errno, real.parent_path().string());
    }
    auto failAndRemove = [&](int error) {
        out.Close();
        ::unlink(temp.c_str());
        return systemFail(error, real.string());
    };
    ::fchmod(out.Get(), st.st_mode & 07777);
    if (::fchown(out.Get(), st.st_uid, st.st_gid) != 0) {
        // Kept by whoever runs this; the mode is what matters to the owner.
    }

    const TZipDirectory& cd = layout.directory;
    std::string directory;
    directory.reserve(cd.bytes.size() + kZipEndSize + cd.archiveComment.size());
    std::string buffer(kCopyBuffer, '\0');
    std::int64_t written = 0;
    for (std::size_t i = 0; i < layout.records.size(); ++i) {
        const TZipDirectoryRecord& record = layout.records[i];
        const TSpan& span = layout.spans[i];
        for (std::int64_t done = 0; done < span.length;) {
            const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(kCopyBuffer, span.length - done));
            if (!ZipReadAt(fd.Get(), buffer.data(), chunk, span.offset + done) ||
                !ZipWriteAt(out.Get(), buffer.data(), chunk, written + done)) {
                return failAndRemove(errno);
            }
            done += static_cast<std::int64_t>(chunk);
        }
        // The record as stored, with its entry's new place.
        const std::size_t at = directory.size();
        directory.append(cd.bytes, record.at, record.length);
        std::string offset;
        ZipPut32(offset, static_cast<std::uint32_t>(written));
        directory.replace(at + kZipCentralLocalOffset, 4, offset);
        written += span.length;
    }
    const auto directorySize = static_cast<std::uint32_t>(directory.size());
    ZipPut32(directory, kZipEndSignature);
    ZipPut16(directory, 0);
    ZipPut16(directory, 0);
    ZipPut16(directory, static_cast<std::uint32_t>(layout.records.size()));
    ZipPut16(directory, static_cast<std::uint32_t>(layout.records.size()));
    ZipPut32(directory, directorySize);
    ZipPut32(directory, static_cast<std::uint32_t>(written));
    ZipPut16(directory, static_cast<std::uint32_t>(cd.archiveComment.size()));
    directory += cd.archiveComment;
    if (!ZipWriteAt(out.Get(), directory.data(), directory.size(), written) || ::fsync(out.Get()) != 0) {
        return failAndRemove(errno);
    }
    if (!out.Close()) {
        const int error = errno;
        ::unlink(temp.c_str());
        return systemFail(error, real.string());
    }
    if (::rename(temp.c_str(), real.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return systemFail(error, real.string());
    }
    // The rename itself reaches the disk with the folder.
    TZipFd folder(::open(real.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() >= 0) {
        ::fsync(folder.Get());
    }
    result.rewritten = true;
    result.sizeAfter = written + static_cast<std::int64_t>(directory.size());
    return result;
}

} // namespace pellix
