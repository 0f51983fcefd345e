#include "runtime/session/SessionRelease.h"

#include <mutex>
#include <vector>

namespace drt {

namespace {

// Sessions close on any thread, so the list is guarded; callbacks are copied
// out so that none runs under the guard.
struct ReleaseList {
    std::mutex mutex;
    std::vector<SessionReleaseCallback> vecCallbacks;
};

ReleaseList& List() {
    static ReleaseList* pList = new ReleaseList();  // lives until process exit
    return *pList;
}

}  // namespace

void RegisterSessionReleaseCallback(SessionReleaseCallback callback) {
    std::lock_guard<std::mutex> guard(List().mutex);
    List().vecCallbacks.push_back(std::move(callback));
}

void RunSessionReleaseCallbacks(unsigned long nSession) {
    std::vector<SessionReleaseCallback> vecCallbacks;
    {
        std::lock_guard<std::mutex> guard(List().mutex);
        vecCallbacks = List().vecCallbacks;
    }
    for (const auto& callback : vecCallbacks) {
        callback(nSession);
    }
}

}  // namespace drt
