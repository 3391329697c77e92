#include "Output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tool {

namespace {

constexpr size_t kBufferSize = 1 << 16;

[[noreturn]] void Fail(const std::string& what, int error) {
    throw OutputError(what + ": " + std::strerror(error), error == EPIPE);
}

}  // namespace

Output::Output(const std::string& path)
    : m_fd(STDOUT_FILENO), m_name(path.empty() || path == "-" ? "standard output" : path) {
    m_buffer.reserve(kBufferSize);
    if (path.empty() || path == "-") return;
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {  // a device or a FIFO, written in place
        m_fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (m_fd < 0) Fail("cannot create " + m_name, errno);
        return;
    }
    // A file that may not be written is not replaced either.
    if (exists && access(path.c_str(), W_OK) != 0) Fail("cannot create " + m_name, errno);
    m_target = path;
    struct stat link {};
    if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (!exists) throw OutputError("cannot create " + m_name + ": symbolic link to a missing file", false);
        char* real = realpath(path.c_str(), nullptr);
        if (real == nullptr) Fail("cannot create " + m_name, errno);
        m_target = real;
        std::free(real);
    }
    m_temp = m_target.substr(0, m_target.rfind('/') + 1) + ".en-validate-XXXXXX";
    m_fd = mkostemp(&m_temp[0], O_CLOEXEC);
    if (m_fd < 0) {
        m_temp.clear();
        Fail("cannot create " + m_name, errno);
    }
    // The permissions of the file replaced, or those a new file gets.
    mode_t mode = st.st_mode & 07777;
    if (!exists) {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(m_fd, mode);
}

Output::~Output() {
    if (m_fd > STDOUT_FILENO) close(m_fd);
    if (!m_temp.empty()) unlink(m_temp.c_str());
}

void Output::Write(std::string_view bytes) {
    if (m_buffer.size() + bytes.size() > kBufferSize) Flush();
    if (bytes.size() >= kBufferSize) return WriteAll(bytes);  // no copy of a large write
    m_buffer.append(bytes.data(), bytes.size());
    if (m_buffer.size() >= kBufferSize) Flush();
}

void Output::Flush() {
    struct Emptied {  // also when writing fails
        std::string& buffer;
        ~Emptied() { buffer.clear(); }
    } emptied{m_buffer};
    WriteAll(m_buffer);
}

void Output::WriteAll(std::string_view bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail("cannot write " + m_name, errno);
        done += static_cast<size_t>(n);
    }
}

void Output::Close() {
    if (m_fd < 0) return;
    Flush();
    const int fd = m_fd;
    m_fd = -1;
    if (!m_temp.empty() && fsync(fd) != 0) {
        const int error = errno;
        close(fd);
        Fail("cannot write " + m_name, error);
    }
    if (close(fd) != 0) Fail("cannot write " + m_name, errno);
    if (m_temp.empty()) return;
    if (rename(m_temp.c_str(), m_target.c_str()) != 0) Fail("cannot write " + m_name, errno);
    m_temp.clear();
}

void Output::Discard() {
    m_buffer.clear();
    if (m_temp.empty()) return;
    if (m_fd > STDOUT_FILENO) close(m_fd);
    m_fd = -1;
    unlink(m_temp.c_str());
    m_temp.clear();
}

}  // namespace tool
