// Callbacks run when a session closes, for runtime parts that keep per-handle
// state outside the session object. Run in registration order.
#pragma once

#include <functional>

namespace drt {

using SessionReleaseCallback = std::function<void(unsigned long)>;

void RegisterSessionReleaseCallback(SessionReleaseCallback callback);
void RunSessionReleaseCallbacks(unsigned long nSession);

}  // namespace drt
