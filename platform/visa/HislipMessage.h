// HiSLIP messages, shared by the VISA layer's transport and the emulator's
// server. Every message is a 16-byte header followed by its payload:
//
//   offset 0   "HS"               prologue
//   offset 2   message type       1 byte
//   offset 3   control code       1 byte
//   offset 4   message parameter  4 bytes, big endian
//   offset 8   payload length     8 bytes, big endian
//
// The synchronous channel carries data, triggers and the end of a device
// clear; the asynchronous channel carries locks, status queries, the start of
// a device clear, size negotiation and service requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tkvisa::hislip {

constexpr std::size_t kHeaderSize = 16;
constexpr std::uint16_t kDefaultPort = 4880;
// Protocol version 1.0: major in the high byte, minor in the low byte.
constexpr std::uint16_t kProtocolVersion = 0x0100;
// The first message id after Initialize and after each device clear; ids
// advance by two with every Data, DataEND and Trigger message.
constexpr std::uint32_t kFirstMessageId = 0xFFFFFF00u;
// The id a server gives a response that answers no particular message.
constexpr std::uint32_t kUnknownMessageId = 0xFFFFFFFFu;

enum class MessageType : std::uint8_t {
    Initialize = 0,
    InitializeResponse = 1,
    FatalError = 2,
    Error = 3,
    AsyncLock = 4,
    AsyncLockResponse = 5,
    Data = 6,
    DataEnd = 7,
    DeviceClearComplete = 8,
    DeviceClearAcknowledge = 9,
    AsyncRemoteLocalControl = 10,
    AsyncRemoteLocalResponse = 11,
    Trigger = 12,
    Interrupted = 13,
    AsyncInterrupted = 14,
    AsyncMaximumMessageSize = 15,
    AsyncMaximumMessageSizeResponse = 16,
    AsyncInitialize = 17,
    AsyncInitializeResponse = 18,
    AsyncDeviceClear = 19,
    AsyncServiceRequest = 20,
    AsyncStatusQuery = 21,
    AsyncStatusResponse = 22,
    AsyncDeviceClearAcknowledge = 23,
    AsyncLockInfo = 24,
    AsyncLockInfoResponse = 25,
};

// Codes of FatalError messages; the connection closes after one.
enum class FatalCode : std::uint8_t {
    Unidentified = 0,
    PoorlyFormedHeader = 1,
    ChannelsNotEstablished = 2,
    InvalidInitialization = 3,
    TooManyClients = 4,
};

// Codes of Error messages; the connection goes on.
enum class ErrorCode : std::uint8_t {
    Unidentified = 0,
    UnrecognizedMessageType = 1,
    UnrecognizedControlCode = 2,
    UnrecognizedVendorMessage = 3,
    MessageTooLarge = 4,
};

// Control codes of AsyncLock and AsyncLockResponse.
constexpr std::uint8_t kLockRelease = 0;
constexpr std::uint8_t kLockRequest = 1;
constexpr std::uint8_t kLockFailed = 0;
constexpr std::uint8_t kLockGranted = 1;
constexpr std::uint8_t kLockSharedReleased = 2;
constexpr std::uint8_t kLockError = 3;
// Bit 0 of the control code of InitializeResponse and of the device-clear
// messages: overlapped (1) or synchronized (0) mode.
constexpr std::uint8_t kOverlapBit = 0x01;
// Bit 0 of the control code of Data, DataEND, Trigger and AsyncStatusQuery:
// the client delivered a complete response to its caller since its last
// message.
constexpr std::uint8_t kRmtDelivered = 0x01;

struct Header {
    std::uint8_t nType = 0;
    std::uint8_t nControl = 0;
    std::uint32_t nParameter = 0;
    std::uint64_t nLength = 0;

    MessageType Type() const { return static_cast<MessageType>(nType); }
};

// Writes the 16 header bytes to pOut.
void EncodeHeader(const Header& header, std::uint8_t* pOut);
// One whole message: header and payload.
std::string EncodeMessage(MessageType eType, std::uint8_t nControl, std::uint32_t nParameter,
                          std::string_view strPayload = {});
// Reads 16 header bytes; false when the prologue is not "HS".
bool DecodeHeader(const std::uint8_t* pIn, Header& header);

// An 8-byte big-endian size, the payload of the maximum-message-size messages.
std::string EncodeSize(std::uint64_t nSize);
std::uint64_t DecodeSize(const std::uint8_t* pIn);

// "DataEND", "AsyncLock", ... for traces and errors; "type 42" for others.
std::string MessageTypeName(std::uint8_t nType);

// Which connection a message travels on.
enum class Channel : std::uint8_t { Sync = 1, Async = 2, Both = 3 };
// Who may send a message.
enum class Sender : std::uint8_t { Client = 1, Server = 2, Either = 3 };
// What a message's payload may hold, which bounds the length a receiver
// accepts before it has read a byte of it.
enum class PayloadKind : std::uint8_t {
    None,    // nothing: any length but 0 is a broken header
    Size,    // exactly one 8-byte size
    Text,    // a short text (sub-address, lock key, error text)
    Stream,  // Data and DataEND: up to the receiver's maximum message size,
             // read piecewise by the receiver rather than buffered whole
};

struct MessageRule {
    const char* pszName;
    Channel eChannel;
    Sender eSender;
    PayloadKind ePayload;
};

// The rule of a message type of this protocol version, or null for a type
// it does not define (later versions' types and vendor-defined ones).
const MessageRule* RuleOf(std::uint8_t nType);
constexpr bool TravelsOn(const MessageRule& rule, Channel eChannel) {
    return (static_cast<unsigned>(rule.eChannel) & static_cast<unsigned>(eChannel)) != 0;
}
constexpr bool SentBy(const MessageRule& rule, Sender eSender) {
    return (static_cast<unsigned>(rule.eSender) & static_cast<unsigned>(eSender)) != 0;
}
// Types 128-255 are vendor-defined.
constexpr bool IsVendorType(std::uint8_t nType) {
    return nType >= 128;
}

}  // namespace tkvisa::hislip
