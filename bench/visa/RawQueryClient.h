// The benchmarks' baseline: a blocking TCP socket that writes one query and
// reads until the reply's line feed, with nothing of the VISA layer between.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "Socket.h"

class RawQueryClient {
  public:
    RawQueryClient(const char* pszHost, unsigned short nPort, const char* pszQuery)
        : m_pszQuery(pszQuery), m_nQueryLength(std::strlen(pszQuery)) {
        std::vector<tknet::Address> vecAddresses;
        m_bOk = tknet::Resolve(pszHost, nPort, &vecAddresses) == tknet::Result::kOk &&
                tknet::ConnectAny(vecAddresses, tknet::Deadline(2000), &m_fd) == tknet::Result::kOk;
        if (m_bOk) {
            // Blocking, as the simplest client would be.
            ::fcntl(m_fd.Get(), F_SETFL, ::fcntl(m_fd.Get(), F_GETFL) & ~O_NONBLOCK);
        }
    }
    RawQueryClient(const RawQueryClient&) = delete;
    RawQueryClient& operator=(const RawQueryClient&) = delete;

    bool Ok() const { return m_bOk; }
    bool Query() {
        if (::send(m_fd.Get(), m_pszQuery, m_nQueryLength, MSG_NOSIGNAL) !=
            static_cast<ssize_t>(m_nQueryLength)) {
            return false;
        }
        std::size_t nHave = 0;
        while (nHave == 0 || m_buffer[nHave - 1] != '\n') {
            const ssize_t nGot = ::recv(m_fd.Get(), m_buffer + nHave, sizeof m_buffer - nHave, 0);
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
    tknet::Fd m_fd;
    bool m_bOk = false;
    char m_buffer[256];
};
