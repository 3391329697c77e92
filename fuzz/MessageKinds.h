// MessageKinds.h - the fourteen grammars a message can be validated against,
// and the checks that every result record must pass whatever the input.
//
// Shared by the fuzz targets, their replay driver, the corpus tools and the
// hardening tests.
#ifndef EN_FUZZ_MESSAGEKINDS_H
#define EN_FUZZ_MESSAGEKINDS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "En_Validation.h"
#include "GrammarTable.h"

namespace enfuzz {

// One grammar: a log type, or the registration message (nMsgType 0).
struct MessageKind {
    bool bLog;
    x_int32 nMsgType;
    const grammar::GrammarTable* pTable;
};

// 0..12: the log types in ascending order; 13: the registration message.
constexpr size_t kKindCount = 14;
const MessageKind& KindAt(size_t index);
// The index of a log type, kKindCount - 1 for the registration message
// (bLog false), or kKindCount for a log type without grammar.
size_t KindIndex(bool bLog, x_int32 nMsgType);

// Validates h as the given kind into r.
void Validate(const MessageKind& kind, void* h, EN_VALIDATE_RESULT& r);
void Validate(bool bLog, x_int32 nMsgType, void* h, EN_VALIDATE_RESULT& r);

// What every record must satisfy after a call with a non-null handle and a
// known kind: a code of 0, 101, 102 or 300 (100 too if bAllowUnknown), a
// text terminated within 254 characters, empty exactly for code 0.  Returns
// an empty string or a description of the violation.
std::string RecordProblem(const EN_VALIDATE_RESULT& r, bool bAllowUnknown = false);

// The first failure code the blob reader reports for the bytes (0 when it
// walks them all).  Attaches a fresh reader to exactly these bytes and
// checks that every delivered value lies inside them; nEntries receives the
// number of entries delivered.  Aborts when a value is out of bounds.
int WalkWithReader(const unsigned char* data, size_t size, size_t& nEntries);

// RecordProblem, plus agreement with the reader's walk of the same bytes
// (readerRc from WalkWithReader): a blob the reader rejects is never
// accepted, and 300 is given exactly when the reader's failure is reached.
std::string VerdictProblem(const EN_VALIDATE_RESULT& r, int readerRc);

// Prints the message and aborts: a fuzzer records the input as a crash.
[[noreturn]] void Fail(const std::string& what);

}  // namespace enfuzz

#endif  // EN_FUZZ_MESSAGEKINDS_H
