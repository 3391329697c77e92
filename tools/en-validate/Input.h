// Input.h - reading message files: JSON messages and blobs.
//
// A file holds a JSON message when it contains no NUL byte and its first
// byte that is not white space (after an optional UTF-8 byte order mark) is
// '{' or '['.  Anything else is a blob (docs/blob-format.md); an encoded
// message always contains NUL bytes, since every entry header holds a data
// type code below 2^24.  Empty files and UTF-16 text are neither.
#ifndef EN_TOOLS_INPUT_H
#define EN_TOOLS_INPUT_H

#include <string>
#include <string_view>

#include "MessageJson.h"

namespace tool {

using msgjson::InputError;

// The whole content of a file, or of standard input for "-"; throws
// InputError "is a directory", "cannot open: REASON" or "read error: REASON"
// when it cannot be read.
std::string ReadAll(const std::string& path);

bool IsJsonText(std::string_view bytes);

// Throws InputError when the bytes are neither a JSON message nor a blob:
// "empty file", "UTF-16 text: save it as UTF-8".
void CheckContent(std::string_view bytes);

// The message that a file's bytes hold, read with msgjson::ReadMessage (its
// entries to sink when one is given).  For a JSON message the overrides
// apply where given; a blob carries no kind or message type, so the
// overrides must give them, else InputError.
msgjson::Message LoadMessage(std::string bytes, const msgjson::Overrides& overrides);

}  // namespace tool

#endif  // EN_TOOLS_INPUT_H
