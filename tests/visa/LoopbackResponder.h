// A scripted instrument on a loopback TCP socket: it records every byte it
// receives and answers each received line with what the test's handler says.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Socket.h"

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
        m_bListening =
            m_listener.Open(nFamily == AF_INET6 ? "::1" : "127.0.0.1", 0) == tknet::Result::kOk;
        m_nPort = m_listener.Port();
        if (m_bListening) {
            // One thread per connection, so that several sessions can talk at once.
            m_listener.Start([this](tknet::Fd fd, const tknet::Address&) {
                ++m_nConnections;
                Serve(fd.Get());
            });
        }
    }

    bool Listening() const { return m_bListening; }

    ~LoopbackResponder() { m_listener.Stop(); }

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
    // Replies whose last chunk has gone out, and when the last of them did.
    int RepliesSent() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nRepliesSent;
    }
    std::chrono::steady_clock::time_point LastReplySentAt() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lastReplySent;
    }
    bool WaitForRepliesSent(int nCount, std::chrono::milliseconds timeout) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cvReplySent.wait_for(lock, timeout, [&] { return m_nRepliesSent >= nCount; });
    }

  private:
    void Serve(int nFd) {
        const tknet::Deadline never(tknet::Deadline::kInfinite);
        std::string strPending;
        for (;;) {
            char buffer[4096];
            std::size_t nGot = 0;
            if (tknet::ReceiveSome(nFd, buffer, sizeof buffer, never, &nGot, m_listener.WakeFd()) !=
                tknet::Result::kOk) {
                return;
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_strReceived.append(buffer, nGot);
            }
            strPending.append(buffer, nGot);
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
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    ++m_nRepliesSent;
                    m_lastReplySent = std::chrono::steady_clock::now();
                }
                m_cvReplySent.notify_all();
                if (reply.bClose) {
                    return;
                }
            }
        }
    }

    Handler m_handler;
    bool m_bListening = false;
    std::uint16_t m_nPort = 0;
    std::atomic<int> m_nConnections{0};
    mutable std::mutex m_mutex;
    std::string m_strReceived;
    std::vector<std::string> m_vecLines;
    int m_nRepliesSent = 0;
    std::chrono::steady_clock::time_point m_lastReplySent;
    mutable std::condition_variable m_cvReplySent;
    // Last: stopped first when the responder goes, while the rest still lives.
    tknet::Listener m_listener;
};

}  // namespace tkvisa_test
