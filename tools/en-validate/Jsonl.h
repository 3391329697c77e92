// Jsonl.h - validating a stream of JSON Lines, one message object a line.
#ifndef EN_TOOLS_JSONL_H
#define EN_TOOLS_JSONL_H

#include <cstddef>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "MessageJson.h"

namespace tool {

struct JsonlCounts {
    size_t lines = 0;        // lines read, blank ones included
    size_t messages = 0;     // lines validated
    size_t failures = 0;     // of those, with a code other than 0
    size_t inputErrors = 0;  // lines that were not valid message objects
    std::map<int, size_t> codes;  // messages by result code
    // With JsonlOptions::tally: the codes of each kind and type ({0, T} a
    // log of type T, {1, 0} a registration message), and the messages that
    // do not conform by place (PlaceOf).
    std::map<std::pair<int, int32_t>, std::map<int, size_t>> types;
    std::map<std::string, size_t, std::less<>> places;
    std::string readError;   // why reading the input stopped early, or ""

    // 2 if any line was an input error or the input could not be read to
    // its end, else 1 if any message failed, else 0.
    int ExitStatus() const { return inputErrors || !readError.empty() ? 2 : failures ? 1 : 0; }
    // Adds the counts of a part of the lines, but lines and readError.
    void Add(const JsonlCounts& part);
    // Counts a message's verdict by kind, type and place (tally).
    void Tally(msgjson::Kind kind, int32_t msgType, int code, std::string_view place);
    // Counts one more failing place (of a further violation, --all).
    void CountPlace(std::string_view place);
};

struct JsonlOptions {
    msgjson::Overrides overrides;
    unsigned jobs = 1;   // threads that validate the chunks of lines
    bool quiet = false;  // no output line for a message that conforms
    size_t firstLine = 1;  // number of the input's first line
    size_t maxLine = size_t(256) << 20;  // longer lines are input errors, their bytes dropped as they come
    std::string file;    // keys put before "line" in each output line: "" or "\"file\": NAME, "
    bool tally = false;  // count by type and place too (JsonlCounts)
    size_t maxViolations = 0;  // --all: "violations" lists at most this many, each place counted
    std::function<void(const JsonlCounts&)> progress;  // called after every chunk written, when given
};

// A worker thread could not be started.
class ThreadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads lines from the file descriptor in and writes, for every line that
// is not blank, one line through out, in input order: {"line": L, then
// the kind's keys and the verdict's, and "warning" when "msgtype" and the
// MsgType entry disagree} or {"line": L, "error": "line L...: why"} (also
// for a line longer than maxLine, which is never held whole).  Lines are
// read in chunks of at most a few hundred lines and 512 KiB, which jobs
// threads, started once, take one at a time while the next ones are read:
// at most four chunks for each thread and a few MiB of lines are read
// ahead, so that memory stays bounded whatever the input's size.  A chunk
// is also closed when no further line is at hand while a thread waits for
// work, so that a slow producer sees every verdict soon after its line.
// out gets the output lines of each chunk in order, as soon as the chunk
// and those before it are validated.  Throws ThreadError when a thread
// cannot be started; an exception of a thread is rethrown once the outputs
// of the chunks before its chunk are out.
JsonlCounts RunJsonl(int in, const std::function<void(std::string_view)>& out, const JsonlOptions& options);

}  // namespace tool

#endif  // EN_TOOLS_JSONL_H
