// Scope guards through which attribute callbacks use the session's value
// caches. A callback builds one after its model gate and channel resolution;
// the guard updates the cache when it goes out of scope.
//
// Caching is enabled when the session caches or simulates (decided once, at
// construction). A getter guard stores the value read; a setter guard stores
// the value written and, for channel attributes, tells which channels still
// need writing (those whose valid slot does not already hold the value).
//
// A failed operation outside simulation does not leave its value in the cache
// as if the instrument held it: the slots involved are left invalid, so that a
// retry is sent to the instrument. In simulation every value is kept.
#pragma once

#include <cmath>
#include <string>
#include <type_traits>
#include <vector>

#include "runtime/repcap/OutputChannel.h"
#include "runtime/session/DriverSession.h"

namespace drt {

// The C type of a value and the type the cache keeps for it.
template <class T>
struct CachedType {
    using type = T;
};
template <>
struct CachedType<ViConstString> {
    using type = std::string;
};

// Equality that decides whether a write can be skipped: bitwise for integers
// and booleans; for reals a relative tolerance of 5e-14 with a floor of 1e-19.
inline bool CachedValueEquals(ViInt32 nCached, ViInt32 nValue) {
    return nCached == nValue;
}
inline bool CachedValueEquals(ViBoolean nCached, ViBoolean nValue) {
    return nCached == nValue;
}
inline bool CachedValueEquals(ViSession nCached, ViSession nValue) {
    return nCached == nValue;
}
inline bool CachedValueEquals(const std::string& strCached, const std::string& strValue) {
    return strCached == strValue;
}
inline bool CachedValueEquals(ViReal64 dCached, ViReal64 dValue) {
    double dTolerance = std::fmax(std::fabs(dCached), std::fabs(dValue)) * 5.0 * 1e-14;
    if (!(dTolerance > 1e-19)) {
        dTolerance = 1e-19;
    }
    return dTolerance > std::fabs(dCached - dValue);
}

enum class ChannelKind { None, Output };

class CacheManagerBase {
  public:
    CacheManagerBase(DriverSession& session, ViAttr nId)
        : m_session(session),
          m_nId(nId),
          m_bSimulating(session.GetSimulate()),
          m_bEnabled(m_bSimulating || session.GetCache()) {}
    CacheManagerBase(const CacheManagerBase&) = delete;
    CacheManagerBase& operator=(const CacheManagerBase&) = delete;

    bool Enabled() const { return m_bEnabled; }
    // The outcome of the guarded operation; decides what leaving scope stores.
    void SetStatus(ViStatus nStatus) { m_nStatus = nStatus; }

  protected:
    // Whether leaving scope stores the value (else the slots are invalidated).
    bool Keeps() const { return m_bSimulating || m_nStatus >= 0; }

    DriverSession& m_session;
    ViAttr m_nId;
    bool m_bSimulating;
    bool m_bEnabled;
    ViStatus m_nStatus = VI_SUCCESS;
};

template <class T>
class CacheManager : public CacheManagerBase {
  public:
    using Stored = typename CachedType<T>::type;

  protected:
    CacheManager(DriverSession& session, ViAttr nId) : CacheManagerBase(session, nId) {}
    AttributeCache<Stored>& Cache() { return m_session.Caches().template For<Stored>(); }
};

// Read guard. The callback fills the value (Value()) and, in simulation, asks
// CachedValue() first. Without a channel the slot key is "".
template <class T, ChannelKind Kind = ChannelKind::None>
class GetterCacheManager : public CacheManager<T> {
  public:
    using Stored = typename CacheManager<T>::Stored;

    GetterCacheManager(DriverSession& session, ViAttr nId, const OutputChannel* pChannel = nullptr)
        : CacheManager<T>(session, nId) {
        if (this->m_bEnabled) {
            static const std::string strNoChannel;
            const std::string& strKey = (Kind == ChannelKind::Output && pChannel != nullptr)
                                            ? pChannel->strKey
                                            : strNoChannel;
            m_pSlot = &this->Cache().Slot(nId, strKey);
        }
    }
    ~GetterCacheManager() {
        if (m_pSlot == nullptr || !m_bHasValue) {
            return;
        }
        if (this->Keeps()) {
            m_pSlot->value = m_value;
            m_pSlot->bValid = true;
        } else {
            m_pSlot->bValid = false;
        }
    }

    // The value held for this attribute and channel, or null.
    const Stored* CachedValue() const {
        return (m_pSlot != nullptr && m_pSlot->bValid) ? &m_pSlot->value : nullptr;
    }
    // Records the value that leaving scope stores.
    void SetValue(const Stored& value) {
        m_value = value;
        m_bHasValue = true;
    }

  private:
    CacheSlot<Stored>* m_pSlot = nullptr;
    Stored m_value{};
    bool m_bHasValue = false;
};

// Write guard without a channel: never suppresses a write.
template <class T, ChannelKind Kind = ChannelKind::None>
class SetterCacheManager : public CacheManager<T> {
  public:
    using Stored = typename CacheManager<T>::Stored;

    SetterCacheManager(DriverSession& session, ViAttr nId, const Stored& value)
        : CacheManager<T>(session, nId), m_value(value) {}
    ~SetterCacheManager() {
        if (!this->m_bEnabled) {
            return;
        }
        auto& slot = this->Cache().Slot(this->m_nId, std::string());
        if (this->Keeps()) {
            slot.value = m_value;
            slot.bValid = true;
        } else {
            slot.bValid = false;
        }
    }

  private:
    Stored m_value;
};

// Write guard over output channels: Pending() lists, in selector order, the
// channels that need writing.
template <class T>
class SetterCacheManager<T, ChannelKind::Output> : public CacheManager<T> {
  public:
    using Stored = typename CacheManager<T>::Stored;

    SetterCacheManager(DriverSession& session, const ChannelList& channels, ViAttr nId,
                       const Stored& value)
        : CacheManager<T>(session, nId), m_value(value) {
        m_vecPending.reserve(channels.size());
        m_vecSlots.reserve(channels.size());
        for (const OutputChannel& channel : channels) {
            if (!this->m_bEnabled) {
                m_vecPending.push_back(&channel);
                continue;
            }
            auto& slot = this->Cache().Slot(nId, channel.strKey);
            if (!(slot.bValid && CachedValueEquals(slot.value, m_value))) {
                m_vecPending.push_back(&channel);
                m_vecSlots.push_back(&slot);
            }
        }
    }
    ~SetterCacheManager() {
        const bool bKeep = this->Keeps();
        for (CacheSlot<Stored>* pSlot : m_vecSlots) {
            if (bKeep) {
                pSlot->value = m_value;
                pSlot->bValid = true;
            } else {
                pSlot->bValid = false;
            }
        }
    }

    const std::vector<const OutputChannel*>& Pending() const { return m_vecPending; }

  private:
    Stored m_value;
    std::vector<const OutputChannel*> m_vecPending;
    std::vector<CacheSlot<Stored>*> m_vecSlots;
};

}  // namespace drt
