// A small program for instruction counts under callgrind: runs one operation
// a given number of times inside MeasuredLoop, so that
//   valgrind --tool=callgrind --toggle-collect=MeasuredLoop attribute_probe <op> <n>
// reports the loop alone; divide by n for the cost of one call.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BenchRows.h"
#include "runtime/repcap/OutputChannel.h"
#include "runtime/session/CallFrame.h"

using namespace attrbench;

extern "C" __attribute__((noinline)) ViStatus MeasuredLoop(int nOperation, long nCount,
                                                           ViSession vi,
                                                           drt::DriverSession* pSession) {
    ViStatus nStatus = VI_SUCCESS;
    drt::ChannelListPtr pList;
    for (long n = 0; n < nCount; ++n) {
        const double dValue = static_cast<double>(n);
        switch (nOperation) {
            case 0:
                nStatus |= SetReal(vi, nullptr, kBenchReal, dValue);
                break;
            case 1:
                nStatus |= SetReal(vi, "CH1", kBenchRealChannel, dValue);
                break;
            case 2:
                nStatus |= drt::ResolveChannels(*pSession, "CH1-CH3", true, pList);
                break;
            case 4:
                nStatus |=
                    TARVEK_SetAttributeViReal64(vi, nullptr, TARVEK_ATTR_CURRENT_LEVEL, dValue);
                break;
            case 5:
                nStatus |=
                    TARVEK_SetAttributeViReal64(vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, dValue);
                break;
            default:
                nStatus |= TARVEK_SetAttributeViBoolean(vi, "", TARVEK_ATTR_RANGE_CHECK, VI_TRUE);
                break;
        }
    }
    return nStatus;
}

int main(int argc, char** argv) {
    // set-real and set-real-channel use the benchmark's own rows; the
    // exported-* operations use the catalogue's current and voltage levels.
    const char* operations[] = {"set-real", "set-real-channel",  "resolve-range",
                                "set-flag", "exported-set-real", "exported-set-real-channel"};
    if (argc != 3) {
        std::fprintf(stderr, "usage: attribute_probe <operation> <count>\n");
        return 2;
    }
    int nOperation = -1;
    for (int n = 0; n < 6; ++n) {
        if (std::strcmp(argv[1], operations[n]) == 0) {
            nOperation = n;
        }
    }
    if (nOperation < 0) {
        return 2;
    }
    if (nOperation >= 4 && (drt::AttributeTable().Find(TARVEK_ATTR_CURRENT_LEVEL) == nullptr ||
                            drt::AttributeTable().Find(TARVEK_ATTR_VOLTAGE_LEVEL) == nullptr)) {
        std::fprintf(stderr, "the catalogue attributes are not registered\n");
        return 3;
    }
    const ViSession vi = OpenSimulated();
    drt::DriverSession* pSession = nullptr;
    drt::FetchSession(vi, pSession);
    // Warm up: first-use tables, the memo and the cache slots exist afterwards.
    MeasuredLoop(nOperation, 2, vi, pSession);
    const ViStatus nStatus = MeasuredLoop(nOperation, std::atol(argv[2]), vi, pSession);
    TARVEK_close(vi);
    return nStatus == VI_SUCCESS ? 0 : 1;
}
