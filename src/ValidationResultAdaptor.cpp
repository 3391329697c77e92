#include "ValidationResultAdaptor.h"

#include <cstdarg>
#include <cstring>

#include "Apr.h"

namespace {
const unsigned int kTextBound = EN_VALIDATE_MESSAGE_SIZE - 1;  // 255: at most 254 characters
}

CValidationResultAdaptor::CValidationResultAdaptor(EN_VALIDATE_RESULT& result) : m_Result(result) {
    static const char kUnknown[] = "Unknown error";
    m_Result.nCode = EN_VALIDATE_UNKNOWN_ERROR;
    std::memcpy(m_Result.szMessage, kUnknown, sizeof kUnknown);
    m_Result.szMessage[EN_VALIDATE_MESSAGE_SIZE - 1] = 0;
}

void CValidationResultAdaptor::SetSuccess() {
    m_Result.nCode = EN_VALIDATE_SUCCESS;
    m_Result.szMessage[0] = 0;
}

// What formatting "%s" within the bound gives, without a formatter.
void CValidationResultAdaptor::SetText(int nCode, const char* pszText) {
    m_Result.nCode = nCode;
    const size_t n = strnlen(pszText, kTextBound - 1);
    std::memcpy(m_Result.szMessage, pszText, n);
    m_Result.szMessage[n] = 0;
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

void CValidationResultAdaptor::SetResult(const CViolation& v) { SetText(v.m_nErrCode, v.m_szErrMsg); }
