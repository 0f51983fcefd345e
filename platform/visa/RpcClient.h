// ONC RPC over TCP with every wait bounded by the caller's deadline. The
// messages are encoded and decoded by the RPC library's XDR routines
// (xdrmem, xdr_callmsg, xdr_replymsg and the generated ones); the record
// marking and the socket I/O are ours, so that no call outlives its
// deadline and no peer can make the client read a record without end.
// It knows calls, replies and transaction ids; what they mean belongs to
// the caller (the VXI-11 link, the portmapper query).
#pragma once

// rpc.h first: the XDR types come from it.
#include <rpc/rpc.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "Deadline.h"
#include "Socket.h"

namespace tkrpc {

using tknet::Deadline;

// Record marking: a record is one or more fragments, each behind a 4-byte
// big-endian header whose bit 31 marks the last fragment and whose low 31
// bits give the fragment's length.
constexpr std::uint32_t kLastFragment = 0x80000000u;
constexpr std::uint32_t kFragmentLengthMask = 0x7FFFFFFFu;
constexpr std::size_t kRecordMarkSize = 4;

void PutRecordMark(unsigned char* pMark, std::uint32_t nLength, bool bLast = true);
std::uint32_t RecordMarkOf(const unsigned char* pMark);

// The header of a call without credentials, for xdr_callmsg.
rpc_msg CallMessage(std::uint32_t nXid, rpcprog_t nProgram, rpcvers_t nVersion,
                    rpcproc_t nProcedure);
// An accepted, successful reply to nXid whose results pfnResult encodes from
// pResult (none when null), for xdr_replymsg; servers change ar_stat to refuse.
rpc_msg AcceptedReply(std::uint32_t nXid, xdrproc_t pfnResult = nullptr, void* pResult = nullptr);

// Reads whole records from a stream socket. A record the deadline cut
// short is resumed by the next Read, so a slow peer never desynchronises the
// stream; a record longer than the caller allows is refused before its bytes
// are read.
class RecordReader {
  public:
    enum class Status { kRecord, kTimeout, kWoken, kClosed, kTooLong, kError };

    Status Read(int fd, std::size_t nMaxRecord, const Deadline& deadline, int fdWake = -1);
    // The record the last Read completed, until the next Read.
    const std::vector<unsigned char>& Record() const { return m_vecRecord; }
    void Reset();

  private:
    unsigned char m_achMark[kRecordMarkSize] = {};
    std::size_t m_nMarkGot = 0;
    std::size_t m_nFragmentLeft = 0;  // bytes of the current fragment still to come
    bool m_bInFragment = false;
    bool m_bLastFragment = false;
    bool m_bComplete = false;  // m_vecRecord holds a record already handed out
    std::vector<unsigned char> m_vecRecord;
};

// What a call came to. kRefused: the server answered, but not with a result
// (program, version or procedure unavailable, arguments refused, denied).
enum class Outcome { kOk, kTimeout, kWoken, kLost, kRefused };

// One client connection. Not thread-safe: one call at a time; only the wake
// pipe given to Call may be used from another thread.
class RpcClient {
  public:
    // Replies up to this size are taken when the caller names no bound.
    static constexpr std::size_t kDefaultMaxReply = 64 * 1024;
    // Calls whose replies never came, remembered to recognise their late
    // replies; older ones are forgotten (their replies are then skipped as
    // unknown).
    static constexpr std::size_t kMaxUnanswered = 16;

    RpcClient(std::uint32_t nProgram, std::uint32_t nVersion);

    tknet::Result Connect(const tknet::Address& address, const Deadline& deadline);
    // Connects to the first of the addresses that answers; *pPeer names it.
    tknet::Result ConnectAny(const std::vector<tknet::Address>& vecAddresses,
                             const Deadline& deadline, tknet::Address* pPeer);
    bool Connected() const { return static_cast<bool>(m_fd); }
    int Fd() const { return m_fd.Get(); }
    void Close();

    // Sends one call and waits until `wait` for its reply, skipping replies
    // to earlier calls. pResult is decoded only on kOk (free it with
    // xdr_free); nMaxReply bounds the reply record.
    //
    // The connection is closed (kLost, and kLost on every later call) when
    // the peer closes or breaks it, sends a record longer than allowed or one
    // that is not an RPC reply, or when a call times out without any reply
    // from the peer for the second time running: a call that timed out
    // counts as silent unless the late reply of an earlier call arrived
    // while it waited.
    Outcome Call(std::uint32_t nProcedure, xdrproc_t pfnArgs, const void* pArgs,
                 xdrproc_t pfnResult, void* pResult, const Deadline& wait,
                 std::size_t nMaxReply = kDefaultMaxReply, int fdWake = -1);

    // Whether a call's reply is still owed (a call timed out or was woken).
    bool Unanswered() const { return !m_dequeUnanswered.empty(); }

  private:
    struct Pending {
        std::uint32_t nXid;
        std::size_t nMaxReply;
    };
    Outcome Lose();
    Outcome TimedOut(std::uint32_t nXid, std::size_t nMaxReply, bool bHeardFromPeer);
    std::size_t ReplyBound(std::size_t nMaxReply) const;
    bool TakeUnanswered(std::uint32_t nXid);

    std::uint32_t m_nProgram;
    std::uint32_t m_nVersion;
    tknet::Fd m_fd;
    RecordReader m_reader;
    std::uint32_t m_nNextXid;
    int m_nSilentTimeouts = 0;
    std::deque<Pending> m_dequeUnanswered;
};

}  // namespace tkrpc
