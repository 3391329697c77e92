// MessageForm.h - what the JSON message library (libEn_MessageJson.so.1)
// and its C++ wrapper (MessageJson.h) both name: the kinds of message, the
// overrides of a read and the padding after a text.
#ifndef EN_TOOLS_MSGJSON_MESSAGEFORM_H
#define EN_TOOLS_MSGJSON_MESSAGEFORM_H

#include <cstddef>
#include <cstdint>
#include <optional>

#include "En_MessageJson.h"

namespace msgjson {

enum class Kind { Log, Register };

// What the command line may supply or override.
struct Overrides {
    std::optional<Kind> kind;
    std::optional<int32_t> msgType;
};

// Bytes after the end of a text that the parser reads.
constexpr size_t kPadding = EN_MSGJSON_PADDING;

}  // namespace msgjson

#endif  // EN_TOOLS_MSGJSON_MESSAGEFORM_H
