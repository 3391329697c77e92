// The time text scanner: sscanf's rules for "%d" and its literals, spelt out
// for the two formats of the time constraint.
#include "TimeText.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace timetext {
namespace {

inline bool IsSpace(const char* p) { return std::isspace(static_cast<unsigned char>(*p)) != 0; }
inline bool IsDigit(const char* p) { return *p >= '0' && *p <= '9'; }

// "%d": white space, an optional sign, one or more digits.  Null when the
// conversion fails.
inline const char* Number(const char* p) {
    while (IsSpace(p)) ++p;
    if (*p == '+' || *p == '-') ++p;
    if (!IsDigit(p)) return nullptr;
    do ++p;
    while (IsDigit(p));
    return p;
}

// "%d<sep>%d<sep>%d %d:%d:%d" converted six times.
bool SixNumbers(const char* p, char sep) {
    static const char kAfter[5] = {0, 0, ' ', ':', ':'};  // 0: the date separator
    for (int field = 0;; ++field) {
        p = Number(p);
        if (p == nullptr) return false;
        if (field == 5) return true;
        const char literal = kAfter[field] != 0 ? kAfter[field] : sep;
        if (literal == ' ') {
            while (IsSpace(p)) ++p;  // a blank in a format: any white space, also none
        } else if (*p == literal) {
            ++p;
        } else {
            return false;
        }
    }
}

}  // namespace

bool IsTimeText(const char* text) { return SixNumbers(text, '/') || SixNumbers(text, '-'); }

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
