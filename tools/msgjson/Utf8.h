// Utf8.h - UTF-8 and the 4-byte characters of wide values (internal to the
// message form).
#ifndef EN_TOOLS_MSGJSON_UTF8_H
#define EN_TOOLS_MSGJSON_UTF8_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace msgjson::detail {

// A Unicode scalar value: not a surrogate, not past U+10FFFF.
bool IsScalarValue(uint32_t cp);

// The length of the longest prefix that is strict UTF-8: no overlong forms,
// surrogates or code points past U+10FFFF.
size_t Utf8Prefix(const unsigned char* p, size_t n);

bool IsUtf8(const unsigned char* p, size_t n);

// The code points of valid UTF-8 (the JSON parser has checked it).
size_t CodePointCount(std::string_view s);

// Writes the code points of valid UTF-8 as 4-byte characters to out, which
// has room for CodePointCount(s) of them (s.size() at most); returns how
// many it wrote.
size_t PutCodePoints(std::string_view s, unsigned char* out);

// One code point as UTF-8 into out; its length.
size_t PutUtf8(uint32_t cp, char* out);

}  // namespace msgjson::detail

#endif  // EN_TOOLS_MSGJSON_UTF8_H
