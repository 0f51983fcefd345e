// An emulator serving VXI-11 for one test case. Clients find the server
// through the portmapper on port 111, so each case runs its own emulator on
// its own loopback address: CTest runs cases at once in separate processes,
// and an address taken from the case's line is distinct per case and stable
// per run. Each test file passes its own block of addresses; a file of more
// than 200 lines takes the next block too. Taken: 127.0.1-2 (VISA sessions),
// 127.0.9 (an address nothing serves), 127.0.14 (benchmarks), 127.0.15 (CLI
// and emulator scripts), 127.0.16 (driver), 127.0.17 (PyVISA),
// 127.0.18-19 (service requests), 127.0.20-21 (service request receiver),
// 127.0.24-25 (hostile servers).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "Emulator.h"

// The program messages that make the emulator request service: the request
// bit falls with *CLS and rises with *OPC, two messages, so the device sees
// both edges.
inline constexpr const char* kRequestService[] = {"*CLS\n", "*ESE 1;*SRE 32;*OPC\n"};

inline std::string Vxi11AddressOfCurrentTest(int nBlock) {
    const int nLine = ::testing::UnitTest::GetInstance()->current_test_info()->line();
    return "127.0." + std::to_string(nBlock + nLine / 200) + "." + std::to_string(20 + nLine % 200);
}

// Starts the emulator on strHost. Port 111 needs root (or
// CAP_NET_BIND_SERVICE): as root a failure to bind fails the case, otherwise
// it skips it. The caller returns when the case has failed or been skipped.
inline void StartVxi11Emulator(const std::string& strHost,
                               std::unique_ptr<emu::Emulator>& pEmulator,
                               emu::EmulatorOptions options = {}) {
    options.strHost = strHost;
    options.bVxi11 = true;
    pEmulator = std::make_unique<emu::Emulator>(options);
    try {
        pEmulator->Start();
    } catch (const std::runtime_error& error) {
        if (::geteuid() == 0) {
            FAIL() << error.what();
        }
        GTEST_SKIP() << error.what();
    }
}
