#include "HislipMessage.h"

namespace tkvisa::hislip {
namespace {

constexpr const char* kTypeNames[] = {
    "Initialize",
    "InitializeResponse",
    "FatalError",
    "Error",
    "AsyncLock",
    "AsyncLockResponse",
    "Data",
    "DataEND",
    "DeviceClearComplete",
    "DeviceClearAcknowledge",
    "AsyncRemoteLocalControl",
    "AsyncRemoteLocalResponse",
    "Trigger",
    "Interrupted",
    "AsyncInterrupted",
    "AsyncMaximumMessageSize",
    "AsyncMaximumMessageSizeResponse",
    "AsyncInitialize",
    "AsyncInitializeResponse",
    "AsyncDeviceClear",
    "AsyncServiceRequest",
    "AsyncStatusQuery",
    "AsyncStatusResponse",
    "AsyncDeviceClearAcknowledge",
    "AsyncLockInfo",
    "AsyncLockInfoResponse",
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

std::string MessageTypeName(std::uint8_t nType) {
    if (nType < std::size(kTypeNames)) {
        return kTypeNames[nType];
    }
    return "type " + std::to_string(nType);
}

}  // namespace tkvisa::hislip
