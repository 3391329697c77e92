#include "Utf8.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

namespace {

// Eight bytes, none of them above U+007F.
bool Ascii8(const unsigned char* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return (w & 0x8080808080808080u) == 0;
}

#if defined(__SSE2__)
// Bytes none of which is above U+007F widened to 4-byte characters.
void Widen8(__m128i bytes, unsigned char* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_unpacklo_epi8(bytes, zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(low, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(low, zero));
}

// Sixteen bytes, none of them above U+007F, widened.
bool PutAscii16(const unsigned char* p, unsigned char* out) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (_mm_movemask_epi8(bytes) != 0) return false;
    Widen8(bytes, out);
    Widen8(_mm_unpackhi_epi64(bytes, bytes), out + 32);
    return true;
}

// The last n bytes (8 to 16) before end, none of them above U+007F,
// widened to end their characters at outEnd: as two pieces of eight, the
// second overlapping the first.
bool PutAsciiTail(const unsigned char* end, size_t n, unsigned char* outEnd) {
    if (!Ascii8(end - n) || !Ascii8(end - 8)) return false;
    Widen8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(end - n)), outEnd - 4 * n);
    Widen8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(end - 8)), outEnd - 32);
    return true;
}
#endif

}  // namespace

size_t CodePointCount(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = 0, i = 0;
    for (; i + 8 <= s.size() && Ascii8(p + i); i += 8) n += 8;
    for (; i < s.size(); ++i) n += (p[i] & 0xC0) != 0x80;
    return n;
}

size_t PutCodePoints(std::string_view s, unsigned char* out) {
    unsigned char* const start = out;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const unsigned char* const end = p + s.size();
    while (p != end) {
#if defined(__SSE2__)
        // Plain ASCII, the common case: sixteen bytes at a time, and the
        // last eight to fifteen in one step.
        const auto left = static_cast<size_t>(end - p);
        if (left >= 16 && PutAscii16(p, out)) {
            p += 16;
            out += 64;
            continue;
        }
        if (left >= 8 && left < 16 && PutAsciiTail(end, left, out + 4 * left)) {
            out += 4 * left;
            break;
        }
#endif
        if (end - p >= 8 && Ascii8(p)) {
            for (int k = 0; k < 8; ++k) {
                const uint32_t cp = p[k];
                std::memcpy(out + 4 * k, &cp, 4);
            }
            p += 8;
            out += 32;
            continue;
        }
        uint32_t cp = *p;
        if (cp < 0x80) {
            ++p;
        } else {
            const int n = cp < 0xE0 ? 2 : cp < 0xF0 ? 3 : 4;
            cp &= n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07;
            int k = 1;
            for (; k < n && p + k != end; ++k) cp = (cp << 6) | (p[k] & 0x3F);
            p += k;
        }
        std::memcpy(out, &cp, 4);
        out += 4;
    }
    return static_cast<size_t>(out - start) / 4;
}

size_t PutUtf8(uint32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace msgjson::detail
