#include "engine/file_body_sink.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool TFileBodySink::Start(std::int64_t keep, std::string& error)
{
    CloseFile();
    m_size = 0;
    std::error_code ec;
    if (m_path.has_parent_path())
        std::filesystem::create_directories(m_path.parent_path(), ec);
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (keep > 0 ? 0 : O_TRUNC);
    m_fd = ::open(m_path.c_str(), flags, 0644);
    if (m_fd < 0) {
        error = "Failed to create file: " + m_path.string() + " (" + std::strerror(errno) + ")";
        return false;
    }
    if (keep > 0) {
        struct stat info {};
        if (::fstat(m_fd, &info) != 0 || info.st_size < keep) {
            error = "Cannot resume: " + m_path.string() + " holds fewer than " + std::to_string(keep) + " bytes";
            CloseFile();
            return false;
        }
        if (::ftruncate(m_fd, keep) != 0 || ::lseek(m_fd, keep, SEEK_SET) != keep) {
            error = "Failed to write file: " + m_path.string() + " (" + std::strerror(errno) + ")";
            CloseFile();
            return false;
        }
        m_size = keep;
    }
    return true;
}

bool TFileBodySink::Write(std::string_view data, std::string& error)
{
    while (!data.empty()) {
        if (m_fd < 0) {
            error = "Failed to write file: " + m_path.string() + " (not open)";
            return false;
        }
        ssize_t written = ::write(m_fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            error = "Failed to write file: " + m_path.string() + " (" + std::strerror(errno) + ")";
            return false;
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
    if (rc != 0) {
        error = "Failed to write file: " + m_path.string() + " (" + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

} // namespace pellix
