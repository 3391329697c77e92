/* Builds a performance metric log message (type 1711) through the handle
 * interface, validates it, then validates it once more with an item too
 * many.  Build against an installed library with
 *     cc validate.c $(pkg-config --cflags --libs en_validation)
 * or with CMake: find_package(En_Validation), En_Validation::En_Validation. */
#include <stdio.h>
#include <wchar.h>

#include "En_Msg.h"
#include "En_Validation.h"

static void report(const char* what, const EN_VALIDATE_RESULT* r) {
    printf("%s: %d %s\n", what, r->nCode, r->nCode == EN_VALIDATE_SUCCESS ? "(conforms)" : r->szMessage);
}

int main(void) {
    EN_VALIDATE_RESULT result;
    void* msg = En_Msg_Create();
    if (msg == NULL) return 2;

    /* The common log header. */
    En_Msg_AppendUInt32(msg, 11, 1711);                    /* MsgType */
    En_Msg_AppendWString(msg, 1001, L"{6A0B2C1D-9E8F-4A7B-8C6D-5E4F3A2B1C0D}");
    En_Msg_AppendInt16(msg, 2021, 7);                      /* ProductID */
    En_Msg_AppendWString(msg, 2055, L"1");                 /* LogMinorVersion */
    En_Msg_AppendWString(msg, 2008, L"ws-0147");           /* ComputerName */
    En_Msg_AppendWString(msg, 2014, L"8.0");               /* ProductVersion */
    En_Msg_AppendInt16(msg, 2056, 0);                      /* ProductPlatformCode */
    En_Msg_AppendUInt32(msg, 2057, 1033);                  /* ProductLanguageCode */
    En_Msg_AppendInt16(msg, 2058, 2);                      /* SeverityCode */
    En_Msg_AppendInt16(msg, 2059, 3);                      /* ComponentCode */
    En_Msg_AppendWString(msg, 2001, L"2024/05/17 09:30:00"); /* LogGenerationTime */
    En_Msg_AppendInt16(msg, 2002, -480);                   /* LogGenerationTimeZone */
    En_Msg_AppendInt16(msg, 2060, 0);                      /* IsDayLightSaving */
    En_Msg_AppendWString(msg, 2061, L"0");                 /* ReasonCode */
    En_Msg_AppendInt16(msg, 2062, 0);                      /* ReasonCodeSource */
    /* The performance metric. */
    En_Msg_AppendWString(msg, 2081, L"2024/05/17 09:30:00"); /* SnapshotTime */
    En_Msg_AppendWString(msg, 1041, L"proxy-01");          /* ServerName */
    En_Msg_AppendInt16(msg, 2082, 0);                      /* MetricType */
    En_Msg_AppendWString(msg, 2083, L"42");                /* MetricValue */

    En_Validate_Log(msg, 1711, &result);
    report("performance metric log", &result);

    En_Msg_AppendWString(msg, 2083, L"43");                /* MetricValue again */
    En_Validate_Log(msg, 1711, &result);
    report("with MetricValue twice", &result);

    En_Msg_Destroy(msg);
    return 0;
}
