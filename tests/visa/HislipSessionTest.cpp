// HiSLIP sessions (TCPIP::host::hislip0,PORT::INSTR): against the emulator's
// server over loopback, and against a scripted peer that checks the exact
// message bytes the client sends.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "HislipMessage.h"
#include "QueryChecks.h"
#include "Session.h"
#include "visa.h"

namespace {

namespace hs = tkvisa::hislip;
using hs::MessageType;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

class HislipSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        emu::EmulatorOptions options;
        options.bHislip = true;
        options.nHislipPort = 0;
        m_pEmulator = std::make_unique<emu::Emulator>(options);
        m_pEmulator->Start();
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
        ASSERT_EQ(viOpen(m_rm, m_pEmulator->HislipResource().c_str(), VI_NULL, 2000, &m_vi),
                  VI_SUCCESS);
    }
    void TearDown() override {
        if (m_rm != VI_NULL) {
            viClose(m_rm);
        }
    }

    ViStatus Write(const std::string& strText) {
        ViUInt32 nCount = 0;
        return viWrite(m_vi, reinterpret_cast<const ViByte*>(strText.data()),
                       static_cast<ViUInt32>(strText.size()), &nCount);
    }
    std::string Read(ViStatus expected = VI_SUCCESS) {
        std::vector<ViByte> vecBuffer(8192);
        ViUInt32 nCount = 0;
        EXPECT_EQ(viRead(m_vi, vecBuffer.data(), static_cast<ViUInt32>(vecBuffer.size()), &nCount),
                  expected);
        return std::string(reinterpret_cast<char*>(vecBuffer.data()), nCount);
    }

    std::unique_ptr<emu::Emulator> m_pEmulator;
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
};

TEST_F(HislipSessionTest, QueriesCarryTheExactMessagesAndReadsEndWithDataEnd) {
    EXPECT_EQ(Write("*IDN?\n"), VI_SUCCESS);
    EXPECT_EQ(Read(), "Norvale,6313,SN000001,1.02\n");
    EXPECT_EQ(Write("INST CH2\nVOLT 2.5\n"), VI_SUCCESS);
    EXPECT_EQ(Write("VOLT?\n"), VI_SUCCESS);
    EXPECT_EQ(std::stod(Read()), 2.5);
    EXPECT_EQ(m_pEmulator->Lines(), (Lines{"*IDN?", "INST CH2", "VOLT 2.5", "VOLT?"}));
    // A count smaller than the reply leaves the rest for the next read.
    EXPECT_EQ(Write("*IDN?\n"), VI_SUCCESS);
    ViByte achReply[7] = {};
    ViUInt32 nCount = 0;
    EXPECT_EQ(viRead(m_vi, achReply, sizeof achReply, &nCount), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(Read(), ",6313,SN000001,1.02\n");
}

TEST_F(HislipSessionTest, EndOnTheTermCharIsSuccess) {
    tkvisa_test::ExpectEndWinsOverTermChar(m_vi);
}

TEST_F(HislipSessionTest, AttributesReportTheNegotiatedLink) {
    ViVersion nVersion = 0;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TCPIP_HISLIP_VERSION, &nVersion), VI_SUCCESS);
    EXPECT_EQ(nVersion, 0x00100000u);
    ViUInt32 nKb = 0;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TCPIP_HISLIP_MAX_MESSAGE_KB, &nKb), VI_SUCCESS);
    EXPECT_EQ(nKb, 1024u);
    ViBoolean bOverlap = VI_TRUE;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TCPIP_HISLIP_OVERLAP_EN, &bOverlap), VI_SUCCESS);
    EXPECT_EQ(bOverlap, VI_FALSE);
    EXPECT_EQ(viSetAttribute(m_vi, VI_ATTR_TCPIP_HISLIP_VERSION, 0), VI_ERROR_ATTR_READONLY);
    EXPECT_EQ(viSetAttribute(m_vi, VI_ATTR_TCPIP_HISLIP_MAX_MESSAGE_KB, 0),
              VI_ERROR_NSUP_ATTR_STATE);
    // A 1 KB limit makes the device split a long reply; the read joins it.
    EXPECT_EQ(viSetAttribute(m_vi, VI_ATTR_TCPIP_HISLIP_MAX_MESSAGE_KB, 1), VI_SUCCESS);
    m_pEmulator->SetOversizedReply("*IDN?", 3000);
    EXPECT_EQ(Write("*IDN?\n"), VI_SUCCESS);
    std::string strReply;
    for (int i = 0; i < 10 && (strReply.empty() || strReply.back() != '\n'); ++i) {
        strReply += Read();
    }
    EXPECT_GE(strReply.size(), 3000u);
    // Overlapped mode comes with a device clear.
    EXPECT_EQ(viSetAttribute(m_vi, VI_ATTR_TCPIP_HISLIP_OVERLAP_EN, VI_TRUE), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TCPIP_HISLIP_OVERLAP_EN, &bOverlap), VI_SUCCESS);
    EXPECT_EQ(bOverlap, VI_TRUE);
}

TEST_F(HislipSessionTest, DeviceOperationsUseTheirMessages) {
    ViUInt16 nStb = 0xFFFF;
    EXPECT_EQ(viReadSTB(m_vi, &nStb), VI_SUCCESS);
    EXPECT_LE(nStb, 0xFF);
    EXPECT_EQ(viAssertTrigger(m_vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
    // A device clear in the middle of a reply drops its rest.
    EXPECT_EQ(Write("*IDN?\n"), VI_SUCCESS);
    ViByte achPart[4] = {};
    ViUInt32 nCount = 0;
    EXPECT_EQ(viRead(m_vi, achPart, sizeof achPart, &nCount), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(viClear(m_vi), VI_SUCCESS);
    EXPECT_EQ(Write("*OPC?\n"), VI_SUCCESS);
    EXPECT_EQ(Read(), "1\n");
}

TEST_F(HislipSessionTest, ServiceRequestEventsAreRefusedAndTheSessionGoesOn) {
    EXPECT_EQ(viEnableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_ERROR_INV_EVENT);
    ViEventType nType = 0;
    EXPECT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 0, &nType, VI_NULL), VI_ERROR_NENABLED);
    EXPECT_EQ(Write("*OPC?\n"), VI_SUCCESS);
    EXPECT_EQ(Read(), "1\n");
}

TEST_F(HislipSessionTest, LateReplyAfterTimeoutIsNotTheNextAnswer) {
    EXPECT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 100), VI_SUCCESS);
    m_pEmulator->SetReplyDelay(300ms);
    EXPECT_EQ(Write("*IDN?\n"), VI_SUCCESS);
    Read(VI_ERROR_TMO);
    m_pEmulator->SetReplyDelay(0ms);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 2000), VI_SUCCESS);
    EXPECT_EQ(Write("*OPC?\n"), VI_SUCCESS);
    EXPECT_EQ(Read(), "1\n");
}

TEST_F(HislipSessionTest, DeviceErrorsBecomeStatuses) {
    m_pEmulator->SetHislipError(1, false);
    EXPECT_EQ(Write("*IDN?\n"), VI_SUCCESS);
    Read(VI_ERROR_NSUP_OPER);
    // The session goes on after an Error.
    EXPECT_EQ(Write("*OPC?\n"), VI_SUCCESS);
    EXPECT_EQ(Read(), "1\n");
    // A FatalError ends it; later calls report the lost connection.
    m_pEmulator->SetHislipError(0, true);
    EXPECT_EQ(Write("*IDN?\n"), VI_SUCCESS);
    Read(VI_ERROR_IO);
    EXPECT_EQ(Write("*IDN?\n"), VI_ERROR_CONN_LOST);
}

TEST_F(HislipSessionTest, AbruptCloseIsALostConnection) {
    m_pEmulator->CloseAfterMessages(0);
    EXPECT_EQ(Write("*IDN?\n"), VI_SUCCESS);
    Read(VI_ERROR_CONN_LOST);
    EXPECT_EQ(Write("*IDN?\n"), VI_ERROR_CONN_LOST);
}

TEST_F(HislipSessionTest, SeveralSessionsShareTheDevice) {
    ViSession viOther = VI_NULL;
    ASSERT_EQ(viOpen(m_rm, m_pEmulator->HislipResource().c_str(), VI_NULL, 2000, &viOther),
              VI_SUCCESS);
    EXPECT_EQ(m_pEmulator->HislipSessionCount(), 2u);
    EXPECT_EQ(viClose(viOther), VI_SUCCESS);
}

// ----- scripted peer ---------------------------------------------------------

// A listening socket on an ephemeral loopback port; the test's thread plays
// the device, reading and checking the exact bytes of each message.
class ScriptedPeer {
  public:
    ScriptedPeer() {
        m_fdListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fdListen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_fdListen, 4);
        socklen_t nLength = sizeof address;
        ::getsockname(m_fdListen, reinterpret_cast<sockaddr*>(&address), &nLength);
        m_nPort = ntohs(address.sin_port);
    }
    ~ScriptedPeer() {
        for (int fd : {m_fdSync, m_fdAsync, m_fdListen}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    std::string Resource() const {
        return "TCPIP::127.0.0.1::hislip0," + std::to_string(m_nPort) + "::INSTR";
    }

    static std::string Take(int fd, std::size_t nCount) {
        std::string strBytes(nCount, '\0');
        std::size_t nDone = 0;
        while (nDone < nCount) {
            const ssize_t n = ::recv(fd, strBytes.data() + nDone, nCount - nDone, 0);
            if (n <= 0) {
                break;
            }
            nDone += static_cast<std::size_t>(n);
        }
        strBytes.resize(nDone);
        return strBytes;
    }
    // The next whole message from fd, as bytes.
    static std::string Message(int fd) {
        std::string strHeader = Take(fd, hs::kHeaderSize);
        hs::Header header;
        if (strHeader.size() != hs::kHeaderSize ||
            !hs::DecodeHeader(reinterpret_cast<const std::uint8_t*>(strHeader.data()), header)) {
            return strHeader;
        }
        return strHeader + Take(fd, static_cast<std::size_t>(header.nLength));
    }
    static void Put(int fd, const std::string& strBytes) {
        ::send(fd, strBytes.data(), strBytes.size(), MSG_NOSIGNAL);
    }

    // Accepts both channels and answers the opening handshake, checking it.
    void Handshake(std::uint64_t nServerMax) {
        m_fdSync = ::accept(m_fdListen, nullptr, nullptr);
        EXPECT_EQ(Message(m_fdSync), hs::EncodeMessage(MessageType::Initialize, 0,
                                                       0x0100'0000u | ('T' << 8) | 'K', "hislip0"));
        // The response in two pieces: the client must join the header.
        const std::string strResponse =
            hs::EncodeMessage(MessageType::InitializeResponse, 0, 0x0100'0007u);
        Put(m_fdSync, strResponse.substr(0, 5));
        std::this_thread::sleep_for(20ms);
        Put(m_fdSync, strResponse.substr(5));
        m_fdAsync = ::accept(m_fdListen, nullptr, nullptr);
        EXPECT_EQ(Message(m_fdAsync), hs::EncodeMessage(MessageType::AsyncInitialize, 0, 7));
        Put(m_fdAsync, hs::EncodeMessage(MessageType::AsyncInitializeResponse, 0, 0x4142));
        EXPECT_EQ(Message(m_fdAsync), hs::EncodeMessage(MessageType::AsyncMaximumMessageSize, 0, 0,
                                                        hs::EncodeSize(1024 * 1024)));
        Put(m_fdAsync, hs::EncodeMessage(MessageType::AsyncMaximumMessageSizeResponse, 0, 0,
                                         hs::EncodeSize(nServerMax)));
    }

    int m_fdListen = -1;
    int m_fdSync = -1;
    int m_fdAsync = -1;
    unsigned short m_nPort = 0;
};

class HislipPeerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS); }
    void TearDown() override { viClose(m_rm); }

    // Opens a session on the peer in the background of the handshake.
    ViSession Open(ScriptedPeer& peer, std::uint64_t nServerMax = 1024 * 1024) {
        ViSession vi = VI_NULL;
        std::thread opener([&] {
            EXPECT_EQ(viOpen(m_rm, peer.Resource().c_str(), VI_NULL, 2000, &vi), VI_SUCCESS);
        });
        peer.Handshake(nServerMax);
        opener.join();
        return vi;
    }

    ViSession m_rm = VI_NULL;
};

TEST_F(HislipPeerTest, WritesSplitAtTheDevicesMaximumAndIdsAdvanceByTwo) {
    ScriptedPeer peer;
    const ViSession vi = Open(peer, 16 + 8);
    ViUInt32 nCount = 0;
    EXPECT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>("VOLT 1.25\n"), 10, &nCount), VI_SUCCESS);
    EXPECT_EQ(ScriptedPeer::Message(peer.m_fdSync),
              hs::EncodeMessage(MessageType::Data, 0, 0xFFFFFF00u, "VOLT 1.2"));
    EXPECT_EQ(ScriptedPeer::Message(peer.m_fdSync),
              hs::EncodeMessage(MessageType::DataEnd, 0, 0xFFFFFF02u, "5\n"));
    // A reply to an older id is skipped; the one to the last message is read,
    // and the next message tells the device it was delivered.
    ScriptedPeer::Put(peer.m_fdSync,
                      hs::EncodeMessage(MessageType::DataEnd, 0, 0xFFFFFE00u, "old\n"));
    ScriptedPeer::Put(peer.m_fdSync,
                      hs::EncodeMessage(MessageType::DataEnd, 0, 0xFFFFFF02u, "ok\n"));
    ViByte achReply[16] = {};
    EXPECT_EQ(viRead(vi, achReply, sizeof achReply, &nCount), VI_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(achReply), nCount), "ok\n");
    EXPECT_EQ(viAssertTrigger(vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
    EXPECT_EQ(ScriptedPeer::Message(peer.m_fdSync),
              hs::EncodeMessage(MessageType::Trigger, hs::kRmtDelivered, 0xFFFFFF04u));
    viClose(vi);
}

TEST_F(HislipPeerTest, AsyncOperationsSendTheirMessages) {
    ScriptedPeer peer;
    const ViSession vi = Open(peer);
    ViUInt16 nStb = 0;
    std::thread device([&] {
        EXPECT_EQ(ScriptedPeer::Message(peer.m_fdAsync),
                  hs::EncodeMessage(MessageType::AsyncStatusQuery, 0, 0xFFFFFEFEu));
        // A service request arriving first goes to the hook, not the answer.
        ScriptedPeer::Put(peer.m_fdAsync,
                          hs::EncodeMessage(MessageType::AsyncServiceRequest, 0x41, 0));
        ScriptedPeer::Put(peer.m_fdAsync,
                          hs::EncodeMessage(MessageType::AsyncStatusResponse, 0x50, 0));
        // Device clear: both halves of the handshake; data sent before the
        // acknowledgement is dropped.
        EXPECT_EQ(ScriptedPeer::Message(peer.m_fdAsync),
                  hs::EncodeMessage(MessageType::AsyncDeviceClear, 0, 0));
        ScriptedPeer::Put(peer.m_fdAsync,
                          hs::EncodeMessage(MessageType::AsyncDeviceClearAcknowledge, 0, 0));
        EXPECT_EQ(ScriptedPeer::Message(peer.m_fdSync),
                  hs::EncodeMessage(MessageType::DeviceClearComplete, 0, 0));
        ScriptedPeer::Put(peer.m_fdSync,
                          hs::EncodeMessage(MessageType::DataEnd, 0, hs::kUnknownMessageId, "x\n"));
        ScriptedPeer::Put(peer.m_fdSync,
                          hs::EncodeMessage(MessageType::DeviceClearAcknowledge, 0, 0));
        // Exclusive lock with the timeout, then its release.
        EXPECT_EQ(ScriptedPeer::Message(peer.m_fdAsync),
                  hs::EncodeMessage(MessageType::AsyncLock, hs::kLockRequest, 2000));
        ScriptedPeer::Put(peer.m_fdAsync,
                          hs::EncodeMessage(MessageType::AsyncLockResponse, hs::kLockFailed, 0));
    });
    EXPECT_EQ(viReadSTB(vi, &nStb), VI_SUCCESS);
    EXPECT_EQ(nStb, 0x50);
    EXPECT_EQ(viClear(vi), VI_SUCCESS);
    // The VISA lock calls sit above the transport; the transport's lock is
    // what they use.
    EXPECT_EQ(
        tkvisa::SessionTable::Instance().Find(vi)->m_pTransport->LockDevice(tkvisa::Deadline(2000)),
        VI_ERROR_RSRC_LOCKED);
    device.join();
    viClose(vi);
}

TEST_F(HislipPeerTest, FatalErrorAndBadHeaderEndTheSession) {
    ScriptedPeer peer;
    const ViSession vi = Open(peer);
    ScriptedPeer::Put(peer.m_fdSync, std::string("XX") + std::string(14, '\0'));
    ViByte achReply[16] = {};
    ViUInt32 nCount = 0;
    // A stream that can no longer be followed is a lost connection at once.
    EXPECT_EQ(viRead(vi, achReply, sizeof achReply, &nCount), VI_ERROR_CONN_LOST);
    // The client answers a header without the prologue with a FatalError.
    const std::string strFatal = ScriptedPeer::Message(peer.m_fdSync);
    ASSERT_GE(strFatal.size(), hs::kHeaderSize);
    EXPECT_EQ(strFatal.substr(0, 4), std::string("HS\x02\x01", 4));
    EXPECT_EQ(viRead(vi, achReply, sizeof achReply, &nCount), VI_ERROR_CONN_LOST);
    viClose(vi);
}

TEST_F(HislipPeerTest, RefusedInitializationFailsTheOpen) {
    ScriptedPeer peer;
    ViSession vi = VI_NULL;
    std::thread opener([&] {
        EXPECT_EQ(viOpen(m_rm, peer.Resource().c_str(), VI_NULL, 2000, &vi), VI_ERROR_RSRC_BUSY);
    });
    const int fd = ::accept(peer.m_fdListen, nullptr, nullptr);
    ScriptedPeer::Message(fd);
    ScriptedPeer::Put(fd, hs::EncodeMessage(MessageType::FatalError, 4, 0, "too many clients"));
    opener.join();
    ::close(fd);
}

TEST(HislipResourceTest, MalformedDeviceNamesAreRejected) {
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    for (const char* pszName :
         {"TCPIP::127.0.0.1::hislip::INSTR", "TCPIP::127.0.0.1::hislipX::INSTR",
          "TCPIP::127.0.0.1::hislip0,0::INSTR", "TCPIP::127.0.0.1::hislip0,99999::INSTR"}) {
        SCOPED_TRACE(pszName);
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(rm, pszName, VI_NULL, 500, &vi), VI_ERROR_INV_RSRC_NAME);
    }
    viClose(rm);
}

}  // namespace
