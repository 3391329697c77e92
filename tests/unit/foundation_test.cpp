// What every validation rests on: the exception and the violation, the result
// record, the per-thread cache and the blob reader (misaligned input: tests/hardening/edges_test.cpp).
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "BlobReader.h"
#include "Exceptions.h"
#include "TestMessages.h"
#include "ValidationResultAdaptor.h"
#include "Violation.h"
#include "my/ThreadCache.h"

namespace {

using testmsg::Msg;

// Both format their text once, cut at 1023 characters.
TEST(Exceptions, ABrokenGrammarAndAViolationCarryTheirCodeAndText) {
    try {
        throw CInternalErrorException("Node(ID: %u) in '%s' %d%%", 7u, "Grp", -3);
    } catch (const CExceptionBase& e) {
        EXPECT_EQ(e.m_nErrCode, 300);
        EXPECT_STREQ(e.m_szErrMsg, "Node(ID: 7) in 'Grp' -3%");
    }
    CViolation v;
    EXPECT_FALSE(v.Set(102, "Node(ID: %u) %s", 7u, "%d"));
    EXPECT_EQ(v.GetCode(), 102);
    EXPECT_STREQ(v.m_szErrMsg, "Node(ID: 7) %d");
    const std::string longText(2000, 'a');
    EXPECT_EQ(std::string(CInternalErrorException("%s!", longText.c_str()).m_szErrMsg), longText.substr(0, 1023));
    v.Set(101, "%s!", longText.c_str());
    EXPECT_EQ(std::string(v.m_szErrMsg), longText.substr(0, 1023));
}

// One object per thread, made on first use and deleted when the thread ends.
struct PerThread {
    static int s_Live;
    PerThread() { ++s_Live; }
    ~PerThread() { --s_Live; }
};
int PerThread::s_Live = 0;

TEST(ThreadCache, KeepsOneObjectPerThreadUntilTheThreadEnds) {
    PerThread* mine = my::CThreadCache<PerThread>::Get();
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(my::CThreadCache<PerThread>::Get(), mine);
    PerThread* theirs = nullptr;
    std::thread([&] {
        theirs = my::CThreadCache<PerThread>::Get();
        EXPECT_EQ(PerThread::s_Live, 2);
    }).join();
    EXPECT_NE(theirs, mine);
    EXPECT_EQ(PerThread::s_Live, 1);
}

TEST(ResultAdaptor, StartsWithUnknownErrorAndBoundsEveryText) {
    EN_VALIDATE_RESULT r;
    std::memset(&r, 'g', sizeof r);
    CValidationResultAdaptor adaptor(r);
    EXPECT_EQ(r.nCode, 100);
    EXPECT_STREQ(r.szMessage, "Unknown error");
    const std::string longText(400, 'b');
    adaptor.SetResult(102, "%s", longText.c_str());
    EXPECT_EQ(std::string(r.szMessage), longText.substr(0, 254));
    EXPECT_EQ(r.szMessage[255], 0);
    // A violation's text is copied, not formatted a second time.
    CViolation v;
    v.Set(102, "'%s' is not a valid time string", "%s%n%x");
    adaptor.SetResult(v);
    EXPECT_EQ(r.nCode, 102);
    EXPECT_STREQ(r.szMessage, "'%s%n%x' is not a valid time string");
}

int Pop(CBlobReader* reader, CMsgEntry& e) {
    return reader->Pop(&e.m_nID, &e.m_nDataType, &e.m_pData, &e.m_nDataLength);
}

TEST(BlobReader, ReportsEachMalformedEntryAndStaysThere) {
    const int kEnd = BLOB_END_OF_DATA;
    const struct {
        const char* what;
        std::function<void(Msg&)> build;
        size_t keep;  // bytes of the built blob handed to the reader; 0: all
        std::vector<int> pops;
    } kCases[] = {
        {"empty", [](Msg&) {}, 0, {kEnd, kEnd}},
        {"short header after an entry", [](Msg& m) { m.U32(1, 5).U32(2, 6); }, 27, {0, -1001, -1001}},
        {"value overrun", [](Msg& m) { m.U32(1, 5); }, 15, {-1002, -1002}},
        {"int16 of 4 bytes", [](Msg& m) { m.Raw(1, DT_INT16, "abcd", 4); }, 0, {-1003}},
        {"unterminated string", [](Msg& m) { m.Raw(1, DT_STRING, "ab", 2); }, 0, {-1004}},
        {"unterminated wide string", [](Msg& m) { m.Raw(1, DT_WSTRING, "a\0\0\0b\0\0\0", 8); }, 0, {-1005}},
        {"no padding after the last entry", [](Msg& m) { m.U32(1, 5).I16(2, 1); }, 30, {0, 0, kEnd}},
        {"unknown type code, any length", [](Msg& m) { m.Raw(1, 55, "abcde", 5); }, 0, {0, kEnd}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Msg m;
        c.build(m);
        CBlobReader* reader = CreateINVPBlobReader();
        reader->Attach(m.bytes(), c.keep != 0 ? static_cast<x_uint32>(c.keep) : m.size());
        for (int expected : c.pops) {
            CMsgEntry e = {0, 0, nullptr, 0};
            EXPECT_EQ(Pop(reader, e), expected);
        }
        FreeINVPBlobReader(reader);
    }
    // A reader is as new however often the thread's reader was used before.
    CBlobReader* unattached = CreateINVPBlobReader();
    CMsgEntry e;
    EXPECT_EQ(Pop(unattached, e), BLOB_ERR_NOT_ATTACHED);
    FreeINVPBlobReader(unattached);
}

}  // namespace
