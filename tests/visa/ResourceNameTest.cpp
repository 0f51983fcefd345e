// Resource names through viParseRsrc/viParseRsrcEx.
#include <gtest/gtest.h>

#include <string>

#include "visa.h"

namespace {

class ResourceNames : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS); }
    void TearDown() override { viClose(m_rm); }
    ViSession m_rm = VI_NULL;
};

TEST_F(ResourceNames, ValidNamesParseToTheirCanonicalForm) {
    struct Row {
        const char* pszName;
        ViUInt16 nIntfType;
        ViUInt16 nIntfNum;
        const char* pszClass;
        const char* pszCanonical;
    };
    const Row rows[] = {
        {"TCPIP::127.0.0.1::5025::SOCKET", VI_INTF_TCPIP, 0, "SOCKET",
         "TCPIP0::127.0.0.1::5025::SOCKET"},
        {"tcpip3::psu.lab::5025::socket", VI_INTF_TCPIP, 3, "SOCKET",
         "TCPIP3::psu.lab::5025::SOCKET"},
        {"TCPIP::[fe80::1]::5025::SOCKET", VI_INTF_TCPIP, 0, "SOCKET",
         "TCPIP0::[fe80::1]::5025::SOCKET"},
        {"TCPIP0::10.0.0.5::INSTR", VI_INTF_TCPIP, 0, "INSTR", "TCPIP0::10.0.0.5::inst0::INSTR"},
        {"TCPIP::10.0.0.5::hislip0", VI_INTF_TCPIP, 0, "INSTR", "TCPIP0::10.0.0.5::hislip0::INSTR"},
        {"ASRL1::INSTR", VI_INTF_ASRL, 1, "INSTR", "ASRL1::INSTR"},
        {"asrl/dev/ttyUSB0::instr", VI_INTF_ASRL, 0, "INSTR", "ASRL/dev/ttyUSB0::INSTR"},
        {"ASRL2", VI_INTF_ASRL, 2, "INSTR", "ASRL2::INSTR"},
        {"GPIB0::5::INSTR", VI_INTF_GPIB, 0, "INSTR", "GPIB0::5::INSTR"},
        {"GPIB1::5::96", VI_INTF_GPIB, 1, "INSTR", "GPIB1::5::96::INSTR"},
        {"GPIB0::INTFC", VI_INTF_GPIB, 0, "INTFC", "GPIB0::INTFC"},
        {"USB0::0x1234::0x5678::SN1::INSTR", VI_INTF_USB, 0, "INSTR",
         "USB0::0x1234::0x5678::SN1::INSTR"},
        {"usb::0x1ab1::4660::sn-a::2", VI_INTF_USB, 0, "INSTR",
         "USB0::0x1AB1::0x1234::sn-a::2::INSTR"},
        {"USB3::0X2A8D::0x0101::X::RAW", VI_INTF_USB, 3, "RAW", "USB3::0x2A8D::0x0101::X::RAW"},
        {"GPIB-VXI0::3::INSTR", VI_INTF_GPIB_VXI, 0, "INSTR", "GPIB-VXI0::3::INSTR"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszName);
        ViUInt16 nType = 0, nNum = 99;
        char szClass[VI_FIND_BUFLEN] = {}, szName[VI_FIND_BUFLEN] = {},
             szAlias[VI_FIND_BUFLEN] = "x";
        ASSERT_EQ(viParseRsrcEx(m_rm, row.pszName, &nType, &nNum, szClass, szName, szAlias),
                  VI_SUCCESS);
        EXPECT_EQ(nType, row.nIntfType);
        EXPECT_EQ(nNum, row.nIntfNum);
        EXPECT_STREQ(szClass, row.pszClass);
        EXPECT_STREQ(szName, row.pszCanonical);
        EXPECT_STREQ(szAlias, "");
        nType = 0;
        EXPECT_EQ(viParseRsrc(m_rm, row.pszName, &nType, nullptr), VI_SUCCESS);
        EXPECT_EQ(nType, row.nIntfType);
    }
}

TEST_F(ResourceNames, MalformedNamesAreRefused) {
    struct Row {
        const char* pszName;
        ViStatus nExpected;
    };
    const Row rows[] = {
        {"", VI_ERROR_INV_RSRC_NAME},
        {"   ", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP::::5025::SOCKET", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP::host::0::SOCKET", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP::host::-1::SOCKET", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP::host::5025::SOCKET::extra", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP::[fe80::1::5025::SOCKET", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP99999999::host::5025::SOCKET", VI_ERROR_INV_RSRC_NAME},
        {"ASRL1::SOCKET", VI_ERROR_INV_RSRC_NAME},
        {"GPIB0::31::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"USB::1::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"USB::0x10000::1::SN::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"USB::0x::1::SN::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"USB::0x12G4::1::SN::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"USB::65536::1::SN::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"USB::1::1::SN::256::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"\t \n", VI_ERROR_INV_RSRC_NAME},
        {"::", VI_ERROR_INV_RSRC_NAME},
        {"::::", VI_ERROR_INV_RSRC_NAME},
        {"::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP::", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP0::", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP::::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP::  ::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"TCPIP::127.0.0.1::", VI_ERROR_INV_RSRC_NAME},
        {"ASRL1::", VI_ERROR_INV_RSRC_NAME},
        {"GPIB::", VI_ERROR_INV_RSRC_NAME},
        {"FOO::::INSTR", VI_ERROR_INV_RSRC_NAME},
        {"FOO::1::INSTR", VI_ERROR_RSRC_NFOUND},
        {"MyAlias", VI_ERROR_RSRC_NFOUND},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszName);
        ViUInt16 nType = 77, nNum = 77;
        EXPECT_EQ(viParseRsrc(m_rm, row.pszName, &nType, &nNum), row.nExpected);
        // Opening answers as parsing does, and leaves no session behind.
        ViSession vi = 77;
        EXPECT_EQ(viOpen(m_rm, row.pszName, VI_NO_LOCK, 100, &vi), row.nExpected);
        EXPECT_EQ(vi, static_cast<ViSession>(VI_NULL));
    }
    ViSession vi = 77;
    EXPECT_EQ(viOpen(m_rm, nullptr, VI_NO_LOCK, 100, &vi), VI_ERROR_INV_RSRC_NAME);
    EXPECT_EQ(viParseRsrc(m_rm, nullptr, nullptr, nullptr), VI_ERROR_INV_RSRC_NAME);
    EXPECT_EQ(viParseRsrc(0x7777777, "ASRL1::INSTR", nullptr, nullptr), VI_ERROR_INV_OBJECT);
}

}  // namespace
