// Raw TCP socket transport (TCPIP::host::port::SOCKET).
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

#include "Socket.h"
#include "Transport.h"

namespace tkvisa {
namespace {

// A device clear on a raw socket can only drop bytes: it waits until the
// line has been quiet this long, so that a reply already on its way is
// dropped with the rest rather than answering the next query.
constexpr int kClearQuietMs = 100;

ViStatus StatusOf(tknet::Result result) {
    switch (result) {
        case tknet::Result::kOk:
            return VI_SUCCESS;
        case tknet::Result::kTimeout:
            return VI_ERROR_TMO;
        case tknet::Result::kClosed:
        case tknet::Result::kLost:
            return VI_ERROR_CONN_LOST;
        case tknet::Result::kRefused:
        case tknet::Result::kNoHost:
            return VI_ERROR_RSRC_NFOUND;
        default:
            return VI_ERROR_IO;
    }
}

class TcpipSocketTransport final : public Transport {
  public:
    ~TcpipSocketTransport() override { Close(); }

    ViStatus Open(const ResourceName& resource, ViUInt32 nOpenTimeoutMs,
                  const LineSettings& settings) override {
        std::vector<tknet::Address> vecAddresses;
        if (tknet::Resolve(resource.strHost, resource.nPort, &vecAddresses) != tknet::Result::kOk) {
            return VI_ERROR_RSRC_NFOUND;
        }
        tknet::Fd fd;
        tknet::Address peer;
        const tknet::Result result =
            tknet::ConnectAny(vecAddresses, Deadline(nOpenTimeoutMs).Start(), &fd, &peer);
        if (result != tknet::Result::kOk) {
            return result == tknet::Result::kTimeout ? VI_ERROR_TMO : VI_ERROR_RSRC_NFOUND;
        }
        m_strPeer = peer.Host();
        // Blocking from here on: reads wait in recv with a receive timeout,
        // writes use MSG_DONTWAIT and poll.
        const int nStatusFlags = ::fcntl(fd.Get(), F_GETFL);
        ::fcntl(fd.Get(), F_SETFL, nStatusFlags & ~O_NONBLOCK);
        m_nFd.store(fd.Release());
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
        *pWritten = 0;
        if (m_bLost) {
            return VI_ERROR_CONN_LOST;
        }
        const tknet::Result result =
            tknet::SendAll(m_nFd.load(), pData, nCount, deadline, pWritten);
        return Lost(StatusOf(result));
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
                return Lost(errno == ECONNRESET || errno == EPIPE || errno == ETIMEDOUT
                                ? VI_ERROR_CONN_LOST
                                : VI_ERROR_IO);
            }
        }
    }

    ViStatus DiscardInput() override {
        if (m_bLost) {
            return VI_ERROR_CONN_LOST;
        }
        ViByte buffer[4096];
        std::size_t nGot = 0;
        tknet::Result result;
        do {
            result = tknet::ReceiveNow(m_nFd.load(), buffer, sizeof buffer, &nGot);
        } while (result == tknet::Result::kOk && nGot > 0);
        return Lost(StatusOf(result));
    }

    // Drops input until the line has been quiet for a moment or the deadline
    // passes: bytes of a reply still in flight go too. What the instrument
    // sends later (a query it is still working on) cannot be told apart from
    // the answer to the next query on a raw socket.
    ViStatus DeviceClear(const Deadline& deadline) override {
        for (;;) {
            if (const ViStatus status = DiscardInput(); status < VI_SUCCESS) {
                return status;
            }
            const tknet::Deadline quiet(
                static_cast<std::uint32_t>(deadline.RemainingMsAtMost(kClearQuietMs)));
            const tknet::Result result = tknet::WaitReady(m_nFd.load(), POLLIN, quiet);
            if (result == tknet::Result::kTimeout) {
                return VI_SUCCESS;
            }
            if (result != tknet::Result::kOk) {
                return VI_ERROR_IO;
            }
            if (deadline.Passed()) {
                // The peer never stops talking: what is left is dropped by
                // the next clear or read, and the caller learns of it.
                return DiscardInput() < VI_SUCCESS ? VI_ERROR_CONN_LOST : VI_ERROR_TMO;
            }
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
