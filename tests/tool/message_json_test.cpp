// The JSON message form in both directions: typed and raw values, broken
// blobs, and decode-then-encode giving back the same bytes.
#include <cstring>
#include <fstream>
#include <tuple>
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

json Decode(const Bytes& blob) {
    json entries = json::array();
    msgjson::DecodeEntries(blob.data(), blob.size(), [&](const nlohmann::ordered_json& e) { entries.push_back(json::parse(e.dump())); });
    return entries;
}

// The message of a JSON object, read as the tool reads its text.
msgjson::Message Read(const json& object) {
    std::string text = object.dump();
    return msgjson::Reader().Read(text);
}

// Encoding the decoded form gives back the blob (padding written as zeros).
Bytes Reencode(const Bytes& blob) { return Read({{"kind", "register"}, {"entries", Decode(blob)}}).blob; }

// Each value in its typed form, or raw when it has not the type's shape.
TEST(Decode, EachValueInItsTypedFormOrRaw) {
    const std::tuple<uint32_t, Bytes, json> cases[] = {
        {1, {'a', 0, 'b', 0}, {{"type", "STRING"}, {"value", std::string("a\0b", 3)}}},
        {1, {'a', 'b'}, {{"type", "STRING"}, {"raw", "6162"}}},
        {1, {0xFF, 'a', 0}, {{"type", "STRING"}, {"raw", "ff6100"}}},
        {2, Wide({'h', 0x1F600, 0}), {{"type", "WSTRING"}, {"value", "h\xF0\x9F\x98\x80"}}},
        {2, {'a', 0, 0, 0, 0, 0}, {{"type", "WSTRING"}, {"raw", "610000000000"}}},
        {2, Wide({0xD800, 0}), {{"type", "WSTRING"}, {"raw", "00d8000000000000"}}},
        {2, Wide({0x110000, 0}), {{"type", "WSTRING"}, {"raw", "0000110000000000"}}},
        {3, {0x0A, 0xFF}, {{"type", "BYTES"}, {"value", "0aff"}}},
        {4, Native<int16_t>(-2), {{"type", "INT16"}, {"value", -2}}},
        {4, Native<int32_t>(7), {{"type", "INT16"}, {"raw", "07000000"}}},
        {5, Native<uint16_t>(65535), {{"type", "UINT16"}, {"value", 65535}}},
        {6, Native<int32_t>(-2147483647 - 1), {{"type", "INT32"}, {"value", -2147483647 - 1}}},
        {7, Native<uint32_t>(4294967295u), {{"type", "UINT32"}, {"value", 4294967295u}}},
        {100, {}, {{"type", "GROUP"}}},
        {100, {1, 2}, {{"type", "GROUP"}, {"raw", "0102"}}},
        {4242, {9}, {{"type", 4242}, {"raw", "09"}}},
    };
    for (const auto& [type, value, expected] : cases) {
        const Bytes blob = Entry(2054, type, value);
        json want = expected;
        want["id"] = 2054;
        EXPECT_EQ(Decode(blob), json::array({want})) << want;
        EXPECT_EQ(Reencode(blob), blob) << want;
    }
}

TEST(Decode, PaddingContentAndAMissingLastPaddingDoNotMatter) {
    Bytes blob = Entry(1, 1, {'a', 0});
    blob[14] = 0xEE;  // padding
    const Bytes last = Entry(2, 3, {1, 2, 3}, false), padded = Entry(2, 3, {1, 2, 3});
    blob.insert(blob.end(), last.begin(), last.end());
    Bytes expected = Entry(1, 1, {'a', 0});
    expected.insert(expected.end(), padded.begin(), padded.end());
    EXPECT_EQ(Reencode(blob), expected);
}

// The decoder stops at a broken structure; the reader also refuses
// malformed values.
TEST(Decode, BrokenBlobsNameTheByteOffset) {
    Bytes shortTail = Entry(1, 4, Native<int16_t>(1));
    shortTail.insert(shortTail.end(), {1, 2, 3, 4, 5});
    Bytes hugeLength = Entry(5, 1, {});
    hugeLength[8] = hugeLength[9] = hugeLength[10] = hugeLength[11] = 0xFF;
    Bytes badValue = Entry(1, 1, {'a', 0});
    for (const Bytes& e : {Entry(2, 7, {1, 2}), Entry(3, 1, {'a'}), Entry(4, 2, {0, 0, 0})}) badValue.insert(badValue.end(), e.begin(), e.end());
    const std::tuple<Bytes, bool, std::string> cases[] = {
        {shortTail, false, "byte offset 16: entry 1: short header (5 bytes left, a header has 12)"},
        {hugeLength, false, "byte offset 0: entry 0 (id 5, type 1): value of 4294967295 bytes runs past the end (0 bytes left)"},
        {badValue, false, ""},
        {badValue, true, "byte offset 16: entry 1 (id 2, type 7): an integer value of 2 bytes, UINT32 takes 4"},
        {Bytes(badValue.begin() + 32, badValue.end()), true, "byte offset 0: entry 0 (id 3, type 1): a narrow string of 1 bytes without its terminating zero byte"},
        {Bytes(badValue.begin() + 48, badValue.end()), true, "byte offset 0: entry 0 (id 4, type 2): a wide string of 3 bytes that is not 4-byte characters ending in a 4-byte zero"},
    };
    for (const auto& [blob, values, fault] : cases) {
        EXPECT_EQ(msgjson::BlobFault(blob.data(), blob.size(), values), fault);
        if (values) continue;
        try {
            EXPECT_EQ(Decode(blob).size(), 4u) << fault;
            EXPECT_EQ(fault, "");
        } catch (const msgjson::InputError& e) {
            EXPECT_EQ(std::string(e.what()), fault);
        }
    }
}

// Every reference message: encode, decode, encode again: the same bytes,
// and the same kind and type.
TEST(RoundTrip, EveryReferenceMessage) {
    std::ifstream cases(EN_CONFORMANCE_DIR "/cases.jsonl");
    std::string line;
    int n = 0;
    while (std::getline(cases, line)) {
        ++n;
        const msgjson::Message first = Read(json::parse(line));
        json decoded = {{"kind", first.kind == msgjson::Kind::Log ? "log" : "register"}, {"msgtype", first.msgType},
                        {"entries", Decode(first.blob)}};
        const msgjson::Message second = Read(decoded);
        ASSERT_EQ(second.blob, first.blob) << "line " << n;
        ASSERT_EQ(second.kind, first.kind) << "line " << n;
        ASSERT_EQ(second.msgType, first.msgType) << "line " << n;
    }
    EXPECT_EQ(n, 503);
}

TEST(Encode, MalformedMessagesNameThePlaceAndTheReason) {
    const std::pair<const char*, std::string> cases[] = {
        {R"({"entries": []})", "kind: missing (\"log\" or \"register\")"},
        {R"({"kind": "log", "entries": []})", "msgtype: missing (required for a log message)"},
        {R"({"kind": "log", "msgtype": 2147483648, "entries": []})", "msgtype: value 2147483648 is out of range -2147483648..2147483647"},
        {R"({"kind": "register"})", "entries: missing"},
        {R"({"kind": "register", "entries": [{"type": 3, "value": ""}]})", "entries[0]: missing \"id\""},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "GROUP", "valeu": ""}]})",
         "entries[0]: unknown key \"valeu\" (an entry has \"id\", \"type\", \"value\" or \"raw\")"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "FLOAT"}]})", "entries[0].type: unknown type name \"FLOAT\""},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "int16", "raw": ""}]})", "entries[0].type: unknown type name \"int16\""},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "INT16"}]})", "entries[0]: missing \"value\" for type 4"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "INT16", "value": 32768}]})", "entries[0].value: value 32768 is out of range -32768..32767"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "UINT32", "value": 4294967296}]})", "entries[0].value: value 4294967296 is out of range 0..4294967295"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "WSTRING", "value": 7}]})", "entries[0].value: expected a string, found a number"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "BYTES", "value": "abc"}]})", "entries[0].value: hex string has an odd number of digits"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "BYTES", "value": "0g"}]})", "entries[0].value: 'g' at position 1 is not a hex digit"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": "GROUP", "value": ""}]})", "entries[0].value: type 100 takes no value (use \"raw\")"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": 3, "value": "", "raw": ""}]})", "entries[0]: give either \"value\" or \"raw\", not both"},
        {R"({"kind": "register", "entries": [{"id": 1, "type": 3, "value": ["x"]}]})", "entries[0].value: expected a hex string, found an array"},
        {R"({"kind": "register", "entries": {}})", "entries: expected an array, found an object"},
        {R"({"kind": "register", "entries": [7]})", "entries[0]: expected an entry object, found a number"},
    };
    for (const auto& c : cases) {
        try {
            Read(json::parse(c.first));
            ADD_FAILURE() << "no error: " << c.first;
        } catch (const msgjson::InputError& e) {
            EXPECT_EQ(std::string(e.what()), c.second) << c.first;
        }
    }
}

// Type names with and without the prefix, raw values for any type.
TEST(Encode, TypeNamesAndRawValues) {
    const json entries = json::parse(R"([{"id": 1, "type": "DT_INT16", "value": -2}, {"id": 1, "type": "INT16", "raw": ""},
        {"id": 2, "type": 100}, {"id": 3, "type": "UINT32", "raw": "0102"}, {"id": 4, "type": 4294967295}])");
    Bytes expected = Entry(1, 4, Native<int16_t>(-2));
    for (const Bytes& e : {Entry(1, 4, {}), Entry(2, 100, {}), Entry(3, 7, {1, 2}), Entry(4, 4294967295u, {})})
        expected.insert(expected.end(), e.begin(), e.end());
    EXPECT_EQ(Read({{"kind", "register"}, {"entries", entries}}).blob, expected);
}

}  // namespace
