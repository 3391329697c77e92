// Violation.h - the first violation a check found: a result code and text.
//
// Validation reports a violation by filling one CViolation and returning
// false; nothing on the way of a message throws it.  A message that breaks
// the grammar is an ordinary outcome, and a thrown exception costs more
// than validating a whole message.  Exceptions are left for what is
// exceptional: a grammar found broken while it is built (300) and memory
// exhaustion.
//
// The text is formatted as an exception formats its own (a violation is a
// CExceptionBase, so the result record takes both alike), only when a
// violation is found.
#ifndef EN_VIOLATION_H
#define EN_VIOLATION_H

#include "Exceptions.h"

class CViolation : public CExceptionBase {
public:
    CViolation() {}
    ~CViolation() override;

    // Formats code (101, 102 or 300) and text; returns false so that a
    // check can end with `return v.Set(...);`.
    bool Set(int nCode, const char* pszFormat, ...) EN_PRINTF_LIKE(3, 4);

    int GetCode() const { return m_nErrCode; }
};

#endif  // EN_VIOLATION_H
