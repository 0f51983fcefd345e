// A minimal line-oriented TCP client for talking to the emulator in tests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>

namespace emutest {

class TestClient {
  public:
    explicit TestClient(unsigned short nPort) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(nPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address)) {
            throw std::runtime_error("cannot connect to the emulator");
        }
        int nOne = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
    }
    ~TestClient() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    void WriteRaw(const std::string& strBytes) {
        size_t nOffset = 0;
        while (nOffset < strBytes.size()) {
            ssize_t n =
                ::send(m_fd, strBytes.data() + nOffset, strBytes.size() - nOffset, MSG_NOSIGNAL);
            if (n <= 0) {
                throw std::runtime_error("send failed");
            }
            nOffset += static_cast<size_t>(n);
        }
    }
    void Write(const std::string& strLine) { WriteRaw(strLine + "\n"); }
    void ShutdownWrite() { ::shutdown(m_fd, SHUT_WR); }

    // One reply line without its "\n"; nullopt on timeout or end of stream.
    std::optional<std::string> ReadLine(
        std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
        auto tpDeadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            size_t nNewline = m_strBuffer.find('\n');
            if (nNewline != std::string::npos) {
                std::string strLine = m_strBuffer.substr(0, nNewline);
                m_strBuffer.erase(0, nNewline + 1);
                return strLine;
            }
            auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
                tpDeadline - std::chrono::steady_clock::now());
            if (remaining.count() <= 0) {
                return std::nullopt;
            }
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(remaining.count())) <= 0) {
                return std::nullopt;
            }
            char achChunk[65536];
            ssize_t n = ::recv(m_fd, achChunk, sizeof achChunk, 0);
            if (n <= 0) {
                m_bClosed = true;
                return std::nullopt;
            }
            ++m_nReads;
            m_strBuffer.append(achChunk, static_cast<size_t>(n));
        }
    }

    // Sends a command and waits until the instrument has executed it.
    void Send(const std::string& strLine) {
        Write(strLine);
        if (Query("*OPC?") != "1") {
            throw std::runtime_error("no reply to *OPC? after " + strLine);
        }
    }

    std::string Query(const std::string& strQuery) {
        Write(strQuery);
        return ReadLine().value_or("<no reply>");
    }

    // True once the peer has closed the connection.
    bool WaitClosed(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
        while (!m_bClosed) {
            if (!ReadLine(timeout) && !m_bClosed) {
                return false;
            }
        }
        return true;
    }

    size_t ReadCalls() const { return m_nReads; }

  private:
    int m_fd = -1;
    std::string m_strBuffer;
    bool m_bClosed = false;
    size_t m_nReads = 0;
};

}  // namespace emutest
