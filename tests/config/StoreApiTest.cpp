// The conventions of the configuration store's C API: store locations, the
// buffer protocol, indices, property ids, stale, foreign and wrongly-kinded
// handles, null outputs and per-thread errors.
#include "ConfigStoreFixture.h"

namespace {

using namespace configtest;

TEST_F(ConfigStoreTest, StoreLocations) {
    Store store;
    EXPECT_EQ(GetString(IviConfig_GetConfigStorePropertyViString, store.Handle(),
                        IVICONFIG_VAL_CONFIG_STORE_PROCESS_DEFAULT_LOCATION),
              "");
    ASSERT_EQ(unsetenv("IVI_CONFIG_STORE"), 0);
    EXPECT_EQ(GetString(IviConfig_GetConfigStorePropertyViString, store.Handle(),
                        IVICONFIG_VAL_CONFIG_STORE_MASTER_LOCATION),
              "/etc/ivi/IviConfigurationStore.xml");
    ASSERT_EQ(setenv("IVI_CONFIG_STORE", "/tmp/elsewhere.xml", 1), 0);
    EXPECT_EQ(GetString(IviConfig_GetConfigStorePropertyViString, store.Handle(),
                        IVICONFIG_VAL_CONFIG_STORE_MASTER_LOCATION),
              "/tmp/elsewhere.xml");
    ASSERT_EQ(unsetenv("IVI_CONFIG_STORE"), 0);

    // The process default applies to every store of the process until unset.
    EXPECT_EQ(
        IviConfig_SetConfigStorePropertyViString(
            store.Handle(), IVICONFIG_VAL_CONFIG_STORE_PROCESS_DEFAULT_LOCATION, "/tmp/p.xml"),
        VI_SUCCESS);
    Store other;
    EXPECT_EQ(GetString(IviConfig_GetConfigStorePropertyViString, other.Handle(),
                        IVICONFIG_VAL_CONFIG_STORE_PROCESS_DEFAULT_LOCATION),
              "/tmp/p.xml");
    EXPECT_EQ(IviConfig_SetConfigStorePropertyViString(
                  other.Handle(), IVICONFIG_VAL_CONFIG_STORE_PROCESS_DEFAULT_LOCATION, ""),
              VI_SUCCESS);
    EXPECT_EQ(GetString(IviConfig_GetConfigStorePropertyViString, store.Handle(),
                        IVICONFIG_VAL_CONFIG_STORE_PROCESS_DEFAULT_LOCATION),
              "");
    EXPECT_EQ(IviConfig_SetConfigStorePropertyViString(
                  store.Handle(), IVICONFIG_VAL_CONFIG_STORE_MASTER_LOCATION, "/x"),
              IVICONFIG_ERROR_INVALID_PROPERTY_ID);
}

TEST_F(ConfigStoreTest, BufferSizeProtocol) {
    const std::string strPath = m_folder.Write(
        "store.xml", StoreText(R"(<HardwareAsset name="H" resourceDescriptor="ASRL1"/>
  <DriverSession name="S" softwareModule="TARVEK" hardwareAsset="H"/>)"));
    Store store;
    ASSERT_EQ(store.Load(strPath), VI_SUCCESS);
    IviDriverSessionHandle nSession = store.Session("S");
    IviHardwareAssetHandle nAsset = VI_NULL;
    ASSERT_EQ(IviConfig_GetSessionHardwareAssetReference(nSession, &nAsset), VI_SUCCESS);
    struct Row {
        ViInt32 nSize;
        bool bNullBuffer;
        ViStatus nStatus;
        const char* szText;  // what the buffer holds afterwards
    };
    const Row rows[] = {
        {0, true, 6, "#######"},
        {0, false, 6, "#######"},
        {1, false, 6, ""},
        {2, false, 6, "A"},
        {5, false, 6, "ASRL"},
        {6, false, VI_SUCCESS, "ASRL1"},
        {7, false, VI_SUCCESS, "ASRL1"},
        {-1, false, IVICONFIG_ERROR_INVALID_PARAMETER, "#######"},
        {4, true, IVICONFIG_ERROR_NULL_POINTER, "#######"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.nSize);
        ViChar szBuffer[8] = "#######";
        EXPECT_EQ(IviConfig_GetHardwareAssetPropertyViString(
                      nAsset, IVICONFIG_VAL_HARDWARE_ASSET_IO_RESOURCE_DESCRIPTOR, row.nSize,
                      row.bNullBuffer ? nullptr : szBuffer),
                  row.nStatus);
        EXPECT_STREQ(szBuffer, row.szText);
    }

    // The error description follows the same rules and survives being read.
    EXPECT_EQ(IviConfig_GetDriverSession(store.Handle(), "Nope", &nSession),
              IVICONFIG_ERROR_SESSION_NOT_FOUND);
    const std::string strError = LastError();
    ViStatus nCode = 0;
    const ViStatus nNeeded = IviConfig_GetError(&nCode, 0, nullptr);
    EXPECT_EQ(nNeeded, static_cast<ViStatus>(strError.size() + 1));
    EXPECT_EQ(nCode, IVICONFIG_ERROR_SESSION_NOT_FOUND);
    ViChar szShort[5];
    EXPECT_EQ(IviConfig_GetError(nullptr, sizeof szShort, szShort), nNeeded);
    EXPECT_EQ(std::string(szShort), strError.substr(0, 4));
    EXPECT_EQ(IviConfig_GetError(&nCode, -3, szShort), IVICONFIG_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(LastError(), strError);
}

TEST_F(ConfigStoreTest, IndexOutsideCollectionIsInvalidIndex) {
    Store store;
    ASSERT_EQ(store.Load(m_folder.Path("none.xml")), VI_SUCCESS);
    IviSoftwareModuleHandle nModule = store.Module("TARVEK");
    IviPhysicalNameCollectionHandle nNames = VI_NULL;
    ASSERT_EQ(IviConfig_GetSoftwareModulePhysicalNameCollection(nModule, &nNames), VI_SUCCESS);
    for (ViInt32 nIndex : {0, -1, 4, 0x7FFFFFFF, static_cast<ViInt32>(0x80000000)}) {
        SCOPED_TRACE(nIndex);
        IviPhysicalNameHandle nItem = 3;
        EXPECT_EQ(IviConfig_GetPhysicalNameItemByIndex(nNames, nIndex, &nItem),
                  IVICONFIG_ERROR_INVALID_INDEX);
        EXPECT_EQ(nItem, VI_NULL);
        EXPECT_NE(LastError().find("holds 3 items"), std::string::npos) << LastError();
    }
}

TEST_F(ConfigStoreTest, UnknownPropertyIdsAreRefused) {
    const std::string strPath = m_folder.Write("store.xml", StoreText(R"(
  <DriverSession name="S" softwareModule="TARVEK">
    <VirtualName name="V" mapTo="CH"><VirtualRange min="1" max="2"/></VirtualName>
    <DataComponent name="D" type="Integer" value="1"/>
  </DriverSession>)"));
    Store store;
    ASSERT_EQ(store.Load(strPath), VI_SUCCESS);
    IviDriverSessionHandle nSession = store.Session("S");
    ViBoolean bValue = 0;
    ViInt32 nValue = 0;
    ViChar szValue[8];
    for (ViInt32 nId : {0, 3, 10, 11, -1}) {
        EXPECT_EQ(IviConfig_GetDriverSessionPropertyViBoolean(nSession, nId, &bValue),
                  IVICONFIG_ERROR_INVALID_PROPERTY_ID);
    }
    for (ViInt32 nId : {0, 3, 4, 9}) {
        EXPECT_EQ(IviConfig_GetDriverSessionPropertyViString(nSession, nId, 8, szValue),
                  IVICONFIG_ERROR_INVALID_PROPERTY_ID);
    }
    EXPECT_EQ(IviConfig_GetConfigStorePropertyViString(store.Handle(), 4, 8, szValue),
              IVICONFIG_ERROR_INVALID_PROPERTY_ID);
    IviDataComponentCollectionHandle nTop = VI_NULL;
    ASSERT_EQ(IviConfig_GetConfigComponentDataComponentCollection(nSession, &nTop), VI_SUCCESS);
    IviDataComponentHandle nItem = VI_NULL;
    ASSERT_EQ(IviConfig_GetDataComponentItemByIndex(nTop, 1, &nItem), VI_SUCCESS);
    EXPECT_EQ(IviConfig_GetDataComponentPropertyViInt32(nItem, 1, &nValue),
              IVICONFIG_ERROR_INVALID_PROPERTY_ID);
    EXPECT_EQ(IviConfig_GetDataComponentPropertyViString(nItem, 8, 8, szValue),
              IVICONFIG_ERROR_INVALID_PROPERTY_ID);
    IviVirtualNameCollectionHandle nNames = VI_NULL;
    IviVirtualNameHandle nName = VI_NULL;
    IviVirtualRangeCollectionHandle nRanges = VI_NULL;
    IviVirtualRangeHandle nRange = VI_NULL;
    ASSERT_EQ(IviConfig_GetSessionVirtualNameCollection(nSession, &nNames), VI_SUCCESS);
    ASSERT_EQ(IviConfig_GetVirtualNameItemByIndex(nNames, 1, &nName), VI_SUCCESS);
    ASSERT_EQ(IviConfig_GetVirtualNameVirtualRangeCollection(nName, &nRanges), VI_SUCCESS);
    ASSERT_EQ(IviConfig_GetVirtualRangeItemByIndex(nRanges, 1, &nRange), VI_SUCCESS);
    EXPECT_EQ(IviConfig_GetVirtualRangePropertyViInt32(nRange, 1, &nValue),
              IVICONFIG_ERROR_INVALID_PROPERTY_ID);
    EXPECT_EQ(IviConfig_GetVirtualRangePropertyViInt32(nRange, 5, &nValue),
              IVICONFIG_ERROR_INVALID_PROPERTY_ID);
    EXPECT_EQ(IviConfig_GetVirtualNamePropertyViString(nName, 3, 8, szValue),
              IVICONFIG_ERROR_INVALID_PROPERTY_ID);
}

// Every call that takes a handle, made with the given handle and valid other
// arguments; each must refuse a handle that is not of its kind.
std::vector<std::pair<const char*, std::function<ViStatus(ViSession)>>> HandleCalls() {
    static ViChar szBuffer[64];
    static ViInt32 nValue;
    static ViBoolean bValue;
    static ViReal64 dValue;
    static ViSession nOut;
    return {
        {"Close", [](ViSession h) { return IviConfig_Close(h); }},
        {"Deserialize", [](ViSession h) { return IviConfig_Deserialize(h, "/nonexistent/x.xml"); }},
        {"GetConfigStorePropertyViString",
         [](ViSession h) { return IviConfig_GetConfigStorePropertyViString(h, 5, 64, szBuffer); }},
        {"SetConfigStorePropertyViString",
         [](ViSession h) { return IviConfig_SetConfigStorePropertyViString(h, 5, ""); }},
        {"GetDriverSession", [](ViSession h) { return IviConfig_GetDriverSession(h, "S", &nOut); }},
        {"GetConfigStoreSoftwareModuleCollection",
         [](ViSession h) { return IviConfig_GetConfigStoreSoftwareModuleCollection(h, &nOut); }},
        {"GetSoftwareModuleItemByName",
         [](ViSession h) { return IviConfig_GetSoftwareModuleItemByName(h, "TARVEK", &nOut); }},
        {"GetSessionSoftwareModuleReference",
         [](ViSession h) { return IviConfig_GetSessionSoftwareModuleReference(h, &nOut); }},
        {"GetSessionHardwareAssetReference",
         [](ViSession h) { return IviConfig_GetSessionHardwareAssetReference(h, &nOut); }},
        {"GetHardwareAssetPropertyViString",
         [](ViSession h) {
             return IviConfig_GetHardwareAssetPropertyViString(h, 3, 64, szBuffer);
         }},
        {"GetDriverSessionPropertyViBoolean",
         [](ViSession h) { return IviConfig_GetDriverSessionPropertyViBoolean(h, 4, &bValue); }},
        {"GetDriverSessionPropertyViString",
         [](ViSession h) {
             return IviConfig_GetDriverSessionPropertyViString(h, 10, 64, szBuffer);
         }},
        {"GetSessionVirtualNameCollection",
         [](ViSession h) { return IviConfig_GetSessionVirtualNameCollection(h, &nOut); }},
        {"GetVirtualNameCount",
         [](ViSession h) { return IviConfig_GetVirtualNameCount(h, &nValue); }},
        {"GetVirtualNameItemByIndex",
         [](ViSession h) { return IviConfig_GetVirtualNameItemByIndex(h, 1, &nOut); }},
        {"GetVirtualNamePropertyViString",
         [](ViSession h) { return IviConfig_GetVirtualNamePropertyViString(h, 1, 64, szBuffer); }},
        {"GetVirtualNameVirtualRangeCollection",
         [](ViSession h) { return IviConfig_GetVirtualNameVirtualRangeCollection(h, &nOut); }},
        {"GetVirtualRangeCount",
         [](ViSession h) { return IviConfig_GetVirtualRangeCount(h, &nValue); }},
        {"GetVirtualRangeItemByIndex",
         [](ViSession h) { return IviConfig_GetVirtualRangeItemByIndex(h, 1, &nOut); }},
        {"GetVirtualRangePropertyViInt32",
         [](ViSession h) { return IviConfig_GetVirtualRangePropertyViInt32(h, 2, &nValue); }},
        {"GetConfigComponentDataComponentCollection",
         [](ViSession h) { return IviConfig_GetConfigComponentDataComponentCollection(h, &nOut); }},
        {"GetDataComponentItemByName",
         [](ViSession h) { return IviConfig_GetDataComponentItemByName(h, "D", &nOut); }},
        {"GetStructureDataComponentCollection",
         [](ViSession h) { return IviConfig_GetStructureDataComponentCollection(h, &nOut); }},
        {"GetDataComponentCount",
         [](ViSession h) { return IviConfig_GetDataComponentCount(h, &nValue); }},
        {"GetDataComponentItemByIndex",
         [](ViSession h) { return IviConfig_GetDataComponentItemByIndex(h, 1, &nOut); }},
        {"GetDataComponentPropertyViString",
         [](ViSession h) {
             return IviConfig_GetDataComponentPropertyViString(h, 9, 64, szBuffer);
         }},
        {"GetDataComponentPropertyViInt32",
         [](ViSession h) { return IviConfig_GetDataComponentPropertyViInt32(h, 9, &nValue); }},
        {"GetDataComponentPropertyViReal64",
         [](ViSession h) { return IviConfig_GetDataComponentPropertyViReal64(h, 9, &dValue); }},
        {"GetDataComponentPropertyViBoolean",
         [](ViSession h) { return IviConfig_GetDataComponentPropertyViBoolean(h, 9, &bValue); }},
        {"GetSoftwareModulePhysicalNameCollection",
         [](ViSession h) { return IviConfig_GetSoftwareModulePhysicalNameCollection(h, &nOut); }},
        {"GetPhysicalNameCount",
         [](ViSession h) { return IviConfig_GetPhysicalNameCount(h, &nValue); }},
        {"GetPhysicalNameItemByIndex",
         [](ViSession h) { return IviConfig_GetPhysicalNameItemByIndex(h, 1, &nOut); }},
        {"GetPhysicalNamePropertyViString",
         [](ViSession h) { return IviConfig_GetPhysicalNamePropertyViString(h, 1, 64, szBuffer); }},
        {"DisposeHandle", [](ViSession h) { return IviConfig_DisposeHandle(&h); }},
    };
}

TEST_F(ConfigStoreTest, StaleAndForeignHandlesAreRefused) {
    const std::string strPath = m_folder.Write("store.xml", StoreText(R"(
  <DriverSession name="S" softwareModule="TARVEK"/>)"));
    ViSession nStaleStore = VI_NULL;
    ViSession nStaleSession = VI_NULL;
    ViSession nDisposed = VI_NULL;
    {
        Store store;
        ASSERT_EQ(store.Load(strPath), VI_SUCCESS);
        nStaleStore = store.Handle();
        nStaleSession = store.Session("S");  // released by the store's close
        nDisposed = store.Session("S");
        ViSession nCopy = nDisposed;
        ASSERT_EQ(IviConfig_DisposeHandle(&nCopy), VI_SUCCESS);
    }
    const ViSession handles[] = {0,          1,           0x00010001,    0x7FFFFFFF,
                                 0xFFFFFFFF, nStaleStore, nStaleSession, nDisposed};
    for (const auto& [szCall, call] : HandleCalls()) {
        SCOPED_TRACE(szCall);
        for (ViSession nHandle : handles) {
            SCOPED_TRACE(nHandle);
            const ViStatus s = call(nHandle);
            if (nHandle == VI_NULL && std::strcmp(szCall, "DisposeHandle") == 0) {
                EXPECT_EQ(s, VI_SUCCESS);  // disposing of VI_NULL is allowed
                continue;
            }
            EXPECT_EQ(s, IVICONFIG_ERROR_INVALID_HANDLE);
            EXPECT_FALSE(LastError().empty());
        }
    }
}

TEST_F(ConfigStoreTest, HandleOfAnotherKindIsRefused) {
    Store store;
    ASSERT_EQ(store.Load(m_folder.Path("none.xml")), VI_SUCCESS);
    IviSoftwareModuleCollectionHandle nModules = VI_NULL;
    ASSERT_EQ(IviConfig_GetConfigStoreSoftwareModuleCollection(store.Handle(), &nModules),
              VI_SUCCESS);
    IviSoftwareModuleHandle nModule = store.Module("TARVEK");
    IviPhysicalNameCollectionHandle nNames = VI_NULL;
    ASSERT_EQ(IviConfig_GetSoftwareModulePhysicalNameCollection(nModule, &nNames), VI_SUCCESS);
    IviPhysicalNameHandle nName = VI_NULL;
    ASSERT_EQ(IviConfig_GetPhysicalNameItemByIndex(nNames, 1, &nName), VI_SUCCESS);
    // Calls that accept one of these kinds are skipped; every other call must refuse it.
    struct Row {
        ViSession nHandle;
        std::vector<std::string> vecAccepting;
    };
    const Row rows[] = {
        {store.Handle(),
         {"Close", "Deserialize", "GetConfigStorePropertyViString",
          "SetConfigStorePropertyViString", "GetDriverSession",
          "GetConfigStoreSoftwareModuleCollection", "DisposeHandle"}},
        {nModules, {"GetSoftwareModuleItemByName", "DisposeHandle"}},
        {nModule,
         {"GetSoftwareModulePhysicalNameCollection", "GetConfigComponentDataComponentCollection",
          "DisposeHandle"}},
        {nNames, {"GetPhysicalNameCount", "GetPhysicalNameItemByIndex", "DisposeHandle"}},
        {nName, {"GetPhysicalNamePropertyViString", "DisposeHandle"}},
    };
    for (const Row& row : rows) {
        for (const auto& [szCall, call] : HandleCalls()) {
            if (std::find(row.vecAccepting.begin(), row.vecAccepting.end(), szCall) !=
                row.vecAccepting.end()) {
                continue;
            }
            SCOPED_TRACE(std::string(szCall) + " with handle " + std::to_string(row.nHandle));
            EXPECT_EQ(call(row.nHandle), IVICONFIG_ERROR_INVALID_HANDLE);
            EXPECT_NE(LastError().find(" handle, not a "), std::string::npos) << LastError();
        }
    }
}

TEST_F(ConfigStoreTest, NullOutputsAreRefused) {
    Store store;
    ASSERT_EQ(store.Load(m_folder.Path("none.xml")), VI_SUCCESS);
    EXPECT_EQ(IviConfig_Initialize(nullptr), IVICONFIG_ERROR_NULL_POINTER);
    EXPECT_EQ(IviConfig_DisposeHandle(nullptr), IVICONFIG_ERROR_NULL_POINTER);
    EXPECT_EQ(IviConfig_GetDriverSession(store.Handle(), "S", nullptr),
              IVICONFIG_ERROR_NULL_POINTER);
    EXPECT_EQ(IviConfig_GetConfigStoreSoftwareModuleCollection(store.Handle(), nullptr),
              IVICONFIG_ERROR_NULL_POINTER);
    IviSoftwareModuleHandle nModule = store.Module("TARVEK");
    IviPhysicalNameCollectionHandle nNames = VI_NULL;
    ASSERT_EQ(IviConfig_GetSoftwareModulePhysicalNameCollection(nModule, &nNames), VI_SUCCESS);
    EXPECT_EQ(IviConfig_GetPhysicalNameCount(nNames, nullptr), IVICONFIG_ERROR_NULL_POINTER);
    EXPECT_EQ(IviConfig_GetPhysicalNameItemByIndex(nNames, 1, nullptr),
              IVICONFIG_ERROR_NULL_POINTER);
    EXPECT_EQ(IviConfig_GetDriverSession(store.Handle(), nullptr, &nModule),
              IVICONFIG_ERROR_SESSION_NOT_FOUND);
}

TEST_F(ConfigStoreTest, ExampleStoreFileReadsAsDocumented) {
    Store store;
    ASSERT_EQ(store.Load(TARVEK_EXAMPLE_STORE), VI_SUCCESS) << LastError();
    IviDriverSessionHandle nSession = store.Session("MyPSU");
    IviHardwareAssetHandle nAsset = VI_NULL;
    ASSERT_EQ(IviConfig_GetSessionHardwareAssetReference(nSession, &nAsset), VI_SUCCESS);
    EXPECT_EQ(GetString(IviConfig_GetHardwareAssetPropertyViString, nAsset,
                        IVICONFIG_VAL_HARDWARE_ASSET_IO_RESOURCE_DESCRIPTOR),
              "TCPIP::127.0.0.1::5025::SOCKET");
    IviSoftwareModuleHandle nModule = VI_NULL;
    ASSERT_EQ(IviConfig_GetSessionSoftwareModuleReference(nSession, &nModule), VI_SUCCESS);
    EXPECT_EQ(PhysicalNames(nModule), kChannels);
    const std::vector<VirtualRow> vecExpected = {{"Main", "CH1", {}}, {"Out", "CH", {{1, 3, 1}}}};
    EXPECT_EQ(VirtualNames(nSession), vecExpected);
    IviDataComponentCollectionHandle nTop = VI_NULL;
    ASSERT_EQ(IviConfig_GetConfigComponentDataComponentCollection(nSession, &nTop), VI_SUCCESS);
    IviDataComponentHandle nSettings = VI_NULL;
    ASSERT_EQ(
        IviConfig_GetDataComponentItemByName(nTop, "Configurable Initial Settings", &nSettings),
        VI_SUCCESS);
    IviDataComponentCollectionHandle nMembers = VI_NULL;
    ASSERT_EQ(IviConfig_GetStructureDataComponentCollection(nSettings, &nMembers), VI_SUCCESS);
    ViInt32 nCount = 0;
    EXPECT_EQ(IviConfig_GetDataComponentCount(nMembers, &nCount), VI_SUCCESS);
    EXPECT_EQ(nCount, 4);
}

TEST_F(ConfigStoreTest, ErrorsAreKeptPerThread) {
    Store store;
    IviDriverSessionHandle nSession = VI_NULL;
    EXPECT_EQ(IviConfig_GetDriverSession(store.Handle(), "Here", &nSession),
              IVICONFIG_ERROR_SESSION_NOT_FOUND);
    std::string strOther = "unset";
    std::thread([&] { strOther = LastError(); }).join();
    EXPECT_EQ(strOther, "");
    EXPECT_NE(LastError().find("\"Here\""), std::string::npos);
}

TEST_F(ConfigStoreTest, ConcurrentInitializationsShareNothing) {
    const std::string strPath = m_folder.Write("store.xml", StoreText(R"(
  <HardwareAsset name="H" resourceDescriptor="TCPIP::127.0.0.1::5025::SOCKET"/>
  <DriverSession name="S" softwareModule="TARVEK" hardwareAsset="H">
    <VirtualName name="Out" mapTo="CH"><VirtualRange min="1" max="3"/></VirtualName>
  </DriverSession>
  <LogicalName name="MyPSU" driverSession="S"/>)"));
    // One store shared by every thread and deserialized again and again, plus
    // a store of each thread's own opened, walked and closed.
    Store shared;
    ASSERT_EQ(shared.Load(strPath), VI_SUCCESS);
    std::atomic<int> nFailures{0};
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < 6; ++t) {
        vecThreads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                if (t == 0) {
                    if (IviConfig_Deserialize(shared.Handle(), strPath.c_str()) != VI_SUCCESS) {
                        ++nFailures;
                    }
                    continue;
                }
                IviConfigStoreHandle nStore = VI_NULL;
                IviDriverSessionHandle nSession = VI_NULL;
                IviHardwareAssetHandle nAsset = VI_NULL;
                ViChar szResource[64] = "";
                bool bOk =
                    IviConfig_Initialize(&nStore) == VI_SUCCESS &&
                    IviConfig_Deserialize(nStore, strPath.c_str()) == VI_SUCCESS &&
                    IviConfig_GetDriverSession(nStore, "MyPSU", &nSession) == VI_SUCCESS &&
                    IviConfig_GetSessionHardwareAssetReference(nSession, &nAsset) == VI_SUCCESS &&
                    IviConfig_GetHardwareAssetPropertyViString(nAsset, 3, 64, szResource) ==
                        VI_SUCCESS &&
                    std::strcmp(szResource, "TCPIP::127.0.0.1::5025::SOCKET") == 0;
                IviDriverSessionHandle nSharedSession = VI_NULL;
                bOk = bOk && IviConfig_GetDriverSession(shared.Handle(), "S", &nSharedSession) ==
                                 VI_SUCCESS;
                ViBoolean bCache = VI_FALSE;
                bOk = bOk &&
                      IviConfig_GetDriverSessionPropertyViBoolean(nSharedSession, 4, &bCache) ==
                          VI_SUCCESS &&
                      bCache == VI_TRUE;
                bOk = bOk && IviConfig_DisposeHandle(&nSharedSession) == VI_SUCCESS;
                // Closing the store also releases the session and asset handles.
                bOk = bOk && IviConfig_Close(nStore) == VI_SUCCESS;
                if (!bOk) {
                    ++nFailures;
                }
            }
        });
    }
    for (std::thread& thread : vecThreads) {
        thread.join();
    }
    EXPECT_EQ(nFailures.load(), 0);
}

}  // namespace
