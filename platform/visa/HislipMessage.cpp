#include "HislipMessage.h"

namespace tkvisa::hislip {
namespace {

using enum Channel;
using enum Sender;
using enum PayloadKind;

// One row per message type, indexed by the type number.
constexpr MessageRule kRules[] = {
    {"Initialize", Sync, Client, Text},
    {"InitializeResponse", Sync, Server, None},
    {"FatalError", Both, Either, Text},
    {"Error", Both, Either, Text},
    {"AsyncLock", Async, Client, Text},
    {"AsyncLockResponse", Async, Server, None},
    {"Data", Sync, Either, Stream},
    {"DataEND", Sync, Either, Stream},
    {"DeviceClearComplete", Sync, Client, None},
    {"DeviceClearAcknowledge", Sync, Server, None},
    {"AsyncRemoteLocalControl", Async, Client, None},
    {"AsyncRemoteLocalResponse", Async, Server, None},
    {"Trigger", Sync, Client, None},
    {"Interrupted", Sync, Server, None},
    {"AsyncInterrupted", Async, Server, None},
    {"AsyncMaximumMessageSize", Async, Client, Size},
    {"AsyncMaximumMessageSizeResponse", Async, Server, Size},
    {"AsyncInitialize", Async, Client, None},
    {"AsyncInitializeResponse", Async, Server, None},
    {"AsyncDeviceClear", Async, Client, None},
    {"AsyncServiceRequest", Async, Server, None},
    {"AsyncStatusQuery", Async, Client, None},
    {"AsyncStatusResponse", Async, Server, None},
    {"AsyncDeviceClearAcknowledge", Async, Server, None},
    {"AsyncLockInfo", Async, Client, None},
    {"AsyncLockInfoResponse", Async, Server, None},
};

void PutBigEndian(std::uint64_t nValue, std::size_t nBytes, std::uint8_t* pOut) {
    for (std::size_t i = 0; i < nBytes; ++i) {
        pOut[nBytes - 1 - i] = static_cast<std::uint8_t>(nValue >> (8 * i));
    }
}

std::uint64_t GetBigEndian(const std::uint8_t* pIn, std::size_t nBytes) {
    std::uint64_t nValue = 0;
    for (std::size_t i = 0; i < nBytes; ++i) {
        nValue = (nValue << 8) | pIn[i];
    }
    return nValue;
}

}  // namespace

void EncodeHeader(const Header& header, std::uint8_t* pOut) {
    pOut[0] = 'H';
    pOut[1] = 'S';
    pOut[2] = header.nType;
    pOut[3] = header.nControl;
    PutBigEndian(header.nParameter, 4, pOut + 4);
    PutBigEndian(header.nLength, 8, pOut + 8);
}

std::string EncodeMessage(MessageType eType, std::uint8_t nControl, std::uint32_t nParameter,
                          std::string_view strPayload) {
    std::string strMessage(kHeaderSize, '\0');
    Header header;
    header.nType = static_cast<std::uint8_t>(eType);
    header.nControl = nControl;
    header.nParameter = nParameter;
    header.nLength = strPayload.size();
    EncodeHeader(header, reinterpret_cast<std::uint8_t*>(strMessage.data()));
    strMessage.append(strPayload);
    return strMessage;
}

bool DecodeHeader(const std::uint8_t* pIn, Header& header) {
    if (pIn[0] != 'H' || pIn[1] != 'S') {
        return false;
    }
    header.nType = pIn[2];
    header.nControl = pIn[3];
    header.nParameter = static_cast<std::uint32_t>(GetBigEndian(pIn + 4, 4));
    header.nLength = GetBigEndian(pIn + 8, 8);
    return true;
}

std::string EncodeSize(std::uint64_t nSize) {
    std::string strSize(8, '\0');
    PutBigEndian(nSize, 8, reinterpret_cast<std::uint8_t*>(strSize.data()));
    return strSize;
}

std::uint64_t DecodeSize(const std::uint8_t* pIn) {
    return GetBigEndian(pIn, 8);
}

const MessageRule* RuleOf(std::uint8_t nType) {
    return nType < std::size(kRules) ? &kRules[nType] : nullptr;
}

std::string MessageTypeName(std::uint8_t nType) {
    const MessageRule* pRule = RuleOf(nType);
    return pRule != nullptr ? pRule->pszName : "type " + std::to_string(nType);
}

}  // namespace tkvisa::hislip
