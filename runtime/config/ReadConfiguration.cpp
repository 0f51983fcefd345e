// The configuration half of initialization: option defaults, the
// configuration store (logical names, driver sessions, virtual names, initial
// settings, physical names), the option string and the simulation model.
#include "IviSession.h"
#include "runtime/config/ConfigHandle.h"
#include "runtime/session/DriverSession.h"
#include "runtime/text/TextUtils.h"

namespace drt {

namespace {

constexpr char kInitialSettingsName[] = "Configurable Initial Settings";
constexpr ViInt32 kLocationBufferSize = 260;
constexpr ViInt32 kPropertyBufferSize = 1024;
// The widest virtual range expanded into names; wider ones are refused rather
// than filling memory with names nobody can use.
constexpr long long kMaxVirtualRange = 4096;

}  // namespace

ViStatus DriverSession::ReportConfigError(ViStatus nStatus) {
    char description[1024] = {};
    ViStatus nCode = VI_SUCCESS;
    const ViStatus statusGetError = IviConfig_GetError(&nCode, sizeof description, description);
    DRT_ASSERT(statusGetError >= 0);
    return IviSession_SetError(m_vi, nStatus, description);
}

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

    ViSession hStore = VI_NULL;
    ConfigHandle driverSession;
    ConfigHandle moduleCollection;
    ConfigHandle softwareModule;

    auto readStore = [&]() -> ViStatus {
        ViStatus status = IviConfig_Initialize(&hStore);
        if (status < 0) {
            return ReportConfigError(status), status;
        }
        std::string strLocation;
        status = ReadConfigString(IviConfig_GetConfigStorePropertyViString, hStore,
                                  IVICONFIG_VAL_CONFIG_STORE_PROCESS_DEFAULT_LOCATION,
                                  kLocationBufferSize, strLocation);
        if (status >= 0 && strLocation.empty()) {
            status = ReadConfigString(IviConfig_GetConfigStorePropertyViString, hStore,
                                      IVICONFIG_VAL_CONFIG_STORE_MASTER_LOCATION,
                                      kLocationBufferSize, strLocation);
        }
        if (status >= 0) {
            status = IviConfig_Deserialize(hStore, strLocation.c_str());
        }
        if (status < 0) {
            return ReportConfigError(status), status;
        }

        status = IviConfig_GetDriverSession(hStore, strResourceName.c_str(), driverSession.Out());
        if (status >= 0) {
            m_strLogicalName = strResourceName;
            status = ApplyDriverSession(driverSession.Get());
            if (status >= 0) {
                status = LoadInitialSettings(driverSession.Get());
            }
            if (status < 0) {
                return status;
            }
            status = IviConfig_GetSessionSoftwareModuleReference(driverSession.Get(),
                                                                 softwareModule.Out());
            if (status < 0) {
                return ReportConfigError(status), status;
            }
        } else if (status == IVICONFIG_ERROR_SESSION_NOT_FOUND) {
            IviConfig_ClearError();
            m_strIoResourceDescriptor = strResourceName;
            status =
                IviConfig_GetConfigStoreSoftwareModuleCollection(hStore, moduleCollection.Out());
            if (status >= 0) {
                status = IviConfig_GetSoftwareModuleItemByName(
                    moduleCollection.Get(), std::string(m_description.strSoftwareModule).c_str(),
                    softwareModule.Out());
            }
            if (status < 0) {
                return ReportConfigError(status), status;
            }
        } else {
            return ReportConfigError(status), status;
        }

        status = LoadInitialSettings(driverSession ? driverSession.Get() : softwareModule.Get());
        if (status < 0) {
            return status;
        }
        status = ParseOptionString(strOptionString);
        if (status < 0) {
            return status;
        }
        status = LoadPhysicalNames(softwareModule.Get());
        if (status < 0) {
            return status;
        }
        if (GetSimulate() && m_strModel.empty()) {
            m_strModel = m_description.strDefaultSimulationModel;
        }
        SaveInitialOptions();
        return VI_SUCCESS;
    };

    const ViStatus status = readStore();
    driverSession.Release();
    moduleCollection.Release();
    softwareModule.Release();
    if (hStore == VI_NULL) {
        return status;
    }
    const ViStatus s = IviConfig_Close(hStore);
    DRT_ASSERT(s >= 0);
    return status < 0 ? status : s;
}

ViStatus DriverSession::ApplyDriverSession(ViSession hDriverSession) {
    ViStatus status = LoadVirtualNames(hDriverSession);
    if (status < 0) {
        return status;
    }
    ConfigHandle hardwareAsset;
    status = IviConfig_GetSessionHardwareAssetReference(hDriverSession, hardwareAsset.Out());
    if (status >= 0 && hardwareAsset) {
        status = ReadConfigString(IviConfig_GetHardwareAssetPropertyViString, hardwareAsset.Get(),
                                  IVICONFIG_VAL_HARDWARE_ASSET_IO_RESOURCE_DESCRIPTOR,
                                  kPropertyBufferSize, m_strIoResourceDescriptor);
    }
    if (status < 0) {
        return ReportConfigError(status), status;
    }
    struct BooleanProperty {
        ViInt32 nId;
        void (DriverSession::*pSet)(bool);
    };
    static const BooleanProperty kProperties[] = {
        {IVICONFIG_VAL_DRIVER_SESSION_CACHE, &DriverSession::SetCache},
        {IVICONFIG_VAL_DRIVER_SESSION_INTERCHANGE_CHECK, &DriverSession::SetInterchangeCheck},
        {IVICONFIG_VAL_DRIVER_SESSION_QUERY_INSTR_STATUS, &DriverSession::SetQueryInstrStatus},
        {IVICONFIG_VAL_DRIVER_SESSION_RANGE_CHECK, &DriverSession::SetRangeCheck},
        {IVICONFIG_VAL_DRIVER_SESSION_RECORD_COERCIONS, &DriverSession::SetRecordCoercions},
        {IVICONFIG_VAL_DRIVER_SESSION_SIMULATE, &DriverSession::SetSimulate},
    };
    for (const BooleanProperty& property : kProperties) {
        ViBoolean bValue = VI_FALSE;
        status = IviConfig_GetDriverSessionPropertyViBoolean(hDriverSession, property.nId, &bValue);
        if (status < 0) {
            return ReportConfigError(status), status;
        }
        (this->*property.pSet)(bValue == VI_TRUE);
    }
    std::string strDriverSetup;
    status = ReadConfigString(IviConfig_GetDriverSessionPropertyViString, hDriverSession,
                              IVICONFIG_VAL_DRIVER_SESSION_DRIVER_SETUP, kPropertyBufferSize,
                              strDriverSetup);
    if (status < 0) {
        return ReportConfigError(status), status;
    }
    return ParseDriverSetup(strDriverSetup);
}

ViStatus DriverSession::LoadVirtualNames(ViSession hDriverSession) {
    m_mapVirtualToPhysical.clear();
    m_mapPhysicalToVirtual.clear();
    ConfigHandle names;
    ViInt32 nNames = 0;
    ViStatus status = IviConfig_GetSessionVirtualNameCollection(hDriverSession, names.Out());
    if (status >= 0) {
        status = IviConfig_GetVirtualNameCount(names.Get(), &nNames);
    }
    for (ViInt32 nName = 1; status >= 0 && nName <= nNames; ++nName) {
        ConfigHandle name;
        ConfigHandle ranges;
        std::string strName;
        std::string strMapTo;
        ViInt32 nRanges = 0;
        status = IviConfig_GetVirtualNameItemByIndex(names.Get(), nName, name.Out());
        if (status >= 0) {
            status =
                ReadConfigString(IviConfig_GetVirtualNamePropertyViString, name.Get(),
                                 IVICONFIG_VAL_VIRTUAL_NAME_NAME, kPropertyBufferSize, strName);
        }
        if (status >= 0) {
            status =
                ReadConfigString(IviConfig_GetVirtualNamePropertyViString, name.Get(),
                                 IVICONFIG_VAL_VIRTUAL_NAME_MAP_TO, kPropertyBufferSize, strMapTo);
        }
        if (status >= 0) {
            status = IviConfig_GetVirtualNameVirtualRangeCollection(name.Get(), ranges.Out());
        }
        if (status >= 0) {
            status = IviConfig_GetVirtualRangeCount(ranges.Get(), &nRanges);
        }
        if (status >= 0 && nRanges == 0) {
            m_mapVirtualToPhysical[strName] = strMapTo;
            m_mapPhysicalToVirtual[MapVirtualName(strName)] = strName;
        }
        for (ViInt32 nRange = 1; status >= 0 && nRange <= nRanges; ++nRange) {
            ConfigHandle range;
            ViInt32 nMin = 0, nMax = 0, nStart = 0;
            status = IviConfig_GetVirtualRangeItemByIndex(ranges.Get(), nRange, range.Out());
            if (status >= 0) {
                status = IviConfig_GetVirtualRangePropertyViInt32(
                    range.Get(), IVICONFIG_VAL_VIRTUAL_RANGE_MIN, &nMin);
            }
            if (status >= 0) {
                status = IviConfig_GetVirtualRangePropertyViInt32(
                    range.Get(), IVICONFIG_VAL_VIRTUAL_RANGE_MAX, &nMax);
            }
            if (status >= 0) {
                status = IviConfig_GetVirtualRangePropertyViInt32(
                    range.Get(), IVICONFIG_VAL_VIRTUAL_RANGE_STARTING_PHYSICAL_INDEX, &nStart);
            }
            if (status < 0) {
                break;
            }
            if (static_cast<long long>(nMax) - nMin >= kMaxVirtualRange) {
                return ReportErrorText(
                    IVI_ERROR_INVALID_RANGE_IN_SELECTOR,
                    "The configuration store's range is too wide.",
                    {std::to_string(nMin) + "-" + std::to_string(nMax), strName});
            }
            for (long long k = nMin; k <= nMax; ++k) {
                const std::string strVirtual = strName + std::to_string(k);
                const std::string strPhysical = strMapTo + std::to_string(k - nMin + nStart);
                m_mapVirtualToPhysical[strVirtual] = strPhysical;
                m_mapPhysicalToVirtual[MapVirtualName(strVirtual)] = strVirtual;
            }
        }
    }
    if (status < 0) {
        return ReportConfigError(status), status;
    }
    return VI_SUCCESS;
}

ViStatus DriverSession::LoadInitialSettings(ViSession hComponent) {
    ConfigHandle components;
    ConfigHandle settings;
    ConfigHandle items;
    ViStatus status =
        IviConfig_GetConfigComponentDataComponentCollection(hComponent, components.Out());
    if (status >= 0) {
        status = IviConfig_GetDataComponentItemByName(components.Get(), kInitialSettingsName,
                                                      settings.Out());
        if (status == IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND) {
            return IviConfig_ClearError();
        }
    }
    ViInt32 nCount = 0;
    if (status >= 0) {
        status = IviConfig_GetStructureDataComponentCollection(settings.Get(), items.Out());
    }
    if (status >= 0) {
        status = IviConfig_GetDataComponentCount(items.Get(), &nCount);
    }
    for (ViInt32 nItem = 1; status >= 0 && nItem <= nCount; ++nItem) {
        ConfigHandle item;
        std::string strType;
        std::string strName;
        status = IviConfig_GetDataComponentItemByIndex(items.Get(), nItem, item.Out());
        if (status >= 0) {
            status =
                ReadConfigString(IviConfig_GetDataComponentPropertyViString, item.Get(),
                                 IVICONFIG_VAL_DATA_COMPONENT_TYPE, kPropertyBufferSize, strType);
        }
        if (status >= 0) {
            status =
                ReadConfigString(IviConfig_GetDataComponentPropertyViString, item.Get(),
                                 IVICONFIG_VAL_DATA_COMPONENT_NAME, kPropertyBufferSize, strName);
        }
        if (status < 0) {
            break;
        }
        if (EqualsNoCase(strType, "string")) {
            std::string strValue;
            status =
                ReadConfigString(IviConfig_GetDataComponentPropertyViString, item.Get(),
                                 IVICONFIG_VAL_DATA_COMPONENT_VALUE, kPropertyBufferSize, strValue);
            if (status >= 0) {
                m_mapInitialStrings[strName] = strValue;
            }
        } else if (EqualsNoCase(strType, "integer")) {
            ViInt32 nValue = 0;
            status = IviConfig_GetDataComponentPropertyViInt32(
                item.Get(), IVICONFIG_VAL_DATA_COMPONENT_VALUE, &nValue);
            if (status >= 0) {
                m_mapInitialInt32s[strName] = nValue;
            }
        } else if (EqualsNoCase(strType, "real")) {
            ViReal64 dValue = 0.0;
            status = IviConfig_GetDataComponentPropertyViReal64(
                item.Get(), IVICONFIG_VAL_DATA_COMPONENT_VALUE, &dValue);
            if (status >= 0) {
                m_mapInitialReal64s[strName] = dValue;
            }
        } else if (EqualsNoCase(strType, "boolean")) {
            ViBoolean bValue = VI_FALSE;
            status = IviConfig_GetDataComponentPropertyViBoolean(
                item.Get(), IVICONFIG_VAL_DATA_COMPONENT_VALUE, &bValue);
            if (status >= 0) {
                m_mapInitialBooleans[strName] = bValue == VI_TRUE;
            }
        }
    }
    if (status < 0) {
        return ReportConfigError(status), status;
    }
    return ApplyInitialSettings();
}

ViStatus DriverSession::ApplyInitialSettings() {
    std::string strModel;
    if (FindInitialString("model", strModel)) {
        m_strModel = strModel;
    }
    return VI_SUCCESS;
}

ViStatus DriverSession::LoadPhysicalNames(ViSession hSoftwareModule) {
    ConfigHandle names;
    ViInt32 nCount = 0;
    ViStatus status =
        IviConfig_GetSoftwareModulePhysicalNameCollection(hSoftwareModule, names.Out());
    if (status >= 0) {
        status = IviConfig_GetPhysicalNameCount(names.Get(), &nCount);
    }
    for (ViInt32 nItem = 1; status >= 0 && nItem <= nCount; ++nItem) {
        ConfigHandle name;
        std::string strName;
        std::string strRepCap;
        status = IviConfig_GetPhysicalNameItemByIndex(names.Get(), nItem, name.Out());
        if (status >= 0) {
            status =
                ReadConfigString(IviConfig_GetPhysicalNamePropertyViString, name.Get(),
                                 IVICONFIG_VAL_PHYSICAL_NAME_NAME, kPropertyBufferSize, strName);
        }
        if (status >= 0) {
            status = ReadConfigString(IviConfig_GetPhysicalNamePropertyViString, name.Get(),
                                      IVICONFIG_VAL_PHYSICAL_NAME_RC_NAME, kPropertyBufferSize,
                                      strRepCap);
        }
        if (status >= 0) {
            m_mapPhysicalToRepCap[strName] = strRepCap;
        }
    }
    if (status < 0) {
        return ReportConfigError(status), status;
    }
    return VI_SUCCESS;
}

}  // namespace drt
