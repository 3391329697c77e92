#include "ExceptionBase.h"

#include <cstdio>

CExceptionBase::~CExceptionBase() {}

void CExceptionBase::_FormatErrMsg(const char* pszFormat, va_list args) {
    if (pszFormat == nullptr) {
        m_szErrMsg[0] = 0;
        return;
    }
    if (std::vsnprintf(m_szErrMsg, sizeof m_szErrMsg, pszFormat, args) < 0) m_szErrMsg[0] = 0;
    m_szErrMsg[sizeof m_szErrMsg - 1] = 0;
}
