// Violation.h - the first violation a check found: a result code and text.
//
// Validation reports a violation by filling one CViolation and returning
// false, rather than by throwing: a message that breaks the grammar is an
// ordinary outcome, and a thrown exception costs more than validating a
// whole message.  The interfaces that throw (CGroupNode::MatchSubNode,
// CDataConstraint::Verify, CBlobMessageParser::Parse, ...) are these
// checks followed by Raise(), so code and text are the same either way.
//
// The text is formatted exactly as an exception formats its own (it is
// one: CExceptionBase), only when a violation is found.
#ifndef EN_VIOLATION_H
#define EN_VIOLATION_H

#include "Exceptions.h"

class CViolation : public CExceptionBase {
public:
    CViolation() {}
    ~CViolation() override;

    // Formats code and text; returns false so that a check can end with
    // `return v.Set(...);`.
    bool Set(int nCode, const char* pszFormat, ...) EN_PRINTF_LIKE(3, 4);
    // Throws the exception of the code (101, 102, or 300 for any other)
    // carrying the text.
    [[noreturn]] void Raise() const;

    int GetCode() const { return m_nErrCode; }
    const char* GetText() const { return m_szErrMsg; }
};

#endif  // EN_VIOLATION_H
