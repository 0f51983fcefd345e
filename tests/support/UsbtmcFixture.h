// The fixture of the USB tests: the process enters the USB sandbox
// (UsbtmcSandbox.h), opens a resource manager, and plugs in one emulated
// device at /dev/usbtmc0 when a test asks. Skips where the machine cannot
// host the device.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "UsbtmcSandbox.h"
#include "visa.h"

namespace usbtest {

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

constexpr ViUInt32 kShortTimeoutMs = 300;
// What a call may take beyond its timeout, as on every transport.
constexpr long kMarginMs = 200;

inline long MsSince(Clock::time_point tStart) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - tStart).count());
}

inline std::string Describe(ViSession vi, ViStatus status) {
    ViChar szText[256] = "";
    viStatusDesc(vi, status, szText);
    return szText;
}

class UsbtmcSession : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string strWhy;
        if (!usbtest::EnterSandbox(strWhy)) {
            GTEST_SKIP() << "no emulated USB device: " << strWhy;
        }
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
    }

    void TearDown() override {
        if (m_rm != VI_NULL) {
            viClose(m_rm);
        }
    }

    // Plugs the device in; Open() opens it by the name the search lists.
    void Plug(const usbtest::DeviceSetup& setup = {}) {
        std::string strWhy;
        ASSERT_TRUE(m_device.Plug(setup, strWhy)) << strWhy;
    }

    void Open() {
        ASSERT_EQ(viOpen(m_rm, m_device.Resource().c_str(), VI_NO_LOCK, 2000, &m_vi), VI_SUCCESS);
    }

    ViStatus Write(const std::string& strText) {
        ViUInt32 nDone = 0;
        return viWrite(m_vi, reinterpret_cast<ViConstBuf>(strText.data()),
                       static_cast<ViUInt32>(strText.size()), &nDone);
    }

    ViStatus Read(std::string& strOut) {
        char szBuffer[512] = {};
        ViUInt32 nDone = 0;
        const ViStatus status =
            viRead(m_vi, reinterpret_cast<ViPBuf>(szBuffer), sizeof szBuffer, &nDone);
        strOut.assign(szBuffer, nDone);
        return status;
    }

    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
    usbtest::UsbDevice m_device{0};
};

}  // namespace usbtest
