// Per-session attribute value caches: one per value type, keyed by attribute
// id and then by channel key ("" for attributes without a channel).
#pragma once

#include <map>
#include <string>
#include <unordered_map>

#include "runtime/repcap/OutputChannel.h"
#include "visatype.h"

namespace drt {

template <class T>
struct CacheSlot {
    bool bValid = false;
    T value{};
};

template <class T>
class AttributeCache {
  public:
    // Looking a slot up creates it, invalid, when absent.
    CacheSlot<T>& Slot(ViAttr nAttribute, const std::string& strChannelKey) {
        return m_slots[nAttribute][strChannelKey];
    }

    // Invalidates one channel of an attribute, or all its channels when
    // pChannelKey is null.
    void Invalidate(ViAttr nAttribute, const std::string* pChannelKey) {
        auto it = m_slots.find(nAttribute);
        if (it == m_slots.end()) {
            return;
        }
        if (pChannelKey == nullptr) {
            for (auto& [strKey, slot] : it->second) {
                slot.bValid = false;
            }
        } else if (auto itSlot = it->second.find(*pChannelKey); itSlot != it->second.end()) {
            itSlot->second.bValid = false;
        }
    }

    void Clear() { m_slots.clear(); }
    bool Empty() const { return m_slots.empty(); }

  private:
    std::unordered_map<ViAttr, std::map<std::string, CacheSlot<T>, std::less<>>> m_slots;
};

// The typed caches of one session. Texts are held as owned copies. The
// session's channel list and its memo of resolved selectors ride along here
// because they share the caches' life and locking; Clear() leaves them alone
// (they never depend on instrument state).
struct AttributeCaches {
    AttributeCache<ViInt32> int32s;
    AttributeCache<ViInt64> int64s;
    AttributeCache<ViReal64> reals;
    AttributeCache<ViBoolean> booleans;
    AttributeCache<ViSession> sessions;
    AttributeCache<std::string> strings;
    SessionChannels channels;

    void Clear() {
        int32s.Clear();
        int64s.Clear();
        reals.Clear();
        booleans.Clear();
        sessions.Clear();
        strings.Clear();
    }

    template <class T>
    AttributeCache<T>& For();
};

template <>
inline AttributeCache<ViInt32>& AttributeCaches::For<ViInt32>() {
    return int32s;
}
template <>
inline AttributeCache<ViInt64>& AttributeCaches::For<ViInt64>() {
    return int64s;
}
template <>
inline AttributeCache<ViReal64>& AttributeCaches::For<ViReal64>() {
    return reals;
}
template <>
inline AttributeCache<ViBoolean>& AttributeCaches::For<ViBoolean>() {
    return booleans;
}
template <>
inline AttributeCache<ViSession>& AttributeCaches::For<ViSession>() {
    return sessions;
}
template <>
inline AttributeCache<std::string>& AttributeCaches::For<std::string>() {
    return strings;
}

}  // namespace drt
