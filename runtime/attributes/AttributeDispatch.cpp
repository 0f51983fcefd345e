#include "runtime/attributes/AttributeDispatch.h"

#include <cstring>
#include <string>
#include <type_traits>

#include "runtime/errors/StatusMessages.h"
#include "runtime/io/CommandText.h"

namespace drt {

namespace {

// Steps shared by every typed access: the id is registered, its type is the
// requested one. Returns the descriptor, or null with nStatus recorded.
template <class T>
const AttributeDescriptor* FindTyped(const AttributeRegistry& registry, ViSession vi, ViAttr nId,
                                     const char* pDirection, ViStatus& nStatus) {
    const AttributeDescriptor* pDescriptor = registry.Find(nId);
    if (pDescriptor == nullptr) {
        nStatus = SetSessionError(vi, IVI_ERROR_INVALID_ATTRIBUTE, {std::to_string(nId)});
        return nullptr;
    }
    if (pDescriptor->valueType != ValueTraits<T>::kType) {
        nStatus = SetSessionError(vi, IVI_ERROR_TYPES_DO_NOT_MATCH,
                                  {pDirection, TypeName(ValueTraits<T>::kType), pDescriptor->name,
                                   pDescriptor->typeName});
        return nullptr;
    }
    return pDescriptor;
}

}  // namespace

template <class T>
ViStatus GetAttributeTyped(const AttributeRegistry& registry, ViSession vi,
                           ViConstString channelName, ViAttr nId, T* pValue) {
    ViStatus nStatus = VI_SUCCESS;
    const AttributeDescriptor* pDescriptor = FindTyped<T>(registry, vi, nId, "Get", nStatus);
    if (pDescriptor == nullptr) {
        return nStatus;
    }
    const auto getter = pDescriptor->getter.Get<T>();
    if (getter == nullptr) {
        return SetSessionError(vi, IVI_ERROR_IVI_ATTR_NOT_READABLE, {pDescriptor->name});
    }
    return getter(vi, channelName, pValue);
}

ViStatus GetAttributeString(const AttributeRegistry& registry, ViSession vi,
                            ViConstString channelName, ViAttr nId, ViInt32 nBufferSize,
                            ViChar* pBuffer) {
    ViStatus nStatus = VI_SUCCESS;
    const AttributeDescriptor* pDescriptor =
        FindTyped<ViConstString>(registry, vi, nId, "Get", nStatus);
    if (pDescriptor == nullptr) {
        return nStatus;
    }
    const auto getter = pDescriptor->getter.Get<ViConstString>();
    if (getter == nullptr) {
        return SetSessionError(vi, IVI_ERROR_IVI_ATTR_NOT_READABLE, {pDescriptor->name});
    }
    if (pBuffer == nullptr) {
        if (nBufferSize == 0) {
            return kMaxStringAttributeLength;
        }
        return SetSessionError(vi, IVI_ERROR_NULL_POINTER,
                               {"GetAttributeViString", "AttributeValueBufferSize"});
    }
    if (nBufferSize == 0) {
        return kMaxStringAttributeLength;
    }
    if (nBufferSize < 0) {
        // The caller promises room for the longest value.
        return getter(vi, channelName, kMaxStringAttributeLength, pBuffer);
    }
    nStatus = getter(vi, channelName, nBufferSize, pBuffer);
    if (nStatus < 0) {
        return nStatus;
    }
    const std::size_t nLength = strnlen(pBuffer, static_cast<std::size_t>(nBufferSize));
    if (static_cast<std::size_t>(nBufferSize) == nLength + 1) {
        // Filled exactly, which is also what a cut value looks like.
        return kMaxStringAttributeLength;
    }
    return nStatus;
}

template <class T>
ViStatus SetAttributeTyped(const AttributeRegistry& registry, ViSession vi,
                           ViConstString channelName, ViAttr nId, T value) {
    ViStatus nStatus = VI_SUCCESS;
    const AttributeDescriptor* pDescriptor = FindTyped<T>(registry, vi, nId, "Set", nStatus);
    if (pDescriptor == nullptr) {
        return nStatus;
    }
    const auto setter = pDescriptor->setter.Get<T>();
    if (setter == nullptr) {
        return SetSessionError(vi, IVI_ERROR_IVI_ATTR_NOT_WRITABLE, {pDescriptor->name});
    }
    if constexpr (std::is_same_v<T, ViConstString>) {
        // Every text write passes here, whoever wrote its callback; a text
        // that would end or add a command goes no further. A null text is
        // the callback's to report.
        if (value != nullptr) {
            nStatus = CheckCommandText(vi, value, pDescriptor->pTextGrammar, pDescriptor->name,
                                       "SetAttributeViString", "AttributeValue");
            if (nStatus < 0) {
                return nStatus;
            }
        }
    }
    return setter(vi, channelName, value);
}

template ViStatus GetAttributeTyped<ViInt32>(const AttributeRegistry&, ViSession, ViConstString,
                                             ViAttr, ViInt32*);
template ViStatus GetAttributeTyped<ViReal64>(const AttributeRegistry&, ViSession, ViConstString,
                                              ViAttr, ViReal64*);
template ViStatus GetAttributeTyped<ViBoolean>(const AttributeRegistry&, ViSession, ViConstString,
                                               ViAttr, ViBoolean*);
template ViStatus GetAttributeTyped<ViSession>(const AttributeRegistry&, ViSession, ViConstString,
                                               ViAttr, ViSession*);
template ViStatus SetAttributeTyped<ViInt32>(const AttributeRegistry&, ViSession, ViConstString,
                                             ViAttr, ViInt32);
template ViStatus SetAttributeTyped<ViReal64>(const AttributeRegistry&, ViSession, ViConstString,
                                              ViAttr, ViReal64);
template ViStatus SetAttributeTyped<ViBoolean>(const AttributeRegistry&, ViSession, ViConstString,
                                               ViAttr, ViBoolean);
template ViStatus SetAttributeTyped<ViSession>(const AttributeRegistry&, ViSession, ViConstString,
                                               ViAttr, ViSession);
template ViStatus SetAttributeTyped<ViConstString>(const AttributeRegistry&, ViSession,
                                                   ViConstString, ViAttr, ViConstString);

}  // namespace drt
