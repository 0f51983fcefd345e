// The configuration store's objects reached by handle: driver sessions,
// hardware assets, software modules, their physical, virtual and range
// names, and data components with their typed values. Each property a call
// reads is a row of a table naming the member that holds it.
#include <climits>
#include <string>
#include <vector>

#include "ConfigHandles.h"
#include "ConfigStore.h"
#include "IviConfigServer.h"

using namespace cfgstore;

namespace {

constexpr PropertyRow<HardwareAsset, std::string> kHardwareAssetStrings[] = {
    {IVICONFIG_VAL_HARDWARE_ASSET_NAME, &HardwareAsset::strName},
    {IVICONFIG_VAL_HARDWARE_ASSET_DESCRIPTION, &HardwareAsset::strDescription},
    {IVICONFIG_VAL_HARDWARE_ASSET_IO_RESOURCE_DESCRIPTOR, &HardwareAsset::strResourceDescriptor},
};
constexpr PropertyRow<DriverSession, std::string> kDriverSessionStrings[] = {
    {IVICONFIG_VAL_DRIVER_SESSION_NAME, &DriverSession::strName},
    {IVICONFIG_VAL_DRIVER_SESSION_DESCRIPTION, &DriverSession::strDescription},
    {IVICONFIG_VAL_DRIVER_SESSION_DRIVER_SETUP, &DriverSession::strDriverSetup},
};
constexpr PropertyRow<DriverSession, bool> kDriverSessionBooleans[] = {
    {IVICONFIG_VAL_DRIVER_SESSION_CACHE, &DriverSession::bCache},
    {IVICONFIG_VAL_DRIVER_SESSION_INTERCHANGE_CHECK, &DriverSession::bInterchangeCheck},
    {IVICONFIG_VAL_DRIVER_SESSION_QUERY_INSTR_STATUS, &DriverSession::bQueryInstrStatus},
    {IVICONFIG_VAL_DRIVER_SESSION_RANGE_CHECK, &DriverSession::bRangeCheck},
    {IVICONFIG_VAL_DRIVER_SESSION_RECORD_COERCIONS, &DriverSession::bRecordCoercions},
    {IVICONFIG_VAL_DRIVER_SESSION_SIMULATE, &DriverSession::bSimulate},
};
constexpr PropertyRow<VirtualName, std::string> kVirtualNameStrings[] = {
    {IVICONFIG_VAL_VIRTUAL_NAME_NAME, &VirtualName::strName},
    {IVICONFIG_VAL_VIRTUAL_NAME_MAP_TO, &VirtualName::strMapTo},
};
constexpr PropertyRow<VirtualRange, ViInt32> kVirtualRangeIntegers[] = {
    {IVICONFIG_VAL_VIRTUAL_RANGE_MIN, &VirtualRange::nMin},
    {IVICONFIG_VAL_VIRTUAL_RANGE_MAX, &VirtualRange::nMax},
    {IVICONFIG_VAL_VIRTUAL_RANGE_STARTING_PHYSICAL_INDEX, &VirtualRange::nStartingPhysicalIndex},
};
constexpr PropertyRow<PhysicalName, std::string> kPhysicalNameStrings[] = {
    {IVICONFIG_VAL_PHYSICAL_NAME_NAME, &PhysicalName::strName},
    {IVICONFIG_VAL_PHYSICAL_NAME_RC_NAME, &PhysicalName::strRepCapName},
};
constexpr PropertyRow<DataComponent, std::string> kDataComponentStrings[] = {
    {IVICONFIG_VAL_DATA_COMPONENT_NAME, &DataComponent::strName},
    {IVICONFIG_VAL_DATA_COMPONENT_DESCRIPTION, &DataComponent::strDescription},
    {IVICONFIG_VAL_DATA_COMPONENT_TYPE, &DataComponent::strType},
};

}  // namespace

extern "C" {

ViStatus _VI_FUNC IviConfig_GetDriverSession(IviConfigStoreHandle ConfigStoreHandle,
                                             ViConstString Name,
                                             IviDriverSessionHandle* DriverSessionHandle) {
    return Guarded([&]() -> ViStatus {
        if (DriverSessionHandle == nullptr) {
            return NullOutput("DriverSessionHandle");
        }
        *DriverSessionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(ConfigStoreHandle, {Kind::Store}, entry); s < 0) {
            return s;
        }
        const std::string_view svName = Name != nullptr ? Name : "";
        const StoreData& data = *entry.pData;
        const DriverSession* pSession = nullptr;
        if (auto it = data.mapLogicalNames.find(svName); it != data.mapLogicalNames.end()) {
            pSession = &data.vecDriverSessions[data.vecLogicalNames[it->second].nDriverSession];
        } else if (auto itSession = data.mapDriverSessions.find(svName);
                   itSession != data.mapDriverSessions.end()) {
            pSession = &data.vecDriverSessions[itSession->second];
        }
        if (pSession == nullptr) {
            return Fail(IVICONFIG_ERROR_SESSION_NOT_FOUND,
                        "The configuration store holds no logical name or driver session named " +
                            Quoted(svName) + ".");
        }
        return Issue(entry, Kind::DriverSession, pSession,
                     "the driver session " + Quoted(pSession->strName), DriverSessionHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetSessionHardwareAssetReference(
    IviDriverSessionHandle DriverSessionHandle, IviHardwareAssetHandle* HardwareAssetHandle) {
    return Guarded([&]() -> ViStatus {
        if (HardwareAssetHandle == nullptr) {
            return NullOutput("HardwareAssetHandle");
        }
        *HardwareAssetHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(DriverSessionHandle, {Kind::DriverSession}, entry); s < 0) {
            return s;
        }
        const DriverSession& session = Item<DriverSession>(entry);
        if (!session.nHardwareAsset) {
            return VI_SUCCESS;
        }
        const HardwareAsset& asset = entry.pData->vecHardwareAssets[*session.nHardwareAsset];
        return Issue(entry, Kind::HardwareAsset, &asset,
                     "the hardware asset " + Quoted(asset.strName), HardwareAssetHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetSessionSoftwareModuleReference(
    IviDriverSessionHandle DriverSessionHandle, IviSoftwareModuleHandle* SoftwareModuleHandle) {
    return Guarded([&]() -> ViStatus {
        if (SoftwareModuleHandle == nullptr) {
            return NullOutput("SoftwareModuleHandle");
        }
        *SoftwareModuleHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(DriverSessionHandle, {Kind::DriverSession}, entry); s < 0) {
            return s;
        }
        const DriverSession& session = Item<DriverSession>(entry);
        if (!session.nSoftwareModule) {
            return Fail(IVICONFIG_ERROR_NO_REFERENCE, "The driver session " +
                                                          Quoted(session.strName) +
                                                          " does not name a software module.");
        }
        const SoftwareModule& module = entry.pData->vecSoftwareModules[*session.nSoftwareModule];
        return Issue(entry, Kind::SoftwareModule, &module,
                     "the software module " + Quoted(module.strName), SoftwareModuleHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetDriverSessionPropertyViBoolean(
    IviDriverSessionHandle DriverSessionHandle, ViInt32 PropertyID, ViBoolean* Value) {
    return Guarded([&]() -> ViStatus {
        if (Value == nullptr) {
            return NullOutput("Value");
        }
        Entry entry;
        if (const ViStatus s = Resolve(DriverSessionHandle, {Kind::DriverSession}, entry); s < 0) {
            return s;
        }
        const bool* pFlag =
            FindProperty(kDriverSessionBooleans, Item<DriverSession>(entry), PropertyID);
        if (pFlag == nullptr) {
            return UnknownProperty(entry, PropertyID, "boolean");
        }
        *Value = *pFlag ? VI_TRUE : VI_FALSE;
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC
IviConfig_GetDriverSessionPropertyViString(IviDriverSessionHandle DriverSessionHandle,
                                           ViInt32 PropertyID, ViInt32 BufferSize, ViChar Value[]) {
    return Guarded([&] {
        return GetStringProperty(DriverSessionHandle, Kind::DriverSession, kDriverSessionStrings,
                                 PropertyID, BufferSize, Value);
    });
}

ViStatus _VI_FUNC IviConfig_GetSessionVirtualNameCollection(
    IviDriverSessionHandle DriverSessionHandle, IviVirtualNameCollectionHandle* CollectionHandle) {
    return Guarded([&]() -> ViStatus {
        if (CollectionHandle == nullptr) {
            return NullOutput("CollectionHandle");
        }
        *CollectionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(DriverSessionHandle, {Kind::DriverSession}, entry); s < 0) {
            return s;
        }
        const DriverSession& session = Item<DriverSession>(entry);
        return Issue(entry, Kind::VirtualNameCollection, &session.vecVirtualNames,
                     "the driver session " + Quoted(session.strName), CollectionHandle);
    });
}

ViStatus _VI_FUNC
IviConfig_GetHardwareAssetPropertyViString(IviHardwareAssetHandle HardwareAssetHandle,
                                           ViInt32 PropertyID, ViInt32 BufferSize, ViChar Value[]) {
    return Guarded([&] {
        return GetStringProperty(HardwareAssetHandle, Kind::HardwareAsset, kHardwareAssetStrings,
                                 PropertyID, BufferSize, Value);
    });
}

ViStatus _VI_FUNC IviConfig_GetConfigStoreSoftwareModuleCollection(
    IviConfigStoreHandle ConfigStoreHandle, IviSoftwareModuleCollectionHandle* CollectionHandle) {
    return Guarded([&]() -> ViStatus {
        if (CollectionHandle == nullptr) {
            return NullOutput("CollectionHandle");
        }
        *CollectionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(ConfigStoreHandle, {Kind::Store}, entry); s < 0) {
            return s;
        }
        return Issue(entry, Kind::SoftwareModuleCollection, &entry.pData->vecSoftwareModules,
                     "the configuration store", CollectionHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetSoftwareModuleItemByName(
    IviSoftwareModuleCollectionHandle CollectionHandle, ViConstString Name,
    IviSoftwareModuleHandle* SoftwareModuleHandle) {
    return Guarded([&]() -> ViStatus {
        if (SoftwareModuleHandle == nullptr) {
            return NullOutput("SoftwareModuleHandle");
        }
        *SoftwareModuleHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(CollectionHandle, {Kind::SoftwareModuleCollection}, entry);
            s < 0) {
            return s;
        }
        const std::string_view svName = Name != nullptr ? Name : "";
        const auto& vecModules = Item<std::vector<SoftwareModule>>(entry);
        const auto it = std::find_if(vecModules.begin(), vecModules.end(),
                                     [&](const SoftwareModule& m) { return m.strName == svName; });
        if (it == vecModules.end()) {
            return Fail(IVICONFIG_ERROR_NOT_FOUND,
                        "The configuration store holds no software module named " + Quoted(svName) +
                            "; the driver must be registered in the store.");
        }
        return Issue(entry, Kind::SoftwareModule, &*it,
                     "the software module " + Quoted(it->strName), SoftwareModuleHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetSoftwareModulePhysicalNameCollection(
    IviSoftwareModuleHandle SoftwareModuleHandle,
    IviPhysicalNameCollectionHandle* CollectionHandle) {
    return Guarded([&]() -> ViStatus {
        if (CollectionHandle == nullptr) {
            return NullOutput("CollectionHandle");
        }
        *CollectionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(SoftwareModuleHandle, {Kind::SoftwareModule}, entry);
            s < 0) {
            return s;
        }
        const SoftwareModule& module = Item<SoftwareModule>(entry);
        return Issue(entry, Kind::PhysicalNameCollection, &module.vecPhysicalNames,
                     "the software module " + Quoted(module.strName), CollectionHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetPhysicalNameCount(IviPhysicalNameCollectionHandle CollectionHandle,
                                                 ViInt32* Count) {
    return Guarded([&] {
        return CollectionCount<PhysicalName>(CollectionHandle, Kind::PhysicalNameCollection, Count);
    });
}

ViStatus _VI_FUNC
IviConfig_GetPhysicalNameItemByIndex(IviPhysicalNameCollectionHandle CollectionHandle,
                                     ViInt32 Index, IviPhysicalNameHandle* PhysicalNameHandle) {
    return Guarded([&] {
        return CollectionItemByIndex<PhysicalName>(CollectionHandle, Kind::PhysicalNameCollection,
                                                   Kind::PhysicalName, Index, PhysicalNameHandle);
    });
}

ViStatus _VI_FUNC
IviConfig_GetPhysicalNamePropertyViString(IviPhysicalNameHandle PhysicalNameHandle,
                                          ViInt32 PropertyID, ViInt32 BufferSize, ViChar Value[]) {
    return Guarded([&] {
        return GetStringProperty(PhysicalNameHandle, Kind::PhysicalName, kPhysicalNameStrings,
                                 PropertyID, BufferSize, Value);
    });
}

ViStatus _VI_FUNC IviConfig_GetVirtualNameCount(IviVirtualNameCollectionHandle CollectionHandle,
                                                ViInt32* Count) {
    return Guarded([&] {
        return CollectionCount<VirtualName>(CollectionHandle, Kind::VirtualNameCollection, Count);
    });
}

ViStatus _VI_FUNC
IviConfig_GetVirtualNameItemByIndex(IviVirtualNameCollectionHandle CollectionHandle, ViInt32 Index,
                                    IviVirtualNameHandle* VirtualNameHandle) {
    return Guarded([&] {
        return CollectionItemByIndex<VirtualName>(CollectionHandle, Kind::VirtualNameCollection,
                                                  Kind::VirtualName, Index, VirtualNameHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetVirtualNamePropertyViString(IviVirtualNameHandle VirtualNameHandle,
                                                           ViInt32 PropertyID, ViInt32 BufferSize,
                                                           ViChar Value[]) {
    return Guarded([&] {
        return GetStringProperty(VirtualNameHandle, Kind::VirtualName, kVirtualNameStrings,
                                 PropertyID, BufferSize, Value);
    });
}

ViStatus _VI_FUNC IviConfig_GetVirtualNameVirtualRangeCollection(
    IviVirtualNameHandle VirtualNameHandle, IviVirtualRangeCollectionHandle* CollectionHandle) {
    return Guarded([&]() -> ViStatus {
        if (CollectionHandle == nullptr) {
            return NullOutput("CollectionHandle");
        }
        *CollectionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(VirtualNameHandle, {Kind::VirtualName}, entry); s < 0) {
            return s;
        }
        const VirtualName& name = Item<VirtualName>(entry);
        return Issue(entry, Kind::VirtualRangeCollection, &name.vecRanges,
                     "the virtual name " + Quoted(name.strName), CollectionHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetVirtualRangeCount(IviVirtualRangeCollectionHandle CollectionHandle,
                                                 ViInt32* Count) {
    return Guarded([&] {
        return CollectionCount<VirtualRange>(CollectionHandle, Kind::VirtualRangeCollection, Count);
    });
}

ViStatus _VI_FUNC
IviConfig_GetVirtualRangeItemByIndex(IviVirtualRangeCollectionHandle CollectionHandle,
                                     ViInt32 Index, IviVirtualRangeHandle* VirtualRangeHandle) {
    return Guarded([&] {
        return CollectionItemByIndex<VirtualRange>(CollectionHandle, Kind::VirtualRangeCollection,
                                                   Kind::VirtualRange, Index, VirtualRangeHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetVirtualRangePropertyViInt32(IviVirtualRangeHandle VirtualRangeHandle,
                                                           ViInt32 PropertyID, ViInt32* Value) {
    return Guarded([&]() -> ViStatus {
        if (Value == nullptr) {
            return NullOutput("Value");
        }
        Entry entry;
        if (const ViStatus s = Resolve(VirtualRangeHandle, {Kind::VirtualRange}, entry); s < 0) {
            return s;
        }
        const ViInt32* pValue =
            FindProperty(kVirtualRangeIntegers, Item<VirtualRange>(entry), PropertyID);
        if (pValue == nullptr) {
            return UnknownProperty(entry, PropertyID, "integer");
        }
        *Value = *pValue;
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC IviConfig_GetConfigComponentDataComponentCollection(
    IviConfigComponentHandle ConfigComponentHandle,
    IviDataComponentCollectionHandle* CollectionHandle) {
    return Guarded([&]() -> ViStatus {
        if (CollectionHandle == nullptr) {
            return NullOutput("CollectionHandle");
        }
        *CollectionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s =
                Resolve(ConfigComponentHandle,
                        {Kind::DriverSession, Kind::SoftwareModule, Kind::HardwareAsset}, entry);
            s < 0) {
            return s;
        }
        const std::vector<DataComponent>* pComponents = nullptr;
        std::string strName;
        switch (entry.eKind) {
            case Kind::DriverSession:
                pComponents = &Item<DriverSession>(entry).vecDataComponents;
                strName = Item<DriverSession>(entry).strName;
                break;
            case Kind::SoftwareModule:
                pComponents = &Item<SoftwareModule>(entry).vecDataComponents;
                strName = Item<SoftwareModule>(entry).strName;
                break;
            default:
                pComponents = &Item<HardwareAsset>(entry).vecDataComponents;
                strName = Item<HardwareAsset>(entry).strName;
                break;
        }
        return Issue(entry, Kind::DataComponentCollection, pComponents,
                     std::string("the ") + KindName(entry.eKind) + " " + Quoted(strName),
                     CollectionHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetStructureDataComponentCollection(
    IviDataComponentHandle StructureHandle, IviDataComponentCollectionHandle* CollectionHandle) {
    return Guarded([&]() -> ViStatus {
        if (CollectionHandle == nullptr) {
            return NullOutput("CollectionHandle");
        }
        *CollectionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(StructureHandle, {Kind::DataComponent}, entry); s < 0) {
            return s;
        }
        const DataComponent& structure = Item<DataComponent>(entry);
        if (structure.eType != DataType::Structure) {
            return Fail(IVICONFIG_ERROR_TYPE_MISMATCH,
                        "The data component " + Quoted(structure.strName) + " is of type " +
                            Quoted(structure.strType) + ", not a structure.");
        }
        return Issue(entry, Kind::DataComponentCollection, &structure.vecMembers,
                     "the structure " + Quoted(structure.strName), CollectionHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetDataComponentCount(IviDataComponentCollectionHandle CollectionHandle,
                                                  ViInt32* Count) {
    return Guarded([&] {
        return CollectionCount<DataComponent>(CollectionHandle, Kind::DataComponentCollection,
                                              Count);
    });
}

ViStatus _VI_FUNC
IviConfig_GetDataComponentItemByIndex(IviDataComponentCollectionHandle CollectionHandle,
                                      ViInt32 Index, IviDataComponentHandle* DataComponentHandle) {
    return Guarded([&] {
        return CollectionItemByIndex<DataComponent>(CollectionHandle, Kind::DataComponentCollection,
                                                    Kind::DataComponent, Index,
                                                    DataComponentHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetDataComponentItemByName(
    IviDataComponentCollectionHandle CollectionHandle, ViConstString Name,
    IviDataComponentHandle* DataComponentHandle) {
    return Guarded([&]() -> ViStatus {
        if (DataComponentHandle == nullptr) {
            return NullOutput("DataComponentHandle");
        }
        *DataComponentHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(CollectionHandle, {Kind::DataComponentCollection}, entry);
            s < 0) {
            return s;
        }
        const std::string_view svName = Name != nullptr ? Name : "";
        const auto& vecComponents = Item<std::vector<DataComponent>>(entry);
        const auto it = std::find_if(vecComponents.begin(), vecComponents.end(),
                                     [&](const DataComponent& c) { return c.strName == svName; });
        if (it == vecComponents.end()) {
            return Fail(IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND,
                        "The data components of " + entry.strOwner + " hold nothing named " +
                            Quoted(svName) + ".");
        }
        return Issue(entry, Kind::DataComponent, &*it, entry.strOwner, DataComponentHandle);
    });
}

}  // extern "C"

namespace {

// The value of a data component is read with the getter of its type.
// The entry keeps the store contents alive while the caller reads the value.
ViStatus ResolveValue(ViSession nHandle, ViInt32 nPropertyId, DataType eType, const char* szType,
                      Entry& entry, const DataComponent*& pComponent) {
    if (const ViStatus s = Resolve(nHandle, {Kind::DataComponent}, entry); s < 0) {
        return s;
    }
    if (nPropertyId != IVICONFIG_VAL_DATA_COMPONENT_VALUE) {
        return UnknownProperty(entry, nPropertyId, szType);
    }
    pComponent = &Item<DataComponent>(entry);
    if (pComponent->eType != eType) {
        return Fail(IVICONFIG_ERROR_TYPE_MISMATCH,
                    "The data component " + Quoted(pComponent->strName) + " is of type " +
                        Quoted(pComponent->strType) + "; its value cannot be read as " + szType +
                        ".");
    }
    return VI_SUCCESS;
}

}  // namespace

extern "C" {

ViStatus _VI_FUNC
IviConfig_GetDataComponentPropertyViString(IviDataComponentHandle DataComponentHandle,
                                           ViInt32 PropertyID, ViInt32 BufferSize, ViChar Value[]) {
    return Guarded([&]() -> ViStatus {
        if (PropertyID != IVICONFIG_VAL_DATA_COMPONENT_VALUE) {
            return GetStringProperty(DataComponentHandle, Kind::DataComponent,
                                     kDataComponentStrings, PropertyID, BufferSize, Value);
        }
        Entry entry;
        if (const ViStatus s = Resolve(DataComponentHandle, {Kind::DataComponent}, entry); s < 0) {
            return s;
        }
        // Strings, and values of types the store does not know, are text.
        const DataComponent& component = Item<DataComponent>(entry);
        if (component.eType != DataType::String && component.eType != DataType::Other) {
            return Fail(IVICONFIG_ERROR_TYPE_MISMATCH,
                        "The data component " + Quoted(component.strName) + " is of type " +
                            Quoted(component.strType) + "; its value cannot be read as a string.");
        }
        return CopyOut(component.strValue, BufferSize, Value);
    });
}

ViStatus _VI_FUNC IviConfig_GetDataComponentPropertyViInt32(
    IviDataComponentHandle DataComponentHandle, ViInt32 PropertyID, ViInt32* Value) {
    return Guarded([&]() -> ViStatus {
        if (Value == nullptr) {
            return NullOutput("Value");
        }
        Entry entry;
        const DataComponent* pComponent = nullptr;
        if (const ViStatus s = ResolveValue(DataComponentHandle, PropertyID, DataType::Integer,
                                            "an integer", entry, pComponent);
            s < 0) {
            return s;
        }
        *Value = pComponent->nValue;
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC IviConfig_GetDataComponentPropertyViReal64(
    IviDataComponentHandle DataComponentHandle, ViInt32 PropertyID, ViReal64* Value) {
    return Guarded([&]() -> ViStatus {
        if (Value == nullptr) {
            return NullOutput("Value");
        }
        Entry entry;
        const DataComponent* pComponent = nullptr;
        if (const ViStatus s = ResolveValue(DataComponentHandle, PropertyID, DataType::Real,
                                            "a real", entry, pComponent);
            s < 0) {
            return s;
        }
        *Value = pComponent->dValue;
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC IviConfig_GetDataComponentPropertyViBoolean(
    IviDataComponentHandle DataComponentHandle, ViInt32 PropertyID, ViBoolean* Value) {
    return Guarded([&]() -> ViStatus {
        if (Value == nullptr) {
            return NullOutput("Value");
        }
        Entry entry;
        const DataComponent* pComponent = nullptr;
        if (const ViStatus s = ResolveValue(DataComponentHandle, PropertyID, DataType::Boolean,
                                            "a boolean", entry, pComponent);
            s < 0) {
            return s;
        }
        *Value = pComponent->bValue ? VI_TRUE : VI_FALSE;
        return VI_SUCCESS;
    });
}

}  // extern "C"
