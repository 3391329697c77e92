// Validation.h - validating messages through the library's C interface and
// writing verdicts.
#ifndef EN_TOOLS_VALIDATION_H
#define EN_TOOLS_VALIDATION_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <vector>

#include "En_ValidationPrivate.h"
#include "MessageJson.h"

namespace tool {

// Where the library's walk decided a verdict (En_ValidationPrivate.h).
struct Location {
    uint32_t entry = 0;   // 0-based; at the end of the data, the number of entries
    uint32_t offset = 0;  // of the entry's header; at the end of the data, the blob's length
    std::string path;     // "Root/PatternInfo[1]/Info[2]/LastUpdateTime"
    bool end = false;     // at the end of the data
    // For a message read from JSON text: the line and column (1-based,
    // bytes) where the entry begins there (at the end, the closing bracket
    // of "entries"), and "FILE:LINE:COLUMN"; else 0 and "".
    size_t line = 0, column = 0;
    std::string source;
};

// The JSON text a message was read from, for the line and column of its
// places: the reader that read it last (msgjson::Reader::EntryPlaces) and
// the number of its first line.
struct JsonSource {
    const msgjson::Reader* reader = nullptr;
    std::string_view text;
    size_t firstLine = 1;
};

// One violation of the full list (--all), or a note (code 0).
struct Violation {
    int code = 0;
    std::string text;
    std::optional<Location> location;
    bool note = false;
};

// What the result record held after a validation, and where.
struct Verdict {
    int code = 0;
    std::string text;  // exactly szMessage; may hold bytes that are not UTF-8
    std::string blobFault;  // for code 300: which entry the blob reader cannot read, and why
    std::optional<Location> location;  // for a verdict decided at an entry or at the end of the data
    bool all = false;  // validated with --all: violations holds every one, the first the verdict's own
    std::vector<Violation> violations;
    bool cut = false;  // the list holds as many as --max-violations allows, and may have been cut
};

// The array the library fills with every violation of a message (--all):
// records.size() is the cap; kept by a thread from message to message.
struct ViolationList {
    std::vector<EN_VALIDATE_VIOLATION> records;
    size_t count = 0;  // delivered for the last message
};

// Validates the message whose entries are in handle as En_Validate_Log or
// En_Validate_RegisterData does, through the library's located
// counterparts, which give the same code and text and say where.  When the
// library says 300 and the blob's structure or one of its values is
// broken, blobFault says why (msgjson::BlobFault).  With maxViolations,
// also every violation (--all).  source, when given, is the JSON text the
// message was read from, named name: each place then names its line and
// column there too.
Verdict Validate(const msgjson::Handle& handle, const msgjson::Message& message, size_t maxViolations = 0,
                 const JsonSource* source = nullptr, const std::string& name = {});

// Validates the message whose entries are in handle and appends the keys
// of its verdict (VerdictJsonKeys) to out, with no allocation once out and
// place have room; returns the code.  place, when given, gets the place of
// the verdict (PlaceOf).  With all, the violations are delivered into
// all's records and the key "violations" lists them.  With source, each
// place also gets "json_line" and "json_column" of its entry in the
// message's JSON text.
int ValidateJson(const msgjson::Handle& handle, const msgjson::Message& message, std::string& out,
                 std::string* place = nullptr, ViolationList* all = nullptr, const JsonSource* source = nullptr);

// Where a verdict was decided, without instance numbers, for counting:
// "Root/PatternInfo/Info/LastUpdateTime"; "(no location)" without one.
void PlaceOf(std::string& place, const Location* location);
void PlaceOf(std::string& place, const EN_VALIDATE_VIOLATION& violation);

// What to say when a log message's "msgtype" is not the value of its own
// MsgType entry (msgjson::MsgTypeEntry), else "".
std::string MsgTypeWarning(const msgjson::Message& message, const unsigned char* blob, size_t size);

// What to say of a blob taken for a registration message because it has
// no MsgType entry, done with it ("validated", "decoded").
std::string GuessedKindNote(const char* done);

// Appends the decimal digits of n.
void AppendNumber(std::string& out, long long n);

// "entry 23 (byte 816): Root/PatternInfo[1]/Info[2]/LastUpdateTime";
// "the end of the message (entry 21, byte 760): Root" at the end of the
// data; both after "status.json:31:5, " for a message read from JSON text,
// or after "31:5, " without named (--table, whose row names the file).
std::string LocationText(const Location& location, bool named = true);

// "log 1501" or "register".
std::string DescribeKind(const msgjson::Message& message);

// A short word for a result code: "conforms", "syntax error", ...
const char* CodeName(int code);

// A JSON string literal for any bytes.  Bytes that are not valid UTF-8 are
// each written as U+FFFD, so writing never fails.
std::string JsonString(std::string_view text);

// "code": N, "message": "TEXT", then "entry": E, "offset": O, "path": "P"
// when there is a location, and "json_line": L, "json_column": C for a
// message read from JSON text: the keys of a verdict in JSON output, without
// braces.
// With --all, then "violations": [{...}, ...], each with the same keys and
// "note": true for a note, and "violations_cut": true when the list holds
// as many as --max-violations allows.
std::string VerdictJsonKeys(const Verdict& verdict);

// "kind": "log", "msgtype": T or "kind": "register": the kind a message was
// validated as, without braces.
void AppendKindJsonKeys(std::string& out, const msgjson::Message& message);

// "error": "TEXT", without braces.
std::string ErrorJsonKey(std::string_view text);

}  // namespace tool

#endif  // EN_TOOLS_VALIDATION_H
