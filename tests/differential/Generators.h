// Generators.h - seeded random values for the differential tests: time
// texts built from the pieces the time format check reads (white space,
// signs, digit runs that overflow int, the separators, wrong ones), their
// wide forms with characters of every class, and boundary integers.
#ifndef EN_TESTS_DIFFERENTIAL_GENERATORS_H
#define EN_TESTS_DIFFERENTIAL_GENERATORS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace difftest {

// EN_DIFFERENTIAL_SCALE scales the generated inputs (ctest sets it, see
// CMakeLists.txt); without it (a run by hand, under valgrind) a twentieth
// is generated.
inline double Scale() {
    const char* s = std::getenv("EN_DIFFERENTIAL_SCALE");
    return s != nullptr ? std::atof(s) : 0.05;
}
inline size_t Scaled(size_t n) { return std::max<size_t>(1, static_cast<size_t>(static_cast<double>(n) * Scale())); }

// Deterministic on every platform (the engine's output is fixed by the standard).
class Random {
public:
    explicit Random(uint64_t seed) : m_engine(seed) {}
    uint64_t Next() { return m_engine(); }
    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }
    bool OneIn(size_t n) { return Below(n) == 0; }
    template <class T, size_t N>
    const T& Pick(const T (&items)[N]) { return items[Below(N)]; }

private:
    std::mt19937_64 m_engine;
};

inline std::string Digits(Random& r, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('0' + r.Below(10));
    return s;
}

// "%d" input: blanks, a sign, digits (sometimes none, sometimes far too many).
inline std::string NumberText(Random& r) {
    static const char* const kBlanks[] = {"", "", "", "", " ", "\t", "\n", "  ", "\v\f\r", " \t"};
    static const char* const kSigns[] = {"", "", "", "", "", "", "+", "+", "-", "-", "-", "+", "", "", "+-", "--"};
    std::string s = std::string(r.Pick(kBlanks)) + r.Pick(kSigns);
    switch (r.Below(32)) {
        case 0: return s;
        case 1: case 2: return s + Digits(r, 10 + r.Below(50));
        case 3: return s + "2147483648";
        case 4: return s + "4294967296";
        default: return s + Digits(r, 1 + r.Below(4));
    }
}

// A time text that is mostly right: either separator, any blank between
// date and time, a trailer, now and then a wrong character put in or one
// dropped, or the text cut short.
inline std::string TimeText(Random& r) {
    static const char kWrong[] = {'.', 'x', ' ', '/', '-', ':', '+', '\t', '0', 'T'};
    static const char* const kMiddles[] = {" ", " ", " ", " ", "", "\t", "  ", "\n", " \t ", "\xa0"};
    static const char* const kTrailers[] = {"", "", "", " ", "x", "123", ":7", " +08:00", "\x80\xff"};
    const char date = r.OneIn(2) ? '/' : '-';
    auto sep = [&](char good) { return r.OneIn(20) ? r.Pick(kWrong) : good; };
    std::string s = NumberText(r) + sep(date) + NumberText(r) + sep(date) + NumberText(r) + r.Pick(kMiddles) +
                    NumberText(r) + sep(':') + NumberText(r) + sep(':') + NumberText(r) + r.Pick(kTrailers);
    if (r.OneIn(6)) {
        const size_t at = r.Below(s.size() + 1);
        s.insert(at, 1, r.OneIn(3) ? static_cast<char>(1 + r.Below(255)) : r.Pick(kWrong));
    }
    if (r.OneIn(8) && !s.empty()) s.erase(r.Below(s.size()), 1);
    if (r.OneIn(10)) s.resize(r.Below(s.size() + 1));
    return s;
}

// A wide character of one of the classes a conversion treats apart.
inline int32_t WideChar(Random& r) {
    switch (r.Below(8)) {
        case 0: return static_cast<int32_t>(r.Below(0x80));
        case 1: return static_cast<int32_t>(0x80 + r.Below(0x80));           // Latin-1
        case 2: return static_cast<int32_t>(0x100 + r.Below(0xFF00));        // BMP, surrogates too
        case 3: return static_cast<int32_t>(0x10000 + r.Below(0x100000));    // astral
        case 4: return static_cast<int32_t>(0x110000 + r.Below(0x7FEEFFFF)); // past U+10FFFF
        case 5: return -static_cast<int32_t>(1 + r.Below(0x7FFFFFFF));       // negative
        case 6: return r.OneIn(2) ? 0x3000 : 0xFF10 + static_cast<int32_t>(r.Below(10));  // wide blank, digits
        default: return r.OneIn(2) ? 0xA0 : 0x85;
    }
}

// The wide form of a time text: its characters, now and then one of
// another class in its place or put in, often stretched by leading blanks
// or a trailer to around the 255 bytes a conversion keeps.
inline std::vector<int32_t> WideTimeText(Random& r) {
    std::string narrow = TimeText(r);
    if (r.OneIn(3)) narrow.insert(0, 230 + r.Below(30), r.OneIn(2) ? ' ' : '0');
    if (r.OneIn(4)) narrow.append(240 + r.Below(30) - std::min<size_t>(narrow.size(), 240), 'x');
    std::vector<int32_t> wide(narrow.begin(), narrow.end());
    for (int32_t& c : wide) c = static_cast<unsigned char>(c);
    for (size_t i = 0, n = r.OneIn(3) ? 1 + r.Below(3) : 0; i < n; ++i) {
        const size_t at = r.Below(wide.size() + 1);
        if (at < wide.size() && r.OneIn(2))
            wide[at] = WideChar(r);
        else
            wide.insert(wide.begin() + static_cast<std::ptrdiff_t>(at), WideChar(r));
    }
    for (int32_t& c : wide)
        if (c == 0) c = ' ';
    return wide;
}

const uint32_t kBoundaryIntegers[] = {0,          1,          2,          3,          4,          5,
                                      99,         100,        101,        102,        103,        0x7FFF,
                                      0x8000,     0xFFFF,     0x10000,    0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                                      0xFFFF8000, 0xFFFF7FFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFF9C, 0xFFFFFF9B};

}  // namespace difftest

#endif  // EN_TESTS_DIFFERENTIAL_GENERATORS_H
