// The benchmarks' baseline: a blocking TCP socket that writes one query and
// reads until the reply's line feed, with nothing of the VISA layer between.
#pragma once

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

class RawQueryClient {
  public:
    RawQueryClient(const char* pszHost, unsigned short nPort, const char* pszQuery)
        : m_pszQuery(pszQuery), m_nQueryLength(std::strlen(pszQuery)) {
        m_nFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        ::inet_pton(AF_INET, pszHost, &addr.sin_addr);
        addr.sin_port = htons(nPort);
        const int nOne = 1;
        ::setsockopt(m_nFd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
        m_bOk = ::connect(m_nFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawQueryClient() { ::close(m_nFd); }
    RawQueryClient(const RawQueryClient&) = delete;
    RawQueryClient& operator=(const RawQueryClient&) = delete;

    bool Ok() const { return m_bOk; }
    bool Query() {
        if (::send(m_nFd, m_pszQuery, m_nQueryLength, MSG_NOSIGNAL) !=
            static_cast<ssize_t>(m_nQueryLength)) {
            return false;
        }
        std::size_t nHave = 0;
        while (nHave == 0 || m_buffer[nHave - 1] != '\n') {
            const ssize_t nGot = ::recv(m_nFd, m_buffer + nHave, sizeof m_buffer - nHave, 0);
            if (nGot <= 0) {
                return false;
            }
            nHave += static_cast<std::size_t>(nGot);
        }
        benchmark::DoNotOptimize(m_buffer);
        return true;
    }

  private:
    const char* m_pszQuery;
    std::size_t m_nQueryLength;
    int m_nFd = -1;
    bool m_bOk = false;
    char m_buffer[256];
};
