// Bad input at the edges: the blob reader never reads outside its buffer,
// records are written only inside their 260 bytes and never after a call
// returns, messages are never changed, and deep nesting ends in a verdict.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "BlobReader.h"
#include "En_Msg.h"
#include "RecordChecks.h"
#include "Samples.h"

namespace {

using hardening::Sample;
typedef std::vector<unsigned char> Bytes;

// ------------------------------------------------------------- blob reader

struct Popped {
    std::vector<Bytes> values;  // the values delivered, in order
    std::vector<x_uint32> ids;
    int rc;                     // the code that ended the walk
};

// Walks bytes copied to an exact-size heap block at the given misalignment,
// so that the address sanitizer sees any read outside them.
Popped Walk(const Bytes& blob, size_t misalign) {
    std::unique_ptr<unsigned char[]> block(new unsigned char[misalign + blob.size()]);
    unsigned char* data = block.get() + misalign;
    if (!blob.empty()) std::memcpy(data, blob.data(), blob.size());
    CBlobReader* reader = CreateINVPBlobReader();
    EXPECT_EQ(reader->Attach(data, static_cast<x_uint32>(blob.size())), 0);
    Popped out;
    for (;;) {
        x_uint32 id, type, length;
        const void* value;
        out.rc = reader->Pop(&id, &type, &value, &length);
        if (out.rc != 0) break;
        const unsigned char* v = static_cast<const unsigned char*>(value);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(v) % 4, 0u) << "values are 4-byte aligned";
        out.values.emplace_back(v, v + length);
        out.ids.push_back(id);
    }
    // A failure is sticky: the reader stays at the entry.
    x_uint32 id, type, length;
    const void* value;
    EXPECT_EQ(reader->Pop(&id, &type, &value, &length), out.rc);
    FreeINVPBlobReader(reader);
    return out;
}

struct ReaderCase {
    std::string name;
    Bytes blob;
    size_t entries;  // delivered before the walk ends
    int rc;          // the code that ends it
};

int ReaderCode(const std::string& name) {
    static const std::pair<const char*, int> kCodes[] = {
        {"END_OF_DATA", BLOB_END_OF_DATA},     {"SHORT_HEADER", BLOB_ERR_SHORT_HEADER},
        {"VALUE_OVERRUN", BLOB_ERR_VALUE_OVERRUN}, {"INT_LENGTH", BLOB_ERR_INT_LENGTH},
        {"BAD_STRING", BLOB_ERR_BAD_STRING},   {"BAD_WSTRING", BLOB_ERR_BAD_WSTRING}};
    for (const auto& c : kCodes)
        if (name == c.first) return c.second;
    ADD_FAILURE() << "unknown reader code " << name;
    return 0;
}

// reader_cases.txt: "CODE ENTRIES HEX...  # name" per line.
std::vector<ReaderCase> ReaderCases() {
    std::ifstream in(EN_HARDENING_DIR "/reader_cases.txt");
    std::vector<ReaderCase> cases;
    for (std::string line; std::getline(in, line);) {
        const size_t hash = line.find('#');
        std::istringstream fields(line.substr(0, hash));
        ReaderCase c;
        std::string code;
        if (!(fields >> code >> c.entries)) continue;
        c.rc = ReaderCode(code);
        for (std::string word; fields >> word && word != "-";)
            for (size_t i = 0; i + 1 < word.size(); i += 2)
                c.blob.push_back(static_cast<unsigned char>(std::stoul(word.substr(i, 2), nullptr, 16)));
        c.name = line.substr(hash + 1);
        cases.push_back(c);
    }
    EXPECT_GT(cases.size(), 20u);
    return cases;
}

TEST(BlobReader, EveryCaseEndsWithItsCodeAtEveryAlignment) {
    for (const ReaderCase& c : ReaderCases())
        for (size_t misalign = 0; misalign < 4; ++misalign) {
            const Popped p = Walk(c.blob, misalign);
            EXPECT_EQ(p.rc, c.rc) << c.name << ", misaligned by " << misalign;
            EXPECT_EQ(p.values.size(), c.entries) << c.name << ", misaligned by " << misalign;
        }
}

// Every prefix of every reference message: the reader delivers a prefix of
// the message's entries and ends with end of data, a short header or an
// overrun, never reading past the cut.
TEST(BlobReader, EveryPrefixOfEveryReferenceMessageStaysInBounds) {
    const std::vector<Sample> cases = hardening::ConformanceCases();
    for (size_t i = 0; i < cases.size(); i += 7) {
        const Bytes& blob = cases[i].blob;
        const Popped whole = Walk(blob, 0);
        for (size_t cut = 0; cut < blob.size(); ++cut) {
            const Popped p = Walk(Bytes(blob.begin(), blob.begin() + static_cast<std::ptrdiff_t>(cut)), cut % 4);
            ASSERT_LE(p.values.size(), whole.values.size());
            for (size_t e = 0; e < p.values.size(); ++e) ASSERT_EQ(p.values[e], whole.values[e]);
            if (p.rc == BLOB_END_OF_DATA || p.rc == BLOB_ERR_SHORT_HEADER || p.rc == BLOB_ERR_VALUE_OVERRUN) continue;
            // Otherwise the whole message fails at the same entry.
            ASSERT_EQ(p.rc, whole.rc) << "case " << i << " cut at " << cut;
            ASSERT_EQ(p.values.size(), whole.values.size()) << "case " << i << " cut at " << cut;
        }
    }
}

// ------------------------------------------------------------ the record

// Three pages, the outer two inaccessible; the record sits at the start or
// the end of the middle one, so a write outside its 260 bytes faults.
class GuardedRecord {
public:
    explicit GuardedRecord(bool bAtEnd) : m_page(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
        m_base = static_cast<unsigned char*>(
            mmap(nullptr, 3 * m_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        EXPECT_NE(m_base, MAP_FAILED);
        mprotect(m_base, m_page, PROT_NONE);
        mprotect(m_base + 2 * m_page, m_page, PROT_NONE);
        m_record = reinterpret_cast<EN_VALIDATE_RESULT*>(m_base + m_page +
                                                         (bAtEnd ? m_page - sizeof(EN_VALIDATE_RESULT) : 0));
    }
    ~GuardedRecord() { munmap(m_base, 3 * m_page); }
    GuardedRecord(const GuardedRecord&) = delete;
    GuardedRecord& operator=(const GuardedRecord&) = delete;

    EN_VALIDATE_RESULT& Record() { return *m_record; }
    void MakeReadOnly() { mprotect(m_base + m_page, m_page, PROT_READ); }

private:
    size_t m_page;
    unsigned char* m_base;
    EN_VALIDATE_RESULT* m_record;
};

struct Loaded {
    explicit Loaded(const Sample& s) : h(En_Msg_Create()) { En_Msg_Load(h, s.blob.data(), s.blob.size()); }
    ~Loaded() { En_Msg_Destroy(h); }
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
    void* h;
};

// Validates every reference message on a few threads, with records on the
// stack; a write to any other record faults or shows, and the messages
// must come out unchanged.
void ValidateAllOnThreads(const std::vector<Sample>& cases, size_t nThreads) {
    std::vector<std::thread> threads;
    std::vector<size_t> wrong(nThreads, 0);
    for (size_t t = 0; t < nThreads; ++t)
        threads.emplace_back([&, t] {
            for (size_t i = t; i < cases.size(); i += nThreads) {
                Loaded m(cases[i]);
                EN_VALIDATE_RESULT r;
                enfuzz::Validate(cases[i].bLog, cases[i].nMsgType, m.h, r);
                const unsigned char* p = static_cast<const unsigned char*>(En_Msg_GetBuffer(m.h));
                wrong[t] += !hardening::Mismatch(cases[i], r).empty() || En_Msg_BytesUsed(m.h) != cases[i].blob.size() ||
                            !std::equal(cases[i].blob.begin(), cases[i].blob.end(), p);
            }
        });
    for (std::thread& th : threads) th.join();
    for (size_t t = 0; t < nThreads; ++t) EXPECT_EQ(wrong[t], 0u) << "thread " << t;
}

TEST(Record, WrittenOnlyInsideItsBytesAndNeverAfterReturn) {
    const std::vector<Sample> cases = hardening::ConformanceCases();
    for (bool bAtEnd : {false, true}) {
        std::vector<std::unique_ptr<GuardedRecord>> kept;
        for (size_t i = 0; i < cases.size(); i += 25) {
            kept.emplace_back(new GuardedRecord(bAtEnd));
            EN_VALIDATE_RESULT& r = kept.back()->Record();
            std::memset(&r, 0x5A, sizeof r);
            Loaded m(cases[i]);
            enfuzz::Validate(cases[i].bLog, cases[i].nMsgType, m.h, r);
            ASSERT_EQ(hardening::Mismatch(cases[i], r), "") << "case " << i;
            kept.back()->MakeReadOnly();
        }
        GuardedRecord nullHandle(bAtEnd), unknownType(bAtEnd);
        En_Validate_RegisterData(nullptr, &nullHandle.Record());
        EXPECT_EQ(nullHandle.Record().nCode, EN_VALIDATE_NULL_HANDLE);
        EXPECT_STREQ(nullHandle.Record().szMessage, "pMsgHandle is NULL.");
        Loaded m(cases[0]);
        En_Validate_Log(m.h, -2147483647 - 1, &unknownType.Record());
        EXPECT_EQ(unknownType.Record().nCode, EN_VALIDATE_UNKNOWN_MSGTYPE);
        EXPECT_STREQ(unknownType.Record().szMessage, "Unknown MsgType=-2147483648.");
        nullHandle.MakeReadOnly();
        unknownType.MakeReadOnly();
        // The read-only records would fault if anything wrote them now.
        ValidateAllOnThreads(cases, 4);
    }
}

// ------------------------------------------------------- handle functions

// A source inside the handle's own buffer (a message appended to itself,
// reloaded from a part of itself): the bytes as they were before the call,
// also when the buffer grows and moves on the way.
TEST(Handle, TakesASourceInsideItsOwnBuffer) {
    enum Call { kBytes, kString, kLoad };
    // call, offset of the source in the buffer, its length (0: to the end)
    const struct { Call call; size_t from, length; } cases[] = {
        {kBytes, 0, 0}, {kBytes, 12, 0}, {kBytes, 100, 40}, {kString, 12, 231},
        {kLoad, 0, 0},  {kLoad, 12, 0},  {kLoad, 100, 40}};
    for (const auto& c : cases) {
        void* h = En_Msg_Create();
        ASSERT_EQ(En_Msg_AppendString(h, 1, std::string(230, 'a').c_str()), EN_MSG_OK);  // 244 of 256 bytes
        const auto* buffer = static_cast<const unsigned char*>(En_Msg_GetBuffer(h));
        const size_t used = En_Msg_BytesUsed(h), n = c.length ? c.length : used - c.from;
        const Bytes before(buffer, buffer + used), source(buffer + c.from, buffer + c.from + n);
        const int rc = c.call == kBytes ? En_Msg_AppendBytes(h, 2, buffer + c.from, static_cast<x_uint32>(n))
                       : c.call == kString ? En_Msg_AppendString(h, 2, reinterpret_cast<const char*>(buffer + c.from))
                                           : En_Msg_Load(h, buffer + c.from, n);
        ASSERT_EQ(rc, EN_MSG_OK);
        const auto* after = static_cast<const unsigned char*>(En_Msg_GetBuffer(h));
        const size_t value = c.call == kLoad ? 0 : used + BLOB_ENTRY_HEADER_SIZE;
        EXPECT_EQ(Bytes(after + value, after + value + n), source) << "call " << c.call << " from " << c.from;
        if (c.call != kLoad) {
            EXPECT_EQ(Bytes(after, after + used), before) << "call " << c.call << " from " << c.from;
        }
        En_Msg_Destroy(h);
    }
}

// ------------------------------------------------------------- deep nesting

constexpr size_t kDeep = 100000;

// Group begins or ends, kDeep of them, after a valid message of the kind.
TEST(DeepNesting, ThousandsOfGroupLevelsEndInASyntaxError) {
    const std::vector<Sample> cases = hardening::ConformanceCases();
    const std::vector<const Sample*> valid = hardening::FirstOfEachKind(cases, EN_VALIDATE_SUCCESS);
    for (size_t k = 0; k < grammar::kMessageKindCount; ++k) {
        ASSERT_NE(valid[k], nullptr);
        std::vector<x_uint32> groups = {0, 4242};
        grammar::ForEachRow(*grammar::kMessageKinds[k].pTable, [&](const grammar::NodeRow& row, const char*) {
            if (row.eKind == grammar::NodeKind::Group) groups.push_back(row.nID);
        });
        for (x_uint32 type : {static_cast<x_uint32>(DT_GROUP), static_cast<x_uint32>(DT_END_OF_GROUP)})
            for (x_uint32 id : groups) {
                Loaded m(*valid[k]);
                for (size_t i = 0; i < kDeep; ++i) ASSERT_EQ(En_Msg_AppendEntry(m.h, id, type, nullptr, 0), EN_MSG_OK);
                EN_VALIDATE_RESULT r;
                enfuzz::Validate(grammar::kMessageKinds[k], m.h, r);
                EXPECT_EQ(r.nCode, EN_VALIDATE_SYNTAX_ERROR) << "kind " << k << ", ID " << id << ", type " << type;
                EXPECT_EQ(enfuzz::RecordProblem(r), "");
            }
    }
}

}  // namespace
