/* Uses the library as a C caller does: only the public header and the
 * handle interface.  Exits non-zero on the first failed check. */
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "En_Msg.h"
#include "En_Validation.h"

static int failures = 0;

static void expect(const EN_VALIDATE_RESULT* r, int code, const char* text, const char* what) {
    if (r->nCode != code || strcmp(r->szMessage, text) != 0) {
        fprintf(stderr, "%s: got %d \"%s\", want %d \"%s\"\n", what, r->nCode, r->szMessage, code, text);
        ++failures;
    }
}

/* A complete event log (1501): the fifteen header items and its own seven. */
static void build_event_log(void* h) {
    En_Msg_AppendUInt32(h, 11, 1501);
    En_Msg_AppendWString(h, 1001, L"{6A0B2C1D-0000-4000-8000-000000000001}");
    En_Msg_AppendInt16(h, 2021, 7);
    En_Msg_AppendWString(h, 2055, L"1");
    En_Msg_AppendWString(h, 2008, L"host-1");
    En_Msg_AppendWString(h, 2014, L"8.0");
    En_Msg_AppendInt16(h, 2056, 1);
    En_Msg_AppendUInt32(h, 2057, 1033);
    En_Msg_AppendInt16(h, 2058, 2);
    En_Msg_AppendInt16(h, 2059, 3);
    En_Msg_AppendWString(h, 2001, L"2008/7/15 13:05:09");
    En_Msg_AppendInt16(h, 2002, -480);
    En_Msg_AppendInt16(h, 2060, 0);
    En_Msg_AppendWString(h, 2061, L"none");
    En_Msg_AppendInt16(h, 2062, 0);
    En_Msg_AppendUInt32(h, 2063, 4);
    En_Msg_AppendWString(h, 2064, L"");
    En_Msg_AppendInt16(h, 2066, 0);
    En_Msg_AppendWString(h, 2178, L"pc-7");
    En_Msg_AppendWString(h, 2179, L"corp");
    En_Msg_AppendWString(h, 2180, L"10.0.0.7");
    En_Msg_AppendWString(h, 2181, L"00-11-22-33-44-55");
}

int main(void) {
    static const x_int32 types[] = {1501, 1502, -7, 1701, 0};
    EN_VALIDATE_RESULT r;
    void* h = En_Msg_Create();
    unsigned i;
    if (h == NULL) return 2;

    for (i = 0; i < sizeof types / sizeof types[0]; ++i) {
        En_Validate_Log(NULL, types[i], &r);
        expect(&r, EN_VALIDATE_NULL_HANDLE, "pMsgHandle is NULL.", "null handle, log");
    }
    En_Validate_RegisterData(NULL, &r);
    expect(&r, EN_VALIDATE_NULL_HANDLE, "pMsgHandle is NULL.", "null handle, registration");

    En_Validate_Log(h, 1502, &r);
    expect(&r, EN_VALIDATE_UNKNOWN_MSGTYPE, "Unknown MsgType=1502.", "type 1502");
    En_Validate_Log(h, -7, &r);
    expect(&r, EN_VALIDATE_UNKNOWN_MSGTYPE, "Unknown MsgType=-7.", "type -7");

    En_Validate_Log(h, 1501, &r);
    expect(&r, EN_VALIDATE_SYNTAX_ERROR, "Missing required node(ID: 11, Name: MsgType) under group 'Root'.",
           "empty event log");

    build_event_log(h);
    En_Validate_Log(h, 1501, &r);
    expect(&r, EN_VALIDATE_SUCCESS, "", "complete event log");

    En_Validate_RegisterData(h, &r);
    expect(&r, EN_VALIDATE_SYNTAX_ERROR, "Node(ID: 11) is unexpected under group 'Root'.",
           "event log as registration");
    if (r.nCode == EN_VALIDATE_UNKNOWN_ERROR) ++failures;

    En_Msg_Destroy(h);
    if (failures == 0) puts("C interface: all checks passed");
    return failures == 0 ? 0 : 1;
}
