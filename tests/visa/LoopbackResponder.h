// A scripted instrument on a loopback TCP socket: it records every byte it
// receives and answers each received line with what the test's handler says.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tkvisa_test {

struct Reply {
    std::vector<std::string> vecChunks;  // sent one after the other
    int nGapMs = 0;                      // pause before each chunk
    bool bClose = false;                 // hang up after sending
};

using Handler = std::function<Reply(const std::string& strLine)>;

class LoopbackResponder {
  public:
    // nFamily AF_INET listens on 127.0.0.1, AF_INET6 on ::1.
    explicit LoopbackResponder(Handler handler, int nFamily = AF_INET)
        : m_handler(std::move(handler)) {
        m_nListen = ::socket(nFamily, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage storage{};
        socklen_t nLength = 0;
        if (nFamily == AF_INET6) {
            auto* pAddr = reinterpret_cast<sockaddr_in6*>(&storage);
            pAddr->sin6_family = AF_INET6;
            pAddr->sin6_addr = in6addr_loopback;
            nLength = sizeof(sockaddr_in6);
        } else {
            auto* pAddr = reinterpret_cast<sockaddr_in*>(&storage);
            pAddr->sin_family = AF_INET;
            pAddr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            nLength = sizeof(sockaddr_in);
        }
        m_bListening =
            m_nListen >= 0 &&
            ::bind(m_nListen, reinterpret_cast<sockaddr*>(&storage), nLength) == 0 &&
            ::listen(m_nListen, 8) == 0 &&
            ::getsockname(m_nListen, reinterpret_cast<sockaddr*>(&storage), &nLength) == 0;
        m_nPort = nFamily == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port)
                                      : ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
        m_thread = std::thread([this] { Run(); });
    }

    bool Listening() const { return m_bListening; }

    ~LoopbackResponder() {
        m_bStop = true;
        m_thread.join();
        for (std::thread& worker : m_vecWorkers) {
            worker.join();
        }
        if (m_nListen >= 0) {
            ::close(m_nListen);
        }
    }

    std::uint16_t Port() const { return m_nPort; }
    std::string Resource() const {
        return "TCPIP::127.0.0.1::" + std::to_string(m_nPort) + "::SOCKET";
    }
    std::string Received() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_strReceived;
    }
    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_vecLines;
    }
    int Connections() const { return m_nConnections.load(); }

  private:
    void Run() {
        while (!m_bStop && m_bListening) {
            pollfd pfd{m_nListen, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0) {
                continue;
            }
            const int nFd = ::accept4(m_nListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (nFd < 0) {
                continue;
            }
            ++m_nConnections;
            // One thread per connection, so that several sessions can talk at once.
            m_vecWorkers.emplace_back([this, nFd] {
                Serve(nFd);
                ::close(nFd);
            });
        }
    }

    void Serve(int nFd) {
        std::string strPending;
        while (!m_bStop) {
            pollfd pfd{nFd, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t nGot = ::recv(nFd, buffer, sizeof buffer, 0);
            if (nGot <= 0) {
                return;
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_strReceived.append(buffer, static_cast<std::size_t>(nGot));
            }
            strPending.append(buffer, static_cast<std::size_t>(nGot));
            for (std::size_t nEnd = strPending.find('\n'); nEnd != std::string::npos;
                 nEnd = strPending.find('\n')) {
                const std::string strLine = strPending.substr(0, nEnd);
                strPending.erase(0, nEnd + 1);
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_vecLines.push_back(strLine);
                }
                const Reply reply = m_handler(strLine);
                for (const std::string& strChunk : reply.vecChunks) {
                    if (reply.nGapMs > 0) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(reply.nGapMs));
                    }
                    ::send(nFd, strChunk.data(), strChunk.size(), MSG_NOSIGNAL);
                }
                if (reply.bClose) {
                    return;
                }
            }
        }
    }

    Handler m_handler;
    int m_nListen = -1;
    bool m_bListening = false;
    std::uint16_t m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nConnections{0};
    mutable std::mutex m_mutex;
    std::string m_strReceived;
    std::vector<std::string> m_vecLines;
    std::vector<std::thread> m_vecWorkers;
    std::thread m_thread;
};

}  // namespace tkvisa_test
