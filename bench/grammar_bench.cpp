// Inside the library: the parser alone.
#include <benchmark/benchmark.h>

#include "AllocCounter.h"
#include "BenchMessages.h"
#include "BlobMessageParser.h"
#include "GrammarRegistry.h"

namespace {

// The parser without the entry point: a large status message, every group
// Arg times in each instance of its parent.
void BM_ParseLargeStatus(benchmark::State& state) {
    testmsg::Msg m;
    testmsg::AppendCompleteMessage(m, *testmsg::KindOf(1701).pTable, {}, static_cast<int>(state.range(0)));
    const CBlobGrammar& grammar = *CGrammarRegistry::GetLogGrammar(1701);
    auto parse = [&] {
        CViolation v;
        CFirstViolation sink(nullptr);  // the exported functions' sink: the first violation ends the walk
        return CBlobMessageParser().Parse(m.get(), grammar, v, sink);
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
