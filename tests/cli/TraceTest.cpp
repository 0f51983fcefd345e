// tarvek trace: a session's exchange with the emulator as it went over the
// wire, a process's trace file followed as it grows, and the command lines
// it refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "Emulator.h"

namespace {

using clitest::CliResult;
using Lines = std::vector<std::string>;

using clitest::Describe;
using clitest::kExitUsage;
using clitest::Tarvek;

Lines SplitLines(const std::string& strText) {
    Lines vecLines;
    std::istringstream stream(strText);
    for (std::string strLine; std::getline(stream, strLine);) {
        vecLines.push_back(strLine);
    }
    return vecLines;
}

class TracePath {
  public:
    TracePath() {
        char szPath[] = "/tmp/tarvek-trace-XXXXXX";
        const int fd = mkstemp(szPath);
        close(fd);
        m_strPath = szPath;
    }
    ~TracePath() { std::filesystem::remove(m_strPath); }
    const std::string& Path() const { return m_strPath; }
    void Append(const std::string& strText) const {
        std::ofstream(m_strPath, std::ios::app) << strText;
    }

  private:
    std::string m_strPath;
};

// Two lines of the trace format with known times and every kind of byte.
const char kFileLines[] =
    "1796671464.000042 0x00001002 write viWrite 0x00000000 \"*IDN?\\n\"\n"
    "1796671464.500000 0x00001002 read viRead 0xBFFF0015 \"\\x00\\xFFq\\\"\\\\\\r\"\n";

class TraceTest : public ::testing::Test {
  protected:
    void SetUp() override { m_emulator.Start(); }
    emu::Emulator m_emulator;
};

TEST_F(TraceTest, ShowsTheExchangeOfAResource) {
    const CliResult result = Tarvek({"trace", m_emulator.Resource()});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    const Lines vecLines = SplitLines(result.strOut);
    ASSERT_EQ(vecLines.size(), 2u) << result.strOut;
    const std::string strStamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}Z 0x[0-9A-F]{8} )";
    EXPECT_TRUE(
        std::regex_match(vecLines[0], std::regex(strStamp + R"(write viWrite "\*IDN\?\\n")")))
        << vecLines[0];
    EXPECT_TRUE(std::regex_match(
        vecLines[1],
        std::regex(strStamp +
                   R"(read  viRead "Norvale,6313,SN000001,1\.02\\n"  status 0x3FFF0005)")))
        << vecLines[1];
}

TEST_F(TraceTest, JsonHasTheBytesTheInstrumentReceived) {
    const CliResult result =
        Tarvek({"trace", m_emulator.Resource(), "--scpi", "SOUR:VOLT 1.5", "--json"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    // The session's identity query, then the traced write. A write does not
    // wait for the instrument to read it: the program may be gone before the
    // emulator has taken the line.
    EXPECT_TRUE(m_emulator.WaitForLines(2, std::chrono::seconds(5)));
    EXPECT_EQ(m_emulator.Lines(), (Lines{"*IDN?", "SOUR:VOLT 1.5"}));
    EXPECT_TRUE(std::regex_match(
        result.strOut,
        std::regex(R"(\{"time":\d+\.\d{6},"session":\d+,"direction":"write","call":"viWrite",)"
                   R"("status":0,"data":"SOUR:VOLT 1\.5\\n"\}\n)")))
        << result.strOut;
}

TEST_F(TraceTest, FollowsTheFileAProgramWrites) {
    const TracePath file;
    const CliResult scpi = Tarvek({"scpi", m_emulator.Resource(), "SOUR:VOLT 2"},
                                  {"TKVISA_TRACE_FILE=" + file.Path()});
    ASSERT_EQ(scpi.nExit, 0) << Describe(scpi);
    const CliResult result = Tarvek({"trace", "--follow", file.Path(), "--json", "--count", "100"},
                                    {}, [&](const std::string& strOut, pid_t pid) {
                                        if (strOut.find("\"viClose\"") != std::string::npos) {
                                            ::kill(pid, SIGINT);
                                        }
                                    });
    EXPECT_EQ(result.nExit, 130) << Describe(result);
    std::string strWritten;
    for (const std::string& strLine : SplitLines(result.strOut)) {
        std::smatch match;
        if (std::regex_search(strLine, match,
                              std::regex(R"re("direction":"write".*"data":"(.*)"\}$)re"))) {
            strWritten += std::regex_replace(match[1].str(), std::regex(R"(\\n)"), "\n");
        }
    }
    const auto nWrittenLines =
        static_cast<std::size_t>(std::count(strWritten.begin(), strWritten.end(), '\n'));
    EXPECT_TRUE(m_emulator.WaitForLines(nWrittenLines, std::chrono::seconds(5)));
    std::string strReceived;
    for (const std::string& strLine : m_emulator.Lines()) {
        strReceived += strLine + "\n";
    }
    EXPECT_EQ(strWritten, strReceived);
}

TEST(TraceFollow, PrintsTheLinesThereAndThoseAppended) {
    const TracePath file;
    file.Append(kFileLines);
    bool bAppended = false;
    const CliResult result =
        Tarvek({"trace", "--follow", file.Path(), "--count", "3"}, {},
               [&](const std::string& strOut, pid_t) {
                   if (!bAppended && SplitLines(strOut).size() == 2) {
                       bAppended = true;
                       // Half a line first: nothing may print until its end.
                       file.Append("1796671465.000000 0x00001003 event viClear 0x00000000 \"dev");
                       file.Append("ice clear\"\n");
                   }
               });
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(SplitLines(result.strOut),
              (Lines{R"(2026-12-07 19:24:24.000042Z 0x00001002 write viWrite "*IDN?\n")",
                     R"(2026-12-07 19:24:24.500000Z 0x00001002 read  viRead "\x00\xFFq\"\\\r")"
                     "  status 0xBFFF0015",
                     R"(2026-12-07 19:24:25.000000Z 0x00001003 event viClear "device clear")"}));
}

TEST(TraceFollow, JsonKeepsEveryByteAndSkipsWhatIsNotATraceLine) {
    const TracePath file;
    file.Append(std::string("not a trace line\n") + kFileLines);
    const CliResult result = Tarvek({"trace", "--follow", file.Path(), "--count", "2", "--json"});
    ASSERT_EQ(result.nExit, 0) << Describe(result);
    EXPECT_EQ(SplitLines(result.strOut),
              (Lines{R"({"time":1796671464.000042,"session":4098,"direction":"write",)"
                     R"("call":"viWrite","status":0,"data":"*IDN?\n"})",
                     R"({"time":1796671464.500000,"session":4098,"direction":"read",)"
                     R"("call":"viRead","status":-1073807339,"data":"\u0000\u00ffq\"\\\r"})"}));
    EXPECT_NE(result.strErr.find("not a trace line"), std::string::npos) << result.strErr;
}

TEST_F(TraceTest, RefusesCommandLinesItCannotCarryOut) {
    const std::string strResource = m_emulator.Resource();
    const std::vector<std::vector<std::string>> cases = {
        {"trace"},
        {"trace", strResource, "--follow", "/tmp/x"},
        {"trace", "--follow", "/tmp/x", "--scpi", "*IDN?"},
        {"trace", strResource, "--count", "0"},
        {"trace", strResource, "--count", "many"},
        {"trace", strResource, "--simulate"},
        {"trace", strResource, "--scpi", "*IDN?\n*RST"},
        {"trace", strResource, "--scpi", ""},
    };
    for (const auto& vecArgs : cases) {
        SCOPED_TRACE(vecArgs.size() > 2 ? vecArgs[2] + " " + vecArgs.back() : "no arguments");
        const CliResult result = Tarvek(vecArgs);
        EXPECT_EQ(result.nExit, kExitUsage) << Describe(result);
        EXPECT_NE(result.strErr.find("tarvek"), std::string::npos) << result.strErr;
    }
}

}  // namespace
