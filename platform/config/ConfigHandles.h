// What every call of the configuration store API shares: the kinds of
// object a handle can name, the process-wide handle table, the calling
// thread's error record, and the steps each call repeats (resolve a handle
// of the kinds it takes, issue a handle for a child object, copy text out
// by the IVI buffer convention, read a property through its table row, run
// the body so that nothing thrown leaves the C boundary).
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <exception>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ConfigStore.h"
#include "IviConfigServer.h"

namespace cfgstore {

enum class Kind {
    Store,
    DriverSession,
    HardwareAsset,
    SoftwareModule,
    PhysicalName,
    VirtualName,
    VirtualRange,
    DataComponent,
    SoftwareModuleCollection,
    PhysicalNameCollection,
    VirtualNameCollection,
    VirtualRangeCollection,
    DataComponentCollection,
};

const char* KindName(Kind eKind);

struct Entry {
    Kind eKind = Kind::Store;
    ViSession nStore = VI_NULL;
    std::shared_ptr<const StoreData> pData;
    const void* pItem = nullptr;  // the object or, for a collection, its std::vector
    std::string strOwner;         // what a collection belongs to, for messages
};

// ---- per-thread error record ----

struct ErrorRecord {
    ViStatus nStatus = VI_SUCCESS;
    std::string strText;
};

// The calling thread's record of its last failure.
ErrorRecord& ThreadError();
// Records the failure for the calling thread and returns its status.
ViStatus Fail(ViStatus nStatus, std::string strText);
std::string HandleText(ViSession nHandle);

// ---- handle table ----

class HandleTable {
  public:
    ViStatus Add(Entry entry, ViSession* pHandle) {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_nNext == 0) {  // the 32-bit handle space is spent
            return Fail(IVICONFIG_ERROR_OUT_OF_MEMORY,
                        "The configuration store has run out of handles.");
        }
        const ViSession nHandle = m_nNext++;
        if (entry.eKind == Kind::Store) {
            entry.nStore = nHandle;
        }
        m_entries.emplace(nHandle, std::move(entry));
        *pHandle = nHandle;
        return VI_SUCCESS;
    }

    bool Find(ViSession nHandle, Entry& entry) {
        std::lock_guard<std::mutex> guard(m_mutex);
        auto it = m_entries.find(nHandle);
        if (it == m_entries.end()) {
            return false;
        }
        entry = it->second;
        return true;
    }

    bool Remove(ViSession nHandle) {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_entries.erase(nHandle) == 1;
    }

    // Removes a store and every handle obtained through it.
    void RemoveStore(ViSession nStore) {
        std::lock_guard<std::mutex> guard(m_mutex);
        std::erase_if(m_entries,
                      [nStore](const auto& item) { return item.second.nStore == nStore; });
    }

    bool ReplaceStoreData(ViSession nStore, std::shared_ptr<const StoreData> pData) {
        std::lock_guard<std::mutex> guard(m_mutex);
        auto it = m_entries.find(nStore);
        if (it == m_entries.end() || it->second.eKind != Kind::Store) {
            return false;
        }
        it->second.pData = std::move(pData);
        return true;
    }

    std::size_t Count() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_entries.size();
    }

  private:
    std::mutex m_mutex;
    // Away from 0 and from the ranges other handle tables start at, so that a
    // small integer or a foreign handle is not taken for one of ours.
    ViSession m_nNext = 0x40000001;
    std::unordered_map<ViSession, Entry> m_entries;
};

HandleTable& Table();

// ---- helpers shared by the calls ----

// Looks a handle up and checks that it is one of the kinds a call accepts.
ViStatus Resolve(ViSession nHandle, std::initializer_list<Kind> listKinds, Entry& entry);

template <class T>
const T& Item(const Entry& entry) {
    return *static_cast<const T*>(entry.pItem);
}

// Issues a handle for an object of the same store as its parent.
ViStatus Issue(const Entry& parent, Kind eKind, const void* pItem, std::string strOwner,
               ViSession* pHandle);
ViStatus NullOutput(const char* szParameter);
// Copies text out by the IVI buffer convention.
ViStatus CopyOut(const std::string& strText, ViInt32 nBufferSize, ViChar* pBuffer);
ViStatus UnknownProperty(const Entry& entry, ViInt32 nPropertyId, const char* szType);

// One row per readable property: its id and the member that holds it.
template <class T, class V>
struct PropertyRow {
    ViInt32 nId;
    V T::*pMember;
};

template <class T, class V, std::size_t N>
const V* FindProperty(const PropertyRow<T, V> (&rows)[N], const T& item, ViInt32 nId) {
    for (const auto& row : rows) {
        if (row.nId == nId) {
            return &(item.*row.pMember);
        }
    }
    return nullptr;
}

template <class T, std::size_t N>
ViStatus GetStringProperty(ViSession nHandle, Kind eKind,
                           const PropertyRow<T, std::string> (&rows)[N], ViInt32 nPropertyId,
                           ViInt32 nBufferSize, ViChar* pValue) {
    Entry entry;
    if (const ViStatus s = Resolve(nHandle, {eKind}, entry); s < 0) {
        return s;
    }
    const std::string* pText = FindProperty(rows, Item<T>(entry), nPropertyId);
    if (pText == nullptr) {
        return UnknownProperty(entry, nPropertyId, "string");
    }
    return CopyOut(*pText, nBufferSize, pValue);
}

// A collection handle points at the std::vector of its items.
template <class T>
ViStatus CollectionCount(ViSession nHandle, Kind eCollection, ViInt32* pCount) {
    if (pCount == nullptr) {
        return NullOutput("Count");
    }
    Entry entry;
    if (const ViStatus s = Resolve(nHandle, {eCollection}, entry); s < 0) {
        return s;
    }
    const auto& vecItems = Item<std::vector<T>>(entry);
    *pCount = static_cast<ViInt32>(std::min<std::size_t>(vecItems.size(), INT_MAX));
    return VI_SUCCESS;
}

template <class T>
ViStatus CollectionItemByIndex(ViSession nHandle, Kind eCollection, Kind eItem, ViInt32 nIndex,
                               ViSession* pItem) {
    if (pItem == nullptr) {
        return NullOutput("item handle");
    }
    *pItem = VI_NULL;
    Entry entry;
    if (const ViStatus s = Resolve(nHandle, {eCollection}, entry); s < 0) {
        return s;
    }
    const auto& vecItems = Item<std::vector<T>>(entry);
    if (nIndex < 1 || static_cast<std::size_t>(nIndex) > vecItems.size()) {
        return Fail(IVICONFIG_ERROR_INVALID_INDEX,
                    "The index " + std::to_string(nIndex) + " is outside the " +
                        KindName(eCollection) + " of " + entry.strOwner + ", which holds " +
                        std::to_string(vecItems.size()) + " items numbered from 1.");
    }
    return Issue(entry, eItem, &vecItems[static_cast<std::size_t>(nIndex) - 1], entry.strOwner,
                 pItem);
}

// Runs a call body; nothing thrown inside may leave the C boundary.
template <class Body>
ViStatus Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return Fail(IVICONFIG_ERROR_OUT_OF_MEMORY, "The configuration store ran out of memory.");
    } catch (const std::exception& error) {
        return Fail(IVICONFIG_ERROR_BASE,
                    std::string("Unexpected configuration store failure: ") + error.what());
    } catch (...) {
        return Fail(IVICONFIG_ERROR_BASE, "Unexpected configuration store failure.");
    }
}

}  // namespace cfgstore
