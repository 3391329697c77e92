// Samples.h - messages for the hardening tests: the reference cases with
// their expected records, and JSON message files.
#ifndef EN_HARDENING_SAMPLES_H
#define EN_HARDENING_SAMPLES_H

#include <string>
#include <vector>

#include "En_Validation.h"

namespace hardening {

struct Sample {
    bool bLog = true;
    x_int32 nMsgType = 0;
    std::vector<unsigned char> blob;
    int nCode = -1;    // expected code; -1 when unknown
    std::string text;  // expected text
};

// The reference messages of tests/conformance with their expected records.
std::vector<Sample> ConformanceCases();

// Messages in the JSON message form from a file (.json: one object or an
// array of them; .jsonl: one object a line) or from every such file under a
// folder, in path order.  Objects that are no valid message in that form
// are skipped and counted in *pSkipped.  Expected records are unknown.
std::vector<Sample> JsonMessages(const std::string& path, size_t* pSkipped = nullptr);

// For each grammar (src/MessageKindList.h order), the first sample of that kind
// with the given expected code, or null.
std::vector<const Sample*> FirstOfEachKind(const std::vector<Sample>& samples, int nCode);

// Validates the sample and compares with its expected record.  Empty when
// they agree, else a description.
std::string Mismatch(const Sample& s, const EN_VALIDATE_RESULT& r);

// Reads a file whole; throws std::runtime_error.
std::string ReadFile(const std::string& path);

}  // namespace hardening

#endif  // EN_HARDENING_SAMPLES_H
