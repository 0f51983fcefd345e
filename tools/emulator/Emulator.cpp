#include "Emulator.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <list>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "Announcer.h"
#include "HislipServer.h"
#include "Instrument.h"
#include "Socket.h"
#include "UsbtmcServer.h"
#include "Vxi11Server.h"

namespace emu {

namespace {

// Longest program message kept; a longer one is an input buffer overrun.
constexpr size_t kMaxMessageBytes = 1 << 20;

Family FamilyOfModel(const std::string& strModel) {
    if (strModel.rfind("63", 0) == 0) {
        return Family::Series6310;
    }
    if (strModel.rfind("65", 0) == 0) {
        return Family::Series6510;
    }
    throw std::invalid_argument("model '" + strModel +
                                "' belongs to no family: it must begin with 63 or 65");
}

std::string Printable(const std::string& str) {
    std::string strOut;
    for (unsigned char c : str) {
        if (c >= 0x20 && c < 0x7F) {
            strOut += static_cast<char>(c);
        } else {
            char szHex[8];
            std::snprintf(szHex, sizeof szHex, "\\x%02X", c);
            strOut += szHex;
        }
    }
    return strOut;
}

}  // namespace

struct Emulator::Impl final : Vxi11Backend {
    struct Connection {
        int fd = -1;
        bool bSocket = true;
        int nId = 0;
    };

    EmulatorOptions options;
    Family family;
    mutable std::mutex mutex;  // guards everything below but the thread bookkeeping
    mutable std::condition_variable cvLines;
    Instrument instrument;
    std::vector<std::string> vecLines;
    std::chrono::milliseconds replyDelay{0};
    size_t nSplitChunk = 0;
    std::optional<size_t> closeAfter;
    int nDeviceError = 0;
    Vxi11Server vxi11{*this};
    HislipServer hislip{*this};
    UsbtmcServer usbtmc{*this};
    LxiWebServer web;
    MdnsAnnouncer announcer;

    // Wakes every wait of the connections and the pseudo-terminal at Stop().
    std::optional<tknet::WakePipe> wake;
    int fdWakeRead = -1;
    std::optional<tknet::Listener> listener;
    std::thread threadPty;
    tknet::Fd fdPtyMaster;
    tknet::Fd fdPtySlave;
    std::string strPtyName;
    unsigned short nPort = 0;
    bool bStarted = false;
    std::atomic<int> nNextId{1};
    std::mutex mutexTrace;

    explicit Impl(EmulatorOptions opts)
        : options(std::move(opts)),
          family(FamilyOfModel(options.strModel)),
          instrument(Identity{options.strManufacturer, options.strModel, options.strSerial,
                              options.strFirmware},
                     family) {}

    // ----- the VXI-11 server's view of the instrument -----

    bool Execute(int nLink, const std::string& strLine, std::string& strReply,
                 bool bReplyWaiting) override {
        Reply reply;
        {
            std::lock_guard<std::mutex> lock(mutex);
            vecLines.push_back(strLine);
            cvLines.notify_all();
            Trace(nLink, "<-", strLine);
            if (closeAfter) {
                if (*closeAfter == 0) {
                    closeAfter.reset();
                    Trace(nLink, "--", "dropping link (fault injection)");
                    return false;
                }
                --*closeAfter;
            }
            std::string strMessage = strLine;
            if (!strMessage.empty() && strMessage.back() == '\r') {
                strMessage.pop_back();
            }
            reply = instrument.Execute(strMessage, bReplyWaiting);
        }
        if (reply.bHasReply) {
            strReply += reply.strText + "\n";
        }
        return true;
    }

    std::chrono::milliseconds ReplyDelay() override {
        std::lock_guard<std::mutex> lock(mutex);
        return replyDelay;
    }

    int TakeDeviceError() override {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(nDeviceError, 0);
    }

    int StatusByte(bool bReplyWaiting) override {
        std::lock_guard<std::mutex> lock(mutex);
        return std::atoi(instrument.Execute("*STB?", bReplyWaiting).strText.c_str());
    }

    void Trigger() override {
        std::lock_guard<std::mutex> lock(mutex);
        instrument.Execute("*TRG");
    }

    void DeviceClear() override {}

    void Trace(int nId, const char* pszDirection, const std::string& strText) override {
        if (!options.bTrace) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutexTrace);
        std::cerr << "[emulator #" << nId << "] " << pszDirection << " " << Printable(strText)
                  << std::endl;
    }

    // Waits for input on fd or for the stop signal; returns false on stop.
    bool WaitReadable(int fd, int nTimeoutMs, bool& bReadable) {
        const tknet::Result result = tknet::WaitReady(
            fd, POLLIN,
            tknet::Deadline(nTimeoutMs < 0 ? tknet::Deadline::kInfinite
                                           : static_cast<std::uint32_t>(nTimeoutMs)),
            fdWakeRead);
        bReadable = result == tknet::Result::kOk;
        return result == tknet::Result::kOk || result == tknet::Result::kTimeout;
    }

    bool WriteAll(Connection& connection, const std::string& strData) {
        size_t nChunk;
        {
            std::lock_guard<std::mutex> lock(mutex);
            nChunk = nSplitChunk;
        }
        size_t nOffset = 0;
        while (nOffset < strData.size()) {
            size_t nLength = strData.size() - nOffset;
            if (nChunk > 0) {
                nLength = std::min(nLength, nChunk);
            }
            ssize_t nWritten =
                connection.bSocket
                    ? ::send(connection.fd, strData.data() + nOffset, nLength, MSG_NOSIGNAL)
                    : ::write(connection.fd, strData.data() + nOffset, nLength);
            if (nWritten < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    // Wait for room, or for the stop signal, so that a client
                    // that does not read never blocks Stop(). A pseudo-terminal
                    // nobody reads drops the reply after a second.
                    if (tknet::WaitReady(
                            connection.fd, POLLOUT,
                            tknet::Deadline(connection.bSocket ? tknet::Deadline::kInfinite : 1000),
                            fdWakeRead) != tknet::Result::kOk) {
                        return false;
                    }
                    continue;
                }
                return false;
            }
            nOffset += static_cast<size_t>(nWritten);
            if (nChunk > 0 && nOffset < strData.size()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        return true;
    }

    // Handles one complete message; false closes the connection.
    bool HandleMessage(Connection& connection, const std::string& strLine,
                       const std::string& strPending) {
        Reply reply;
        std::chrono::milliseconds delay{0};
        {
            std::lock_guard<std::mutex> lock(mutex);
            vecLines.push_back(strLine);
            cvLines.notify_all();
            Trace(connection.nId, "<-", strLine);
            if (closeAfter) {
                if (*closeAfter == 0) {
                    closeAfter.reset();
                    Trace(connection.nId, "--", "closing connection (fault injection)");
                    return false;
                }
                --*closeAfter;
            }
            std::string strMessage = strLine;
            if (!strMessage.empty() && strMessage.back() == '\r') {
                strMessage.pop_back();
            }
            reply = instrument.Execute(strMessage);
            delay = replyDelay;
        }
        if (!reply.bHasReply) {
            return true;
        }
        if (delay.count() > 0) {
            // A new message arriving before the delayed reply went out
            // interrupts the query, as on an instrument whose output queue
            // was not read.
            bool bReadable = false;
            if (!WaitReadable(connection.fd, static_cast<int>(delay.count()), bReadable)) {
                return false;
            }
            if (bReadable || strPending.find('\n') != std::string::npos) {
                std::lock_guard<std::mutex> lock(mutex);
                instrument.PushError(-410);
                Trace(connection.nId, "--", "reply discarded: query interrupted");
                return true;
            }
        }
        Trace(connection.nId, "->", reply.strText);
        return WriteAll(connection, reply.strText + "\n");
    }

    void Serve(Connection& connection) {
        std::string strBuffer;
        char achChunk[4096];
        for (;;) {
            bool bReadable = false;
            if (!WaitReadable(connection.fd, -1, bReadable)) {
                break;
            }
            if (!bReadable) {
                continue;
            }
            ssize_t nRead = ::read(connection.fd, achChunk, sizeof achChunk);
            if (nRead < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
                continue;
            }
            if (nRead <= 0) {
                if (nRead == 0 && strBuffer.find('?') != std::string::npos) {
                    // The client went away in the middle of a query.
                    std::lock_guard<std::mutex> lock(mutex);
                    instrument.PushError(-420);
                }
                if (!connection.bSocket && nRead < 0 && errno == EIO) {
                    // No client holds the pseudo-terminal open; wait for one.
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    continue;
                }
                break;
            }
            strBuffer.append(achChunk, static_cast<size_t>(nRead));
            size_t nNewline;
            bool bOpen = true;
            while (bOpen && (nNewline = strBuffer.find('\n')) != std::string::npos) {
                std::string strLine = strBuffer.substr(0, nNewline);
                strBuffer.erase(0, nNewline + 1);
                // A pseudo-terminal cannot be closed on its client: a dropped
                // connection there only loses the message.
                bOpen = HandleMessage(connection, strLine, strBuffer) || !connection.bSocket;
            }
            if (!bOpen) {
                break;
            }
            if (strBuffer.size() > kMaxMessageBytes) {
                std::lock_guard<std::mutex> lock(mutex);
                instrument.PushError(-363);
                strBuffer.clear();
            }
        }
    }

    void OpenListener() {
        listener.emplace();
        const tknet::Result result = listener->Open(options.strHost, options.nPort);
        if (result != tknet::Result::kOk) {
            listener.reset();
            throw std::runtime_error(result == tknet::Result::kNoHost
                                         ? "cannot resolve '" + options.strHost + "'"
                                         : "cannot listen on " + options.strHost + ":" +
                                               std::to_string(options.nPort) + ": " +
                                               std::strerror(errno));
        }
        nPort = listener->Port();
    }

    // Serves one accepted client on the listener's thread for it.
    void ServeClient(tknet::Fd fd) {
        ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) | O_NONBLOCK);
        Connection connection;
        connection.fd = fd.Get();
        connection.nId = nNextId++;
        Trace(connection.nId, "--", "connected");
        Serve(connection);
    }

    void OpenPty() {
        fdPtyMaster.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!fdPtyMaster || ::grantpt(fdPtyMaster.Get()) != 0 ||
            ::unlockpt(fdPtyMaster.Get()) != 0) {
            throw std::runtime_error(std::string("cannot open a pseudo-terminal: ") +
                                     std::strerror(errno));
        }
        char szName[128] = {};
        if (::ptsname_r(fdPtyMaster.Get(), szName, sizeof szName) != 0) {
            throw std::runtime_error("cannot name the pseudo-terminal");
        }
        strPtyName = szName;
        // Holding the slave open keeps the master readable while no client is
        // attached; raw mode stops the line discipline echoing or translating.
        fdPtySlave.Reset(::open(szName, O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (fdPtySlave) {
            termios settings{};
            if (::tcgetattr(fdPtySlave.Get(), &settings) == 0) {
                ::cfmakeraw(&settings);
                ::tcsetattr(fdPtySlave.Get(), TCSANOW, &settings);
            }
        }
        const int nFlags = ::fcntl(fdPtyMaster.Get(), F_GETFL);
        ::fcntl(fdPtyMaster.Get(), F_SETFL, nFlags | O_NONBLOCK);
        threadPty = std::thread([this] {
            Connection connection;
            connection.fd = fdPtyMaster.Get();
            connection.bSocket = false;
            Serve(connection);
        });
    }

    void Start() {
        if (bStarted) {
            return;
        }
        wake.emplace();
        if (!wake->Valid()) {
            throw std::runtime_error("cannot create the wake-up pipe");
        }
        fdWakeRead = wake->ReadFd();
        try {
            if (options.bTcp) {
                OpenListener();
            }
            if (options.bSerialPty) {
                OpenPty();
            }
        } catch (...) {
            Stop();
            throw;
        }
        if (options.bVxi11) {
            try {
                vxi11.SetLinksOutliveConnections(options.bVxi11LinksOutliveConnections);
                vxi11.SetAnswerBroadcast(options.bAnnounce);
                vxi11.Start(options.strHost, options.nRpcPort);
            } catch (...) {
                Stop();
                throw;
            }
        }
        if (options.bHislip) {
            try {
                hislip.Start(options.strHost, options.nHislipPort);
            } catch (...) {
                Stop();
                throw;
            }
        }
        if (!options.strUsbtmcPath.empty()) {
            try {
                usbtmc.Start(options.strUsbtmcPath, options.usbtmcFaults, options.strUsbtmcLog);
            } catch (...) {
                Stop();
                throw;
            }
        }
        if (listener) {
            listener->Start(
                [this](tknet::Fd fd, const tknet::Address&) { ServeClient(std::move(fd)); });
        }
        bStarted = true;
    }

    void Stop() {
        announcer.Stop();
        web.Stop();
        vxi11.Stop();
        hislip.Stop();
        usbtmc.Stop();
        if (wake) {
            wake->Wake();
        }
        if (listener) {
            listener->Stop();
            listener.reset();
        }
        if (threadPty.joinable()) {
            threadPty.join();
        }
        fdPtyMaster.Reset();
        fdPtySlave.Reset();
        wake.reset();
        fdWakeRead = -1;
        strPtyName.clear();
        bStarted = false;
    }
};

Emulator::Emulator(EmulatorOptions options) : m_pImpl(std::make_unique<Impl>(std::move(options))) {}

Emulator::~Emulator() {
    m_pImpl->Stop();
}

void Emulator::Start() {
    m_pImpl->Start();
    const EmulatorOptions& options = m_pImpl->options;
    if (!options.bLxiHttp && !options.bAnnounce) {
        return;
    }
    try {
        const InstrumentIdentity identity{options.strManufacturer, options.strModel,
                                          options.strSerial, options.strFirmware};
        std::vector<std::string> vecResources;
        for (const std::string& strResource : {Vxi11Resource(), HislipResource(), Resource()}) {
            if (!strResource.empty() && (options.bTcp || strResource != Resource())) {
                vecResources.push_back(strResource);
            }
        }
        if (options.bLxiHttp) {
            m_pImpl->web.Start(options.strHost, options.nHttpPort, identity, vecResources,
                               options.bLxiHttpHangs);
        }
        if (options.bAnnounce) {
            std::vector<std::pair<std::string, std::uint16_t>> vecServices;
            if (options.bVxi11) {
                vecServices.emplace_back("_vxi-11._tcp", RpcPort());
            }
            if (options.bHislip) {
                vecServices.emplace_back("_hislip._tcp", HislipPort());
            }
            if (options.bTcp) {
                vecServices.emplace_back("_scpi-raw._tcp", Port());
            }
            if (options.bLxiHttp) {
                vecServices.emplace_back("_lxi._tcp", HttpPort());
                vecServices.emplace_back("_http._tcp", HttpPort());
            }
            m_pImpl->announcer.Start(options.strHost, identity, vecServices);
        }
    } catch (...) {
        m_pImpl->Stop();
        throw;
    }
}

void Emulator::Stop() {
    m_pImpl->Stop();
}

unsigned short Emulator::Port() const {
    return m_pImpl->nPort;
}

std::string Emulator::Resource() const {
    std::string strHost = m_pImpl->options.strHost;
    if (strHost.empty() || strHost == "0.0.0.0" || strHost == "::") {
        strHost = "127.0.0.1";
    }
    return "TCPIP::" + strHost + "::" + std::to_string(m_pImpl->nPort) + "::SOCKET";
}

// "TCPIP::<host>::<device>::INSTR" for the address the emulator listens on,
// built by appending in place (GCC 12 at -O3 warns of overlapping copies in
// chains of string concatenations).
static std::string InstrResource(const std::string& strListen, const std::string& strDevice) {
    std::string strResource = "TCPIP::";
    if (strListen.empty() || strListen == "0.0.0.0" || strListen == "::") {
        strResource += "127.0.0.1";
    } else if (strListen.find(':') != std::string::npos) {
        strResource += '[';
        strResource += strListen;
        strResource += ']';
    } else {
        strResource += strListen;
    }
    if (!strDevice.empty()) {
        strResource += "::";
        strResource += strDevice;
    }
    strResource += "::INSTR";
    return strResource;
}

unsigned short Emulator::HttpPort() const {
    return m_pImpl->options.bLxiHttp ? m_pImpl->web.Port() : 0;
}

bool Emulator::WaitAnnounced(std::chrono::milliseconds timeout) {
    return m_pImpl->options.bAnnounce && m_pImpl->announcer.WaitAnnounced(timeout);
}

std::string Emulator::Vxi11Resource() const {
    if (!m_pImpl->options.bVxi11) {
        return {};
    }
    return InstrResource(m_pImpl->options.strHost, {});
}

unsigned short Emulator::RpcPort() const {
    return m_pImpl->options.bVxi11 ? m_pImpl->vxi11.RpcPort() : 0;
}

size_t Emulator::Vxi11LinkCount() const {
    return m_pImpl->vxi11.LinkCount();
}

size_t Emulator::Vxi11CoreCalls() const {
    return m_pImpl->vxi11.CoreCallCount();
}

std::string Emulator::HislipResource() const {
    if (!m_pImpl->options.bHislip) {
        return {};
    }
    const unsigned short nPort = m_pImpl->hislip.Port();
    std::string strDevice = "hislip0";
    if (nPort != 4880) {
        strDevice += ',';
        strDevice += std::to_string(nPort);
    }
    return InstrResource(m_pImpl->options.strHost, strDevice);
}

unsigned short Emulator::HislipPort() const {
    return m_pImpl->options.bHislip ? m_pImpl->hislip.Port() : 0;
}

size_t Emulator::HislipSessionCount() const {
    return m_pImpl->hislip.SessionCount();
}

void Emulator::SetHislipError(int nCode, bool bFatal) {
    m_pImpl->hislip.InjectError(nCode, bFatal);
}

void Emulator::RequestService(int nStatusByte) {
    m_pImpl->hislip.RequestService(nStatusByte);
}

void Emulator::SetDeviceError(int nCode) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->nDeviceError = nCode;
}

std::string Emulator::SerialDevice() const {
    return m_pImpl->strPtyName;
}

std::string Emulator::SerialResource() const {
    return m_pImpl->strPtyName.empty() ? std::string() : "ASRL" + m_pImpl->strPtyName + "::INSTR";
}

std::vector<std::string> Emulator::Lines() const {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->vecLines;
}

void Emulator::ClearLines() {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->vecLines.clear();
}

bool Emulator::WaitForLines(size_t nCount, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->cvLines.wait_for(lock, timeout,
                                     [&] { return m_pImpl->vecLines.size() >= nCount; });
}

void Emulator::SetReplyDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->replyDelay = delay;
}

void Emulator::SetFixedReply(const std::string& strQuery, const std::string& strReply) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->instrument.SetQueryFault(strQuery, {QueryFault::Kind::Fixed, strReply, 0});
}

void Emulator::SetNoReply(const std::string& strQuery) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->instrument.SetQueryFault(strQuery, {QueryFault::Kind::NoReply, {}, 0});
}

void Emulator::SetGarbledReply(const std::string& strQuery) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->instrument.SetQueryFault(strQuery, {QueryFault::Kind::Garbled, {}, 0});
}

void Emulator::SetOversizedReply(const std::string& strQuery, size_t nBytes) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->instrument.SetQueryFault(strQuery, {QueryFault::Kind::Oversized, {}, nBytes});
}

void Emulator::SetSplitReplies(size_t nChunkBytes) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->nSplitChunk = nChunkBytes;
}

void Emulator::CloseAfterMessages(size_t nCount) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->closeAfter = nCount;
}

void Emulator::SetStatusBits(int nEsrBits) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->instrument.SetStatusBits(nEsrBits);
}

void Emulator::PushError(int nCode, const std::string& strMessage) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->instrument.PushError(nCode, strMessage);
}

void Emulator::ClearFaults() {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->instrument.ClearQueryFaults();
    m_pImpl->replyDelay = std::chrono::milliseconds(0);
    m_pImpl->nSplitChunk = 0;
    m_pImpl->closeAfter.reset();
    m_pImpl->nDeviceError = 0;
}

EmulatorSnapshot Emulator::Snapshot() const {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    Instrument& instrument = m_pImpl->instrument;
    instrument.Advance();
    EmulatorSnapshot snapshot;
    snapshot.nChannelCount = instrument.ChannelCount();
    for (int n = 0; n < snapshot.nChannelCount; ++n) {
        const ChannelState& channel = instrument.Channel(n);
        OutputSnapshot output;
        output.dVoltageSetpoint = channel.settings.dVoltage;
        output.dCurrentSetpoint = channel.settings.dCurrent;
        output.dOvpLevel = channel.settings.dOvpLevel;
        output.dOcpLevel = channel.settings.dOcpLevel;
        output.bOutputEnabled = channel.settings.bOutput;
        output.bOvpTripped = channel.bOvpTripped;
        output.bOcpTripped = channel.bOcpTripped;
        output.dMeasuredVoltage = instrument.MeasuredVoltage(n);
        output.dMeasuredCurrent = instrument.MeasuredCurrent(n);
        output.nListStep = instrument.ListStepNumber(n);
        output.bListRunning = instrument.ListRunning(n);
        snapshot.vecOutputs.push_back(output);
    }
    snapshot.nSelectedChannel = instrument.SelectedChannel();
    snapshot.bBatteryTestRunning = instrument.BatteryTestRunning();
    snapshot.bDataLoggerRunning = instrument.DataLoggerRunning();
    snapshot.nStandardEventStatus = instrument.StandardEventStatus();
    snapshot.vecErrors = instrument.ErrorQueue();
    return snapshot;
}

void Emulator::SetLoadResistance(int nChannel, double dOhms) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->instrument.SetLoadResistance(nChannel, dOhms);
}

void Emulator::SetDigitalInput(long nLevels) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->instrument.SetDigitalInput(nLevels);
}

size_t Emulator::ConnectionCount() const {
    return m_pImpl->listener ? m_pImpl->listener->ActiveConnections() : 0;
}

void Emulator::PowerCycle() {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->instrument.PowerCycle();
}

}  // namespace emu
