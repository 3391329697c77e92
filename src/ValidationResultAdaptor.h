// ValidationResultAdaptor.h - writes verdicts into the caller's record.
//
// Binds to one EN_VALIDATE_RESULT for the length of one entry-point call.
// From construction on the record holds 100 "Unknown error"; every write
// keeps the text within 254 characters and byte 255 zero.
#ifndef EN_VALIDATIONRESULTADAPTOR_H
#define EN_VALIDATIONRESULTADAPTOR_H

#include "En_Validation.h"
#include "Violation.h"

class CValidationResultAdaptor {
public:
    explicit CValidationResultAdaptor(EN_VALIDATE_RESULT& result);
    CValidationResultAdaptor(const CValidationResultAdaptor&) = delete;
    CValidationResultAdaptor& operator=(const CValidationResultAdaptor&) = delete;

    // Stores the code, then formats the text (cut at 254 characters).
    void SetResult(int nCode, const char* pszFormat, ...) EN_PRINTF_LIKE(3, 4);
    // Stores the code and copies the text as it stands (cut at 254
    // characters), never formatting it.
    void SetText(int nCode, const char* pszText);
    // 0 and the empty text.
    void SetSuccess();
    // Code and text of a violation.
    void SetResult(const CViolation& v);

private:
    EN_VALIDATE_RESULT& m_Result;
};

#endif  // EN_VALIDATIONRESULTADAPTOR_H
