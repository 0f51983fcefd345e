#include "ResourceName.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

namespace tkvisa {
namespace {

bool EqualsNoCase(std::string_view strA, std::string_view strB) {
    return strA.size() == strB.size() &&
           std::equal(strA.begin(), strA.end(), strB.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) ==
                      std::toupper(static_cast<unsigned char>(b));
           });
}

bool StartsWithNoCase(std::string_view strText, std::string_view strPrefix) {
    return strText.size() >= strPrefix.size() &&
           EqualsNoCase(strText.substr(0, strPrefix.size()), strPrefix);
}

bool ParseNumber(std::string_view strText, unsigned long nMax, unsigned long& nValue) {
    if (strText.empty() || strText.size() > 10) {
        return false;
    }
    const char* pEnd = strText.data() + strText.size();
    auto [pStop, ec] = std::from_chars(strText.data(), pEnd, nValue);
    return ec == std::errc() && pStop == pEnd && nValue <= nMax;
}

// Splits at "::", keeping a bracketed IPv6 address ("[fe80::1]") whole.
bool SplitTokens(std::string_view strName, std::vector<std::string_view>& vecTokens) {
    std::size_t nStart = 0;
    std::size_t nPos = 0;
    while (nPos <= strName.size()) {
        if (nPos < strName.size() && strName[nPos] == '[') {
            const std::size_t nClose = strName.find(']', nPos);
            if (nClose == std::string_view::npos) {
                return false;
            }
            nPos = nClose + 1;
            continue;
        }
        if (nPos == strName.size() || strName.compare(nPos, 2, "::") == 0) {
            vecTokens.push_back(strName.substr(nStart, nPos - nStart));
            if (nPos == strName.size()) {
                break;
            }
            nPos += 2;
            nStart = nPos;
            continue;
        }
        ++nPos;
    }
    // A token of nothing but blanks is as empty as no token at all.
    return std::none_of(vecTokens.begin(), vecTokens.end(), [](std::string_view strToken) {
        return std::all_of(strToken.begin(), strToken.end(),
                           [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
    });
}

std::string Upper(std::string_view strText) {
    std::string strOut(strText);
    for (char& c : strOut) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return strOut;
}

using Tokens = std::vector<std::string_view>;

ViStatus ParseTcpip(const Tokens& vecTokens, ResourceName& resource) {
    if (vecTokens.size() < 2) {
        return VI_ERROR_INV_RSRC_NAME;
    }
    std::string_view strHost = vecTokens[1];
    std::string strHostText(strHost);
    if (strHost.front() == '[') {
        if (strHost.back() != ']' || strHost.size() < 3) {
            return VI_ERROR_INV_RSRC_NAME;
        }
        strHostText = std::string(strHost.substr(1, strHost.size() - 2));
    } else if (strHost.find_first_of("[]") != std::string_view::npos) {
        return VI_ERROR_INV_RSRC_NAME;
    }
    resource.strHost = strHostText;
    const std::string strBoard = "TCPIP" + std::to_string(resource.nIntfNum);
    if (vecTokens.size() == 4 && EqualsNoCase(vecTokens[3], "SOCKET")) {
        unsigned long nPort = 0;
        if (!ParseNumber(vecTokens[2], 65535, nPort) || nPort == 0) {
            return VI_ERROR_INV_RSRC_NAME;
        }
        resource.nPort = static_cast<ViUInt16>(nPort);
        resource.strClass = "SOCKET";
        resource.strCanonical =
            strBoard + "::" + std::string(strHost) + "::" + std::to_string(nPort) + "::SOCKET";
        return VI_SUCCESS;
    }
    // LAN instrument: host [::device name] [::INSTR]
    std::size_t nCount = vecTokens.size();
    if (EqualsNoCase(vecTokens.back(), "INSTR")) {
        --nCount;
    }
    if (nCount > 3 || nCount < 2) {
        return VI_ERROR_INV_RSRC_NAME;
    }
    const std::string strDevice = nCount == 3 ? std::string(vecTokens[2]) : "inst0";
    if (strDevice.empty()) {
        return VI_ERROR_INV_RSRC_NAME;
    }
    resource.strDevice = strDevice;
    resource.strClass = "INSTR";
    resource.strCanonical = strBoard + "::" + std::string(strHost) + "::" + strDevice + "::INSTR";
    return VI_SUCCESS;
}

ViStatus ParseAsrl(const Tokens& vecTokens, ResourceName& resource) {
    if (vecTokens.size() > 2 || (vecTokens.size() == 2 && !EqualsNoCase(vecTokens[1], "INSTR"))) {
        return VI_ERROR_INV_RSRC_NAME;
    }
    resource.strClass = "INSTR";
    if (resource.strDevicePath.empty()) {
        // Board n is the n-th port of the machine: /dev/ttyS(n-1).
        if (resource.nIntfNum > 0) {
            resource.strDevicePath = "/dev/ttyS" + std::to_string(resource.nIntfNum - 1);
        }
        resource.strCanonical = "ASRL" + std::to_string(resource.nIntfNum) + "::INSTR";
    } else {
        resource.strCanonical = "ASRL" + resource.strDevicePath + "::INSTR";
    }
    return VI_SUCCESS;
}

ViStatus ParseGpib(const Tokens& vecTokens, ResourceName& resource) {
    const std::string strBoard = "GPIB" + std::to_string(resource.nIntfNum);
    if (vecTokens.size() == 2 && EqualsNoCase(vecTokens[1], "INTFC")) {
        resource.strClass = "INTFC";
        resource.strCanonical = strBoard + "::INTFC";
        return VI_SUCCESS;
    }
    std::size_t nCount = vecTokens.size();
    if (EqualsNoCase(vecTokens.back(), "INSTR")) {
        --nCount;
    }
    unsigned long nPrimary = 0;
    unsigned long nSecondary = 0;
    if (nCount < 2 || nCount > 3 || !ParseNumber(vecTokens[1], 30, nPrimary) ||
        (nCount == 3 && !ParseNumber(vecTokens[2], 126, nSecondary))) {
        return VI_ERROR_INV_RSRC_NAME;
    }
    resource.strClass = "INSTR";
    resource.strCanonical = strBoard + "::" + std::to_string(nPrimary) +
                            (nCount == 3 ? "::" + std::to_string(nSecondary) : "") + "::INSTR";
    return VI_SUCCESS;
}

// A USB id as VISA writes it: hexadecimal after "0x", decimal otherwise.
bool ParseUsbId(std::string_view strText, unsigned long nMax, unsigned long& nValue) {
    if (strText.size() > 2 && strText[0] == '0' && (strText[1] == 'x' || strText[1] == 'X')) {
        const std::string_view strDigits = strText.substr(2);
        if (strDigits.size() > 8) {
            return false;
        }
        const char* pEnd = strDigits.data() + strDigits.size();
        auto [pStop, ec] = std::from_chars(strDigits.data(), pEnd, nValue, 16);
        return ec == std::errc() && pStop == pEnd && nValue <= nMax;
    }
    return ParseNumber(strText, nMax, nValue);
}

std::string Hex4(unsigned long nValue) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string strOut = "0x0000";
    for (int i = 5; i >= 2; --i, nValue >>= 4) {
        strOut[static_cast<std::size_t>(i)] = kDigits[nValue & 0xF];
    }
    return strOut;
}

// USB[board]::vendor::product::serial[::interface][::INSTR|::RAW]
ViStatus ParseUsb(const Tokens& vecTokens, ResourceName& resource) {
    std::size_t nCount = vecTokens.size();
    std::string strClass = "INSTR";
    if (EqualsNoCase(vecTokens.back(), "INSTR") || EqualsNoCase(vecTokens.back(), "RAW")) {
        strClass = Upper(vecTokens.back());
        --nCount;
    }
    unsigned long nVendor = 0;
    unsigned long nProduct = 0;
    unsigned long nInterface = 0;
    if (nCount < 4 || nCount > 5 || !ParseUsbId(vecTokens[1], 0xFFFF, nVendor) ||
        !ParseUsbId(vecTokens[2], 0xFFFF, nProduct) ||
        (nCount == 5 && !ParseNumber(vecTokens[4], 255, nInterface))) {
        return VI_ERROR_INV_RSRC_NAME;
    }
    resource.strClass = strClass;
    resource.nVendorId = static_cast<ViUInt16>(nVendor);
    resource.nProductId = static_cast<ViUInt16>(nProduct);
    resource.strSerial = std::string(vecTokens[3]);
    resource.nUsbInterface = nCount == 5 ? static_cast<int>(nInterface) : -1;
    resource.strCanonical = "USB" + std::to_string(resource.nIntfNum) + "::" + Hex4(nVendor) +
                            "::" + Hex4(nProduct) + "::" + resource.strSerial;
    if (nCount == 5) {
        resource.strCanonical += "::" + std::to_string(nInterface);
    }
    resource.strCanonical += "::" + strClass;
    return VI_SUCCESS;
}

// Interfaces this layer has no transport for still parse, so that viParseRsrc
// answers for them and viOpen fails with "resource not found".
ViStatus ParseOther(const Tokens& vecTokens, ResourceName& resource) {
    const std::string_view strLast = vecTokens.back();
    resource.strClass =
        vecTokens.size() > 1 &&
                (EqualsNoCase(strLast, "INSTR") || EqualsNoCase(strLast, "BACKPLANE") ||
                 EqualsNoCase(strLast, "MEMACC") || EqualsNoCase(strLast, "SERVANT"))
            ? Upper(strLast)
            : "INSTR";
    resource.strCanonical.clear();
    for (std::size_t i = 0; i < vecTokens.size(); ++i) {
        resource.strCanonical += (i ? "::" : "") + Upper(vecTokens[i]);
    }
    if (resource.strClass == "INSTR" && !EqualsNoCase(strLast, "INSTR")) {
        resource.strCanonical += "::INSTR";
    }
    return VI_SUCCESS;
}

struct InterfaceRow {
    const char* pszKeyword;
    ViUInt16 nIntfType;
    ViStatus (*pfnParse)(const Tokens&, ResourceName&);
};

// Longer keywords first so that "GPIB-VXI" is not taken for "GPIB".
constexpr InterfaceRow kInterfaces[] = {
    {"GPIB-VXI", VI_INTF_GPIB_VXI, ParseOther},
    {"TCPIP", VI_INTF_TCPIP, ParseTcpip},
    {"ASRL", VI_INTF_ASRL, ParseAsrl},
    {"GPIB", VI_INTF_GPIB, ParseGpib},
    {"USB", VI_INTF_USB, ParseUsb},
    {"VXI", VI_INTF_VXI, ParseOther},
    {"PXI", VI_INTF_PXI, ParseOther},
};

}  // namespace

ViStatus ParseResourceName(std::string_view strName, ResourceName& resource) {
    resource = ResourceName{};
    while (!strName.empty() && std::isspace(static_cast<unsigned char>(strName.front()))) {
        strName.remove_prefix(1);
    }
    while (!strName.empty() && std::isspace(static_cast<unsigned char>(strName.back()))) {
        strName.remove_suffix(1);
    }
    if (strName.empty()) {
        return VI_ERROR_INV_RSRC_NAME;
    }
    for (const InterfaceRow& row : kInterfaces) {
        if (!StartsWithNoCase(strName, row.pszKeyword)) {
            continue;
        }
        Tokens vecTokens;
        const std::string_view strKeyword(row.pszKeyword);
        if (row.nIntfType == VI_INTF_ASRL && strName.size() > 4 && strName[4] == '/') {
            // ASRL/dev/...::INSTR names the device file directly.
            const std::size_t nSep = strName.find("::");
            resource.strDevicePath = std::string(strName.substr(4, nSep - 4));
            if (!SplitTokens(strName, vecTokens)) {
                return VI_ERROR_INV_RSRC_NAME;
            }
        } else {
            if (!SplitTokens(strName, vecTokens)) {
                return VI_ERROR_INV_RSRC_NAME;
            }
            const std::string_view strBoard = vecTokens.front().substr(strKeyword.size());
            unsigned long nBoard = 0;
            if (!strBoard.empty() && !ParseNumber(strBoard, 65535, nBoard)) {
                // "TCPIPX::..." is no TCPIP name; something else may claim it.
                if (std::isdigit(static_cast<unsigned char>(strBoard.front()))) {
                    return VI_ERROR_INV_RSRC_NAME;
                }
                continue;
            }
            resource.nIntfNum = static_cast<ViUInt16>(nBoard);
        }
        resource.nIntfType = row.nIntfType;
        const ViStatus status = row.pfnParse(vecTokens, resource);
        if (status < VI_SUCCESS) {
            resource = ResourceName{};
        }
        return status;
    }
    // Not an interface keyword: could only be an alias, and there are none.
    // A name with an empty or blank "::" part is malformed whatever it names.
    Tokens vecTokens;
    if (!SplitTokens(strName, vecTokens)) {
        return VI_ERROR_INV_RSRC_NAME;
    }
    return VI_ERROR_RSRC_NFOUND;
}

}  // namespace tkvisa
