// tarvek-emulator: runs an emulated Series6310 or Series6510 power supply
// until SIGINT or SIGTERM, printing the VISA resource strings to use.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <thread>
#include <utility>

#include "Emulator.h"

namespace {

const char* const kUsage =
    "Usage: tarvek-emulator [options]\n"
    "\n"
    "Runs an emulated DC power supply that answers SCPI like a Series6310\n"
    "(three outputs, models 63xx) or Series6510 (one output, models 65xx)\n"
    "instrument, on a raw TCP socket and optionally on a pseudo-terminal.\n"
    "Prints the VISA resource strings to use, then serves until SIGINT or\n"
    "SIGTERM.\n"
    "\n"
    "Options:\n"
    "  --model <model>          model number answered by *IDN? (default 6313);\n"
    "                           63xx is a Series6310, 65xx a Series6510\n"
    "  --manufacturer <text>    manufacturer field of *IDN? (default Norvale)\n"
    "  --serial <text>          serial-number field of *IDN? (default SN000001)\n"
    "  --firmware <text>        firmware field of *IDN? (default 1.02)\n"
    "  --host <address>         address to listen on (default 127.0.0.1)\n"
    "  --port <port>            TCP port (default 5025; 0 picks a free port)\n"
    "  --vxi11                  also serve VXI-11 (TCPIP::host::INSTR): portmapper,\n"
    "                           core and abort channels\n"
    "  --rpc-port <port>        the VXI-11 portmapper's TCP and UDP port (default\n"
    "                           111; 0 picks a free port)\n"
    "  --vxi11-keep-links       VXI-11 links and the lock outlive their connection\n"
    "                           until destroy_link, as on some instruments\n"
    "  --hislip                 also serve HiSLIP (TCPIP::host::hislip0::INSTR)\n"
    "  --hislip-port <port>     the HiSLIP port (default 4880; 0 picks a free port)\n"
    "  --announce               be found like a LAN instrument: the portmapper\n"
    "                           answers broadcast GETPORT, and the services are\n"
    "                           announced over multicast DNS (--host must be an\n"
    "                           IPv4 address of an interface with multicast)\n"
    "  --lxi-http               serve the LXI identification document\n"
    "                           (/lxi/identification) and a welcome page over HTTP\n"
    "  --http-port <port>       the web server's port (default 80; 0 picks one)\n"
    "  --lxi-http-hangs         the web server accepts requests and never answers\n"
    "  --no-idn-reply           never answer *IDN? (an instrument found on the\n"
    "                           LAN that will not identify itself)\n"
    "  --no-tcp                 no raw TCP socket (use with --serial-pty,\n"
    "                           --usbtmc, --vxi11 or --hislip)\n"
    "  --serial-pty             also serve on a pseudo-terminal; prints its\n"
    "                           ASRL/dev/pts/N::INSTR resource\n"
    "  --usbtmc <file>          also serve a USB instrument: mounts through FUSE,\n"
    "                           on the existing file, a device that acts as the\n"
    "                           kernel usbtmc driver's /dev/usbtmcN (needs root)\n"
    "  --usbtmc-log <file>      append every USB message and request to the file\n"
    "  --usbtmc-fault <fault>   misbehave as a USB device: max-transfer=N (reply\n"
    "                           transfers of N bytes at most), stop-after=N (falls\n"
    "                           silent after N reply bytes), stall (answers\n"
    "                           nothing), fail=<request> (clear, read-stb,\n"
    "                           trigger, ren, goto-local, local-lockout,\n"
    "                           msg-in-attr, get-caps fail with EIO),\n"
    "                           unplug-on-read, refuse-open, no-caps\n"
    "  --trace                  log every message and reply to stderr\n"
    "  --help                   show this text\n"
    "\n"
    "Output (one line each, stdout):\n"
    "  TCPIP::127.0.0.1::5025::SOCKET\n"
    "  TCPIP::127.0.0.1::INSTR       (with --vxi11; a portmapper port other\n"
    "                                than 111 follows as \"rpc-port N\")\n"
    "  TCPIP::127.0.0.1::hislip0::INSTR  (with --hislip; a port other than\n"
    "                                4880 follows \"hislip0,\")\n"
    "  ASRL/dev/pts/5::INSTR         (with --serial-pty)\n"
    "  USBTMC /dev/usbtmc0           (with --usbtmc, once the device is served)\n"
    "  http-port N                   (with --lxi-http)\n"
    "  announced                     (with --announce, once every service\n"
    "                                passed multicast DNS probing)\n";

// One --usbtmc-fault value into the faults; false for an unknown one.
bool ParseUsbtmcFault(const std::string& strFault, emu::UsbtmcFaults& faults) {
    const std::size_t nEquals = strFault.find('=');
    const std::string strName = strFault.substr(0, nEquals);
    const std::string strValue = nEquals == std::string::npos ? "" : strFault.substr(nEquals + 1);
    if (strName == "max-transfer" || strName == "stop-after") {
        char* pEnd = nullptr;
        const unsigned long nBytes = std::strtoul(strValue.c_str(), &pEnd, 10);
        (strName == "max-transfer" ? faults.nMaxTransfer : faults.nStopAfter) = nBytes;
        return !strValue.empty() && *pEnd == '\0' && nBytes > 0;
    }
    if (strName == "fail") {
        faults.strFailRequest = strValue;
        return !strValue.empty();
    }
    const std::pair<const char*, bool emu::UsbtmcFaults::*> aFlags[] = {
        {"stall", &emu::UsbtmcFaults::bStall},
        {"unplug-on-read", &emu::UsbtmcFaults::bUnplugOnRead},
        {"refuse-open", &emu::UsbtmcFaults::bRefuseOpen},
        {"no-caps", &emu::UsbtmcFaults::bNoCaps},
    };
    for (const auto& [pszName, pFlag] : aFlags) {
        if (strFault == pszName) {
            faults.*pFlag = true;
            return true;
        }
    }
    return false;
}

bool ParsePort(const char* pszText, unsigned short& nPort) {
    char* pEnd = nullptr;
    long nValue = std::strtol(pszText, &pEnd, 10);
    if (pEnd == pszText || *pEnd != '\0' || nValue < 0 || nValue > 65535) {
        return false;
    }
    nPort = static_cast<unsigned short>(nValue);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    emu::EmulatorOptions options;
    options.nPort = 5025;
    bool bNoIdnReply = false;
    for (int i = 1; i < argc; ++i) {
        std::string strArg = argv[i];
        auto Value = [&](std::string& strOut) {
            if (i + 1 >= argc) {
                std::cerr << "tarvek-emulator: " << strArg << " needs a value\n";
                std::exit(2);
            }
            strOut = argv[++i];
        };
        if (strArg == "--help" || strArg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (strArg == "--model") {
            Value(options.strModel);
        } else if (strArg == "--manufacturer") {
            Value(options.strManufacturer);
        } else if (strArg == "--serial") {
            Value(options.strSerial);
        } else if (strArg == "--firmware") {
            Value(options.strFirmware);
        } else if (strArg == "--host") {
            Value(options.strHost);
        } else if (strArg == "--port") {
            std::string strPort;
            Value(strPort);
            if (!ParsePort(strPort.c_str(), options.nPort)) {
                std::cerr << "tarvek-emulator: invalid port '" << strPort << "'\n";
                return 2;
            }
        } else if (strArg == "--vxi11") {
            options.bVxi11 = true;
        } else if (strArg == "--vxi11-keep-links") {
            options.bVxi11LinksOutliveConnections = true;
        } else if (strArg == "--rpc-port") {
            std::string strPort;
            Value(strPort);
            if (!ParsePort(strPort.c_str(), options.nRpcPort)) {
                std::cerr << "tarvek-emulator: invalid port '" << strPort << "'\n";
                return 2;
            }
        } else if (strArg == "--hislip") {
            options.bHislip = true;
        } else if (strArg == "--hislip-port") {
            std::string strPort;
            Value(strPort);
            if (!ParsePort(strPort.c_str(), options.nHislipPort)) {
                std::cerr << "tarvek-emulator: invalid port '" << strPort << "'\n";
                return 2;
            }
        } else if (strArg == "--announce") {
            options.bAnnounce = true;
        } else if (strArg == "--lxi-http") {
            options.bLxiHttp = true;
        } else if (strArg == "--http-port") {
            std::string strPort;
            Value(strPort);
            if (!ParsePort(strPort.c_str(), options.nHttpPort)) {
                std::cerr << "tarvek-emulator: invalid port '" << strPort << "'\n";
                return 2;
            }
        } else if (strArg == "--lxi-http-hangs") {
            options.bLxiHttpHangs = true;
        } else if (strArg == "--no-idn-reply") {
            bNoIdnReply = true;
        } else if (strArg == "--no-tcp") {
            options.bTcp = false;
        } else if (strArg == "--usbtmc") {
            Value(options.strUsbtmcPath);
        } else if (strArg == "--usbtmc-log") {
            Value(options.strUsbtmcLog);
        } else if (strArg == "--usbtmc-fault") {
            std::string strFault;
            Value(strFault);
            if (!ParseUsbtmcFault(strFault, options.usbtmcFaults)) {
                std::cerr << "tarvek-emulator: unknown USB fault '" << strFault << "'\n";
                return 2;
            }
        } else if (strArg == "--serial-pty") {
            options.bSerialPty = true;
        } else if (strArg == "--trace") {
            options.bTrace = true;
        } else {
            std::cerr << "tarvek-emulator: unknown option '" << strArg << "'\n" << kUsage;
            return 2;
        }
    }
    if (!options.bTcp && !options.bSerialPty && options.strUsbtmcPath.empty() && !options.bVxi11 &&
        !options.bHislip) {
        std::cerr
            << "tarvek-emulator: --no-tcp needs --serial-pty, --usbtmc, --vxi11 or --hislip\n";
        return 2;
    }

    // Block the stop signals before any thread starts, so that every thread
    // inherits the mask and only sigwait below receives them.
    sigset_t setSignals;
    sigemptyset(&setSignals);
    sigaddset(&setSignals, SIGINT);
    sigaddset(&setSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &setSignals, nullptr);

    try {
        emu::Emulator emulator(options);
        emulator.Start();
        if (bNoIdnReply) {
            emulator.SetNoReply("*IDN?");
        }
        if (options.bTcp) {
            std::cout << emulator.Resource() << std::endl;
        }
        if (options.bVxi11) {
            std::cout << emulator.Vxi11Resource() << std::endl;
            if (emulator.RpcPort() != 111) {
                std::cout << "rpc-port " << emulator.RpcPort() << std::endl;
            }
        }
        if (options.bHislip) {
            std::cout << emulator.HislipResource() << std::endl;
        }
        if (options.bSerialPty) {
            std::cout << emulator.SerialResource() << std::endl;
        }
        if (!options.strUsbtmcPath.empty()) {
            std::cout << "USBTMC " << options.strUsbtmcPath << std::endl;
        }
        if (options.bLxiHttp) {
            std::cout << "http-port " << emulator.HttpPort() << std::endl;
        }
        if (options.bAnnounce) {
            if (!emulator.WaitAnnounced(std::chrono::seconds(10))) {
                std::cerr << "tarvek-emulator: the multicast DNS announcement failed\n";
                return 1;
            }
            // The responder multicasts its records once more within 250 ms of
            // passing probing, and then leaves queries for them unanswered for
            // 500 ms (everyone just heard them). Report only after that, so
            // that a search started on "announced" gets answers at once.
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            std::cout << "announced" << std::endl;
        }
        int nSignal = 0;
        sigwait(&setSignals, &nSignal);
        if (options.bTrace) {
            std::cerr << "tarvek-emulator: " << strsignal(nSignal) << ", stopping\n";
        }
        emulator.Stop();
    } catch (const std::exception& error) {
        std::cerr << "tarvek-emulator: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
