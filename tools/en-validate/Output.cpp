#include "Output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tool {

namespace {

constexpr size_t kBufferSize = 1 << 16;

[[noreturn]] void Fail(const std::string& what, int error) {
    throw OutputError(what + ": " + std::strerror(error), error == EPIPE);
}

}  // namespace

Output::Output(const std::string& path)
    : m_fd(path.empty() || path == "-" ? STDOUT_FILENO : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)),
      m_name(path.empty() || path == "-" ? "standard output" : path),
      m_path(path == "-" ? "" : path) {
    if (m_fd < 0) Fail("cannot create " + m_name, errno);
    struct stat st {};
    if (m_path.empty() || fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) m_path.clear();  // nothing to delete
    m_buffer.reserve(kBufferSize);
}

Output::~Output() {
    if (m_fd > STDOUT_FILENO) close(m_fd);
}

void Output::Write(std::string_view bytes) {
    if (m_buffer.size() + bytes.size() > kBufferSize) Flush();
    m_buffer.append(bytes.data(), bytes.size());
    if (m_buffer.size() >= kBufferSize) Flush();
}

void Output::Flush() {
    for (size_t done = 0; done < m_buffer.size();) {
        const ssize_t n = write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            m_buffer.clear();
            Fail("cannot write " + m_name, errno);
        }
        done += static_cast<size_t>(n);
    }
    m_buffer.clear();
}

void Output::Close() {
    if (m_fd < 0) return;
    Flush();
    const int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0) Fail("cannot write " + m_name, errno);
}

void Output::Discard() {
    m_buffer.clear();
    if (m_path.empty()) return;
    if (m_fd > STDOUT_FILENO) close(m_fd);
    m_fd = -1;
    unlink(m_path.c_str());
}

}  // namespace tool
