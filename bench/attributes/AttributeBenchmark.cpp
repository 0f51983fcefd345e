// Costs of the attribute engine's hot paths in simulation: a write without a
// channel, a write of a channel attribute, and selector resolution.
#include <benchmark/benchmark.h>

#include "BenchRows.h"
#include "runtime/repcap/OutputChannel.h"
#include "runtime/session/CallFrame.h"

namespace {

using namespace attrbench;

void SetRealWithoutChannel(benchmark::State& state) {
    const ViSession vi = OpenSimulated();
    double dValue = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(SetReal(vi, nullptr, kBenchReal, dValue));
        dValue += 1;
    }
    TARVEK_close(vi);
}
BENCHMARK(SetRealWithoutChannel);

void SetRealOnChannel(benchmark::State& state) {
    const ViSession vi = OpenSimulated();
    double dValue = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(SetReal(vi, "CH1", kBenchRealChannel, dValue));
        dValue += 1;
    }
    TARVEK_close(vi);
}
BENCHMARK(SetRealOnChannel);

void ExportedSetOfInherentFlag(benchmark::State& state) {
    const ViSession vi = OpenSimulated();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            TARVEK_SetAttributeViBoolean(vi, "", TARVEK_ATTR_RANGE_CHECK, VI_TRUE));
    }
    TARVEK_close(vi);
}
BENCHMARK(ExportedSetOfInherentFlag);

void ExportedSetOfCatalogueLevels(benchmark::State& state) {
    const ViSession vi = OpenSimulated();
    if (drt::AttributeTable().Find(TARVEK_ATTR_VOLTAGE_LEVEL) == nullptr) {
        state.SkipWithError("catalogue not registered");
    }
    double dValue = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            TARVEK_SetAttributeViReal64(vi, nullptr, TARVEK_ATTR_CURRENT_LEVEL, dValue));
        benchmark::DoNotOptimize(
            TARVEK_SetAttributeViReal64(vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, dValue));
        dValue += 1;
    }
    TARVEK_close(vi);
}
BENCHMARK(ExportedSetOfCatalogueLevels);

void ResolveRangeAgain(benchmark::State& state) {
    const ViSession vi = OpenSimulated();
    drt::DriverSession* pSession = nullptr;
    drt::FetchSession(vi, pSession);
    drt::ChannelListPtr pList;
    drt::ResolveChannels(*pSession, "CH1-CH3", true, pList);
    for (auto _ : state) {
        benchmark::DoNotOptimize(drt::ResolveChannels(*pSession, "CH1-CH3", true, pList));
    }
    TARVEK_close(vi);
}
BENCHMARK(ResolveRangeAgain);

void ResolveFreshSelectors(benchmark::State& state) {
    // Distinct selectors defeat the memo: the full parse every time.
    const ViSession vi = OpenSimulated();
    drt::DriverSession* pSession = nullptr;
    drt::FetchSession(vi, pSession);
    const char* selectors[] = {"CH1-CH3",   " CH1-CH3",  "CH1-CH3 ",
                               "[CH1-CH3]", "CH1 - CH3", "CH1,CH2,CH3"};
    std::size_t n = 0;
    for (auto _ : state) {
        pSession->Caches().channels = drt::SessionChannels();
        drt::ChannelListPtr pList;
        benchmark::DoNotOptimize(drt::ResolveChannels(*pSession, selectors[n++ % 6], true, pList));
    }
    TARVEK_close(vi);
}
BENCHMARK(ResolveFreshSelectors);

void GrammarRecogniser(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(drt::SelectorMatchesGrammar(" [CH1 - CH3] , CH2 "));
    }
}
BENCHMARK(GrammarRecogniser);

void GrammarExpression(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(drt::SelectorMatchesGrammarRegex(" [CH1 - CH3] , CH2 "));
    }
}
BENCHMARK(GrammarExpression);

}  // namespace

BENCHMARK_MAIN();
