// Feeds arbitrary bytes to the store reader as the text of a store file and,
// when the text reads, walks everything it holds through the C API with a
// range of buffer sizes. Any crash, leak or sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ConfigStore.h"
#include "IviConfigServer.h"

namespace {

void Check(bool bCondition) {
    if (!bCondition) {
        std::abort();
    }
}

using StringGetter = ViStatus (*)(ViSession, ViInt32, ViInt32, ViChar[]);

// Reads a string property with too small, exact and generous buffers.
void ReadString(StringGetter getter, ViSession nHandle, ViInt32 nPropertyId) {
    const ViStatus nNeeded = getter(nHandle, nPropertyId, 0, nullptr);
    if (nNeeded <= 0) {
        return;
    }
    std::string strBuffer(static_cast<std::size_t>(nNeeded) + 8, '\x7f');
    for (ViInt32 nSize : {1, nNeeded / 2, nNeeded, nNeeded + 8}) {
        if (nSize < 1) {
            continue;
        }
        const ViStatus s = getter(nHandle, nPropertyId, nSize, strBuffer.data());
        Check(s == (nSize >= nNeeded ? VI_SUCCESS : nNeeded));
        Check(strBuffer[static_cast<std::size_t>(std::min(nSize, nNeeded)) - 1] == '\0');
    }
}

void WalkDataComponents(ViSession nCollection, int nDepth) {
    ViInt32 nCount = 0;
    Check(IviConfig_GetDataComponentCount(nCollection, &nCount) == VI_SUCCESS);
    for (ViInt32 n = 0; n <= nCount + 1; ++n) {
        ViSession nItem = VI_NULL;
        if (IviConfig_GetDataComponentItemByIndex(nCollection, n, &nItem) != VI_SUCCESS) {
            Check(n < 1 || n > nCount);
            continue;
        }
        for (ViInt32 nId : {1, 2, 7, 9}) {
            ReadString(IviConfig_GetDataComponentPropertyViString, nItem, nId);
        }
        ViInt32 nValue = 0;
        ViReal64 dValue = 0;
        ViBoolean bValue = 0;
        IviConfig_GetDataComponentPropertyViInt32(nItem, 9, &nValue);
        IviConfig_GetDataComponentPropertyViReal64(nItem, 9, &dValue);
        IviConfig_GetDataComponentPropertyViBoolean(nItem, 9, &bValue);
        ViSession nMembers = VI_NULL;
        if (nDepth < 40 &&
            IviConfig_GetStructureDataComponentCollection(nItem, &nMembers) == VI_SUCCESS) {
            WalkDataComponents(nMembers, nDepth + 1);
            Check(IviConfig_DisposeHandle(&nMembers) == VI_SUCCESS);
        }
        Check(IviConfig_DisposeHandle(&nItem) == VI_SUCCESS);
    }
    ViSession nNamed = VI_NULL;
    const ViStatus s =
        IviConfig_GetDataComponentItemByName(nCollection, "Configurable Initial Settings", &nNamed);
    Check(s == VI_SUCCESS || s == IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND);
}

void WalkComponent(ViSession nComponent) {
    ViSession nCollection = VI_NULL;
    Check(IviConfig_GetConfigComponentDataComponentCollection(nComponent, &nCollection) ==
          VI_SUCCESS);
    WalkDataComponents(nCollection, 0);
}

void WalkSession(ViSession nSession) {
    for (ViInt32 nId = 0; nId <= 11; ++nId) {
        ViBoolean bValue = 0;
        IviConfig_GetDriverSessionPropertyViBoolean(nSession, nId, &bValue);
        ReadString(IviConfig_GetDriverSessionPropertyViString, nSession, nId);
    }
    ViSession nAsset = VI_NULL;
    Check(IviConfig_GetSessionHardwareAssetReference(nSession, &nAsset) == VI_SUCCESS);
    if (nAsset != VI_NULL) {
        for (ViInt32 nId : {1, 2, 3}) {
            ReadString(IviConfig_GetHardwareAssetPropertyViString, nAsset, nId);
        }
        WalkComponent(nAsset);
    }
    ViSession nModule = VI_NULL;
    IviConfig_GetSessionSoftwareModuleReference(nSession, &nModule);
    ViSession nNames = VI_NULL;
    Check(IviConfig_GetSessionVirtualNameCollection(nSession, &nNames) == VI_SUCCESS);
    ViInt32 nCount = 0;
    Check(IviConfig_GetVirtualNameCount(nNames, &nCount) == VI_SUCCESS);
    for (ViInt32 n = 1; n <= nCount; ++n) {
        ViSession nName = VI_NULL;
        Check(IviConfig_GetVirtualNameItemByIndex(nNames, n, &nName) == VI_SUCCESS);
        ReadString(IviConfig_GetVirtualNamePropertyViString, nName, 1);
        ReadString(IviConfig_GetVirtualNamePropertyViString, nName, 2);
        ViSession nRanges = VI_NULL;
        Check(IviConfig_GetVirtualNameVirtualRangeCollection(nName, &nRanges) == VI_SUCCESS);
        ViInt32 nRangeCount = 0;
        Check(IviConfig_GetVirtualRangeCount(nRanges, &nRangeCount) == VI_SUCCESS);
        for (ViInt32 r = 1; r <= nRangeCount; ++r) {
            ViSession nRange = VI_NULL;
            Check(IviConfig_GetVirtualRangeItemByIndex(nRanges, r, &nRange) == VI_SUCCESS);
            for (ViInt32 nId : {2, 3, 4}) {
                ViInt32 nValue = 0;
                Check(IviConfig_GetVirtualRangePropertyViInt32(nRange, nId, &nValue) == VI_SUCCESS);
            }
        }
        // The rest is left to the store's close.
    }
    WalkComponent(nSession);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    const std::string_view svText(reinterpret_cast<const char*>(pData), nSize);
    ViSession nStore = VI_NULL;
    Check(IviConfig_Initialize(&nStore) == VI_SUCCESS);
    if (cfgstore::DeserializeText(nStore, svText, "fuzz.xml") == VI_SUCCESS) {
        ViSession nModules = VI_NULL;
        Check(IviConfig_GetConfigStoreSoftwareModuleCollection(nStore, &nModules) == VI_SUCCESS);
        ViSession nModule = VI_NULL;
        if (IviConfig_GetSoftwareModuleItemByName(nModules, "TARVEK", &nModule) == VI_SUCCESS) {
            ViSession nPhysical = VI_NULL;
            Check(IviConfig_GetSoftwareModulePhysicalNameCollection(nModule, &nPhysical) ==
                  VI_SUCCESS);
            ViInt32 nCount = 0;
            Check(IviConfig_GetPhysicalNameCount(nPhysical, &nCount) == VI_SUCCESS);
            for (ViInt32 n = 1; n <= nCount; ++n) {
                ViSession nName = VI_NULL;
                Check(IviConfig_GetPhysicalNameItemByIndex(nPhysical, n, &nName) == VI_SUCCESS);
                ReadString(IviConfig_GetPhysicalNamePropertyViString, nName, 1);
                ReadString(IviConfig_GetPhysicalNamePropertyViString, nName, 2);
            }
            WalkComponent(nModule);
        }
        for (const char* szName : {"MyPSU", "MyPSU.Session", "S", "L", ""}) {
            ViSession nSession = VI_NULL;
            const ViStatus s = IviConfig_GetDriverSession(nStore, szName, &nSession);
            Check(s == VI_SUCCESS || s == IVICONFIG_ERROR_SESSION_NOT_FOUND);
            if (s == VI_SUCCESS) {
                WalkSession(nSession);
            }
        }
    } else {
        // A refused text must always be explained.
        ViStatus nCode = 0;
        Check(IviConfig_GetError(&nCode, 0, nullptr) > 1);
        Check(nCode == IVICONFIG_ERROR_DESERIALIZE_FAILED);
    }
    Check(IviConfig_Close(nStore) == VI_SUCCESS);
    Check(cfgstore::OpenHandleCount() == 0);
    return 0;
}
