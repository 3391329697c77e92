// ReaderParts.h - the reader of libEn_MessageJson.so.1 (JsonReader, which
// En_MsgJson_Read runs), and what its value walk, compiled once for each of
// simdjson's kernels (ReaderWalk.cpp), shares with the rest of the reader
// (Reader.cpp), compiled for the baseline processor.  Nothing here includes
// simdjson, so that no code of a kernel's instruction set ends up in a
// function that another file also defines (internal to the message form).
//
// Errors are values (Fault.h): every function that can fail returns false
// after noting in the reader's Fault whether the input is bad (with the
// text of the error), memory is exhausted or a sink asked to stop.
#ifndef EN_TOOLS_MSGJSON_READERPARTS_H
#define EN_TOOLS_MSGJSON_READERPARTS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "Encoder.h"
#include "Fault.h"
#include "GrammarTree.h"
#include "MessageForm.h"

namespace msgjson::detail {

// Objects and arrays deeper than this (the message form needs three
// levels) are refused, so that no input makes the reader walk forever.
constexpr size_t kMaxDepth = 100;

// Texts up to this size are parsed as a whole: the parser's buffers take a
// few times the text's size, and parsing one entry at a time costs more.
constexpr size_t kWholeText = 64 << 10;

// Lines and columns (1-based; a column counts bytes) of offsets of a text,
// counted forward: an offset at or after the one before goes on from it, so
// that the places of one text in its order take one pass over it.
class LineCounter {
public:
    LineCounter(std::string_view text, size_t firstLine) : m_text(text), m_firstLine(firstLine), m_line(firstLine) {}
    // Of offset, at most the text's size.
    void At(size_t offset, size_t& line, size_t& column);
    // Whether this counts text (the same bytes at the same address) from firstLine.
    bool Counts(std::string_view text, size_t firstLine) const {
        return text.data() == m_text.data() && text.size() == m_text.size() && firstLine == m_firstLine;
    }

private:
    std::string_view m_text;
    size_t m_firstLine, m_line;
    size_t m_at = 0, m_lineStart = 0;  // counted up to m_at, whose line begins at m_lineStart
};

// A byte offset (0-based) of a text, written as "line L, column C"
// (1-based; C counts bytes).
struct Position {
    std::string_view text;
    size_t at;
    size_t firstLine;
};
void PutPiece(Text& t, const Position& p);

// Bad input at a position: "line L, column C: why" and what; false.
bool AtPosition(Fault& fault, const Position& at, std::string_view why, std::string_view what = {});

// A parser error (a simdjson::error_code) at a position: "line L, column
// C: why", or memory exhausted (simdjson's MEMALLOC).  False.
bool SyntaxError(Fault& fault, const Position& at, int error);

bool IsIntegerLiteral(std::string_view t);

// A number literal that strtod finds out of range.  The literal is read
// where it stands: the byte after it is one strtod does not take (a blank,
// a bracket, a comma, a quote, or the padding after the text).
bool OutOfRange(std::string_view literal);

bool IsBlank(char c);  // JSON's white space
bool IsBlank(std::string_view t);

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

// The outline of a long message: text without what lies between the
// brackets at open and close, followed by kPadding blanks.  False when
// memory is exhausted.
bool MakeOutline(std::string_view text, size_t open, size_t close, Array<char>& outline, Fault& fault);

// Where the entries of a message begin in its text, as the walk meets
// them, and where its "entries" array closes: the place of an entry in the
// text is then a look-up.  Four bytes an entry: a text of 4 GiB or more has
// no places.  Out of line, so that the kernels' walks share one copy of the
// code that grows the list (and compile no copy of their own of anything
// that other files also define: the faults of a walk are noted out of
// line, here and in Fault.h, too).
class EntryStarts {
public:
    // Before a walk over size bytes: offsets are recorded from now on when
    // keep says so, shift bytes after the walk's text (the byte order mark
    // it does not see).
    void Start(size_t shift, size_t size, bool keep);
    // When memory is exhausted, no more are recorded and Lost() says so: the
    // walk goes on without a check at each entry.
    void Add(size_t offset);
    bool Lost() const { return m_lost; }
    // The bytes before the walk's text (the byte order mark).
    size_t Shift() const { return m_shift; }
    // The closing bracket of "entries".
    void Close(size_t offset);
    // The walk has read the whole message.
    void Read() { m_read = true; }
    // The places there are: the entries and the closing bracket; none when
    // the walk did not end well.
    size_t Count() const { return m_read && m_keep ? m_starts.size() + 1 : 0; }
    // Where entry number entry (below Count(), 0-based) begins; for one past
    // the last, the closing bracket.
    size_t At(size_t entry) const { return entry == m_starts.size() ? m_close : m_starts[entry]; }

private:
    Array<uint32_t> m_starts;
    size_t m_close = 0;
    size_t m_shift = 0;
    bool m_keep = false;
    bool m_lost = false;
    bool m_read = false;
};

// The errors of a walk; false.
bool NotAMessage(Fault& fault, const char* jsonType);
bool EntriesTwice(Fault& fault);
bool EntriesNotAnArray(Fault& fault, const Value& v);
bool UnknownEntryKey(Fault& fault, size_t index, std::string_view key);
bool TooDeep(Fault& fault, const Place& where);
bool NotAnEntry(Fault& fault, size_t index, const Value& v);

// The kind and log message type of a message that has been read.
struct MessageHead {
    Kind kind;
    int32_t msgType;
};

// The grammar checks of the entries' names and the message's kind and
// type, as the keys are read.
class MessageKeys {
public:
    void Start(const Overrides& overrides, Fault& fault);
    void SetKind(const Value& v) { m_kind = v; }
    void SetMsgType(const Value& v) { m_msgType = v; }
    // The name of entries[index], if it has one, against the grammar's node.
    // The groups are followed from the first entry on; the grammar is chosen
    // at the first name.  When blob is given, it holds the message's entries
    // up to this one, and the groups are followed only from the first name
    // on, by going through the entries before it.
    [[nodiscard]] bool CheckName(const Value* name, size_t index, EntryHead head, const BlobWriter* blob);
    [[nodiscard]] bool Finish(bool entriesSeen, MessageHead& head) const;
    bool Named() const { return m_named; }

private:
    bool NameWithGrammar(size_t index);
    bool KindOf(Kind& kind) const;
    bool MsgTypeOf(Kind kind, int32_t& msgType) const;

    const Overrides* m_overrides = nullptr;
    Fault* m_fault = nullptr;
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
    // False on failure, noted in out.fault().
    [[nodiscard]] virtual bool Read(std::string_view text, size_t padding, size_t firstLine,
                                    const Overrides& overrides, BlobWriter& out, const Sink* sink,
                                    EntryStarts& starts, MessageHead& head) = 0;
};

// The walks there are (null when memory is exhausted); built only when the
// build has that kernel.
Walker* NewFallbackWalker();
Walker* NewWestmereWalker();
Walker* NewHaswellWalker();
Walker* NewIcelakeWalker();

// A reader of the C interface (En_MsgJson_Reader): the walk of the kernel
// simdjson runs on this processor, whose parsers keep their buffers from
// one text to the next, a message handle for the entries handed to a sink,
// the places of the entries of the message read last, and the fault of the
// last read.  One for each thread.
class JsonReader {
public:
    JsonReader() = default;
    ~JsonReader();
    JsonReader(const JsonReader&) = delete;
    JsonReader& operator=(const JsonReader&) = delete;

    // The walk and the handle; false when memory is exhausted.
    [[nodiscard]] bool Open();

    // En_MsgJson_Read (En_MessageJson.h) with checked arguments: the
    // entries to sink when one is given, else into handle.  An
    // EN_MSGJSON_ code; head is set on success.
    int Read(char* text, size_t size, size_t room, const Overrides& overrides, size_t firstLine, void* handle,
             const Sink* sink, MessageHead& head);

    const Fault& fault() const { return m_fault; }
    // En_MsgJson_EntryPlaces (En_MessageJson.h) with checked arguments.
    size_t EntryPlaces(std::string_view text, size_t firstLine, size_t first, size_t count, size_t* lines,
                       size_t* columns) const;

private:
    Walker* m_walker = nullptr;
    void* m_handle = nullptr;  // the entry being read, for a read to a sink
    EntryStarts m_starts;      // of the message read last
    // The lines counted for its places so far: places asked for one after
    // the other in the text's order read it once.
    mutable LineCounter m_lines{{}, 1};
    Fault m_fault;
    Array<char> m_copy;  // a text without room for the padding, with it
};

}  // namespace msgjson::detail

#endif  // EN_TOOLS_MSGJSON_READERPARTS_H
