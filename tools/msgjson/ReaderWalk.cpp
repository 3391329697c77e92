// The value walk of the reader (Reader.cpp), compiled once for each of
// simdjson's kernels: EN_KERNEL_IS_FALLBACK, _WESTMERE or _HASWELL says
// which (cmake/SimdjsonKernels.cmake), and
// the build gives this file that kernel's instruction sets.  Everything
// defined here is in the kernel's own namespace, and anything else it needs
// is called from ReaderParts.h, so that no function that other files also
// define is compiled with instructions the processor may lack.
#include <cstring>
#include <limits>
#include <memory>

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
#else
#error "EN_KERNEL_IS_... names the kernel"
#endif

#include <simdjson.h>

namespace msgjson::detail {

namespace SIMDJSON_BUILTIN_IMPLEMENTATION {

namespace od = simdjson::SIMDJSON_BUILTIN_IMPLEMENTATION::ondemand;

// The parsers of one reader, and the outline of a long message.
struct Parsers {
    od::parser message, entry;
    std::string outline;  // a long message without its entries
    MessageKeys keys;
};

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
    MessageReader(std::string_view text, size_t padding, size_t firstLine, Parsers& parsers, BlobWriter& out,
                  const EntrySink* sink, EntryStarts& starts)
        : m_text(text), m_padding(padding), m_firstLine(firstLine), m_parsers(parsers), m_keys(parsers.keys),
          m_out(out), m_sink(sink), m_starts(starts) {}

    MessageHead Read(const Overrides& overrides) {
        std::string_view docText = m_text;
        size_t capacity = m_text.size() + m_padding;
        if (const auto span = m_text.size() > kWholeText ? EntriesArray(m_text) : std::nullopt) {
            m_open = span->first;
            m_cut = span->second - span->first - 1;
            std::string& outline = m_parsers.outline;
            outline.clear();
            outline.reserve(m_text.size() - m_cut + kPadding);
            outline.append(m_text.substr(0, m_open + 1)).append(m_text.substr(span->second));
            Pad(outline);
            docText = outline;
            capacity = outline.capacity();
        }
        m_base = docText.data();
        m_end = docText.data() + docText.size();
        m_outline = m_cut != 0;
        od::document doc = Iterate(m_parsers.message, docText, capacity);
        m_doc = &doc;
        const od::json_type type = Get<od::json_type>(doc.type());
        if (type != od::json_type::object) {
            // Text that only starts like a value ("nonsense", "12abc") is
            // a syntax error, not a value of the wrong kind.
            if (type != od::json_type::array) Scalar(type);
            NotAMessage(type == od::json_type::array     ? "array"
                        : type == od::json_type::string  ? "string"
                        : type == od::json_type::null    ? "null"
                        : type == od::json_type::boolean ? "boolean"
                                                         : "number");
        }
        m_keys.Start(overrides);
        bool entriesSeen = false;
        for (auto member : Get<od::object>(doc.get_object())) {
            od::field field = Get<od::field>(std::move(member));
            const std::string_view key = Get<std::string_view>(field.unescaped_key());
            od::value& value = field.value();
            if (key == "entries" && Get<od::json_type>(value.type()) == od::json_type::array) {
                if (entriesSeen) EntriesTwice();
                entriesSeen = true;
                const bool cut = m_outline && value.raw_json_token().data() == m_base + m_open;
                Entries(Get<od::array>(value.get_array()));
                if (cut) CutEntries(doc);
                CloseEntries();
                continue;
            }
            const Value v = Read(value, 1, Place{key});
            if (key == "kind") m_keys.SetKind(v);
            if (key == "msgtype") m_keys.SetMsgType(v);
            if (key == "entries") EntriesNotAnArray(v);
        }
        AtEnd("message object");
        return m_keys.Finish(entriesSeen);
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

    [[noreturn]] void ThrowAt(const char* p, simdjson::error_code e) {
        AtPosition(m_text, Offset(p), m_firstLine, SyntaxText(e));
    }

    od::document Iterate(od::parser& parser, std::string_view text, size_t capacity) {
        od::document doc;
        const simdjson::error_code e = parser.iterate(text.data(), text.size(), capacity).get(doc);
        if (e == simdjson::UTF8_ERROR)
            ThrowAt(text.data() + Utf8Prefix(reinterpret_cast<const unsigned char*>(text.data()), text.size()), e);
        if (e != simdjson::SUCCESS) ThrowAt(e == simdjson::UNCLOSED_STRING ? text.data() + text.size() : text.data(), e);
        return doc;
    }

    [[noreturn]] void SyntaxError(simdjson::error_code e) {
        const char* at = nullptr;
        if (e == simdjson::INCOMPLETE_ARRAY_OR_OBJECT || m_doc->current_location().get(at) != simdjson::SUCCESS)
            at = m_end;
        ThrowAt(at, e);
    }

    // A document that is not an object nor an array: a syntax error unless
    // it is one value and nothing more.
    void Scalar(od::json_type type) {
        const size_t start = m_text.find_first_not_of(" \t\r\n");
        const size_t end = ValueEnd(m_text, start, m_text.size(), false);
        const std::string_view token = m_text.substr(start, end - start);
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
        if (!tokenBad && rest != std::string_view::npos)
            AtPosition(m_text, rest, m_firstLine, "syntax error: more text after the value");
        if (e != simdjson::SUCCESS) AtPosition(m_text, start, m_firstLine, SyntaxText(e));
    }

    // Nothing but blanks after the value of the document.
    void AtEnd(const char* what) {
        const char* rest = nullptr;
        if (m_doc->current_location().get(rest) == simdjson::SUCCESS)
            AtPosition(m_text, Offset(rest), m_firstLine, "syntax error: more text after the ", what);
    }

    // Reads a value as a whole; containers are only noted as such.
    Value Read(od::value& value, size_t depth, const Place& where) {
        switch (Get<od::json_type>(value.type())) {
            case od::json_type::object:
                if (depth == kMaxDepth) TooDeep(where);
                for (auto member : Get<od::object>(value.get_object())) {
                    od::field field = Get<od::field>(std::move(member));
                    Get<std::string_view>(field.unescaped_key());
                    Read(field.value(), depth + 1, where);
                }
                return Value{Value::Object, 0, 0, {}};
            case od::json_type::array:
                if (depth == kMaxDepth) TooDeep(where);
                for (auto element : Get<od::array>(value.get_array())) {
                    od::value item = Get<od::value>(std::move(element));
                    Read(item, depth + 1, where);
                }
                return Value{Value::Array, 0, 0, {}};
            case od::json_type::number: {
                int64_t i = 0;
                if (value.get_int64().get(i) == simdjson::SUCCESS) return Value{Value::Signed, i, 0, {}};
                return Number(value);
            }
            case od::json_type::string: return Value{Value::String, 0, 0, String(value)};
            case od::json_type::boolean: Get<bool>(value.get_bool()); return Value{Value::Boolean, 0, 0, {}};
            default:
                if (!Get<bool>(value.is_null())) SyntaxError(simdjson::N_ATOM_ERROR);
                return Value{};
        }
    }

    // A string, unescaped into the parser's buffer; a long one without
    // escapes is taken as it stands instead (the parser's first pass has
    // checked that it is UTF-8 without control characters), so that it is
    // not copied before it is converted.
    std::string_view String(od::value& value) {
        std::string_view token = value.raw_json_token();  // the quotes, and blanks up to what follows
        if (token.size() < kLongString) return Get<std::string_view>(value.get_string());
        while (token.size() > 2 && token.back() != '"') token.remove_suffix(1);
        const std::string_view text = token.substr(1, token.size() - 2);
        if (token.back() != '"' || std::memchr(text.data(), '\\', text.size()) != nullptr)
            return Get<std::string_view>(value.get_string());
        Get<od::raw_json_string>(value.get_raw_json_string());
        return text;
    }

    static constexpr size_t kLongString = 4096;

    // A number (of a value, or of a document that is one); an integer too
    // large for 64 bits keeps its digits.
    template <class V>
    Value Number(V& value) {
        std::string_view token = value.raw_json_token();
        while (!token.empty() && (token.back() == ' ' || token.back() == '\t' || token.back() == '\r' || token.back() == '\n'))
            token.remove_suffix(1);
        od::number n;
        const simdjson::error_code e = value.get_number().get(n);
        if (e == simdjson::NUMBER_ERROR) {
            if (IsIntegerLiteral(token)) return Value{Value::BigInteger, 0, 0, token};
            if (OutOfRange(token))
                AtPosition(m_text, Offset(token.data()), m_firstLine, "number out of range: ", token);
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

    void Entries(od::array entries) {
        for (auto element : entries) {
            od::value item = Get<od::value>(std::move(element));
            const char* const start = item.raw_json_token().data();
            od::object object;
            // Anything but an object is refused before the parser moves on.
            if (item.get_object().get(object) != simdjson::SUCCESS)
                NotAnEntry(m_entries, Read(item, 2, Place{{}, m_entries}));
            m_starts.Add(Offset(start));
            Entry(object);
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
            if (IsBlank(piece)) ThrowAt(m_end, simdjson::TAPE_ERROR);
            od::document doc = Iterate(m_parsers.entry, piece, m_text.size() + m_padding - i);
            m_doc = &doc;
            const od::json_type type = Get<od::json_type>(doc.type());
            if (type == od::json_type::object) {
                size_t start = i;
                while (IsBlank(m_text[start])) ++start;
                m_starts.Add(start);
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
                NotAnEntry(m_entries, v);
            }
            AtEnd("entry");
            if (end == close) break;
            i = end;
        }
        m_base = base;
        m_end = docEnd;
        m_doc = &outline;
    }

    // After the last entry: where "entries" closes, the bracket before the
    // token the parser is at.
    void CloseEntries() {
        const char* at = nullptr;
        if (m_doc->current_location().get(at) != simdjson::SUCCESS) at = m_end;
        do --at;
        while (IsBlank(*at));
        m_starts.Close(Offset(at));
    }

    // An entry's key: compared as it stands (raw: the text after its
    // opening quote), unescaped only when it is none of the keys so.
    EntryFields::Key Key(od::field& field, std::string_view& key) {
        const char* raw = field.key().raw();
        auto is = [raw](const char (&name)[sizeof "value"], size_t n) {
            return std::memcmp(raw, name, n) == 0 && raw[n] == '"';
        };
        switch (raw[0]) {
            case 'i': if (raw[1] == 'd' && raw[2] == '"') return key = "id", EntryFields::kId; break;
            case 't': if (is("type\"", 4)) return key = "type", EntryFields::kType; break;
            case 'v': if (is("value", 5)) return key = "value", EntryFields::kValue; break;
            case 'n': if (is("name\"", 4)) return key = "name", EntryFields::kName; break;
            case 'r': if (is("raw\"\"", 3)) return key = "raw", EntryFields::kRaw; break;
            default: break;
        }
        key = Get<std::string_view>(field.unescaped_key());
        const EntryFields::Key k = EntryFields::Find(key);
        if (k == EntryFields::kKeys) UnknownEntryKey(m_entries, key);
        return k;
    }

    // The value of an entry's key: an integer that fits 64 bits or a string
    // on the spot, anything else as Read does.
    Value EntryValue(od::value& value, const Place& where) {
        const od::json_type type = Get<od::json_type>(value.type());
        if (type == od::json_type::string) return Value{Value::String, 0, 0, String(value)};
        int64_t i = 0;
        if (type == od::json_type::number && value.get_int64().get(i) == simdjson::SUCCESS)
            return Value{Value::Signed, i, 0, {}};
        return Read(value, 3, where);
    }

    void Entry(od::object object) {
        EntryFields entry;
        for (auto member : object) {
            od::field field = Get<od::field>(std::move(member));
            std::string_view key;
            const EntryFields::Key k = Key(field, key);
            entry.Set(k, EntryValue(field.value(), Place{key, m_entries}));
        }
        const EntryHead head = EncodeEntry(entry, m_entries, m_out);
        const Value* const name = entry.Get(EntryFields::kName);
        if (name != nullptr || m_sink != nullptr || m_keys.Named())
            m_keys.CheckName(name, m_entries, head, m_sink != nullptr ? nullptr : &m_out);
        if (m_sink != nullptr) m_out.Pass(*m_sink);
        ++m_entries;
    }

    std::string_view m_text;
    size_t m_padding;
    size_t m_firstLine;
    Parsers& m_parsers;
    MessageKeys& m_keys;
    BlobWriter& m_out;
    const EntrySink* m_sink;
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
    MessageHead Read(std::string_view text, size_t padding, size_t firstLine, const Overrides& overrides, BlobWriter& out,
                     const EntrySink* sink, EntryStarts& starts) override {
        return MessageReader(text, padding, firstLine, m_parsers, out, sink, starts).Read(overrides);
    }

private:
    Parsers m_parsers;
};

}  // namespace SIMDJSON_BUILTIN_IMPLEMENTATION

Walker* EN_WALKER_FACTORY() { return new SIMDJSON_BUILTIN_IMPLEMENTATION::KernelWalker; }

}  // namespace msgjson::detail
