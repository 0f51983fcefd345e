// A VXI-11 instrument that misbehaves on cue: a portmapper, a core channel
// and an abort channel on loopback, speaking ONC RPC through the RPC
// library's XDR routines and the client's own record marking, with one
// scripted fault per call (a dropped, delayed, dripped, duplicated or
// truncated reply, a stale transaction id, a lying record mark, garbage, a
// hang-up) and channels that can stay silent.
//
// As a device it answers every program message that ends in '?' with the
// message itself, '?' dropped, and a line feed ("Q17?" gives "Q17\n"), so a
// test can tell its own answer from any other.
#pragma once

// rpc.h first: the portmapper header relies on its types.
// clang-format off
#include <rpc/rpc.h>
#include <rpc/pmap_prot.h>
// clang-format on
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "RpcClient.h"
#include "Socket.h"
#include "vxi11.h"

namespace faulttest {

enum class RpcFault {
    kNone,
    kDrop,         // no reply
    kDelay,        // the reply after nParamMs
    kDrip,         // the reply one byte every nParamMs
    kDuplicate,    // the reply twice
    kTruncate,     // a whole record holding half the reply
    kStaleFirst,   // a reply with the previous transaction id, then the real one
    kHugeMark,     // a record mark announcing 2 GB
    kShortRecord,  // a record 100 bytes shorter than its mark, then silence
    kGarbage,      // a record of bytes that are no RPC reply
    kHangUp,       // the connection closed instead of the reply
    kStaleFlood,   // stale replies every 100 ms for nParamMs, never the real one
    kEndless,      // device_read answers data without END, every nParamMs, until cleared
};

class HostileVxi11Server {
  public:
    // Arms a fault for every procedure of the core channel.
    static constexpr u_long kAnyProcedure = 0;

    explicit HostileVxi11Server(std::string strHost) : m_strHost(std::move(strHost)) {}
    ~HostileVxi11Server() { Stop(); }
    HostileVxi11Server(const HostileVxi11Server&) = delete;
    HostileVxi11Server& operator=(const HostileVxi11Server&) = delete;

    // The portmapper on port 111 of the host (clients look there; it needs
    // root), the channels on ephemeral ports.
    bool Start() {
        if (m_portmapper.Open(m_strHost, 111) != tknet::Result::kOk ||
            m_core.Open(m_strHost, 0) != tknet::Result::kOk ||
            m_abort.Open(m_strHost, 0) != tknet::Result::kOk) {
            return false;
        }
        m_portmapper.Start([this](tknet::Fd fd, const tknet::Address&) {
            Serve(std::move(fd), Channel::kPortmapper, m_portmapper.WakeFd());
        });
        m_core.Start([this](tknet::Fd fd, const tknet::Address&) {
            Serve(std::move(fd), Channel::kCore, m_core.WakeFd());
        });
        m_abort.Start([this](tknet::Fd fd, const tknet::Address&) {
            Serve(std::move(fd), Channel::kAbort, m_abort.WakeFd());
        });
        return true;
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bStopping = true;
        }
        m_cv.notify_all();
        m_portmapper.Stop();
        m_core.Stop();
        m_abort.Stop();
    }

    std::string Resource() const { return "TCPIP::" + m_strHost + "::INSTR"; }

    // The next nCount core calls of procedure nProcedure get the fault.
    void Arm(RpcFault eFault, u_long nProcedure, int nCount = 1, int nParamMs = 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dequeScript.push_back({eFault, nProcedure, nCount, nParamMs});
    }
    void SetSilentPortmapper(bool b) { m_bSilentPortmapper = b; }
    void SetSilentCreateLink(bool b) { m_bSilentCreateLink = b; }
    void SetSilentAbort(bool b) { m_bSilentAbort = b; }
    void ClearFaults() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dequeScript.clear();
        m_bSilentPortmapper = m_bSilentCreateLink = m_bSilentAbort = false;
        m_strPending.clear();
    }

    std::size_t Links() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_setLinks.size();
    }
    std::size_t Aborts() const { return m_nAborts.load(); }
    std::size_t ActiveConnections() {
        return m_portmapper.ActiveConnections() + m_core.ActiveConnections() +
               m_abort.ActiveConnections();
    }

  private:
    enum class Channel { kPortmapper, kCore, kAbort };
    struct Step {
        RpcFault eFault;
        u_long nProcedure;
        int nCount;
        int nParamMs;
    };
    using Bytes = std::vector<unsigned char>;

    static bool_t XdrNothing(XDR*, void*) { return TRUE; }

    static Bytes EncodeReply(std::uint32_t nXid, xdrproc_t pfnResult, void* pResult) {
        const std::size_t nRoom = 64 + xdr_sizeof(pfnResult, pResult);
        Bytes reply(tkrpc::kRecordMarkSize + nRoom);
        XDR xdrs{};
        xdrmem_create(&xdrs, reinterpret_cast<char*>(reply.data() + tkrpc::kRecordMarkSize),
                      static_cast<u_int>(nRoom), XDR_ENCODE);
        rpc_msg message = tkrpc::AcceptedReply(nXid, pfnResult, pResult);
        xdr_replymsg(&xdrs, &message);
        const u_int nLength = xdr_getpos(&xdrs);
        xdr_destroy(&xdrs);
        tkrpc::PutRecordMark(reply.data(), nLength);
        reply.resize(tkrpc::kRecordMarkSize + nLength);
        return reply;
    }

    // Sleeps up to nMs; false once the server stops.
    static bool Pause(int fdWake, int nMs) {
        return tknet::WaitReady(fdWake, POLLIN, tknet::Deadline(static_cast<std::uint32_t>(nMs))) ==
               tknet::Result::kTimeout;
    }

    static bool Send(int fd, const void* pData, std::size_t nCount) {
        return tknet::SendAll(fd, pData, nCount, tknet::Deadline(2000)) == tknet::Result::kOk;
    }

    // The fault for this call, if one is armed for its procedure.
    Step TakeStep(u_long nProcedure) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_dequeScript.begin(); it != m_dequeScript.end(); ++it) {
            if (it->nProcedure == nProcedure || it->nProcedure == kAnyProcedure) {
                Step step = *it;
                if (it->eFault != RpcFault::kEndless && --it->nCount <= 0) {
                    m_dequeScript.erase(it);
                }
                return step;
            }
        }
        return {RpcFault::kNone, nProcedure, 0, 0};
    }

    // The pause before each endless read's data, or -1 when reads end.
    int EndlessPauseMs() {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Step& step : m_dequeScript) {
            if (step.eFault == RpcFault::kEndless) {
                return step.nParamMs;
            }
        }
        return -1;
    }

    // Sends the reply as the fault says; false to hang up. A stale reply
    // carries another transaction id (and, for a read, other data).
    bool Deliver(int fd, int fdWake, const Step& step, const Bytes& reply, const Bytes& stale) {
        switch (step.eFault) {
            case RpcFault::kNone:
            case RpcFault::kEndless:
                return Send(fd, reply.data(), reply.size());
            case RpcFault::kDrop:
                return true;
            case RpcFault::kDelay:
                return Pause(fdWake, step.nParamMs) && Send(fd, reply.data(), reply.size());
            case RpcFault::kDrip:
                for (unsigned char c : reply) {
                    if (!Send(fd, &c, 1) || !Pause(fdWake, step.nParamMs)) {
                        return false;
                    }
                }
                return true;
            case RpcFault::kDuplicate:
                return Send(fd, reply.data(), reply.size()) && Send(fd, reply.data(), reply.size());
            case RpcFault::kTruncate: {
                Bytes half(reply.begin(), reply.begin() + tkrpc::kRecordMarkSize +
                                              (reply.size() - tkrpc::kRecordMarkSize) / 2);
                tkrpc::PutRecordMark(
                    half.data(), static_cast<std::uint32_t>(half.size() - tkrpc::kRecordMarkSize));
                return Send(fd, half.data(), half.size());
            }
            case RpcFault::kStaleFirst:
                return Send(fd, stale.data(), stale.size()) && Send(fd, reply.data(), reply.size());
            case RpcFault::kHugeMark: {
                Bytes huge(tkrpc::kRecordMarkSize + 16, 0);
                tkrpc::PutRecordMark(huge.data(), 0x7FFFFFFF);
                return Send(fd, huge.data(), huge.size());
            }
            case RpcFault::kShortRecord: {
                Bytes lying = reply;
                tkrpc::PutRecordMark(
                    lying.data(),
                    static_cast<std::uint32_t>(reply.size() - tkrpc::kRecordMarkSize + 100));
                return Send(fd, lying.data(), lying.size());
            }
            case RpcFault::kGarbage: {
                Bytes garbage(tkrpc::kRecordMarkSize + 40, 0xA5);
                tkrpc::PutRecordMark(garbage.data(), 40);
                return Send(fd, garbage.data(), garbage.size());
            }
            case RpcFault::kHangUp:
                return false;
            case RpcFault::kStaleFlood: {
                for (int nMs = 0; nMs < step.nParamMs; nMs += 100) {
                    if (!Send(fd, stale.data(), stale.size()) || !Pause(fdWake, 100)) {
                        return false;
                    }
                }
                return true;
            }
        }
        return false;
    }

    // One connection: calls in, replies out, until the peer goes or the
    // server stops.
    void Serve(tknet::Fd fd, Channel eChannel, int fdWake) {
        tkrpc::RecordReader reader;
        const tknet::Deadline never(tknet::Deadline::kInfinite);
        while (reader.Read(fd.Get(), 1 << 20, never, fdWake) ==
               tkrpc::RecordReader::Status::kRecord) {
            Bytes record = reader.Record();
            XDR xdrs{};
            xdrmem_create(&xdrs, reinterpret_cast<char*>(record.data()),
                          static_cast<u_int>(record.size()), XDR_DECODE);
            char achCred[MAX_AUTH_BYTES];
            char achVerf[MAX_AUTH_BYTES];
            rpc_msg call{};
            call.rm_call.cb_cred.oa_base = achCred;
            call.rm_call.cb_verf.oa_base = achVerf;
            const bool bCall = xdr_callmsg(&xdrs, &call) && call.rm_direction == CALL;
            const bool bKeep = bCall && Dispatch(fd.Get(), fdWake, eChannel, call, xdrs);
            xdr_destroy(&xdrs);
            if (!bKeep) {
                return;
            }
        }
    }

    // Runs one call; false to hang up.
    bool Dispatch(int fd, int fdWake, Channel eChannel, const rpc_msg& call, XDR& xdrs) {
        const std::uint32_t nXid = call.rm_xid;
        const u_long nProcedure = call.rm_call.cb_proc;
        if (eChannel == Channel::kPortmapper) {
            pmap query{};
            if (m_bSilentPortmapper || !xdr_pmap(&xdrs, &query)) {
                return true;
            }
            u_long nPort = query.pm_prog == DEVICE_CORE ? m_core.Port() : 0;
            return Send(fd, EncodeReply(nXid, reinterpret_cast<xdrproc_t>(xdr_u_long), &nPort));
        }
        if (eChannel == Channel::kAbort) {
            Device_Link nLink = 0;
            if (m_bSilentAbort || !xdr_Device_Link(&xdrs, &nLink)) {
                return true;
            }
            ++m_nAborts;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_bAbort = true;
            }
            m_cv.notify_all();
            Device_Error result{};
            return Send(fd,
                        EncodeReply(nXid, reinterpret_cast<xdrproc_t>(xdr_Device_Error), &result));
        }
        switch (nProcedure) {
            case create_link: {
                Create_LinkParms parms{};
                const bool bDecoded = xdr_Create_LinkParms(&xdrs, &parms);
                xdr_free(reinterpret_cast<xdrproc_t>(xdr_Create_LinkParms),
                         reinterpret_cast<char*>(&parms));
                if (!bDecoded || m_bSilentCreateLink) {
                    return true;
                }
                Create_LinkResp result{};
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    result.lid = m_nNextLink++;
                    m_setLinks.insert(result.lid);
                }
                result.abortPort = m_abort.Port();
                result.maxRecvSize = 4096;
                return Reply(fd, fdWake, nXid, nProcedure, xdr_Create_LinkResp, &result);
            }
            case destroy_link: {
                Device_Link nLink = 0;
                xdr_Device_Link(&xdrs, &nLink);
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_setLinks.erase(nLink);
                }
                Device_Error result{};
                return Reply(fd, fdWake, nXid, nProcedure, xdr_Device_Error, &result);
            }
            case device_write: {
                Device_WriteParms parms{};
                if (!xdr_Device_WriteParms(&xdrs, &parms)) {
                    return false;
                }
                std::string strMessage(parms.data.data_val, parms.data.data_len);
                xdr_free(reinterpret_cast<xdrproc_t>(xdr_Device_WriteParms),
                         reinterpret_cast<char*>(&parms));
                while (!strMessage.empty() && strMessage.back() == '\n') {
                    strMessage.pop_back();
                }
                Device_WriteResp result{};
                result.size = static_cast<u_long>(parms.data.data_len);
                if (!strMessage.empty() && strMessage.back() == '?') {
                    strMessage.back() = '\n';
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_strPending = strMessage;
                    m_bAbort = false;
                }
                m_cv.notify_all();
                return Reply(fd, fdWake, nXid, nProcedure, xdr_Device_WriteResp, &result);
            }
            case device_read: {
                Device_ReadParms parms{};
                xdr_Device_ReadParms(&xdrs, &parms);
                std::string strData;
                Device_ReadResp result{};
                if (const int nPauseMs = EndlessPauseMs(); nPauseMs >= 0) {
                    if (!Pause(fdWake, nPauseMs)) {
                        return false;
                    }
                    strData.assign(std::min<u_long>(parms.requestSize, 64), '0');
                    result.reason = 0;  // more to come, never an end
                } else {
                    std::unique_lock<std::mutex> lock(m_mutex);
                    const auto wait =
                        std::chrono::milliseconds(std::min<u_long>(parms.io_timeout, 2000));
                    if (!m_cv.wait_for(lock, wait, [&] {
                            return !m_strPending.empty() || m_bAbort || m_bStopping;
                        })) {
                        result.error = 15;
                    } else if (m_bAbort || m_bStopping) {
                        m_bAbort = false;
                        result.error = 23;
                    } else {
                        strData.swap(m_strPending);
                        result.reason = 4;  // END
                    }
                }
                result.data.data_len = static_cast<u_int>(strData.size());
                result.data.data_val = strData.data();
                return Reply(fd, fdWake, nXid, nProcedure, xdr_Device_ReadResp, &result);
            }
            case device_readstb: {
                Device_GenericParms parms{};
                xdr_Device_GenericParms(&xdrs, &parms);
                Device_ReadStbResp result{};
                result.stb = 0x10;
                return Reply(fd, fdWake, nXid, nProcedure, xdr_Device_ReadStbResp, &result);
            }
            default: {
                // device_clear, device_trigger, device_lock, device_unlock, ...:
                // accepted and done.
                Device_Error result{};
                return Reply(fd, fdWake, nXid, nProcedure, xdr_Device_Error, &result);
            }
        }
    }

    bool Send(int fd, const Bytes& bytes) { return Send(fd, bytes.data(), bytes.size()); }

    template <typename Result>
    bool Reply(int fd, int fdWake, std::uint32_t nXid, u_long nProcedure,
               bool_t (*pfnResult)(XDR*, Result*), Result* pResult) {
        const auto pfn = reinterpret_cast<xdrproc_t>(pfnResult);
        const Bytes reply = EncodeReply(nXid, pfn, pResult);
        Result staleResult = *pResult;
        std::string strStale = "STALE\n";
        if constexpr (std::is_same_v<Result, Device_ReadResp>) {
            staleResult.data.data_len = static_cast<u_int>(strStale.size());
            staleResult.data.data_val = strStale.data();
        }
        const Bytes stale = EncodeReply(nXid - 1, pfn, &staleResult);
        return Deliver(fd, fdWake, TakeStep(nProcedure), reply, stale);
    }

    std::string m_strHost;
    tknet::Listener m_portmapper;
    tknet::Listener m_core;
    tknet::Listener m_abort;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Step> m_dequeScript;
    std::string m_strPending;
    std::set<long> m_setLinks;
    long m_nNextLink = 1;
    bool m_bAbort = false;
    bool m_bStopping = false;
    std::atomic<bool> m_bSilentPortmapper{false};
    std::atomic<bool> m_bSilentCreateLink{false};
    std::atomic<bool> m_bSilentAbort{false};
    std::atomic<std::size_t> m_nAborts{0};
};

}  // namespace faulttest
