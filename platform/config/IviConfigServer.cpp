// The configuration store API over a process-wide handle table. Every handle
// names a kind of object, the store it came from and the immutable contents it
// points into (shared, so the contents outlive a new deserialization). Handles
// are never reused; a stale or foreign handle is therefore always reported as
// invalid. Closing a store releases every handle obtained through it.
#include "IviConfigServer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "ConfigStore.h"

namespace cfgstore {
namespace {

// Where the store lives when IVI_CONFIG_STORE is not set.
constexpr const char* kDefaultMasterLocation = "/etc/ivi/IviConfigurationStore.xml";
constexpr const char* kMasterLocationVariable = "IVI_CONFIG_STORE";

enum class Kind {
    Store,
    DriverSession,
    HardwareAsset,
    SoftwareModule,
    PhysicalName,
    VirtualName,
    VirtualRange,
    DataComponent,
    SoftwareModuleCollection,
    PhysicalNameCollection,
    VirtualNameCollection,
    VirtualRangeCollection,
    DataComponentCollection,
};

const char* KindName(Kind eKind) {
    switch (eKind) {
        case Kind::Store:
            return "configuration store";
        case Kind::DriverSession:
            return "driver session";
        case Kind::HardwareAsset:
            return "hardware asset";
        case Kind::SoftwareModule:
            return "software module";
        case Kind::PhysicalName:
            return "physical name";
        case Kind::VirtualName:
            return "virtual name";
        case Kind::VirtualRange:
            return "virtual range";
        case Kind::DataComponent:
            return "data component";
        case Kind::SoftwareModuleCollection:
            return "software module collection";
        case Kind::PhysicalNameCollection:
            return "physical name collection";
        case Kind::VirtualNameCollection:
            return "virtual name collection";
        case Kind::VirtualRangeCollection:
            return "virtual range collection";
        case Kind::DataComponentCollection:
            return "data component collection";
    }
    return "configuration store object";
}

struct Entry {
    Kind eKind = Kind::Store;
    ViSession nStore = VI_NULL;
    std::shared_ptr<const StoreData> pData;
    const void* pItem = nullptr;  // the object or, for a collection, its std::vector
    std::string strOwner;         // what a collection belongs to, for messages
};

// ---- per-thread error record ----

struct ErrorRecord {
    ViStatus nStatus = VI_SUCCESS;
    std::string strText;
};

thread_local ErrorRecord t_error;

ViStatus Fail(ViStatus nStatus, std::string strText) {
    t_error.nStatus = nStatus;
    t_error.strText = std::move(strText);
    return nStatus;
}

std::string Quoted(std::string_view sv) {
    std::string strOut = "\"";
    strOut.append(sv);
    strOut += '"';
    return strOut;
}

std::string HandleText(ViSession nHandle) {
    char szBuffer[16];
    std::snprintf(szBuffer, sizeof szBuffer, "0x%08X", static_cast<unsigned>(nHandle));
    return szBuffer;
}

// ---- handle table ----

class HandleTable {
  public:
    ViStatus Add(Entry entry, ViSession* pHandle) {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_nNext == 0) {  // the 32-bit handle space is spent
            return Fail(IVICONFIG_ERROR_OUT_OF_MEMORY,
                        "The configuration store has run out of handles.");
        }
        const ViSession nHandle = m_nNext++;
        if (entry.eKind == Kind::Store) {
            entry.nStore = nHandle;
        }
        m_entries.emplace(nHandle, std::move(entry));
        *pHandle = nHandle;
        return VI_SUCCESS;
    }

    bool Find(ViSession nHandle, Entry& entry) {
        std::lock_guard<std::mutex> guard(m_mutex);
        auto it = m_entries.find(nHandle);
        if (it == m_entries.end()) {
            return false;
        }
        entry = it->second;
        return true;
    }

    bool Remove(ViSession nHandle) {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_entries.erase(nHandle) == 1;
    }

    // Removes a store and every handle obtained through it.
    void RemoveStore(ViSession nStore) {
        std::lock_guard<std::mutex> guard(m_mutex);
        std::erase_if(m_entries,
                      [nStore](const auto& item) { return item.second.nStore == nStore; });
    }

    bool ReplaceStoreData(ViSession nStore, std::shared_ptr<const StoreData> pData) {
        std::lock_guard<std::mutex> guard(m_mutex);
        auto it = m_entries.find(nStore);
        if (it == m_entries.end() || it->second.eKind != Kind::Store) {
            return false;
        }
        it->second.pData = std::move(pData);
        return true;
    }

    std::size_t Count() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_entries.size();
    }

  private:
    std::mutex m_mutex;
    // Away from 0 and from the ranges other handle tables start at, so that a
    // small integer or a foreign handle is not taken for one of ours.
    ViSession m_nNext = 0x40000001;
    std::unordered_map<ViSession, Entry> m_entries;
};

HandleTable& Table() {
    static HandleTable* pTable = new HandleTable();  // lives until process exit
    return *pTable;
}

// ---- process default location ----

std::mutex g_locationMutex;
std::string g_strProcessDefaultLocation;

// ---- helpers shared by the calls ----

// Looks a handle up and checks that it is one of the kinds a call accepts.
ViStatus Resolve(ViSession nHandle, std::initializer_list<Kind> listKinds, Entry& entry) {
    const Kind eWanted = *listKinds.begin();
    if (nHandle == VI_NULL) {
        return Fail(IVICONFIG_ERROR_INVALID_HANDLE,
                    std::string("A ") + KindName(eWanted) +
                        " handle is needed; the handle given is VI_NULL.");
    }
    if (!Table().Find(nHandle, entry)) {
        return Fail(IVICONFIG_ERROR_INVALID_HANDLE,
                    "The handle " + HandleText(nHandle) +
                        " is not an open configuration store handle; it was never issued, was "
                        "disposed of, or its store was closed.");
    }
    if (std::find(listKinds.begin(), listKinds.end(), entry.eKind) == listKinds.end()) {
        return Fail(IVICONFIG_ERROR_INVALID_HANDLE, "The handle " + HandleText(nHandle) + " is a " +
                                                        KindName(entry.eKind) + " handle, not a " +
                                                        KindName(eWanted) + " handle.");
    }
    return VI_SUCCESS;
}

template <class T>
const T& Item(const Entry& entry) {
    return *static_cast<const T*>(entry.pItem);
}

// Issues a handle for an object of the same store as its parent.
ViStatus Issue(const Entry& parent, Kind eKind, const void* pItem, std::string strOwner,
               ViSession* pHandle) {
    Entry entry;
    entry.eKind = eKind;
    entry.nStore = parent.nStore;
    entry.pData = parent.pData;
    entry.pItem = pItem;
    entry.strOwner = std::move(strOwner);
    return Table().Add(std::move(entry), pHandle);
}

ViStatus NullOutput(const char* szParameter) {
    return Fail(IVICONFIG_ERROR_NULL_POINTER,
                std::string("The output parameter ") + szParameter + " is VI_NULL.");
}

// Copies text out by the IVI buffer convention.
ViStatus CopyOut(const std::string& strText, ViInt32 nBufferSize, ViChar* pBuffer) {
    if (nBufferSize < 0) {
        return Fail(IVICONFIG_ERROR_INVALID_PARAMETER,
                    "The buffer size " + std::to_string(nBufferSize) + " is negative.");
    }
    const auto nNeeded = static_cast<ViInt32>(std::min<std::size_t>(strText.size() + 1, INT_MAX));
    if (nBufferSize == 0) {
        return nNeeded;
    }
    if (pBuffer == nullptr) {
        return NullOutput("Value");
    }
    const auto nCopy = static_cast<std::size_t>(std::min(nBufferSize, nNeeded) - 1);
    std::memcpy(pBuffer, strText.data(), nCopy);
    pBuffer[nCopy] = '\0';
    return nBufferSize >= nNeeded ? VI_SUCCESS : nNeeded;
}

ViStatus UnknownProperty(const Entry& entry, ViInt32 nPropertyId, const char* szType) {
    return Fail(IVICONFIG_ERROR_INVALID_PROPERTY_ID, "A " + std::string(KindName(entry.eKind)) +
                                                         " has no " + szType + " property " +
                                                         std::to_string(nPropertyId) + ".");
}

// One row per readable property: its id and the member that holds it.
template <class T, class V>
struct PropertyRow {
    ViInt32 nId;
    V T::*pMember;
};

template <class T, class V, std::size_t N>
const V* FindProperty(const PropertyRow<T, V> (&rows)[N], const T& item, ViInt32 nId) {
    for (const auto& row : rows) {
        if (row.nId == nId) {
            return &(item.*row.pMember);
        }
    }
    return nullptr;
}

constexpr PropertyRow<HardwareAsset, std::string> kHardwareAssetStrings[] = {
    {IVICONFIG_VAL_HARDWARE_ASSET_NAME, &HardwareAsset::strName},
    {IVICONFIG_VAL_HARDWARE_ASSET_DESCRIPTION, &HardwareAsset::strDescription},
    {IVICONFIG_VAL_HARDWARE_ASSET_IO_RESOURCE_DESCRIPTOR, &HardwareAsset::strResourceDescriptor},
};
constexpr PropertyRow<DriverSession, std::string> kDriverSessionStrings[] = {
    {IVICONFIG_VAL_DRIVER_SESSION_NAME, &DriverSession::strName},
    {IVICONFIG_VAL_DRIVER_SESSION_DESCRIPTION, &DriverSession::strDescription},
    {IVICONFIG_VAL_DRIVER_SESSION_DRIVER_SETUP, &DriverSession::strDriverSetup},
};
constexpr PropertyRow<DriverSession, bool> kDriverSessionBooleans[] = {
    {IVICONFIG_VAL_DRIVER_SESSION_CACHE, &DriverSession::bCache},
    {IVICONFIG_VAL_DRIVER_SESSION_INTERCHANGE_CHECK, &DriverSession::bInterchangeCheck},
    {IVICONFIG_VAL_DRIVER_SESSION_QUERY_INSTR_STATUS, &DriverSession::bQueryInstrStatus},
    {IVICONFIG_VAL_DRIVER_SESSION_RANGE_CHECK, &DriverSession::bRangeCheck},
    {IVICONFIG_VAL_DRIVER_SESSION_RECORD_COERCIONS, &DriverSession::bRecordCoercions},
    {IVICONFIG_VAL_DRIVER_SESSION_SIMULATE, &DriverSession::bSimulate},
};
constexpr PropertyRow<VirtualName, std::string> kVirtualNameStrings[] = {
    {IVICONFIG_VAL_VIRTUAL_NAME_NAME, &VirtualName::strName},
    {IVICONFIG_VAL_VIRTUAL_NAME_MAP_TO, &VirtualName::strMapTo},
};
constexpr PropertyRow<VirtualRange, ViInt32> kVirtualRangeIntegers[] = {
    {IVICONFIG_VAL_VIRTUAL_RANGE_MIN, &VirtualRange::nMin},
    {IVICONFIG_VAL_VIRTUAL_RANGE_MAX, &VirtualRange::nMax},
    {IVICONFIG_VAL_VIRTUAL_RANGE_STARTING_PHYSICAL_INDEX, &VirtualRange::nStartingPhysicalIndex},
};
constexpr PropertyRow<PhysicalName, std::string> kPhysicalNameStrings[] = {
    {IVICONFIG_VAL_PHYSICAL_NAME_NAME, &PhysicalName::strName},
    {IVICONFIG_VAL_PHYSICAL_NAME_RC_NAME, &PhysicalName::strRepCapName},
};
constexpr PropertyRow<DataComponent, std::string> kDataComponentStrings[] = {
    {IVICONFIG_VAL_DATA_COMPONENT_NAME, &DataComponent::strName},
    {IVICONFIG_VAL_DATA_COMPONENT_DESCRIPTION, &DataComponent::strDescription},
    {IVICONFIG_VAL_DATA_COMPONENT_TYPE, &DataComponent::strType},
};

template <class T, std::size_t N>
ViStatus GetStringProperty(ViSession nHandle, Kind eKind,
                           const PropertyRow<T, std::string> (&rows)[N], ViInt32 nPropertyId,
                           ViInt32 nBufferSize, ViChar* pValue) {
    Entry entry;
    if (const ViStatus s = Resolve(nHandle, {eKind}, entry); s < 0) {
        return s;
    }
    const std::string* pText = FindProperty(rows, Item<T>(entry), nPropertyId);
    if (pText == nullptr) {
        return UnknownProperty(entry, nPropertyId, "string");
    }
    return CopyOut(*pText, nBufferSize, pValue);
}

// A collection handle points at the std::vector of its items.
template <class T>
ViStatus CollectionCount(ViSession nHandle, Kind eCollection, ViInt32* pCount) {
    if (pCount == nullptr) {
        return NullOutput("Count");
    }
    Entry entry;
    if (const ViStatus s = Resolve(nHandle, {eCollection}, entry); s < 0) {
        return s;
    }
    const auto& vecItems = Item<std::vector<T>>(entry);
    *pCount = static_cast<ViInt32>(std::min<std::size_t>(vecItems.size(), INT_MAX));
    return VI_SUCCESS;
}

template <class T>
ViStatus CollectionItemByIndex(ViSession nHandle, Kind eCollection, Kind eItem, ViInt32 nIndex,
                               ViSession* pItem) {
    if (pItem == nullptr) {
        return NullOutput("item handle");
    }
    *pItem = VI_NULL;
    Entry entry;
    if (const ViStatus s = Resolve(nHandle, {eCollection}, entry); s < 0) {
        return s;
    }
    const auto& vecItems = Item<std::vector<T>>(entry);
    if (nIndex < 1 || static_cast<std::size_t>(nIndex) > vecItems.size()) {
        return Fail(IVICONFIG_ERROR_INVALID_INDEX,
                    "The index " + std::to_string(nIndex) + " is outside the " +
                        KindName(eCollection) + " of " + entry.strOwner + ", which holds " +
                        std::to_string(vecItems.size()) + " items numbered from 1.");
    }
    return Issue(entry, eItem, &vecItems[static_cast<std::size_t>(nIndex) - 1], entry.strOwner,
                 pItem);
}

// Reads a store file; a missing file gives the driver's built-in registration.
ViStatus LoadFile(ViSession nStore, const std::string& strLocation) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(strLocation, ec);
    if (status.type() == fs::file_type::not_found) {
        if (!Table().ReplaceStoreData(nStore, BuiltInStore())) {
            return Fail(IVICONFIG_ERROR_INVALID_HANDLE,
                        "The configuration store " + HandleText(nStore) + " was closed meanwhile.");
        }
        return VI_SUCCESS;
    }
    const std::string strCannotRead =
        "The configuration store " + Quoted(strLocation) + " cannot be read: ";
    if (ec) {
        return Fail(IVICONFIG_ERROR_DESERIALIZE_FAILED, strCannotRead + ec.message() + ".");
    }
    if (status.type() == fs::file_type::directory) {
        return Fail(IVICONFIG_ERROR_DESERIALIZE_FAILED, strCannotRead + "it is a directory.");
    }
    std::FILE* pFile = std::fopen(strLocation.c_str(), "rb");
    if (pFile == nullptr) {
        return Fail(IVICONFIG_ERROR_DESERIALIZE_FAILED,
                    strCannotRead + std::generic_category().message(errno) + ".");
    }
    std::string strText;
    char buffer[8192];
    bool bTooLarge = false;
    std::size_t nRead = 0;
    while ((nRead = std::fread(buffer, 1, sizeof buffer, pFile)) > 0) {
        strText.append(buffer, nRead);
        if (strText.size() > kMaxStoreFileSize) {
            bTooLarge = true;
            break;
        }
    }
    const bool bReadError = std::ferror(pFile) != 0;
    std::fclose(pFile);
    if (bTooLarge) {
        return Fail(
            IVICONFIG_ERROR_DESERIALIZE_FAILED,
            strCannotRead + "it is larger than " + std::to_string(kMaxStoreFileSize) + " bytes.");
    }
    if (bReadError) {
        return Fail(IVICONFIG_ERROR_DESERIALIZE_FAILED, strCannotRead + "a read error occurred.");
    }
    return DeserializeText(nStore, strText, strLocation);
}

// Runs a call body; nothing thrown inside may leave the C boundary.
template <class Body>
ViStatus Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return Fail(IVICONFIG_ERROR_OUT_OF_MEMORY, "The configuration store ran out of memory.");
    } catch (const std::exception& error) {
        return Fail(IVICONFIG_ERROR_BASE,
                    std::string("Unexpected configuration store failure: ") + error.what());
    } catch (...) {
        return Fail(IVICONFIG_ERROR_BASE, "Unexpected configuration store failure.");
    }
}

}  // namespace

std::string MasterLocation() {
    const char* szVariable = std::getenv(kMasterLocationVariable);
    return (szVariable != nullptr && *szVariable != '\0') ? szVariable : kDefaultMasterLocation;
}

ViStatus DeserializeText(ViSession nStore, std::string_view svText,
                         const std::string& strLocation) {
    return Guarded([&]() -> ViStatus {
        Entry entry;
        if (const ViStatus s = Resolve(nStore, {Kind::Store}, entry); s < 0) {
            return s;
        }
        std::string strError;
        auto pData = ReadStoreText(svText, strLocation, strError);
        if (!pData) {
            return Fail(IVICONFIG_ERROR_DESERIALIZE_FAILED, strError);
        }
        if (!Table().ReplaceStoreData(nStore, std::move(pData))) {
            return Fail(IVICONFIG_ERROR_INVALID_HANDLE,
                        "The configuration store " + HandleText(nStore) + " was closed meanwhile.");
        }
        return VI_SUCCESS;
    });
}

std::size_t OpenHandleCount() {
    return Table().Count();
}

}  // namespace cfgstore

using namespace cfgstore;

namespace {

struct StatusRow {
    ViStatus nStatus;
    const char* pszDescription;
};

// The store's statuses and what each means to whoever reads it.
constexpr StatusRow kStatusDescriptions[] = {
    {IVICONFIG_ERROR_DESERIALIZE_FAILED, "The configuration store file could not be read."},
    {IVICONFIG_ERROR_SESSION_NOT_FOUND, "The configuration store has no such session."},
    {IVICONFIG_ERROR_NOT_FOUND, "The configuration store has no such item."},
    {IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND,
     "The configuration store entry has no such data component."},
    {IVICONFIG_ERROR_INVALID_HANDLE, "Invalid configuration store handle."},
    {IVICONFIG_ERROR_INVALID_PROPERTY_ID, "Invalid configuration store property."},
    {IVICONFIG_ERROR_INVALID_INDEX, "Configuration store index out of range."},
    {IVICONFIG_ERROR_TYPE_MISMATCH, "The configuration store value has another type."},
    {IVICONFIG_ERROR_NULL_POINTER, "Null pointer passed to the configuration store."},
    {IVICONFIG_ERROR_INVALID_PARAMETER, "Invalid parameter for the configuration store."},
    {IVICONFIG_ERROR_NO_REFERENCE, "The configuration store entry refers to nothing."},
    {IVICONFIG_ERROR_OUT_OF_MEMORY, "The configuration store ran out of memory."},
};

}  // namespace

extern "C" {

const char* IviConfig_StatusDescription(ViStatus Status) {
    for (const StatusRow& row : kStatusDescriptions) {
        if (row.nStatus == Status) {
            return row.pszDescription;
        }
    }
    return nullptr;
}

ViStatus _VI_FUNC IviConfig_Initialize(IviConfigStoreHandle* ConfigStoreHandle) {
    return Guarded([&]() -> ViStatus {
        if (ConfigStoreHandle == nullptr) {
            return NullOutput("ConfigStoreHandle");
        }
        *ConfigStoreHandle = VI_NULL;
        Entry entry;
        entry.eKind = Kind::Store;
        entry.pData = std::make_shared<const StoreData>();
        return Table().Add(std::move(entry), ConfigStoreHandle);
    });
}

ViStatus _VI_FUNC IviConfig_Close(IviConfigStoreHandle ConfigStoreHandle) {
    return Guarded([&]() -> ViStatus {
        Entry entry;
        if (const ViStatus s = Resolve(ConfigStoreHandle, {Kind::Store}, entry); s < 0) {
            return s;
        }
        Table().RemoveStore(ConfigStoreHandle);
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC IviConfig_Deserialize(IviConfigStoreHandle ConfigStoreHandle,
                                        ViConstString Location) {
    return Guarded([&]() -> ViStatus {
        Entry entry;
        if (const ViStatus s = Resolve(ConfigStoreHandle, {Kind::Store}, entry); s < 0) {
            return s;
        }
        if (Location == nullptr || *Location == '\0') {
            return Fail(IVICONFIG_ERROR_INVALID_PARAMETER,
                        "No configuration store location was given to deserialize from.");
        }
        return LoadFile(ConfigStoreHandle, Location);
    });
}

ViStatus _VI_FUNC IviConfig_GetConfigStorePropertyViString(IviConfigStoreHandle ConfigStoreHandle,
                                                           ViInt32 PropertyID, ViInt32 BufferSize,
                                                           ViChar Value[]) {
    return Guarded([&]() -> ViStatus {
        Entry entry;
        if (const ViStatus s = Resolve(ConfigStoreHandle, {Kind::Store}, entry); s < 0) {
            return s;
        }
        std::string strValue;
        if (PropertyID == IVICONFIG_VAL_CONFIG_STORE_PROCESS_DEFAULT_LOCATION) {
            std::lock_guard<std::mutex> guard(g_locationMutex);
            strValue = g_strProcessDefaultLocation;
        } else if (PropertyID == IVICONFIG_VAL_CONFIG_STORE_MASTER_LOCATION) {
            strValue = MasterLocation();
        } else {
            return UnknownProperty(entry, PropertyID, "string");
        }
        return CopyOut(strValue, BufferSize, Value);
    });
}

ViStatus _VI_FUNC IviConfig_SetConfigStorePropertyViString(IviConfigStoreHandle ConfigStoreHandle,
                                                           ViInt32 PropertyID,
                                                           ViConstString Value) {
    return Guarded([&]() -> ViStatus {
        Entry entry;
        if (const ViStatus s = Resolve(ConfigStoreHandle, {Kind::Store}, entry); s < 0) {
            return s;
        }
        if (PropertyID != IVICONFIG_VAL_CONFIG_STORE_PROCESS_DEFAULT_LOCATION) {
            return Fail(IVICONFIG_ERROR_INVALID_PROPERTY_ID,
                        "The configuration store property " + std::to_string(PropertyID) +
                            " cannot be written; only the process default location (5) can.");
        }
        std::string strValue = Value != nullptr ? Value : "";
        std::lock_guard<std::mutex> guard(g_locationMutex);
        g_strProcessDefaultLocation = std::move(strValue);
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC IviConfig_DisposeHandle(IviHandle* Handle) {
    return Guarded([&]() -> ViStatus {
        if (Handle == nullptr) {
            return Fail(IVICONFIG_ERROR_NULL_POINTER,
                        "The handle pointer given to dispose of is VI_NULL.");
        }
        if (*Handle == VI_NULL) {
            return VI_SUCCESS;
        }
        Entry entry;
        if (!Table().Find(*Handle, entry)) {
            return Fail(
                IVICONFIG_ERROR_INVALID_HANDLE,
                "The handle " + HandleText(*Handle) +
                    " cannot be disposed of: it is not an open configuration store handle.");
        }
        if (entry.eKind == Kind::Store) {
            Table().RemoveStore(*Handle);
        } else if (!Table().Remove(*Handle)) {
            return Fail(IVICONFIG_ERROR_INVALID_HANDLE,
                        "The handle " + HandleText(*Handle) + " was disposed of meanwhile.");
        }
        *Handle = VI_NULL;
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC IviConfig_GetError(ViStatus* ErrorCode, ViInt32 ErrorDescriptionBufferSize,
                                     ViChar ErrorDescription[]) {
    return Guarded([&]() -> ViStatus {
        // Copy first: a failure of this call must not replace the record it reads.
        const ErrorRecord record = t_error;
        if (ErrorCode != nullptr) {
            *ErrorCode = record.nStatus;
        }
        const ViStatus s = CopyOut(record.strText, ErrorDescriptionBufferSize, ErrorDescription);
        if (s < 0) {
            t_error = record;
        }
        return s;
    });
}

ViStatus _VI_FUNC IviConfig_ClearError(void) {
    t_error.nStatus = VI_SUCCESS;
    t_error.strText.clear();
    return VI_SUCCESS;
}

ViStatus _VI_FUNC IviConfig_GetDriverSession(IviConfigStoreHandle ConfigStoreHandle,
                                             ViConstString Name,
                                             IviDriverSessionHandle* DriverSessionHandle) {
    return Guarded([&]() -> ViStatus {
        if (DriverSessionHandle == nullptr) {
            return NullOutput("DriverSessionHandle");
        }
        *DriverSessionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(ConfigStoreHandle, {Kind::Store}, entry); s < 0) {
            return s;
        }
        const std::string_view svName = Name != nullptr ? Name : "";
        const StoreData& data = *entry.pData;
        const DriverSession* pSession = nullptr;
        if (auto it = data.mapLogicalNames.find(svName); it != data.mapLogicalNames.end()) {
            pSession = &data.vecDriverSessions[data.vecLogicalNames[it->second].nDriverSession];
        } else if (auto itSession = data.mapDriverSessions.find(svName);
                   itSession != data.mapDriverSessions.end()) {
            pSession = &data.vecDriverSessions[itSession->second];
        }
        if (pSession == nullptr) {
            return Fail(IVICONFIG_ERROR_SESSION_NOT_FOUND,
                        "The configuration store holds no logical name or driver session named " +
                            Quoted(svName) + ".");
        }
        return Issue(entry, Kind::DriverSession, pSession,
                     "the driver session " + Quoted(pSession->strName), DriverSessionHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetSessionHardwareAssetReference(
    IviDriverSessionHandle DriverSessionHandle, IviHardwareAssetHandle* HardwareAssetHandle) {
    return Guarded([&]() -> ViStatus {
        if (HardwareAssetHandle == nullptr) {
            return NullOutput("HardwareAssetHandle");
        }
        *HardwareAssetHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(DriverSessionHandle, {Kind::DriverSession}, entry); s < 0) {
            return s;
        }
        const DriverSession& session = Item<DriverSession>(entry);
        if (!session.nHardwareAsset) {
            return VI_SUCCESS;
        }
        const HardwareAsset& asset = entry.pData->vecHardwareAssets[*session.nHardwareAsset];
        return Issue(entry, Kind::HardwareAsset, &asset,
                     "the hardware asset " + Quoted(asset.strName), HardwareAssetHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetSessionSoftwareModuleReference(
    IviDriverSessionHandle DriverSessionHandle, IviSoftwareModuleHandle* SoftwareModuleHandle) {
    return Guarded([&]() -> ViStatus {
        if (SoftwareModuleHandle == nullptr) {
            return NullOutput("SoftwareModuleHandle");
        }
        *SoftwareModuleHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(DriverSessionHandle, {Kind::DriverSession}, entry); s < 0) {
            return s;
        }
        const DriverSession& session = Item<DriverSession>(entry);
        if (!session.nSoftwareModule) {
            return Fail(IVICONFIG_ERROR_NO_REFERENCE, "The driver session " +
                                                          Quoted(session.strName) +
                                                          " does not name a software module.");
        }
        const SoftwareModule& module = entry.pData->vecSoftwareModules[*session.nSoftwareModule];
        return Issue(entry, Kind::SoftwareModule, &module,
                     "the software module " + Quoted(module.strName), SoftwareModuleHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetDriverSessionPropertyViBoolean(
    IviDriverSessionHandle DriverSessionHandle, ViInt32 PropertyID, ViBoolean* Value) {
    return Guarded([&]() -> ViStatus {
        if (Value == nullptr) {
            return NullOutput("Value");
        }
        Entry entry;
        if (const ViStatus s = Resolve(DriverSessionHandle, {Kind::DriverSession}, entry); s < 0) {
            return s;
        }
        const bool* pFlag =
            FindProperty(kDriverSessionBooleans, Item<DriverSession>(entry), PropertyID);
        if (pFlag == nullptr) {
            return UnknownProperty(entry, PropertyID, "boolean");
        }
        *Value = *pFlag ? VI_TRUE : VI_FALSE;
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC
IviConfig_GetDriverSessionPropertyViString(IviDriverSessionHandle DriverSessionHandle,
                                           ViInt32 PropertyID, ViInt32 BufferSize, ViChar Value[]) {
    return Guarded([&] {
        return GetStringProperty(DriverSessionHandle, Kind::DriverSession, kDriverSessionStrings,
                                 PropertyID, BufferSize, Value);
    });
}

ViStatus _VI_FUNC IviConfig_GetSessionVirtualNameCollection(
    IviDriverSessionHandle DriverSessionHandle, IviVirtualNameCollectionHandle* CollectionHandle) {
    return Guarded([&]() -> ViStatus {
        if (CollectionHandle == nullptr) {
            return NullOutput("CollectionHandle");
        }
        *CollectionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(DriverSessionHandle, {Kind::DriverSession}, entry); s < 0) {
            return s;
        }
        const DriverSession& session = Item<DriverSession>(entry);
        return Issue(entry, Kind::VirtualNameCollection, &session.vecVirtualNames,
                     "the driver session " + Quoted(session.strName), CollectionHandle);
    });
}

ViStatus _VI_FUNC
IviConfig_GetHardwareAssetPropertyViString(IviHardwareAssetHandle HardwareAssetHandle,
                                           ViInt32 PropertyID, ViInt32 BufferSize, ViChar Value[]) {
    return Guarded([&] {
        return GetStringProperty(HardwareAssetHandle, Kind::HardwareAsset, kHardwareAssetStrings,
                                 PropertyID, BufferSize, Value);
    });
}

ViStatus _VI_FUNC IviConfig_GetConfigStoreSoftwareModuleCollection(
    IviConfigStoreHandle ConfigStoreHandle, IviSoftwareModuleCollectionHandle* CollectionHandle) {
    return Guarded([&]() -> ViStatus {
        if (CollectionHandle == nullptr) {
            return NullOutput("CollectionHandle");
        }
        *CollectionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(ConfigStoreHandle, {Kind::Store}, entry); s < 0) {
            return s;
        }
        return Issue(entry, Kind::SoftwareModuleCollection, &entry.pData->vecSoftwareModules,
                     "the configuration store", CollectionHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetSoftwareModuleItemByName(
    IviSoftwareModuleCollectionHandle CollectionHandle, ViConstString Name,
    IviSoftwareModuleHandle* SoftwareModuleHandle) {
    return Guarded([&]() -> ViStatus {
        if (SoftwareModuleHandle == nullptr) {
            return NullOutput("SoftwareModuleHandle");
        }
        *SoftwareModuleHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(CollectionHandle, {Kind::SoftwareModuleCollection}, entry);
            s < 0) {
            return s;
        }
        const std::string_view svName = Name != nullptr ? Name : "";
        const auto& vecModules = Item<std::vector<SoftwareModule>>(entry);
        const auto it = std::find_if(vecModules.begin(), vecModules.end(),
                                     [&](const SoftwareModule& m) { return m.strName == svName; });
        if (it == vecModules.end()) {
            return Fail(IVICONFIG_ERROR_NOT_FOUND,
                        "The configuration store holds no software module named " + Quoted(svName) +
                            "; the driver must be registered in the store.");
        }
        return Issue(entry, Kind::SoftwareModule, &*it,
                     "the software module " + Quoted(it->strName), SoftwareModuleHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetSoftwareModulePhysicalNameCollection(
    IviSoftwareModuleHandle SoftwareModuleHandle,
    IviPhysicalNameCollectionHandle* CollectionHandle) {
    return Guarded([&]() -> ViStatus {
        if (CollectionHandle == nullptr) {
            return NullOutput("CollectionHandle");
        }
        *CollectionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(SoftwareModuleHandle, {Kind::SoftwareModule}, entry);
            s < 0) {
            return s;
        }
        const SoftwareModule& module = Item<SoftwareModule>(entry);
        return Issue(entry, Kind::PhysicalNameCollection, &module.vecPhysicalNames,
                     "the software module " + Quoted(module.strName), CollectionHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetPhysicalNameCount(IviPhysicalNameCollectionHandle CollectionHandle,
                                                 ViInt32* Count) {
    return Guarded([&] {
        return CollectionCount<PhysicalName>(CollectionHandle, Kind::PhysicalNameCollection, Count);
    });
}

ViStatus _VI_FUNC
IviConfig_GetPhysicalNameItemByIndex(IviPhysicalNameCollectionHandle CollectionHandle,
                                     ViInt32 Index, IviPhysicalNameHandle* PhysicalNameHandle) {
    return Guarded([&] {
        return CollectionItemByIndex<PhysicalName>(CollectionHandle, Kind::PhysicalNameCollection,
                                                   Kind::PhysicalName, Index, PhysicalNameHandle);
    });
}

ViStatus _VI_FUNC
IviConfig_GetPhysicalNamePropertyViString(IviPhysicalNameHandle PhysicalNameHandle,
                                          ViInt32 PropertyID, ViInt32 BufferSize, ViChar Value[]) {
    return Guarded([&] {
        return GetStringProperty(PhysicalNameHandle, Kind::PhysicalName, kPhysicalNameStrings,
                                 PropertyID, BufferSize, Value);
    });
}

ViStatus _VI_FUNC IviConfig_GetVirtualNameCount(IviVirtualNameCollectionHandle CollectionHandle,
                                                ViInt32* Count) {
    return Guarded([&] {
        return CollectionCount<VirtualName>(CollectionHandle, Kind::VirtualNameCollection, Count);
    });
}

ViStatus _VI_FUNC
IviConfig_GetVirtualNameItemByIndex(IviVirtualNameCollectionHandle CollectionHandle, ViInt32 Index,
                                    IviVirtualNameHandle* VirtualNameHandle) {
    return Guarded([&] {
        return CollectionItemByIndex<VirtualName>(CollectionHandle, Kind::VirtualNameCollection,
                                                  Kind::VirtualName, Index, VirtualNameHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetVirtualNamePropertyViString(IviVirtualNameHandle VirtualNameHandle,
                                                           ViInt32 PropertyID, ViInt32 BufferSize,
                                                           ViChar Value[]) {
    return Guarded([&] {
        return GetStringProperty(VirtualNameHandle, Kind::VirtualName, kVirtualNameStrings,
                                 PropertyID, BufferSize, Value);
    });
}

ViStatus _VI_FUNC IviConfig_GetVirtualNameVirtualRangeCollection(
    IviVirtualNameHandle VirtualNameHandle, IviVirtualRangeCollectionHandle* CollectionHandle) {
    return Guarded([&]() -> ViStatus {
        if (CollectionHandle == nullptr) {
            return NullOutput("CollectionHandle");
        }
        *CollectionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(VirtualNameHandle, {Kind::VirtualName}, entry); s < 0) {
            return s;
        }
        const VirtualName& name = Item<VirtualName>(entry);
        return Issue(entry, Kind::VirtualRangeCollection, &name.vecRanges,
                     "the virtual name " + Quoted(name.strName), CollectionHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetVirtualRangeCount(IviVirtualRangeCollectionHandle CollectionHandle,
                                                 ViInt32* Count) {
    return Guarded([&] {
        return CollectionCount<VirtualRange>(CollectionHandle, Kind::VirtualRangeCollection, Count);
    });
}

ViStatus _VI_FUNC
IviConfig_GetVirtualRangeItemByIndex(IviVirtualRangeCollectionHandle CollectionHandle,
                                     ViInt32 Index, IviVirtualRangeHandle* VirtualRangeHandle) {
    return Guarded([&] {
        return CollectionItemByIndex<VirtualRange>(CollectionHandle, Kind::VirtualRangeCollection,
                                                   Kind::VirtualRange, Index, VirtualRangeHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetVirtualRangePropertyViInt32(IviVirtualRangeHandle VirtualRangeHandle,
                                                           ViInt32 PropertyID, ViInt32* Value) {
    return Guarded([&]() -> ViStatus {
        if (Value == nullptr) {
            return NullOutput("Value");
        }
        Entry entry;
        if (const ViStatus s = Resolve(VirtualRangeHandle, {Kind::VirtualRange}, entry); s < 0) {
            return s;
        }
        const ViInt32* pValue =
            FindProperty(kVirtualRangeIntegers, Item<VirtualRange>(entry), PropertyID);
        if (pValue == nullptr) {
            return UnknownProperty(entry, PropertyID, "integer");
        }
        *Value = *pValue;
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC IviConfig_GetConfigComponentDataComponentCollection(
    IviConfigComponentHandle ConfigComponentHandle,
    IviDataComponentCollectionHandle* CollectionHandle) {
    return Guarded([&]() -> ViStatus {
        if (CollectionHandle == nullptr) {
            return NullOutput("CollectionHandle");
        }
        *CollectionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s =
                Resolve(ConfigComponentHandle,
                        {Kind::DriverSession, Kind::SoftwareModule, Kind::HardwareAsset}, entry);
            s < 0) {
            return s;
        }
        const std::vector<DataComponent>* pComponents = nullptr;
        std::string strName;
        switch (entry.eKind) {
            case Kind::DriverSession:
                pComponents = &Item<DriverSession>(entry).vecDataComponents;
                strName = Item<DriverSession>(entry).strName;
                break;
            case Kind::SoftwareModule:
                pComponents = &Item<SoftwareModule>(entry).vecDataComponents;
                strName = Item<SoftwareModule>(entry).strName;
                break;
            default:
                pComponents = &Item<HardwareAsset>(entry).vecDataComponents;
                strName = Item<HardwareAsset>(entry).strName;
                break;
        }
        return Issue(entry, Kind::DataComponentCollection, pComponents,
                     std::string("the ") + KindName(entry.eKind) + " " + Quoted(strName),
                     CollectionHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetStructureDataComponentCollection(
    IviDataComponentHandle StructureHandle, IviDataComponentCollectionHandle* CollectionHandle) {
    return Guarded([&]() -> ViStatus {
        if (CollectionHandle == nullptr) {
            return NullOutput("CollectionHandle");
        }
        *CollectionHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(StructureHandle, {Kind::DataComponent}, entry); s < 0) {
            return s;
        }
        const DataComponent& structure = Item<DataComponent>(entry);
        if (structure.eType != DataType::Structure) {
            return Fail(IVICONFIG_ERROR_TYPE_MISMATCH,
                        "The data component " + Quoted(structure.strName) + " is of type " +
                            Quoted(structure.strType) + ", not a structure.");
        }
        return Issue(entry, Kind::DataComponentCollection, &structure.vecMembers,
                     "the structure " + Quoted(structure.strName), CollectionHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetDataComponentCount(IviDataComponentCollectionHandle CollectionHandle,
                                                  ViInt32* Count) {
    return Guarded([&] {
        return CollectionCount<DataComponent>(CollectionHandle, Kind::DataComponentCollection,
                                              Count);
    });
}

ViStatus _VI_FUNC
IviConfig_GetDataComponentItemByIndex(IviDataComponentCollectionHandle CollectionHandle,
                                      ViInt32 Index, IviDataComponentHandle* DataComponentHandle) {
    return Guarded([&] {
        return CollectionItemByIndex<DataComponent>(CollectionHandle, Kind::DataComponentCollection,
                                                    Kind::DataComponent, Index,
                                                    DataComponentHandle);
    });
}

ViStatus _VI_FUNC IviConfig_GetDataComponentItemByName(
    IviDataComponentCollectionHandle CollectionHandle, ViConstString Name,
    IviDataComponentHandle* DataComponentHandle) {
    return Guarded([&]() -> ViStatus {
        if (DataComponentHandle == nullptr) {
            return NullOutput("DataComponentHandle");
        }
        *DataComponentHandle = VI_NULL;
        Entry entry;
        if (const ViStatus s = Resolve(CollectionHandle, {Kind::DataComponentCollection}, entry);
            s < 0) {
            return s;
        }
        const std::string_view svName = Name != nullptr ? Name : "";
        const auto& vecComponents = Item<std::vector<DataComponent>>(entry);
        const auto it = std::find_if(vecComponents.begin(), vecComponents.end(),
                                     [&](const DataComponent& c) { return c.strName == svName; });
        if (it == vecComponents.end()) {
            return Fail(IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND,
                        "The data components of " + entry.strOwner + " hold nothing named " +
                            Quoted(svName) + ".");
        }
        return Issue(entry, Kind::DataComponent, &*it, entry.strOwner, DataComponentHandle);
    });
}

}  // extern "C"

namespace {

// The value of a data component is read with the getter of its type.
// The entry keeps the store contents alive while the caller reads the value.
ViStatus ResolveValue(ViSession nHandle, ViInt32 nPropertyId, DataType eType, const char* szType,
                      Entry& entry, const DataComponent*& pComponent) {
    if (const ViStatus s = Resolve(nHandle, {Kind::DataComponent}, entry); s < 0) {
        return s;
    }
    if (nPropertyId != IVICONFIG_VAL_DATA_COMPONENT_VALUE) {
        return UnknownProperty(entry, nPropertyId, szType);
    }
    pComponent = &Item<DataComponent>(entry);
    if (pComponent->eType != eType) {
        return Fail(IVICONFIG_ERROR_TYPE_MISMATCH,
                    "The data component " + Quoted(pComponent->strName) + " is of type " +
                        Quoted(pComponent->strType) + "; its value cannot be read as " + szType +
                        ".");
    }
    return VI_SUCCESS;
}

}  // namespace

extern "C" {

ViStatus _VI_FUNC
IviConfig_GetDataComponentPropertyViString(IviDataComponentHandle DataComponentHandle,
                                           ViInt32 PropertyID, ViInt32 BufferSize, ViChar Value[]) {
    return Guarded([&]() -> ViStatus {
        if (PropertyID != IVICONFIG_VAL_DATA_COMPONENT_VALUE) {
            return GetStringProperty(DataComponentHandle, Kind::DataComponent,
                                     kDataComponentStrings, PropertyID, BufferSize, Value);
        }
        Entry entry;
        if (const ViStatus s = Resolve(DataComponentHandle, {Kind::DataComponent}, entry); s < 0) {
            return s;
        }
        // Strings, and values of types the store does not know, are text.
        const DataComponent& component = Item<DataComponent>(entry);
        if (component.eType != DataType::String && component.eType != DataType::Other) {
            return Fail(IVICONFIG_ERROR_TYPE_MISMATCH,
                        "The data component " + Quoted(component.strName) + " is of type " +
                            Quoted(component.strType) + "; its value cannot be read as a string.");
        }
        return CopyOut(component.strValue, BufferSize, Value);
    });
}

ViStatus _VI_FUNC IviConfig_GetDataComponentPropertyViInt32(
    IviDataComponentHandle DataComponentHandle, ViInt32 PropertyID, ViInt32* Value) {
    return Guarded([&]() -> ViStatus {
        if (Value == nullptr) {
            return NullOutput("Value");
        }
        Entry entry;
        const DataComponent* pComponent = nullptr;
        if (const ViStatus s = ResolveValue(DataComponentHandle, PropertyID, DataType::Integer,
                                            "an integer", entry, pComponent);
            s < 0) {
            return s;
        }
        *Value = pComponent->nValue;
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC IviConfig_GetDataComponentPropertyViReal64(
    IviDataComponentHandle DataComponentHandle, ViInt32 PropertyID, ViReal64* Value) {
    return Guarded([&]() -> ViStatus {
        if (Value == nullptr) {
            return NullOutput("Value");
        }
        Entry entry;
        const DataComponent* pComponent = nullptr;
        if (const ViStatus s = ResolveValue(DataComponentHandle, PropertyID, DataType::Real,
                                            "a real", entry, pComponent);
            s < 0) {
            return s;
        }
        *Value = pComponent->dValue;
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC IviConfig_GetDataComponentPropertyViBoolean(
    IviDataComponentHandle DataComponentHandle, ViInt32 PropertyID, ViBoolean* Value) {
    return Guarded([&]() -> ViStatus {
        if (Value == nullptr) {
            return NullOutput("Value");
        }
        Entry entry;
        const DataComponent* pComponent = nullptr;
        if (const ViStatus s = ResolveValue(DataComponentHandle, PropertyID, DataType::Boolean,
                                            "a boolean", entry, pComponent);
            s < 0) {
            return s;
        }
        *Value = pComponent->bValue ? VI_TRUE : VI_FALSE;
        return VI_SUCCESS;
    });
}

}  // extern "C"
