// Handle table of the IVI session services. Records are reference counted so
// that a thread waiting for a lock keeps the record alive even if another
// thread disposes of the handle meanwhile; handles are never reused, so a
// stale handle can only ever be reported as invalid.
#include "IviSession.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <unordered_map>

namespace {

struct ErrorRecord {
    ViStatus nStatus = VI_SUCCESS;
    std::string strText;
};

// A recursive lock whose state can be inspected and that may be destroyed
// while a thread still owns it (a caller may close a session it locked).
class RecursiveLock {
  public:
    void Lock() {
        const std::thread::id self = std::this_thread::get_id();
        std::unique_lock<std::mutex> guard(m_mutex);
        if (m_nDepth > 0 && m_owner == self) {
            ++m_nDepth;
            return;
        }
        m_released.wait(guard, [this] { return m_nDepth == 0; });
        m_owner = self;
        m_nDepth = 1;
    }

    bool Unlock() {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_nDepth == 0 || m_owner != std::this_thread::get_id()) {
            return false;
        }
        if (--m_nDepth == 0) {
            m_owner = std::thread::id();
            m_released.notify_one();
        }
        return true;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_released;
    std::thread::id m_owner;
    unsigned m_nDepth = 0;
};

struct SessionRecord {
    void* pData = nullptr;
    RecursiveLock lock;
    std::mutex errorMutex;
    ErrorRecord error;
};

class SessionTable {
  public:
    ViStatus New(ViSession* pNewVi) {
        auto pRecord = std::make_shared<SessionRecord>();
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_nNext == 0) {  // the 32-bit handle space is spent
            return IVI_ERROR_OUT_OF_MEMORY;
        }
        const ViSession vi = m_nNext++;
        m_records.emplace(vi, std::move(pRecord));
        *pNewVi = vi;
        return VI_SUCCESS;
    }

    std::shared_ptr<SessionRecord> Find(ViSession vi) {
        std::lock_guard<std::mutex> guard(m_mutex);
        auto it = m_records.find(vi);
        return it == m_records.end() ? nullptr : it->second;
    }

    bool Remove(ViSession vi) {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_records.erase(vi) == 1;
    }

  private:
    std::mutex m_mutex;
    // Start well away from 0 so that small integers passed by mistake are not
    // taken for handles.
    ViSession m_nNext = 0x00010001;
    std::unordered_map<ViSession, std::shared_ptr<SessionRecord>> m_records;
};

SessionTable& Table() {
    static SessionTable* pTable = new SessionTable();  // lives until process exit
    return *pTable;
}

thread_local ErrorRecord t_threadError;

// Copies text into a caller's buffer by the IVI string convention.
ViStatus CopyOut(const std::string& strText, ViInt32 nBufferSize, ViChar* pBuffer) {
    const auto nNeeded =
        static_cast<ViInt32>(std::min<std::size_t>(strText.size() + 1, 0x7FFFFFFF));
    if (nBufferSize <= 0 || pBuffer == nullptr) {
        return nNeeded;
    }
    if (nBufferSize >= nNeeded) {
        std::memcpy(pBuffer, strText.c_str(), static_cast<std::size_t>(nNeeded));
        return VI_SUCCESS;
    }
    std::memcpy(pBuffer, strText.data(), static_cast<std::size_t>(nBufferSize - 1));
    pBuffer[nBufferSize - 1] = '\0';
    return nNeeded;
}

}  // namespace

extern "C" {

ViStatus IviSession_New(ViSession* pNewVi) {
    if (pNewVi == nullptr) {
        return IVI_ERROR_NULL_POINTER;
    }
    *pNewVi = VI_NULL;
    try {
        return Table().New(pNewVi);
    } catch (const std::bad_alloc&) {
        return IVI_ERROR_OUT_OF_MEMORY;
    }
}

ViStatus IviSession_Dispose(ViSession vi) {
    return Table().Remove(vi) ? VI_SUCCESS : IVI_ERROR_INVALID_SESSION_HANDLE;
}

ViStatus IviSession_SetDataPtr(ViSession vi, void* pData) {
    auto pRecord = Table().Find(vi);
    if (!pRecord) {
        return IVI_ERROR_INVALID_SESSION_HANDLE;
    }
    std::lock_guard<std::mutex> guard(pRecord->errorMutex);
    pRecord->pData = pData;
    return VI_SUCCESS;
}

ViStatus IviSession_GetDataPtr(ViSession vi, void** ppData) {
    if (ppData == nullptr) {
        return IVI_ERROR_NULL_POINTER;
    }
    auto pRecord = Table().Find(vi);
    if (!pRecord) {
        *ppData = nullptr;
        return IVI_ERROR_INVALID_SESSION_HANDLE;
    }
    std::lock_guard<std::mutex> guard(pRecord->errorMutex);
    *ppData = pRecord->pData;
    return pRecord->pData != nullptr ? VI_SUCCESS : IVI_ERROR_INVALID_SESSION_HANDLE;
}

ViStatus IviSession_Lock(ViSession vi, ViBoolean* pCallerHasLock) {
    auto pRecord = Table().Find(vi);
    if (!pRecord) {
        return IVI_ERROR_INVALID_SESSION_HANDLE;
    }
    if (pCallerHasLock != nullptr && *pCallerHasLock != VI_FALSE) {
        return VI_SUCCESS;
    }
    pRecord->lock.Lock();
    if (pCallerHasLock != nullptr) {
        *pCallerHasLock = VI_TRUE;
    }
    return VI_SUCCESS;
}

ViStatus IviSession_Unlock(ViSession vi, ViBoolean* pCallerHasLock) {
    auto pRecord = Table().Find(vi);
    if (!pRecord) {
        return IVI_ERROR_INVALID_SESSION_HANDLE;
    }
    if (pCallerHasLock != nullptr && *pCallerHasLock == VI_FALSE) {
        return VI_SUCCESS;
    }
    if (!pRecord->lock.Unlock()) {
        // The calling thread does not hold the lock.
        return IVI_ERROR_CANNOT_RECOVER;
    }
    if (pCallerHasLock != nullptr) {
        *pCallerHasLock = VI_FALSE;
    }
    return VI_SUCCESS;
}

ViStatus IviSession_SetError(ViSession vi, ViStatus nErrorCode, ViConstString pDescription) {
    try {
        const std::string strText = pDescription != nullptr ? pDescription : "";
        if (vi == VI_NULL) {
            t_threadError = ErrorRecord{nErrorCode, strText};
            return VI_SUCCESS;
        }
        auto pRecord = Table().Find(vi);
        if (!pRecord) {
            return IVI_ERROR_INVALID_SESSION_HANDLE;
        }
        std::lock_guard<std::mutex> guard(pRecord->errorMutex);
        pRecord->error = ErrorRecord{nErrorCode, strText};
        return VI_SUCCESS;
    } catch (const std::bad_alloc&) {
        return IVI_ERROR_OUT_OF_MEMORY;
    }
}

ViStatus IviSession_GetError(ViSession vi, ViInt32 nBufferSize, ViStatus* pErrorCode,
                             ViChar pDescription[]) {
    try {
        ErrorRecord record;
        if (vi == VI_NULL) {
            record = t_threadError;
        } else {
            auto pRecord = Table().Find(vi);
            if (!pRecord) {
                return IVI_ERROR_INVALID_SESSION_HANDLE;
            }
            std::lock_guard<std::mutex> guard(pRecord->errorMutex);
            record = pRecord->error;
        }
        if (pErrorCode != nullptr) {
            *pErrorCode = record.nStatus;
        }
        return CopyOut(record.strText, nBufferSize, pDescription);
    } catch (const std::bad_alloc&) {
        return IVI_ERROR_OUT_OF_MEMORY;
    }
}

ViStatus IviSession_ClearError(ViSession vi) {
    if (vi == VI_NULL) {
        t_threadError = ErrorRecord{};
        return VI_SUCCESS;
    }
    auto pRecord = Table().Find(vi);
    if (!pRecord) {
        return IVI_ERROR_INVALID_SESSION_HANDLE;
    }
    std::lock_guard<std::mutex> guard(pRecord->errorMutex);
    pRecord->error = ErrorRecord{};
    return VI_SUCCESS;
}

}  // extern "C"
