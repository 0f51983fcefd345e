// Typed attribute access by id, and the names of the output channels.
#include "TARVEK.h"
#include "driver/TARVEKDriverSession.h"
#include "runtime/attributes/AttributeDispatch.h"
#include "runtime/repcap/OutputChannel.h"
#include "runtime/session/CallFrame.h"

namespace {

// The exported scalar reads check the value pointer before dispatching.
template <class T>
ViStatus GetScalar(ViSession vi, ViConstString channelName, ViAttr nId, T* pValue,
                   const char* pFunction) {
    return drt::GuardExceptions(vi, [&]() -> ViStatus {
        if (pValue == nullptr) {
            return drt::SetSessionError(vi, IVI_ERROR_NULL_POINTER, {pFunction, "AttributeValue"});
        }
        return drt::GetAttributeTyped<T>(vi, channelName, nId, pValue);
    });
}

template <class T>
ViStatus SetScalar(ViSession vi, ViConstString channelName, ViAttr nId, T value) {
    return drt::GuardExceptions(
        vi, [&] { return drt::SetAttributeTyped<T>(vi, channelName, nId, value); });
}

}  // namespace

extern "C" {

ViStatus _VI_FUNC TARVEK_GetAttributeViInt32(ViSession vi, ViConstString RepCapIdentifier,
                                             ViAttr AttributeID, ViInt32* AttributeValue) {
    return GetScalar(vi, RepCapIdentifier, AttributeID, AttributeValue,
                     "TARVEK_GetAttributeViInt32");
}

ViStatus _VI_FUNC TARVEK_GetAttributeViReal64(ViSession vi, ViConstString RepCapIdentifier,
                                              ViAttr AttributeID, ViReal64* AttributeValue) {
    return GetScalar(vi, RepCapIdentifier, AttributeID, AttributeValue,
                     "TARVEK_GetAttributeViReal64");
}

ViStatus _VI_FUNC TARVEK_GetAttributeViBoolean(ViSession vi, ViConstString RepCapIdentifier,
                                               ViAttr AttributeID, ViBoolean* AttributeValue) {
    return GetScalar(vi, RepCapIdentifier, AttributeID, AttributeValue,
                     "TARVEK_GetAttributeViBoolean");
}

ViStatus _VI_FUNC TARVEK_GetAttributeViSession(ViSession vi, ViConstString RepCapIdentifier,
                                               ViAttr AttributeID, ViSession* AttributeValue) {
    return GetScalar(vi, RepCapIdentifier, AttributeID, AttributeValue,
                     "TARVEK_GetAttributeViSession");
}

ViStatus _VI_FUNC TARVEK_GetAttributeViString(ViSession vi, ViConstString RepCapIdentifier,
                                              ViAttr AttributeID, ViInt32 AttributeValueBufferSize,
                                              ViChar AttributeValue[]) {
    return drt::GuardExceptions(vi, [&] {
        return drt::GetAttributeString(vi, RepCapIdentifier, AttributeID, AttributeValueBufferSize,
                                       AttributeValue);
    });
}

ViStatus _VI_FUNC TARVEK_SetAttributeViInt32(ViSession vi, ViConstString RepCapIdentifier,
                                             ViAttr AttributeID, ViInt32 AttributeValue) {
    return SetScalar(vi, RepCapIdentifier, AttributeID, AttributeValue);
}

ViStatus _VI_FUNC TARVEK_SetAttributeViReal64(ViSession vi, ViConstString RepCapIdentifier,
                                              ViAttr AttributeID, ViReal64 AttributeValue) {
    return SetScalar(vi, RepCapIdentifier, AttributeID, AttributeValue);
}

ViStatus _VI_FUNC TARVEK_SetAttributeViBoolean(ViSession vi, ViConstString RepCapIdentifier,
                                               ViAttr AttributeID, ViBoolean AttributeValue) {
    return SetScalar(vi, RepCapIdentifier, AttributeID, AttributeValue);
}

ViStatus _VI_FUNC TARVEK_SetAttributeViSession(ViSession vi, ViConstString RepCapIdentifier,
                                               ViAttr AttributeID, ViSession AttributeValue) {
    return SetScalar(vi, RepCapIdentifier, AttributeID, AttributeValue);
}

ViStatus _VI_FUNC TARVEK_SetAttributeViString(ViSession vi, ViConstString RepCapIdentifier,
                                              ViAttr AttributeID, ViConstString AttributeValue) {
    return SetScalar(vi, RepCapIdentifier, AttributeID, AttributeValue);
}

ViStatus _VI_FUNC TARVEK_GetChannelName(ViSession vi, ViInt32 Index, ViInt32 BufferSize,
                                        ViChar Name[]) {
    return drt::CallLocked<tarvek::TARVEKDriverSession>(
        vi, [&](tarvek::TARVEKDriverSession& session) {
            return drt::GetChannelName(session, Index, BufferSize, Name);
        });
}

ViStatus _VI_FUNC TARVEK_ResolveChannelNames(ViSession vi, ViConstString Selector,
                                             ViInt32 BufferSize, ViChar PhysicalNames[]) {
    return drt::CallLocked<tarvek::TARVEKDriverSession>(
        vi, [&](tarvek::TARVEKDriverSession& session) {
            return drt::ResolveChannelNames(session, Selector, BufferSize, PhysicalNames);
        });
}

}  // extern "C"
