// Bounded formatting over the C library's vsnprintf.
#include "Apr.h"

#include <cstdio>

int CApr::vsnprintf(char* buf, unsigned int size, const char* fmt, va_list args) {
    if (buf == nullptr || size == 0) return 0;
    int n = std::vsnprintf(buf, size, fmt, args);
    if (n < 0) {
        buf[0] = 0;
        return -1;
    }
    return static_cast<unsigned int>(n) < size ? n : static_cast<int>(size - 1);
}

int CApr::snprintf(char* buf, unsigned int size, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int n = CApr::vsnprintf(buf, size, fmt, args);
    va_end(args);
    return n;
}
