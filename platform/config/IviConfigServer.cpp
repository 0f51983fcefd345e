// The configuration store API over a process-wide handle table. Every handle
// names a kind of object, the store it came from and the immutable contents it
// points into (shared, so the contents outlive a new deserialization). Handles
// are never reused; a stale or foreign handle is therefore always reported as
// invalid. Closing a store releases every handle obtained through it.
//
// This file holds the store itself: opening, loading and closing it, its
// locations, disposing of handles and the error record. The handle table and
// the steps every call shares are in ConfigHandles; the calls that walk the
// store's objects are in IviConfigObjects.cpp.
#include "IviConfigServer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "ConfigHandles.h"
#include "ConfigStore.h"

namespace cfgstore {
namespace {

// Where the store lives when IVI_CONFIG_STORE is not set.
constexpr const char* kDefaultMasterLocation = "/etc/ivi/IviConfigurationStore.xml";
constexpr const char* kMasterLocationVariable = "IVI_CONFIG_STORE";

// ---- process default location ----

std::mutex g_locationMutex;
std::string g_strProcessDefaultLocation;

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
        const ErrorRecord record = ThreadError();
        if (ErrorCode != nullptr) {
            *ErrorCode = record.nStatus;
        }
        const ViStatus s = CopyOut(record.strText, ErrorDescriptionBufferSize, ErrorDescription);
        if (s < 0) {
            ThreadError() = record;
        }
        return s;
    });
}

ViStatus _VI_FUNC IviConfig_ClearError(void) {
    ThreadError().nStatus = VI_SUCCESS;
    ThreadError().strText.clear();
    return VI_SUCCESS;
}

}  // extern "C"
