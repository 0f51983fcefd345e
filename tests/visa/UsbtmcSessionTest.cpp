// USB instruments through the kernel's usbtmc interface, against the
// emulator's device served through FUSE at /dev/usbtmcN inside a private
// mount namespace (tests/support/UsbtmcSandbox.h): finding, opening, the
// messages and device requests the device receives, service requests and an
// unplug. The misbehaving devices are in tests/faults/UsbtmcFaultTest.cpp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "UsbtmcFixture.h"
#include "visa.h"

namespace {

using usbtest::kMarginMs;
using usbtest::Lines;
using usbtest::MsSince;
using Clock = std::chrono::steady_clock;
using usbtest::UsbtmcSession;

TEST_F(UsbtmcSession, FindListsTheDeviceAndItsAttributesDescribeIt) {
    usbtest::DeviceSetup setup;
    setup.nInterface = 2;
    Plug(setup);
    ViFindList list = VI_NULL;
    ViUInt32 nCount = 0;
    ViChar szName[VI_FIND_BUFLEN] = "";
    ASSERT_EQ(viFindRsrc(m_rm, "USB?*INSTR", &list, &nCount, szName), VI_SUCCESS);
    EXPECT_EQ(nCount, 1u);
    EXPECT_STREQ(szName, "USB0::0x1AB1::0x0E11::SN000001::2::INSTR");
    viClose(list);
    ASSERT_EQ(viOpen(m_rm, szName, VI_NO_LOCK, 2000, &m_vi), VI_SUCCESS);

    ViUInt16 nValue = 0;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_INTF_TYPE, &nValue), VI_SUCCESS);
    EXPECT_EQ(nValue, VI_INTF_USB);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_MANF_ID, &nValue), VI_SUCCESS);
    EXPECT_EQ(nValue, 0x1AB1);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_MODEL_CODE, &nValue), VI_SUCCESS);
    EXPECT_EQ(nValue, 0x0E11);
    ViInt16 nSigned = -1;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_USB_INTFC_NUM, &nSigned), VI_SUCCESS);
    EXPECT_EQ(nSigned, 2);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_USB_PROTOCOL, &nSigned), VI_SUCCESS);
    EXPECT_EQ(nSigned, 1);
    ViChar szText[VI_FIND_BUFLEN] = "";
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_USB_SERIAL_NUM, szText), VI_SUCCESS);
    EXPECT_STREQ(szText, "SN000001");
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_MODEL_NAME, szText), VI_SUCCESS);
    EXPECT_STREQ(szText, "6313 DC Power Supply");
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TCPIP_PORT, &nValue), VI_ERROR_NSUP_ATTR);
}

TEST_F(UsbtmcSession, SearchSkipsEntriesThatAreNoUsbtmcDevice) {
    Plug();
    // Beside the device: a dangling link, an id that is no number, a node
    // name that is no usbtmc one, and an interface without a USB device.
    const std::string strMisc = usbtest::kUsbmisc;
    const std::string strUsb = usbtest::kUsbDevices;
    ASSERT_EQ(::mkdir((strMisc + "/usbtmc5").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("../.usb/nowhere", (strMisc + "/usbtmc5/device").c_str()), 0);
    ASSERT_EQ(::mkdir((strUsb + "/9-9").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((strUsb + "/9-9/9-9:1.0").c_str(), 0755), 0);
    ASSERT_TRUE(usbtest::WriteFile(strUsb + "/9-9/idVendor", "zz12\n"));
    ASSERT_TRUE(usbtest::WriteFile(strUsb + "/9-9/idProduct", "0001\n"));
    ASSERT_TRUE(usbtest::WriteFile(strUsb + "/9-9/9-9:1.0/bInterfaceNumber", "00\n"));
    for (const char* pszEntry : {"usbtmc6", "usbtmcX", "hiddev0"}) {
        ASSERT_EQ(::mkdir((strMisc + "/" + pszEntry).c_str(), 0755), 0);
        ASSERT_EQ(::symlink("../.usb/9-9/9-9:1.0", (strMisc + "/" + pszEntry + "/device").c_str()),
                  0);
    }
    ViFindList list = VI_NULL;
    ViUInt32 nCount = 0;
    ViChar szName[VI_FIND_BUFLEN] = "";
    // Every kind of resource, but no LAN search: nothing leaves the machine.
    ::setenv("TKVISA_DISCOVERY_TIMEOUT_MS", "0", 1);
    const ViStatus findStatus = viFindRsrc(m_rm, "?*", &list, &nCount, szName);
    ::unsetenv("TKVISA_DISCOVERY_TIMEOUT_MS");
    ASSERT_EQ(findStatus, VI_SUCCESS);
    std::vector<std::string> vecUsb;
    for (ViUInt32 i = 0; i < nCount; ++i) {
        if (std::string(szName).rfind("USB", 0) == 0) {
            vecUsb.push_back(szName);
        }
        viFindNext(list, szName);
    }
    viClose(list);
    EXPECT_EQ(vecUsb, (Lines{m_device.Resource()}));
    for (const char* pszEntry : {"usbtmc5", "usbtmc6", "usbtmcX", "hiddev0"}) {
        std::filesystem::remove_all(strMisc + "/" + pszEntry);
    }
    std::filesystem::remove_all(strUsb + "/9-9");
}

TEST_F(UsbtmcSession, NamesWithDecimalOrHexIdsOpenTheSameDevice) {
    Plug();
    const char* const apNames[] = {
        "USB0::0x1AB1::0x0E11::SN000001::INSTR",
        "USB::6833::3601::sn000001::0::INSTR",
        "usb0::0x1ab1::0x0e11::SN000001",
    };
    for (const char* pszName : apNames) {
        SCOPED_TRACE(pszName);
        ViSession vi = VI_NULL;
        ASSERT_EQ(viOpen(m_rm, pszName, VI_NO_LOCK, 2000, &vi), VI_SUCCESS);
        viClose(vi);
    }
    const char* const apAbsent[] = {
        "USB0::0x1AB1::0x0E11::OTHER::INSTR",
        "USB0::0x1AB1::0x0E12::SN000001::INSTR",
        "USB0::0x1AB1::0x0E11::SN000001::1::INSTR",
    };
    for (const char* pszName : apAbsent) {
        SCOPED_TRACE(pszName);
        ViSession vi = VI_NULL;
        EXPECT_EQ(viOpen(m_rm, pszName, VI_NO_LOCK, 2000, &vi), VI_ERROR_RSRC_NFOUND);
    }
}

TEST_F(UsbtmcSession, QueryCarriesTheExactMessageAndEndsAtTheDevicesEom) {
    Plug();
    Open();
    ASSERT_EQ(Write("*IDN?\n"), VI_SUCCESS);
    std::string strReply;
    EXPECT_EQ(Read(strReply), VI_SUCCESS);
    EXPECT_EQ(strReply, "Norvale,6313,SN000001,1.02\n");
    // With a termination character the device ends its transfer there and
    // the read stops at it; the rest is the next read's.
    viSetAttribute(m_vi, VI_ATTR_TERMCHAR, ',');
    viSetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, VI_TRUE);
    ASSERT_EQ(Write("*IDN?\n"), VI_SUCCESS);
    EXPECT_EQ(Read(strReply), VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(strReply, "Norvale,");
    EXPECT_EQ(Read(strReply), VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(strReply, "6313,");
    EXPECT_EQ(m_device.Lines(), (Lines{"*IDN?", "*IDN?"}));
}

TEST_F(UsbtmcSession, StatusByteClearTriggerAndRemoteControlGoToTheDevice) {
    Plug();
    Open();
    ViUInt16 nStb = 0xFFFF;
    EXPECT_EQ(viReadSTB(m_vi, &nStb), VI_SUCCESS);
    EXPECT_EQ(nStb, 0);
    ASSERT_EQ(Write("*IDN?\n"), VI_SUCCESS);
    EXPECT_EQ(viReadSTB(m_vi, &nStb), VI_SUCCESS);
    EXPECT_EQ(nStb & 0x10, 0x10);  // MAV: the reply waits
    EXPECT_EQ(viClear(m_vi), VI_SUCCESS);
    EXPECT_EQ(viReadSTB(m_vi, &nStb), VI_SUCCESS);
    EXPECT_EQ(nStb, 0);  // the reply went with the clear
    EXPECT_EQ(viAssertTrigger(m_vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
    EXPECT_EQ(m_device.Lines(), (Lines{"*IDN?", "[clear]", "[trigger]"}));

    struct Row {
        ViUInt16 nMode;
        Lines vecExpected;
    };
    const Row rows[] = {
        {VI_GPIB_REN_DEASSERT, {"[ren off]"}},
        {VI_GPIB_REN_ASSERT, {"[ren on]"}},
        {VI_GPIB_REN_DEASSERT_GTL, {"[goto local]", "[ren off]"}},
        {VI_GPIB_REN_ASSERT_ADDRESS, {"[ren on]"}},
        {VI_GPIB_REN_ASSERT_LLO, {"[local lockout]"}},
        {VI_GPIB_REN_ASSERT_ADDRESS_LLO, {"[ren on]", "[local lockout]"}},
        {VI_GPIB_REN_ADDRESS_GTL, {"[goto local]"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.nMode);
        m_device.ClearLines();
        EXPECT_EQ(viGpibControlREN(m_vi, row.nMode), VI_SUCCESS);
        EXPECT_EQ(m_device.Lines(), row.vecExpected);
    }
    EXPECT_EQ(viGpibControlREN(m_vi, 99), VI_ERROR_INV_MODE);
}

TEST_F(UsbtmcSession, ServiceRequestRaisesTheEventAndTheStatusByteShowsIt) {
    Plug();
    Open();
    ASSERT_EQ(viEnableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
    // The operation-complete bit sets ESB, which *SRE 32 lets request service.
    ASSERT_EQ(Write("*CLS;*ESE 1;*SRE 32;*OPC\n"), VI_SUCCESS);
    ViEventType nType = 0;
    ViEvent event = VI_NULL;
    ASSERT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 2000, &nType, &event), VI_SUCCESS);
    EXPECT_EQ(nType, VI_EVENT_SERVICE_REQ);
    viClose(event);
    ViUInt16 nStb = 0;
    EXPECT_EQ(viReadSTB(m_vi, &nStb), VI_SUCCESS);
    EXPECT_EQ(nStb & 0x60, 0x60);  // RQS and ESB
    // The request was taken: no second event until the device asks again.
    EXPECT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 100, &nType, &event), VI_ERROR_TMO);
    ASSERT_EQ(Write("*CLS\n"), VI_SUCCESS);
    ASSERT_EQ(Write("*OPC\n"), VI_SUCCESS);
    EXPECT_EQ(viWaitOnEvent(m_vi, VI_EVENT_SERVICE_REQ, 2000, &nType, &event), VI_SUCCESS);
    viClose(event);
    EXPECT_EQ(viDisableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_QUEUE), VI_SUCCESS);
}

TEST_F(UsbtmcSession, UnpluggedDeviceLosesTheConnectionForEveryLaterCall) {
    Plug();
    Open();
    ASSERT_EQ(viEnableEvent(m_vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_SUCCESS);
    ASSERT_EQ(Write("*IDN?\n"), VI_SUCCESS);
    m_device.Unplug();
    const auto tStart = Clock::now();
    std::string strReply;
    EXPECT_EQ(Read(strReply), VI_ERROR_CONN_LOST);
    EXPECT_EQ(Write("*IDN?\n"), VI_ERROR_CONN_LOST);
    ViUInt16 nStb = 0;
    EXPECT_EQ(viReadSTB(m_vi, &nStb), VI_ERROR_CONN_LOST);
    EXPECT_EQ(viClear(m_vi), VI_ERROR_CONN_LOST);
    EXPECT_EQ(viAssertTrigger(m_vi, VI_TRIG_PROT_DEFAULT), VI_ERROR_CONN_LOST);
    EXPECT_EQ(viGpibControlREN(m_vi, VI_GPIB_REN_ASSERT), VI_ERROR_CONN_LOST);
    EXPECT_LT(MsSince(tStart), kMarginMs);  // none of them waited for a timeout
    EXPECT_EQ(viClose(m_vi), VI_SUCCESS);
    ViFindList list = VI_NULL;
    ViUInt32 nCount = 0;
    ViChar szName[VI_FIND_BUFLEN] = "";
    EXPECT_EQ(viFindRsrc(m_rm, "USB?*", &list, &nCount, szName), VI_ERROR_RSRC_NFOUND);
}

TEST_F(UsbtmcSession, DriverQuickstartTourRunsOverUsb) {
    Plug();
    // The name the tour opens is the one the search finds.
    ViChar szName[VI_FIND_BUFLEN] = "";
    ViUInt32 nCount = 0;
    ViFindList list = VI_NULL;
    ASSERT_EQ(viFindRsrc(m_rm, "USB0::?*::INSTR", &list, &nCount, szName), VI_SUCCESS);
    viClose(list);
    const std::string strResource = szName;
    EXPECT_EQ(strResource, m_device.Resource());
    char* apArgs[] = {const_cast<char*>(TARVEK_QUICKSTART_PATH),
                      const_cast<char*>(strResource.c_str()), nullptr};
    int aPipe[2];
    ASSERT_EQ(::pipe2(aPipe, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, aPipe[1], STDOUT_FILENO);
    pid_t nPid = -1;
    const int nError =
        posix_spawn(&nPid, TARVEK_QUICKSTART_PATH, &actions, nullptr, apArgs, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(aPipe[1]);
    std::string strOutput;
    char szChunk[4096];
    for (ssize_t nGot; nError == 0 && (nGot = ::read(aPipe[0], szChunk, sizeof szChunk)) > 0;) {
        strOutput.append(szChunk, static_cast<std::size_t>(nGot));
    }
    ::close(aPipe[0]);
    ASSERT_EQ(nError, 0);
    int nStatus = -1;
    ASSERT_EQ(waitpid(nPid, &nStatus, 0), nPid);
    ASSERT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(WEXITSTATUS(nStatus), 0) << strOutput;
    // The list's measured steps run in real time and depend on the load;
    // the tour's other results do not.
    for (const char* pszLine : {"It is a Norvale 6313 (firmware 1.02) with 3 outputs.",
                                "CH2: over-current protection TRIPPED, output off.",
                                "CH2: over-current protection clear, output on at 12.000 V.",
                                "error -222: Data out of range", "Done."}) {
        EXPECT_NE(strOutput.find(pszLine), std::string::npos) << pszLine << "\n" << strOutput;
    }
    // The tour's identity query reached the device over USB.
    const Lines vecLines = m_device.Lines();
    EXPECT_NE(std::find(vecLines.begin(), vecLines.end(), "*IDN?"), vecLines.end());
}

}  // namespace
