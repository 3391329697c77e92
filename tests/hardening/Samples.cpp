#include "Samples.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "MessageJson.h"
#include "MessageKindList.h"

namespace hardening {

std::vector<Sample> ConformanceCases() {
    std::ifstream cases(EN_CONFORMANCE_DIR "/cases.jsonl"), expected(EN_CONFORMANCE_DIR "/expected.jsonl");
    if (!cases || !expected) throw std::runtime_error("cannot read the reference cases");
    std::vector<Sample> out;
    msgjson::Handle h;
    for (std::string c, e; std::getline(cases, c) && std::getline(expected, e);) {
        const msgjson::Message m = msgjson::Reader().Read(c, h);
        const nlohmann::json record = nlohmann::json::parse(e);
        out.push_back({m.kind == msgjson::Kind::Log, m.msgType, {h.data(), h.data() + h.size()},
                       record.at("code").get<int>(), record.at("message")});
    }
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
