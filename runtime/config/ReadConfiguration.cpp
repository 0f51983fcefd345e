// The configuration half of initialization: option defaults, the
// configuration store, the option string and the simulation model.
#include "runtime/session/DriverSession.h"

namespace drt {

namespace {
// The model a simulated session takes when nothing else named one.
constexpr char kDefaultSimulationModel[] = "6310";
}  // namespace

ViStatus DriverSession::ReadConfiguration(const std::string& strResourceName,
                                          const std::string& strOptionString) {
    m_strLogicalName.clear();
    m_strIoResourceDescriptor.clear();
    m_mapInherentOptions.clear();
    m_mapDriverSetupOptions.clear();
    m_mapInitialBooleans.clear();
    m_mapInitialInt32s.clear();
    m_mapInitialReal64s.clear();
    m_mapInitialStrings.clear();
    m_mapVirtualToPhysical.clear();
    m_mapPhysicalToVirtual.clear();
    ResetOptionDefaults();

    m_strIoResourceDescriptor = strResourceName;
    ViStatus status = ParseOptionString(strOptionString);
    if (status < 0) {
        return status;
    }
    if (GetSimulate() && m_strModel.empty()) {
        m_strModel = kDefaultSimulationModel;
    }
    SaveInitialOptions();
    return status;
}

ViStatus DriverSession::ApplyDriverSession(ViSession) {
    return VI_SUCCESS;
}
ViStatus DriverSession::LoadInitialSettings(ViSession) {
    return VI_SUCCESS;
}
ViStatus DriverSession::ApplyInitialSettings() {
    return VI_SUCCESS;
}
ViStatus DriverSession::LoadVirtualNames(ViSession) {
    return VI_SUCCESS;
}
ViStatus DriverSession::LoadPhysicalNames(ViSession) {
    return VI_SUCCESS;
}
ViStatus DriverSession::ReportConfigError(ViStatus nStatus) {
    return nStatus;
}

}  // namespace drt
