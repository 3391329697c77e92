// Violation.h - the first violation a check found: a result code and text.
//
// Validation reports a violation by filling one CViolation and returning
// false; nothing in the library throws.  A message that breaks the grammar
// is an ordinary outcome, and a thrown exception would cost more than
// validating a whole message.
//
// The text is formatted as the utility library's CExceptionBase formats its
// own, only when a violation is found.
#ifndef EN_VIOLATION_H
#define EN_VIOLATION_H

#include "En_Validation.h"
#include "ExceptionBase.h"

#define EN_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))

class CViolation : public CExceptionBase {
public:
    CViolation() {}
    ~CViolation() override;

    // Formats code (100, 101, 102 or 300; 0 for a note of the full list)
    // and text; returns false so that a check can end with
    // `return v.Set(...);`.
    bool Set(int nCode, const char* pszFormat, ...) EN_PRINTF_LIKE(3, 4);

    int GetCode() const { return m_nErrCode; }
};

#endif  // EN_VIOLATION_H
