// Raw TCP socket transport (TCPIP::host::port::SOCKET).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "Transport.h"

namespace tkvisa {
namespace {

ViStatus StatusFromErrno(int nError) {
    switch (nError) {
        case EPIPE:
        case ECONNRESET:
        case ECONNABORTED:
        case ENOTCONN:
        case ESHUTDOWN:
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case ENETUNREACH:
            return VI_ERROR_CONN_LOST;
        default:
            return VI_ERROR_IO;
    }
}

// Waits for the socket to become ready; VI_SUCCESS, VI_ERROR_TMO or an error.
ViStatus WaitReady(int nFd, short nEvents, const Deadline& deadline) {
    for (;;) {
        pollfd pfd{nFd, nEvents, 0};
        const int nReady = ::poll(&pfd, 1, deadline.RemainingMs());
        if (nReady > 0) {
            return VI_SUCCESS;
        }
        if (nReady == 0) {
            return VI_ERROR_TMO;
        }
        if (errno != EINTR) {
            return VI_ERROR_IO;
        }
    }
}

class TcpipSocketTransport final : public Transport {
  public:
    ~TcpipSocketTransport() override { Close(); }

    ViStatus Open(const ResourceName& resource, ViUInt32 nOpenTimeoutMs,
                  const LineSettings& settings) override {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* pList = nullptr;
        const std::string strPort = std::to_string(resource.nPort);
        if (::getaddrinfo(resource.strHost.c_str(), strPort.c_str(), &hints, &pList) != 0 ||
            pList == nullptr) {
            return VI_ERROR_RSRC_NFOUND;
        }
        const Deadline deadline(nOpenTimeoutMs);
        ViStatus status = VI_ERROR_RSRC_NFOUND;
        for (addrinfo* pAddr = pList; pAddr != nullptr; pAddr = pAddr->ai_next) {
            status = Connect(pAddr, deadline);
            if (status == VI_SUCCESS || status == VI_ERROR_TMO) {
                break;
            }
        }
        ::freeaddrinfo(pList);
        if (status != VI_SUCCESS) {
            return status;
        }
        return Apply(settings);
    }

    void Close() override {
        const int nFd = m_nFd.exchange(-1);
        if (nFd >= 0) {
            ::close(nFd);
        }
    }

    ViStatus Write(const ViByte* pData, std::size_t nCount, const Deadline& deadline,
                   std::size_t* pWritten) override {
        const int nFd = m_nFd.load();
        std::size_t nDone = 0;
        *pWritten = 0;
        if (m_bLost) {
            return VI_ERROR_CONN_LOST;
        }
        ViStatus status = VI_SUCCESS;
        while (nDone < nCount) {
            const ssize_t nSent =
                ::send(nFd, pData + nDone, nCount - nDone, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (nSent > 0) {
                nDone += static_cast<std::size_t>(nSent);
                continue;
            }
            if (nSent < 0 && errno == EINTR) {
                continue;
            }
            if (nSent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                status = WaitReady(nFd, POLLOUT, deadline);
                if (status != VI_SUCCESS) {
                    break;
                }
                continue;
            }
            status = nSent < 0 ? Lost(StatusFromErrno(errno)) : VI_ERROR_IO;
            break;
        }
        *pWritten = nDone;
        return status;
    }

    // A blocking recv bounded by SO_RCVTIMEO: one system call per reply in
    // the usual case. The option is only rewritten when the time left differs
    // from the last value set, which within one operation is rare.
    ViStatus Read(ViByte* pData, std::size_t nMax, const Deadline& deadline,
                  std::size_t* pRead) override {
        const int nFd = m_nFd.load();
        *pRead = 0;
        if (m_bLost) {
            return VI_ERROR_CONN_LOST;
        }
        for (;;) {
            const int nRemainingMs = deadline.RemainingMs();
            int nFlags = 0;
            if (nRemainingMs == 0) {
                nFlags = MSG_DONTWAIT;  // an expired deadline or VI_TMO_IMMEDIATE
            } else if (nRemainingMs != m_nReceiveTimeoutMs) {
                // -1 (infinite) becomes a zero timeval, which blocks without limit.
                const int nMs = nRemainingMs < 0 ? 0 : nRemainingMs;
                timeval tv{nMs / 1000, static_cast<suseconds_t>((nMs % 1000) * 1000)};
                if (::setsockopt(nFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
                    return VI_ERROR_IO;
                }
                m_nReceiveTimeoutMs = nRemainingMs;
            }
            const ssize_t nGot = ::recv(nFd, pData, nMax, nFlags);
            if (nGot > 0) {
                *pRead = static_cast<std::size_t>(nGot);
                return VI_SUCCESS;
            }
            if (nGot == 0) {
                return Lost(VI_ERROR_CONN_LOST);
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (nFlags != 0 || deadline.RemainingMs() == 0) {
                    return VI_ERROR_TMO;
                }
                continue;
            }
            if (errno != EINTR) {
                return Lost(StatusFromErrno(errno));
            }
        }
    }

    ViStatus DiscardInput() override {
        const int nFd = m_nFd.load();
        ViByte buffer[4096];
        for (;;) {
            if (m_bLost) {
                return VI_ERROR_CONN_LOST;
            }
            const ssize_t nGot = ::recv(nFd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (nGot > 0) {
                continue;
            }
            if (nGot == 0) {
                return Lost(VI_ERROR_CONN_LOST);
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return VI_SUCCESS;
            }
            return Lost(StatusFromErrno(errno));
        }
    }

    ViStatus Apply(const LineSettings& settings) override {
        const int nFd = m_nFd.load();
        const int nNoDelay = settings.bNoDelay ? 1 : 0;
        const int nKeepAlive = settings.bKeepAlive ? 1 : 0;
        if (::setsockopt(nFd, IPPROTO_TCP, TCP_NODELAY, &nNoDelay, sizeof nNoDelay) != 0 ||
            ::setsockopt(nFd, SOL_SOCKET, SO_KEEPALIVE, &nKeepAlive, sizeof nKeepAlive) != 0) {
            return VI_ERROR_NSUP_ATTR_STATE;
        }
        return VI_SUCCESS;
    }

    std::size_t Available() override {
        int nBytes = 0;
        if (::ioctl(m_nFd.load(), FIONREAD, &nBytes) != 0 || nBytes < 0) {
            return 0;
        }
        return static_cast<std::size_t>(nBytes);
    }

    void Interrupt() override {
        const int nFd = m_nFd.load();
        if (nFd >= 0) {
            ::shutdown(nFd, SHUT_RDWR);
        }
    }

    std::string PeerAddress() const override { return m_strPeer; }

  private:
    // A peer that closed or reset the connection never answers again: every
    // later operation reports the loss instead of a write that seems to pass.
    ViStatus Lost(ViStatus status) {
        if (status == VI_ERROR_CONN_LOST) {
            m_bLost = true;
        }
        return status;
    }

    ViStatus Connect(const addrinfo* pAddr, const Deadline& deadline) {
        const int nFd =
            ::socket(pAddr->ai_family, pAddr->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                     pAddr->ai_protocol);
        if (nFd < 0) {
            return VI_ERROR_RSRC_NFOUND;
        }
        ViStatus status = VI_SUCCESS;
        if (::connect(nFd, pAddr->ai_addr, pAddr->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                status = VI_ERROR_RSRC_NFOUND;
            } else {
                status = WaitReady(nFd, POLLOUT, deadline);
                int nError = 0;
                socklen_t nLength = sizeof nError;
                if (status == VI_SUCCESS &&
                    (::getsockopt(nFd, SOL_SOCKET, SO_ERROR, &nError, &nLength) != 0 ||
                     nError != 0)) {
                    status = VI_ERROR_RSRC_NFOUND;
                }
            }
        }
        if (status != VI_SUCCESS) {
            ::close(nFd);
            return status;
        }
        char szHost[INET6_ADDRSTRLEN] = {};
        if (::getnameinfo(pAddr->ai_addr, pAddr->ai_addrlen, szHost, sizeof szHost, nullptr, 0,
                          NI_NUMERICHOST) == 0) {
            m_strPeer = szHost;
        }
        // Blocking from here on: reads wait in recv with a receive timeout,
        // writes use MSG_DONTWAIT and poll.
        const int nStatusFlags = ::fcntl(nFd, F_GETFL);
        ::fcntl(nFd, F_SETFL, nStatusFlags & ~O_NONBLOCK);
        m_nFd.store(nFd);
        return VI_SUCCESS;
    }

    std::atomic<int> m_nFd{-1};
    std::atomic<bool> m_bLost{false};
    int m_nReceiveTimeoutMs = -2;  // none set yet
    std::string m_strPeer;
};

}  // namespace

std::unique_ptr<Transport> CreateTcpipSocketTransport() {
    return std::make_unique<TcpipSocketTransport>();
}

}  // namespace tkvisa
