#include "Input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

namespace tool {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr size_t kPrefixSize = 64 << 10;

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
    if (in.fd < 0) throw InputError(std::string("cannot open: ") + std::strerror(errno));
    struct stat st {};
    if (fstat(in.fd, &st) == 0 && S_ISDIR(st.st_mode)) throw InputError("is a directory");
    std::string bytes;
    if (S_ISREG(st.st_mode) && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = read(in.fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw InputError(std::string("read error: ") + std::strerror(errno));
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

bool IsJsonText(std::string_view prefix) {
    if (prefix.find('\0') != std::string_view::npos) return false;
    if (prefix.substr(0, kByteOrderMark.size()) == kByteOrderMark) prefix.remove_prefix(kByteOrderMark.size());
    auto first = std::find_if_not(prefix.begin(), prefix.end(), IsBlank);
    return first != prefix.end() && (*first == '{' || *first == '[');
}

void CheckContent(std::string_view prefix, bool whole) {
    if (whole && std::all_of(prefix.begin(), prefix.end(), IsBlank)) throw InputError("empty file");
    // A byte order mark, or a brace and a quote or blank each followed or
    // preceded by a NUL byte.
    auto utf16 = [&](size_t nul) {
        return prefix.size() >= 4 && prefix[nul] == 0 && prefix[nul + 2] == 0 && prefix[1 - nul] == '{' &&
               (prefix[3 - nul] == '"' || prefix[3 - nul] == '}' || IsBlank(prefix[3 - nul]));
    };
    if (prefix.substr(0, 2) == "\xFF\xFE" || prefix.substr(0, 2) == "\xFE\xFF" || utf16(0) || utf16(1))
        throw InputError("UTF-16 text: save it as UTF-8");
}

InputFile::InputFile(const std::string& path) {
    if (path == "-") {
        m_in = std::make_unique<std::istringstream>(ReadAll(path));
    } else {
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw InputError("is a directory");
        auto file = std::make_unique<std::ifstream>(path, std::ios::binary);
        if (!*file) throw InputError(std::string("cannot open: ") + std::strerror(errno));
        m_in = std::move(file);
    }
    std::string prefix(kPrefixSize, '\0');
    prefix.resize(static_cast<size_t>(m_in->read(&prefix[0], kPrefixSize).gcount()));
    if (m_in->bad()) throw InputError(std::string("read error: ") + std::strerror(errno));
    CheckContent(prefix, prefix.size() < kPrefixSize);
    m_json = IsJsonText(prefix);
    m_in->clear();
    m_in->seekg(0);
}

namespace {

// The whole stream from its start, with extra bytes of capacity.
template <class Bytes>
Bytes ReadStream(std::istream& in, size_t extra) {
    Bytes bytes;
    if (in.seekg(0, std::ios::end)) bytes.reserve(static_cast<size_t>(in.tellg()) + extra);
    in.seekg(0);
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer).gcount() > 0) bytes.insert(bytes.end(), buffer, buffer + in.gcount());
    if (in.bad()) throw InputError(std::string("read error: ") + std::strerror(errno));
    return bytes;
}

}  // namespace

msgjson::Message InputFile::ReadJson(const msgjson::Overrides& overrides, const msgjson::EntrySink& sink) {
    std::string text = ReadStream<std::string>(*m_in, msgjson::kPadding);
    if (sink) return msgjson::Reader().Read(text, overrides, 1, sink);
    // Each value converted straight into the handle that is validated.
    auto handle = std::make_shared<msgjson::Handle>();
    msgjson::Message message = msgjson::Reader().Read(text, *handle, overrides, 1);
    message.handle = std::move(handle);
    return message;
}

std::vector<unsigned char> InputFile::ReadBlob() { return ReadStream<std::vector<unsigned char>>(*m_in, 0); }

msgjson::Message BlobMessage(std::vector<unsigned char> blob, const msgjson::Overrides& overrides) {
    msgjson::Message message;
    const std::optional<int32_t> msgType =
        overrides.kind ? overrides.msgType : msgjson::MsgTypeEntry(blob.data(), blob.size());
    message.kind = overrides.kind ? *overrides.kind : msgType ? msgjson::Kind::Log : msgjson::Kind::Register;
    message.msgType = msgType.value_or(0);
    message.blob = std::move(blob);
    return message;
}

msgjson::Message LoadMessage(const std::string& path, const msgjson::Overrides& overrides) {
    InputFile in(path);
    return in.IsJson() ? in.ReadJson(overrides) : BlobMessage(in.ReadBlob(), overrides);
}

}  // namespace tool
