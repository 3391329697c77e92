// The JSON message form in both directions: decode-then-encode gives back
// the same bytes.  The forms themselves, the names, broken blobs and
// malformed messages are in the tool's transcript (transcript/cases.txt).
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MessageJson.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The JSON message form of a blob as --decode writes it.
std::string DecodeText(const Bytes& blob, msgjson::Kind kind = msgjson::Kind::Register, int32_t msgType = 0) {
    std::string text;
    msgjson::DecodeBlob(blob.data(), blob.size(), kind, msgType, [&](std::string_view t) { text += t; });
    return text;
}

// A JSON text read as the tool reads it: its blob, kind and type.
std::tuple<Bytes, msgjson::Kind, int32_t> Read(std::string text) {
    msgjson::Handle h;
    const msgjson::Message m = msgjson::Reader().Read(text, h);
    return {Bytes(h.data(), h.data() + h.size()), m.kind, m.msgType};
}

// Every reference message and example: encode, decode (with names), encode
// again: the same bytes, kind and type.  And a blob of every value type in
// its typed and raw forms: decode, encode: the same bytes.
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
    std::ifstream in(EN_TRANSCRIPT_DIR "/values.blob", std::ios::binary);
    const Bytes values((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::get<0>(Read(DecodeText(values))), values);
    for (const std::string& text : texts) ASSERT_EQ(Read(std::apply(DecodeText, Read(text))), Read(text)) << text;
}

}  // namespace
