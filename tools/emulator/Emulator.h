// An emulated Series6310 (three outputs) or Series6510 (one output) DC power
// supply speaking SCPI over TCP (raw socket, like port 5025 of a LAN
// instrument) and, optionally, over a pseudo-terminal as a serial instrument.
//
// Tests start one in-process on 127.0.0.1 port 0, point the code under test
// at Resource(), and then read Lines() (every program message received, in
// order) or inject faults. Every member function is thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "UsbtmcServer.h"

namespace emu {

struct EmulatorOptions {
    std::string strModel = "6313";  // "63xx": three outputs; "65xx": one output
    std::string strManufacturer = "Norvale";
    std::string strSerial = "SN000001";
    std::string strFirmware = "1.02";
    std::string strHost = "127.0.0.1";
    unsigned short nPort = 0;       // 0: an ephemeral port
    bool bTrace = false;            // log traffic to stderr
    bool bSerialPty = false;        // also serve on a pseudo-terminal
    bool bTcp = true;               // serve on TCP
    bool bVxi11 = false;            // also serve VXI-11 (LAN instrument, ...::INSTR)
    unsigned short nRpcPort = 111;  // the VXI-11 portmapper's port (TCP and UDP); 0: ephemeral
    // VXI-11 links, and the lock, outlive the connection that created them
    // until destroy_link, as on instruments that never notice a client gone.
    bool bVxi11LinksOutliveConnections = false;
    bool bHislip = false;               // also serve HiSLIP (...::hislip0::INSTR)
    unsigned short nHislipPort = 4880;  // the HiSLIP port; 0: ephemeral
    // Also serve a USB instrument as the kernel usbtmc driver's device node,
    // mounted through FUSE on this existing file ("" for none).
    std::string strUsbtmcPath;
    UsbtmcFaults usbtmcFaults;
    std::string strUsbtmcLog;  // every USB message and request, one a line
    // Make itself found like a LAN instrument: the portmapper also answers
    // broadcast GETPORT, and the services are announced over multicast DNS
    // (on the interface holding strHost, which must be an IPv4 address).
    bool bAnnounce = false;
    bool bLxiHttp = false;          // serve the LXI identification document over HTTP
    unsigned short nHttpPort = 80;  // its port; 0: ephemeral
    bool bLxiHttpHangs = false;     // the web server accepts requests and never answers
};

// One output's state at the moment of a Snapshot().
struct OutputSnapshot {
    double dVoltageSetpoint = 0.0;
    double dCurrentSetpoint = 0.0;
    double dOvpLevel = 0.0;
    double dOcpLevel = 0.0;
    bool bOutputEnabled = false;
    bool bOvpTripped = false;
    bool bOcpTripped = false;
    double dMeasuredVoltage = 0.0;
    double dMeasuredCurrent = 0.0;
    int nListStep = 0;  // 1-based step while a list runs, else 0
    bool bListRunning = false;
};

// The emulated instrument's state, copied at one moment, for tests to assert.
struct EmulatorSnapshot {
    std::vector<OutputSnapshot> vecOutputs;  // one per output the model has; 0 is CH1
    int nChannelCount = 0;
    int nSelectedChannel = 0;  // 0-based
    bool bBatteryTestRunning = false;
    bool bDataLoggerRunning = false;
    int nStandardEventStatus = 0;                        // not cleared by taking the snapshot
    std::vector<std::pair<int, std::string>> vecErrors;  // the error queue, not emptied

    // The output nChannel (0-based); throws std::out_of_range for an output
    // the model does not have.
    const OutputSnapshot& Output(int nChannel) const {
        return vecOutputs.at(static_cast<size_t>(nChannel));
    }
};

class Emulator {
  public:
    explicit Emulator(EmulatorOptions options = {});  // throws on an unknown model family
    ~Emulator();                                      // stops the server, joins threads
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // Binds and listens (throws std::runtime_error on failure); serves on
    // its own threads until Stop() or destruction.
    void Start();
    void Stop();

    unsigned short Port() const;
    std::string Resource() const;       // "TCPIP::127.0.0.1::<port>::SOCKET"
    std::string Vxi11Resource() const;  // "TCPIP::127.0.0.1::INSTR" with VXI-11, else ""
    unsigned short RpcPort() const;     // the VXI-11 portmapper's port, or 0
    size_t Vxi11LinkCount() const;      // VXI-11 links open now
    size_t Vxi11CoreCalls() const;      // VXI-11 core-channel RPCs answered so far
    // "TCPIP::127.0.0.1::hislip0::INSTR" with HiSLIP (",<port>" after
    // "hislip0" when the port is not 4880), else "".
    std::string HislipResource() const;
    unsigned short HislipPort() const;  // the HiSLIP port, or 0
    size_t HislipSessionCount() const;  // HiSLIP sessions open now
    unsigned short HttpPort() const;    // the LXI web server's port, or 0
    // Whether every service announced over multicast DNS passed probing
    // (false at once without --announce).
    bool WaitAnnounced(std::chrono::milliseconds timeout);
    std::string SerialDevice() const;    // "/dev/pts/N" when the pty is enabled, else ""
    std::string SerialResource() const;  // "ASRL/dev/pts/N::INSTR" or ""

    // Every program message line received on any connection, in order, as
    // the exact bytes without the final "\n".
    std::vector<std::string> Lines() const;
    void ClearLines();
    bool WaitForLines(size_t nCount, std::chrono::milliseconds timeout) const;

    // Fault injection. Query keys are the header as sent ("*IDN?",
    // "MEAS:SCAL:VOLT:DC?"); any spelling of the same header matches.
    void SetReplyDelay(std::chrono::milliseconds delay);
    void SetFixedReply(const std::string& strQuery, const std::string& strReply);
    void SetNoReply(const std::string& strQuery);
    void SetGarbledReply(const std::string& strQuery);
    void SetOversizedReply(const std::string& strQuery, size_t nBytes);
    void SetSplitReplies(size_t nChunkBytes);  // 0 switches splitting off
    // The next nCount messages are served; the connection that receives the
    // one after them is closed without executing it.
    void CloseAfterMessages(size_t nCount);
    // The next VXI-11 core call on any link answers with this device error
    // code instead of running (11 locked, 17 I/O error, ...); 0 switches it off.
    void SetDeviceError(int nCode);
    // The next HiSLIP Data, DataEND or Trigger message is answered with an
    // Error of this code, or a FatalError that closes the session.
    void SetHislipError(int nCode, bool bFatal);
    // Sends a HiSLIP service request with this status byte to every session.
    void RequestService(int nStatusByte);
    void SetStatusBits(int nEsrBits);  // OR into the standard event status register
    void PushError(int nCode, const std::string& strMessage);
    void ClearFaults();

    // The instrument's state, copied in one piece under the lock after
    // bringing timed behaviour (lists, timers, the battery test) up to now.
    EmulatorSnapshot Snapshot() const;

    // State control. nChannel is 0-based (0 is CH1); a channel the model
    // does not have throws std::out_of_range.
    void SetLoadResistance(int nChannel, double dOhms);  // infinity: open circuit
    void SetDigitalInput(long nLevels);                  // external levels of the digital pins
    size_t ConnectionCount() const;
    void PowerCycle();  // applies the power-on state, as after switching off and on

  private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace emu
