// The process-wide attribute registry: attribute id to descriptor (constant
// name, value type, read and write callbacks, cache invalidation). Built once
// before any session exists and only read afterwards, so lookups take no lock.
#pragma once

#include <string>
#include <vector>

#include "visatype.h"

namespace drt {

class DriverSession;
struct TextGrammar;

// The value types an attribute can have. ViInt32 and ViSession are distinct
// although both are 32 bits wide.
enum class ValueType : unsigned char { Int32, Real64, Boolean, Session, String };

// The type as callers name it: "ViInt32", "ViReal64", "ViBoolean", "ViSession"
// or "ViString".
const char* TypeName(ValueType type);

// Read and write callback signatures per value type.
using GetInt32Callback = ViStatus (*)(ViSession vi, ViConstString channelName, ViInt32* value);
using GetReal64Callback = ViStatus (*)(ViSession vi, ViConstString channelName, ViReal64* value);
using GetBooleanCallback = ViStatus (*)(ViSession vi, ViConstString channelName, ViBoolean* value);
using GetSessionCallback = ViStatus (*)(ViSession vi, ViConstString channelName, ViSession* value);
using GetStringCallback = ViStatus (*)(ViSession vi, ViConstString channelName, ViInt32 bufferSize,
                                       ViChar buffer[]);
using SetInt32Callback = ViStatus (*)(ViSession vi, ViConstString channelName, ViInt32 value);
using SetReal64Callback = ViStatus (*)(ViSession vi, ViConstString channelName, ViReal64 value);
using SetBooleanCallback = ViStatus (*)(ViSession vi, ViConstString channelName, ViBoolean value);
using SetSessionCallback = ViStatus (*)(ViSession vi, ViConstString channelName, ViSession value);
using SetStringCallback = ViStatus (*)(ViSession vi, ViConstString channelName,
                                       ViConstString value);

// The value type an attribute of C type T has; T is ViInt32, ViReal64,
// ViBoolean, ViSession, or ViConstString for texts.
template <class T>
struct ValueTraits;
template <>
struct ValueTraits<ViInt32> {
    static constexpr ValueType kType = ValueType::Int32;
    using Getter = GetInt32Callback;
    using Setter = SetInt32Callback;
};
template <>
struct ValueTraits<ViReal64> {
    static constexpr ValueType kType = ValueType::Real64;
    using Getter = GetReal64Callback;
    using Setter = SetReal64Callback;
};
template <>
struct ValueTraits<ViBoolean> {
    static constexpr ValueType kType = ValueType::Boolean;
    using Getter = GetBooleanCallback;
    using Setter = SetBooleanCallback;
};
template <>
struct ValueTraits<ViSession> {
    static constexpr ValueType kType = ValueType::Session;
    using Getter = GetSessionCallback;
    using Setter = SetSessionCallback;
};
template <>
struct ValueTraits<ViConstString> {
    static constexpr ValueType kType = ValueType::String;
    using Getter = GetStringCallback;
    using Setter = SetStringCallback;
};

// A callback of any value type; which member is meaningful follows from the
// descriptor's value type. Constructible (also at compile time) from a typed
// callback pointer, so tables can hold hand-written callbacks of any type.
struct AnyGetter {
    constexpr AnyGetter() = default;
    constexpr AnyGetter(std::nullptr_t) {}
    constexpr AnyGetter(GetInt32Callback p) : pInt32(p) {}
    constexpr AnyGetter(GetReal64Callback p) : pReal64(p) {}
    constexpr AnyGetter(GetBooleanCallback p) : pBoolean(p) {}
    constexpr AnyGetter(GetSessionCallback p) : pSession(p) {}
    constexpr AnyGetter(GetStringCallback p) : pString(p) {}

    GetInt32Callback pInt32 = nullptr;
    GetReal64Callback pReal64 = nullptr;
    GetBooleanCallback pBoolean = nullptr;
    GetSessionCallback pSession = nullptr;
    GetStringCallback pString = nullptr;

    constexpr bool Empty() const {
        return !pInt32 && !pReal64 && !pBoolean && !pSession && !pString;
    }
    template <class T>
    constexpr typename ValueTraits<T>::Getter Get() const;
};

struct AnySetter {
    constexpr AnySetter() = default;
    constexpr AnySetter(std::nullptr_t) {}
    constexpr AnySetter(SetInt32Callback p) : pInt32(p) {}
    constexpr AnySetter(SetReal64Callback p) : pReal64(p) {}
    constexpr AnySetter(SetBooleanCallback p) : pBoolean(p) {}
    constexpr AnySetter(SetSessionCallback p) : pSession(p) {}
    constexpr AnySetter(SetStringCallback p) : pString(p) {}

    SetInt32Callback pInt32 = nullptr;
    SetReal64Callback pReal64 = nullptr;
    SetBooleanCallback pBoolean = nullptr;
    SetSessionCallback pSession = nullptr;
    SetStringCallback pString = nullptr;

    constexpr bool Empty() const {
        return !pInt32 && !pReal64 && !pBoolean && !pSession && !pString;
    }
    template <class T>
    constexpr typename ValueTraits<T>::Setter Get() const;
};

template <>
constexpr GetInt32Callback AnyGetter::Get<ViInt32>() const {
    return pInt32;
}
template <>
constexpr GetReal64Callback AnyGetter::Get<ViReal64>() const {
    return pReal64;
}
template <>
constexpr GetBooleanCallback AnyGetter::Get<ViBoolean>() const {
    return pBoolean;
}
template <>
constexpr GetSessionCallback AnyGetter::Get<ViSession>() const {
    return pSession;
}
template <>
constexpr GetStringCallback AnyGetter::Get<ViConstString>() const {
    return pString;
}
template <>
constexpr SetInt32Callback AnySetter::Get<ViInt32>() const {
    return pInt32;
}
template <>
constexpr SetReal64Callback AnySetter::Get<ViReal64>() const {
    return pReal64;
}
template <>
constexpr SetBooleanCallback AnySetter::Get<ViBoolean>() const {
    return pBoolean;
}
template <>
constexpr SetSessionCallback AnySetter::Get<ViSession>() const {
    return pSession;
}
template <>
constexpr SetStringCallback AnySetter::Get<ViConstString>() const {
    return pString;
}

// Invalidates the attribute's cached value on one channel (bWholeAttribute
// false; creates the slot when absent) or on every channel (true).
using InvalidateCacheFn = void (*)(DriverSession& session, ViAttr nId, bool bWholeAttribute,
                                   const std::string& strChannelKey);

struct AttributeDescriptor {
    ViAttr id = 0;
    const char* name = "";      // "<prefix>_ATTR_VOLTAGE_LEVEL"; used in messages only
    const char* typeName = "";  // "ViReal64"; used in the type-mismatch message only
    ValueType valueType = ValueType::Int32;
    AnyGetter getter;  // empty: not readable
    AnySetter setter;  // empty: read-only
    InvalidateCacheFn invalidateCache = nullptr;
    // Text attributes: what the instrument's grammar for the value holds;
    // null: any text a command can carry.
    const TextGrammar* pTextGrammar = nullptr;

    // One constructor per value type: fills typeName, valueType and
    // invalidateCache from the callbacks' type.
    static AttributeDescriptor Make(ViAttr nId, const char* pName, GetInt32Callback get,
                                    SetInt32Callback set);
    static AttributeDescriptor Make(ViAttr nId, const char* pName, GetReal64Callback get,
                                    SetReal64Callback set);
    static AttributeDescriptor Make(ViAttr nId, const char* pName, GetBooleanCallback get,
                                    SetBooleanCallback set);
    static AttributeDescriptor Make(ViAttr nId, const char* pName, GetSessionCallback get,
                                    SetSessionCallback set);
    static AttributeDescriptor Make(ViAttr nId, const char* pName, GetStringCallback get,
                                    SetStringCallback set);
    // Generic form used by the row mechanism: callbacks of the given type.
    static AttributeDescriptor Make(ViAttr nId, const char* pName, ValueType type, AnyGetter get,
                                    AnySetter set);
};

// Descriptors ordered by id. Registration keeps the first descriptor of an id
// and skips later ones.
class AttributeRegistry {
  public:
    // Returns false when the id was already registered (the new one is dropped).
    bool Register(const AttributeDescriptor& descriptor);
    // The descriptor of nId, or null when it is not registered.
    const AttributeDescriptor* Find(ViAttr nId) const;
    std::size_t Size() const { return m_vecDescriptors.size(); }

  private:
    std::vector<AttributeDescriptor> m_vecDescriptors;  // sorted by id
};

// The registry of this library. Declared by the runtime, defined by the
// instrument-specific part; built once (thread-safe) and read-only afterwards.
const AttributeRegistry& AttributeTable();

}  // namespace drt
