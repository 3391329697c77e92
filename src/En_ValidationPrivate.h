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

#ifdef __cplusplus
}
#endif

#endif /* EN_VALIDATIONPRIVATE_H */
