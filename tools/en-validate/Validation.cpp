#include "Validation.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "En_ValidationPrivate.h"

namespace tool {

Verdict Validate(const msgjson::Message& message) {
    std::optional<msgjson::Handle> loaded;  // for a message that has no handle yet
    void* const handle = message.handle ? message.handle->get() : loaded.emplace(message.blob).get();
    EN_VALIDATE_RESULT record;
    EN_VALIDATE_LOCATION location;
    if (message.kind == msgjson::Kind::Log)
        En_Validate_Log_Located(handle, message.msgType, &record, &location);
    else
        En_Validate_RegisterData_Located(handle, &record, &location);
    Verdict verdict{record.nCode, std::string(record.szMessage, strnlen(record.szMessage, sizeof record.szMessage)), {}, {}};
    if (location.bLocated)
        verdict.location = Location{location.nEntry, location.nOffset,
                                    std::string(location.szPath, strnlen(location.szPath, sizeof location.szPath))};
    if (verdict.code == EN_VALIDATE_INTERNAL_ERROR)
        verdict.blobFault = msgjson::BlobFault(message.Data(), message.Size(), true);
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

std::string JsonString(std::string_view text) {
    // Most texts need no escape: printable ASCII without quote or backslash.
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; }))
        return '"' + std::string(text) + '"';
    return nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string VerdictJsonKeys(const Verdict& verdict) {
    std::string keys = "\"code\": " + std::to_string(verdict.code) + ", \"message\": " + JsonString(verdict.text);
    if (const std::optional<Location>& l = verdict.location)
        keys += ", \"entry\": " + std::to_string(l->entry) + ", \"offset\": " + std::to_string(l->offset) +
                ", \"path\": " + JsonString(l->path);
    return keys;
}

std::string ErrorJsonKey(std::string_view text) { return "\"error\": " + JsonString(text); }

}  // namespace tool
