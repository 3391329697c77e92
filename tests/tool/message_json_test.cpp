// The JSON message form in both directions: typed and raw values, node
// names, broken blobs, and decode-then-encode giving back the same bytes.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MessageJson.h"

namespace {

using nlohmann::json;
using Bytes = std::vector<unsigned char>;

// The bytes of a value, and of 4-byte characters.
template <class T>
Bytes Native(T v) {
    const auto* p = reinterpret_cast<const unsigned char*>(&v);
    return Bytes(p, p + sizeof v);
}
Bytes Wide(std::initializer_list<uint32_t> c) { return Bytes(reinterpret_cast<const unsigned char*>(c.begin()), reinterpret_cast<const unsigned char*>(c.end())); }

// One encoded entry with exactly these value bytes, padded to 4.
Bytes Entry(uint32_t id, uint32_t type, const Bytes& value) {
    Bytes out = Wide({id, type, static_cast<uint32_t>(value.size())});
    out.insert(out.end(), value.begin(), value.end());
    out.resize((out.size() + 3) / 4 * 4, 0);
    return out;
}

// The JSON message form of a blob as --decode writes it.
std::string DecodeText(const Bytes& blob, msgjson::Kind kind = msgjson::Kind::Register, int32_t msgType = 0) {
    std::string text;
    msgjson::DecodeMessage({kind, msgType, blob}, [&](std::string_view t) { text += t; });
    return text;
}

json Decode(const Bytes& blob) { return json::parse(DecodeText(blob))["entries"]; }

// The message of a JSON text, read as the tool reads it.
msgjson::Message Read(std::string text) { return msgjson::Reader().Read(text); }

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
        EXPECT_EQ(Read(DecodeText(blob)).blob, blob) << want;
    }
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

// Entries indented by the groups open around them, named by the grammar's
// node for their ID in the innermost open group; none in groups the grammar
// does not know, nor for an end of group that closes another.  Encoding the
// text checks the names.  Padding content and a missing last padding do not
// matter.
TEST(Decode, IndentedAndNamed) {
    const std::string text = R"({"kind": "register", "entries": [
  {"id":1001,"name":"ProductGUID","type":"WSTRING","value":"g"},
  {"id":3002,"name":"PatternInfo","type":"GROUP"},
    {"id":3001,"name":"Info","type":"GROUP"},
      {"id":2053,"name":"Version","type":"WSTRING","value":"1"},
    {"id":3001,"name":"Info","type":"END_OF_GROUP"},
  {"id":3002,"name":"PatternInfo","type":"END_OF_GROUP"},
  {"id":3007,"name":"Cluster","type":"GROUP"},
    {"id":2052,"name":"Name","type":"WSTRING","value":"c"},
    {"id":3001,"type":"GROUP"},
      {"id":1,"type":"INT16","value":1},
    {"id":3001,"type":"END_OF_GROUP"},
  {"id":9,"type":"END_OF_GROUP"},
  {"id":4242,"type":"UINT16","raw":"02"}
]}
)";
    Bytes blob = Read(text).blob;
    blob[146] = 0xEE;                // padding of the INT16 value
    blob.resize(blob.size() - 3);  // of the last value
    EXPECT_EQ(DecodeText(blob), text);
    EXPECT_EQ(DecodeText({}, msgjson::Kind::Log, 1501), "{\"kind\": \"log\", \"msgtype\": 1501, \"entries\": []}\n");
}

// Every reference message and example: encode, decode (with names), encode
// again: the same bytes, kind and type.
TEST(RoundTrip, EveryReferenceMessageAndExample) {
    std::vector<std::string> texts;
    std::ifstream cases(EN_CONFORMANCE_DIR "/cases.jsonl");
    for (std::string line; std::getline(cases, line);) texts.push_back(line);
    for (const char* dir : {EN_EXAMPLES_DIR "/valid", EN_EXAMPLES_DIR "/faulty"})
        for (const auto& file : std::filesystem::directory_iterator(dir)) {
            std::ifstream in(file.path());
            texts.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    EXPECT_EQ(texts.size(), 503u + 22u);
    for (const std::string& text : texts) {
        const msgjson::Message first = Read(text), second = Read(DecodeText(first.blob, first.kind, first.msgType));
        ASSERT_EQ(std::tie(second.blob, second.kind, second.msgType), std::tie(first.blob, first.kind, first.msgType)) << text;
    }
}

TEST(Encode, MalformedMessagesNameThePlaceAndTheReason) {
    const std::pair<const char*, std::string> cases[] = {
        {R"({"entries": []})", "kind: missing (\"log\" or \"register\")"},
        {R"({"kind": "log", "entries": []})", "msgtype: missing (required for a log message)"},
        {R"({"kind": "log", "msgtype": 2147483648, "entries": []})", "msgtype: value 2147483648 is out of range -2147483648..2147483647"},
        {R"({"kind": "register"})", "entries: missing"},
        {R"([{"type": 3, "value": ""}])", "entries[0]: missing \"id\""},
        {R"([{"id": 1, "type": "GROUP", "valeu": ""}])", "entries[0]: unknown key \"valeu\" (an entry has \"id\", \"name\", \"type\", \"value\" or \"raw\")"},
        {R"([{"id": 1001, "name": "ProductGuid", "type": 2, "value": ""}])", "entries[0].name: \"ProductGuid\" is not the name of node 1001 in group 'Root': \"ProductGUID\""},
        {R"([{"id": 3002, "type": 100}, {"id": 3001, "type": 100}, {"id": 2052, "name": "Name", "type": 7, "value": 1}, {"id": 2053, "name": "Name", "type": 2, "value": ""}])", "entries[3].name: \"Name\" is not the name of node 2053 in group 'Info': \"Version\""},
        {R"([{"id": 4242, "name": "x", "type": 100}])", "entries[0].name: \"x\" names no node: group 'Root' has no node with ID 4242"},
        {R"([{"id": 4242, "type": 100}, {"id": 1, "name": "x", "type": 100}])", "entries[1].name: \"x\" names no node: the entry is in a group the grammar does not know"},
        {R"([{"id": 1001, "name": 7, "type": 2, "value": ""}])", "entries[0].name: expected a string, found a number"},
        {R"({"kind": "log", "msgtype": 1502, "entries": [{"id": 11, "name": "MsgType", "type": 7, "value": 1502}]})", "entries[0].name: log message type 1502 has no grammar to name nodes"},
        {R"({"kind": "log", "entries": [{"id": 11, "name": "MsgType", "type": 7, "value": 1501}], "msgtype": 1501})", "entries[0].name: a name needs the grammar: \"kind\" (and \"msgtype\" for a log) must come before \"entries\""},
        {R"([{"id": 1, "type": "FLOAT"}])", "entries[0].type: unknown type name \"FLOAT\""},
        {R"([{"id": 1, "type": "DT_INT16"}])", "entries[0]: missing \"value\" for type 4"},
        {R"([{"id": 1, "type": "INT16", "value": 32768}])", "entries[0].value: value 32768 is out of range -32768..32767"},
        {R"([{"id": 1, "type": "UINT32", "value": 4294967296}])", "entries[0].value: value 4294967296 is out of range 0..4294967295"},
        {R"([{"id": 1, "type": "WSTRING", "value": 7}])", "entries[0].value: expected a string, found a number"},
        {R"([{"id": 1, "type": "BYTES", "value": "abc"}])", "entries[0].value: hex string has an odd number of digits"},
        {R"([{"id": 1, "type": "BYTES", "value": "0g"}])", "entries[0].value: 'g' at position 1 is not a hex digit"},
        {R"([{"id": 1, "type": "GROUP", "value": ""}])", "entries[0].value: type 100 takes no value (use \"raw\")"},
        {R"([{"id": 1, "type": 3, "value": "", "raw": ""}])", "entries[0]: give either \"value\" or \"raw\", not both"},
        {R"([{"id": 1, "type": 3, "value": ["x"]}])", "entries[0].value: expected a hex string, found an array"},
        {R"({"kind": "register", "entries": {}})", "entries: expected an array, found an object"},
        {R"([7])", "entries[0]: expected an entry object, found a number"},
    };
    for (const auto& c : cases) {
        try {
            Read(c.first[0] == '{' ? c.first : R"({"kind": "register", "entries": )" + std::string(c.first) + "}");
            ADD_FAILURE() << "no error: " << c.first;
        } catch (const msgjson::InputError& e) {
            EXPECT_EQ(std::string(e.what()), c.second) << c.first;
        }
    }
}

}  // namespace
