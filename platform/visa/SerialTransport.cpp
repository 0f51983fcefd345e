// Serial port transport (ASRLn::INSTR, ASRL/dev/...::INSTR): termios raw mode
// with the session's ASRL settings. A hang-up (an unplugged adapter, a closed
// pseudo-terminal) is final: once seen, every call reports the lost
// connection, since the terminal calls themselves would go on succeeding or
// failing with a plain I/O error on a line nobody is on.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "Socket.h"
#include "Transport.h"

namespace tkvisa {
namespace {

struct BaudRow {
    ViUInt32 nBaud;
    speed_t nSpeed;
};

constexpr BaudRow kBaudRates[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},         {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},   {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000},
};

// Waits for the port or the wake pipe; a wake-up means the session is closing.
ViStatus WaitReady(int nFd, int nWakeFd, short nEvents, const Deadline& deadline) {
    for (;;) {
        pollfd pfd[2] = {{nFd, nEvents, 0}, {nWakeFd, POLLIN, 0}};
        const int nReady = ::poll(pfd, 2, deadline.RemainingMs());
        if (nReady > 0) {
            if (pfd[1].revents != 0) {
                return VI_ERROR_CONN_LOST;
            }
            // Readable or writable first: the call itself then tells data from
            // a hang-up.
            if ((pfd[0].revents & nEvents) != 0) {
                return VI_SUCCESS;
            }
            return (pfd[0].revents & POLLHUP) != 0 ? VI_ERROR_CONN_LOST : VI_ERROR_IO;
        }
        if (nReady == 0) {
            return VI_ERROR_TMO;
        }
        if (errno != EINTR) {
            return VI_ERROR_IO;
        }
    }
}

class SerialTransport final : public Transport {
  public:
    ~SerialTransport() override { Close(); }

    ViStatus Open(const ResourceName& resource, ViUInt32 /*nOpenTimeoutMs*/,
                  const LineSettings& settings) override {
        if (resource.strDevicePath.empty()) {
            return VI_ERROR_RSRC_NFOUND;
        }
        m_fd.Reset(
            ::open(resource.strDevicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!m_fd) {
            return errno == EACCES || errno == EPERM ? VI_ERROR_NPERMISSION : VI_ERROR_RSRC_NFOUND;
        }
        if (!::isatty(m_fd.Get()) || !m_wake.Valid()) {
            Close();
            return VI_ERROR_RSRC_NFOUND;
        }
        m_wake.Drain();
        const ViStatus status = Apply(settings);
        if (status != VI_SUCCESS) {
            Close();
        }
        return status;
    }

    void Close() override { m_fd.Reset(); }

    ViStatus Write(const ViByte* pData, std::size_t nCount, const Deadline& deadline,
                   std::size_t* pWritten) override {
        *pWritten = 0;
        if (HungUp()) {
            return VI_ERROR_CONN_LOST;
        }
        std::size_t nDone = 0;
        ViStatus status = VI_SUCCESS;
        while (nDone < nCount) {
            const ssize_t nSent = ::write(m_fd.Get(), pData + nDone, nCount - nDone);
            if (nSent > 0) {
                nDone += static_cast<std::size_t>(nSent);
                continue;
            }
            if (nSent < 0 && errno == EINTR) {
                continue;
            }
            if (nSent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                status = WaitReady(m_fd.Get(), m_wake.ReadFd(), POLLOUT, deadline);
                if (status != VI_SUCCESS) {
                    break;
                }
                continue;
            }
            status = nSent < 0 && errno == EIO ? VI_ERROR_CONN_LOST : VI_ERROR_IO;
            break;
        }
        *pWritten = nDone;
        return Seen(status);
    }

    ViStatus Read(ViByte* pData, std::size_t nMax, const Deadline& deadline,
                  std::size_t* pRead) override {
        *pRead = 0;
        if (m_bHungUp) {
            return VI_ERROR_CONN_LOST;
        }
        for (;;) {
            const ViStatus status = WaitReady(m_fd.Get(), m_wake.ReadFd(), POLLIN, deadline);
            if (status != VI_SUCCESS) {
                return Seen(status);
            }
            const ssize_t nGot = ::read(m_fd.Get(), pData, nMax);
            if (nGot > 0) {
                *pRead = static_cast<std::size_t>(nGot);
                return VI_SUCCESS;
            }
            if (nGot == 0 || errno == EIO) {
                // The other end hung up (a closed pseudo-terminal, an unplugged adapter).
                return Seen(VI_ERROR_CONN_LOST);
            }
            if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
                return Seen(VI_ERROR_IO);
            }
        }
    }

    ViStatus DiscardInput() override {
        if (HungUp()) {
            return VI_ERROR_CONN_LOST;
        }
        return Seen(::tcflush(m_fd.Get(), TCIFLUSH) == 0 ? VI_SUCCESS : VI_ERROR_IO);
    }

    // tcdrain would wait for ever on a line that flow control holds: this
    // waits for the output queue to empty for no longer than the queued bytes
    // take at the line's rate, plus a little, and tells a stuck line by a
    // timeout.
    ViStatus DrainOutput() override {
        const std::int64_t nStartMs = NowMs();
        std::int64_t nLimitMs = -1;
        for (;;) {
            if (HungUp()) {
                return VI_ERROR_CONN_LOST;
            }
            int nQueued = 0;
            if (::ioctl(m_fd.Get(), TIOCOUTQ, &nQueued) != 0) {
                return Seen(VI_ERROR_IO);
            }
            if (nQueued <= 0) {
                return VI_SUCCESS;
            }
            if (nLimitMs < 0) {
                // Ten bits a character covers start, stop and parity bits.
                nLimitMs = kDrainSlackMs + static_cast<std::int64_t>(nQueued) * 10 * 1000 /
                                               std::max<std::int64_t>(m_nBaud, 1);
            }
            if (NowMs() - nStartMs >= nLimitMs) {
                return VI_ERROR_TMO;
            }
            pollfd pfd{m_wake.ReadFd(), POLLIN, 0};
            if (::poll(&pfd, 1, kDrainPollMs) > 0) {
                return VI_ERROR_CONN_LOST;
            }
        }
    }

    ViStatus Apply(const LineSettings& settings) override {
        // Before the first settings are in force (CLOCAL) a port without
        // carrier may look hung up: only later is the line asked.
        if (m_bConfigured ? HungUp() : m_bHungUp) {
            return VI_ERROR_CONN_LOST;
        }
        m_nBaud = settings.nBaud;
        termios tio{};
        if (::tcgetattr(m_fd.Get(), &tio) != 0) {
            return VI_ERROR_IO;
        }
        ::cfmakeraw(&tio);
        const BaudRow* pRow = nullptr;
        for (const BaudRow& row : kBaudRates) {
            if (row.nBaud == settings.nBaud) {
                pRow = &row;
            }
        }
        if (pRow == nullptr) {
            return VI_ERROR_NSUP_ATTR_STATE;
        }
        ::cfsetispeed(&tio, pRow->nSpeed);
        ::cfsetospeed(&tio, pRow->nSpeed);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        tio.c_cflag |= CLOCAL | CREAD;
        static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        tio.c_cflag |= kSizes[settings.nDataBits - 5];
        switch (settings.nParity) {
            case VI_ASRL_PAR_ODD:
                tio.c_cflag |= PARENB | PARODD;
                break;
            case VI_ASRL_PAR_EVEN:
                tio.c_cflag |= PARENB;
                break;
            case VI_ASRL_PAR_MARK:
                tio.c_cflag |= PARENB | PARODD | CMSPAR;
                break;
            case VI_ASRL_PAR_SPACE:
                tio.c_cflag |= PARENB | CMSPAR;
                break;
            default:
                break;
        }
        if (settings.nStopBits == VI_ASRL_STOP_TWO) {
            tio.c_cflag |= CSTOPB;
        }
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        if (settings.nFlowControl & VI_ASRL_FLOW_XON_XOFF) {
            tio.c_iflag |= IXON | IXOFF;
            tio.c_cc[VSTART] = static_cast<cc_t>(settings.nXonChar);
            tio.c_cc[VSTOP] = static_cast<cc_t>(settings.nXoffChar);
        }
        if (settings.nFlowControl & VI_ASRL_FLOW_RTS_CTS) {
            tio.c_cflag |= CRTSCTS;
        }
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::tcsetattr(m_fd.Get(), TCSANOW, &tio) != 0) {
            return VI_ERROR_NSUP_ATTR_STATE;
        }
        m_bConfigured = true;
        return VI_SUCCESS;
    }

    ViStatus SendBreak() override {
        if (HungUp()) {
            return VI_ERROR_CONN_LOST;
        }
        return Seen(::tcsendbreak(m_fd.Get(), 0) == 0 ? VI_SUCCESS : VI_ERROR_IO);
    }

    std::size_t Available() override {
        int nBytes = 0;
        if (::ioctl(m_fd.Get(), FIONREAD, &nBytes) != 0 || nBytes < 0) {
            return 0;
        }
        return static_cast<std::size_t>(nBytes);
    }

    void Interrupt() override { m_wake.Wake(); }

  private:
    static constexpr std::int64_t kDrainSlackMs = 100;
    static constexpr int kDrainPollMs = 5;

    // Remembers a hang-up that a call ran into; a plain I/O error on a line
    // that is gone is the hang-up too.
    ViStatus Seen(ViStatus status) {
        if (status == VI_ERROR_CONN_LOST) {
            m_bHungUp = true;
        } else if (status == VI_ERROR_IO && HungUp()) {
            return VI_ERROR_CONN_LOST;
        }
        return status;
    }

    // Whether the other end has hung up, asking the line without waiting
    // when no call has run into it yet.
    bool HungUp() {
        if (!m_bHungUp && m_fd) {
            pollfd pfd{m_fd.Get(), 0, 0};
            m_bHungUp = ::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLNVAL)) != 0;
        }
        return m_bHungUp;
    }

    tknet::Fd m_fd;
    bool m_bHungUp = false;
    bool m_bConfigured = false;  // settings applied at least once
    ViUInt32 m_nBaud = 9600;
    tknet::WakePipe m_wake;  // woken by Interrupt to end a wait
};

}  // namespace

std::unique_ptr<Transport> CreateSerialTransport() {
    return std::make_unique<SerialTransport>();
}

}  // namespace tkvisa
