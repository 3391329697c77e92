#include "Exceptions.h"

#define EN_DEFINE_EXCEPTION(Class)                        \
    Class::Class(const char* pszFormat, ...) {            \
        m_szErrMsg[0] = 0;                                \
        m_nErrCode = CODE;                                \
        va_list args;                                     \
        va_start(args, pszFormat);                        \
        _FormatErrMsg(pszFormat, args);                   \
        va_end(args);                                     \
    }                                                     \
    Class::~Class() {}

EN_DEFINE_EXCEPTION(CSyntaxErrorException)
EN_DEFINE_EXCEPTION(CDataConstraintViolationException)
EN_DEFINE_EXCEPTION(CInternalErrorException)
