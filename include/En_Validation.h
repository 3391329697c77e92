/*
 * En_Validation.h - public interface of libEn_Validation.so.1.
 *
 * The library checks one tagged binary message at a time against a grammar
 * and reports the verdict in a record that the caller owns.  It never
 * changes, stores or forwards the message and keeps no pointer to the
 * handle or the record after a call returns.
 *
 *   EN_VALIDATE_RESULT r;
 *   En_Validate_Log(handle, 1701, &r);      // a status log message
 *   if (r.nCode != EN_VALIDATE_SUCCESS) puts(r.szMessage);
 *
 * Messages are built with the handle interface of the utility library
 * (companion/En_Msg.h).
 *
 * Usable from C and C++.  Both functions are safe to call from several
 * threads at once, each with its own record.
 */
#ifndef EN_VALIDATION_H
#define EN_VALIDATION_H

/* x_int32 and the handle interface (En_Msg.h), installed beside this header. */
#include "En_Msg.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes written into EN_VALIDATE_RESULT::nCode. */
enum {
    EN_VALIDATE_SUCCESS = 0,                /* the message conforms; empty text */
    EN_VALIDATE_UNKNOWN_ERROR = 100,        /* "Unknown error": nothing else was decided */
    EN_VALIDATE_SYNTAX_ERROR = 101,         /* the message breaks the grammar's structure */
    EN_VALIDATE_CONSTRAINT_VIOLATION = 102, /* a value breaks its data constraint */
    EN_VALIDATE_NULL_HANDLE = 103,          /* "pMsgHandle is NULL." */
    EN_VALIDATE_UNKNOWN_MSGTYPE = 104,      /* "Unknown MsgType=<type>." */
    EN_VALIDATE_INTERNAL_ERROR = 300        /* broken grammar or unreadable blob */
};

/* Size of the text buffer, terminating zero included.  The text holds at
 * most EN_VALIDATE_MESSAGE_SIZE - 2 (254) characters. */
#define EN_VALIDATE_MESSAGE_SIZE 256

/* The caller's result record: 260 bytes, no padding. */
typedef struct _en_validate_result_ {
    x_int32 nCode;                            /* offset 0: one of the codes above */
    char szMessage[EN_VALIDATE_MESSAGE_SIZE]; /* offset 4: always zero-terminated */
} EN_VALIDATE_RESULT;

#if defined(__cplusplus)
static_assert(sizeof(EN_VALIDATE_RESULT) == 260, "EN_VALIDATE_RESULT must be 260 bytes");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(EN_VALIDATE_RESULT) == 260, "EN_VALIDATE_RESULT must be 260 bytes");
#endif

#if defined(__GNUC__)
#define EN_VALIDATION_API __attribute__((visibility("default")))
#else
#define EN_VALIDATION_API
#endif

/*
 * Validates a log message against the grammar of log type nMsgType
 * (1501, 1503, 1701, 1703, ..., 1721).  pResult must not be null.
 * The record first holds 100 "Unknown error"; on return it holds 0 and an
 * empty text when the message conforms, 103 for a null handle, 104 for a
 * type without grammar, else the first violation found (101, 102, 300).
 */
EN_VALIDATION_API void En_Validate_Log(void* pMsgHandle, x_int32 nMsgType, EN_VALIDATE_RESULT* pResult);

/* Validates a registration message; as En_Validate_Log, never 104. */
EN_VALIDATION_API void En_Validate_RegisterData(void* pMsgHandle, EN_VALIDATE_RESULT* pResult);

#ifdef __cplusplus
}
#endif

#endif /* EN_VALIDATION_H */
