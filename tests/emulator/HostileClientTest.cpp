// The emulator's listening sockets against clients that lie about lengths,
// flood and hang up: each such client loses its own connection at most, the
// emulator's memory stays bounded, and the next well-behaved client is served.
#include <gtest/gtest.h>
#include <sys/socket.h>

// rpc.h first: the portmapper header relies on its types.
// clang-format off
#include <rpc/rpc.h>
#include <rpc/pmap_prot.h>
// clang-format on

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Emulator.h"
#include "HislipMessage.h"
#include "RpcClient.h"
#include "Socket.h"
#include "vxi11.h"

namespace {

using tknet::Deadline;
using tknet::Result;

long ResidentKiB() {
    long nKiB = 0;
    if (std::FILE* pFile = std::fopen("/proc/self/status", "r")) {
        char szLine[256];
        while (std::fgets(szLine, sizeof szLine, pFile) != nullptr) {
            if (std::sscanf(szLine, "VmRSS: %ld", &nKiB) == 1) {
                break;
            }
        }
        std::fclose(pFile);
    }
    return nKiB;
}

tknet::Fd ConnectTo(std::uint16_t nPort) {
    std::vector<tknet::Address> vecAddresses;
    tknet::Fd fd;
    EXPECT_EQ(tknet::Resolve("127.0.0.1", nPort, &vecAddresses), Result::kOk);
    EXPECT_EQ(tknet::ConnectAny(vecAddresses, Deadline(2000), &fd), Result::kOk);
    return fd;
}

// An ONC RPC call as one record: the record mark, the call header, then the
// arguments encoded by pfnArgs, or raw bytes a test wrote by hand.
std::string RpcRecord(std::uint32_t nXid, rpcprog_t nProgram, rpcvers_t nVersion,
                      rpcproc_t nProcedure, xdrproc_t pfnArgs, void* pArgs,
                      const std::string& strRawArgs = {}) {
    std::vector<char> vecBody(4096);
    XDR xdrs{};
    xdrmem_create(&xdrs, vecBody.data(), static_cast<u_int>(vecBody.size()), XDR_ENCODE);
    rpc_msg call = tkrpc::CallMessage(nXid, nProgram, nVersion, nProcedure);
    EXPECT_TRUE(xdr_callmsg(&xdrs, &call));
    if (pfnArgs != nullptr) {
        EXPECT_TRUE(pfnArgs(&xdrs, pArgs));
    }
    std::string strBody(vecBody.data(), xdr_getpos(&xdrs));
    xdr_destroy(&xdrs);
    strBody += strRawArgs;
    const std::uint32_t nMark = htonl(0x80000000u | static_cast<std::uint32_t>(strBody.size()));
    return std::string(reinterpret_cast<const char*>(&nMark), 4) + strBody;
}

// Reads one reply record and decodes it; the reply's accept status, or -1
// when the connection closed or the reply did not decode.
int RpcReply(int fd, xdrproc_t pfnResult, void* pResult) {
    std::uint32_t nMark = 0;
    if (tknet::ReceiveExact(fd, &nMark, 4, Deadline(2000)) != Result::kOk) {
        return -1;
    }
    nMark = ntohl(nMark);
    const std::uint32_t nLength = nMark & 0x7FFFFFFFu;
    if ((nMark & 0x80000000u) == 0 || nLength > 65536) {
        return -1;
    }
    std::vector<char> vecBody(nLength);
    if (tknet::ReceiveExact(fd, vecBody.data(), nLength, Deadline(2000)) != Result::kOk) {
        return -1;
    }
    XDR xdrs{};
    xdrmem_create(&xdrs, vecBody.data(), nLength, XDR_DECODE);
    rpc_msg reply{};
    reply.acpted_rply.ar_verf = _null_auth;
    reply.acpted_rply.ar_results.where = static_cast<char*>(pResult);
    reply.acpted_rply.ar_results.proc = pfnResult;
    const bool bDecoded = xdr_replymsg(&xdrs, &reply) && reply.rm_direction == REPLY &&
                          reply.rm_reply.rp_stat == MSG_ACCEPTED;
    xdr_destroy(&xdrs);
    return bDecoded ? static_cast<int>(reply.acpted_rply.ar_stat) : -1;
}

bool_t XdrNone(XDR*, void*) {
    return TRUE;
}

// Whether the peer closed the connection (within two seconds).
bool Closed(int fd) {
    char buffer[256];
    std::size_t nGot = 0;
    Result result = Result::kOk;
    do {
        result = tknet::ReceiveSome(fd, buffer, sizeof buffer, Deadline(2000), &nGot);
    } while (result == Result::kOk);
    return tknet::IsGone(result);
}

class HostileClient : public ::testing::Test {
  protected:
    void SetUp() override {
        emu::EmulatorOptions options;
        options.strHost = "127.0.0.1";
        options.bVxi11 = true;
        options.nRpcPort = 0;
        options.bHislip = true;
        options.nHislipPort = 0;
        m_pEmulator = std::make_unique<emu::Emulator>(options);
        m_pEmulator->Start();
        m_nResidentBefore = ResidentKiB();
    }
    void TearDown() override {
        // Every case leaves the emulator serving, within bounded memory.
        EXPECT_TRUE(CreateLinkWorks());
        EXPECT_LT(ResidentKiB() - m_nResidentBefore, 64 * 1024) << "KiB of resident memory";
    }

    std::uint16_t CorePort() {
        tknet::Fd fd = ConnectTo(m_pEmulator->RpcPort());
        pmap query{DEVICE_CORE, DEVICE_CORE_VERSION, IPPROTO_TCP, 0};
        const std::string strCall = RpcRecord(1, PMAPPROG, PMAPVERS, PMAPPROC_GETPORT,
                                              reinterpret_cast<xdrproc_t>(xdr_pmap), &query);
        EXPECT_EQ(tknet::SendAll(fd.Get(), strCall.data(), strCall.size(), Deadline(2000)),
                  Result::kOk);
        u_long nPort = 0;
        EXPECT_EQ(RpcReply(fd.Get(), reinterpret_cast<xdrproc_t>(xdr_u_long), &nPort), SUCCESS);
        return static_cast<std::uint16_t>(nPort);
    }

    bool CreateLinkWorks() {
        tknet::Fd fd = ConnectTo(CorePort());
        char szDevice[] = "inst0";
        Create_LinkParms parms{};
        parms.device = szDevice;
        const std::string strCall =
            RpcRecord(7, DEVICE_CORE, DEVICE_CORE_VERSION, create_link,
                      reinterpret_cast<xdrproc_t>(xdr_Create_LinkParms), &parms);
        tknet::SendAll(fd.Get(), strCall.data(), strCall.size(), Deadline(2000));
        Create_LinkResp reply{};
        return RpcReply(fd.Get(), reinterpret_cast<xdrproc_t>(xdr_Create_LinkResp), &reply) ==
                   SUCCESS &&
               reply.error == 0;
    }

    std::unique_ptr<emu::Emulator> m_pEmulator;
    long m_nResidentBefore = 0;
};

std::string BigEndian32(std::uint32_t n) {
    const std::uint32_t nNet = htonl(n);
    return std::string(reinterpret_cast<const char*>(&nNet), 4);
}

TEST_F(HostileClient, Vxi11LengthsThatLieAreRefusedBeforeAnythingIsAllocated) {
    // Arguments written by hand: each announces far more than it carries.
    const std::string strLink = BigEndian32(1);
    const std::string strTimeouts = BigEndian32(1000) + BigEndian32(1000) + BigEndian32(0);
    struct Row {
        const char* pszName;
        rpcproc_t nProcedure;
        std::string strArgs;
    };
    const Row rows[] = {
        {"device name of 4 GiB", create_link,
         BigEndian32(1) + BigEndian32(0) + BigEndian32(0) + BigEndian32(0xFFFFFFF0u) + "inst"},
        {"write data of 4 GiB", device_write, strLink + strTimeouts + BigEndian32(0xFFFFFFF0u)},
        {"write data of 1 GiB", device_write, strLink + strTimeouts + BigEndian32(0x40000000u)},
        {"enable handle of 1 GiB", device_enable_srq,
         strLink + BigEndian32(1) + BigEndian32(0x40000000u)},
    };
    const std::uint16_t nCore = CorePort();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszName);
        tknet::Fd fd = ConnectTo(nCore);
        const std::string strCall = RpcRecord(3, DEVICE_CORE, DEVICE_CORE_VERSION, row.nProcedure,
                                              nullptr, nullptr, row.strArgs);
        ASSERT_EQ(tknet::SendAll(fd.Get(), strCall.data(), strCall.size(), Deadline(2000)),
                  Result::kOk);
        EXPECT_EQ(RpcReply(fd.Get(), reinterpret_cast<xdrproc_t>(XdrNone), nullptr), GARBAGE_ARGS);
    }
}

TEST_F(HostileClient, Vxi11RecordMarksThatLieCostOnlyTheirOwnConnection) {
    const std::uint16_t nCore = CorePort();
    // A 2 GiB record that never comes, a record shorter than its mark, then
    // the peer hangs up; and garbage where a call header belongs.
    const std::string aCases[] = {
        BigEndian32(0xFFFFFFFFu) + std::string(100, 'x'),
        BigEndian32(0x80000040u) + std::string(10, 'y'),
        BigEndian32(0x80000010u) + std::string(16, '\xFF'),
    };
    std::vector<tknet::Fd> vecHeld;
    for (const std::string& strBytes : aCases) {
        tknet::Fd fd = ConnectTo(nCore);
        ASSERT_EQ(tknet::SendAll(fd.Get(), strBytes.data(), strBytes.size(), Deadline(2000)),
                  Result::kOk);
        vecHeld.push_back(std::move(fd));
    }
    // The garbage header closes its connection; the others wait for bytes
    // that never come while the emulator serves everyone else.
    EXPECT_TRUE(Closed(vecHeld.back().Get()));
    EXPECT_TRUE(CreateLinkWorks());
}

TEST_F(HostileClient, HislipLengthsAndTypesThatLieCloseTheConnection) {
    namespace hs = tkvisa::hislip;
    struct Row {
        const char* pszName;
        hs::Header header;
    };
    const Row rows[] = {
        {"payload of 2^63 bytes",
         {static_cast<std::uint8_t>(hs::MessageType::Initialize), 0, 0x01000000u,
          std::uint64_t{1} << 63}},
        {"payload of 2^64-1 bytes",
         {static_cast<std::uint8_t>(hs::MessageType::Initialize), 0, 0x01000000u,
          ~std::uint64_t{0}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszName);
        tknet::Fd fd = ConnectTo(m_pEmulator->HislipPort());
        std::uint8_t aHeader[hs::kHeaderSize];
        hs::EncodeHeader(row.header, aHeader);
        ASSERT_EQ(tknet::SendAll(fd.Get(), aHeader, sizeof aHeader, Deadline(2000)), Result::kOk);
        EXPECT_TRUE(Closed(fd.Get()));
    }
    // A header without the "HS" prologue.
    tknet::Fd fd = ConnectTo(m_pEmulator->HislipPort());
    ASSERT_EQ(tknet::SendAll(fd.Get(), "GET / HTTP/1.0\r\n", 16, Deadline(2000)), Result::kOk);
    EXPECT_TRUE(Closed(fd.Get()));
    // And a well-formed Initialize is still answered.
    tknet::Fd good = ConnectTo(m_pEmulator->HislipPort());
    const std::string strInit =
        hs::EncodeMessage(hs::MessageType::Initialize, 0, 0x01000000u, "hislip0");
    ASSERT_EQ(tknet::SendAll(good.Get(), strInit.data(), strInit.size(), Deadline(2000)),
              Result::kOk);
    std::uint8_t aReply[hs::kHeaderSize];
    ASSERT_EQ(tknet::ReceiveExact(good.Get(), aReply, sizeof aReply, Deadline(2000)), Result::kOk);
    hs::Header reply;
    ASSERT_TRUE(hs::DecodeHeader(aReply, reply));
    EXPECT_EQ(reply.Type(), hs::MessageType::InitializeResponse);
}

// The emulator reads HiSLIP through the client's message channel but with
// limits of its own: control messages far longer than a client takes are
// served, a control message over the server's 1 MiB maximum and a header
// without the prologue get the FatalError text that names what was wrong.
TEST_F(HostileClient, HislipServerKeepsItsOwnLimitsForControlMessages) {
    namespace hs = tkvisa::hislip;
    constexpr std::uint64_t kServerMaxPayload = 1024 * 1024 - hs::kHeaderSize;
    auto Initialize = [](std::uint64_t nLength) {
        hs::Header header{static_cast<std::uint8_t>(hs::MessageType::Initialize), 0, 0x01000000u,
                          nLength};
        std::string strBytes(hs::kHeaderSize, '\0');
        hs::EncodeHeader(header, reinterpret_cast<std::uint8_t*>(strBytes.data()));
        return strBytes;
    };
    struct Row {
        const char* pszName;
        std::string strSent;
        hs::MessageType eReply;
        std::uint8_t nControl;
        std::string strReplyPayload;  // checked for a FatalError only
    };
    const Row rows[] = {
        {"sub-address of 8 KiB", Initialize(8192) + std::string(8192, 'a'),
         hs::MessageType::InitializeResponse, 0, ""},
        {"sub-address of the server's maximum",
         Initialize(kServerMaxPayload) + std::string(kServerMaxPayload, 'b'),
         hs::MessageType::InitializeResponse, 0, ""},
        {"sub-address one byte over the maximum", Initialize(kServerMaxPayload + 1),
         hs::MessageType::FatalError, static_cast<std::uint8_t>(hs::FatalCode::PoorlyFormedHeader),
         "payload length 1048561 of a Initialize message"},
        {"no prologue", "GET / HTTP/1.0\r\n", hs::MessageType::FatalError,
         static_cast<std::uint8_t>(hs::FatalCode::PoorlyFormedHeader),
         "poorly formed message header"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszName);
        tknet::Fd fd = ConnectTo(m_pEmulator->HislipPort());
        ASSERT_EQ(tknet::SendAll(fd.Get(), row.strSent.data(), row.strSent.size(), Deadline(5000)),
                  Result::kOk);
        std::uint8_t aReply[hs::kHeaderSize];
        ASSERT_EQ(tknet::ReceiveExact(fd.Get(), aReply, sizeof aReply, Deadline(5000)),
                  Result::kOk);
        hs::Header reply;
        ASSERT_TRUE(hs::DecodeHeader(aReply, reply));
        EXPECT_EQ(reply.Type(), row.eReply);
        if (row.eReply != hs::MessageType::FatalError) {
            continue;
        }
        EXPECT_EQ(reply.nControl, row.nControl);
        std::string strText(reply.nLength, '\0');
        ASSERT_EQ(tknet::ReceiveExact(fd.Get(), strText.data(), strText.size(), Deadline(2000)),
                  Result::kOk);
        EXPECT_EQ(strText, row.strReplyPayload);
        EXPECT_TRUE(Closed(fd.Get()));
    }
}

// Data longer than the server's maximum is read, dropped and answered with
// an Error; the session then goes on with the next message.
TEST_F(HostileClient, HislipDataOverTheServerMaximumIsDroppedAndTheSessionGoesOn) {
    namespace hs = tkvisa::hislip;
    auto ReadHeader = [](int fd) {
        std::uint8_t aHeader[hs::kHeaderSize];
        hs::Header header;
        EXPECT_EQ(tknet::ReceiveExact(fd, aHeader, sizeof aHeader, Deadline(5000)), Result::kOk);
        EXPECT_TRUE(hs::DecodeHeader(aHeader, header));
        return header;
    };
    auto ReadPayload = [](int fd, std::uint64_t nLength) {
        std::string strPayload(nLength, '\0');
        EXPECT_EQ(tknet::ReceiveExact(fd, strPayload.data(), strPayload.size(), Deadline(5000)),
                  Result::kOk);
        return strPayload;
    };
    tknet::Fd fd = ConnectTo(m_pEmulator->HislipPort());
    const std::string strInit =
        hs::EncodeMessage(hs::MessageType::Initialize, 0, 0x01000000u, "hislip0");
    ASSERT_EQ(tknet::SendAll(fd.Get(), strInit.data(), strInit.size(), Deadline(2000)),
              Result::kOk);
    ASSERT_EQ(ReadHeader(fd.Get()).Type(), hs::MessageType::InitializeResponse);

    const std::string strTooLarge = hs::EncodeMessage(
        hs::MessageType::DataEnd, 0, hs::kFirstMessageId, std::string(1024 * 1024, 'x'));
    ASSERT_EQ(tknet::SendAll(fd.Get(), strTooLarge.data(), strTooLarge.size(), Deadline(5000)),
              Result::kOk);
    const hs::Header error = ReadHeader(fd.Get());
    EXPECT_EQ(error.Type(), hs::MessageType::Error);
    EXPECT_EQ(error.nControl, static_cast<std::uint8_t>(hs::ErrorCode::MessageTooLarge));
    EXPECT_EQ(ReadPayload(fd.Get(), error.nLength), "message too large");

    const std::string strQuery =
        hs::EncodeMessage(hs::MessageType::DataEnd, 0, hs::kFirstMessageId + 2, "*IDN?\n");
    ASSERT_EQ(tknet::SendAll(fd.Get(), strQuery.data(), strQuery.size(), Deadline(2000)),
              Result::kOk);
    const hs::Header reply = ReadHeader(fd.Get());
    EXPECT_EQ(reply.Type(), hs::MessageType::DataEnd);
    EXPECT_EQ(reply.nParameter, hs::kFirstMessageId + 2);
    EXPECT_EQ(ReadPayload(fd.Get(), reply.nLength).rfind("Norvale,", 0), 0u);
}

TEST_F(HostileClient, ScpiFloodWithoutTerminatorIsDroppedAndTheConnectionGoesOn) {
    tknet::Fd fd = ConnectTo(m_pEmulator->Port());
    const std::string strChunk(64 * 1024, 'A');
    for (int n = 0; n < 64; ++n) {  // 4 MiB without a line feed
        ASSERT_EQ(tknet::SendAll(fd.Get(), strChunk.data(), strChunk.size(), Deadline(5000)),
                  Result::kOk);
    }
    const std::string strQuery = "\n*IDN?\n";
    ASSERT_EQ(tknet::SendAll(fd.Get(), strQuery.data(), strQuery.size(), Deadline(2000)),
              Result::kOk);
    std::string strReply;
    while (strReply.find('\n') == std::string::npos) {
        char buffer[256];
        std::size_t nGot = 0;
        ASSERT_EQ(tknet::ReceiveSome(fd.Get(), buffer, sizeof buffer, Deadline(5000), &nGot),
                  Result::kOk);
        strReply.append(buffer, nGot);
    }
    EXPECT_NE(strReply.find(",6313,"), std::string::npos) << strReply;
}

}  // namespace
