/* IVI Configuration Server C API: the configuration store with its logical
 * names, driver sessions, hardware assets, software modules, virtual names and
 * data components, as an IVI-C driver reads it during initialization.
 *
 * Every store object is reached through a 32-bit handle. Handles are checked on
 * every call: a handle that was never issued, was disposed of, belongs to a
 * closed store or is of the wrong kind gives IVICONFIG_ERROR_INVALID_HANDLE.
 * Item and collection handles are released with IviConfig_DisposeHandle;
 * IviConfig_Close releases the store and every handle obtained through it.
 *
 * Strings follow the IVI buffer convention: BufferSize 0 returns the size
 * needed (terminator included) and Value may be VI_NULL; a buffer that is too
 * small receives a truncated, terminated text and the size needed is returned
 * (a positive number); a large enough buffer gives VI_SUCCESS.
 *
 * Every failure is described for the calling thread; IviConfig_GetError
 * returns that description and IviConfig_ClearError forgets it. */
#ifndef TARVEK_IVI_CONFIG_SERVER_H
#define TARVEK_IVI_CONFIG_SERVER_H

#include "visatype.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef ViSession IviConfigStoreHandle;
typedef ViSession IviConfigComponentHandle; /* driver session, software module or hardware asset */
typedef ViSession IviDriverSessionHandle;
typedef ViSession IviHardwareAssetHandle;
typedef ViSession IviSoftwareModuleHandle;
typedef ViSession IviPhysicalNameHandle;
typedef ViSession IviVirtualNameHandle;
typedef ViSession IviVirtualRangeHandle;
typedef ViSession IviDataComponentHandle;
typedef ViSession IviSoftwareModuleCollectionHandle;
typedef ViSession IviPhysicalNameCollectionHandle;
typedef ViSession IviVirtualNameCollectionHandle;
typedef ViSession IviVirtualRangeCollectionHandle;
typedef ViSession IviDataComponentCollectionHandle;
typedef ViSession IviHandle; /* any of the above */

/* Store properties (strings). */
#define IVICONFIG_VAL_CONFIG_STORE_MASTER_LOCATION 3
#define IVICONFIG_VAL_CONFIG_STORE_PROCESS_DEFAULT_LOCATION 5

/* Hardware asset properties (strings). */
#define IVICONFIG_VAL_HARDWARE_ASSET_NAME 1
#define IVICONFIG_VAL_HARDWARE_ASSET_DESCRIPTION 2
#define IVICONFIG_VAL_HARDWARE_ASSET_IO_RESOURCE_DESCRIPTOR 3

/* Driver session properties: 1, 2 and 10 are strings, 4 to 9 booleans. */
#define IVICONFIG_VAL_DRIVER_SESSION_NAME 1
#define IVICONFIG_VAL_DRIVER_SESSION_DESCRIPTION 2
#define IVICONFIG_VAL_DRIVER_SESSION_CACHE 4
#define IVICONFIG_VAL_DRIVER_SESSION_INTERCHANGE_CHECK 5
#define IVICONFIG_VAL_DRIVER_SESSION_QUERY_INSTR_STATUS 6
#define IVICONFIG_VAL_DRIVER_SESSION_RANGE_CHECK 7
#define IVICONFIG_VAL_DRIVER_SESSION_RECORD_COERCIONS 8
#define IVICONFIG_VAL_DRIVER_SESSION_SIMULATE 9
#define IVICONFIG_VAL_DRIVER_SESSION_DRIVER_SETUP 10

/* Virtual name properties (strings). */
#define IVICONFIG_VAL_VIRTUAL_NAME_NAME 1
#define IVICONFIG_VAL_VIRTUAL_NAME_MAP_TO 2

/* Virtual range properties (32-bit integers). */
#define IVICONFIG_VAL_VIRTUAL_RANGE_MIN 2
#define IVICONFIG_VAL_VIRTUAL_RANGE_MAX 3
#define IVICONFIG_VAL_VIRTUAL_RANGE_STARTING_PHYSICAL_INDEX 4

/* Physical name properties (strings). */
#define IVICONFIG_VAL_PHYSICAL_NAME_NAME 1
#define IVICONFIG_VAL_PHYSICAL_NAME_RC_NAME 2

/* Data component properties: name, description and type are strings; the
 * value is read with the getter of the component's type ("Boolean",
 * "Integer", "Real", "String", in any letter case; a type the store does not
 * know keeps its value as text, readable as a string). */
#define IVICONFIG_VAL_DATA_COMPONENT_NAME 1
#define IVICONFIG_VAL_DATA_COMPONENT_DESCRIPTION 2
#define IVICONFIG_VAL_DATA_COMPONENT_TYPE 7
#define IVICONFIG_VAL_DATA_COMPONENT_VALUE 9

/* Statuses. Only IVICONFIG_ERROR_SESSION_NOT_FOUND and
 * IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND mean "absent" to a caller; every
 * other negative status is a failure. */
#define IVICONFIG_ERROR_BASE ((ViStatus)0xBFFA1200)
#define IVICONFIG_ERROR_DESERIALIZE_FAILED ((ViStatus)0xBFFA1200)
#define IVICONFIG_ERROR_SESSION_NOT_FOUND ((ViStatus)0xBFFA1203)
#define IVICONFIG_ERROR_NOT_FOUND ((ViStatus)0xBFFA1206)
#define IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND ((ViStatus)0xBFFA1207)
#define IVICONFIG_ERROR_INVALID_HANDLE ((ViStatus)0xBFFA1208)
#define IVICONFIG_ERROR_INVALID_PROPERTY_ID ((ViStatus)0xBFFA1209)
#define IVICONFIG_ERROR_INVALID_INDEX ((ViStatus)0xBFFA120A)
#define IVICONFIG_ERROR_TYPE_MISMATCH ((ViStatus)0xBFFA120B)
#define IVICONFIG_ERROR_NULL_POINTER ((ViStatus)0xBFFA120C)
#define IVICONFIG_ERROR_INVALID_PARAMETER ((ViStatus)0xBFFA120D)
#define IVICONFIG_ERROR_NO_REFERENCE ((ViStatus)0xBFFA120E)
#define IVICONFIG_ERROR_OUT_OF_MEMORY ((ViStatus)0xBFFA120F)

/* The standard description of a store status ("Session not found."), or
 * null for a code that is not the store's. */
const char* IviConfig_StatusDescription(ViStatus Status);

/* Store. */
ViStatus _VI_FUNC IviConfig_Initialize(IviConfigStoreHandle* ConfigStoreHandle);
ViStatus _VI_FUNC IviConfig_Close(IviConfigStoreHandle ConfigStoreHandle);
ViStatus _VI_FUNC IviConfig_Deserialize(IviConfigStoreHandle ConfigStoreHandle,
                                        ViConstString Location);
ViStatus _VI_FUNC IviConfig_GetConfigStorePropertyViString(IviConfigStoreHandle ConfigStoreHandle,
                                                           ViInt32 PropertyID, ViInt32 BufferSize,
                                                           ViChar Value[]);
/* Only the process default location (5) is writable; it applies to the whole
 * process and an empty text unsets it. */
ViStatus _VI_FUNC IviConfig_SetConfigStorePropertyViString(IviConfigStoreHandle ConfigStoreHandle,
                                                           ViInt32 PropertyID, ViConstString Value);
/* Releases any item or collection handle (a store handle is closed). VI_NULL
 * is accepted and ignored; on success *Handle becomes VI_NULL. */
ViStatus _VI_FUNC IviConfig_DisposeHandle(IviHandle* Handle);

/* Errors of the calling thread. */
ViStatus _VI_FUNC IviConfig_GetError(ViStatus* ErrorCode, ViInt32 ErrorDescriptionBufferSize,
                                     ViChar ErrorDescription[]);
ViStatus _VI_FUNC IviConfig_ClearError(void);

/* Driver sessions. Name is a logical name or, failing that, a driver session
 * name; IVICONFIG_ERROR_SESSION_NOT_FOUND when it is neither. */
ViStatus _VI_FUNC IviConfig_GetDriverSession(IviConfigStoreHandle ConfigStoreHandle,
                                             ViConstString Name,
                                             IviDriverSessionHandle* DriverSessionHandle);
/* VI_SUCCESS with *HardwareAssetHandle VI_NULL when the session has none. */
ViStatus _VI_FUNC IviConfig_GetSessionHardwareAssetReference(
    IviDriverSessionHandle DriverSessionHandle, IviHardwareAssetHandle* HardwareAssetHandle);
/* IVICONFIG_ERROR_NO_REFERENCE when the session names no software module. */
ViStatus _VI_FUNC IviConfig_GetSessionSoftwareModuleReference(
    IviDriverSessionHandle DriverSessionHandle, IviSoftwareModuleHandle* SoftwareModuleHandle);
ViStatus _VI_FUNC IviConfig_GetDriverSessionPropertyViBoolean(
    IviDriverSessionHandle DriverSessionHandle, ViInt32 PropertyID, ViBoolean* Value);
ViStatus _VI_FUNC
IviConfig_GetDriverSessionPropertyViString(IviDriverSessionHandle DriverSessionHandle,
                                           ViInt32 PropertyID, ViInt32 BufferSize, ViChar Value[]);
ViStatus _VI_FUNC IviConfig_GetSessionVirtualNameCollection(
    IviDriverSessionHandle DriverSessionHandle, IviVirtualNameCollectionHandle* CollectionHandle);

/* Hardware assets. */
ViStatus _VI_FUNC
IviConfig_GetHardwareAssetPropertyViString(IviHardwareAssetHandle HardwareAssetHandle,
                                           ViInt32 PropertyID, ViInt32 BufferSize, ViChar Value[]);

/* Software modules. */
ViStatus _VI_FUNC IviConfig_GetConfigStoreSoftwareModuleCollection(
    IviConfigStoreHandle ConfigStoreHandle, IviSoftwareModuleCollectionHandle* CollectionHandle);
/* IVICONFIG_ERROR_NOT_FOUND when no module has that name. */
ViStatus _VI_FUNC IviConfig_GetSoftwareModuleItemByName(
    IviSoftwareModuleCollectionHandle CollectionHandle, ViConstString Name,
    IviSoftwareModuleHandle* SoftwareModuleHandle);
ViStatus _VI_FUNC IviConfig_GetSoftwareModulePhysicalNameCollection(
    IviSoftwareModuleHandle SoftwareModuleHandle,
    IviPhysicalNameCollectionHandle* CollectionHandle);

/* Physical names. Items are numbered from 1 to the count. */
ViStatus _VI_FUNC IviConfig_GetPhysicalNameCount(IviPhysicalNameCollectionHandle CollectionHandle,
                                                 ViInt32* Count);
ViStatus _VI_FUNC
IviConfig_GetPhysicalNameItemByIndex(IviPhysicalNameCollectionHandle CollectionHandle,
                                     ViInt32 Index, IviPhysicalNameHandle* PhysicalNameHandle);
ViStatus _VI_FUNC
IviConfig_GetPhysicalNamePropertyViString(IviPhysicalNameHandle PhysicalNameHandle,
                                          ViInt32 PropertyID, ViInt32 BufferSize, ViChar Value[]);

/* Virtual names and their ranges. Items are numbered from 1 to the count. */
ViStatus _VI_FUNC IviConfig_GetVirtualNameCount(IviVirtualNameCollectionHandle CollectionHandle,
                                                ViInt32* Count);
ViStatus _VI_FUNC
IviConfig_GetVirtualNameItemByIndex(IviVirtualNameCollectionHandle CollectionHandle, ViInt32 Index,
                                    IviVirtualNameHandle* VirtualNameHandle);
ViStatus _VI_FUNC IviConfig_GetVirtualNamePropertyViString(IviVirtualNameHandle VirtualNameHandle,
                                                           ViInt32 PropertyID, ViInt32 BufferSize,
                                                           ViChar Value[]);
ViStatus _VI_FUNC IviConfig_GetVirtualNameVirtualRangeCollection(
    IviVirtualNameHandle VirtualNameHandle, IviVirtualRangeCollectionHandle* CollectionHandle);
ViStatus _VI_FUNC IviConfig_GetVirtualRangeCount(IviVirtualRangeCollectionHandle CollectionHandle,
                                                 ViInt32* Count);
ViStatus _VI_FUNC
IviConfig_GetVirtualRangeItemByIndex(IviVirtualRangeCollectionHandle CollectionHandle,
                                     ViInt32 Index, IviVirtualRangeHandle* VirtualRangeHandle);
ViStatus _VI_FUNC IviConfig_GetVirtualRangePropertyViInt32(IviVirtualRangeHandle VirtualRangeHandle,
                                                           ViInt32 PropertyID, ViInt32* Value);

/* Data components. A structure's members are reached through its own
 * collection. Items are numbered from 1 to the count. */
ViStatus _VI_FUNC IviConfig_GetConfigComponentDataComponentCollection(
    IviConfigComponentHandle ConfigComponentHandle,
    IviDataComponentCollectionHandle* CollectionHandle);
ViStatus _VI_FUNC IviConfig_GetStructureDataComponentCollection(
    IviDataComponentHandle StructureHandle, IviDataComponentCollectionHandle* CollectionHandle);
ViStatus _VI_FUNC IviConfig_GetDataComponentCount(IviDataComponentCollectionHandle CollectionHandle,
                                                  ViInt32* Count);
ViStatus _VI_FUNC
IviConfig_GetDataComponentItemByIndex(IviDataComponentCollectionHandle CollectionHandle,
                                      ViInt32 Index, IviDataComponentHandle* DataComponentHandle);
/* IVICONFIG_ERROR_DATA_COMPONENT_NOT_FOUND when no item has that name. */
ViStatus _VI_FUNC IviConfig_GetDataComponentItemByName(
    IviDataComponentCollectionHandle CollectionHandle, ViConstString Name,
    IviDataComponentHandle* DataComponentHandle);
ViStatus _VI_FUNC
IviConfig_GetDataComponentPropertyViString(IviDataComponentHandle DataComponentHandle,
                                           ViInt32 PropertyID, ViInt32 BufferSize, ViChar Value[]);
ViStatus _VI_FUNC IviConfig_GetDataComponentPropertyViInt32(
    IviDataComponentHandle DataComponentHandle, ViInt32 PropertyID, ViInt32* Value);
ViStatus _VI_FUNC IviConfig_GetDataComponentPropertyViReal64(
    IviDataComponentHandle DataComponentHandle, ViInt32 PropertyID, ViReal64* Value);
ViStatus _VI_FUNC IviConfig_GetDataComponentPropertyViBoolean(
    IviDataComponentHandle DataComponentHandle, ViInt32 PropertyID, ViBoolean* Value);

#ifdef __cplusplus
}
#endif

#endif /* TARVEK_IVI_CONFIG_SERVER_H */
