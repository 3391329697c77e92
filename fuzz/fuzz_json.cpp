// Fuzz target: any bytes as a JSON message text.  The reader reads it in
// place (with room for its padding) and from its own copy (without) with the
// same outcome: the same blob, or the same error text, never empty.  A blob
// it reads is validated against every grammar, the places of its entries
// are in order within the text, and its decoded JSON reads back to the same
// blob.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "En_MessageJson.h"
#include "En_Msg.h"
#include "En_ValidationPrivate.h"
#include "RecordChecks.h"

namespace {
constexpr size_t kMaxInput = 1 << 20;

struct Outcome {
    int rc, kind;
    x_int32 msgType;
    std::string bytes;  // the blob, or the error text
};

Outcome Read(En_MsgJson_Reader* reader, void* h, const char* data, size_t size, size_t room) {
    std::unique_ptr<char[]> text(new char[size + room]);
    if (size != 0) std::memcpy(text.get(), data, size);
    Outcome o{};
    o.rc = En_MsgJson_Read(reader, text.get(), size, room, EN_MSGJSON_KIND_UNSET, EN_MSGJSON_KIND_UNSET, 1, h,
                           nullptr, nullptr, &o.kind, &o.msgType);
    if (o.rc == EN_MSGJSON_OK) o.bytes.assign(static_cast<const char*>(En_Msg_GetBuffer(h)), En_Msg_BytesUsed(h));
    if (o.rc == EN_MSGJSON_EINPUT) {
        o.bytes = En_MsgJson_Error(reader);
        if (o.bytes.empty()) enfuzz::Fail("bad input without an error text");
    }
    if (o.rc != EN_MSGJSON_OK && o.rc != EN_MSGJSON_EINPUT && o.rc != EN_MSGJSON_ENOMEM)
        enfuzz::Fail("read returned " + std::to_string(o.rc));
    return o;
}

int Append(void* context, const void* bytes, size_t size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(bytes), size);
    return 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace enfuzz;
    if (size > kMaxInput) return 0;
    const char* text = reinterpret_cast<const char*>(data);
    En_MsgJson_Reader* reader = En_MsgJson_ReaderCreate();
    void* h = En_Msg_Create();
    if (reader == nullptr || h == nullptr) Fail("out of memory");
    const Outcome copied = Read(reader, h, text, size, 0), o = Read(reader, h, text, size, EN_MSGJSON_PADDING);
    if (copied.rc != o.rc || copied.bytes != o.bytes) Fail("the read depends on the room after the text");
    if (o.rc == EN_MSGJSON_OK) {
        const auto* blob = reinterpret_cast<const unsigned char*>(o.bytes.data());
        size_t walked = 0, entries = 0;
        const int readerRc = WalkWithReader(blob, o.bytes.size(), walked);
        const std::string problem = EveryKindProblem(h, o.bytes.size(), readerRc, EN_VALIDATE_DEFAULT_MAX_VIOLATIONS);
        if (!problem.empty()) Fail(problem);
        for (size_t at = 0; at + 12 <= o.bytes.size(); ++entries) {  // headers: ID, type, length; padded to 4
            x_uint32 length;
            std::memcpy(&length, blob + at + 8, sizeof length);
            at += 12 + size_t{length} + ((4 - (length & 3)) & 3);
        }
        std::unique_ptr<size_t[]> lines(new size_t[entries + 2]), columns(new size_t[entries + 2]);
        if (En_MsgJson_EntryPlaces(reader, text, size, 1, 0, entries + 2, lines.get(), columns.get()) != entries + 1)
            Fail("not one place for each entry and the end");
        for (size_t i = 0; i <= entries; ++i)
            if (lines[i] == 0 || columns[i] == 0 ||
                (i != 0 && (lines[i] < lines[i - 1] || (lines[i] == lines[i - 1] && columns[i] <= columns[i - 1]))))
                Fail("place " + std::to_string(i) + " is out of order");
        std::string json;
        if (En_MsgJson_Decode(blob, o.bytes.size(), o.kind, o.msgType, Append, &json) != EN_MSGJSON_OK)
            Fail("the blob read does not decode");
        const Outcome again = Read(reader, h, json.data(), json.size(), EN_MSGJSON_PADDING);
        if (again.rc != EN_MSGJSON_OK || again.bytes != o.bytes) Fail("the decoded JSON reads as " + again.bytes);
    }
    En_Msg_Destroy(h);
    En_MsgJson_ReaderDestroy(reader);
    return 0;
}
