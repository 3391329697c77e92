// The reader of the JSON message form: JSON text, parsed with simdjson
// On-Demand, into encoded entries.  The value walk itself is in
// ReaderWalk.cpp, compiled once for each kernel.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <simdjson.h>

#include "ReaderParts.h"

namespace msgjson {

namespace detail {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsBlank(std::string_view t) { return std::all_of(t.begin(), t.end(), [](char c) { return IsBlank(c); }); }

namespace {

size_t SkipBlank(std::string_view t, size_t i) {
    while (i < t.size() && IsBlank(t[i])) ++i;
    return i;
}

// The end of the string whose opening quote is at i, or npos.
size_t StringEnd(std::string_view t, size_t i) {
    // A plain loop: find_first_of looks each byte up in the set with memchr.
    for (++i; i < t.size(); ++i) {
        if (t[i] == '\\') ++i;
        else if (t[i] == '"') return i + 1;
    }
    return std::string_view::npos;
}

}  // namespace

size_t ValueEnd(std::string_view t, size_t i, size_t limit, bool atComma) {
    size_t depth = 0;
    while (i < limit) {
        const char c = t[i];
        if (c == '"') {
            i = std::min(StringEnd(t, i), limit);
            if (depth == 0 && !atComma) return i;
            continue;
        }
        if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (depth == 0) return i;
            if (--depth == 0 && !atComma) return i + 1;
        } else if (depth == 0 && (c == ',' || (!atComma && IsBlank(c)))) {
            return i;
        }
        ++i;
    }
    return limit;
}

namespace {

// The opening bracket of the "entries" array (EntriesArray), or npos.
size_t EntriesOpen(std::string_view t) {
    size_t i = SkipBlank(t, 0);
    if (i == t.size() || t[i] != '{') return std::string_view::npos;
    for (i = SkipBlank(t, i + 1); i < t.size() && t[i] == '"';) {
        const size_t keyEnd = StringEnd(t, i);
        if (keyEnd == std::string_view::npos) return std::string_view::npos;
        const bool entries = t.substr(i, keyEnd - i) == "\"entries\"";
        i = SkipBlank(t, keyEnd);
        if (i == t.size() || t[i] != ':') return std::string_view::npos;
        i = SkipBlank(t, i + 1);
        if (entries) return i < t.size() && t[i] == '[' ? i : std::string_view::npos;
        i = SkipBlank(t, ValueEnd(t, i, t.size(), false));
        if (i == t.size() || t[i] != ',') return std::string_view::npos;
        i = SkipBlank(t, i + 1);
    }
    return std::string_view::npos;
}

}  // namespace

std::optional<std::pair<size_t, size_t>> EntriesArray(std::string_view t) {
    const size_t open = EntriesOpen(t);
    if (open == std::string_view::npos) return std::nullopt;
    const size_t end = ValueEnd(t, open, t.size(), false);
    if (end == t.size()) return std::nullopt;
    return std::make_pair(open, end - 1);
}

void EntryStarts::Start(size_t shift, size_t size, bool keep) {
    m_starts.clear();
    m_shift = shift;
    m_keep = keep && (uint64_t{size} >> 32) == 0;
    m_read = false;
}

void EntryStarts::Add(size_t offset) {
    if (m_keep) m_starts.push_back(static_cast<uint32_t>(offset + m_shift));
}

void EntryStarts::Close(size_t offset) { m_close = offset + m_shift; }

std::optional<size_t> EntryStarts::At(size_t entry) const {
    if (!m_read || !m_keep || entry > m_starts.size()) return std::nullopt;
    return entry == m_starts.size() ? m_close : m_starts[entry];
}

std::string Position(std::string_view text, size_t at, size_t firstLine) {
    at = std::min(at, text.size());
    const size_t line = firstLine + static_cast<size_t>(std::count(text.begin(), text.begin() + at, '\n'));
    const size_t lineStart = at == 0 ? std::string_view::npos : text.rfind('\n', at - 1);
    return "line " + std::to_string(line) + ", column " +
           std::to_string(lineStart == std::string_view::npos ? at + 1 : at - lineStart);
}

std::string SyntaxText(int error) {
    switch (static_cast<simdjson::error_code>(error)) {
        case simdjson::UTF8_ERROR: return "text that is not valid UTF-8";
        case simdjson::UNCLOSED_STRING: return "syntax error: a string without its closing quote";
        case simdjson::STRING_ERROR: return "syntax error: a bad escape sequence in a string";
        case simdjson::UNESCAPED_CHARS: return "syntax error: a control character in a string (write it as an escape)";
        case simdjson::T_ATOM_ERROR:
        case simdjson::F_ATOM_ERROR:
        case simdjson::N_ATOM_ERROR: return "syntax error: an unknown word (a value is a string, number, object, array, true, false or null)";
        case simdjson::NUMBER_ERROR: return "syntax error: a malformed number";
        case simdjson::EMPTY: return "syntax error: no value";
        case simdjson::INCOMPLETE_ARRAY_OR_OBJECT: return "syntax error: the text ends inside an object or array, or goes on after the message";
        case simdjson::CAPACITY: return "too large";
        case simdjson::MEMALLOC: throw std::bad_alloc();
        default: return "syntax error: a value, comma, colon, key or bracket is missing or out of place";
    }
}

bool IsIntegerLiteral(std::string_view t) {
    if (!t.empty() && t[0] == '-') t.remove_prefix(1);
    return !t.empty() && t[0] != '0' && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}


bool OutOfRange(std::string_view literal) {
    const std::string text(literal);
    char* end = nullptr;
    errno = 0;
    std::strtod(text.c_str(), &end);
    return errno == ERANGE && end == text.c_str() + text.size();
}

void Pad(std::string& text) {
    const size_t size = text.size();
    text.append(kPadding, ' ');
    text.resize(size);
}

void NotAMessage(const char* jsonType) { throw InputError("a JSON " + std::string(jsonType) + ", expected a message object"); }

void EntriesTwice() { Fail("entries", "given more than once"); }

void EntriesNotAnArray(const Value& v) { Fail("entries", "expected an array, found " + Describe(v)); }

void UnknownEntryKey(size_t index, std::string_view key) {
    Fail(Place{{}, index}, "unknown key \"" + std::string(key) + "\" (an entry has \"id\", \"name\", \"type\", \"value\" or \"raw\")");
}

void TooDeep(const Place& where) { Fail(where, "nested deeper than " + std::to_string(kMaxDepth) + " levels"); }

void NotAnEntry(size_t index, const Value& v) { Fail(Place{{}, index}, "expected an entry object, found " + Describe(v)); }

void AtPosition(std::string_view text, size_t offset, size_t firstLine, std::string_view why, std::string_view what) {
    throw InputError(Position(text, offset, firstLine) + ": " + std::string(why) + std::string(what));
}

void MessageKeys::Start(const Overrides& overrides) {
    m_overrides = &overrides;
    m_kind.reset();
    m_msgType.reset();
    m_walk.Reset();
    m_named = false;
}

void MessageKeys::CheckName(const Value* name, size_t index, EntryHead head, const BlobWriter* blob) {
    if (!name && !m_named && blob != nullptr) return;
    if (name && !m_named) {
        NameWithGrammar(index);
        const unsigned char* const p = blob != nullptr ? blob->data() : nullptr;
        const size_t end = blob != nullptr ? blob->size() - head.size : 0;
        for (size_t at = 0; at < end;) {  // the entries before, as written
            uint32_t header[3];
            std::memcpy(header, p + at, sizeof header);
            m_walk.Next(header[0], header[1]);
            at += sizeof header + header[2] + ((0u - header[2]) & 3u);
        }
    }
    const NodeWalk::Step step = m_walk.Next(head.id, head.type);
    if (!name || (name->type == Value::String && step.node != nullptr && name->text == step.node->name)) return;
    const Place where{"name", index};
    if (name->type != Value::String) Fail(where, "expected a string, found " + Describe(*name));
    const std::string given = "\"" + std::string(name->text) + "\"", id = std::to_string(head.id);
    if (step.group == nullptr) Fail(where, given + " names no node: the entry is in a group the grammar does not know");
    const std::string group = "group '" + std::string(step.group->name) + "'";
    if (step.node == nullptr) Fail(where, given + " names no node: " + group + " has no node with ID " + id);
    Fail(where, given + " is not the name of node " + id + " in " + group + ": \"" + step.node->name + "\"");
}

namespace {

constexpr const char* kNameOrder =
    "a name needs the grammar: \"kind\" (and \"msgtype\" for a log) must come before \"entries\"";

}  // namespace

// The grammar of the message from now on, as the overrides and the keys
// read so far choose it.
void MessageKeys::NameWithGrammar(size_t index) {
    const Place where{"name", index};
    if (!m_overrides->kind && !m_kind) Fail(where, kNameOrder);
    const Kind kind = KindOf();
    if (kind == Kind::Log && !m_overrides->msgType && !m_msgType) Fail(where, kNameOrder);
    const int32_t msgType = MsgTypeOf(kind);
    const GrammarNode* root = GrammarRoot(kind == Kind::Log, msgType);
    if (root == nullptr) Fail(where, "log message type " + std::to_string(msgType) + " has no grammar to name nodes");
    m_walk.SetRoot(root);
    m_named = true;
}

Kind MessageKeys::KindOf() const {
    if (m_overrides->kind) return *m_overrides->kind;
    if (!m_kind) Fail("kind", "missing (\"log\" or \"register\")");
    if (m_kind->type != Value::String || (m_kind->text != "log" && m_kind->text != "register"))
        Fail("kind", "expected \"log\" or \"register\"");
    return m_kind->text == "log" ? Kind::Log : Kind::Register;
}

int32_t MessageKeys::MsgTypeOf(Kind kind) const {
    if (m_overrides->msgType) return *m_overrides->msgType;
    if (kind != Kind::Log) return 0;
    if (!m_msgType) Fail("msgtype", "missing (required for a log message)");
    return static_cast<int32_t>(IntegerIn(*m_msgType, std::numeric_limits<int32_t>::min(),
                                          std::numeric_limits<int32_t>::max(), Place{"msgtype"}));
}

MessageHead MessageKeys::Finish(bool entriesSeen) const {
    MessageHead head{KindOf(), 0};
    head.msgType = MsgTypeOf(head.kind);
    if (!entriesSeen) Fail("entries", "missing");
    return head;
}

Walker::~Walker() = default;

namespace {

// The walk of the kernel simdjson runs on this processor (its first pass
// chooses the same), or the nearest one below that the build has.
Walker* NewWalker() {
    const std::string kernel = simdjson::get_active_implementation()->name();
    Walker* walker = nullptr;
#ifdef EN_KERNEL_HASWELL
    if (kernel == "icelake" || kernel == "haswell") walker = NewHaswellWalker();
#endif
#ifdef EN_KERNEL_WESTMERE
    if (walker == nullptr && kernel != "fallback") walker = NewWestmereWalker();
#endif
    return walker != nullptr ? walker : NewFallbackWalker();
}

}  // namespace

}  // namespace detail

struct Reader::Walk {
    std::unique_ptr<detail::Walker> walker{detail::NewWalker()};
    Handle handle;  // the entry being read, for Read without a handle
    detail::EntryStarts starts;  // of the message read last
};

static_assert(kPadding == simdjson::SIMDJSON_PADDING, "the padding the parser reads past the end");

Reader::Reader() : m_walk(std::make_unique<Walk>()) {}

Reader::~Reader() = default;

Message Reader::Read(std::string_view text, size_t padding, Handle* into, const Overrides& overrides,
                     size_t firstLine, const EntrySink& sink) {
    const bool bom = text.substr(0, 3) == "\xEF\xBB\xBF";
    if (bom) text.remove_prefix(3);
    detail::BlobWriter out(sink ? m_walk->handle : *into, sink ? 0 : text.size());
    // Entries handed to a sink are not validated here.
    m_walk->starts.Start(bom ? 3 : 0, text.size() + (bom ? 3 : 0), !sink);
    const detail::MessageHead head =
        m_walk->walker->Read(text, padding, firstLine, overrides, out, sink ? &sink : nullptr, m_walk->starts);
    m_walk->starts.Read();
    Message m;
    m.kind = head.kind;
    m.msgType = head.msgType;
    return m;
}

std::optional<size_t> Reader::EntryOffset(size_t entry) const { return m_walk->starts.At(entry); }

}  // namespace msgjson
