#include "ScpiParser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace emu::scpi;

int ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ScpiError& error) {
        return error.Code();
    }
    return 0;
}

TEST(ScpiHeader, LongShortAndOptionalFormsMatchOnePattern) {
    struct Row {
        const char* pszPattern;
        std::vector<std::string> vecNodes;
        bool bMatch;
        std::vector<int> vecSuffixes;
    };
    const Row rows[] = {
        {"[SOURce]:VOLTage:PROTection:[LEVel]:[AMPLitude]",
         {"SOUR", "VOLT", "PROT", "LEV", "AMPL"},
         true,
         {}},
        {"[SOURce]:VOLTage:PROTection:[LEVel]:[AMPLitude]",
         {"SOURce", "VOLTage", "PROTection", "LEVel"},
         true,
         {}},
        {"[SOURce]:VOLTage:PROTection:[LEVel]:[AMPLitude]", {"volt", "prot"}, true, {}},
        {"[SOURce]:VOLTage:PROTection:[LEVel]:[AMPLitude]", {"VOLTA", "PROT"}, false, {}},
        {"[SOURce]:VOLTage:PROTection:[LEVel]:[AMPLitude]",
         {"VOLT", "PROT", "AMPL", "LEV"},
         false,
         {}},
        {"[SOURce]:VOLTage:[LEVel]:[IMMediate]:[AMPLitude]", {"VOLT", "PROT"}, false, {}},
        {"STATus:QUEStionable:ISUMmary#:[EVENt]", {"STAT", "QUES", "ISUM2"}, true, {2}},
        {"STATus:QUEStionable:ISUMmary#:[EVENt]", {"STAT", "QUES", "ISUM", "EVEN"}, true, {-1}},
        {"STATus:QUEStionable:ISUMmary#:CONDition",
         {"STAT", "QUES", "ISUMMARY3", "COND"},
         true,
         {3}},
        {"STATus:QUEStionable:[EVENt]", {"STAT", "QUES", "EVEN2"}, false, {}},
        {"[SOURce]:DIGital:PIN#:FUNCtion", {"SOUR", "DIG", "PIN7", "FUNC"}, true, {7}},
        {"INITiate:[IMMediate]:DLOG", {"INIT", "DLOG"}, true, {}},
        {"INITiate:[IMMediate]", {"INIT", "CONT"}, false, {}},
        {"BATTery:CONFigure:SAMPLe", {"BATT", "CONF", "SAMPL"}, true, {}},
        {"BATTery:CONFigure:SAMPLe", {"BATT", "CONF", "SAMP"}, false, {}},
        {"*IDN", {"*IDN"}, true, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pszPattern) + " with " + std::to_string(row.vecNodes.size()) +
                     " nodes, first " + row.vecNodes.front());
        std::vector<int> vecSuffixes;
        EXPECT_EQ(MatchHeader(CompilePattern(row.pszPattern), row.vecNodes, vecSuffixes),
                  row.bMatch);
        if (row.bMatch) {
            EXPECT_EQ(vecSuffixes, row.vecSuffixes);
        }
    }
}

TEST(ScpiHeader, UnitsSplitIntoHeaderAndParameters) {
    ProgramUnit unit;
    ASSERT_TRUE(ParseUnit("  :sour:volt:prot:lev:ampl   5.5  ", unit));
    EXPECT_TRUE(unit.bAbsolute);
    EXPECT_FALSE(unit.bQuery);
    EXPECT_EQ(unit.vecNodes, (std::vector<std::string>{"sour", "volt", "prot", "lev", "ampl"}));
    EXPECT_EQ(unit.strParameters, "5.5");

    ASSERT_TRUE(ParseUnit("*idn?", unit));
    EXPECT_TRUE(unit.bCommon);
    EXPECT_TRUE(unit.bQuery);
    EXPECT_EQ(unit.vecNodes, std::vector<std::string>{"*IDN"});

    EXPECT_FALSE(ParseUnit("   ", unit));
}

TEST(ScpiHeader, MalformedHeadersGiveCommandErrors) {
    const std::pair<const char*, int> rows[] = {
        {"SOUR::VOLT 1", -102}, {"VOLT$ 1", -101},          {"*", -102}, {"*I1DN?", -101},
        {"1VOLT 2", -101},      {"ABCDEFGHIJKLMN 1", -112}, {":", -102},
    };
    for (const auto& [pszText, nCode] : rows) {
        SCOPED_TRACE(pszText);
        ProgramUnit unit;
        EXPECT_EQ(ErrorOf([&, pszText = pszText] { ParseUnit(pszText, unit); }), nCode);
    }
}

TEST(ScpiMessage, SeparatorsInsideQuotesDoNotSplit) {
    EXPECT_EQ(SplitUnits("VOLT 1;CURR 2"), (std::vector<std::string>{"VOLT 1", "CURR 2"}));
    EXPECT_EQ(SplitUnits("SYST:DATE \"a;b\";*OPC?"),
              (std::vector<std::string>{"SYST:DATE \"a;b\"", "*OPC?"}));
    EXPECT_EQ(SplitParameters(" USER , 2 "), (std::vector<std::string>{"USER", "2"}));
    EXPECT_EQ(SplitParameters("'x,y',3"), (std::vector<std::string>{"'x,y'", "3"}));
    EXPECT_TRUE(SplitParameters("   ").empty());
    EXPECT_EQ(ErrorOf([] { SplitParameters("1,,2"); }), -102);
    EXPECT_EQ(ErrorOf([] { SplitUnits("SYST:DATE \"open"); }), -150);
}

TEST(ScpiNumeric, UnitsSuffixesAndKeywordsConvert) {
    struct Row {
        const char* pszText;
        Unit unit;
        double dExpected;
    };
    // Limits 0..6000 with default 1.
    const Row rows[] = {
        {"5", Unit::Volt, 5.0},
        {"+5.25", Unit::Volt, 5.25},
        {"5e-1", Unit::Volt, 0.5},
        {"5 E+1", Unit::Volt, 50.0},
        {"1e-05", Unit::Ampere, 1e-5},
        {"500mV", Unit::Volt, 0.5},
        {"500 MV", Unit::Volt, 0.5},
        {"2V", Unit::Volt, 2.0},
        {"100mA", Unit::Ampere, 0.1},
        {"100 MA", Unit::Ampere, 0.1},
        {"20ms", Unit::Second, 0.02},
        {"1.5 s", Unit::Second, 1.5},
        {"2 V/ms", Unit::VoltPerSecond, 2000.0},
        {"3k", Unit::Volt, 3000.0},
        {"2KV", Unit::Volt, 2000.0},
        {".5", Unit::Volt, 0.5},
        {"MIN", Unit::Volt, 0.0},
        {"maximum", Unit::Volt, 6000.0},
        {"DEF", Unit::Volt, 1.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszText);
        EXPECT_DOUBLE_EQ(ParseReal(row.pszText, row.unit, 0.0, 6000.0, 1.0), row.dExpected);
    }
}

TEST(ScpiNumeric, BadNumbersGiveTheirErrors) {
    const std::pair<const char*, int> rows[] = {
        {"abc", -104}, {"\"5\"", -104}, {"5X", -131},   {"5A", -131},
        {"-1", -222},  {"61", -222},    {"5..2", -121}, {"#", -121},
        {"INF", -222}, {"5 V 3", -121}, {"nan", -104},
    };
    for (const auto& [pszText, nCode] : rows) {
        SCOPED_TRACE(pszText);
        EXPECT_EQ(ErrorOf([pszText = pszText] { ParseReal(pszText, Unit::Volt, 0.0, 60.0, 0.0); }),
                  nCode);
    }
    EXPECT_EQ(ErrorOf([] { ParseReal("5V", Unit::None, 0.0, 60.0, 0.0); }), -138);
}

TEST(ScpiNumeric, IntegersAcceptNonDecimalForms) {
    EXPECT_EQ(ParseInteger("#H20", 0, 255, 0), 32);
    EXPECT_EQ(ParseInteger("#Q17", 0, 255, 0), 15);
    EXPECT_EQ(ParseInteger("#B101", 0, 255, 0), 5);
    EXPECT_EQ(ParseInteger("2.6", 0, 255, 0), 3);
    EXPECT_EQ(ParseInteger("MAX", 0, 255, 0), 255);
    EXPECT_EQ(ErrorOf([] { ParseInteger("256", 0, 255, 0); }), -222);
    EXPECT_EQ(ErrorOf([] { ParseInteger("#HZZ", 0, 255, 0); }), -121);
    EXPECT_EQ(ErrorOf([] { ParseInteger("3V", 0, 255, 0); }), -138);
}

TEST(ScpiCharacterData, BooleansAndChoicesFollowMnemonicRules) {
    const std::pair<const char*, bool> booleans[] = {
        {"ON", true}, {"on", true},   {"1", true}, {"OFF", false},
        {"0", false}, {"0.4", false}, {"2", true},
    };
    for (const auto& [pszText, bExpected] : booleans) {
        SCOPED_TRACE(pszText);
        EXPECT_EQ(ParseBoolean(pszText), bExpected);
    }
    EXPECT_EQ(ErrorOf([] { ParseBoolean("TRUE"); }), -141);

    const std::vector<std::string_view> vecWords = {"OFF", "PARAllel2", "SERIes3", "TRACk2"};
    EXPECT_EQ(ParseChoice("para2", vecWords), 1U);
    EXPECT_EQ(ParseChoice("PARALLEL2", vecWords), 1U);
    EXPECT_EQ(ParseChoice("SERI3", vecWords), 2U);
    EXPECT_EQ(ErrorOf([&] { ParseChoice("PARA", vecWords); }), -141);
    EXPECT_EQ(ErrorOf([&] { ParseChoice("SERI2", vecWords); }), -141);
    EXPECT_EQ(ErrorOf([&] { ParseChoice("'OFF'", vecWords); }), -104);
}

TEST(ScpiText, QuotedStringsAreUnquoted) {
    EXPECT_EQ(ParseText("\"12:00:00\""), "12:00:00");
    EXPECT_EQ(ParseText("'it''s'"), "it's");
    EXPECT_EQ(ParseText("  plain "), "plain");
}

TEST(ScpiReply, RealsUseSevenSignificantDigitsThatScanfReads) {
    EXPECT_EQ(FormatReal(5.0), "+5.000000E+00");
    EXPECT_EQ(FormatReal(-0.0), "+0.000000E+00");
    EXPECT_EQ(FormatReal(0.00125), "+1.250000E-03");
    double dValue = 0.0;
    ASSERT_EQ(std::sscanf(FormatReal(12.5).c_str(), "%lf", &dValue), 1);
    EXPECT_DOUBLE_EQ(dValue, 12.5);
}

TEST(ScpiErrors, NumbersMapToStandardTextsAndEventBits) {
    EXPECT_EQ(ErrorText(-113), "Undefined header");
    EXPECT_EQ(ErrorText(-222), "Data out of range");
    EXPECT_EQ(ErrorText(-410), "Query INTERRUPTED");
    EXPECT_EQ(ErrorText(-420), "Query UNTERMINATED");
    EXPECT_EQ(EsrBitForError(-113), 32);
    EXPECT_EQ(EsrBitForError(-222), 16);
    EXPECT_EQ(EsrBitForError(-310), 8);
    EXPECT_EQ(EsrBitForError(-420), 4);
    EXPECT_EQ(EsrBitForError(7), 8);
}

}  // namespace
