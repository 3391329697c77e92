/*
 * En_ValidationPrivate.h - the location of a verdict, for the en-validate
 * tool.  Not installed: the two functions below are exported under the
 * version EN_VALIDATION_PRIVATE (en_validation.map), which promises nothing
 * to other callers.
 *
 * Each validates exactly as its public counterpart (En_Validate_Log,
 * En_Validate_RegisterData), on the same walk, and writes the same code
 * and text into the record; it also says where the walk decided a verdict
 * that it decided at an entry or at the end of the data (101, 102, and 300
 * for an entry the blob reader refuses).
 *
 * The two _All functions walk the same way but go on after a violation, by
 * the recovery rules of docs/design.md, and hand every violation to the
 * caller, each with its place (for the tool's --all and the Python module).
 */
#ifndef EN_VALIDATIONPRIVATE_H
#define EN_VALIDATIONPRIVATE_H

#include "En_Validation.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Room for the path, terminating zero included.  The deepest grammar
 * path, with ten-digit instance numbers, takes well under 100 characters;
 * a longer one is cut. */
#define EN_VALIDATE_PATH_SIZE 512

typedef struct _en_validate_location_ {
    /* 1 when the walk decided the verdict at an entry or at the end of the
     * data and the fields below are set; 0 for success and for 100, 103
     * and 104. */
    x_int32 bLocated;
    /* The 0-based index of the entry at which the verdict was decided; at
     * the end of the data, the number of entries. */
    x_uint32 nEntry;
    /* The byte offset of that entry's header; at the end of the data, the
     * length of the blob. */
    x_uint32 nOffset;
    /* The group instances open at that point, from "Root", each after the
     * first as Name[k] with k its 1-based instance within its parent's
     * instance, then "/Name" when the entry names a node of the innermost
     * group: "Root/PatternInfo[1]/Info[2]/LastUpdateTime".  "Root" alone
     * once the root group is closed. */
    char szPath[EN_VALIDATE_PATH_SIZE];
} EN_VALIDATE_LOCATION;

EN_VALIDATION_API void En_Validate_Log_Located(void* pMsgHandle, x_int32 nMsgType, EN_VALIDATE_RESULT* pResult,
                                               EN_VALIDATE_LOCATION* pLocation);
EN_VALIDATION_API void En_Validate_RegisterData_Located(void* pMsgHandle, EN_VALIDATE_RESULT* pResult,
                                                        EN_VALIDATE_LOCATION* pLocation);

/* One violation of the full list. */
typedef struct _en_validate_violation_ {
    /* Code and text exactly as the record of the single verdict would hold
     * them, had this been the first violation; code 0 for a note. */
    EN_VALIDATE_RESULT result;
    /* Where the walk decided it; bLocated 0 for 100, 103 and 104. */
    EN_VALIDATE_LOCATION location;
    /* 1 for a note, which is no violation: the message ends inside a group
     * that was never closed ("The message ends inside group 'Info'."). */
    x_int32 bNote;
} EN_VALIDATE_VIOLATION;

/* 788 bytes without padding on every target: result at 0, location at
 * 260 (bLocated, nEntry, nOffset, then szPath at 272), bNote at 784. */
#if defined(__cplusplus)
static_assert(sizeof(EN_VALIDATE_VIOLATION) == 788, "EN_VALIDATE_VIOLATION must be 788 bytes");
#endif

/* The cap the tool and the Python module pass unless told otherwise. */
#define EN_VALIDATE_DEFAULT_MAX_VIOLATIONS 100

/* Receives one violation, valid only during the call; returns nonzero to
 * go on, 0 to end the walk there. */
typedef x_int32 (*EN_VALIDATE_SINK)(void* pContext, const EN_VALIDATE_VIOLATION* pViolation);

/* Validate as En_Validate_Log / En_Validate_RegisterData, with the same
 * record in *pResult, and deliver every violation in the order the walk
 * decides them, at most nMaxViolations (notes included); the first one that
 * is not a note is the single verdict, record and location.  With pfnSink,
 * each is passed to pfnSink(pContext, ...); without (NULL), pContext is the
 * caller's array of nMaxViolations records, filled from the first.  Returns
 * the number delivered: nMaxViolations when the list may have been cut.
 * Allocates nothing, throws nothing. */
EN_VALIDATION_API x_uint32 En_Validate_Log_All(void* pMsgHandle, x_int32 nMsgType, EN_VALIDATE_RESULT* pResult,
                                               x_uint32 nMaxViolations, EN_VALIDATE_SINK pfnSink, void* pContext);
EN_VALIDATION_API x_uint32 En_Validate_RegisterData_All(void* pMsgHandle, EN_VALIDATE_RESULT* pResult,
                                                        x_uint32 nMaxViolations, EN_VALIDATE_SINK pfnSink,
                                                        void* pContext);

#ifdef __cplusplus
}
#endif

#endif /* EN_VALIDATIONPRIVATE_H */
