#include "Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tknet {
namespace {

Result ResultOfErrno(int nError) {
    switch (nError) {
        case ECONNREFUSED:
            return Result::kRefused;
        case EPIPE:
        case ECONNRESET:
        case ECONNABORTED:
        case ENOTCONN:
        case ESHUTDOWN:
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ENETDOWN:
        case EHOSTDOWN:
            return Result::kLost;
        default:
            return Result::kError;
    }
}

}  // namespace

void Fd::Reset(int fd) {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = fd;
}

// ----- Address ------------------------------------------------------------

std::uint16_t Address::Port() const {
    if (Family() == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    }
    if (Family() == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    }
    return 0;
}

Address Address::WithPort(std::uint16_t nPort) const {
    Address other = *this;
    if (Family() == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&other.storage)->sin6_port = htons(nPort);
    } else if (Family() == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&other.storage)->sin_port = htons(nPort);
    }
    return other;
}

std::string Address::Host() const {
    char szHost[NI_MAXHOST] = {};
    if (nLength == 0 ||
        ::getnameinfo(Raw(), nLength, szHost, sizeof szHost, nullptr, 0, NI_NUMERICHOST) != 0) {
        return {};
    }
    return szHost;
}

bool Address::SameHost(const Address& other) const {
    if (Family() != other.Family()) {
        return false;
    }
    if (Family() == AF_INET) {
        return reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in*>(&other.storage)->sin_addr.s_addr;
    }
    if (Family() == AF_INET6) {
        return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr,
                           &reinterpret_cast<const sockaddr_in6*>(&other.storage)->sin6_addr,
                           sizeof(in6_addr)) == 0;
    }
    return false;
}

bool Address::IsLoopback() const {
    if (Family() == AF_INET) {
        return (ntohl(reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr) >> 24) ==
               127;
    }
    if (Family() == AF_INET6) {
        return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr);
    }
    return false;
}

Result Resolve(const std::string& strHost, std::uint16_t nPort, std::vector<Address>* pAddresses,
               bool bPassive) {
    pAddresses->clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = bPassive ? AI_PASSIVE : 0;
    addrinfo* pList = nullptr;
    const std::string strPort = std::to_string(nPort);
    if (::getaddrinfo(strHost.empty() ? nullptr : strHost.c_str(), strPort.c_str(), &hints,
                      &pList) != 0 ||
        pList == nullptr) {
        return Result::kNoHost;
    }
    for (const addrinfo* p = pList; p != nullptr; p = p->ai_next) {
        if (p->ai_addrlen <= sizeof(sockaddr_storage)) {
            Address address;
            std::memcpy(&address.storage, p->ai_addr, p->ai_addrlen);
            address.nLength = p->ai_addrlen;
            pAddresses->push_back(address);
        }
    }
    ::freeaddrinfo(pList);
    return pAddresses->empty() ? Result::kNoHost : Result::kOk;
}

// ----- Waiting ------------------------------------------------------------

Result WaitReady(int fd, short nEvents, const Deadline& deadline, int fdWake) {
    for (;;) {
        pollfd afds[2] = {{fd, nEvents, 0}, {fdWake, POLLIN, 0}};
        const int nReady = ::poll(afds, fdWake >= 0 ? 2 : 1, deadline.RemainingMs());
        if (nReady > 0) {
            if (fdWake >= 0 && (afds[1].revents & POLLIN) != 0) {
                return Result::kWoken;
            }
            return Result::kOk;
        }
        if (nReady == 0) {
            return Result::kTimeout;
        }
        if (errno != EINTR) {
            return Result::kError;
        }
    }
}

// ----- Connecting ---------------------------------------------------------

Result Connect(const Address& address, const Deadline& deadline, Fd* pFd, const Address* pSource) {
    Fd fd(::socket(address.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        return Result::kError;
    }
    if (pSource != nullptr) {
        const Address source = pSource->WithPort(0);
        if (::bind(fd.Get(), source.Raw(), source.nLength) != 0) {
            return ResultOfErrno(errno);
        }
    }
    if (::connect(fd.Get(), address.Raw(), address.nLength) != 0) {
        if (errno != EINPROGRESS) {
            return ResultOfErrno(errno);
        }
        const Result waited = WaitReady(fd.Get(), POLLOUT, deadline);
        if (waited != Result::kOk) {
            return waited;
        }
        int nError = 0;
        socklen_t nLength = sizeof nError;
        if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &nError, &nLength) != 0) {
            return Result::kError;
        }
        if (nError != 0) {
            return ResultOfErrno(nError);
        }
    }
    const int nOne = 1;
    ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
    *pFd = std::move(fd);
    return Result::kOk;
}

Result ConnectAny(const std::vector<Address>& vecAddresses, const Deadline& deadline, Fd* pFd,
                  Address* pPeer) {
    Result result = Result::kNoHost;
    for (const Address& address : vecAddresses) {
        result = Connect(address, deadline, pFd);
        if (result == Result::kOk) {
            if (pPeer != nullptr) {
                *pPeer = address;
            }
            return result;
        }
        if (result == Result::kTimeout) {
            break;
        }
    }
    return result;
}

bool LocalAddressOf(int fd, Address* pAddress) {
    pAddress->nLength = sizeof pAddress->storage;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&pAddress->storage), &pAddress->nLength) ==
           0;
}

bool PeerAddressOf(int fd, Address* pAddress) {
    pAddress->nLength = sizeof pAddress->storage;
    return ::getpeername(fd, reinterpret_cast<sockaddr*>(&pAddress->storage), &pAddress->nLength) ==
           0;
}

// ----- Wake pipe ----------------------------------------------------------

WakePipe::WakePipe() {
    int afd[2];
    if (::pipe2(afd, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_read.Reset(afd[0]);
        m_write.Reset(afd[1]);
    }
}

void WakePipe::Wake() const {
    const char c = 1;
    // A full pipe is already readable: the wake is not lost.
    [[maybe_unused]] const ssize_t n = ::write(m_write.Get(), &c, 1);
}

void WakePipe::Drain() const {
    char buffer[64];
    while (::read(m_read.Get(), buffer, sizeof buffer) > 0) {
    }
}

// ----- Sending and receiving ----------------------------------------------

Result SendAll(int fd, const void* pData, std::size_t nCount, const Deadline& deadline,
               std::size_t* pSent, int fdWake) {
    const auto* pBytes = static_cast<const char*>(pData);
    std::size_t nDone = 0;
    Result result = Result::kOk;
    while (nDone < nCount) {
        const ssize_t n = ::send(fd, pBytes + nDone, nCount - nDone, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            nDone += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            result = WaitReady(fd, POLLOUT, deadline, fdWake);
            if (result != Result::kOk) {
                break;
            }
            continue;
        }
        result = n < 0 ? ResultOfErrno(errno) : Result::kError;
        break;
    }
    if (pSent != nullptr) {
        *pSent = nDone;
    }
    return result;
}

Result ReceiveNow(int fd, void* pData, std::size_t nMax, std::size_t* pGot) {
    *pGot = 0;
    for (;;) {
        const ssize_t n = ::recv(fd, pData, nMax, MSG_DONTWAIT);
        if (n > 0) {
            *pGot = static_cast<std::size_t>(n);
            return Result::kOk;
        }
        if (n == 0) {
            return nMax == 0 ? Result::kOk : Result::kClosed;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return Result::kOk;
        }
        return ResultOfErrno(errno);
    }
}

Result ReceiveSome(int fd, void* pData, std::size_t nMax, const Deadline& deadline,
                   std::size_t* pGot, int fdWake) {
    *pGot = 0;
    for (;;) {
        const Result result = ReceiveNow(fd, pData, nMax, pGot);
        if (result != Result::kOk || *pGot > 0) {
            return result;
        }
        const Result waited = WaitReady(fd, POLLIN, deadline, fdWake);
        if (waited != Result::kOk) {
            return waited;
        }
    }
}

Result ReceiveExact(int fd, void* pData, std::size_t nCount, const Deadline& deadline, int fdWake) {
    auto* pBytes = static_cast<char*>(pData);
    std::size_t nDone = 0;
    while (nDone < nCount) {
        std::size_t nGot = 0;
        const Result result =
            ReceiveSome(fd, pBytes + nDone, nCount - nDone, deadline, &nGot, fdWake);
        if (result != Result::kOk) {
            return result;
        }
        nDone += nGot;
    }
    return Result::kOk;
}

// ----- Datagrams ---------------------------------------------------------

Result BindDatagram(const std::string& strHost, std::uint16_t nPort, Fd* pFd) {
    std::vector<Address> vecAddresses;
    Result result = Resolve(strHost, nPort, &vecAddresses, true);
    if (result != Result::kOk) {
        return result;
    }
    for (const Address& address : vecAddresses) {
        Fd fd(::socket(address.Family(), SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!fd) {
            result = ResultOfErrno(errno);
            continue;
        }
        const int nOne = 1;
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &nOne, sizeof nOne);
        if (::bind(fd.Get(), address.Raw(), address.nLength) == 0) {
            *pFd = std::move(fd);
            return Result::kOk;
        }
        result = ResultOfErrno(errno);
    }
    return result;
}

// ----- Listener -----------------------------------------------------------

Result Listener::Open(const std::string& strHost, std::uint16_t nPort, int nBacklog) {
    std::vector<Address> vecAddresses;
    const Result resolved = Resolve(strHost, nPort, &vecAddresses, true);
    if (resolved != Result::kOk) {
        return resolved;
    }
    Result result = Result::kError;
    for (const Address& address : vecAddresses) {
        result = Open(address, nBacklog);
        if (result == Result::kOk) {
            break;
        }
    }
    return result;
}

Result Listener::Open(const Address& address, int nBacklog) {
    if (!m_wake.Valid()) {
        return Result::kError;
    }
    tknet::Fd fd(::socket(address.Family(), SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        return Result::kError;
    }
    const int nOne = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &nOne, sizeof nOne);
    Address bound;
    if (::bind(fd.Get(), address.Raw(), address.nLength) != 0 ||
        ::listen(fd.Get(), nBacklog) != 0 || !LocalAddressOf(fd.Get(), &bound)) {
        return ResultOfErrno(errno);
    }
    m_nPort = bound.Port();
    m_listen = std::move(fd);
    return Result::kOk;
}

void Listener::Start(Handler handler) {
    m_handler = std::move(handler);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

void Listener::AcceptLoop() {
    const Deadline never(Deadline::kInfinite);
    while (!m_bStopping.load()) {
        if (WaitReady(m_listen.Get(), POLLIN, never, m_wake.ReadFd()) != Result::kOk) {
            break;
        }
        Address peer;
        peer.nLength = sizeof peer.storage;
        tknet::Fd fd(::accept4(m_listen.Get(), reinterpret_cast<sockaddr*>(&peer.storage),
                               &peer.nLength, SOCK_CLOEXEC));
        if (!fd) {
            if (errno == EMFILE || errno == ENFILE) {
                // Out of descriptors: let finished connections go first.
                Reap(false);
                ::poll(nullptr, 0, 10);
            }
            continue;
        }
        const int nOne = 1;
        ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
        Reap(false);
        auto pWorker = std::make_unique<Worker>();
        Worker* pRaw = pWorker.get();
        std::lock_guard<std::mutex> lock(m_mutex);
        pRaw->thread = std::thread([this, pRaw, fdOwned = fd.Release(), peer]() mutable {
            m_handler(tknet::Fd(fdOwned), peer);
            pRaw->bDone.store(true);
        });
        m_workers.push_back(std::move(pWorker));
    }
}

void Listener::Reap(bool bAll) {
    std::list<std::unique_ptr<Worker>> listDone;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if (bAll || (*it)->bDone.load()) {
                listDone.push_back(std::move(*it));
                it = m_workers.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& pWorker : listDone) {
        if (pWorker->thread.joinable()) {
            pWorker->thread.join();
        }
    }
}

std::size_t Listener::ActiveConnections() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t nActive = 0;
    for (const auto& pWorker : m_workers) {
        nActive += pWorker->bDone.load() ? 0 : 1;
    }
    return nActive;
}

void Listener::Stop() {
    if (m_bStopping.exchange(true)) {
        return;
    }
    m_wake.Wake();
    if (m_acceptThread.joinable()) {
        m_acceptThread.join();
    }
    Reap(true);
    m_listen.Reset();
}

}  // namespace tknet
