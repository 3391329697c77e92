// Every message of the reference cases, the golden corpus and the examples
// gets exactly its expected record through the exported C interface.
//
// A suite is a file of messages and the records they must get.  A message
// is a JSON message object (tools/msgjson) or {"kind", "msgtype", "blob"}
// naming a file of raw message bytes beside the suite ("blob": null is a
// null handle); "locale" sets the process locale for that message.  A record is {"code", "message"}, or
// {"code", "message_bytes"} (hex) for a text that is not UTF-8.
//
// Every message also gets its full list (the _All entry points), whose
// first violation that is not a note is the single verdict, record and
// location, byte for byte; a suite with an "all" file also holds, line by
// line, the full list each of its messages must get.
//
// The golden corpus is a frozen earlier run of the library over a
// coverage-minimised set of fuzzed and generated messages.  A deliberate
// change of results regenerates it, to be reviewed as a diff:
//   EN_GOLDEN_UPDATE=1 build/bin/en_api_tests --gtest_filter='*Golden*'
// and, for the full lists, --gtest_filter='*EntryPoints*'.
#include <algorithm>
#include <clocale>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "En_ValidationPrivate.h"
#include "MessageJson.h"

namespace {

using nlohmann::json;

struct Case {
    std::string where;  // file:line
    msgjson::Message message;
    std::shared_ptr<msgjson::Handle> handle;  // its entries; none for a null handle
    std::string locale;  // empty: "C"
    int code;
    std::string text;
};

struct Record {
    int code;
    std::string text;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += {kDigits[c >> 4], kDigits[c & 15]};
    return out;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// The message of a JSON text, read as the tool reads it.
msgjson::Message Read(std::string text, msgjson::Handle& into) { return msgjson::Reader().Read(text, into); }

// A message object, or one whose bytes are in a file beside the suite (or
// none); its entries into into.
msgjson::Message MessageOf(const std::string& line, const json& object, const std::string& dir, msgjson::Handle& into) {
    if (!object.contains("blob")) return Read(line, into);
    const msgjson::Message m{object.at("kind") == "register" ? msgjson::Kind::Register : msgjson::Kind::Log,
                             object.value("msgtype", 0)};
    if (object["blob"].is_null()) return m;
    const std::string bytes = ReadFile(dir + "/" + object.at("blob").get<std::string>());
    En_Msg_Load(into.get(), bytes.data(), bytes.size());
    return m;
}

std::string TextOf(const json& record) {
    return record.contains("message_bytes") ? Unhex(record["message_bytes"].get<std::string>())
                                            : record.at("message").get<std::string>();
}

json RecordJson(const Record& r) {
    json out = {{"code", r.code}};
    try {
        out["message"] = r.text;
        (void)out.dump();  // throws for a text that is not UTF-8
    } catch (const json::type_error&) {
        out.erase("message");
        out["message_bytes"] = Hex(r.text);
    }
    return out;
}

// Line n of cases goes with line n of expected.
std::vector<Case> LoadLines(const std::string& dir, const std::string& cases, const std::string& expected) {
    std::ifstream c(dir + "/" + cases), e(dir + "/" + expected);
    if (!c || !e) throw std::runtime_error("cannot read " + dir + "/" + cases + " or " + expected);
    std::vector<Case> out;
    std::string a, b;
    for (int line = 1; std::getline(c, a); ++line) {
        if (!std::getline(e, b)) throw std::runtime_error(dir + "/" + expected + " ends before line " + std::to_string(line));
        const json message = json::parse(a), record = json::parse(b);
        const bool null = message.contains("blob") && message["blob"].is_null();
        auto handle = std::make_shared<msgjson::Handle>();
        out.push_back({cases + ":" + std::to_string(line), MessageOf(a, message, dir, *handle),
                       null ? nullptr : handle, message.value("locale", ""), record.at("code").get<int>(), TextOf(record)});
    }
    return out;
}

// manifest.json: [{"file", "code", "message"}, ...], files relative to it.
std::vector<Case> LoadManifest(const std::string& dir) {
    std::vector<Case> out;
    for (const json& item : json::parse(ReadFile(dir + "/manifest.json"))) {
        const std::string file = item.at("file").get<std::string>();
        auto handle = std::make_shared<msgjson::Handle>();
        out.push_back({file, Read(ReadFile(dir + "/" + file), *handle), handle, "", item.at("code").get<int>(),
                       TextOf(item)});
    }
    return out;
}

// The record of the exported function, or with pLocation that of its
// located counterpart; with pAll, that of the full list instead, whose
// records go to pAll (at most nMax, through a sink when bSink).
Record Validate(const Case& c, EN_VALIDATE_LOCATION* pLocation = nullptr,
                std::vector<EN_VALIDATE_VIOLATION>* pAll = nullptr, x_uint32 nMax = 0, bool bSink = false) {
    const char* locale = std::setlocale(LC_ALL, c.locale.empty() ? "C" : c.locale.c_str());
    if (locale == nullptr) throw std::runtime_error(c.where + ": locale " + c.locale + " is not available");
    void* handle = c.handle ? c.handle->get() : nullptr;
    EN_VALIDATE_RESULT r;
    const bool log = c.message.kind == msgjson::Kind::Log;
    if (pAll != nullptr) {
        const EN_VALIDATE_SINK sink = [](void* all, const EN_VALIDATE_VIOLATION* v) -> x_int32 {
            static_cast<std::vector<EN_VALIDATE_VIOLATION>*>(all)->push_back(*v);
            return 1;
        };
        pAll->assign(nMax + 1, EN_VALIDATE_VIOLATION());  // one more than the cap, which must stay untouched
        if (bSink) pAll->clear();
        void* context = bSink ? static_cast<void*>(pAll) : pAll->data();
        const x_uint32 n = log ? En_Validate_Log_All(handle, c.message.msgType, &r, nMax, bSink ? sink : nullptr, context)
                               : En_Validate_RegisterData_All(handle, &r, nMax, bSink ? sink : nullptr, context);
        const EN_VALIDATE_VIOLATION untouched = {};
        if (!bSink && std::memcmp(&pAll->back(), &untouched, sizeof untouched) != 0)
            throw std::runtime_error(c.where + ": a record past the cap was written");
        if (bSink ? n != pAll->size() : n > nMax) throw std::runtime_error(c.where + ": wrong count of violations");
        pAll->resize(n);
    } else if (log) {
        pLocation ? En_Validate_Log_Located(handle, c.message.msgType, &r, pLocation)
                  : En_Validate_Log(handle, c.message.msgType, &r);
    } else {
        pLocation ? En_Validate_RegisterData_Located(handle, &r, pLocation) : En_Validate_RegisterData(handle, &r);
    }
    std::setlocale(LC_ALL, "C");
    return {r.nCode, r.szMessage};
}

json ListJson(const std::vector<EN_VALIDATE_VIOLATION>& all) {
    json out = json::array();
    for (const EN_VALIDATE_VIOLATION& v : all) {
        json o = RecordJson({v.result.nCode, v.result.szMessage});
        if (v.bNote) o["note"] = true;
        if (v.location.bLocated) {
            o["entry"] = v.location.nEntry;
            o["offset"] = v.location.nOffset;
            o["path"] = v.location.szPath;
        }
        out.push_back(o);
    }
    return out;
}

// What is wrong with the full list of c, given its single verdict r and
// location l; empty when nothing.  The first record that is not a note is
// the single verdict; notes have code 0 and none for a conforming message;
// every text and path is terminated; a place is inside the blob.
std::string ListProblem(const Case& c, const Record& r, const EN_VALIDATE_LOCATION& l,
                        const std::vector<EN_VALIDATE_VIOLATION>& all) {
    bool first = true;
    for (const EN_VALIDATE_VIOLATION& v : all) {
        const EN_VALIDATE_LOCATION& p = v.location;
        if (strnlen(v.result.szMessage, sizeof v.result.szMessage) > EN_VALIDATE_MESSAGE_SIZE - 2 ||
            strnlen(p.szPath, sizeof p.szPath) == sizeof p.szPath)
            return "a text or path not terminated";
        if (p.bLocated && !(uint64_t{p.nEntry} * 12 <= p.nOffset && p.nOffset <= c.handle->size() &&
                            std::string(p.szPath).rfind("Root", 0) == 0))
            return "a place outside the blob";
        if (v.bNote != (v.result.nCode == 0)) return "a note with a code, or code 0 without note";
        if (v.bNote || !first) continue;
        first = false;
        if (v.result.nCode != r.code || v.result.szMessage != r.text || p.bLocated != l.bLocated ||
            (l.bLocated && (p.nEntry != l.nEntry || p.nOffset != l.nOffset || std::strcmp(p.szPath, l.szPath) != 0)))
            return "the first violation is not the single verdict";
    }
    if (first != (r.code == 0)) return "no violation in the list of a failing message, or one for a conforming one";
    return "";
}

struct Suite {
    const char* name;
    std::vector<Case> (*load)();
    size_t nCases;
    const char* updatable;  // the expected file that EN_GOLDEN_UPDATE rewrites, or null
    const char* all;        // the full list of each message, a JSON array a line (EN_GOLDEN_UPDATE rewrites it), or null
};

const Suite kSuites[] = {
    {"Reference", [] { return LoadLines(EN_TESTS_DIR "/conformance", "cases.jsonl", "expected.jsonl"); }, 503, nullptr,
     nullptr},
    {"EntryPoints", [] { return LoadLines(EN_TESTS_DIR "/api", "cases.jsonl", "expected.jsonl"); }, 25, nullptr,
     EN_TESTS_DIR "/api/expected_all.jsonl"},
    {"Golden", [] { return LoadLines(EN_TESTS_DIR "/golden", "cases.jsonl", "expected.jsonl"); }, 4334,
     EN_TESTS_DIR "/golden/expected.jsonl", nullptr},
    {"Examples", [] { return LoadManifest(EN_EXAMPLES_DIR); }, 22, nullptr, nullptr},
};

void PrintTo(const Suite& suite, std::ostream* os) { *os << suite.name; }

class Conformance : public testing::TestWithParam<Suite> {};

TEST_P(Conformance, EveryMessageGetsItsExactRecord) {
    const Suite& suite = GetParam();
    const std::vector<Case> cases = suite.load();
    ASSERT_EQ(cases.size(), suite.nCases);
    if (suite.updatable != nullptr && std::getenv("EN_GOLDEN_UPDATE") != nullptr) {
        std::ofstream out(suite.updatable);
        for (const Case& c : cases) out << RecordJson(Validate(c)).dump() << '\n';
        ASSERT_TRUE(out.flush()) << "cannot write " << suite.updatable;
        GTEST_SKIP() << "rewrote " << suite.updatable;
    }
    std::vector<EN_VALIDATE_VIOLATION> all, capped;
    if (suite.all != nullptr && std::getenv("EN_GOLDEN_UPDATE") != nullptr) {
        std::ofstream out(suite.all);
        for (const Case& c : cases) {
            Validate(c, nullptr, &all, EN_VALIDATE_DEFAULT_MAX_VIOLATIONS);
            out << ListJson(all).dump() << '\n';
        }
        ASSERT_TRUE(out.flush()) << "cannot write " << suite.all;
        GTEST_SKIP() << "rewrote " << suite.all;
    }
    std::ifstream expectedAll(suite.all != nullptr ? suite.all : "");
    size_t failures = 0;
    for (const Case& c : cases) {
        const Record r = Validate(c);
        // The located entry points give the same record, and a location
        // exactly for what the walk decides, inside the blob: entry i's
        // header begins at byte 12 i or later.
        EN_VALIDATE_LOCATION l;
        const Record located = Validate(c, &l);
        const bool walk = r.code == 101 || r.code == 102 || r.code == 300;
        EXPECT_TRUE(located.code == r.code && located.text == r.text && l.bLocated == walk &&
                    (!walk || (uint64_t{l.nEntry} * 12 <= l.nOffset && l.nOffset <= c.handle->size() &&
                               std::string(l.szPath).rfind("Root", 0) == 0)))
            << c.where << ": " << located.code << " " << located.text << " at " << l.nEntry << " " << l.nOffset << " "
            << l.szPath;
        // The full list, in an array and through a sink with a cap of 2.
        const Record first = Validate(c, nullptr, &all, EN_VALIDATE_DEFAULT_MAX_VIOLATIONS);
        Validate(c, nullptr, &capped, 2, true);
        const std::string problem = ListProblem(c, r, l, all);
        EXPECT_TRUE(first.code == r.code && first.text == r.text && problem.empty() &&
                    ListJson(capped) == ListJson(std::vector<EN_VALIDATE_VIOLATION>(
                                            all.begin(), all.begin() + std::min<size_t>(2, all.size()))))
            << c.where << ": " << problem << "\n  " << ListJson(all).dump() << "\n  capped " << ListJson(capped).dump();
        std::string line;
        if (suite.all != nullptr && (!std::getline(expectedAll, line) || json::parse(line) != ListJson(all)))
            ADD_FAILURE() << c.where << ": full list\n  expected " << line << "\n  got      " << ListJson(all).dump();
        if (r.code == c.code && r.text == c.text) continue;
        if (++failures <= 20)
            ADD_FAILURE() << c.where << (c.locale.empty() ? "" : " (" + c.locale + ")") << "\n  expected "
                          << RecordJson({c.code, c.text}).dump() << "\n  got      " << RecordJson(r).dump();
    }
    EXPECT_EQ(failures, 0u) << "of " << cases.size() << " messages";
}

INSTANTIATE_TEST_SUITE_P(, Conformance, testing::ValuesIn(kSuites),
                         [](const testing::TestParamInfo<Suite>& p) { return std::string(p.param.name); });

}  // namespace
