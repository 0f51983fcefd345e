// The emulator's VXI-11 server: a portmapper (TCP and UDP) on its own port,
// the core channel and the abort channel, serving one emulated instrument to
// any number of links, with locks between them.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace emu {

// What the server needs from the instrument behind it. Calls come from the
// server's threads, one at a time per link.
class Vxi11Backend {
  public:
    virtual ~Vxi11Backend() = default;
    // Executes one program message line (without "\n") received on a link;
    // appends the reply, with its "\n", to strReply. bReplyWaiting tells that
    // the link holds an unread reply (MAV). False drops the link.
    virtual bool Execute(int nLink, const std::string& strLine, std::string& strReply,
                         bool bReplyWaiting) = 0;
    // How long a reply waits before it is returned (fault injection).
    virtual std::chrono::milliseconds ReplyDelay() = 0;
    // A device error code to answer the next core call with, or 0.
    virtual int TakeDeviceError() = 0;
    // The status byte, with MAV when bReplyWaiting.
    virtual int StatusByte(bool bReplyWaiting) = 0;
    virtual void Trigger() = 0;
    virtual void DeviceClear() = 0;
    virtual void Trace(int nLink, const char* pszDirection, const std::string& strText) = 0;
};

class Vxi11Server {
  public:
    explicit Vxi11Server(Vxi11Backend& backend);
    ~Vxi11Server();
    Vxi11Server(const Vxi11Server&) = delete;
    Vxi11Server& operator=(const Vxi11Server&) = delete;

    // Binds the portmapper (TCP and UDP) to host:nRpcPort and the core and
    // abort channels to ephemeral ports; throws std::runtime_error.
    void Start(const std::string& strHost, unsigned short nRpcPort);
    void Stop();
    // Whether a link (and the lock it holds) stays after its connection
    // ends, until destroy_link; set before Start.
    void SetLinksOutliveConnections(bool bOutlive);
    // Whether the portmapper also answers GETPORT sent to the broadcast
    // address of its interface, as LAN instruments do for discovery; set
    // before Start.
    void SetAnswerBroadcast(bool bAnswer);

    unsigned short RpcPort() const;
    unsigned short CorePort() const;
    unsigned short AbortPort() const;
    std::size_t LinkCount() const;
    // Core-channel calls answered so far (every procedure, every link).
    std::size_t CoreCallCount() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace emu
