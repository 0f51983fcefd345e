// Contents of a configuration store as the reader builds them from a store
// file. A store is immutable once read; handles share it, so an item handle
// stays usable while another thread deserializes a new file into the store.
#ifndef TARVEK_CONFIG_STORE_H
#define TARVEK_CONFIG_STORE_H

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "visatype.h"

namespace cfgstore {

// The largest store file the reader accepts. A store file is small; anything
// larger is refused rather than read, and the writer never writes one.
constexpr std::size_t kMaxStoreFileSize = 16u * 1024u * 1024u;

enum class DataType { Boolean, Integer, Real, String, Structure, Other };

struct DataComponent {
    std::string strName;
    std::string strDescription;
    std::string strType;   // as written in the file
    std::string strValue;  // as written in the file
    DataType eType = DataType::Other;
    bool bValue = false;
    ViInt32 nValue = 0;
    double dValue = 0.0;
    std::vector<DataComponent> vecMembers;  // members of a structure
};

struct PhysicalName {
    std::string strName;
    std::string strRepCapName;
};

struct SoftwareModule {
    std::string strName;
    std::string strDescription;
    std::vector<PhysicalName> vecPhysicalNames;
    std::vector<DataComponent> vecDataComponents;
};

struct HardwareAsset {
    std::string strName;
    std::string strDescription;
    std::string strResourceDescriptor;
    std::vector<DataComponent> vecDataComponents;
};

struct VirtualRange {
    ViInt32 nMin = 0;
    ViInt32 nMax = 0;
    ViInt32 nStartingPhysicalIndex = 0;
};

struct VirtualName {
    std::string strName;
    std::string strMapTo;
    std::vector<VirtualRange> vecRanges;
};

struct DriverSession {
    std::string strName;
    std::string strDescription;
    std::optional<std::size_t> nHardwareAsset;   // index into StoreData::vecHardwareAssets
    std::optional<std::size_t> nSoftwareModule;  // index into StoreData::vecSoftwareModules
    bool bCache = true;
    bool bInterchangeCheck = false;
    bool bQueryInstrStatus = false;
    bool bRangeCheck = true;
    bool bRecordCoercions = false;
    bool bSimulate = false;
    std::string strDriverSetup;
    std::vector<VirtualName> vecVirtualNames;
    std::vector<DataComponent> vecDataComponents;
};

struct LogicalName {
    std::string strName;
    std::size_t nDriverSession = 0;  // index into StoreData::vecDriverSessions
};

struct StoreData {
    std::vector<LogicalName> vecLogicalNames;
    std::vector<DriverSession> vecDriverSessions;
    std::vector<HardwareAsset> vecHardwareAssets;
    std::vector<SoftwareModule> vecSoftwareModules;
    // Names are unique per kind and compared exactly.
    std::map<std::string, std::size_t, std::less<>> mapLogicalNames;
    std::map<std::string, std::size_t, std::less<>> mapDriverSessions;
    std::map<std::string, std::size_t, std::less<>> mapHardwareAssets;
    std::map<std::string, std::size_t, std::less<>> mapSoftwareModules;
};

// The driver's own registration, which a store holds when no store file
// exists: software module "TARVEK" with the output channels CH1 to CH3.
std::shared_ptr<const StoreData> BuiltInStore();

// Reads the text of a store file. On failure returns null and sets strError to
// a description naming strLocation, the line and the column (or the size, for
// a text over kMaxStoreFileSize).
std::shared_ptr<const StoreData> ReadStoreText(std::string_view svText,
                                               const std::string& strLocation,
                                               std::string& strError);

// Loads the store file at strLocation into the store handle, exactly as
// IviConfig_Deserialize does but from text already in memory (used by the
// fuzz target to reach the whole API without touching the file system).
ViStatus DeserializeText(ViSession nStore, std::string_view svText, const std::string& strLocation);

// A name as error texts quote it: "name".
std::string Quoted(std::string_view svText);

// The store file a program uses when it sets no process default location
// (the master location): IVI_CONFIG_STORE when set and not empty, else
// /etc/ivi/IviConfigurationStore.xml.
std::string MasterLocation();

// Number of live handles of the whole process (stores, items, collections);
// lets tests check that nothing outlives a store.
std::size_t OpenHandleCount();

}  // namespace cfgstore

#endif  // TARVEK_CONFIG_STORE_H
