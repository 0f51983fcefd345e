/* The VISA I/O library interface: operations, attribute ids, values and status
 * codes with the numbers the VISA standard gives them.
 *
 * Implemented by the project's VISA layer (platform/visa): TCPIP SOCKET
 * resources and serial (ASRL) ports. The layer ships as a static library with
 * hidden symbols for the driver and as libtkvisa.so, which exports the vi*
 * names below for any VISA client.
 *
 * Formatted input bounds: a %s, %[...] or %T conversion given neither a field
 * width nor the # count modifier stores at most VI_FMT_UNBOUNDED_MAX - 1
 * characters and a terminating NUL, so the caller's buffer must hold
 * VI_FMT_UNBOUNDED_MAX (256) bytes; the rest of such a field is read and
 * discarded. A width N stores at most N characters and a NUL (N + 1 bytes).
 * With # the preceding ViPInt32 argument gives the buffer size in bytes,
 * terminator included, and receives the number of characters stored. */
#ifndef TARVEK_VISA_H
#define TARVEK_VISA_H

#include <stdarg.h>

#include "visatype.h"

/* The library's own objects mark the vi* functions visible; libtkvisa.so
 * exports them, and a driver linking the static library hides them again
 * with its version script, so that it never binds to another VISA. */
#if defined(TKVISA_BUILD_SHARED) && defined(__GNUC__)
#define TKVISA_EXPORT __attribute__((visibility("default")))
#else
#define TKVISA_EXPORT
#endif

#define VI_SPEC_VERSION (0x00500800UL)

#if defined(__cplusplus)
extern "C" {
#endif

typedef ViUInt64 ViAttrState;
typedef ViAttrState _VI_PTR ViPAttrState;
typedef ViUInt32 ViAccessMode;
typedef ViAccessMode _VI_PTR ViPAccessMode;
typedef ViUInt32 ViEventType;
typedef ViObject ViEvent;
typedef ViObject ViFindList;
typedef ViUInt32 ViJobId;
typedef ViString ViKeyId;
typedef ViConstString ViConstKeyId;
typedef va_list ViVAList;

/* Resource manager and sessions */
TKVISA_EXPORT ViStatus _VI_FUNC viOpenDefaultRM(ViPSession vi);
TKVISA_EXPORT ViStatus _VI_FUNC viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName,
                                            ViPUInt16 intfType, ViPUInt16 intfNum);
TKVISA_EXPORT ViStatus _VI_FUNC viParseRsrcEx(ViSession rmSesn, ViConstRsrc rsrcName,
                                              ViPUInt16 intfType, ViPUInt16 intfNum,
                                              ViChar _VI_FAR rsrcClass[],
                                              ViChar _VI_FAR expandedUnaliasedName[],
                                              ViChar _VI_FAR aliasIfExists[]);
TKVISA_EXPORT ViStatus _VI_FUNC viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode,
                                       ViUInt32 timeout, ViPSession vi);
TKVISA_EXPORT ViStatus _VI_FUNC viClose(ViObject vi);
TKVISA_EXPORT ViStatus _VI_FUNC viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
TKVISA_EXPORT ViStatus _VI_FUNC viGetAttribute(ViObject vi, ViAttr attrName,
                                               void _VI_PTR attrValue);
TKVISA_EXPORT ViStatus _VI_FUNC viStatusDesc(ViObject vi, ViStatus status, ViChar _VI_FAR desc[]);

/* Basic I/O */
TKVISA_EXPORT ViStatus _VI_FUNC viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
TKVISA_EXPORT ViStatus _VI_FUNC viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt,
                                        ViPUInt32 retCnt);
TKVISA_EXPORT ViStatus _VI_FUNC viClear(ViSession vi);
TKVISA_EXPORT ViStatus _VI_FUNC viReadSTB(ViSession vi, ViPUInt16 status);
TKVISA_EXPORT ViStatus _VI_FUNC viAssertTrigger(ViSession vi, ViUInt16 protocol);

/* Formatted and buffered I/O */
TKVISA_EXPORT ViStatus _VI_FUNC viFlush(ViSession vi, ViUInt16 mask);
TKVISA_EXPORT ViStatus _VI_FUNCC viPrintf(ViSession vi, ViConstString writeFmt, ...);
TKVISA_EXPORT ViStatus _VI_FUNC viVPrintf(ViSession vi, ViConstString writeFmt, ViVAList params);
TKVISA_EXPORT ViStatus _VI_FUNCC viScanf(ViSession vi, ViConstString readFmt, ...);
TKVISA_EXPORT ViStatus _VI_FUNC viVScanf(ViSession vi, ViConstString readFmt, ViVAList params);
TKVISA_EXPORT ViStatus _VI_FUNCC viQueryf(ViSession vi, ViConstString writeFmt,
                                          ViConstString readFmt, ...);
TKVISA_EXPORT ViStatus _VI_FUNC viVQueryf(ViSession vi, ViConstString writeFmt,
                                          ViConstString readFmt, ViVAList params);

/* Events */
typedef ViObject _VI_PTR ViPEvent;
typedef ViEventType _VI_PTR ViPEventType;
typedef ViUInt32 ViEventFilter;
typedef ViFindList _VI_PTR ViPFindList;
typedef ViJobId _VI_PTR ViPJobId;
typedef ViStatus(_VI_FUNCH _VI_PTR ViHndlr)(ViSession vi, ViEventType eventType, ViEvent event,
                                            ViAddr userHandle);
typedef ViUInt64 ViBusAddress;
typedef ViUInt64 ViBusSize;
typedef ViUInt64 ViBusAddress64;
typedef ViBusAddress _VI_PTR ViPBusAddress;
typedef ViBusAddress64 _VI_PTR ViPBusAddress64;

TKVISA_EXPORT ViStatus _VI_FUNC viEnableEvent(ViSession vi, ViEventType eventType,
                                              ViUInt16 mechanism, ViEventFilter context);
TKVISA_EXPORT ViStatus _VI_FUNC viDisableEvent(ViSession vi, ViEventType eventType,
                                               ViUInt16 mechanism);
TKVISA_EXPORT ViStatus _VI_FUNC viDiscardEvents(ViSession vi, ViEventType eventType,
                                                ViUInt16 mechanism);
TKVISA_EXPORT ViStatus _VI_FUNC viWaitOnEvent(ViSession vi, ViEventType inEventType,
                                              ViUInt32 timeout, ViPEventType outEventType,
                                              ViPEvent outContext);
TKVISA_EXPORT ViStatus _VI_FUNC viInstallHandler(ViSession vi, ViEventType eventType,
                                                 ViHndlr handler, ViAddr userHandle);
TKVISA_EXPORT ViStatus _VI_FUNC viUninstallHandler(ViSession vi, ViEventType eventType,
                                                   ViHndlr handler, ViAddr userHandle);

/* Finding resources */
TKVISA_EXPORT ViStatus _VI_FUNC viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi,
                                           ViPUInt32 retCnt, ViChar _VI_FAR desc[]);
TKVISA_EXPORT ViStatus _VI_FUNC viFindNext(ViFindList vi, ViChar _VI_FAR desc[]);

/* Locking */
TKVISA_EXPORT ViStatus _VI_FUNC viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout,
                                       ViConstKeyId requestedKey, ViChar _VI_FAR accessKey[]);
TKVISA_EXPORT ViStatus _VI_FUNC viUnlock(ViSession vi);

/* Buffers, string formatting and asynchronous transfers */
TKVISA_EXPORT ViStatus _VI_FUNC viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size);
TKVISA_EXPORT ViStatus _VI_FUNC viBufWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt,
                                           ViPUInt32 retCnt);
TKVISA_EXPORT ViStatus _VI_FUNC viBufRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
TKVISA_EXPORT ViStatus _VI_FUNCC viSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt, ...);
TKVISA_EXPORT ViStatus _VI_FUNC viVSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt,
                                           ViVAList parms);
TKVISA_EXPORT ViStatus _VI_FUNCC viSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt, ...);
TKVISA_EXPORT ViStatus _VI_FUNC viVSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt,
                                          ViVAList arglist);
TKVISA_EXPORT ViStatus _VI_FUNC viReadAsync(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPJobId jobId);
TKVISA_EXPORT ViStatus _VI_FUNC viWriteAsync(ViSession vi, ViConstBuf buf, ViUInt32 cnt,
                                             ViPJobId jobId);
TKVISA_EXPORT ViStatus _VI_FUNC viTerminate(ViObject vi, ViUInt16 degree, ViJobId jobId);
TKVISA_EXPORT ViStatus _VI_FUNC viReadToFile(ViSession vi, ViConstString filename, ViUInt32 cnt,
                                             ViPUInt32 retCnt);
TKVISA_EXPORT ViStatus _VI_FUNC viWriteFromFile(ViSession vi, ViConstString filename, ViUInt32 cnt,
                                                ViPUInt32 retCnt);

/* Interface-specific operations; this library has no GPIB, VXI or PXI
 * hardware, so they answer VI_ERROR_NSUP_OPER on every session it opens,
 * except viGpibControlREN on a USB instrument (USBTMC with USB488). */
TKVISA_EXPORT ViStatus _VI_FUNC viGpibControlREN(ViSession vi, ViUInt16 mode);
TKVISA_EXPORT ViStatus _VI_FUNC viGpibControlATN(ViSession vi, ViUInt16 mode);
TKVISA_EXPORT ViStatus _VI_FUNC viGpibSendIFC(ViSession vi);
TKVISA_EXPORT ViStatus _VI_FUNC viGpibCommand(ViSession vi, ViConstBuf cmd, ViUInt32 cnt,
                                              ViPUInt32 retCnt);
TKVISA_EXPORT ViStatus _VI_FUNC viGpibPassControl(ViSession vi, ViUInt16 primAddr,
                                                  ViUInt16 secAddr);
TKVISA_EXPORT ViStatus _VI_FUNC viVxiCommandQuery(ViSession vi, ViUInt16 mode, ViUInt32 cmd,
                                                  ViPUInt32 response);
TKVISA_EXPORT ViStatus _VI_FUNC viAssertUtilSignal(ViSession vi, ViUInt16 line);
TKVISA_EXPORT ViStatus _VI_FUNC viAssertIntrSignal(ViSession vi, ViInt16 mode, ViUInt32 statusID);
TKVISA_EXPORT ViStatus _VI_FUNC viMapTrigger(ViSession vi, ViInt16 trigSrc, ViInt16 trigDest,
                                             ViUInt16 mode);
TKVISA_EXPORT ViStatus _VI_FUNC viUnmapTrigger(ViSession vi, ViInt16 trigSrc, ViInt16 trigDest);
TKVISA_EXPORT ViStatus _VI_FUNC viUsbControlOut(ViSession vi, ViInt16 bmRequestType,
                                                ViInt16 bRequest, ViUInt16 wValue, ViUInt16 wIndex,
                                                ViUInt16 wLength, ViConstBuf buf);
TKVISA_EXPORT ViStatus _VI_FUNC viUsbControlIn(ViSession vi, ViInt16 bmRequestType,
                                               ViInt16 bRequest, ViUInt16 wValue, ViUInt16 wIndex,
                                               ViUInt16 wLength, ViPBuf buf, ViPUInt16 retCnt);
TKVISA_EXPORT ViStatus _VI_FUNC viMapAddress(ViSession vi, ViUInt16 mapSpace,
                                             ViBusAddress mapOffset, ViBusSize mapSize,
                                             ViBoolean access, ViAddr suggested, ViPAddr address);
TKVISA_EXPORT ViStatus _VI_FUNC viUnmapAddress(ViSession vi);
TKVISA_EXPORT ViStatus _VI_FUNC viMemAlloc(ViSession vi, ViBusSize size, ViPBusAddress offset);
TKVISA_EXPORT ViStatus _VI_FUNC viMemAllocEx(ViSession vi, ViBusSize size, ViPBusAddress64 offset);
TKVISA_EXPORT ViStatus _VI_FUNC viMemFree(ViSession vi, ViBusAddress offset);
TKVISA_EXPORT ViStatus _VI_FUNC viMemFreeEx(ViSession vi, ViBusAddress64 offset);
TKVISA_EXPORT ViStatus _VI_FUNC viMove(ViSession vi, ViUInt16 srcSpace, ViBusAddress srcOffset,
                                       ViUInt16 srcWidth, ViUInt16 destSpace,
                                       ViBusAddress destOffset, ViUInt16 destWidth,
                                       ViBusSize srcLength);
TKVISA_EXPORT ViStatus _VI_FUNC viMoveAsync(ViSession vi, ViUInt16 srcSpace, ViBusAddress srcOffset,
                                            ViUInt16 srcWidth, ViUInt16 destSpace,
                                            ViBusAddress destOffset, ViUInt16 destWidth,
                                            ViBusSize srcLength, ViPJobId jobId);
/* Register access: viIn/viOut/viMoveIn/viMoveOut for 8 to 64 bits, with and
 * without the Ex (64-bit offset) form, and viPeek/viPoke. */
#define TKVISA_DECLARE_REGISTER_ACCESS(BITS)                                                       \
    TKVISA_EXPORT ViStatus _VI_FUNC viIn##BITS(ViSession vi, ViUInt16 space, ViBusAddress offset,  \
                                               ViPUInt##BITS val);                                 \
    TKVISA_EXPORT ViStatus _VI_FUNC viIn##BITS##Ex(ViSession vi, ViUInt16 space,                   \
                                                   ViBusAddress64 offset, ViPUInt##BITS val);      \
    TKVISA_EXPORT ViStatus _VI_FUNC viOut##BITS(ViSession vi, ViUInt16 space, ViBusAddress offset, \
                                                ViUInt##BITS val);                                 \
    TKVISA_EXPORT ViStatus _VI_FUNC viOut##BITS##Ex(ViSession vi, ViUInt16 space,                  \
                                                    ViBusAddress64 offset, ViUInt##BITS val);      \
    TKVISA_EXPORT ViStatus _VI_FUNC viMoveIn##BITS(                                                \
        ViSession vi, ViUInt16 space, ViBusAddress offset, ViBusSize length, ViAUInt##BITS buf);   \
    TKVISA_EXPORT ViStatus _VI_FUNC viMoveIn##BITS##Ex(                                            \
        ViSession vi, ViUInt16 space, ViBusAddress64 offset, ViBusSize length, ViAUInt##BITS buf); \
    TKVISA_EXPORT ViStatus _VI_FUNC viMoveOut##BITS(                                               \
        ViSession vi, ViUInt16 space, ViBusAddress offset, ViBusSize length, ViAUInt##BITS buf);   \
    TKVISA_EXPORT ViStatus _VI_FUNC viMoveOut##BITS##Ex(                                           \
        ViSession vi, ViUInt16 space, ViBusAddress64 offset, ViBusSize length, ViAUInt##BITS buf); \
    TKVISA_EXPORT void _VI_FUNC viPeek##BITS(ViSession vi, ViAddr address, ViPUInt##BITS val);     \
    TKVISA_EXPORT void _VI_FUNC viPoke##BITS(ViSession vi, ViAddr address, ViUInt##BITS val);
TKVISA_DECLARE_REGISTER_ACCESS(8)
TKVISA_DECLARE_REGISTER_ACCESS(16)
TKVISA_DECLARE_REGISTER_ACCESS(32)
TKVISA_DECLARE_REGISTER_ACCESS(64)

#if defined(__cplusplus)
}
#endif

/* Size of text attribute values and of the descriptions of viStatusDesc. */
#define VI_FIND_BUFLEN (256)
/* Buffer size an unbounded %s, %[...] or %T conversion may fill. */
#define VI_FMT_UNBOUNDED_MAX (256)

/* Attributes */
#define VI_ATTR_RSRC_CLASS (0xBFFF0001UL)
#define VI_ATTR_RSRC_NAME (0xBFFF0002UL)
#define VI_ATTR_RSRC_IMPL_VERSION (0x3FFF0003UL)
#define VI_ATTR_RSRC_LOCK_STATE (0x3FFF0004UL)
#define VI_ATTR_MAX_QUEUE_LENGTH (0x3FFF0005UL)
#define VI_ATTR_USER_DATA (0x3FFF0007UL)
#define VI_ATTR_SEND_END_EN (0x3FFF0016UL)
#define VI_ATTR_TERMCHAR (0x3FFF0018UL)
#define VI_ATTR_TMO_VALUE (0x3FFF001AUL)
#define VI_ATTR_IO_PROT (0x3FFF001CUL)
#define VI_ATTR_ASRL_BAUD (0x3FFF0021UL)
#define VI_ATTR_ASRL_DATA_BITS (0x3FFF0022UL)
#define VI_ATTR_ASRL_PARITY (0x3FFF0023UL)
#define VI_ATTR_ASRL_STOP_BITS (0x3FFF0024UL)
#define VI_ATTR_ASRL_FLOW_CNTRL (0x3FFF0025UL)
#define VI_ATTR_RD_BUF_OPER_MODE (0x3FFF002AUL)
#define VI_ATTR_RD_BUF_SIZE (0x3FFF002BUL)
#define VI_ATTR_WR_BUF_OPER_MODE (0x3FFF002DUL)
#define VI_ATTR_WR_BUF_SIZE (0x3FFF002EUL)
#define VI_ATTR_SUPPRESS_END_EN (0x3FFF0036UL)
#define VI_ATTR_TERMCHAR_EN (0x3FFF0038UL)
#define VI_ATTR_ASRL_AVAIL_NUM (0x3FFF00ACUL)
#define VI_ATTR_ASRL_END_IN (0x3FFF00B3UL)
#define VI_ATTR_ASRL_END_OUT (0x3FFF00B4UL)
#define VI_ATTR_ASRL_REPLACE_CHAR (0x3FFF00BEUL)
#define VI_ATTR_ASRL_XON_CHAR (0x3FFF00C1UL)
#define VI_ATTR_ASRL_XOFF_CHAR (0x3FFF00C2UL)
#define VI_ATTR_RM_SESSION (0x3FFF00C4UL)
#define VI_ATTR_INTF_INST_NAME (0xBFFF00E9UL)
#define VI_ATTR_RSRC_SPEC_VERSION (0x3FFF0170UL)
#define VI_ATTR_INTF_TYPE (0x3FFF0171UL)
#define VI_ATTR_RSRC_MANF_NAME (0xBFFF0174UL)
#define VI_ATTR_RSRC_MANF_ID (0x3FFF0175UL)
#define VI_ATTR_INTF_NUM (0x3FFF0176UL)
#define VI_ATTR_TCPIP_ADDR (0xBFFF0195UL)
#define VI_ATTR_TCPIP_HOSTNAME (0xBFFF0196UL)
#define VI_ATTR_TCPIP_PORT (0x3FFF0197UL)
#define VI_ATTR_TCPIP_DEVICE_NAME (0xBFFF0199UL)
#define VI_ATTR_TCPIP_NODELAY (0x3FFF019AUL)
#define VI_ATTR_TCPIP_KEEPALIVE (0x3FFF019BUL)
#define VI_ATTR_TCPIP_HISLIP_OVERLAP_EN (0x3FFF0300UL)
#define VI_ATTR_TCPIP_HISLIP_VERSION (0x3FFF0301UL)
#define VI_ATTR_TCPIP_HISLIP_MAX_MESSAGE_KB (0x3FFF0302UL)
#define VI_ATTR_TCPIP_IS_HISLIP (0x3FFF0303UL)
#define VI_ATTR_MANF_ID (0x3FFF00D9UL)
#define VI_ATTR_MODEL_CODE (0x3FFF00DFUL)
#define VI_ATTR_MANF_NAME (0xBFFF0072UL)
#define VI_ATTR_MODEL_NAME (0xBFFF0077UL)
#define VI_ATTR_4882_COMPLIANT (0x3FFF019FUL)
#define VI_ATTR_USB_SERIAL_NUM (0xBFFF01A0UL)
#define VI_ATTR_USB_INTFC_NUM (0x3FFF01A1UL)
#define VI_ATTR_USB_PROTOCOL (0x3FFF01A7UL)
#define VI_ATTR_USB_MAX_INTR_SIZE (0x3FFF01AFUL)

/* Completion codes */
#define VI_SUCCESS_EVENT_EN (0x3FFF0002L)
#define VI_SUCCESS_EVENT_DIS (0x3FFF0003L)
#define VI_SUCCESS_QUEUE_EMPTY (0x3FFF0004L)
#define VI_SUCCESS_TERM_CHAR (0x3FFF0005L)
#define VI_SUCCESS_MAX_CNT (0x3FFF0006L)
#define VI_WARN_QUEUE_OVERFLOW (0x3FFF000CL)
#define VI_WARN_CONFIG_NLOADED (0x3FFF0077L)
#define VI_SUCCESS_DEV_NPRESENT (0x3FFF007DL)
#define VI_SUCCESS_TRIG_MAPPED (0x3FFF007EL)
#define VI_SUCCESS_QUEUE_NEMPTY (0x3FFF0080L)
#define VI_WARN_NULL_OBJECT (0x3FFF0082L)
#define VI_WARN_NSUP_ATTR_STATE (0x3FFF0084L)
#define VI_WARN_UNKNOWN_STATUS (0x3FFF0085L)
#define VI_WARN_NSUP_BUF (0x3FFF0088L)
#define VI_SUCCESS_NCHAIN (0x3FFF0098L)
#define VI_SUCCESS_NESTED_SHARED (0x3FFF0099L)
#define VI_SUCCESS_NESTED_EXCLUSIVE (0x3FFF009AL)
#define VI_SUCCESS_SYNC (0x3FFF009BL)
#define VI_WARN_EXT_FUNC_NIMPL (0x3FFF00A9L)

/* Error codes */
#define VI_ERROR_SYSTEM_ERROR (_VI_ERROR + 0x3FFF0000L)
#define VI_ERROR_INV_OBJECT (_VI_ERROR + 0x3FFF000EL)
#define VI_ERROR_RSRC_LOCKED (_VI_ERROR + 0x3FFF000FL)
#define VI_TRIG_PROT_DEFAULT (0)
#define VI_ERROR_INV_EXPR (_VI_ERROR + 0x3FFF0010L)
#define VI_ERROR_RSRC_NFOUND (_VI_ERROR + 0x3FFF0011L)
#define VI_ERROR_INV_RSRC_NAME (_VI_ERROR + 0x3FFF0012L)
#define VI_ERROR_INV_ACC_MODE (_VI_ERROR + 0x3FFF0013L)
#define VI_ERROR_TMO (_VI_ERROR + 0x3FFF0015L)
#define VI_ERROR_CLOSING_FAILED (_VI_ERROR + 0x3FFF0016L)
#define VI_ERROR_INV_DEGREE (_VI_ERROR + 0x3FFF001BL)
#define VI_ERROR_INV_JOB_ID (_VI_ERROR + 0x3FFF001CL)
#define VI_ERROR_NSUP_ATTR (_VI_ERROR + 0x3FFF001DL)
#define VI_ERROR_NSUP_ATTR_STATE (_VI_ERROR + 0x3FFF001EL)
#define VI_ERROR_ATTR_READONLY (_VI_ERROR + 0x3FFF001FL)
#define VI_ERROR_INV_LOCK_TYPE (_VI_ERROR + 0x3FFF0020L)
#define VI_ERROR_INV_ACCESS_KEY (_VI_ERROR + 0x3FFF0021L)
#define VI_ERROR_INV_EVENT (_VI_ERROR + 0x3FFF0026L)
#define VI_ERROR_INV_MECH (_VI_ERROR + 0x3FFF0027L)
#define VI_ERROR_HNDLR_NINSTALLED (_VI_ERROR + 0x3FFF0028L)
#define VI_ERROR_INV_HNDLR_REF (_VI_ERROR + 0x3FFF0029L)
#define VI_ERROR_INV_CONTEXT (_VI_ERROR + 0x3FFF002AL)
#define VI_ERROR_QUEUE_OVERFLOW (_VI_ERROR + 0x3FFF002DL)
#define VI_ERROR_NENABLED (_VI_ERROR + 0x3FFF002FL)
#define VI_ERROR_ABORT (_VI_ERROR + 0x3FFF0030L)
#define VI_ERROR_RAW_WR_PROT_VIOL (_VI_ERROR + 0x3FFF0034L)
#define VI_ERROR_RAW_RD_PROT_VIOL (_VI_ERROR + 0x3FFF0035L)
#define VI_ERROR_OUTP_PROT_VIOL (_VI_ERROR + 0x3FFF0036L)
#define VI_ERROR_INP_PROT_VIOL (_VI_ERROR + 0x3FFF0037L)
#define VI_ERROR_BERR (_VI_ERROR + 0x3FFF0038L)
#define VI_ERROR_IN_PROGRESS (_VI_ERROR + 0x3FFF0039L)
#define VI_ERROR_INV_SETUP (_VI_ERROR + 0x3FFF003AL)
#define VI_ERROR_QUEUE_ERROR (_VI_ERROR + 0x3FFF003BL)
#define VI_ERROR_ALLOC (_VI_ERROR + 0x3FFF003CL)
#define VI_ERROR_INV_MASK (_VI_ERROR + 0x3FFF003DL)
#define VI_ERROR_IO (_VI_ERROR + 0x3FFF003EL)
#define VI_ERROR_INV_FMT (_VI_ERROR + 0x3FFF003FL)
#define VI_ERROR_NSUP_FMT (_VI_ERROR + 0x3FFF0041L)
#define VI_ERROR_LINE_IN_USE (_VI_ERROR + 0x3FFF0042L)
#define VI_ERROR_NSUP_MODE (_VI_ERROR + 0x3FFF0046L)
#define VI_ERROR_SRQ_NOCCURRED (_VI_ERROR + 0x3FFF004AL)
#define VI_ERROR_INV_SPACE (_VI_ERROR + 0x3FFF004EL)
#define VI_ERROR_INV_OFFSET (_VI_ERROR + 0x3FFF0051L)
#define VI_ERROR_INV_WIDTH (_VI_ERROR + 0x3FFF0052L)
#define VI_ERROR_NSUP_OFFSET (_VI_ERROR + 0x3FFF0054L)
#define VI_ERROR_NSUP_VAR_WIDTH (_VI_ERROR + 0x3FFF0055L)
#define VI_ERROR_WINDOW_NMAPPED (_VI_ERROR + 0x3FFF0057L)
#define VI_ERROR_RESP_PENDING (_VI_ERROR + 0x3FFF0059L)
#define VI_ERROR_NLISTENERS (_VI_ERROR + 0x3FFF005FL)
#define VI_ERROR_NCIC (_VI_ERROR + 0x3FFF0060L)
#define VI_ERROR_NSYS_CNTLR (_VI_ERROR + 0x3FFF0061L)
#define VI_ERROR_NSUP_OPER (_VI_ERROR + 0x3FFF0067L)
#define VI_ERROR_INTR_PENDING (_VI_ERROR + 0x3FFF0068L)
#define VI_ERROR_ASRL_PARITY (_VI_ERROR + 0x3FFF006AL)
#define VI_ERROR_ASRL_FRAMING (_VI_ERROR + 0x3FFF006BL)
#define VI_ERROR_ASRL_OVERRUN (_VI_ERROR + 0x3FFF006CL)
#define VI_ERROR_TRIG_NMAPPED (_VI_ERROR + 0x3FFF006EL)
#define VI_ERROR_NSUP_ALIGN_OFFSET (_VI_ERROR + 0x3FFF0070L)
#define VI_ERROR_USER_BUF (_VI_ERROR + 0x3FFF0071L)
#define VI_ERROR_RSRC_BUSY (_VI_ERROR + 0x3FFF0072L)
#define VI_ERROR_NSUP_WIDTH (_VI_ERROR + 0x3FFF0076L)
#define VI_ERROR_INV_PARAMETER (_VI_ERROR + 0x3FFF0078L)
#define VI_ERROR_INV_PROT (_VI_ERROR + 0x3FFF0079L)
#define VI_ERROR_INV_SIZE (_VI_ERROR + 0x3FFF007BL)
#define VI_ERROR_WINDOW_MAPPED (_VI_ERROR + 0x3FFF0080L)
#define VI_ERROR_NIMPL_OPER (_VI_ERROR + 0x3FFF0081L)
#define VI_ERROR_INV_LENGTH (_VI_ERROR + 0x3FFF0083L)
#define VI_ERROR_INV_MODE (_VI_ERROR + 0x3FFF0091L)
#define VI_ERROR_SESN_NLOCKED (_VI_ERROR + 0x3FFF009CL)
#define VI_ERROR_MEM_NSHARED (_VI_ERROR + 0x3FFF009DL)
#define VI_ERROR_LIBRARY_NFOUND (_VI_ERROR + 0x3FFF009EL)
#define VI_ERROR_NSUP_INTR (_VI_ERROR + 0x3FFF009FL)
#define VI_ERROR_INV_LINE (_VI_ERROR + 0x3FFF00A0L)
#define VI_ERROR_FILE_ACCESS (_VI_ERROR + 0x3FFF00A1L)
#define VI_ERROR_FILE_IO (_VI_ERROR + 0x3FFF00A2L)
#define VI_ERROR_NSUP_LINE (_VI_ERROR + 0x3FFF00A3L)
#define VI_ERROR_NSUP_MECH (_VI_ERROR + 0x3FFF00A4L)
#define VI_ERROR_INTF_NUM_NCONFIG (_VI_ERROR + 0x3FFF00A5L)
#define VI_ERROR_CONN_LOST (_VI_ERROR + 0x3FFF00A6L)
#define VI_ERROR_NPERMISSION (_VI_ERROR + 0x3FFF00A8L)
#define VI_ERROR_INV_SESSION VI_ERROR_INV_OBJECT

/* Events and their attributes */
#define VI_EVENT_IO_COMPLETION (0x3FFF2009UL)
#define VI_EVENT_TRIG (0xBFFF200AUL)
#define VI_EVENT_SERVICE_REQ (0x3FFF200BUL)
#define VI_EVENT_CLEAR (0x3FFF200DUL)
#define VI_EVENT_EXCEPTION (0xBFFF200EUL)
#define VI_EVENT_GPIB_CIC (0x3FFF2012UL)
#define VI_EVENT_GPIB_TALK (0x3FFF2013UL)
#define VI_EVENT_GPIB_LISTEN (0x3FFF2014UL)
#define VI_EVENT_VXI_VME_SYSFAIL (0x3FFF201DUL)
#define VI_EVENT_VXI_VME_SYSRESET (0x3FFF201EUL)
#define VI_EVENT_VXI_SIGP (0x3FFF2020UL)
#define VI_EVENT_VXI_VME_INTR (0xBFFF2021UL)
#define VI_EVENT_PXI_INTR (0x3FFF2022UL)
#define VI_EVENT_TCPIP_CONNECT (0x3FFF2036UL)
#define VI_EVENT_USB_INTR (0x3FFF2037UL)
#define VI_EVENT_ASRL_BREAK (0x3FFF2023UL)
#define VI_EVENT_ASRL_CTS (0x3FFF2029UL)
#define VI_EVENT_ASRL_DSR (0x3FFF202AUL)
#define VI_EVENT_ASRL_DCD (0x3FFF202CUL)
#define VI_EVENT_ASRL_RI (0x3FFF202EUL)
#define VI_EVENT_ASRL_CHAR (0x3FFF2035UL)
#define VI_EVENT_ASRL_TERMCHAR (0x3FFF2024UL)
#define VI_ALL_ENABLED_EVENTS (0x3FFF7FFFUL)

#define VI_ATTR_JOB_ID (0x3FFF4006UL)
#define VI_ATTR_EVENT_TYPE (0x3FFF4010UL)
#define VI_ATTR_STATUS (0x3FFF4025UL)
#define VI_ATTR_RET_COUNT (0x3FFF4026UL)
#define VI_ATTR_BUFFER (0x3FFF4027UL)
#define VI_ATTR_RET_COUNT_64 (0x3FFF4028UL)
#define VI_ATTR_OPER_NAME (0xBFFF4042UL)
#define VI_ATTR_FILE_APPEND_EN (0x3FFF0192UL)

#define VI_QUEUE (1)
#define VI_HNDLR (2)
#define VI_SUSPEND_HNDLR (4)
#define VI_ALL_MECH (0xFFFF)

#define VI_NULL_JOB (0)

/* Attribute values */
#define VI_INTF_GPIB (1)
#define VI_INTF_VXI (2)
#define VI_INTF_GPIB_VXI (3)
#define VI_INTF_ASRL (4)
#define VI_INTF_PXI (5)
#define VI_INTF_TCPIP (6)
#define VI_INTF_USB (7)

#define VI_PROT_NORMAL (1)
#define VI_PROT_FDC (2)
#define VI_PROT_HS488 (3)
#define VI_PROT_4882_STRS (4)
#define VI_PROT_USBTMC_VENDOR (5)

#define VI_GPIB_REN_DEASSERT (0)
#define VI_GPIB_REN_ASSERT (1)
#define VI_GPIB_REN_DEASSERT_GTL (2)
#define VI_GPIB_REN_ASSERT_ADDRESS (3)
#define VI_GPIB_REN_ASSERT_LLO (4)
#define VI_GPIB_REN_ASSERT_ADDRESS_LLO (5)
#define VI_GPIB_REN_ADDRESS_GTL (6)

#define VI_TMO_IMMEDIATE (0L)
#define VI_TMO_INFINITE (0xFFFFFFFFUL)

#define VI_NO_LOCK (0)
#define VI_EXCLUSIVE_LOCK (1)
#define VI_SHARED_LOCK (2)
#define VI_LOAD_CONFIG (4)

#define VI_READ_BUF (1)
#define VI_WRITE_BUF (2)
#define VI_READ_BUF_DISCARD (4)
#define VI_WRITE_BUF_DISCARD (8)
#define VI_IO_IN_BUF (16)
#define VI_IO_OUT_BUF (32)
#define VI_IO_IN_BUF_DISCARD (64)
#define VI_IO_OUT_BUF_DISCARD (128)

#define VI_FLUSH_ON_ACCESS (1)
#define VI_FLUSH_WHEN_FULL (2)
#define VI_FLUSH_DISABLE (3)

#define VI_ASRL_PAR_NONE (0)
#define VI_ASRL_PAR_ODD (1)
#define VI_ASRL_PAR_EVEN (2)
#define VI_ASRL_PAR_MARK (3)
#define VI_ASRL_PAR_SPACE (4)

#define VI_ASRL_STOP_ONE (10)
#define VI_ASRL_STOP_ONE5 (15)
#define VI_ASRL_STOP_TWO (20)

#define VI_ASRL_FLOW_NONE (0)
#define VI_ASRL_FLOW_XON_XOFF (1)
#define VI_ASRL_FLOW_RTS_CTS (2)
#define VI_ASRL_FLOW_DTR_DSR (4)

#define VI_ASRL_END_NONE (0)
#define VI_ASRL_END_LAST_BIT (1)
#define VI_ASRL_END_TERMCHAR (2)
#define VI_ASRL_END_BREAK (3)

#define VI_STATE_ASSERTED (1)
#define VI_STATE_UNASSERTED (0)
#define VI_STATE_UNKNOWN (-1)

/* TARVEK VISA extensions: the I/O trace of a session.
 *
 * An instrument session records what each VISA call hands to its transport
 * and takes from it (the bytes, when, which call and the status it returned)
 * into a ring, while VI_ATTR_TKVISA_TRACE_EN is VI_TRUE (off by default). The
 * ring keeps the newest VI_ATTR_TKVISA_TRACE_CAPACITY entries (1000 unless
 * set; 1 to 1000000) and at most 4 MiB of data, dropping the oldest and
 * counting them in VI_ATTR_TKVISA_TRACE_DROPPED. The ids lie in the vendor
 * block 0x3FFF8000 and above, which no standard attribute uses.
 *
 * A process started with the environment variable TKVISA_TRACE_FILE naming a
 * file appends the entries of every session to it (read once, when the
 * library loads), whatever the sessions' attributes say.
 *
 * viTkReadTrace copies the ring, oldest entry first, one line per entry:
 *   <seconds since the epoch, 6 decimals> 0x<session> <write|read|event>
 *   <call> 0x<status> "<data with C escapes: \n \r \t \\ \" \xHH>"
 * It sets *needed (when not VI_NULL) to the bytes the text takes with its
 * terminating NUL; bufSize 0 only asks that. A buffer smaller than that gets
 * an empty string and VI_ERROR_INV_LENGTH; a VI_NULL buffer with a non-zero
 * size VI_ERROR_USER_BUF. Reading leaves the ring as it is; viTkClearTrace
 * empties it and zeroes the dropped count. */
#define VI_ATTR_TKVISA_TRACE_EN (0x3FFF8001UL)       /* ViBoolean, read-write */
#define VI_ATTR_TKVISA_TRACE_CAPACITY (0x3FFF8002UL) /* ViUInt32, read-write */
#define VI_ATTR_TKVISA_TRACE_COUNT (0x3FFF8003UL)    /* ViUInt32, read-only */
#define VI_ATTR_TKVISA_TRACE_DROPPED (0x3FFF8004UL)  /* ViUInt32, read-only */

#if defined(__cplusplus)
extern "C" {
#endif
TKVISA_EXPORT ViStatus _VI_FUNC viTkReadTrace(ViSession vi, ViChar _VI_FAR buf[], ViUInt32 bufSize,
                                              ViPUInt32 needed);
TKVISA_EXPORT ViStatus _VI_FUNC viTkClearTrace(ViSession vi);
#if defined(__cplusplus)
}
#endif

#endif /* TARVEK_VISA_H */
