// Initialization of a session: options, configuration, option string and
// DriverSetup, the I/O open, the identity query and the model check.
#include <algorithm>
#include <cctype>

#include "runtime/errors/Assert.h"
#include "runtime/session/DriverSession.h"
#include "runtime/session/OptionGrammar.h"
#include "runtime/text/TextUtils.h"

namespace drt {

namespace {

struct InherentOption {
    const char* pKeyword;
    bool (DriverSession::*pGet)() const;
    void (DriverSession::*pSet)(bool);
    bool bDefault;
};

// The six inherent options with their option-string keywords and defaults.
const InherentOption kInherentOptions[] = {
    {"cache", &DriverSession::GetCache, &DriverSession::SetCache, true},
    {"interchangecheck", &DriverSession::GetInterchangeCheck, &DriverSession::SetInterchangeCheck,
     false},
    {"queryinstrstatus", &DriverSession::GetQueryInstrStatus, &DriverSession::SetQueryInstrStatus,
     false},
    {"rangecheck", &DriverSession::GetRangeCheck, &DriverSession::SetRangeCheck, true},
    {"recordcoercions", &DriverSession::GetRecordCoercions, &DriverSession::SetRecordCoercions,
     false},
    {"simulate", &DriverSession::GetSimulate, &DriverSession::SetSimulate, false},
};

}  // namespace

ViStatus DriverSession::Initialize(ViConstString pResourceName, ViBoolean bIdQuery,
                                   ViBoolean bReset, ViConstString pOptionString) {
    m_strResourceName = pResourceName != nullptr ? pResourceName : "";
    m_bIdQuery = bIdQuery == VI_TRUE;
    m_bReset = bReset == VI_TRUE;
    m_strOptionString = pOptionString != nullptr ? pOptionString : "";

    ViStatus status = ReadConfiguration(m_strResourceName, m_strOptionString);
    if (status < 0) {
        return status;
    }
    if (GetInterchangeCheck() && !GetInterchangeCheckSupported()) {
        return ReportErrorText(IVI_ERROR_BAD_OPTION_VALUE,
                               "Interchange checking is not supported by the driver.", {"True"});
    }
    status = OpenIo();
    if (status < 0) {
        // Give back whatever part of the connection was opened.
        const ViStatus statusClose = CloseIo();
        DRT_ASSERT(statusClose >= 0);
        return status;
    }
    if (GetQueryInstrStatus()) {
        status = ClearStatus();
    }
    if (status >= 0) {
        status =
            QueryIdentity(m_strManufacturer, m_strModel, m_strSerialNumber, m_strFirmwareRevision);
        if (status >= 0) {
            if (!m_bIdQuery || IsModelSupported()) {
                return status;
            }
            status =
                ReportErrorText(IVI_ERROR_ID_QUERY_FAILED, "Unrecognized model: %s", {m_strModel});
        }
    }
    const ViStatus statusClose = CloseIo();
    DRT_ASSERT(statusClose >= 0);
    return status;
}

ViStatus DriverSession::ParseOptionString(const std::string& strOptionString) {
    const auto match = FindDriverSetup(strOptionString);
    if (!match) {
        return ParseInherentOptions(strOptionString);
    }
    const ViStatus status = ParseDriverSetup(match->strText);
    if (status < 0) {
        return status;
    }
    return ParseInherentOptions(strOptionString.substr(0, match->nStart));
}

ViStatus DriverSession::ParseInherentOptions(const std::string& strText) {
    std::string strLower = strText;
    std::transform(strLower.begin(), strLower.end(), strLower.begin(), [](char ch) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    });
    ViStatus status = VI_SUCCESS;
    for (const auto& [strName, strValue] : FindInherentOptions(strLower)) {
        const auto* pOption = std::find_if(std::begin(kInherentOptions), std::end(kInherentOptions),
                                           [&strKey = strName](const InherentOption& option) {
                                               return strKey == option.pKeyword;
                                           });
        if (pOption != std::end(kInherentOptions)) {
            bool bFlag = (this->*(pOption->pGet))();
            status = ParseBooleanOption(strName, strValue, bFlag);
            (this->*(pOption->pSet))(bFlag);
        } else {
            status = ReportError(IVI_ERROR_BAD_OPTION_NAME, {strName});
        }
        if (m_mapInherentOptions.count(strName) != 0) {
            return ReportErrorText(IVI_ERROR_CANNOT_RECOVER,
                                   "Inherent option '%s' appears more than once.", {strName});
        }
        m_mapInherentOptions.emplace(strName, strValue);
        if (status < 0) {
            break;
        }
    }
    return status;
}

ViStatus DriverSession::ParseBooleanOption(const std::string&, const std::string& strValue,
                                           bool& bFlag) {
    if (strValue == "true" || strValue == "vi_true" || strValue == "1") {
        bFlag = true;
        return VI_SUCCESS;
    }
    if (strValue == "false" || strValue == "vi_false" || strValue == "0") {
        bFlag = false;
        return VI_SUCCESS;
    }
    return ReportError(IVI_ERROR_BAD_OPTION_VALUE, {strValue});
}

ViStatus DriverSession::ParseDriverSetup(const std::string& strText) {
    m_mapDriverSetupOptions.clear();
    m_strDriverSetup = strText;
    for (const auto& [strKey, strValue] : FindDriverSetupPairs(strText)) {
        const ViStatus status = ApplyDriverSetupOption(strKey, strValue);
        if (status < 0) {
            return status;
        }
        if (m_mapDriverSetupOptions.count(strKey) != 0) {
            return ReportErrorText(IVI_ERROR_CANNOT_RECOVER,
                                   "DriverSetup option '%s' appears more than once.", {strKey});
        }
        m_mapDriverSetupOptions.emplace(strKey, strValue);
    }
    return VI_SUCCESS;
}

ViStatus DriverSession::ApplyDriverSetupOption(const std::string& strKey,
                                               const std::string& strValue) {
    if (EqualsNoCase(strKey, "Model")) {
        m_strModel = strValue;
    }
    return VI_SUCCESS;
}

void DriverSession::ResetOptionDefaults() {
    for (const InherentOption& option : kInherentOptions) {
        (this->*(option.pSet))(option.bDefault);
    }
}

}  // namespace drt
