// The tarvek program against the in-process emulator: what it prints, what it
// sends, and how it exits for good and bad command lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

#include "CliProcess.h"
#include "Emulator.h"
#include "TARVEK.h"

namespace {

using clitest::CliResult;
using Lines = std::vector<std::string>;

using clitest::Describe;
using clitest::kExitDriverError;
using clitest::kExitInterrupted;
using clitest::kExitUsage;
using clitest::Tarvek;

bool Contains(const Lines& vecLines, const std::string& strLine) {
    return std::find(vecLines.begin(), vecLines.end(), strLine) != vecLines.end();
}

class TempFile {
  public:
    explicit TempFile(const std::string& strContent) {
        char szPath[] = "/tmp/tarvek-cli-XXXXXX";
        const int fd = mkstemp(szPath);
        close(fd);
        m_strPath = szPath;
        std::ofstream(m_strPath) << strContent;
    }
    ~TempFile() { std::filesystem::remove(m_strPath); }
    const std::string& Path() const { return m_strPath; }

  private:
    std::string m_strPath;
};

class CliTest : public ::testing::Test {
  protected:
    void StartEmulator(const std::string& strModel = "6313") {
        emu::EmulatorOptions options;
        options.strModel = strModel;
        m_pEmulator = std::make_unique<emu::Emulator>(options);
        m_pEmulator->Start();
        m_strResource = m_pEmulator->Resource();
    }
    void SetUp() override { StartEmulator(); }

    // The lines sent after the identity query that opens every session.
    Lines CommandsSent() const {
        Lines vecLines = m_pEmulator->Lines();
        vecLines.erase(std::remove(vecLines.begin(), vecLines.end(), "*IDN?"), vecLines.end());
        return vecLines;
    }
    // The same without the status checks (*CLS at the open, *ESR? after
    // each call) of the commands that change settings.
    Lines SettingsSent() const {
        Lines vecLines = CommandsSent();
        std::erase_if(vecLines, [](const std::string& strLine) {
            return strLine == "*CLS" || strLine == "*ESR?";
        });
        return vecLines;
    }

    // Runs tarvek and waits until the emulator has handled everything the
    // program sent (its connection is gone once every line has been read).
    CliResult Run(const std::vector<std::string>& vecArgs,
                  const clitest::OutputWatcher& watcher = {}) {
        CliResult result = Tarvek(vecArgs, {}, watcher);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (m_pEmulator->ConnectionCount() != 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return result;
    }

    std::unique_ptr<emu::Emulator> m_pEmulator;
    std::string m_strResource;
};

TEST_F(CliTest, InfoNamesModelFamilyAndOutputs) {
    struct Row {
        const char* pModel;
        const char* pFamily;
        const char* pOutputs;
    };
    for (const Row& row :
         {Row{"6313", "Series6310", "3 (CH1, CH2, CH3)"}, Row{"6512", "Series6510", "1 (CH1)"}}) {
        SCOPED_TRACE(row.pModel);
        StartEmulator(row.pModel);
        const CliResult result = Run({"info", m_strResource});
        ASSERT_EQ(result.nExit, 0) << Describe(result);
        EXPECT_NE(result.strOut.find(std::string("Model:           ") + row.pModel + "\n"),
                  std::string::npos)
            << result.strOut;
        EXPECT_NE(result.strOut.find(std::string("Family:          ") + row.pFamily),
                  std::string::npos);
        EXPECT_NE(result.strOut.find(std::string("Outputs:         ") + row.pOutputs),
                  std::string::npos);
        EXPECT_NE(result.strOut.find("Resource:        " + m_strResource), std::string::npos);
        EXPECT_NE(result.strOut.find("Simulate=0"), std::string::npos);
    }
}

TEST_F(CliTest, InfoAsJsonCarriesOptionsInForce) {
    const CliResult result =
        Run({"info", m_strResource, "--json", "--options", "QueryInstrStatus=1,Cache=0"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_NE(result.strOut.find("\"family\":\"Series6310\""), std::string::npos) << result.strOut;
    EXPECT_NE(result.strOut.find("\"cache\":false"), std::string::npos);
    EXPECT_NE(result.strOut.find("\"query_instrument_status\":true"), std::string::npos);
    EXPECT_EQ(std::count(result.strOut.begin(), result.strOut.end(), '\n'), 1);
}

TEST_F(CliTest, SimulateNeedsNoInstrument) {
    const CliResult result =
        Run({"get", "", "channel_count", "--simulate", "--options", "DriverSetup=Model:6510"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(result.strOut, "1\n");
}

TEST_F(CliTest, AttributeNamesAreAcceptedInEverySpelling) {
    for (const char* pName : {"TARVEK_ATTR_VOLTAGE_LEVEL", "voltage_level", "Voltage-Level",
                              "tarvek_attr_voltage_level"}) {
        SCOPED_TRACE(pName);
        m_pEmulator->ClearLines();
        const CliResult set = Run({"set", m_strResource, pName, "7.5", "--channel", "CH2"});
        ASSERT_EQ(set.nExit, 0) << Describe(set);
        EXPECT_EQ(SettingsSent(), (Lines{"INST:SEL 1", "SOUR:VOLT:LEV:IMM:AMPL 7.5"}));
        EXPECT_DOUBLE_EQ(m_pEmulator->Snapshot().Output(1).dVoltageSetpoint, 7.5);
        const CliResult get = Run({"get", m_strResource, pName, "--channel", "CH2"});
        ASSERT_EQ(get.nExit, 0) << Describe(get);
        EXPECT_EQ(get.strOut, "7.5\n");
    }
}

TEST_F(CliTest, ValuesAreWrittenAndShownByTheirNames) {
    struct Row {
        const char* pAttribute;
        const char* pValue;
        const char* pSent;
        const char* pShown;
    };
    const Row rows[] = {
        {"output_mode", "TARVEK_VAL_OUTPUT_MODE_SERIES2", "OUTP:PAIR SERI2", "series2"},
        {"output_mode", "track3", "OUTP:PAIR TRAC3", "track3"},
        {"output_mode", "OUTPUT_MODE_PARALLEL2", "OUTP:PAIR PARA2", "parallel2"},
        {"remote_state", "remote", "SYST:COMM:RLST REM", "remote"},
        {"remote_state", "REMOTE_WITH_LOCK", "SYST:COMM:RLST RWL", "remote_with_lock"},
        {"list_terminate_state", "state_last", "SOUR:LIST:TERM:LAST 1", "state_last"},
        {"ocp_enabled", "off", "SOUR:CURR:PROT:STAT 0", "off"},
        {"ocp_enabled", "TRUE", "SOUR:CURR:PROT:STAT 1", "on"},
        {"ocp_enabled", "0", "SOUR:CURR:PROT:STAT 0", "off"},
        {"ocp_enabled", "On", "SOUR:CURR:PROT:STAT 1", "on"},
        {"standard_event_enable_register", "0x3C", "*ESE 60", "60"},
        {"system_date", "2026,12,6", "SYST:DATE 2026,12,6", "2026,12,6"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pAttribute) + " " + row.pValue);
        m_pEmulator->ClearLines();
        const CliResult set = Run({"set", m_strResource, row.pAttribute, row.pValue});
        ASSERT_EQ(set.nExit, 0) << Describe(set);
        EXPECT_EQ(SettingsSent(), (Lines{row.pSent}));
        const CliResult get = Run({"get", m_strResource, row.pAttribute});
        ASSERT_EQ(get.nExit, 0) << Describe(get);
        EXPECT_EQ(get.strOut, std::string(row.pShown) + "\n");
    }
}

TEST_F(CliTest, BadCommandLinesAreRefusedBeforeAnythingIsSent) {
    const TempFile badSteps("1,1,0.1\n2,abc,0.1\n");
    const TempFile emptySteps("# nothing\n");
    struct Row {
        std::vector<std::string> vecArgs;
        const char* pMessage;
    };
    const std::string& r = m_strResource;
    const Row rows[] = {
        {{"get", r, "voltage_levle"}, "unknown attribute 'voltage_levle'"},
        {{"get", r, "protection"}, "did you mean"},
        {{"set", r, "voltage_level", "five", "--channel", "CH1"}, "takes a number, not 'five'"},
        {{"set", r, "voltage_level", "1e999", "--channel", "CH1"}, "takes a number"},
        {{"set", r, "output_mode", "sideways"},
         "takes one of off parallel2 parallel3 series2 series3 track2 track3, not 'sideways'"},
        {{"get", r, "voltage_level"},
         "TARVEK_ATTR_VOLTAGE_LEVEL is set per output: give --channel CH1, CH2 or CH3"},
        {{"set", r, "output_enabled", "on"}, "is set per output: give --channel"},
        {{"get", r, "voltage_level", "--channel", "CH3-CH1"}, "must run upwards"},
        {{"measure", r, "--channel", "CH1-CH4"}, "within CH1 to CH3"},
        {{"apply", r, "--channel", "CH1,,CH2", "--voltage", "1"}, "empty name"},
        {{"list", r, "--channel", "CH1-CH2", "--steps", badSteps.Path()},
         "list runs on one output"},
        {{"set", r, "ocp_enabled", "maybe"}, "takes on, off, true, false, 1 or 0"},
        {{"set", r, "selected_list", "99999999999"}, "takes a whole number"},
        {{"set", r, "ocp_tripped", "on"}, "is read-only"},
        {{"set", r, "voltage_level"}, "Usage: tarvek set"},
        {{"apply", r, "--voltage", "5"}, "apply needs --channel"},
        {{"apply", r, "--channel", "CH1"}, "at least one of"},
        {{"apply", r, "--channel", "CH1", "--output", "sometimes"}, "--output takes on or off"},
        {{"monitor", r, "--interval", "0"}, "--interval must be"},
        {{"monitor", r, "--count", "-3"}, "whole number of 0 or more"},
        {{"list", r, "--channel", "CH1"}, "needs --channel and --steps"},
        {{"list", r, "--channel", "CH1", "--steps", "/nonexistent/steps.csv"}, "cannot read"},
        {{"list", r, "--channel", "CH1", "--steps", badSteps.Path()}, ":2: voltage, current"},
        {{"list", r, "--channel", "CH1", "--steps", emptySteps.Path()}, "holds no steps"},
        {{"frobnicate", r}, "unknown command 'frobnicate'"},
        {{"get", r, "voltage_level", "--chanel", "CH1"}, "unknown option '--chanel'"},
        {{"get", r, "voltage_level", "--channel"}, "--channel needs a value"},
        {{"scpi", r, "*IDN?\nOUTP 1"}, "single line"},
        // Refused before anything is sent on the network.
        {{"discover", "--timeout", "0"}, "--timeout takes seconds from 0.1 to 60"},
        {{"discover", "--timeout", "soon"}, "--timeout takes seconds"},
        {{"discover", "extra"}, "Usage: tarvek discover"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.vecArgs[0] + " " + row.pMessage);
        const CliResult result = Run(row.vecArgs);
        EXPECT_EQ(result.nExit, kExitUsage) << Describe(result);
        EXPECT_NE(result.strErr.find(row.pMessage), std::string::npos) << result.strErr;
    }
    EXPECT_EQ(m_pEmulator->Lines(), Lines{});
}

TEST_F(CliTest, DriverFailuresPrintTheDriverTextAndExitOne) {
    struct Row {
        std::vector<std::string> vecArgs;
        const char* pMessage;
    };
    const Row rows[] = {
        {{"set", m_strResource, "voltage_level", "5", "--channel", "CH7"}, "CH7"},
        {{"get", m_strResource, "battery_test_voltage"},
         "not supported for instrument model '6313'"},
        {{"get", "TCPIP::127.0.0.1::1::SOCKET", "ocp_enabled"}, "tarvek: error 0x"},
        // A status from VISA is explained in VISA's words.
        {{"get", "TCPIP::127.0.0.1::1::SOCKET", "ocp_enabled"}, "VI_ERROR_RSRC_NFOUND: "},
        {{"scpi", "", "*IDN?", "--simulate"}, "simulation"},
        {{"info", "NoSuchLogicalName"}, "tarvek: error 0x"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pMessage);
        const CliResult result = Run(row.vecArgs);
        EXPECT_EQ(result.nExit, kExitDriverError) << Describe(result);
        EXPECT_NE(result.strErr.find(row.pMessage), std::string::npos) << result.strErr;
        EXPECT_EQ(result.strOut, "");
    }
}

TEST_F(CliTest, TextValuesThatWouldAddCommandsAreRefusedByTheDriver) {
    struct Row {
        const char* pAttribute;
        const char* pValue;
        const char* pMessage;
    };
    const Row rows[] = {
        {"system_date", "2024,1,1;:OUTP:STAT 1", "Value contains ';' (0x3B)"},
        {"system_date", "2024,1,1;*RST", "Value contains ';' (0x3B)"},
        {"system_time", "12,0,0\n:OUTP:STAT 1", "Value contains a line feed (0x0A)"},
        {"timer_run", "5\r\n:OUTP:STAT 1", "Value contains a carriage return (0x0D)"},
        {"system_date", "2024,1,1 OUTP", "which TARVEK_ATTR_SYSTEM_DATE cannot hold"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pValue);
        m_pEmulator->ClearLines();
        const CliResult result = Run({"set", m_strResource, row.pAttribute, row.pValue});
        EXPECT_EQ(result.nExit, kExitDriverError) << Describe(result);
        EXPECT_NE(result.strErr.find(row.pMessage), std::string::npos) << result.strErr;
        EXPECT_EQ(SettingsSent(), Lines{});
        EXPECT_FALSE(m_pEmulator->Snapshot().Output(0).bOutputEnabled);
    }
}

TEST_F(CliTest, SingleOutputSupplyRefusesOtherOutputs) {
    StartEmulator("6512");
    const CliResult result = Run({"measure", m_strResource, "--channel", "CH2"});
    EXPECT_EQ(result.nExit, kExitUsage) << Describe(result);
    EXPECT_EQ(result.strOut, "");
    EXPECT_NE(result.strErr.find("this supply has no output CH2"), std::string::npos);
    const CliResult measured = Run({"measure", m_strResource, "--json"});
    EXPECT_EQ(measured.nExit, 0) << Describe(measured);
    EXPECT_EQ(measured.strOut.rfind("{\"outputs\":[{\"channel\":\"CH1\",", 0), 0u);
}

// A value the instrument refuses never looks accepted: the command fails
// with the instrument's own error text, and apply stops before switching the
// output on.
TEST_F(CliTest, RefusedValuesFailWithTheInstrumentsErrorText) {
    const TempFile steps("1,0.5,0.05\n75,0.5,0.05\n");
    const std::string& r = m_strResource;
    struct Row {
        std::vector<std::string> vecArgs;
        const char* pWhat;
    };
    const Row rows[] = {
        {{"apply", r, "--channel", "CH1", "--voltage", "75", "--output", "on"},
         "TARVEK_ConfigureVoltageLevel"},
        {{"apply", r, "--channel", "CH1-CH2", "--voltage", "75", "--output", "on", "--json"},
         "TARVEK_ConfigureVoltageLevel"},
        {{"set", r, "voltage_level", "75", "--channel", "CH1"}, "TARVEK_ATTR_VOLTAGE_LEVEL"},
        // With status checking switched off the queue is read after the command.
        {{"set", r, "voltage_level", "75", "--channel", "CH1", "--options", "QueryInstrStatus=0"},
         "TARVEK_ATTR_VOLTAGE_LEVEL"},
        {{"list", r, "--channel", "CH1", "--steps", steps.Path()}, "TARVEK_SetStepVoltage"},
        {{"scpi", r, "SOUR:VOLT", "75"}, "SOUR:VOLT 75"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.vecArgs[0] + " " + row.vecArgs.back());
        const CliResult result = Run(row.vecArgs);
        EXPECT_EQ(result.nExit, kExitDriverError) << Describe(result);
        EXPECT_NE(result.strErr.find(std::string("the instrument refused ") + row.pWhat +
                                     ": -222,\"Data out of range\""),
                  std::string::npos)
            << result.strErr;
        EXPECT_EQ(result.strErr.find("ErrorQuery"), std::string::npos) << result.strErr;
        EXPECT_EQ(result.strOut.find("CH1:"), std::string::npos) << result.strOut;
        EXPECT_FALSE(m_pEmulator->Snapshot().Output(0).bOutputEnabled);
        EXPECT_FALSE(m_pEmulator->Snapshot().Output(0).bListRunning);
        // The queue was read: nothing is left for the next command to trip on.
        EXPECT_EQ(Run({"errors", r}).strOut, "No errors.\n");
    }
}

// An error flag that the status check sees while the session opens, with
// nothing the tool could read from the queue.
TEST_F(CliTest, AnErrorFlagAtOpenIsAFailureWithTextAndHint) {
    m_pEmulator->SetFixedReply("*ESR?", "16");  // execution error, nothing queued
    const CliResult result = Run({"set", m_strResource, "ocp_enabled", "on"});
    EXPECT_EQ(result.nExit, kExitDriverError) << Describe(result);
    EXPECT_NE(result.strErr.find("the instrument flagged an error in its status register while "
                                 "the session was opened\ntarvek: hint: `tarvek errors " +
                                 m_strResource + "` reads the instrument's error queue\n"),
              std::string::npos)
        << result.strErr;
    EXPECT_EQ(result.strErr.find("ErrorQuery"), std::string::npos) << result.strErr;
}

TEST_F(CliTest, SettingCommandsCheckTheStatusAfterEveryWrite) {
    const CliResult result = Run({"apply", m_strResource, "--channel", "CH2", "--voltage", "5"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    const Lines vecSent = CommandsSent();
    ASSERT_FALSE(vecSent.empty());
    EXPECT_EQ(vecSent.front(), "*CLS");
    for (size_t n = 0; n < vecSent.size(); ++n) {
        if (vecSent[n] != "*CLS" && vecSent[n] != "*ESR?") {
            SCOPED_TRACE(vecSent[n]);
            ASSERT_LT(n + 1, vecSent.size());
            EXPECT_EQ(vecSent[n + 1], "*ESR?");
        }
    }
    EXPECT_TRUE(Contains(vecSent, "SOUR:VOLT:LEV:IMM:AMPL 5"));
    // Reading commands keep the session as the caller opened it.
    m_pEmulator->ClearLines();
    ASSERT_EQ(Run({"get", m_strResource, "ocp_enabled"}).nExit, 0);
    EXPECT_EQ(CommandsSent(), Lines{"SOUR:CURR:PROT:STAT?"});
}

// Statuses arrive with their text and a hint naming what to look at.
TEST_F(CliTest, FailedStatusesCarryTextAndHint) {
    // A port that nothing listens on: bound, then closed again.
    emu::EmulatorOptions options;
    options.nPort = 0;
    auto pClosed = std::make_unique<emu::Emulator>(options);
    pClosed->Start();
    const std::string strClosed = pClosed->Resource();
    pClosed.reset();
    const std::string strPort = strClosed.substr(
        strClosed.find("::", 7) + 2, strClosed.rfind("::") - strClosed.find("::", 7) - 2);
    m_pEmulator->SetNoReply("SOUR:VOLT?");
    struct Row {
        std::vector<std::string> vecArgs;
        std::string strText;
        std::string strHint;
    };
    const Row rows[] = {
        {{"info", strClosed},
         "error 0xBFFF0011: VI_ERROR_RSRC_NFOUND: ",
         "hint: connection refused at 127.0.0.1:" + strPort +
             ": is an instrument or "
             "`tarvek-emulator --port " +
             strPort + "` listening there?"},
        // No portmapper at this loopback address: the hint names the option
        // that serves VXI-11.
        {{"info", "TCPIP::127.0.9.254::inst0::INSTR"},
         "error 0xBFFF0011: VI_ERROR_RSRC_NFOUND: ",
         "hint: connection refused at 127.0.9.254:111: is an instrument or "
         "`tarvek-emulator --vxi11` listening there?"},
        {{"info", "NoSuchLogicalName"},
         "error 0xBFFF0011: VI_ERROR_RSRC_NFOUND: ",
         "hint: 'NoSuchLogicalName' is neither a VISA resource nor a logical name of "},
        {{"scpi", m_strResource, "SOUR:VOLT?"},
         "error 0xBFFF0015: VI_ERROR_TMO: ",
         "hint: no reply to SOUR:VOLT? within 2000 ms: is " + m_strResource + " the instrument"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.vecArgs[1]);
        const CliResult result = Run(row.vecArgs);
        EXPECT_EQ(result.nExit, kExitDriverError) << Describe(result);
        EXPECT_NE(result.strErr.find(row.strText), std::string::npos) << result.strErr;
        EXPECT_NE(result.strErr.find(row.strHint), std::string::npos) << result.strErr;
        EXPECT_EQ(result.strErr.find("Unknown status"), std::string::npos) << result.strErr;
    }
    const CliResult json = Run({"info", strClosed, "--json"});
    EXPECT_NE(json.strOut.find(",\"hint\":\"connection refused at 127.0.0.1:" + strPort + ": "),
              std::string::npos)
        << json.strOut;
}

TEST_F(CliTest, EveryCommandTakesTheSameChannelSelectors) {
    ASSERT_EQ(Run({"apply", m_strResource, "--channel", "CH1-CH3", "--voltage", "4"}).nExit, 0);
    for (int n = 0; n < 3; ++n) {
        EXPECT_DOUBLE_EQ(m_pEmulator->Snapshot().Output(n).dVoltageSetpoint, 4.0);
    }
    CliResult result = Run({"get", m_strResource, "voltage_level", "--channel", "CH1-CH3"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(result.strOut, "CH1: 4\nCH2: 4\nCH3: 4\n");
    result = Run({"get", m_strResource, "voltage_level", "--channel", "CH2:CH3", "--json"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(result.strOut.rfind("{\"outputs\":[{\"attribute\":\"TARVEK_ATTR_VOLTAGE_LEVEL\","
                                  "\"channel\":\"CH2\"",
                                  0),
              0u)
        << result.strOut;
    result = Run({"measure", m_strResource, "--channel", "CH2-CH3"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(std::count(result.strOut.begin(), result.strOut.end(), '\n'), 3) << result.strOut;
    EXPECT_NE(result.strOut.find("\nCH3 "), std::string::npos);
    const TempFile steps("2,0.5,0.05\n");
    result = Run({"list", m_strResource, "--channel", "CH2-CH2", "--steps", steps.Path()});
    EXPECT_EQ(result.nExit, 0) << Describe(result);
}

TEST_F(CliTest, PerChannelAttributeOnAOneOutputModelNeedsNoChannel) {
    const CliResult result =
        Run({"get", "", "voltage_level", "--simulate", "--options", "DriverSetup=Model:6510"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(result.strOut, "0\n");
}

TEST_F(CliTest, PerChannelAttributeOnAStoredOneOutputModelNeedsNoChannel) {
    StartEmulator("6512");
    const std::string strStore = "/tmp/tarvek-cli-store-" + std::to_string(getpid()) + ".xml";
    const std::vector<std::string> vecEnv = {"IVI_CONFIG_STORE=" + strStore};
    const CliResult added = clitest::RunProgram(
        TARVEK_CLI_PATH,
        {"store", "add", "One", "--resource", m_strResource, "--driver-setup", "Model:6512"},
        vecEnv);
    ASSERT_EQ(added.nExit, 0) << Describe(added);
    ASSERT_EQ(Run({"apply", m_strResource, "--channel", "CH1", "--voltage", "3"}).nExit, 0);
    const CliResult result =
        clitest::RunProgram(TARVEK_CLI_PATH, {"get", "One", "voltage_level"}, vecEnv);
    std::filesystem::remove(strStore);
    std::filesystem::remove(strStore + ".lock");
    EXPECT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(result.strOut, "3\n");
}

TEST_F(CliTest, EnumeratedValuesShowTheirShortNameInJson) {
    ASSERT_EQ(Run({"set", m_strResource, "output_mode", "series2"}).nExit, 0);
    const CliResult result = Run({"get", m_strResource, "output_mode", "--json"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(result.strOut,
              "{\"attribute\":\"TARVEK_ATTR_OUTPUT_MODE\",\"channel\":\"\","
              "\"type\":\"ViInt32\",\"value\":\"series2\",\"text\":\"series2\"}\n");
    const CliResult table = Run({"attributes", "OUTPUT_MODE"});
    EXPECT_NE(table.strOut.find(" off parallel2 parallel3 series2 series3 track2 track3\n"),
              std::string::npos)
        << table.strOut;
}

TEST(CliVersion, PrintsTheToolAndDriverVersion) {
    const CliResult result = Tarvek({"--version"});
    EXPECT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_TRUE(std::regex_match(
        result.strOut, std::regex(R"(tarvek \d+\.\d+\.\d+ \(driver revision \d[\d.]*\)\n)")))
        << result.strOut;
}

TEST_F(CliTest, JsonErrorIsMachineReadable) {
    const CliResult result =
        Run({"set", m_strResource, "voltage_level", "5", "--channel", "CH7", "--json"});
    EXPECT_EQ(result.nExit, kExitDriverError);
    EXPECT_TRUE(std::regex_search(result.strOut,
                                  std::regex(R"(^\{"error":\{"status":-\d+,"code":"0x[0-9A-F]{8}",)"
                                             R"("message":".*CH7.*"\}\}\n$)")))
        << result.strOut;
}

TEST_F(CliTest, ApplyConfiguresTheOutputAndSwitchesItOn) {
    const CliResult result = Run({"apply", m_strResource, "--channel", "CH3", "--voltage", "12",
                                  "--current", "0.25", "--ovp", "13.5", "--output", "on"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(result.strOut, "CH3: OVP 13.5 V, voltage 12 V, current limit 0.25 A, output on\n");
    EXPECT_DOUBLE_EQ(m_pEmulator->Snapshot().Output(2).dVoltageSetpoint, 12.0);
    EXPECT_DOUBLE_EQ(m_pEmulator->Snapshot().Output(2).dCurrentSetpoint, 0.25);
    EXPECT_DOUBLE_EQ(m_pEmulator->Snapshot().Output(2).dOvpLevel, 13.5);
    EXPECT_TRUE(m_pEmulator->Snapshot().Output(2).bOutputEnabled);
    EXPECT_FALSE(m_pEmulator->Snapshot().Output(0).bOutputEnabled);
}

// The driver and the program over a HiSLIP session instead of a socket.
TEST_F(CliTest, ApplyAndMeasureWorkOverHislip) {
    emu::EmulatorOptions options;
    options.bHislip = true;
    options.nHislipPort = 0;
    m_pEmulator = std::make_unique<emu::Emulator>(options);
    m_pEmulator->Start();
    const std::string strResource = m_pEmulator->HislipResource();
    const CliResult result =
        Tarvek({"apply", strResource, "--channel", "CH2", "--voltage", "7", "--output", "on"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(result.strOut, "CH2: voltage 7 V, output on\n");
    // The session ends once the device has handled every message before the close.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_pEmulator->HislipSessionCount() != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_DOUBLE_EQ(m_pEmulator->Snapshot().Output(1).dVoltageSetpoint, 7.0);
    EXPECT_TRUE(m_pEmulator->Snapshot().Output(1).bOutputEnabled);
    const CliResult measured = Tarvek({"scpi", strResource, "*OPC?"});
    EXPECT_EQ(measured.nExit, 0) << Describe(measured);
    EXPECT_EQ(measured.strOut, "1\n");
}

TEST_F(CliTest, MeasureShowsLevelsAndRegulationState) {
    ASSERT_EQ(
        Run({"apply", m_strResource, "--channel", "CH1", "--voltage", "5", "--output", "on"}).nExit,
        0);
    // 10 V into 1 kOhm wants 10 mA; a 2 mA limit puts CH2 in constant current.
    ASSERT_EQ(Run({"apply", m_strResource, "--channel", "CH2", "--voltage", "10", "--current",
                   "0.002", "--output", "on"})
                  .nExit,
              0);
    const CliResult result = Run({"measure", m_strResource});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(result.strOut,
              "Output   Voltage (V)  Current (A)  Output  State\n"
              "CH1           5.0000       0.0050  on      CV\n"
              "CH2           2.0000       0.0020  on      CC\n"
              "CH3           0.0000       0.0000  off     off\n");
    const CliResult json = Run({"measure", m_strResource, "--channel", "ch2", "--json"});
    ASSERT_EQ(json.nExit, 0) << Describe(json);
    EXPECT_EQ(json.strOut,
              "{\"outputs\":[{\"channel\":\"ch2\",\"voltage\":2,\"current\":0.002,\"output\":true,"
              "\"state\":\"CC\"}]}\n");
}

TEST_F(CliTest, MeasureReportsAnOverCurrentTrip) {
    ASSERT_EQ(
        Run({"apply", m_strResource, "--channel", "CH1", "--voltage", "5", "--output", "on"}).nExit,
        0);
    ASSERT_EQ(Run({"set", m_strResource, "current_protection_level", "0.001"}).nExit, 0);
    ASSERT_TRUE(m_pEmulator->Snapshot().Output(0).bOcpTripped);
    const CliResult result = Run({"measure", m_strResource, "--channel", "CH1"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_NE(result.strOut.find("CH1           0.0000       0.0000  off     OCP tripped"),
              std::string::npos)
        << result.strOut;
}

TEST_F(CliTest, MonitorPrintsOneRowPerIntervalAndWritesCsv) {
    const TempFile csv("");
    const CliResult result = Run({"monitor", m_strResource, "--channel", "CH1,CH3", "--count", "3",
                                  "--interval", "0.05", "--csv", csv.Path()});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(std::count(result.strOut.begin(), result.strOut.end(), '\n'), 4) << result.strOut;
    EXPECT_EQ(result.strOut.rfind("    Time |    CH1 V    CH1 A  State       |    CH3 V", 0), 0u);
    std::ifstream file(csv.Path());
    std::string strLine;
    std::vector<std::string> vecRows;
    while (std::getline(file, strLine)) {
        vecRows.push_back(strLine);
    }
    ASSERT_EQ(vecRows.size(), 4u);
    EXPECT_EQ(vecRows[0], "time_s,CH1_V,CH1_A,CH1_state,CH3_V,CH3_A,CH3_state");
    EXPECT_TRUE(std::regex_match(vecRows[3], std::regex(R"(0\.\d{3},0,0,off,0,0,off)")))
        << vecRows[3];
}

TEST_F(CliTest, ListProgramsRunsAndReturnsToFixedLevels) {
    const TempFile steps("voltage,current,dwell\n1,0.5,0.05\n# middle\n2,0.5,0.05\n\n3,0.5,0.05\n");
    const CliResult result =
        Run({"list", m_strResource, "--channel", "CH2", "--steps", steps.Path()});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_NE(result.strOut.find("step 3/3  set 3 V 0.5 A for 0.05 s"), std::string::npos)
        << result.strOut;
    EXPECT_NE(result.strOut.find("List finished; CH2 back to fixed levels, output off"),
              std::string::npos);
    const Lines vecSent = CommandsSent();
    for (const char* pLine : {"INST:SEL 1", "SOUR:LIST:STEP:NUMBER 3", "SOUR:LIST:VOLT:LEV 3",
                              "SOUR:LIST:CURR:LEV 0.5", "SOUR:LIST:DWEL 0.05", "SOUR:LIST:SAVE",
                              "OUTP:MODE LIST,1", "INIT:IMM 1", "OUTP:MODE FIX"}) {
        EXPECT_TRUE(Contains(vecSent, pLine)) << pLine;
    }
    // The second and third steps repeat the first step's current: each step
    // must still be written.
    EXPECT_EQ(std::count(vecSent.begin(), vecSent.end(), "SOUR:LIST:CURR:LEV 0.5"), 3);
    EXPECT_FALSE(m_pEmulator->Snapshot().Output(1).bListRunning);
    EXPECT_FALSE(m_pEmulator->Snapshot().Output(1).bOutputEnabled);
}

TEST_F(CliTest, InterruptedListIsAbortedWithTheOutputOff) {
    const TempFile steps("5,1,0.05\n6,1,0.05\n");
    bool bSignalled = false;
    const CliResult result =
        Run({"list", m_strResource, "--channel", "CH1", "--steps", steps.Path(), "--repeat", "0"},
            [&](const std::string& strOut, pid_t pid) {
                if (!bSignalled && strOut.find("pass 2") != std::string::npos) {
                    bSignalled = true;
                    kill(pid, SIGINT);
                }
            });
    EXPECT_EQ(result.nExit, kExitInterrupted) << Describe(result);
    EXPECT_NE(result.strOut.find("Interrupted: list aborted, CH1 back to fixed levels, output off"),
              std::string::npos);
    EXPECT_FALSE(m_pEmulator->Snapshot().Output(0).bListRunning);
    EXPECT_FALSE(m_pEmulator->Snapshot().Output(0).bOutputEnabled);
    const Lines vecSent = CommandsSent();
    EXPECT_TRUE(Contains(vecSent, "ABOR 0"));
    EXPECT_EQ(SettingsSent().back(), "OUTP:STAT 0");
}

TEST_F(CliTest, ScpiQueriesPrintTheirReply) {
    CliResult result = Run({"scpi", m_strResource, "*IDN?"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(result.strOut, "Norvale,6313,SN000001,1.02\n");
    result = Run({"scpi", m_strResource, "SOUR:VOLT", "4.5"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(result.strOut, "");
    // The write does not wait for the instrument to take the line.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Contains(m_pEmulator->Lines(), "SOUR:VOLT 4.5") &&
           std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(Contains(m_pEmulator->Lines(), "SOUR:VOLT 4.5"));
    result = Run({"scpi", m_strResource, "SOUR:VOLT?", "--json"});
    EXPECT_EQ(result.strOut, "{\"command\":\"SOUR:VOLT?\",\"reply\":\"+4.500000E+00\"}\n");
}

TEST_F(CliTest, ErrorsDrainsTheQueue) {
    m_pEmulator->PushError(-222, "Data out of range");
    m_pEmulator->PushError(-113, "Undefined header");
    CliResult result = Run({"errors", m_strResource});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(result.strOut, "-222  Data out of range\n-113  Undefined header\n");
    result = Run({"errors", m_strResource, "--json"});
    EXPECT_EQ(result.strOut, "{\"errors\":[]}\n");
    result = Run({"errors", m_strResource});
    EXPECT_EQ(result.strOut, "No errors.\n");
}

TEST_F(CliTest, LostConnectionEndsMonitorWithTheDriverError) {
    m_pEmulator->CloseAfterMessages(12);
    const CliResult result =
        Run({"monitor", m_strResource, "--interval", "0.02", "--count", "100"});
    EXPECT_FALSE(result.bTimedOut);
    EXPECT_EQ(result.nExit, kExitDriverError) << Describe(result);
    EXPECT_NE(result.strErr.find("tarvek: error 0x"), std::string::npos) << result.strErr;
    EXPECT_GE(std::count(result.strOut.begin(), result.strOut.end(), '\n'), 1);
}

TEST_F(CliTest, LostConnectionDuringListStillEndsPromptly) {
    const TempFile steps("1,1,0.05\n2,1,0.05\n");
    m_pEmulator->CloseAfterMessages(40);
    const CliResult result =
        Run({"list", m_strResource, "--channel", "CH1", "--steps", steps.Path(), "--repeat", "0"});
    EXPECT_FALSE(result.bTimedOut);
    EXPECT_EQ(result.nExit, kExitDriverError) << Describe(result);
    EXPECT_NE(result.strErr.find("tarvek: error 0x"), std::string::npos);
}

TEST_F(CliTest, HelpIsAvailableForEveryCommand) {
    for (const char* pCommand : {"info", "get", "set", "apply", "measure", "monitor", "list",
                                 "scpi", "errors", "discover", "attributes"}) {
        SCOPED_TRACE(pCommand);
        const CliResult result = Run({pCommand, "--help"});
        EXPECT_EQ(result.nExit, 0);
        EXPECT_EQ(result.strOut.rfind(std::string("Usage: tarvek ") + pCommand, 0), 0u)
            << result.strOut;
    }
    EXPECT_EQ(Run({}).nExit, kExitUsage);
    EXPECT_EQ(Run({"--help"}).nExit, 0);
}

// The attributes the public header defines (an id and a type comment each).
int DeclaredAttributeCount() {
    std::ifstream file(TARVEK_HEADER_PATH);
    std::stringstream stream;
    stream << file.rdbuf();
    const std::string strText = stream.str();
    static const std::regex kDefine(R"(#define\s+TARVEK_ATTR_\w+\s+\d+\s*/\*\s*Vi\w+,)");
    return static_cast<int>(std::distance(
        std::sregex_iterator(strText.begin(), strText.end(), kDefine), std::sregex_iterator()));
}

// The tool's table comes from the header's comments; check it against the
// driver itself: every attribute reads with the type the table gives it.
TEST(CliAttributeTable, EveryAttributeReadsWithItsListedType) {
    const CliResult result = Tarvek({"attributes", "--json"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    const std::regex entry(R"re(\{"name":"(TARVEK_ATTR_\w+)","id":(\d+),"type":"(\w+)")re");
    int nCount = 0;
    for (const char* pOptions : {"Simulate=1", "Simulate=1,DriverSetup=Model:6510"}) {
        SCOPED_TRACE(pOptions);
        ViSession vi = VI_NULL;
        ASSERT_EQ(
            TARVEK_InitWithOptions(const_cast<ViChar*>(""), VI_FALSE, VI_FALSE, pOptions, &vi),
            VI_SUCCESS);
        nCount = 0;
        for (auto it = std::sregex_iterator(result.strOut.begin(), result.strOut.end(), entry);
             it != std::sregex_iterator(); ++it) {
            ++nCount;
            const std::string strName = (*it)[1];
            const ViAttr nId = static_cast<ViAttr>(std::stol((*it)[2]));
            const std::string strType = (*it)[3];
            SCOPED_TRACE(strName);
            // Per-channel attributes need a channel; the others ignore it.
            const char* pChannel = "CH1";
            ViStatus status = VI_SUCCESS;
            if (strType == "ViBoolean") {
                ViBoolean bValue = VI_FALSE;
                status = TARVEK_GetAttributeViBoolean(vi, pChannel, nId, &bValue);
            } else if (strType == "ViInt32") {
                ViInt32 nValue = 0;
                status = TARVEK_GetAttributeViInt32(vi, pChannel, nId, &nValue);
            } else if (strType == "ViReal64") {
                ViReal64 dValue = 0;
                status = TARVEK_GetAttributeViReal64(vi, pChannel, nId, &dValue);
            } else if (strType == "ViSession") {
                ViSession hValue = 0;
                status = TARVEK_GetAttributeViSession(vi, pChannel, nId, &hValue);
            } else {
                ASSERT_EQ(strType, "ViString");
                ViChar szValue[512];
                status = TARVEK_GetAttributeViString(vi, pChannel, nId, sizeof szValue, szValue);
            }
            EXPECT_NE(status, IVI_ERROR_TYPES_DO_NOT_MATCH);
            EXPECT_NE(status, IVI_ERROR_INVALID_ATTRIBUTE);
        }
        TARVEK_close(vi);
    }
    EXPECT_EQ(nCount, DeclaredAttributeCount());
}

}  // namespace
