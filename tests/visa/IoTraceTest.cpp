// The I/O trace of VISA sessions against the emulator: the bytes it shows are
// the bytes the instrument received and sent, it stays off until asked, the
// ring keeps the newest entries, each session has its own, the process-wide
// file (TKVISA_TRACE_FILE, in a child process) gets every session's, and bad
// arguments get a status.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "IoTrace.h"
#include "visa.h"

extern char** environ;

namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

struct Entry {
    std::string strTime;
    unsigned nSession = 0;
    std::string strDirection;
    std::string strCall;
    unsigned nStatus = 0;
    std::string strData;
};

// Reads the data field back into bytes; false when it is not well formed.
// A decoder of its own, written from the format IoTrace.h describes rather
// than the reader of `tarvek trace` (tools/cli/Trace.cpp): a mistake made
// alike in a shared reader and the writer would read back as the right bytes.
bool Unescape(const std::string& strQuoted, std::string& strData) {
    if (strQuoted.size() < 2 || strQuoted.front() != '"' || strQuoted.back() != '"') {
        return false;
    }
    strData.clear();
    for (std::size_t i = 1; i + 1 < strQuoted.size(); ++i) {
        const char c = strQuoted[i];
        if (c != '\\') {
            strData += c;
            continue;
        }
        if (++i + 1 >= strQuoted.size()) {
            return false;
        }
        switch (strQuoted[i]) {
            case 'n':
                strData += '\n';
                break;
            case 'r':
                strData += '\r';
                break;
            case 't':
                strData += '\t';
                break;
            case '\\':
            case '"':
                strData += strQuoted[i];
                break;
            case 'x':
                if (i + 3 > strQuoted.size() - 1) {
                    return false;
                }
                strData += static_cast<char>(std::stoi(strQuoted.substr(i + 1, 2), nullptr, 16));
                i += 2;
                break;
            default:
                return false;
        }
    }
    return true;
}

std::vector<Entry> Parse(const std::string& strText) {
    std::vector<Entry> vecEntries;
    std::istringstream stream(strText);
    std::string strLine;
    while (std::getline(stream, strLine)) {
        std::istringstream line(strLine);
        Entry entry;
        std::string strSession, strStatus;
        line >> entry.strTime >> strSession >> entry.strDirection >> entry.strCall >> strStatus;
        std::string strRest;
        std::getline(line, strRest);
        EXPECT_FALSE(strRest.empty()) << strLine;
        if (!strRest.empty()) {
            strRest.erase(0, 1);
        }
        EXPECT_TRUE(Unescape(strRest, entry.strData)) << strLine;
        entry.nSession = static_cast<unsigned>(std::stoul(strSession, nullptr, 16));
        entry.nStatus = static_cast<unsigned>(std::stoul(strStatus, nullptr, 16));
        vecEntries.push_back(entry);
    }
    return vecEntries;
}

// The ring's text; asked again when another thread's call made it longer
// between asking its size and reading it.
std::string ReadTrace(ViSession vi) {
    for (;;) {
        ViUInt32 nNeeded = 0;
        EXPECT_EQ(viTkReadTrace(vi, nullptr, 0, &nNeeded), VI_SUCCESS);
        std::string strText(nNeeded, '\0');
        const ViStatus status = viTkReadTrace(vi, strText.data(), nNeeded, &nNeeded);
        if (status == VI_ERROR_INV_LENGTH) {
            continue;
        }
        EXPECT_EQ(status, VI_SUCCESS);
        strText.resize(status == VI_SUCCESS && nNeeded > 0 ? nNeeded - 1 : 0);
        return strText;
    }
}

std::vector<Entry> Entries(ViSession vi) {
    return Parse(ReadTrace(vi));
}

ViUInt32 Attribute(ViSession vi, ViAttr nAttribute) {
    ViUInt32 nValue = 0xDEAD;
    EXPECT_EQ(viGetAttribute(vi, nAttribute, &nValue), VI_SUCCESS);
    return nValue;
}

// The data of the entries in one direction, joined.
std::string Joined(const std::vector<Entry>& vecEntries, const std::string& strDirection) {
    std::string strData;
    for (const Entry& entry : vecEntries) {
        if (entry.strDirection == strDirection) {
            strData += entry.strData;
        }
    }
    return strData;
}

class IoTraceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_emulator.Start();
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
        m_vi = Open();
    }
    void TearDown() override { viClose(m_rm); }

    ViSession Open(const std::string& strResource = "") {
        ViSession vi = VI_NULL;
        const std::string strName = strResource.empty() ? m_emulator.Resource() : strResource;
        EXPECT_EQ(viOpen(m_rm, strName.c_str(), VI_NO_LOCK, 2000, &vi), VI_SUCCESS);
        EXPECT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
        return vi;
    }

    std::string Identity(ViSession vi = VI_NULL) {
        char szReply[256] = {};
        EXPECT_EQ(viQueryf(vi == VI_NULL ? m_vi : vi, "*IDN?\n", "%255t", szReply), VI_SUCCESS);
        return szReply;
    }

    static emu::EmulatorOptions WithHislip() {
        emu::EmulatorOptions options;
        options.bHislip = true;
        options.nHislipPort = 0;
        return options;
    }

    emu::Emulator m_emulator{WithHislip()};
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
};

TEST_F(IoTraceTest, IsOffUntilSwitchedOn) {
    Identity();
    ViBoolean bEnabled = VI_TRUE;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_EN, &bEnabled), VI_SUCCESS);
    EXPECT_EQ(bEnabled, VI_FALSE);
    EXPECT_EQ(Attribute(m_vi, VI_ATTR_TKVISA_TRACE_COUNT), 0u);
    EXPECT_EQ(Attribute(m_vi, VI_ATTR_TKVISA_TRACE_CAPACITY), tkvisa::kDefaultTraceCapacity);
    EXPECT_EQ(ReadTrace(m_vi), "");
}

// Over a raw socket and over HiSLIP, whose message headers stay out of the
// trace: only the data the instrument received and sent is in it.
TEST_F(IoTraceTest, ShowsExactlyTheBytesTheInstrumentReceivedAndSent) {
    for (const std::string& strResource : {m_emulator.Resource(), m_emulator.HislipResource()}) {
        SCOPED_TRACE(strResource);
        const ViSession vi = Open(strResource);
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TKVISA_TRACE_EN, VI_TRUE), VI_SUCCESS);
        m_emulator.ClearLines();
        const std::string strIdentity = Identity(vi);
        ASSERT_EQ(viPrintf(vi, "SOUR:VOLT %.3f\n", 1.5), VI_SUCCESS);
        const char szRaw[] = "SYST:ERR?\n";
        ViUInt32 nCount = 0;
        ASSERT_EQ(viWrite(vi, reinterpret_cast<ViConstBuf>(szRaw), sizeof szRaw - 1, &nCount),
                  VI_SUCCESS);
        char szError[256] = {};
        ASSERT_EQ(viScanf(vi, "%255t", szError), VI_SUCCESS);
        ASSERT_TRUE(m_emulator.WaitForLines(3, 2s));

        const std::vector<Entry> vecEntries = Entries(vi);
        std::string strReceived;
        for (const std::string& strLine : m_emulator.Lines()) {
            strReceived += strLine + "\n";
        }
        EXPECT_EQ(Joined(vecEntries, "write"), strReceived);
        EXPECT_EQ(Joined(vecEntries, "read"), strIdentity + szError);

        struct Expected {
            const char* pszDirection;
            const char* pszCall;
            std::string strData;
        };
        const std::vector<Expected> vecExpected = {
            {"write", "viQueryf", "*IDN?\n"},
            {"read", "viQueryf", strIdentity},
            {"write", "viPrintf", "SOUR:VOLT 1.500\n"},
            {"write", "viWrite", szRaw},
            {"read", "viScanf", szError},
        };
        ASSERT_EQ(vecEntries.size(), vecExpected.size()) << ReadTrace(vi);
        for (std::size_t i = 0; i < vecExpected.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(vecEntries[i].strDirection, vecExpected[i].pszDirection);
            EXPECT_EQ(vecEntries[i].strCall, vecExpected[i].pszCall);
            EXPECT_EQ(vecEntries[i].strData, vecExpected[i].strData);
            EXPECT_EQ(vecEntries[i].nStatus, static_cast<unsigned>(VI_SUCCESS));
            EXPECT_EQ(vecEntries[i].nSession, vi);
        }
    }
}

TEST_F(IoTraceTest, EntersAFailedCallWithItsStatus) {
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_EN, VI_TRUE), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 200), VI_SUCCESS);
    m_emulator.SetNoReply("*IDN?");
    char szReply[256] = {};
    ASSERT_EQ(viQueryf(m_vi, "*IDN?\n", "%255t", szReply), VI_ERROR_TMO);
    ASSERT_EQ(viClear(m_vi), VI_SUCCESS);

    const std::vector<Entry> vecEntries = Entries(m_vi);
    ASSERT_EQ(vecEntries.size(), 3u) << ReadTrace(m_vi);
    EXPECT_EQ(vecEntries[0].strDirection, "write");
    EXPECT_EQ(vecEntries[0].nStatus, static_cast<unsigned>(VI_ERROR_TMO));
    EXPECT_EQ(vecEntries[1].strDirection, "read");
    EXPECT_EQ(vecEntries[1].strData, "");
    EXPECT_EQ(vecEntries[1].nStatus, static_cast<unsigned>(VI_ERROR_TMO));
    EXPECT_EQ(vecEntries[2].strDirection, "event");
    EXPECT_EQ(vecEntries[2].strCall, "viClear");
    EXPECT_EQ(vecEntries[2].strData, "device clear");
}

// The device operations of a link that has them are events, named by what
// happened; the status byte is the one the call returned.
TEST_F(IoTraceTest, EntersDeviceOperationsAsEvents) {
    const ViSession vi = Open(m_emulator.HislipResource());
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TKVISA_TRACE_EN, VI_TRUE), VI_SUCCESS);
    ViUInt16 nStatusByte = 0xFFFF;
    ASSERT_EQ(viReadSTB(vi, &nStatusByte), VI_SUCCESS);
    ASSERT_EQ(viAssertTrigger(vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
    ASSERT_EQ(viClear(vi), VI_SUCCESS);

    const std::vector<Entry> vecEntries = Entries(vi);
    const std::vector<std::pair<std::string, std::string>> vecExpected = {
        {"viReadSTB", "status byte " + std::to_string(nStatusByte)},
        {"viAssertTrigger", "trigger"},
        {"viClear", "device clear"},
    };
    ASSERT_EQ(vecEntries.size(), vecExpected.size()) << ReadTrace(vi);
    for (std::size_t i = 0; i < vecExpected.size(); ++i) {
        SCOPED_TRACE(vecExpected[i].first);
        EXPECT_EQ(vecEntries[i].strDirection, "event");
        EXPECT_EQ(vecEntries[i].strCall, vecExpected[i].first);
        EXPECT_EQ(vecEntries[i].strData, vecExpected[i].second);
        EXPECT_EQ(vecEntries[i].nStatus, static_cast<unsigned>(VI_SUCCESS));
    }
}

TEST_F(IoTraceTest, RingDropsTheOldestAndCountsThem) {
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_CAPACITY, 3), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_EN, VI_TRUE), VI_SUCCESS);
    for (int n = 1; n <= 5; ++n) {
        ASSERT_EQ(viPrintf(m_vi, "SOUR:VOLT %d\n", n), VI_SUCCESS);
    }
    EXPECT_EQ(Attribute(m_vi, VI_ATTR_TKVISA_TRACE_COUNT), 3u);
    EXPECT_EQ(Attribute(m_vi, VI_ATTR_TKVISA_TRACE_DROPPED), 2u);
    const std::vector<Entry> vecEntries = Entries(m_vi);
    ASSERT_EQ(vecEntries.size(), 3u);
    EXPECT_EQ(vecEntries[0].strData, "SOUR:VOLT 3\n");
    EXPECT_EQ(vecEntries[2].strData, "SOUR:VOLT 5\n");

    // A smaller capacity drops more at once; clearing zeroes both counts.
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_CAPACITY, 1), VI_SUCCESS);
    EXPECT_EQ(Attribute(m_vi, VI_ATTR_TKVISA_TRACE_DROPPED), 4u);
    EXPECT_EQ(Entries(m_vi).at(0).strData, "SOUR:VOLT 5\n");
    ASSERT_EQ(viTkClearTrace(m_vi), VI_SUCCESS);
    EXPECT_EQ(Attribute(m_vi, VI_ATTR_TKVISA_TRACE_COUNT), 0u);
    EXPECT_EQ(Attribute(m_vi, VI_ATTR_TKVISA_TRACE_DROPPED), 0u);
}

TEST_F(IoTraceTest, EachSessionIsSwitchedOnItsOwn) {
    const ViSession viOther = Open();
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_EN, VI_TRUE), VI_SUCCESS);
    ASSERT_EQ(viPrintf(viOther, "SOUR:VOLT 2\n"), VI_SUCCESS);
    ASSERT_EQ(viPrintf(m_vi, "SOUR:VOLT 1\n"), VI_SUCCESS);
    EXPECT_EQ(Entries(viOther).size(), 0u);
    ASSERT_EQ(Entries(m_vi).size(), 1u);

    // Switched off, the session keeps what it recorded and records no more.
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_EN, VI_FALSE), VI_SUCCESS);
    ASSERT_EQ(viPrintf(m_vi, "SOUR:VOLT 3\n"), VI_SUCCESS);
    const std::vector<Entry> vecEntries = Entries(m_vi);
    ASSERT_EQ(vecEntries.size(), 1u);
    EXPECT_EQ(vecEntries[0].strData, "SOUR:VOLT 1\n");
}

TEST_F(IoTraceTest, BadArgumentsGetAStatus) {
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_EN, VI_TRUE), VI_SUCCESS);
    Identity();
    ViUInt32 nNeeded = 0;
    ASSERT_EQ(viTkReadTrace(m_vi, nullptr, 0, &nNeeded), VI_SUCCESS);
    ASSERT_GT(nNeeded, 1u);
    std::vector<ViChar> vecSmall(nNeeded - 1, 'x');

    struct Case {
        const char* pszName;
        ViStatus status;
        ViStatus expected;
    };
    ViUInt32 nNeededAgain = 0;
    const Case cases[] = {
        {"null buffer with a size", viTkReadTrace(m_vi, nullptr, 10, &nNeededAgain),
         VI_ERROR_USER_BUF},
        {"null buffer and no size out", viTkReadTrace(m_vi, nullptr, 0, nullptr),
         VI_ERROR_USER_BUF},
        {"buffer one byte short", viTkReadTrace(m_vi, vecSmall.data(), nNeeded - 1, &nNeededAgain),
         VI_ERROR_INV_LENGTH},
        {"resource manager", viTkReadTrace(m_rm, vecSmall.data(), 1, nullptr), VI_ERROR_NSUP_OPER},
        {"stale handle", viTkReadTrace(0x7FFFFF, vecSmall.data(), 1, nullptr), VI_ERROR_INV_OBJECT},
        {"clear on resource manager", viTkClearTrace(m_rm), VI_ERROR_NSUP_OPER},
        {"clear on stale handle", viTkClearTrace(0x7FFFFF), VI_ERROR_INV_OBJECT},
        {"capacity 0", viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_CAPACITY, 0),
         VI_ERROR_NSUP_ATTR_STATE},
        {"capacity too large",
         viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_CAPACITY, tkvisa::kMaxTraceCapacity + 1),
         VI_ERROR_NSUP_ATTR_STATE},
        {"enable not boolean", viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_EN, 2),
         VI_ERROR_NSUP_ATTR_STATE},
        {"count is read-only", viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_COUNT, 1),
         VI_ERROR_ATTR_READONLY},
        {"dropped is read-only", viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_DROPPED, 1),
         VI_ERROR_ATTR_READONLY},
        {"attribute on resource manager", viSetAttribute(m_rm, VI_ATTR_TKVISA_TRACE_EN, VI_TRUE),
         VI_ERROR_NSUP_ATTR},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.pszName);
        EXPECT_EQ(row.status, row.expected);
    }
    // The short buffer says what it needs and holds an empty string.
    EXPECT_EQ(nNeededAgain, nNeeded);
    EXPECT_EQ(vecSmall[0], '\0');
    // Nothing of that changed the ring or the switch.
    EXPECT_EQ(Entries(m_vi).size(), 2u);
    ViBoolean bEnabled = VI_FALSE;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_EN, &bEnabled), VI_SUCCESS);
    EXPECT_EQ(bEnabled, VI_TRUE);
}

// Queries on one session from several threads while others switch its trace,
// read it and clear it, and a second session traces on its own: every entry
// stays whole (TSan checks the rest).
TEST_F(IoTraceTest, SurvivesConcurrentUse) {
    const ViSession viOther = Open();
    ASSERT_EQ(viSetAttribute(viOther, VI_ATTR_TKVISA_TRACE_EN, VI_TRUE), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_EN, VI_TRUE), VI_SUCCESS);
    std::atomic<bool> bStop{false};
    std::vector<std::thread> vecThreads;
    for (const ViSession vi : {m_vi, m_vi, viOther}) {
        vecThreads.emplace_back([vi] {
            for (int n = 0; n < 40; ++n) {
                char szReply[256] = {};
                EXPECT_EQ(viQueryf(vi, "*IDN?\n", "%255t", szReply), VI_SUCCESS);
            }
        });
    }
    std::thread reader([&] {
        int n = 0;
        while (!bStop) {
            for (const Entry& entry : Entries(m_vi)) {
                EXPECT_TRUE(entry.strData == "*IDN?\n" ||
                            entry.strData == "Norvale,6313,SN000001,1.02\n")
                    << entry.strData;
            }
            viSetAttribute(m_vi, VI_ATTR_TKVISA_TRACE_EN, (++n % 3) != 0 ? VI_TRUE : VI_FALSE);
            if (n % 7 == 0) {
                viTkClearTrace(m_vi);
            }
        }
    });
    for (std::thread& thread : vecThreads) {
        thread.join();
    }
    bStop = true;
    reader.join();
    EXPECT_EQ(Entries(viOther).size(), 80u);
}

// ----- the process-wide trace file, in a child process ----------------------

// What the child does: runs with TKVISA_TRACE_FILE set, from the parent test.
TEST(IoTraceProcessFile, Child) {
    if (std::getenv(tkvisa::kTraceFileVariable) == nullptr) {
        GTEST_SKIP() << "runs only as the child of AppendsEverySessionToTheFileNamed";
    }
    ASSERT_TRUE(tkvisa::ProcessTraceOn());
    emu::Emulator emulator;
    emulator.Start();
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    for (int n = 1; n <= 2; ++n) {
        ViSession vi = VI_NULL;
        ASSERT_EQ(viOpen(rm, emulator.Resource().c_str(), VI_NO_LOCK, 2000, &vi), VI_SUCCESS);
        ASSERT_EQ(viPrintf(vi, "SOUR:VOLT %d\n", n), VI_SUCCESS);
        // The ring stays off: the file does not switch it on.
        EXPECT_EQ(Attribute(vi, VI_ATTR_TKVISA_TRACE_COUNT), 0u);
        ASSERT_EQ(viClose(vi), VI_SUCCESS);
    }
    viClose(rm);
}

TEST(IoTraceProcessFile, AppendsEverySessionToTheFileNamed) {
    char szPath[] = "/tmp/tkvisa-trace-XXXXXX";
    const int fd = ::mkstemp(szPath);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ::unlink(szPath);  // the library creates it
    const std::string strVariable = std::string(tkvisa::kTraceFileVariable) + "=" + szPath;
    std::vector<char*> vecEnvironment;
    for (char** p = environ; *p != nullptr; ++p) {
        vecEnvironment.push_back(*p);
    }
    vecEnvironment.push_back(const_cast<char*>(strVariable.c_str()));
    vecEnvironment.push_back(nullptr);
    std::string strFilter = "--gtest_filter=IoTraceProcessFile.Child";
    char szExe[] = "/proc/self/exe";
    char* argv[] = {szExe, strFilter.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, szExe, nullptr, nullptr, argv, vecEnvironment.data()), 0);
    int nWait = 0;
    ASSERT_EQ(::waitpid(pid, &nWait, 0), pid);
    ASSERT_TRUE(WIFEXITED(nWait) && WEXITSTATUS(nWait) == 0);

    std::ifstream file(szPath);
    std::stringstream stream;
    stream << file.rdbuf();
    ::unlink(szPath);
    const std::vector<Entry> vecEntries = Parse(stream.str());
    ASSERT_EQ(vecEntries.size(), 6u) << stream.str();
    for (int n = 0; n < 2; ++n) {
        SCOPED_TRACE(n);
        const Entry* p = &vecEntries[static_cast<std::size_t>(n) * 3];
        EXPECT_EQ(p[0].strCall, "viOpen");
        EXPECT_EQ(p[0].strDirection, "event");
        EXPECT_EQ(p[0].strData.rfind("open TCPIP", 0), 0u) << p[0].strData;
        EXPECT_EQ(p[1].strCall, "viPrintf");
        EXPECT_EQ(p[1].strData, "SOUR:VOLT " + std::to_string(n + 1) + "\n");
        EXPECT_EQ(p[2].strCall, "viClose");
        EXPECT_EQ(p[0].nSession, p[1].nSession);
        EXPECT_EQ(p[1].nSession, p[2].nSession);
    }
    EXPECT_NE(vecEntries[0].nSession, vecEntries[3].nSession);
}

// ----- the line format --------------------------------------------------------

TEST(IoTraceLine, EscapesEveryByteSoThatItReadsBack) {
    struct Case {
        std::string strData;
        const char* pszQuoted;
    };
    const Case cases[] = {
        {"*IDN?\n", R"("*IDN?\n")"},
        {"a\r\tb", R"("a\r\tb")"},
        {"quote \" and \\", R"("quote \" and \\")"},
        {std::string("\0\x01\x7F\x80\xFF", 5), R"("\x00\x01\x7F\x80\xFF")"},
        {"#15hello", R"("#15hello")"},
        {"", R"("")"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.pszQuoted);
        tkvisa::TraceEntry entry;
        entry.nTimeUs = 1796671464000042;
        entry.nSession = 0x1002;
        entry.eDirection = tkvisa::TraceDirection::Write;
        entry.pszCall = "viWrite";
        entry.status = VI_ERROR_TMO;
        entry.strData = row.strData;
        std::string strLine;
        tkvisa::AppendTraceLine(strLine, entry);
        EXPECT_EQ(strLine, std::string("1796671464.000042 0x00001002 write viWrite 0xBFFF0015 ") +
                               row.pszQuoted + "\n");
        const std::vector<Entry> vecBack = Parse(strLine);
        ASSERT_EQ(vecBack.size(), 1u);
        EXPECT_EQ(vecBack[0].strData, row.strData);
    }
}

}  // namespace
