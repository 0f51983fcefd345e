#include "runtime/attributes/AttributeRegistry.h"

#include <algorithm>

#include "runtime/session/DriverSession.h"

namespace drt {

const char* TypeName(ValueType type) {
    switch (type) {
        case ValueType::Int32:
            return "ViInt32";
        case ValueType::Real64:
            return "ViReal64";
        case ValueType::Boolean:
            return "ViBoolean";
        case ValueType::Session:
            return "ViSession";
        case ValueType::String:
            return "ViString";
    }
    return "";
}

namespace {

template <class Stored>
void InvalidateTyped(DriverSession& session, ViAttr nId, bool bWholeAttribute,
                     const std::string& strChannelKey) {
    auto& cache = session.Caches().For<Stored>();
    if (bWholeAttribute) {
        cache.Invalidate(nId, nullptr);
    } else {
        cache.Slot(nId, strChannelKey).bValid = false;
    }
}

InvalidateCacheFn InvalidatorFor(ValueType type) {
    switch (type) {
        case ValueType::Int32:
            return &InvalidateTyped<ViInt32>;
        case ValueType::Real64:
            return &InvalidateTyped<ViReal64>;
        case ValueType::Boolean:
            return &InvalidateTyped<ViBoolean>;
        case ValueType::Session:
            return &InvalidateTyped<ViSession>;
        case ValueType::String:
            return &InvalidateTyped<std::string>;
    }
    return nullptr;
}

}  // namespace

AttributeDescriptor AttributeDescriptor::Make(ViAttr nId, const char* pName, ValueType type,
                                              AnyGetter get, AnySetter set) {
    AttributeDescriptor descriptor;
    descriptor.id = nId;
    descriptor.name = pName;
    descriptor.typeName = TypeName(type);
    descriptor.valueType = type;
    descriptor.getter = get;
    descriptor.setter = set;
    descriptor.invalidateCache = InvalidatorFor(type);
    return descriptor;
}

AttributeDescriptor AttributeDescriptor::Make(ViAttr nId, const char* pName, GetInt32Callback get,
                                              SetInt32Callback set) {
    return Make(nId, pName, ValueType::Int32, get, set);
}
AttributeDescriptor AttributeDescriptor::Make(ViAttr nId, const char* pName, GetReal64Callback get,
                                              SetReal64Callback set) {
    return Make(nId, pName, ValueType::Real64, get, set);
}
AttributeDescriptor AttributeDescriptor::Make(ViAttr nId, const char* pName, GetBooleanCallback get,
                                              SetBooleanCallback set) {
    return Make(nId, pName, ValueType::Boolean, get, set);
}
AttributeDescriptor AttributeDescriptor::Make(ViAttr nId, const char* pName, GetSessionCallback get,
                                              SetSessionCallback set) {
    return Make(nId, pName, ValueType::Session, get, set);
}
AttributeDescriptor AttributeDescriptor::Make(ViAttr nId, const char* pName, GetStringCallback get,
                                              SetStringCallback set) {
    return Make(nId, pName, ValueType::String, get, set);
}

bool AttributeRegistry::Register(const AttributeDescriptor& descriptor) {
    auto it = std::lower_bound(
        m_vecDescriptors.begin(), m_vecDescriptors.end(), descriptor.id,
        [](const AttributeDescriptor& entry, ViAttr nId) { return entry.id < nId; });
    if (it != m_vecDescriptors.end() && it->id == descriptor.id) {
        return false;
    }
    m_vecDescriptors.insert(it, descriptor);
    return true;
}

const AttributeDescriptor* AttributeRegistry::Find(ViAttr nId) const {
    auto it = std::lower_bound(
        m_vecDescriptors.begin(), m_vecDescriptors.end(), nId,
        [](const AttributeDescriptor& entry, ViAttr nKey) { return entry.id < nKey; });
    return (it != m_vecDescriptors.end() && it->id == nId) ? &*it : nullptr;
}

}  // namespace drt
