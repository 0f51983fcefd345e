// The configuration store layer read through its C API, with store files that
// each test writes into its own temporary folder.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ConfigStore.h"
#include "IviConfigServer.h"

namespace {

namespace fs = std::filesystem;

class TempFolder {
  public:
    TempFolder() {
        std::string strTemplate = (fs::temp_directory_path() / "tkconfig-XXXXXX").string();
        const char* szPath = mkdtemp(strTemplate.data());
        EXPECT_NE(szPath, nullptr);
        m_path = strTemplate;
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    std::string Write(const std::string& strName, const std::string& strText) const {
        const fs::path path = m_path / strName;
        std::ofstream(path, std::ios::binary) << strText;
        return path.string();
    }
    std::string Path(const std::string& strName) const { return (m_path / strName).string(); }

  private:
    fs::path m_path;
};

std::string LastError() {
    ViStatus nCode = 0;
    std::vector<ViChar> buffer(1024);
    IviConfig_GetError(&nCode, static_cast<ViInt32>(buffer.size()), buffer.data());
    return buffer.data();
}

// Opens a store, reads a file into it and closes it at the end of the test.
class Store {
  public:
    Store() { EXPECT_EQ(IviConfig_Initialize(&m_nHandle), VI_SUCCESS); }
    ~Store() {
        if (m_nHandle != VI_NULL) {
            EXPECT_EQ(IviConfig_Close(m_nHandle), VI_SUCCESS);
        }
    }
    ViStatus Load(const std::string& strPath) {
        return IviConfig_Deserialize(m_nHandle, strPath.c_str());
    }
    IviConfigStoreHandle Handle() const { return m_nHandle; }
    IviDriverSessionHandle Session(const char* szName) {
        IviDriverSessionHandle nSession = VI_NULL;
        EXPECT_EQ(IviConfig_GetDriverSession(m_nHandle, szName, &nSession), VI_SUCCESS)
            << LastError();
        return nSession;
    }
    IviSoftwareModuleHandle Module(const char* szName) {
        IviSoftwareModuleCollectionHandle nModules = VI_NULL;
        EXPECT_EQ(IviConfig_GetConfigStoreSoftwareModuleCollection(m_nHandle, &nModules),
                  VI_SUCCESS);
        IviSoftwareModuleHandle nModule = VI_NULL;
        EXPECT_EQ(IviConfig_GetSoftwareModuleItemByName(nModules, szName, &nModule), VI_SUCCESS)
            << LastError();
        IviConfig_DisposeHandle(&nModules);
        return nModule;
    }

  private:
    IviConfigStoreHandle m_nHandle = VI_NULL;
};

using StringGetter = ViStatus (*)(ViSession, ViInt32, ViInt32, ViChar[]);

std::string GetString(StringGetter getter, ViSession nHandle, ViInt32 nPropertyId) {
    const ViStatus nNeeded = getter(nHandle, nPropertyId, 0, nullptr);
    EXPECT_GT(nNeeded, 0) << LastError();
    if (nNeeded <= 0) {
        return {};
    }
    std::vector<ViChar> buffer(static_cast<std::size_t>(nNeeded));
    EXPECT_EQ(getter(nHandle, nPropertyId, nNeeded, buffer.data()), VI_SUCCESS);
    return buffer.data();
}

constexpr const char* kModule = R"(
  <SoftwareModule name="TARVEK">
    <PhysicalName name="CH1" repCapName="OutputChannel"/>
    <PhysicalName name="CH2" repCapName="OutputChannel"/>
    <PhysicalName name="CH3" repCapName="OutputChannel"/>
  </SoftwareModule>)";

std::string StoreText(const std::string& strBody) {
    return "<?xml version=\"1.0\"?>\n<IviConfigurationStore>" + std::string(kModule) + strBody +
           "\n</IviConfigurationStore>\n";
}

struct PhysicalRow {
    std::string strName;
    std::string strRepCap;
    bool operator==(const PhysicalRow&) const = default;
};

std::vector<PhysicalRow> PhysicalNames(IviSoftwareModuleHandle nModule) {
    std::vector<PhysicalRow> vecRows;
    IviPhysicalNameCollectionHandle nCollection = VI_NULL;
    EXPECT_EQ(IviConfig_GetSoftwareModulePhysicalNameCollection(nModule, &nCollection), VI_SUCCESS);
    ViInt32 nCount = -1;
    EXPECT_EQ(IviConfig_GetPhysicalNameCount(nCollection, &nCount), VI_SUCCESS);
    for (ViInt32 n = 1; n <= nCount; ++n) {
        IviPhysicalNameHandle nItem = VI_NULL;
        EXPECT_EQ(IviConfig_GetPhysicalNameItemByIndex(nCollection, n, &nItem), VI_SUCCESS);
        vecRows.push_back({GetString(IviConfig_GetPhysicalNamePropertyViString, nItem,
                                     IVICONFIG_VAL_PHYSICAL_NAME_NAME),
                           GetString(IviConfig_GetPhysicalNamePropertyViString, nItem,
                                     IVICONFIG_VAL_PHYSICAL_NAME_RC_NAME)});
        EXPECT_EQ(IviConfig_DisposeHandle(&nItem), VI_SUCCESS);
        EXPECT_EQ(nItem, VI_NULL);
    }
    EXPECT_EQ(IviConfig_DisposeHandle(&nCollection), VI_SUCCESS);
    return vecRows;
}

const std::vector<PhysicalRow> kChannels = {
    {"CH1", "OutputChannel"}, {"CH2", "OutputChannel"}, {"CH3", "OutputChannel"}};

class ConfigStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        IviConfig_ClearError();
        m_nBaseHandles = cfgstore::OpenHandleCount();
    }
    void TearDown() override {
        // Closing a store releases everything obtained through it.
        EXPECT_EQ(cfgstore::OpenHandleCount(), m_nBaseHandles);
    }
    TempFolder m_folder;
    std::size_t m_nBaseHandles = 0;
};

TEST_F(ConfigStoreTest, LogicalNameReachesSessionWithHardwareAsset) {
    const std::string strPath = m_folder.Write("store.xml", StoreText(R"(
  <HardwareAsset name="Bench" resourceDescriptor="TCPIP::127.0.0.1::5025::SOCKET"/>
  <DriverSession name="PSU.Session" softwareModule="TARVEK" hardwareAsset="Bench"
                 cache="false" interchangeCheck="true" queryInstrStatus="true" rangeCheck="false"
                 recordCoercions="true" simulate="false" driverSetup="Model=TK6510; Trace=1"/>
  <LogicalName name="MyPSU" driverSession="PSU.Session"/>)"));
    Store store;
    ASSERT_EQ(store.Load(strPath), VI_SUCCESS) << LastError();
    IviDriverSessionHandle nSession = store.Session("MyPSU");

    IviHardwareAssetHandle nAsset = VI_NULL;
    ASSERT_EQ(IviConfig_GetSessionHardwareAssetReference(nSession, &nAsset), VI_SUCCESS);
    ASSERT_NE(nAsset, VI_NULL);
    EXPECT_EQ(GetString(IviConfig_GetHardwareAssetPropertyViString, nAsset,
                        IVICONFIG_VAL_HARDWARE_ASSET_IO_RESOURCE_DESCRIPTOR),
              "TCPIP::127.0.0.1::5025::SOCKET");
    EXPECT_EQ(GetString(IviConfig_GetDriverSessionPropertyViString, nSession,
                        IVICONFIG_VAL_DRIVER_SESSION_DRIVER_SETUP),
              "Model=TK6510; Trace=1");
    EXPECT_EQ(GetString(IviConfig_GetDriverSessionPropertyViString, nSession,
                        IVICONFIG_VAL_DRIVER_SESSION_NAME),
              "PSU.Session");

    const std::pair<ViInt32, ViBoolean> rows[] = {
        {IVICONFIG_VAL_DRIVER_SESSION_CACHE, VI_FALSE},
        {IVICONFIG_VAL_DRIVER_SESSION_INTERCHANGE_CHECK, VI_TRUE},
        {IVICONFIG_VAL_DRIVER_SESSION_QUERY_INSTR_STATUS, VI_TRUE},
        {IVICONFIG_VAL_DRIVER_SESSION_RANGE_CHECK, VI_FALSE},
        {IVICONFIG_VAL_DRIVER_SESSION_RECORD_COERCIONS, VI_TRUE},
        {IVICONFIG_VAL_DRIVER_SESSION_SIMULATE, VI_FALSE},
    };
    for (const auto& [nId, bExpected] : rows) {
        SCOPED_TRACE(nId);
        ViBoolean bValue = 7;
        EXPECT_EQ(IviConfig_GetDriverSessionPropertyViBoolean(nSession, nId, &bValue), VI_SUCCESS);
        EXPECT_EQ(bValue, bExpected);
    }

    IviSoftwareModuleHandle nModule = VI_NULL;
    ASSERT_EQ(IviConfig_GetSessionSoftwareModuleReference(nSession, &nModule), VI_SUCCESS);
    EXPECT_EQ(PhysicalNames(nModule), kChannels);
    EXPECT_EQ(IviConfig_DisposeHandle(&nModule), VI_SUCCESS);
    EXPECT_EQ(IviConfig_DisposeHandle(&nAsset), VI_SUCCESS);
    EXPECT_EQ(IviConfig_DisposeHandle(&nSession), VI_SUCCESS);
}

TEST_F(ConfigStoreTest, SessionWithoutHardwareAssetGivesNullHandleAndDefaultOptions) {
    const std::string strPath = m_folder.Write("store.xml", StoreText(R"(
  <DriverSession name="Sim" softwareModule="TARVEK" simulate="TRUE"/>
  <LogicalName name="SimPSU" driverSession="Sim"/>)"));
    Store store;
    ASSERT_EQ(store.Load(strPath), VI_SUCCESS) << LastError();
    IviDriverSessionHandle nSession = store.Session("SimPSU");
    IviHardwareAssetHandle nAsset = 12345;
    EXPECT_EQ(IviConfig_GetSessionHardwareAssetReference(nSession, &nAsset), VI_SUCCESS);
    EXPECT_EQ(nAsset, VI_NULL);
    EXPECT_EQ(IviConfig_DisposeHandle(&nAsset), VI_SUCCESS);  // VI_NULL is accepted

    // Options the file leaves out take the usual IVI defaults.
    const std::pair<ViInt32, ViBoolean> rows[] = {
        {IVICONFIG_VAL_DRIVER_SESSION_CACHE, VI_TRUE},
        {IVICONFIG_VAL_DRIVER_SESSION_INTERCHANGE_CHECK, VI_FALSE},
        {IVICONFIG_VAL_DRIVER_SESSION_QUERY_INSTR_STATUS, VI_FALSE},
        {IVICONFIG_VAL_DRIVER_SESSION_RANGE_CHECK, VI_TRUE},
        {IVICONFIG_VAL_DRIVER_SESSION_RECORD_COERCIONS, VI_FALSE},
        {IVICONFIG_VAL_DRIVER_SESSION_SIMULATE, VI_TRUE},
    };
    for (const auto& [nId, bExpected] : rows) {
        SCOPED_TRACE(nId);
        ViBoolean bValue = 7;
        EXPECT_EQ(IviConfig_GetDriverSessionPropertyViBoolean(nSession, nId, &bValue), VI_SUCCESS);
        EXPECT_EQ(bValue, bExpected);
    }
    EXPECT_EQ(GetString(IviConfig_GetDriverSessionPropertyViString, nSession,
                        IVICONFIG_VAL_DRIVER_SESSION_DRIVER_SETUP),
              "");
}

TEST_F(ConfigStoreTest, NamesResolveToSessionsOrNameTheMissingOne) {
    const std::string strPath = m_folder.Write("store.xml", StoreText(R"(
  <DriverSession name="Direct.Session" softwareModule="TARVEK"/>
  <LogicalName name="Alias" driverSession="Direct.Session"/>)"));
    Store store;
    ASSERT_EQ(store.Load(strPath), VI_SUCCESS) << LastError();
    struct Row {
        const char* szName;
        ViStatus nStatus;
    };
    const Row rows[] = {
        {"Alias", VI_SUCCESS},
        {"Direct.Session", VI_SUCCESS},
        {"alias", IVICONFIG_ERROR_SESSION_NOT_FOUND},  // names are compared exactly
        {"TCPIP::10.0.0.1::5025::SOCKET", IVICONFIG_ERROR_SESSION_NOT_FOUND},
        {"", IVICONFIG_ERROR_SESSION_NOT_FOUND},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szName);
        IviConfig_ClearError();
        IviDriverSessionHandle nSession = 99;
        EXPECT_EQ(IviConfig_GetDriverSession(store.Handle(), row.szName, &nSession), row.nStatus);
        if (row.nStatus == VI_SUCCESS) {
            EXPECT_EQ(GetString(IviConfig_GetDriverSessionPropertyViString, nSession,
                                IVICONFIG_VAL_DRIVER_SESSION_NAME),
                      "Direct.Session");
            EXPECT_EQ(IviConfig_DisposeHandle(&nSession), VI_SUCCESS);
        } else {
            EXPECT_EQ(nSession, VI_NULL);
            EXPECT_NE(LastError().find("\"" + std::string(row.szName) + "\""), std::string::npos)
                << LastError();
        }
    }
    EXPECT_EQ(static_cast<unsigned>(IVICONFIG_ERROR_SESSION_NOT_FOUND), 0xBFFA1203u);
}

struct VirtualRow {
    std::string strName;
    std::string strMapTo;
    std::vector<std::array<ViInt32, 3>> vecRanges;  // min, max, starting physical index
    bool operator==(const VirtualRow&) const = default;
};

std::vector<VirtualRow> VirtualNames(IviDriverSessionHandle nSession) {
    std::vector<VirtualRow> vecRows;
    IviVirtualNameCollectionHandle nNames = VI_NULL;
    EXPECT_EQ(IviConfig_GetSessionVirtualNameCollection(nSession, &nNames), VI_SUCCESS);
    ViInt32 nCount = 0;
    EXPECT_EQ(IviConfig_GetVirtualNameCount(nNames, &nCount), VI_SUCCESS);
    for (ViInt32 n = 1; n <= nCount; ++n) {
        IviVirtualNameHandle nName = VI_NULL;
        EXPECT_EQ(IviConfig_GetVirtualNameItemByIndex(nNames, n, &nName), VI_SUCCESS);
        VirtualRow row{GetString(IviConfig_GetVirtualNamePropertyViString, nName,
                                 IVICONFIG_VAL_VIRTUAL_NAME_NAME),
                       GetString(IviConfig_GetVirtualNamePropertyViString, nName,
                                 IVICONFIG_VAL_VIRTUAL_NAME_MAP_TO),
                       {}};
        IviVirtualRangeCollectionHandle nRanges = VI_NULL;
        EXPECT_EQ(IviConfig_GetVirtualNameVirtualRangeCollection(nName, &nRanges), VI_SUCCESS);
        ViInt32 nRangeCount = 0;
        EXPECT_EQ(IviConfig_GetVirtualRangeCount(nRanges, &nRangeCount), VI_SUCCESS);
        for (ViInt32 r = 1; r <= nRangeCount; ++r) {
            IviVirtualRangeHandle nRange = VI_NULL;
            EXPECT_EQ(IviConfig_GetVirtualRangeItemByIndex(nRanges, r, &nRange), VI_SUCCESS);
            std::array<ViInt32, 3> values{};
            const ViInt32 ids[] = {IVICONFIG_VAL_VIRTUAL_RANGE_MIN, IVICONFIG_VAL_VIRTUAL_RANGE_MAX,
                                   IVICONFIG_VAL_VIRTUAL_RANGE_STARTING_PHYSICAL_INDEX};
            for (std::size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(IviConfig_GetVirtualRangePropertyViInt32(nRange, ids[i], &values[i]),
                          VI_SUCCESS);
            }
            row.vecRanges.push_back(values);
            EXPECT_EQ(IviConfig_DisposeHandle(&nRange), VI_SUCCESS);
        }
        vecRows.push_back(row);
        EXPECT_EQ(IviConfig_DisposeHandle(&nRanges), VI_SUCCESS);
        EXPECT_EQ(IviConfig_DisposeHandle(&nName), VI_SUCCESS);
    }
    EXPECT_EQ(IviConfig_DisposeHandle(&nNames), VI_SUCCESS);
    return vecRows;
}

TEST_F(ConfigStoreTest, VirtualNamesAndRangesComeBackAsWritten) {
    const std::string strPath = m_folder.Write("store.xml", StoreText(R"(
  <DriverSession name="S" softwareModule="TARVEK">
    <VirtualName name="Main" mapTo="CH1"/>
    <VirtualName name="Out" mapTo="CH">
      <VirtualRange min="1" max="3" startingPhysicalIndex="1"/>
      <VirtualRange min="7" max="8"/>
    </VirtualName>
    <VirtualName name="Backwards" mapTo="CH">
      <VirtualRange min="2" max="1" startingPhysicalIndex="-4"/>
    </VirtualName>
  </DriverSession>)"));
    Store store;
    ASSERT_EQ(store.Load(strPath), VI_SUCCESS) << LastError();
    IviDriverSessionHandle nSession = store.Session("S");
    // A range without a starting index starts at its minimum; a minimum above
    // the maximum is kept for the reader of the store to judge.
    const std::vector<VirtualRow> vecExpected = {
        {"Main", "CH1", {}},
        {"Out", "CH", {{1, 3, 1}, {7, 8, 7}}},
        {"Backwards", "CH", {{2, 1, -4}}},
    };
    EXPECT_EQ(VirtualNames(nSession), vecExpected);
    EXPECT_EQ(IviConfig_DisposeHandle(&nSession), VI_SUCCESS);
}

TEST_F(ConfigStoreTest, InitialSettingsOfEachTypeInAnyLetterCase) {
    const std::string strPath = m_folder.Write("store.xml", StoreText(R"(
  <DriverSession name="S" softwareModule="TARVEK">
    <DataComponent name="Configurable Initial Settings" type="Structure">
      <DataComponent name="RangeCheck" type="Boolean" value="true"/>
      <DataComponent name="Trace" type="BOOLEAN" value="0"/>
      <DataComponent name="Delay" type="integer" value="-250"/>
      <DataComponent name="Limit" type="REAL" value="30.5e-1"/>
      <DataComponent name="Model" type="sTrInG" value=" TK6510 "/>
      <DataComponent name="Odd" type="double" value="1.5"/>
      <DataComponent name="Empty" type="String"/>
    </DataComponent>
  </DriverSession>)"));
    Store store;
    ASSERT_EQ(store.Load(strPath), VI_SUCCESS) << LastError();
    IviDriverSessionHandle nSession = store.Session("S");
    IviDataComponentCollectionHandle nTop = VI_NULL;
    ASSERT_EQ(IviConfig_GetConfigComponentDataComponentCollection(nSession, &nTop), VI_SUCCESS);
    IviDataComponentHandle nSettings = VI_NULL;
    ASSERT_EQ(
        IviConfig_GetDataComponentItemByName(nTop, "Configurable Initial Settings", &nSettings),
        VI_SUCCESS);
    IviDataComponentCollectionHandle nMembers = VI_NULL;
    ASSERT_EQ(IviConfig_GetStructureDataComponentCollection(nSettings, &nMembers), VI_SUCCESS);

    // Each row: the name and type as written, and the value read with the
    // getter of that type (as text for strings and unknown types).
    struct Row {
        const char* szName;
        const char* szType;
        std::string strValue;
    };
    const Row rows[] = {
        {"RangeCheck", "Boolean", "1"},  {"Trace", "BOOLEAN", "0"},
        {"Delay", "integer", "-250"},    {"Limit", "REAL", "3.05"},
        {"Model", "sTrInG", " TK6510 "}, {"Odd", "double", "1.5"},
        {"Empty", "String", ""},
    };
    ViInt32 nCount = 0;
    ASSERT_EQ(IviConfig_GetDataComponentCount(nMembers, &nCount), VI_SUCCESS);
    ASSERT_EQ(nCount, static_cast<ViInt32>(std::size(rows)));
    for (ViInt32 n = 1; n <= nCount; ++n) {
        const Row& row = rows[n - 1];
        SCOPED_TRACE(row.szName);
        IviDataComponentHandle nItem = VI_NULL;
        ASSERT_EQ(IviConfig_GetDataComponentItemByIndex(nMembers, n, &nItem), VI_SUCCESS);
        EXPECT_EQ(GetString(IviConfig_GetDataComponentPropertyViString, nItem,
                            IVICONFIG_VAL_DATA_COMPONENT_NAME),
                  row.szName);
        const std::string strType = GetString(IviConfig_GetDataComponentPropertyViString, nItem,
                                              IVICONFIG_VAL_DATA_COMPONENT_TYPE);
        EXPECT_EQ(strType, row.szType);
        std::string strValue;
        ViBoolean bValue = 0;
        ViInt32 nValue = 0;
        ViReal64 dValue = 0;
        if (strcasecmp(row.szType, "boolean") == 0) {
            EXPECT_EQ(IviConfig_GetDataComponentPropertyViBoolean(
                          nItem, IVICONFIG_VAL_DATA_COMPONENT_VALUE, &bValue),
                      VI_SUCCESS);
            strValue = std::to_string(bValue);
        } else if (strcasecmp(row.szType, "integer") == 0) {
            EXPECT_EQ(IviConfig_GetDataComponentPropertyViInt32(
                          nItem, IVICONFIG_VAL_DATA_COMPONENT_VALUE, &nValue),
                      VI_SUCCESS);
            strValue = std::to_string(nValue);
        } else if (strcasecmp(row.szType, "real") == 0) {
            EXPECT_EQ(IviConfig_GetDataComponentPropertyViReal64(
                          nItem, IVICONFIG_VAL_DATA_COMPONENT_VALUE, &dValue),
                      VI_SUCCESS);
            EXPECT_DOUBLE_EQ(dValue, 3.05);
            strValue = "3.05";
        } else {
            strValue = GetString(IviConfig_GetDataComponentPropertyViString, nItem,
                                 IVICONFIG_VAL_DATA_COMPONENT_VALUE);
        }
        EXPECT_EQ(strValue, row.strValue);
        EXPECT_EQ(IviConfig_DisposeHandle(&nItem), VI_SUCCESS);
    }
    IviConfig_DisposeHandle(&nMembers);
    IviConfig_DisposeHandle(&nSettings);
    IviConfig_DisposeHandle(&nTop);
    IviConfig_DisposeHandle(&nSession);
}

TEST_F(ConfigStoreTest, ValueReadWithTheWrongTypeIsTypeMismatch) {
    const std::string strPath = m_folder.Write("store.xml", StoreText(R"(
  <DriverSession name="S" softwareModule="TARVEK">
    <DataComponent name="Count" type="Integer" value="3"/>
    <DataComponent name="Odd" type="double" value="1.5"/>
  </DriverSession>)"));
    Store store;
    ASSERT_EQ(store.Load(strPath), VI_SUCCESS) << LastError();
    IviDriverSessionHandle nSession = store.Session("S");
    IviDataComponentCollectionHandle nTop = VI_NULL;
    ASSERT_EQ(IviConfig_GetConfigComponentDataComponentCollection(nSession, &nTop), VI_SUCCESS);
    IviDataComponentHandle nCount = VI_NULL;
    IviDataComponentHandle nOdd = VI_NULL;
    ASSERT_EQ(IviConfig_GetDataComponentItemByName(nTop, "Count", &nCount), VI_SUCCESS);
    ASSERT_EQ(IviConfig_GetDataComponentItemByName(nTop, "Odd", &nOdd), VI_SUCCESS);
    ViReal64 dValue = 0;
    ViBoolean bValue = 0;
    ViInt32 nValue = 0;
    ViChar szValue[16];
    EXPECT_EQ(IviConfig_GetDataComponentPropertyViReal64(nCount, 9, &dValue),
              IVICONFIG_ERROR_TYPE_MISMATCH);
    EXPECT_NE(LastError().find("\"Count\""), std::string::npos) << LastError();
    EXPECT_EQ(IviConfig_GetDataComponentPropertyViBoolean(nCount, 9, &bValue),
              IVICONFIG_ERROR_TYPE_MISMATCH);
    EXPECT_EQ(IviConfig_GetDataComponentPropertyViString(nCount, 9, 16, szValue),
              IVICONFIG_ERROR_TYPE_MISMATCH);
    EXPECT_EQ(IviConfig_GetDataComponentPropertyViInt32(nOdd, 9, &nValue),
              IVICONFIG_ERROR_TYPE_MISMATCH);
    EXPECT_EQ(IviConfig_GetDataComponentPropertyViInt32(nCount, 9, &nValue), VI_SUCCESS);
    EXPECT_EQ(nValue, 3);
    IviDataComponentCollectionHandle nMembers = VI_NULL;
    EXPECT_EQ(IviConfig_GetStructureDataComponentCollection(nCount, &nMembers),
              IVICONFIG_ERROR_TYPE_MISMATCH);
    EXPECT_EQ(nMembers, VI_NULL);
}

TEST_F(ConfigStoreTest, MissingInitialSettingsIsDataComponentNotFound) {
    const std::string strPath = m_folder.Write(
        "store.xml", StoreText(R"(<DriverSession name="S" softwareModule="TARVEK"/>)"));
    Store store;
    ASSERT_EQ(store.Load(strPath), VI_SUCCESS) << LastError();
    for (IviConfigComponentHandle nComponent : {store.Session("S"), store.Module("TARVEK")}) {
        IviDataComponentCollectionHandle nTop = VI_NULL;
        ASSERT_EQ(IviConfig_GetConfigComponentDataComponentCollection(nComponent, &nTop),
                  VI_SUCCESS);
        IviDataComponentHandle nItem = 77;
        EXPECT_EQ(
            IviConfig_GetDataComponentItemByName(nTop, "Configurable Initial Settings", &nItem),
            IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND);
        EXPECT_EQ(static_cast<unsigned>(IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND), 0xBFFA1207u);
        EXPECT_EQ(nItem, VI_NULL);
        EXPECT_NE(LastError().find("\"Configurable Initial Settings\""), std::string::npos);
        EXPECT_EQ(IviConfig_ClearError(), VI_SUCCESS);
        ViStatus nCode = 1;
        ViChar szText[8] = "x";
        EXPECT_EQ(IviConfig_GetError(&nCode, sizeof szText, szText), VI_SUCCESS);
        EXPECT_EQ(nCode, VI_SUCCESS);
        EXPECT_STREQ(szText, "");
        IviConfig_DisposeHandle(&nTop);
    }
}

TEST_F(ConfigStoreTest, MissingSoftwareModuleIsNamed) {
    const std::string strPath = m_folder.Write(
        "store.xml",
        "<IviConfigurationStore><SoftwareModule name=\"Other\"/></IviConfigurationStore>");
    Store store;
    ASSERT_EQ(store.Load(strPath), VI_SUCCESS) << LastError();
    IviSoftwareModuleCollectionHandle nModules = VI_NULL;
    ASSERT_EQ(IviConfig_GetConfigStoreSoftwareModuleCollection(store.Handle(), &nModules),
              VI_SUCCESS);
    IviSoftwareModuleHandle nModule = 5;
    const ViStatus s = IviConfig_GetSoftwareModuleItemByName(nModules, "TARVEK", &nModule);
    EXPECT_LT(s, 0);
    EXPECT_NE(s, IVICONFIG_ERROR_SESSION_NOT_FOUND);
    EXPECT_NE(s, IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND);
    EXPECT_EQ(nModule, VI_NULL);
    EXPECT_NE(LastError().find("software module named \"TARVEK\""), std::string::npos)
        << LastError();
}

TEST_F(ConfigStoreTest, SessionWithoutSoftwareModuleIsAnError) {
    const std::string strPath =
        m_folder.Write("store.xml", StoreText(R"(<DriverSession name="S"/>)"));
    Store store;
    ASSERT_EQ(store.Load(strPath), VI_SUCCESS) << LastError();
    IviDriverSessionHandle nSession = store.Session("S");
    IviSoftwareModuleHandle nModule = 5;
    EXPECT_EQ(IviConfig_GetSessionSoftwareModuleReference(nSession, &nModule),
              IVICONFIG_ERROR_NO_REFERENCE);
    EXPECT_EQ(nModule, VI_NULL);
    EXPECT_NE(LastError().find("\"S\""), std::string::npos) << LastError();
}

TEST_F(ConfigStoreTest, MalformedFileNamesFileLineAndColumn) {
    struct Row {
        const char* szCase;
        std::string strText;
        int nLine;
        const char* szWhat;
    };
    const Row rows[] = {
        {"unclosed tag",
         "<IviConfigurationStore>\n  <SoftwareModule "
         "name=\"TARVEK\">\n\n</IviConfigurationStore>\n",
         4, "mismatch"},
        {"bad attribute syntax",
         "<IviConfigurationStore>\n<LogicalName name=>\n</IviConfigurationStore>", 2, "attribute"},
        {"empty file", "", 1, "No document element"},
        {"windows line ends",
         "<IviConfigurationStore>\r\n<HardwareAsset name=\"a\r\nb\"/>\r\n\r\n  <Bogus/>\r\n"
         "</IviConfigurationStore>",
         5, "cannot hold <Bogus>"},
        {"wrong root", "\n\n<Store/>", 3, "<IviConfigurationStore>"},
        {"unknown element", StoreText("\n  <LogicalNames/>"), 8, "cannot hold <LogicalNames>"},
        {"unknown attribute", StoreText("\n  <DriverSession name=\"S\" simualte=\"true\"/>"), 8,
         "\"simualte\""},
        {"bad boolean", StoreText("\n  <DriverSession name=\"S\" cache=\"maybe\"/>"), 8,
         "\"maybe\""},
        {"bad range integer",
         StoreText(
             "\n  <DriverSession name=\"S\">\n    <VirtualName name=\"V\" mapTo=\"CH\">\n"
             "      <VirtualRange min=\"1\" max=\"3x\"/>\n    </VirtualName>\n  </DriverSession>"),
         10, "\"3x\""},
        {"integer overflow",
         StoreText("\n  <DriverSession name=\"S\">\n    <DataComponent name=\"N\" type=\"Integer\" "
                   "value=\"2147483648\"/>\n  </DriverSession>"),
         9, "\"2147483648\""},
        {"bad real",
         StoreText("\n  <DriverSession name=\"S\">\n    <DataComponent name=\"R\" type=\"real\" "
                   "value=\"1,5\"/>\n  </DriverSession>"),
         9, "\"1,5\""},
        {"missing value",
         StoreText(
             "\n  <DriverSession name=\"S\">\n    <DataComponent name=\"B\" type=\"Boolean\"/>\n"
             "  </DriverSession>"),
         9, "needs a \"value\""},
        {"missing type",
         StoreText("\n  <SoftwareModule name=\"X\">\n    <DataComponent name=\"B\" value=\"1\"/>\n"
                   "  </SoftwareModule>"),
         9, "\"type\""},
        {"members of a non-structure",
         StoreText(
             "\n  <DriverSession name=\"S\">\n    <DataComponent name=\"B\" type=\"String\">\n"
             "      <DataComponent name=\"C\" type=\"String\"/>\n    </DataComponent>\n"
             "  </DriverSession>"),
         9, "not a structure"},
        {"dangling logical name",
         StoreText("\n  <LogicalName name=\"L\" driverSession=\"Nowhere\"/>"), 8, "\"Nowhere\""},
        {"dangling hardware asset",
         StoreText("\n  <DriverSession name=\"S\" hardwareAsset=\"Gone\"/>"), 8, "\"Gone\""},
        {"dangling software module",
         StoreText("\n  <DriverSession name=\"S\" softwareModule=\"TK\"/>"), 8, "\"TK\""},
        {"duplicate logical name",
         StoreText(
             "\n  <DriverSession name=\"S\"/>\n  <LogicalName name=\"L\" driverSession=\"S\"/>\n"
             "  <LogicalName name=\"L\" driverSession=\"S\"/>"),
         10, "second logical name"},
        {"duplicate software module", StoreText("\n  <SoftwareModule name=\"TARVEK\"/>"), 8,
         "second software module"},
        {"empty name", StoreText("\n  <HardwareAsset name=\"\"/>"), 8, "non-empty \"name\""},
        {"stray text", StoreText("\n  <HardwareAsset name=\"H\">oops</HardwareAsset>"), 8,
         "unexpected text"},
        {"repeated attribute", StoreText("\n  <HardwareAsset name=\"H\" name=\"I\"/>"), 8,
         "appears twice"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szCase);
        const std::string strPath = m_folder.Write("bad.xml", row.strText);
        Store store;
        EXPECT_EQ(store.Load(strPath), IVICONFIG_ERROR_DESERIALIZE_FAILED);
        const std::string strError = LastError();
        EXPECT_NE(strError.find("\"" + strPath + "\""), std::string::npos) << strError;
        EXPECT_NE(strError.find("line " + std::to_string(row.nLine) + ", column "),
                  std::string::npos)
            << strError;
        EXPECT_NE(strError.find(row.szWhat), std::string::npos) << strError;
        // A failed read leaves the store as it was: empty.
        IviDriverSessionHandle nSession = VI_NULL;
        EXPECT_EQ(IviConfig_GetDriverSession(store.Handle(), "L", &nSession),
                  IVICONFIG_ERROR_SESSION_NOT_FOUND);
    }
}

TEST_F(ConfigStoreTest, ColumnCountsFromOne) {
    const std::string strPath =
        m_folder.Write("bad.xml", "<IviConfigurationStore>\n   <Bogus/>\n</IviConfigurationStore>");
    Store store;
    EXPECT_EQ(store.Load(strPath), IVICONFIG_ERROR_DESERIALIZE_FAILED);
    EXPECT_NE(LastError().find("line 2, column 4:"), std::string::npos) << LastError();
}

TEST_F(ConfigStoreTest, MissingFileGivesTheBuiltInRegistration) {
    for (const std::string& strPath :
         {m_folder.Path("absent.xml"), m_folder.Path("no/such/dir/store.xml")}) {
        SCOPED_TRACE(strPath);
        Store store;
        ASSERT_EQ(store.Load(strPath), VI_SUCCESS) << LastError();
        IviSoftwareModuleHandle nModule = store.Module("TARVEK");
        EXPECT_EQ(PhysicalNames(nModule), kChannels);
        IviDataComponentCollectionHandle nTop = VI_NULL;
        ASSERT_EQ(IviConfig_GetConfigComponentDataComponentCollection(nModule, &nTop), VI_SUCCESS);
        IviDataComponentHandle nItem = VI_NULL;
        EXPECT_EQ(
            IviConfig_GetDataComponentItemByName(nTop, "Configurable Initial Settings", &nItem),
            IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND);
        IviDriverSessionHandle nSession = VI_NULL;
        EXPECT_EQ(
            IviConfig_GetDriverSession(store.Handle(), "TCPIP::127.0.0.1::5025::SOCKET", &nSession),
            IVICONFIG_ERROR_SESSION_NOT_FOUND);
    }
}

TEST_F(ConfigStoreTest, UnreadableLocationIsAnError) {
    Store store;
    EXPECT_EQ(store.Load(m_folder.Path("")), IVICONFIG_ERROR_DESERIALIZE_FAILED);
    EXPECT_NE(LastError().find("directory"), std::string::npos) << LastError();
    EXPECT_EQ(IviConfig_Deserialize(store.Handle(), ""), IVICONFIG_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(IviConfig_Deserialize(store.Handle(), nullptr), IVICONFIG_ERROR_INVALID_PARAMETER);
    if (geteuid() != 0) {  // root reads files whatever their mode
        const std::string strPath = m_folder.Write("locked.xml", StoreText(""));
        ASSERT_EQ(chmod(strPath.c_str(), 0), 0);
        EXPECT_EQ(store.Load(strPath), IVICONFIG_ERROR_DESERIALIZE_FAILED);
        EXPECT_NE(LastError().find("cannot be read"), std::string::npos) << LastError();
    }
}

TEST_F(ConfigStoreTest, DeserializingAgainReplacesTheContents) {
    const std::string strFirst =
        m_folder.Write("a.xml", StoreText(R"(<DriverSession name="A" softwareModule="TARVEK"/>)"));
    const std::string strSecond =
        m_folder.Write("b.xml", StoreText(R"(<DriverSession name="B" softwareModule="TARVEK"/>)"));
    Store store;
    ASSERT_EQ(store.Load(strFirst), VI_SUCCESS);
    IviDriverSessionHandle nA = store.Session("A");
    ASSERT_EQ(store.Load(strSecond), VI_SUCCESS);
    IviDriverSessionHandle nMissing = VI_NULL;
    EXPECT_EQ(IviConfig_GetDriverSession(store.Handle(), "A", &nMissing),
              IVICONFIG_ERROR_SESSION_NOT_FOUND);
    IviDriverSessionHandle nB = store.Session("B");
    // A handle obtained before keeps reading what it pointed at.
    EXPECT_EQ(GetString(IviConfig_GetDriverSessionPropertyViString, nA,
                        IVICONFIG_VAL_DRIVER_SESSION_NAME),
              "A");
    EXPECT_EQ(GetString(IviConfig_GetDriverSessionPropertyViString, nB,
                        IVICONFIG_VAL_DRIVER_SESSION_NAME),
              "B");
}

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
