// USB devices that misbehave, against the emulator's usbtmc node with its
// faults (tarvek-emulator --usbtmc-fault) in the test's own mount namespace:
// every row ends in a status with a text, within the call's timeout and the
// margin every transport keeps, and the device's next state is as stated.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "UsbtmcFixture.h"
#include "visa.h"

namespace {

using usbtest::Describe;
using usbtest::kMarginMs;
using usbtest::kShortTimeoutMs;
using usbtest::MsSince;
using usbtest::UsbtmcSession;
using Clock = std::chrono::steady_clock;

// A device that misbehaves: every row ends with a status that has a text,
// within the call's timeout and a small margin.
struct HostileRow {
    const char* pszName;
    std::vector<std::string> vecFaults;
    ViStatus (*pfnAct)(ViSession vi, std::string& strDetail);
    ViStatus nExpected;
    const char* pszDetail;  // what the action saw, where it matters
};

ViStatus WriteText(ViSession vi, const char* pszText) {
    ViUInt32 nDone = 0;
    return viWrite(vi, reinterpret_cast<ViConstBuf>(pszText),
                   static_cast<ViUInt32>(std::strlen(pszText)), &nDone);
}

ViStatus Query(ViSession vi, std::string& strReply) {
    ViStatus status = WriteText(vi, "*IDN?\n");
    if (status < VI_SUCCESS) {
        return status;
    }
    char szBuffer[256] = {};
    ViUInt32 nDone = 0;
    status = viRead(vi, reinterpret_cast<ViPBuf>(szBuffer), sizeof szBuffer, &nDone);
    strReply.assign(szBuffer, nDone);
    return status;
}

const HostileRow kHostileRows[] = {
    {"ReplyInThreeByteTransfersArrivesWhole",
     {"max-transfer=3"},
     Query,
     VI_SUCCESS,
     "Norvale,6313,SN000001,1.02\n"},
    {"ReplyWithoutTransferAttributesEndsAtTheShortTransfer",
     {"fail=msg-in-attr"},
     Query,
     VI_SUCCESS,
     "Norvale,6313,SN000001,1.02\n"},
    {"ReadWithNothingToSayTimesOut",
     {},
     [](ViSession vi, std::string&) {
         char szBuffer[16];
         ViUInt32 nDone = 0;
         return viRead(vi, reinterpret_cast<ViPBuf>(szBuffer), sizeof szBuffer, &nDone);
     },
     VI_ERROR_TMO,
     ""},
    {"DeviceSilentInTheMiddleOfAReplyTimesTheReadOut",
     {"stop-after=10", "max-transfer=4"},
     [](ViSession vi, std::string& strDetail) {
         std::string strReply;
         const ViStatus status = Query(vi, strReply);
         strDetail = strReply;  // what came before the silence
         return status;
     },
     VI_ERROR_TMO,
     "Norvale,63"},
    {"StalledDeviceTimesTheWriteOut",
     {"stall"},
     [](ViSession vi, std::string&) { return WriteText(vi, "*IDN?\n"); },
     VI_ERROR_TMO,
     ""},
    {"StalledDeviceTimesTheStatusByteOut",
     {"stall"},
     [](ViSession vi, std::string&) {
         ViUInt16 nStb = 0;
         return viReadSTB(vi, &nStb);
     },
     VI_ERROR_TMO,
     ""},
    {"FailingStatusByteRequestIsAnIoError",
     {"fail=read-stb"},
     [](ViSession vi, std::string&) {
         ViUInt16 nStb = 0;
         return viReadSTB(vi, &nStb);
     },
     VI_ERROR_IO,
     ""},
    {"FailingClearIsAnIoError",
     {"fail=clear"},
     [](ViSession vi, std::string&) { return viClear(vi); },
     VI_ERROR_IO,
     ""},
    {"FailingTriggerIsAnIoError",
     {"fail=trigger"},
     [](ViSession vi, std::string&) { return viAssertTrigger(vi, VI_TRIG_PROT_DEFAULT); },
     VI_ERROR_IO,
     ""},
    {"UnplugDuringReadLosesTheConnectionAtOnce",
     {"unplug-on-read"},
     [](ViSession vi, std::string& strDetail) {
         std::string strReply;
         const ViStatus status = Query(vi, strReply);
         // Every later call says the same.
         strDetail = WriteText(vi, "*IDN?\n") == VI_ERROR_CONN_LOST ? "later calls lost too" : "";
         return status;
     },
     VI_ERROR_CONN_LOST,
     "later calls lost too"},
    {"DeviceWithoutUsb488RefusesTriggerRemoteAndServiceRequests",
     {"no-caps"},
     [](ViSession vi, std::string& strDetail) {
         const bool bOthers =
             viGpibControlREN(vi, VI_GPIB_REN_ASSERT) == VI_ERROR_NSUP_OPER &&
             viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL) == VI_ERROR_INV_EVENT;
         strDetail = bOthers ? "all refused" : "";
         return viAssertTrigger(vi, VI_TRIG_PROT_DEFAULT);
     },
     VI_ERROR_NSUP_OPER,
     "all refused"},
};

TEST_F(UsbtmcSession, HostileDeviceBehavioursEndInAStatusWithinTheTimeout) {
    for (const HostileRow& row : kHostileRows) {
        SCOPED_TRACE(row.pszName);
        usbtest::DeviceSetup setup;
        setup.vecFaults = row.vecFaults;
        Plug(setup);
        Open();
        ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, kShortTimeoutMs), VI_SUCCESS);
        std::string strDetail;
        const auto tStart = Clock::now();
        const ViStatus status = row.pfnAct(m_vi, strDetail);
        EXPECT_LE(MsSince(tStart), static_cast<long>(kShortTimeoutMs) + kMarginMs);
        EXPECT_EQ(status, row.nExpected) << Describe(m_vi, status);
        EXPECT_FALSE(Describe(m_vi, status).empty());
        EXPECT_EQ(strDetail, row.pszDetail);
        viClose(m_vi);
        m_vi = VI_NULL;
        m_device.Unplug();
    }
}

TEST_F(UsbtmcSession, NodeThatCannotBeOpenedSaysPermissionIsMissing) {
    usbtest::DeviceSetup setup;
    setup.vecFaults = {"refuse-open"};
    Plug(setup);
    ViSession vi = VI_NULL;
    const ViStatus status = viOpen(m_rm, m_device.Resource().c_str(), VI_NO_LOCK, 2000, &vi);
    EXPECT_EQ(status, VI_ERROR_NPERMISSION);
    EXPECT_NE(Describe(m_rm, status).find("usbtmc"), std::string::npos) << Describe(m_rm, status);
    EXPECT_EQ(vi, VI_NULL);
}

}  // namespace
