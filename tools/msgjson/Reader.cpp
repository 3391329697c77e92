// The reader of the JSON message form: JSON text, parsed with simdjson
// On-Demand, into encoded entries.  The value walk itself is in
// ReaderWalk.cpp, compiled once for each kernel.  Nothing here throws:
// errors are values (ReaderParts.h).
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <simdjson.h>

#include "ReaderParts.h"

namespace msgjson::detail {

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
        const bool entries = Part(t, i, keyEnd - i) == "\"entries\"";
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

bool MakeOutline(std::string_view text, size_t open, size_t close, Array<char>& outline, Fault& fault) {
    const std::string_view before = Part(text, 0, open + 1), after = Part(text, close);
    outline.Clear();
    if (!outline.Reserve(before.size() + after.size() + kPadding) || !outline.Append(before.data(), before.size()) ||
        !outline.Append(after.data(), after.size()))
        return fault.NoMemory();
    std::memset(outline.data() + outline.size(), ' ', kPadding);
    return true;
}

void EntryStarts::Start(size_t shift, size_t size, bool keep) {
    m_starts.Clear();
    m_shift = shift;
    m_keep = keep && (uint64_t{size} >> 32) == 0;
    m_lost = false;
    m_read = false;
}

void EntryStarts::Add(size_t offset) {
    if (m_keep && !m_starts.Push(static_cast<uint32_t>(offset + m_shift))) {
        m_keep = false;
        m_lost = true;
    }
}

void EntryStarts::Close(size_t offset) { m_close = offset + m_shift; }

void LineCounter::At(size_t offset, size_t& line, size_t& column) {
    if (offset < m_at) m_at = m_lineStart = 0, m_line = m_firstLine;
    const char* const text = m_text.data();
    for (const char* p = text + m_at; (p = static_cast<const char*>(std::memchr(p, '\n', offset - static_cast<size_t>(p - text)))) != nullptr; ++p) {
        ++m_line;
        m_lineStart = static_cast<size_t>(p - text) + 1;
    }
    m_at = offset;
    line = m_line;
    column = offset - m_lineStart + 1;
}

void PutPiece(Text& t, const Position& p) {
    size_t line = 0, column = 0;
    LineCounter(p.text, p.firstLine).At(std::min(p.at, p.text.size()), line, column);
    t.Put("line ", line, ", column ", column);
}

namespace {

// What a parser error means, in words.
const char* SyntaxText(simdjson::error_code error) {
    switch (error) {
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
        default: return "syntax error: a value, comma, colon, key or bracket is missing or out of place";
    }
}

}  // namespace

bool AtPosition(Fault& fault, const Position& at, std::string_view why, std::string_view what) {
    return fault.Input(at, ": ", why, what);
}

bool SyntaxError(Fault& fault, const Position& at, int error) {
    const auto e = static_cast<simdjson::error_code>(error);
    return e == simdjson::MEMALLOC ? fault.NoMemory() : fault.Input(at, ": ", SyntaxText(e));
}

bool IsIntegerLiteral(std::string_view t) {
    if (!t.empty() && t[0] == '-') t.remove_prefix(1);
    return !t.empty() && t[0] != '0' && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool OutOfRange(std::string_view literal) {
    char* end = nullptr;
    errno = 0;
    std::strtod(literal.data(), &end);
    return errno == ERANGE && end == literal.data() + literal.size();
}

bool NotAMessage(Fault& fault, const char* jsonType) {
    return fault.Input("a JSON ", jsonType, ", expected a message object");
}

bool EntriesTwice(Fault& fault) { return fault.At(Place{"entries"}, "given more than once"); }

bool EntriesNotAnArray(Fault& fault, const Value& v) {
    return fault.At(Place{"entries"}, "expected an array, found ", Describe(v));
}

bool UnknownEntryKey(Fault& fault, size_t index, std::string_view key) {
    return fault.At(Place{{}, index}, "unknown key \"", key,
                    "\" (an entry has \"id\", \"name\", \"type\", \"value\" or \"raw\")");
}

bool TooDeep(Fault& fault, const Place& where) { return fault.At(where, "nested deeper than ", kMaxDepth, " levels"); }

bool NotAnEntry(Fault& fault, size_t index, const Value& v) {
    return fault.At(Place{{}, index}, "expected an entry object, found ", Describe(v));
}

void MessageKeys::Start(const Overrides& overrides, Fault& fault) {
    m_overrides = &overrides;
    m_fault = &fault;
    m_kind.reset();
    m_msgType.reset();
    m_walk.Reset();
    m_named = false;
}

bool MessageKeys::CheckName(const Value* name, size_t index, EntryHead head, const BlobWriter* blob) {
    if (!name && !m_named && blob != nullptr) return true;
    NodeWalk::Step step{};
    if (name && !m_named) {
        if (!NameWithGrammar(index)) return false;
        const unsigned char* const p = blob != nullptr ? blob->data() : nullptr;
        const size_t end = blob != nullptr ? blob->size() - head.size : 0;
        for (size_t at = 0; at < end;) {  // the entries before, as written
            uint32_t header[3];
            std::memcpy(header, p + at, sizeof header);
            if (!m_walk.Next(header[0], header[1], step)) return m_fault->NoMemory();
            at += sizeof header + header[2] + ((0u - header[2]) & 3u);
        }
    }
    if (!m_walk.Next(head.id, head.type, step)) return m_fault->NoMemory();
    if (!name || (name->type == Value::String && step.node != nullptr && name->text == step.node->name)) return true;
    const Place where{"name", index};
    if (name->type != Value::String) return m_fault->At(where, "expected a string, found ", Describe(*name));
    if (step.group == nullptr)
        return m_fault->At(where, "\"", name->text, "\" names no node: the entry is in a group the grammar does not know");
    if (step.node == nullptr)
        return m_fault->At(where, "\"", name->text, "\" names no node: group '", step.group->name,
                           "' has no node with ID ", head.id);
    return m_fault->At(where, "\"", name->text, "\" is not the name of node ", head.id, " in group '",
                       step.group->name, "': \"", step.node->name, "\"");
}

namespace {

constexpr const char* kNameOrder =
    "a name needs the grammar: \"kind\" (and \"msgtype\" for a log) must come before \"entries\"";

}  // namespace

// The grammar of the message from now on, as the overrides and the keys
// read so far choose it.
bool MessageKeys::NameWithGrammar(size_t index) {
    const Place where{"name", index};
    if (!m_overrides->kind && !m_kind) return m_fault->At(where, kNameOrder);
    Kind kind = Kind::Log;
    if (!KindOf(kind)) return false;
    if (kind == Kind::Log && !m_overrides->msgType && !m_msgType) return m_fault->At(where, kNameOrder);
    int32_t msgType = 0;
    const GrammarNode* root = nullptr;
    if (!MsgTypeOf(kind, msgType)) return false;
    if (!GrammarRoot(kind == Kind::Log, msgType, root)) return m_fault->NoMemory();
    if (root == nullptr) return m_fault->At(where, "log message type ", msgType, " has no grammar to name nodes");
    m_walk.SetRoot(root);
    m_named = true;
    return true;
}

bool MessageKeys::KindOf(Kind& kind) const {
    if (m_overrides->kind) return kind = *m_overrides->kind, true;
    if (!m_kind) return m_fault->At(Place{"kind"}, "missing (\"log\" or \"register\")");
    if (m_kind->type != Value::String || (m_kind->text != "log" && m_kind->text != "register"))
        return m_fault->At(Place{"kind"}, "expected \"log\" or \"register\"");
    kind = m_kind->text == "log" ? Kind::Log : Kind::Register;
    return true;
}

bool MessageKeys::MsgTypeOf(Kind kind, int32_t& msgType) const {
    if (m_overrides->msgType) return msgType = *m_overrides->msgType, true;
    if (kind != Kind::Log) return msgType = 0, true;
    if (!m_msgType) return m_fault->At(Place{"msgtype"}, "missing (required for a log message)");
    const std::optional<long long> x = IntegerIn(*m_msgType, std::numeric_limits<int32_t>::min(),
                                                 std::numeric_limits<int32_t>::max(), Place{"msgtype"}, *m_fault);
    if (!x) return false;
    msgType = static_cast<int32_t>(*x);
    return true;
}

bool MessageKeys::Finish(bool entriesSeen, MessageHead& head) const {
    return KindOf(head.kind) && MsgTypeOf(head.kind, head.msgType) &&
           (entriesSeen || m_fault->At(Place{"entries"}, "missing"));
}

Walker::~Walker() = default;

static_assert(kPadding == simdjson::SIMDJSON_PADDING, "the padding the parser reads past the end");

namespace {

// simdjson chooses the kernel of this processor at the first call of
// get_active_implementation(), and makes strings then, which would throw
// on exhausted memory: that is done when the library is loaded, so that
// no reader made and no parse run later meets it.
[[maybe_unused]] const bool kKernelChosen = !simdjson::get_active_implementation()->name().empty();

}  // namespace

JsonReader::~JsonReader() {
    delete m_walker;
    if (m_handle != nullptr) En_Msg_Destroy(m_handle);
}

bool JsonReader::Open() {
    // The walk of the kernel simdjson runs on this processor (its first pass
    // chooses the same), or the nearest one below that the build has.
#if defined(EN_KERNEL_ICELAKE) || defined(EN_KERNEL_HASWELL) || defined(EN_KERNEL_WESTMERE)
    const std::string& kernel = simdjson::get_active_implementation()->name();
#endif
#ifdef EN_KERNEL_ICELAKE
    if (kernel == "icelake") m_walker = NewIcelakeWalker();
#endif
#ifdef EN_KERNEL_HASWELL
    if (m_walker == nullptr && (kernel == "icelake" || kernel == "haswell")) m_walker = NewHaswellWalker();
#endif
#ifdef EN_KERNEL_WESTMERE
    if (m_walker == nullptr && kernel != "fallback") m_walker = NewWestmereWalker();
#endif
    if (m_walker == nullptr) m_walker = NewFallbackWalker();
    m_handle = En_Msg_Create();
    return m_walker != nullptr && m_handle != nullptr;
}

int JsonReader::Read(char* text, size_t size, size_t room, const Overrides& overrides, size_t firstLine,
                     void* handle, const Sink* sink, MessageHead& head) {
    m_fault.Clear();
    m_lines = LineCounter({}, 1);
    char* body = text;
    if (room < kPadding) {
        m_copy.Clear();
        if (size > SIZE_MAX - kPadding || !m_copy.Reserve(size + kPadding) || !m_copy.Append(text, size))
            return EN_MSGJSON_ENOMEM;
        body = m_copy.data();
    }
    std::memset(body + size, ' ', kPadding);
    std::string_view t(body, size);
    const bool bom = Part(t, 0, 3) == "\xEF\xBB\xBF";
    if (bom) t.remove_prefix(3);
    BlobWriter out(sink != nullptr ? m_handle : handle, m_fault);
    // Entries handed to a sink are not validated here.
    m_starts.Start(bom ? 3 : 0, size, sink == nullptr);
    if (!out.Start(sink != nullptr ? 0 : t.size()) ||
        !m_walker->Read(t, kPadding, firstLine, overrides, out, sink, m_starts, head) ||
        (m_starts.Lost() && !m_fault.NoMemory()))
        return m_fault.code();
    m_starts.Read();
    return EN_MSGJSON_OK;
}

size_t JsonReader::EntryPlaces(std::string_view text, size_t firstLine, size_t first, size_t count, size_t* lines,
                               size_t* columns) const {
    const size_t places = m_starts.Count();
    if (!m_lines.Counts(text, firstLine)) m_lines = LineCounter(text, firstLine);
    for (size_t i = 0; i < count && first < places && i < places - first; ++i) {
        const size_t offset = m_starts.At(first + i);
        lines[i] = columns[i] = 0;
        if (offset <= text.size()) m_lines.At(offset, lines[i], columns[i]);
    }
    return places;
}

}  // namespace msgjson::detail
