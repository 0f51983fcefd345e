// Query round trip over HiSLIP against the same query on the emulator's raw
// socket: both reach one in-process emulator, so the difference is the
// protocol and the VISA layer.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>

#include "Emulator.h"
#include "RawQueryClient.h"
#include "visa.h"

namespace {

constexpr char kQuery[] = "*OPC?\n";

emu::Emulator& TheEmulator() {
    static emu::Emulator* pEmulator = [] {
        emu::EmulatorOptions options;
        options.bHislip = true;
        options.nHislipPort = 0;
        auto* p = new emu::Emulator(options);
        p->Start();
        return p;
    }();
    return *pEmulator;
}

class RawClient : public RawQueryClient {
  public:
    RawClient() : RawQueryClient("127.0.0.1", TheEmulator().Port(), kQuery) {}
};

class HislipClient {
  public:
    HislipClient() {
        m_bOk = viOpenDefaultRM(&m_rm) == VI_SUCCESS &&
                viOpen(m_rm, TheEmulator().HislipResource().c_str(), VI_NO_LOCK, 2000, &m_vi) ==
                    VI_SUCCESS;
    }
    ~HislipClient() { viClose(m_rm); }
    bool Ok() const { return m_bOk; }
    bool Query() {
        ViInt32 nValue = 0;
        return viQueryf(m_vi, kQuery, "%d%*t", &nValue) >= VI_SUCCESS && nValue == 1;
    }

  private:
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
    bool m_bOk = false;
};

double g_dRawNs = 0;
double g_dHislipNs = 0;

template <typename Client>
void BM_Query(benchmark::State& state) {
    Client client;
    if (!client.Ok()) {
        state.SkipWithError("connect failed");
        return;
    }
    const auto tStart = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!client.Query()) {
            state.SkipWithError("query failed");
            return;
        }
    }
    const double dNs =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - tStart)
            .count() /
        static_cast<double>(state.iterations());
    (std::is_same_v<Client, RawClient> ? g_dRawNs : g_dHislipNs) = dNs;
}

BENCHMARK(BM_Query<RawClient>)->Name("BM_EmulatorSocketQuery")->UseRealTime();
BENCHMARK(BM_Query<HislipClient>)->Name("BM_HislipViQueryf")->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_dRawNs > 0 && g_dHislipNs > 0) {
        const double dRatio = g_dHislipNs / g_dRawNs;
        std::printf(
            "\nquery round trip: raw socket %.2f us, HiSLIP viQueryf %.2f us, ratio %.3f "
            "(target <= 1.10): %s\n",
            g_dRawNs / 1000, g_dHislipNs / 1000, dRatio, dRatio <= 1.10 ? "met" : "MISSED");
    }
    return 0;
}
