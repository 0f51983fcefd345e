// The shared network layer against peers that refuse, stay silent, hang up
// and connect in numbers: every wait ends by its deadline or its wake pipe.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <dirent.h>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Socket.h"

namespace {

using tknet::Deadline;
using tknet::Result;

std::int64_t ElapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

std::size_t ThreadCount() {
    std::size_t nCount = 0;
    if (DIR* pDir = ::opendir("/proc/self/task")) {
        while (const dirent* pEntry = ::readdir(pDir)) {
            nCount += pEntry->d_name[0] != '.' ? 1 : 0;
        }
        ::closedir(pDir);
    }
    return nCount;
}

// A connected pair on loopback: the client end and the listener's end.
struct Pair {
    tknet::Listener listener;
    tknet::Fd client;
    tknet::Fd server;
    Pair() {
        EXPECT_EQ(listener.Open("127.0.0.1", 0), Result::kOk);
        std::vector<tknet::Address> vecAddresses;
        EXPECT_EQ(tknet::Resolve("127.0.0.1", listener.Port(), &vecAddresses), Result::kOk);
        EXPECT_EQ(tknet::ConnectAny(vecAddresses, Deadline(1000), &client), Result::kOk);
        const Deadline deadline(1000);
        EXPECT_EQ(tknet::WaitReady(listener.Fd(), POLLIN, deadline), Result::kOk);
        server.Reset(::accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC));
    }
};

TEST(NetDeadline, InfiniteNeverPassesAndFiniteCountsDown) {
    const Deadline never(Deadline::kInfinite);
    EXPECT_EQ(never.RemainingMs(), -1);
    EXPECT_EQ(never.RemainingMsAtMost(50), 50);
    const Deadline zero(0);
    EXPECT_TRUE(zero.Passed());
    const Deadline soon(30);
    soon.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_TRUE(soon.Passed());
    EXPECT_EQ(soon.RemainingMsAtMost(50), 0);
}

TEST(NetConnect, FailuresAreNamed) {
    std::vector<tknet::Address> vecAddresses;
    EXPECT_EQ(tknet::Resolve("no-such-host.invalid", 1, &vecAddresses), Result::kNoHost);
    // A port nobody listens on: refused at once, not at the deadline.
    tknet::Listener closed;
    ASSERT_EQ(closed.Open("127.0.0.1", 0), Result::kOk);
    const std::uint16_t nPort = closed.Port();
    closed.Stop();
    ASSERT_EQ(tknet::Resolve("127.0.0.1", nPort, &vecAddresses), Result::kOk);
    tknet::Fd fd;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(tknet::ConnectAny(vecAddresses, Deadline(2000), &fd), Result::kRefused);
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_FALSE(fd);
}

TEST(NetDatagram, BindsOnceAPortAndNamesAHostThatDoesNotResolve) {
    tknet::Fd first;
    ASSERT_EQ(tknet::BindDatagram("127.0.0.1", 0, &first), Result::kOk);
    tknet::Address bound;
    ASSERT_TRUE(tknet::LocalAddressOf(first.Get(), &bound));
    // A datagram sent to the bound port arrives there.
    tknet::Fd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(sender);
    ASSERT_EQ(::sendto(sender.Get(), "ping", 4, 0, bound.Raw(), bound.nLength), 4);
    char achIn[8] = {};
    std::size_t nGot = 0;
    EXPECT_EQ(tknet::ReceiveSome(first.Get(), achIn, sizeof achIn, Deadline(2000), &nGot),
              Result::kOk);
    EXPECT_EQ(std::string(achIn, nGot), "ping");
    // A port in use by a socket without SO_REUSEADDR stays taken; an
    // unresolvable name is told apart from it.
    tknet::Fd plain(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    tknet::Address taken;
    std::vector<tknet::Address> vecAddresses;
    ASSERT_EQ(tknet::Resolve("127.0.0.1", 0, &vecAddresses), Result::kOk);
    ASSERT_EQ(::bind(plain.Get(), vecAddresses[0].Raw(), vecAddresses[0].nLength), 0);
    ASSERT_TRUE(tknet::LocalAddressOf(plain.Get(), &taken));
    tknet::Fd second;
    EXPECT_EQ(tknet::BindDatagram("127.0.0.1", taken.Port(), &second), Result::kError);
    EXPECT_FALSE(second);
    EXPECT_EQ(tknet::BindDatagram("no-such-host.invalid", 0, &second), Result::kNoHost);
}

TEST(NetWait, SilentPeerEndsAtTheDeadlineAndWakeEndsItEarlier) {
    Pair pair;
    char buffer[16];
    std::size_t nGot = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(tknet::ReceiveSome(pair.client.Get(), buffer, sizeof buffer, Deadline(150), &nGot),
              Result::kTimeout);
    EXPECT_GE(ElapsedMs(start), 140);
    EXPECT_LT(ElapsedMs(start), 350);

    tknet::WakePipe wake;
    std::thread waker([&wake] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        wake.Wake();
    });
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(tknet::ReceiveSome(pair.client.Get(), buffer, sizeof buffer,
                                 Deadline(Deadline::kInfinite), &nGot, wake.ReadFd()),
              Result::kWoken);
    EXPECT_LT(ElapsedMs(start), 1000);
    waker.join();
}

TEST(NetReceive, DripHangUpAndTruncationAreTold) {
    Pair pair;
    // A drip within the deadline is assembled; one past it times out.
    std::thread drip([&pair] {
        for (char c : std::string("abcd")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ::send(pair.server.Get(), &c, 1, MSG_NOSIGNAL);
        }
    });
    char buffer[8] = {};
    EXPECT_EQ(tknet::ReceiveExact(pair.client.Get(), buffer, 4, Deadline(1000)), Result::kOk);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    drip.join();
    EXPECT_EQ(tknet::ReceiveExact(pair.client.Get(), buffer, 4, Deadline(100)), Result::kTimeout);
    // Two bytes, then the peer hangs up: the rest never comes.
    ::send(pair.server.Get(), "xy", 2, MSG_NOSIGNAL);
    pair.server.Reset();
    EXPECT_EQ(tknet::ReceiveExact(pair.client.Get(), buffer, 4, Deadline(1000)), Result::kClosed);
    // Sending into a closed connection reports it and raises no SIGPIPE.
    std::size_t nSent = 0;
    Result result = Result::kOk;
    for (int n = 0; n < 100 && result == Result::kOk; ++n) {
        result = tknet::SendAll(pair.client.Get(), "data", 4, Deadline(1000), &nSent);
    }
    EXPECT_TRUE(tknet::IsGone(result));
}

TEST(NetListener, FinishedConnectionsAreReapedAndStopWakesTheRest) {
    tknet::Listener listener;
    ASSERT_EQ(listener.Open("127.0.0.1", 0), Result::kOk);
    std::atomic<int> nServed{0};
    listener.Start([&](tknet::Fd fd, const tknet::Address& peer) {
        EXPECT_TRUE(peer.IsLoopback());
        char c = 0;
        std::size_t nGot = 0;
        // Serves until the peer goes or the listener stops.
        tknet::ReceiveSome(fd.Get(), &c, 1, Deadline(Deadline::kInfinite), &nGot,
                           listener.WakeFd());
        ++nServed;
    });
    std::vector<tknet::Address> vecAddresses;
    ASSERT_EQ(tknet::Resolve("127.0.0.1", listener.Port(), &vecAddresses), Result::kOk);
    const std::size_t nThreadsBefore = ThreadCount();
    for (int n = 0; n < 50; ++n) {
        tknet::Fd fd;
        ASSERT_EQ(tknet::ConnectAny(vecAddresses, Deadline(1000), &fd), Result::kOk);
    }
    for (int n = 0; n < 100 && nServed.load() < 50; ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(nServed.load(), 50);
    // One more connection reaps the finished ones; it stays open until Stop.
    tknet::Fd idle;
    ASSERT_EQ(tknet::ConnectAny(vecAddresses, Deadline(1000), &idle), Result::kOk);
    for (int n = 0; n < 100 && listener.ActiveConnections() != 1; ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(listener.ActiveConnections(), 1u);
    EXPECT_LE(ThreadCount(), nThreadsBefore + 2);
    const auto start = std::chrono::steady_clock::now();
    listener.Stop();
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_EQ(nServed.load(), 51);
}

}  // namespace
