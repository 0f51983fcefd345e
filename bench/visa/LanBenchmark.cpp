// LAN instrument round trips, in one run:
//  - a VXI-11 query through viQueryf against pyvisa-py's query of the same
//    emulator resource (target: faster than pyvisa-py);
//  - a driver channel attribute write over VXI-11 to the emulator (target:
//    one core-channel RPC per write);
//  - a driver channel attribute read over a raw-socket session against a
//    blocking raw-socket query, both to one scripted responder (target: at
//    most 1.15x).
// The VXI-11 parts need the portmapper on port 111 (root); without it they
// are skipped and the socket part still runs.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "RawQueryClient.h"
#include "TARVEK.h"
#include "tools/emulator/Emulator.h"
#include "visa.h"

namespace {

// An address of the emulator's own, so that its port 111 is free to take.
constexpr char kHost[] = "127.0.14.1";
constexpr char kRawQuery[] = "SOUR:VOLT:LEV:IMM:AMPL?\n";
constexpr char kMeasure[] = "SOUR:VOLT:LEV:IMM:AMPL?\n";
constexpr char kReply[] = "1.234500000000000E+01\n";

struct Figures {
    double dVxi11QueryUs = 0;
    double dPyvisaQueryUs = 0;
    double dWriteRpcs = 0;
    double dWriteUs = 0;
    double dRawQueryUs = 0;
    double dAttributeReadUs = 0;
    double dReadRatio = 0;
};
Figures g_figures;

class Bench {
  public:
    static Bench& Instance() {
        static Bench bench;
        return bench;
    }
    emu::Emulator& Emulator() { return *m_pEmulator; }
    bool HasVxi11() const { return m_bVxi11; }
    const std::string& Vxi11Note() const { return m_strNote; }

  private:
    Bench() {
        emu::EmulatorOptions options;
        options.strHost = kHost;
        options.bVxi11 = true;
        m_pEmulator = std::make_unique<emu::Emulator>(options);
        try {
            m_pEmulator->Start();
            m_bVxi11 = true;
        } catch (const std::runtime_error& error) {
            m_strNote = error.what();
            options.bVxi11 = false;
            m_pEmulator = std::make_unique<emu::Emulator>(options);
            m_pEmulator->Start();
        }
    }
    std::unique_ptr<emu::Emulator> m_pEmulator;
    bool m_bVxi11 = false;
    std::string m_strNote;
};

double Median(std::vector<double> vecValues) {
    if (vecValues.empty()) {
        return 0;
    }
    std::nth_element(vecValues.begin(), vecValues.begin() + vecValues.size() / 2, vecValues.end());
    return vecValues[vecValues.size() / 2];
}

template <class Body>
bool Timed(std::vector<double>& vecLatency, Body&& body) {
    const auto tStart = std::chrono::steady_clock::now();
    const bool bOk = body();
    vecLatency.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - tStart)
            .count());
    return bOk;
}

// A scripted instrument for the socket comparison: one thread serves every
// connection (the emulator gives each its own thread, and where the
// scheduler wakes those changes a round trip several times over), so the raw
// socket and the driver meet the same far side. It answers "*IDN?" with the
// emulator's identity, every other query with kReply, commands with nothing.
class Responder {
  public:
    Responder() {
        m_nListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_nListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_nListen, 8);
        socklen_t nLength = sizeof addr;
        ::getsockname(m_nListen, reinterpret_cast<sockaddr*>(&addr), &nLength);
        m_nPort = ntohs(addr.sin_port);
        if (::pipe2(m_nStopPipe, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe2 failed");
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~Responder() {
        if (::write(m_nStopPipe[1], "x", 1) != 1) {
            std::perror("stop responder");
        }
        m_thread.join();
        ::close(m_nListen);
        ::close(m_nStopPipe[0]);
        ::close(m_nStopPipe[1]);
    }
    unsigned short Port() const { return m_nPort; }
    std::string Resource() const {
        return "TCPIP::127.0.0.1::" + std::to_string(m_nPort) + "::SOCKET";
    }

  private:
    void Run() {
        std::vector<pollfd> vecFds{{m_nStopPipe[0], POLLIN, 0}, {m_nListen, POLLIN, 0}};
        std::vector<std::string> vecPending(2);
        char buffer[4096];
        for (;;) {
            if (::poll(vecFds.data(), vecFds.size(), -1) < 0) {
                continue;
            }
            if (vecFds[0].revents != 0) {
                break;
            }
            if (vecFds[1].revents & POLLIN) {
                const int nFd = ::accept4(m_nListen, nullptr, nullptr, SOCK_CLOEXEC);
                if (nFd >= 0) {
                    const int nOne = 1;
                    ::setsockopt(nFd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
                    vecFds.push_back({nFd, POLLIN, 0});
                    vecPending.emplace_back();
                }
            }
            for (std::size_t i = 2; i < vecFds.size(); ++i) {
                if (vecFds[i].revents == 0) {
                    continue;
                }
                const ssize_t nGot = ::recv(vecFds[i].fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (nGot == 0 || (nGot < 0 && errno != EAGAIN && errno != EINTR)) {
                    ::close(vecFds[i].fd);
                    vecFds.erase(vecFds.begin() + static_cast<std::ptrdiff_t>(i));
                    vecPending.erase(vecPending.begin() + static_cast<std::ptrdiff_t>(i));
                    --i;
                    continue;
                }
                std::string& strPending = vecPending[i];
                strPending.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(nGot, 0)));
                std::string strReplies;
                std::size_t nNewline;
                while ((nNewline = strPending.find('\n')) != std::string::npos) {
                    const std::string strLine = strPending.substr(0, nNewline);
                    strPending.erase(0, nNewline + 1);
                    if (strLine == "*IDN?") {
                        strReplies += "Norvale,6313,SN000001,1.02\n";
                    } else if (!strLine.empty() && strLine.back() == '?') {
                        strReplies += kReply;
                    }
                }
                if (!strReplies.empty()) {
                    ::send(vecFds[i].fd, strReplies.data(), strReplies.size(), MSG_NOSIGNAL);
                }
            }
        }
        for (std::size_t i = 2; i < vecFds.size(); ++i) {
            ::close(vecFds[i].fd);
        }
    }

    int m_nListen = -1;
    int m_nStopPipe[2] = {-1, -1};
    unsigned short m_nPort = 0;
    std::thread m_thread;
};

// A driver session with the cache off, so every call goes to the instrument.
class DriverClient {
  public:
    explicit DriverClient(const std::string& strResource) {
        m_bOk = TARVEK_InitWithOptions(const_cast<ViChar*>(strResource.c_str()), VI_TRUE, VI_FALSE,
                                       "Cache=0", &m_vi) == VI_SUCCESS;
    }
    ~DriverClient() {
        if (m_vi != VI_NULL) {
            TARVEK_close(m_vi);
        }
    }
    bool Ok() const { return m_bOk; }
    ViSession Vi() const { return m_vi; }

  private:
    ViSession m_vi = VI_NULL;
    bool m_bOk = false;
};

// A blocking socket that writes the query and reads until the line feed.
class RawClient : public RawQueryClient {
  public:
    RawClient(const char* pszHost, unsigned short nPort)
        : RawQueryClient(pszHost, nPort, kRawQuery) {}
};

void BM_Vxi11ViQueryf(benchmark::State& state) {
    Bench& bench = Bench::Instance();
    if (!bench.HasVxi11()) {
        state.SkipWithError(("no VXI-11: " + bench.Vxi11Note()).c_str());
        return;
    }
    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
    const std::string strResource = bench.Emulator().Vxi11Resource();
    if (viOpenDefaultRM(&rm) != VI_SUCCESS ||
        viOpen(rm, strResource.c_str(), VI_NO_LOCK, 2000, &vi) != VI_SUCCESS) {
        state.SkipWithError("cannot open the VXI-11 session");
        viClose(rm);
        return;
    }
    std::vector<double> vecLatency;
    const std::size_t nBefore = bench.Emulator().Vxi11CoreCalls();
    for (auto _ : state) {
        ViReal64 dValue = -1;
        if (!Timed(vecLatency, [&] { return viQueryf(vi, kMeasure, "%lf%*t", &dValue) >= 0; })) {
            state.SkipWithError("query failed");
            break;
        }
        benchmark::DoNotOptimize(dValue);
    }
    state.counters["rpcs_per_query"] =
        static_cast<double>(bench.Emulator().Vxi11CoreCalls() - nBefore) /
        static_cast<double>(vecLatency.size());
    viClose(rm);
    g_figures.dVxi11QueryUs = Median(vecLatency);
    state.counters["median_us"] = g_figures.dVxi11QueryUs;
}

// pyvisa-py's VXI-11 client (Debian's python3-pyvisa-py) querying the same
// resource; the script reports its own median.
void BM_PyvisaPyVxi11Query(benchmark::State& state) {
    Bench& bench = Bench::Instance();
    if (!bench.HasVxi11()) {
        state.SkipWithError(("no VXI-11: " + bench.Vxi11Note()).c_str());
        return;
    }
    const std::string strCommand =
        "/usr/bin/python3 -c '\n"
        "import statistics, sys, time, pyvisa\n"
        "rm = pyvisa.ResourceManager(\"@py\")\n"
        "inst = rm.open_resource(sys.argv[1])\n"
        "inst.timeout = 3000\n"
        "for _ in range(100): inst.query(\"MEAS:SCAL:VOLT:DC?\")\n"
        "samples = []\n"
        "for _ in range(1000):\n"
        "    t = time.perf_counter(); inst.query(\"MEAS:SCAL:VOLT:DC?\")\n"
        "    samples.append((time.perf_counter() - t) * 1e6)\n"
        "print(\"%.3f\" % statistics.median(samples))\n"
        "inst.close(); rm.close()' " +
        bench.Emulator().Vxi11Resource() + " 2>&1";
    for (auto _ : state) {
        FILE* pPipe = ::popen(strCommand.c_str(), "r");
        double dMedian = 0;
        const bool bRead = pPipe != nullptr && std::fscanf(pPipe, "%lf", &dMedian) == 1;
        const int nExit = pPipe != nullptr ? ::pclose(pPipe) : -1;
        if (!bRead || nExit != 0) {
            state.SkipWithError("pyvisa-py did not run (python3-pyvisa-py installed?)");
            return;
        }
        g_figures.dPyvisaQueryUs = dMedian;
    }
    state.counters["median_us"] = g_figures.dPyvisaQueryUs;
}

void BM_Vxi11ChannelAttributeWrite(benchmark::State& state) {
    Bench& bench = Bench::Instance();
    if (!bench.HasVxi11()) {
        state.SkipWithError(("no VXI-11: " + bench.Vxi11Note()).c_str());
        return;
    }
    DriverClient client(bench.Emulator().Vxi11Resource());
    if (!client.Ok()) {
        state.SkipWithError("cannot open the driver session");
        return;
    }
    std::vector<double> vecLatency;
    const std::size_t nBefore = bench.Emulator().Vxi11CoreCalls();
    ViReal64 dLevel = 1.0;
    for (auto _ : state) {
        dLevel = dLevel == 1.0 ? 2.0 : 1.0;
        if (!Timed(vecLatency, [&] {
                return TARVEK_SetAttributeViReal64(client.Vi(), "CH2", TARVEK_ATTR_VOLTAGE_LEVEL,
                                                   dLevel) == VI_SUCCESS;
            })) {
            state.SkipWithError("write failed");
            return;
        }
    }
    g_figures.dWriteRpcs = static_cast<double>(bench.Emulator().Vxi11CoreCalls() - nBefore) /
                           static_cast<double>(vecLatency.size());
    g_figures.dWriteUs = Median(vecLatency);
    state.counters["rpcs_per_write"] = g_figures.dWriteRpcs;
    state.counters["median_us"] = g_figures.dWriteUs;
}

// Raw queries and driver attribute reads (select plus query) over raw
// sockets to one responder, in alternating blocks; each iteration's two
// blocks meet the same load, so the figure is the median over iterations of
// the ratio of the blocks' medians.
void BM_SocketChannelAttributeReadVsRawQuery(benchmark::State& state) {
    constexpr int kBlock = 100;
    Responder responder;
    RawClient raw("127.0.0.1", responder.Port());
    DriverClient driver(responder.Resource());
    if (!raw.Ok() || !driver.Ok()) {
        state.SkipWithError("connect failed");
        return;
    }
    std::vector<double> vecRaw, vecDriver, vecRatio;
    for (auto _ : state) {
        std::vector<double> vecRawBlock, vecDriverBlock;
        for (int i = 0; i < kBlock; ++i) {
            if (!Timed(vecRawBlock, [&] { return raw.Query(); })) {
                state.SkipWithError("raw query failed");
                return;
            }
        }
        for (int i = 0; i < kBlock; ++i) {
            ViReal64 dValue = -1;
            if (!Timed(vecDriverBlock, [&] {
                    return TARVEK_GetAttributeViReal64(driver.Vi(), "CH2",
                                                       TARVEK_ATTR_VOLTAGE_LEVEL,
                                                       &dValue) == VI_SUCCESS;
                })) {
                state.SkipWithError("attribute read failed");
                return;
            }
        }
        vecRatio.push_back(Median(vecDriverBlock) / Median(vecRawBlock));
        vecRaw.insert(vecRaw.end(), vecRawBlock.begin(), vecRawBlock.end());
        vecDriver.insert(vecDriver.end(), vecDriverBlock.begin(), vecDriverBlock.end());
    }
    g_figures.dRawQueryUs = Median(vecRaw);
    g_figures.dAttributeReadUs = Median(vecDriver);
    g_figures.dReadRatio = Median(vecRatio);
    state.counters["raw_median_us"] = g_figures.dRawQueryUs;
    state.counters["attribute_median_us"] = g_figures.dAttributeReadUs;
    state.counters["median_ratio"] = g_figures.dReadRatio;
}

BENCHMARK(BM_Vxi11ViQueryf)->Iterations(2000)->UseRealTime();
BENCHMARK(BM_PyvisaPyVxi11Query)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Vxi11ChannelAttributeWrite)->Iterations(2000)->UseRealTime();
BENCHMARK(BM_SocketChannelAttributeReadVsRawQuery)->Iterations(60)->UseRealTime();

const char* Verdict(bool bMet) {
    return bMet ? "met" : "MISSED";
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const Figures& f = g_figures;
    std::printf("\n");
    if (f.dVxi11QueryUs > 0 && f.dPyvisaQueryUs > 0) {
        std::printf(
            "VXI-11 query, median: viQueryf %.1f us, pyvisa-py %.1f us, ratio %.3f "
            "(target < 1): %s\n",
            f.dVxi11QueryUs, f.dPyvisaQueryUs, f.dVxi11QueryUs / f.dPyvisaQueryUs,
            Verdict(f.dVxi11QueryUs < f.dPyvisaQueryUs));
    }
    if (f.dWriteRpcs > 0) {
        std::printf(
            "VXI-11 channel attribute write: %.2f core RPCs per write (target 1): %s; "
            "median %.1f us\n",
            f.dWriteRpcs, Verdict(f.dWriteRpcs <= 1.0), f.dWriteUs);
    }
    if (f.dRawQueryUs > 0) {
        const double dRatio = f.dReadRatio;
        std::printf(
            "socket channel attribute read, median: raw query %.1f us, attribute read %.1f us, "
            "ratio %.3f (target <= 1.15): %s\n",
            f.dRawQueryUs, f.dAttributeReadUs, dRatio, Verdict(dRatio <= 1.15));
    }
    if (!Bench::Instance().HasVxi11()) {
        std::printf("VXI-11 parts skipped: %s\n", Bench::Instance().Vxi11Note().c_str());
    }
    return 0;
}
