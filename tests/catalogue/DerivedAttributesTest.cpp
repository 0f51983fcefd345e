// The catalogue's special cases: multi-channel writes, the derived class
// attributes (current limit and its behaviour, over-voltage protection,
// trigger source, triggered levels), family-dependent headers and simulated
// values.
#include <cmath>
#include <string>
#include <thread>

#include "CatalogueTestSupport.h"
#include "driver/attributes/CatalogueCallbacks.h"

namespace cattest {
namespace {

constexpr char kSetVoltage[] = "SOUR:VOLT:LEV:IMM:AMPL";

TEST(MultiChannelWrite, SelectsEachChannelAndChecksStatusOnceAtTheEnd) {
    LiveInstrument instrument("6313", "QueryInstrStatus=1");
    EXPECT_EQ(
        TARVEK_SetAttributeViReal64(instrument.vi(), "CH1,CH3", TARVEK_ATTR_VOLTAGE_LEVEL, 5.0),
        VI_SUCCESS)
        << ErrorText(instrument.vi());
    EXPECT_EQ(instrument.TakeLines(7),
              (Lines{"INST:SEL 0", "*ESR?", std::string(kSetVoltage) + " 5", "INST:SEL 2", "*ESR?",
                     std::string(kSetVoltage) + " 5", "*ESR?"}));
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(0).dVoltageSetpoint, 5.0);
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(1).dVoltageSetpoint, 0.0);
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(2).dVoltageSetpoint, 5.0);
}

TEST(MultiChannelWrite, SkipsChannelsAlreadyHoldingTheValue) {
    LiveInstrument instrument("6313");
    const ViSession vi = instrument.vi();
    ASSERT_EQ(TARVEK_SetAttributeViReal64(vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, 2.0), VI_SUCCESS);
    instrument.TakeLines(2);
    ASSERT_EQ(TARVEK_SetAttributeViReal64(vi, "CH1-CH2", TARVEK_ATTR_VOLTAGE_LEVEL, 2.0),
              VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(2), (Lines{"INST:SEL 1", std::string(kSetVoltage) + " 2"}));
}

// Selection and the command that follows it run under one hold of the session
// lock, so writes from two threads never separate a channel from its value.
TEST(MultiChannelWrite, ConcurrentWritesKeepSelectionAndCommandTogether) {
    LiveInstrument instrument("6313", "Cache=0");
    const ViSession vi = instrument.vi();
    constexpr int kWrites = 40;
    auto writer = [vi](const char* pChannel, double dBase) {
        for (int i = 0; i < kWrites; ++i) {
            EXPECT_EQ(TARVEK_SetAttributeViReal64(vi, pChannel, TARVEK_ATTR_VOLTAGE_LEVEL,
                                                  dBase + (i % 2) * 0.5),
                      VI_SUCCESS);
        }
    };
    std::thread first(writer, "CH1", 1.0);
    std::thread third(writer, "CH3", 3.0);
    first.join();
    third.join();
    const Lines lines = instrument.TakeLines(4 * kWrites);
    ASSERT_EQ(lines.size(), 4u * kWrites);
    for (std::size_t n = 0; n < lines.size(); n += 2) {
        SCOPED_TRACE(n);
        const std::string strPrefix =
            std::string(kSetVoltage) + (lines[n] == "INST:SEL 0" ? " 1" : " 3");
        EXPECT_TRUE(lines[n] == "INST:SEL 0" || lines[n] == "INST:SEL 2") << lines[n];
        EXPECT_EQ(lines[n + 1].rfind(strPrefix, 0), 0u) << lines[n + 1];
    }
}

TEST(ChannelRead, TwoChannelsFailBeforeAnythingIsSent) {
    LiveInstrument instrument("6313");
    ViReal64 dValue = 0.0;
    EXPECT_EQ(
        TARVEK_GetAttributeViReal64(instrument.vi(), "CH1,CH2", TARVEK_ATTR_VOLTAGE_LEVEL, &dValue),
        IVI_ERROR_BADLY_FORMED_SELECTOR);
    EXPECT_NE(ErrorText(instrument.vi()).find("Only a single repeated capability identifier"),
              std::string::npos);
    EXPECT_EQ(instrument.TakeLines(0), Lines{});
}

TEST(CurrentLimit, FollowsTheRecordedBehaviour) {
    LiveInstrument instrument("6313");
    const ViSession vi = instrument.vi();
    ASSERT_EQ(TARVEK_SetAttributeViInt32(vi, "CH2", TARVEK_ATTR_CURRENT_LIMIT_BEHAVIOR,
                                         TARVEK_VAL_CURRENT_TRIP),
              VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(0), Lines{});  // the behaviour is the driver's own

    ViReal64 dLimit = 0.0;
    ASSERT_EQ(TARVEK_GetAttributeViReal64(vi, "CH2", TARVEK_ATTR_CURRENT_LIMIT, &dLimit),
              VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(2), (Lines{"INST:SEL 1", "SOUR:CURR:PROT:LEV?"}));
    EXPECT_DOUBLE_EQ(dLimit, instrument.Instrument().Snapshot().Output(1).dOcpLevel);

    ASSERT_EQ(TARVEK_SetAttributeViReal64(vi, "CH2", TARVEK_ATTR_CURRENT_LIMIT, 2.5), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(2), (Lines{"INST:SEL 1", "SOUR:CURR:PROT:LEV 2.5"}));

    // Nothing recorded for CH1, and regulate recorded for CH2: the level.
    ASSERT_EQ(TARVEK_GetAttributeViReal64(vi, "CH1", TARVEK_ATTR_CURRENT_LIMIT, &dLimit),
              VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(2), (Lines{"INST:SEL 0", "SOUR:CURR:LEV:IMM:AMPL?"}));
    EXPECT_DOUBLE_EQ(dLimit, instrument.Instrument().Snapshot().Output(0).dCurrentSetpoint);
    ASSERT_EQ(TARVEK_SetAttributeViInt32(vi, "CH2", TARVEK_ATTR_CURRENT_LIMIT_BEHAVIOR,
                                         TARVEK_VAL_CURRENT_REGULATE),
              VI_SUCCESS);
    ASSERT_EQ(TARVEK_SetAttributeViReal64(vi, "CH2", TARVEK_ATTR_CURRENT_LIMIT, 1.5), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(2), (Lines{"INST:SEL 1", "SOUR:CURR:LEV:IMM:AMPL 1.5"}));
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(1).dCurrentSetpoint, 1.5);
}

TEST(CurrentLimit, BehaviourIsNotRetainedWithCachingOff) {
    LiveInstrument instrument("6313", "Cache=0");
    const ViSession vi = instrument.vi();
    ASSERT_EQ(TARVEK_SetAttributeViInt32(vi, "CH1", TARVEK_ATTR_CURRENT_LIMIT_BEHAVIOR,
                                         TARVEK_VAL_CURRENT_TRIP),
              VI_SUCCESS);
    ViInt32 nBehavior = -1;
    ASSERT_EQ(TARVEK_GetAttributeViInt32(vi, "CH1", TARVEK_ATTR_CURRENT_LIMIT_BEHAVIOR, &nBehavior),
              VI_SUCCESS);
    EXPECT_EQ(nBehavior, TARVEK_VAL_CURRENT_REGULATE);
    ViReal64 dLimit = 0.0;
    ASSERT_EQ(TARVEK_GetAttributeViReal64(vi, "CH1", TARVEK_ATTR_CURRENT_LIMIT, &dLimit),
              VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(2), (Lines{"INST:SEL 0", "SOUR:CURR:LEV:IMM:AMPL?"}));
}

TEST(CurrentLimit, SimulatedWriteIsReadBack) {
    SimulatedInstrument instrument("6313");
    const ViSession vi = instrument.vi();
    ViReal64 dValue = 0.0;
    ASSERT_EQ(TARVEK_SetAttributeViReal64(vi, "CH1", TARVEK_ATTR_CURRENT_LIMIT, 2.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_GetAttributeViReal64(vi, "CH1", TARVEK_ATTR_CURRENT_LIMIT, &dValue),
              VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dValue, 2.0);

    ASSERT_EQ(TARVEK_SetAttributeViInt32(vi, "CH1", TARVEK_ATTR_CURRENT_LIMIT_BEHAVIOR,
                                         TARVEK_VAL_CURRENT_TRIP),
              VI_SUCCESS);
    ASSERT_EQ(TARVEK_SetAttributeViReal64(vi, "CH1", TARVEK_ATTR_CURRENT_LIMIT, 3.0), VI_SUCCESS);
    ASSERT_EQ(TARVEK_GetCurrentProtectionLevel(vi, &dValue), VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dValue, 3.0);
    ASSERT_EQ(TARVEK_GetCurrentLevel(vi, &dValue), VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dValue, 2.0);
}

TEST(OvpEnabled, OnlyOnIsAcceptedAndNothingIsSent) {
    LiveInstrument instrument("6313");
    const ViSession vi = instrument.vi();
    EXPECT_EQ(TARVEK_SetAttributeViBoolean(vi, "CH1", TARVEK_ATTR_OVP_ENABLED, VI_FALSE),
              IVI_ERROR_VALUE_NOT_SUPPORTED);
    EXPECT_NE(ErrorText(vi).find("Enumeration value 'VI_FALSE' passed as the value for parameter "
                                 "'AttributeValue' in function 'OVP_ENABLED'"),
              std::string::npos)
        << ErrorText(vi);
    EXPECT_EQ(TARVEK_SetAttributeViBoolean(vi, "CH1,CH2", TARVEK_ATTR_OVP_ENABLED, VI_TRUE),
              VI_SUCCESS);
    ViBoolean bEnabled = VI_FALSE;
    EXPECT_EQ(TARVEK_GetAttributeViBoolean(vi, "CH3", TARVEK_ATTR_OVP_ENABLED, &bEnabled),
              VI_SUCCESS);
    EXPECT_EQ(bEnabled, VI_TRUE);
    EXPECT_EQ(instrument.TakeLines(0), Lines{});
}

TEST(OvpLimit, SelectsEachChannelThenUsesTheProtectionLevel) {
    LiveInstrument instrument("6313");
    const ViSession vi = instrument.vi();
    ASSERT_EQ(TARVEK_SetAttributeViReal64(vi, "CH1,CH3", TARVEK_ATTR_OVP_LIMIT, 7.5), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(4), (Lines{"INST:SEL 0", "SOUR:VOLT:PROT:LEV:AMPL 7.5",
                                              "INST:SEL 2", "SOUR:VOLT:PROT:LEV:AMPL 7.5"}));
    EXPECT_DOUBLE_EQ(instrument.Instrument().Snapshot().Output(2).dOvpLevel, 7.5);
    ViReal64 dLimit = 0.0;
    ASSERT_EQ(TARVEK_GetAttributeViReal64(vi, "CH3", TARVEK_ATTR_OVP_LIMIT, &dLimit), VI_SUCCESS);
    EXPECT_EQ(instrument.TakeLines(2), (Lines{"INST:SEL 2", "SOUR:VOLT:PROT:LEV:AMPL?"}));
    EXPECT_DOUBLE_EQ(dLimit, 7.5);

    EXPECT_EQ(tarvek::TARVEK_get_OVP_LIMIT(vi, "CH3", nullptr), IVI_ERROR_NULL_POINTER);
    EXPECT_NE(ErrorText(vi).find("'TARVEK_GetAttributeViReal64', parameter 'AttributeValue'"),
              std::string::npos);
    EXPECT_EQ(instrument.TakeLines(0), Lines{});
}

TEST(TriggerSource, MapsClassSourcesToTheListTriggerSource) {
    LiveInstrument instrument("6313");
    const ViSession vi = instrument.vi();
    struct Case {
        ViInt32 nClass;
        const char* pWord;
    };
    for (const Case& c :
         {Case{TARVEK_VAL_SOFTWARE_TRIG, "BUS"}, Case{TARVEK_VAL_TRIG_EXTERNAL, "EXT"},
          Case{TARVEK_VAL_TRIG_IMMEDIATE, "IMM"}}) {
        SCOPED_TRACE(c.pWord);
        ASSERT_EQ(TARVEK_SetAttributeViInt32(vi, "CH2", TARVEK_ATTR_TRIGGER_SOURCE, c.nClass),
                  VI_SUCCESS)
            << ErrorText(vi);
        EXPECT_EQ(instrument.TakeLines(2),
                  (Lines{"INST:SEL 1", std::string("TRIG:SEQ:SOUR ") + c.pWord}));
        ViInt32 nRead = -1;
        ASSERT_EQ(TARVEK_GetAttributeViInt32(vi, "CH2", TARVEK_ATTR_TRIGGER_SOURCE, &nRead),
                  VI_SUCCESS);
        EXPECT_EQ(nRead, c.nClass);
        EXPECT_EQ(instrument.TakeLines(2), (Lines{"INST:SEL 1", "TRIG:SEQ:SOUR?"}));
    }
}

TEST(TriggerSource, SourcesTheInstrumentLacksAreRefusedBeforeAnyIo) {
    LiveInstrument instrument("6313");
    const ViSession vi = instrument.vi();
    for (ViInt32 nSource : {TARVEK_VAL_TRIG_TTL0, TARVEK_VAL_TRIG_ECL1, TARVEK_VAL_TRIG_PXI_STAR,
                            TARVEK_VAL_TRIG_RTSI_6, 99}) {
        SCOPED_TRACE(nSource);
        EXPECT_EQ(TARVEK_SetAttributeViInt32(vi, "CH1", TARVEK_ATTR_TRIGGER_SOURCE, nSource),
                  IVI_ERROR_VALUE_NOT_SUPPORTED);
        EXPECT_NE(ErrorText(vi).find("in function 'TRIGGER_SOURCE'"), std::string::npos);
    }
    EXPECT_NE(ErrorText(vi).find("Enumeration value '99'"), std::string::npos);
    EXPECT_EQ(
        TARVEK_SetAttributeViInt32(vi, "CH1", TARVEK_ATTR_TRIGGER_SOURCE, TARVEK_VAL_TRIG_TTL0),
        IVI_ERROR_VALUE_NOT_SUPPORTED);
    EXPECT_NE(ErrorText(vi).find("Enumeration value 'TARVEK_VAL_TRIG_TTL0'"), std::string::npos);
    EXPECT_EQ(instrument.TakeLines(0), Lines{});
}

TEST(TriggeredLevels, AreNotSupported) {
    SimulatedInstrument instrument("6313");
    const ViSession vi = instrument.vi();
    for (ViAttr nId : {TARVEK_ATTR_TRIGGERED_CURRENT_LIMIT, TARVEK_ATTR_TRIGGERED_VOLTAGE_LEVEL}) {
        SCOPED_TRACE(nId);
        ViReal64 dValue = 0.0;
        EXPECT_EQ(TARVEK_GetAttributeViReal64(vi, "CH1", nId, &dValue),
                  IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED);
        EXPECT_NE(ErrorText(vi).find("class-compliant feature: attribute 'TRIGGERED_"),
                  std::string::npos);
        EXPECT_EQ(TARVEK_SetAttributeViReal64(vi, "CH1", nId, 1.0),
                  IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED);
    }
    EXPECT_EQ(tarvek::TARVEK_get_TRIGGERED_VOLTAGE_LEVEL(vi, nullptr, nullptr),
              IVI_ERROR_NULL_POINTER);
    EXPECT_NE(ErrorText(vi).find("'TARVEK_get_TRIGGERED_VOLTAGE_LEVEL'"), std::string::npos);
}

TEST(Summary1Registers, UseTheFamilysHeaders) {
    struct Case {
        const char* pModel;
        ViAttr nId;
        const char* pQuery;
    };
    for (const Case& c :
         {Case{"6313", TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY1_EVENT_REGISTER,
               "STAT:QUES:ISUM1?"},
          Case{"6513", TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY1_EVENT_REGISTER,
               "STAT:QUES:ISUM?"},
          Case{"6313", TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY1_CONDITION_REGISTER,
               "STAT:QUES:ISUM1:COND?"},
          Case{"6513", TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY1_CONDITION_REGISTER,
               "STAT:QUES:ISUM:COND?"},
          Case{"6513", TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY1_ENABLE_REGISTER,
               "STAT:QUES:ISUM:ENAB?"}}) {
        SCOPED_TRACE(std::string(c.pModel) + " " + c.pQuery);
        LiveInstrument instrument(c.pModel);
        ViInt32 nValue = -1;
        EXPECT_EQ(TARVEK_GetAttributeViInt32(instrument.vi(), nullptr, c.nId, &nValue), VI_SUCCESS);
        EXPECT_EQ(instrument.TakeLines(1), Lines{c.pQuery});
    }
}

TEST(ChannelCount, IsThreeOrOneByFamily) {
    for (const Model& model : kModels) {
        SimulatedInstrument instrument(model.pModel);
        ViInt32 nCount = 0;
        EXPECT_EQ(TARVEK_GetAttributeViInt32(instrument.vi(), nullptr, TARVEK_ATTR_CHANNEL_COUNT,
                                             &nCount),
                  VI_SUCCESS);
        EXPECT_EQ(nCount, model.bMultiOutput ? 3 : 1);
    }
}

TEST(Simulation, GivesTheFixedValuesAndRecallsSettings) {
    SimulatedInstrument instrument("6513");
    const ViSession vi = instrument.vi();
    ViChar version[32] = {};
    EXPECT_EQ(TARVEK_GetScpiVersion(vi, sizeof version, version), VI_SUCCESS);
    EXPECT_STREQ(version, "1999.0");
    ViBoolean bValue = VI_TRUE;
    EXPECT_EQ(TARVEK_GetOCPTripped(vi, &bValue), VI_SUCCESS);
    EXPECT_EQ(bValue, VI_FALSE);
    EXPECT_EQ(TARVEK_GetBatteryTestIsRunning(vi, &bValue), VI_SUCCESS);
    EXPECT_EQ(bValue, VI_TRUE);
    ViReal64 dLevel = 0.0;
    EXPECT_EQ(TARVEK_SetCurrentLevel(vi, 1.5), VI_SUCCESS);
    EXPECT_EQ(TARVEK_GetCurrentLevel(vi, &dLevel), VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dLevel, 1.5);
    ViInt32 nSource = -1;
    EXPECT_EQ(TARVEK_GetAttributeViInt32(vi, "CH1", TARVEK_ATTR_TRIGGER_SOURCE, &nSource),
              VI_SUCCESS);
    EXPECT_EQ(nSource, TARVEK_VAL_TRIG_IMMEDIATE);
}

TEST(Simulation, ModelGatesRefuseAsLive) {
    SimulatedInstrument instrument("6313");
    ViReal64 dValue = 0.0;
    EXPECT_EQ(TARVEK_GetBatteryTestCurrent(instrument.vi(), &dValue),
              IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED);
    EXPECT_NE(ErrorText(instrument.vi()).find("attribute 'BATTERY_TEST_CURRENT'"),
              std::string::npos);
}

}  // namespace
}  // namespace cattest
