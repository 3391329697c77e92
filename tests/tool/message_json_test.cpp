// The JSON message form in both directions: typed and raw values, broken
// blobs, and decode-then-encode giving back the same bytes.
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MessageJson.h"

namespace {

using nlohmann::json;
using Bytes = std::vector<unsigned char>;

// One encoded entry with exactly these value bytes, padded to 4.
Bytes Entry(uint32_t id, uint32_t type, const Bytes& value, bool pad = true) {
    Bytes out(12);
    const uint32_t len = static_cast<uint32_t>(value.size());
    std::memcpy(out.data(), &id, 4);
    std::memcpy(out.data() + 4, &type, 4);
    std::memcpy(out.data() + 8, &len, 4);
    out.insert(out.end(), value.begin(), value.end());
    if (pad) out.resize((out.size() + 3) / 4 * 4, 0);
    return out;
}

template <class T>
Bytes Native(T v) {
    Bytes out(sizeof v);
    std::memcpy(out.data(), &v, sizeof v);
    return out;
}

Bytes Wide(std::initializer_list<uint32_t> chars) {
    Bytes out;
    for (uint32_t c : chars) {
        Bytes b = Native(c);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

json DecodeOne(const Bytes& blob) {
    json entries = json::parse(msgjson::DecodeEntries(blob.data(), blob.size()).dump());
    EXPECT_EQ(entries.size(), 1u);
    return entries.at(0);
}

// Encoding the decoded form gives back the blob (padding written as zeros).
Bytes Reencode(const Bytes& blob) {
    return msgjson::EncodeEntries(json::parse(msgjson::DecodeEntries(blob.data(), blob.size()).dump()));
}

struct ValueCase {
    const char* what;
    uint32_t type;
    Bytes value;
    json expected;  // the entry without "id"
};

TEST(Decode, EachValueInItsTypedFormOrRaw) {
    const ValueCase cases[] = {
        {"string", 1, {'a', 'b', 0}, {{"type", "STRING"}, {"value", "ab"}}},
        {"string with NUL inside", 1, {'a', 0, 'b', 0}, {{"type", "STRING"}, {"value", std::string("a\0b", 3)}}},
        {"UTF-8 string", 1, {0xC3, 0xA4, 0}, {{"type", "STRING"}, {"value", "\xC3\xA4"}}},
        {"unterminated string", 1, {'a', 'b'}, {{"type", "STRING"}, {"raw", "6162"}}},
        {"empty string value", 1, {}, {{"type", "STRING"}, {"raw", ""}}},
        {"string, not UTF-8", 1, {0xFF, 'a', 0}, {{"type", "STRING"}, {"raw", "ff6100"}}},
        {"wide string", 2, Wide({'h', 0x1F600, 0}), {{"type", "WSTRING"}, {"value", "h\xF0\x9F\x98\x80"}}},
        {"wide string, length not a multiple of 4", 2, {'a', 0, 0, 0, 0, 0}, {{"type", "WSTRING"}, {"raw", "610000000000"}}},
        {"wide string without terminator", 2, Wide({'a'}), {{"type", "WSTRING"}, {"raw", "61000000"}}},
        {"wide string with a surrogate", 2, Wide({0xD800, 0}), {{"type", "WSTRING"}, {"raw", "00d8000000000000"}}},
        {"wide string past U+10FFFF", 2, Wide({0x110000, 0}), {{"type", "WSTRING"}, {"raw", "0000110000000000"}}},
        {"bytes", 3, {0x0A, 0xFF}, {{"type", "BYTES"}, {"value", "0aff"}}},
        {"int16", 4, Native<int16_t>(-2), {{"type", "INT16"}, {"value", -2}}},
        {"int16 of 4 bytes", 4, Native<int32_t>(7), {{"type", "INT16"}, {"raw", "07000000"}}},
        {"uint16", 5, Native<uint16_t>(65535), {{"type", "UINT16"}, {"value", 65535}}},
        {"uint16 of 1 byte", 5, {1}, {{"type", "UINT16"}, {"raw", "01"}}},
        {"int32", 6, Native<int32_t>(-2147483647 - 1), {{"type", "INT32"}, {"value", -2147483647 - 1}}},
        {"int32 of 2 bytes", 6, Native<int16_t>(1), {{"type", "INT32"}, {"raw", "0100"}}},
        {"uint32", 7, Native<uint32_t>(4294967295u), {{"type", "UINT32"}, {"value", 4294967295u}}},
        {"uint32 without value", 7, {}, {{"type", "UINT32"}, {"raw", ""}}},
        {"group", 100, {}, {{"type", "GROUP"}}},
        {"group with a value", 100, {1, 2}, {{"type", "GROUP"}, {"raw", "0102"}}},
        {"unnamed type", 0, {}, {{"type", 0}}},
        {"unnamed type with bytes", 4242, {9}, {{"type", 4242}, {"raw", "09"}}},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes blob = Entry(2054, c.type, c.value);
        json expected = c.expected;
        expected["id"] = 2054;
        EXPECT_EQ(DecodeOne(blob), expected);
        EXPECT_EQ(Reencode(blob), blob);
    }
}

TEST(Decode, KeysComeInMessageOrder) {
    const Bytes blob = Entry(11, 7, Native<uint32_t>(1501));
    EXPECT_EQ(msgjson::DecodeEntries(blob.data(), blob.size()).dump(), R"([{"id":11,"type":"UINT32","value":1501}])");
}

TEST(Decode, PaddingContentAndAMissingLastPaddingDoNotMatter) {
    Bytes blob = Entry(1, 1, {'a', 0});
    blob[14] = 0xEE;  // padding
    const Bytes last = Entry(2, 3, {1, 2, 3}, false);
    blob.insert(blob.end(), last.begin(), last.end());
    Bytes expected = Entry(1, 1, {'a', 0});
    const Bytes padded = Entry(2, 3, {1, 2, 3});
    expected.insert(expected.end(), padded.begin(), padded.end());
    EXPECT_EQ(Reencode(blob), expected);
}

struct BrokenCase {
    const char* what;
    Bytes blob;
    std::string error;
};

TEST(Decode, BrokenStructureNamesTheByteOffset) {
    Bytes twoEntries = Entry(1, 4, Native<int16_t>(1));
    Bytes second = Entry(2, 3, {1, 2, 3, 4, 5, 6, 7, 8});
    second.resize(second.size() - 3);
    twoEntries.insert(twoEntries.end(), second.begin(), second.end());
    Bytes shortTail = Entry(1, 4, Native<int16_t>(1));
    shortTail.insert(shortTail.end(), {1, 2, 3, 4, 5});
    Bytes hugeLength = Entry(5, 1, {});
    hugeLength[8] = hugeLength[9] = hugeLength[10] = hugeLength[11] = 0xFF;
    const BrokenCase cases[] = {
        {"header of 11 bytes", Bytes(11, 0), "byte offset 0: entry 0: short header (11 bytes left, a header has 12)"},
        {"bytes after the last entry", shortTail, "byte offset 16: entry 1: short header (5 bytes left, a header has 12)"},
        {"value past the end", twoEntries,
         "byte offset 16: entry 1 (id 2, type 3): value of 8 bytes runs past the end (5 bytes left)"},
        {"length near 2^32", hugeLength,
         "byte offset 0: entry 0 (id 5, type 1): value of 4294967295 bytes runs past the end (0 bytes left)"},
    };
    for (const BrokenCase& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            msgjson::DecodeEntries(c.blob.data(), c.blob.size());
            ADD_FAILURE() << "no error";
        } catch (const msgjson::InputError& e) {
            EXPECT_EQ(std::string(e.what()), c.error);
        }
    }
}

TEST(Decode, EmptyBlobHasNoEntries) { EXPECT_EQ(msgjson::DecodeEntries(nullptr, 0), nlohmann::ordered_json::array()); }

TEST(Decode, MessageObjectCarriesKindAndType) {
    msgjson::Message m;
    m.kind = msgjson::Kind::Log;
    m.msgType = 1701;
    EXPECT_EQ(msgjson::ToJson(m).dump(), R"({"kind":"log","msgtype":1701,"entries":[]})");
    m.kind = msgjson::Kind::Register;
    EXPECT_EQ(msgjson::ToJson(m).dump(), R"({"kind":"register","entries":[]})");
}

// Every reference message: encode, decode, encode again: the same bytes,
// and the same kind and type.
TEST(RoundTrip, EveryReferenceMessage) {
    std::ifstream cases(EN_CONFORMANCE_DIR "/cases.jsonl");
    std::string line;
    int n = 0;
    while (std::getline(cases, line)) {
        ++n;
        const msgjson::Message first = msgjson::FromJson(json::parse(line));
        const msgjson::Message second = msgjson::FromJson(json::parse(msgjson::ToJson(first).dump()));
        ASSERT_EQ(second.blob, first.blob) << "line " << n;
        ASSERT_EQ(second.kind, first.kind) << "line " << n;
        ASSERT_EQ(second.msgType, first.msgType) << "line " << n;
    }
    EXPECT_EQ(n, 503);
}

struct EncodeErrorCase {
    const char* message;
    std::string error;
};

TEST(Encode, MalformedMessagesNameThePlaceAndTheReason) {
    const EncodeErrorCase cases[] = {
        {R"([])", "message: expected an object, found an array"},
        {R"({"entries": []})", "kind: missing (\"log\" or \"register\")"},
        {R"({"kind": "logs", "entries": []})", "kind: expected \"log\" or \"register\""},
        {R"({"kind": "log", "entries": []})", "msgtype: missing (required for a log message)"},
        {R"({"kind": "log", "msgtype": 2147483648, "entries": []})", "msgtype: value 2147483648 is out of range -2147483648..2147483647"},
        {R"({"kind": "register"})", "entries: missing"},
        {R"({"kind": "register", "entries": [7]})", "entries[0]: expected an entry object, found a number"},
        {R"({"kind": "register", "entries": [{"type": 3, "value": ""}]})", "entries[0]: missing \"id\""},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "GROUP", "valeu": ""}]})",
         "entries[0]: unknown key \"valeu\" (an entry has \"id\", \"type\", \"value\" or \"raw\")"},
        {R"({"kind": "register", "entries": [{"id": -1, "type": 3, "value": ""}]})", "entries[0].id: value -1 is out of range 0..4294967295"},
        {R"({"kind": "register", "entries": [{"id": 1.5, "type": 3, "value": ""}]})", "entries[0].id: expected an integer, found a non-integer number"},
        {R"({"kind": "register", "entries": [{"id": 1}]})", "entries[0]: missing \"type\""},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "FLOAT"}]})", "entries[0].type: unknown type name \"FLOAT\""},
        {R"({"kind": "register", "entries": [{"id": 1, "type": true}]})", "entries[0].type: expected an integer, found a boolean"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "INT16"}]})", "entries[0]: missing \"value\" for type 4"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "INT16", "value": 32768}]})", "entries[0].value: value 32768 is out of range -32768..32767"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "UINT16", "value": -1}]})", "entries[0].value: value -1 is out of range 0..65535"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "UINT32", "value": 4294967296}]})", "entries[0].value: value 4294967296 is out of range 0..4294967295"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "WSTRING", "value": 7}]})", "entries[0].value: expected a string, found a number"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "BYTES", "value": "abc"}]})", "entries[0].value: hex string has an odd number of digits"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "BYTES", "value": "0g"}]})", "entries[0].value: 'g' at position 1 is not a hex digit"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "GROUP", "value": ""}]})", "entries[0].value: type 100 takes no value (use \"raw\")"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": 3, "value": "", "raw": ""}]})", "entries[0]: give either \"value\" or \"raw\", not both"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": 3, "raw": 12}]})", "entries[0].raw: expected a hex string, found a number"},
    };
    for (const EncodeErrorCase& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            msgjson::FromJson(json::parse(c.message));
            ADD_FAILURE() << "no error";
        } catch (const msgjson::InputError& e) {
            EXPECT_EQ(std::string(e.what()), c.error);
        }
    }
}

TEST(Encode, TypeNamesWithAndWithoutPrefixAndRawForAnyType) {
    const json entries = json::parse(R"([
        {"id": 1, "type": "DT_INT16", "value": -2}, {"id": 1, "type": "int16", "raw": ""},
        {"id": 2, "type": 100}, {"id": 3, "type": "UINT32", "raw": "0102"}, {"id": 4, "type": 4294967295}])");
    // Names are case-sensitive.
    EXPECT_THROW(msgjson::EncodeEntries(entries), msgjson::InputError);
    json fixed = entries;
    fixed[1]["type"] = "INT16";
    Bytes expected = Entry(1, 4, Native<int16_t>(-2));
    for (const Bytes& e : {Entry(1, 4, {}), Entry(2, 100, {}), Entry(3, 7, {1, 2}), Entry(4, 4294967295u, {})})
        expected.insert(expected.end(), e.begin(), e.end());
    EXPECT_EQ(msgjson::EncodeEntries(fixed), expected);
}

TEST(Encode, OverridesReplaceKindAndType) {
    const json message = json::parse(R"({"kind": "register", "note": "ignored", "entries": []})");
    msgjson::Overrides log;
    log.kind = msgjson::Kind::Log;
    log.msgType = 1721;
    const msgjson::Message m = msgjson::FromJson(message, log);
    EXPECT_EQ(m.kind, msgjson::Kind::Log);
    EXPECT_EQ(m.msgType, 1721);
    msgjson::Overrides reg;
    reg.kind = msgjson::Kind::Register;
    EXPECT_EQ(msgjson::FromJson(json::parse(R"({"kind": "log", "entries": []})"), reg).kind, msgjson::Kind::Register);
}

}  // namespace
