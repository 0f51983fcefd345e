// The configuration store's contents read through its C API: logical names,
// sessions, hardware assets, software modules, virtual names and initial
// settings, from store files each test writes into its own temporary folder,
// and the errors a missing or malformed file gives.
#include "ConfigStoreFixture.h"

namespace {

using namespace configtest;

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

}  // namespace
