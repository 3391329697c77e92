// Inside the library: building a grammar, and the parser alone.
#include <benchmark/benchmark.h>

#include "AllocCounter.h"
#include "BenchMessages.h"
#include "BlobMessageParser.h"

namespace {

// Builds a grammar from its table, as every grammar class's constructor does.
class TableGrammar : public CBlobGrammar {
public:
    explicit TableGrammar(const grammar::GrammarTable& table) { _Build(table); }
};

// What the registry pays on the first request for a message type.
void BM_BuildGrammar(benchmark::State& state) {
    const grammar::GrammarTable& table = testmsg::TableOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TableGrammar* grammar = new TableGrammar(table);
        benchmark::DoNotOptimize(grammar);
        delete grammar;
    }
    benchalloc::ReportMemory(state, [&] { delete new TableGrammar(table); });
}
BENCHMARK(BM_BuildGrammar)->ArgName("kind")->Apply([](benchmark::internal::Benchmark* b) {
    for (const testmsg::GrammarShape& s : testmsg::kGrammarShapes) b->Arg(s.kind);
});

// Building all fourteen grammars, what a process pays once when it
// validates every message type (freeing them is not timed).
void BM_BuildAllGrammars(benchmark::State& state) {
    constexpr size_t kCount = sizeof testmsg::kGrammarShapes / sizeof testmsg::kGrammarShapes[0];
    TableGrammar* grammars[kCount];
    auto build = [&] {
        for (size_t i = 0; i < kCount; ++i) grammars[i] = new TableGrammar(testmsg::TableOf(testmsg::kGrammarShapes[i].kind));
    };
    auto release = [&] {
        for (TableGrammar* g : grammars) delete g;
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
    testmsg::AppendCompleteMessage(m, testmsg::TableOf(1701), {}, static_cast<int>(state.range(0)));
    const CBlobGrammar& grammar = *CBlobGrammar::GetLogGrammar(1701);
    for (auto _ : state) CBlobMessageParser().Parse(m.get(), grammar);
    benchmsg::SetThroughput(state, m);
    benchalloc::ReportMemory(state, [&] { CBlobMessageParser().Parse(m.get(), grammar); });
}
BENCHMARK(BM_ParseLargeStatus)->ArgName("instances")->Arg(1)->Arg(16)->Arg(128);

}  // namespace

BENCHMARK_MAIN();
