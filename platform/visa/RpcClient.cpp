#include "RpcClient.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace tkrpc {
namespace {

// Bytes of a call beyond its arguments: the call header with two empty
// authentication fields fits easily.
constexpr std::size_t kCallHeaderRoom = 64;
// The smallest record that can be a reply: transaction id and direction.
constexpr std::size_t kMinReply = 8;

// The results of a reply that is only skipped.
bool_t XdrSkip(XDR*, void*) {
    return TRUE;
}

// A reply's transaction id: its first four bytes, big-endian like a record mark.
std::uint32_t XidOf(const std::vector<unsigned char>& vecRecord) {
    return RecordMarkOf(vecRecord.data());
}

std::uint32_t FirstXid() {
    // Distinct per connection and per process, so that a reply meant for an
    // earlier connection to the same server cannot pass for one of ours.
    static std::atomic<std::uint32_t> nCounter{0};
    const auto nMs = static_cast<std::uint32_t>(tknet::NowMs());
    return (nMs * 2654435761u) ^ (static_cast<std::uint32_t>(::getpid()) << 16) ^
           (nCounter.fetch_add(1) * 0x10001u);
}

}  // namespace

void PutRecordMark(unsigned char* pMark, std::uint32_t nLength, bool bLast) {
    const std::uint32_t nMark = (nLength & kFragmentLengthMask) | (bLast ? kLastFragment : 0);
    pMark[0] = static_cast<unsigned char>(nMark >> 24);
    pMark[1] = static_cast<unsigned char>(nMark >> 16);
    pMark[2] = static_cast<unsigned char>(nMark >> 8);
    pMark[3] = static_cast<unsigned char>(nMark);
}

std::uint32_t RecordMarkOf(const unsigned char* pMark) {
    return (std::uint32_t{pMark[0]} << 24) | (std::uint32_t{pMark[1]} << 16) |
           (std::uint32_t{pMark[2]} << 8) | std::uint32_t{pMark[3]};
}

namespace {

bool_t XdrVoid(XDR*, void*) {
    return TRUE;
}

}  // namespace

rpc_msg CallMessage(std::uint32_t nXid, rpcprog_t nProgram, rpcvers_t nVersion,
                    rpcproc_t nProcedure) {
    rpc_msg call{};
    call.rm_xid = nXid;
    call.rm_direction = CALL;
    call.rm_call.cb_rpcvers = RPC_MSG_VERSION;
    call.rm_call.cb_prog = nProgram;
    call.rm_call.cb_vers = nVersion;
    call.rm_call.cb_proc = nProcedure;
    call.rm_call.cb_cred = _null_auth;
    call.rm_call.cb_verf = _null_auth;
    return call;
}

rpc_msg AcceptedReply(std::uint32_t nXid, xdrproc_t pfnResult, void* pResult) {
    rpc_msg reply{};
    reply.rm_xid = nXid;
    reply.rm_direction = REPLY;
    reply.rm_reply.rp_stat = MSG_ACCEPTED;
    reply.acpted_rply.ar_verf = _null_auth;
    reply.acpted_rply.ar_stat = SUCCESS;
    reply.acpted_rply.ar_results.proc =
        pfnResult != nullptr ? pfnResult : reinterpret_cast<xdrproc_t>(XdrVoid);
    reply.acpted_rply.ar_results.where = static_cast<caddr_t>(pResult);
    return reply;
}

// ----- RecordReader ---------------------------------------------------------

namespace {

// Why a receive that got no complete record stopped.
RecordReader::Status StatusOf(tknet::Result result) {
    return result == tknet::Result::kTimeout ? RecordReader::Status::kTimeout
           : result == tknet::Result::kWoken ? RecordReader::Status::kWoken
           : tknet::IsGone(result)           ? RecordReader::Status::kClosed
                                             : RecordReader::Status::kError;
}

}  // namespace

void RecordReader::Reset() {
    m_nMarkGot = 0;
    m_nFragmentLeft = 0;
    m_bInFragment = false;
    m_bLastFragment = false;
    m_bComplete = false;
    m_vecRecord.clear();
}

RecordReader::Status RecordReader::Read(int fd, std::size_t nMaxRecord, const Deadline& deadline,
                                        int fdWake) {
    if (m_bComplete) {
        Reset();
    }
    for (;;) {
        if (!m_bInFragment) {
            if (m_nMarkGot < kRecordMarkSize) {
                std::size_t nGot = 0;
                const tknet::Result result =
                    tknet::ReceiveSome(fd, m_achMark + m_nMarkGot, kRecordMarkSize - m_nMarkGot,
                                       deadline, &nGot, fdWake);
                m_nMarkGot += nGot;
                if (result != tknet::Result::kOk) {
                    return StatusOf(result);
                }
                continue;
            }
            const std::uint32_t nMark = RecordMarkOf(m_achMark);
            const std::size_t nLength = nMark & kFragmentLengthMask;
            if (nLength > nMaxRecord || m_vecRecord.size() + nLength > nMaxRecord) {
                return Status::kTooLong;
            }
            m_bLastFragment = (nMark & kLastFragment) != 0;
            m_nFragmentLeft = nLength;
            m_bInFragment = true;
            m_vecRecord.resize(m_vecRecord.size() + nLength);
        }
        if (m_nFragmentLeft > 0) {
            std::size_t nGot = 0;
            const tknet::Result result =
                tknet::ReceiveSome(fd, m_vecRecord.data() + (m_vecRecord.size() - m_nFragmentLeft),
                                   m_nFragmentLeft, deadline, &nGot, fdWake);
            m_nFragmentLeft -= nGot;
            if (result != tknet::Result::kOk) {
                return StatusOf(result);
            }
            continue;
        }
        // The fragment is complete.
        m_bInFragment = false;
        m_nMarkGot = 0;
        if (m_bLastFragment) {
            m_bComplete = true;
            return Status::kRecord;
        }
    }
}

// ----- RpcClient ------------------------------------------------------------

RpcClient::RpcClient(std::uint32_t nProgram, std::uint32_t nVersion)
    : m_nProgram(nProgram), m_nVersion(nVersion), m_nNextXid(FirstXid()) {}

tknet::Result RpcClient::Connect(const tknet::Address& address, const Deadline& deadline) {
    Close();
    return tknet::Connect(address, deadline, &m_fd);
}

tknet::Result RpcClient::ConnectAny(const std::vector<tknet::Address>& vecAddresses,
                                    const Deadline& deadline, tknet::Address* pPeer) {
    Close();
    return tknet::ConnectAny(vecAddresses, deadline, &m_fd, pPeer);
}

void RpcClient::Close() {
    m_fd.Reset();
    m_reader.Reset();
    m_nSilentTimeouts = 0;
    m_dequeUnanswered.clear();
}

Outcome RpcClient::Lose() {
    Close();
    return Outcome::kLost;
}

std::size_t RpcClient::ReplyBound(std::size_t nMaxReply) const {
    std::size_t nBound = nMaxReply;
    for (const Pending& pending : m_dequeUnanswered) {
        nBound = std::max(nBound, pending.nMaxReply);
    }
    return nBound;
}

bool RpcClient::TakeUnanswered(std::uint32_t nXid) {
    const auto it = std::find_if(m_dequeUnanswered.begin(), m_dequeUnanswered.end(),
                                 [nXid](const Pending& pending) { return pending.nXid == nXid; });
    if (it == m_dequeUnanswered.end()) {
        return false;
    }
    m_dequeUnanswered.erase(it);
    return true;
}

Outcome RpcClient::TimedOut(std::uint32_t nXid, std::size_t nMaxReply, bool bHeardFromPeer) {
    m_nSilentTimeouts = bHeardFromPeer ? 1 : m_nSilentTimeouts + 1;
    if (m_nSilentTimeouts >= 2) {
        return Lose();
    }
    m_dequeUnanswered.push_back({nXid, nMaxReply});
    if (m_dequeUnanswered.size() > kMaxUnanswered) {
        m_dequeUnanswered.pop_front();
    }
    return Outcome::kTimeout;
}

Outcome RpcClient::Call(std::uint32_t nProcedure, xdrproc_t pfnArgs, const void* pArgs,
                        xdrproc_t pfnResult, void* pResult, const Deadline& wait,
                        std::size_t nMaxReply, int fdWake) {
    if (!m_fd) {
        return Outcome::kLost;
    }
    // The call, encoded behind room for its record mark.
    void* pArgsMutable = const_cast<void*>(pArgs);
    const std::size_t nRoom = kCallHeaderRoom + xdr_sizeof(pfnArgs, pArgsMutable);
    std::vector<unsigned char> vecCall(kRecordMarkSize + nRoom);
    const std::uint32_t nXid = m_nNextXid++;
    XDR xdrs{};
    xdrmem_create(&xdrs, reinterpret_cast<char*>(vecCall.data() + kRecordMarkSize),
                  static_cast<u_int>(nRoom), XDR_ENCODE);
    rpc_msg call = CallMessage(nXid, m_nProgram, m_nVersion, nProcedure);
    const bool bEncoded = xdr_callmsg(&xdrs, &call) && pfnArgs(&xdrs, pArgsMutable);
    const u_int nLength = xdr_getpos(&xdrs);
    xdr_destroy(&xdrs);
    if (!bEncoded) {
        return Outcome::kRefused;  // arguments this client cannot encode: nothing was sent
    }
    PutRecordMark(vecCall.data(), nLength);
    std::size_t nSent = 0;
    const tknet::Result sent =
        tknet::SendAll(m_fd.Get(), vecCall.data(), kRecordMarkSize + nLength, wait, &nSent, fdWake);
    if (sent != tknet::Result::kOk) {
        if (nSent == 0 && sent == tknet::Result::kWoken) {
            return Outcome::kWoken;
        }
        if (nSent == 0 && sent == tknet::Result::kTimeout) {
            // The peer takes nothing: as silent as a call it never answers.
            m_nSilentTimeouts = m_nSilentTimeouts + 1;
            return m_nSilentTimeouts >= 2 ? Lose() : Outcome::kTimeout;
        }
        // Half a call on the wire can never be taken back.
        return Lose();
    }

    bool bHeardFromPeer = false;
    for (;;) {
        switch (m_reader.Read(m_fd.Get(), ReplyBound(nMaxReply), wait, fdWake)) {
            case RecordReader::Status::kRecord:
                break;
            case RecordReader::Status::kTimeout:
                return TimedOut(nXid, nMaxReply, bHeardFromPeer);
            case RecordReader::Status::kWoken:
                // The reply may still come: the next call skips it.
                m_dequeUnanswered.push_back({nXid, nMaxReply});
                if (m_dequeUnanswered.size() > kMaxUnanswered) {
                    m_dequeUnanswered.pop_front();
                }
                return Outcome::kWoken;
            default:
                return Lose();
        }
        const std::vector<unsigned char>& vecRecord = m_reader.Record();
        if (vecRecord.size() < kMinReply) {
            return Lose();
        }
        const bool bOurs = XidOf(vecRecord) == nXid;
        XDR xdrReply{};
        xdrmem_create(&xdrReply,
                      reinterpret_cast<char*>(const_cast<unsigned char*>(vecRecord.data())),
                      static_cast<u_int>(vecRecord.size()), XDR_DECODE);
        char achVerifier[MAX_AUTH_BYTES];
        rpc_msg reply{};
        reply.acpted_rply.ar_verf.oa_base = achVerifier;
        reply.acpted_rply.ar_results.where = bOurs ? static_cast<caddr_t>(pResult) : nullptr;
        reply.acpted_rply.ar_results.proc =
            bOurs ? pfnResult : reinterpret_cast<xdrproc_t>(XdrSkip);
        const bool bDecoded = xdr_replymsg(&xdrReply, &reply) == TRUE;
        const bool bAccepted = bDecoded && reply.rm_reply.rp_stat == MSG_ACCEPTED &&
                               reply.acpted_rply.ar_stat == SUCCESS;
        // A reply with bytes after its results is not one this client can trust.
        const bool bWhole = !bOurs || !bAccepted || xdr_getpos(&xdrReply) == vecRecord.size();
        xdr_destroy(&xdrReply);
        if (!bDecoded || !bWhole) {
            if (bOurs) {
                xdr_free(pfnResult, static_cast<char*>(pResult));
            }
            return Lose();
        }
        if (!bOurs) {
            // A late reply to an earlier call, or one to no call of ours:
            // skipped. Only the former shows the peer is still answering.
            bHeardFromPeer = TakeUnanswered(XidOf(vecRecord)) || bHeardFromPeer;
            continue;
        }
        m_nSilentTimeouts = 0;
        return bAccepted ? Outcome::kOk : Outcome::kRefused;
    }
}

}  // namespace tkrpc
