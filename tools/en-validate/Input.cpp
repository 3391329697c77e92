#include "Input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tool {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Closes a file descriptor at the end of a scope.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd > 0) close(fd);
    }
};

}  // namespace

std::string ReadAll(const std::string& path) {
    Descriptor in{path == "-" ? 0 : open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    const std::string name = path == "-" ? "standard input" : path;
    if (in.fd < 0) throw InputError(name + ": cannot open: " + std::strerror(errno));
    struct stat st {};
    if (fstat(in.fd, &st) == 0 && S_ISDIR(st.st_mode)) throw InputError(name + ": is a directory");
    std::string bytes;
    if (S_ISREG(st.st_mode) && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = read(in.fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw InputError(name + ": read error: " + std::strerror(errno));
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

bool IsJsonText(std::string_view bytes) {
    if (bytes.find('\0') != std::string_view::npos) return false;
    if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) bytes.remove_prefix(kByteOrderMark.size());
    auto first = std::find_if_not(bytes.begin(), bytes.end(), IsBlank);
    return first != bytes.end() && (*first == '{' || *first == '[');
}

void CheckContent(std::string_view bytes) {
    if (std::all_of(bytes.begin(), bytes.end(), IsBlank)) throw InputError("empty file");
    // A byte order mark, or a brace and a quote or blank each followed or
    // preceded by a NUL byte.
    auto utf16 = [&](size_t nul) {
        return bytes.size() >= 4 && bytes[nul] == 0 && bytes[nul + 2] == 0 && bytes[1 - nul] == '{' &&
               (bytes[3 - nul] == '"' || bytes[3 - nul] == '}' || IsBlank(bytes[3 - nul]));
    };
    if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF" || utf16(0) || utf16(1))
        throw InputError("UTF-16 text: save it as UTF-8");
}

msgjson::Message LoadMessage(std::string bytes, const msgjson::Overrides& overrides) {
    CheckContent(bytes);
    if (IsJsonText(bytes)) return msgjson::ReadMessage(bytes, overrides);
    if (!overrides.kind) throw InputError("a blob names no message kind: give --log TYPE or --register");
    msgjson::Message message;
    message.kind = *overrides.kind;
    message.msgType = overrides.msgType.value_or(0);
    message.blob.assign(bytes.begin(), bytes.end());
    return message;
}

}  // namespace tool
