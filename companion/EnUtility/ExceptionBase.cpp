#include "ExceptionBase.h"

#include <cstdio>
#include <cstring>

CExceptionBase::~CExceptionBase() {}

namespace {

// Writes what the plain conversions of format (%s, %d, %u, %%: no flags,
// width, precision or length) give into out (size bytes, zero-terminated,
// cut off as vsnprintf cuts), taking the arguments from args.  False, with
// out undefined, when format has any other conversion or a null string
// argument: vsnprintf then formats the whole text.  Every text of the
// validation library is of this kind, and this takes a fraction of the
// C library's time for one.
bool FormatPlain(char* out, size_t size, const char* format, va_list args) {
    size_t used = 0;
    auto put = [&](const char* s, size_t n) {
        const size_t room = size - 1 - used;
        std::memcpy(out + used, s, n < room ? n : room);
        used += n < room ? n : room;
    };
    for (const char* p = format;;) {
        const char* const percent = std::strchr(p, '%');
        put(p, percent != nullptr ? static_cast<size_t>(percent - p) : std::strlen(p));
        if (percent == nullptr) break;
        p = percent + 2;
        char digits[12];
        char* const end = digits + sizeof digits;
        char* d = end;
        switch (percent[1]) {
            case '%': put("%", 1); continue;
            case 's': {
                const char* s = va_arg(args, const char*);
                if (s == nullptr) return false;
                put(s, std::strlen(s));
                continue;
            }
            case 'd': {
                const int n = va_arg(args, int);
                unsigned u = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
                do *--d = static_cast<char>('0' + u % 10);
                while ((u /= 10) != 0);
                if (n < 0) *--d = '-';
                break;
            }
            case 'u': {
                unsigned u = va_arg(args, unsigned);
                do *--d = static_cast<char>('0' + u % 10);
                while ((u /= 10) != 0);
                break;
            }
            default: return false;
        }
        put(d, static_cast<size_t>(end - d));
    }
    out[used] = 0;
    return true;
}

}  // namespace

void CExceptionBase::_FormatErrMsg(const char* pszFormat, va_list args) {
    if (pszFormat == nullptr) {
        m_szErrMsg[0] = 0;
        return;
    }
    va_list plain;
    va_copy(plain, args);
    const bool done = FormatPlain(m_szErrMsg, sizeof m_szErrMsg, pszFormat, plain);
    va_end(plain);
    if (!done && std::vsnprintf(m_szErrMsg, sizeof m_szErrMsg, pszFormat, args) < 0) m_szErrMsg[0] = 0;
    m_szErrMsg[sizeof m_szErrMsg - 1] = 0;
}
