// The battery test (one-output family only) and the data logger.
#include "TARVEK.h"
#include "driver/Identity.h"
#include "driver/functions/FunctionHelpers.h"

using namespace tarvek::functions;

namespace {

const FunctionGate& StartBatteryGate() {
    static const FunctionGate gate("TARVEK_StartBatteryTest", tarvek::kFamily6310);
    return gate;
}

const FunctionGate& StopBatteryGate() {
    static const FunctionGate gate("TARVEK_StopBatteryTest", tarvek::kFamily6310);
    return gate;
}

}  // namespace

extern "C" {

ViStatus _VI_FUNC TARVEK_StartBatteryTest(ViSession vi) {
    return SendGatedCommand(vi, StartBatteryGate(), "BATT:MOD:STAT 1\n");
}

ViStatus _VI_FUNC TARVEK_StopBatteryTest(ViSession vi) {
    return SendGatedCommand(vi, StopBatteryGate(), "BATT:MOD:STAT 0\n");
}

// Arms the logger; it starts on its trigger source.
ViStatus _VI_FUNC TARVEK_InitiateDataLogger(ViSession vi) {
    return SendFixedCommand(vi, "INIT:IMM:DLOG\n");
}

// Triggers the logger at once.
ViStatus _VI_FUNC TARVEK_StartDataLogger(ViSession vi) {
    return SendFixedCommand(vi, "TRIG:DLOG:IMM\n");
}

ViStatus _VI_FUNC TARVEK_StopDataLogger(ViSession vi) {
    return SendFixedCommand(vi, "ABOR:DLOG\n");
}

}  // extern "C"
