// The exported functions of the shared library against the plain validator
// (PlainValidator.h): every message of a generated corpus against every
// grammar and a few types without one, records compared byte for byte.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BlobMessageParser.h"
#include "DataConstraint.h"
#include "EntryStream.h"
#include "Exceptions.h"
#include "Generators.h"
#include "MessageKinds.h"
#include "PlainValidator.h"
#include "Samples.h"
#include "TestMessages.h"

namespace {

namespace fs = std::filesystem;
using difftest::Random;
typedef std::vector<unsigned char> Bytes;

using difftest::Scaled;

// ------------------------------------------------------------ the sides

struct Kind {
    bool bLog;
    x_int32 nMsgType;
};

// The fourteen grammars, then log types without grammar.
const std::vector<Kind>& Kinds() {
    static const std::vector<Kind> kinds = [] {
        std::vector<Kind> k;
        for (size_t i = 0; i < enfuzz::kKindCount; ++i) k.push_back({enfuzz::KindAt(i).bLog, enfuzz::KindAt(i).nMsgType});
        for (x_int32 t : {0, 1502, INT_MIN}) k.push_back({true, t});
        return k;
    }();
    return kinds;
}

// The entry points as the shared library exports them, looked up in it.
struct FastPath {
    void (*log)(void*, x_int32, EN_VALIDATE_RESULT*);
    void (*reg)(void*, EN_VALIDATE_RESULT*);

    static const FastPath& Get() {
        static const FastPath f;
        return f;
    }

private:
    FastPath() {
        void* lib = dlopen(EN_VALIDATION_LIBRARY, RTLD_NOW);
        void* l = lib != nullptr ? dlsym(lib, "En_Validate_Log") : nullptr;
        void* r = lib != nullptr ? dlsym(lib, "En_Validate_RegisterData") : nullptr;
        if (l == nullptr || r == nullptr) {
            const char* error = dlerror();
            throw std::runtime_error(std::string("loading the library: ") + (error ? error : "no entry points"));
        }
        std::memcpy(&log, &l, sizeof l);
        std::memcpy(&reg, &r, sizeof r);
    }
};

std::string Escaped(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        char buf[8];
        std::snprintf(buf, sizeof buf, *p < 0x20 || *p >= 0x7F || *p == '\\' ? "\\x%02X" : "%c", *p);
        out += buf;
    }
    return out;
}

std::string Describe(const EN_VALIDATE_RESULT& r) {
    return std::to_string(r.nCode) + " '" + Escaped(r.szMessage) + "'";
}

std::string Hex(const unsigned char* p, size_t n) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", p[i]);
        out += buf;
        if (i % 4 == 3 && i + 1 < n) out += ' ';
    }
    return out;
}

// ------------------------------------------------------- result patterns

// Every text a record can hold: its code, how it starts and a part it
// holds (null: the whole text is the start).
struct Pattern {
    int code;
    const char* start;
    const char* part;
};

const Pattern kPatterns[] = {
    {0, "", nullptr},
    {101, "Node(ID: ", ") is unexpected under group '"},
    {101, "Node(ID: ", "', but Node(ID: "},
    {101, "EndOfGroup tag of ID(", ") is expected, but ID("},
    {101, "Node (ID: ", "' for more than once. "},
    {101, "Missing required node(ID: ", ") under group '"},
    {101, "Node(ID: ", ") is unexpected after group 'Root' is closed."},
    {101, "Group 'Root' is closed before the end of the message.", nullptr},
    {102, "'", ""},
    {102, "Data(ID: ", ") is not compliant with constraint(ID: "},
    {300, "CBlobReader::Pop() failed. -1001 is returned.", nullptr},
    {300, "CBlobReader::Pop() failed. -1002 is returned.", nullptr},
    {300, "CBlobReader::Pop() failed. -1003 is returned.", nullptr},
    {300, "CBlobReader::Pop() failed. -1004 is returned.", nullptr},
    {300, "CBlobReader::Pop() failed. -1005 is returned.", nullptr},
    {103, "pMsgHandle is NULL.", nullptr},
    {104, "Unknown MsgType=", "."},
};
constexpr size_t kPatternCount = grammar::CountOf(kPatterns);

std::string Describe(const Pattern& p) {
    return std::to_string(p.code) + " '" + p.start + (p.part ? std::string("...") + p.part : "") + "'";
}

// The index of the pattern a record holds; kPatternCount for none.
size_t Classify(const EN_VALIDATE_RESULT& r) {
    for (size_t i = 0; i < kPatternCount; ++i) {
        const Pattern& p = kPatterns[i];
        if (r.nCode != p.code) continue;
        if (p.part == nullptr ? std::strcmp(r.szMessage, p.start) == 0
                              : std::strncmp(r.szMessage, p.start, std::strlen(p.start)) == 0 &&
                                    std::strstr(r.szMessage, p.part) != nullptr)
            return i;
    }
    return kPatternCount;
}

// -------------------------------------------------------------- entries

struct Entry {
    x_uint32 id, type;
    Bytes value;
    bool operator==(const Entry& o) const { return id == o.id && type == o.type && value == o.value; }
};

// starts receives the offset of every entry.
Bytes Join(const std::vector<Entry>& entries, std::vector<size_t>* starts = nullptr) {
    Bytes out;
    for (const Entry& e : entries) {
        if (starts) starts->push_back(out.size());
        const x_uint32 h[3] = {e.id, e.type, static_cast<x_uint32>(e.value.size())};
        out.insert(out.end(), reinterpret_cast<const unsigned char*>(h), reinterpret_cast<const unsigned char*>(h + 3));
        out.insert(out.end(), e.value.begin(), e.value.end());
        out.resize(out.size() + (4 - e.value.size() % 4) % 4, 0);
    }
    return out;
}

// The entries of a blob and the code that ends the walk, by the rules of
// docs/blob-format.md: header size, value bounds, then the value's shape
// (unless shapes is false); the padding after the last entry may be left out.
int PlainWalk(const Bytes& blob, std::vector<Entry>& out, bool shapes = true) {
    out.clear();
    for (size_t pos = 0;;) {
        const size_t left = blob.size() - pos;
        if (left == 0) return BLOB_END_OF_DATA;
        x_uint32 h[3];
        if (left < sizeof h) return BLOB_ERR_SHORT_HEADER;
        std::memcpy(h, blob.data() + pos, sizeof h);
        const size_t length = h[2];
        if (length > left - sizeof h) return BLOB_ERR_VALUE_OVERRUN;
        const unsigned char* v = blob.data() + pos + sizeof h;
        static const unsigned char kZero[4] = {0, 0, 0, 0};
        switch (shapes ? h[1] : DT_BYTES) {
            case DT_INT16:
            case DT_UINT16: if (length != 2) return BLOB_ERR_INT_LENGTH; break;
            case DT_INT32:
            case DT_UINT32: if (length != 4) return BLOB_ERR_INT_LENGTH; break;
            case DT_STRING: if (length == 0 || v[length - 1] != 0) return BLOB_ERR_BAD_STRING; break;
            case DT_WSTRING:
                if (length == 0 || length % 4 != 0 || std::memcmp(v + length - 4, kZero, 4) != 0) return BLOB_ERR_BAD_WSTRING;
                break;
            default: break;
        }
        out.push_back({h[0], h[1], Bytes(v, v + length)});
        pos = std::min(blob.size(), pos + sizeof h + length + (4 - length % 4) % 4);
    }
}

// The same from the blob reader; a failure must stay at its entry.
int ReaderWalk(void* h, std::vector<Entry>& out) {
    out.clear();
    std::unique_ptr<CBlobReader, void (*)(CBlobReader*)> reader(CreateINVPBlobReader(), FreeINVPBlobReader);
    reader->Attach(En_Msg_GetBuffer(h), En_Msg_BytesUsed(h));
    Entry e;
    const void* value = nullptr;
    x_uint32 length = 0;
    int rc;
    while ((rc = reader->Pop(&e.id, &e.type, &value, &length)) == 0) {
        const unsigned char* v = static_cast<const unsigned char*>(value);
        out.push_back({e.id, e.type, Bytes(v, v + length)});
    }
    return rc == BLOB_END_OF_DATA || reader->Pop(&e.id, &e.type, &value, &length) == rc ? rc : 1;
}

// Validates messages on both sides against every kind and keeps count.
class Differ {
public:
    Differ() : m_h(En_Msg_Create()) {}
    ~Differ() { En_Msg_Destroy(m_h); }
    Differ(const Differ&) = delete;
    Differ& operator=(const Differ&) = delete;

    // A null blob stands for a null handle.
    void Check(const Bytes* blob, const std::string& source) {
        if (blob != nullptr) En_Msg_Load(m_h, blob->data(), blob->size());
        void* h = blob != nullptr ? m_h : nullptr;
        const FastPath& fast = FastPath::Get();
        for (const Kind& k : Kinds()) {
            EN_VALIDATE_RESULT f, p;
            std::memset(&f, 0x5a, sizeof f);
            std::memset(&p, 0x5a, sizeof p);
            if (k.bLog) {
                fast.log(h, k.nMsgType, &f);
                plain::ValidateLog(h, k.nMsgType, &p);
            } else {
                fast.reg(h, &f);
                plain::ValidateRegisterData(h, &p);
            }
            ++validations;
            const size_t pattern = Classify(p);
            ++hits[pattern];
            if (std::strlen(p.szMessage) == EN_VALIDATE_MESSAGE_SIZE - 2) ++cutTexts;
            if (pattern == kPatternCount && hits[pattern] <= 5)
                ADD_FAILURE() << "record of no known pattern: " << Describe(p) << " (" << source << ")";
            if (std::memcmp(&f, &p, sizeof f) != 0 && ++mismatches <= 5)
                ADD_FAILURE() << source << ", " << (k.bLog ? "log " + std::to_string(k.nMsgType) : "registration")
                              << ", locale " << std::setlocale(LC_ALL, nullptr) << "\n  message: "
                              << (blob ? Hex(blob->data(), blob->size()) : "(null handle)")
                              << "\n  library: " << Describe(f) << "\n  plain:   " << Describe(p);
        }
    }

    // The blob reader walks the message as the plain rules do.
    void CheckReader(const Bytes& blob, const std::string& source) {
        En_Msg_Load(m_h, blob.data(), blob.size());
        std::vector<Entry> read, plain;
        const int rc = ReaderWalk(m_h, read), want = PlainWalk(blob, plain);
        ++walks;
        if ((rc != want || read != plain) && ++mismatches <= 5)
            ADD_FAILURE() << source << ": the reader delivers " << read.size() << " entries and " << rc
                          << ", the plain walk " << plain.size() << " and " << want
                          << "\n  message: " << Hex(blob.data(), blob.size());
    }

    size_t validations = 0, walks = 0, mismatches = 0, cutTexts = 0;
    size_t hits[kPatternCount + 1] = {};  // the last: records of no known pattern

private:
    void* m_h;
};

Bytes Wide(const std::vector<int32_t>& text) {
    Bytes out((text.size() + 1) * 4, 0);
    if (!text.empty()) std::memcpy(out.data(), text.data(), text.size() * 4);
    return out;
}

Bytes Integer(x_uint32 v, size_t width) {
    Bytes out(width);
    std::memcpy(out.data(), &v, width);  // little-endian: the low bytes
    return out;
}

bool HasNonAsciiWide(const Bytes& blob) {
    std::vector<Entry> entries;
    PlainWalk(blob, entries, false);
    for (const Entry& e : entries)
        for (size_t i = 0; e.type == DT_WSTRING && i + 4 <= e.value.size(); i += 4) {
            int32_t c;
            std::memcpy(&c, e.value.data() + i, 4);
            if (c < 0 || c > 0x7f) return true;
        }
    return false;
}

// A grammar's rows, for mutations that use its own IDs and types.
struct GrammarRows {
    std::vector<grammar::NodeRow> items;
    std::vector<x_uint32> groups;
};

const GrammarRows& RowsOf(size_t kind) {
    static const std::vector<GrammarRows> rows = [] {
        std::vector<GrammarRows> all(enfuzz::kKindCount);
        for (size_t k = 0; k < enfuzz::kKindCount; ++k)
            grammar::ForEachRow(*enfuzz::KindAt(k).pTable, [&](const grammar::NodeRow& r, const char*) {
                if (r.eKind == grammar::NodeKind::Group)
                    all[k].groups.push_back(r.nID);
                else
                    all[k].items.push_back(r);
            });
        return all;
    }();
    return rows[kind % enfuzz::kKindCount];
}

// A few entries of the grammar made by the entry stream decoder from
// random bytes.
std::vector<Entry> StreamEntries(Random& r, size_t kind, size_t maxBytes) {
    std::vector<uint8_t> stream(2 + r.Below(maxBytes));
    for (uint8_t& b : stream) b = static_cast<uint8_t>(r.Next());
    stream[0] = static_cast<uint8_t>(kind);
    void* h = En_Msg_Create();
    enfuzz::DecodeStream(stream.data(), stream.size(), h);
    const unsigned char* p = static_cast<const unsigned char*>(En_Msg_GetBuffer(h));
    std::vector<Entry> out;
    PlainWalk(Bytes(p, p + En_Msg_BytesUsed(h)), out, false);
    En_Msg_Destroy(h);
    return out;
}

// One to three changes to the entries of a message made for the kind,
// sometimes followed by a change to the bytes of an entry's header or to
// the blob's length.
Bytes Mutate(const Bytes& base, size_t kind, Random& r) {
    static const x_uint32 kTypes[] = {1, 2, 3, 4, 5, 6, 7, 0, 8, 99, 100, 101, 102, 0xFFFFFFFF};
    const GrammarRows& g = RowsOf(kind);
    std::vector<Entry> es;
    PlainWalk(base, es, false);
    auto pos = [&](size_t extra) { return es.begin() + static_cast<std::ptrdiff_t>(r.Below(es.size() + extra)); };
    auto anyID = [&]() -> x_uint32 {
        switch (r.Below(6)) {
            case 0: return static_cast<x_uint32>(r.Next());
            case 1: return g.groups.empty() ? 0 : g.groups[r.Below(g.groups.size())];
            case 2: {  // another grammar's
                const GrammarRows& o = RowsOf(r.Below(enfuzz::kKindCount));
                return o.items[r.Below(o.items.size())].nID;
            }
            default: return g.items[r.Below(g.items.size())].nID;
        }
    };
    auto timeItem = [&](x_uint32 id) {
        return std::any_of(g.items.begin(), g.items.end(),
                           [&](const grammar::NodeRow& row) { return row.nID == id && row.nConstraintID != 0; });
    };
    for (size_t step = 0, steps = 1 + r.Below(3); step < steps; ++step) {
        Entry* one = es.empty() ? nullptr : &es[r.Below(es.size())];
        const size_t op = r.Below(14);
        if (one == nullptr && op <= 6) continue;
        switch (op) {
            case 0: one->id = r.OneIn(3) ? one->id + static_cast<x_uint32>(r.Below(3)) - 1 : anyID(); break;
            case 1: one->type = r.Pick(kTypes); break;
            case 2:
                if (!one->value.empty()) one->value[r.Below(one->value.size())] ^= static_cast<unsigned char>(1 + r.Below(255));
                break;
            case 3: es.erase(pos(0)); break;
            case 4: es.insert(pos(1), Entry(*one)); break;
            case 5: std::swap(*one, es[r.Below(es.size())]); break;
            case 6: one->value.resize(r.OneIn(2) ? r.Below(one->value.size() + 1) : one->value.size() + 1 + r.Below(4)); break;
            case 7: es.insert(pos(1), Entry{r.OneIn(3) ? 0 : anyID(), DT_END_OF_GROUP, {}}); break;
            case 8:
                if (!g.groups.empty()) es.insert(pos(1), Entry{g.groups[r.Below(g.groups.size())], DT_GROUP, {}});
                break;
            case 9:  // an entry repeated where it stands
                if (one) es.insert(es.begin() + (one - es.data()), Entry(*one));
                break;
            case 10: {  // a time text in every wide item with a constraint, or in one wide item
                const bool all = r.OneIn(2);
                for (Entry& e : es)
                    if (e.type == DT_WSTRING && (all ? timeItem(e.id) : &e == one)) e.value = Wide(difftest::WideTimeText(r));
                break;
            }
            case 11:  // boundary or random integers in the integer items
                for (Entry& e : es) {
                    const size_t width = e.type == DT_INT16 || e.type == DT_UINT16   ? 2
                                         : e.type == DT_INT32 || e.type == DT_UINT32 ? 4
                                                                                      : 0;
                    if (width == 0 || (&e != one && !r.OneIn(4))) continue;
                    e.value = Integer(r.OneIn(4) ? static_cast<x_uint32>(r.Next()) : r.Pick(difftest::kBoundaryIntegers), width);
                }
                break;
            case 12: {
                const std::vector<Entry> made = StreamEntries(r, kind, 24);
                es.insert(pos(1), made.begin(), made.end());
                break;
            }
            default:  // the root closed, then the rest of the message or nothing
                es.insert(r.OneIn(2) ? es.end() : pos(1), Entry{0, DT_END_OF_GROUP, {}});
                break;
        }
    }
    std::vector<size_t> starts;
    Bytes blob = Join(es, &starts);
    if (!r.OneIn(6) || blob.empty()) return blob;
    const size_t at = starts.empty() ? 0 : starts[r.Below(starts.size())];
    switch (r.Below(4)) {
        case 0: blob[at + r.Below(12)] = static_cast<unsigned char>(r.Next()); break;
        case 1: {  // the value length
            static const int64_t kDeltas[] = {-4, -1, 1, 3, 4, 0x7FFFFFFF, -0x7FFFFFFF};
            x_uint32 length;
            std::memcpy(&length, &blob[at + 8], 4);
            length = r.OneIn(4) ? static_cast<x_uint32>(r.Next()) : static_cast<x_uint32>(length + r.Pick(kDeltas));
            std::memcpy(&blob[at + 8], &length, 4);
            break;
        }
        case 2: blob.resize(r.Below(blob.size())); break;
        default: blob.resize(blob.size() + 1 + r.Below(11), static_cast<unsigned char>(r.Next())); break;
    }
    return blob;
}

// ----------------------------------------------------------- the corpus

struct Base {
    Bytes blob;
    size_t kind;  // the grammar it was made for (kKindCount: none)
    std::string source;
};

Bytes HandleBytes(const testmsg::Msg& m) { return Bytes(m.bytes(), m.bytes() + m.size()); }

// Complete messages of every grammar (every group 0 to 3 times, and with
// each root node left out), the reference cases, the examples, the kept
// fuzz corpora and crash inputs.
std::vector<Base> Bases() {
    std::vector<Base> out;
    for (size_t k = 0; k < enfuzz::kKindCount; ++k) {
        const grammar::GrammarTable& table = *enfuzz::KindAt(k).pTable;
        const std::string name = table.pszClass;
        for (int n = 0; n <= 3; ++n) {
            testmsg::Msg m;
            testmsg::AppendCompleteMessage(m, table, {}, n);
            out.push_back({HandleBytes(m), k, name + " complete, groups x" + std::to_string(n)});
        }
        grammar::ForEachRow(table, [&](const grammar::NodeRow& row, const char*) {
            if (row.nDepth != 0) return;
            testmsg::Msg m;
            testmsg::AppendCompleteMessage(m, table, {row.nID}, 2);
            out.push_back({HandleBytes(m), k, name + " without node " + std::to_string(row.nID)});
        });
    }
    auto addSamples = [&](const std::vector<hardening::Sample>& samples, const std::string& source) {
        for (size_t i = 0; i < samples.size(); ++i)
            out.push_back({samples[i].blob, enfuzz::KindIndex(samples[i].bLog, samples[i].nMsgType),
                           source + " #" + std::to_string(i)});
    };
    addSamples(hardening::ConformanceCases(), "reference case");
    addSamples(hardening::JsonMessages(EN_SOURCE_DIR "/examples"), "example");
    for (const char* dir : {"corpus/blob", "regressions/blob", "corpus/entries", "regressions/entries"}) {
        const fs::path path = fs::path(EN_SOURCE_DIR "/fuzz") / dir;
        if (!fs::is_directory(path)) continue;
        std::vector<fs::path> files;
        for (const fs::directory_entry& e : fs::directory_iterator(path))
            if (e.is_regular_file() && e.path().filename() != "README.md") files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (const fs::path& f : files) {
            const std::string bytes = hardening::ReadFile(f.string());
            Base b{Bytes(bytes.begin(), bytes.end()), enfuzz::kKindCount, std::string("fuzz/") + dir + "/" + f.filename().string()};
            if (std::strstr(dir, "entries") != nullptr) {
                testmsg::Msg m;
                b.kind = enfuzz::DecodeStream(b.blob.data(), b.blob.size(), m.get());
                b.blob = HandleBytes(m);
            }
            out.push_back(std::move(b));
        }
    }
    return out;
}

// ---------------------------------------------------------------- tests

TEST(Differential, EveryMessageAgainstEveryGrammar) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    const bool utf8 = std::setlocale(LC_ALL, "C.UTF-8") != nullptr;
    std::setlocale(LC_ALL, "C");
    const auto start = std::chrono::steady_clock::now();
    Differ d;
    size_t messages = 0, utf8Messages = 0;
    auto check = [&](const Bytes* blob, const std::string& source) {
        d.Check(blob, source);
        if (blob != nullptr) d.CheckReader(*blob, source);
        ++messages;
        if (!utf8 || blob == nullptr || !HasNonAsciiWide(*blob)) return;
        std::setlocale(LC_ALL, "C.UTF-8");
        d.Check(blob, source);
        std::setlocale(LC_ALL, "C");
        ++utf8Messages;
    };

    check(nullptr, "null handle");
    const std::vector<Base> bases = Bases();
    for (const Base& b : bases) check(&b.blob, b.source);

    Random r(20261206);
    const size_t streams = Scaled(15000), mutations = Scaled(85000);
    for (size_t i = 0; i < streams; ++i) {
        const std::vector<Entry> entries = StreamEntries(r, r.Below(enfuzz::kKindCount), 96);
        const Bytes blob = Join(entries);
        check(&blob, "entry stream #" + std::to_string(i));
    }
    for (size_t i = 0; i < mutations; ++i) {
        const Base& b = bases[r.Below(bases.size())];
        const Bytes blob = Mutate(b.blob, b.kind < enfuzz::kKindCount ? b.kind : r.Below(enfuzz::kKindCount), r);
        check(&blob, "mutation #" + std::to_string(i) + " of " + b.source);
    }

    std::printf("%zu messages (%zu bases, %zu entry streams, %zu mutations, %zu also under C.UTF-8), "
                "%zu validations per side and %zu reader walks in %.1f s\n",
                messages, bases.size(), streams, mutations, utf8Messages, d.validations, d.walks,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    for (size_t p = 0; p < kPatternCount; ++p) std::printf("  %8zu  %s\n", d.hits[p], Describe(kPatterns[p]).c_str());
    std::printf("  %8zu  texts cut at 254 characters\n", d.cutTexts);
    EXPECT_EQ(d.mismatches, 0u) << "records that differ";
    EXPECT_EQ(d.hits[kPatternCount], 0u) << "records of no known pattern";
    for (size_t p = 0; p < kPatternCount; ++p) EXPECT_GT(d.hits[p], 0u) << "never seen: " << Describe(kPatterns[p]);
    EXPECT_GT(d.cutTexts, 0u);
    if (utf8) {
        EXPECT_GT(utf8Messages, 0u);
    }
}

// ------------------------------------------------- constraints no grammar uses

// Grammars built from a table of one's own.
class TableGrammar : public CBlobGrammar {
public:
    explicit TableGrammar(const grammar::GrammarTable& table) { _Build(table); }
};

// The code and text a check throws, or "0".
template <class Check>
std::string Outcome(Check check) {
    try {
        check();
        return "0";
    } catch (const CExceptionBase& e) {
        return std::to_string(e.m_nErrCode) + " " + e.m_szErrMsg;
    }
}

// A well-formed value of the type: time texts and short ones, byte arrays
// up to 8 bytes, boundary and random integers.
Bytes ValueOf(x_uint32 type, Random& r) {
    switch (type) {
        case DT_STRING: {
            std::string s = r.OneIn(2) ? difftest::TimeText(r) : std::string(r.Below(8), 'a');
            const char* text = s.c_str();
            return Bytes(text, text + std::strlen(text) + 1);
        }
        case DT_WSTRING: return Wide(r.OneIn(2) ? difftest::WideTimeText(r) : std::vector<int32_t>(r.Below(8), 'w'));
        case DT_BYTES: return Bytes(r.Below(9), 0xab);
        default:
            return Integer(r.OneIn(3) ? static_cast<x_uint32>(r.Next()) : r.Pick(difftest::kBoundaryIntegers),
                           type <= DT_UINT16 ? 2 : 4);
    }
}

// Every kind of constraint, groups of both modes (nested, empty, with a
// member that is not registered) on an item of every data type, and an
// item naming no registered constraint: messages of one to three such
// items through the library's parser and the plain one, and the first
// item through CBlobGrammar::VerifyDataConstraint and the plain check.
TEST(Differential, EveryConstraintKindOnEveryDataType) {
    using grammar::ConstraintKind;
    static const x_uint32 kRanges[] = {2, 3}, kLengthTime[] = {1, 4}, kNested[] = {5, 6}, kBroken[] = {4, 99};
    static const grammar::ConstraintRow kConstraints[] = {
        {ConstraintKind::Length, "Len", 1, 2, 5, nullptr, 0},
        {ConstraintKind::UnsignedRange, "URange", 2, 10, 0xFFFFFFF0LL, nullptr, 0},
        {ConstraintKind::SignedRange, "SRange", 3, -5, 5, nullptr, 0},
        {ConstraintKind::TimeFormat, "TimeFormat", 4, 0, 0, nullptr, 0},
        {ConstraintKind::AnyOf, "AnyRange", 5, 0, 0, kRanges, 2},
        {ConstraintKind::AllOf, "AllLenTime", 6, 0, 0, kLengthTime, 2},
        {ConstraintKind::AllOf, "AllNested", 7, 0, 0, kNested, 2},
        {ConstraintKind::AnyOf, "AnyNested", 8, 0, 0, kNested, 2},
        {ConstraintKind::AnyOf, "AnyBroken", 9, 0, 0, kBroken, 2},
        {ConstraintKind::AllOf, "AllBroken", 10, 0, 0, kBroken, 2},
        {ConstraintKind::AnyOf, "AnyEmpty", 11, 0, 0, nullptr, 0},
        {ConstraintKind::SignedRange, "Negative", 12, INT_MIN, -1, nullptr, 0},
    };
    const x_uint32 kConstraintIDs[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 77};
    std::deque<std::string> names;
    std::vector<grammar::NodeRow> rows;
    for (x_uint32 type = DT_STRING; type <= DT_UINT32; ++type)
        for (x_uint32 c : kConstraintIDs) {
            names.push_back("T" + std::to_string(type) + "C" + std::to_string(c));
            rows.push_back({0, grammar::NodeKind::Item, names.back().c_str(), type * 100 + c, type, false, c});
        }
    const grammar::RowSpan span = {rows.data(), rows.size()};
    const grammar::GrammarTable table = {"TableGrammar", 0, kConstraints, grammar::CountOf(kConstraints), &span, 1,
                                         nullptr, 0};
    const TableGrammar g(table);

    // Parts of the plain records that must each turn up.
    const char* const kExpected[] = {"102 Data(Len: ",
                                     "Name: 'URange') [10<=Value<=4294967280]",
                                     "Name: 'SRange') [-5<=Value<=5]",
                                     "Name: 'Negative') [-2147483648<=Value<=-1]",
                                     "' is not a valid time string",
                                     "300 Constraint(ID: 99) is undefined in the grammar.",
                                     "300 Constraint(ID: 77) is undefined in the grammar."};
    size_t seen[grammar::CountOf(kExpected)] = {}, accepted = 0, mismatches = 0;
    Random r(77);
    testmsg::Msg m;
    for (size_t i = 0, n = Scaled(100000); i < n; ++i) {
        std::vector<Entry> entries(1 + r.Below(3));
        for (Entry& e : entries) {
            const grammar::NodeRow& row = rows[r.Below(rows.size())];
            e = {row.nID, row.nDataType, ValueOf(row.nDataType, r)};
        }
        const Bytes blob = Join(entries);
        En_Msg_Load(m.get(), blob.data(), blob.size());
        std::vector<int32_t> aligned(entries[0].value.size() / 4 + 1);  // as the reader delivers values
        if (!entries[0].value.empty())
            std::memcpy(aligned.data(), entries[0].value.data(), entries[0].value.size());
        const CMsgEntry entry = {entries[0].id, entries[0].type, aligned.data(),
                                 static_cast<x_uint32>(entries[0].value.size())};
        const CNode& node = *g.GetRoot().GetSubNodes().Get(entry.m_nID);
        const std::string results[4] = {
            Outcome([&] { CBlobMessageParser().Parse(m.get(), g); }),
            Outcome([&] { plain::Parse(m.get(), g); }),
            Outcome([&] { g.VerifyDataConstraint(entry, node); }),
            Outcome([&] { plain::VerifyDataConstraint(entry, node, g); }),
        };
        for (const std::string& plain : {results[1], results[3]}) {
            accepted += plain == "0";
            for (size_t k = 0; k < grammar::CountOf(kExpected); ++k) seen[k] += plain.find(kExpected[k]) != std::string::npos;
        }
        if ((results[0] != results[1] || results[2] != results[3]) && ++mismatches <= 5)
            ADD_FAILURE() << "message " << Hex(blob.data(), blob.size()) << "\n  library: " << Escaped(results[0].c_str())
                          << "\n  plain:   " << Escaped(results[1].c_str()) << "\n  first item, library: "
                          << Escaped(results[2].c_str()) << "\n  first item, plain:   " << Escaped(results[3].c_str());
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(accepted, 0u);
    for (size_t k = 0; k < grammar::CountOf(kExpected); ++k) EXPECT_GT(seen[k], 0u) << "never seen: " << kExpected[k];
}

}  // namespace
