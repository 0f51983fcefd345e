// Concurrency soak over loopback: 8 threads each drive their own session on
// their own emulated instrument, while 4 more threads share one session on a
// ninth, all at once, for a bounded number of mixed calls per thread (reads,
// writes, measurements, the error queue, operation-complete). Every answer is
// checked against what that instrument must say, so a reply delivered to the
// wrong caller counts as a mismatch. It reports calls/s, errors and
// mismatched replies; the program fails unless both are 0.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "TARVEK.h"

namespace {

constexpr int kPrivateThreads = 8;
constexpr int kSharedThreads = 4;
// Settings of the shared instrument, distinct per channel so that a reply
// meant for another question cannot pass.
constexpr ViReal64 kSharedVolts[] = {1.5, 2.5, 3.5};
constexpr ViReal64 kSharedAmps[] = {0.25, 0.5, 0.75};
const char* const kChannels[] = {"CH1", "CH2", "CH3"};

std::atomic<bool> g_bFailed{false};

struct Tally {
    std::atomic<long> nCalls{0};
    std::atomic<long> nErrors{0};
    std::atomic<long> nMismatches{0};

    void Count(ViStatus status) {
        ++nCalls;
        if (status != VI_SUCCESS) {
            ++nErrors;
        }
    }
    void Expect(ViStatus status, ViReal64 dGot, ViReal64 dWanted) {
        Count(status);
        if (status == VI_SUCCESS && std::fabs(dGot - dWanted) > 1e-9) {
            ++nMismatches;
        }
    }
};

ViSession Open(const emu::Emulator& instrument) {
    std::string strResource = instrument.Resource();
    ViSession vi = VI_NULL;
    // No cache: every read is a question to the instrument.
    if (TARVEK_InitWithOptions(strResource.data(), VI_TRUE, VI_FALSE, "Cache=0, QueryInstrStatus=1",
                               &vi) != VI_SUCCESS) {
        return VI_NULL;
    }
    return vi;
}

ViReal64 ReadReal(ViSession vi, const char* pChannel, ViAttr nAttribute, ViStatus& status) {
    ViReal64 dValue = 0;
    status = TARVEK_GetAttributeViReal64(vi, pChannel, nAttribute, &dValue);
    return dValue;
}

// One call of the mix on a session whose instrument holds the given settings
// for the channel; bWrite lets the call change them (private sessions).
void MixedCall(ViSession vi, int nStep, int nChannel, ViReal64& dVolts, ViReal64 dAmps, bool bWrite,
               Tally& tally) {
    const char* pChannel = kChannels[nChannel];
    ViStatus status = VI_SUCCESS;
    switch (nStep % 6) {
        case 0:
            if (bWrite) {
                dVolts = 1.0 + (nStep % 40) * 0.125;
            }
            tally.Count(TARVEK_ConfigureVoltageLevel(vi, pChannel, dVolts));
            break;
        case 1: {
            const ViReal64 dGot = ReadReal(vi, pChannel, TARVEK_ATTR_VOLTAGE_LEVEL, status);
            tally.Expect(status, dGot, dVolts);
            break;
        }
        case 2: {
            const ViReal64 dGot = ReadReal(vi, pChannel, TARVEK_ATTR_CURRENT_LIMIT, status);
            tally.Expect(status, dGot, dAmps);
            break;
        }
        case 3: {
            // Into the 1000 ohm load: constant voltage, the programmed level.
            ViReal64 dGot = 0;
            status = TARVEK_Measure(vi, pChannel, TARVEK_VAL_MEASURE_VOLTAGE, &dGot);
            tally.Expect(status, dGot, dVolts);
            break;
        }
        case 4: {
            ViInt32 nCode = 1;
            ViChar message[256] = {};
            status = TARVEK_error_query(vi, &nCode, message);
            tally.Expect(status, nCode, 0);
            break;
        }
        case 5:
            tally.Count(TARVEK_WaitForOperationComplete(vi));
            break;
    }
}

bool Prepare(ViSession vi, int nChannels, const ViReal64* pVolts, const ViReal64* pAmps) {
    for (int n = 0; n < nChannels; ++n) {
        if (TARVEK_ConfigureVoltageLevel(vi, kChannels[n], pVolts[n]) != VI_SUCCESS ||
            TARVEK_ConfigureCurrentLimit(vi, kChannels[n], TARVEK_VAL_CURRENT_REGULATE, pAmps[n]) !=
                VI_SUCCESS ||
            TARVEK_ConfigureOutputEnabled(vi, kChannels[n], VI_TRUE) != VI_SUCCESS) {
            return false;
        }
    }
    return true;
}

void ConcurrencySoak(benchmark::State& state) {
    const int nCallsPerThread = static_cast<int>(state.range(0));
    std::vector<std::unique_ptr<emu::Emulator>> vecInstruments;
    for (int n = 0; n <= kPrivateThreads; ++n) {
        vecInstruments.push_back(std::make_unique<emu::Emulator>());
        vecInstruments.back()->Start();
    }
    std::vector<ViSession> vecSessions;
    for (const auto& pInstrument : vecInstruments) {
        vecSessions.push_back(Open(*pInstrument));
        if (vecSessions.back() == VI_NULL) {
            state.SkipWithError("cannot open a session on the emulator");
            g_bFailed = true;
            break;
        }
    }
    const ViSession viShared = vecSessions.size() > kPrivateThreads ? vecSessions.back() : VI_NULL;
    if (viShared == VI_NULL || !Prepare(viShared, 3, kSharedVolts, kSharedAmps)) {
        state.SkipWithError("cannot prepare the shared instrument");
        g_bFailed = true;
    }
    Tally tally;
    double dSeconds = 0;
    for (auto _ : state) {
        if (g_bFailed) {
            break;
        }
        const auto tpStart = std::chrono::steady_clock::now();
        std::vector<std::thread> vecThreads;
        for (int nThread = 0; nThread < kPrivateThreads; ++nThread) {
            vecThreads.emplace_back([&, nThread] {
                const ViSession vi = vecSessions[static_cast<std::size_t>(nThread)];
                const int nChannel = nThread % 3;
                ViReal64 dVolts = 1.0;
                const ViReal64 dAmps = 0.5 + 0.125 * nThread;
                const ViReal64 volts[] = {dVolts, dVolts, dVolts};
                const ViReal64 amps[] = {dAmps, dAmps, dAmps};
                if (!Prepare(vi, 3, volts, amps)) {
                    ++tally.nErrors;
                    return;
                }
                for (int nStep = 0; nStep < nCallsPerThread; ++nStep) {
                    MixedCall(vi, nStep + nThread, nChannel, dVolts, dAmps, true, tally);
                }
            });
        }
        for (int nThread = 0; nThread < kSharedThreads; ++nThread) {
            vecThreads.emplace_back([&, nThread] {
                for (int nStep = 0; nStep < nCallsPerThread; ++nStep) {
                    const int nChannel = (nStep + nThread) % 3;
                    ViReal64 dVolts = kSharedVolts[nChannel];
                    MixedCall(viShared, nStep + nThread, nChannel, dVolts, kSharedAmps[nChannel],
                              false, tally);
                }
            });
        }
        for (std::thread& thread : vecThreads) {
            thread.join();
        }
        dSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - tpStart).count();
    }
    for (const ViSession vi : vecSessions) {
        if (vi != VI_NULL) {
            TARVEK_close(vi);
        }
    }
    const long nCalls = tally.nCalls.load();
    state.counters["calls"] = static_cast<double>(nCalls);
    state.counters["calls/s"] = dSeconds > 0 ? nCalls / dSeconds : 0.0;
    state.counters["errors"] = static_cast<double>(tally.nErrors.load());
    state.counters["mismatches"] = static_cast<double>(tally.nMismatches.load());
    if (tally.nErrors != 0 || tally.nMismatches != 0) {
        std::fprintf(stderr, "%ld calls: %ld errors, %ld mismatched replies\n", nCalls,
                     tally.nErrors.load(), tally.nMismatches.load());
        g_bFailed = true;
        state.SkipWithError("errors or mismatched replies");
    }
}
// Calls per thread: a short run for the test suite, a longer one for `make bench`.
BENCHMARK(ConcurrencySoak)
    ->Arg(60)
    ->Arg(4000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_bFailed) {
        std::fprintf(stderr, "concurrency soak: errors or mismatched replies\n");
        return 1;
    }
    return 0;
}
