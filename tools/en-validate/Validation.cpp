#include "Validation.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>

#include "En_ValidationPrivate.h"

namespace tool {

namespace {

void Run(const msgjson::Handle& handle, const msgjson::Message& message, EN_VALIDATE_RESULT& record,
         EN_VALIDATE_LOCATION& location) {
    if (message.kind == msgjson::Kind::Log)
        En_Validate_Log_Located(handle.get(), message.msgType, &record, &location);
    else
        En_Validate_RegisterData_Located(handle.get(), &record, &location);
}

std::string_view Text(const char* text, size_t size) { return std::string_view(text, strnlen(text, size)); }

// The keys of a verdict (VerdictJsonKeys).
void AppendKeys(std::string& out, int code, std::string_view text, const EN_VALIDATE_LOCATION* location,
                std::string_view path) {
    out += "\"code\": ";
    AppendNumber(out, code);
    out += ", \"message\": ";
    AppendJsonString(out, text);
    if (location == nullptr) return;
    out += ", \"entry\": ";
    AppendNumber(out, location->nEntry);
    out += ", \"offset\": ";
    AppendNumber(out, location->nOffset);
    out += ", \"path\": ";
    AppendJsonString(out, path);
}

}  // namespace

namespace {

void AppendPlace(std::string& place, std::string_view path) {
    place.clear();
    if (path.data() == nullptr) {
        place += "(no location)";
        return;
    }
    for (size_t i = 0; i < path.size();) {
        const size_t open = path.find('[', i);
        place.append(path.substr(i, open == std::string_view::npos ? std::string_view::npos : open - i));
        if (open == std::string_view::npos) break;
        const size_t close = path.find(']', open);
        i = close == std::string_view::npos ? path.size() : close + 1;
    }
}

}  // namespace

int ValidateJson(const msgjson::Handle& handle, const msgjson::Message& message, std::string& out,
                 std::string* place) {
    EN_VALIDATE_RESULT record;
    EN_VALIDATE_LOCATION location;
    Run(handle, message, record, location);
    const std::string_view path = Text(location.szPath, sizeof location.szPath);
    AppendKeys(out, record.nCode, Text(record.szMessage, sizeof record.szMessage), location.bLocated ? &location : nullptr,
               path);
    if (place != nullptr) AppendPlace(*place, location.bLocated ? path : std::string_view());
    return record.nCode;
}

void PlaceOf(std::string& place, const Location* location) {
    AppendPlace(place, location != nullptr ? std::string_view(location->path) : std::string_view());
}

std::string MsgTypeWarning(const msgjson::Message& message, const unsigned char* blob, size_t size) {
    if (message.kind != msgjson::Kind::Log) return {};
    const std::optional<int32_t> entry = msgjson::MsgTypeEntry(blob, size);
    if (!entry || *entry == message.msgType) return {};
    return "\"msgtype\" is " + std::to_string(message.msgType) + " but the MsgType entry is " +
           std::to_string(*entry) + ": validated as " + std::to_string(message.msgType);
}

const char* const kGuessedKindNote = "no MsgType entry: validated as a registration message (--log TYPE says otherwise)";

void AppendNumber(std::string& out, long long n) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end);
}

Verdict Validate(const msgjson::Message& message) {
    std::optional<msgjson::Handle> loaded;
    if (!message.handle) loaded.emplace(message.blob);
    const msgjson::Handle& handle = message.handle ? *message.handle : *loaded;
    EN_VALIDATE_RESULT record;
    EN_VALIDATE_LOCATION location;
    Run(handle, message, record, location);
    Verdict verdict{record.nCode, std::string(record.szMessage, strnlen(record.szMessage, sizeof record.szMessage)), {}, {}};
    if (location.bLocated)
        verdict.location = Location{location.nEntry, location.nOffset,
                                    std::string(location.szPath, strnlen(location.szPath, sizeof location.szPath))};
    if (verdict.code == EN_VALIDATE_INTERNAL_ERROR)
        verdict.blobFault = msgjson::BlobFault(handle.data(), handle.size(), true);
    return verdict;
}

std::string LocationText(const Location& location) {
    return "entry " + std::to_string(location.entry) + " (byte " + std::to_string(location.offset) + "): " + location.path;
}

std::string DescribeKind(const msgjson::Message& message) {
    return message.kind == msgjson::Kind::Log ? "log " + std::to_string(message.msgType) : "register";
}

const char* CodeName(int code) {
    switch (code) {
        case EN_VALIDATE_SUCCESS: return "conforms";
        case EN_VALIDATE_UNKNOWN_ERROR: return "unknown error";
        case EN_VALIDATE_SYNTAX_ERROR: return "syntax error";
        case EN_VALIDATE_CONSTRAINT_VIOLATION: return "constraint violation";
        case EN_VALIDATE_NULL_HANDLE: return "null handle";
        case EN_VALIDATE_UNKNOWN_MSGTYPE: return "unknown message type";
        case EN_VALIDATE_INTERNAL_ERROR: return "internal error";
        default: return "unknown code";
    }
}

void AppendJsonString(std::string& out, std::string_view text) {
    // Most texts need no escape: printable ASCII without quote or backslash.
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; })) {
        out += '"';
        out += text;
        out += '"';
        return;
    }
    out += nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string JsonString(std::string_view text) {
    std::string out;
    AppendJsonString(out, text);
    return out;
}

std::string VerdictJsonKeys(const Verdict& verdict) {
    std::string keys;
    EN_VALIDATE_LOCATION location{};
    if (verdict.location) {
        location.nEntry = verdict.location->entry;
        location.nOffset = verdict.location->offset;
    }
    AppendKeys(keys, verdict.code, verdict.text, verdict.location ? &location : nullptr,
               verdict.location ? std::string_view(verdict.location->path) : std::string_view());
    return keys;
}

void AppendKindJsonKeys(std::string& out, const msgjson::Message& message) {
    if (message.kind != msgjson::Kind::Log) {
        out += "\"kind\": \"register\"";
        return;
    }
    out += "\"kind\": \"log\", \"msgtype\": ";
    AppendNumber(out, message.msgType);
}

std::string ErrorJsonKey(std::string_view text) { return "\"error\": " + JsonString(text); }

}  // namespace tool
