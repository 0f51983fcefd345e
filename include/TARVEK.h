/* TARVEK: IVI-C driver for 631X and 651X Series DC power supplies.
 *
 * Open a session with TARVEK_init or TARVEK_InitWithOptions, naming a VISA
 * resource (for example "TCPIP::192.168.1.20::5025::SOCKET") or a logical name
 * of the configuration store; every other function takes the session handle
 * and returns a ViStatus (0 success, negative error, positive warning). Read
 * the text of a failure with TARVEK_GetError; with handle VI_NULL it explains
 * a failed initialization. */
#ifndef TARVEK_H
#define TARVEK_H

#include "ivi.h"
#include "visatype.h"

#if defined(_WIN32)
#if defined(TARVEK_BUILDING_LIBRARY)
#define TARVEK_API __declspec(dllexport)
#else
#define TARVEK_API __declspec(dllimport)
#endif
#else
#define TARVEK_API __attribute__((visibility("default")))
#endif

/* clang-format off */
/*- Attribute identifiers ----------------------------------------------------*/

/*- Output and protection ----------------------------------------------------*/
#define TARVEK_ATTR_VOLTAGE_LEVEL                                      1250001 /* ViReal64, read-write, per channel */
#define TARVEK_ATTR_OVP_ENABLED                                        1250002 /* ViBoolean, read-write, per channel */
#define TARVEK_ATTR_OVP_LIMIT                                          1250003 /* ViReal64, read-write, per channel */
#define TARVEK_ATTR_CURRENT_LIMIT_BEHAVIOR                             1250004 /* ViInt32, read-write, per channel */
#define TARVEK_ATTR_CURRENT_LIMIT                                      1250005 /* ViReal64, read-write, per channel */
#define TARVEK_ATTR_OUTPUT_ENABLED                                     1250006 /* ViBoolean, read-write, per channel */
#define TARVEK_ATTR_CURRENT_LEVEL                                      1150037 /* ViReal64, read-write */
#define TARVEK_ATTR_CURRENT_PROTECTION_LEVEL                           1150040 /* ViReal64, read-write */
#define TARVEK_ATTR_OCP_ENABLED                                        1150038 /* ViBoolean, read-write */
#define TARVEK_ATTR_OCP_TRIPPED                                        1150039 /* ViBoolean, read-only */
#define TARVEK_ATTR_VOLTAGE_PROTECTION_LEVEL                           1150046 /* ViReal64, read-write */
#define TARVEK_ATTR_OVP_TRIPPED                                        1150045 /* ViBoolean, read-only */
#define TARVEK_ATTR_CURRENT_SLEW_RATE                                  1150041 /* ViReal64, read-write */
#define TARVEK_ATTR_VOLTAGE_SLEW_RATE                                  1150047 /* ViReal64, read-write */
#define TARVEK_ATTR_VOLTAGE_MAXIMUM                                    1150043 /* ViReal64, read-write */
#define TARVEK_ATTR_VOLTAGE_MINIMUM                                    1150044 /* ViReal64, read-write */
#define TARVEK_ATTR_VOLTAGE_SENSE_ENABLED                              1150048 /* ViBoolean, read-write */
#define TARVEK_ATTR_OUTPUT_MODE                                        1150034 /* ViInt32, read-write */
#define TARVEK_ATTR_SELECTED_CHANNEL                                   1150032 /* ViInt32, read-write */
#define TARVEK_ATTR_TIMER_ENABLED                                      1150035 /* ViBoolean, read-write */
#define TARVEK_ATTR_TIMER_RUN                                          1150036 /* ViString, read-write */

/*- Triggering ---------------------------------------------------------------*/
#define TARVEK_ATTR_TRIGGER_SOURCE                                     1250101 /* ViInt32, read-write, per channel */
#define TARVEK_ATTR_TRIGGERED_CURRENT_LIMIT                            1250102 /* ViReal64, read-write */
#define TARVEK_ATTR_TRIGGERED_VOLTAGE_LEVEL                            1250103 /* ViReal64, read-write */

/*- List mode ----------------------------------------------------------------*/
#define TARVEK_ATTR_SELECTED_LIST                                      1150055 /* ViInt32, read-write */
#define TARVEK_ATTR_SELECTED_STEP                                      1150056 /* ViInt32, read-write */
#define TARVEK_ATTR_STEP_VOLTAGE                                       1150058 /* ViReal64, read-write */
#define TARVEK_ATTR_STEP_CURRENT                                       1150057 /* ViReal64, read-write */
#define TARVEK_ATTR_LIST_DWELL                                         1150051 /* ViReal64, read-write */
#define TARVEK_ATTR_LIST_PACE                                          1150053 /* ViInt32, read-write */
#define TARVEK_ATTR_LIST_REPEAT_COUNT                                  1150054 /* ViInt32, read-write */
#define TARVEK_ATTR_LIST_TERMINATE_STATE                               1150059 /* ViInt32, read-write */
#define TARVEK_ATTR_NEXT_LIST                                          1150052 /* ViInt32, read-write */
#define TARVEK_ATTR_LIST_TRIGGER_SOURCE                                1150060 /* ViInt32, read-write */
#define TARVEK_ATTR_BEGINNING_OF_STEP_TRIGGER_ENABLED                  1150049 /* ViBoolean, read-write */
#define TARVEK_ATTR_END_OF_STEP_TRIGGER_ENABLED                        1150050 /* ViBoolean, read-write */

/*- Battery test (Series6510 only) -------------------------------------------*/
#define TARVEK_ATTR_BATTERY_TEST_AH_LOGGING_ENABLED                    1150064 /* ViBoolean, read-write */
#define TARVEK_ATTR_BATTERY_TEST_CHARGE_MODE_ENABLED                   1150065 /* ViBoolean, read-write */
#define TARVEK_ATTR_BATTERY_TEST_CURRENT                               1150066 /* ViReal64, read-write */
#define TARVEK_ATTR_BATTERY_TEST_END_CURRENT                           1150067 /* ViReal64, read-write */
#define TARVEK_ATTR_BATTERY_TEST_END_DELAY                             1150068 /* ViInt32, read-write */
#define TARVEK_ATTR_BATTERY_TEST_IS_RUNNING                            1150069 /* ViBoolean, read-only */
#define TARVEK_ATTR_BATTERY_TEST_SAMPLE_TIME                           1150070 /* ViReal64, read-write */
#define TARVEK_ATTR_BATTERY_TEST_TRIGGER_SOURCE                        1150071 /* ViInt32, read-write */
#define TARVEK_ATTR_BATTERY_TEST_VOLTAGE                               1150072 /* ViReal64, read-write */
#define TARVEK_ATTR_BATTERY_TEST_WH_LOGGING_ENABLED                    1150073 /* ViBoolean, read-write */
#define TARVEK_ATTR_BATTERY_TEST_FAIL_SAFE_AH_VALUE                    1150074 /* ViReal64, read-write */
#define TARVEK_ATTR_BATTERY_TEST_FAIL_SAFE_ENABLED                     1150075 /* ViBoolean, read-write */
#define TARVEK_ATTR_BATTERY_TEST_FAIL_SAFE_OVER_VOLTAGE_PROTECTION     1150076 /* ViReal64, read-write */
#define TARVEK_ATTR_BATTERY_TEST_FAIL_SAFE_TIME                        1150077 /* ViString, read-write */
#define TARVEK_ATTR_BATTERY_TEST_FAIL_SAFE_WH_VALUE                    1150078 /* ViReal64, read-write */

/*- Data logger and digital I/O ----------------------------------------------*/
#define TARVEK_ATTR_DATA_LOGGER_SAMPLE_INTERVAL                        1150027 /* ViReal64, read-write */
#define TARVEK_ATTR_DATA_LOGGER_TRIGGER_SOURCE                         1150028 /* ViInt32, read-write */
#define TARVEK_ATTR_DIGITAL_INHIBIT_MODE                               1150029 /* ViInt32, read-write */
#define TARVEK_ATTR_DIGITAL_INPUT_DATA                                 1150030 /* ViInt32, read-only */
#define TARVEK_ATTR_DIGITAL_OUTPUT_DATA                                1150031 /* ViInt32, read-write */

/*- Status registers ---------------------------------------------------------*/
#define TARVEK_ATTR_QUESTIONABLE_ENABLE_REGISTER                       1150012 /* ViInt32, read-write */
#define TARVEK_ATTR_QUESTIONABLE_EVENT_REGISTER                        1150014 /* ViInt32, read-only */
#define TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_ENABLE_REGISTER            1150061 /* ViInt32, read-write */
#define TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_EVENT_REGISTER             1150062 /* ViInt32, read-only */
#define TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY1_CONDITION_REGISTER 1150015 /* ViInt32, read-only */
#define TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY1_ENABLE_REGISTER   1150016 /* ViInt32, read-write */
#define TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY1_EVENT_REGISTER    1150017 /* ViInt32, read-only */
#define TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY2_CONDITION_REGISTER 1150018 /* ViInt32, read-only */
#define TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY2_ENABLE_REGISTER   1150019 /* ViInt32, read-write */
#define TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY2_EVENT_REGISTER    1150020 /* ViInt32, read-only */
#define TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY3_CONDITION_REGISTER 1150021 /* ViInt32, read-only */
#define TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY3_ENABLE_REGISTER   1150022 /* ViInt32, read-write */
#define TARVEK_ATTR_QUESTIONABLE_INSTRUMENT_SUMMARY3_EVENT_REGISTER    1150023 /* ViInt32, read-only */
#define TARVEK_ATTR_STANDARD_EVENT_ENABLE_REGISTER                     1150011 /* ViInt32, read-write */
#define TARVEK_ATTR_STANDARD_EVENT_EVENT_REGISTER                      1150024 /* ViInt32, read-only */
#define TARVEK_ATTR_STATUS_BYTE_ENABLE_REGISTER                        1150010 /* ViInt32, read-write */
#define TARVEK_ATTR_STATUS_BYTE_EVENT_REGISTER                         1150025 /* ViInt32, read-only */
#define TARVEK_ATTR_POWER_ON_STATUS_CLEAR_ENABLED                      1150063 /* ViBoolean, read-write */

/*- System -------------------------------------------------------------------*/
#define TARVEK_ATTR_BEEPER_ENABLED                                     1150003 /* ViBoolean, read-write */
#define TARVEK_ATTR_DISPLAY_ENABLED                                    1150005 /* ViBoolean, read-write */
#define TARVEK_ATTR_LXI_IDENTIFY_ENABLED                               1150007 /* ViBoolean, read-write */
#define TARVEK_ATTR_REMOTE_STATE                                       1150006 /* ViInt32, read-write */
#define TARVEK_ATTR_SCPI_VERSION                                       1150008 /* ViString, read-only */
#define TARVEK_ATTR_SYSTEM_DATE                                        1150004 /* ViString, read-write */
#define TARVEK_ATTR_SYSTEM_TIME                                        1150009 /* ViString, read-write */
#define TARVEK_ATTR_SYSTEM_IO_TIMEOUT                                  1150002 /* ViInt32, read-write */
#define TARVEK_ATTR_SYSTEM_IO_SESSION                                  1150001 /* ViSession, read-only */

/*- Inherent -----------------------------------------------------------------*/
#define TARVEK_ATTR_RANGE_CHECK                                        1050002 /* ViBoolean, read-write */
#define TARVEK_ATTR_QUERY_INSTRUMENT_STATUS                            1050003 /* ViBoolean, read-write */
#define TARVEK_ATTR_CACHE                                              1050004 /* ViBoolean, read-write */
#define TARVEK_ATTR_SIMULATE                                           1050005 /* ViBoolean, read-write */
#define TARVEK_ATTR_RECORD_COERCIONS                                   1050006 /* ViBoolean, read-write */
#define TARVEK_ATTR_DRIVER_SETUP                                       1050007 /* ViString, read-only */
#define TARVEK_ATTR_INTERCHANGE_CHECK                                  1050021 /* ViBoolean, read-write */
#define TARVEK_ATTR_CHANNEL_COUNT                                      1050203 /* ViInt32, read-only */
#define TARVEK_ATTR_SPECIFIC_DRIVER_PREFIX                             1050302 /* ViString, read-only */
#define TARVEK_ATTR_IO_RESOURCE_DESCRIPTOR                             1050304 /* ViString, read-only */
#define TARVEK_ATTR_LOGICAL_NAME                                       1050305 /* ViString, read-only */
#define TARVEK_ATTR_SUPPORTED_INSTRUMENT_MODELS                        1050327 /* ViString, read-only */
#define TARVEK_ATTR_GROUP_CAPABILITIES                                 1050401 /* ViString, read-only */
#define TARVEK_ATTR_INSTRUMENT_FIRMWARE_REVISION                       1050510 /* ViString, read-only */
#define TARVEK_ATTR_INSTRUMENT_MANUFACTURER                            1050511 /* ViString, read-only */
#define TARVEK_ATTR_INSTRUMENT_MODEL                                   1050512 /* ViString, read-only */
#define TARVEK_ATTR_SPECIFIC_DRIVER_VENDOR                             1050513 /* ViString, read-only */
#define TARVEK_ATTR_SPECIFIC_DRIVER_DESCRIPTION                        1050514 /* ViString, read-only */
#define TARVEK_ATTR_SPECIFIC_DRIVER_CLASS_SPEC_MAJOR_VERSION           1050515 /* ViInt32, read-only */
#define TARVEK_ATTR_SPECIFIC_DRIVER_CLASS_SPEC_MINOR_VERSION           1050516 /* ViInt32, read-only */
#define TARVEK_ATTR_SPECIFIC_DRIVER_REVISION                           1050551 /* ViString, read-only */

/* clang-format on */

/*- Defined values -----------------------------------------------------------*/

/* TARVEK_ATTR_SELECTED_CHANNEL; TARVEK_StartList, TARVEK_AbortList,
 * TARVEK_ConfigureContinuousTrigger */
#define TARVEK_VAL_CHANNEL1 0
#define TARVEK_VAL_CHANNEL2 1
#define TARVEK_VAL_CHANNEL3 2

/* TARVEK_ATTR_CURRENT_LIMIT_BEHAVIOR; TARVEK_ConfigureCurrentLimit */
#define TARVEK_VAL_CURRENT_REGULATE 0
#define TARVEK_VAL_CURRENT_TRIP 1

/* TARVEK_ConfigureDigitalFunction */
#define TARVEK_VAL_DIGITAL_PIN_FUNCTION_NONE 0
#define TARVEK_VAL_DIGITAL_PIN_FUNCTION_DIGITAL_OUTPUT 1
#define TARVEK_VAL_DIGITAL_PIN_FUNCTION_DIGITAL_INPUT 2
#define TARVEK_VAL_DIGITAL_PIN_FUNCTION_TRIGGER_OUTPUT 3
#define TARVEK_VAL_DIGITAL_PIN_FUNCTION_TRIGGER_INPUT 4
#define TARVEK_VAL_DIGITAL_PIN_FUNCTION_FAULT 5
#define TARVEK_VAL_DIGITAL_PIN_FUNCTION_INHIBIT 6

/* TARVEK_ConfigureDigitalPolarity */
#define TARVEK_VAL_DIGITAL_PIN_POLARITY_POSITIVE 0
#define TARVEK_VAL_DIGITAL_PIN_POLARITY_NEGATIVE 1

/* TARVEK_ATTR_DIGITAL_INHIBIT_MODE */
#define TARVEK_VAL_INHIBIT_MODE_LATCHING 0
#define TARVEK_VAL_INHIBIT_MODE_LIVE 1
#define TARVEK_VAL_INHIBIT_MODE_OFF 2

/* TARVEK_ATTR_LIST_PACE */
#define TARVEK_VAL_LIST_PACE_TRIGGER 1
#define TARVEK_VAL_LIST_PACE_DWELL 0

/* TARVEK_ATTR_LIST_TERMINATE_STATE */
#define TARVEK_VAL_LIST_TERMINATE_STATEDC 0
#define TARVEK_VAL_LIST_TERMINATE_STATE_LAST 1

/* TARVEK_ATTR_OUTPUT_MODE (output pairing; Series6310 only) */
#define TARVEK_VAL_OUTPUT_MODE_OFF 0
#define TARVEK_VAL_OUTPUT_MODE_PARALLEL2 1
#define TARVEK_VAL_OUTPUT_MODE_PARALLEL3 2
#define TARVEK_VAL_OUTPUT_MODE_SERIES2 3
#define TARVEK_VAL_OUTPUT_MODE_SERIES3 4
#define TARVEK_VAL_OUTPUT_MODE_TRACK2 5
#define TARVEK_VAL_OUTPUT_MODE_TRACK3 6

/* TARVEK_ConfigurePowerOnState, TARVEK_QueryPowerOnState */
#define TARVEK_VAL_POWER_ON_STATE_DISABLED 0
#define TARVEK_VAL_POWER_ON_STATE_LAST_STATE 1
#define TARVEK_VAL_POWER_ON_STATE_USER_STATE 2

/* TARVEK_ATTR_REMOTE_STATE */
#define TARVEK_VAL_REMOTE_STATE_REMOTE 0
#define TARVEK_VAL_REMOTE_STATE_LOCAL 1
#define TARVEK_VAL_REMOTE_STATE_REMOTE_WITH_LOCK 2

/* TARVEK_ATTR_LIST_TRIGGER_SOURCE, TARVEK_ATTR_BATTERY_TEST_TRIGGER_SOURCE,
 * TARVEK_ATTR_DATA_LOGGER_TRIGGER_SOURCE */
#define TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_BUS 0
#define TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_EXTERNAL 1
#define TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_IMMEDIATE 2

/* TARVEK_Measure */
#define TARVEK_VAL_MEASURE_CURRENT 0
#define TARVEK_VAL_MEASURE_VOLTAGE 1

/* TARVEK_QueryOutputState */
#define TARVEK_VAL_OUTPUT_CONSTANT_VOLTAGE 0
#define TARVEK_VAL_OUTPUT_CONSTANT_CURRENT 1
#define TARVEK_VAL_OUTPUT_OVER_VOLTAGE 2
#define TARVEK_VAL_OUTPUT_OVER_CURRENT 3
#define TARVEK_VAL_OUTPUT_UNREGULATED 4

/* TARVEK_ATTR_TRIGGER_SOURCE; TARVEK_ConfigureTriggerSource. Only IMMEDIATE,
 * EXTERNAL and SOFTWARE_TRIG are accepted by these instruments. */
#define TARVEK_VAL_TRIG_IMMEDIATE 0
#define TARVEK_VAL_TRIG_EXTERNAL 1
#define TARVEK_VAL_SOFTWARE_TRIG 2
#define TARVEK_VAL_TRIG_TTL0 3
#define TARVEK_VAL_TRIG_TTL1 4
#define TARVEK_VAL_TRIG_TTL2 5
#define TARVEK_VAL_TRIG_TTL3 6
#define TARVEK_VAL_TRIG_TTL4 7
#define TARVEK_VAL_TRIG_TTL5 8
#define TARVEK_VAL_TRIG_TTL6 9
#define TARVEK_VAL_TRIG_TTL7 10
#define TARVEK_VAL_TRIG_ECL0 11
#define TARVEK_VAL_TRIG_ECL1 12
#define TARVEK_VAL_TRIG_PXI_STAR 13
#define TARVEK_VAL_TRIG_RTSI_0 14
#define TARVEK_VAL_TRIG_RTSI_1 15
#define TARVEK_VAL_TRIG_RTSI_2 16
#define TARVEK_VAL_TRIG_RTSI_3 17
#define TARVEK_VAL_TRIG_RTSI_4 18
#define TARVEK_VAL_TRIG_RTSI_5 19
#define TARVEK_VAL_TRIG_RTSI_6 20

#ifdef __cplusplus
extern "C" {
#endif

/*- Session ------------------------------------------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_init(ViRsrc ResourceName, ViBoolean IdQuery, ViBoolean Reset,
                                         ViSession* vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_InitWithOptions(ViRsrc ResourceName, ViBoolean IdQuery,
                                                    ViBoolean Reset, ViConstString OptionString,
                                                    ViSession* vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_close(ViSession vi);

/*- Inherent utilities -------------------------------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_reset(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_ResetWithDefaults(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_Disable(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_self_test(ViSession vi, ViInt16* TestResult,
                                              ViChar TestMessage[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_revision_query(ViSession vi, ViChar DriverRev[],
                                                   ViChar InstrRev[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_InvalidateAllAttributes(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_LockSession(ViSession vi, ViBoolean* CallerHasLock);
TARVEK_API ViStatus _VI_FUNC TARVEK_UnlockSession(ViSession vi, ViBoolean* CallerHasLock);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetOperationComplete(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_WaitForOperationComplete(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_WaitToContinue(ViSession vi);

/*- Errors -------------------------------------------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_error_message(ViSession vi, ViStatus ErrorCode,
                                                  ViChar ErrorMessage[256]);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetError(ViSession vi, ViStatus* ErrorCode,
                                             ViInt32 ErrorDescriptionBufferSize,
                                             ViChar ErrorDescription[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_ClearError(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_error_query(ViSession vi, ViInt32* ErrorCode,
                                                ViChar ErrorMessage[256]);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetNextCoercionRecord(ViSession vi, ViInt32 BufferSize,
                                                          ViChar CoercionRecord[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetNextInterchangeWarning(ViSession vi, ViInt32 BufferSize,
                                                              ViChar InterchangeWarning[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_ClearInterchangeWarnings(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_ResetInterchangeCheck(ViSession vi);

/*- Direct I/O (not available in simulation) ---------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_viWrite(ViSession vi, ViInt64 BufferSize, ViConstBuf Buffer,
                                            ViInt64* ReturnCount);
TARVEK_API ViStatus _VI_FUNC TARVEK_viRead(ViSession vi, ViInt64 BufferSize, ViByte Buffer[],
                                           ViInt64* ReturnCount);

/*- I/O trace ----------------------------------------------------------------*/

/* What the session sends to and receives from the instrument, one line per
 * transfer, oldest first, in the VISA layer's trace format (visa.h,
 * viTkReadTrace). Off until ConfigureIoTrace switches it on; the newest 1000
 * transfers are kept. In simulation nothing is sent, so the trace stays
 * empty. GetIoTrace follows the string rule of the typed attribute access:
 * BufferSize 0 returns the size a buffer needs. */
TARVEK_API ViStatus _VI_FUNC TARVEK_ConfigureIoTrace(ViSession vi, ViBoolean Enabled);
TARVEK_API ViStatus _VI_FUNC TARVEK_QueryIoTraceEnabled(ViSession vi, ViBoolean* Enabled);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetIoTrace(ViSession vi, ViInt32 BufferSize, ViChar Trace[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_ClearIoTrace(ViSession vi);

/*- Typed attribute access ---------------------------------------------------*/

/* A string read with AttributeValueBufferSize 0 returns the size a buffer
 * needs; a positive return means the value may not have fitted. */
TARVEK_API ViStatus _VI_FUNC TARVEK_GetAttributeViInt32(ViSession vi,
                                                        ViConstString RepCapIdentifier,
                                                        ViAttr AttributeID,
                                                        ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetAttributeViReal64(ViSession vi,
                                                         ViConstString RepCapIdentifier,
                                                         ViAttr AttributeID,
                                                         ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetAttributeViBoolean(ViSession vi,
                                                          ViConstString RepCapIdentifier,
                                                          ViAttr AttributeID,
                                                          ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetAttributeViSession(ViSession vi,
                                                          ViConstString RepCapIdentifier,
                                                          ViAttr AttributeID,
                                                          ViSession* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetAttributeViString(ViSession vi,
                                                         ViConstString RepCapIdentifier,
                                                         ViAttr AttributeID,
                                                         ViInt32 AttributeValueBufferSize,
                                                         ViChar AttributeValue[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetAttributeViInt32(ViSession vi,
                                                        ViConstString RepCapIdentifier,
                                                        ViAttr AttributeID, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetAttributeViReal64(ViSession vi,
                                                         ViConstString RepCapIdentifier,
                                                         ViAttr AttributeID,
                                                         ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetAttributeViBoolean(ViSession vi,
                                                          ViConstString RepCapIdentifier,
                                                          ViAttr AttributeID,
                                                          ViBoolean AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetAttributeViSession(ViSession vi,
                                                          ViConstString RepCapIdentifier,
                                                          ViAttr AttributeID,
                                                          ViSession AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetAttributeViString(ViSession vi,
                                                         ViConstString RepCapIdentifier,
                                                         ViAttr AttributeID,
                                                         ViConstString AttributeValue);

/*- Output channels ----------------------------------------------------------*/

/* Index is 1-based: 1 gives "CH1". */
TARVEK_API ViStatus _VI_FUNC TARVEK_GetChannelName(ViSession vi, ViInt32 Index, ViInt32 BufferSize,
                                                   ViChar Name[]);
/* The physical names a selector names, comma-separated in selector order
   ("Motor,CH3" gives "CH2,CH3" when the configuration store maps the virtual
   name Motor to CH2), without talking to the instrument. BufferSize 0 (or
   too small) returns the size the whole text needs, NUL included. */
TARVEK_API ViStatus _VI_FUNC TARVEK_ResolveChannelNames(ViSession vi, ViConstString Selector,
                                                        ViInt32 BufferSize, ViChar PhysicalNames[]);

/*- Output configuration and measurement -------------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_ConfigureVoltageLevel(ViSession vi, ViConstString ChannelName,
                                                          ViReal64 Level);
TARVEK_API ViStatus _VI_FUNC TARVEK_ConfigureCurrentLimit(ViSession vi, ViConstString ChannelName,
                                                          ViInt32 Behavior, ViReal64 Limit);
TARVEK_API ViStatus _VI_FUNC TARVEK_ConfigureOVP(ViSession vi, ViConstString ChannelName,
                                                 ViBoolean Enabled, ViReal64 Limit);
TARVEK_API ViStatus _VI_FUNC TARVEK_ConfigureOutputEnabled(ViSession vi, ViConstString ChannelName,
                                                           ViBoolean Enabled);
TARVEK_API ViStatus _VI_FUNC TARVEK_ConfigureOutputRange(ViSession vi, ViConstString ChannelName,
                                                         ViInt32 RangeType, ViReal64 Range);
TARVEK_API ViStatus _VI_FUNC TARVEK_QueryMaxCurrentLimit(ViSession vi, ViConstString ChannelName,
                                                         ViReal64 VoltageLevel,
                                                         ViReal64* MaxCurrentLimit);
TARVEK_API ViStatus _VI_FUNC TARVEK_QueryMaxVoltageLevel(ViSession vi, ViConstString ChannelName,
                                                         ViReal64 CurrentLimit,
                                                         ViReal64* MaxVoltageLevel);
TARVEK_API ViStatus _VI_FUNC TARVEK_QueryOutputState(ViSession vi, ViConstString ChannelName,
                                                     ViInt32 OutputState, ViBoolean* InState);
TARVEK_API ViStatus _VI_FUNC TARVEK_Measure(ViSession vi, ViConstString ChannelName,
                                            ViInt32 MeasurementType, ViReal64* Measurement);
TARVEK_API ViStatus _VI_FUNC TARVEK_MeasureCurrent(ViSession vi, ViReal64* Val);
TARVEK_API ViStatus _VI_FUNC TARVEK_MeasureVoltage(ViSession vi, ViReal64* Val);
TARVEK_API ViStatus _VI_FUNC TARVEK_QueryChannel(ViSession vi, ViReal64* Voltage,
                                                 ViReal64* Current);
TARVEK_API ViStatus _VI_FUNC TARVEK_ResetOutputProtection(ViSession vi, ViConstString ChannelName);
TARVEK_API ViStatus _VI_FUNC TARVEK_ClearProtectionErrors(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_ClearOCP(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_ClearOVP(ViSession vi);

/*- Triggering ---------------------------------------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_ConfigureTriggerSource(ViSession vi, ViConstString ChannelName,
                                                           ViInt32 Source);
TARVEK_API ViStatus _VI_FUNC TARVEK_ConfigureTriggeredVoltageLevel(ViSession vi,
                                                                   ViConstString ChannelName,
                                                                   ViReal64 TriggeredLevel);
TARVEK_API ViStatus _VI_FUNC TARVEK_ConfigureTriggeredCurrentLimit(ViSession vi,
                                                                   ViConstString ChannelName,
                                                                   ViReal64 TriggeredLimit);
TARVEK_API ViStatus _VI_FUNC TARVEK_Initiate(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_SendSoftwareTrigger(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_GenerateImmediate(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_ConfigureContinuousTrigger(ViSession vi, ViInt32 Channel,
                                                               ViBoolean Continuous);
TARVEK_API ViStatus _VI_FUNC TARVEK_Abort(ViSession vi);

/*- List mode ----------------------------------------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_EnableList(ViSession vi, ViInt32 Value);
TARVEK_API ViStatus _VI_FUNC TARVEK_DisableList(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_SaveListData(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_StartList(ViSession vi, ViInt32 Channel);
TARVEK_API ViStatus _VI_FUNC TARVEK_AbortList(ViSession vi, ViInt32 Channel);

/*- Battery test (Series6510 only) and data logger ---------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_StartBatteryTest(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_StopBatteryTest(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_InitiateDataLogger(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_StartDataLogger(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_StopDataLogger(ViSession vi);

/*- Digital I/O, status registers and system ---------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_ConfigureDigitalFunction(ViSession vi, ViInt32 Pin,
                                                             ViInt32 Function);
TARVEK_API ViStatus _VI_FUNC TARVEK_ConfigureDigitalPolarity(ViSession vi, ViInt32 Pin,
                                                             ViInt32 Polarity);
TARVEK_API ViStatus _VI_FUNC TARVEK_ConfigurePowerOnState(ViSession vi, ViInt32 State,
                                                          ViInt32 MemoryLocation);
TARVEK_API ViStatus _VI_FUNC TARVEK_QueryPowerOnState(ViSession vi, ViInt32* State,
                                                      ViInt32* MemoryLocation);
TARVEK_API ViStatus _VI_FUNC TARVEK_SaveState(ViSession vi, ViInt32 Location);
TARVEK_API ViStatus _VI_FUNC TARVEK_RecallState(ViSession vi, ViInt32 Location);
TARVEK_API ViStatus _VI_FUNC TARVEK_ClearStatus(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_Preset(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_Beep(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_RemoteLock(ViSession vi);
TARVEK_API ViStatus _VI_FUNC TARVEK_ClearAndReboot(ViSession vi);

/*- Attribute accessors: output and protection -------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_GetCurrentLevel(ViSession vi, ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetCurrentLevel(ViSession vi, ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetCurrentProtectionLevel(ViSession vi,
                                                              ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetCurrentProtectionLevel(ViSession vi,
                                                              ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetOCPEnabled(ViSession vi, ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetOCPEnabled(ViSession vi, ViBoolean AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetOCPTripped(ViSession vi, ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetVoltageProtectionLevel(ViSession vi,
                                                              ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetVoltageProtectionLevel(ViSession vi,
                                                              ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetOVPTripped(ViSession vi, ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetCurrentSlewRate(ViSession vi, ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetCurrentSlewRate(ViSession vi, ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetVoltageSlewRate(ViSession vi, ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetVoltageSlewRate(ViSession vi, ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetVoltageMaximum(ViSession vi, ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetVoltageMaximum(ViSession vi, ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetVoltageMinimum(ViSession vi, ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetVoltageMinimum(ViSession vi, ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetVoltageSenseEnabled(ViSession vi, ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetVoltageSenseEnabled(ViSession vi, ViBoolean AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetOutputMode(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetOutputMode(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetSelectedChannel(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetSelectedChannel(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetTimerEnabled(ViSession vi, ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetTimerEnabled(ViSession vi, ViBoolean AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetTimerRun(ViSession vi, ViInt32 AttributeValueBufferSize,
                                                ViChar AttributeValue[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetTimerRun(ViSession vi, ViConstString AttributeValue);

/*- Attribute accessors: list mode -------------------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_GetSelectedList(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetSelectedList(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetSelectedStep(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetSelectedStep(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetStepVoltage(ViSession vi, ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetStepVoltage(ViSession vi, ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetStepCurrent(ViSession vi, ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetStepCurrent(ViSession vi, ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetListDwell(ViSession vi, ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetListDwell(ViSession vi, ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetListPace(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetListPace(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetListRepeatCount(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetListRepeatCount(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetListTerminateState(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetListTerminateState(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetNextList(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetNextList(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetListTriggerSource(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetListTriggerSource(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBeginningOfStepTriggerEnabled(ViSession vi,
                                                                     ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBeginningOfStepTriggerEnabled(ViSession vi,
                                                                     ViBoolean AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetEndOfStepTriggerEnabled(ViSession vi,
                                                               ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetEndOfStepTriggerEnabled(ViSession vi,
                                                               ViBoolean AttributeValue);

/*- Attribute accessors: battery test ----------------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestAhLoggingEnabled(ViSession vi,
                                                                   ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBatteryTestAhLoggingEnabled(ViSession vi,
                                                                   ViBoolean AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestChargeModeEnabled(ViSession vi,
                                                                    ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBatteryTestChargeModeEnabled(ViSession vi,
                                                                    ViBoolean AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestCurrent(ViSession vi, ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBatteryTestCurrent(ViSession vi, ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestEndCurrent(ViSession vi,
                                                             ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBatteryTestEndCurrent(ViSession vi, ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestEndDelay(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBatteryTestEndDelay(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestIsRunning(ViSession vi,
                                                            ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestSampleTime(ViSession vi,
                                                             ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBatteryTestSampleTime(ViSession vi, ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestTriggerSource(ViSession vi,
                                                                ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBatteryTestTriggerSource(ViSession vi,
                                                                ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestVoltage(ViSession vi, ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBatteryTestVoltage(ViSession vi, ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestWhLoggingEnabled(ViSession vi,
                                                                   ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBatteryTestWhLoggingEnabled(ViSession vi,
                                                                   ViBoolean AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestFailSafeAhValue(ViSession vi,
                                                                  ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBatteryTestFailSafeAhValue(ViSession vi,
                                                                  ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestFailSafeEnabled(ViSession vi,
                                                                  ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBatteryTestFailSafeEnabled(ViSession vi,
                                                                  ViBoolean AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_GetBatteryTestFailSafeOverVoltageProtection(ViSession vi, ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_SetBatteryTestFailSafeOverVoltageProtection(ViSession vi, ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestFailSafeTime(ViSession vi,
                                                               ViInt32 AttributeValueBufferSize,
                                                               ViChar AttributeValue[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBatteryTestFailSafeTime(ViSession vi,
                                                               ViConstString AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetBatteryTestFailSafeWhValue(ViSession vi,
                                                                  ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBatteryTestFailSafeWhValue(ViSession vi,
                                                                  ViReal64 AttributeValue);

/*- Attribute accessors: data logger and digital I/O -------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_GetDataLoggerSampleInterval(ViSession vi,
                                                                ViReal64* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetDataLoggerSampleInterval(ViSession vi,
                                                                ViReal64 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetDataLoggerTriggerSource(ViSession vi,
                                                               ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetDataLoggerTriggerSource(ViSession vi,
                                                               ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetDigitalInhibitMode(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetDigitalInhibitMode(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetDigitalInputData(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetDigitalOutputData(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetDigitalOutputData(ViSession vi, ViInt32 AttributeValue);

/*- Attribute accessors: status registers ------------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_GetQuestionableEnableRegister(ViSession vi,
                                                                  ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetQuestionableEnableRegister(ViSession vi,
                                                                  ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetQuestionableEventRegister(ViSession vi,
                                                                 ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_GetQuestionableInstrumentEnableRegister(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetQuestionableInstrumentEnableRegister(ViSession vi,
                                                                            ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetQuestionableInstrumentEventRegister(ViSession vi,
                                                                           ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_GetQuestionableInstrumentSummary1ConditionRegister(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_GetQuestionableInstrumentSummary1EnableRegister(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_SetQuestionableInstrumentSummary1EnableRegister(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_GetQuestionableInstrumentSummary1EventRegister(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_GetQuestionableInstrumentSummary2ConditionRegister(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_GetQuestionableInstrumentSummary2EnableRegister(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_SetQuestionableInstrumentSummary2EnableRegister(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_GetQuestionableInstrumentSummary2EventRegister(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_GetQuestionableInstrumentSummary3ConditionRegister(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_GetQuestionableInstrumentSummary3EnableRegister(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_SetQuestionableInstrumentSummary3EnableRegister(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC
TARVEK_GetQuestionableInstrumentSummary3EventRegister(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetStandardEventEnableRegister(ViSession vi,
                                                                   ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetStandardEventEnableRegister(ViSession vi,
                                                                   ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetStandardEventEventRegister(ViSession vi,
                                                                  ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetStatusByteEnableRegister(ViSession vi,
                                                                ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetStatusByteEnableRegister(ViSession vi,
                                                                ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetStatusByteEventRegister(ViSession vi,
                                                               ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetPowerOnStatusClearEnabled(ViSession vi,
                                                                 ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetPowerOnStatusClearEnabled(ViSession vi,
                                                                 ViBoolean AttributeValue);

/*- Attribute accessors: system ----------------------------------------------*/

TARVEK_API ViStatus _VI_FUNC TARVEK_GetBeeperEnabled(ViSession vi, ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetBeeperEnabled(ViSession vi, ViBoolean AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetDisplayEnabled(ViSession vi, ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetDisplayEnabled(ViSession vi, ViBoolean AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetLxiIdentifyEnabled(ViSession vi, ViBoolean* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetLxiIdentifyEnabled(ViSession vi, ViBoolean AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetRemoteState(ViSession vi, ViInt32* AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetRemoteState(ViSession vi, ViInt32 AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetScpiVersion(ViSession vi, ViInt32 AttributeValueBufferSize,
                                                   ViChar AttributeValue[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetSystemDate(ViSession vi, ViInt32 AttributeValueBufferSize,
                                                  ViChar AttributeValue[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetSystemDate(ViSession vi, ViConstString AttributeValue);
TARVEK_API ViStatus _VI_FUNC TARVEK_GetSystemTime(ViSession vi, ViInt32 AttributeValueBufferSize,
                                                  ViChar AttributeValue[]);
TARVEK_API ViStatus _VI_FUNC TARVEK_SetSystemTime(ViSession vi, ViConstString AttributeValue);

#ifdef __cplusplus
}
#endif

#endif /* TARVEK_H */
