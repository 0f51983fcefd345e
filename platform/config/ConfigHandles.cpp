#include "ConfigHandles.h"

#include <cstdio>
#include <cstring>

namespace cfgstore {

const char* KindName(Kind eKind) {
    switch (eKind) {
        case Kind::Store:
            return "configuration store";
        case Kind::DriverSession:
            return "driver session";
        case Kind::HardwareAsset:
            return "hardware asset";
        case Kind::SoftwareModule:
            return "software module";
        case Kind::PhysicalName:
            return "physical name";
        case Kind::VirtualName:
            return "virtual name";
        case Kind::VirtualRange:
            return "virtual range";
        case Kind::DataComponent:
            return "data component";
        case Kind::SoftwareModuleCollection:
            return "software module collection";
        case Kind::PhysicalNameCollection:
            return "physical name collection";
        case Kind::VirtualNameCollection:
            return "virtual name collection";
        case Kind::VirtualRangeCollection:
            return "virtual range collection";
        case Kind::DataComponentCollection:
            return "data component collection";
    }
    return "configuration store object";
}

namespace {

thread_local ErrorRecord t_error;

}  // namespace

ErrorRecord& ThreadError() {
    return t_error;
}

ViStatus Fail(ViStatus nStatus, std::string strText) {
    t_error.nStatus = nStatus;
    t_error.strText = std::move(strText);
    return nStatus;
}

std::string HandleText(ViSession nHandle) {
    char szBuffer[16];
    std::snprintf(szBuffer, sizeof szBuffer, "0x%08X", static_cast<unsigned>(nHandle));
    return szBuffer;
}

HandleTable& Table() {
    static HandleTable* pTable = new HandleTable();  // lives until process exit
    return *pTable;
}

ViStatus Resolve(ViSession nHandle, std::initializer_list<Kind> listKinds, Entry& entry) {
    const Kind eWanted = *listKinds.begin();
    if (nHandle == VI_NULL) {
        return Fail(IVICONFIG_ERROR_INVALID_HANDLE,
                    std::string("A ") + KindName(eWanted) +
                        " handle is needed; the handle given is VI_NULL.");
    }
    if (!Table().Find(nHandle, entry)) {
        return Fail(IVICONFIG_ERROR_INVALID_HANDLE,
                    "The handle " + HandleText(nHandle) +
                        " is not an open configuration store handle; it was never issued, was "
                        "disposed of, or its store was closed.");
    }
    if (std::find(listKinds.begin(), listKinds.end(), entry.eKind) == listKinds.end()) {
        return Fail(IVICONFIG_ERROR_INVALID_HANDLE, "The handle " + HandleText(nHandle) + " is a " +
                                                        KindName(entry.eKind) + " handle, not a " +
                                                        KindName(eWanted) + " handle.");
    }
    return VI_SUCCESS;
}

ViStatus Issue(const Entry& parent, Kind eKind, const void* pItem, std::string strOwner,
               ViSession* pHandle) {
    Entry entry;
    entry.eKind = eKind;
    entry.nStore = parent.nStore;
    entry.pData = parent.pData;
    entry.pItem = pItem;
    entry.strOwner = std::move(strOwner);
    return Table().Add(std::move(entry), pHandle);
}

ViStatus NullOutput(const char* szParameter) {
    return Fail(IVICONFIG_ERROR_NULL_POINTER,
                std::string("The output parameter ") + szParameter + " is VI_NULL.");
}

ViStatus CopyOut(const std::string& strText, ViInt32 nBufferSize, ViChar* pBuffer) {
    if (nBufferSize < 0) {
        return Fail(IVICONFIG_ERROR_INVALID_PARAMETER,
                    "The buffer size " + std::to_string(nBufferSize) + " is negative.");
    }
    const auto nNeeded = static_cast<ViInt32>(std::min<std::size_t>(strText.size() + 1, INT_MAX));
    if (nBufferSize == 0) {
        return nNeeded;
    }
    if (pBuffer == nullptr) {
        return NullOutput("Value");
    }
    const auto nCopy = static_cast<std::size_t>(std::min(nBufferSize, nNeeded) - 1);
    std::memcpy(pBuffer, strText.data(), nCopy);
    pBuffer[nCopy] = '\0';
    return nBufferSize >= nNeeded ? VI_SUCCESS : nNeeded;
}

ViStatus UnknownProperty(const Entry& entry, ViInt32 nPropertyId, const char* szType) {
    return Fail(IVICONFIG_ERROR_INVALID_PROPERTY_ID, "A " + std::string(KindName(entry.eKind)) +
                                                         " has no " + szType + " property " +
                                                         std::to_string(nPropertyId) + ".");
}

}  // namespace cfgstore
