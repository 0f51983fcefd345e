// Operations of interfaces this library does not drive (GPIB, VXI, PXI and
// register-based resources). They exist so that every VISA client finds
// its symbols; on a live session they answer VI_ERROR_NSUP_OPER, on anything
// else VI_ERROR_INV_OBJECT. None of them touches its other arguments.
#include "Session.h"
#include "visa.h"

namespace tkvisa {
namespace {

ViStatus Unsupported(ViObject vi) noexcept {
    try {
        return SessionTable::Instance().Find(vi) ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT;
    } catch (...) {
        return VI_ERROR_SYSTEM_ERROR;
    }
}

}  // namespace
}  // namespace tkvisa

using tkvisa::Unsupported;

extern "C" {

ViStatus _VI_FUNC viGpibControlATN(ViSession vi, ViUInt16) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viGpibSendIFC(ViSession vi) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viGpibCommand(ViSession vi, ViConstBuf, ViUInt32, ViPUInt32 retCnt) {
    if (retCnt != nullptr) {
        *retCnt = 0;
    }
    return Unsupported(vi);
}
ViStatus _VI_FUNC viGpibPassControl(ViSession vi, ViUInt16, ViUInt16) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viVxiCommandQuery(ViSession vi, ViUInt16, ViUInt32, ViPUInt32) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viAssertUtilSignal(ViSession vi, ViUInt16) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viAssertIntrSignal(ViSession vi, ViInt16, ViUInt32) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viMapTrigger(ViSession vi, ViInt16, ViInt16, ViUInt16) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viUnmapTrigger(ViSession vi, ViInt16, ViInt16) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viUsbControlOut(ViSession vi, ViInt16, ViInt16, ViUInt16, ViUInt16, ViUInt16,
                                  ViConstBuf) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viUsbControlIn(ViSession vi, ViInt16, ViInt16, ViUInt16, ViUInt16, ViUInt16,
                                 ViPBuf, ViPUInt16 retCnt) {
    if (retCnt != nullptr) {
        *retCnt = 0;
    }
    return Unsupported(vi);
}
ViStatus _VI_FUNC viMapAddress(ViSession vi, ViUInt16, ViBusAddress, ViBusSize, ViBoolean, ViAddr,
                               ViPAddr) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viUnmapAddress(ViSession vi) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viMemAlloc(ViSession vi, ViBusSize, ViPBusAddress) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viMemAllocEx(ViSession vi, ViBusSize, ViPBusAddress64) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viMemFree(ViSession vi, ViBusAddress) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viMemFreeEx(ViSession vi, ViBusAddress64) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viMove(ViSession vi, ViUInt16, ViBusAddress, ViUInt16, ViUInt16, ViBusAddress,
                         ViUInt16, ViBusSize) {
    return Unsupported(vi);
}
ViStatus _VI_FUNC viMoveAsync(ViSession vi, ViUInt16, ViBusAddress, ViUInt16, ViUInt16,
                              ViBusAddress, ViUInt16, ViBusSize, ViPJobId jobId) {
    if (jobId != nullptr) {
        *jobId = VI_NULL_JOB;
    }
    return Unsupported(vi);
}

// The register operations of one width. viPeek and viPoke return nothing:
// a peek stores zero so that the caller never reads an unset value.
#define TKVISA_DEFINE_REGISTER_ACCESS(BITS)                                                   \
    ViStatus _VI_FUNC viIn##BITS(ViSession vi, ViUInt16, ViBusAddress, ViPUInt##BITS) {       \
        return Unsupported(vi);                                                               \
    }                                                                                         \
    ViStatus _VI_FUNC viIn##BITS##Ex(ViSession vi, ViUInt16, ViBusAddress64, ViPUInt##BITS) { \
        return Unsupported(vi);                                                               \
    }                                                                                         \
    ViStatus _VI_FUNC viOut##BITS(ViSession vi, ViUInt16, ViBusAddress, ViUInt##BITS) {       \
        return Unsupported(vi);                                                               \
    }                                                                                         \
    ViStatus _VI_FUNC viOut##BITS##Ex(ViSession vi, ViUInt16, ViBusAddress64, ViUInt##BITS) { \
        return Unsupported(vi);                                                               \
    }                                                                                         \
    ViStatus _VI_FUNC viMoveIn##BITS(ViSession vi, ViUInt16, ViBusAddress, ViBusSize,         \
                                     ViAUInt##BITS) {                                         \
        return Unsupported(vi);                                                               \
    }                                                                                         \
    ViStatus _VI_FUNC viMoveIn##BITS##Ex(ViSession vi, ViUInt16, ViBusAddress64, ViBusSize,   \
                                         ViAUInt##BITS) {                                     \
        return Unsupported(vi);                                                               \
    }                                                                                         \
    ViStatus _VI_FUNC viMoveOut##BITS(ViSession vi, ViUInt16, ViBusAddress, ViBusSize,        \
                                      ViAUInt##BITS) {                                        \
        return Unsupported(vi);                                                               \
    }                                                                                         \
    ViStatus _VI_FUNC viMoveOut##BITS##Ex(ViSession vi, ViUInt16, ViBusAddress64, ViBusSize,  \
                                          ViAUInt##BITS) {                                    \
        return Unsupported(vi);                                                               \
    }                                                                                         \
    void _VI_FUNC viPeek##BITS(ViSession, ViAddr, ViPUInt##BITS val) {                        \
        if (val != nullptr) {                                                                 \
            *val = 0;                                                                         \
        }                                                                                     \
    }                                                                                         \
    void _VI_FUNC viPoke##BITS(ViSession, ViAddr, ViUInt##BITS) {}

TKVISA_DEFINE_REGISTER_ACCESS(8)
TKVISA_DEFINE_REGISTER_ACCESS(16)
TKVISA_DEFINE_REGISTER_ACCESS(32)
TKVISA_DEFINE_REGISTER_ACCESS(64)

}  // extern "C"
