#include "Input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace tool {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// "syntax error while parsing ..." out of nlohmann's text, without its
// prefix and position (which ParseJson states in the file's terms).
std::string Reason(const nlohmann::json::parse_error& e) {
    std::string what = e.what();
    size_t column = what.find(", column ");
    size_t colon = column == std::string::npos ? std::string::npos : what.find(": ", column);
    return colon == std::string::npos ? what : what.substr(colon + 2);
}

}  // namespace

std::string ReadAll(const std::string& path) {
    if (path == "-") {
        std::ostringstream all;
        all << std::cin.rdbuf();
        if (std::cin.bad()) throw InputError("standard input: read error");
        return all.str();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError(path + ": cannot open: " + std::strerror(errno));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw InputError(path + ": read error");
    return bytes;
}

bool IsJsonText(std::string_view bytes) {
    if (bytes.find('\0') != std::string_view::npos) return false;
    if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) bytes.remove_prefix(kByteOrderMark.size());
    auto first = std::find_if_not(bytes.begin(), bytes.end(), IsBlank);
    return first != bytes.end() && *first == '{';
}

nlohmann::json ParseJson(std::string_view text, size_t firstLine) {
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
    try {
        return nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::parse_error& e) {
        // e.byte counts from 1 and names the character where reading stopped.
        const size_t at = std::min(e.byte == 0 ? 0 : e.byte - 1, text.size());
        const size_t line = firstLine + static_cast<size_t>(std::count(text.begin(), text.begin() + at, '\n'));
        const size_t lineStart = text.rfind('\n', at == 0 ? 0 : at - 1);
        const size_t column = lineStart == std::string_view::npos || lineStart >= at ? at + 1 : at - lineStart;
        throw InputError("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + Reason(e));
    }
}

msgjson::Message LoadMessage(const std::string& bytes, const msgjson::Overrides& overrides) {
    if (IsJsonText(bytes)) return msgjson::FromJson(ParseJson(bytes), overrides);
    if (!overrides.kind) throw InputError("a blob names no message kind: give --log TYPE or --register");
    msgjson::Message message;
    message.kind = *overrides.kind;
    message.msgType = overrides.msgType.value_or(0);
    message.blob.assign(bytes.begin(), bytes.end());
    return message;
}

}  // namespace tool
