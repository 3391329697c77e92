// Inside the library: building a grammar, and the parser alone.
#include <benchmark/benchmark.h>

#include "AllocCounter.h"
#include "BenchMessages.h"
#include "BlobMessageParser.h"
#include "GrammarRegistry.h"

namespace {

// What the registry pays on the first request for a message type (Arg:
// the type, 0 for the registration message).
void BM_BuildGrammar(benchmark::State& state) {
    const grammar::GrammarTable& table = *testmsg::KindOf(static_cast<x_int32>(state.range(0))).pTable;
    for (auto _ : state) {
        CBlobGrammar* grammar = new CBlobGrammar(table);
        benchmark::DoNotOptimize(grammar);
        delete grammar;
    }
    benchalloc::ReportMemory(state, [&] { delete new CBlobGrammar(table); });
}
BENCHMARK(BM_BuildGrammar)->ArgName("kind")->Apply([](benchmark::internal::Benchmark* b) {
    for (const grammar::MessageKind& kind : grammar::kMessageKinds) b->Arg(kind.MsgType());
});

// Building all fourteen grammars, what a process pays once when it
// validates every message type (freeing them is not timed).
void BM_BuildAllGrammars(benchmark::State& state) {
    constexpr size_t kCount = grammar::kMessageKindCount;
    CBlobGrammar* grammars[kCount];
    auto build = [&] {
        for (size_t i = 0; i < kCount; ++i) grammars[i] = new CBlobGrammar(*grammar::kMessageKinds[i].pTable);
    };
    auto release = [&] {
        for (CBlobGrammar* g : grammars) delete g;
    };
    for (auto _ : state) {
        build();
        benchmark::DoNotOptimize(grammars);
        state.PauseTiming();
        release();
        state.ResumeTiming();
    }
    state.counters["grammars"] = static_cast<double>(kCount);
    benchalloc::ReportMemory(state, build);
    release();
}
BENCHMARK(BM_BuildAllGrammars);

// The parser without the entry point: a large status message, every group
// Arg times in each instance of its parent.
void BM_ParseLargeStatus(benchmark::State& state) {
    testmsg::Msg m;
    testmsg::AppendCompleteMessage(m, *testmsg::KindOf(1701).pTable, {}, static_cast<int>(state.range(0)));
    const CBlobGrammar& grammar = *CGrammarRegistry::GetLogGrammar(1701);
    auto parse = [&] {
        CViolation v;
        return CBlobMessageParser().Parse(m.get(), grammar, v, nullptr);
    };
    if (!parse()) {
        state.SkipWithError("the message is rejected");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(parse());
    benchmsg::SetThroughput(state, m);
    benchalloc::ReportMemory(state, parse);
}
BENCHMARK(BM_ParseLargeStatus)->ArgName("instances")->Arg(1)->Arg(16)->Arg(128);

}  // namespace

BENCHMARK_MAIN();
