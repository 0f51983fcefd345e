// Triggering: the class trigger source, software triggers, continuous
// initiation and aborting, and the class trigger features these supplies do
// not have. The one-output family addresses its output without a channel
// parameter ("ABOR", "INIT:CONT 1"), the three-output family with one.
#include "TARVEK.h"
#include "driver/Identity.h"
#include "driver/attributes/EnumTables.h"
#include "driver/functions/FunctionHelpers.h"
#include "runtime/attributes/AttributeDispatch.h"

using tarvek::TARVEKDriverSession;
using namespace tarvek::functions;

namespace {

// The class's triggered levels and initiation: refused on every model.
ViStatus RefuseClassFeature(ViSession vi, const char* pFunction) {
    return Call(vi, [&](TARVEKDriverSession& session) {
        return session.ReportError(IVI_ERROR_FUNCTION_NOT_SUPPORTED, {pFunction});
    });
}

bool HasSingleOutput(const TARVEKDriverSession& session) {
    return session.IsModelInFamily(tarvek::kFamily6510);
}

}  // namespace

extern "C" {

ViStatus _VI_FUNC TARVEK_ConfigureTriggerSource(ViSession vi, ViConstString ChannelName,
                                                ViInt32 Source) {
    return Call(vi, [&](TARVEKDriverSession&) {
        return drt::SetAttributeTyped<ViInt32>(vi, ChannelName, TARVEK_ATTR_TRIGGER_SOURCE, Source);
    });
}

ViStatus _VI_FUNC TARVEK_ConfigureTriggeredVoltageLevel(ViSession vi, ViConstString ChannelName,
                                                        ViReal64 TriggeredLevel) {
    (void)ChannelName;
    (void)TriggeredLevel;
    return RefuseClassFeature(vi, "TARVEK_ConfigureTriggeredVoltageLevel");
}

ViStatus _VI_FUNC TARVEK_ConfigureTriggeredCurrentLimit(ViSession vi, ViConstString ChannelName,
                                                        ViReal64 TriggeredLimit) {
    (void)ChannelName;
    (void)TriggeredLimit;
    return RefuseClassFeature(vi, "TARVEK_ConfigureTriggeredCurrentLimit");
}

ViStatus _VI_FUNC TARVEK_Initiate(ViSession vi) {
    return RefuseClassFeature(vi, "TARVEK_Initiate");
}

// "*TRG" goes out whatever the trigger sources are; outputs not waiting for a
// bus trigger ignore it.
ViStatus _VI_FUNC TARVEK_SendSoftwareTrigger(ViSession vi) {
    return SendFixedCommand(vi, "*TRG\n");
}

ViStatus _VI_FUNC TARVEK_GenerateImmediate(ViSession vi) {
    return SendFixedCommand(vi, "*TRG\n");
}

ViStatus _VI_FUNC TARVEK_ConfigureContinuousTrigger(ViSession vi, ViInt32 Channel,
                                                    ViBoolean Continuous) {
    return CallExchange(vi, [&](TARVEKDriverSession& session) {
        std::string strContinuous;
        std::string strChannel;
        ViStatus status =
            drt::ValueToCommand(session, drt::BooleanMap(), Continuous, strContinuous);
        if (status >= 0) {
            status = drt::ValueToCommand(session, tarvek::ChannelMap(), Channel, strChannel);
        }
        if (status < 0) {
            return status;
        }
        return HasSingleOutput(session)
                   ? session.Printf("INIT:CONT %s\n", strContinuous.c_str())
                   : session.Printf("INIT:CONT %s,%s\n", strChannel.c_str(), strContinuous.c_str());
    });
}

ViStatus _VI_FUNC TARVEK_AbortList(ViSession vi, ViInt32 Channel) {
    return CallExchange(vi, [&](TARVEKDriverSession& session) {
        std::string strChannel;
        const ViStatus status =
            drt::ValueToCommand(session, tarvek::ChannelMap(), Channel, strChannel);
        if (status < 0) {
            return status;
        }
        return HasSingleOutput(session) ? session.Printf("ABOR\n")
                                        : session.Printf("ABOR %s\n", strChannel.c_str());
    });
}

// Aborts the lists of all three outputs, holding the lock across the three.
ViStatus _VI_FUNC TARVEK_Abort(ViSession vi) {
    return Call(vi, [&](TARVEKDriverSession& session) {
        for (const ViInt32 nChannel :
             {TARVEK_VAL_CHANNEL1, TARVEK_VAL_CHANNEL2, TARVEK_VAL_CHANNEL3}) {
            if (const ViStatus status = TARVEK_AbortList(vi, nChannel); status < 0) {
                return status;
            }
        }
        return session.CheckStatus();
    });
}

}  // extern "C"
