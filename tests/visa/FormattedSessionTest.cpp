// One call's writes and reads share one deadline: against a scripted
// loopback peer that is slow on both halves of a query.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "visa.h"

namespace {

using namespace std::chrono_literals;

// A peer that takes its time over both halves of a query: after accepting it
// reads nothing for nHoldMs, then reads one line of any length and answers it
// with the pieces, nGapMs before each.
class SlowPeer {
  public:
    SlowPeer(int nHoldMs, std::vector<std::string> vecPieces, int nGapMs)
        : m_nHoldMs(nHoldMs), m_vecPieces(std::move(vecPieces)), m_nGapMs(nGapMs) {
        m_nListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nLength = sizeof addr;
        if (m_nListen >= 0 && ::bind(m_nListen, reinterpret_cast<sockaddr*>(&addr), nLength) == 0 &&
            ::listen(m_nListen, 1) == 0 &&
            ::getsockname(m_nListen, reinterpret_cast<sockaddr*>(&addr), &nLength) == 0) {
            m_nPort = ntohs(addr.sin_port);
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~SlowPeer() {
        m_bStop = true;
        m_thread.join();
        if (m_nListen >= 0) {
            ::close(m_nListen);
        }
    }
    std::string Resource() const {
        return "TCPIP::127.0.0.1::" + std::to_string(m_nPort) + "::SOCKET";
    }

  private:
    // Sleeps up to nMs, or less once the test is over.
    bool Pause(int nMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
        while (!m_bStop && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(5ms);
        }
        return !m_bStop;
    }

    void Run() {
        int nFd = -1;
        while (!m_bStop && nFd < 0) {
            pollfd pfd{m_nListen, POLLIN, 0};
            if (::poll(&pfd, 1, 20) > 0) {
                nFd = ::accept4(m_nListen, nullptr, nullptr, SOCK_CLOEXEC);
            }
        }
        if (nFd < 0) {
            return;
        }
        bool bLine = false;
        if (Pause(m_nHoldMs)) {
            std::vector<char> vecChunk(1 << 16);
            while (!m_bStop && !bLine) {
                pollfd pfd{nFd, POLLIN, 0};
                if (::poll(&pfd, 1, 20) <= 0) {
                    continue;
                }
                const ssize_t nGot = ::recv(nFd, vecChunk.data(), vecChunk.size(), 0);
                if (nGot <= 0) {
                    break;
                }
                bLine = std::memchr(vecChunk.data(), '\n', static_cast<std::size_t>(nGot));
            }
        }
        for (const std::string& strPiece : m_vecPieces) {
            if (!bLine || !Pause(m_nGapMs)) {
                break;
            }
            ::send(nFd, strPiece.data(), strPiece.size(), MSG_NOSIGNAL);
        }
        Pause(60000);
        ::close(nFd);
    }

    int m_nHoldMs;
    std::vector<std::string> m_vecPieces;
    int m_nGapMs;
    int m_nListen = -1;
    std::uint16_t m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

TEST(CallDeadline, QueryWriteAndReadShareTheTimeout) {
    // The write waits 300 ms for the peer to read, each piece of the reply
    // comes 150 ms after the one before: every wait is shorter than the
    // timeout, together they are not.
    constexpr int kTimeoutMs = 400;
    SlowPeer peer(300, {"1", "2", "3\n"}, 150);
    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ASSERT_EQ(viOpen(rm, peer.Resource().c_str(), VI_NO_LOCK, 2000, &vi), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, kTimeoutMs), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    // More than the two sockets' buffers hold, so the write waits for the peer.
    const std::string strCommand = std::string(16u << 20, 'A') + "\n";
    ViInt32 nValue = -1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(viQueryf(vi, strCommand.c_str(), "%ld%*t", &nValue), VI_ERROR_TMO);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(kTimeoutMs + 200));
    EXPECT_GE(elapsed, std::chrono::milliseconds(kTimeoutMs - 50));
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

}  // namespace
