// ExceptionBase.h - CExceptionBase of the utility library (libEn_Utility.so.1).
//
// The abstract base of every exception that carries a result code and a
// finished message text.  Derived constructors set m_szErrMsg[0] to zero
// and m_nErrCode to their code, then format the text once with
// _FormatErrMsg.  Readers use the two fields directly.
#ifndef EN_COMPANION_EXCEPTIONBASE_H
#define EN_COMPANION_EXCEPTIONBASE_H

#include <cstdarg>

#include "En_Msg.h"

class __attribute__((visibility("default"))) CExceptionBase {
public:
    virtual ~CExceptionBase() = 0;

    char m_szErrMsg[1024];  // the message, always zero-terminated
    x_int32 m_nErrCode;     // the result code it stands for

protected:
    CExceptionBase() : m_nErrCode(0) { m_szErrMsg[0] = 0; }
    // Formats into m_szErrMsg with printf conventions; output beyond 1023
    // characters is cut off.
    void _FormatErrMsg(const char* pszFormat, va_list args) __attribute__((format(printf, 2, 0)));
};

#endif  // EN_COMPANION_EXCEPTIONBASE_H
