// Exceptions.h - the exception of a grammar that is broken while it is built.
//
// Fixes its result code and formats its message once, in its constructor,
// from one of the system's format strings; the text is never interpreted
// as a format again.  Thrown by value, caught by reference (as
// CExceptionBase, by the entry points).  Violations of a message are not
// thrown but reported (Violation.h).
#ifndef EN_EXCEPTIONS_H
#define EN_EXCEPTIONS_H

#include "En_Validation.h"
#include "ExceptionBase.h"

#define EN_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))

// A grammar is defined inconsistently.  Code 300.
class CInternalErrorException : public CExceptionBase {
public:
    enum { CODE = EN_VALIDATE_INTERNAL_ERROR };
    explicit CInternalErrorException(const char* pszFormat, ...) EN_PRINTF_LIKE(2, 3);
    ~CInternalErrorException() override;
};

#endif  // EN_EXCEPTIONS_H
