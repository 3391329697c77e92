// Validation.h - validating messages through the library's C interface and
// writing verdicts.
#ifndef EN_TOOLS_VALIDATION_H
#define EN_TOOLS_VALIDATION_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "MessageJson.h"

namespace tool {

// Where the library's walk decided a verdict (En_ValidationPrivate.h).
struct Location {
    uint32_t entry = 0;   // 0-based; at the end of the data, the number of entries
    uint32_t offset = 0;  // of the entry's header; at the end of the data, the blob's length
    std::string path;     // "Root/PatternInfo[1]/Info[2]/LastUpdateTime"
};

// What the result record held after a validation, and where.
struct Verdict {
    int code = 0;
    std::string text;  // exactly szMessage; may hold bytes that are not UTF-8
    std::string blobFault;  // for code 300: which entry the blob reader cannot read, and why
    std::optional<Location> location;  // for a verdict decided at an entry or at the end of the data
};

// Validates one message as En_Validate_Log or En_Validate_RegisterData
// does, through the library's located counterparts, which give the same
// code and text and say where.  When the library says 300 and the blob's
// structure or one of its values is broken, blobFault says why
// (msgjson::BlobFault).
Verdict Validate(const msgjson::Message& message);

// Validates the message whose entries are in handle (message.blob is not
// looked at) and appends the keys of its verdict (VerdictJsonKeys) to out,
// with no allocation once out and place have room; returns the code.  place,
// when given, gets the place of the verdict (PlaceOf).
int ValidateJson(const msgjson::Handle& handle, const msgjson::Message& message, std::string& out,
                 std::string* place = nullptr);

// Where a verdict was decided, without instance numbers, for counting:
// "Root/PatternInfo/Info/LastUpdateTime"; "(no location)" without one.
void PlaceOf(std::string& place, const Location* location);

// What to say when a log message's "msgtype" is not the value of its own
// MsgType entry (msgjson::MsgTypeEntry), else "".
std::string MsgTypeWarning(const msgjson::Message& message, const unsigned char* blob, size_t size);

// What to say of a blob taken for a registration message because it has
// no MsgType entry.
extern const char* const kGuessedKindNote;

// Appends the decimal digits of n.
void AppendNumber(std::string& out, long long n);

// "entry 23 (byte 816): Root/PatternInfo[1]/Info[2]/LastUpdateTime"
std::string LocationText(const Location& location);

// "log 1501" or "register".
std::string DescribeKind(const msgjson::Message& message);

// A short word for a result code: "conforms", "syntax error", ...
const char* CodeName(int code);

// A JSON string literal for any bytes.  Bytes that are not valid UTF-8 are
// each written as U+FFFD, so writing never fails.
std::string JsonString(std::string_view text);
void AppendJsonString(std::string& out, std::string_view text);

// "code": N, "message": "TEXT", then "entry": E, "offset": O, "path": "P"
// when there is a location: the keys of a verdict in JSON output, without
// braces.
std::string VerdictJsonKeys(const Verdict& verdict);

// "kind": "log", "msgtype": T or "kind": "register": the kind a message was
// validated as, without braces.
void AppendKindJsonKeys(std::string& out, const msgjson::Message& message);

// "error": "TEXT", without braces.
std::string ErrorJsonKey(std::string_view text);

}  // namespace tool

#endif  // EN_TOOLS_VALIDATION_H
