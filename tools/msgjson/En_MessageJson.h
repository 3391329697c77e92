/*
 * En_MessageJson.h - the JSON message form of en-validate (MessageJson.h)
 * as a C interface: libEn_MessageJson.so.1, which en-validate and the
 * Python module en_validation (through ctypes) use, so that the form has
 * one reader.  Not installed as a header: the library is the project's
 * own, for its tool and its module.
 *
 * Nothing in the library throws, so no C++ exception leaves a function and
 * none is raised on the caller's thread: bad input and memory exhaustion
 * are return values (EN_MSGJSON_EINPUT with En_MsgJson_Error's text,
 * EN_MSGJSON_ENOMEM, or the value documented below), on any thread, also
 * in a host without a C++ runtime of its own.  Message handles are those
 * of libEn_Utility.so.1 (En_Msg.h).
 */
#ifndef EN_MESSAGEJSON_H
#define EN_MESSAGEJSON_H

#include "En_Msg.h"

#define EN_MSGJSON_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Bytes after the end of a text that the reader reads (and overwrites). */
#define EN_MSGJSON_PADDING 64

/* Results of the int-returning functions. */
enum {
    EN_MSGJSON_OK = 0,
    EN_MSGJSON_EINPUT = -1,    /* bad input: En_MsgJson_Error says where and why */
    EN_MSGJSON_ENOMEM = -2,    /* memory is exhausted */
    EN_MSGJSON_ESTOPPED = -3,  /* a sink returned non-zero */
    EN_MSGJSON_EINVAL = -4     /* a null reader, handle or text, or an unknown kind */
};

/* Message kinds. */
enum { EN_MSGJSON_KIND_UNSET = -1, EN_MSGJSON_LOG = 0, EN_MSGJSON_REGISTER = 1 };

/* Receives bytes (an encoded entry, or a piece of JSON text); non-zero stops
 * the call, which then returns EN_MSGJSON_ESTOPPED. */
typedef int (*En_MsgJson_Sink)(void* context, const void* bytes, size_t size);

/* A reader keeps its parser's buffers from one text to the next; one for
 * each thread.  NULL when memory is exhausted. */
typedef struct En_MsgJson_Reader En_MsgJson_Reader;
EN_MSGJSON_API En_MsgJson_Reader* En_MsgJson_ReaderCreate(void);
EN_MSGJSON_API void En_MsgJson_ReaderDestroy(En_MsgJson_Reader* reader);

/* Reads the message object of text (size bytes, UTF-8, an optional byte
 * order mark) into the message handle, which is cleared first; with a
 * sink, each entry goes there as it is read instead, and msgHandle may be
 * NULL.  When room (the writable bytes after text) is at least
 * EN_MSGJSON_PADDING, the text is parsed where it is and those bytes are
 * overwritten; else it is copied.  kind and msgType, when not
 * EN_MSGJSON_KIND_UNSET, override the message's "kind" and "msgtype"
 * (msgType is read for a log only).  Lines of errors count from firstLine.
 * Sets *outKind and *outMsgType (0 for a registration message).
 * EN_MSGJSON_EINPUT: En_MsgJson_Error is "line L, column C: why" for text
 * that is not JSON, else a place in the message and why
 * ("entries[3].value: value 70000 is out of range -32768..32767"). */
EN_MSGJSON_API int En_MsgJson_Read(En_MsgJson_Reader* reader, char* text, size_t size, size_t room, int kind,
                                   x_int32 msgType, size_t firstLine, void* msgHandle, En_MsgJson_Sink sink,
                                   void* context, int* outKind, x_int32* outMsgType);

/* The text of the reader's last error (EN_MSGJSON_EINPUT); "" after any
 * other result of a read but EN_MSGJSON_EINVAL, which leaves it as it was.
 * Valid until the reader is used again. */
EN_MSGJSON_API const char* En_MsgJson_Error(const En_MsgJson_Reader* reader);

/* What is wrong with the structure of a blob: "byte offset P: entry N (id
 * I, type T): why" for the first entry whose header is cut short or whose
 * value runs past the end, and with checkValues for the first value that is
 * malformed for its type (what the blob reader refuses).  Writes at most
 * room - 1 bytes and a zero into text (when room > 0); returns the length
 * of the whole text, 0 when nothing is wrong, (size_t)-1 when memory is
 * exhausted. */
EN_MSGJSON_API size_t En_MsgJson_BlobFault(const void* blob, size_t size, int checkValues, char* text, size_t room);

/* The log message type of a blob, the value of a root entry MsgType (ID 11,
 * UINT32), into *msgType: 1 when there is one, else 0.  en-validate takes a
 * blob with one for a log of that type, else for a registration message. */
EN_MSGJSON_API int En_MsgJson_MsgTypeEntry(const void* blob, size_t size, x_int32* msgType);

/* The places in the message text that the reader read last: the line and
 * column (1-based; a column counts bytes, those of a byte order mark among
 * them) where elements first, first + 1, ... (0-based) of its "entries"
 * array begin, and past the last, where the array's closing bracket is (the
 * end of the message); at most count of them, into lines[] and columns[].
 * text and size give that text again (the reader does not keep it), lines
 * counted from firstLine; a place past size gets 0 and 0.  Returns how many
 * places there are (the elements and the bracket), 0 when the last read did
 * not succeed or handed its entries to a sink.  The reader noted where each
 * element begins as it went: nothing is parsed again, and the text is read
 * once, up to the last place asked for. */
EN_MSGJSON_API size_t En_MsgJson_EntryPlaces(const En_MsgJson_Reader* reader, const char* text, size_t size,
                                             size_t firstLine, size_t first, size_t count, size_t* lines,
                                             size_t* columns);

/* The name of a data type code without prefix ("WSTRING"), or NULL. */
EN_MSGJSON_API const char* En_MsgJson_TypeName(x_uint32 code);

/* The JSON message form of a blob taken as kind (and msgType for a log),
 * written to sink piece by piece.  EN_MSGJSON_EINPUT: the blob's structure
 * is broken (En_MsgJson_BlobFault without checkValues says how; nothing is
 * written) or a value is too long to write as hex on this system. */
EN_MSGJSON_API int En_MsgJson_Decode(const void* blob, size_t size, int kind, x_int32 msgType,
                                     En_MsgJson_Sink sink, void* context);

#ifdef __cplusplus
}
#endif

#endif /* EN_MESSAGEJSON_H */
