// Behaviour of the emulated supply over a real loopback connection: the
// command set of both families, the state model, status reporting, several
// clients at once and fault injection.
#include "Emulator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestClient.h"

namespace {

using namespace std::chrono_literals;
using emutest::TestClient;
using Lines = std::vector<std::string>;

constexpr int k6310 = 1;
constexpr int k6510 = 2;
constexpr int kBoth = 3;

const char* const kNoError = "0,\"No error\"";

std::unique_ptr<emu::Emulator> StartEmulator(const std::string& strModel = "6313") {
    emu::EmulatorOptions options;
    options.strModel = strModel;
    auto pEmulator = std::make_unique<emu::Emulator>(options);
    pEmulator->Start();
    return pEmulator;
}

double Number(const std::string& strReply) {
    char* pEnd = nullptr;
    double dValue = std::strtod(strReply.c_str(), &pEnd);
    if (pEnd == strReply.c_str()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return dValue;
}

// Polls until a condition holds or the timeout passes.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = 2000ms) {
    auto tpDeadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < tpDeadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(2ms);
    }
    return condition();
}

// Every header the driver speaks, with the reply each one gives after its
// setup command. Rows run in order on one instrument per family; rows of
// one family only must be refused as undefined headers by the other
// (unless they are a family's own form of a shared header).
struct ConformanceRow {
    const char* pszCommand;   // sent first, may be null
    const char* pszQuery;     // then this query
    const char* pszExpected;  // its exact reply, or null for any reply
    int nFamilies;
    bool bRefusedElsewhere = true;
};

const ConformanceRow kConformance[] = {
    {"*RST", "*OPC?", "1", kBoth},
    {nullptr, "*IDN?", nullptr, kBoth},
    {"*CLS", "*ESR?", "0", kBoth},
    {"*OPC", "*ESR?", "1", kBoth},
    {"*ESE 36", "*ESE?", "36", kBoth},
    {"*SRE 16", "*SRE?", "16", kBoth},
    {nullptr, "*STB?", "0", kBoth},
    {"*PSC 0", "*PSC?", "0", kBoth},
    {"*PSC 1", "*PSC?", "1", kBoth},
    {"*SAV 3", "*OPC?", "1", kBoth},
    {"*RCL 3", "*OPC?", "1", kBoth},
    {"*WAI", "*OPC?", "1", kBoth},
    {"*TRG", "*OPC?", "1", kBoth},
    {nullptr, "*TST?", "0", kBoth},
    {nullptr, ":SYST:ERR?", kNoError, kBoth},
    {nullptr, "SYST:VERS?", "1999.0", kBoth},
    {"SYST:BEEP:STAT 0", "SYST:BEEP:STAT?", "0", kBoth},
    {"SYST:BEEP:IMM", "*OPC?", "1", kBoth},
    {"SYST:COMM:RLST LOC", "SYST:COMM:RLST?", "LOC", kBoth},
    {"SYST:RWL", "SYST:COMM:RLST?", "RWL", kBoth},
    {"SYST:COMM:RLST REM", "SYST:COMM:RLST?", "REM", kBoth},
    {"SYST:DATE 2026,12,06", "SYST:DATE?", "2026,12,06", kBoth},
    {"SYST:TIME 10,20,30", "SYST:TIME?", "10,20,30", kBoth},
    {"DISP:WIND:STAT 0", "DISP:WIND:STAT?", "0", kBoth},
    {"LXI:IDEN:STAT 1", "LXI:IDEN:STAT?", "1", kBoth},
    {"INST:SEL 1", "INST:SEL?", "CH2", k6310},
    {"INST:SEL CH3", "INST:SEL?", "CH3", k6310},
    {"INST:SEL 0", "INST:SEL?", "CH1", k6310},
    {"OUTP:PAIR PARA2", "OUTP:PAIR?", "PARA2", k6310},
    {"OUTP:PAIR TRAC3", "OUTP:PAIR?", "TRAC3", k6310},
    {"OUTP:PAIR OFF", "OUTP:PAIR?", "OFF", k6310},
    {"SOUR:VOLT:LEV:IMM:AMPL 5", "SOUR:VOLT:LEV:IMM:AMPL?", "+5.000000E+00", kBoth},
    {"SOUR:CURR:LEV:IMM:AMPL 1.5", "SOUR:CURR:LEV:IMM:AMPL?", "+1.500000E+00", kBoth},
    {"SOUR:VOLT:PROT:LEV:AMPL 12", "SOUR:VOLT:PROT:LEV:AMPL?", "+1.200000E+01", kBoth},
    {"SOUR:VOLT:PROT:CLE", "SOUR:VOLT:PROT:TRIP?", "0", kBoth},
    {"SOUR:CURR:PROT:LEV 2", "SOUR:CURR:PROT:LEV?", "+2.000000E+00", kBoth},
    {"SOUR:CURR:PROT:STAT 0", "SOUR:CURR:PROT:STAT?", "0", kBoth},
    {"SOUR:CURR:PROT:STAT 1", "SOUR:CURR:PROT:STAT?", "1", kBoth},
    {"SOUR:CURR:PROT:CLE", "SOUR:CURR:PROT:TRIP?", "0", kBoth},
    {"SOUR:CURR:SLOP 0.5", "SOUR:CURR:SLOP?", "+5.000000E-01", kBoth},
    {"SOUR:VOLT:SLOP 2", "SOUR:VOLT:SLOP?", "+2.000000E+00", kBoth},
    {"SOUR:VOLT:MAX 30", "SOUR:VOLT:MAX?", "+3.000000E+01", kBoth},
    {"SOUR:VOLT:MIN 1", "SOUR:VOLT:MIN?", "+1.000000E+00", kBoth},
    {"SOUR:VOLT:SENS 1", "SOUR:VOLT:SENS?", "1", kBoth},
    {"OUTP:STAT 1", "OUTP:STAT?", "1", kBoth},
    {nullptr, "MEAS:SCAL:VOLT:DC?", "+5.000000E+00", kBoth},
    {nullptr, "MEAS:SCAL:CURR:DC?", "+5.000000E-03", kBoth},
    {nullptr, "APPL?", "+5.000000E+00,+1.500000E+00", kBoth},
    {nullptr, "STAT:QUES:ISUM1:COND?", "0", kBoth},
    {"OUTP:PROT:CLE", "OUTP:STAT?", "1", kBoth},
    {"OUTP:TIM 1", "OUTP:TIM?", "1", kBoth},
    {"OUTP:TIM:COUN 00:10:00", "OUTP:TIM:COUN?", "00:10:00", kBoth},
    {"OUTP:TIM 0", "OUTP:TIM?", "0", kBoth},
    {"OUTP:INH:MODE LIVE", "OUTP:INH:MODE?", "LIVE", kBoth},
    {"OUTP:INH:MODE OFF", "OUTP:INH:MODE?", "OFF", kBoth},
    {"OUTP:INH:MODE LATC", "OUTP:INH:MODE?", "LATC", kBoth},
    {"OUTP:PON:STAT USER,2", "OUTP:PON:STAT?", "USER,2", kBoth},
    {"OUTP:PON:STAT LAST", "OUTP:PON:STAT?", "LAST", kBoth},
    {"OUTP:PON:STAT OFF", "OUTP:PON:STAT?", "OFF", kBoth},
    {"TRIG:SEQ:SOUR EXT", "TRIG:SEQ:SOUR?", "EXT", kBoth},
    {"TRIG:SEQ:SOUR BUS", "TRIG:SEQ:SOUR?", "BUS", kBoth},
    {"TRIG:SEQ:SOUR IMM", "TRIG:SEQ:SOUR?", "IMM", kBoth},
    {"SOUR:LIST:NUMB 2", "SOUR:LIST:NUMB?", "2", kBoth},
    {"SOUR:LIST:STEP:NUMBER 3", "SOUR:LIST:STEP:NUMBER?", "3", kBoth},
    {"SOUR:LIST:VOLT:LEV 4", "SOUR:LIST:VOLT:LEV?", "+4.000000E+00", kBoth},
    {"SOUR:LIST:CURR:LEV 0.5", "SOUR:LIST:CURR:LEV?", "+5.000000E-01", kBoth},
    {"SOUR:LIST:DWEL 0.05", "SOUR:LIST:DWEL?", "+5.000000E-02", kBoth},
    {"SOUR:LIST:TOUT:BOST:DATA 1", "SOUR:LIST:TOUT:BOST:DATA?", "1", kBoth},
    {"SOUR:LIST:TOUT:EOST:DATA 1", "SOUR:LIST:TOUT:EOST:DATA?", "1", kBoth},
    {"SOUR:LIST:STEP 1", "SOUR:LIST:STEP?", "1", kBoth},
    {"SOUR:LIST:COUN 3", "SOUR:LIST:COUN?", "3", kBoth},
    {"SOUR:LIST:TERM:LAST 1", "SOUR:LIST:TERM:LAST?", "1", kBoth},
    {"SOUR:LIST:NEXT 0", "SOUR:LIST:NEXT?", "0", kBoth},
    {"SOUR:LIST:SAVE", "*OPC?", "1", kBoth},
    {"OUTP:MODE LIST,2", "OUTP:MODE?", "LIST,2", kBoth},
    {"INIT:IMM 0", "*OPC?", "1", kBoth},
    {"ABOR 0", "*OPC?", "1", k6310, false},
    {"ABOR", "*OPC?", "1", kBoth},
    {"INIT:CONT 0,1", "INIT:CONT?", "1", k6310, false},
    {"INIT:CONT 0", "INIT:CONT?", "0", k6510, false},
    {"OUTP:MODE FIX", "OUTP:MODE?", "FIX", kBoth},
    {"BATT:CONF:AH 0", "BATT:CONF:AH?", "0", k6510},
    {"BATT:CONF:WH 0", "BATT:CONF:WH?", "0", k6510},
    {"BATT:CONF:SAMPL 2", "BATT:CONF:SAMPL?", "+2.000000E+00", k6510},
    {"BATT:CONF:TRIG:SOUR BUS", "BATT:CONF:TRIG:SOUR?", "BUS", k6510},
    {"BATT:MOD:ENAB 0", "BATT:MOD:ENAB?", "0", k6510},
    {"BATT:MOD:VOLT 4.2", "BATT:MOD:VOLT?", "+4.200000E+00", k6510},
    {"BATT:MOD:CURR 1", "BATT:MOD:CURR?", "+1.000000E+00", k6510},
    {"BATT:MOD:END:CURR 0.1", "BATT:MOD:END:CURR?", "+1.000000E-01", k6510},
    {"BATT:MOD:END:DEL 5", "BATT:MOD:END:DEL?", "5", k6510},
    {"BATT:FAILSAF:STAT 1", "BATT:FAILSAF:STAT?", "1", k6510},
    {"BATT:FAILSAF:A 2", "BATT:FAILSAF:A?", "+2.000000E+00", k6510},
    {"BATT:FAILSAF:W 3", "BATT:FAILSAF:W?", "+3.000000E+00", k6510},
    {"BATT:FAILSAF:OVP 4.5", "BATT:FAILSAF:OVP?", "+4.500000E+00", k6510},
    {"BATT:FAILSAF:TIM 01:00:00", "BATT:FAILSAF:TIM?", "01:00:00", k6510},
    {"BATT:MOD:STAT 1", "BATT:STAT?", "0", k6510},  // armed, waiting for *TRG
    {"BATT:MOD:STAT 0", "BATT:STAT?", "0", k6510},
    {"SENS:DLOG:FUNC:TINT 0.5", "SENS:DLOG:FUNC:TINT?", "+5.000000E-01", kBoth},
    {"TRIG:DLOG:SOUR BUS", "TRIG:DLOG:SOUR?", "BUS", kBoth},
    {"INIT:IMM:DLOG", "*OPC?", "1", kBoth},
    {"TRIG:DLOG:IMM", "*OPC?", "1", kBoth},
    {"ABOR:DLOG", "*OPC?", "1", kBoth},
    {"SOUR:DIG:PIN2:FUNC DOUT", "SOUR:DIG:PIN2:FUNC?", "DOUT", kBoth},
    {"SOUR:DIG:PIN2:POL NEG", "SOUR:DIG:PIN2:POL?", "NEG", kBoth},
    {"SOUR:DIG:PIN3:FUNC INH", "SOUR:DIG:PIN3:FUNC?", "INH", kBoth},
    {"SOUR:DIG:PIN3:FUNC NONE", "SOUR:DIG:PIN3:FUNC?", "NONE", kBoth},
    {"SOUR:DIG:OUTP:DATA 2", "SOUR:DIG:OUTP:DATA?", "2", kBoth},
    {"SOUR:DIG:PIN2:POL POS", "SOUR:DIG:INP:DATA?", "2", kBoth},
    {"STAT:QUES:ENAB 5", "STAT:QUES:ENAB?", "5", kBoth},
    {nullptr, "STAT:QUES:EVEN?", nullptr, kBoth},
    {"STAT:QUES:INST:ENAB 2", "STAT:QUES:INST:ENAB?", "2", kBoth},
    {nullptr, "STAT:QUES:INST:EVEN?", nullptr, kBoth},
    {"STAT:QUES:ISUM1:ENAB 3", "STAT:QUES:ISUM1:ENAB?", "3", k6310, false},
    {nullptr, "STAT:QUES:ISUM1?", nullptr, k6310, false},
    {"STAT:QUES:ISUM2:ENAB 3", "STAT:QUES:ISUM2:ENAB?", "3", k6310},
    {nullptr, "STAT:QUES:ISUM2:COND?", "0", k6310},
    {nullptr, "STAT:QUES:ISUM2?", "0", k6310},
    {"STAT:QUES:ISUM3:ENAB 1", "STAT:QUES:ISUM3:ENAB?", "1", k6310},
    {nullptr, "STAT:QUES:ISUM3:COND?", "0", k6310},
    {nullptr, "STAT:QUES:ISUM3?", "0", k6310},
    {"STAT:QUES:ISUM:ENAB 3", "STAT:QUES:ISUM:ENAB?", "3", k6510, false},
    {nullptr, "STAT:QUES:ISUM:COND?", "0", k6510, false},
    {nullptr, "STAT:QUES:ISUM?", nullptr, k6510, false},
    {"STAT:PRES", "STAT:QUES:ENAB?", "0", kBoth},
    {"SYST:SEC:IMM", "*ESR?", "128", kBoth},
};

class Conformance : public ::testing::TestWithParam<const char*> {};

TEST_P(Conformance, EveryHeaderAnswersOnItsFamilyAndIsUndefinedOnTheOther) {
    const std::string strModel = GetParam();
    const int nFamily = strModel.rfind("63", 0) == 0 ? k6310 : k6510;
    auto pEmulator = StartEmulator(strModel);
    TestClient client(pEmulator->Port());
    for (const ConformanceRow& row : kConformance) {
        SCOPED_TRACE(std::string(row.pszCommand ? row.pszCommand : "") + " / " + row.pszQuery);
        if ((row.nFamilies & nFamily) != 0) {
            if (row.pszCommand != nullptr) {
                client.Write(row.pszCommand);
            }
            std::string strReply = client.Query(row.pszQuery);
            if (row.pszExpected != nullptr) {
                EXPECT_EQ(strReply, row.pszExpected);
            }
            EXPECT_EQ(client.Query("SYST:ERR?"), kNoError);
        } else if (row.bRefusedElsewhere) {
            if (row.pszCommand != nullptr) {
                client.Write(row.pszCommand);
                EXPECT_EQ(client.Query("SYST:ERR?"), "-113,\"Undefined header\"");
            }
            client.Write(row.pszQuery);
            EXPECT_EQ(client.Query("SYST:ERR?"), "-113,\"Undefined header\"");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothFamilies, Conformance, ::testing::Values("6313", "6512"));

TEST(EmulatorIdentity, IdnCarriesTheConfiguredFields) {
    emu::EmulatorOptions options;
    options.strModel = "6512";
    options.strManufacturer = "Acme";
    options.strSerial = "X42";
    options.strFirmware = "9.9";
    emu::Emulator emulator(options);
    emulator.Start();
    TestClient client(emulator.Port());
    EXPECT_EQ(client.Query("*IDN?"), "Acme,6512,X42,9.9");
    EXPECT_EQ(emulator.Snapshot().nChannelCount, 1);
    EXPECT_EQ(emulator.Resource(),
              "TCPIP::127.0.0.1::" + std::to_string(emulator.Port()) + "::SOCKET");
}

TEST(EmulatorIdentity, ModelOutsideBothFamiliesIsRefused) {
    emu::EmulatorOptions options;
    options.strModel = "TK6310";
    EXPECT_THROW(emu::Emulator{options}, std::invalid_argument);
}

TEST(EmulatorParsing, AnySpellingOfAHeaderReachesTheSameSetting) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    const std::pair<const char*, double> rows[] = {
        {"SOURce:VOLTage:PROTection:LEVel 7", 7.0},
        {"sour:volt:prot:lev 8", 8.0},
        {"VOLT:PROT 9", 9.0},
        {":Sour:Volt:Prot:Lev:Ampl 10", 10.0},
        {"volt:prot 500mV", 0.5},
        {"VOLT:PROT MAX", 66.0},
    };
    for (const auto& [pszCommand, dExpected] : rows) {
        SCOPED_TRACE(pszCommand);
        client.Send(pszCommand);
        EXPECT_DOUBLE_EQ(Number(client.Query("SOUR:VOLT:PROT:LEV:AMPL?")), dExpected);
        EXPECT_DOUBLE_EQ(pEmulator->Snapshot().Output(0).dOvpLevel, dExpected);
    }
    EXPECT_EQ(client.Query("SYST:ERR?"), kNoError);
}

TEST(EmulatorParsing, CompoundMessagesKeepTheHeaderPathAndJoinReplies) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Send("SOUR:VOLT 3;CURR 0.2;:OUTP ON");
    EXPECT_DOUBLE_EQ(pEmulator->Snapshot().Output(0).dVoltageSetpoint, 3.0);
    EXPECT_DOUBLE_EQ(pEmulator->Snapshot().Output(0).dCurrentSetpoint, 0.2);
    EXPECT_TRUE(pEmulator->Snapshot().Output(0).bOutputEnabled);
    EXPECT_EQ(client.Query("VOLT?;CURR?;*OPC?"), "+3.000000E+00;+2.000000E-01;1");
    EXPECT_EQ(client.Query("SYST:ERR?"), kNoError);
}

TEST(EmulatorErrors, BadInputQueuesTheStandardErrorAndSetsItsEventBit) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Query("*ESR?");  // clears the power-on bit
    struct Row {
        const char* pszMessage;
        const char* pszError;
        int nEsr;
    };
    const Row rows[] = {
        {"FOO", "-113,\"Undefined header\"", 32},
        {"VOLT:FOO 1", "-113,\"Undefined header\"", 32},
        {"OUTP:PROT:CLE?", "-113,\"Undefined header\"", 32},
        {"MEAS:VOLT 5", "-113,\"Undefined header\"", 32},
        {"BATT:MOD:STAT 1", "-113,\"Undefined header\"", 32},
        {"VOLT 100", "-222,\"Data out of range\"", 16},
        {"VOLT -1", "-222,\"Data out of range\"", 16},
        {"INST:SEL 3", "-222,\"Data out of range\"", 16},
        {"INIT:IMM 0", "-221,\"Settings conflict\"", 16},
        {"VOLT", "-109,\"Missing parameter\"", 32},
        {"VOLT 1,2", "-108,\"Parameter not allowed\"", 32},
        {"*IDN? 5", "-108,\"Parameter not allowed\"", 32},
        {"OUTP MAYBE", "-141,\"Invalid character data\"", 32},
        {"VOLT 5X", "-131,\"Invalid suffix\"", 32},
        {"VOLT 5A", "-131,\"Invalid suffix\"", 32},
        {"VOLT abc", "-104,\"Data type error\"", 32},
        {"SOUR::VOLT 1", "-102,\"Syntax error\"", 32},
        {"STAT:QUES:ISUM4?", "-114,\"Header suffix out of range\"", 32},
        {"SOUR:DIG:PIN9:FUNC DOUT", "-114,\"Header suffix out of range\"", 32},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszMessage);
        client.Write(row.pszMessage);
        EXPECT_EQ(client.Query("*ESR?"), std::to_string(row.nEsr));
        EXPECT_EQ(client.Query("*ESR?"), "0");  // reading cleared it
        EXPECT_EQ(client.Query("SYST:ERR?"), row.pszError);
        EXPECT_EQ(client.Query("SYST:ERR?"), kNoError);
    }
}

TEST(EmulatorErrors, CommandErrorDropsTheRestOfTheMessageButExecutionErrorDoesNot) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Write("VOLT 3;FOO;VOLT 4");
    EXPECT_DOUBLE_EQ(Number(client.Query("VOLT?")), 3.0);
    client.Write("VOLT 5;VOLT 100;CURR 2");
    EXPECT_DOUBLE_EQ(Number(client.Query("VOLT?")), 5.0);
    EXPECT_DOUBLE_EQ(Number(client.Query("CURR?")), 2.0);
    EXPECT_EQ(client.Query("SYST:ERR?"), "-113,\"Undefined header\"");
    EXPECT_EQ(client.Query("SYST:ERR?"), "-222,\"Data out of range\"");
}

TEST(EmulatorErrors, QueueOverflowKeepsTheOldestAndEndsWithOverflow) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    for (int i = 0; i < 25; ++i) {
        client.Write("FOO");
    }
    EXPECT_EQ(client.Query("SYST:ERR:COUN?"), "20");
    for (int i = 0; i < 19; ++i) {
        EXPECT_EQ(client.Query("SYST:ERR?"), "-113,\"Undefined header\"");
    }
    EXPECT_EQ(client.Query("SYST:ERR?"), "-350,\"Queue overflow\"");
    EXPECT_EQ(client.Query("SYST:ERR?"), kNoError);
}

TEST(EmulatorStatus, ClsClearsQueueAndEventsAndStbSummarises) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Send("*CLS");
    client.Send("*ESE 32;*SRE 32");
    client.Send("FOO");
    EXPECT_EQ(client.Query("*STB?"), "100");  // error queue 4 + event summary 32 + MSS 64
    client.Send("*CLS");
    EXPECT_EQ(client.Query("*STB?"), "0");
    EXPECT_EQ(client.Query("SYST:ERR?"), kNoError);
    EXPECT_EQ(client.Query("*ESR?"), "0");
}

TEST(EmulatorStatus, MavShowsAReplyQueuedBeforeTheStatusQuery) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    const std::string strIdn = client.Query("*IDN?");
    // A socket sends each message's replies when the message has run: within
    // "*IDN?;*STB?" the identity is queued, unread, when *STB? runs.
    EXPECT_EQ(client.Query("*IDN?;*STB?"), strIdn + ";16");
    // Read: nothing waits any more, and *STB?'s own answer does not count.
    EXPECT_EQ(client.Query("*STB?"), "0");
    EXPECT_EQ(client.Query("*STB?;*STB?"), "0;16");
    // With MAV enabled for service requests, MSS follows it.
    client.Send("*SRE 16");
    EXPECT_EQ(client.Query("*IDN?;*STB?"), strIdn + ";80");
    EXPECT_EQ(client.Query("*STB?"), "0");
}

TEST(EmulatorModel, MeasurementsFollowOhmsLawAndRegulationMode) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Send("INST:SEL 1;:VOLT 10;CURR 1;:OUTP 1");
    struct Row {
        double dLoad;
        double dVoltage;
        double dCurrent;
        const char* pszCondition;  // bit 0 constant current, bit 2 unregulated
    };
    const Row rows[] = {
        {100.0, 10.0, 0.1, "0"},
        {5.0, 5.0, 1.0, "1"},
        {std::numeric_limits<double>::infinity(), 10.0, 0.0, "0"},
        {10.0, 10.0, 1.0, "0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.dLoad);
        pEmulator->SetLoadResistance(1, row.dLoad);
        EXPECT_DOUBLE_EQ(Number(client.Query("MEAS:VOLT?")), row.dVoltage);
        EXPECT_DOUBLE_EQ(Number(client.Query("MEAS:SCAL:CURR:DC?")), row.dCurrent);
        EXPECT_EQ(client.Query("STAT:QUES:ISUM2:COND?"), row.pszCondition);
    }
    client.Send("VOLT 50;CURR 10");
    pEmulator->SetLoadResistance(1, 10.0);  // 250 W beyond the 100 W rating
    EXPECT_EQ(client.Query("STAT:QUES:ISUM2:COND?"), "4");
    EXPECT_DOUBLE_EQ(pEmulator->Snapshot().Output(0).dMeasuredCurrent,
                     0.0);  // other outputs stay off
    client.Send("OUTP 0");
    EXPECT_DOUBLE_EQ(Number(client.Query("MEAS:VOLT?")), 0.0);
}

TEST(EmulatorModel, OverVoltageTripSwitchesTheOutputOffUntilCleared) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Send("VOLT 10;:OUTP 1;:VOLT:PROT 8");
    EXPECT_TRUE(pEmulator->Snapshot().Output(0).bOvpTripped);
    EXPECT_EQ(client.Query("OUTP?"), "0");
    EXPECT_EQ(client.Query("VOLT:PROT:TRIP?"), "1");
    EXPECT_EQ(client.Query("STAT:QUES:ISUM1:COND?"), "2");
    EXPECT_DOUBLE_EQ(Number(client.Query("MEAS:VOLT?")), 0.0);
    client.Send("OUTP 1");  // refused while tripped
    EXPECT_EQ(client.Query("OUTP?"), "0");
    client.Send("OUTP:PROT:CLE");  // the cause is still there: trips again
    EXPECT_EQ(client.Query("VOLT:PROT:TRIP?"), "1");
    client.Send("VOLT 5;:VOLT:PROT:CLE");
    EXPECT_EQ(client.Query("VOLT:PROT:TRIP?"), "0");
    EXPECT_EQ(client.Query("OUTP?"), "1");
    EXPECT_DOUBLE_EQ(Number(client.Query("MEAS:VOLT?")), 5.0);
    EXPECT_EQ(client.Query("STAT:QUES:ISUM1?"), "2");  // the trip stays latched as an event
    EXPECT_EQ(client.Query("STAT:QUES:ISUM1?"), "0");
}

TEST(EmulatorModel, OverCurrentTripsOnlyWhenProtectionIsOn) {
    auto pEmulator = StartEmulator("6512");
    TestClient client(pEmulator->Port());
    pEmulator->SetLoadResistance(0, 1.0);
    client.Send("CURR:PROT:STAT 0;LEV 1;:CURR 2;VOLT 5;:OUTP 1");
    EXPECT_FALSE(pEmulator->Snapshot().Output(0).bOcpTripped);
    EXPECT_DOUBLE_EQ(pEmulator->Snapshot().Output(0).dMeasuredCurrent, 2.0);
    client.Send("CURR:PROT:STAT 1");
    EXPECT_TRUE(pEmulator->Snapshot().Output(0).bOcpTripped);
    EXPECT_FALSE(pEmulator->Snapshot().Output(0).bOutputEnabled);
    EXPECT_EQ(client.Query("CURR:PROT:TRIP?"), "1");
    EXPECT_EQ(client.Query("STAT:QUES:ISUM:COND?"), "8");
    client.Send("CURR 0.5;:CURR:PROT:CLE");
    EXPECT_TRUE(pEmulator->Snapshot().Output(0).bOutputEnabled);
    EXPECT_DOUBLE_EQ(pEmulator->Snapshot().Output(0).dMeasuredCurrent, 0.5);
}

TEST(EmulatorModel, ListStepsThroughItsDwellTimesInRealTime) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Send("INST:SEL 2;:LIST:NUMB 4");
    for (int nStep = 1; nStep <= 3; ++nStep) {
        client.Send("LIST:STEP:NUMB " + std::to_string(nStep) + ";:LIST:VOLT " +
                    std::to_string(nStep) + ";:LIST:CURR 1;:LIST:DWEL 40ms");
    }
    client.Send("LIST:STEP 0;COUN 1;TERM:LAST 0;:VOLT 9;:OUTP 1;:OUTP:MODE LIST,4");
    auto tpStart = std::chrono::steady_clock::now();
    client.Send("INIT:IMM 2");
    EXPECT_EQ(pEmulator->Snapshot().Output(2).nListStep, 1);
    EXPECT_TRUE(pEmulator->Snapshot().Output(2).bListRunning);
    EXPECT_DOUBLE_EQ(Number(client.Query("MEAS:VOLT?")), 1.0);
    ASSERT_TRUE(Eventually([&] { return pEmulator->Snapshot().Output(2).nListStep == 2; }));
    EXPECT_GE(std::chrono::steady_clock::now() - tpStart, 40ms);
    ASSERT_TRUE(Eventually([&] { return !pEmulator->Snapshot().Output(2).bListRunning; }));
    EXPECT_GE(std::chrono::steady_clock::now() - tpStart, 120ms);
    EXPECT_DOUBLE_EQ(Number(client.Query("MEAS:VOLT?")), 9.0);  // back to the fixed setting
    EXPECT_FALSE(pEmulator->Snapshot().Output(0).bListRunning);

    client.Send("LIST:TERM:LAST 1;:INIT 2");
    ASSERT_TRUE(Eventually([&] { return !pEmulator->Snapshot().Output(2).bListRunning; }));
    EXPECT_DOUBLE_EQ(Number(client.Query("MEAS:VOLT?")), 3.0);  // holds the last step
    EXPECT_EQ(client.Query("SYST:ERR?"), kNoError);
}

TEST(EmulatorModel, BusTriggeredListWaitsForTrgAndAbortStopsIt) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Send("LIST:NUMB 1;STEP:NUMB 1;:LIST:VOLT 2;DWEL 10");
    client.Send("OUTP:MODE LIST,1;:TRIG:SEQ:SOUR BUS;:INIT:IMM 0");
    EXPECT_FALSE(pEmulator->Snapshot().Output(0).bListRunning);
    client.Send("*TRG");
    EXPECT_TRUE(pEmulator->Snapshot().Output(0).bListRunning);
    client.Send("ABOR 0");
    EXPECT_FALSE(pEmulator->Snapshot().Output(0).bListRunning);
    EXPECT_EQ(pEmulator->Snapshot().Output(0).nListStep, 0);
}

TEST(EmulatorModel, BatteryTestRunsUntilItsEndCurrent) {
    auto pEmulator = StartEmulator("6510");
    TestClient client(pEmulator->Port());
    client.Send("BATT:MOD:VOLT 4.2;CURR 1;END:CURR 0.85;DEL 0;:BATT:MOD:STAT 1");
    auto tpStart = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Query("BATT:STAT?"), "1");
    EXPECT_TRUE(pEmulator->Snapshot().bBatteryTestRunning);
    EXPECT_NEAR(Number(client.Query("MEAS:VOLT?")), 4.2, 1e-9);
    ASSERT_TRUE(Eventually([&] { return !pEmulator->Snapshot().bBatteryTestRunning; }));
    // The current falls below 85 % of its start after about 160 ms.
    EXPECT_GE(std::chrono::steady_clock::now() - tpStart, 140ms);
    EXPECT_GT(Number(client.Query("BATT:AH?")), 0.0);
    EXPECT_EQ(client.Query("BATT:STAT?"), "0");
}

TEST(EmulatorModel, BatteryFailSafeTimeStopsTheTest) {
    auto pEmulator = StartEmulator("6510");
    TestClient client(pEmulator->Port());
    client.Send("BATT:MOD:CURR 1;:BATT:FAILSAF:TIM 0.05;STAT 1;:BATT:MOD:STAT 1");
    EXPECT_TRUE(pEmulator->Snapshot().bBatteryTestRunning);
    EXPECT_TRUE(Eventually([&] { return !pEmulator->Snapshot().bBatteryTestRunning; }, 1000ms));
}

TEST(EmulatorModel, DataLoggerSamplesAtItsInterval) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Send("SENS:DLOG:FUNC:TINT 10ms;:TRIG:DLOG:SOUR IMM;:INIT:DLOG");
    EXPECT_TRUE(pEmulator->Snapshot().bDataLoggerRunning);
    EXPECT_TRUE(Eventually([&] { return Number(client.Query("FETC:DLOG:COUN?")) >= 3; }));
    client.Send("ABOR:DLOG");
    EXPECT_FALSE(pEmulator->Snapshot().bDataLoggerRunning);
}

TEST(EmulatorModel, InhibitInputSwitchesOutputsOff) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Send("VOLT 5;:OUTP 1;:SOUR:DIG:PIN1:FUNC INH;:OUTP:INH:MODE LIVE");
    pEmulator->SetDigitalInput(1);
    EXPECT_DOUBLE_EQ(Number(client.Query("MEAS:VOLT?")), 0.0);
    EXPECT_EQ(client.Query("SOUR:DIG:INP:DATA?"), "1");
    pEmulator->SetDigitalInput(0);
    EXPECT_DOUBLE_EQ(Number(client.Query("MEAS:VOLT?")), 5.0);
    client.Send("OUTP:INH:MODE LATC");
    pEmulator->SetDigitalInput(1);
    pEmulator->SetDigitalInput(0);
    EXPECT_DOUBLE_EQ(Number(client.Query("MEAS:VOLT?")), 0.0);  // latched
    client.Send("OUTP:PROT:CLE");
    EXPECT_DOUBLE_EQ(Number(client.Query("MEAS:VOLT?")), 5.0);
}

TEST(EmulatorModel, OutputTimerSwitchesTheOutputOff) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Send("OUTP:TIM:COUN 0.03;:OUTP:TIM 1;:OUTP 1");
    EXPECT_TRUE(pEmulator->Snapshot().Output(0).bOutputEnabled);
    EXPECT_TRUE(
        Eventually([&] { return !pEmulator->Snapshot().Output(0).bOutputEnabled; }, 1000ms));
}

TEST(EmulatorModel, ResetSaveRecallAndPowerOnState) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Send("INST:SEL 2;:VOLT 7;CURR 0.7;:OUTP 1;*SAV 4;:OUTP:PON:STAT USER,4");
    client.Send("*RST");
    EXPECT_DOUBLE_EQ(pEmulator->Snapshot().Output(2).dVoltageSetpoint, 0.0);
    EXPECT_DOUBLE_EQ(pEmulator->Snapshot().Output(2).dCurrentSetpoint, 1.0);
    EXPECT_FALSE(pEmulator->Snapshot().Output(2).bOutputEnabled);
    EXPECT_EQ(client.Query("INST:SEL?"), "CH1");
    client.Send("*RCL 4");
    EXPECT_DOUBLE_EQ(pEmulator->Snapshot().Output(2).dVoltageSetpoint, 7.0);
    EXPECT_TRUE(pEmulator->Snapshot().Output(2).bOutputEnabled);
    EXPECT_EQ(client.Query("INST:SEL?"), "CH3");
    client.Send("*RST;*ESE 4;*CLS");
    pEmulator->PowerCycle();
    EXPECT_DOUBLE_EQ(pEmulator->Snapshot().Output(2).dVoltageSetpoint, 7.0);
    EXPECT_EQ(client.Query("*ESE?"), "0");  // cleared at power-on by *PSC 1
    EXPECT_EQ(client.Query("*ESR?"), "128");
    client.Send("OUTP:PON:STAT OFF");
    pEmulator->PowerCycle();
    EXPECT_DOUBLE_EQ(pEmulator->Snapshot().Output(2).dVoltageSetpoint, 0.0);
}

TEST(EmulatorClients, EachConnectionHasItsOwnInputBufferOverOneInstrument) {
    auto pEmulator = StartEmulator();
    TestClient clientA(pEmulator->Port());
    TestClient clientB(pEmulator->Port());
    clientA.WriteRaw("VOLT 2");
    clientB.Write("CURR 0.3");
    ASSERT_TRUE(pEmulator->WaitForLines(1, 2000ms));
    clientA.Write(";OUTP 1");
    ASSERT_TRUE(pEmulator->WaitForLines(2, 2000ms));
    EXPECT_EQ(pEmulator->Lines(), (Lines{"CURR 0.3", "VOLT 2;OUTP 1"}));
    EXPECT_DOUBLE_EQ(Number(clientB.Query("VOLT?")), 2.0);
    EXPECT_DOUBLE_EQ(Number(clientA.Query("CURR?")), 0.3);
    EXPECT_EQ(pEmulator->ConnectionCount(), 2U);
}

TEST(EmulatorClients, ConcurrentClientsEachGetTheirOwnReplies) {
    auto pEmulator = StartEmulator();
    std::atomic<int> nFailures{0};
    std::vector<std::thread> vecThreads;
    for (int nClient = 0; nClient < 4; ++nClient) {
        vecThreads.emplace_back([&, nClient] {
            TestClient client(pEmulator->Port());
            for (int i = 0; i < 50; ++i) {
                std::string strExpected = std::to_string(nClient * 100 + i);
                if (client.Query("*SRE " + std::to_string((nClient * 100 + i) % 256) + ";*IDN?") !=
                    "Norvale,6313,SN000001,1.02") {
                    ++nFailures;
                }
            }
        });
    }
    for (std::thread& thread : vecThreads) {
        thread.join();
    }
    EXPECT_EQ(nFailures.load(), 0);
    EXPECT_EQ(pEmulator->Lines().size(), 200U);
}

TEST(EmulatorFaults, LinesRecordTheExactBytesReceived) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.WriteRaw("  volt 1 \r\n*IDN?\nINST:SEL 1\n\n");
    ASSERT_TRUE(pEmulator->WaitForLines(4, 2000ms));
    EXPECT_EQ(pEmulator->Lines(), (Lines{"  volt 1 \r", "*IDN?", "INST:SEL 1", ""}));
    EXPECT_DOUBLE_EQ(pEmulator->Snapshot().Output(0).dVoltageSetpoint, 1.0);
    pEmulator->ClearLines();
    EXPECT_TRUE(pEmulator->Lines().empty());
    EXPECT_FALSE(pEmulator->WaitForLines(1, 20ms));
}

TEST(EmulatorFaults, FixedReplyAnswersEverySpellingOfTheQuery) {
    auto pEmulator = StartEmulator();
    pEmulator->SetFixedReply("*IDN?", "Other,6512,1,2");
    pEmulator->SetFixedReply("MEAS:SCAL:VOLT:DC?", "12.5");
    TestClient client(pEmulator->Port());
    EXPECT_EQ(client.Query("*IDN?"), "Other,6512,1,2");
    EXPECT_EQ(client.Query("*idn?"), "Other,6512,1,2");
    EXPECT_EQ(client.Query("MEAS:VOLT?"), "12.5");
    EXPECT_EQ(client.Query("measure:scalar:voltage:dc?"), "12.5");
    EXPECT_EQ(client.Query("MEAS:CURR?"), "+0.000000E+00");
    pEmulator->SetFixedReply("VEND:INFO?", "42");  // a header the instrument lacks
    EXPECT_EQ(client.Query("vend:info?"), "42");
    EXPECT_EQ(client.Query("SYST:ERR?"), kNoError);
    pEmulator->ClearFaults();
    client.Write("VEND:INFO?");
    EXPECT_EQ(client.Query("SYST:ERR?"), "-113,\"Undefined header\"");
    EXPECT_EQ(client.Query("*IDN?"), "Norvale,6313,SN000001,1.02");
}

TEST(EmulatorFaults, NoReplyGarbledAndOversizedReplies) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    pEmulator->SetNoReply("*OPC?");
    client.Write("*OPC?");
    EXPECT_FALSE(client.ReadLine(100ms).has_value());
    EXPECT_EQ(client.Query("*TST?"), "0");

    pEmulator->SetGarbledReply("*TST?");
    std::string strGarbled = client.Query("*TST?");
    EXPECT_NE(strGarbled, "0");
    EXPECT_NE(strGarbled.find('\xff'), std::string::npos);

    pEmulator->SetOversizedReply("SYST:VERS?", 100000);
    std::string strBig = client.Query("SYST:VERS?");
    EXPECT_EQ(strBig.size(), 100000U);
    EXPECT_EQ(client.Query("SYST:ERR?"), kNoError);
}

TEST(EmulatorFaults, SplitRepliesArriveInSmallPackets) {
    auto pEmulator = StartEmulator();
    pEmulator->SetSplitReplies(3);
    TestClient client(pEmulator->Port());
    EXPECT_EQ(client.Query("*IDN?"), "Norvale,6313,SN000001,1.02");
    EXPECT_GT(client.ReadCalls(), 3U);
}

TEST(EmulatorFaults, ReplyDelayHoldsTheReplyAndNewInputInterruptsIt) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Query("*ESR?");
    pEmulator->SetReplyDelay(120ms);
    auto tpStart = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Query("*OPC?"), "1");
    EXPECT_GE(std::chrono::steady_clock::now() - tpStart, 120ms);

    pEmulator->SetReplyDelay(400ms);
    client.Write("*IDN?");
    std::this_thread::sleep_for(30ms);
    client.Write("VOLT 1");  // before the reply went out
    EXPECT_FALSE(client.ReadLine(500ms).has_value());
    pEmulator->SetReplyDelay(0ms);
    EXPECT_EQ(client.Query("SYST:ERR?"), "-410,\"Query INTERRUPTED\"");
    EXPECT_EQ(client.Query("*ESR?"), "4");
}

TEST(EmulatorFaults, UnterminatedQueryAtCloseIsAQueryError) {
    auto pEmulator = StartEmulator();
    TestClient observer(pEmulator->Port());
    observer.Query("*ESR?");
    {
        TestClient client(pEmulator->Port());
        client.WriteRaw("*IDN?");
        client.ShutdownWrite();
        EXPECT_TRUE(client.WaitClosed());
    }
    EXPECT_EQ(observer.Query("SYST:ERR?"), "-420,\"Query UNTERMINATED\"");
    EXPECT_EQ(observer.Query("*ESR?"), "4");
}

TEST(EmulatorFaults, CloseAfterMessagesDropsTheConnection) {
    auto pEmulator = StartEmulator();
    pEmulator->CloseAfterMessages(2);
    TestClient client(pEmulator->Port());
    EXPECT_EQ(client.Query("*OPC?"), "1");
    EXPECT_EQ(client.Query("*OPC?"), "1");
    client.Write("*IDN?");
    EXPECT_TRUE(client.WaitClosed());
    EXPECT_EQ(pEmulator->Lines().size(), 3U);
    TestClient second(pEmulator->Port());
    EXPECT_EQ(second.Query("*OPC?"), "1");
}

TEST(EmulatorFaults, InjectedStatusBitsAndErrorsAreReported) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.Query("*ESR?");
    pEmulator->SetStatusBits(32);
    EXPECT_EQ(client.Query("*ESR?"), "32");
    pEmulator->PushError(-300, "Device-specific error;calibration lost");
    EXPECT_EQ(pEmulator->Snapshot().nStandardEventStatus, 8);
    EXPECT_EQ(pEmulator->Snapshot().vecErrors.size(), 1U);
    EXPECT_EQ(client.Query("SYST:ERR?"), "-300,\"Device-specific error;calibration lost\"");
}

TEST(EmulatorServer, OverlongInputIsDiscardedAsBufferOverrun) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    client.WriteRaw(std::string(1200000, 'A'));
    client.Write("");
    EXPECT_EQ(client.Query("SYST:ERR?"), "-363,\"Input buffer overrun\"");
}

TEST(EmulatorServer, StopClosesClientsAndABusyPortIsRefused) {
    auto pEmulator = StartEmulator();
    TestClient client(pEmulator->Port());
    EXPECT_EQ(client.Query("*OPC?"), "1");
    emu::EmulatorOptions options;
    options.nPort = pEmulator->Port();
    emu::Emulator second(options);
    EXPECT_THROW(second.Start(), std::runtime_error);
    auto tpStart = std::chrono::steady_clock::now();
    pEmulator->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - tpStart, 2000ms);
    EXPECT_TRUE(client.WaitClosed());
}

TEST(EmulatorServer, StopDoesNotWaitForAClientThatNeverReads) {
    auto pEmulator = StartEmulator();
    pEmulator->SetOversizedReply("*IDN?", 16 << 20);
    TestClient client(pEmulator->Port());
    client.Write("*IDN?");
    std::this_thread::sleep_for(300ms);  // the reply fills the socket buffers
    auto tpStart = std::chrono::steady_clock::now();
    pEmulator->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - tpStart, 2000ms);
}

TEST(EmulatorServer, PseudoTerminalServesAsASerialInstrument) {
    emu::EmulatorOptions options;
    options.bSerialPty = true;
    options.bTcp = false;
    emu::Emulator emulator(options);
    emulator.Start();
    ASSERT_FALSE(emulator.SerialDevice().empty());
    EXPECT_EQ(emulator.SerialResource(), "ASRL" + emulator.SerialDevice() + "::INSTR");
    int fd = ::open(emulator.SerialDevice().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios settings{};
    ASSERT_EQ(::tcgetattr(fd, &settings), 0);
    ::cfmakeraw(&settings);
    ::tcsetattr(fd, TCSANOW, &settings);
    std::string strQuery = "*IDN?\r\n";
    ASSERT_EQ(::write(fd, strQuery.data(), strQuery.size()), static_cast<ssize_t>(strQuery.size()));
    std::string strReply;
    auto tpDeadline = std::chrono::steady_clock::now() + 3000ms;
    while (strReply.find('\n') == std::string::npos &&
           std::chrono::steady_clock::now() < tpDeadline) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 100) > 0) {
            char achChunk[256];
            ssize_t n = ::read(fd, achChunk, sizeof achChunk);
            if (n > 0) {
                strReply.append(achChunk, static_cast<size_t>(n));
            }
        }
    }
    ::close(fd);
    EXPECT_EQ(strReply, "Norvale,6313,SN000001,1.02\n");
    EXPECT_EQ(emulator.Lines(), (Lines{"*IDN?\r"}));
}

}  // namespace
