// The reader of the JSON message form: JSON text, parsed with simdjson
// On-Demand, into encoded entries.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include <simdjson.h>

#include "Encoder.h"
#include "GrammarTree.h"
#include "Utf8.h"

namespace msgjson {

namespace {

using namespace detail;

// Objects and arrays deeper than this (the message form needs three
// levels) are refused, so that no input makes the reader walk forever.
constexpr size_t kMaxDepth = 100;

// "line L, column C" (1-based; C counts bytes) of a byte offset (0-based).
std::string Position(std::string_view text, size_t at, size_t firstLine) {
    at = std::min(at, text.size());
    const size_t line = firstLine + static_cast<size_t>(std::count(text.begin(), text.begin() + at, '\n'));
    const size_t lineStart = at == 0 ? std::string_view::npos : text.rfind('\n', at - 1);
    return "line " + std::to_string(line) + ", column " +
           std::to_string(lineStart == std::string_view::npos ? at + 1 : at - lineStart);
}

// What a parser error means, in words.
std::string SyntaxText(simdjson::error_code e) {
    switch (e) {
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

namespace od = simdjson::ondemand;

// Gives text kPadding bytes past its end, set (the parser reads them).
void Pad(std::string& text) {
    const size_t size = text.size();
    text.append(kPadding, ' ');
    text.resize(size);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsBlank(std::string_view t) { return std::all_of(t.begin(), t.end(), [](char c) { return IsBlank(c); }); }

size_t SkipBlank(std::string_view t, size_t i) {
    while (i < t.size() && IsBlank(t[i])) ++i;
    return i;
}

// The end of the string whose opening quote is at i, or npos.
size_t StringEnd(std::string_view t, size_t i) {
    for (i = t.find_first_of("\"\\", i + 1); i != std::string_view::npos; i = t.find_first_of("\"\\", i + 2))
        if (t[i] == '"') return i + 1;
    return std::string_view::npos;
}

// Where the value at i ends (before the first comma, blank or bracket after
// it): strings and brackets are followed, nothing else is checked.  Stops
// at limit, or at a comma outside brackets when atComma.
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

// The brackets of the "entries" array of a message object: its first
// member of that name, found by following strings and brackets only.  A
// long message is then parsed one entry at a time, with parser buffers the
// size of an entry, not of the message.  Text this scan does not expect is
// left to the parser as a whole (nullopt).
std::optional<std::pair<size_t, size_t>> EntriesArray(std::string_view t) {
    size_t i = SkipBlank(t, 0);
    if (i == t.size() || t[i] != '{') return std::nullopt;
    for (i = SkipBlank(t, i + 1); i < t.size() && t[i] == '"';) {
        const size_t keyEnd = StringEnd(t, i);
        if (keyEnd == std::string_view::npos) return std::nullopt;
        const bool entries = t.substr(i, keyEnd - i) == "\"entries\"";
        i = SkipBlank(t, keyEnd);
        if (i == t.size() || t[i] != ':') return std::nullopt;
        i = SkipBlank(t, i + 1);
        const size_t end = ValueEnd(t, i, t.size(), false);
        if (entries) {
            if (i == t.size() || t[i] != '[' || end == t.size()) return std::nullopt;
            return std::make_pair(i, end - 1);
        }
        i = SkipBlank(t, end);
        if (i == t.size() || t[i] != ',') return std::nullopt;
        i = SkipBlank(t, i + 1);
    }
    return std::nullopt;
}

// Texts up to this size are parsed as a whole: the parser's buffers take a
// few times the text's size, and parsing one entry at a time costs more.
constexpr size_t kWholeText = 64 << 10;

// Reads a message object with the parser, value after value in the order
// of the text: no document tree is built, each entry is encoded as soon as
// it has been read.  Depth 0 is outside any value, 1 inside the message
// object, 2 inside "entries", 3 inside an entry.  A value that no key of
// the message form takes (another key's, or an object where a number
// belongs) is read through as a whole, so that its syntax is checked.
//
// A message longer than kWholeText is parsed without the entries between
// the brackets of its "entries" array (EntriesArray); each entry is parsed
// by itself where that array comes.
class MessageReader {
public:
    // text is followed by padding readable bytes.
    MessageReader(std::string_view text, size_t padding, size_t firstLine, od::parser& messageParser,
                  od::parser& entryParser, const EntrySink& sink)
        : m_text(text), m_padding(padding), m_firstLine(firstLine), m_messageParser(messageParser),
          m_entryParser(entryParser), m_sink(sink) {
        if (!sink) m_blob.reserve(text.size());  // a blob is rarely larger than its text
    }

    Message Read(const Overrides& overrides) {
        std::string outline;  // the message without its entries
        std::string_view docText = m_text;
        size_t capacity = m_text.size() + m_padding;
        if (const auto span = m_text.size() > kWholeText ? EntriesArray(m_text) : std::nullopt) {
            m_open = span->first;
            m_cut = span->second - span->first - 1;
            outline.reserve(m_text.size() - m_cut + kPadding);
            outline.append(m_text.substr(0, m_open + 1)).append(m_text.substr(span->second));
            Pad(outline);
            docText = outline;
            capacity = outline.capacity();
        }
        m_base = docText.data();
        m_end = docText.data() + docText.size();
        m_outline = m_cut != 0;
        od::document doc = Iterate(m_messageParser, docText, capacity);
        m_doc = &doc;
        const od::json_type type = Get<od::json_type>(doc.type());
        if (type != od::json_type::object) {
            throw InputError("a JSON " + std::string(type == od::json_type::array    ? "array"
                                                     : type == od::json_type::string ? "string"
                                                     : type == od::json_type::null   ? "null"
                                                     : type == od::json_type::boolean ? "boolean"
                                                                                      : "number") +
                             ", expected a message object");
        }
        m_overrides = &overrides;
        bool entriesSeen = false;
        for (auto member : Get<od::object>(doc.get_object())) {
            od::field field = Get<od::field>(std::move(member));
            const std::string_view key = Get<std::string_view>(field.unescaped_key());
            od::value& value = field.value();
            if (key == "entries" && Get<od::json_type>(value.type()) == od::json_type::array) {
                if (entriesSeen) Fail("entries", "given more than once");
                entriesSeen = true;
                const bool cut = m_outline && value.raw_json_token().data() == m_base + m_open;
                Entries(Get<od::array>(value.get_array()));
                if (cut) CutEntries(doc);
                continue;
            }
            const Value v = Read(value, 1, [&key] { return std::string(key); });
            if (key == "kind") m_kind = v;
            if (key == "msgtype") m_msgType = v;
            if (key == "entries") Fail("entries", "expected an array, found " + Describe(v));
        }
        AtEnd("message object");
        return Finish(entriesSeen);
    }

private:
    // The value of a parser result, or InputError at the parser's place.
    template <class T, class R>
    T Get(R&& result) {
        T value{};
        const simdjson::error_code e = std::forward<R>(result).get(value);
        if (e != simdjson::SUCCESS) SyntaxError(e);
        return value;
    }

    // The offset in the text of a place in the document being parsed.
    size_t Offset(const char* p) const {
        const size_t at = static_cast<size_t>(p - m_base);
        return m_base != m_text.data() && at > m_open ? at + m_cut : at;
    }

    std::string PositionOf(const char* p) const { return Position(m_text, Offset(p), m_firstLine); }

    od::document Iterate(od::parser& parser, std::string_view text, size_t capacity) {
        od::document doc;
        const simdjson::error_code e = parser.iterate(text.data(), text.size(), capacity).get(doc);
        if (e == simdjson::UTF8_ERROR)
            throw InputError(PositionOf(text.data() + Utf8Prefix(reinterpret_cast<const unsigned char*>(text.data()), text.size())) +
                             ": " + SyntaxText(e));
        if (e != simdjson::SUCCESS)
            throw InputError(PositionOf(e == simdjson::UNCLOSED_STRING ? text.data() + text.size() : text.data()) + ": " +
                             SyntaxText(e));
        return doc;
    }

    [[noreturn]] void SyntaxError(simdjson::error_code e) {
        const char* at = nullptr;
        if (e == simdjson::INCOMPLETE_ARRAY_OR_OBJECT || m_doc->current_location().get(at) != simdjson::SUCCESS)
            at = m_end;
        throw InputError(PositionOf(at) + ": " + SyntaxText(e));
    }

    // Nothing but blanks after the value of the document.
    void AtEnd(const char* what) {
        const char* rest = nullptr;
        if (m_doc->current_location().get(rest) == simdjson::SUCCESS)
            throw InputError(PositionOf(rest) + ": syntax error: more text after the " + what);
    }

    // Reads a value as a whole; containers are only noted as such.
    Value Read(od::value& value, size_t depth, const Place& where) {
        switch (Get<od::json_type>(value.type())) {
            case od::json_type::object:
                if (depth == kMaxDepth) Fail(where(), "nested deeper than " + std::to_string(kMaxDepth) + " levels");
                for (auto member : Get<od::object>(value.get_object())) {
                    od::field field = Get<od::field>(std::move(member));
                    Get<std::string_view>(field.unescaped_key());
                    Read(field.value(), depth + 1, where);
                }
                return Value{Value::Object, 0, 0, {}};
            case od::json_type::array:
                if (depth == kMaxDepth) Fail(where(), "nested deeper than " + std::to_string(kMaxDepth) + " levels");
                for (auto element : Get<od::array>(value.get_array())) {
                    od::value item = Get<od::value>(std::move(element));
                    Read(item, depth + 1, where);
                }
                return Value{Value::Array, 0, 0, {}};
            case od::json_type::number: return Number(value);
            case od::json_type::string: return Value{Value::String, 0, 0, Get<std::string_view>(value.get_string())};
            case od::json_type::boolean: Get<bool>(value.get_bool()); return Value{Value::Boolean, 0, 0, {}};
            default:
                if (!Get<bool>(value.is_null())) SyntaxError(simdjson::N_ATOM_ERROR);
                return Value{};
        }
    }

    // A number (of a value, or of a document that is one); an integer too
    // large for 64 bits keeps its digits.
    template <class V>
    Value Number(V& value) {
        std::string_view token = value.raw_json_token();
        token = token.substr(0, token.find_last_not_of(" \t\r\n") + 1);
        od::number n;
        const simdjson::error_code e = value.get_number().get(n);
        if (e == simdjson::NUMBER_ERROR) {
            if (IsIntegerLiteral(token)) return Value{Value::BigInteger, 0, 0, token};
            const std::string literal(token);
            char* end = nullptr;
            errno = 0;
            std::strtod(literal.c_str(), &end);
            if (errno == ERANGE && end == literal.c_str() + literal.size())
                throw InputError(PositionOf(token.data()) + ": number out of range: " + literal);
        }
        if (e != simdjson::SUCCESS) SyntaxError(e);
        switch (n.get_number_type()) {
            case od::number_type::signed_integer: return Value{Value::Signed, n.get_int64(), 0, {}};
            case od::number_type::unsigned_integer: return Value{Value::Unsigned, 0, n.get_uint64(), {}};
            default:
                return token.find_first_of(".eE") == std::string_view::npos ? Value{Value::BigInteger, 0, 0, token}
                                                                            : Value{Value::Float, 0, 0, {}};
        }
    }

    std::string EntryPlace() const { return "entries[" + std::to_string(m_entries) + "]"; }

    void Entries(od::array entries) {
        for (auto element : entries) {
            od::value item = Get<od::value>(std::move(element));
            if (Get<od::json_type>(item.type()) != od::json_type::object) {
                const Value v = Read(item, 2, [this] { return EntryPlace(); });
                Fail(EntryPlace(), "expected an entry object, found " + Describe(v));
            }
            Entry(Get<od::object>(item.get_object()));
        }
    }

    // The entries between the brackets at m_open and m_open + m_cut + 1,
    // each parsed by itself; then back to the outline document.
    void CutEntries(od::document& outline) {
        const size_t close = m_open + m_cut + 1;
        const char* const base = m_base;
        const char* const docEnd = m_end;
        if (IsBlank(m_text.substr(m_open + 1, m_cut))) return;
        for (size_t i = m_open + 1;; ++i) {
            const size_t end = ValueEnd(m_text, i, close, true);
            const std::string_view piece = m_text.substr(i, end - i);
            m_base = m_text.data();
            m_end = piece.data() + piece.size();
            if (IsBlank(piece)) throw InputError(PositionOf(m_end) + ": " + SyntaxText(simdjson::TAPE_ERROR));
            od::document doc = Iterate(m_entryParser, piece, m_text.size() + m_padding - i);
            m_doc = &doc;
            const od::json_type type = Get<od::json_type>(doc.type());
            if (type == od::json_type::object) {
                Entry(Get<od::object>(doc.get_object()));
            } else {
                Value v{Value::Array, 0, 0, {}};
                if (type == od::json_type::number) v = Number(doc);
                if (type == od::json_type::string) v = Value{Value::String, 0, 0, Get<std::string_view>(doc.get_string())};
                if (type == od::json_type::boolean) {
                    Get<bool>(doc.get_bool());
                    v = Value{Value::Boolean, 0, 0, {}};
                }
                if (type == od::json_type::null && !Get<bool>(doc.is_null())) SyntaxError(simdjson::N_ATOM_ERROR);
                if (type == od::json_type::null) v = Value{};
                Fail(EntryPlace(), "expected an entry object, found " + Describe(v));
            }
            AtEnd("entry");
            if (end == close) break;
            i = end;
        }
        m_base = base;
        m_end = docEnd;
        m_doc = &outline;
    }

    void Entry(od::object object) {
        EntryFields entry;
        for (auto member : object) {
            od::field field = Get<od::field>(std::move(member));
            const std::string_view key = Get<std::string_view>(field.unescaped_key());
            std::optional<Value>* slot = entry.Find(key);
            if (slot == nullptr)
                Fail(EntryPlace(), "unknown key \"" + std::string(key) + "\" (an entry has \"id\", \"name\", \"type\", \"value\" or \"raw\")");
            // (two references: small enough for std::function to hold without allocating)
            *slot = Read(field.value(), 3, [this, &key] { return EntryPlace() + "." + std::string(key); });
        }
        const EntryHead head = EncodeEntry(entry, m_entries, m_scratch, m_bytes);
        CheckName(entry.name, head);
        const auto* p = static_cast<const unsigned char*>(En_Msg_GetBuffer(m_scratch.get()));
        const size_t n = En_Msg_BytesUsed(m_scratch.get());
        if (m_size + n > 0xFFFFFFFFu) Fail(EntryPlace(), "the message would exceed 4 GiB");
        m_size += n;
        if (m_sink)
            m_sink(p, n);
        else
            m_blob.insert(m_blob.end(), p, p + n);
        ++m_entries;
    }

    // The name of an entry, if it has one, against the grammar's node.  The
    // groups are followed from the first entry on; the grammar is chosen at
    // the first name.
    void CheckName(const std::optional<Value>& name, EntryHead head) {
        if (name && !m_named) NameWithGrammar();
        const NodeWalk::Step step = m_walk.Next(head.id, head.type);
        if (!name || (name->type == Value::String && step.node != nullptr && name->text == step.node->name)) return;
        const std::string where = EntryPlace() + ".name";
        if (name->type != Value::String) Fail(where, "expected a string, found " + Describe(*name));
        const std::string given = "\"" + std::string(name->text) + "\"", id = std::to_string(head.id);
        if (step.group == nullptr) Fail(where, given + " names no node: the entry is in a group the grammar does not know");
        const std::string group = "group '" + std::string(step.group->name) + "'";
        if (step.node == nullptr) Fail(where, given + " names no node: " + group + " has no node with ID " + id);
        Fail(where, given + " is not the name of node " + id + " in " + group + ": \"" + step.node->name + "\"");
    }

    // The grammar of the message from now on, as the overrides and the keys
    // read so far choose it.
    void NameWithGrammar() {
        const std::string where = EntryPlace() + ".name";
        if (!m_overrides->kind && !m_kind) Fail(where, kNameOrder);
        const Kind kind = KindOf();
        if (kind == Kind::Log && !m_overrides->msgType && !m_msgType) Fail(where, kNameOrder);
        const int32_t msgType = MsgTypeOf(kind);
        const GrammarNode* root = GrammarRoot(kind == Kind::Log, msgType);
        if (root == nullptr) Fail(where, "log message type " + std::to_string(msgType) + " has no grammar to name nodes");
        m_walk.SetRoot(root);
        m_named = true;
    }

    static constexpr const char* kNameOrder =
        "a name needs the grammar: \"kind\" (and \"msgtype\" for a log) must come before \"entries\"";

    Kind KindOf() const {
        if (m_overrides->kind) return *m_overrides->kind;
        if (!m_kind) Fail("kind", "missing (\"log\" or \"register\")");
        if (m_kind->type != Value::String || (m_kind->text != "log" && m_kind->text != "register"))
            Fail("kind", "expected \"log\" or \"register\"");
        return m_kind->text == "log" ? Kind::Log : Kind::Register;
    }

    int32_t MsgTypeOf(Kind kind) const {
        if (m_overrides->msgType) return *m_overrides->msgType;
        if (kind != Kind::Log) return 0;
        if (!m_msgType) Fail("msgtype", "missing (required for a log message)");
        return static_cast<int32_t>(IntegerIn(*m_msgType, std::numeric_limits<int32_t>::min(),
                                              std::numeric_limits<int32_t>::max(), [] { return "msgtype"; }));
    }

    Message Finish(bool entriesSeen) {
        Message m;
        m.kind = KindOf();
        m.msgType = MsgTypeOf(m.kind);
        if (!entriesSeen) Fail("entries", "missing");
        m.blob = std::move(m_blob);
        return m;
    }

    std::string_view m_text;
    size_t m_padding;
    size_t m_firstLine;
    od::parser& m_messageParser;
    od::parser& m_entryParser;
    const EntrySink& m_sink;
    size_t m_open = 0;  // the bracket that opens the entries parsed one by one
    size_t m_cut = 0;   // the bytes of those entries, left out of the outline
    bool m_outline = false;
    od::document* m_doc = nullptr;  // being parsed, of the text from m_base
    const char* m_base = nullptr;
    const char* m_end = nullptr;
    size_t m_entries = 0;  // entries read
    Handle m_scratch;
    uint64_t m_size = 0;
    std::vector<unsigned char> m_bytes;  // of one value
    std::vector<unsigned char> m_blob;
    const Overrides* m_overrides = nullptr;
    std::optional<Value> m_kind, m_msgType;  // as read so far
    NodeWalk m_walk;
    bool m_named = false;  // a name was read: m_walk has the grammar
};

}  // namespace

struct Reader::Parser {
    od::parser message, entry;
};

static_assert(kPadding == simdjson::SIMDJSON_PADDING, "the padding the parser reads past the end");

Reader::Reader() : m_parser(std::make_unique<Parser>()) {}

Reader::~Reader() = default;

Message Reader::Read(std::string& text, const Overrides& overrides, size_t firstLine, const EntrySink& sink) {
    Pad(text);
    std::string_view view = text;
    if (view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);  // a UTF-8 byte order mark
    const size_t padding = text.capacity() - text.size();
    return MessageReader(view, padding, firstLine, m_parser->message, m_parser->entry, sink).Read(overrides);
}

}  // namespace msgjson
