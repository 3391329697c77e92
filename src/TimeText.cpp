// The time text scanner: sscanf's rules for "%d" and its literals, spelt out
// for the two formats of the time constraint.
#include "TimeText.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace timetext {
namespace {

// White space as isspace() of the current locale tells it.  With glibc the
// locale's classification table is read directly, once per text.
class CSpace {
public:
#ifdef __GLIBC__
    CSpace() : m_pTable(*__ctype_b_loc()) {}
    bool operator()(unsigned c) const { return (m_pTable[c] & _ISspace) != 0; }  // c < 256

private:
    const unsigned short* m_pTable;
#else
    bool operator()(unsigned c) const { return std::isspace(static_cast<int>(c)) != 0; }
#endif
};

// The character at p as the scanner sees it.  A wide text is read as its
// conversion begins: ASCII characters stand for themselves in every locale,
// and any other character ends the text here (see IsWideTimeText).
inline unsigned Code(const char* p) { return static_cast<unsigned char>(*p); }
inline unsigned Code(const wchar_t* p) {
    const std::uint32_t c = static_cast<std::uint32_t>(*p);
    return c <= 0x7f ? c : 0;
}

inline bool IsDigit(unsigned c) { return c - '0' <= 9u; }

// "%d": white space, an optional sign, one or more digits.  Returns the end
// of the number, or null when the conversion fails.
template <class Ch>
inline const Ch* Number(const Ch* p, const CSpace& space) {
    unsigned c = Code(p);
    while (space(c)) c = Code(++p);
    if (c == '+' || c == '-') c = Code(++p);
    if (!IsDigit(c)) return nullptr;
    do c = Code(++p);
    while (IsDigit(c));
    return p;
}

// "%d/%d/%d %d:%d:%d" or "%d-%d-%d %d:%d:%d" converted six times, in one
// pass: the two formats read the first number alike, and the character
// after it can match the separator of one of them at most.  Returns the
// end of the sixth number, or null.
template <class Ch>
const Ch* SixNumbers(const Ch* p) {
    const CSpace space;
    if ((p = Number(p, space)) == nullptr) return nullptr;
    const unsigned separator = Code(p);
    if (separator != '/' && separator != '-') return nullptr;
    if ((p = Number(p + 1, space)) == nullptr || Code(p) != separator) return nullptr;
    if ((p = Number(p + 1, space)) == nullptr) return nullptr;
    while (space(Code(p))) ++p;  // a blank in a format: any white space, also none
    if ((p = Number(p, space)) == nullptr || Code(p) != ':') return nullptr;
    if ((p = Number(p + 1, space)) == nullptr || Code(p) != ':') return nullptr;
    return Number(p + 1, space);
}

}  // namespace

bool IsTimeText(const char* text) { return SixNumbers(text) != nullptr; }

// Accepted as read here, within the first 255 characters, the text is
// accepted after conversion too: every character read before the end of
// the sixth number is ASCII and converted to itself, and whatever follows
// that number (another character, or the end of the converted text) is not
// a digit there either.
bool IsWideTimeText(const wchar_t* text) {
    const wchar_t* end = SixNumbers(text);
    return end != nullptr && end - text <= static_cast<std::ptrdiff_t>(kNarrowBufferSize - 1);
}

const char* NarrowTimeText(const wchar_t* text, char (&buffer)[kNarrowBufferSize]) {
    const size_t limit = kNarrowBufferSize - 1;
    size_t n = 0;
    for (; n < limit && text[n] != 0; ++n) {
        if (text[n] < 0 || text[n] > 0x7f) {  // not ASCII: the locale decides
            std::memset(buffer, 0, sizeof buffer);
            std::wcstombs(buffer, text, limit);
            return buffer;
        }
        buffer[n] = static_cast<char>(text[n]);
    }
    buffer[n] = 0;
    return buffer;
}

}  // namespace timetext
