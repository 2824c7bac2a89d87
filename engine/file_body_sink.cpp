#include "engine/file_body_sink.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "links/file_io.h"

namespace pellix {

TFileBodySink::TFileBodySink(std::filesystem::path path) : m_path(std::move(path)) {}

TFileBodySink::~TFileBodySink()
{
    CloseFile();
}

void TFileBodySink::CloseFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool TFileBodySink::Fail(const char* what, int errorNumber, std::string& error)
{
    m_errno = errorNumber;
    error = std::string(what) + m_path.string() + " (" + WriteErrorReason(errorNumber) + ")";
    CloseFile();
    return false;
}

bool TFileBodySink::Start(std::int64_t keep, std::string& error)
{
    CloseFile();
    m_size = 0;
    m_errno = 0;
    std::error_code ec;
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (keep > 0 ? 0 : O_TRUNC);
    m_fd = ::open(m_path.c_str(), flags, 0644);
    // Most files go into a folder an earlier one made: the folders are made only when missing.
    if (m_fd < 0 && errno == ENOENT && m_path.has_parent_path()) {
        std::filesystem::create_directories(m_path.parent_path(), ec);
        m_fd = ::open(m_path.c_str(), flags, 0644);
    }
    if (m_fd < 0) {
        // A folder that could not be made leaves the file "missing": the folder's reason (a
        // read-only or full disk) is the one that counts.
        const int openError = errno;
        const int cause = (openError == ENOENT && ec) ? ec.value() : openError;
        return Fail("Failed to create file: ", cause, error);
    }
    if (keep > 0) {
        struct stat info {};
        if (::fstat(m_fd, &info) != 0 || info.st_size < keep) {
            error = "Cannot resume: " + m_path.string() + " holds fewer than " + std::to_string(keep) + " bytes";
            CloseFile();
            return false;
        }
        if (::ftruncate(m_fd, keep) != 0 || ::lseek(m_fd, keep, SEEK_SET) != keep)
            return Fail("Failed to write file: ", errno, error);
        m_size = keep;
    }
    return true;
}

bool TFileBodySink::Write(std::string_view data, std::string& error)
{
    while (!data.empty()) {
        if (m_fd < 0)
            return Fail("Failed to write file: ", EBADF, error);
        ssize_t written = ::write(m_fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return Fail("Failed to write file: ", errno, error);
        }
        data.remove_prefix(static_cast<std::size_t>(written));
        m_size += written;
    }
    return true;
}

bool TFileBodySink::Finish(std::string& error)
{
    if (m_fd < 0)
        return true;
    int rc = ::close(m_fd);
    m_fd = -1;
    if (rc != 0)
        return Fail("Failed to write file: ", errno, error);
    return true;
}

} // namespace pellix
