// List mode: switching an output between fixed and list operation, storing
// the list data, and starting a list. The lists themselves are programmed
// through the list attributes; aborting is TARVEK_AbortList (triggering).
#include "TARVEK.h"
#include "driver/attributes/EnumTables.h"
#include "driver/functions/FunctionHelpers.h"

using tarvek::TARVEKDriverSession;
using namespace tarvek::functions;

extern "C" {

// Puts the selected output into list operation running list Value.
ViStatus _VI_FUNC TARVEK_EnableList(ViSession vi, ViInt32 Value) {
    return CallExchange(vi, [&](TARVEKDriverSession& session) {
        return session.Printf("OUTP:MODE LIST,%ld\n", Value);
    });
}

ViStatus _VI_FUNC TARVEK_DisableList(ViSession vi) {
    return SendFixedCommand(vi, "OUTP:MODE FIX\n");
}

ViStatus _VI_FUNC TARVEK_SaveListData(ViSession vi) {
    return SendFixedCommand(vi, "SOUR:LIST:SAVE\n");
}

ViStatus _VI_FUNC TARVEK_StartList(ViSession vi, ViInt32 Channel) {
    return SendWordCommand(vi, "INIT:IMM %s\n", tarvek::ChannelMap(), Channel);
}

}  // extern "C"
