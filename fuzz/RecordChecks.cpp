#include "RecordChecks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BlobReader.h"
#include "En_ValidationPrivate.h"

namespace enfuzz {

void Validate(bool bLog, x_int32 nMsgType, void* h, EN_VALIDATE_RESULT& r) {
    if (bLog)
        En_Validate_Log(h, nMsgType, &r);
    else
        En_Validate_RegisterData(h, &r);
}

void Validate(const grammar::MessageKind& kind, void* h, EN_VALIDATE_RESULT& r) {
    Validate(kind.bLog, kind.MsgType(), h, r);
}

std::string RecordProblem(const EN_VALIDATE_RESULT& r, bool bAllowUnknown) {
    const size_t length = strnlen(r.szMessage, sizeof r.szMessage);
    if (length > EN_VALIDATE_MESSAGE_SIZE - 2) return "text not terminated within 254 characters";
    const std::string text(r.szMessage, length);
    switch (r.nCode) {
        case EN_VALIDATE_SUCCESS:
            return text.empty() ? "" : "code 0 with text '" + text + "'";
        case EN_VALIDATE_SYNTAX_ERROR:
        case EN_VALIDATE_CONSTRAINT_VIOLATION:
        case EN_VALIDATE_INTERNAL_ERROR:
            return text.empty() ? "code " + std::to_string(r.nCode) + " without text" : "";
        case EN_VALIDATE_UNKNOWN_ERROR:
            if (bAllowUnknown && text == "Unknown error") return "";
            break;
        default:
            break;
    }
    return "unexpected record " + std::to_string(r.nCode) + " '" + text + "'";
}

std::string VerdictProblem(const EN_VALIDATE_RESULT& r, int readerRc) {
    std::string problem = RecordProblem(r);
    if (!problem.empty()) return problem;
    if (readerRc != 0 && r.nCode == EN_VALIDATE_SUCCESS) return "accepted a blob the reader rejects";
    if (r.nCode == EN_VALIDATE_INTERNAL_ERROR) {
        if (readerRc == 0) return std::string("300 for a blob the reader accepts: ") + r.szMessage;
        const std::string expected = "CBlobReader::Pop() failed. " + std::to_string(readerRc) + " is returned.";
        if (expected != r.szMessage) return std::string("300 with text '") + r.szMessage + "', not '" + expected + "'";
    }
    return "";
}

std::string ListProblem(const grammar::MessageKind& kind, void* h, size_t size, x_uint32 nMax) {
    EN_VALIDATE_RESULT single, first;
    EN_VALIDATE_LOCATION l;
    static EN_VALIDATE_VIOLATION all[EN_VALIDATE_DEFAULT_MAX_VIOLATIONS + 1];
    if (nMax == 0 || nMax > EN_VALIDATE_DEFAULT_MAX_VIOLATIONS) return "cap out of range";
    std::memset(all, 0xA5, sizeof all);
    x_uint32 n;
    if (kind.bLog) {
        En_Validate_Log_Located(h, kind.MsgType(), &single, &l);
        n = En_Validate_Log_All(h, kind.MsgType(), &first, nMax, nullptr, all);
    } else {
        En_Validate_RegisterData_Located(h, &single, &l);
        n = En_Validate_RegisterData_All(h, &first, nMax, nullptr, all);
    }
    if (n > nMax || all[nMax].bNote != static_cast<x_int32>(0xA5A5A5A5)) return "more records than the cap";
    if (first.nCode != single.nCode || std::strcmp(first.szMessage, single.szMessage) != 0)
        return "the full list's record differs from the single verdict";
    bool found = false, noted = false;
    for (x_uint32 i = 0; i < n; ++i) {
        const EN_VALIDATE_VIOLATION& v = all[i];
        const EN_VALIDATE_LOCATION& p = v.location;
        if (strnlen(v.result.szMessage, sizeof v.result.szMessage) > EN_VALIDATE_MESSAGE_SIZE - 2 ||
            strnlen(p.szPath, sizeof p.szPath) == sizeof p.szPath)
            return "record " + std::to_string(i) + ": text or path not terminated";
        if (p.bLocated && (p.nOffset > size || size_t{p.nEntry} * 12 > p.nOffset || std::strncmp(p.szPath, "Root", 4) != 0))
            return "record " + std::to_string(i) + ": place outside the blob";
        if (v.bNote != (v.result.nCode == 0)) return "record " + std::to_string(i) + ": note and code disagree";
        if (v.bNote) {
            noted = true;
            continue;
        }
        if (noted) return "a violation after a note";
        if (found) continue;
        found = true;
        if (v.result.nCode != single.nCode || std::strcmp(v.result.szMessage, single.szMessage) != 0 ||
            p.bLocated != l.bLocated ||
            (l.bLocated && (p.nEntry != l.nEntry || p.nOffset != l.nOffset || std::strcmp(p.szPath, l.szPath) != 0)))
            return "the first violation is not the single verdict";
    }
    if (found != (single.nCode != EN_VALIDATE_SUCCESS)) return "the full list and the verdict disagree on failure";
    return "";
}

std::string EveryKindProblem(void* h, size_t size, int readerRc, x_uint32 nMax) {
    for (const grammar::MessageKind& kind : grammar::kMessageKinds) {
        EN_VALIDATE_RESULT r;
        std::memset(&r, 0xA5, sizeof r);
        Validate(kind, h, r);
        const std::string problem = VerdictProblem(r, readerRc);
        if (!problem.empty()) return std::string(kind.ClassName()) + ": " + problem;
        const std::string listProblem = ListProblem(kind, h, size, nMax);
        if (!listProblem.empty()) return std::string(kind.ClassName()) + ": full list: " + listProblem;
    }
    return "";
}

int WalkWithReader(const unsigned char* data, size_t size, size_t& nEntries) {
    nEntries = 0;
    CBlobReader* reader = CreateINVPBlobReader();
    if (reader->Attach(data, static_cast<x_uint32>(size)) != 0) Fail("Attach failed");
    int rc;
    for (;;) {
        x_uint32 id = 0, type = 0, length = 0;
        const void* value = nullptr;
        rc = reader->Pop(&id, &type, &value, &length);
        if (rc != 0) break;
        // The value must lie within the attached bytes (or the reader's own
        // copy of them, which has the same length and offsets).
        const unsigned char* v = static_cast<const unsigned char*>(value);
        if (length > size) Fail("entry longer than the blob");
        if (length != 0 && v == nullptr) Fail("entry without value pointer");
        if (v != nullptr && v >= data && v <= data + size && length > static_cast<size_t>(data + size - v))
            Fail("entry value runs past the blob");
        ++nEntries;
    }
    if (reader->Remaining() > size) Fail("Remaining() exceeds the blob");
    FreeINVPBlobReader(reader);
    return rc == BLOB_END_OF_DATA ? 0 : rc;
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "hardening check failed: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace enfuzz
