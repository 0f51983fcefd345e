// LAN instrument transport (TCPIP::host[::devicename]::INSTR): a VXI-11 link
// over ONC RPC. The portmapper on port 111 names the core channel's port; the
// link carries message ends, device operations and locks; the abort channel
// stops an operation that outlived its timeout.
//
// Every call is bounded by the VISA call's one deadline: the device is given
// the time left as its own timeout, and the client waits for the reply at
// most kReplyMarginMs longer, so that the device's own timeout error arrives
// first. A call still unanswered then asks the device to abort (at most
// kAbortMs more) and reports VI_ERROR_TMO; its late reply is skipped by its
// transaction id. The RPC client declares the connection lost on the second
// silent timeout in a row, on a record longer than the call can carry and
// on a record that is not a reply: every later call then reports
// VI_ERROR_CONN_LOST.
#include <netinet/in.h>
#include <unistd.h>

// rpc.h first: the portmapper header relies on its types.
// clang-format off
#include <rpc/rpc.h>
#include <rpc/pmap_prot.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "RpcClient.h"
#include "Socket.h"
#include "Transport.h"
#include "Vxi11Interrupts.h"
#include "vxi11.h"

namespace tkvisa {
namespace {

using tkrpc::Outcome;
using tkrpc::RpcClient;

// Flags of device_write/device_read/device_lock.
constexpr long kFlagWaitLock = 0x01;
constexpr long kFlagEnd = 0x08;
constexpr long kFlagTermCharSet = 0x80;
// The reason bit of a device_read that ended with END (0x02, the
// termination character, and 0x01, the count, do not end the message).
constexpr long kReasonEnd = 0x04;
// How long past the call's deadline the client waits for a reply, so that a
// device that times out itself answers with its timeout error first.
constexpr std::uint32_t kReplyMarginMs = 100;
// The budget of device_abort on the abort channel after a timeout
// (connecting included). With kReplyMarginMs it bounds the overrun of every
// call: at most 150 ms past the timeout, within the 200 ms promised.
constexpr std::uint32_t kAbortMs = 50;
// The budget of the goodbye at close (device_abort when a call was cut
// short, destroy_intr_chan, device_unlock, destroy_link).
constexpr std::uint32_t kCloseMs = 300;
constexpr std::uint32_t kDefaultOpenMs = 1000;
constexpr u_long kDefaultMaxRecvSize = 1024;
// The largest device_write and device_read: bounds the records either way;
// longer transfers take several calls.
constexpr u_long kMaxTransfer = 1024 * 1024;
// A device_read reply's bytes beyond its data.
constexpr std::size_t kReplySlack = 256;
constexpr std::uint16_t kPortmapperPort = 111;

struct DeviceErrorRow {
    long nError;
    ViStatus status;
};

// Device error codes of the core channel and the VISA status each becomes.
constexpr DeviceErrorRow kDeviceErrors[] = {
    {0, VI_SUCCESS},
    {1, VI_ERROR_INV_EXPR},       // syntax error
    {3, VI_ERROR_RSRC_NFOUND},    // device not accessible
    {4, VI_ERROR_RSRC_NFOUND},    // invalid link identifier
    {5, VI_ERROR_INV_PARAMETER},  // parameter error
    {6, VI_ERROR_NSUP_OPER},      // channel not established
    {8, VI_ERROR_NSUP_OPER},      // operation not supported
    {9, VI_ERROR_ALLOC},          // out of resources
    {11, VI_ERROR_RSRC_LOCKED},   // device locked by another link
    {12, VI_ERROR_SESN_NLOCKED},  // no lock held by this link
    {15, VI_ERROR_TMO},           // I/O timeout
    {17, VI_ERROR_IO},            // I/O error
    {21, VI_ERROR_INV_SETUP},     // invalid address
    {23, VI_ERROR_ABORT},         // abort
    {29, VI_ERROR_NSUP_OPER},     // channel already established
};

// The arguments of a procedure without any.
bool_t XdrNothing(XDR*, void*) {
    return TRUE;
}

ViStatus StatusOfDeviceError(long nError) {
    for (const DeviceErrorRow& row : kDeviceErrors) {
        if (row.nError == nError) {
            return row.status;
        }
    }
    return VI_ERROR_IO;
}

// The time left as a device timeout (VXI-11's infinite is 0xFFFFFFFF too).
ViUInt32 RemainingOf(const Deadline& deadline) {
    const int nMs = deadline.RemainingMs();
    return nMs < 0 ? 0xFFFFFFFFu : static_cast<ViUInt32>(nMs);
}

template <typename Args, typename Result>
struct Procedure {
    u_long nNumber;
    bool_t (*pfnArgs)(XDR*, Args*);
    bool_t (*pfnResult)(XDR*, Result*);
};

// The procedures the link calls, with their argument and result routines.
constexpr Procedure<Create_LinkParms, Create_LinkResp> kCreateLink{
    create_link, xdr_Create_LinkParms, xdr_Create_LinkResp};
constexpr Procedure<Device_WriteParms, Device_WriteResp> kWrite{device_write, xdr_Device_WriteParms,
                                                                xdr_Device_WriteResp};
constexpr Procedure<Device_ReadParms, Device_ReadResp> kRead{device_read, xdr_Device_ReadParms,
                                                             xdr_Device_ReadResp};
constexpr Procedure<Device_GenericParms, Device_ReadStbResp> kReadStb{
    device_readstb, xdr_Device_GenericParms, xdr_Device_ReadStbResp};
constexpr Procedure<Device_LockParms, Device_Error> kLock{device_lock, xdr_Device_LockParms,
                                                          xdr_Device_Error};
constexpr Procedure<Device_Link, Device_Error> kUnlock{device_unlock, xdr_Device_Link,
                                                       xdr_Device_Error};
constexpr Procedure<Device_Link, Device_Error> kDestroyLink{destroy_link, xdr_Device_Link,
                                                            xdr_Device_Error};
constexpr Procedure<Device_Link, Device_Error> kAbort{device_abort, xdr_Device_Link,
                                                      xdr_Device_Error};
constexpr Procedure<Device_EnableSrqParms, Device_Error> kEnableSrq{
    device_enable_srq, xdr_Device_EnableSrqParms, xdr_Device_Error};
constexpr Procedure<Device_RemoteFunc, Device_Error> kCreateIntrChan{
    create_intr_chan, xdr_Device_RemoteFunc, xdr_Device_Error};
constexpr Procedure<void, Device_Error> kDestroyIntrChan{destroy_intr_chan, XdrNothing,
                                                         xdr_Device_Error};

template <typename Args, typename Result>
Outcome CallOn(RpcClient& client, const Procedure<Args, Result>& procedure, const Args* pArgs,
               Result* pResult, const Deadline& wait, std::size_t nMaxReply, int fdWake) {
    return client.Call(static_cast<std::uint32_t>(procedure.nNumber),
                       reinterpret_cast<xdrproc_t>(procedure.pfnArgs), pArgs,
                       reinterpret_cast<xdrproc_t>(procedure.pfnResult), pResult, wait, nMaxReply,
                       fdWake);
}

class Vxi11Transport final : public Transport {
  public:
    ~Vxi11Transport() override { Close(); }

    ViStatus Open(const ResourceName& resource, ViUInt32 nOpenTimeoutMs,
                  const LineSettings&) override {
        std::vector<tknet::Address> vecAddresses;
        if (tknet::Resolve(resource.strHost, kPortmapperPort, &vecAddresses) !=
            tknet::Result::kOk) {
            return VI_ERROR_RSRC_NFOUND;
        }
        const Deadline deadline(nOpenTimeoutMs == 0 ? kDefaultOpenMs : nOpenTimeoutMs);
        const Deadline wait = deadline.Extended(kReplyMarginMs);
        std::uint16_t nCorePort = 0;
        ViStatus status = CorePort(vecAddresses, deadline, wait, &nCorePort);
        if (status < VI_SUCCESS) {
            return status;
        }
        m_strPeer = m_peer.Host();
        const tknet::Result connected = m_core.Connect(m_peer.WithPort(nCorePort), deadline);
        if (connected != tknet::Result::kOk) {
            return connected == tknet::Result::kTimeout ? VI_ERROR_TMO : VI_ERROR_RSRC_NFOUND;
        }
        std::string strDevice = resource.strDevice.empty() ? "inst0" : resource.strDevice;
        Create_LinkParms parms{};
        parms.clientId = static_cast<long>(::getpid());
        parms.lockDevice = FALSE;
        parms.lock_timeout = 0;
        parms.device = strDevice.data();
        Create_LinkResp reply{};
        status = Call(kCreateLink, &parms, &reply, deadline);
        if (status < VI_SUCCESS) {
            Close();
            return status == VI_ERROR_TMO ? VI_ERROR_TMO : VI_ERROR_RSRC_NFOUND;
        }
        if (reply.error != 0) {
            Close();
            return StatusOfDeviceError(reply.error);
        }
        m_nLink = reply.lid;
        m_bLinked = true;
        m_nAbortPort = static_cast<std::uint16_t>(reply.abortPort);
        m_nMaxRecvSize = reply.maxRecvSize > 0 ? std::min<u_long>(reply.maxRecvSize, kMaxTransfer)
                                               : kDefaultMaxRecvSize;
        return VI_SUCCESS;
    }

    // Says goodbye before the connection goes: a device keeps a link, and
    // its lock, until it is destroyed, however the connection ended, and
    // has only so many links to give.
    void Close() override {
        if (m_core.Connected() && !m_bLost) {
            const Deadline budget(kCloseMs);
            m_bClosing = true;
            if (m_core.Unanswered() && m_bLinked) {
                // A call cut short (Interrupt) may still hold the device.
                Abort();
            }
            if (m_bInterrupts) {
                Device_Error reply{};
                CallWithin(kDestroyIntrChan, static_cast<const void*>(nullptr), &reply, budget);
            }
            if (m_bLinked && m_bLocked) {
                Device_Link nLink = m_nLink;
                Device_Error reply{};
                CallWithin(kUnlock, &nLink, &reply, budget);
            }
            if (m_bLinked) {
                Device_Link nLink = m_nLink;
                Device_Error reply{};
                CallWithin(kDestroyLink, &nLink, &reply, budget);
            }
        }
        if (m_bInterrupts) {
            ReleaseInterruptChannel(&m_interrupts);
            m_bInterrupts = false;
        }
        m_core.Close();
        m_abort.Close();
        m_bLinked = false;
        m_bLocked = false;
    }

    void SetMessageOptions(const MessageOptions& options) override { m_options = options; }

    ViStatus Write(const ViByte* pData, std::size_t nCount, const Deadline& deadline,
                   std::size_t* pWritten) override {
        *pWritten = 0;
        do {
            if (const ViStatus status = Begin(deadline); status < VI_SUCCESS) {
                return status;
            }
            const std::size_t nChunk = std::min<std::size_t>(nCount - *pWritten, m_nMaxRecvSize);
            const bool bLast = *pWritten + nChunk == nCount;
            Device_WriteParms parms{};
            parms.lid = m_nLink;
            parms.io_timeout = RemainingOf(deadline);
            parms.lock_timeout = parms.io_timeout;
            parms.flags = kFlagWaitLock | (bLast && m_options.bSendEnd ? kFlagEnd : 0);
            parms.data.data_len = static_cast<u_int>(nChunk);
            parms.data.data_val = reinterpret_cast<char*>(const_cast<ViByte*>(pData + *pWritten));
            Device_WriteResp reply{};
            const ViStatus status = Call(kWrite, &parms, &reply, deadline);
            if (status < VI_SUCCESS) {
                return status;
            }
            *pWritten += std::min<std::size_t>(reply.size, nChunk);
            if (reply.error != 0) {
                return StatusOfDeviceError(reply.error);
            }
            if (reply.size < nChunk) {
                return VI_ERROR_IO;
            }
        } while (*pWritten < nCount);
        return VI_SUCCESS;
    }

    // One device_read. The session calls it again with the same deadline
    // until the message ends, so a device sending data without end stops
    // at the deadline.
    ViStatus Read(ViByte* pData, std::size_t nMax, const Deadline& deadline,
                  std::size_t* pRead) override {
        *pRead = 0;
        m_bEnded = false;
        if (const ViStatus status = Begin(deadline); status < VI_SUCCESS) {
            return status;
        }
        Device_ReadParms parms{};
        parms.lid = m_nLink;
        parms.requestSize = static_cast<u_long>(std::min<std::size_t>(nMax, kMaxTransfer));
        parms.io_timeout = RemainingOf(deadline);
        parms.lock_timeout = parms.io_timeout;
        parms.flags = kFlagWaitLock | (m_options.bTermCharEnabled ? kFlagTermCharSet : 0);
        parms.termChar = static_cast<char>(m_options.nTermChar);
        Device_ReadResp reply{};
        const ViStatus status =
            Call(kRead, &parms, &reply, deadline, parms.requestSize + kReplySlack);
        if (status < VI_SUCCESS) {
            return status;
        }
        const std::size_t nGot = std::min<std::size_t>(reply.data.data_len, parms.requestSize);
        if (nGot > 0) {
            std::memcpy(pData, reply.data.data_val, nGot);
        }
        *pRead = nGot;
        // Only END ends the message: a read that stopped at the termination
        // character leaves the rest of the message with the device, and the
        // session tells the two apart by it (END wins over the character).
        m_bEnded = (reply.reason & kReasonEnd) != 0;
        const long nError = reply.error;
        xdr_free(reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), reinterpret_cast<char*>(&reply));
        if (nError != 0) {
            return StatusOfDeviceError(nError);
        }
        return nGot == 0 && !m_bEnded ? VI_ERROR_IO : VI_SUCCESS;
    }

    bool ReadEndedMessage() const override { return m_bEnded; }

    // Nothing is held below the link: the device keeps its own buffers.
    ViStatus DiscardInput() override { return m_bLost ? VI_ERROR_CONN_LOST : VI_SUCCESS; }
    ViStatus Apply(const LineSettings&) override { return VI_SUCCESS; }

    ViStatus DeviceClear(const Deadline& deadline) override {
        return Generic(device_clear, deadline);
    }
    ViStatus AssertTrigger(const Deadline& deadline) override {
        return Generic(device_trigger, deadline);
    }

    ViStatus ReadStatusByte(ViUInt16* pStatus, const Deadline& deadline) override {
        if (const ViStatus status = Begin(deadline); status < VI_SUCCESS) {
            return status;
        }
        Device_GenericParms parms = GenericParms(deadline);
        Device_ReadStbResp reply{};
        const ViStatus status = Call(kReadStb, &parms, &reply, deadline);
        if (status < VI_SUCCESS) {
            return status;
        }
        if (reply.error != 0) {
            return StatusOfDeviceError(reply.error);
        }
        *pStatus = reply.stb;
        return VI_SUCCESS;
    }

    ViStatus LockDevice(const Deadline& deadline) override {
        if (const ViStatus status = Begin(deadline); status < VI_SUCCESS) {
            return status;
        }
        Device_LockParms parms{};
        parms.lid = m_nLink;
        parms.lock_timeout = RemainingOf(deadline);
        parms.flags = parms.lock_timeout > 0 ? kFlagWaitLock : 0;
        Device_Error reply{};
        ViStatus status = Call(kLock, &parms, &reply, deadline);
        if (status >= VI_SUCCESS) {
            status = StatusOfDeviceError(reply.error);
        }
        // A lock whose reply never came may have been granted: released at
        // close all the same.
        m_bLocked = m_bLocked || status >= VI_SUCCESS || status == VI_ERROR_TMO;
        return status;
    }

    ViStatus UnlockDevice(const Deadline& deadline) override {
        if (const ViStatus status = Begin(deadline); status < VI_SUCCESS) {
            return status;
        }
        Device_Link nLink = m_nLink;
        Device_Error reply{};
        ViStatus status = Call(kUnlock, &nLink, &reply, deadline);
        if (status >= VI_SUCCESS) {
            status = StatusOfDeviceError(reply.error);
        }
        if (status >= VI_SUCCESS || status == VI_ERROR_SESN_NLOCKED) {
            m_bLocked = false;
        }
        return status;
    }

    ViStatus EnableServiceRequests(ViSession vi, bool bEnable, const Deadline& deadline) override {
        if (const ViStatus status = Begin(deadline); status < VI_SUCCESS) {
            return status;
        }
        if (bEnable && !m_bInterrupts) {
            const ViStatus status = OpenInterruptChannel(vi, deadline);
            if (status < VI_SUCCESS) {
                return status;
            }
        }
        if (!m_bInterrupts) {
            return VI_SUCCESS;
        }
        std::string strHandle = m_interrupts.strHandle;
        Device_EnableSrqParms parms{};
        parms.lid = m_nLink;
        parms.enable = bEnable ? TRUE : FALSE;
        parms.handle.handle_len = static_cast<u_int>(strHandle.size());
        parms.handle.handle_val = strHandle.data();
        Device_Error reply{};
        const ViStatus status = Call(kEnableSrq, &parms, &reply, deadline);
        return status < VI_SUCCESS ? status : StatusOfDeviceError(reply.error);
    }

    // Wakes a call blocked in another thread without touching the
    // connection, which Close still needs for its goodbye.
    void Interrupt() override { m_wake.Wake(); }

    std::string PeerAddress() const override { return m_strPeer; }

  private:
    // The core channel's port from the portmapper (GETPORT over TCP); the
    // address that answered becomes the peer.
    ViStatus CorePort(const std::vector<tknet::Address>& vecAddresses, const Deadline& deadline,
                      const Deadline& wait, std::uint16_t* pPort) {
        RpcClient portmapper(PMAPPROG, PMAPVERS);
        const tknet::Result connected = portmapper.ConnectAny(vecAddresses, deadline, &m_peer);
        if (connected != tknet::Result::kOk) {
            return connected == tknet::Result::kTimeout ? VI_ERROR_TMO : VI_ERROR_RSRC_NFOUND;
        }
        pmap query{};
        query.pm_prog = DEVICE_CORE;
        query.pm_vers = DEVICE_CORE_VERSION;
        query.pm_prot = IPPROTO_TCP;
        u_long nPort = 0;
        const Outcome outcome = portmapper.Call(
            PMAPPROC_GETPORT, reinterpret_cast<xdrproc_t>(xdr_pmap), &query,
            reinterpret_cast<xdrproc_t>(xdr_u_long), &nPort, wait, RpcClient::kDefaultMaxReply);
        if (outcome == Outcome::kTimeout) {
            return VI_ERROR_TMO;
        }
        if (outcome != Outcome::kOk || nPort == 0 || nPort > 0xFFFF) {
            return VI_ERROR_RSRC_NFOUND;
        }
        *pPort = static_cast<std::uint16_t>(nPort);
        return VI_SUCCESS;
    }

    // create_intr_chan: the device calls back the process's receiver at the
    // address this link's connection comes from (IPv4 only, as the call
    // carries a 32-bit address); the receiver admits only this link's peer.
    ViStatus OpenInterruptChannel(ViSession vi, const Deadline& deadline) {
        tknet::Address local;
        tknet::Address device;
        if (!tknet::LocalAddressOf(m_core.Fd(), &local) || local.Family() != AF_INET ||
            !tknet::PeerAddressOf(m_core.Fd(), &device)) {
            return VI_ERROR_NSUP_OPER;
        }
        if (!AcquireInterruptChannel(local, device, vi, &m_interrupts)) {
            return VI_ERROR_SYSTEM_ERROR;
        }
        Device_RemoteFunc parms{};
        parms.hostAddr = ntohl(reinterpret_cast<const sockaddr_in*>(local.Raw())->sin_addr.s_addr);
        parms.hostPort = m_interrupts.nPort;
        parms.progNum = DEVICE_INTR;
        parms.progVers = DEVICE_INTR_VERSION;
        parms.progFamily = DEVICE_TCP;
        Device_Error reply{};
        ViStatus status = Call(kCreateIntrChan, &parms, &reply, deadline);
        if (status >= VI_SUCCESS) {
            status = StatusOfDeviceError(reply.error);
        }
        if (status < VI_SUCCESS) {
            ReleaseInterruptChannel(&m_interrupts);
            return status;
        }
        m_bInterrupts = true;
        return VI_SUCCESS;
    }

    Device_GenericParms GenericParms(const Deadline& deadline) const {
        Device_GenericParms parms{};
        parms.lid = m_nLink;
        parms.io_timeout = RemainingOf(deadline);
        parms.lock_timeout = parms.io_timeout;
        parms.flags = kFlagWaitLock;
        return parms;
    }

    ViStatus Generic(u_long nProcedure, const Deadline& deadline) {
        if (const ViStatus status = Begin(deadline); status < VI_SUCCESS) {
            return status;
        }
        const Procedure<Device_GenericParms, Device_Error> procedure{
            nProcedure, xdr_Device_GenericParms, xdr_Device_Error};
        Device_GenericParms parms = GenericParms(deadline);
        Device_Error reply{};
        const ViStatus status = Call(procedure, &parms, &reply, deadline);
        return status < VI_SUCCESS ? status : StatusOfDeviceError(reply.error);
    }

    // Whether a call may start: not on a lost link, and not once the
    // deadline has passed, unless the call was made with no time at all (a
    // zero timeout still asks the device once, and the session's further
    // reads of that call stop when the reply margin has passed too).
    ViStatus Begin(const Deadline& deadline) const {
        if (m_bLost || !m_core.Connected()) {
            return VI_ERROR_CONN_LOST;
        }
        if (deadline.Passed() &&
            (deadline.TimeoutMs() > 0 || deadline.Extended(kReplyMarginMs).Passed())) {
            return VI_ERROR_TMO;
        }
        return VI_SUCCESS;
    }

    // One call on the core channel within the call's deadline plus the
    // reply margin. A timeout asks the device to abort; a lost connection
    // stays lost.
    template <typename Args, typename Result>
    ViStatus Call(const Procedure<Args, Result>& procedure, const Args* pArgs, Result* pResult,
                  const Deadline& deadline, std::size_t nMaxReply = RpcClient::kDefaultMaxReply) {
        if (m_bLost || !m_core.Connected()) {
            return VI_ERROR_CONN_LOST;
        }
        const Outcome outcome =
            CallOn(m_core, procedure, pArgs, pResult, deadline.Extended(kReplyMarginMs), nMaxReply,
                   m_bClosing ? -1 : m_wake.ReadFd());
        switch (outcome) {
            case Outcome::kOk:
                return VI_SUCCESS;
            case Outcome::kTimeout:
                Abort();
                return VI_ERROR_TMO;
            case Outcome::kWoken:
                // The session is being closed under this call.
                return VI_ERROR_CONN_LOST;
            case Outcome::kRefused:
                return VI_ERROR_IO;
            case Outcome::kLost:
                break;
        }
        m_bLost = true;
        m_abort.Close();
        return VI_ERROR_CONN_LOST;
    }

    // A call of the goodbye at close: no abort, no wake, the budget as is.
    template <typename Args, typename Result>
    void CallWithin(const Procedure<Args, Result>& procedure, const Args* pArgs, Result* pResult,
                    const Deadline& budget) {
        if (m_core.Connected()) {
            CallOn(m_core, procedure, pArgs, pResult, budget, RpcClient::kDefaultMaxReply, -1);
        }
    }

    // device_abort on the abort channel, within kAbortMs. The connection is
    // kept for the next abort; a channel that did not answer in time is
    // dropped and connected afresh next time.
    void Abort() {
        if (m_nAbortPort == 0 || !m_bLinked) {
            return;
        }
        const Deadline budget(kAbortMs);
        if (!m_abort.Connected() &&
            m_abort.Connect(m_peer.WithPort(m_nAbortPort), budget) != tknet::Result::kOk) {
            m_abort.Close();
            return;
        }
        Device_Link nLink = m_nLink;
        Device_Error reply{};
        if (CallOn(m_abort, kAbort, &nLink, &reply, budget, RpcClient::kDefaultMaxReply, -1) !=
            Outcome::kOk) {
            m_abort.Close();
        }
    }

    tknet::Address m_peer;
    std::string m_strPeer;
    RpcClient m_core{DEVICE_CORE, DEVICE_CORE_VERSION};
    RpcClient m_abort{DEVICE_ASYNC, DEVICE_ASYNC_VERSION};
    tknet::WakePipe m_wake;
    Device_Link m_nLink = 0;
    bool m_bLinked = false;
    bool m_bLocked = false;  // this link may hold the device's lock
    bool m_bLost = false;
    bool m_bEnded = false;
    bool m_bClosing = false;
    bool m_bInterrupts = false;  // an interrupt channel is open and holds the receiver
    InterruptChannel m_interrupts;
    std::uint16_t m_nAbortPort = 0;
    u_long m_nMaxRecvSize = kDefaultMaxRecvSize;
    MessageOptions m_options;
};

}  // namespace

std::unique_ptr<Transport> CreateVxi11Transport() {
    return std::make_unique<Vxi11Transport>();
}

}  // namespace tkvisa
