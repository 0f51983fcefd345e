// The driver's normal work over a VXI-11 LAN instrument session, and the
// round trips it costs: a channel select and the command after it travel in
// one device_write, with the same bytes a socket session sends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../visa/Vxi11TestEmulator.h"
#include "Emulator.h"
#include "TARVEK.h"
#include "visa.h"

namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

class DriverOverVxi11 : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string strHost = Vxi11AddressOfCurrentTest(16);
        StartVxi11Emulator(strHost, m_pEmulator);
        if (HasFatalFailure() || IsSkipped()) {
            return;
        }
    }
    void TearDown() override {
        if (m_vi != VI_NULL) {
            TARVEK_close(m_vi);
        }
    }

    ViStatus Open(const std::string& strResource, const char* pszOptions) {
        if (m_vi != VI_NULL) {
            TARVEK_close(m_vi);
            m_vi = VI_NULL;
        }
        const ViStatus status = TARVEK_InitWithOptions(const_cast<ViChar*>(strResource.c_str()),
                                                       VI_TRUE, VI_FALSE, pszOptions, &m_vi);
        m_pEmulator->ClearLines();
        return status;
    }

    std::unique_ptr<emu::Emulator> m_pEmulator;
    ViSession m_vi = VI_NULL;
};

TEST_F(DriverOverVxi11, InitializesAndRunsAnOutputOverInstr) {
    const std::string strResource = m_pEmulator->Vxi11Resource();
    ViSession vi = VI_NULL;
    ASSERT_EQ(TARVEK_InitWithOptions(const_cast<ViChar*>(strResource.c_str()), VI_TRUE, VI_TRUE,
                                     "QueryInstrStatus=1", &vi),
              VI_SUCCESS);
    m_vi = vi;
    ViChar szModel[256] = {};
    EXPECT_EQ(TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_INSTRUMENT_MODEL, 256, szModel),
              VI_SUCCESS);
    EXPECT_STREQ(szModel, "6313");
    EXPECT_EQ(TARVEK_ConfigureVoltageLevel(vi, "CH2", 5.0), VI_SUCCESS);
    EXPECT_EQ(TARVEK_ConfigureOutputEnabled(vi, "CH2", VI_TRUE), VI_SUCCESS);
    ViReal64 dVolts = 0;
    EXPECT_EQ(TARVEK_Measure(vi, "CH2", TARVEK_VAL_MEASURE_VOLTAGE, &dVolts), VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dVolts, 5.0);
    EXPECT_DOUBLE_EQ(m_pEmulator->Snapshot().Output(1).dVoltageSetpoint, 5.0);
    EXPECT_TRUE(m_pEmulator->Snapshot().Output(1).bOutputEnabled);
    EXPECT_EQ(TARVEK_close(vi), VI_SUCCESS);
    m_vi = VI_NULL;
    for (int i = 0; i < 100 && m_pEmulator->Vxi11LinkCount() != 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(m_pEmulator->Vxi11LinkCount(), 0u);
}

// Each row: an option string, one driver call, the core-channel RPCs it may
// cost over VXI-11, and the lines the instrument receives.
struct RoundTripCase {
    const char* pszName;
    const char* pszOptions;
    std::function<ViStatus(ViSession)> call;
    std::size_t nCoreCalls;
    Lines lines;
};

const std::vector<RoundTripCase>& RoundTripCases() {
    static const std::vector<RoundTripCase> cases = {
        {"channel attribute write",
         "Cache=0",
         [](ViSession vi) {
             return TARVEK_SetAttributeViReal64(vi, "CH2", TARVEK_ATTR_VOLTAGE_LEVEL, 5.0);
         },
         1,
         {"INST:SEL 1", "SOUR:VOLT:LEV:IMM:AMPL 5"}},
        {"channel attribute read",
         "Cache=0",
         [](ViSession vi) {
             ViReal64 dValue = -1;
             return TARVEK_GetAttributeViReal64(vi, "CH3", TARVEK_ATTR_VOLTAGE_LEVEL, &dValue);
         },
         2,
         {"INST:SEL 2", "SOUR:VOLT:LEV:IMM:AMPL?"}},
        // Each status query takes the command before it along.
        {"channel attribute write with status checks",
         "Cache=0,QueryInstrStatus=1",
         [](ViSession vi) {
             return TARVEK_SetAttributeViReal64(vi, "CH2", TARVEK_ATTR_VOLTAGE_LEVEL, 2.5);
         },
         4,
         {"INST:SEL 1", "*ESR?", "SOUR:VOLT:LEV:IMM:AMPL 2.5", "*ESR?"}},
        // The function selects, and so does the attribute write it runs.
        {"instrument function",
         "Cache=0",
         [](ViSession vi) { return TARVEK_ConfigureVoltageLevel(vi, "CH3", 4.0); },
         1,
         {"INST:SEL 2", "INST:SEL 2", "SOUR:VOLT:LEV:IMM:AMPL 4"}},
    };
    return cases;
}

TEST_F(DriverOverVxi11, SelectAndCommandShareOneDeviceWrite) {
    for (const RoundTripCase& c : RoundTripCases()) {
        SCOPED_TRACE(c.pszName);
        ASSERT_EQ(Open(m_pEmulator->Vxi11Resource(), c.pszOptions), VI_SUCCESS);
        const std::size_t nBefore = m_pEmulator->Vxi11CoreCalls();
        EXPECT_EQ(c.call(m_vi), VI_SUCCESS);
        EXPECT_EQ(m_pEmulator->Vxi11CoreCalls() - nBefore, c.nCoreCalls);
        EXPECT_EQ(m_pEmulator->Lines(), c.lines);
    }
}

TEST_F(DriverOverVxi11, SocketSessionSendsTheSameLines) {
    for (const RoundTripCase& c : RoundTripCases()) {
        SCOPED_TRACE(c.pszName);
        ASSERT_EQ(Open(m_pEmulator->Resource(), c.pszOptions), VI_SUCCESS);
        EXPECT_EQ(c.call(m_vi), VI_SUCCESS);
        // A socket write does not wait for the instrument.
        EXPECT_TRUE(m_pEmulator->WaitForLines(c.lines.size(), 2000ms));
        EXPECT_EQ(m_pEmulator->Lines(), c.lines);
    }
}

TEST_F(DriverOverVxi11, FailedHeldWriteFailsTheCallAndLeavesNothingCached) {
    ASSERT_EQ(Open(m_pEmulator->Vxi11Resource(), "Cache=1"), VI_SUCCESS);
    // The one device_write of the call answers with a device I/O error.
    m_pEmulator->SetDeviceError(17);
    EXPECT_EQ(TARVEK_SetAttributeViReal64(m_vi, "CH2", TARVEK_ATTR_VOLTAGE_LEVEL, 5.0),
              VI_ERROR_IO);
    EXPECT_EQ(m_pEmulator->Lines(), Lines{});
    // The read asks the instrument, which never got the value.
    ViReal64 dValue = -1;
    EXPECT_EQ(TARVEK_GetAttributeViReal64(m_vi, "CH2", TARVEK_ATTR_VOLTAGE_LEVEL, &dValue),
              VI_SUCCESS);
    EXPECT_EQ(dValue, 0.0);
    EXPECT_EQ(m_pEmulator->Lines(), (Lines{"INST:SEL 1", "SOUR:VOLT:LEV:IMM:AMPL?"}));
    // A dropped link fails the call that held the commands, and every later one.
    m_pEmulator->ClearLines();
    m_pEmulator->CloseAfterMessages(0);
    EXPECT_EQ(TARVEK_SetAttributeViReal64(m_vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, 1.0),
              VI_ERROR_CONN_LOST);
    EXPECT_EQ(TARVEK_GetAttributeViReal64(m_vi, "CH1", TARVEK_ATTR_VOLTAGE_LEVEL, &dValue),
              VI_ERROR_CONN_LOST);
    // The link went at the first line of the call's one message.
    EXPECT_EQ(m_pEmulator->Lines(), Lines{"INST:SEL 0"});
}

}  // namespace
