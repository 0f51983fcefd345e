#include "runtime/io/IoTimeoutScope.h"

#include "runtime/errors/Assert.h"

namespace drt {

IoTimeoutScope::IoTimeoutScope(ViSession hInstrument, ViInt32 nWantedTimeout)
    : m_hInstrument(hInstrument) {
    (void)nWantedTimeout;
}

IoTimeoutScope::~IoTimeoutScope() = default;

}  // namespace drt
