// Sessions opened by logical name from store files written by the tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ConfigStore.h"
#include "IviConfigServer.h"
#include "TestSession.h"
#include "runtime/session/CallFrame.h"

namespace {

// Points the process's store location at a file of the test's own.
class StoreFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvek-store-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_nHandlesBefore = cfgstore::OpenHandleCount();
    }

    void TearDown() override {
        if (m_vi != VI_NULL) {
            TARVEK_close(m_vi);
        }
        UseLocation("");
        std::filesystem::remove_all(m_dir);
        EXPECT_EQ(cfgstore::OpenHandleCount(), m_nHandlesBefore)
            << "no store handle may outlive init";
    }

    static void UseLocation(const std::string& strPath) {
        IviConfigStoreHandle hStore = VI_NULL;
        ASSERT_GE(IviConfig_Initialize(&hStore), 0);
        ASSERT_GE(IviConfig_SetConfigStorePropertyViString(
                      hStore, IVICONFIG_VAL_CONFIG_STORE_PROCESS_DEFAULT_LOCATION, strPath.c_str()),
                  0);
        IviConfig_Close(hStore);
    }

    void WriteStore(const std::string& strBody, bool bRegisterDriver = true) {
        const std::string strPath = (m_dir / "store.xml").string();
        std::ofstream out(strPath);
        out << "<?xml version=\"1.0\"?>\n<IviConfigurationStore>\n";
        if (bRegisterDriver) {
            out << "  <SoftwareModule name=\"TARVEK\">\n"
                   "    <PhysicalName name=\"CH1\" repCapName=\"OutputChannel\"/>\n"
                   "    <PhysicalName name=\"CH2\" repCapName=\"OutputChannel\"/>\n"
                   "    <PhysicalName name=\"CH3\" repCapName=\"OutputChannel\"/>\n"
                   "  </SoftwareModule>\n";
        }
        out << strBody << "</IviConfigurationStore>\n";
        out.close();
        UseLocation(strPath);
    }

    ViStatus Open(const char* pName, const char* pOptions = "") {
        return TARVEK_InitWithOptions(const_cast<ViChar*>(pName), VI_TRUE, VI_FALSE, pOptions,
                                      &m_vi);
    }

    drt::DriverSession& Session() {
        drt::DriverSession* pSession = nullptr;
        EXPECT_EQ(drt::FetchSession(m_vi, pSession), VI_SUCCESS);
        return *pSession;
    }

    std::filesystem::path m_dir;
    std::size_t m_nHandlesBefore = 0;
    ViSession m_vi = VI_NULL;
};

const char kSimulatedSession[] = R"(
  <DriverSession name="Sim.Session" softwareModule="TARVEK" cache="true" rangeCheck="false"
                 simulate="true" driverSetup="Model=6510, Speed: fast ">
    <VirtualName name="Main" mapTo="CH1"/>
    <VirtualName name="Out" mapTo="CH">
      <VirtualRange min="1" max="3" startingPhysicalIndex="1"/>
    </VirtualName>
    <VirtualName name="Rev" mapTo="CH">
      <VirtualRange min="2" max="1" startingPhysicalIndex="1"/>
    </VirtualName>
    <VirtualName name="Alt" mapTo="CH">
      <VirtualRange min="7" max="8" startingPhysicalIndex="2"/>
    </VirtualName>
    <DataComponent name="Configurable Initial Settings" type="Structure">
      <DataComponent name="RangeCheck" type="BOOLEAN" value="true"/>
      <DataComponent name="Retries" type="integer" value="3"/>
      <DataComponent name="Limit" type="Real" value="30.5"/>
      <DataComponent name="Label" type="String" value="bench 4"/>
      <DataComponent name="Skipped" type="double" value="1.5"/>
    </DataComponent>
  </DriverSession>
  <LogicalName name="SimPSU" driverSession="Sim.Session"/>
)";

TEST_F(StoreFile, LogicalNameWithoutHardwareAssetSimulates) {
    WriteStore(kSimulatedSession);
    ASSERT_EQ(Open("SimPSU"), VI_SUCCESS);
    drt::DriverSession& session = Session();
    EXPECT_EQ(session.GetLogicalName(), "SimPSU");
    EXPECT_EQ(session.GetIoResourceDescriptor(), "");
    EXPECT_TRUE(session.GetSimulate());
    EXPECT_FALSE(session.GetRangeCheck());
    EXPECT_EQ(session.GetInstrumentModel(), "6510");
    EXPECT_EQ(session.GetDriverSetup(), "Model=6510, Speed: fast ");
    std::string strValue;
    EXPECT_TRUE(session.FindDriverSetupValue("speed", strValue));
    EXPECT_EQ(strValue, "fast ");

    EXPECT_EQ(session.MapVirtualName("Main"), "CH1");
    EXPECT_EQ(session.MapVirtualName("out2"), "CH2");
    EXPECT_EQ(session.MapVirtualName("Out3"), "CH3");
    EXPECT_EQ(session.MapVirtualName("Alt7"), "CH2");
    EXPECT_EQ(session.MapVirtualName("Alt8"), "CH3");
    EXPECT_EQ(session.MapPhysicalName("CH1"), "Out1");
    EXPECT_EQ(session.GetVirtualNames().count("Rev1"), 0u)
        << "a range with min above max adds nothing";
    EXPECT_EQ(session.GetVirtualNames().count("Rev2"), 0u);

    bool bValue = false;
    ViInt32 nValue = 0;
    ViReal64 dValue = 0;
    EXPECT_TRUE(session.FindInitialBoolean("rangecheck", bValue));
    EXPECT_TRUE(bValue);
    EXPECT_TRUE(session.FindInitialInt32("RETRIES", nValue));
    EXPECT_EQ(nValue, 3);
    EXPECT_TRUE(session.FindInitialReal64("limit", dValue));
    EXPECT_DOUBLE_EQ(dValue, 30.5);
    EXPECT_TRUE(session.FindInitialString("label", strValue));
    EXPECT_EQ(strValue, "bench 4");
    EXPECT_FALSE(session.FindInitialReal64("Skipped", dValue)) << "an unknown type is skipped";
    EXPECT_FALSE(session.FindInitialString("Skipped", strValue));
}

// A store may qualify a virtual name's target with its repeated capability
// ("OutputChannel!!CH3"); selectors must reach the physical channel anyway.
TEST_F(StoreFile, QualifiedVirtualNamesSelectTheirChannel) {
    WriteStore(R"(
  <DriverSession name="Q.Session" softwareModule="TARVEK" simulate="true"
                 driverSetup="Model=6310">
    <VirtualName name="Pump" mapTo="OutputChannel!!CH3"/>
    <VirtualName name="Rail" mapTo="OutputChannel!!CH">
      <VirtualRange min="1" max="2" startingPhysicalIndex="2"/>
    </VirtualName>
  </DriverSession>
  <LogicalName name="QualifiedPSU" driverSession="Q.Session"/>
)");
    ASSERT_EQ(Open("QualifiedPSU"), VI_SUCCESS);
    EXPECT_EQ(Session().MapVirtualName("Pump"), "CH3");
    EXPECT_EQ(Session().MapPhysicalName("CH2"), "Rail1");
    struct Case {
        const char* pVirtual;
        const char* pPhysical;
        ViReal64 dLevel;
    };
    const Case kCases[] = {{"Pump", "CH3", 2.5}, {"Rail1", "CH2", 3.5}, {"Rail2", "CH3", 4.5}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pVirtual);
        EXPECT_EQ(
            TARVEK_SetAttributeViReal64(m_vi, c.pVirtual, TARVEK_ATTR_VOLTAGE_LEVEL, c.dLevel),
            VI_SUCCESS);
        ViReal64 dRead = 0;
        EXPECT_EQ(TARVEK_GetAttributeViReal64(m_vi, c.pPhysical, TARVEK_ATTR_VOLTAGE_LEVEL, &dRead),
                  VI_SUCCESS);
        EXPECT_DOUBLE_EQ(dRead, c.dLevel);
    }
    ViReal64 dRead = 0;
    EXPECT_EQ(TARVEK_GetAttributeViReal64(m_vi, "Pump", TARVEK_ATTR_VOLTAGE_LEVEL, &dRead),
              VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dRead, 4.5);
}

TEST_F(StoreFile, OptionStringOverridesTheStore) {
    WriteStore(kSimulatedSession);
    ASSERT_EQ(Open("SimPSU", "Cache=0, RangeCheck=1, DriverSetup=Model=6311"), VI_SUCCESS);
    EXPECT_FALSE(Session().GetCache());
    EXPECT_TRUE(Session().GetRangeCheck());
    EXPECT_EQ(Session().GetInstrumentModel(), "6311");
    EXPECT_EQ(Session().GetDriverSetup(), "Model=6311");
}

TEST_F(StoreFile, InitialModelSettingComesAfterTheStoreDriverSetup) {
    WriteStore(R"(
  <DriverSession name="S" softwareModule="TARVEK" simulate="true" driverSetup="Model=6510">
    <DataComponent name="Configurable Initial Settings" type="Structure">
      <DataComponent name="model" type="String" value="6512"/>
    </DataComponent>
  </DriverSession>
  <LogicalName name="L" driverSession="S"/>
)");
    ASSERT_EQ(Open("L"), VI_SUCCESS);
    EXPECT_EQ(Session().GetInstrumentModel(), "6512");
}

TEST_F(StoreFile, VisaResourceUsesTheModuleSettings) {
    WriteStore(R"(
  <DriverSession name="S" softwareModule="TARVEK" simulate="true"/>
)");
    ASSERT_EQ(Open("TCPIP::10.0.0.1::5025::SOCKET", "Simulate=1"), VI_SUCCESS);
    EXPECT_EQ(Session().GetLogicalName(), "");
    EXPECT_EQ(Session().GetIoResourceDescriptor(), "TCPIP::10.0.0.1::5025::SOCKET");
}

TEST_F(StoreFile, StoreFailuresEndInitializationWithTheStoresText) {
    struct Case {
        const char* pBody;
        bool bRegister;
        const char* pName;
        const char* pExpectedText;  // a part of the recorded text
    } cases[] = {
        {"", false, "TCPIP::10.0.0.1::5025::SOCKET", "TARVEK"},
        {"  <DriverSession name=\"S\" softwareModule=\"TARVEK\"\n simualte=\"true\"/>\n", true, "S",
         "line 8"},
        {"  <DriverSession name=\"S\" softwareModule=\"TARVEK\" simulate=\"true\">\n"
         "    <VirtualName name=\"Huge\" mapTo=\"CH\"><VirtualRange min=\"-2000000000\" "
         "max=\"2000000000\" startingPhysicalIndex=\"1\"/></VirtualName>\n"
         "  </DriverSession>\n  <LogicalName name=\"L\" driverSession=\"S\"/>\n",
         true, "L", "-2000000000-2000000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pName);
        WriteStore(c.pBody, c.bRegister);
        EXPECT_LT(Open(c.pName, "Simulate=1"), 0);
        EXPECT_EQ(m_vi, VI_NULL);
        const RecordedError error = LastError(VI_NULL);
        EXPECT_LT(error.nCode, 0);
        EXPECT_NE(error.strText.find(c.pExpectedText), std::string::npos) << error.strText;
    }
}

TEST_F(StoreFile, MissingFileHoldsTheDriversOwnRegistration) {
    UseLocation((m_dir / "absent.xml").string());
    ASSERT_EQ(Open("TCPIP::10.0.0.1::5025::SOCKET", "Simulate=1"), VI_SUCCESS);
    EXPECT_EQ(Session().GetIoResourceDescriptor(), "TCPIP::10.0.0.1::5025::SOCKET");
}

}  // namespace
