// The service-request receiver against hostile peers of our own: callers from
// other addresses, guessed handles, lying lengths, stalls, floods and idle
// connections. The device is the emulator (its address is the only one the
// receiver admits); the peers below speak ONC RPC by hand, so the bytes on
// the wire are the test's own and not the library's under test.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "Socket.h"
#include "Vxi11TestEmulator.h"
#include "visa.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kDeviceIntr = 0x0607B1;
constexpr std::uint32_t kDeviceIntrSrq = 30;
constexpr std::uint32_t kLastFragment = 0x80000000u;

void PutWord(std::string& str, std::uint32_t nValue) {
    for (int nShift = 24; nShift >= 0; nShift -= 8) {
        str.push_back(static_cast<char>((nValue >> nShift) & 0xFF));
    }
}

// A device_intr_srq call body; nHandleLength stands in for the true length
// when a row lies about it.
std::string SrqCallBody(std::uint32_t nXid, const std::string& strHandle,
                        std::uint32_t nHandleLength) {
    std::string str;
    for (std::uint32_t nWord : {nXid, 0u, 2u, kDeviceIntr, 1u, kDeviceIntrSrq, 0u, 0u, 0u, 0u}) {
        PutWord(str, nWord);  // xid, CALL, RPC version, program, version, procedure, two AUTH_NONE
    }
    PutWord(str, nHandleLength);
    str += strHandle;
    str.append((4 - strHandle.size() % 4) % 4, '\0');
    return str;
}

std::string Record(const std::string& strBody) {
    std::string str;
    PutWord(str, kLastFragment | static_cast<std::uint32_t>(strBody.size()));
    return str + strBody;
}

std::string SrqCall(std::uint32_t nXid, const std::string& strHandle) {
    return Record(SrqCallBody(nXid, strHandle, static_cast<std::uint32_t>(strHandle.size())));
}

// The reply an accepted call gets: record mark, xid, REPLY, MSG_ACCEPTED,
// AUTH_NONE verifier, SUCCESS.
std::string SuccessReply(std::uint32_t nXid) {
    std::string str;
    for (std::uint32_t nWord : {nXid, 1u, 0u, 0u, 0u, 0u}) {
        PutWord(str, nWord);
    }
    return Record(str);
}

// A blocking socket bound to strSource and connected to the receiver.
tknet::Fd ConnectFrom(const std::string& strSource, const tknet::Address& target) {
    tknet::Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in source{};
    source.sin_family = AF_INET;
    ::inet_pton(AF_INET, strSource.c_str(), &source.sin_addr);
    if (!fd || ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
        ::connect(fd.Get(), target.Raw(), target.nLength) != 0) {
        return tknet::Fd();
    }
    return fd;
}

bool SendBytes(int fd, const std::string& str) {
    return tknet::SendAll(fd, str.data(), str.size(), tknet::Deadline(2000)) == tknet::Result::kOk;
}

std::string ReceiveBytes(int fd, std::size_t nCount) {
    std::string str(nCount, '\0');
    if (tknet::ReceiveExact(fd, str.data(), nCount, tknet::Deadline(2000)) != tknet::Result::kOk) {
        return {};
    }
    return str;
}

// True when the peer ends the connection within nMs, whatever it sent first.
bool ClosedWithin(int fd, int nMs) {
    const tknet::Deadline deadline(static_cast<std::uint32_t>(nMs));
    char buffer[4096];
    for (;;) {
        std::size_t nGot = 0;
        const tknet::Result result = tknet::ReceiveSome(fd, buffer, sizeof buffer, deadline, &nGot);
        if (tknet::IsGone(result)) {
            return true;
        }
        if (result != tknet::Result::kOk) {
            return false;
        }
    }
}

// True when the peer ends the connection within nMs, without reading what
// it sent: reading would let a stalled peer go on.
bool HungUpWithin(int fd, int nMs) {
    for (int nWaited = 0; nWaited <= nMs; nWaited += 50) {
        pollfd pfd{fd, POLLRDHUP, 0};
        if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
            return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

// True when the connection is still open and has nothing to read.
bool OpenAndQuiet(int fd) {
    pollfd pfd{fd, POLLIN, 0};
    return ::poll(&pfd, 1, 0) == 0;
}

// The listening sockets of this process other than the emulator's: the
// receiver's, found the way a scanning attacker would find its port.
std::vector<tknet::Address> ReceiverAddresses(const std::string& strEmulatorHost) {
    std::vector<tknet::Address> vecFound;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        int fd = -1;
        try {
            fd = std::stoi(entry.path().filename().string());
        } catch (const std::exception&) {
            continue;
        }
        int nListening = 0;
        socklen_t nLength = sizeof nListening;
        tknet::Address local;
        if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &nListening, &nLength) != 0 ||
            nListening == 0 || !tknet::LocalAddressOf(fd, &local) || local.Family() != AF_INET ||
            local.Host() == strEmulatorHost) {
            continue;
        }
        vecFound.push_back(local);
    }
    return vecFound;
}

std::size_t ThreadCount() {
    std::size_t nCount = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++nCount;
    }
    return nCount;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string strLine;
    while (std::getline(status, strLine)) {
        if (strLine.rfind("VmRSS:", 0) == 0) {
            return std::stol(strLine.substr(6));
        }
    }
    return -1;
}

class Vxi11SrqSecurityTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_strDevice = Vxi11AddressOfCurrentTest(20);
        StartVxi11Emulator(m_strDevice, m_pEmulator);
        if (HasFatalFailure() || IsSkipped()) {
            return;
        }
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
        ASSERT_EQ(viOpen(m_rm, m_pEmulator->Vxi11Resource().c_str(), VI_NULL, 2000, &m_vi),
                  VI_SUCCESS);
        ASSERT_EQ(viEnableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
        const std::vector<tknet::Address> vecReceivers = ReceiverAddresses(m_strDevice);
        ASSERT_EQ(vecReceivers.size(), 1u);
        m_receiverBound = vecReceivers[0];
        m_receiver = m_receiverBound;
        if (m_receiver.Host() == "0.0.0.0") {  // listening everywhere: reach it on loopback
            std::vector<tknet::Address> vecLoopback;
            ASSERT_EQ(tknet::Resolve("127.0.0.1", m_receiver.Port(), &vecLoopback),
                      tknet::Result::kOk);
            m_receiver = vecLoopback.at(0);
        }
    }
    void TearDown() override {
        if (m_rm != VI_NULL) {
            viClose(m_rm);
        }
    }

    void RequestService() {
        for (const std::string strCommand : kRequestService) {
            ViUInt32 nCount = 0;
            ASSERT_EQ(viWrite(m_vi, reinterpret_cast<ViConstBuf>(strCommand.data()),
                              static_cast<ViUInt32>(strCommand.size()), &nCount),
                      VI_SUCCESS);
        }
    }

    void ExpectNoRequest(ViUInt32 nWaitMs = 300) {
        ViEventType nType = 0;
        EXPECT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, nWaitMs, &nType, VI_NULL),
                  VI_ERROR_TMO);
    }

    // The real device still gets through, once per rise of its request bit.
    void ExpectDeviceStillHeard() {
        RequestService();
        ViEventType nType = 0;
        EXPECT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 2000, &nType, VI_NULL), VI_SUCCESS);
        ExpectNoRequest(200);
    }

    // The handles the receiver handed out in the past: "TK" and a session number.
    std::vector<std::string> OldSchemeHandles(int nCount) const {
        std::vector<std::string> vec;
        for (int i = 0; i < nCount; ++i) {
            const ViSession vi =
                m_vi - static_cast<ViSession>(nCount / 2) + static_cast<ViSession>(i);
            std::string str = "TK";
            PutWord(str, vi);
            vec.push_back(str);
        }
        return vec;
    }

    std::string m_strDevice;
    std::unique_ptr<emu::Emulator> m_pEmulator;
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
    tknet::Address m_receiverBound;  // as bound
    tknet::Address m_receiver;       // where a peer reaches it
};

TEST_F(Vxi11SrqSecurityTest, ReceiverListensOnlyOnTheLinksOwnAddress) {
    EXPECT_EQ(m_receiverBound.Host(), "127.0.0.1");  // where the link's connection comes from
}

TEST_F(Vxi11SrqSecurityTest, CallersFromOtherAddressesAreClosedUnreadAndRaiseNothing) {
    // The client's own address is no device either.
    for (const char* pszSource : {"127.0.0.2", "127.1.2.3", "127.0.0.1"}) {
        SCOPED_TRACE(pszSource);
        tknet::Fd fd = ConnectFrom(pszSource, m_receiver);
        ASSERT_TRUE(fd);
        std::string strCalls;
        std::uint32_t nXid = 1;
        for (const std::string& strHandle : OldSchemeHandles(16)) {
            strCalls += SrqCall(nXid++, strHandle);
        }
        SendBytes(fd.Get(), strCalls);  // may fail once the receiver has closed
        EXPECT_TRUE(ClosedWithin(fd.Get(), 2000));
    }
    ExpectNoRequest();
    ExpectDeviceStillHeard();
}

TEST_F(Vxi11SrqSecurityTest, GuessedHandlesFromTheDevicesAddressAreAcknowledgedAndRaiseNothing) {
    std::vector<std::string> vecHandles = OldSchemeHandles(500);
    std::mt19937_64 random(20261207);
    for (int i = 0; i < 500; ++i) {
        std::string str(static_cast<std::size_t>(1 + i % 40), '\0');
        for (char& c : str) {
            c = static_cast<char>(random() & 0xFF);
        }
        vecHandles.push_back(str);
    }
    tknet::Fd fd = ConnectFrom(m_strDevice, m_receiver);
    ASSERT_TRUE(fd);
    std::uint32_t nXid = 1000;
    for (const std::string& strHandle : vecHandles) {
        ASSERT_TRUE(SendBytes(fd.Get(), SrqCall(nXid, strHandle)));
        const std::string strExpected = SuccessReply(nXid);
        ASSERT_EQ(ReceiveBytes(fd.Get(), strExpected.size()), strExpected);
        ++nXid;
    }
    ExpectNoRequest();
    ExpectDeviceStillHeard();
}

TEST_F(Vxi11SrqSecurityTest, LyingLengthsCloseTheConnectionWithoutAllocating) {
    std::string strGiantMark;
    PutWord(strGiantMark, kLastFragment | 0x40000000u);
    std::string strGrowingFragments;
    for (int i = 0; i < 4; ++i) {
        PutWord(strGrowingFragments, 2048);  // not the last: the record only grows
        strGrowingFragments.append(2048, 'x');
    }
    struct Row {
        const char* pszName;
        std::string strBytes;
    };
    const Row aRows[] = {
        {"1 GiB record mark", strGiantMark + std::string(65536, 'x')},
        {"fragments adding up past the bound", strGrowingFragments},
        {"1 GiB handle length", Record(SrqCallBody(7, std::string(64, 'h'), 0x40000000u))},
        {"handle longer than VXI-11 allows", Record(SrqCallBody(8, std::string(41, 'h'), 41))},
        {"reply instead of a call", SuccessReply(9)},
    };
    const long nBeforeKiB = ResidentKiB();
    for (const Row& row : aRows) {
        SCOPED_TRACE(row.pszName);
        for (int nRound = 0; nRound < 8; ++nRound) {
            tknet::Fd fd = ConnectFrom(m_strDevice, m_receiver);
            ASSERT_TRUE(fd);
            SendBytes(fd.Get(), row.strBytes);
            EXPECT_TRUE(ClosedWithin(fd.Get(), 2000));
        }
    }
    EXPECT_LT(ResidentKiB() - nBeforeKiB, 16 * 1024);
    ExpectNoRequest(100);
    ExpectDeviceStillHeard();
}

TEST_F(Vxi11SrqSecurityTest, IdleConnectionsAddNoThreadsAndTheirNumberIsBounded) {
    const std::size_t nThreadsBefore = ThreadCount();
    std::vector<tknet::Fd> vecIdle;
    for (int i = 0; i < 40; ++i) {
        vecIdle.push_back(ConnectFrom(m_strDevice, m_receiver));
        ASSERT_TRUE(vecIdle.back());
    }
    std::this_thread::sleep_for(300ms);
    // Forty connections, no thread each: at most a short-lived one of the
    // process (an event being posted) may come or go meanwhile.
    EXPECT_LE(ThreadCount(), nThreadsBefore + 2);
    for (const tknet::Fd& fd : vecIdle) {
        EXPECT_TRUE(OpenAndQuiet(fd.Get()));
    }
    // Far more than the receiver keeps: the ones beyond its bound are closed
    // as the receiver accepts them, and the device's own channel stays. The
    // receiver closes quiet connections for nothing else, so the test waits
    // for it to get to them rather than a fixed time a loaded machine may
    // overrun.
    for (int i = 0; i < 60; ++i) {
        vecIdle.push_back(ConnectFrom(m_strDevice, m_receiver));
    }
    auto closedCount = [&] {
        std::size_t nClosed = 0;
        for (const tknet::Fd& fd : vecIdle) {
            nClosed += OpenAndQuiet(fd.Get()) ? 0 : 1;
        }
        return nClosed;
    };
    for (int nWaited = 0; nWaited < 5000 && closedCount() < 100u - 63u; nWaited += 20) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_GE(closedCount(), 100u - 63u);
    EXPECT_LE(ThreadCount(), nThreadsBefore + 2);
    ExpectDeviceStillHeard();
}

TEST_F(Vxi11SrqSecurityTest, StalledHalfRecordsDoNotHoldUpOtherCallers) {
    tknet::Fd fdHalfHeader = ConnectFrom(m_strDevice, m_receiver);
    tknet::Fd fdHalfBody = ConnectFrom(m_strDevice, m_receiver);
    ASSERT_TRUE(fdHalfHeader && fdHalfBody);
    const std::string strCall = SrqCall(1, "stalled");
    ASSERT_TRUE(SendBytes(fdHalfHeader.Get(), strCall.substr(0, 2)));
    ASSERT_TRUE(SendBytes(fdHalfBody.Get(), strCall.substr(0, strCall.size() / 2)));
    std::this_thread::sleep_for(100ms);
    tknet::Fd fd = ConnectFrom(m_strDevice, m_receiver);
    ASSERT_TRUE(fd);
    ASSERT_TRUE(SendBytes(fd.Get(), SrqCall(2, "someone else")));
    EXPECT_EQ(ReceiveBytes(fd.Get(), SuccessReply(2).size()), SuccessReply(2));
    ExpectDeviceStillHeard();
    // The stalled ones finish later and are answered then.
    ASSERT_TRUE(SendBytes(fdHalfBody.Get(), strCall.substr(strCall.size() / 2)));
    EXPECT_EQ(ReceiveBytes(fdHalfBody.Get(), SuccessReply(1).size()), SuccessReply(1));
}

TEST_F(Vxi11SrqSecurityTest, CallerThatNeverReadsItsRepliesIsCutOff) {
    tknet::Fd fd = ConnectFrom(m_strDevice, m_receiver);
    ASSERT_TRUE(fd);
    const int nSmall = 4096;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &nSmall, sizeof nSmall);
    // More replies than the kernel's buffers hold: the receiver stops
    // reading, and closes the connection once its replies have waited a
    // while; the device is heard all the while. (The handle fills whole XDR
    // units: the RPC library decodes padding into one static scratch buffer
    // for every thread, which the thread sanitizer would report against the
    // emulator's decoding.)
    std::string strFlood;
    for (std::uint32_t nXid = 0; nXid < 20000; ++nXid) {
        strFlood += SrqCall(nXid, "TK\x01\x02\x03\x04\x05\x06");
    }
    tknet::SendAll(fd.Get(), strFlood.data(), strFlood.size(), tknet::Deadline(1000));
    ExpectDeviceStillHeard();
    EXPECT_TRUE(HungUpWithin(fd.Get(), 10000));
}

}  // namespace
