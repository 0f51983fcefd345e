// Typed attribute access: registry lookup, type check, callback presence, then
// the attribute's own callback, which does everything else (handle, lock,
// gate, channel, cache, I/O, status check).
#pragma once

#include "runtime/attributes/AttributeRegistry.h"

namespace drt {

// Longest string value the typed access promises room for.
inline constexpr ViInt32 kMaxStringAttributeLength = 4096;

// Scalar read: T is ViInt32, ViReal64, ViBoolean or ViSession.
template <class T>
ViStatus GetAttributeTyped(const AttributeRegistry& registry, ViSession vi,
                           ViConstString channelName, ViAttr nId, T* pValue);
template <class T>
ViStatus GetAttributeTyped(ViSession vi, ViConstString channelName, ViAttr nId, T* pValue) {
    return GetAttributeTyped<T>(AttributeTable(), vi, channelName, nId, pValue);
}

// String read with the buffer protocol: size 0 (or a null buffer with size 0)
// returns 4096 without calling the callback; a negative size means "at least
// 4096 bytes"; a value that filled the buffer exactly returns 4096.
ViStatus GetAttributeString(const AttributeRegistry& registry, ViSession vi,
                            ViConstString channelName, ViAttr nId, ViInt32 nBufferSize,
                            ViChar* pBuffer);
inline ViStatus GetAttributeString(ViSession vi, ViConstString channelName, ViAttr nId,
                                   ViInt32 nBufferSize, ViChar* pBuffer) {
    return GetAttributeString(AttributeTable(), vi, channelName, nId, nBufferSize, pBuffer);
}

// Write: T is ViInt32, ViReal64, ViBoolean, ViSession or ViConstString.
template <class T>
ViStatus SetAttributeTyped(const AttributeRegistry& registry, ViSession vi,
                           ViConstString channelName, ViAttr nId, T value);
template <class T>
ViStatus SetAttributeTyped(ViSession vi, ViConstString channelName, ViAttr nId, T value) {
    return SetAttributeTyped<T>(AttributeTable(), vi, channelName, nId, value);
}

}  // namespace drt
