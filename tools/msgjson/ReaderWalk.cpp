// The value walk of the reader (Reader.cpp), compiled once for each of
// simdjson's kernels: EN_KERNEL_IS_FALLBACK, _WESTMERE, _HASWELL or _ICELAKE says
// which (cmake/SimdjsonKernels.cmake), and
// the build gives this file that kernel's instruction sets.  Everything
// defined here is in the kernel's own namespace, and anything else it needs
// is called from ReaderParts.h, so that no function that other files also
// define is compiled with instructions the processor may lack.
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "ReaderParts.h"
#include "Utf8.h"

#if defined(EN_KERNEL_IS_FALLBACK)
#define SIMDJSON_BUILTIN_IMPLEMENTATION fallback
#define EN_WALKER_FACTORY NewFallbackWalker
#elif defined(EN_KERNEL_IS_WESTMERE)
#define SIMDJSON_BUILTIN_IMPLEMENTATION westmere
#define EN_WALKER_FACTORY NewWestmereWalker
#elif defined(EN_KERNEL_IS_HASWELL)
#define SIMDJSON_BUILTIN_IMPLEMENTATION haswell
#define EN_WALKER_FACTORY NewHaswellWalker
#elif defined(EN_KERNEL_IS_ICELAKE)
#define SIMDJSON_BUILTIN_IMPLEMENTATION icelake
#define EN_WALKER_FACTORY NewIcelakeWalker
#else
#error "EN_KERNEL_IS_... names the kernel"
#endif

#include <simdjson.h>

namespace msgjson::detail {

namespace SIMDJSON_BUILTIN_IMPLEMENTATION {

namespace od = simdjson::SIMDJSON_BUILTIN_IMPLEMENTATION::ondemand;

// Whether the parse of a document has the parser's string buffer.  The
// parser allocates that buffer with new (std::nothrow) and goes on without
// it when the allocation fails; its document would then unescape strings
// through a null pointer.  Such a parse is refused as exhausted memory
// (the parser allocates the buffer again at its next parse).  The
// document's iterator is protected: reached through a member pointer that
// a derived class may take.
struct StringBuffer : od::document {
    static bool Of(od::document& doc) { return (doc.*(&StringBuffer::iter)).string_buf_loc() != nullptr; }
};

// The parsers of one reader, and the outline of a long message.
struct Parsers {
    od::parser message, entry;
    Array<char> outline;  // a long message without its entries, padded
    MessageKeys keys;
};

// Reads a message object with the parser, value after value in the order
// of the text: no document tree is built, each entry is encoded as soon as
// it has been read.  Depth 0 is outside any value, 1 inside the message
// object, 2 inside "entries", 3 inside an entry.  A value that no key of
// the message form takes (another key's, or an object where a number
// belongs) is read through as a whole, so that its syntax is checked.
// Every step returns false once it has noted a fault (m_fault), and the
// parser's results are taken with get(), which does not throw.
//
// A message longer than kWholeText is parsed without the entries between
// the brackets of its "entries" array (EntriesArray); each entry is parsed
// by itself where that array comes.
class MessageReader {
public:
    // text is followed by padding readable bytes.
    MessageReader(std::string_view text, size_t padding, size_t firstLine, Parsers& parsers, BlobWriter& out,
                  const Sink* sink, EntryStarts& starts)
        : m_text(text), m_padding(padding), m_firstLine(firstLine), m_parsers(parsers), m_keys(parsers.keys),
          m_out(out), m_fault(out.fault()), m_sink(sink), m_starts(starts) {}

    bool Read(const Overrides& overrides, MessageHead& head) {
        std::string_view docText = m_text;
        size_t capacity = m_text.size() + m_padding;
        if (const auto span = m_text.size() > kWholeText ? EntriesArray(m_text) : std::nullopt) {
            m_open = span->first;
            m_cut = span->second - span->first - 1;
            Array<char>& outline = m_parsers.outline;
            if (!MakeOutline(m_text, span->first, span->second, outline, m_fault)) return false;
            docText = std::string_view(outline.data(), outline.size());
            capacity = outline.room();
        }
        m_base = docText.data();
        m_end = docText.data() + docText.size();
        m_outline = m_cut != 0;
        od::document doc;
        od::json_type type{};
        if (!Iterate(m_parsers.message, docText, capacity, doc)) return false;
        m_doc = &doc;
        if (!Get(doc.type(), type)) return false;
        if (type != od::json_type::object) {
            // Text that only starts like a value ("nonsense", "12abc") is
            // a syntax error, not a value of the wrong kind.
            if (type != od::json_type::array && !Scalar(type)) return false;
            return NotAMessage(m_fault, type == od::json_type::array     ? "array"
                                        : type == od::json_type::string  ? "string"
                                        : type == od::json_type::null    ? "null"
                                        : type == od::json_type::boolean ? "boolean"
                                                                         : "number");
        }
        m_keys.Start(overrides, m_fault);
        bool entriesSeen = false;
        od::object object;
        if (!Get(doc.get_object(), object)) return false;
        for (auto member : object) {
            od::field field;
            std::string_view key;
            if (!Get(std::move(member), field) || !Get(field.unescaped_key(), key)) return false;
            od::value& value = field.value();
            if (key == "entries") {
                if (!Get(value.type(), type)) return false;
                if (type == od::json_type::array) {
                    if (entriesSeen) return EntriesTwice(m_fault);
                    entriesSeen = true;
                    const bool cut = m_outline && value.raw_json_token().data() == m_base + m_open;
                    od::array entries;
                    if (!Get(value.get_array(), entries) || !Entries(entries) || (cut && !CutEntries(doc)) ||
                        !CloseEntries())
                        return false;
                    continue;
                }
            }
            const Value v = Read(value, 1, Place{key});
            if (v.type == Value::Failed) return false;
            if (key == "kind") m_keys.SetKind(v);
            if (key == "msgtype") m_keys.SetMsgType(v);
            if (key == "entries") return EntriesNotAnArray(m_fault, v);
        }
        return AtEnd("message object") && m_keys.Finish(entriesSeen, head);
    }

private:
    // The value of a parser result into value, or the parser's error at its
    // place.
    template <class T, class R>
    bool Get(R&& result, T& value) {
        const simdjson::error_code e = std::forward<R>(result).get(value);
        return e == simdjson::SUCCESS || SyntaxError(e);
    }

    // The offset in the text of a place in the document being parsed.
    size_t Offset(const char* p) const {
        const size_t at = static_cast<size_t>(p - m_base);
        return m_base != m_text.data() && at > m_open ? at + m_cut : at;
    }

    // An offset of the text as a position in the text as given: a byte
    // order mark before it counts in the first line's columns, as in the
    // entries' places (EntryStarts).
    Position PositionOf(size_t offset) const {
        const size_t shift = m_starts.Shift();
        return Position{std::string_view(m_text.data() - shift, m_text.size() + shift), offset + shift, m_firstLine};
    }

    // Bad input at an offset of the text: "line L, column C: why".
    bool InputAt(size_t offset, std::string_view why, std::string_view what = {}) {
        return AtPosition(m_fault, PositionOf(offset), why, what);
    }

    [[gnu::cold, gnu::noinline]] bool SyntaxAt(const char* p, simdjson::error_code e) {
        return detail::SyntaxError(m_fault, PositionOf(Offset(p)), e);
    }

    bool Iterate(od::parser& parser, std::string_view text, size_t capacity, od::document& doc) {
        const simdjson::error_code e = parser.iterate(text.data(), text.size(), capacity).get(doc);
        if (e == simdjson::SUCCESS) return StringBuffer::Of(doc) || m_fault.NoMemory();
        if (e == simdjson::UTF8_ERROR)
            return SyntaxAt(text.data() + Utf8Prefix(reinterpret_cast<const unsigned char*>(text.data()), text.size()), e);
        return SyntaxAt(e == simdjson::UNCLOSED_STRING ? text.data() + text.size() : text.data(), e);
    }

    [[gnu::cold, gnu::noinline]] bool SyntaxError(simdjson::error_code e) {
        const char* at = nullptr;
        if (e == simdjson::INCOMPLETE_ARRAY_OR_OBJECT || m_doc->current_location().get(at) != simdjson::SUCCESS)
            at = m_end;
        return SyntaxAt(at, e);
    }

    // A document that is not an object nor an array: a syntax error unless
    // it is one value and nothing more.
    bool Scalar(od::json_type type) {
        const size_t start = m_text.find_first_not_of(" \t\r\n");
        const size_t end = ValueEnd(m_text, start, m_text.size(), false);
        const std::string_view token = Part(m_text, start, end - start);
        simdjson::error_code e = simdjson::SUCCESS;
        if (type == od::json_type::null && token != "null") e = simdjson::N_ATOM_ERROR;
        if (type == od::json_type::boolean && token != "true" && token != "false") e = simdjson::T_ATOM_ERROR;
        // Numbers out of the parser's range are numbers all the same.
        if (type == od::json_type::number && !OutOfRange(token) && !IsIntegerLiteral(token))
            e = m_doc->get_number().error();
        if (type == od::json_type::string) e = m_doc->get_string().error();
        const size_t rest = m_text.find_first_not_of(" \t\r\n", end);
        const bool tokenBad = e == simdjson::N_ATOM_ERROR || e == simdjson::T_ATOM_ERROR ||
                              e == simdjson::NUMBER_ERROR || e == simdjson::UNCLOSED_STRING ||
                              e == simdjson::STRING_ERROR || e == simdjson::UNESCAPED_CHARS;
        if (!tokenBad && rest != std::string_view::npos) return InputAt(rest, "syntax error: more text after the value");
        return e == simdjson::SUCCESS || detail::SyntaxError(m_fault, PositionOf(start), e);
    }

    // Nothing but blanks after the value of the document.
    bool AtEnd(const char* what) {
        const char* rest = nullptr;
        return m_doc->current_location().get(rest) != simdjson::SUCCESS ||
               InputAt(Offset(rest), "syntax error: more text after the ", what);
    }

    // Reads a value as a whole; containers are only noted as such.  Values
    // are returned, not put through a reference, so that one is made where
    // the caller keeps it (an entry's slot); Value::Failed once the fault
    // is noted.
    Value Read(od::value& value, size_t depth, const Place& where) {
        od::json_type type{};
        if (!Get(value.type(), type)) return kFailed;
        switch (type) {
            case od::json_type::object: {
                if (depth == kMaxDepth) return TooDeep(m_fault, where), kFailed;
                od::object object;
                if (!Get(value.get_object(), object)) return kFailed;
                for (auto member : object) {
                    od::field field;
                    std::string_view key;
                    if (!Get(std::move(member), field) || !Get(field.unescaped_key(), key) ||
                        Read(field.value(), depth + 1, where).type == Value::Failed)
                        return kFailed;
                }
                return Value{Value::Object, 0, {}};
            }
            case od::json_type::array: {
                if (depth == kMaxDepth) return TooDeep(m_fault, where), kFailed;
                od::array array;
                if (!Get(value.get_array(), array)) return kFailed;
                for (auto element : array) {
                    od::value item;
                    if (!Get(std::move(element), item) || Read(item, depth + 1, where).type == Value::Failed)
                        return kFailed;
                }
                return Value{Value::Array, 0, {}};
            }
            case od::json_type::number: {
                int64_t i = 0;
                if (value.get_int64().get(i) == simdjson::SUCCESS) return Value{Value::Signed, i, {}};
                return Number(value);
            }
            case od::json_type::string: return StringValue(value);
            case od::json_type::boolean: {
                bool b = false;
                return Get(value.get_bool(), b) ? Value{Value::Boolean, 0, {}} : kFailed;
            }
            default: {
                bool null = false;
                if (!Get(value.is_null(), null)) return kFailed;
                return null ? Value{} : (SyntaxError(simdjson::N_ATOM_ERROR), kFailed);
            }
        }
    }

    static constexpr Value kFailed{Value::Failed, 0, {}};

    // A string, unescaped into the parser's buffer; a long one without
    // escapes is taken as it stands instead (the parser's first pass has
    // checked that it is UTF-8 without control characters), so that it is
    // not copied before it is converted.  Null data once the fault is
    // noted: a string the parser gives, even an empty one, has a place.
    std::string_view String(od::value& value) {
        std::string_view token = value.raw_json_token();  // the quotes, and blanks up to what follows
        std::string_view text;
        if (token.size() < kLongString) return Get(value.get_string(), text) ? text : std::string_view();
        while (token.size() > 2 && token.back() != '"') token.remove_suffix(1);
        text = Part(token, 1, token.size() - 2);
        if (token.back() != '"' || std::memchr(text.data(), '\\', text.size()) != nullptr)
            return Get(value.get_string(), text) ? text : std::string_view();
        od::raw_json_string raw;
        return Get(value.get_raw_json_string(), raw) ? text : std::string_view();
    }

    // A string value, or Value::Failed.
    Value StringValue(od::value& value) {
        const std::string_view text = String(value);
        return text.data() != nullptr ? Value{Value::String, 0, text} : kFailed;
    }

    static constexpr size_t kLongString = 4096;

    // The text of a value as it stands, and blanks up to what follows; a
    // document's comes as a result.
    static bool RawToken(od::value& value, std::string_view& token) {
        token = value.raw_json_token();
        return true;
    }
    bool RawToken(od::document& doc, std::string_view& token) { return Get(doc.raw_json_token(), token); }

    // A number (of a value, or of a document that is one); an integer too
    // large for 64 bits keeps its digits.
    template <class V>
    Value Number(V& value) {
        std::string_view token;
        if (!RawToken(value, token)) return kFailed;
        while (!token.empty() && (token.back() == ' ' || token.back() == '\t' || token.back() == '\r' || token.back() == '\n'))
            token.remove_suffix(1);
        od::number n;
        const simdjson::error_code e = value.get_number().get(n);
        if (e == simdjson::NUMBER_ERROR) {
            if (IsIntegerLiteral(token)) return Value{Value::BigInteger, 0, token};
            if (OutOfRange(token)) return InputAt(Offset(token.data()), "number out of range: ", token), kFailed;
        }
        if (e != simdjson::SUCCESS) return SyntaxError(e), kFailed;
        switch (n.get_number_type()) {
            case od::number_type::signed_integer: return Value{Value::Signed, n.get_int64(), {}};
            case od::number_type::unsigned_integer: return Value{Value::Unsigned, static_cast<int64_t>(n.get_uint64()), {}};
            default:
                return token.find_first_of(".eE") == std::string_view::npos ? Value{Value::BigInteger, 0, token}
                                                                            : Value{Value::Float, 0, {}};
        }
    }

    bool Entries(od::array entries) {
        for (auto element : entries) {
            od::value item;
            if (!Get(std::move(element), item)) return false;
            const char* const start = item.raw_json_token().data();
            od::object object;
            // Anything but an object is refused before the parser moves on.
            if (item.get_object().get(object) != simdjson::SUCCESS) {
                const Value v = Read(item, 2, Place{{}, m_entries});
                return v.type != Value::Failed && NotAnEntry(m_fault, m_entries, v);
            }
            m_starts.Add(Offset(start));
            if (!Entry(object)) return false;
        }
        return true;
    }

    // The entries between the brackets at m_open and m_open + m_cut + 1,
    // each parsed by itself; then back to the outline document.
    bool CutEntries(od::document& outline) {
        const size_t close = m_open + m_cut + 1;
        const char* const base = m_base;
        const char* const docEnd = m_end;
        if (IsBlank(Part(m_text, m_open + 1, m_cut))) return true;
        for (size_t i = m_open + 1;; ++i) {
            const size_t end = ValueEnd(m_text, i, close, true);
            const std::string_view piece = Part(m_text, i, end - i);
            m_base = m_text.data();
            m_end = piece.data() + piece.size();
            if (IsBlank(piece)) return SyntaxAt(m_end, simdjson::TAPE_ERROR);
            od::document doc;
            od::json_type type{};
            if (!Iterate(m_parsers.entry, piece, m_text.size() + m_padding - i, doc)) return false;
            m_doc = &doc;
            if (!Get(doc.type(), type)) return false;
            if (type == od::json_type::object) {
                size_t start = i;
                while (IsBlank(m_text[start])) ++start;
                od::object object;
                m_starts.Add(start);
                if (!Get(doc.get_object(), object) || !Entry(object)) return false;
            } else {
                Value v{Value::Array, 0, {}};
                bool b = false;
                if (type == od::json_type::number) v = Number(doc);
                if (type == od::json_type::string) {
                    v = Value{Value::String, 0, {}};
                    if (!Get(doc.get_string(), v.text)) return false;
                }
                if (v.type == Value::Failed) return false;
                if (type == od::json_type::boolean) {
                    if (!Get(doc.get_bool(), b)) return false;
                    v = Value{Value::Boolean, 0, {}};
                }
                if (type == od::json_type::null) {
                    if (!Get(doc.is_null(), b)) return false;
                    if (!b) return SyntaxError(simdjson::N_ATOM_ERROR);
                    v = Value{};
                }
                return NotAnEntry(m_fault, m_entries, v);
            }
            if (!AtEnd("entry")) return false;
            if (end == close) break;
            i = end;
        }
        m_base = base;
        m_end = docEnd;
        m_doc = &outline;
        return true;
    }

    // After the last entry: where "entries" closes, the bracket before the
    // token the parser is at.
    bool CloseEntries() {
        const char* at = nullptr;
        if (m_doc->current_location().get(at) != simdjson::SUCCESS) at = m_end;
        do --at;
        while (IsBlank(*at));
        m_starts.Close(Offset(at));
        return true;
    }

    // An entry's key: compared as it stands (raw: the text after its
    // opening quote), unescaped only when it is none of the keys so.
    // kKeys once the fault is noted.
    EntryFields::Key Key(od::field& field, std::string_view& key) {
        // Compared with the closing quote, in pieces of constant size (the
        // text is followed by padding, so that the bytes are there).
        const char* raw = field.key().raw();
        switch (raw[0]) {
            case 'i': if (std::memcmp(raw, "id\"", 3) == 0) return key = "id", EntryFields::kId; break;
            case 't': if (std::memcmp(raw, "type\"", 5) == 0) return key = "type", EntryFields::kType; break;
            case 'v': if (std::memcmp(raw, "value\"", 6) == 0) return key = "value", EntryFields::kValue; break;
            case 'n': if (std::memcmp(raw, "name\"", 5) == 0) return key = "name", EntryFields::kName; break;
            case 'r': if (std::memcmp(raw, "raw\"", 4) == 0) return key = "raw", EntryFields::kRaw; break;
            default: break;
        }
        if (!Get(field.unescaped_key(), key)) return EntryFields::kKeys;
        const EntryFields::Key k = EntryFields::Find(key);
        if (k == EntryFields::kKeys) UnknownEntryKey(m_fault, m_entries, key);
        return k;
    }

    // The value of an entry's key: an integer that fits 64 bits or a string
    // on the spot, anything else as Read does.
    Value EntryValue(od::value& value, const Place& where) {
        od::json_type type{};
        if (!Get(value.type(), type)) return kFailed;
        if (type == od::json_type::string) return StringValue(value);
        int64_t i = 0;
        if (type == od::json_type::number && value.get_int64().get(i) == simdjson::SUCCESS)
            return Value{Value::Signed, i, {}};
        return Read(value, 3, where);
    }

    bool Entry(od::object object) {
        EntryFields entry;
        for (auto member : object) {
            od::field field;
            std::string_view key;
            if (!Get(std::move(member), field)) return false;
            const EntryFields::Key k = Key(field, key);
            if (k == EntryFields::kKeys ||
                entry.Put(k, [&] { return EntryValue(field.value(), Place{key, m_entries}); }).type == Value::Failed)
                return false;
        }
        const EntryHead head = EncodeEntry(entry, m_entries, m_out);
        if (head.size == 0) return false;
        const Value* const name = entry.Get(EntryFields::kName);
        if ((name != nullptr || m_sink != nullptr || m_keys.Named()) &&
            !m_keys.CheckName(name, m_entries, head, m_sink != nullptr ? nullptr : &m_out))
            return false;
        if (m_sink != nullptr && !m_out.Pass(*m_sink)) return false;
        ++m_entries;
        return true;
    }

    std::string_view m_text;
    size_t m_padding;
    size_t m_firstLine;
    Parsers& m_parsers;
    MessageKeys& m_keys;
    BlobWriter& m_out;
    Fault& m_fault;
    const Sink* m_sink;
    EntryStarts& m_starts;
    size_t m_open = 0;  // the bracket that opens the entries parsed one by one
    size_t m_cut = 0;   // the bytes of those entries, left out of the outline
    bool m_outline = false;
    od::document* m_doc = nullptr;  // being parsed, of the text from m_base
    const char* m_base = nullptr;
    const char* m_end = nullptr;
    size_t m_entries = 0;  // entries read
};

class KernelWalker final : public Walker {
public:
    bool Read(std::string_view text, size_t padding, size_t firstLine, const Overrides& overrides, BlobWriter& out,
              const Sink* sink, EntryStarts& starts, MessageHead& head) override {
        return MessageReader(text, padding, firstLine, m_parsers, out, sink, starts).Read(overrides, head);
    }

private:
    Parsers m_parsers;
};

}  // namespace SIMDJSON_BUILTIN_IMPLEMENTATION

Walker* EN_WALKER_FACTORY() { return new (std::nothrow) SIMDJSON_BUILTIN_IMPLEMENTATION::KernelWalker; }

}  // namespace msgjson::detail
