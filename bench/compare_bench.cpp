// Side by side, for the same messages:
//
//   Ours/<msg>      validation through the exported functions of
//                   libEn_Validation.so.1, as a caller validates;
//   Floor/<msg>     the blob only popped through the reader, entry by entry,
//                   with no grammar work: the least any validator of this
//                   format pays;
//   PbReused/<msg>  Protocol Buffers: ParsePartialFromArray into one message
//                   object kept across iterations, IsInitialized, and the
//                   value checks the grammar names (EnGrammarChecks.h);
//   PbArena/<msg>   the same into a message made on an arena with a 1 MiB
//                   initial block, reset after every message.
//
// Each benchmark first checks the verdict (the library's result code, or
// whether the protobuf side accepts), then times one message per
// iteration, and afterwards counts the heap allocations of one more pass
// (AllocCounter.h).  Counters: entries, blob_bytes, pb_bytes, allocs,
// peak_bytes; items/s is messages per second, bytes/s counts the bytes of
// the encoding the variant reads.
//
// Before any benchmark runs, the first validation of every message type in
// this process is timed once and its allocations counted, reported in the
// context as first_use_all_grammars_us and first_use_all_grammars_allocs.
#include <benchmark/benchmark.h>
#include <google/protobuf/arena.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "AllocCounter.h"
#include "BenchMessages.h"
#include "ProtoMessages.h"

namespace {

using testmsg::kRegistration;
using testmsg::Msg;

struct Case {
    std::string key;    // the part of the benchmark name after the variant
    std::string label;  // what the message is
    int kind;           // log message type, or kRegistration
    int expectedCode;   // the library's verdict
    bool pbAccepts;     // the protobuf side's verdict
    Msg msg;
    std::string pb;     // the protobuf encoding of the same content
    int64_t entries = 0;
};

// "1501 Event", ..., "registration": the type and the grammar's class name
// without its frame (CEventLogGrammar).
std::string KindLabel(const grammar::MessageKind& kind) {
    if (!kind.bLog) return "registration";
    std::string name = kind.ClassName();
    const std::string suffix = "LogGrammar";
    if (name.size() > suffix.size() + 1 && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        name = name.substr(1, name.size() - suffix.size() - 1);
    return std::to_string(kind.MsgType()) + " " + name;
}

EN_VALIDATE_RESULT Validate(const Case& c) {
    EN_VALIDATE_RESULT r;
    r.nCode = -1;
    if (c.kind == kRegistration)
        En_Validate_RegisterData(c.msg.get(), &r);
    else
        En_Validate_Log(c.msg.get(), c.kind, &r);
    return r;
}

// Counters common to all variants; `once` is one more pass for counting
// allocations.
template <class F>
void Finish(benchmark::State& state, const Case& c, size_t bytesRead, F&& once) {
    state.SetLabel(c.label);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytesRead));
    state.counters["entries"] = static_cast<double>(c.entries);
    state.counters["blob_bytes"] = static_cast<double>(c.msg.size());
    state.counters["pb_bytes"] = static_cast<double>(c.pb.size());
    benchalloc::ReportMemory(state, once);
}

void Ours(benchmark::State& state, const Case& c) {
    const EN_VALIDATE_RESULT first = Validate(c);  // the verdict, checked once
    if (first.nCode != c.expectedCode) {
        state.SkipWithError(("library result " + std::to_string(first.nCode) + ": " + first.szMessage).c_str());
        return;
    }
    for (auto _ : state) {
        EN_VALIDATE_RESULT r = Validate(c);
        benchmark::DoNotOptimize(r);
    }
    Finish(state, c, c.msg.size(), [&] { Validate(c); });
}

// Pops every entry of the message's blob; the number of entries.
int64_t Scan(void* handle) {
    CBlobReader* reader = CreateINVPBlobReader();
    reader->Attach(En_Msg_GetBuffer(handle), En_Msg_BytesUsed(handle));
    CMsgEntry e;
    int64_t n = 0;
    while (reader->Pop(&e.m_nID, &e.m_nDataType, &e.m_pData, &e.m_nDataLength) == 0) ++n;
    FreeINVPBlobReader(reader);
    return n;
}

void Floor(benchmark::State& state, const Case& c) {
    for (auto _ : state) benchmark::DoNotOptimize(Scan(c.msg.get()));
    Finish(state, c, c.msg.size(), [&] { Scan(c.msg.get()); });
}

bool ParseAndCheck(google::protobuf::Message& m, const std::string& pb, const enbench::PbGrammar& g) {
    return m.ParsePartialFromArray(pb.data(), static_cast<int>(pb.size())) && m.IsInitialized() && g.check(m);
}

template <class Parse>
bool VerdictAsExpected(benchmark::State& state, const Case& c, Parse&& parse) {
    if (parse() == c.pbAccepts) return true;
    state.SkipWithError(c.pbAccepts ? "protobuf side rejects" : "protobuf side accepts");
    return false;
}

void PbReused(benchmark::State& state, const Case& c) {
    const enbench::PbGrammar& g = benchpb::GrammarOf(c.kind);
    std::unique_ptr<google::protobuf::Message> m(benchpb::PrototypeOf(c.kind).New());
    auto parse = [&] { return ParseAndCheck(*m, c.pb, g); };
    if (!VerdictAsExpected(state, c, parse)) return;
    for (auto _ : state) benchmark::DoNotOptimize(parse());
    Finish(state, c, c.pb.size(), parse);
}

constexpr size_t kArenaBlock = size_t{1} << 20;

void PbArena(benchmark::State& state, const Case& c) {
    const enbench::PbGrammar& g = benchpb::GrammarOf(c.kind);
    const google::protobuf::Message& prototype = benchpb::PrototypeOf(c.kind);
    std::vector<char> block(kArenaBlock);
    google::protobuf::ArenaOptions options;
    options.initial_block = block.data();
    options.initial_block_size = block.size();
    google::protobuf::Arena arena(options);
    auto parse = [&] {
        const bool ok = ParseAndCheck(*prototype.New(&arena), c.pb, g);
        arena.Reset();
        return ok;
    };
    if (!VerdictAsExpected(state, c, parse)) return;
    for (auto _ : state) benchmark::DoNotOptimize(parse());
    Finish(state, c, c.pb.size(), parse);
}

std::vector<std::unique_ptr<Case>> MakeCases() {
    std::vector<std::unique_ptr<Case>> cases;
    auto add = [&](std::string key, std::string label, int kind, int code, bool pbAccepts) -> Msg& {
        cases.push_back(std::unique_ptr<Case>(new Case{std::move(key), std::move(label), kind, code, pbAccepts, {}, {}}));
        return cases.back()->msg;
    };
    for (const grammar::MessageKind& kind : grammar::kMessageKinds) {
        const std::string key = kind.bLog ? "log" + std::to_string(kind.MsgType()) : "register";
        testmsg::AppendCompleteMessage(add(key, KindLabel(kind), kind.MsgType(), 0, true), *kind.pTable);
    }
    for (int n : {4, 16})
        testmsg::AppendCompleteMessage(add("register_x" + std::to_string(n),
                                           "registration, groups x" + std::to_string(n) + " (" +
                                               std::to_string(3 * n * n) + " Info)",
                                           kRegistration, 0, true),
                                       *testmsg::KindOf(kRegistration).pTable, {}, n);

    // Fails at once: the first node is not in the grammar.  Protobuf parses
    // the whole message and finds the unknown field afterwards.
    Msg& first = add("fail_first", "registration, unknown node first (101)", kRegistration, 101, false);
    first.U32(9999, 1);
    testmsg::AppendCompleteMessage(first, *testmsg::KindOf(kRegistration).pTable);

    // A value constraint rejects the last entry: the time check fails.
    Msg& time = add("fail_time", "1703 virus, bad time string last (102)", 1703, 102, false);
    testmsg::AppendCompleteMessage(time, *testmsg::KindOf(1703).pTable, {2001});
    time.WStr(2001, L"2008.07.15 13:05:09");

    // A required node is missing, found at the end: IsInitialized fails.
    testmsg::AppendCompleteMessage(
        add("fail_missing", "registration x2, no ProductGUID (101 at end)", kRegistration, 101, false),
        *testmsg::KindOf(kRegistration).pTable, {1001}, 2);

    for (auto& c : cases) {
        c->pb = benchpb::Encode(c->msg.bytes(), c->msg.size(), c->kind);
        c->entries = benchmsg::CountEntries(c->msg);
    }
    return cases;
}

// The first validation of every message type in this process: the time
// in microseconds, and the allocations.
struct FirstUse {
    double us = 0;
    size_t allocations = 0;
};
FirstUse FirstUseOfAllGrammars(const std::vector<std::unique_ptr<Case>>& cases) {
    FirstUse first;
    for (const grammar::MessageKind& kind : grammar::kMessageKinds)
        for (const auto& c : cases)
            if (c->kind == kind.MsgType() && c->expectedCode == 0) {
                allochooks::StartCounting();
                const auto t0 = std::chrono::steady_clock::now();
                Validate(*c);
                first.us += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
                first.allocations += allochooks::StopCounting().allocations;
                break;
            }
    return first;
}

}  // namespace

int main(int argc, char** argv) {
    GOOGLE_PROTOBUF_VERIFY_VERSION;
    const std::vector<std::unique_ptr<Case>> cases = MakeCases();
    const FirstUse first = FirstUseOfAllGrammars(cases);
    char firstUse[32];
    std::snprintf(firstUse, sizeof firstUse, "%.1f", first.us);
    benchmark::AddCustomContext("first_use_all_grammars_us", firstUse);
    benchmark::AddCustomContext("first_use_all_grammars_allocs", std::to_string(first.allocations));
    std::string order;  // the messages in the order of the table
    for (const auto& c : cases) order += (order.empty() ? "" : ",") + c->key;
    benchmark::AddCustomContext("messages", order);

    for (const auto& c : cases) {
        const Case& ref = *c;
        benchmark::RegisterBenchmark(("Ours/" + c->key).c_str(), [&ref](benchmark::State& s) { Ours(s, ref); });
        benchmark::RegisterBenchmark(("Floor/" + c->key).c_str(), [&ref](benchmark::State& s) { Floor(s, ref); });
        benchmark::RegisterBenchmark(("PbReused/" + c->key).c_str(), [&ref](benchmark::State& s) { PbReused(s, ref); });
        benchmark::RegisterBenchmark(("PbArena/" + c->key).c_str(), [&ref](benchmark::State& s) { PbArena(s, ref); });
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    google::protobuf::ShutdownProtobufLibrary();
    return 0;
}
