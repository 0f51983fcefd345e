// What the configuration store tests share: a temporary folder per test,
// a store opened through the C API, string reads by the buffer protocol,
// and a fixture that checks every handle a test obtained is released.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ConfigStore.h"
#include "IviConfigServer.h"

namespace configtest {

namespace fs = std::filesystem;

class TempFolder {
  public:
    TempFolder() {
        std::string strTemplate = (fs::temp_directory_path() / "tkconfig-XXXXXX").string();
        const char* szPath = mkdtemp(strTemplate.data());
        EXPECT_NE(szPath, nullptr);
        m_path = strTemplate;
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    std::string Write(const std::string& strName, const std::string& strText) const {
        const fs::path path = m_path / strName;
        std::ofstream(path, std::ios::binary) << strText;
        return path.string();
    }
    std::string Path(const std::string& strName) const { return (m_path / strName).string(); }

  private:
    fs::path m_path;
};

inline std::string LastError() {
    ViStatus nCode = 0;
    std::vector<ViChar> buffer(1024);
    IviConfig_GetError(&nCode, static_cast<ViInt32>(buffer.size()), buffer.data());
    return buffer.data();
}

// Opens a store, reads a file into it and closes it at the end of the test.
class Store {
  public:
    Store() { EXPECT_EQ(IviConfig_Initialize(&m_nHandle), VI_SUCCESS); }
    ~Store() {
        if (m_nHandle != VI_NULL) {
            EXPECT_EQ(IviConfig_Close(m_nHandle), VI_SUCCESS);
        }
    }
    ViStatus Load(const std::string& strPath) {
        return IviConfig_Deserialize(m_nHandle, strPath.c_str());
    }
    IviConfigStoreHandle Handle() const { return m_nHandle; }
    IviDriverSessionHandle Session(const char* szName) {
        IviDriverSessionHandle nSession = VI_NULL;
        EXPECT_EQ(IviConfig_GetDriverSession(m_nHandle, szName, &nSession), VI_SUCCESS)
            << LastError();
        return nSession;
    }
    IviSoftwareModuleHandle Module(const char* szName) {
        IviSoftwareModuleCollectionHandle nModules = VI_NULL;
        EXPECT_EQ(IviConfig_GetConfigStoreSoftwareModuleCollection(m_nHandle, &nModules),
                  VI_SUCCESS);
        IviSoftwareModuleHandle nModule = VI_NULL;
        EXPECT_EQ(IviConfig_GetSoftwareModuleItemByName(nModules, szName, &nModule), VI_SUCCESS)
            << LastError();
        IviConfig_DisposeHandle(&nModules);
        return nModule;
    }

  private:
    IviConfigStoreHandle m_nHandle = VI_NULL;
};

using StringGetter = ViStatus (*)(ViSession, ViInt32, ViInt32, ViChar[]);

inline std::string GetString(StringGetter getter, ViSession nHandle, ViInt32 nPropertyId) {
    const ViStatus nNeeded = getter(nHandle, nPropertyId, 0, nullptr);
    EXPECT_GT(nNeeded, 0) << LastError();
    if (nNeeded <= 0) {
        return {};
    }
    std::vector<ViChar> buffer(static_cast<std::size_t>(nNeeded));
    EXPECT_EQ(getter(nHandle, nPropertyId, nNeeded, buffer.data()), VI_SUCCESS);
    return buffer.data();
}

inline constexpr const char* kModule = R"(
  <SoftwareModule name="TARVEK">
    <PhysicalName name="CH1" repCapName="OutputChannel"/>
    <PhysicalName name="CH2" repCapName="OutputChannel"/>
    <PhysicalName name="CH3" repCapName="OutputChannel"/>
  </SoftwareModule>)";

inline std::string StoreText(const std::string& strBody) {
    return "<?xml version=\"1.0\"?>\n<IviConfigurationStore>" + std::string(kModule) + strBody +
           "\n</IviConfigurationStore>\n";
}

struct PhysicalRow {
    std::string strName;
    std::string strRepCap;
    bool operator==(const PhysicalRow&) const = default;
};

inline std::vector<PhysicalRow> PhysicalNames(IviSoftwareModuleHandle nModule) {
    std::vector<PhysicalRow> vecRows;
    IviPhysicalNameCollectionHandle nCollection = VI_NULL;
    EXPECT_EQ(IviConfig_GetSoftwareModulePhysicalNameCollection(nModule, &nCollection), VI_SUCCESS);
    ViInt32 nCount = -1;
    EXPECT_EQ(IviConfig_GetPhysicalNameCount(nCollection, &nCount), VI_SUCCESS);
    for (ViInt32 n = 1; n <= nCount; ++n) {
        IviPhysicalNameHandle nItem = VI_NULL;
        EXPECT_EQ(IviConfig_GetPhysicalNameItemByIndex(nCollection, n, &nItem), VI_SUCCESS);
        vecRows.push_back({GetString(IviConfig_GetPhysicalNamePropertyViString, nItem,
                                     IVICONFIG_VAL_PHYSICAL_NAME_NAME),
                           GetString(IviConfig_GetPhysicalNamePropertyViString, nItem,
                                     IVICONFIG_VAL_PHYSICAL_NAME_RC_NAME)});
        EXPECT_EQ(IviConfig_DisposeHandle(&nItem), VI_SUCCESS);
        EXPECT_EQ(nItem, VI_NULL);
    }
    EXPECT_EQ(IviConfig_DisposeHandle(&nCollection), VI_SUCCESS);
    return vecRows;
}

inline const std::vector<PhysicalRow> kChannels = {
    {"CH1", "OutputChannel"}, {"CH2", "OutputChannel"}, {"CH3", "OutputChannel"}};

// A virtual name with its ranges, as a session reads back.
struct VirtualRow {
    std::string strName;
    std::string strMapTo;
    std::vector<std::array<ViInt32, 3>> vecRanges;  // min, max, starting physical index
    bool operator==(const VirtualRow&) const = default;
};

inline std::vector<VirtualRow> VirtualNames(IviDriverSessionHandle nSession) {
    std::vector<VirtualRow> vecRows;
    IviVirtualNameCollectionHandle nNames = VI_NULL;
    EXPECT_EQ(IviConfig_GetSessionVirtualNameCollection(nSession, &nNames), VI_SUCCESS);
    ViInt32 nCount = 0;
    EXPECT_EQ(IviConfig_GetVirtualNameCount(nNames, &nCount), VI_SUCCESS);
    for (ViInt32 n = 1; n <= nCount; ++n) {
        IviVirtualNameHandle nName = VI_NULL;
        EXPECT_EQ(IviConfig_GetVirtualNameItemByIndex(nNames, n, &nName), VI_SUCCESS);
        VirtualRow row{GetString(IviConfig_GetVirtualNamePropertyViString, nName,
                                 IVICONFIG_VAL_VIRTUAL_NAME_NAME),
                       GetString(IviConfig_GetVirtualNamePropertyViString, nName,
                                 IVICONFIG_VAL_VIRTUAL_NAME_MAP_TO),
                       {}};
        IviVirtualRangeCollectionHandle nRanges = VI_NULL;
        EXPECT_EQ(IviConfig_GetVirtualNameVirtualRangeCollection(nName, &nRanges), VI_SUCCESS);
        ViInt32 nRangeCount = 0;
        EXPECT_EQ(IviConfig_GetVirtualRangeCount(nRanges, &nRangeCount), VI_SUCCESS);
        for (ViInt32 r = 1; r <= nRangeCount; ++r) {
            IviVirtualRangeHandle nRange = VI_NULL;
            EXPECT_EQ(IviConfig_GetVirtualRangeItemByIndex(nRanges, r, &nRange), VI_SUCCESS);
            std::array<ViInt32, 3> values{};
            const ViInt32 ids[] = {IVICONFIG_VAL_VIRTUAL_RANGE_MIN, IVICONFIG_VAL_VIRTUAL_RANGE_MAX,
                                   IVICONFIG_VAL_VIRTUAL_RANGE_STARTING_PHYSICAL_INDEX};
            for (std::size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(IviConfig_GetVirtualRangePropertyViInt32(nRange, ids[i], &values[i]),
                          VI_SUCCESS);
            }
            row.vecRanges.push_back(values);
            EXPECT_EQ(IviConfig_DisposeHandle(&nRange), VI_SUCCESS);
        }
        vecRows.push_back(row);
        EXPECT_EQ(IviConfig_DisposeHandle(&nRanges), VI_SUCCESS);
        EXPECT_EQ(IviConfig_DisposeHandle(&nName), VI_SUCCESS);
    }
    EXPECT_EQ(IviConfig_DisposeHandle(&nNames), VI_SUCCESS);
    return vecRows;
}

class ConfigStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        IviConfig_ClearError();
        m_nBaseHandles = cfgstore::OpenHandleCount();
    }
    void TearDown() override {
        // Closing a store releases everything obtained through it.
        EXPECT_EQ(cfgstore::OpenHandleCount(), m_nBaseHandles);
    }
    TempFolder m_folder;
    std::size_t m_nBaseHandles = 0;
};

}  // namespace configtest
