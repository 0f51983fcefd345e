#include "runtime/errors/StatusMessages.h"

#include "IviConfigServer.h"

#include <algorithm>
#include <array>

#include "IviSession.h"
#include "runtime/errors/Assert.h"
#include "runtime/text/TextUtils.h"
#include "visa.h"

namespace drt {

namespace {

constexpr ViStatus Code(unsigned int nBits) {
    return static_cast<ViStatus>(nBits);
}

// Sorted by code (as signed values), so lookups can bisect.
constexpr std::array kStatusMessages = {
    StatusMessage{Code(0xBFFA0000), "Failure cannot recover."},
    StatusMessage{Code(0xBFFA0001),
                  "Instrument error detected.  Use ErrorQuery() to determine the error(s)."},
    StatusMessage{Code(0xBFFA0002), "Cannot open file."},
    StatusMessage{Code(0xBFFA0003), "Error reading file."},
    StatusMessage{Code(0xBFFA0004), "Error writing file."},
    StatusMessage{Code(0xBFFA000B), "The pathname is invalid."},
    StatusMessage{Code(0xBFFA000C), "Attribute ID '%s' not recognized."},
    StatusMessage{Code(0xBFFA000D), "Attribute '%s' is read-only."},
    StatusMessage{Code(0xBFFA000E), "Attribute '%s' is write-only."},
    StatusMessage{Code(0xBFFA0010), "Invalid value '%s' for function '%s', parameter '%s'."},
    StatusMessage{Code(0xBFFA0011), "Does not support this class-compliant feature: function '%s'"},
    StatusMessage{Code(0xBFFA0012),
                  "Does not support this class-compliant feature: attribute '%s'."},
    StatusMessage{
        Code(0xBFFA0013),
        "Does not support this class-compliant feature:  Enumeration value '%s' passed as "
        "the value for parameter '%s' in function '%s'."},
    StatusMessage{Code(0xBFFA0015), "%sAttribute%s called for attribute '%s' of type '%s'."},
    StatusMessage{Code(0xBFFA001D), "A connection to the instrument has not been established."},
    StatusMessage{Code(0xBFFA0020), "Unknown channel name."},
    StatusMessage{Code(0xBFFA0023), "Too many files are open."},
    StatusMessage{Code(0xBFFA0044), "A channel name is required."},
    StatusMessage{Code(0xBFFA0049), "The option string is missing an option name."},
    StatusMessage{Code(0xBFFA004A), "The option string is missing an option value."},
    StatusMessage{Code(0xBFFA004B), "The '%s' name in the option string is unknown."},
    StatusMessage{Code(0xBFFA004C), "The '%s' value in the option string is unknown."},
    StatusMessage{Code(0xBFFA0056), "Could not allocate necessary memory."},
    StatusMessage{Code(0xBFFA0057), "Operation in progress."},
    StatusMessage{Code(0xBFFA0058), "Null pointer passed for function '%s', parameter '%s'."},
    StatusMessage{Code(0xBFFA0059), "Unexpected response from instrument."},
    StatusMessage{Code(0xBFFA005B), "File not found."},
    StatusMessage{Code(0xBFFA005C), "Invalid file format."},
    StatusMessage{Code(0xBFFA005D), "The instrument status is not available."},
    StatusMessage{Code(0xBFFA005E), "Instrument ID query failed."},
    StatusMessage{Code(0xBFFA005F), "Instrument reset failed."},
    StatusMessage{Code(0xBFFA0060), "Unknown resource."},
    StatusMessage{Code(0xBFFA0061), "The driver is already initialized."},
    StatusMessage{Code(0xBFFA0062), "The simulation state cannot be changed."},
    StatusMessage{Code(0xBFFA0063),
                  "The number of levels in the selector is not valid for the '%s' repeated "
                  "capability."},
    StatusMessage{Code(0xBFFA0064),
                  "The range '%s' is not valid for the repeated capability '%s'."},
    StatusMessage{Code(0xBFFA0065), "Unknown name in selector."},
    StatusMessage{Code(0xBFFA0066), "The repeated capability selector is badly-formed."},
    StatusMessage{Code(0xBFFA0067), "Unknown physical repeated capability selector."},
    StatusMessage{Code(0xBFFA1001), "The trigger source is not set to software trigger."},
    StatusMessage{Code(0xBFFA1190), "Invalid session handle."},
    StatusMessage{Code(0xBFFA4214), "I/O error."},
    StatusMessage{Code(0xBFFA4215), "I/O timeout error."},
    StatusMessage{Code(0x00000000), "Success."},
    StatusMessage{Code(0x3FFA0065), "ID Query is not supported by this instrument."},
    StatusMessage{Code(0x3FFA0066), "Reset is not supported by this instrument."},
    StatusMessage{Code(0x3FFA0067), "Self test is not supported by this instrument."},
    StatusMessage{Code(0x3FFA0068), "Error query is not supported by this instrument."},
    StatusMessage{Code(0x3FFA0069), "Firmware revision query is not supported by this instrument."},
};

static_assert(kStatusMessages.size() == 49);

constexpr bool IsSorted() {
    for (std::size_t i = 1; i < kStatusMessages.size(); ++i) {
        if (!(kStatusMessages[i - 1].nCode < kStatusMessages[i].nCode)) {
            return false;
        }
    }
    return true;
}
static_assert(IsSorted(), "status messages must stay ordered by code");

}  // namespace

std::span<const StatusMessage> StatusMessageTable() {
    return kStatusMessages;
}

std::string FindStatusMessage(ViStatus nCode) {
    auto it =
        std::lower_bound(kStatusMessages.begin(), kStatusMessages.end(), nCode,
                         [](const StatusMessage& entry, ViStatus n) { return entry.nCode < n; });
    if (it == kStatusMessages.end() || it->nCode != nCode) {
        return {};
    }
    return it->pMessage;
}

std::string DescribeStatus(ViStatus nCode) {
    std::string strMessage = FindStatusMessage(nCode);
    if (!strMessage.empty()) {
        return strMessage;
    }
    // Statuses of the configuration store and of VISA, passed up unchanged
    // (a missing logical name, a refused connection, a timeout), are
    // explained in their own words.
    if (const char* pszStore = IviConfig_StatusDescription(nCode)) {
        return pszStore;
    }
    // viStatusDesc fills at most 256 characters and warns about a code it
    // does not know.
    ViChar szDescription[256] = {};
    if (viStatusDesc(VI_NULL, nCode, szDescription) != VI_SUCCESS) {
        return {};
    }
    return szDescription;
}

std::string FormatMessage(std::string_view strFormat,
                          std::initializer_list<std::string_view> args) {
    std::string strResult;
    strResult.reserve(strFormat.size() + 64);
    auto itArg = args.begin();
    for (std::size_t i = 0; i < strFormat.size() && strResult.size() < kMaxErrorText; ++i) {
        const char ch = strFormat[i];
        if (ch == '%' && i + 1 < strFormat.size()) {
            if (strFormat[i + 1] == 's') {
                if (itArg != args.end()) {
                    strResult.append(*itArg);
                    ++itArg;
                }
                ++i;
                continue;
            }
            if (strFormat[i + 1] == '%') {
                strResult.push_back('%');
                ++i;
                continue;
            }
        }
        strResult.push_back(ch);
    }
    if (strResult.size() > kMaxErrorText) {
        strResult.resize(kMaxErrorText);
    }
    return strResult;
}

ViStatus SetSessionError(ViSession vi, ViStatus nStatus, std::string_view strElaboration,
                         std::initializer_list<std::string_view> args) {
    std::string strFormat = FindStatusMessage(nStatus);
    if (!strElaboration.empty()) {
        strFormat.append("  ");
        strFormat.append(strElaboration);
    }
    const std::string strText = FormatMessage(strFormat, args);
    const ViStatus nRecord = IviSession_SetError(vi, nStatus, strText.c_str());
    return nRecord < 0 ? nRecord : nStatus;
}

ViStatus CheckNullPointers(ViSession vi, std::string_view strFunctionName,
                           std::string_view strParameterNames, const void* pFirst,
                           const void* pSecond) {
    if (pFirst != nullptr && pSecond != nullptr) {
        return VI_SUCCESS;
    }
    const int nIndex = pFirst == nullptr ? 0 : 1;
    const std::vector<std::string> vecNames = SplitString(strParameterNames, ',', true);
    DRT_ASSERT(nIndex < (int)vecNames.size());
    const std::string strParameter = nIndex < static_cast<int>(vecNames.size())
                                         ? vecNames[static_cast<std::size_t>(nIndex)]
                                         : std::string("<unknown parameter>");
    const std::string strFunction = TrimString(strFunctionName);
    return SetSessionError(vi, IVI_ERROR_NULL_POINTER, {strFunction, strParameter});
}

}  // namespace drt
