// Fault.h - errors as values in libEn_MessageJson.so.1 (internal to the
// message form).  Nothing in the library throws: a function that meets bad
// input, exhausted memory or a sink that asks to stop notes why in a Fault
// and returns false (or null), and its caller passes that on up to the C
// interface.  Storage that grows is Array, over malloc and realloc, which
// reports a failure where std::vector and std::string would throw.
#ifndef EN_TOOLS_MSGJSON_FAULT_H
#define EN_TOOLS_MSGJSON_FAULT_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "En_MessageJson.h"

namespace msgjson::detail {

// Items of a trivially copyable type, in storage that doubles as it grows.
template <class T>
class Array {
    static_assert(std::is_trivially_copyable_v<T>, "items are moved with realloc");

public:
    Array() = default;
    ~Array() { std::free(m_items); }
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;

    // Room for n items in all; false when memory is exhausted.
    [[nodiscard]] bool Reserve(size_t n) { return n <= m_room || Grow(n); }
    [[nodiscard]] bool Append(const T* items, size_t n) {
        if (n > m_room - m_size && (n > SIZE_MAX - m_size || !Grow(m_size + n))) return false;
        if (n != 0) std::memcpy(m_items + m_size, items, n * sizeof(T));
        m_size += n;
        return true;
    }
    [[nodiscard]] bool Push(const T& item) {
        if (m_size == m_room && !Grow(m_size + 1)) return false;
        m_items[m_size++] = item;
        return true;
    }
    void Pop() { --m_size; }
    void Clear() { m_size = 0; }

    T* data() { return m_items; }
    const T* data() const { return m_items; }
    size_t size() const { return m_size; }
    size_t room() const { return m_room; }
    bool empty() const { return m_size == 0; }
    T& operator[](size_t i) { return m_items[i]; }
    const T& operator[](size_t i) const { return m_items[i]; }
    T& back() { return m_items[m_size - 1]; }
    T* begin() { return m_items; }
    T* end() { return m_items + m_size; }

private:
    // Room for n > room() items: twice the room, or n if that is more.
    [[gnu::noinline]] bool Grow(size_t n) {
        const size_t room = m_room <= SIZE_MAX / 2 / sizeof(T) && 2 * m_room > n ? 2 * m_room : n;
        if (room > SIZE_MAX / sizeof(T)) return false;
        void* p = std::realloc(m_items, room * sizeof(T));
        if (p == nullptr) return false;
        m_items = static_cast<T*>(p);
        m_room = room;
        return true;
    }

    T* m_items = nullptr;
    size_t m_size = 0, m_room = 0;
};

// s.substr(pos, n) with pos held to s.size(): the part of s from pos of at
// most n bytes, without substr's exception.
inline std::string_view Part(std::string_view s, size_t pos, size_t n = std::string_view::npos) {
    pos = pos < s.size() ? pos : s.size();
    return {s.data() + pos, n < s.size() - pos ? n : s.size() - pos};
}

// Text made of pieces (Put): strings, integers in decimal, and anything
// with a PutPiece of its own.  A failed growth is kept: later pieces are
// dropped, and Put and ok() say so, so that a text of many pieces is
// checked once, at its end.
class Text {
public:
    void Clear() {
        m_chars.Clear();
        m_ok = true;
    }
    // Appends the pieces; false when memory ran out, now or before.
    template <class... P>
    bool Put(const P&... pieces) {
        (PutPiece(*this, pieces), ...);
        return m_ok;
    }
    void Add(std::string_view s) { m_ok = m_ok && m_chars.Append(s.data(), s.size()); }
    bool ok() const { return m_ok; }

    const char* data() const { return m_chars.data(); }
    size_t size() const { return m_chars.size(); }
    std::string_view view() const { return {m_chars.data(), m_chars.size()}; }

private:
    Array<char> m_chars;
    bool m_ok = true;
};

inline void PutPiece(Text& t, std::string_view s) { t.Add(s); }
void PutDecimal(Text& t, uint64_t magnitude, bool negative);
template <class I, class = std::enable_if_t<std::is_integral_v<I> && !std::is_same_v<I, char> && !std::is_same_v<I, bool>>>
void PutPiece(Text& t, I i) {
    if constexpr (std::is_signed_v<I>)
        PutDecimal(t, i < 0 ? 0 - static_cast<uint64_t>(i) : static_cast<uint64_t>(i), i < 0);
    else
        PutDecimal(t, i, false);
}

// A place in the message, for an error: a key of the message object
// ("msgtype"), or entries[index] with its key, if any ("entries[3].value").
struct Place {
    std::string_view key;
    size_t index = kMessage;
    static constexpr size_t kMessage = ~size_t(0);
};
void PutPiece(Text& t, const Place& p);

// Why the last call of a reader failed: a code of En_MessageJson.h and,
// for bad input, the text.  Its setters are cold and out of line, so that
// the compiler keeps the checks that lead to them off the main line, as it
// does for a throw.
class Fault {
public:
    void Clear() {
        m_code = EN_MSGJSON_OK;
        m_text.Clear();
    }
    // Bad input, why told by the pieces (EN_MSGJSON_ENOMEM when the text
    // cannot be kept); false, for the caller to return.
    template <class... P>
    [[gnu::cold, gnu::noinline]] bool Input(const P&... why) {
        m_text.Clear();
        m_code = m_text.Put(why..., std::string_view("", 1)) ? EN_MSGJSON_EINPUT : EN_MSGJSON_ENOMEM;
        return false;
    }
    // Bad input at a place in the message: "where: why".
    template <class... P>
    [[gnu::cold, gnu::noinline]] bool At(const Place& where, const P&... why) {
        return Input(where, ": ", why...);
    }
    // Out of line: the kernels' walks (ReaderParts.h) call them.
    [[gnu::cold]] bool NoMemory();
    [[gnu::cold]] bool Stopped();

    int code() const { return m_code; }
    // The text of bad input; "" else.
    const char* text() const { return m_code == EN_MSGJSON_EINPUT ? m_text.data() : ""; }

private:
    int m_code = EN_MSGJSON_OK;
    Text m_text;
};

// A sink of the C interface with its context.
struct Sink {
    En_MsgJson_Sink call;
    void* context;

    // Hands bytes over; false when the sink asks to stop.
    [[nodiscard]] bool Give(const void* bytes, size_t size) const { return call(context, bytes, size) == 0; }
};

}  // namespace msgjson::detail

#endif  // EN_TOOLS_MSGJSON_FAULT_H
