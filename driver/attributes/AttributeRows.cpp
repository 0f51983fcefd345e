#include "driver/attributes/AttributeRows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <sstream>

#include "driver/Identity.h"
#include "driver/ModelTable.h"
#include "driver/attributes/CatalogueFacts.h"
#include "runtime/attributes/AttributeDispatch.h"
#include "runtime/enums/ModelGate.h"
#include "runtime/session/CallFrame.h"
#include "runtime/text/TextUtils.h"

// The registry of this driver: the sections in their fixed order.
const drt::AttributeRegistry& drt::AttributeTable() {
    static const AttributeRegistry registry = [] {
        AttributeRegistry table;
        tarvek::RegisterInherentAttributes(table);
        tarvek::RegisterCatalogueAttributes(table);
        return table;
    }();
    return registry;
}

namespace tarvek {

namespace {

// Instrument responses are read into buffers of this size.
constexpr ViInt32 kResponseBufferSize = 256;

constexpr std::string_view kAttributePrefix = "TARVEK_ATTR_";

std::string CallbackName(const char* pVerb, std::string_view strAttribute) {
    if (strAttribute.substr(0, kAttributePrefix.size()) == kAttributePrefix) {
        strAttribute.remove_prefix(kAttributePrefix.size());
    }
    std::string strName = kDriverPrefix;
    strName += pVerb;
    strName += strAttribute;
    return strName;
}

const char* QueryFor(const AttributeRow& row, const TARVEKDriverSession& session) {
    if (row.family.pFamily != nullptr && row.family.pQuery != nullptr &&
        session.IsModelInFamily(row.family.pFamily)) {
        return row.family.pQuery;
    }
    return row.query;
}

const char* CommandFor(const AttributeRow& row, const TARVEKDriverSession& session) {
    if (row.family.pFamily != nullptr && row.family.pCommand != nullptr &&
        session.IsModelInFamily(row.family.pFamily)) {
        return row.family.pCommand;
    }
    return row.command;
}

ViStatus CheckGate(TARVEKDriverSession& session, const RowStatics& statics,
                   const std::string& strName) {
    if (statics.vecUnsupportedModels.empty()) {
        return VI_SUCCESS;
    }
    return drt::CheckModelSupport(session, statics.vecUnsupportedModels, strName, true,
                                  kDriverPrefix);
}

template <class T>
T SimulatedDefault(const AttributeRow& row) {
    if constexpr (std::is_same_v<T, ViReal64>) {
        return row.sim.dValue;
    } else {
        return static_cast<T>(row.sim.nValue);
    }
}

// Reads the response line into a terminated text. "%#t" rather than
// "%#[^\n]": an empty line is a response too (to be reported as one that does
// not convert), and a scan set that matches nothing fails the read.
ViStatus QueryText(TARVEKDriverSession& session, const char* pQuery, std::string& strResponse) {
    ViChar buffer[kResponseBufferSize] = {};
    ViInt32 nSize = kResponseBufferSize;
    const ViStatus nStatus = session.Queryf(pQuery, "%#t", &nSize, buffer);
    if (nStatus < 0) {
        return nStatus;
    }
    const auto nLength =
        static_cast<std::size_t>(std::clamp<ViInt32>(nSize, 0, kResponseBufferSize - 1));
    strResponse.assign(buffer, strnlen(buffer, nLength));
    if (!strResponse.empty() && strResponse.back() == '\n') {
        strResponse.pop_back();
    }
    return nStatus;
}

// One query of a scalar attribute, converted. bConverted tells whether a
// response reached the converter: then value holds its result, on a
// conversion failure its -1 (narrowed to T). An I/O failure leaves value alone.
template <class T>
ViStatus QueryValue(TARVEKDriverSession& session, const AttributeRow& row, const char* pQuery,
                    T& value, bool& bConverted) {
    bConverted = false;
    if (row.values != nullptr) {
        std::string strResponse;
        ViStatus nStatus = QueryText(session, pQuery, strResponse);
        if (nStatus < 0) {
            return nStatus;
        }
        ViInt32 nValue = -1;
        nStatus = drt::ResponseToValue(session, row.values(), strResponse, nValue);
        value = static_cast<T>(nValue);
        bConverted = true;
        return nStatus;
    }
    if constexpr (std::is_same_v<T, ViReal64>) {
        ViReal64 dRead = 0.0;
        ViStatus nStatus = session.Queryf(pQuery, "%lf%*t", &dRead);
        nStatus = RefuseNonFiniteReply(session, nStatus, {dRead});
        if (nStatus >= 0) {
            value = dRead;
        }
        return nStatus;
    } else {
        ViInt32 nValue = 0;
        const ViStatus nStatus = session.Queryf(pQuery, "%ld%*t", &nValue);
        if (nStatus >= 0) {
            value = static_cast<T>(nValue);
        }
        return nStatus;
    }
}

// Sends the row's command with a value (already converted to its word for
// boolean and enumerated rows).
template <class T>
ViStatus SendValue(TARVEKDriverSession& session, const char* pCommand, const std::string& strWord,
                   bool bWord, T value) {
    if (bWord) {
        return session.Printf(pCommand, strWord.c_str());
    }
    if constexpr (std::is_same_v<T, ViReal64>) {
        return session.Printf(pCommand, value);
    } else if constexpr (std::is_same_v<T, ViConstString>) {
        return session.Printf(pCommand, value);
    } else {
        return session.Printf(pCommand, static_cast<ViInt32>(value));
    }
}

// The instrument word of a boolean or enumerated value.
template <class T>
ViStatus ConvertValue(TARVEKDriverSession& session, const AttributeRow& row, T value,
                      std::string& strWord) {
    if constexpr (std::is_same_v<T, ViReal64> || std::is_same_v<T, ViConstString>) {
        return VI_SUCCESS;
    } else {
        if (row.values == nullptr) {
            return VI_SUCCESS;
        }
        return drt::ValueToCommand(session, row.values(), static_cast<ViInt32>(value), strWord);
    }
}

template <class T>
typename drt::CachedType<T>::type StoredValue(T value) {
    if constexpr (std::is_same_v<T, ViConstString>) {
        return std::string(value);
    } else {
        return value;
    }
}

template <class T>
ViStatus WriteInstrumentWide(TARVEKDriverSession& session, const AttributeRow& row, T value) {
    drt::SetterCacheManager<T> guard(session, row.id, StoredValue(value));
    const char* pCommand = CommandFor(row, session);
    if (session.GetSimulate() || pCommand == nullptr) {
        return VI_SUCCESS;
    }
    std::string strWord;
    ViStatus nStatus = ConvertValue(session, row, value, strWord);
    if (nStatus >= 0) {
        nStatus = SendValue(session, pCommand, strWord, row.values != nullptr, value);
    }
    if (nStatus >= 0) {
        nStatus = session.CheckStatus();
    }
    guard.SetStatus(nStatus);
    return nStatus;
}

template <class T>
ViStatus WritePerChannel(TARVEKDriverSession& session, const AttributeRow& row,
                         ViConstString channelName, T value) {
    drt::ChannelListPtr pChannels;
    ViStatus nStatus = ResolveChannelList(session, channelName, pChannels);
    if (nStatus < 0) {
        return nStatus;
    }
    drt::SetterCacheManager<T, ChannelKind::Output> guard(session, *pChannels, row.id,
                                                          StoredValue(value));
    const char* pCommand = CommandFor(row, session);
    if (session.GetSimulate() || pCommand == nullptr || guard.Pending().empty()) {
        return VI_SUCCESS;
    }
    std::string strWord;
    nStatus = ConvertValue(session, row, value, strWord);
    for (const drt::OutputChannel* pChannel : guard.Pending()) {
        if (nStatus < 0) {
            break;
        }
        nStatus = SelectChannel(session, *pChannel);
        if (nStatus >= 0) {
            nStatus = SendValue(session, pCommand, strWord, row.values != nullptr, value);
        }
    }
    if (nStatus >= 0) {
        nStatus = session.CheckStatus();
    }
    guard.SetStatus(nStatus);
    return nStatus;
}

// In simulation with range checking on, refuses a number outside what the
// session's family accepts (the catalogue's ranges), as the instrument would.
// A live session leaves the check to the instrument, whose refusal the status
// check reports with the instrument's own reason.
ViStatus CheckRange(TARVEKDriverSession& session, const AttributeRow& row,
                    const RowStatics& statics, double dValue) {
    const AttributeFacts* pFacts = FindFacts(row.id);
    if (!session.GetSimulate() || !session.GetRangeCheck() || row.values != nullptr ||
        pFacts == nullptr || !pFacts->ranges.bHas) {
        return VI_SUCCESS;
    }
    const ValueRange* pRange = nullptr;
    if (session.IsModelInFamily(kFamily6310)) {
        pRange = &pFacts->ranges.r6310;
    } else if (session.IsModelInFamily(kFamily6510)) {
        pRange = &pFacts->ranges.r6510;
    }
    if (pRange == nullptr || (dValue >= pRange->dMin && dValue <= pRange->dMax)) {
        return VI_SUCCESS;
    }
    std::ostringstream text;
    text << std::setprecision(15) << dValue;
    return session.ReportError(IVI_ERROR_INVALID_VALUE,
                               {text.str(), statics.strSetName, "AttributeValue"});
}

}  // namespace

ViStatus RefuseNonFiniteReply(TARVEKDriverSession& session, ViStatus nStatus,
                              std::initializer_list<ViReal64> values) {
    if (nStatus < 0) {
        return nStatus;
    }
    for (const ViReal64 dValue : values) {
        if (!std::isfinite(dValue)) {
            return session.ReportErrorText(IVI_ERROR_UNEXPECTED_RESPONSE,
                                           "The instrument answered a number that is not finite.");
        }
    }
    return nStatus;
}

RowStatics::RowStatics(const AttributeRow& row)
    : vecUnsupportedModels(row.unsupported != nullptr ? drt::UnsupportedModelList(row.unsupported)
                                                      : std::vector<std::string>()),
      strGetName(CallbackName("_get_", row.name)),
      strSetName(CallbackName("_set_", row.name)) {}

template <class T>
ViStatus ReadRow(const AttributeRow& row, const RowStatics& statics, ViSession vi,
                 ViConstString channelName, T* pValue) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (pValue == nullptr) {
            return session.ReportError(IVI_ERROR_NULL_POINTER,
                                       {statics.strGetName, "AttributeValue"});
        }
        ViStatus nStatus = CheckGate(session, statics, statics.strGetName);
        if (nStatus < 0) {
            return nStatus;
        }
        const drt::OutputChannel* pChannel = nullptr;
        drt::ChannelListPtr pHolder;
        if (row.channel == ChannelKind::Output) {
            nStatus = ResolveOneChannel(session, channelName, pChannel, pHolder);
            if (nStatus < 0) {
                return nStatus;
            }
        }
        drt::GetterCacheManager<T, ChannelKind::Output> guard(session, row.id, pChannel);
        const char* pQuery = QueryFor(row, session);
        if (session.GetSimulate() || pQuery == nullptr) {
            // Simulated, or a value the driver holds itself.
            T value = SimulatedDefault<T>(row);
            if (row.simKind == SimKind::Setting && guard.CachedValue() != nullptr) {
                value = *guard.CachedValue();
            }
            *pValue = value;
            guard.SetValue(value);
            return VI_SUCCESS;
        }
        if (pChannel != nullptr) {
            nStatus = SelectChannel(session, *pChannel);
            if (nStatus < 0) {
                return nStatus;
            }
        }
        T value{};
        bool bConverted = false;
        nStatus = QueryValue(session, row, pQuery, value, bConverted);
        if (nStatus < 0) {
            if (bConverted) {
                *pValue = value;  // the converter's -1
            }
            guard.SetStatus(nStatus);
            return nStatus;
        }
        *pValue = value;
        nStatus = session.CheckStatus();
        guard.SetStatus(nStatus);
        guard.SetValue(value);
        return nStatus;
    });
}

ViStatus ReadRowString(const AttributeRow& row, const RowStatics& statics, ViSession vi,
                       ViConstString channelName, ViInt32 nBufferSize, ViChar* pBuffer) {
    (void)channelName;  // no text attribute has a channel
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (pBuffer == nullptr) {
            return session.ReportError(IVI_ERROR_NULL_POINTER,
                                       {statics.strGetName, "AttributeValue"});
        }
        ViStatus nStatus = CheckGate(session, statics, statics.strGetName);
        if (nStatus < 0) {
            return nStatus;
        }
        drt::GetterCacheManager<ViConstString> guard(session, row.id);
        const char* pQuery = QueryFor(row, session);
        std::string strValue;
        if (session.GetSimulate() || pQuery == nullptr) {
            strValue = row.sim.pText;
            if (row.simKind == SimKind::Setting && guard.CachedValue() != nullptr) {
                strValue = *guard.CachedValue();
            }
            CopyToBuffer(strValue, nBufferSize, pBuffer);
            guard.SetValue(strValue);
            return VI_SUCCESS;
        }
        nStatus = QueryText(session, pQuery, strValue);
        if (nStatus < 0) {
            guard.SetStatus(nStatus);
            return nStatus;
        }
        CopyToBuffer(strValue, nBufferSize, pBuffer);
        nStatus = session.CheckStatus();
        guard.SetStatus(nStatus);
        guard.SetValue(strValue);
        return nStatus;
    });
}

template <class T>
ViStatus WriteRow(const AttributeRow& row, const RowStatics& statics, ViSession vi,
                  ViConstString channelName, T value) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        ViStatus nStatus = CheckGate(session, statics, statics.strSetName);
        if (nStatus < 0) {
            return nStatus;
        }
        if constexpr (std::is_same_v<T, ViConstString>) {
            if (value == nullptr) {
                return session.ReportError(IVI_ERROR_NULL_POINTER,
                                           {statics.strSetName, "AttributeValue"});
            }
        }
        if constexpr (std::is_same_v<T, ViReal64>) {
            // "nan" or "inf" on the wire is at best a command error and at
            // worst a limit the instrument takes: no setting is ever either.
            if (!std::isfinite(value)) {
                return session.ReportError(
                    IVI_ERROR_INVALID_VALUE,
                    {std::isnan(value) ? "NaN" : (value > 0 ? "+Inf" : "-Inf"), statics.strSetName,
                     "AttributeValue"});
            }
        }
        if constexpr (std::is_same_v<T, ViReal64> || std::is_same_v<T, ViInt32>) {
            if ((nStatus = CheckRange(session, row, statics, static_cast<double>(value))) < 0) {
                return nStatus;
            }
        }
        if (session.GetSimulate() && session.GetRangeCheck()) {
            // A simulated write sends nothing, but with range checking on it
            // refuses what the instrument's words would: an undefined or
            // refused value.
            std::string strWord;
            if ((nStatus = ConvertValue(session, row, value, strWord)) < 0) {
                return nStatus;
            }
        }
        if (row.channel == ChannelKind::Output) {
            return WritePerChannel(session, row, channelName, value);
        }
        return WriteInstrumentWide(session, row, value);
    });
}

template ViStatus ReadRow<ViInt32>(const AttributeRow&, const RowStatics&, ViSession, ViConstString,
                                   ViInt32*);
template ViStatus ReadRow<ViReal64>(const AttributeRow&, const RowStatics&, ViSession,
                                    ViConstString, ViReal64*);
template ViStatus ReadRow<ViBoolean>(const AttributeRow&, const RowStatics&, ViSession,
                                     ViConstString, ViBoolean*);
template ViStatus ReadRow<ViSession>(const AttributeRow&, const RowStatics&, ViSession,
                                     ViConstString, ViSession*);
template ViStatus WriteRow<ViInt32>(const AttributeRow&, const RowStatics&, ViSession,
                                    ViConstString, ViInt32);
template ViStatus WriteRow<ViReal64>(const AttributeRow&, const RowStatics&, ViSession,
                                     ViConstString, ViReal64);
template ViStatus WriteRow<ViBoolean>(const AttributeRow&, const RowStatics&, ViSession,
                                      ViConstString, ViBoolean);
template ViStatus WriteRow<ViSession>(const AttributeRow&, const RowStatics&, ViSession,
                                      ViConstString, ViSession);
template ViStatus WriteRow<ViConstString>(const AttributeRow&, const RowStatics&, ViSession,
                                          ViConstString, ViConstString);

bool IsSingleOutputModel(const TARVEKDriverSession& session) {
    return session.IsModelInFamily(kFamily6510);
}

ViStatus ResolveChannelList(TARVEKDriverSession& session, ViConstString channelName,
                            drt::ChannelListPtr& pChannels) {
    const ViStatus nStatus = drt::ResolveChannels(session, channelName, true, pChannels);
    if (nStatus < 0 || !IsSingleOutputModel(session)) {
        return nStatus;
    }
    // The model has one output: only the first physical name stands for it.
    const std::string& strOnly = PhysicalChannels().front().strName;
    for (const drt::OutputChannel& channel : *pChannels) {
        if (channel.strName != strOnly) {
            pChannels.reset();
            return session.ReportErrorText(
                IVI_ERROR_UNKNOWN_PHYSICAL_IDENTIFIER,
                "The identifier '%s' is not defined for repeated capability '%s'.",
                {channel.strName, kOutputChannelRepCap});
        }
    }
    return nStatus;
}

ViStatus ResolveOneChannel(TARVEKDriverSession& session, ViConstString channelName,
                           const drt::OutputChannel*& pChannel, drt::ChannelListPtr& pHolder) {
    pChannel = nullptr;
    const ViStatus nStatus = ResolveChannelList(session, channelName, pHolder);
    return nStatus < 0 ? nStatus : drt::RequireSingleChannel(session, pHolder, nStatus, pChannel);
}

ViStatus ResolveAndSelectOne(TARVEKDriverSession& session, ViConstString channelName,
                             const drt::OutputChannel*& pChannel, drt::ChannelListPtr& pHolder) {
    ViStatus nStatus = ResolveOneChannel(session, channelName, pChannel, pHolder);
    if (nStatus >= 0 && !session.GetSimulate()) {
        nStatus = SelectChannel(session, *pChannel);
    }
    return nStatus;
}

ViStatus SelectChannel(TARVEKDriverSession& session, const drt::OutputChannel& channel) {
    static constexpr struct {
        const char* pPrefix;
        ViInt32 nValue;
    } kSelections[] = {
        {"CH1", TARVEK_VAL_CHANNEL1},
        {"CH2", TARVEK_VAL_CHANNEL2},
        {"CH3", TARVEK_VAL_CHANNEL3},
    };
    const std::string_view strPrefix = std::string_view(channel.strName).substr(0, 3);
    for (const auto& selection : kSelections) {
        if (drt::EqualsNoCase(strPrefix, selection.pPrefix)) {
            if (IsSingleOutputModel(session)) {
                return VI_SUCCESS;  // the one output needs no selecting
            }
            return drt::SetAttributeTyped<ViInt32>(session.GetViSession(), "",
                                                   TARVEK_ATTR_SELECTED_CHANNEL, selection.nValue);
        }
    }
    return session.ReportError(IVI_ERROR_UNKNOWN_CHANNEL_NAME);
}

void CopyToBuffer(std::string_view strText, ViInt32 nBufferSize, ViChar* pBuffer) {
    if (pBuffer == nullptr || nBufferSize < 1) {
        return;
    }
    const std::size_t nCopy = std::min(strText.size(), static_cast<std::size_t>(nBufferSize) - 1);
    std::memcpy(pBuffer, strText.data(), nCopy);
    pBuffer[nCopy] = '\0';
}

}  // namespace tarvek
