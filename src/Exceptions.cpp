#include "Exceptions.h"

#include "Violation.h"

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

CViolation::~CViolation() {}

bool CViolation::Set(int nCode, const char* pszFormat, ...) {
    m_nErrCode = nCode;
    va_list args;
    va_start(args, pszFormat);
    _FormatErrMsg(pszFormat, args);
    va_end(args);
    return false;
}

void CViolation::Raise() const {
    switch (m_nErrCode) {
        case CSyntaxErrorException::CODE:
            throw CSyntaxErrorException("%s", m_szErrMsg);
        case CDataConstraintViolationException::CODE:
            throw CDataConstraintViolationException("%s", m_szErrMsg);
        default:
            throw CInternalErrorException("%s", m_szErrMsg);
    }
}
