#include "Validation.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <tuple>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Validates with every violation delivered into all (--all); the record
// as Run's.
void RunAll(const msgjson::Handle& handle, const msgjson::Message& message, EN_VALIDATE_RESULT& record,
            ViolationList& all) {
    const auto cap = static_cast<x_uint32>(all.records.size());
    all.count = message.kind == msgjson::Kind::Log
                    ? En_Validate_Log_All(handle.get(), message.msgType, &record, cap, nullptr, all.records.data())
                    : En_Validate_RegisterData_All(handle.get(), &record, cap, nullptr, all.records.data());
}

// The location of the verdict after RunAll: that of the first violation,
// which is the verdict's own (notes come only after a conforming verdict).
EN_VALIDATE_LOCATION FirstLocation(const EN_VALIDATE_RESULT& record, const ViolationList& all) {
    if (record.nCode == EN_VALIDATE_SUCCESS || all.count == 0 || all.records[0].bNote) return EN_VALIDATE_LOCATION{};
    return all.records[0].location;
}

std::string_view Text(const char* text, size_t size) { return std::string_view(text, strnlen(text, size)); }

// The line and column (1-based, bytes) in the source of entry number entry;
// (0, 0) without a source or such an entry.
std::pair<size_t, size_t> SourcePlace(const JsonSource* source, size_t entry) {
    size_t line = 0, column = 0;
    if (source != nullptr) source->reader->EntryPlaces(source->text, source->firstLine, entry, 1, &line, &column);
    return {line, column};
}

bool IsPlainJsonText(std::string_view text);
std::string EscapedJsonString(std::string_view text);

// Writes a verdict's keys into a buffer of the thread, made large enough
// for the most they can take before the first piece, and appends them to
// the output in one piece when done: each piece in between is a plain copy.
class KeyWriter {
public:
    // The most that Number and String write.
    static constexpr size_t kNumber = 20;
    static size_t Most(std::string_view text, bool plain) { return plain ? text.size() + 2 : 6 * text.size() + 2; }

    explicit KeyWriter(size_t most) {
        thread_local std::string buffer;
        if (buffer.size() < most) buffer.resize(most);
        m_start = m_p = buffer.data();
    }
    KeyWriter(const KeyWriter&) = delete;
    KeyWriter& operator=(const KeyWriter&) = delete;
    void AppendTo(std::string& out) const { out.append(m_start, static_cast<size_t>(m_p - m_start)); }

    template <size_t N>
    void Literal(const char (&s)[N]) {
        std::memcpy(m_p, s, N - 1);
        m_p += N - 1;
    }
    void Number(long long n) { m_p = std::to_chars(m_p, m_p + kNumber, n).ptr; }
    // A JSON string literal of text (JsonString), in at most
    // Most(text, plain); plain is IsPlainJsonText(text).
    void String(std::string_view text, bool plain) {
        if (!plain) {
            const std::string literal = EscapedJsonString(text);
            std::memcpy(m_p, literal.data(), literal.size());
            m_p += literal.size();
            return;
        }
        *m_p++ = '"';
        std::memcpy(m_p, text.data(), text.size());
        m_p += text.size();
        *m_p++ = '"';
    }

private:
    char* m_start;
    char* m_p;
};

// The keys of a verdict (VerdictJsonKeys), after what before holds, and
// followed by what after holds.
template <size_t B, size_t A>
void AppendKeys(std::string& out, const char (&before)[B], int code, std::string_view text,
                const EN_VALIDATE_LOCATION* location, std::string_view path, std::pair<size_t, size_t> source,
                const char (&after)[A]) {
    const bool plainText = IsPlainJsonText(text), plainPath = location == nullptr || IsPlainJsonText(path);
    KeyWriter w(B + A + 6 * KeyWriter::kNumber + 120 + KeyWriter::Most(text, plainText) +
                (location != nullptr ? KeyWriter::Most(path, plainPath) : 0));
    w.Literal(before);
    w.Literal("\"code\": ");
    w.Number(code);
    w.Literal(", \"message\": ");
    w.String(text, plainText);
    if (location != nullptr) {
        w.Literal(", \"entry\": ");
        w.Number(location->nEntry);
        w.Literal(", \"offset\": ");
        w.Number(location->nOffset);
        w.Literal(", \"path\": ");
        w.String(path, plainPath);
        if (source.first != 0) {
            w.Literal(", \"json_line\": ");
            w.Number(static_cast<long long>(source.first));
            w.Literal(", \"json_column\": ");
            w.Number(static_cast<long long>(source.second));
        }
    }
    w.Literal(after);
    w.AppendTo(out);
}

// One violation of "violations": {keys, "note": true}.
void AppendViolation(std::string& out, int code, std::string_view text, const EN_VALIDATE_LOCATION* location,
                     std::string_view path, bool note, std::pair<size_t, size_t> source) {
    if (note)
        AppendKeys(out, "{", code, text, location, path, source, ", \"note\": true}");
    else
        AppendKeys(out, "{", code, text, location, path, source, "}");
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
                 std::string* place, ViolationList* all, const JsonSource* source) {
    EN_VALIDATE_RESULT record;
    EN_VALIDATE_LOCATION location;
    if (all != nullptr) {
        RunAll(handle, message, record, *all);
        location = FirstLocation(record, *all);
    } else {
        Run(handle, message, record, location);
    }
    const std::string_view path = Text(location.szPath, sizeof location.szPath);
    AppendKeys(out, "", record.nCode, Text(record.szMessage, sizeof record.szMessage),
               location.bLocated ? &location : nullptr, path,
               location.bLocated ? SourcePlace(source, location.nEntry) : std::pair<size_t, size_t>{}, "");
    if (place != nullptr) AppendPlace(*place, location.bLocated ? path : std::string_view());
    if (all == nullptr) return record.nCode;
    out += ", \"violations\": [";
    for (size_t i = 0; i < all->count; ++i) {
        const EN_VALIDATE_VIOLATION& v = all->records[i];
        if (i != 0) out += ", ";
        AppendViolation(out, v.result.nCode, Text(v.result.szMessage, sizeof v.result.szMessage),
                        v.location.bLocated ? &v.location : nullptr,
                        Text(v.location.szPath, sizeof v.location.szPath), v.bNote != 0,
                        v.location.bLocated ? SourcePlace(source, v.location.nEntry) : std::pair<size_t, size_t>{});
    }
    out += ']';
    if (all->count == all->records.size()) out += ", \"violations_cut\": true";
    return record.nCode;
}

void PlaceOf(std::string& place, const Location* location) {
    AppendPlace(place, location != nullptr ? std::string_view(location->path) : std::string_view());
}

void PlaceOf(std::string& place, const EN_VALIDATE_VIOLATION& violation) {
    AppendPlace(place, violation.location.bLocated ? Text(violation.location.szPath, sizeof violation.location.szPath)
                                                   : std::string_view());
}

std::string MsgTypeWarning(const msgjson::Message& message, const unsigned char* blob, size_t size) {
    if (message.kind != msgjson::Kind::Log) return {};
    const std::optional<int32_t> entry = msgjson::MsgTypeEntry(blob, size);
    if (!entry || *entry == message.msgType) return {};
    return "\"msgtype\" is " + std::to_string(message.msgType) + " but the MsgType entry is " +
           std::to_string(*entry) + ": validated as " + std::to_string(message.msgType);
}

std::string GuessedKindNote(const char* done) {
    return std::string("no MsgType entry: ") + done + " as a registration message (--log TYPE says otherwise)";
}

void AppendNumber(std::string& out, long long n) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, static_cast<size_t>(end - digits));  // not the iterator pair, which replaces
}

namespace {

// The place of a record in a message of size bytes read from source (or
// not, without one), named name.
std::optional<Location> LocationOf(const EN_VALIDATE_LOCATION& location, size_t size, const JsonSource* source,
                                   const std::string& name) {
    if (!location.bLocated) return std::nullopt;
    Location l{location.nEntry, location.nOffset, std::string(Text(location.szPath, sizeof location.szPath)),
               location.nOffset == size, 0, 0, {}};
    std::tie(l.line, l.column) = SourcePlace(source, l.entry);
    if (l.line != 0) l.source = name + ":" + std::to_string(l.line) + ":" + std::to_string(l.column);
    return l;
}

}  // namespace

Verdict Validate(const msgjson::Handle& handle, const msgjson::Message& message, size_t maxViolations,
                 const JsonSource* source, const std::string& name) {
    EN_VALIDATE_RESULT record;
    EN_VALIDATE_LOCATION location;
    thread_local ViolationList all;  // kept by the thread that validates files
    if (maxViolations != 0) {
        all.records.resize(maxViolations);
        RunAll(handle, message, record, all);
        location = FirstLocation(record, all);
    } else {
        Run(handle, message, record, location);
    }
    Verdict verdict{record.nCode, std::string(Text(record.szMessage, sizeof record.szMessage)), {}, LocationOf(location, handle.size(), source, name), maxViolations != 0, {}, false};
    if (verdict.all) {
        for (size_t i = 0; i < all.count; ++i) {
            const EN_VALIDATE_VIOLATION& v = all.records[i];
            verdict.violations.push_back(Violation{v.result.nCode, std::string(Text(v.result.szMessage, sizeof v.result.szMessage)),
                                                   LocationOf(v.location, handle.size(), source, name), v.bNote != 0});
        }
        verdict.cut = all.count == maxViolations;
    }
    if (verdict.code == EN_VALIDATE_INTERNAL_ERROR)
        verdict.blobFault = msgjson::BlobFault(handle.data(), handle.size(), true);
    return verdict;
}

std::string LocationText(const Location& location, bool named) {
    const std::string entry = std::to_string(location.entry), byte = std::to_string(location.offset);
    const std::string source = named || location.line == 0
                                   ? location.source
                                   : std::to_string(location.line) + ":" + std::to_string(location.column);
    return (source.empty() ? std::string() : source + ", ") +
           (location.end ? "the end of the message (entry " + entry + ", byte " + byte + "): "
                         : "entry " + entry + " (byte " + byte + "): ") +
           location.path;
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

namespace {

// Printable ASCII without quote or backslash: what a JSON string holds as
// it stands.  Most texts are.
bool IsPlainJsonText(std::string_view text) {
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(0x20), del = _mm_set1_epi8(0x7F), quote = _mm_set1_epi8('"'),
                  backslash = _mm_set1_epi8('\\');
    auto plain = [&](const char* p) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // Signed: bytes above 0x7F are below the space too.
        const __m128i bad = _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(c, space), _mm_cmpeq_epi8(c, del)),
                                         _mm_or_si128(_mm_cmpeq_epi8(c, quote), _mm_cmpeq_epi8(c, backslash)));
        return _mm_movemask_epi8(bad) == 0;
    };
    if (text.size() < 16) {  // in sixteen bytes of a plain letter
        char block[16];
        std::memset(block, 'a', sizeof block);
        std::memcpy(block, text.data(), text.size());
        return plain(block);
    }
    for (size_t i = 0; i + 16 < text.size(); i += 16)
        if (!plain(text.data() + i)) return false;
    return plain(text.data() + text.size() - 16);  // the last sixteen, some again
#else
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; });
#endif
}

// The JSON string literal of a text that is not plain: escapes, and U+FFFD
// for each byte that is not UTF-8.
std::string EscapedJsonString(std::string_view text) {
    return nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string JsonString(std::string_view text) {
    return IsPlainJsonText(text) ? std::string(1, '"').append(text) += '"' : EscapedJsonString(text);
}

std::string VerdictJsonKeys(const Verdict& verdict) {
    std::string keys;
    EN_VALIDATE_LOCATION location{};
    if (verdict.location) {
        location.nEntry = verdict.location->entry;
        location.nOffset = verdict.location->offset;
    }
    AppendKeys(keys, "", verdict.code, verdict.text, verdict.location ? &location : nullptr,
               verdict.location ? std::string_view(verdict.location->path) : std::string_view(),
               verdict.location ? std::make_pair(verdict.location->line, verdict.location->column)
                                : std::pair<size_t, size_t>{},
               "");
    if (!verdict.all) return keys;
    keys += ", \"violations\": [";
    for (const Violation& v : verdict.violations) {
        if (&v != &verdict.violations.front()) keys += ", ";
        EN_VALIDATE_LOCATION at{};
        if (v.location) at.nEntry = v.location->entry, at.nOffset = v.location->offset;
        AppendViolation(keys, v.code, v.text, v.location ? &at : nullptr,
                        v.location ? std::string_view(v.location->path) : std::string_view(), v.note,
                        v.location ? std::make_pair(v.location->line, v.location->column) : std::pair<size_t, size_t>{});
    }
    keys += ']';
    if (verdict.cut) keys += ", \"violations_cut\": true";
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
