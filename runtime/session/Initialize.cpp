#include "runtime/session/DriverSession.h"

namespace drt {

ViStatus DriverSession::Initialize(ViConstString pResourceName, ViBoolean bIdQuery, ViBoolean bReset,
                                   ViConstString pOptionString) {
    m_strResourceName = pResourceName != nullptr ? pResourceName : "";
    m_strOptionString = pOptionString != nullptr ? pOptionString : "";
    m_bIdQuery = bIdQuery == VI_TRUE;
    m_bReset = bReset == VI_TRUE;
    return VI_SUCCESS;
}

ViStatus DriverSession::ReadConfiguration(const std::string&, const std::string&) { return VI_SUCCESS; }
ViStatus DriverSession::ApplyDriverSession(ViSession) { return VI_SUCCESS; }
ViStatus DriverSession::LoadInitialSettings(ViSession) { return VI_SUCCESS; }
ViStatus DriverSession::ApplyInitialSettings() { return VI_SUCCESS; }
ViStatus DriverSession::ParseOptionString(const std::string&) { return VI_SUCCESS; }
ViStatus DriverSession::ParseDriverSetup(const std::string&) { return VI_SUCCESS; }
ViStatus DriverSession::ApplyDriverSetupOption(const std::string&, const std::string&) { return VI_SUCCESS; }
ViStatus DriverSession::ParseInherentOptions(const std::string&) { return VI_SUCCESS; }
ViStatus DriverSession::ParseBooleanOption(const std::string&, const std::string&, bool&) { return VI_SUCCESS; }
ViStatus DriverSession::LoadVirtualNames(ViSession) { return VI_SUCCESS; }
ViStatus DriverSession::LoadPhysicalNames(ViSession) { return VI_SUCCESS; }
ViStatus DriverSession::ReportConfigError(ViStatus nStatus) { return nStatus; }

}  // namespace drt
