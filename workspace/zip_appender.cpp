// TZipAppender: adds files to a Zip file in place, writing only the new entries and the central
// directory, so that the archive stays readable at every moment, also when the process is killed.
#include "workspace/zip_appender.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#ifdef PELLIX_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "links/date_time.h"
#include "links/file_io.h"
#include "workspace/zip_result.h"

namespace pellix {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
#ifdef PELLIX_HAVE_LIBDEFLATE
// Files up to this size are read whole and compressed in one call, which costs far less CPU than
// the zlib stream; larger ones are streamed, so memory stays bounded.
constexpr std::int64_t kWholeFileLimit = 4 * 1024 * 1024;
#endif
constexpr std::int64_t kMaxOffset = 0xFFFFFFFFLL;
constexpr std::uint32_t kMaxPlainCount = 0xFFFF;
// How far before the file's end readers look for the end record: its size and the longest comment.
constexpr std::int64_t kEndSearch = kZipEndSize + 0xFFFF;

// The fields that the local header and the directory record share, from the version needed to
// the extra field's length (none): a name with non-ASCII bytes is flagged as UTF-8.
void PutEntryFields(std::string& out, const TZipAddItem& item) {
    const bool utf8 = std::any_of(item.entryName.begin(), item.entryName.end(),
                                  [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    ZipPut16(out, 20);
    ZipPut16(out, utf8 ? 0x0800 : 0);
    ZipPut16(out, item.deflated ? 8 : 0);
    ZipPut32(out, item.dosTime);
    ZipPut32(out, item.crc);
    ZipPut32(out, static_cast<std::uint32_t>(item.packed));
    ZipPut32(out, static_cast<std::uint32_t>(item.size));
    ZipPut16(out, static_cast<std::uint32_t>(item.entryName.size()));
    ZipPut16(out, 0);
}

} // namespace

// Buffers and one deflate stream shared by the entries of one add: allocating them per entry
// cost more than packing a small file.
struct TZipAppender::TPacker {
    std::string in = std::string(kBufferSize, '\0');
    std::string out = std::string(kBufferSize, '\0');
    z_stream zs{};
    int level = -1;  // level zs was set up with; -1: not set up
#ifdef PELLIX_HAVE_LIBDEFLATE
    std::string whole;        // a whole file, read at once
    std::string wholePacked;  // its compressed bytes
    libdeflate_compressor* compressor = nullptr;
    int compressorLevel = -1;
#endif
    TPacker() = default;
    TPacker(const TPacker&) = delete;
    TPacker& operator=(const TPacker&) = delete;
    ~TPacker() {
        if (level >= 0) {
            ::deflateEnd(&zs);
        }
#ifdef PELLIX_HAVE_LIBDEFLATE
        if (compressor != nullptr) {
            libdeflate_free_compressor(compressor);
        }
#endif
    }
#ifdef PELLIX_HAVE_LIBDEFLATE
    // The whole-buffer compressor for this level, kept for the entries that follow.
    libdeflate_compressor* Compressor(int compression) {
        if (compressorLevel != compression) {
            if (compressor != nullptr) {
                libdeflate_free_compressor(compressor);
            }
            compressor = libdeflate_alloc_compressor(compression);
            compressorLevel = compressor != nullptr ? compression : -1;
        }
        return compressor;
    }
#endif
    // A stream ready for a new entry.
    bool Begin(int compression) {
        if (level == compression) {
            return ::deflateReset(&zs) == Z_OK;
        }
        if (level >= 0) {
            ::deflateEnd(&zs);
            level = -1;
        }
        zs = z_stream{};
        if (deflateInit2(&zs, compression, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            return false;
        }
        level = compression;
        return true;
    }
};

TZipAppender::TZipAppender(TZipEngine& engine) : m_engine(engine) {}

TZipAppender::~TZipAppender() = default;

bool TZipAppender::Fire(const TZipEntryEvent& event, const TZipEntry& entry) const {
    if (event) {
        event(entry);
    }
    return !m_engine.Aborted();
}

bool TZipAppender::WriteAt(const char* data, std::size_t size, std::int64_t offset) {
    if (m_killed) {
        errno = EIO;
        return false;
    }
    std::size_t allowed = m_writeCut ? std::min(m_writeCut(m_writes, size), size) : size;
    ++m_writes;
    if (!ZipWriteAt(m_fd.Get(), data, allowed, offset)) {
        return false;
    }
    if (allowed < size) {
        m_killed = true;
        errno = EIO;
        return false;
    }
    return true;
}

bool TZipAppender::Truncate(std::int64_t size) {
    if (m_killed || (m_writeCut && m_writeCut(m_writes, 1) == 0)) {
        m_killed = true;
        errno = EIO;
        return false;
    }
    ++m_writes;
    return ::ftruncate(m_fd.Get(), size) == 0;
}

bool TZipAppender::Sync() {
    if (m_killed) {
        errno = EIO;
        return false;
    }
    return ::fdatasync(m_fd.Get()) == 0;
}

int TZipAppender::Fail(int code, std::string message) {
    m_lastError = std::move(message);
    return code;
}

int TZipAppender::SystemFail(int error) {
    m_lastSystemError = error;
    return Fail(ZipCodeFromErrno(error), m_engine.ZipFileName() + ": " + WriteErrorReason(error));
}

std::string TZipAppender::EndRecord(const TPlan& plan, std::uint32_t count, std::uint32_t size,
                                    std::int64_t offset) const {
    std::string end;
    ZipPut32(end, kZipEndSignature);
    ZipPut16(end, 0);
    ZipPut16(end, 0);
    ZipPut16(end, count);
    ZipPut16(end, count);
    ZipPut32(end, size);
    ZipPut32(end, static_cast<std::uint32_t>(offset));
    ZipPut16(end, static_cast<std::uint32_t>(plan.cd.archiveComment.size()));
    return end + plan.cd.archiveComment;
}

int TZipAppender::Append(std::vector<TZipAddItem>& items, TZipAddMode mode) {
    TPlan plan;
    if (int code = Plan(items, mode, plan); code != kZipOk || m_needsLibrary) {
        return code;
    }
    if (int code = WriteDirectoryCopy(plan); code != kZipOk) {
        return code;
    }
    const int written = WriteEntries(items, plan);
    if (int code = WriteNewDirectory(plan); code != kZipOk) {
        return code;
    }
    for (const TZipAddItem& item : items) {
        if (item.written) {
            m_added.push_back(item.entryName);
        }
    }
    // After the cut the new entries are what the file holds, whether or not the flush succeeds.
    if (!Sync()) {
        return SystemFail(errno);
    }
    return written;
}

int TZipAppender::Plan(std::vector<TZipAddItem>& items, TZipAddMode mode, TPlan& plan) {
    const std::string& path = m_engine.ZipFileName();
    m_fd.Reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (m_fd.Get() < 0) {
        return SystemFail(errno);
    }
    if (::flock(m_fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return Fail(kZipBusy, path + " is being written by another process.");
    }
    struct stat st;
    if (::fstat(m_fd.Get(), &st) != 0) {
        return SystemFail(errno);
    }
    plan.fileSize = st.st_size;
    TZipDirectory& cd = plan.cd;
    if (int code = ReadZipDirectory(m_fd.Get(), st.st_size, cd); code != kZipOk) {
        return Fail(code, path + ": not a readable Zip file.");
    }
    if (!cd.simple) {
        m_needsLibrary = true;
        return kZipOk;
    }
    // Parse the records: names for the add modes, positions to drop replaced ones.
    // Room for the end record now: the names below point into these bytes.
    cd.bytes.reserve(cd.bytes.size() + kZipEndSize + cd.archiveComment.size());
    // One pass: the directory can hold tens of thousands of records, read again every tick.
    std::vector<TZipDirectoryRecord>& records = plan.records;
    records.reserve(cd.count);
    std::unordered_map<std::string_view, std::size_t> byName;
    byName.reserve(cd.count);
    TZipDirectoryRecord record;
    for (std::size_t at = 0, i = 0; i < cd.count; ++i, at += record.length) {
        if (!ParseZipRecord(cd.bytes, at, record)) {
            return Fail(kZipCorrupt, path + ": damaged central directory.");
        }
        byName[record.name] = records.size();
        records.push_back(record);
    }

    std::size_t kept = records.size();
    for (TZipAddItem& item : items) {
        auto found = byName.find(item.entryName);
        item.replaces = found != byName.end();
        if (item.replaces) {
            const bool newer = item.dosTime > records[found->second].dosTime;
            item.wanted = mode == kZipAddReplace || newer;
        } else {
            item.wanted = mode != kZipAddFreshen;
        }
        if (!item.wanted) {
            continue;
        }
        if (item.replaces) {
            --kept;
        }
        if (m_engine.OnFileComment) {
            m_engine.OnFileComment(item.entryName, item.comment);
        }
        if (item.comment.size() > kZipMaxComment) {
            item.comment.resize(kZipMaxComment);
        }
        plan.reserve += static_cast<std::int64_t>(kZipLocalSize + kZipCentralSize + 2 * item.entryName.size() +
                                                  item.comment.size()) + item.size;
        ++kept;
    }
    if (std::none_of(items.begin(), items.end(), [](const TZipAddItem& i) { return i.wanted; })) {
        return kZipNothingToDo;
    }
    plan.endBytes = static_cast<std::int64_t>(kZipEndSize + cd.archiveComment.size());
    plan.reserve += static_cast<std::int64_t>(cd.bytes.size()) + plan.endBytes;
    if (kept >= kMaxPlainCount ||
        cd.offset + plan.reserve + static_cast<std::int64_t>(cd.bytes.size()) + plan.endBytes >= kMaxOffset) {
        m_needsLibrary = true;  // needs Zip64, which libzip writes
    }
    return kZipOk;
}

int TZipAppender::WriteDirectoryCopy(TPlan& plan) {
    TZipDirectory& cd = plan.cd;
    if (cd.tornTail) {
        // What an add killed before left after the archive goes first: one cut, the file then
        // ends with its end record.
        if (!Truncate(cd.size)) {
            return SystemFail(errno);
        }
        plan.fileSize = cd.size;
    }
    const std::int64_t endBytes = plan.endBytes;
    // Each stride must leave the last end record within reach while the next one is written.
    const std::int64_t stride = kEndSearch - endBytes - 64;
    // A new file has no old state to keep; a long archive comment leaves no room for strides.
    if (plan.fileSize == 0 || stride < 2 * endBytes) {
        return WriteDirectoryCopyAtOnce(plan);
    }
    const std::int64_t copyAt = std::max<std::int64_t>(plan.fileSize, cd.offset + plan.reserve);
    const auto cdLength = static_cast<std::int64_t>(cd.bytes.size());
    const std::int64_t copyEndAt = copyAt + cdLength;  // the copy's end record
    // Strides from the old end record to just past the copy's one.
    const std::int64_t first = plan.fileSize - endBytes;
    const std::int64_t last = copyEndAt + endBytes;
    const std::int64_t steps = (last - first + stride - 1) / stride;
    auto failed = [&]() {
        const int err = errno;
        // Back to the archive as it was: a cut is one step, and the old directory is untouched.
        if (!Truncate(plan.fileSize)) {
            // A kill or a failure here leaves the file in one of the states read as the old one.
        }
        return SystemFail(err);
    };
    for (std::int64_t i = 1; i <= steps; ++i) {
        const std::int64_t at = first + (last - first) * i / steps;
        // The old entries, with a directory that runs up to this record: readers take as many
        // records as the count says and let the bytes after them be.
        const std::string end =
            EndRecord(plan, cd.count, static_cast<std::uint32_t>(at - cd.offset), cd.offset);
        // The signature goes last: a torn record is no record.
        if (!WriteAt(end.data() + 4, end.size() - 4, at + 4) || !WriteAt(end.data(), 4, at)) {
            return failed();
        }
    }
    // The copy lies inside the file now: writing it moves no end.
    const std::string copyEnd = EndRecord(plan, cd.count, static_cast<std::uint32_t>(cdLength), copyAt);
    if (!WriteAt(cd.bytes.data(), cd.bytes.size(), copyAt) ||
        !WriteAt(copyEnd.data() + 4, copyEnd.size() - 4, copyEndAt + 4) ||
        !WriteAt(copyEnd.data(), 4, copyEndAt) || !Truncate(copyEndAt + endBytes) || !Sync()) {
        return failed();
    }
    plan.pos = cd.offset;
    return kZipOk;
}

int TZipAppender::WriteDirectoryCopyAtOnce(TPlan& plan) {
    TZipDirectory& cd = plan.cd;
    const std::int64_t copyAt = std::max<std::int64_t>(plan.fileSize, cd.offset + plan.reserve);
    // Appended in place and taken off again: the directory can be megabytes, and the record
    // names point into it.
    const std::size_t cdLength = cd.bytes.size();
    cd.bytes += EndRecord(plan, cd.count, static_cast<std::uint32_t>(cdLength), copyAt);
    const bool copied = WriteAt(cd.bytes.data(), cd.bytes.size(), copyAt);
    cd.bytes.resize(cdLength);
    if (!copied || !Sync()) {
        const int err = errno;
        if (!Truncate(plan.fileSize)) {
            // The file still ends with a valid directory or with the copy's bytes cut short;
            // either way the old directory stands untouched before it.
        }
        return SystemFail(err);
    }
    plan.pos = cd.offset;
    return kZipOk;
}

int TZipAppender::WriteEntries(std::vector<TZipAddItem>& items, TPlan& plan) {
    TPacker packer;
    std::string& added = plan.added;
    for (TZipAddItem& item : items) {
        if (!item.wanted) {
            continue;
        }
        TZipEntry entry;
        entry.name = item.entryName;
        entry.size = item.size;
        entry.dateTime = item.mtime <= 0 ? 0 : FromTimeT(item.mtime);
        entry.comment = item.comment;
        if (!Fire(item.replaces ? m_engine.OnUpdating : m_engine.OnAdding, entry)) {
            return Fail(kZipAborted, "Aborted.");
        }
        std::int64_t written = 0;
        const int code = WriteEntry(packer, plan.pos, item, written);
        if (code == kZipSkipped) {
            continue;  // one unreadable file does not stop the others
        }
        if (code != kZipOk) {
            return code;
        }
        ZipPut32(added, kZipCentralSignature);
        ZipPut16(added, 3 << 8 | 20);  // made by Unix, so the mode below is honoured
        PutEntryFields(added, item);
        ZipPut16(added, static_cast<std::uint32_t>(item.comment.size()));
        ZipPut16(added, 0);
        ZipPut16(added, 0);
        ZipPut32(added, item.mode << 16);
        ZipPut32(added, static_cast<std::uint32_t>(plan.pos));
        added += item.entryName;
        added += item.comment;
        if (item.replaces) {
            plan.replaced.insert(item.entryName);
        }
        ++plan.addedCount;
        plan.pos += written;
    }
    return kZipOk;
}

int TZipAppender::WriteNewDirectory(TPlan& plan) {
    TZipDirectory& cd = plan.cd;
    std::string directory;
    std::uint32_t count = 0;
    if (plan.replaced.empty()) {
        count = static_cast<std::uint32_t>(plan.records.size());
        plan.records.clear();  // their names point into the bytes moved here
        directory = std::move(cd.bytes);
    } else {
        directory.reserve(cd.bytes.size() + plan.added.size() + static_cast<std::size_t>(plan.endBytes));
        for (const TZipDirectoryRecord& record : plan.records) {
            if (plan.replaced.count(record.name) == 0) {
                directory.append(cd.bytes, record.at, record.length);
                ++count;
            }
        }
    }
    directory.reserve(directory.size() + plan.added.size() + static_cast<std::size_t>(plan.endBytes));
    directory += plan.added;
    count += plan.addedCount;
    const auto cdSize = static_cast<std::uint32_t>(directory.size());
    directory += EndRecord(plan, count, cdSize, plan.pos);
    // Until the cut the file ends with the copy of the old directory: a failure before it leaves
    // the archive as it was, without the new entries.
    // The end record's signature goes last, as in step 1: a reader that weighs every end record
    // it finds (libzip) must not meet a torn one.
    const std::size_t endAt = directory.size() - static_cast<std::size_t>(plan.endBytes);
    if (!WriteAt(directory.data(), endAt, plan.pos) ||
        !WriteAt(directory.data() + endAt + 4, directory.size() - endAt - 4,
                 plan.pos + static_cast<std::int64_t>(endAt) + 4) ||
        !WriteAt(directory.data() + endAt, 4, plan.pos + static_cast<std::int64_t>(endAt)) || !Sync() ||
        !Truncate(plan.pos + static_cast<std::int64_t>(directory.size()))) {
        return SystemFail(errno);
    }
    return kZipOk;
}

int TZipAppender::WriteEntry(TPacker& packer, std::int64_t offset, TZipAddItem& item, std::int64_t& written) {
    TZipFd source(::open(item.sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (source.Get() < 0) {
        m_skipped.push_back({item.sourcePath, std::strerror(errno)});
        return kZipSkipped;
    }
    const std::int64_t dataAt = offset + static_cast<std::int64_t>(kZipLocalSize + item.entryName.size());
    std::string& in = packer.in;
    std::string& out = packer.out;
    TZipEntry progress;
    progress.name = item.entryName;
    progress.size = item.size;

    // One pass: compressed, or stored when compressing does not pay (or is not wanted).
    auto pass = [&](bool deflate) -> int {
        z_stream& zs = packer.zs;
        if (deflate && !packer.Begin(m_engine.Compression())) {
            return kZipNoMemory;
        }
        auto crc = static_cast<std::uint32_t>(::crc32(0, nullptr, 0));
        std::int64_t read = 0;
        std::int64_t packed = 0;
        bool finished = false;
        while (!finished) {
            std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(kBufferSize, item.size - read));
            if (want > 0 && !ZipReadAt(source.Get(), in.data(), want, read)) {
                m_skipped.push_back({item.sourcePath, std::strerror(errno)});
                return kZipSkipped;
            }
            read += static_cast<std::int64_t>(want);
            crc = static_cast<std::uint32_t>(
                ::crc32(crc, reinterpret_cast<const Bytef*>(in.data()), static_cast<uInt>(want)));
            finished = read >= item.size;
            if (!deflate) {
                if (!WriteAt(in.data(), want, dataAt + packed)) {
                    return SystemFail(errno);
                }
                packed += static_cast<std::int64_t>(want);
            } else {
                zs.next_in = reinterpret_cast<Bytef*>(in.data());
                zs.avail_in = static_cast<uInt>(want);
                do {
                    zs.next_out = reinterpret_cast<Bytef*>(out.data());
                    zs.avail_out = static_cast<uInt>(out.size());
                    ::deflate(&zs, finished ? Z_FINISH : Z_NO_FLUSH);
                    std::size_t have = out.size() - zs.avail_out;
                    // Never past the stored size: the space after the entry is reserved.
                    if (packed + static_cast<std::int64_t>(have) > item.size) {
                        return -1;
                    }
                    if (!WriteAt(out.data(), have, dataAt + packed)) {
                        return SystemFail(errno);
                    }
                    packed += static_cast<std::int64_t>(have);
                } while (zs.avail_out == 0);
            }
            progress.bytes = read;
            progress.percent = item.size > 0 ? static_cast<int>(read * 100 / item.size) : 100;
            if (!Fire(m_engine.OnStatus, progress)) {
                return Fail(kZipAborted, "Aborted.");
            }
        }
        item.crc = crc;
        item.packed = packed;
        item.deflated = deflate;
        return kZipOk;
    };

#ifdef PELLIX_HAVE_LIBDEFLATE
    // A file that fits in memory: read once, compressed in one call, written once.
    auto whole = [&]() -> int {
        std::string& data = packer.whole;
        data.resize(static_cast<std::size_t>(item.size));
        if (item.size > 0 && !ZipReadAt(source.Get(), data.data(), data.size(), 0)) {
            m_skipped.push_back({item.sourcePath, std::strerror(errno)});
            return kZipSkipped;
        }
        const auto crc = static_cast<std::uint32_t>(libdeflate_crc32(0, data.data(), data.size()));
        std::size_t packed = 0;
        if (!item.store) {
            libdeflate_compressor* compressor = packer.Compressor(m_engine.Compression());
            if (compressor == nullptr) {
                return kZipNoMemory;
            }
            // Room for no more than the file itself: a result that does not fit is stored instead.
            packer.wholePacked.resize(data.size());
            packed = libdeflate_deflate_compress(compressor, data.data(), data.size(), packer.wholePacked.data(),
                                                 packer.wholePacked.size());
        }
        const bool deflated = packed > 0;
        const std::string& bytes = deflated ? packer.wholePacked : data;
        const std::size_t length = deflated ? packed : data.size();
        if (!WriteAt(bytes.data(), length, dataAt)) {
            return SystemFail(errno);
        }
        progress.bytes = item.size;
        progress.percent = 100;
        if (!Fire(m_engine.OnStatus, progress)) {
            return Fail(kZipAborted, "Aborted.");
        }
        item.crc = crc;
        item.packed = static_cast<std::int64_t>(length);
        item.deflated = deflated;
        return kZipOk;
    };
    int code = item.size <= kWholeFileLimit ? whole() : item.store ? -1 : pass(true);
#else
    int code = item.store ? -1 : pass(true);
#endif
    if (code == -1) {
        code = pass(false);
    }
    if (code != kZipOk) {
        return code;
    }
    std::string header;
    ZipPut32(header, kZipLocalSignature);
    PutEntryFields(header, item);
    header += item.entryName;
    // The header goes last: a killed write leaves no entry that looks complete.
    if (!WriteAt(header.data(), header.size(), offset)) {
        return SystemFail(errno);
    }
    written = static_cast<std::int64_t>(header.size()) + item.packed;
    item.written = true;
    return kZipOk;
}

} // namespace pellix
