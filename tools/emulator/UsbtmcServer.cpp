#define FUSE_USE_VERSION 35
#include "UsbtmcServer.h"

#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <linux/usb/tmc.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

namespace emu {
namespace {

// The kernel driver's defaults and limits.
constexpr std::uint32_t kDefaultTimeoutMs = 5000;
constexpr std::uint32_t kMinTimeoutMs = 100;
constexpr std::uint8_t kEomBit = 0x01;
constexpr std::uint8_t kTermCharBit = 0x02;
constexpr std::uint8_t kMssBit = 0x40;
// What GET_CAPS answers for a full USB488 instrument.
constexpr unsigned char kUsb488Caps = USBTMC488_CAPABILITY_TRIGGER | USBTMC488_CAPABILITY_SIMPLE |
                                      USBTMC488_CAPABILITY_488_DOT_2 | USBTMC488_CAPABILITY_DT1 |
                                      USBTMC488_CAPABILITY_RL1 | USBTMC488_CAPABILITY_SR1 |
                                      USBTMC488_CAPABILITY_FULL_SCPI;

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Requests that go to the device (and so may fail or stall), by the names
// the fault options use; the others are the driver's own settings.
struct DeviceRequest {
    unsigned int nCommand;
    const char* pszName;
};

constexpr DeviceRequest kDeviceRequests[] = {
    {USBTMC_IOCTL_CLEAR, "clear"},
    {USBTMC488_IOCTL_READ_STB, "read-stb"},
    {USBTMC488_IOCTL_TRIGGER, "trigger"},
    {USBTMC488_IOCTL_REN_CONTROL, "ren"},
    {USBTMC488_IOCTL_GOTO_LOCAL, "goto-local"},
    {USBTMC488_IOCTL_LOCAL_LOCKOUT, "local-lockout"},
    {USBTMC_IOCTL_INDICATOR_PULSE, "indicator-pulse"},
};

const char* DeviceRequestName(unsigned int nCommand) {
    for (const DeviceRequest& request : kDeviceRequests) {
        if (request.nCommand == nCommand) {
            return request.pszName;
        }
    }
    return nullptr;
}

}  // namespace

struct UsbtmcServer::Impl {
    // One open() of the device, with the driver's per-file settings.
    struct OpenFile {
        std::uint32_t nTimeoutMs = kDefaultTimeoutMs;
        bool bEom = true;
        std::uint8_t nTermChar = '\n';
        bool bTermChar = false;
        std::uint8_t nLastAttributes = 0;
        bool bSrq = false;
        std::uint8_t nSrqStatusByte = 0;
        fuse_pollhandle* pPoll = nullptr;
    };

    // A request answered later: with ETIMEDOUT at its deadline, or (a
    // USBTMC488_IOCTL_WAIT_SRQ) with success when a service request comes.
    struct Pending {
        fuse_req_t req;
        std::uint64_t nFile;
        std::int64_t nDeadlineMs;
        bool bWaitSrq;
    };

    explicit Impl(Vxi11Backend& backendIn) : backend(backendIn) {}

    Vxi11Backend& backend;
    UsbtmcFaults faults;
    std::FILE* pLog = nullptr;
    fuse_session* pSession = nullptr;
    bool bMounted = false;
    int aWake[2] = {-1, -1};
    std::thread thread;

    // Everything below belongs to the serving thread.
    std::map<std::uint64_t, OpenFile> mapFiles;
    std::uint64_t nNextFile = 1;
    std::string strInput;               // the message being received
    std::deque<std::string> queOutput;  // reply messages not yet read
    bool bMss = false;
    bool bUnplugged = false;
    std::size_t nReplyBytes = 0;  // reply bytes served so far
    std::vector<Pending> vecPending;

    void Log(const std::string& strLine) {
        backend.Trace(0, "usb", strLine);
        if (pLog != nullptr) {
            std::fprintf(pLog, "%s\n", strLine.c_str());
            std::fflush(pLog);
        }
    }

    OpenFile& File(fuse_file_info* fi) { return mapFiles[fi->fh]; }

    void Defer(fuse_req_t req, fuse_file_info* fi, bool bWaitSrq, std::uint32_t nMs) {
        vecPending.push_back({req, fi->fh, NowMs() + nMs, bWaitSrq});
    }

    // Executes a complete program message line by line; the replies of one
    // message form one reply message.
    void Execute(const std::string& strMessage) {
        std::string strReply;
        std::size_t nStart = 0;
        while (nStart < strMessage.size()) {
            std::size_t nEnd = strMessage.find('\n', nStart);
            if (nEnd == std::string::npos) {
                nEnd = strMessage.size();
            }
            std::string strLine = strMessage.substr(nStart, nEnd - nStart);
            nStart = nEnd + 1;
            if (strLine.empty() || strLine == "\r") {
                continue;
            }
            Log(strLine);
            backend.Execute(0, strLine, strReply, !queOutput.empty());
        }
        if (!strReply.empty()) {
            queOutput.push_back(strReply);
        }
        CheckServiceRequest();
    }

    // A rising MSS raises a service request on every open file, as the
    // driver does when the interrupt endpoint reports one.
    void CheckServiceRequest() {
        const int nStb = backend.StatusByte(!queOutput.empty());
        const bool bNow = (nStb & kMssBit) != 0;
        if (bNow && !bMss) {
            for (auto& [nId, file] : mapFiles) {
                file.bSrq = true;
                file.nSrqStatusByte = static_cast<std::uint8_t>(nStb);
                if (file.pPoll != nullptr) {
                    fuse_lowlevel_notify_poll(file.pPoll);
                    fuse_pollhandle_destroy(file.pPoll);
                    file.pPoll = nullptr;
                }
            }
            for (auto it = vecPending.begin(); it != vecPending.end();) {
                if (it->bWaitSrq) {
                    fuse_reply_ioctl(it->req, 0, nullptr, 0);
                    it = vecPending.erase(it);
                } else {
                    ++it;
                }
            }
        }
        bMss = bNow;
    }

    // ----- file operations -----

    void GetAttr(fuse_req_t req) {
        struct stat st {};
        st.st_ino = FUSE_ROOT_ID;
        st.st_mode = S_IFREG | 0666;
        st.st_nlink = 1;
        fuse_reply_attr(req, &st, 0);
    }

    void Open(fuse_req_t req, fuse_file_info* fi) {
        if (faults.bRefuseOpen) {
            fuse_reply_err(req, EACCES);
            return;
        }
        fi->fh = nNextFile++;
        fi->direct_io = 1;
        fi->nonseekable = 1;
        mapFiles[fi->fh] = OpenFile{};
        fuse_reply_open(req, fi);
    }

    void Release(fuse_req_t req, fuse_file_info* fi) {
        const auto it = mapFiles.find(fi->fh);
        if (it != mapFiles.end()) {
            if (it->second.pPoll != nullptr) {
                fuse_pollhandle_destroy(it->second.pPoll);
            }
            mapFiles.erase(it);
        }
        fuse_reply_err(req, 0);
    }

    void Write(fuse_req_t req, const char* pData, std::size_t nSize, fuse_file_info* fi) {
        OpenFile& file = File(fi);
        if (faults.bStall) {
            Defer(req, fi, false, file.nTimeoutMs);
            return;
        }
        strInput.append(pData, nSize);
        if (file.bEom) {
            const std::string strMessage = std::move(strInput);
            strInput.clear();
            Execute(strMessage);
        }
        fuse_reply_write(req, nSize);
    }

    void Read(fuse_req_t req, std::size_t nSize, fuse_file_info* fi) {
        OpenFile& file = File(fi);
        if (faults.bUnplugOnRead) {
            // The device goes while the host waits for its reply.
            bUnplugged = true;
            Defer(req, fi, false, file.nTimeoutMs);
            return;
        }
        const bool bSilent = faults.nStopAfter != 0 && nReplyBytes >= faults.nStopAfter;
        if (faults.bStall || bSilent || queOutput.empty()) {
            Defer(req, fi, false, file.nTimeoutMs);
            return;
        }
        std::string& strMessage = queOutput.front();
        std::size_t nTake = std::min(nSize, strMessage.size());
        if (faults.nMaxTransfer != 0) {
            nTake = std::min(nTake, faults.nMaxTransfer);
        }
        if (faults.nStopAfter != 0) {
            nTake = std::min(nTake, faults.nStopAfter - nReplyBytes);
        }
        nReplyBytes += nTake;
        std::uint8_t nAttributes = 0;
        if (file.bTermChar) {
            const std::size_t nAt = strMessage.find(static_cast<char>(file.nTermChar));
            if (nAt != std::string::npos && nAt < nTake) {
                nTake = nAt + 1;
                nAttributes |= kTermCharBit;
            }
        }
        const std::string strChunk = strMessage.substr(0, nTake);
        strMessage.erase(0, nTake);
        if (strMessage.empty()) {
            nAttributes |= kEomBit;
            queOutput.pop_front();
        }
        file.nLastAttributes = nAttributes;
        fuse_reply_buf(req, strChunk.data(), strChunk.size());
    }

    void Poll(fuse_req_t req, fuse_file_info* fi, fuse_pollhandle* pPoll) {
        OpenFile& file = File(fi);
        unsigned nEvents = POLLOUT | POLLWRNORM;
        if (file.bSrq) {
            nEvents |= POLLPRI;
        }
        if (pPoll != nullptr) {
            if (file.pPoll != nullptr) {
                fuse_pollhandle_destroy(file.pPoll);
            }
            file.pPoll = pPoll;
        }
        fuse_reply_poll(req, nEvents);
    }

    template <typename T>
    static bool Argument(const void* pIn, std::size_t nIn, T& value) {
        if (nIn < sizeof value) {
            return false;
        }
        std::memcpy(&value, pIn, sizeof value);
        return true;
    }

    void Ioctl(fuse_req_t req, unsigned int nCommand, fuse_file_info* fi, const void* pIn,
               std::size_t nIn) {
        OpenFile& file = File(fi);
        const char* pszDevice = DeviceRequestName(nCommand);
        const bool bFails =
            !faults.strFailRequest.empty() &&
            ((pszDevice != nullptr && faults.strFailRequest == pszDevice) ||
             (nCommand == USBTMC_IOCTL_MSG_IN_ATTR && faults.strFailRequest == "msg-in-attr") ||
             (nCommand == USBTMC488_IOCTL_GET_CAPS && faults.strFailRequest == "get-caps"));
        if (bFails) {
            fuse_reply_err(req, EIO);
            return;
        }
        if (pszDevice != nullptr && faults.bStall) {
            Defer(req, fi, false, file.nTimeoutMs);
            return;
        }
        switch (nCommand) {
            case USBTMC_IOCTL_SET_TIMEOUT: {
                std::uint32_t nMs = 0;
                if (!Argument(pIn, nIn, nMs) || nMs < kMinTimeoutMs) {
                    fuse_reply_err(req, EINVAL);
                    return;
                }
                file.nTimeoutMs = nMs;
                fuse_reply_ioctl(req, 0, nullptr, 0);
                return;
            }
            case USBTMC_IOCTL_GET_TIMEOUT:
                fuse_reply_ioctl(req, 0, &file.nTimeoutMs, sizeof file.nTimeoutMs);
                return;
            case USBTMC_IOCTL_EOM_ENABLE: {
                std::uint8_t nEom = 0;
                if (!Argument(pIn, nIn, nEom) || nEom > 1) {
                    fuse_reply_err(req, EINVAL);
                    return;
                }
                file.bEom = nEom == 1;
                fuse_reply_ioctl(req, 0, nullptr, 0);
                return;
            }
            case USBTMC_IOCTL_CONFIG_TERMCHAR: {
                usbtmc_termchar termChar{};
                if (!Argument(pIn, nIn, termChar) || termChar.term_char_enabled > 1) {
                    fuse_reply_err(req, EINVAL);
                    return;
                }
                file.nTermChar = termChar.term_char;
                file.bTermChar = termChar.term_char_enabled == 1;
                fuse_reply_ioctl(req, 0, nullptr, 0);
                return;
            }
            case USBTMC_IOCTL_MSG_IN_ATTR:
                fuse_reply_ioctl(req, 0, &file.nLastAttributes, sizeof file.nLastAttributes);
                return;
            case USBTMC488_IOCTL_GET_CAPS: {
                const unsigned char nCaps = faults.bNoCaps ? 0 : kUsb488Caps;
                fuse_reply_ioctl(req, 0, &nCaps, sizeof nCaps);
                return;
            }
            case USBTMC_IOCTL_CLEAR:
                Log("[clear]");
                strInput.clear();
                queOutput.clear();
                backend.DeviceClear();
                fuse_reply_ioctl(req, 0, nullptr, 0);
                return;
            case USBTMC488_IOCTL_READ_STB: {
                // A pending service request hands over the status byte it
                // came with, and is gone; otherwise the device is asked.
                std::uint8_t nStb = 0;
                if (file.bSrq) {
                    nStb = file.nSrqStatusByte;
                    file.bSrq = false;
                } else {
                    nStb = static_cast<std::uint8_t>(backend.StatusByte(!queOutput.empty()));
                }
                fuse_reply_ioctl(req, 0, &nStb, sizeof nStb);
                return;
            }
            case USBTMC488_IOCTL_TRIGGER:
                Log("[trigger]");
                backend.Trigger();
                CheckServiceRequest();
                fuse_reply_ioctl(req, 0, nullptr, 0);
                return;
            case USBTMC488_IOCTL_REN_CONTROL: {
                unsigned char nRen = 0;
                if (!Argument(pIn, nIn, nRen)) {
                    fuse_reply_err(req, EINVAL);
                    return;
                }
                Log(nRen != 0 ? "[ren on]" : "[ren off]");
                fuse_reply_ioctl(req, 0, nullptr, 0);
                return;
            }
            case USBTMC488_IOCTL_GOTO_LOCAL:
                Log("[goto local]");
                fuse_reply_ioctl(req, 0, nullptr, 0);
                return;
            case USBTMC488_IOCTL_LOCAL_LOCKOUT:
                Log("[local lockout]");
                fuse_reply_ioctl(req, 0, nullptr, 0);
                return;
            case USBTMC488_IOCTL_WAIT_SRQ: {
                std::uint32_t nMs = 0;
                if (!Argument(pIn, nIn, nMs)) {
                    fuse_reply_err(req, EINVAL);
                    return;
                }
                if (file.bSrq) {
                    fuse_reply_ioctl(req, 0, nullptr, 0);
                } else {
                    Defer(req, fi, true, nMs);
                }
                return;
            }
            default:
                fuse_reply_err(req, ENOTTY);
                return;
        }
    }

    // ----- the serving loop -----

    int NextTimeoutMs() const {
        if (vecPending.empty()) {
            return -1;
        }
        std::int64_t nFirst = vecPending.front().nDeadlineMs;
        for (const Pending& pending : vecPending) {
            nFirst = std::min(nFirst, pending.nDeadlineMs);
        }
        return static_cast<int>(std::max<std::int64_t>(nFirst - NowMs(), 0));
    }

    void ExpirePending() {
        const std::int64_t nNow = NowMs();
        for (auto it = vecPending.begin(); it != vecPending.end();) {
            if (it->nDeadlineMs <= nNow) {
                fuse_reply_err(it->req, ETIMEDOUT);
                it = vecPending.erase(it);
            } else {
                ++it;
            }
        }
    }

    void Serve() {
        fuse_buf buf{};
        const int nFuseFd = fuse_session_fd(pSession);
        while (!bUnplugged) {
            pollfd pfd[2] = {{nFuseFd, POLLIN, 0}, {aWake[0], POLLIN, 0}};
            const int nReady = ::poll(pfd, 2, NextTimeoutMs());
            if (nReady < 0 && errno != EINTR) {
                break;
            }
            if (nReady > 0 && pfd[1].revents != 0) {
                break;
            }
            if (nReady > 0 && (pfd[0].revents & POLLIN) != 0) {
                const int nGot = fuse_session_receive_buf(pSession, &buf);
                if (nGot == -EINTR || nGot == -EAGAIN) {
                    continue;
                }
                if (nGot <= 0) {
                    break;
                }
                fuse_session_process_buf(pSession, &buf);
            } else if (nReady > 0 && (pfd[0].revents & (POLLERR | POLLHUP)) != 0) {
                break;
            }
            ExpirePending();
        }
        std::free(buf.mem);
        if (bUnplugged) {
            // Gone without a word: the waiting read and everything after it
            // fail as on a device pulled out of its socket.
            Log("[unplugged]");
            Unmount();
        }
    }

    void Unmount() {
        if (pSession != nullptr) {
            if (bMounted) {
                fuse_session_unmount(pSession);
                bMounted = false;
            }
            // Closing the channel aborts what is still pending.
            fuse_session_destroy(pSession);
            pSession = nullptr;
            vecPending.clear();
        }
    }
};

namespace {

UsbtmcServer::Impl& ImplOf(fuse_req_t req) {
    return *static_cast<UsbtmcServer::Impl*>(fuse_req_userdata(req));
}

const fuse_lowlevel_ops kOperations = [] {
    fuse_lowlevel_ops ops{};
    ops.getattr = [](fuse_req_t req, fuse_ino_t, fuse_file_info*) { ImplOf(req).GetAttr(req); };
    ops.open = [](fuse_req_t req, fuse_ino_t, fuse_file_info* fi) { ImplOf(req).Open(req, fi); };
    ops.release = [](fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
        ImplOf(req).Release(req, fi);
    };
    ops.read = [](fuse_req_t req, fuse_ino_t, std::size_t nSize, off_t, fuse_file_info* fi) {
        ImplOf(req).Read(req, nSize, fi);
    };
    ops.write = [](fuse_req_t req, fuse_ino_t, const char* pData, std::size_t nSize, off_t,
                   fuse_file_info* fi) { ImplOf(req).Write(req, pData, nSize, fi); };
    ops.ioctl = [](fuse_req_t req, fuse_ino_t, unsigned int nCommand, void*, fuse_file_info* fi,
                   unsigned, const void* pIn, std::size_t nIn,
                   std::size_t) { ImplOf(req).Ioctl(req, nCommand, fi, pIn, nIn); };
    ops.poll = [](fuse_req_t req, fuse_ino_t, fuse_file_info* fi, fuse_pollhandle* pPoll) {
        ImplOf(req).Poll(req, fi, pPoll);
    };
    return ops;
}();

}  // namespace

UsbtmcServer::UsbtmcServer(Vxi11Backend& backend) : m_pImpl(std::make_unique<Impl>(backend)) {}

UsbtmcServer::~UsbtmcServer() {
    Stop();
}

void UsbtmcServer::Start(const std::string& strPath, const UsbtmcFaults& faults,
                         const std::string& strLogPath) {
    Impl& impl = *m_pImpl;
    // The device is a file: FUSE mounts it only on a file.
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        throw std::runtime_error(
            "--usbtmc needs an existing regular file to serve the device on: " + strPath);
    }
    impl.faults = faults;
    if (!strLogPath.empty()) {
        impl.pLog = std::fopen(strLogPath.c_str(), "a");
        if (impl.pLog == nullptr) {
            throw std::runtime_error("cannot open the USB log " + strLogPath);
        }
    }
    if (::pipe2(impl.aWake, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot create the wake-up pipe");
    }
    char szProgram[] = "tarvek-emulator";
    char szOption[] = "-o";
    char szOptions[] = "fsname=tarvek-usbtmc,subtype=usbtmc";
    char* apArgs[] = {szProgram, szOption, szOptions, nullptr};
    fuse_args args = FUSE_ARGS_INIT(3, apArgs);
    impl.pSession = fuse_session_new(&args, &kOperations, sizeof kOperations, &impl);
    fuse_opt_free_args(&args);
    if (impl.pSession == nullptr) {
        throw std::runtime_error("cannot create the FUSE session");
    }
    if (fuse_session_mount(impl.pSession, strPath.c_str()) != 0) {
        fuse_session_destroy(impl.pSession);
        impl.pSession = nullptr;
        throw std::runtime_error("cannot mount the USB device on " + strPath);
    }
    impl.bMounted = true;
    impl.thread = std::thread([&impl] { impl.Serve(); });
}

void UsbtmcServer::Stop() {
    Impl& impl = *m_pImpl;
    if (impl.thread.joinable()) {
        const char cWake = 1;
        [[maybe_unused]] const ssize_t nIgnored = ::write(impl.aWake[1], &cWake, 1);
        impl.thread.join();
    }
    impl.Unmount();
    for (int& nFd : impl.aWake) {
        if (nFd >= 0) {
            ::close(nFd);
            nFd = -1;
        }
    }
    if (impl.pLog != nullptr) {
        std::fclose(impl.pLog);
        impl.pLog = nullptr;
    }
}

}  // namespace emu
