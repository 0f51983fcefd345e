// Query round trip through the VISA layer (viQueryf "%lf%*t") against a
// blocking raw-socket write+read of the same bytes, both to the same loopback
// responder in the same run. Prints the ratio of the median latencies and the
// difference in client CPU time per query. BM_ViQueryfTraced is the same
// query with the session's I/O trace recording.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "RawQueryClient.h"
#include "visa.h"

namespace {

constexpr char kQuery[] = "MEAS:VOLT?\n";
constexpr char kReply[] = "1.234500000000000E+01\n";

// Answers every line with kReply. One thread serves all connections, so the
// raw socket and the VISA session meet the same scheduling on the far side.
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
        ::pipe2(m_nStopPipe, O_CLOEXEC);
        m_thread = std::thread([this] { Run(); });
    }
    ~Responder() {
        ::write(m_nStopPipe[1], "x", 1);
        m_thread.join();
        ::close(m_nListen);
        ::close(m_nStopPipe[0]);
        ::close(m_nStopPipe[1]);
    }
    std::uint16_t Port() const { return m_nPort; }

  private:
    void Run() {
        std::vector<pollfd> vecFds{{m_nStopPipe[0], POLLIN, 0}, {m_nListen, POLLIN, 0}};
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
                    --i;
                    continue;
                }
                for (ssize_t n = 0; n < nGot; ++n) {
                    if (buffer[n] == '\n') {
                        ::send(vecFds[i].fd, kReply, sizeof kReply - 1, MSG_NOSIGNAL);
                    }
                }
            }
        }
        for (std::size_t i = 2; i < vecFds.size(); ++i) {
            ::close(vecFds[i].fd);
        }
    }

    int m_nListen = -1;
    int m_nStopPipe[2] = {-1, -1};
    std::uint16_t m_nPort = 0;
    std::thread m_thread;
};

Responder& TheResponder() {
    static Responder responder;
    return responder;
}

double ThreadCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Median(std::vector<double> vecValues) {
    if (vecValues.empty()) {
        return 0;
    }
    std::nth_element(vecValues.begin(), vecValues.begin() + vecValues.size() / 2, vecValues.end());
    return vecValues[vecValues.size() / 2];
}

// A blocking socket that writes the query and reads until the line feed.
class RawClient : public RawQueryClient {
  public:
    RawClient() : RawQueryClient("127.0.0.1", TheResponder().Port(), kQuery) {}
};

// A VISA session to the same responder, reading replies with "%lf%*t";
// with bTraced its I/O trace records every transfer into the ring.
class VisaClient {
  public:
    explicit VisaClient(bool bTraced = false) {
        const std::string strResource =
            "TCPIP::127.0.0.1::" + std::to_string(TheResponder().Port()) + "::SOCKET";
        m_bOk = viOpenDefaultRM(&m_rm) == VI_SUCCESS &&
                viOpen(m_rm, strResource.c_str(), VI_NO_LOCK, 2000, &m_vi) == VI_SUCCESS &&
                viSetAttribute(m_vi, VI_ATTR_TERMCHAR, '\n') == VI_SUCCESS &&
                viSetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, VI_TRUE) == VI_SUCCESS &&
                (!bTraced || viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_EN, VI_TRUE) == VI_SUCCESS);
    }
    ~VisaClient() { viClose(m_rm); }
    bool Ok() const { return m_bOk; }
    bool Query() {
        ViReal64 dValue = 0;
        const bool bOk =
            viQueryf(m_vi, kQuery, "%lf%*t", &dValue) >= VI_SUCCESS && dValue == 12.345;
        benchmark::DoNotOptimize(dValue);
        return bOk;
    }

  private:
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
    bool m_bOk = false;
};

class TracedVisaClient : public VisaClient {
  public:
    TracedVisaClient() : VisaClient(true) {}
};

template <typename Client>
void BM_Query(benchmark::State& state) {
    Client client;
    if (!client.Ok()) {
        state.SkipWithError("connect failed");
        return;
    }
    for (auto _ : state) {
        if (!client.Query()) {
            state.SkipWithError("query failed");
            break;
        }
    }
}

struct Summary {
    double dRawMedianUs = 0;
    double dVisaMedianUs = 0;
    double dRawCpuUs = 0;
    double dVisaCpuUs = 0;
};
Summary g_summary;

// Alternates blocks of raw and VISA queries so that both meet the same load on
// a shared machine; records each query's latency and each block's CPU time.
// Two connections of each kind, opened in mirrored order, so that neither
// kind is favoured by its place in the responder's poll list.
void BM_AlternatingRawAndViQueryf(benchmark::State& state) {
    constexpr int kBlock = 50;
    RawClient raw1;
    VisaClient visa1;
    VisaClient visa2;
    RawClient raw2;
    if (!raw1.Ok() || !visa1.Ok() || !visa2.Ok() || !raw2.Ok()) {
        state.SkipWithError("connect failed");
        return;
    }
    std::vector<double> vecRaw, vecVisa;
    double dRawCpu = 0, dVisaCpu = 0;
    auto runBlock = [](auto& client, std::vector<double>& vecLatency, double& dCpu) {
        const double dCpuStart = ThreadCpuSeconds();
        for (int i = 0; i < kBlock; ++i) {
            const auto tStart = std::chrono::steady_clock::now();
            if (!client.Query()) {
                return false;
            }
            vecLatency.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - tStart)
                    .count());
        }
        dCpu += ThreadCpuSeconds() - dCpuStart;
        return true;
    };
    for (auto _ : state) {
        if (!runBlock(raw1, vecRaw, dRawCpu) || !runBlock(visa1, vecVisa, dVisaCpu) ||
            !runBlock(visa2, vecVisa, dVisaCpu) || !runBlock(raw2, vecRaw, dRawCpu)) {
            state.SkipWithError("query failed");
            return;
        }
    }
    g_summary.dRawMedianUs = Median(vecRaw);
    g_summary.dVisaMedianUs = Median(vecVisa);
    g_summary.dRawCpuUs = dRawCpu * 1e6 / static_cast<double>(vecRaw.size());
    g_summary.dVisaCpuUs = dVisaCpu * 1e6 / static_cast<double>(vecVisa.size());
    state.counters["raw_median_us"] = g_summary.dRawMedianUs;
    state.counters["visa_median_us"] = g_summary.dVisaMedianUs;
    state.counters["median_ratio"] = g_summary.dVisaMedianUs / g_summary.dRawMedianUs;
    state.counters["raw_cpu_us"] = g_summary.dRawCpuUs;
    state.counters["visa_cpu_us"] = g_summary.dVisaCpuUs;
}

BENCHMARK(BM_Query<RawClient>)->Name("BM_RawSocketQuery")->UseRealTime();
BENCHMARK(BM_Query<VisaClient>)->Name("BM_ViQueryf")->UseRealTime();
// The same with the session's I/O trace on: what recording costs per query.
BENCHMARK(BM_Query<TracedVisaClient>)->Name("BM_ViQueryfTraced")->UseRealTime();
BENCHMARK(BM_AlternatingRawAndViQueryf)->Iterations(200)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_summary.dRawMedianUs <= 0) {
        return 0;  // the alternating run was filtered out
    }
    const double dRatio = g_summary.dVisaMedianUs / g_summary.dRawMedianUs;
    const double dCpuDelta = g_summary.dVisaCpuUs - g_summary.dRawCpuUs;
    std::printf(
        "\nquery round trip, median: raw socket %.2f us, viQueryf %.2f us, ratio %.3f "
        "(target <= 1.10): %s\n",
        g_summary.dRawMedianUs, g_summary.dVisaMedianUs, dRatio, dRatio <= 1.10 ? "met" : "MISSED");
    std::printf(
        "client CPU per query: raw socket %.2f us, viQueryf %.2f us, difference %.2f us "
        "(target <= 2.00): %s\n",
        g_summary.dRawCpuUs, g_summary.dVisaCpuUs, dCpuDelta, dCpuDelta <= 2.0 ? "met" : "MISSED");
    return 0;
}
