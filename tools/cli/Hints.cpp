#include "tools/cli/Hints.h"

#include <cstdlib>

#include "IviConfigServer.h"
#include "tools/cli/Attributes.h"
#include "visa.h"

namespace cli {
namespace {

// One row per status: its name and meaning, and a hint whose placeholders
// {resource}, {address}, {emulator}, {command}, {timeout} and {store} are filled
// from what the tool knew. Every hint that needs a placeholder it cannot fill
// is left out rather than printed half empty.
struct StatusRow {
    ViStatus status;
    const char* pName;
    const char* pText;
    const char* pHint;
};

constexpr StatusRow kStatuses[] = {
    {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND",
     "the resource is not present or nothing answers there",
     "connection refused at {address}: is an instrument or `tarvek-emulator {emulator}` "
     "listening there?"},
    {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME", "the resource name is malformed",
     "write a VISA resource such as TCPIP::192.168.1.20::5025::SOCKET, or a logical name "
     "that `tarvek store list` shows"},
    {VI_ERROR_TMO, "VI_ERROR_TMO", "the operation did not complete within the timeout",
     "no reply to {command} within {timeout} ms: is {resource} the instrument, and does it "
     "answer that command?"},
    {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST", "the connection to the instrument was lost",
     "the instrument at {address} closed the connection during {command}"},
    {VI_ERROR_IO, "VI_ERROR_IO", "an unknown I/O error occurred",
     "the transfer to {resource} failed during {command}; check the cable or network"},
    {VI_ERROR_NPERMISSION, "VI_ERROR_NPERMISSION", "access to the resource is denied",
     "this user may not open {resource}; a USB instrument's /dev/usbtmcN needs the group "
     "usbtmc of the installed udev rule (docs/visa.md, \"Access without root\")"},
    {VI_ERROR_RSRC_BUSY, "VI_ERROR_RSRC_BUSY", "the resource is busy",
     "another program holds {resource}; close it and try again"},
    {VI_ERROR_RSRC_LOCKED, "VI_ERROR_RSRC_LOCKED", "the resource is locked by another session",
     "another program holds a lock on {resource}"},
    {VI_ERROR_NSUP_OPER, "VI_ERROR_NSUP_OPER", "the operation is not supported by this resource",
     ""},
    {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR", "the operating system refused the operation",
     ""},
    {VI_ERROR_ALLOC, "VI_ERROR_ALLOC", "not enough memory for the operation", ""},
    {VI_ERROR_INV_PARAMETER, "VI_ERROR_INV_PARAMETER", "a parameter is not valid", ""},
    {IVI_ERROR_CHANNEL_NAME_REQUIRED, "IVI_ERROR_CHANNEL_NAME_REQUIRED",
     "a channel name is required", "give --channel CH1, CH2 or CH3 (or a virtual name)"},
    {IVI_ERROR_UNKNOWN_CHANNEL_NAME, "IVI_ERROR_UNKNOWN_CHANNEL_NAME", "unknown channel name",
     "`tarvek info {resource}` lists the outputs"},
    {IVI_ERROR_UNKOWN_NAME_IN_SELECTOR, "IVI_ERROR_UNKNOWN_NAME_IN_SELECTOR",
     "unknown name in the channel selector", "`tarvek info {resource}` lists the outputs"},
    {IVI_ERROR_INSTRUMENT_STATUS, "IVI_ERROR_INSTRUMENT_STATUS",
     "the instrument flagged an error in its status register",
     "`tarvek errors {resource}` reads the instrument's error queue"},
    {IVI_ERROR_ID_QUERY_FAILED, "IVI_ERROR_ID_QUERY_FAILED",
     "the instrument's identity is not one this driver supports",
     "`tarvek scpi {resource} '*IDN?'` shows what answers there"},
    {IVI_ERROR_BAD_OPTION_NAME, "IVI_ERROR_BAD_OPTION_NAME", "unknown option name",
     "the options are Cache, InterchangeCheck, QueryInstrStatus, RangeCheck, RecordCoercions, "
     "Simulate and DriverSetup"},
    {IVI_ERROR_BAD_OPTION_VALUE, "IVI_ERROR_BAD_OPTION_VALUE", "bad option value",
     "option values are 1, 0, true or false"},
    {IVI_ERROR_RESOURCE_UNKNOWN, "IVI_ERROR_RESOURCE_UNKNOWN", "unknown resource",
     "`tarvek store list` shows the logical names of {store}"},
    {IVICONFIG_ERROR_DESERIALIZE_FAILED, "IVICONFIG_ERROR_DESERIALIZE_FAILED",
     "the configuration store cannot be read", "`tarvek store check` reports the first problem"},
    {IVICONFIG_ERROR_SESSION_NOT_FOUND, "IVICONFIG_ERROR_SESSION_NOT_FOUND",
     "no such logical name or driver session in the configuration store",
     "`tarvek store list` shows the logical names of {store}"},
    {IVICONFIG_ERROR_NOT_FOUND, "IVICONFIG_ERROR_NOT_FOUND",
     "the configuration store holds no such item", "`tarvek store check` validates {store}"},
    {IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND, "IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND",
     "the configuration store holds no such data component", ""},
    {IVICONFIG_ERROR_INVALID_HANDLE, "IVICONFIG_ERROR_INVALID_HANDLE",
     "invalid configuration store handle", ""},
    {IVICONFIG_ERROR_INVALID_PROPERTY_ID, "IVICONFIG_ERROR_INVALID_PROPERTY_ID",
     "invalid configuration store property", ""},
    {IVICONFIG_ERROR_INVALID_INDEX, "IVICONFIG_ERROR_INVALID_INDEX",
     "configuration store index out of range", ""},
    {IVICONFIG_ERROR_TYPE_MISMATCH, "IVICONFIG_ERROR_TYPE_MISMATCH",
     "a configuration store value has another type", "`tarvek store check` validates {store}"},
    {IVICONFIG_ERROR_NULL_POINTER, "IVICONFIG_ERROR_NULL_POINTER",
     "null pointer passed to the configuration store", ""},
    {IVICONFIG_ERROR_INVALID_PARAMETER, "IVICONFIG_ERROR_INVALID_PARAMETER",
     "invalid configuration store parameter", ""},
    {IVICONFIG_ERROR_NO_REFERENCE, "IVICONFIG_ERROR_NO_REFERENCE",
     "a configuration store item refers to nothing", "`tarvek store check` validates {store}"},
    {IVICONFIG_ERROR_OUT_OF_MEMORY, "IVICONFIG_ERROR_OUT_OF_MEMORY",
     "not enough memory for the configuration store", ""},
};

const StatusRow* FindRow(ViStatus status) {
    for (const StatusRow& row : kStatuses) {
        if (row.status == status) {
            return &row;
        }
    }
    return nullptr;
}

// "TCPIP0::host::5025::SOCKET" -> host and port, and the emulator options
// that serve such a resource; VXI-11 and HiSLIP resources name their
// well-known ports.
bool SplitAddress(const std::string& strResource, std::string& strHost, std::string& strPort,
                  std::string& strEmulator) {
    const std::string strUpper = ToUpperAscii(strResource);
    if (!strUpper.starts_with("TCPIP")) {
        return false;
    }
    std::vector<std::string> vecParts;
    for (size_t nStart = 0;;) {
        const size_t nEnd = strResource.find("::", nStart);
        vecParts.push_back(strResource.substr(nStart, nEnd - nStart));
        if (nEnd == std::string::npos) {
            break;
        }
        nStart = nEnd + 2;
    }
    if (vecParts.size() < 2) {
        return false;
    }
    strHost = vecParts[1];
    const std::string strLast = ToUpperAscii(vecParts.back());
    if (strLast == "SOCKET" && vecParts.size() == 4) {
        strPort = vecParts[2];
        strEmulator = "--port " + strPort;
    } else if (vecParts.size() >= 3 && ToUpperAscii(vecParts[2]).starts_with("HISLIP")) {
        strPort = "4880";
        strEmulator = "--hislip";
    } else {
        strPort = "111";
        strEmulator = "--vxi11";
    }
    return true;
}

std::string StorePath() {
    const char* pPath = std::getenv("IVI_CONFIG_STORE");
    return pPath != nullptr && pPath[0] != '\0' ? pPath : "/etc/ivi/IviConfigurationStore.xml";
}

}  // namespace

std::string StatusText(ViStatus status) {
    const StatusRow* pRow = FindRow(status);
    return pRow == nullptr ? std::string() : std::string(pRow->pName) + ": " + pRow->pText + ".";
}

std::string StatusHint(ViStatus status, const HintContext& context) {
    const StatusRow* pRow = FindRow(status);
    if (pRow == nullptr || pRow->pHint[0] == '\0') {
        return {};
    }
    const bool bLooksLikeResource = context.strResource.find("::") != std::string::npos;
    if (status == VI_ERROR_RSRC_NFOUND && !bLooksLikeResource) {
        // Not a VISA resource, so the driver took it for a logical name.
        return "'" + context.strResource + "' is neither a VISA resource nor a logical name of " +
               StorePath() + " (`tarvek store list` shows them)";
    }
    std::string strHost;
    std::string strPort;
    std::string strEmulator;
    const bool bAddress = SplitAddress(context.strResource, strHost, strPort, strEmulator);
    if (status == VI_ERROR_RSRC_NFOUND && !bAddress) {
        return "nothing answers at " + context.strResource + ": is the instrument connected?";
    }
    std::string strHint = pRow->pHint;
    if (context.nTimeoutMs < 0) {
        if (const size_t nAt = strHint.find("{timeout} ms"); nAt != std::string::npos) {
            strHint.replace(nAt, 12, "the I/O timeout");
        }
    }
    const struct {
        const char* pKey;
        std::string strValue;
    } kFields[] = {
        {"{resource}", context.strResource},
        {"{address}", bAddress ? strHost + ":" + strPort : std::string()},
        {"{emulator}", strEmulator},
        {"{command}", context.strCommand},
        {"{timeout}", context.nTimeoutMs >= 0 ? std::to_string(context.nTimeoutMs) : std::string()},
        {"{store}", StorePath()},
    };
    for (const auto& field : kFields) {
        for (size_t nAt = strHint.find(field.pKey); nAt != std::string::npos;
             nAt = strHint.find(field.pKey)) {
            if (field.strValue.empty()) {
                return {};
            }
            strHint.replace(nAt, std::string_view(field.pKey).size(), field.strValue);
        }
    }
    return strHint;
}

}  // namespace cli
