// tarvek store on real store files: what each subcommand prints and writes,
// that the driver opens what `add` wrote, and that a refused edit, a corrupt
// or read-only file and concurrent writers never lose anything.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "CliProcess.h"
#include "Emulator.h"

namespace {

namespace fs = std::filesystem;
using clitest::CliResult;

using clitest::Describe;
using clitest::kExitUsage;
constexpr int kExitFailure = 1;

// A hand-written store with comments and its own layout, which every edit
// must leave exactly as it is.
constexpr const char* kHandWritten = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- The lab's store. -->
<IviConfigurationStore>
	<SoftwareModule name="TARVEK">
		<PhysicalName name="CH1" repCapName="OutputChannel"/>
		<PhysicalName name="CH2" repCapName="OutputChannel"/>
		<PhysicalName name="CH3" repCapName="OutputChannel"/>
	</SoftwareModule>
	<!-- Bench 4 -->
	<HardwareAsset name="Bench4"
	               resourceDescriptor="TCPIP::10.0.0.4::5025::SOCKET"/>
	<DriverSession name="Bench4.Session" softwareModule="TARVEK" hardwareAsset="Bench4">
		<VirtualName name="Out" mapTo="CH"><VirtualRange min="1" max="3"/></VirtualName>
		<DataComponent name="Configurable Initial Settings" type="Structure">
			<DataComponent name="Model" type="String" value="6313"/>
		</DataComponent>
	</DriverSession>
	<LogicalName name="Bench4" driverSession="Bench4.Session"/>
</IviConfigurationStore>
)";

std::string ReadFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char szDir[] = "/tmp/tarvek-store-XXXXXX";
        ASSERT_NE(mkdtemp(szDir), nullptr);
        m_dir = szDir;
        m_store = m_dir / "store.xml";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(m_store, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_dir, ec);
    }

    CliResult Store(std::vector<std::string> vecArgs) {
        vecArgs.insert(vecArgs.begin(), "store");
        return clitest::RunProgram(TARVEK_CLI_PATH, vecArgs,
                                   {"IVI_CONFIG_STORE=" + m_store.string()});
    }
    void Write(const std::string& strText) { std::ofstream(m_store, std::ios::binary) << strText; }

    fs::path m_dir;
    fs::path m_store;
};

TEST_F(StoreTest, AddedNameOpensTheSupplyWithItsSessionSettings) {
    emu::EmulatorOptions options;
    options.strModel = "6313";
    emu::Emulator emulator(options);
    emulator.Start();

    const CliResult add = Store({"add", "Rig", "--resource", emulator.Resource(), "--options",
                                 "Cache=0,QueryInstrStatus=1", "--driver-setup", "Model:6313",
                                 "--virtual", "Motor=CH2", "--virtual", "Logic=CH1,Heater=CH3"});
    ASSERT_EQ(add.nExit, 0) << Describe(add);
    EXPECT_EQ(add.strOut, "Added Rig (" + emulator.Resource() + ") to " + m_store.string() + ".\n");
    const std::string strFile = ReadFile(m_store);
    for (const std::string& strLine :
         {std::string("  <SoftwareModule name=\"TARVEK\" description=\"IVI-C Driver for 631X "
                      "and 651X Series DC Power Supplies\">\n"),
          "  <HardwareAsset name=\"Rig\" resourceDescriptor=\"" + emulator.Resource() + "\" />\n",
          std::string("  <DriverSession name=\"Rig\" softwareModule=\"TARVEK\" "
                      "hardwareAsset=\"Rig\" cache=\"false\" queryInstrStatus=\"true\" "
                      "driverSetup=\"Model:6313\">\n"),
          std::string("    <VirtualName name=\"Heater\" mapTo=\"CH3\" />\n"),
          std::string("  <LogicalName name=\"Rig\" driverSession=\"Rig\" />\n")}) {
        EXPECT_NE(strFile.find(strLine), std::string::npos) << strLine << "\nin\n" << strFile;
    }

    const CliResult list = Store({"list"});
    EXPECT_EQ(list.nExit, 0) << Describe(list);
    EXPECT_EQ(list.strOut, "Rig                  " + emulator.Resource() + "\n");
    const CliResult show = Store({"show", "Rig"});
    EXPECT_EQ(show.nExit, 0) << Describe(show);
    EXPECT_NE(show.strOut.find("Options:         Cache=0,InterchangeCheck=0,QueryInstrStatus=1,"
                               "RangeCheck=1,RecordCoercions=0,Simulate=0\n"),
              std::string::npos)
        << show.strOut;
    EXPECT_NE(show.strOut.find("Virtual names:   Motor=CH2, Logic=CH1, Heater=CH3\n"),
              std::string::npos);
    const CliResult check = Store({"check"});
    EXPECT_EQ(check.nExit, 0) << Describe(check);

    // The driver reads what was written: the logical name, the session's
    // QueryInstrStatus and the virtual channel name all take effect.
    const CliResult set = clitest::RunProgram(
        TARVEK_CLI_PATH, {"set", "Rig", "voltage_level", "5", "--channel", "Motor"},
        {"IVI_CONFIG_STORE=" + m_store.string()});
    ASSERT_EQ(set.nExit, 0) << Describe(set);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (emulator.ConnectionCount() != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Motor is CH2, the instrument's channel 1; QueryInstrStatus adds *ESR?.
    EXPECT_EQ(emulator.Lines(),
              (std::vector<std::string>{"*CLS", "*ESR?", "*IDN?", "*ESR?", "INST:SEL 1", "*ESR?",
                                        "SOUR:VOLT:LEV:IMM:AMPL 5", "*ESR?"}));

    const CliResult remove = Store({"remove", "Rig"});
    EXPECT_EQ(remove.nExit, 0) << Describe(remove);
    const std::string strAfter = ReadFile(m_store);
    EXPECT_EQ(strAfter.find("Rig"), std::string::npos) << strAfter;
    EXPECT_NE(strAfter.find("<SoftwareModule name=\"TARVEK\""), std::string::npos);
}

TEST_F(StoreTest, EditsKeepEverythingElseByteForByte) {
    Write(kHandWritten);
    fs::permissions(m_store, fs::perms(0640));
    const fs::path link = m_dir / "link.xml";
    fs::create_symlink(m_store, link);

    ASSERT_EQ(Store({"add", "Spare", "--resource", "ASRL1::INSTR", "--simulate"}).nExit, 0);
    const std::string strAdded = ReadFile(m_store);
    EXPECT_EQ(strAdded.substr(0, strAdded.find("\t<HardwareAsset name=\"Spare\"")),
              std::string(kHandWritten).substr(0, std::string(kHandWritten).rfind("</Ivi")));
    EXPECT_NE(strAdded.find("\t<DriverSession name=\"Spare\" softwareModule=\"TARVEK\" "
                            "hardwareAsset=\"Spare\" simulate=\"true\" />\n"),
              std::string::npos)
        << strAdded;
    // Removing it again, through a symbolic link, restores the file exactly;
    // the link stays a link and the file keeps its permissions.
    const CliResult remove = clitest::RunProgram(TARVEK_CLI_PATH, {"store", "remove", "Spare"},
                                                 {"IVI_CONFIG_STORE=" + link.string()});
    ASSERT_EQ(remove.nExit, 0) << Describe(remove);
    EXPECT_EQ(ReadFile(m_store), kHandWritten);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(m_store).permissions(), fs::perms(0640));

    // Removing a logical name takes its session and asset when nothing else
    // uses them, and nothing else.
    ASSERT_EQ(Store({"remove", "Bench4"}).nExit, 0);
    const std::string strRemoved = ReadFile(m_store);
    EXPECT_EQ(strRemoved.find("Bench4"), std::string::npos) << strRemoved;
    EXPECT_NE(strRemoved.find("\t<!-- Bench 4 -->\n</IviConfigurationStore>\n"), std::string::npos)
        << strRemoved;
    EXPECT_EQ(Store({"check"}).nExit, 0);
}

TEST_F(StoreTest, WindowsLineEndsAndByteOrderMarkAreKept) {
    std::string strText = "\xEF\xBB\xBF";
    for (const char c : std::string(kHandWritten)) {
        strText += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    Write(strText);
    ASSERT_EQ(Store({"add", "Spare", "--resource", "R"}).nExit, 0);
    const std::string strAdded = ReadFile(m_store);
    EXPECT_NE(strAdded.find("\t<LogicalName name=\"Spare\" driverSession=\"Spare\" />\r\n"),
              std::string::npos)
        << strAdded;
    for (std::size_t n = strAdded.find('\n'); n != std::string::npos;
         n = strAdded.find('\n', n + 1)) {
        ASSERT_EQ(strAdded[n - 1], '\r') << "bare line feed at byte " << n;
    }
    ASSERT_EQ(Store({"remove", "Spare"}).nExit, 0);
    EXPECT_EQ(ReadFile(m_store), strText);
}

TEST_F(StoreTest, RefusedEditsLeaveTheFileUntouched) {
    Write(kHandWritten);
    struct Case {
        std::vector<std::string> vecArgs;
        int nExit;
        const char* pError;
    };
    const Case kCases[] = {
        {{"add", "Bench4", "--resource", "R"}, kExitFailure, "already holds a logical name"},
        {{"add", "Bench4.Session", "--resource", "R"}, kExitFailure, "a driver session named"},
        {{"add", "X", "--resource", "R", "--virtual", "A=CH4"},
         kExitFailure,
         "\"CH4\", which is not a physical name of TARVEK (CH1, CH2, CH3)"},
        {{"add", "X", "--resource", "R", "--virtual", "A=CH1,A=CH2"}, kExitFailure, "given twice"},
        {{"add", "X", "--resource", "R", "--virtual", "A"}, kExitUsage, "NAME=CHn"},
        {{"add", "X"}, kExitUsage, "needs --resource"},
        {{"add", "X", "--resource", "R", "--options", "Cache=maybe"},
         kExitUsage,
         "Cache takes 1, 0, true or false, not 'maybe'"},
        {{"add", "X", "--resource", "R", "--options", "Speed=1"},
         kExitUsage,
         "unknown option 'Speed'"},
        {{"add", "X", "--resource", "R", "--options", "DriverSetup=Model:6510", "--driver-setup",
          "Model:6313"},
         kExitUsage,
         "both given"},
        {{"remove", "Nobody"}, kExitFailure, "holds no logical name \"Nobody\""},
        {{"show", "Nobody"}, kExitFailure, "holds no logical name \"Nobody\""},
        {{"show"}, kExitUsage, "show needs NAME"},
        {{"list", "--resource", "R"}, kExitUsage, "belongs to 'store add'"},
        {{"rename", "A"}, kExitUsage, "unknown store command 'rename'"},
    };
    for (const Case& row : kCases) {
        std::string strTrace;
        for (const std::string& strArg : row.vecArgs) {
            strTrace += strArg + " ";
        }
        SCOPED_TRACE(strTrace);
        const CliResult result = Store(row.vecArgs);
        EXPECT_EQ(result.nExit, row.nExit) << Describe(result);
        EXPECT_NE(result.strErr.find(row.pError), std::string::npos) << result.strErr;
        EXPECT_EQ(ReadFile(m_store), kHandWritten);
    }
}

TEST_F(StoreTest, CorruptStoreIsReportedWithItsLineAndNeverOverwritten) {
    std::string strCorrupt = kHandWritten;
    strCorrupt.replace(strCorrupt.find("hardwareAsset=\"Bench4\""), 13, "hardwareAset");
    Write(strCorrupt);
    const std::string strProblem =
        "is not valid at line 12, column 2: the element <DriverSession> has no attribute "
        "\"hardwareAset\"";
    for (const std::vector<std::string>& vecArgs : {std::vector<std::string>{"check"},
                                                    {"list"},
                                                    {"show", "Bench4"},
                                                    {"remove", "Bench4"},
                                                    {"add", "New", "--resource", "R"}}) {
        SCOPED_TRACE(vecArgs[0]);
        const CliResult result = Store(vecArgs);
        EXPECT_EQ(result.nExit, kExitFailure) << Describe(result);
        EXPECT_NE(result.strErr.find(strProblem), std::string::npos) << result.strErr;
        EXPECT_EQ(ReadFile(m_store), strCorrupt);
    }
    // Not XML at all, and a valid store the driver cannot use.
    Write("<IviConfigurationStore>\n  <LogicalName name=\"A\"\n");
    CliResult result = Store({"check"});
    EXPECT_EQ(result.nExit, kExitFailure);
    EXPECT_NE(result.strErr.find("is not valid at line 2"), std::string::npos) << result.strErr;
    Write("<IviConfigurationStore>\n  <HardwareAsset name=\"A\"/>\n</IviConfigurationStore>\n");
    result = Store({"check"});
    EXPECT_EQ(result.nExit, kExitFailure);
    EXPECT_NE(result.strErr.find("does not register the software module \"TARVEK\" (line 1)"),
              std::string::npos)
        << result.strErr;
}

TEST_F(StoreTest, AddPastTheReadersSizeLimitIsRefusedAndTheStoreStaysReadable) {
    // The reader takes store files of up to 16 MiB; this one has room for
    // less than one more entry.
    constexpr std::size_t kLimit = 16u * 1024u * 1024u;
    std::string strFull = kHandWritten;
    strFull += "<!-- " + std::string(kLimit - 100 - strFull.size(), 'x') + " -->\n";
    Write(strFull);
    const CliResult add = Store({"add", "Spare", "--resource", "ASRL1::INSTR"});
    EXPECT_EQ(add.nExit, kExitFailure) << Describe(add);
    EXPECT_NE(add.strErr.find("The configuration store \"" + m_store.string() + "\" would grow to"),
              std::string::npos)
        << add.strErr;
    EXPECT_NE(add.strErr.find("more than the 16777216 bytes the store reader accepts; nothing "
                              "was changed."),
              std::string::npos)
        << add.strErr;
    EXPECT_TRUE(ReadFile(m_store) == strFull) << "the store file changed";
    const CliResult list = Store({"list"});
    EXPECT_EQ(list.nExit, 0) << Describe(list).substr(0, 400);
    EXPECT_EQ(list.strOut, "Bench4               TCPIP::10.0.0.4::5025::SOCKET\n");
}

TEST_F(StoreTest, SymbolicLinkAsLockFileIsRefusedAndNothingIsCreatedAtItsTarget) {
    const fs::path lock = m_dir / "store.xml.lock";
    const fs::path target = m_dir / "elsewhere";
    struct Case {
        const char* szWhat;
        bool bTargetExists;
    };
    for (const Case& row : {Case{"dangling link", false}, Case{"link to a file", true}}) {
        SCOPED_TRACE(row.szWhat);
        Write(kHandWritten);
        std::error_code ec;
        fs::remove(target, ec);
        fs::remove(lock, ec);
        if (row.bTargetExists) {
            std::ofstream(target) << "keep";
        }
        fs::create_symlink(target, lock);
        const CliResult add = Store({"add", "Spare", "--resource", "ASRL1::INSTR"});
        EXPECT_EQ(add.nExit, kExitFailure) << Describe(add);
        EXPECT_NE(add.strErr.find("\"" + lock.string() +
                                  "\" is a symbolic link, which the store writer never follows"),
                  std::string::npos)
            << add.strErr;
        EXPECT_EQ(ReadFile(m_store), kHandWritten);
        EXPECT_TRUE(fs::is_symlink(lock));
        EXPECT_EQ(fs::exists(target), row.bTargetExists);
        if (row.bTargetExists) {
            EXPECT_EQ(ReadFile(target), "keep");
        }
    }
}

TEST_F(StoreTest, ReadOnlyStoreIsRefused) {
    Write(kHandWritten);
    fs::permissions(m_store, fs::perms(0444));
    for (const std::vector<std::string>& vecArgs :
         {std::vector<std::string>{"add", "New", "--resource", "R"}, {"remove", "Bench4"}}) {
        const CliResult result = Store(vecArgs);
        EXPECT_EQ(result.nExit, kExitFailure) << Describe(result);
        EXPECT_NE(result.strErr.find("is read-only; nothing was changed."), std::string::npos)
            << result.strErr;
    }
    EXPECT_EQ(ReadFile(m_store), kHandWritten);
    EXPECT_EQ(fs::status(m_store).permissions(), fs::perms(0444));
    // Reading still works.
    EXPECT_EQ(Store({"list"}).nExit, 0);
}

TEST_F(StoreTest, MissingFileIsTheBuiltInStoreUntilTheFirstAdd) {
    m_store = m_dir / "ivi" / "store.xml";
    const CliResult check = Store({"check"});
    EXPECT_EQ(check.nExit, 0) << Describe(check);
    EXPECT_NE(check.strOut.find("No store file at"), std::string::npos);
    EXPECT_EQ(Store({"list"}).strOut, "");
    EXPECT_FALSE(fs::exists(m_store));
    ASSERT_EQ(Store({"add", "A", "--resource", "R"}).nExit, 0);
    EXPECT_TRUE(fs::exists(m_store));
}

TEST_F(StoreTest, ConcurrentWritersLoseNothing) {
    Write(kHandWritten);
    constexpr int kWriters = 8;
    std::vector<CliResult> vecResults(kWriters);
    std::vector<std::thread> vecThreads;
    for (int n = 0; n < kWriters; ++n) {
        vecThreads.emplace_back([&, n] {
            vecResults[n] = Store({"add", "Rig" + std::to_string(n), "--resource",
                                   "TCPIP::10.0.1." + std::to_string(n) + "::5025::SOCKET"});
        });
    }
    for (std::thread& thread : vecThreads) {
        thread.join();
    }
    for (const CliResult& result : vecResults) {
        EXPECT_EQ(result.nExit, 0) << Describe(result);
    }
    const CliResult list = Store({"list"});
    ASSERT_EQ(list.nExit, 0) << Describe(list);
    EXPECT_NE(list.strOut.find("Bench4 "), std::string::npos);
    for (int n = 0; n < kWriters; ++n) {
        EXPECT_NE(list.strOut.find("Rig" + std::to_string(n) + " "), std::string::npos)
            << list.strOut;
    }
    EXPECT_EQ(Store({"check"}).nExit, 0);
    // No temporary file is left behind.
    int nFiles = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(m_dir)) {
        ++nFiles;
    }
    EXPECT_EQ(nFiles, 2);  // the store and its lock file
}

}  // namespace
