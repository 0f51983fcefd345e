// A USB instrument for machines without one: the process enters a private
// mount namespace in which /sys/class/usbmisc is a tmpfs shaped as sysfs
// shapes it (usbtmcN/device -> the USB interface, its parent the USB
// device) and /dev is a tmpfs holding the machine's few everyday nodes; each
// plugged device is a tarvek-emulator child serving /dev/usbtmcN through
// FUSE. The code under test reads the real paths and never knows.
//
// Needs root, mount namespaces and /dev/fuse; EnterSandbox says why not
// when the machine lacks one, and the caller skips.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace usbtest {

constexpr char kUsbmisc[] = "/sys/class/usbmisc";
// The USB devices behind the usbmisc entries, inside the tmpfs so that the
// whole tree goes with the namespace. Not "usbtmc*": listing skips it.
constexpr char kUsbDevices[] = "/sys/class/usbmisc/.usb";

struct DeviceSetup {
    std::uint16_t nVendorId = 0x1AB1;
    std::uint16_t nProductId = 0x0E11;
    std::string strSerial = "SN000001";
    int nInterface = 0;
    int nProtocol = 1;  // USB488
    std::string strManufacturer = "Norvale";
    std::string strProduct = "6313 DC Power Supply";
    std::string strModel = "6313";
    std::vector<std::string> vecFaults;  // --usbtmc-fault values
};

inline bool Fail(std::string& strWhy, const std::string& strWhat) {
    strWhy = strWhat + ": " + std::strerror(errno);
    return false;
}

inline bool WriteFile(const std::string& strPath, const std::string& strText) {
    std::ofstream file(strPath);
    file << strText;
    return static_cast<bool>(file);
}

inline std::string Hex(unsigned nValue, int nDigits) {
    char szText[16];
    std::snprintf(szText, sizeof szText, "%0*x", nDigits, nValue);
    return szText;
}

// Enters the sandbox once per process; later calls answer as the first did.
// Call it before the process starts threads: only the calling thread (and
// what it starts later) enters the namespace.
inline bool EnterSandbox(std::string& strWhy) {
    static std::string s_strWhy = "not tried";
    static bool s_bEntered = false;
    static bool s_bTried = false;
    if (s_bTried) {
        strWhy = s_strWhy;
        return s_bEntered;
    }
    s_bTried = true;
    s_bEntered = []() -> bool {
        std::string& why = s_strWhy;
        if (::geteuid() != 0) {
            why = "needs root for a mount namespace and a FUSE mount";
            return false;
        }
        if (::access("/dev/fuse", R_OK | W_OK) != 0) {
            return Fail(why, "FUSE is unavailable (/dev/fuse)");
        }
        if (::unshare(CLONE_NEWNS) != 0) {
            return Fail(why, "cannot enter a mount namespace");
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return Fail(why, "cannot make the mounts private");
        }
        // sysfs: a tmpfs over usbmisc, or over the class directory of a
        // machine whose kernel has no usbmisc class loaded.
        struct stat st {};
        if (::stat(kUsbmisc, &st) == 0) {
            if (::mount("tmpfs", kUsbmisc, "tmpfs", 0, "mode=0755") != 0) {
                return Fail(why, "cannot mount a tmpfs on /sys/class/usbmisc");
            }
        } else if (::mount("tmpfs", "/sys/class", "tmpfs", 0, "mode=0755") != 0 ||
                   ::mkdir(kUsbmisc, 0755) != 0) {
            return Fail(why, "cannot mount a tmpfs on /sys/class");
        }
        if (::mkdir(kUsbDevices, 0755) != 0) {
            return Fail(why, "cannot create the USB device tree");
        }
        // /dev: a tmpfs with the everyday nodes bound in, so that device
        // files can be created without touching the machine's /dev.
        char szStage[] = "/tmp/tarvek-usbdev-XXXXXX";
        if (::mkdtemp(szStage) == nullptr) {
            return Fail(why, "cannot create a staging directory");
        }
        const std::string strStage = szStage;
        if (::mount("tmpfs", szStage, "tmpfs", 0, "mode=0755") != 0) {
            return Fail(why, "cannot mount the staging tmpfs");
        }
        for (const char* pszNode : {"null", "zero", "full", "random", "urandom", "tty", "fuse"}) {
            const std::string strHost = std::string("/dev/") + pszNode;
            const std::string strCopy = strStage + "/" + pszNode;
            if (::access(strHost.c_str(), F_OK) != 0) {
                continue;
            }
            if (!WriteFile(strCopy, "") ||
                ::mount(strHost.c_str(), strCopy.c_str(), nullptr, MS_BIND, nullptr) != 0) {
                return Fail(why, "cannot bind " + strHost);
            }
        }
        for (const char* pszDir : {"pts", "shm"}) {
            const std::string strHost = std::string("/dev/") + pszDir;
            const std::string strCopy = strStage + "/" + pszDir;
            if (::access(strHost.c_str(), F_OK) == 0 &&
                (::mkdir(strCopy.c_str(), 0755) != 0 ||
                 ::mount(strHost.c_str(), strCopy.c_str(), nullptr, MS_BIND | MS_REC, nullptr) !=
                     0)) {
                return Fail(why, "cannot bind " + strHost);
            }
        }
        if (::mount(szStage, "/dev", nullptr, MS_BIND | MS_REC, nullptr) != 0) {
            return Fail(why, "cannot mount the private /dev");
        }
        ::umount2(szStage, MNT_DETACH);
        ::rmdir(szStage);
        // Some machines (containers) have /dev/fuse but refuse FUSE mounts:
        // try one on a file, with no server behind it, and take it down.
        const int nFuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (nFuse < 0) {
            return Fail(why, "cannot open /dev/fuse");
        }
        const std::string strOptions =
            "fd=" + std::to_string(nFuse) + ",rootmode=100000,user_id=0,group_id=0";
        const bool bMounted = WriteFile("/dev/.fuse-probe", "") &&
                              ::mount("tarvek-probe", "/dev/.fuse-probe", "fuse",
                                      MS_NOSUID | MS_NODEV, strOptions.c_str()) == 0;
        const int nError = errno;
        ::umount2("/dev/.fuse-probe", MNT_DETACH);
        ::close(nFuse);
        ::unlink("/dev/.fuse-probe");
        if (!bMounted) {
            errno = nError;
            return Fail(why, "FUSE mounts are refused here");
        }
        return true;
    }();
    strWhy = s_strWhy;
    return s_bEntered;
}

// The emulator binary, from the build (TARVEK_EMULATOR_PATH) or the
// environment (TARVEK_EMULATOR).
inline std::string EmulatorPath() {
    const char* pszPath = std::getenv("TARVEK_EMULATOR");
#ifdef TARVEK_EMULATOR_PATH
    if (pszPath == nullptr || *pszPath == '\0') {
        pszPath = TARVEK_EMULATOR_PATH;
    }
#endif
    return pszPath != nullptr ? pszPath : "tarvek-emulator";
}

// One USB instrument plugged in as /dev/usbtmc<n>.
class UsbDevice {
  public:
    explicit UsbDevice(int nIndex) : m_nIndex(nIndex) {}
    ~UsbDevice() { Unplug(); }
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    pid_t Pid() const { return m_nPid; }
    std::string Node() const { return "/dev/usbtmc" + std::to_string(m_nIndex); }
    std::string LogPath() const { return "/dev/.usbtmc" + std::to_string(m_nIndex) + ".log"; }
    std::string Name() const { return "usbtmc" + std::to_string(m_nIndex); }
    // The name viFindRsrc lists the device under.
    std::string Resource() const {
        char szName[256];
        std::snprintf(szName, sizeof szName, "USB0::0x%04X::0x%04X::%s::%d::INSTR",
                      m_setup.nVendorId, m_setup.nProductId, m_setup.strSerial.c_str(),
                      m_setup.nInterface);
        return szName;
    }

    // Starts the emulator on the node and creates the sysfs entries once it
    // serves; false with the reason otherwise.
    bool Plug(const DeviceSetup& setup, std::string& strWhy) {
        m_setup = setup;
        if (!WriteFile(Node(), "") || !WriteFile(LogPath(), "")) {
            return Fail(strWhy, "cannot create " + Node());
        }
        int aPipe[2];
        if (::pipe2(aPipe, O_CLOEXEC) != 0) {
            return Fail(strWhy, "pipe");
        }
        const std::string strEmulator = EmulatorPath();
        std::vector<std::string> vecArgs = {
            strEmulator,     "--no-tcp", "--model", setup.strModel, "--serial",
            setup.strSerial, "--usbtmc", Node(),    "--usbtmc-log", LogPath()};
        for (const std::string& strFault : setup.vecFaults) {
            vecArgs.push_back("--usbtmc-fault");
            vecArgs.push_back(strFault);
        }
        std::vector<char*> vecArgv;
        for (std::string& strArg : vecArgs) {
            vecArgv.push_back(strArg.data());
        }
        vecArgv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, aPipe[1], STDOUT_FILENO);
        const int nError =
            ::posix_spawn(&m_nPid, strEmulator.c_str(), &actions, nullptr, vecArgv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(aPipe[1]);
        if (nError != 0) {
            ::close(aPipe[0]);
            m_nPid = -1;
            errno = nError;
            return Fail(strWhy, "cannot start " + strEmulator);
        }
        // The emulator prints its USBTMC line once the node is served.
        std::string strOut;
        char szChunk[256];
        while (strOut.find("USBTMC ") == std::string::npos) {
            pollfd pfd{aPipe[0], POLLIN, 0};
            if (::poll(&pfd, 1, 5000) <= 0) {
                break;
            }
            const ssize_t nGot = ::read(aPipe[0], szChunk, sizeof szChunk);
            if (nGot <= 0) {
                break;
            }
            strOut.append(szChunk, static_cast<std::size_t>(nGot));
        }
        ::close(aPipe[0]);
        if (strOut.find("USBTMC ") == std::string::npos) {
            strWhy = "the emulator did not serve " + Node();
            Unplug();
            return false;
        }
        return AddSysfs(strWhy);
    }

    // The device disappears: the emulator dies with its FUSE connection,
    // the sysfs entry goes, and the node stops being served.
    void Unplug() {
        if (m_nPid > 0) {
            ::kill(m_nPid, SIGKILL);
            int nStatus = 0;
            ::waitpid(m_nPid, &nStatus, 0);
            m_nPid = -1;
        }
        RemoveSysfs();
        ::umount2(Node().c_str(), MNT_DETACH);
    }

    // Every program message and device request the device received.
    std::vector<std::string> Lines() const {
        std::vector<std::string> vecLines;
        std::ifstream file(LogPath());
        for (std::string strLine; std::getline(file, strLine);) {
            vecLines.push_back(strLine);
        }
        return vecLines;
    }
    void ClearLines() const { WriteFile(LogPath(), ""); }

  private:
    std::string UsbDir() const {
        return std::string(kUsbDevices) + "/1-" + std::to_string(m_nIndex + 1);
    }
    std::string InterfaceName() const {
        return "1-" + std::to_string(m_nIndex + 1) + ":1." + std::to_string(m_setup.nInterface);
    }

    bool AddSysfs(std::string& strWhy) {
        const std::string strUsb = UsbDir();
        const std::string strInterface = strUsb + "/" + InterfaceName();
        const std::string strEntry = std::string(kUsbmisc) + "/" + Name();
        const bool bOk =
            ::mkdir(strUsb.c_str(), 0755) == 0 && ::mkdir(strInterface.c_str(), 0755) == 0 &&
            WriteFile(strUsb + "/idVendor", Hex(m_setup.nVendorId, 4) + "\n") &&
            WriteFile(strUsb + "/idProduct", Hex(m_setup.nProductId, 4) + "\n") &&
            WriteFile(strUsb + "/serial", m_setup.strSerial + "\n") &&
            WriteFile(strUsb + "/manufacturer", m_setup.strManufacturer + "\n") &&
            WriteFile(strUsb + "/product", m_setup.strProduct + "\n") &&
            WriteFile(strInterface + "/bInterfaceClass", "fe\n") &&
            WriteFile(strInterface + "/bInterfaceSubClass", "03\n") &&
            WriteFile(strInterface + "/bInterfaceProtocol", Hex(m_setup.nProtocol, 2) + "\n") &&
            WriteFile(strInterface + "/bInterfaceNumber", Hex(m_setup.nInterface, 2) + "\n") &&
            ::mkdir(strEntry.c_str(), 0755) == 0 &&
            WriteFile(strEntry + "/dev", "180:" + std::to_string(176 + m_nIndex) + "\n") &&
            ::symlink(("../.usb/1-" + std::to_string(m_nIndex + 1) + "/" + InterfaceName()).c_str(),
                      (strEntry + "/device").c_str()) == 0;
        return bOk || Fail(strWhy, "cannot create the sysfs entries of " + Name());
    }

    void RemoveSysfs() {
        const std::string strEntry = std::string(kUsbmisc) + "/" + Name();
        ::unlink((strEntry + "/device").c_str());
        ::unlink((strEntry + "/dev").c_str());
        ::rmdir(strEntry.c_str());
        const std::string strUsb = UsbDir();
        const std::string strInterface = strUsb + "/" + InterfaceName();
        for (const char* pszFile :
             {"bInterfaceClass", "bInterfaceSubClass", "bInterfaceProtocol", "bInterfaceNumber"}) {
            ::unlink((strInterface + "/" + pszFile).c_str());
        }
        ::rmdir(strInterface.c_str());
        for (const char* pszFile : {"idVendor", "idProduct", "serial", "manufacturer", "product"}) {
            ::unlink((strUsb + "/" + pszFile).c_str());
        }
        ::rmdir(strUsb.c_str());
    }

    int m_nIndex;
    DeviceSetup m_setup;
    pid_t m_nPid = -1;
};

}  // namespace usbtest
