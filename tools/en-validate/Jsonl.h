// Jsonl.h - validating a stream of JSON Lines, one message object a line.
#ifndef EN_TOOLS_JSONL_H
#define EN_TOOLS_JSONL_H

#include <cstddef>
#include <functional>
#include <istream>
#include <string_view>

#include "MessageJson.h"

namespace tool {

struct BatchCounts {
    size_t lines = 0;        // lines read, blank ones included
    size_t messages = 0;     // lines validated
    size_t failures = 0;     // of those, with a code other than 0
    size_t inputErrors = 0;  // lines that were not valid message objects

    // 2 if any line was an input error, else 1 if any message failed, else 0.
    int ExitStatus() const { return inputErrors ? 2 : failures ? 1 : 0; }
};

// Reads lines from in and writes, for every line that is not blank, one
// line through out, in input order: VerdictJson or {"error": "line L...:
// why"}.  Lines are read in batches of at most a few thousand lines and a
// few MiB, so that memory stays bounded whatever the input's size; jobs
// threads validate the parts of a batch at once while the next batch is
// read.  Progress (when given) is
// called after every batch.
BatchCounts RunJsonl(std::istream& in, const std::function<void(std::string_view)>& out,
                     const msgjson::Overrides& overrides,
                     const std::function<void(const BatchCounts&)>& progress = {}, unsigned jobs = 1);

}  // namespace tool

#endif  // EN_TOOLS_JSONL_H
