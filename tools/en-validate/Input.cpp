#include "Input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include <zlib.h>

namespace tool {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr size_t kPrefixSize = 64 << 10;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Reads up to n bytes, fewer only at the end of the input.
size_t ReadUpTo(Source& in, char* p, size_t n) {
    size_t done = 0;
    while (done < n) {
        const size_t got = in.Read(p + done, n - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}

}  // namespace

struct Source::Inflate {
    z_stream z{};
    std::vector<char> in = std::vector<char>(64 << 10);
    bool memberEnded = false;  // the last member is complete
    bool eof = false;

    Inflate() {
        if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
    }
    ~Inflate() { inflateEnd(&z); }
};

Source::Source(int fd) : m_fd(fd) {}

Source::~Source() = default;

ssize_t Source::Raw(char* p, size_t n) {
    for (;;) {
        const ssize_t got = read(m_fd, p, n);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw InputError(std::string("read error: ") + std::strerror(errno));
        return got;
    }
}

bool Source::Pending() const { return m_gzip && (m_gzip->z.avail_in > 0 || m_gzip->eof); }

size_t Source::Read(char* p, size_t n) {
    if (n == 0) return 0;
    if (!m_started) {
        m_started = true;
        // The first bytes tell gzip data from anything else.
        size_t got = 0;
        while (got < std::min<size_t>(n, 3)) {
            const ssize_t r = Raw(p + got, n - got);
            if (r == 0) break;
            got += static_cast<size_t>(r);
        }
        if (got < 3 || std::memcmp(p, "\x1f\x8b\x08", 3) != 0) return got;
        m_gzip = std::make_unique<Inflate>();
        m_gzip->in.assign(p, p + got);
        m_gzip->in.resize(std::max<size_t>(got, 64 << 10));
        m_gzip->z.next_in = reinterpret_cast<Bytef*>(m_gzip->in.data());
        m_gzip->z.avail_in = static_cast<uInt>(got);
    }
    if (!m_gzip) return static_cast<size_t>(Raw(p, n));
    Inflate& g = *m_gzip;
    for (;;) {
        if (g.z.avail_in == 0 && !g.eof) {
            const ssize_t r = Raw(g.in.data(), g.in.size());
            g.eof = r == 0;
            g.z.next_in = reinterpret_cast<Bytef*>(g.in.data());
            g.z.avail_in = static_cast<uInt>(r);
        }
        if (g.z.avail_in == 0 && g.eof) {
            if (!g.memberEnded) throw InputError("gzip data: cut short");
            return 0;
        }
        if (g.memberEnded) {  // another member follows
            inflateReset(&g.z);
            g.memberEnded = false;
        }
        g.z.next_out = reinterpret_cast<Bytef*>(p);
        g.z.avail_out = static_cast<uInt>(std::min<size_t>(n, 1u << 30));
        const int rc = inflate(&g.z, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) g.memberEnded = true;
        else if (rc == Z_MEM_ERROR) throw std::bad_alloc();
        else if (rc != Z_OK && rc != Z_BUF_ERROR)
            throw InputError(std::string("gzip data: ") + (g.z.msg != nullptr ? g.z.msg : "corrupt"));
        const size_t got = std::min<size_t>(n, 1u << 30) - g.z.avail_out;
        if (got > 0) return got;
    }
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
        m_fd = STDIN_FILENO;
    } else {
        m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0) throw InputError(std::string("cannot open: ") + std::strerror(errno));
        m_own = true;
    }
    m_source = std::make_unique<Source>(m_fd);
    try {
        struct stat st {};
        if (fstat(m_fd, &st) == 0 && S_ISDIR(st.st_mode)) throw InputError("is a directory");
        if (fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
            m_size = static_cast<uintmax_t>(st.st_size) > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(st.st_size);
        m_prefix.resize(kPrefixSize);
        m_prefix.resize(ReadUpTo(*m_source, &m_prefix[0], kPrefixSize));
        CheckContent(m_prefix, m_prefix.size() < kPrefixSize);
        m_json = IsJsonText(m_prefix);
    } catch (...) {
        if (m_own) close(m_fd);
        throw;
    }
}

InputFile::~InputFile() {
    if (m_own) close(m_fd);
}

InputFile::InputFile(InputFile&& other) noexcept
    : m_fd(other.m_fd), m_source(std::move(other.m_source)), m_own(other.m_own), m_size(other.m_size), m_prefix(std::move(other.m_prefix)),
      m_json(other.m_json) {
    other.m_own = false;
}

template <class Bytes>
Bytes InputFile::ReadRest(size_t extra) {
    Bytes bytes;
    // A regular file is read into room for its size; a stream grows as it comes.
    if (m_size > 0 && m_size <= bytes.max_size() - extra) bytes.reserve(m_size + extra);
    bytes.assign(m_prefix.begin(), m_prefix.end());
    std::string().swap(m_prefix);
    if (bytes.size() < kPrefixSize) return bytes;  // the whole input
    char buffer[1 << 16];
    while (const size_t n = ReadUpTo(*m_source, buffer, sizeof buffer)) bytes.insert(bytes.end(), buffer, buffer + n);
    return bytes;
}

msgjson::Message InputFile::ReadJson(msgjson::Reader& reader, msgjson::Handle& into,
                                     const msgjson::Overrides& overrides, std::string* kept) {
    std::string text = ReadRest<std::string>(msgjson::kPadding);
    const msgjson::Message message = reader.Read(text, into, overrides, 1);
    if (kept != nullptr) *kept = std::move(text);
    return message;
}

msgjson::Message InputFile::ReadJson(msgjson::Reader& reader, const msgjson::EntrySink& sink,
                                     const msgjson::Overrides& overrides) {
    std::string text = ReadRest<std::string>(msgjson::kPadding);
    return reader.Read(text, sink, overrides, 1);
}

msgjson::Message InputFile::ReadBlob(msgjson::Handle& into, const msgjson::Overrides& overrides) {
    constexpr size_t kMost = 0xFFFFFFFFu;
    size_t size = m_prefix.size(), room = 0;
    auto resize = [&](size_t bytes) {
        if (bytes > kMost) throw InputError("larger than 4 GiB - 1 bytes, the most a message holds");
        auto* p = static_cast<char*>(En_Msg_Resize(into.get(), bytes));
        if (p == nullptr) throw std::bad_alloc();
        room = bytes;
        return p;
    };
    char* p = resize(std::max(m_size, size));
    std::memcpy(p, m_prefix.data(), size);
    const bool whole = size < kPrefixSize;
    std::string().swap(m_prefix);
    while (!whole) {
        if (size < room) {
            size += ReadUpTo(*m_source, p + size, room - size);
            if (size < room) break;  // the end
        }
        char more[1 << 16];  // whether there is more before the room grows
        const size_t n = ReadUpTo(*m_source, more, sizeof more);
        if (n == 0) break;
        p = resize(std::max(size + n, room <= kMost / 2 ? room * 2 : kMost));
        std::memcpy(p + size, more, n);
        size += n;
    }
    En_Msg_Resize(into.get(), size);  // never fails: no larger
    const std::optional<int32_t> msgType =
        overrides.kind ? overrides.msgType : msgjson::MsgTypeEntry(into.data(), into.size());
    return {overrides.kind ? *overrides.kind : msgType ? msgjson::Kind::Log : msgjson::Kind::Register,
            msgType.value_or(0)};
}

}  // namespace tool
