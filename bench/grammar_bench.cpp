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
BENCHMARK(BM_BuildGrammar)->ArgName("kind")->Arg(1721)->Arg(1701)->Arg(1703)->Arg(testmsg::kRegistration);

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
