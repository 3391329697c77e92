#include "Samples.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "MessageJson.h"
#include "RecordChecks.h"

namespace hardening {

namespace fs = std::filesystem;

namespace {

Sample FromJson(const nlohmann::json& object) {
    const msgjson::Message m = msgjson::FromJson(object);
    Sample s;
    s.bLog = m.kind == msgjson::Kind::Log;
    s.nMsgType = s.bLog ? m.msgType : 0;
    s.blob = m.blob;
    return s;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find_first_not_of(" \t\r") != std::string::npos) lines.push_back(line);
    return lines;
}

// Adds the messages of a file; objects that are no message in the JSON
// form (a manifest, a deliberately broken example) are counted as skipped.
void AddFile(const fs::path& file, std::vector<Sample>& out, size_t& skipped) {
    std::vector<nlohmann::json> objects;
    const std::string text = ReadFile(file.string());
    if (file.extension() == ".jsonl") {
        for (const std::string& line : Lines(text)) objects.push_back(nlohmann::json::parse(line));
    } else {
        const nlohmann::json doc = nlohmann::json::parse(text);
        objects = doc.is_array() ? doc.get<std::vector<nlohmann::json>>() : std::vector<nlohmann::json>{doc};
    }
    for (const nlohmann::json& object : objects) {
        try { out.push_back(FromJson(object)); } catch (const msgjson::InputError&) { ++skipped; }
    }
}

}  // namespace

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Sample> ConformanceCases() {
    const std::vector<std::string> cases = Lines(ReadFile(EN_CONFORMANCE_DIR "/cases.jsonl"));
    const std::vector<std::string> expected = Lines(ReadFile(EN_CONFORMANCE_DIR "/expected.jsonl"));
    if (cases.size() != expected.size()) throw std::runtime_error("cases and expected results differ in number");
    std::vector<Sample> out;
    for (size_t i = 0; i < cases.size(); ++i) {
        Sample s = FromJson(nlohmann::json::parse(cases[i]));
        const nlohmann::json e = nlohmann::json::parse(expected[i]);
        s.nCode = e.at("code").get<int>();
        s.text = e.at("message").get<std::string>();
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<Sample> JsonMessages(const std::string& path, size_t* pSkipped) {
    std::vector<Sample> out;
    size_t skipped = 0;
    std::vector<fs::path> files;
    if (fs::is_directory(path)) {
        for (const fs::directory_entry& e : fs::recursive_directory_iterator(path))
            if (e.path().extension() == ".json" || e.path().extension() == ".jsonl") files.push_back(e.path());
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(path);
    }
    for (const fs::path& f : files) AddFile(f, out, pSkipped != nullptr ? *pSkipped : skipped);
    return out;
}

std::vector<const Sample*> FirstOfEachKind(const std::vector<Sample>& samples, int nCode) {
    std::vector<const Sample*> first(grammar::kMessageKindCount, nullptr);
    for (const Sample& s : samples) {
        const size_t k = grammar::KindIndex(s.bLog, s.nMsgType);
        if (k < first.size() && first[k] == nullptr && s.nCode == nCode) first[k] = &s;
    }
    return first;
}

std::string Mismatch(const Sample& s, const EN_VALIDATE_RESULT& r) {
    if (r.nCode == s.nCode && s.text == r.szMessage) return "";
    std::ostringstream out;
    out << (s.bLog ? "log " + std::to_string(s.nMsgType) : std::string("registration")) << ": got " << r.nCode << " '"
        << r.szMessage << "', want " << s.nCode << " '" << s.text << "'";
    return out.str();
}

}  // namespace hardening
