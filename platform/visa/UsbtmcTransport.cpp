// USB instruments (USB[board]::vendor::product::serial[::interface]::INSTR)
// through the kernel's usbtmc driver. The driver frames USBTMC messages
// itself: one write() is one message (EOM on its last transfer while
// USBTMC_IOCTL_EOM_ENABLE is on), one read() asks the device for one transfer
// and USBTMC_IOCTL_MSG_IN_ATTR tells whether it ended the message. Every
// wait happens inside the driver, bounded by USBTMC_IOCTL_SET_TIMEOUT, which
// is set to what is left of the call's deadline before each operation.
//
// The device node is found through sysfs: /sys/class/usbmisc/usbtmcN/device
// is the USB interface (bInterfaceNumber, bInterfaceProtocol) and its parent
// the USB device (idVendor, idProduct, serial, manufacturer, product).
//
// An unplugged device answers ENODEV (the driver) or ENOTCONN (a node served
// from user space that went away); once seen, every call reports the lost
// connection.
#include <dirent.h>
#include <fcntl.h>
#include <linux/usb/tmc.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Events.h"
#include "Transport.h"

namespace tkvisa {
namespace {

constexpr char kUsbmiscDir[] = "/sys/class/usbmisc";
constexpr char kNodePrefix[] = "usbtmc";
// The driver refuses timeouts below this many milliseconds.
constexpr std::uint32_t kMinDriverTimeoutMs = 100;
// What an infinite VISA timeout becomes for the driver.
constexpr std::uint32_t kLongestDriverTimeoutMs = INT_MAX;
// The serial number a device without one is listed under.
constexpr char kNoSerial[] = "NOSERIAL";
// bInterfaceProtocol of a USBTMC interface with the USB488 subclass.
constexpr int kProtocolUsb488 = 1;
constexpr std::uint8_t kEomBit = 0x01;

struct UsbtmcDevice {
    std::string strNode;  // "/dev/usbtmc0"
    ViUInt16 nVendorId = 0;
    ViUInt16 nProductId = 0;
    std::string strSerial;
    int nInterface = 0;
    int nProtocol = 0;
    std::string strManufacturer;
    std::string strProduct;
};

std::string ReadLine(const std::string& strPath) {
    std::ifstream file(strPath);
    std::string strLine;
    std::getline(file, strLine);
    while (!strLine.empty() && (strLine.back() == '\n' || strLine.back() == '\r')) {
        strLine.pop_back();
    }
    return strLine;
}

bool ReadHex(const std::string& strPath, unsigned long nMax, unsigned long& nValue) {
    const std::string strText = ReadLine(strPath);
    if (strText.empty()) {
        return false;
    }
    char* pEnd = nullptr;
    nValue = std::strtoul(strText.c_str(), &pEnd, 16);
    return *pEnd == '\0' && nValue <= nMax;
}

// The device behind /sys/class/usbmisc/<strName>, or false when the entry
// is not a USB interface with the attributes a USBTMC interface has.
bool DescribeDevice(const std::string& strName, UsbtmcDevice& device) {
    char szInterface[PATH_MAX];
    const std::string strLink = std::string(kUsbmiscDir) + "/" + strName + "/device";
    if (::realpath(strLink.c_str(), szInterface) == nullptr) {
        return false;
    }
    const std::string strInterface = szInterface;
    const std::string strUsb = strInterface.substr(0, strInterface.rfind('/'));
    unsigned long nVendor = 0;
    unsigned long nProduct = 0;
    unsigned long nInterface = 0;
    unsigned long nProtocol = 0;
    if (!ReadHex(strUsb + "/idVendor", 0xFFFF, nVendor) ||
        !ReadHex(strUsb + "/idProduct", 0xFFFF, nProduct) ||
        !ReadHex(strInterface + "/bInterfaceNumber", 0xFF, nInterface)) {
        return false;
    }
    if (!ReadHex(strInterface + "/bInterfaceProtocol", 0xFF, nProtocol)) {
        nProtocol = 0;
    }
    device.strNode = "/dev/" + strName;
    device.nVendorId = static_cast<ViUInt16>(nVendor);
    device.nProductId = static_cast<ViUInt16>(nProduct);
    device.nInterface = static_cast<int>(nInterface);
    device.nProtocol = static_cast<int>(nProtocol);
    device.strSerial = ReadLine(strUsb + "/serial");
    // A serial number that could not stand in a resource name is as good as none.
    if (device.strSerial.empty() || device.strSerial.find("::") != std::string::npos ||
        std::any_of(device.strSerial.begin(), device.strSerial.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= ' '; })) {
        device.strSerial = kNoSerial;
    }
    device.strManufacturer = ReadLine(strUsb + "/manufacturer");
    device.strProduct = ReadLine(strUsb + "/product");
    return true;
}

// Every USBTMC device present, in the order of their node numbers.
std::vector<UsbtmcDevice> ListDevices() {
    std::vector<std::pair<unsigned long, UsbtmcDevice>> vecNumbered;
    DIR* pDir = ::opendir(kUsbmiscDir);
    if (pDir == nullptr) {
        return {};
    }
    while (const dirent* pEntry = ::readdir(pDir)) {
        const std::string strName = pEntry->d_name;
        const std::size_t nPrefix = sizeof kNodePrefix - 1;
        if (strName.compare(0, nPrefix, kNodePrefix) != 0 || strName.size() == nPrefix) {
            continue;
        }
        char* pEnd = nullptr;
        const unsigned long nIndex = std::strtoul(strName.c_str() + nPrefix, &pEnd, 10);
        UsbtmcDevice device;
        if (*pEnd == '\0' && DescribeDevice(strName, device)) {
            vecNumbered.emplace_back(nIndex, std::move(device));
        }
    }
    ::closedir(pDir);
    std::sort(vecNumbered.begin(), vecNumbered.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<UsbtmcDevice> vecDevices;
    for (auto& [nIndex, device] : vecNumbered) {
        vecDevices.push_back(std::move(device));
    }
    return vecDevices;
}

bool SameSerial(const std::string& strA, const std::string& strB) {
    return strA.size() == strB.size() &&
           std::equal(strA.begin(), strA.end(), strB.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) ==
                      std::toupper(static_cast<unsigned char>(b));
           });
}

// errno values that mean the device has gone: the driver's for an unplugged
// device, and those of a node whose server went away.
bool MeansGone(int nError) {
    return nError == ENODEV || nError == ENOTCONN || nError == ESHUTDOWN ||
           nError == ECONNABORTED || nError == ENXIO;
}

ViStatus StatusOfErrno(int nError) {
    if (MeansGone(nError)) {
        return VI_ERROR_CONN_LOST;
    }
    return nError == ETIMEDOUT ? VI_ERROR_TMO : VI_ERROR_IO;
}

// Watches the device for service requests (POLLPRI while the driver holds
// one) and raises VI_EVENT_SERVICE_REQ on the session. The driver keeps a
// request pending until its status byte is read, so after each event the
// watch waits for Rearm() (viReadSTB) before looking again. The thread owns
// the watch with the transport and is never joined: a handler it runs may
// be waiting for the session that is closing.
class SrqWatch {
  public:
    static std::shared_ptr<SrqWatch> Start(int nDeviceFd, ViSession vi) {
        auto pWatch = std::shared_ptr<SrqWatch>(new SrqWatch(vi));
        pWatch->m_nFd = ::fcntl(nDeviceFd, F_DUPFD_CLOEXEC, 0);
        if (pWatch->m_nFd < 0 || ::pipe2(pWatch->m_nWake, O_CLOEXEC | O_NONBLOCK) != 0) {
            return nullptr;
        }
        std::thread([pWatch] { pWatch->Run(); }).detach();
        return pWatch;
    }

    ~SrqWatch() {
        for (int nFd : {m_nFd, m_nWake[0], m_nWake[1]}) {
            if (nFd >= 0) {
                ::close(nFd);
            }
        }
    }

    void Rearm() {
        m_bArmed = true;
        Wake();
    }

    void Stop() {
        m_bStop = true;
        Wake();
    }

  private:
    explicit SrqWatch(ViSession vi) : m_nSession(vi) {}

    void Wake() {
        const char cWake = 1;
        [[maybe_unused]] const ssize_t nIgnored = ::write(m_nWake[1], &cWake, 1);
    }

    void Run() {
        while (!m_bStop) {
            pollfd pfd[2] = {{m_nFd, static_cast<short>(m_bArmed ? POLLPRI : 0), 0},
                             {m_nWake[0], POLLIN, 0}};
            const int nReady = ::poll(pfd, 2, -1);
            if (nReady < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (pfd[1].revents != 0) {
                char szDrain[64];
                while (::read(m_nWake[0], szDrain, sizeof szDrain) > 0) {
                }
                continue;
            }
            if ((pfd[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                return;  // the device has gone; the session's next call says so
            }
            if ((pfd[0].revents & POLLPRI) != 0 && m_bArmed && !m_bStop) {
                m_bArmed = false;
                EventData event;
                event.nType = VI_EVENT_SERVICE_REQ;
                PostEvent(m_nSession, event);
            }
        }
    }

    ViSession m_nSession;
    int m_nFd = -1;
    int m_nWake[2] = {-1, -1};
    std::atomic<bool> m_bArmed{true};
    std::atomic<bool> m_bStop{false};
};

// One step of viGpibControlREN over USB488.
enum class RenStep { None, RenOff, RenOn, GoToLocal, LocalLockout };

struct RenRow {
    ViUInt16 nMode;
    RenStep aSteps[2];
};

// REN and addressing are one thing on USB: the device is always addressed.
constexpr RenRow kRenModes[] = {
    {VI_GPIB_REN_DEASSERT, {RenStep::RenOff, RenStep::None}},
    {VI_GPIB_REN_ASSERT, {RenStep::RenOn, RenStep::None}},
    {VI_GPIB_REN_DEASSERT_GTL, {RenStep::GoToLocal, RenStep::RenOff}},
    {VI_GPIB_REN_ASSERT_ADDRESS, {RenStep::RenOn, RenStep::None}},
    {VI_GPIB_REN_ASSERT_LLO, {RenStep::LocalLockout, RenStep::None}},
    {VI_GPIB_REN_ASSERT_ADDRESS_LLO, {RenStep::RenOn, RenStep::LocalLockout}},
    {VI_GPIB_REN_ADDRESS_GTL, {RenStep::GoToLocal, RenStep::None}},
};

class UsbtmcTransport final : public Transport {
  public:
    ~UsbtmcTransport() override { Close(); }

    ViStatus Open(const ResourceName& resource, ViUInt32 /*nOpenTimeoutMs*/,
                  const LineSettings& /*settings*/) override {
        if (resource.strClass != "INSTR") {
            return VI_ERROR_RSRC_NFOUND;
        }
        bool bFound = false;
        for (const UsbtmcDevice& device : ListDevices()) {
            if (device.nVendorId == resource.nVendorId &&
                device.nProductId == resource.nProductId &&
                SameSerial(device.strSerial, resource.strSerial) &&
                (resource.nUsbInterface < 0 || resource.nUsbInterface == device.nInterface)) {
                m_device = device;
                bFound = true;
                break;
            }
        }
        if (!bFound) {
            return VI_ERROR_RSRC_NFOUND;
        }
        m_nFd = ::open(m_device.strNode.c_str(), O_RDWR | O_CLOEXEC);
        if (m_nFd < 0) {
            // The node exists but this user may not use it: the udev rule
            // gives USBTMC nodes to a group the user must belong to.
            if (errno == EACCES || errno == EPERM) {
                return VI_ERROR_NPERMISSION;
            }
            return errno == EBUSY ? VI_ERROR_RSRC_BUSY : VI_ERROR_RSRC_NFOUND;
        }
        // A device that cannot tell its USB488 capabilities is taken for a
        // plain USBTMC device: messages only.
        unsigned char nCaps = 0;
        if (::ioctl(m_nFd, USBTMC488_IOCTL_GET_CAPS, &nCaps) != 0) {
            if (MeansGone(errno)) {
                Close();
                return VI_ERROR_RSRC_NFOUND;
            }
            nCaps = 0;
        }
        m_nCaps = nCaps;
        return VI_SUCCESS;
    }

    void Close() override {
        StopWatch();
        if (m_nFd >= 0) {
            ::close(m_nFd);
            m_nFd = -1;
        }
    }

    ViStatus Write(const ViByte* pData, std::size_t nCount, const Deadline& deadline,
                   std::size_t* pWritten) override {
        *pWritten = 0;
        ViStatus status = Prepare(deadline);
        if (status == VI_SUCCESS && m_nEom != (m_options.bSendEnd ? 1 : 0)) {
            const std::uint8_t nEom = m_options.bSendEnd ? 1 : 0;
            status = Ioctl(USBTMC_IOCTL_EOM_ENABLE, &nEom);
            if (status == VI_SUCCESS) {
                m_nEom = nEom;
            }
        }
        std::size_t nDone = 0;
        while (status == VI_SUCCESS && nDone < nCount) {
            const ssize_t nSent = ::write(m_nFd, pData + nDone, nCount - nDone);
            if (nSent > 0) {
                nDone += static_cast<std::size_t>(nSent);
            } else if (nSent == 0) {
                status = VI_ERROR_IO;
            } else if (errno != EINTR) {
                status = Seen(StatusOfErrno(errno));
            }
        }
        *pWritten = nDone;
        return status;
    }

    ViStatus Read(ViByte* pData, std::size_t nMax, const Deadline& deadline,
                  std::size_t* pRead) override {
        *pRead = 0;
        m_bEnded = false;
        ViStatus status = Prepare(deadline);
        if (status == VI_SUCCESS &&
            (m_nTermCharConfigured < 0 || m_bTermCharConfigured != m_options.bTermCharEnabled ||
             m_nTermCharConfigured != m_options.nTermChar)) {
            // The device may end a transfer early at the termination
            // character; the session still decides what ends a read.
            usbtmc_termchar termChar{m_options.nTermChar,
                                     static_cast<__u8>(m_options.bTermCharEnabled ? 1 : 0)};
            status = Ioctl(USBTMC_IOCTL_CONFIG_TERMCHAR, &termChar);
            if (status == VI_SUCCESS) {
                m_nTermCharConfigured = m_options.nTermChar;
                m_bTermCharConfigured = m_options.bTermCharEnabled;
            } else if (status == VI_ERROR_IO) {
                status = VI_SUCCESS;  // a driver without it ends transfers only at EOM
            }
        }
        while (status == VI_SUCCESS) {
            const ssize_t nGot = ::read(m_nFd, pData, nMax);
            if (nGot < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return Seen(StatusOfErrno(errno));
            }
            std::uint8_t nAttributes = 0;
            if (::ioctl(m_nFd, USBTMC_IOCTL_MSG_IN_ATTR, &nAttributes) != 0) {
                // Without the attributes a transfer shorter than asked for
                // is the last one.
                nAttributes = static_cast<std::size_t>(nGot) < nMax ? kEomBit : 0;
            }
            m_bEnded = (nAttributes & kEomBit) != 0;
            if (nGot > 0 || m_bEnded) {
                *pRead = static_cast<std::size_t>(nGot);
                return VI_SUCCESS;
            }
            // An empty transfer that does not end the message: ask again
            // while the call has time.
            if (deadline.Passed()) {
                return VI_ERROR_TMO;
            }
            status = SetTimeout(deadline);
        }
        return status;
    }

    ViStatus DiscardInput() override { return m_bLost ? VI_ERROR_CONN_LOST : VI_SUCCESS; }

    ViStatus Apply(const LineSettings&) override { return VI_SUCCESS; }

    void SetMessageOptions(const MessageOptions& options) override { m_options = options; }
    bool ReadEndedMessage() const override { return m_bEnded; }

    ViStatus DeviceClear(const Deadline& deadline) override {
        ViStatus status = Prepare(deadline);
        if (status == VI_SUCCESS) {
            status = Ioctl(USBTMC_IOCTL_CLEAR, nullptr);
        }
        return status;
    }

    ViStatus ReadStatusByte(ViUInt16* pStatus, const Deadline& deadline) override {
        if (!m_bLost && m_device.nProtocol != kProtocolUsb488 && m_nCaps == 0) {
            return VI_ERROR_NSUP_OPER;
        }
        ViStatus status = Prepare(deadline);
        unsigned char nStb = 0;
        if (status == VI_SUCCESS) {
            status = Ioctl(USBTMC488_IOCTL_READ_STB, &nStb);
        }
        if (status == VI_SUCCESS) {
            *pStatus = nStb;
            if (m_pWatch) {
                m_pWatch->Rearm();
            }
        }
        return status;
    }

    ViStatus AssertTrigger(const Deadline& deadline) override {
        if (!m_bLost && (m_nCaps & USBTMC488_CAPABILITY_TRIGGER) == 0) {
            return VI_ERROR_NSUP_OPER;
        }
        ViStatus status = Prepare(deadline);
        if (status == VI_SUCCESS) {
            status = Ioctl(USBTMC488_IOCTL_TRIGGER, nullptr);
        }
        return status;
    }

    ViStatus ControlRen(ViUInt16 nMode, const Deadline& deadline) override {
        const RenRow* pRow = nullptr;
        for (const RenRow& row : kRenModes) {
            if (row.nMode == nMode) {
                pRow = &row;
            }
        }
        if (pRow == nullptr) {
            return VI_ERROR_INV_MODE;
        }
        if (!m_bLost && (m_nCaps & USBTMC488_CAPABILITY_SIMPLE) == 0) {
            return VI_ERROR_NSUP_OPER;
        }
        ViStatus status = Prepare(deadline);
        for (const RenStep eStep : pRow->aSteps) {
            if (status != VI_SUCCESS || eStep == RenStep::None) {
                break;
            }
            unsigned char nRen = eStep == RenStep::RenOn ? 1 : 0;
            switch (eStep) {
                case RenStep::RenOff:
                case RenStep::RenOn:
                    status = Ioctl(USBTMC488_IOCTL_REN_CONTROL, &nRen);
                    break;
                case RenStep::GoToLocal:
                    status = Ioctl(USBTMC488_IOCTL_GOTO_LOCAL, nullptr);
                    break;
                case RenStep::LocalLockout:
                    status = Ioctl(USBTMC488_IOCTL_LOCAL_LOCKOUT, nullptr);
                    break;
                case RenStep::None:
                    break;
            }
        }
        return status;
    }

    ViStatus EnableServiceRequests(ViSession vi, bool bEnable, const Deadline&) override {
        if (!bEnable) {
            StopWatch();
            return VI_SUCCESS;
        }
        if (m_bLost) {
            return VI_ERROR_CONN_LOST;
        }
        if ((m_nCaps & USBTMC488_CAPABILITY_SR1) == 0) {
            return VI_ERROR_INV_EVENT;  // the device has no service request
        }
        if (!m_pWatch) {
            m_pWatch = SrqWatch::Start(m_nFd, vi);
            if (!m_pWatch) {
                return VI_ERROR_SYSTEM_ERROR;
            }
        }
        return VI_SUCCESS;
    }

    ViStatus GetLinkAttribute(ViAttr nAttribute, void* pValue) override {
        switch (nAttribute) {
            case VI_ATTR_MANF_ID:
                *static_cast<ViUInt16*>(pValue) = m_device.nVendorId;
                return VI_SUCCESS;
            case VI_ATTR_MODEL_CODE:
                *static_cast<ViUInt16*>(pValue) = m_device.nProductId;
                return VI_SUCCESS;
            case VI_ATTR_USB_INTFC_NUM:
                *static_cast<ViInt16*>(pValue) = static_cast<ViInt16>(m_device.nInterface);
                return VI_SUCCESS;
            case VI_ATTR_USB_PROTOCOL:
                *static_cast<ViInt16*>(pValue) = static_cast<ViInt16>(m_device.nProtocol);
                return VI_SUCCESS;
            case VI_ATTR_4882_COMPLIANT:
                *static_cast<ViBoolean*>(pValue) =
                    (m_nCaps & USBTMC488_CAPABILITY_488_DOT_2) != 0 ? VI_TRUE : VI_FALSE;
                return VI_SUCCESS;
            case VI_ATTR_USB_SERIAL_NUM:
                return CopyText(m_device.strSerial, pValue);
            case VI_ATTR_MANF_NAME:
                return CopyText(m_device.strManufacturer, pValue);
            case VI_ATTR_MODEL_NAME:
                return CopyText(m_device.strProduct, pValue);
            default:
                return VI_ERROR_NSUP_ATTR;
        }
    }

  private:
    static ViStatus CopyText(const std::string& strText, void* pValue) {
        const std::size_t nLength = std::min(strText.size(), std::size_t{VI_FIND_BUFLEN - 1});
        std::copy_n(strText.data(), nLength, static_cast<char*>(pValue));
        static_cast<char*>(pValue)[nLength] = '\0';
        return VI_SUCCESS;
    }

    // Checks the device is still there and hands the driver the call's time.
    ViStatus Prepare(const Deadline& deadline) {
        if (m_bLost || m_nFd < 0) {
            return VI_ERROR_CONN_LOST;
        }
        return SetTimeout(deadline);
    }

    ViStatus SetTimeout(const Deadline& deadline) {
        std::uint32_t nMs = kLongestDriverTimeoutMs;
        if (!deadline.IsInfinite()) {
            nMs = std::max<std::uint32_t>(static_cast<std::uint32_t>(deadline.RemainingMs()),
                                          kMinDriverTimeoutMs);
        }
        if (nMs == m_nDriverTimeoutMs) {
            return VI_SUCCESS;
        }
        const ViStatus status = Ioctl(USBTMC_IOCTL_SET_TIMEOUT, &nMs);
        if (status == VI_SUCCESS) {
            m_nDriverTimeoutMs = nMs;
        }
        return status;
    }

    ViStatus Ioctl(unsigned long nRequest, const void* pArg) {
        for (;;) {
            if (::ioctl(m_nFd, nRequest, pArg) == 0) {
                return VI_SUCCESS;
            }
            if (errno != EINTR) {
                return Seen(StatusOfErrno(errno));
            }
        }
    }

    ViStatus Seen(ViStatus status) {
        if (status == VI_ERROR_CONN_LOST) {
            m_bLost = true;
            StopWatch();
        }
        return status;
    }

    void StopWatch() {
        if (m_pWatch) {
            m_pWatch->Stop();
            m_pWatch.reset();
        }
    }

    UsbtmcDevice m_device;
    int m_nFd = -1;
    unsigned m_nCaps = 0;
    bool m_bLost = false;
    bool m_bEnded = false;
    MessageOptions m_options;
    // What the driver was last told, so that it is told only of changes.
    std::uint32_t m_nDriverTimeoutMs = 0;
    int m_nEom = 1;  // the driver's default
    int m_nTermCharConfigured = -1;
    bool m_bTermCharConfigured = false;
    std::shared_ptr<SrqWatch> m_pWatch;
};

}  // namespace

std::unique_ptr<Transport> CreateUsbtmcTransport() {
    return std::make_unique<UsbtmcTransport>();
}

void AddUsbtmcDevices(std::vector<std::string>& vecNames) {
    for (const UsbtmcDevice& device : ListDevices()) {
        // The parser writes the canonical form (ids as 0x and four hex digits).
        ResourceName resource;
        const std::string strName =
            "USB0::" + std::to_string(device.nVendorId) + "::" + std::to_string(device.nProductId) +
            "::" + device.strSerial + "::" + std::to_string(device.nInterface) + "::INSTR";
        if (ParseResourceName(strName, resource) == VI_SUCCESS) {
            vecNames.push_back(resource.strCanonical);
        }
    }
}

}  // namespace tkvisa
