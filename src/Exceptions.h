// Exceptions.h - the three exceptions through which every failure travels.
//
// Each fixes its result code and formats its message once, in its
// constructor, from one of the system's format strings; the text is never
// interpreted as a format again.  Thrown by value, caught by reference
// (usually as CExceptionBase, by the entry points).
#ifndef EN_EXCEPTIONS_H
#define EN_EXCEPTIONS_H

#include "ExceptionBase.h"

#define EN_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))

// The message does not follow the grammar's structure.  Code 101.
class CSyntaxErrorException : public CExceptionBase {
public:
    enum { CODE = 101 };
    explicit CSyntaxErrorException(const char* pszFormat, ...) EN_PRINTF_LIKE(2, 3);
    ~CSyntaxErrorException() override;
};

// A value breaks a data constraint.  Code 102.
class CDataConstraintViolationException : public CExceptionBase {
public:
    enum { CODE = 102 };
    explicit CDataConstraintViolationException(const char* pszFormat, ...) EN_PRINTF_LIKE(2, 3);
    ~CDataConstraintViolationException() override;
};

// A grammar is defined inconsistently, or the blob reader failed.  Code 300.
class CInternalErrorException : public CExceptionBase {
public:
    enum { CODE = 300 };
    explicit CInternalErrorException(const char* pszFormat, ...) EN_PRINTF_LIKE(2, 3);
    ~CInternalErrorException() override;
};

#endif  // EN_EXCEPTIONS_H
