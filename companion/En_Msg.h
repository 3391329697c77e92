/*
 * En_Msg.h - message handles of the utility library (libEn_Utility.so.1).
 *
 * A handle owns one growing, 4-byte aligned buffer of encoded entries (the
 * byte layout is described in docs/blob-format.md).  Callers build a message
 * entry by entry, or load a whole serialized blob, and hand the handle to
 * En_Validate_Log / En_Validate_RegisterData.  Usable from C and C++.
 *
 * Every function that returns int returns EN_MSG_OK (0) on success and a
 * negative EN_MSG_E... code otherwise; a failed call leaves the handle as
 * it was.  No function keeps a pointer to caller memory.
 */
#ifndef EN_MSG_H
#define EN_MSG_H

#include <stddef.h>
#include <wchar.h>

/* 32-bit integers used for IDs, codes, counts and lengths. */
typedef int x_int32;
typedef unsigned int x_uint32;

/* Data type codes of an entry and of a grammar item (Type). */
#ifdef __cplusplus
enum Type : x_uint32 {
#else
enum Type {
#endif
    DT_STRING = 1,         /* narrow string, value includes its zero byte */
    DT_WSTRING = 2,        /* 4-byte wchar_t string, value includes a 4-byte zero */
    DT_BYTES = 3,          /* byte array */
    DT_INT16 = 4,          /* 2 bytes, native byte order */
    DT_UINT16 = 5,
    DT_INT32 = 6,          /* 4 bytes, native byte order */
    DT_UINT32 = 7,
    DT_GROUP = 100,        /* begin of group, empty value */
    DT_END_OF_GROUP = 101  /* end of group, empty value */
};

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the int-returning functions. */
enum {
    EN_MSG_OK = 0,
    EN_MSG_EINVAL = -1,   /* null handle, or null data with a non-zero length */
    EN_MSG_ENOMEM = -2,   /* the buffer could not grow */
    EN_MSG_ETOOBIG = -3   /* the message would exceed 4 GiB - 1 bytes */
};

/* A new, empty handle; NULL when memory is exhausted. */
void* En_Msg_Create(void);
/* Frees the handle and its buffer; NULL is ignored. */
void En_Msg_Destroy(void* h);
/* Drops every entry; the handle stays usable. */
void En_Msg_Clear(void* h);

/* The encoded message and its length in bytes (NULL / 0 for a NULL handle).
 * The pointer stays valid until the handle is changed or destroyed. */
const void* En_Msg_GetBuffer(void* h);
x_uint32 En_Msg_BytesUsed(void* h);

/* Replaces the content with a copy of an encoded blob.  The bytes are not
 * checked here: the blob reader checks every entry when it is read. */
int En_Msg_Load(void* h, const void* blob, size_t len);

/* Makes the content len bytes long and returns where to write them (NULL
 * when the buffer cannot grow, or len is over 4 GiB - 1: the handle is then
 * as it was).  The bytes up to the old length are kept, the others are
 * unset.  The pointer stays valid until the handle is changed or destroyed.
 * For a caller that reads a blob straight into a handle. */
void* En_Msg_Resize(void* h, size_t len);

/* Appends one entry with exactly the given value bytes (any type, any
 * length; this is also how malformed values are written on purpose). */
int En_Msg_AppendEntry(void* h, x_uint32 id, x_uint32 type, const void* data, x_uint32 len);

/* Typed helpers: each appends one well-formed entry of its type. */
int En_Msg_AppendString(void* h, x_uint32 id, const char* s);
int En_Msg_AppendWString(void* h, x_uint32 id, const wchar_t* s);
int En_Msg_AppendBytes(void* h, x_uint32 id, const void* data, x_uint32 len);
int En_Msg_AppendInt16(void* h, x_uint32 id, short v);
int En_Msg_AppendUInt16(void* h, x_uint32 id, unsigned short v);
int En_Msg_AppendInt32(void* h, x_uint32 id, x_int32 v);
int En_Msg_AppendUInt32(void* h, x_uint32 id, x_uint32 v);
int En_Msg_BeginGroup(void* h, x_uint32 id);
int En_Msg_EndGroup(void* h, x_uint32 id);


#ifdef __cplusplus
}
#endif

#endif /* EN_MSG_H */
