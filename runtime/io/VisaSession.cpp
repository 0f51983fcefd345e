#include "runtime/io/VisaSession.h"

#include "runtime/session/DriverSession.h"

namespace drt {

template <class Session>
ViStatus VisaSession<Session>::OpenIo() {
    return VI_SUCCESS;
}

template <class Session>
ViStatus VisaSession<Session>::CloseIo() {
    return VI_SUCCESS;
}

template <class Session>
ViStatus VisaSession<Session>::ClearStatus() {
    return VI_SUCCESS;
}

template <class Session>
ViStatus VisaSession<Session>::QueryIdentity(std::string&, std::string&, std::string&,
                                             std::string&) {
    return VI_SUCCESS;
}

template <class Session>
ViStatus VisaSession<Session>::CheckStatus() {
    return VI_SUCCESS;
}

}  // namespace drt

namespace drt {

template <class Session>
ViStatus VisaSession<Session>::Printf(const char*, ...) {
    return VI_SUCCESS;
}

template <class Session>
ViStatus VisaSession<Session>::Queryf(const char*, const char*, ...) {
    return VI_SUCCESS;
}

}  // namespace drt

namespace drt {
template class VisaSession<DriverSession>;
}  // namespace drt
