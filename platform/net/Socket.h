// Sockets for the VISA layer, the emulator and the tests: one owner of a file
// descriptor, name resolution, connect and waits bounded by a Deadline, a
// wake pipe that ends a wait from another thread, and a listener whose accept
// loop serves each connection on a thread and reaps the finished ones.
// It knows bytes and time only; what the bytes mean belongs to the caller.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Deadline.h"

namespace tknet {

// What an operation came to. kClosed: the peer ended the connection in
// order; kLost: it broke (reset, unreachable, ...); kWoken: the wake pipe ended the wait.
enum class Result { kOk, kTimeout, kClosed, kLost, kRefused, kNoHost, kWoken, kError };

// Whether a result means the connection can never carry data again.
inline bool IsGone(Result result) {
    return result == Result::kClosed || result == Result::kLost;
}

// Owns one file descriptor and closes it once.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : m_fd(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd = -1);

  private:
    int m_fd = -1;
};

// A socket address of either family.
struct Address {
    sockaddr_storage storage{};
    socklen_t nLength = 0;

    const sockaddr* Raw() const { return reinterpret_cast<const sockaddr*>(&storage); }
    int Family() const { return storage.ss_family; }
    std::uint16_t Port() const;
    Address WithPort(std::uint16_t nPort) const;
    // The numeric host ("127.0.0.1", "::1"), without the port.
    std::string Host() const;
    // Same host, ignoring the port.
    bool SameHost(const Address& other) const;
    bool IsLoopback() const;
};

// The addresses of host:port for a stream socket; an empty host means every
// local address (for listening). kNoHost when the name does not resolve.
Result Resolve(const std::string& strHost, std::uint16_t nPort, std::vector<Address>* pAddresses,
               bool bPassive = false);

// Connects a non-blocking stream socket to one address within the deadline,
// from pSource (any port) when given. The socket stays non-blocking, with
// TCP_NODELAY set.
Result Connect(const Address& address, const Deadline& deadline, Fd* pFd,
               const Address* pSource = nullptr);
// Tries the addresses in turn until one connects, the deadline passes or one
// refuses for good; *pPeer names the one that answered.
Result ConnectAny(const std::vector<Address>& vecAddresses, const Deadline& deadline, Fd* pFd,
                  Address* pPeer = nullptr);

// The addresses of both ends of a connected socket.
bool LocalAddressOf(int fd, Address* pAddress);
bool PeerAddressOf(int fd, Address* pAddress);

// A pipe whose read end becomes readable when Wake() is called, to end a
// WaitReady on another thread. Wakes are sticky until Drain().
class WakePipe {
  public:
    WakePipe();
    bool Valid() const { return static_cast<bool>(m_read); }
    int ReadFd() const { return m_read.Get(); }
    void Wake() const;
    void Drain() const;

  private:
    Fd m_read;
    Fd m_write;
};

// Waits until fd is ready for nEvents (POLLIN, POLLOUT) within the deadline.
// A hang-up or error on fd counts as ready: the next send or receive tells
// what happened. kWoken when fdWake (if >= 0) became readable first.
Result WaitReady(int fd, short nEvents, const Deadline& deadline, int fdWake = -1);

// Sends all bytes within the deadline; *pSent counts those that went out.
Result SendAll(int fd, const void* pData, std::size_t nCount, const Deadline& deadline,
               std::size_t* pSent = nullptr, int fdWake = -1);
// Receives at least one byte (up to nMax) within the deadline.
Result ReceiveSome(int fd, void* pData, std::size_t nMax, const Deadline& deadline,
                   std::size_t* pGot, int fdWake = -1);
// Receives exactly nCount bytes within the deadline.
Result ReceiveExact(int fd, void* pData, std::size_t nCount, const Deadline& deadline,
                    int fdWake = -1);
// Receives whatever is already there without waiting; *pGot may be 0.
Result ReceiveNow(int fd, void* pData, std::size_t nMax, std::size_t* pGot);

// A UDP socket bound to the first address of host:port (an empty host for
// every address) that takes it, with SO_REUSEADDR. kNoHost when the name
// does not resolve; else the failure of the last address tried.
Result BindDatagram(const std::string& strHost, std::uint16_t nPort, Fd* pFd);

// A listening TCP socket and its accept loop. Each accepted connection is
// served by onConnection on a thread of its own; finished threads are joined
// as new connections arrive and at Stop(). Stop() wakes the loop and every
// connection's waits (through Wake(), which servers pass to their waits),
// then joins all threads.
class Listener {
  public:
    using Handler = std::function<void(Fd fd, const Address& peer)>;

    Listener() = default;
    ~Listener() { Stop(); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Binds host:port (port 0 for an ephemeral one; an empty host for every
    // address) with SO_REUSEADDR and listens.
    Result Open(const std::string& strHost, std::uint16_t nPort, int nBacklog = 128);
    // Binds exactly this address.
    Result Open(const Address& address, int nBacklog = 128);
    std::uint16_t Port() const { return m_nPort; }
    int Fd() const { return m_listen.Get(); }
    // The read end of the pipe that Stop() wakes; servers wait on it too.
    int WakeFd() const { return m_wake.ReadFd(); }
    bool Stopping() const { return m_bStopping.load(); }

    // Starts the accept loop on its own thread.
    void Start(Handler handler);
    // Connections being served now.
    std::size_t ActiveConnections();
    void Stop();

  private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> bDone{false};
    };
    void AcceptLoop();
    void Reap(bool bAll);

    tknet::Fd m_listen;
    WakePipe m_wake;
    std::uint16_t m_nPort = 0;
    Handler m_handler;
    std::thread m_acceptThread;
    std::atomic<bool> m_bStopping{false};
    std::mutex m_mutex;
    std::list<std::unique_ptr<Worker>> m_workers;
};

}  // namespace tknet
