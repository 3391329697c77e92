// Encoder.h - one entry of the JSON message form into its encoded bytes,
// from the JSON values the reader found (internal to the message form).
#ifndef EN_TOOLS_MSGJSON_ENCODER_H
#define EN_TOOLS_MSGJSON_ENCODER_H

#include <cstdint>
#include <new>
#include <optional>
#include <string_view>

#include "Fault.h"

namespace msgjson::detail {

// One JSON value of an entry or of the message object as the parser
// reports it.  Objects and arrays are only noted: no key of the message
// form takes one.  Failed: none, because reading it failed (the reader's
// fault says why).
struct Value {
    enum Type { Null, Boolean, Signed, Unsigned, Float, BigInteger, String, Array, Object, Failed } type;
    int64_t i;  // of a Signed; an Unsigned's bits
    std::string_view text;  // a string, or the digits of a BigInteger (in the parser's buffers)
};

// "a string", "an array", ...: what a value is, for an error.
const char* Describe(const Value& v);

// The name of a data type code without prefix ("WSTRING"), or null.
const char* TypeName(uint32_t code);

// An integer JSON value within [lo, hi]; else nullopt, the fault at where.
std::optional<long long> IntegerIn(const Value& v, long long lo, long long hi, const Place& where, Fault& fault);

// The keys of one entry object as read so far.  Nothing is set up for the
// keys an entry lacks: a value is stored only when its key is read.
class EntryFields {
public:
    enum Key : unsigned { kId, kName, kType, kValue, kRaw, kKeys };

    // The key of that name; kKeys for none.  Out of line: the kernels'
    // walks (ReaderWalk.cpp) call it.
    static Key Find(std::string_view key);

    // The value of key, made in its slot by make (a call that returns it).
    template <class Make>
    const Value& Put(Key key, Make&& make) {
        m_present |= 1u << key;
        return *new (&m_slots[key].value) Value(make());
    }
    // The value of key; null when the entry has not given it.
    const Value* Get(Key key) const { return (m_present >> key & 1u) != 0 ? &m_slots[key].value : nullptr; }

private:
    union Slot {
        Slot() {}
        Value value;
    };
    Slot m_slots[kKeys];
    unsigned m_present = 0;
};

struct EntryHead {
    uint32_t id;
    uint32_t type;
    size_t size;  // of the entry in the blob: header, value and padding; 0 for none
};

// Writes the entries of a message into the buffer of a message handle
// (En_Msg.h).  Room is made ahead, in steps that double, so that an entry
// is written with plain stores and the handle is called only when the room
// runs out; the handle's length is set to what has been written when the
// writer is destroyed, whatever happened before.  With a sink, each entry
// is handed over when it is complete and the buffer is used again.  What
// goes wrong is noted in fault.
class BlobWriter {
public:
    BlobWriter(void* handle, Fault& fault) : m_out(handle), m_fault(fault) {}
    ~BlobWriter();
    BlobWriter(const BlobWriter&) = delete;
    BlobWriter& operator=(const BlobWriter&) = delete;

    // Clears the handle; room for expected bytes to begin with.
    [[nodiscard]] bool Start(size_t expected);

    // Where n more bytes of entries[index] go, to be counted by Wrote; null
    // when memory is exhausted or the message would exceed 4 GiB.
    unsigned char* Room(size_t n, size_t index) { return n <= m_room - m_used ? m_data + m_used : Grow(n, index); }
    void Wrote(size_t n) { m_used += n; }

    const unsigned char* data() const { return m_data; }
    size_t size() const { return m_used; }
    Fault& fault() const { return m_fault; }
    // What has been written so far to sink; the buffer starts again.
    [[nodiscard]] bool Pass(const Sink& sink);

private:
    unsigned char* Grow(size_t n, size_t index);

    void* m_out;
    Fault& m_fault;
    unsigned char* m_data = nullptr;
    size_t m_used = 0, m_room = 0;
    uint64_t m_passed = 0;  // bytes handed to the sink
};

// Writes one entry, entries[index]: its header, value and padding ("name"
// is left to the caller), the value converted straight into the buffer.
// An entry is at least 12 bytes: size 0 says that it could not be written
// (the fault is out's).
EntryHead EncodeEntry(const EntryFields& e, size_t index, BlobWriter& out);

}  // namespace msgjson::detail

#endif  // EN_TOOLS_MSGJSON_ENCODER_H
