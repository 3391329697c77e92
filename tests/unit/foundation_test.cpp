// What every validation rests on: the exceptions, the result record, the
// message handle and the blob reader.
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BlobReader.h"
#include "Exceptions.h"
#include "TestMessages.h"
#include "ValidationResultAdaptor.h"

namespace {

using testmsg::Msg;

template <class E>
void ExpectThrownAsBase(int code) {
    try {
        throw E("Node(ID: %u) in '%s' %d%%", 7u, "Grp", -3);
    } catch (const CExceptionBase& e) {
        EXPECT_EQ(e.m_nErrCode, code);
        EXPECT_STREQ(e.m_szErrMsg, "Node(ID: 7) in 'Grp' -3%");
        return;
    }
    ADD_FAILURE() << "not caught as CExceptionBase";
}

TEST(Exceptions, EachTypeCarriesItsCodeAndFormattedText) {
    ExpectThrownAsBase<CSyntaxErrorException>(101);
    ExpectThrownAsBase<CDataConstraintViolationException>(102);
    ExpectThrownAsBase<CInternalErrorException>(300);
}

TEST(Exceptions, TextIsCutAt1023Characters) {
    const std::string longText(2000, 'a');
    CInternalErrorException e("%s!", longText.c_str());
    EXPECT_EQ(std::strlen(e.m_szErrMsg), 1023u);
    EXPECT_EQ(std::string(e.m_szErrMsg), longText.substr(0, 1023));
}

EN_VALIDATE_RESULT Garbage() {
    EN_VALIDATE_RESULT r;
    std::memset(&r, 'g', sizeof r);
    return r;
}

TEST(ResultAdaptor, StartsWithUnknownErrorAndBoundsEveryText) {
    EN_VALIDATE_RESULT r = Garbage();
    CValidationResultAdaptor adaptor(r);
    EXPECT_EQ(r.nCode, 100);
    EXPECT_STREQ(r.szMessage, "Unknown error");
    EXPECT_EQ(r.szMessage[255], 0);

    const std::string longText(400, 'b');
    adaptor.SetResult(102, "%s", longText.c_str());
    EXPECT_EQ(r.nCode, 102);
    EXPECT_EQ(std::string(r.szMessage), longText.substr(0, 254));
    EXPECT_EQ(r.szMessage[255], 0);

    // An exception's text is copied, not formatted a second time.
    adaptor.SetResult(CDataConstraintViolationException("'%s' is not a valid time string", "%s%n%x"));
    EXPECT_EQ(r.nCode, 102);
    EXPECT_STREQ(r.szMessage, "'%s%n%x' is not a valid time string");

    adaptor.SetResult(0, "%s", "");
    EXPECT_EQ(r.nCode, 0);
    EXPECT_EQ(r.szMessage[0], 0);
}

// ------------------------------------------------------------ message handle

TEST(MessageHandle, TypedHelpersEncodeHeaderValueAndPadding) {
    const struct {
        const char* what;
        std::function<void(Msg&)> append;
        x_uint32 type, length, bytesUsed;
    } kCases[] = {
        {"string", [](Msg& m) { m.Str(9, "abcd"); }, DT_STRING, 5, 20},
        {"wide string", [](Msg& m) { m.WStr(9, L"ab"); }, DT_WSTRING, 12, 24},
        {"bytes", [](Msg& m) { m.Bytes(9, "xyz", 3); }, DT_BYTES, 3, 16},
        {"no bytes", [](Msg& m) { m.Bytes(9, nullptr, 0); }, DT_BYTES, 0, 12},
        {"int16", [](Msg& m) { m.I16(9, -2); }, DT_INT16, 2, 16},
        {"uint16", [](Msg& m) { m.U16(9, 65535); }, DT_UINT16, 2, 16},
        {"int32", [](Msg& m) { m.I32(9, -5); }, DT_INT32, 4, 16},
        {"uint32", [](Msg& m) { m.U32(9, 5); }, DT_UINT32, 4, 16},
        {"begin", [](Msg& m) { m.Begin(9); }, DT_GROUP, 0, 12},
        {"end", [](Msg& m) { m.End(9); }, DT_END_OF_GROUP, 0, 12},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Msg m;
        c.append(m);
        ASSERT_EQ(m.size(), c.bytesUsed);
        x_uint32 header[3];
        std::memcpy(header, m.bytes(), sizeof header);
        EXPECT_EQ(header[0], 9u);
        EXPECT_EQ(header[1], c.type);
        EXPECT_EQ(header[2], c.length);
        for (x_uint32 i = 12 + c.length; i < c.bytesUsed; ++i) EXPECT_EQ(m.bytes()[i], 0) << "padding byte " << i;
    }
    Msg wide;
    wide.WStr(1, L"ab");
    const wchar_t expected[] = L"ab";
    EXPECT_EQ(std::memcmp(wide.bytes() + 12, expected, sizeof expected), 0);
}

TEST(MessageHandle, LoadClearAndErrorReturns) {
    Msg m;
    m.U32(1, 2);
    std::vector<unsigned char> blob(m.bytes(), m.bytes() + m.size());

    Msg copy;
    copy.Str(5, "old");
    ASSERT_EQ(En_Msg_Load(copy.get(), blob.data(), blob.size()), EN_MSG_OK);
    blob[0] = 0xff;  // the handle holds its own copy
    EXPECT_EQ(copy.size(), 16u);
    EXPECT_EQ(copy.bytes()[0], 1);

    // A failed call leaves the handle as it was.
    EXPECT_EQ(En_Msg_AppendEntry(copy.get(), 1, DT_BYTES, nullptr, 4), EN_MSG_EINVAL);
    EXPECT_EQ(En_Msg_Load(copy.get(), nullptr, 4), EN_MSG_EINVAL);
    EXPECT_EQ(copy.size(), 16u);

    En_Msg_Clear(copy.get());
    EXPECT_EQ(copy.size(), 0u);
    copy.Begin(3);
    EXPECT_EQ(copy.size(), 12u);

    EXPECT_EQ(En_Msg_AppendUInt32(nullptr, 1, 2), EN_MSG_EINVAL);
    EXPECT_EQ(En_Msg_BeginGroup(nullptr, 1), EN_MSG_EINVAL);
    EXPECT_EQ(En_Msg_Load(nullptr, blob.data(), blob.size()), EN_MSG_EINVAL);
    EXPECT_EQ(En_Msg_GetBuffer(nullptr), nullptr);
    EXPECT_EQ(En_Msg_BytesUsed(nullptr), 0u);
    En_Msg_Clear(nullptr);
    En_Msg_Destroy(nullptr);
}

// --------------------------------------------------------------- blob reader

class Reader {
public:
    Reader() : m_p(CreateINVPBlobReader()) {}
    ~Reader() { FreeINVPBlobReader(m_p); }
    CBlobReader* operator->() const { return m_p; }
    int Pop(CMsgEntry& e) { return m_p->Pop(&e.m_nID, &e.m_nDataType, &e.m_pData, &e.m_nDataLength); }

private:
    CBlobReader* m_p;
};

TEST(BlobReader, ReportsEachMalformedEntryAndStaysThere) {
    const int kEnd = BLOB_END_OF_DATA;
    const struct {
        const char* what;
        std::function<void(Msg&)> build;
        size_t keep;  // bytes of the built blob handed to the reader; 0: all
        std::vector<int> pops;
    } kCases[] = {
        {"empty", [](Msg&) {}, 0, {kEnd, kEnd}},
        {"short header", [](Msg& m) { m.U32(1, 5); }, 5, {-1001}},
        {"short header after an entry", [](Msg& m) { m.U32(1, 5).U32(2, 6); }, 27, {0, -1001, -1001}},
        {"value overrun", [](Msg& m) { m.U32(1, 5); }, 15, {-1002, -1002}},
        {"int16 of 4 bytes", [](Msg& m) { m.Raw(1, DT_INT16, "abcd", 4); }, 0, {-1003}},
        {"uint32 of 2 bytes", [](Msg& m) { m.Raw(1, DT_UINT32, "ab", 2); }, 0, {-1003}},
        {"empty string", [](Msg& m) { m.Raw(1, DT_STRING, nullptr, 0); }, 0, {-1004}},
        {"unterminated string", [](Msg& m) { m.Raw(1, DT_STRING, "ab", 2); }, 0, {-1004}},
        {"wide string of 6 bytes", [](Msg& m) { m.Raw(1, DT_WSTRING, "a\0\0\0\0\0", 6); }, 0, {-1005}},
        {"unterminated wide string", [](Msg& m) { m.Raw(1, DT_WSTRING, "a\0\0\0b\0\0\0", 8); }, 0, {-1005}},
        {"empty wide string", [](Msg& m) { m.Raw(1, DT_WSTRING, nullptr, 0); }, 0, {-1005}},
        {"no padding after the last entry", [](Msg& m) { m.U32(1, 5).Str(2, "a"); }, 30, {0, 0, kEnd}},
        {"unknown type code, any length", [](Msg& m) { m.Raw(1, 55, "abcde", 5); }, 0, {0, kEnd}},
        {"begin of group with a value", [](Msg& m) { m.Raw(1, DT_GROUP, "ab", 2); }, 0, {0, kEnd}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Msg m;
        c.build(m);
        const x_uint32 length = c.keep != 0 ? static_cast<x_uint32>(c.keep) : m.size();
        ASSERT_LE(length, m.size());
        Reader reader;
        reader->Attach(m.bytes(), length);
        for (int expected : c.pops) {
            CMsgEntry e = {0, 0, nullptr, 0};
            EXPECT_EQ(reader.Pop(e), expected);
        }
    }
}

TEST(BlobReader, PopBeforeAttachFails) {
    Reader reader;
    CMsgEntry e;
    EXPECT_EQ(reader.Pop(e), BLOB_ERR_NOT_ATTACHED);
}

TEST(BlobReader, DeliversValuesInPlaceOrFromAnAlignedCopy) {
    Msg m;
    m.WStr(3, L"hi").I16(4, -7);
    for (size_t offset : {0, 1, 3}) {
        SCOPED_TRACE(offset);
        std::vector<unsigned char> storage(m.size() + 8);
        unsigned char* base = storage.data();
        base += (4 - reinterpret_cast<std::uintptr_t>(base) % 4) % 4 + offset;
        std::memcpy(base, m.bytes(), m.size());
        Reader reader;
        ASSERT_EQ(reader->Attach(base, m.size()), 0);

        CMsgEntry e;
        ASSERT_EQ(reader.Pop(e), 0);
        EXPECT_EQ(e.m_nID, 3u);
        EXPECT_EQ(e.m_nDataLength, 12u);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(e.m_pData) % 4, 0u);
        const bool inPlace = e.m_pData == base + 12;
        EXPECT_EQ(inPlace, offset == 0);
        EXPECT_STREQ(static_cast<const wchar_t*>(e.m_pData), L"hi");

        ASSERT_EQ(reader.Pop(e), 0);
        short v;
        std::memcpy(&v, e.m_pData, sizeof v);
        EXPECT_EQ(v, -7);
        EXPECT_EQ(reader.Pop(e), BLOB_END_OF_DATA);
    }
}

}  // namespace
