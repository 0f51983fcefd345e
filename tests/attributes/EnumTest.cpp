// Enumeration maps both ways, model-dependent rows, value naming and the
// model gate.
#include "AttributeTestSupport.h"
#include "runtime/enums/ModelGate.h"

namespace attrtest {
namespace {

constexpr ViStatus kCannotConvertResponse = static_cast<ViStatus>(0xBFFA0059);
constexpr ViStatus kCannotConvertValue = static_cast<ViStatus>(0xBFFA0000);

struct Word {
    ViInt32 nValue;
    const char* pWrite;
    std::vector<const char*> vecAccepted;
};

struct Table {
    const char* pName;
    const drt::EnumCommandMap& (*map)();
    std::vector<Word> vecWords;
};

TEST(Enumerations, EveryTableBothWays) {
    const Table tables[] = {
        {"boolean", &drt::BooleanMap, {{VI_TRUE, "1", {"1", " 1\n"}}, {VI_FALSE, "0", {"0"}}}},
        {"channel",
         &tarvek::ChannelMap,
         {{0, "0", {"0", "CH1", "ch1"}}, {1, "1", {"1", "Ch2"}}, {2, "2", {"2", "CH3"}}}},
        {"pin function",
         &tarvek::DigitalPinFunctionMap,
         {{0, "NONE", {"NONE"}},
          {1, "DOUT", {"dout"}},
          {2, "DINP", {"DINP"}},
          {3, "TOUT", {"TOUT"}},
          {4, "TINP", {"TINP"}},
          {5, "FAUL", {"FAUL"}},
          {6, "INH", {"INH"}}}},
        {"pin polarity",
         &tarvek::DigitalPinPolarityMap,
         {{0, "POS", {"POS"}}, {1, "NEG", {"neg"}}}},
        {"inhibit",
         &tarvek::InhibitModeMap,
         {{0, "LATC", {"LATC"}}, {1, "LIVE", {"LIVE"}}, {2, "OFF", {"OFF"}}}},
        {"list pace",
         &tarvek::ListPaceMap,
         {{1, "1", {"1", "ON", " on\r\n"}}, {0, "0", {"0", "OFF"}}}},
        {"terminate",
         &tarvek::ListTerminateStateMap,
         {{0, "0", {"0", "OFF"}}, {1, "1", {"1", "ON"}}}},
        {"output mode",
         &tarvek::OutputModeMap,
         {{0, "OFF", {"OFF"}},
          {1, "PARA2", {"PARA2"}},
          {2, "PARA3", {"PARA3"}},
          {3, "SERI2", {"SERI2"}},
          {4, "SERI3", {"SERI3"}},
          {5, "TRAC2", {"TRAC2"}},
          {6, "TRAC3", {"trac3"}}}},
        {"power on",
         &tarvek::PowerOnStateMap,
         {{0, "OFF", {"OFF"}}, {1, "LAST", {"LAST"}}, {2, "USER", {"USER"}}}},
        {"remote",
         &tarvek::RemoteStateMap,
         {{0, "REM", {"REM"}}, {1, "LOC", {"LOC"}}, {2, "RWL", {"RWL"}}}},
        {"trigger",
         &tarvek::SpecificTriggerSourceMap,
         {{0, "BUS", {"BUS"}}, {1, "EXT", {"EXT"}}, {2, "IMM", {"imm"}}}},
    };
    Session session;
    drt::DriverSession& object = session.Object();
    for (const Table& table : tables) {
        SCOPED_TRACE(table.pName);
        for (const Word& word : table.vecWords) {
            SCOPED_TRACE(word.pWrite);
            std::string strCommand = "stale";
            EXPECT_EQ(drt::ValueToCommand(object, table.map(), word.nValue, strCommand),
                      VI_SUCCESS);
            EXPECT_EQ(strCommand, word.pWrite);
            for (const char* pResponse : word.vecAccepted) {
                ViInt32 nValue = -7;
                EXPECT_EQ(drt::ResponseToValue(object, table.map(), pResponse, nValue), VI_SUCCESS);
                EXPECT_EQ(nValue, word.nValue);
            }
        }
        // The naming rows never apply, and unknown words and values are refused.
        ViInt32 nValue = 0;
        EXPECT_EQ(drt::ResponseToValue(object, table.map(), "!!!", nValue), kCannotConvertResponse);
        EXPECT_EQ(nValue, -1);
        std::string strCommand = "stale";
        EXPECT_EQ(drt::ValueToCommand(object, table.map(), 99, strCommand), kCannotConvertValue);
        EXPECT_EQ(strCommand, "");
    }
}

TEST(Enumerations, RefusalsCarryTheValueOrResponse) {
    Session session;
    drt::DriverSession& object = session.Object();
    ViInt32 nValue = 0;
    EXPECT_EQ(drt::ResponseToValue(object, drt::BooleanMap(), "TRUE", nValue),
              kCannotConvertResponse);
    EXPECT_EQ(
        LastError(session.Vi()).strText,
        "Unexpected response from instrument.  Could not convert instrument response (TRUE) to a "
        "defined value.");
    std::string strCommand;
    EXPECT_EQ(drt::ValueToCommand(object, drt::BooleanMap(), 2, strCommand), kCannotConvertValue);
    EXPECT_EQ(
        LastError(session.Vi()).strText,
        "Failure cannot recover.  Could not convert defined value '2' to an instrument command.");
}

TEST(Enumerations, NamesComeFromTheFirstRow) {
    EXPECT_EQ(drt::ValueName(tarvek::OutputModeMap(), 3), "TARVEK_VAL_OUTPUT_MODE_SERIES2");
    EXPECT_EQ(drt::ValueName(tarvek::ClassTriggerSourceMap(), 7), "TARVEK_VAL_TRIG_TTL4");
    EXPECT_EQ(drt::ValueName(tarvek::ClassTriggerSourceMap(), 20), "TARVEK_VAL_TRIG_RTSI_6");
    EXPECT_EQ(drt::ValueName(tarvek::MeasurementTypeMap(), 1), "TARVEK_VAL_MEASURE_VOLTAGE");
    EXPECT_EQ(drt::ValueName(tarvek::OutputStateMap(), 4), "TARVEK_VAL_OUTPUT_UNREGULATED");
    EXPECT_EQ(drt::ValueName(tarvek::OutputStateMap(), 42), "42");
    // Every row of a value, naming or applying, carries the name its first row gives.
    for (const drt::EnumCommandMap* pMap :
         {&tarvek::OutputModeMap(), &tarvek::ClassTriggerSourceMap()}) {
        for (const auto& row : *pMap) {
            SCOPED_TRACE(row.name);
            EXPECT_EQ(drt::ValueName(*pMap, row.value), row.name);
        }
    }
}

TEST(Enumerations, RowTextsAreSplitAndTrimmed) {
    const drt::EnumCommandMap map =
        drt::BuildEnumMap({{"A", 1, " x ,\ty,,z,", ""}, {"B", 2, "", " M1 , F2 "}});
    EXPECT_EQ(map[0].commands, (std::vector<std::string>{"x", "y", "", "z"}));
    EXPECT_TRUE(map[0].models.empty());
    EXPECT_TRUE(map[1].commands.empty());
    EXPECT_EQ(map[1].models, (std::vector<std::string>{"M1", "F2"}));
}

// Generic rows, family rows and exact rows of one value.
const drt::EnumCommandMap& ModelDependentMap() {
    static const drt::EnumCommandMap map = drt::BuildEnumMapWithNames({
        {"A", 0, "GEN0", ""},
        {"A", 0, "FAM0", "Series6310"},
        {"B", 1, "EXACT1", "6310"},
        {"B", 1, "GEN1", ""},
        {"C", 2, "GEN2", ""},
        {"C", 2, "OTHER2", "Series6510"},
    });
    return map;
}

TEST(Enumerations, ModelRowsBeatGenericRows) {
    struct Case {
        const char* pOptions;
        std::vector<std::pair<ViInt32, const char*>> vecWrites;
        std::vector<std::pair<const char*, ViInt32>> vecReads;  // -1: refused
    };
    const Case cases[] = {
        {"Simulate=1,DriverSetup=Model:6310",
         {{0, "FAM0"}, {1, "EXACT1"}, {2, "GEN2"}},
         {{"FAM0", 0}, {"GEN0", -1}, {"EXACT1", 1}, {"GEN1", -1}, {"GEN2", 2}, {"OTHER2", -1}}},
        {"Simulate=1,DriverSetup=Model:6510",
         {{0, "GEN0"}, {1, "GEN1"}, {2, "OTHER2"}},
         {{"GEN0", 0}, {"FAM0", -1}, {"EXACT1", -1}, {"GEN1", 1}, {"GEN2", -1}, {"OTHER2", 2}}},
        // A model of neither family: every generic row applies, no model row does.
        {"Simulate=1,DriverSetup=Model:XYZ",
         {{0, "GEN0"}, {1, "GEN1"}, {2, "GEN2"}},
         {{"GEN0", 0}, {"FAM0", -1}, {"GEN1", 1}, {"GEN2", 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pOptions);
        Session session(c.pOptions);
        for (const auto& [nValue, pWord] : c.vecWrites) {
            std::string strCommand;
            EXPECT_EQ(
                drt::ValueToCommand(session.Object(), ModelDependentMap(), nValue, strCommand),
                VI_SUCCESS);
            EXPECT_EQ(strCommand, pWord);
        }
        for (const auto& [pResponse, nExpected] : c.vecReads) {
            SCOPED_TRACE(pResponse);
            ViInt32 nValue = 0;
            const ViStatus nStatus =
                drt::ResponseToValue(session.Object(), ModelDependentMap(), pResponse, nValue);
            EXPECT_EQ(nStatus, nExpected < 0 ? kCannotConvertResponse : VI_SUCCESS);
            EXPECT_EQ(nValue, nExpected);
        }
    }
}

TEST(ModelGate, RefusesByModelOrFamily) {
    Session session("Simulate=1,DriverSetup=Model:6311");
    drt::DriverSession& object = session.Object();
    const std::vector<std::string> vecList = drt::UnsupportedModelList(" Series6310 ");
    EXPECT_EQ(drt::CheckModelSupport(object, vecList, "TARVEK_StartBatteryTest", false, "TARVEK"),
              static_cast<ViStatus>(0xBFFA0011));
    EXPECT_EQ(LastError(session.Vi()).strText,
              "Does not support this class-compliant feature: function 'TARVEK_StartBatteryTest'  "
              "Function "
              "is not supported for instrument model '6311'");
    EXPECT_EQ(drt::CheckModelSupport(object, vecList, "TARVEK_get_OUTPUT_MODE", true, "TARVEK"),
              static_cast<ViStatus>(0xBFFA0012));
    EXPECT_EQ(
        LastError(session.Vi()).strText,
        "Does not support this class-compliant feature: attribute 'OUTPUT_MODE'.  Attribute is not "
        "supported for instrument model '6311'");
    EXPECT_EQ(drt::CheckModelSupport(object, {"6311"}, "TARVEK_set_X", true, "TARVEK"),
              static_cast<ViStatus>(0xBFFA0012));
    EXPECT_EQ(
        drt::CheckModelSupport(object, {"Series6510", "6312"}, "TARVEK_set_X", true, "TARVEK"),
        VI_SUCCESS);
    EXPECT_TRUE(drt::IsAttributeCallbackName("TARVEK_get_X", "TARVEK"));
    EXPECT_TRUE(drt::IsAttributeCallbackName("TARVEK_set_X", "TARVEK"));
    EXPECT_FALSE(drt::IsAttributeCallbackName("TARVEK_Get_X", "TARVEK"));
    EXPECT_FALSE(drt::IsAttributeCallbackName("TARVEK_ge", "TARVEK"));
}

TEST(ModelGate, SelectedChannelIsRefusedOnTheOneOutputFamily) {
    Session session("Simulate=1,DriverSetup=Model:6510");
    ViInt32 nChannel = 0;
    EXPECT_EQ(TARVEK_SetAttributeViInt32(session.Vi(), "", TARVEK_ATTR_SELECTED_CHANNEL, 1),
              static_cast<ViStatus>(0xBFFA0012));
    EXPECT_EQ(TARVEK_GetAttributeViInt32(session.Vi(), "", TARVEK_ATTR_SELECTED_CHANNEL, &nChannel),
              static_cast<ViStatus>(0xBFFA0012));
    Session three;
    EXPECT_EQ(TARVEK_GetAttributeViInt32(three.Vi(), "", TARVEK_ATTR_SELECTED_CHANNEL, &nChannel),
              VI_SUCCESS);
    EXPECT_EQ(nChannel, TARVEK_VAL_CHANNEL1);
}

}  // namespace
}  // namespace attrtest
