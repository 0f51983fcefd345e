// Resource locks between the sessions of this process: exclusive and shared
// (with an access key), nested, waiting up to a lock timeout. A resource is
// its canonical resource name, compared without regard to letter case.
#pragma once

#include <string>

#include "visa.h"

namespace tkvisa {

class Session;

// Whether another session's lock keeps session vi off its resource; cheap
// while no resource in the process is locked.
bool LockedAgainst(ViSession vi, const std::string& strResource);
// VI_NO_LOCK, VI_EXCLUSIVE_LOCK or VI_SHARED_LOCK.
ViAccessMode LockStateOf(const std::string& strResource);
// Takes a lock for session vi (not holding the session's lock).
ViStatus AcquireLock(ViSession vi, ViAccessMode nType, ViUInt32 nTimeoutMs,
                     const char* pszRequestedKey, ViChar* pAccessKey);
// Releases every lock of a closed session.
void ReleaseLocks(ViSession vi);

}  // namespace tkvisa
