// viLock and viUnlock. A VXI-11 instrument also takes the device's own lock
// for the first exclusive lock, so that other hosts are kept off as well.
#include "Locks.h"

#include <strings.h>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

#include "ApiFrame.h"
#include "Session.h"

namespace tkvisa {
namespace {

struct ResourceLock {
    ViSession nExclusiveOwner = VI_NULL;
    ViUInt32 nExclusiveCount = 0;
    std::string strSharedKey;
    std::map<ViSession, ViUInt32> mapShared;  // holder -> nesting count
    bool Free() const { return nExclusiveOwner == VI_NULL && mapShared.empty(); }
};

struct CaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

class LockTable {
  public:
    static LockTable& Instance() {
        static LockTable* pTable = new LockTable;  // outlives clients' static destructors
        return *pTable;
    }
    std::mutex m_mutex;
    std::condition_variable m_released;
    std::map<std::string, ResourceLock, CaseLess> m_mapResources;
    std::unordered_map<ViSession, std::string> m_mapResourceOf;
    std::atomic<int> m_nLocked{0};  // entries in m_mapResources
    std::atomic<unsigned> m_nNextKey{0};

    void DropIfFree(const std::string& strResource) {
        const auto it = m_mapResources.find(strResource);
        if (it != m_mapResources.end() && it->second.Free()) {
            m_mapResources.erase(it);
            m_nLocked.store(static_cast<int>(m_mapResources.size()));
        }
    }
};

void CopyKey(ViChar* pDest, const std::string& strKey) {
    if (pDest != nullptr) {
        std::memcpy(pDest, strKey.c_str(), strKey.size() + 1);
    }
}

// The device lock of links that have one; VI_ERROR_NSUP_OPER elsewhere.
ViStatus DeviceLock(ViSession vi, bool bLock, const Deadline& deadline) {
    const SessionPtr pSession = SessionTable::Instance().Find(vi);
    if (!pSession) {
        return VI_ERROR_INV_OBJECT;
    }
    std::lock_guard<std::mutex> lock(pSession->m_mutex);
    if (pSession->m_bClosed || !pSession->m_pTransport) {
        return VI_ERROR_INV_OBJECT;
    }
    return bLock ? pSession->m_pTransport->LockDevice(deadline)
                 : pSession->m_pTransport->UnlockDevice(deadline);
}

// Releases one level of session vi's lock; the table's lock is held.
// Returns the status viUnlock gives and whether the exclusive lock ended.
ViStatus ReleaseOne(LockTable& table, ViSession vi, bool& bExclusiveEnded) {
    bExclusiveEnded = false;
    const auto itOf = table.m_mapResourceOf.find(vi);
    if (itOf == table.m_mapResourceOf.end()) {
        return VI_ERROR_SESN_NLOCKED;
    }
    const auto it = table.m_mapResources.find(itOf->second);
    if (it == table.m_mapResources.end()) {
        return VI_ERROR_SESN_NLOCKED;
    }
    ResourceLock& state = it->second;
    ViStatus status = VI_ERROR_SESN_NLOCKED;
    if (state.nExclusiveOwner == vi) {
        if (--state.nExclusiveCount == 0) {
            state.nExclusiveOwner = VI_NULL;
            bExclusiveEnded = true;
        }
    } else if (const auto itShared = state.mapShared.find(vi); itShared != state.mapShared.end()) {
        if (--itShared->second == 0) {
            state.mapShared.erase(itShared);
            if (state.mapShared.empty()) {
                state.strSharedKey.clear();
            }
        }
    } else {
        return status;
    }
    const bool bHoldsExclusive = state.nExclusiveOwner == vi;
    const bool bHoldsShared = state.mapShared.count(vi) != 0;
    status = bHoldsExclusive ? VI_SUCCESS_NESTED_EXCLUSIVE
             : bHoldsShared  ? VI_SUCCESS_NESTED_SHARED
                             : VI_SUCCESS;
    table.DropIfFree(itOf->second);
    table.m_released.notify_all();
    return status;
}

}  // namespace

bool LockedAgainst(ViSession vi, const std::string& strResource) {
    LockTable& table = LockTable::Instance();
    if (table.m_nLocked.load(std::memory_order_relaxed) == 0) {
        return false;
    }
    std::lock_guard<std::mutex> lock(table.m_mutex);
    const auto it = table.m_mapResources.find(strResource);
    if (it == table.m_mapResources.end()) {
        return false;
    }
    const ResourceLock& state = it->second;
    if (state.nExclusiveOwner != VI_NULL) {
        return state.nExclusiveOwner != vi;
    }
    return !state.mapShared.empty() && state.mapShared.count(vi) == 0;
}

ViAccessMode LockStateOf(const std::string& strResource) {
    LockTable& table = LockTable::Instance();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    const auto it = table.m_mapResources.find(strResource);
    if (it == table.m_mapResources.end()) {
        return VI_NO_LOCK;
    }
    return it->second.nExclusiveOwner != VI_NULL ? VI_EXCLUSIVE_LOCK
           : it->second.mapShared.empty()        ? VI_NO_LOCK
                                                 : VI_SHARED_LOCK;
}

ViStatus AcquireLock(ViSession vi, ViAccessMode nType, ViUInt32 nTimeoutMs,
                     const char* pszRequestedKey, ViChar* pAccessKey) {
    if (nType != VI_EXCLUSIVE_LOCK && nType != VI_SHARED_LOCK) {
        return VI_ERROR_INV_LOCK_TYPE;
    }
    std::string strResource;
    {
        const SessionPtr pSession = SessionTable::Instance().Find(vi);
        if (!pSession) {
            return VI_ERROR_INV_OBJECT;
        }
        std::lock_guard<std::mutex> lock(pSession->m_mutex);
        if (pSession->m_bClosed) {
            return VI_ERROR_INV_OBJECT;
        }
        if (pSession->m_eKind != SessionKind::Instrument) {
            return VI_ERROR_NSUP_OPER;
        }
        strResource = pSession->m_resource.strCanonical;
    }
    const bool bExclusive = nType == VI_EXCLUSIVE_LOCK;
    if (!bExclusive && pszRequestedKey != nullptr &&
        (pszRequestedKey[0] == '\0' || std::strlen(pszRequestedKey) >= VI_FIND_BUFLEN)) {
        return VI_ERROR_INV_ACCESS_KEY;
    }
    const Deadline deadline(nTimeoutMs);
    LockTable& table = LockTable::Instance();
    bool bFirstExclusive = false;
    ViStatus status = VI_SUCCESS;
    {
        std::unique_lock<std::mutex> lock(table.m_mutex);
        table.m_mapResourceOf[vi] = strResource;
        std::string strKey;
        for (;;) {
            ResourceLock& state = table.m_mapResources[strResource];
            table.m_nLocked.store(static_cast<int>(table.m_mapResources.size()));
            const bool bMineOrFree =
                state.nExclusiveOwner == VI_NULL || state.nExclusiveOwner == vi;
            bool bGranted = false;
            if (bExclusive) {
                // Also granted to a holder of the shared lock when it is the only one.
                bGranted = bMineOrFree &&
                           (state.mapShared.empty() ||
                            (state.mapShared.size() == 1 && state.mapShared.count(vi) != 0));
            } else {
                if (pszRequestedKey != nullptr) {
                    strKey = pszRequestedKey;
                } else if (state.mapShared.count(vi) != 0) {
                    strKey = state.strSharedKey;  // nesting keeps the key
                } else if (strKey.empty()) {
                    strKey =
                        "tkvisa-" + std::to_string(vi) + "-" + std::to_string(++table.m_nNextKey);
                }
                bGranted = bMineOrFree && (state.mapShared.empty() || state.strSharedKey == strKey);
            }
            if (bGranted) {
                if (bExclusive) {
                    bFirstExclusive = state.nExclusiveCount == 0;
                    status = bFirstExclusive ? VI_SUCCESS : VI_SUCCESS_NESTED_EXCLUSIVE;
                    state.nExclusiveOwner = vi;
                    ++state.nExclusiveCount;
                } else {
                    ViUInt32& nCount = state.mapShared[vi];
                    status = nCount == 0 ? VI_SUCCESS : VI_SUCCESS_NESTED_SHARED;
                    ++nCount;
                    state.strSharedKey = strKey;
                    CopyKey(pAccessKey, strKey);
                }
                break;
            }
            const int nLeftMs = deadline.RemainingMs();
            if (nLeftMs == 0) {
                table.DropIfFree(strResource);
                return VI_ERROR_TMO;
            }
            if (nLeftMs < 0) {
                table.m_released.wait(lock);
            } else {
                table.m_released.wait_for(lock, std::chrono::milliseconds(nLeftMs));
            }
            if (!SessionTable::Instance().Find(vi)) {
                table.DropIfFree(strResource);
                return VI_ERROR_INV_OBJECT;
            }
        }
    }
    if (bFirstExclusive) {
        const ViStatus deviceStatus = DeviceLock(vi, true, deadline);
        if (deviceStatus < VI_SUCCESS && deviceStatus != VI_ERROR_NSUP_OPER) {
            std::lock_guard<std::mutex> lock(table.m_mutex);
            bool bEnded = false;
            ReleaseOne(table, vi, bEnded);
            return deviceStatus == VI_ERROR_TMO ? VI_ERROR_TMO : deviceStatus;
        }
    }
    return status;
}

void ReleaseLocks(ViSession vi) {
    LockTable& table = LockTable::Instance();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    const auto itOf = table.m_mapResourceOf.find(vi);
    if (itOf == table.m_mapResourceOf.end()) {
        return;
    }
    const auto it = table.m_mapResources.find(itOf->second);
    if (it != table.m_mapResources.end()) {
        if (it->second.nExclusiveOwner == vi) {
            it->second.nExclusiveOwner = VI_NULL;
            it->second.nExclusiveCount = 0;
        }
        it->second.mapShared.erase(vi);
        if (it->second.mapShared.empty()) {
            it->second.strSharedKey.clear();
        }
        table.DropIfFree(itOf->second);
    }
    table.m_mapResourceOf.erase(itOf);
    table.m_released.notify_all();
}

}  // namespace tkvisa

using namespace tkvisa;

extern "C" {

ViStatus _VI_FUNC viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout,
                         ViConstKeyId requestedKey, ViChar _VI_FAR accessKey[]) {
    return Guarded([&]() {
        return AcquireLock(vi, lockType, timeout,
                           lockType == VI_SHARED_LOCK ? requestedKey : nullptr,
                           lockType == VI_SHARED_LOCK ? accessKey : nullptr);
    });
}

ViStatus _VI_FUNC viUnlock(ViSession vi) {
    return Guarded([&]() -> ViStatus {
        const SessionPtr pSession = SessionTable::Instance().Find(vi);
        if (!pSession) {
            return VI_ERROR_INV_OBJECT;
        }
        if (pSession->m_eKind != SessionKind::Instrument) {
            return VI_ERROR_SESN_NLOCKED;
        }
        LockTable& table = LockTable::Instance();
        bool bExclusiveEnded = false;
        ViStatus status = VI_SUCCESS;
        {
            std::lock_guard<std::mutex> lock(table.m_mutex);
            status = ReleaseOne(table, vi, bExclusiveEnded);
        }
        if (bExclusiveEnded) {
            // The release waits as long as any call of the session may.
            DeviceLock(vi, false, Deadline(pSession->m_nTimeoutMs));
        }
        return status;
    });
}

}  // extern "C"
