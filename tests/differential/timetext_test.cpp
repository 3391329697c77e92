// The time text scanner (src/TimeText.h) against the C library calls it
// stands for: IsTimeText against the two sscanf calls, NarrowTimeText
// against wcstombs into a zeroed 256-byte buffer, under "C" and "C.UTF-8".
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "TimeText.h"

namespace {

// ------------------------------------------------- generated time texts

// EN_TIMETEXT_SCALE scales the generated inputs (ctest sets it, see
// CMakeLists.txt); without it (a run by hand, under valgrind) a twentieth
// is generated.
double Scale() {
    const char* s = std::getenv("EN_TIMETEXT_SCALE");
    return s != nullptr ? std::atof(s) : 0.05;
}
size_t Scaled(size_t n) { return std::max<size_t>(1, static_cast<size_t>(static_cast<double>(n) * Scale())); }

// Deterministic on every platform (the engine's output is fixed by the standard).
struct Random : std::mt19937_64 {
    explicit Random(uint64_t seed) : std::mt19937_64(seed) {}
    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>((*this)() % n); }
    bool OneIn(size_t n) { return Below(n) == 0; }
    template <class T, size_t N>
    const T& Pick(const T (&items)[N]) { return items[Below(N)]; }
};

std::string Digits(Random& r, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('0' + r.Below(10));
    return s;
}

// "%d" input: blanks, a sign, digits (sometimes none, sometimes far too many).
std::string NumberText(Random& r) {
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
std::string TimeText(Random& r) {
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
int32_t WideChar(Random& r) {
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
std::vector<int32_t> WideTimeText(Random& r) {
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

// ------------------------------------------------------------- the oracle

bool ScanfTimeText(const char* s) {
    int f[6];
    return std::sscanf(s, "%d/%d/%d %d:%d:%d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]) == 6 ||
           std::sscanf(s, "%d-%d-%d %d:%d:%d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]) == 6;
}

// The text in C escapes, quoted.
std::string Escaped(const std::string& s) { return ::testing::PrintToString(s); }

class TimeScanner : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (std::setlocale(LC_ALL, GetParam()) == nullptr) GTEST_SKIP() << "locale " << GetParam() << " is missing";
    }
    void TearDown() override {
        std::setlocale(LC_ALL, "C");
        EXPECT_EQ(m_failures, 0u) << "of " << m_checked;
        std::printf("%zu texts, %zu accepted\n", m_checked, m_accepted);
    }

    void Expect(const std::string& s) {
        const bool want = ScanfTimeText(s.c_str()), got = timetext::IsTimeText(s.c_str());
        ++m_checked;
        m_accepted += want;
        if (want != got && ++m_failures <= 5)
            ADD_FAILURE() << Escaped(s) << ": sscanf " << want << ", scanner " << got;
    }

    size_t m_checked = 0, m_accepted = 0, m_failures = 0;
};

// Every string up to six characters over an alphabet of every kind of
// character the formats tell apart, alone and after a prefix that leaves
// the scan in each of its states (before, in and after every number and
// separator); the prefixes take strings up to five characters.
TEST_P(TimeScanner, EveryShortStringInEveryState) {
    static const char kAlphabet[] = "1/-:+ \t\nx";
    static const char* const kPrefixes[] = {"",          "1",         "1/",          "-1-",      "1/+1",
                                            "1/1/",      "1-1-1",     "1/1/1 ",      "1-1-1\t1", "1/1/1 1:",
                                            "1-1-1 1:1", "1/1/1 1:1:", "1/1/1 1:1:-", "1/1/1 1:1:1"};
    const size_t letters = sizeof kAlphabet - 1;
    for (const char* prefix : kPrefixes) {
        const size_t longest = *prefix == 0 ? 6 : Scale() < 1 ? 4 : 5;
        for (size_t length = 0; length <= longest; ++length) {
            std::vector<size_t> digit(length, 0);
            std::string s = prefix + std::string(length, kAlphabet[0]);
            const size_t base = s.size() - length;
            for (;;) {
                Expect(s);
                size_t i = 0;
                for (; i < length && ++digit[i] == letters; ++i) {
                    digit[i] = 0;
                    s[base + i] = kAlphabet[0];
                }
                if (i == length) break;
                s[base + i] = kAlphabet[digit[i]];
            }
        }
    }
}

// Texts built from numbers with blanks and signs, digit runs that overflow
// int, right and wrong separators, trailers, characters put in or dropped.
TEST_P(TimeScanner, TextsFromFragments) {
    Random r(1);
    for (size_t i = 0, n = Scaled(300000); i < n; ++i) Expect(TimeText(r));
    EXPECT_GT(m_accepted, m_checked / 5);
}

// Every byte value in every position of time texts, in place of the
// character there and put in before it.
TEST_P(TimeScanner, EveryByteInEveryPosition) {
    for (const std::string base : {"2008/07/15 13:05:09", "-1-+2-3\t4:5:6 x", " +1/ -2/\n3 4: 5:+6", "1/2/3 4:5:6"}) {
        for (size_t at = 0; at <= base.size(); ++at)
            for (int c = 0; c < 256; ++c) {
                std::string s = base;
                if (at < s.size()) {
                    s[at] = static_cast<char>(c);
                    Expect(s);
                }
                Expect(base.substr(0, at) + static_cast<char>(c) + base.substr(at));
            }
    }
}

// NarrowTimeText is wcstombs(buffer, text, 255) into 256 zero bytes, on
// wide texts of every character class and of lengths around the cut; and
// the wide check as a whole (the shortcut, else the conversion scanned)
// decides as sscanf on that conversion.
TEST_P(TimeScanner, WideTextsConvertAsWcstombs) {
    Random r(2);
    size_t converted = 0;
    for (size_t i = 0, n = Scaled(100000); i < n; ++i) {
        std::vector<wchar_t> w;
        if (r.OneIn(2)) {
            for (int32_t c : WideTimeText(r)) w.push_back(static_cast<wchar_t>(c));
        } else {
            const size_t length = r.OneIn(2) ? 250 + r.Below(12) : r.Below(300);
            const size_t oneIn = 1 + r.Below(r.OneIn(2) ? 4 : 400);  // how rare characters past ASCII are
            for (size_t k = 0; k < length; ++k) {
                const int32_t c = r.OneIn(oneIn) ? WideChar(r) : static_cast<int32_t>(1 + r.Below(0x7f));
                w.push_back(static_cast<wchar_t>(c != 0 ? c : 'z'));
            }
        }
        w.push_back(0);
        char want[timetext::kNarrowBufferSize];
        std::memset(want, 0, sizeof want);
        converted += std::wcstombs(want, w.data(), sizeof want - 1) != static_cast<size_t>(-1);
        char buffer[timetext::kNarrowBufferSize];
        std::memset(buffer, 0x5a, sizeof buffer);
        const char* got = timetext::NarrowTimeText(w.data(), buffer);
        ++m_checked;
        const bool accepted = ScanfTimeText(want);
        m_accepted += accepted;
        const bool decided = timetext::IsWideTimeText(w.data()) || timetext::IsTimeText(got);
        if ((std::strcmp(got, want) != 0 || decided != accepted) && ++m_failures <= 5) {
            std::string hex;
            for (wchar_t c : w) hex += std::to_string(static_cast<long>(c)) + " ";
            ADD_FAILURE() << "wide text " << hex << "\n  wcstombs: " << Escaped(want) << " (" << accepted
                          << ")\n  scanner:  " << Escaped(got) << " (" << decided << ")";
        }
    }
    EXPECT_GT(converted, 0u);
    EXPECT_LT(converted, m_checked);
}

INSTANTIATE_TEST_SUITE_P(Locales, TimeScanner, ::testing::Values("C", "C.UTF-8"),
                         [](const ::testing::TestParamInfo<const char*>& locale) {
                             return std::string(locale.param[1] == 0 ? "C" : "CUTF8");
                         });

}  // namespace
