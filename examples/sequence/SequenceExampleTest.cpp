// Runs the sequence example against a three-output and a one-output emulator.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "Emulator.h"

namespace {

bool Received(const emu::Emulator& emulator, const std::string& strLine) {
    const std::vector<std::string> lines = emulator.Lines();
    return std::find(lines.begin(), lines.end(), strLine) != lines.end();
}

TEST(SequenceExample, RunsOnBothFamilies) {
    emu::EmulatorOptions options6310;
    options6310.strModel = "6313";
    emu::EmulatorOptions options6510;
    options6510.strModel = "6513";
    emu::Emulator emulator6310(options6310);
    emu::Emulator emulator6510(options6510);
    emulator6310.Start();
    emulator6510.Start();

    const std::string strCommand = std::string("\"") + TARVEK_SEQUENCE_PATH + "\" \"" +
                                   emulator6310.Resource() + "\" \"" + emulator6510.Resource() +
                                   "\"";
    const int nResult = std::system(strCommand.c_str());
    ASSERT_TRUE(WIFEXITED(nResult));
    EXPECT_EQ(WEXITSTATUS(nResult), 0);

    // The three outputs were addressed, a list ran and was aborted; the
    // battery test ran on the one-output supply only.
    for (const char* pLine : {"INST:SEL 0", "INST:SEL 1", "INST:SEL 2", "OUTP:MODE LIST,1",
                              "INIT:IMM 0", "*TRG", "ABOR 0", "OUTP:PROT:CLE"}) {
        EXPECT_TRUE(Received(emulator6310, pLine)) << pLine;
    }
    EXPECT_FALSE(Received(emulator6310, "BATT:MOD:STAT 1"));
    for (const char* pLine : {"BATT:MOD:STAT 1", "BATT:MOD:STAT 0", "INIT:IMM 0", "ABOR"}) {
        EXPECT_TRUE(Received(emulator6510, pLine)) << pLine;
    }
    EXPECT_FALSE(Received(emulator6510, "INST:SEL 0"));
}

}  // namespace
