#include "Utf8.h"

#include <cstring>
#include <new>

namespace msgjson::detail {

bool IsScalarValue(uint32_t cp) { return cp < 0x110000 && (cp < 0xD800 || cp > 0xDFFF); }

size_t Utf8Prefix(const unsigned char* p, size_t n) {
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        size_t len;
        uint32_t cp, min;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, cp = c & 0x07, min = 0x10000;
        } else {
            return i;
        }
        if (n - i < len) return i;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return i;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || !IsScalarValue(cp)) return i;
        i += len;
    }
    return n;
}

bool IsUtf8(const unsigned char* p, size_t n) { return Utf8Prefix(p, n) == n; }

void AppendCodePoints(std::string_view s, std::vector<unsigned char>& out) {
    size_t at = out.size();
    if (s.size() > (out.max_size() - at) / 4) throw std::bad_alloc();
    out.resize(at + 4 * s.size());  // room for one code point a byte
    for (size_t i = 0; i < s.size(); at += 4) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
        for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        std::memcpy(out.data() + at, &cp, 4);
        i += n;
    }
    out.resize(at);
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace msgjson::detail
