// Digital I/O pins, power-on state, saved instrument states, the status
// registers' housekeeping and the system commands.
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "TARVEK.h"
#include "driver/attributes/EnumTables.h"
#include "driver/functions/FunctionHelpers.h"
#include "runtime/errors/StatusMessages.h"
#include "runtime/text/TextUtils.h"

using tarvek::TARVEKDriverSession;
using namespace tarvek::functions;

namespace {

// Instrument responses are read into buffers of this size.
constexpr ViInt32 kResponseBufferSize = 256;

// The enable registers that "STAT:PRES" puts back to their preset values.
constexpr ViAttr kPresetRegisters[] = {
    TARVEK_ATTR_QUESTIONABLE_ENABLE_REGISTER,
    TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_ENABLE_REGISTER,
    TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY1_ENABLE_REGISTER,
    TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY2_ENABLE_REGISTER,
    TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY3_ENABLE_REGISTER,
};

// A pin command: the pin number, then the word of an enumerated setting.
ViStatus SendPinCommand(ViSession vi, const char* pFormat, ViInt32 nPin,
                        const drt::EnumCommandMap& map, ViInt32 nValue) {
    return CallExchange(vi, [&](TARVEKDriverSession& session) {
        std::string strWord;
        const ViStatus status = drt::ValueToCommand(session, map, nValue, strWord);
        return status < 0 ? status : session.Printf(pFormat, nPin, strWord.c_str());
    });
}

// A command after which the instrument's settings are no longer those the
// attribute caches remember (a recalled state, a cleared instrument).
ViStatus SendStateCommand(ViSession vi, const char* pFormat, ViInt32 nArgument) {
    return CallExchange(vi, [&](TARVEKDriverSession& session) {
        const ViStatus status = session.Printf(pFormat, nArgument);
        if (status >= 0) {
            session.InvalidateAllAttributes();
        }
        return status;
    });
}

// The fields of a reply, split at every comma and trimmed: an empty reply is
// one empty field, and a trailing comma adds an empty last field.
std::vector<std::string> SplitReplyFields(std::string_view strReply) {
    std::vector<std::string> vecFields;
    for (std::size_t nStart = 0;;) {
        const std::size_t nEnd = strReply.find(',', nStart);
        vecFields.push_back(drt::TrimString(strReply.substr(nStart, nEnd - nStart)));
        if (nEnd == std::string_view::npos) {
            return vecFields;
        }
        nStart = nEnd + 1;
    }
}

// "<state>" or "<state>,<memory location>". The state is converted into
// nState even when the conversion fails (it then holds -1).
ViStatus ParsePowerOnState(TARVEKDriverSession& session, const std::string& strResponse,
                           ViInt32& nState, ViInt32& nLocation) {
    const std::vector<std::string> vecFields = SplitReplyFields(strResponse);
    if (vecFields.size() > 2) {
        return session.ReportError(IVI_ERROR_UNEXPECTED_RESPONSE);
    }
    ViStatus status =
        drt::ResponseToValue(session, tarvek::PowerOnStateMap(), vecFields[0], nState);
    if (status < 0 || vecFields.size() == 1) {
        return status;
    }
    // A decimal number, optionally signed ("+4" as the instrument may write it).
    std::string_view strLocation = vecFields[1];
    if (strLocation.size() > 1 && strLocation[0] == '+' && strLocation[1] != '-') {
        strLocation.remove_prefix(1);
    }
    const char* pEnd = strLocation.data() + strLocation.size();
    ViInt32 nParsed = 0;
    const auto [pStop, error] = std::from_chars(strLocation.data(), pEnd, nParsed, 10);
    if (error != std::errc() || pStop != pEnd) {
        // A location that is no number is as unexpected as a third field.
        return session.ReportError(IVI_ERROR_UNEXPECTED_RESPONSE);
    }
    nLocation = nParsed;
    return status;
}

}  // namespace

extern "C" {

ViStatus _VI_FUNC TARVEK_ConfigureDigitalFunction(ViSession vi, ViInt32 Pin, ViInt32 Function) {
    return SendPinCommand(vi, "SOUR:DIG:PIN%ld:FUNC %s\n", Pin, tarvek::DigitalPinFunctionMap(),
                          Function);
}

ViStatus _VI_FUNC TARVEK_ConfigureDigitalPolarity(ViSession vi, ViInt32 Pin, ViInt32 Polarity) {
    return SendPinCommand(vi, "SOUR:DIG:PIN%ld:POL %s\n", Pin, tarvek::DigitalPinPolarityMap(),
                          Polarity);
}

// The memory location goes with the user state only.
ViStatus _VI_FUNC TARVEK_ConfigurePowerOnState(ViSession vi, ViInt32 State,
                                               ViInt32 MemoryLocation) {
    return CallExchange(vi, [&](TARVEKDriverSession& session) {
        std::string strWord;
        const ViStatus status =
            drt::ValueToCommand(session, tarvek::PowerOnStateMap(), State, strWord);
        if (status < 0) {
            return status;
        }
        return State == TARVEK_VAL_POWER_ON_STATE_USER_STATE
                   ? session.Printf("OUTP:PON:STAT %s,%d\n", strWord.c_str(), MemoryLocation)
                   : session.Printf("OUTP:PON:STAT %s\n", strWord.c_str());
    });
}

ViStatus _VI_FUNC TARVEK_QueryPowerOnState(ViSession vi, ViInt32* State, ViInt32* MemoryLocation) {
    return Call(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        ViStatus status = drt::CheckNullPointers(vi, "TARVEK_QueryPowerOnState",
                                                 "State, MemoryLocation", State, MemoryLocation);
        if (status < 0) {
            return status;
        }
        *State = 0;
        *MemoryLocation = 0;
        if (session.GetSimulate()) {
            *State = TARVEK_VAL_POWER_ON_STATE_USER_STATE;
            *MemoryLocation = 2;
            return VI_SUCCESS;
        }
        ViChar buffer[kResponseBufferSize] = {};
        ViInt32 nSize = kResponseBufferSize;
        // The whole line, which may be empty ("%#[^\n]" fails on an empty one).
        if ((status = session.Queryf("OUTP:PON:STAT?\n", "%#t", &nSize, buffer)) < 0) {
            return status;
        }
        const auto nLength = static_cast<std::size_t>(
            nSize < 0 ? 0 : (nSize >= kResponseBufferSize ? kResponseBufferSize - 1 : nSize));
        std::string strResponse(buffer, strnlen(buffer, nLength));
        if (!strResponse.empty() && strResponse.back() == '\n') {
            strResponse.pop_back();
        }
        ViInt32 nState = 0;
        ViInt32 nLocation = 0;
        status = ParsePowerOnState(session, strResponse, nState, nLocation);
        *State = nState;
        *MemoryLocation = nLocation;
        return status < 0 ? status : session.CheckStatus();
    });
}

ViStatus _VI_FUNC TARVEK_SaveState(ViSession vi, ViInt32 Location) {
    return CallExchange(
        vi, [&](TARVEKDriverSession& session) { return session.Printf("*SAV %ld\n", Location); });
}

ViStatus _VI_FUNC TARVEK_RecallState(ViSession vi, ViInt32 Location) {
    return SendStateCommand(vi, "*RCL %ld\n", Location);
}

ViStatus _VI_FUNC TARVEK_ClearStatus(ViSession vi) {
    return SendFixedCommand(vi, "*CLS\n");
}

ViStatus _VI_FUNC TARVEK_Preset(ViSession vi) {
    return CallExchange(vi, [&](TARVEKDriverSession& session) {
        const ViStatus status = session.Printf("STAT:PRES\n");
        if (status >= 0) {
            for (const ViAttr nId : kPresetRegisters) {
                session.Caches().int32s.Invalidate(nId, nullptr);
            }
        }
        return status;
    });
}

ViStatus _VI_FUNC TARVEK_Beep(ViSession vi) {
    return SendFixedCommand(vi, "SYST:BEEP:IMM\n");
}

ViStatus _VI_FUNC TARVEK_RemoteLock(ViSession vi) {
    return SendFixedCommand(vi, "SYST:RWL\n");
}

// The instrument forgets its saved states and lists and restarts; the session
// stays open.
ViStatus _VI_FUNC TARVEK_ClearAndReboot(ViSession vi) {
    return CallExchange(vi, [&](TARVEKDriverSession& session) {
        const ViStatus status = session.Printf("SYST:SEC:IMM\n");
        if (status >= 0) {
            session.InvalidateAllAttributes();
        }
        return status;
    });
}

}  // extern "C"
