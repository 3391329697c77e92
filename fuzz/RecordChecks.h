// RecordChecks.h - the checks that every result record must pass whatever
// the input, for the fuzz targets, their replay driver and the hardening
// tests.
#ifndef EN_FUZZ_RECORDCHECKS_H
#define EN_FUZZ_RECORDCHECKS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "En_Validation.h"
#include "MessageKindList.h"

namespace enfuzz {

// Validates h into r as a log of the type (bLog) or a registration message;
// or as the given kind (src/MessageKindList.h).
void Validate(bool bLog, x_int32 nMsgType, void* h, EN_VALIDATE_RESULT& r);
void Validate(const grammar::MessageKind& kind, void* h, EN_VALIDATE_RESULT& r);

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

// The full list of the kind for h (the _All entry points, at most nMax
// records, nMax >= 1) against the located single verdict: the same record;
// the first record that is not a note is that record and location, byte
// for byte, and there is one exactly when the message fails; notes (code 0)
// follow every violation; texts and paths are terminated, places lie within
// the size bytes of the blob, and nothing is written past nMax records.
// Returns an empty string or a description of the violation.
std::string ListProblem(const grammar::MessageKind& kind, void* h, size_t size, x_uint32 nMax);

// VerdictProblem and ListProblem (at most nMax records) for h as every kind
// in turn, each record filled with 0xA5 first: an empty string, or the
// kind's class name and the first problem.
std::string EveryKindProblem(void* h, size_t size, int readerRc, x_uint32 nMax);

// Prints the message and aborts: a fuzzer records the input as a crash.
[[noreturn]] void Fail(const std::string& what);

}  // namespace enfuzz

#endif  // EN_FUZZ_RECORDCHECKS_H
