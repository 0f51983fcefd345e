// The emulator's USB instrument: a file served through FUSE that behaves as
// the kernel usbtmc driver's character device /dev/usbtmcN does, for one
// emulated USB488 instrument. One write() is one message (ended when EOM is
// enabled), one read() one transfer of the reply (USBTMC_IOCTL_MSG_IN_ATTR
// tells whether it ended the message), the driver's ioctls act on the
// instrument, and poll() shows POLLPRI while a service request is pending
// for the file, until USBTMC488_IOCTL_READ_STB takes it.
//
// A regular FUSE file rather than a CUSE character device: every usbtmc
// ioctl the driver defines encodes its argument's size and direction, which
// is all the restricted ioctls of a FUSE file need; and a FUSE mount can sit
// on any file, so a test puts it at /dev/usbtmcN inside its own mount
// namespace, where a CUSE node would appear in the machine's /dev for every
// process to see.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "Vxi11Server.h"

namespace emu {

// Behaviours of a misbehaving USB device, for the tests of the host side.
struct UsbtmcFaults {
    std::size_t nMaxTransfer = 0;  // bytes per reply transfer at most (0: any)
    std::size_t nStopAfter = 0;    // falls silent after this many reply bytes (0: never)
    bool bStall = false;           // answers no transfer and no request: they time out
    std::string strFailRequest;    // this request fails with EIO ("clear", "read-stb", ...)
    bool bUnplugOnRead = false;    // vanishes while the first read waits
    bool bRefuseOpen = false;      // open() fails with EACCES
    bool bNoCaps = false;          // a plain USBTMC device without USB488 capabilities
};

class UsbtmcServer {
  public:
    explicit UsbtmcServer(Vxi11Backend& backend);
    ~UsbtmcServer();
    UsbtmcServer(const UsbtmcServer&) = delete;
    UsbtmcServer& operator=(const UsbtmcServer&) = delete;

    // Mounts the device file on strPath (an existing regular file) and
    // serves it on a thread of its own; throws std::runtime_error. Every
    // program message and device request is appended to strLogPath, one a
    // line, when given.
    void Start(const std::string& strPath, const UsbtmcFaults& faults,
               const std::string& strLogPath);
    void Stop();

    // Named here so that the C callbacks of the FUSE session can reach it.
    struct Impl;

  private:
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace emu
