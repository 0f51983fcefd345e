// The store writer never leaves a store file the reader refuses, and never
// reaches a file through a symbolic link planted next to the store: each
// refused edit leaves the store byte for byte as it was and still readable.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ConfigStore.h"
#include "IviConfigServer.h"
#include "StoreWriter.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kStore = R"(<?xml version="1.0" encoding="UTF-8"?>
<IviConfigurationStore>
  <SoftwareModule name="TARVEK">
    <PhysicalName name="CH1" repCapName="OutputChannel"/>
    <PhysicalName name="CH2" repCapName="OutputChannel"/>
    <PhysicalName name="CH3" repCapName="OutputChannel"/>
  </SoftwareModule>
  <HardwareAsset name="Bench" resourceDescriptor="ASRL1::INSTR"/>
  <DriverSession name="Bench" softwareModule="TARVEK" hardwareAsset="Bench"/>
  <LogicalName name="Bench" driverSession="Bench"/>
</IviConfigurationStore>
)";

// The store padded with a comment to nSize bytes.
std::string StoreOfSize(std::size_t nSize) {
    const std::string strText = kStore;
    const std::string strOpen = "<!-- ";
    const std::string strClose = " -->\n";
    const std::size_t nPadding = nSize - strText.size() - strOpen.size() - strClose.size();
    return strText + strOpen + std::string(nPadding, 'x') + strClose;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

class StoreWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string strTemplate = (fs::temp_directory_path() / "tkstore-XXXXXX").string();
        ASSERT_NE(mkdtemp(strTemplate.data()), nullptr);
        m_dir = strTemplate;
        m_store = m_dir / "store.xml";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    void Write(const fs::path& path, const std::string& strText) {
        std::ofstream(path, std::ios::binary) << strText;
    }
    // The driver's own reader still opens the store and finds "Bench".
    void ExpectReadable() {
        IviConfigStoreHandle nStore = VI_NULL;
        ASSERT_EQ(IviConfig_Initialize(&nStore), VI_SUCCESS);
        EXPECT_EQ(IviConfig_Deserialize(nStore, m_store.c_str()), VI_SUCCESS);
        IviDriverSessionHandle nSession = VI_NULL;
        EXPECT_EQ(IviConfig_GetDriverSession(nStore, "Bench", &nSession), VI_SUCCESS);
        IviConfig_DisposeHandle(&nSession);
        IviConfig_Close(nStore);
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> vecNames;
        for (const auto& entry : fs::directory_iterator(m_dir)) {
            vecNames.push_back(entry.path().filename().string());
        }
        std::sort(vecNames.begin(), vecNames.end());
        return vecNames;
    }

    fs::path m_dir;
    fs::path m_store;
};

cfgstore::LogicalNameEntry Entry(std::string strName = "Rig") {
    cfgstore::LogicalNameEntry entry;
    entry.strName = std::move(strName);
    entry.strResource = "TCPIP::127.0.0.1::5025::SOCKET";
    return entry;
}

TEST_F(StoreWriterTest, AddTheReaderWouldRefuseLeavesTheStoreUnchanged) {
    struct Case {
        const char* szWhat;
        std::string strStore;
        std::function<void(cfgstore::LogicalNameEntry&)> change;
        const char* szError;
    };
    const std::string strLimit =
        "more than the " + std::to_string(cfgstore::kMaxStoreFileSize) + " bytes";
    const Case kCases[] = {
        {"store just under the size limit", StoreOfSize(cfgstore::kMaxStoreFileSize - 100),
         [](cfgstore::LogicalNameEntry&) {}, "bytes the store reader accepts"},
        {"name larger than a store may be", kStore,
         [](cfgstore::LogicalNameEntry& entry) {
             // The name is written five times (asset, session, logical name).
             entry.strName.assign(cfgstore::kMaxStoreFileSize / 4, 'N');
         },
         "bytes the store reader accepts"},
        {"control character in the name", kStore,
         [](cfgstore::LogicalNameEntry& entry) { entry.strName = "Ri\x01g"; },
         "The logical name holds the character U+0001, which an XML file cannot hold"},
        {"NUL in the resource", kStore,
         [](cfgstore::LogicalNameEntry& entry) { entry.strResource.push_back('\0'); },
         "The resource holds the character U+0000"},
        {"invalid UTF-8 in DriverSetup", kStore,
         [](cfgstore::LogicalNameEntry& entry) { entry.strDriverSetup = "Model:\xC3("; },
         "The DriverSetup is not valid UTF-8 (byte 7)"},
        {"overlong UTF-8 in a virtual name", kStore,
         [](cfgstore::LogicalNameEntry& entry) {
             entry.vecVirtualNames.emplace_back("\xC0\xAF", "CH1");
         },
         "A virtual name is not valid UTF-8 (byte 1)"},
        {"noncharacter in the physical name", kStore,
         [](cfgstore::LogicalNameEntry& entry) {
             entry.vecVirtualNames.emplace_back("Motor", "CH1\xEF\xBF\xBE");
         },
         "holds the character U+FFFE"},
        {"option the reader does not know", kStore,
         [](cfgstore::LogicalNameEntry& entry) { entry.vecOptions.emplace_back("speed", true); },
         "the store reader would refuse the edited file. The configuration store"},
        {"option given twice", kStore,
         [](cfgstore::LogicalNameEntry& entry) {
             entry.vecOptions = {{"cache", true}, {"cache", false}};
         },
         "the attribute \"cache\" appears twice"},
        {"empty virtual name", kStore,
         [](cfgstore::LogicalNameEntry& entry) { entry.vecVirtualNames.emplace_back("", "CH1"); },
         "needs a non-empty \"name\""},
    };
    for (const Case& row : kCases) {
        SCOPED_TRACE(row.szWhat);
        Write(m_store, row.strStore);
        cfgstore::LogicalNameEntry entry = Entry();
        row.change(entry);
        std::string strError;
        EXPECT_FALSE(cfgstore::AddLogicalName(m_store.string(), entry, strError));
        EXPECT_NE(strError.find(row.szError), std::string::npos) << strError.substr(0, 400);
        EXPECT_NE(strError.find(m_store.string()), std::string::npos) << strError.substr(0, 400);
        EXPECT_TRUE(ReadFile(m_store) == row.strStore) << "the store file changed";
        ExpectReadable();
        const std::vector<std::string> vecFiles = Files();
        EXPECT_TRUE(vecFiles.size() <= 2 && vecFiles[0] == "store.xml")
            << "a temporary file was left behind";
    }
    // The reader refuses the same oversized text however it comes.
    std::string strError;
    EXPECT_EQ(
        cfgstore::ReadStoreText(StoreOfSize(cfgstore::kMaxStoreFileSize + 1), "big.xml", strError),
        nullptr);
    EXPECT_NE(strError.find(strLimit + " a store file may hold"), std::string::npos) << strError;
}

TEST_F(StoreWriterTest, TextsXmlCanHoldReadBackExactly) {
    struct Case {
        const char* szWhat;
        std::function<void(cfgstore::LogicalNameEntry&)> change;
    };
    const Case kCases[] = {
        {"letters beyond ASCII",
         [](auto& entry) {
             entry.strName =
                 "Pr\xC3\xBC"
                 "fstand \xE2\x9A\xA1";
         }},
        {"character outside the basic plane",
         [](auto& entry) { entry.strDriverSetup = "Tag:\xF0\x9F\x94\x8C"; }},
        {"tab, line feed and carriage return",
         [](auto& entry) { entry.strDriverSetup = "a\tb\nc\rd"; }},
        {"markup characters", [](auto& entry) { entry.strResource = "<&\"'>"; }},
    };
    for (const Case& row : kCases) {
        SCOPED_TRACE(row.szWhat);
        Write(m_store, kStore);
        cfgstore::LogicalNameEntry entry = Entry();
        row.change(entry);
        std::string strError;
        ASSERT_TRUE(cfgstore::AddLogicalName(m_store.string(), entry, strError)) << strError;
        const cfgstore::StoreFileState state = cfgstore::ReadStoreFile(m_store.string());
        ASSERT_NE(state.pData, nullptr) << state.strError;
        const auto it = state.pData->mapLogicalNames.find(entry.strName);
        ASSERT_NE(it, state.pData->mapLogicalNames.end());
        const cfgstore::DriverSession& session =
            state.pData->vecDriverSessions[state.pData->vecLogicalNames[it->second].nDriverSession];
        EXPECT_EQ(session.strDriverSetup, entry.strDriverSetup);
        EXPECT_EQ(state.pData->vecHardwareAssets[*session.nHardwareAsset].strResourceDescriptor,
                  entry.strResource);
    }
}

TEST_F(StoreWriterTest, LockFileThatIsNotOurOwnPlainFileIsRefused) {
    const fs::path lock = m_dir / "store.xml.lock";
    const fs::path target = m_dir / "target";
    struct Case {
        const char* szWhat;
        bool bStoreExists;
        std::function<void()> plant;
        const char* szError;
        const char* szTargetAfter;  // null: the target must not exist
    };
    const Case kCases[] = {
        {"dangling symbolic link", true, [&] { fs::create_symlink(target, lock); },
         "is a symbolic link, which the store writer never follows", nullptr},
        {"dangling symbolic link, no store yet", false, [&] { fs::create_symlink(target, lock); },
         "is a symbolic link", nullptr},
        {"symbolic link to a file", true,
         [&] {
             Write(target, "keep");
             fs::create_symlink(target, lock);
         },
         "is a symbolic link", "keep"},
        {"hard link to another file", true,
         [&] {
             Write(target, "keep");
             fs::create_hard_link(target, lock);
         },
         "has other hard links", "keep"},
        {"named pipe", true, [&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); },
         "is not a regular file", nullptr},
    };
    for (const Case& row : kCases) {
        SCOPED_TRACE(row.szWhat);
        std::error_code ec;
        fs::remove(lock, ec);
        fs::remove(target, ec);
        fs::remove(m_store, ec);
        if (row.bStoreExists) {
            Write(m_store, kStore);
        }
        row.plant();
        for (const bool bAdd : {true, false}) {
            std::string strError;
            const bool bDone =
                bAdd ? cfgstore::AddLogicalName(m_store.string(), Entry(), strError)
                     : cfgstore::RemoveLogicalName(m_store.string(), "Bench", strError);
            EXPECT_FALSE(bDone);
            EXPECT_NE(strError.find("cannot be locked for editing: \"" + lock.string() + "\" " +
                                    row.szError),
                      std::string::npos)
                << strError;
            if (row.bStoreExists) {
                EXPECT_EQ(ReadFile(m_store), kStore);
            } else {
                EXPECT_FALSE(fs::exists(m_store));
            }
            if (row.szTargetAfter == nullptr) {
                EXPECT_FALSE(fs::exists(target)) << "the writer created the link's target";
            } else {
                EXPECT_EQ(ReadFile(target), row.szTargetAfter);
            }
        }
    }
}

TEST_F(StoreWriterTest, PlantedTemporaryFileLinksAreNeverFollowed) {
    // Links planted under names of the temporary file's pattern stay links
    // and lead nowhere new: the edit writes a fresh file of its own.
    Write(m_store, kStore);
    const fs::path target = m_dir / "target";
    const std::string strLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::minstd_rand random(7);
    std::vector<fs::path> vecLinks;
    for (int n = 0; n < 256; ++n) {
        std::string strSuffix;
        for (int k = 0; k < 6; ++k) {
            strSuffix += strLetters[random() % strLetters.size()];
        }
        vecLinks.push_back(m_dir / (".store.xml." + strSuffix));
        fs::create_symlink(target, vecLinks.back());
    }
    std::string strError;
    ASSERT_TRUE(cfgstore::AddLogicalName(m_store.string(), Entry(), strError)) << strError;
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(m_store)));
    for (const fs::path& link : vecLinks) {
        EXPECT_TRUE(fs::is_symlink(link));
    }
    ExpectReadable();
}

}  // namespace
