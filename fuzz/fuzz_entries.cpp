// Fuzz target: the input is an entry stream (EntryStream.h) that decodes
// into a message of mostly the grammar's own nodes, validated against the
// grammar the stream selects.  The verdict must be consistent with the
// reader's walk of the encoded message and the same when validated again.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "En_Msg.h"
#include "EntryStream.h"
#include "RecordChecks.h"

namespace {
constexpr size_t kMaxInput = 1 << 16;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace enfuzz;
    if (size > kMaxInput) return 0;
    void* h = En_Msg_Create();
    if (h == nullptr) Fail("no handle");
    const grammar::MessageKind& kind = grammar::kMessageKinds[DecodeStream(data, size, h)];

    // The reader walks an exact-size copy, so that a read past the end is
    // seen by the address sanitizer.
    const unsigned char* p = static_cast<const unsigned char*>(En_Msg_GetBuffer(h));
    const std::vector<unsigned char> blob(p, p + En_Msg_BytesUsed(h));
    size_t entries = 0;
    const int readerRc = WalkWithReader(blob.data(), blob.size(), entries);

    EN_VALIDATE_RESULT first, again;
    std::memset(&first, 0xA5, sizeof first);
    Validate(kind, h, first);
    const std::string problem = VerdictProblem(first, readerRc);
    if (!problem.empty()) Fail(std::string(kind.ClassName()) + ": " + problem);
    Validate(kind, h, again);
    if (again.nCode != first.nCode || std::strcmp(again.szMessage, first.szMessage) != 0)
        Fail("a second validation of the same message differs");
    En_Msg_Destroy(h);
    return 0;
}
