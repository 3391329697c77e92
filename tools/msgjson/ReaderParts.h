// ReaderParts.h - what the reader's value walk, compiled once for each of
// simdjson's kernels (ReaderWalk.cpp), shares with the rest of the reader
// (Reader.cpp), compiled for the baseline processor.  Nothing here includes
// simdjson, so that no code of a kernel's instruction set ends up in a
// function that another file also defines (internal to the message form).
#ifndef EN_TOOLS_MSGJSON_READERPARTS_H
#define EN_TOOLS_MSGJSON_READERPARTS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Encoder.h"
#include "GrammarTree.h"

namespace msgjson::detail {

// Objects and arrays deeper than this (the message form needs three
// levels) are refused, so that no input makes the reader walk forever.
constexpr size_t kMaxDepth = 100;

// Texts up to this size are parsed as a whole: the parser's buffers take a
// few times the text's size, and parsing one entry at a time costs more.
constexpr size_t kWholeText = 64 << 10;

// "line L, column C" (1-based; C counts bytes) of a byte offset (0-based).
std::string Position(std::string_view text, size_t at, size_t firstLine);

// What a parser error (a simdjson::error_code) means, in words.
std::string SyntaxText(int error);

bool IsIntegerLiteral(std::string_view t);

// A number literal that strtod finds out of range.
bool OutOfRange(std::string_view literal);

bool IsBlank(char c);  // JSON's white space
bool IsBlank(std::string_view t);

// Gives text kPadding bytes past its end, set (the parser reads them).
void Pad(std::string& text);

// Where the value at i ends (before the first comma, blank or bracket after
// it): strings and brackets are followed, nothing else is checked.  Stops
// at limit, or at a comma outside brackets when atComma.
size_t ValueEnd(std::string_view t, size_t i, size_t limit, bool atComma);

// The brackets of the "entries" array of a message object: its first
// member of that name, found by following strings and brackets only.  A
// long message is then parsed one entry at a time, with parser buffers the
// size of an entry, not of the message.  Text this scan does not expect is
// left to the parser as a whole (nullopt).
std::optional<std::pair<size_t, size_t>> EntriesArray(std::string_view t);

// Where the entries of a message begin in its text, as the walk meets
// them, and where its "entries" array closes: the place of an entry in the
// text is then a look-up.  Four bytes an entry: a text of 4 GiB or more has
// no places.  Out of line, so that the kernels' walks share one copy of the
// code that grows the list.
class EntryStarts {
public:
    // Before a walk over size bytes: offsets are recorded from now on when
    // keep says so, shift bytes after the walk's text (the byte order mark
    // it does not see).
    void Start(size_t shift, size_t size, bool keep);
    void Add(size_t offset);
    // The closing bracket of "entries".
    void Close(size_t offset);
    // The walk has read the whole message.
    void Read() { m_read = true; }
    // Where entry number entry (0-based) begins; for one past the last, the
    // closing bracket.  nullopt beyond, or when the walk did not end well.
    std::optional<size_t> At(size_t entry) const;

private:
    std::vector<uint32_t> m_starts;
    size_t m_close = 0;
    size_t m_shift = 0;
    bool m_keep = false;
    bool m_read = false;
};

// The errors of a walk, thrown as InputError.
[[noreturn]] void NotAMessage(const char* jsonType);
[[noreturn]] void EntriesTwice();
[[noreturn]] void EntriesNotAnArray(const Value& v);
[[noreturn]] void UnknownEntryKey(size_t index, std::string_view key);
[[noreturn]] void TooDeep(const Place& where);
[[noreturn]] void NotAnEntry(size_t index, const Value& v);
[[noreturn]] void AtPosition(std::string_view text, size_t offset, size_t firstLine, std::string_view why,
                             std::string_view what = {});

// The kind and log message type of a message that has been read.
struct MessageHead {
    Kind kind;
    int32_t msgType;
};

// The grammar checks of the entries' names and the message's kind and
// type, as the keys are read.
class MessageKeys {
public:
    void Start(const Overrides& overrides);
    void SetKind(const Value& v) { m_kind = v; }
    void SetMsgType(const Value& v) { m_msgType = v; }
    // The name of entries[index], if it has one, against the grammar's node.
    // The groups are followed from the first entry on; the grammar is chosen
    // at the first name.  When blob is given, it holds the message's entries
    // up to this one, and the groups are followed only from the first name
    // on, by going through the entries before it.
    void CheckName(const Value* name, size_t index, EntryHead head, const BlobWriter* blob);
    MessageHead Finish(bool entriesSeen) const;
    bool Named() const { return m_named; }

private:
    void NameWithGrammar(size_t index);
    Kind KindOf() const;
    int32_t MsgTypeOf(Kind kind) const;

    const Overrides* m_overrides = nullptr;
    std::optional<Value> m_kind, m_msgType;  // as read so far
    NodeWalk m_walk;
    bool m_named = false;  // a name was read: m_walk has the grammar
};

// The walk of one kernel with its parsers; one for each reader.
class Walker {
public:
    virtual ~Walker();
    // Reads the message object of text, followed by padding readable bytes,
    // appending its entries to out and their offsets in text to starts;
    // with a sink, each entry goes there and out holds one entry at a time.
    virtual MessageHead Read(std::string_view text, size_t padding, size_t firstLine, const Overrides& overrides,
                             BlobWriter& out, const EntrySink* sink, EntryStarts& starts) = 0;
};

// The walks there are; null when the build has no such kernel.
Walker* NewFallbackWalker();
Walker* NewWestmereWalker();
Walker* NewHaswellWalker();

}  // namespace msgjson::detail

#endif  // EN_TOOLS_MSGJSON_READERPARTS_H
