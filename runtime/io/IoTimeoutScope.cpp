#include "runtime/io/IoTimeoutScope.h"

#include "runtime/errors/Assert.h"
#include "visa.h"

namespace drt {

IoTimeoutScope::IoTimeoutScope(ViSession hInstrument, ViInt32 nWantedTimeout)
    : m_hInstrument(hInstrument) {
    if (nWantedTimeout > -2) {
        ViUInt32 nSaved = 0;
        ViStatus status = viGetAttribute(m_hInstrument, VI_ATTR_TMO_VALUE, &nSaved);
        DRT_ASSERT(status >= 0);
        m_nSavedTimeout = static_cast<ViInt32>(nSaved);
        status = viSetAttribute(m_hInstrument, VI_ATTR_TMO_VALUE,
                                static_cast<ViAttrState>(static_cast<ViUInt32>(nWantedTimeout)));
        DRT_ASSERT(status >= 0);
    }
}

IoTimeoutScope::~IoTimeoutScope() {
    if (m_nSavedTimeout != -2) {
        const ViStatus status =
            viSetAttribute(m_hInstrument, VI_ATTR_TMO_VALUE,
                           static_cast<ViAttrState>(static_cast<ViUInt32>(m_nSavedTimeout)));
        DRT_ASSERT(status >= 0);
    }
}

}  // namespace drt
