// Input.h - reading message files: JSON messages and blobs.
//
// A file holds a JSON message when it contains no NUL byte and its first
// byte that is not white space (after an optional UTF-8 byte order mark) is
// '{'.  Anything else is a blob (docs/blob-format.md); an encoded message
// always contains NUL bytes, since every entry header holds a data type
// code below 2^24.
#ifndef EN_TOOLS_INPUT_H
#define EN_TOOLS_INPUT_H

#include <string>
#include <string_view>

#include "MessageJson.h"

namespace tool {

using msgjson::InputError;

// The whole content of a file, or of standard input for "-"; throws
// InputError when it cannot be read.
std::string ReadAll(const std::string& path);

bool IsJsonText(std::string_view bytes);

// Parses JSON text whose first line is line firstLine of its file; a
// syntax error throws InputError "line L, column C: why".
nlohmann::json ParseJson(std::string_view text, size_t firstLine = 1);

// The message that a file's bytes hold.  For a JSON message the overrides
// apply where given; a blob carries no kind or message type, so the
// overrides must give them, else InputError.
msgjson::Message LoadMessage(const std::string& bytes, const msgjson::Overrides& overrides);

}  // namespace tool

#endif  // EN_TOOLS_INPUT_H
