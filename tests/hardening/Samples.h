// Samples.h - the reference messages with their expected records, for the
// hardening tests.
#ifndef EN_HARDENING_SAMPLES_H
#define EN_HARDENING_SAMPLES_H

#include <string>
#include <vector>

#include "En_Validation.h"

namespace hardening {

struct Sample {
    bool bLog;
    x_int32 nMsgType;
    std::vector<unsigned char> blob;
    int nCode;         // expected code
    std::string text;  // expected text
};

// The reference messages of tests/conformance with their expected records.
std::vector<Sample> ConformanceCases();

// For each kind (src/MessageKindList.h order), the first sample of that
// kind with the given expected code, or null.
std::vector<const Sample*> FirstOfEachKind(const std::vector<Sample>& samples, int nCode);

// Empty when the record is the sample's expected one, else a description.
std::string Mismatch(const Sample& s, const EN_VALIDATE_RESULT& r);

}  // namespace hardening

#endif  // EN_HARDENING_SAMPLES_H
