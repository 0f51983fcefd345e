// One HiSLIP connection as a stream of messages: writes a message whole and
// reads one header at a time, with every wait bounded by a deadline. What a
// header's length may be is checked here, before a byte of the payload is
// read, so a lying length can never make the reader take payload for the
// next header or hold more than a bounded buffer. Shared by the VISA layer's
// client and the emulator's server, each with its own limits: it knows
// framing, not the conversation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "HislipMessage.h"
#include "Socket.h"

namespace tkvisa::hislip {

// The largest payload of a message other than Data and DataEND that a
// client takes: error texts, sub-addresses and lock keys are short, so more
// is a broken header.
constexpr std::size_t kMaxTextPayload = 4096;

// What lengths a channel accepts in the header of a message other than Data
// and DataEND (whose payload the caller reads and bounds itself). A longer
// or a misfit length ends the stream (kMalformed) before a byte of the
// payload is read.
struct PayloadLimits {
    // The longest payload of a message whose type does not fix its length:
    // a text, or a type this protocol version does not define. The channel's
    // buffer grows to hold one such message whole.
    std::size_t nMaxControl = kMaxTextPayload;
    // Whether a type that fixes its payload (none, or one 8-byte size) must
    // have exactly that length; without it such a payload only has to fit
    // nMaxControl, and the caller judges it.
    bool bExactLengths = true;
};

// Why a read came to kMalformed.
enum class Malformation {
    kPrologue,         // a header without the "HS" prologue
    kLength,           // a length its type cannot have (the header is returned)
    kTrailingPayload,  // payload where the next header should start
};

// What reading or writing a message came to.
enum class ChannelResult {
    kOk,
    kTimeout,    // the deadline passed; nothing of a message was lost
    kGone,       // the connection closed or broke
    kWoken,      // the wake descriptor ended the wait
    kMalformed,  // a header without the prologue, or a length its type cannot have
};

class MessageChannel {
  public:
    MessageChannel() = default;
    explicit MessageChannel(const PayloadLimits& limits) : m_limits(limits) {}
    MessageChannel(const MessageChannel&) = delete;
    MessageChannel& operator=(const MessageChannel&) = delete;

    // Connects to the first of the addresses that answers within the deadline.
    tknet::Result Connect(const std::vector<tknet::Address>& vecAddresses,
                          const tknet::Deadline& deadline, tknet::Address* pPeer = nullptr);
    // Takes over a connected socket (a server's accepted one).
    void Attach(tknet::Fd fd);
    // A readable wake descriptor ends every wait of the channel with kWoken.
    void SetWakeFd(int fdWake) { m_fdWake = fdWake; }
    void Close();
    // Ends the connection under a wait on another thread; the wait reports kGone.
    void Shutdown();

    int Fd() const { return m_fd.Get(); }
    // Whether the stream can no longer be followed: the peer left, or a
    // message went out or came in only in part.
    bool Broken() const { return m_bReadBroken || m_bWriteBroken; }
    // Why the last read failed with kMalformed, for the FatalError text.
    const std::string& Problem() const { return m_strProblem; }
    Malformation LastMalformation() const { return m_eMalformation; }

    // Sends one message, header and payload. A send cut short by the
    // deadline leaves the peer with part of a message: the channel breaks.
    ChannelResult Send(const Header& header, const void* pPayload, std::size_t nPayload,
                       const tknet::Deadline& deadline);
    ChannelResult Send(MessageType eType, std::uint8_t nControl, std::uint32_t nParameter,
                       std::string_view strPayload, const tknet::Deadline& deadline);

    // The next message header. A Data or DataEND payload stays in the stream
    // for ReadPayload (its length checked by the caller, who knows the
    // maximum it announced); every other message comes whole, its payload in
    // strPayload. A timeout loses nothing: the message is read again by the
    // next call. kMalformed leaves the stream unusable; for a length the
    // limits refuse, header holds the header that gave it.
    ChannelResult NextMessage(Header& header, std::string& strPayload,
                              const tknet::Deadline& deadline);
    // Up to nMax payload bytes (at least one) into pData, or dropped when
    // pData is null. The caller counts what is left of the message.
    ChannelResult ReadPayload(void* pData, std::size_t nMax, const tknet::Deadline& deadline,
                              std::size_t* pGot);

    // Checks, without waiting, that bytes already there after the last
    // message start a header. A length shorter than its payload leaves the
    // rest of the payload where the next header should be; this finds it
    // before the message is taken as complete. kMalformed when not.
    ChannelResult CheckNextPrologue();

  private:
    ChannelResult Fill(std::size_t nCount, const tknet::Deadline& deadline);
    ChannelResult Malformed(Malformation eHow, std::string strProblem);
    ChannelResult Gone();

    PayloadLimits m_limits;
    tknet::Fd m_fd;
    int m_fdWake = -1;
    // Input that can no longer be followed still leaves output intact, so a
    // FatalError can tell the peer why the connection ends.
    bool m_bReadBroken = false;
    bool m_bWriteBroken = false;
    std::string m_strProblem;
    Malformation m_eMalformation = Malformation::kPrologue;
    // Holds one header and a text payload, or a part of a data payload.
    std::vector<std::uint8_t> m_vecIn = std::vector<std::uint8_t>(16 * 1024);
    std::size_t m_nPos = 0;
    std::size_t m_nEnd = 0;
};

}  // namespace tkvisa::hislip
