#include "Exceptions.h"

#include <cstdarg>

CInternalErrorException::CInternalErrorException(const char* pszFormat, ...) {
    m_nErrCode = CODE;
    va_list args;
    va_start(args, pszFormat);
    _FormatErrMsg(pszFormat, args);
    va_end(args);
}

CInternalErrorException::~CInternalErrorException() {}
