// Output configuration and measurement: the IviDCPwrBase and
// IviDCPwrMeasurement functions and the instrument's protection-clearing
// functions. Configure functions are writes of the class attributes; the rest
// are single exchanges or computations.
#include <cstdio>
#include <string>

#include "TARVEK.h"
#include "driver/attributes/AttributeRows.h"
#include "driver/attributes/EnumTables.h"
#include "driver/functions/FunctionHelpers.h"
#include "runtime/attributes/AttributeDispatch.h"
#include "runtime/errors/StatusMessages.h"
#include "runtime/text/TextUtils.h"

using tarvek::TARVEKDriverSession;
using namespace tarvek::functions;

namespace {

// The supplies' power envelope: every output delivers at most 100 W.
constexpr ViReal64 kPowerEnvelope = 100.0;

// Bits of the instrument-summary condition register of an output.
constexpr ViInt32 kConstantCurrentBit = 0x01;
constexpr ViInt32 kOverVoltageBit = 0x02;
constexpr ViInt32 kUnregulatedBit = 0x04;

// The largest level the envelope allows for the other quantity: 100 W divided
// by it (infinite for 0).
ViStatus QueryEnvelope(ViSession vi, const char* pFunction, const char* pParameter,
                       ViConstString pChannelName, ViReal64 dOther, ViReal64* pMaximum) {
    return Call(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (const ViStatus status =
                drt::CheckNullPointers(vi, pFunction, pParameter, pMaximum, pMaximum);
            status < 0) {
            return status;
        }
        const drt::OutputChannel* pChannel = nullptr;
        drt::ChannelListPtr pHolder;
        if (const ViStatus status =
                tarvek::ResolveOneChannel(session, pChannelName, pChannel, pHolder);
            status < 0) {
            return status;
        }
        *pMaximum = kPowerEnvelope / dOther;
        return session.CheckStatus();
    });
}

// A refused range as the message shows it ("%f").
std::string FormatRange(ViReal64 dRange) {
    char szText[64] = {};
    std::snprintf(szText, sizeof szText, "%f", dRange);
    return szText;
}

// Whether the output reports the state in its summary condition register.
bool StateFromRegister(ViInt32 nState, ViInt32 nRegister) {
    switch (nState) {
        case TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE:
            // Regulating on voltage: neither current-limited, nor tripped by
            // over-voltage, nor out of regulation.
            return (nRegister & (kConstantCurrentBit | kOverVoltageBit | kUnregulatedBit)) == 0;
        case TARVEK_VAL_OUTPUT_CONSTANT_CURRENT:
            return (nRegister & kConstantCurrentBit) != 0;
        case TARVEK_VAL_OUTPUT_OVER_VOLTAGE:
            return (nRegister & kOverVoltageBit) != 0;
        case TARVEK_VAL_OUTPUT_OVER_CURRENT:
            return (nRegister & (kConstantCurrentBit | kOverVoltageBit)) != 0;
        case TARVEK_VAL_OUTPUT_UNREGULATED:
            return (nRegister & kUnregulatedBit) != 0;
        default:
            return false;
    }
}

bool IsOutputState(ViInt32 nState) {
    return nState >= TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE && nState <= TARVEK_VAL_OUTPUT_UNREGULATED;
}

// Each output reports its regulation state in its own instrument-summary
// register: output n in register n (the one-output model has register 1
// only). 0 when the name is no output's.
ViAttr SummaryConditionRegister(const std::string& strName) {
    static constexpr struct {
        const char* pPrefix;
        ViAttr nRegister;
    } kRegisters[] = {
        {"CH1", TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY1_CONDITION_REGISTER},
        {"CH2", TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY2_CONDITION_REGISTER},
        {"CH3", TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY3_CONDITION_REGISTER},
    };
    const std::string_view strPrefix = std::string_view(strName).substr(0, 3);
    for (const auto& entry : kRegisters) {
        if (drt::EqualsNoCase(strPrefix, entry.pPrefix)) {
            return entry.nRegister;
        }
    }
    return 0;
}

}  // namespace

extern "C" {

ViStatus _VI_FUNC TARVEK_ConfigureVoltageLevel(ViSession vi, ViConstString ChannelName,
                                               ViReal64 Level) {
    return ConfigureChannels(vi, ChannelName, {{TARVEK_ATTR_VOLTAGE_LEVEL, Level}});
}

ViStatus _VI_FUNC TARVEK_ConfigureCurrentLimit(ViSession vi, ViConstString ChannelName,
                                               ViInt32 Behavior, ViReal64 Limit) {
    return ConfigureChannels(
        vi, ChannelName,
        {{TARVEK_ATTR_CURRENT_LIMIT_BEHAVIOR, Behavior}, {TARVEK_ATTR_CURRENT_LIMIT, Limit}});
}

ViStatus _VI_FUNC TARVEK_ConfigureOVP(ViSession vi, ViConstString ChannelName, ViBoolean Enabled,
                                      ViReal64 Limit) {
    return ConfigureChannels(vi, ChannelName,
                             {{TARVEK_ATTR_OVP_ENABLED, Enabled}, {TARVEK_ATTR_OVP_LIMIT, Limit}});
}

ViStatus _VI_FUNC TARVEK_ConfigureOutputEnabled(ViSession vi, ViConstString ChannelName,
                                                ViBoolean Enabled) {
    return ConfigureChannels(vi, ChannelName, {{TARVEK_ATTR_OUTPUT_ENABLED, Enabled}});
}

// Checks the range against the envelope for the level programmed on each
// channel; sends no range command (the supplies have a single range).
ViStatus _VI_FUNC TARVEK_ConfigureOutputRange(ViSession vi, ViConstString ChannelName,
                                              ViInt32 RangeType, ViReal64 Range) {
    return Call(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        drt::ChannelListPtr pChannels;
        ViStatus status = tarvek::ResolveChannelList(session, ChannelName, pChannels);
        if (status < 0) {
            return status;
        }
        if (RangeType != 0 && RangeType != 1) {
            return session.ReportError(
                IVI_ERROR_INVALID_VALUE,
                {std::to_string(RangeType), "ConfigureOutputRange", "RangeType"});
        }
        for (const drt::OutputChannel& channel : *pChannels) {
            if (!session.GetSimulate() && (status = tarvek::SelectChannel(session, channel)) < 0) {
                return status;
            }
            ViReal64 dLevel = 0.0;
            ViReal64 dMaximum = 0.0;
            if (RangeType == 1) {
                status = drt::GetAttributeTyped<ViReal64>(vi, nullptr, TARVEK_ATTR_CURRENT_LEVEL,
                                                          &dLevel);
                if (status >= 0) {
                    status =
                        TARVEK_QueryMaxVoltageLevel(vi, channel.strName.c_str(), dLevel, &dMaximum);
                }
            } else {
                // The level of this channel: a selector naming several
                // channels cannot be read as one.
                status = drt::GetAttributeTyped<ViReal64>(vi, channel.strName.c_str(),
                                                          TARVEK_ATTR_VOLTAGE_LEVEL, &dLevel);
                if (status >= 0) {
                    status =
                        TARVEK_QueryMaxCurrentLimit(vi, channel.strName.c_str(), dLevel, &dMaximum);
                }
            }
            if (status < 0) {
                return status;
            }
            // A range equal to the maximum passes; NaN never does.
            if (!(Range <= dMaximum)) {
                return session.ReportError(IVI_ERROR_INVALID_VALUE,
                                           {FormatRange(Range), "ConfigureOutputRange", "Range"});
            }
        }
        return status;
    });
}

ViStatus _VI_FUNC TARVEK_QueryMaxCurrentLimit(ViSession vi, ViConstString ChannelName,
                                              ViReal64 VoltageLevel, ViReal64* MaxCurrentLimit) {
    return QueryEnvelope(vi, "TARVEK_QueryMaxCurrentLimit", "MaxCurrentLimit", ChannelName,
                         VoltageLevel, MaxCurrentLimit);
}

ViStatus _VI_FUNC TARVEK_QueryMaxVoltageLevel(ViSession vi, ViConstString ChannelName,
                                              ViReal64 CurrentLimit, ViReal64* MaxVoltageLevel) {
    return QueryEnvelope(vi, "TARVEK_QueryMaxVoltageLevel", "MaxVoltageLevel", ChannelName,
                         CurrentLimit, MaxVoltageLevel);
}

ViStatus _VI_FUNC TARVEK_QueryOutputState(ViSession vi, ViConstString ChannelName,
                                          ViInt32 OutputState, ViBoolean* InState) {
    return Call(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        ViStatus status =
            drt::CheckNullPointers(vi, "TARVEK_QueryOutputState", "InState", InState, InState);
        if (status < 0) {
            return status;
        }
        const drt::OutputChannel* pChannel = nullptr;
        drt::ChannelListPtr pHolder;
        if ((status = tarvek::ResolveOneChannel(session, ChannelName, pChannel, pHolder)) < 0) {
            return status;
        }
        if (session.GetSimulate()) {
            *InState = OutputState == TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE ? VI_TRUE : VI_FALSE;
            return VI_SUCCESS;
        }
        // A refused argument sends nothing, not even the selection.
        if (!IsOutputState(OutputState)) {
            return session.ReportError(IVI_ERROR_VALUE_NOT_SUPPORTED,
                                       {drt::ValueName(tarvek::OutputStateMap(), OutputState),
                                        "OutputState", "QueryOutputState"});
        }
        // The resolved physical name is checked, so a virtual name of an
        // output is accepted like the output's own name.
        const ViAttr nRegisterId = SummaryConditionRegister(pChannel->strName);
        if (nRegisterId == 0) {
            return session.ReportError(IVI_ERROR_INVALID_VALUE,
                                       {pChannel->strName, "QueryOutputState", "ChannelName"});
        }
        if ((status = tarvek::SelectChannel(session, *pChannel)) < 0) {
            return status;
        }
        ViInt32 nRegister = 0;
        if ((status = drt::GetAttributeTyped<ViInt32>(vi, nullptr, nRegisterId, &nRegister)) < 0) {
            return status;
        }
        *InState = StateFromRegister(OutputState, nRegister) ? VI_TRUE : VI_FALSE;
        return session.CheckStatus();
    });
}

ViStatus _VI_FUNC TARVEK_Measure(ViSession vi, ViConstString ChannelName, ViInt32 MeasurementType,
                                 ViReal64* Measurement) {
    return Call(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        ViStatus status =
            drt::CheckNullPointers(vi, "TARVEK_Measure", "Measurement", Measurement, Measurement);
        if (status < 0) {
            return status;
        }
        const drt::OutputChannel* pChannel = nullptr;
        drt::ChannelListPtr pHolder;
        if ((status = tarvek::ResolveOneChannel(session, ChannelName, pChannel, pHolder)) < 0) {
            return status;
        }
        if (MeasurementType != TARVEK_VAL_MEASURE_CURRENT &&
            MeasurementType != TARVEK_VAL_MEASURE_VOLTAGE) {
            return session.ReportError(
                IVI_ERROR_VALUE_NOT_SUPPORTED,
                {drt::ValueName(tarvek::MeasurementTypeMap(), MeasurementType), "MeasurementType",
                 "Measure"});
        }
        if (!session.GetSimulate() && (status = tarvek::SelectChannel(session, *pChannel)) < 0) {
            return status;
        }
        return MeasurementType == TARVEK_VAL_MEASURE_CURRENT
                   ? TARVEK_MeasureCurrent(vi, Measurement)
                   : TARVEK_MeasureVoltage(vi, Measurement);
    });
}

ViStatus _VI_FUNC TARVEK_MeasureCurrent(ViSession vi, ViReal64* Val) {
    return QueryReal(vi, "TARVEK_MeasureCurrent", "Val", "MEAS:SCAL:CURR:DC?\n", Val);
}

ViStatus _VI_FUNC TARVEK_MeasureVoltage(ViSession vi, ViReal64* Val) {
    return QueryReal(vi, "TARVEK_MeasureVoltage", "Val", "MEAS:SCAL:VOLT:DC?\n", Val);
}

// The programmed voltage and current of the selected output.
ViStatus _VI_FUNC TARVEK_QueryChannel(ViSession vi, ViReal64* Voltage, ViReal64* Current) {
    return Call(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (const ViStatus status = drt::CheckNullPointers(vi, "TARVEK_QueryChannel",
                                                           "Voltage, Current", Voltage, Current);
            status < 0) {
            return status;
        }
        if (session.GetSimulate()) {
            *Voltage = 0.0;
            *Current = 0.0;
            return VI_SUCCESS;
        }
        ViReal64 dVoltage = 0.0;
        ViReal64 dCurrent = 0.0;
        ViStatus status = session.Queryf("APPL?\n", "%lf,%lf%*t", &dVoltage, &dCurrent);
        status = RefuseNonFiniteReply(session, status, {dVoltage, dCurrent});
        if (status >= 0) {
            *Voltage = dVoltage;
            *Current = dCurrent;
        }
        return FinishExchange(session, status);
    });
}

// Clears the trips of the first output the selector names.
ViStatus _VI_FUNC TARVEK_ResetOutputProtection(ViSession vi, ViConstString ChannelName) {
    return Call(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        drt::ChannelListPtr pChannels;
        ViStatus status = tarvek::ResolveChannelList(session, ChannelName, pChannels);
        if (status < 0 || pChannels->empty() || session.GetSimulate()) {
            return status;
        }
        if ((status = tarvek::SelectChannel(session, pChannels->front())) < 0) {
            return status;
        }
        return FinishExchange(session, session.Printf("OUTP:PROT:CLE\n"));
    });
}

ViStatus _VI_FUNC TARVEK_ClearProtectionErrors(ViSession vi) {
    return SendFixedCommand(vi, "OUTP:PROT:CLE\n");
}

ViStatus _VI_FUNC TARVEK_ClearOCP(ViSession vi) {
    return SendFixedCommand(vi, "SOUR:CURR:PROT:CLE\n");
}

ViStatus _VI_FUNC TARVEK_ClearOVP(ViSession vi) {
    return SendFixedCommand(vi, "SOUR:VOLT:PROT:CLE\n");
}

}  // extern "C"
