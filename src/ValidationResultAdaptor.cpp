#include "ValidationResultAdaptor.h"

#include <cstdarg>

#include "Apr.h"

namespace {
const unsigned int kTextBound = EN_VALIDATE_MESSAGE_SIZE - 1;  // 255: at most 254 characters
}

CValidationResultAdaptor::CValidationResultAdaptor(EN_VALIDATE_RESULT& result) : m_Result(result) {
    m_Result.nCode = EN_VALIDATE_UNKNOWN_ERROR;
    CApr::snprintf(m_Result.szMessage, kTextBound, "Unknown error");
    m_Result.szMessage[EN_VALIDATE_MESSAGE_SIZE - 1] = 0;
}

void CValidationResultAdaptor::SetResult(int nCode, const char* pszFormat, ...) {
    m_Result.nCode = nCode;
    va_list args;
    va_start(args, pszFormat);
    CApr::vsnprintf(m_Result.szMessage, kTextBound, pszFormat, args);
    va_end(args);
    m_Result.szMessage[EN_VALIDATE_MESSAGE_SIZE - 1] = 0;
}

void CValidationResultAdaptor::SetResult(const CExceptionBase& e) { SetResult(e.m_nErrCode, "%s", e.m_szErrMsg); }
