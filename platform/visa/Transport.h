// The byte transport under a VISA session: one implementation per interface
// (TCP socket, serial port, VXI-11, HiSLIP, USBTMC), chosen from a table by
// the parsed resource name. A transport knows bytes, deadlines and line
// settings; termination, buffering and formatting belong to the session
// above it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Deadline.h"
#include "ResourceName.h"
#include "visa.h"

namespace tkvisa {

// One deadline per VISA call; see platform/net/Deadline.h.
using tknet::Deadline;
using tknet::NowMs;

// Settings of a session that a transport applies to its line. The session
// validates ranges before handing them down.
struct LineSettings {
    ViUInt32 nBaud = 9600;
    ViUInt16 nDataBits = 8;
    ViUInt16 nParity = VI_ASRL_PAR_NONE;
    ViUInt16 nStopBits = VI_ASRL_STOP_ONE;
    ViUInt16 nFlowControl = VI_ASRL_FLOW_NONE;
    ViUInt8 nXonChar = 0x11;
    ViUInt8 nXoffChar = 0x13;
    ViBoolean bNoDelay = VI_TRUE;
    ViBoolean bKeepAlive = VI_FALSE;
};

// How messages end on a link that carries message ends itself (VXI-11): the
// session hands them down before each transfer.
struct MessageOptions {
    bool bSendEnd = true;
    bool bTermCharEnabled = false;
    ViUInt8 nTermChar = '\n';
};

class Transport {
  public:
    virtual ~Transport() = default;
    virtual ViStatus Open(const ResourceName& resource, ViUInt32 nOpenTimeoutMs,
                          const LineSettings& settings) = 0;
    virtual void Close() = 0;
    // Writes all bytes or fails; *pWritten holds the bytes that went out.
    virtual ViStatus Write(const ViByte* pData, std::size_t nCount, const Deadline& deadline,
                           std::size_t* pWritten) = 0;
    // Reads at least one byte (up to nMax) or fails with VI_ERROR_TMO or
    // VI_ERROR_CONN_LOST.
    virtual ViStatus Read(ViByte* pData, std::size_t nMax, const Deadline& deadline,
                          std::size_t* pRead) = 0;
    // Discards input the operating system holds for this connection.
    virtual ViStatus DiscardInput() = 0;
    // Waits until queued output has left (serial) or returns at once.
    virtual ViStatus DrainOutput() { return VI_SUCCESS; }
    virtual ViStatus Apply(const LineSettings& settings) = 0;
    // Signals END after a write where the line has an out-of-band way to.
    virtual ViStatus SendBreak() { return VI_ERROR_NSUP_OPER; }
    // Bytes the operating system holds for reading, where it can tell.
    virtual std::size_t Available() { return 0; }
    // Wakes a blocked Read or Write from another thread before Close.
    virtual void Interrupt() {}
    // Text attributes that only the connection knows (peer address).
    virtual std::string PeerAddress() const { return {}; }

    // Links that carry message ends: the settings for the next transfers,
    // and whether the last Read ended a message (it may then return 0 bytes).
    virtual void SetMessageOptions(const MessageOptions&) {}
    virtual bool ReadEndedMessage() const { return false; }

    // Device operations of links that have them (VXI-11); others answer
    // VI_ERROR_NSUP_OPER and the session falls back where VISA allows.
    virtual ViStatus DeviceClear(const Deadline&) { return VI_ERROR_NSUP_OPER; }
    virtual ViStatus ReadStatusByte(ViUInt16*, const Deadline&) { return VI_ERROR_NSUP_OPER; }
    virtual ViStatus AssertTrigger(const Deadline&) { return VI_ERROR_NSUP_OPER; }
    // viGpibControlREN on links that carry remote/local control (USB488).
    virtual ViStatus ControlRen(ViUInt16, const Deadline&) { return VI_ERROR_NSUP_OPER; }
    // An exclusive lock held by the device against other links, waiting up
    // to the deadline for another link's lock to go.
    virtual ViStatus LockDevice(const Deadline&) { return VI_ERROR_NSUP_OPER; }
    virtual ViStatus UnlockDevice(const Deadline&) { return VI_ERROR_NSUP_OPER; }
    // A shared lock under strKey (HiSLIP); released by UnlockDevice.
    virtual ViStatus LockDeviceShared(const std::string&, const Deadline&) {
        return VI_ERROR_NSUP_OPER;
    }

    // Attributes that only the link knows (HiSLIP version, message size,
    // overlap mode); VI_ERROR_NSUP_ATTR for every other attribute.
    virtual ViStatus GetLinkAttribute(ViAttr, void*) { return VI_ERROR_NSUP_ATTR; }
    virtual ViStatus SetLinkAttribute(ViAttr, ViAttrState, const Deadline&) {
        return VI_ERROR_NSUP_ATTR;
    }

    // Service requests the device sends on its own (HiSLIP): the hook gets
    // the status byte; PollServiceRequests hands over those that arrived
    // without blocking.
    virtual void SetServiceRequestHook(std::function<void(ViUInt8)>) {}
    virtual ViStatus PollServiceRequests() { return VI_SUCCESS; }
    // Service requests a link asks the device for (VXI-11's interrupt
    // channel): while enabled, the device's requests arrive as
    // VI_EVENT_SERVICE_REQ on session vi. Links that need no asking accept.
    virtual ViStatus EnableServiceRequests(ViSession, bool, const Deadline&) { return VI_SUCCESS; }
};

struct TransportEntry {
    ViUInt16 nIntfType;
    const char* pszClass;
    // Device names the row claims by prefix ("hislip"), or null for any.
    const char* pszDevicePrefix;
    std::unique_ptr<Transport> (*pfnCreate)();
};

// The transport that serves a parsed resource, or null when none does.
const TransportEntry* FindTransport(const ResourceName& resource);

std::unique_ptr<Transport> CreateTcpipSocketTransport();
std::unique_ptr<Transport> CreateSerialTransport();
std::unique_ptr<Transport> CreateVxi11Transport();
std::unique_ptr<Transport> CreateHislipTransport();
std::unique_ptr<Transport> CreateUsbtmcTransport();

// The find hook of USB instruments: appends the name of every USBTMC device
// present ("USB0::0x1AB1::0x04CE::SN1::0::INSTR").
void AddUsbtmcDevices(std::vector<std::string>& vecNames);

}  // namespace tkvisa
