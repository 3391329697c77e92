// Fuzz target: any bytes as a blob.  The reader walks them in place and at
// an odd address (where it works on its own copy) with the same outcome,
// never touching a byte outside them; then the blob is validated against
// every grammar and one type without grammar, and every record must be
// consistent with what the reader found; the full list of every grammar
// begins with the single verdict, within a cap taken from the input.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "En_Msg.h"
#include "En_ValidationPrivate.h"
#include "RecordChecks.h"

namespace {
constexpr size_t kMaxInput = 1 << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace enfuzz;
    if (size > kMaxInput) return 0;

    size_t entries = 0, shiftedEntries = 0;
    const int readerRc = WalkWithReader(data, size, entries);
    std::unique_ptr<unsigned char[]> shifted(new unsigned char[size + 1]);
    if (size != 0) std::memcpy(shifted.get() + 1, data, size);
    const int shiftedRc = WalkWithReader(shifted.get() + 1, size, shiftedEntries);
    if (shiftedRc != readerRc || shiftedEntries != entries) Fail("the reader depends on the blob's alignment");
    shifted.reset();

    void* h = En_Msg_Create();
    if (h == nullptr || En_Msg_Load(h, data, size) != EN_MSG_OK) Fail("could not load the blob");
    const x_uint32 cap = size != 0 && data[0] < 8 ? 1 + data[0] : EN_VALIDATE_DEFAULT_MAX_VIOLATIONS;
    const std::string problem = EveryKindProblem(h, size, readerRc, cap);
    if (!problem.empty()) Fail(problem);
    EN_VALIDATE_RESULT r;
    En_Validate_Log(h, 1502, &r);
    if (r.nCode != EN_VALIDATE_UNKNOWN_MSGTYPE || std::strcmp(r.szMessage, "Unknown MsgType=1502.") != 0)
        Fail("type without grammar");
    if (En_Msg_BytesUsed(h) != size || (size != 0 && std::memcmp(En_Msg_GetBuffer(h), data, size) != 0))
        Fail("validation changed the message");
    En_Msg_Destroy(h);
    return 0;
}
