#include "Violation.h"

#include <cstdarg>

CViolation::~CViolation() {}

bool CViolation::Set(int nCode, const char* pszFormat, ...) {
    m_nErrCode = nCode;
    va_list args;
    va_start(args, pszFormat);
    _FormatErrMsg(pszFormat, args);
    va_end(args);
    return false;
}
