// Puts a VISA timeout in force for the life of the scope and restores the
// previous one on every path out. A wanted timeout of -2 or less leaves the
// session's timeout alone.
#pragma once

#include "visatype.h"

namespace drt {

class IoTimeoutScope {
  public:
    IoTimeoutScope(ViSession hInstrument, ViInt32 nWantedTimeout);
    ~IoTimeoutScope();

    IoTimeoutScope(const IoTimeoutScope&) = delete;
    IoTimeoutScope& operator=(const IoTimeoutScope&) = delete;

  private:
    ViInt32 m_nSavedTimeout = -2;
    ViSession m_hInstrument;
};

}  // namespace drt
