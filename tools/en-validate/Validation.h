// Validation.h - validating messages through the library's C interface and
// writing verdicts.
#ifndef EN_TOOLS_VALIDATION_H
#define EN_TOOLS_VALIDATION_H

#include <string>
#include <string_view>

#include "MessageJson.h"

namespace tool {

// What the result record held after a validation.
struct Verdict {
    int code = 0;
    std::string text;  // exactly szMessage; may hold bytes that are not UTF-8
    std::string blobFault;  // for code 300: which entry the blob reader cannot read, and why
};

// Validates one message with En_Validate_Log or En_Validate_RegisterData.
// When the library says 300 and the blob's structure or one of its values
// is broken, blobFault says where (msgjson::BlobFault).
Verdict Validate(const msgjson::Message& message);

// "log 1501" or "register".
std::string DescribeKind(const msgjson::Message& message);

// A short word for a result code: "conforms", "syntax error", ...
const char* CodeName(int code);

// A JSON string literal for any bytes.  Bytes that are not valid UTF-8 are
// each written as U+FFFD, so writing never fails.
std::string JsonString(std::string_view text);

// {"code": N, "message": "TEXT"}: the result record alone, as --jsonl writes it
std::string VerdictJson(const Verdict& verdict);

// {"error": "TEXT"}
std::string ErrorJson(std::string_view text);

}  // namespace tool

#endif  // EN_TOOLS_VALIDATION_H
