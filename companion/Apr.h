// Apr.h - bounded formatting of the formatting wrapper (libHalvoAprWrapper.so.1).
#ifndef EN_COMPANION_APR_H
#define EN_COMPANION_APR_H

#include <cstdarg>

class __attribute__((visibility("default"))) CApr {
public:
    // printf conventions; size counts the terminating zero, which is always
    // written when size > 0.  Returns the number of characters written
    // (without the zero), or -1 on a formatting error.
    static int snprintf(char* buf, unsigned int size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    static int vsnprintf(char* buf, unsigned int size, const char* fmt, va_list args)
        __attribute__((format(printf, 3, 0)));
};

#endif  // EN_COMPANION_APR_H
