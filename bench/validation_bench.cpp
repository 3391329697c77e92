// Validation through the exported functions of the shared library.
#include <benchmark/benchmark.h>

#include "AllocCounter.h"
#include "BenchMessages.h"
#include "En_ValidationPrivate.h"

namespace {

using testmsg::kRegistration;
using testmsg::Msg;

// Validates m as the kind of `type` (a log message type, or kRegistration)
// in the timed loop.  Throughput (entries and bytes per second) is
// reported only for messages that are read to their end.
void Run(benchmark::State& state, const Msg& m, int type, int expectedCode, bool readToEnd = true) {
    const grammar::MessageKind& kind = testmsg::KindOf(type);
    if (testmsg::Validate(m.get(), kind).nCode != expectedCode) {  // the verdict, checked once
        state.SkipWithError("unexpected result");
        return;
    }
    for (auto _ : state) {
        EN_VALIDATE_RESULT r = testmsg::Validate(m.get(), kind);
        benchmark::DoNotOptimize(r);
    }
    if (readToEnd) benchmsg::SetThroughput(state, m);
    benchalloc::ReportMemory(state, [&] { testmsg::Validate(m.get(), kind); });
}

// A complete message of the grammar, each group twice (Arg(0) is the kind).
void BM_ValidMessage(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    Msg m;
    testmsg::AppendCompleteMessage(m, *testmsg::KindOf(kind).pTable, {}, 2);
    Run(state, m, kind, 0);
}
BENCHMARK(BM_ValidMessage)->ArgName("kind")->Arg(1701)->Arg(kRegistration)->Arg(1703)->Arg(1501)->Arg(1721);

// The full list of the same message (the _All entry points, into an array
// of 100): on a valid message it costs what the single verdict costs.
void BM_FullList(benchmark::State& state) {
    const grammar::MessageKind& kind = testmsg::KindOf(static_cast<int>(state.range(0)));
    Msg m;
    testmsg::AppendCompleteMessage(m, *kind.pTable, {}, 2);
    static EN_VALIDATE_VIOLATION all[EN_VALIDATE_DEFAULT_MAX_VIOLATIONS];
    auto validate = [&] {
        EN_VALIDATE_RESULT r;
        const x_uint32 n = kind.bLog ? En_Validate_Log_All(m.get(), kind.MsgType(), &r, 100, nullptr, all)
                                     : En_Validate_RegisterData_All(m.get(), &r, 100, nullptr, all);
        return n + static_cast<x_uint32>(r.nCode);
    };
    if (validate() != 0) {
        state.SkipWithError("unexpected result");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(validate());
    benchmsg::SetThroughput(state, m);
    benchalloc::ReportMemory(state, [&] { validate(); });
}
BENCHMARK(BM_FullList)->ArgName("kind")->Arg(1701)->Arg(kRegistration)->Arg(1703)->Arg(1501)->Arg(1721);

// The first entry is already wrong: the cost of setting up and failing.
void BM_FailsAtFirstEntry(benchmark::State& state) {
    Msg m;
    m.U32(9999, 1);
    testmsg::AppendCompleteMessage(m, *testmsg::KindOf(kRegistration).pTable);
    Run(state, m, kRegistration, 101, false);
}
BENCHMARK(BM_FailsAtFirstEntry);

// Everything is read before the missing required node is found.
void BM_FailsAtEnd(benchmark::State& state) {
    Msg m;
    testmsg::AppendCompleteMessage(m, *testmsg::KindOf(kRegistration).pTable, {1001}, 2);
    Run(state, m, kRegistration, 101);
}
BENCHMARK(BM_FailsAtEnd);

// A value constraint rejects the last entry (a time string, formatted).
void BM_FailsOnConstraint(benchmark::State& state) {
    Msg m;
    testmsg::AppendCompleteMessage(m, *testmsg::KindOf(1703).pTable, {2001});
    m.WStr(2001, L"2008.07.15 13:05:09");
    Run(state, m, 1703, 102);
}
BENCHMARK(BM_FailsOnConstraint);

// A large registration message: every group Arg times in each instance of
// its parent (Info groups: 3 * Arg^2).
void BM_LargeRegistration(benchmark::State& state) {
    Msg m;
    testmsg::AppendCompleteMessage(m, *testmsg::KindOf(kRegistration).pTable, {}, static_cast<int>(state.range(0)));
    Run(state, m, kRegistration, 0);
}
BENCHMARK(BM_LargeRegistration)->ArgName("instances")->Arg(4)->Arg(16)->Arg(64);

}  // namespace

BENCHMARK_MAIN();
