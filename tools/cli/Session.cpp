#include "tools/cli/Session.h"

#include <cstdio>

#include "tools/cli/Hints.h"
#include "visa.h"

namespace cli {
namespace {

// A string read returns the buffer size it needs when the value does not fit;
// warnings are IVI codes far above any size the tool would allocate.
constexpr ViStatus kLargestStringSize = 1 << 20;

}  // namespace

std::string StatusHex(ViStatus status) {
    char szText[16];
    std::snprintf(szText, sizeof szText, "0x%08X", static_cast<unsigned>(status));
    return szText;
}

std::string ErrorText(ViSession vi, ViStatus status) {
    ViStatus code = VI_SUCCESS;
    const ViStatus nSize = TARVEK_GetError(vi, &code, 0, nullptr);
    std::string strText;
    if (nSize > 1 && nSize < kLargestStringSize) {
        std::vector<ViChar> buffer(static_cast<size_t>(nSize) + 1, '\0');
        TARVEK_GetError(vi, &code, nSize, buffer.data());
        strText = buffer.data();
    }
    if (strText.empty() || (code != VI_SUCCESS && code != status)) {
        ViChar szMessage[256] = {};
        if (TARVEK_error_message(vi, status, szMessage) >= VI_SUCCESS) {
            strText = szMessage;
        }
    }
    // A status the driver left without text, or answered only with the
    // generic unknown-status sentence, gets the tool's own.
    if (strText.empty() || strText.starts_with("Unknown status")) {
        strText = StatusText(status);
    }
    if (strText.empty()) {
        strText = "Unknown status " + StatusHex(status) + ".";
    }
    return strText;
}

Session::Session(const std::string& strResource, const std::string& strOptions)
    : m_strResource(strResource) {
    std::string strName = strResource;
    ViSession vi = VI_NULL;
    const ViStatus status =
        TARVEK_InitWithOptions(strName.data(), VI_TRUE, VI_FALSE, strOptions.c_str(), &vi);
    if (status < VI_SUCCESS) {
        // Opening sends the identity query first. The failed session is
        // gone, so an error flag seen while opening cannot be read out here.
        throw DriverError(status,
                          status == IVI_ERROR_INSTRUMENT_STATUS
                              ? "the instrument flagged an error in its status register while "
                                "the session was opened"
                              : ErrorText(VI_NULL, status),
                          StatusHint(status, HintContext{strResource, "*IDN?"}));
    }
    m_vi = vi;
    if (status > VI_SUCCESS) {
        std::fprintf(stderr, "tarvek: warning %s: %s\n", StatusHex(status).c_str(),
                     ErrorText(VI_NULL, status).c_str());
    }
}

Session::~Session() {
    if (m_vi != VI_NULL) {
        TARVEK_close(m_vi);
    }
}

DriverError Session::Failure(ViStatus status, const std::string& strText, const char* pWhat) const {
    HintContext context{m_strResource, pWhat};
    ViInt32 nTimeout = -1;
    if (status == VI_ERROR_TMO &&
        TARVEK_GetAttributeViInt32(m_vi, "", TARVEK_ATTR_SYSTEM_IO_TIMEOUT, &nTimeout) >=
            VI_SUCCESS) {
        context.nTimeoutMs = nTimeout;
    }
    return DriverError(status, strText, StatusHint(status, context));
}

std::string Session::DrainErrorQueue() const {
    // The queue is finite; the bound keeps a misbehaving instrument from
    // holding the tool forever.
    constexpr int kMaxErrors = 100;
    std::string strErrors;
    for (int n = 0; n < kMaxErrors; ++n) {
        ViInt32 nCode = 0;
        ViChar szMessage[256] = {};
        if (TARVEK_error_query(m_vi, &nCode, szMessage) < VI_SUCCESS || nCode == 0) {
            break;
        }
        strErrors +=
            (strErrors.empty() ? "" : "; ") + std::to_string(nCode) + ",\"" + szMessage + "\"";
    }
    return strErrors;
}

bool Session::ChecksInstrumentStatus() const {
    ViBoolean bOn = VI_FALSE;
    TARVEK_GetAttributeViBoolean(m_vi, "", TARVEK_ATTR_QUERY_INSTRUMENT_STATUS, &bOn);
    return bOn != VI_FALSE;
}

void Session::CheckInstrumentErrors(const char* pWhat) const {
    const std::string strErrors = DrainErrorQueue();
    if (!strErrors.empty()) {
        throw DriverError(IVI_ERROR_INSTRUMENT_STATUS,
                          "the instrument refused " + std::string(pWhat) + ": " + strErrors);
    }
}

void Session::Check(ViStatus status, const char* pWhat) const {
    if (status == IVI_ERROR_INSTRUMENT_STATUS) {
        // The driver saw the instrument's error flag; its queue says why.
        const std::string strErrors = DrainErrorQueue();
        throw DriverError(status,
                          strErrors.empty()
                              ? "the instrument flagged an error after " + std::string(pWhat) +
                                    " in its status register, with an empty error queue"
                              : "the instrument refused " + std::string(pWhat) + ": " + strErrors);
    }
    if (status < VI_SUCCESS) {
        throw Failure(status, ErrorText(m_vi, status), pWhat);
    }
    if (status > VI_SUCCESS) {
        std::fprintf(stderr, "tarvek: warning from %s (%s): %s\n", pWhat, StatusHex(status).c_str(),
                     ErrorText(m_vi, status).c_str());
    }
}

AttributeValue Session::Get(const AttributeInfo& info, const std::string& strChannel) const {
    AttributeValue value;
    const char* pChannel = strChannel.c_str();
    switch (info.eKind) {
        case ValueKind::Boolean:
            Check(TARVEK_GetAttributeViBoolean(m_vi, pChannel, info.nId, &value.bValue),
                  info.pName);
            break;
        case ValueKind::Int32:
            Check(TARVEK_GetAttributeViInt32(m_vi, pChannel, info.nId, &value.nValue), info.pName);
            break;
        case ValueKind::Real64:
            Check(TARVEK_GetAttributeViReal64(m_vi, pChannel, info.nId, &value.dValue), info.pName);
            break;
        case ValueKind::Session:
            Check(TARVEK_GetAttributeViSession(m_vi, pChannel, info.nId, &value.hValue),
                  info.pName);
            break;
        case ValueKind::String: {
            // Read into a generous buffer first; a longer value is read again
            // with the size the driver asked for.
            std::vector<ViChar> buffer(4096, '\0');
            for (int nTry = 0; nTry < 3; ++nTry) {
                const ViStatus status = TARVEK_GetAttributeViString(
                    m_vi, pChannel, info.nId, static_cast<ViInt32>(buffer.size()), buffer.data());
                if (status > static_cast<ViStatus>(buffer.size()) && status < kLargestStringSize) {
                    buffer.assign(static_cast<size_t>(status), '\0');
                    continue;
                }
                if (status > VI_SUCCESS && status < kLargestStringSize) {
                    break;  // the size it needed, and it fitted
                }
                Check(status, info.pName);
                break;
            }
            buffer.back() = '\0';
            value.strValue = buffer.data();
            break;
        }
    }
    return value;
}

void Session::Set(const AttributeInfo& info, const std::string& strChannel,
                  const AttributeValue& value) const {
    const char* pChannel = strChannel.c_str();
    switch (info.eKind) {
        case ValueKind::Boolean:
            Check(TARVEK_SetAttributeViBoolean(m_vi, pChannel, info.nId, value.bValue), info.pName);
            break;
        case ValueKind::Int32:
            Check(TARVEK_SetAttributeViInt32(m_vi, pChannel, info.nId, value.nValue), info.pName);
            break;
        case ValueKind::Real64:
            Check(TARVEK_SetAttributeViReal64(m_vi, pChannel, info.nId, value.dValue), info.pName);
            break;
        case ValueKind::Session:
            Check(TARVEK_SetAttributeViSession(m_vi, pChannel, info.nId, value.hValue), info.pName);
            break;
        case ValueKind::String:
            Check(TARVEK_SetAttributeViString(m_vi, pChannel, info.nId, value.strValue.c_str()),
                  info.pName);
            break;
    }
}

std::string Session::Format(const AttributeInfo& info, const AttributeValue& value) const {
    switch (info.eKind) {
        case ValueKind::Boolean:
            return FormatBoolean(value.bValue);
        case ValueKind::Int32:
            return FormatInt32(value.nValue, info.values);
        case ValueKind::Real64:
            return FormatReal(value.dValue);
        case ValueKind::Session:
            return std::to_string(value.hValue);
        case ValueKind::String:
            return value.strValue;
    }
    return {};
}

ViInt32 Session::ChannelCount() const {
    return Get(Attribute(TARVEK_ATTR_CHANNEL_COUNT), "").nValue;
}

std::vector<std::string> Session::ChannelNames() const {
    std::vector<std::string> vecNames;
    const ViInt32 nCount = ChannelCount();
    for (ViInt32 nIndex = 1; nIndex <= nCount; ++nIndex) {
        ViChar szName[64] = {};
        Check(TARVEK_GetChannelName(m_vi, nIndex, sizeof szName, szName), "TARVEK_GetChannelName");
        vecNames.emplace_back(szName);
    }
    return vecNames;
}

ViInt32 Session::ChannelIndex(const std::string& strSelector) const {
    const std::string strUpper = ToUpperAscii(strSelector);
    if (strUpper.size() == 3 && strUpper.starts_with("CH") && strUpper[2] >= '1' &&
        strUpper[2] <= '3') {
        const ViInt32 nIndex = strUpper[2] - '1';
        if (nIndex >= ChannelCount()) {
            throw UsageError("this supply has no output " + strSelector);
        }
        return nIndex;
    }
    if (ChannelCount() == 1) {
        // Validate the name; the single output is index 0.
        Get(Attribute(TARVEK_ATTR_OUTPUT_ENABLED), strSelector);
        return 0;
    }
    // A virtual name: a channel-based read selects its physical channel on
    // the instrument, and the selected channel then names the index.
    Get(Attribute(TARVEK_ATTR_OUTPUT_ENABLED), strSelector);
    return Get(Attribute(TARVEK_ATTR_SELECTED_CHANNEL), "").nValue;
}

}  // namespace cli
