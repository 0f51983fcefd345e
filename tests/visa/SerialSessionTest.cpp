// The serial transport over a pseudo-terminal pair: the test plays the
// instrument on the master side, the session opens the slave as ASRL/dev/pts/N.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "visa.h"

namespace {

class SerialSession : public ::testing::Test {
  protected:
    void SetUp() override {
        m_nMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(m_nMaster, 0);
        ASSERT_EQ(::grantpt(m_nMaster), 0);
        ASSERT_EQ(::unlockpt(m_nMaster), 0);
        m_strSlave = ::ptsname(m_nMaster);
        termios tio{};
        ::tcgetattr(m_nMaster, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_nMaster, TCSANOW, &tio);
        ASSERT_EQ(viOpenDefaultRM(&m_rm), VI_SUCCESS);
        const std::string strResource = "ASRL" + m_strSlave + "::INSTR";
        ASSERT_EQ(viOpen(m_rm, strResource.c_str(), VI_NO_LOCK, 2000, &m_vi), VI_SUCCESS);
    }

    void TearDown() override {
        viClose(m_rm);
        if (m_nMaster >= 0) {
            ::close(m_nMaster);
        }
    }

    void Send(const std::string& strBytes) {
        ASSERT_EQ(::write(m_nMaster, strBytes.data(), strBytes.size()),
                  static_cast<ssize_t>(strBytes.size()));
    }

    std::string ReceiveAtLeast(std::size_t nBytes) {
        std::string strGot;
        const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (strGot.size() < nBytes && std::chrono::steady_clock::now() < tEnd) {
            pollfd pfd{m_nMaster, POLLIN, 0};
            if (::poll(&pfd, 1, 50) > 0) {
                char buffer[256];
                const ssize_t nGot = ::read(m_nMaster, buffer, sizeof buffer);
                if (nGot > 0) {
                    strGot.append(buffer, static_cast<std::size_t>(nGot));
                }
            }
        }
        return strGot;
    }

    std::string Read(ViStatus& status) {
        char buffer[256] = {};
        ViUInt32 nCount = 0;
        status = viRead(m_vi, reinterpret_cast<ViBuf>(buffer), sizeof buffer, &nCount);
        return std::string(buffer, nCount);
    }

    int m_nMaster = -1;
    std::string m_strSlave;
    ViSession m_rm = VI_NULL;
    ViSession m_vi = VI_NULL;
};

TEST_F(SerialSession, OpenedPortHasSerialDefaults) {
    ViUInt16 nIntf = 0, nDataBits = 0, nParity = 9, nStop = 0, nEndIn = 0, nEndOut = 9;
    ViUInt32 nBaud = 0;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_INTF_TYPE, &nIntf), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_ASRL_BAUD, &nBaud), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_ASRL_DATA_BITS, &nDataBits), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_ASRL_PARITY, &nParity), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_ASRL_STOP_BITS, &nStop), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_ASRL_END_IN, &nEndIn), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_ASRL_END_OUT, &nEndOut), VI_SUCCESS);
    EXPECT_EQ(nIntf, VI_INTF_ASRL);
    EXPECT_EQ(nBaud, 9600u);
    EXPECT_EQ(nDataBits, 8);
    EXPECT_EQ(nParity, VI_ASRL_PAR_NONE);
    EXPECT_EQ(nStop, VI_ASRL_STOP_ONE);
    EXPECT_EQ(nEndIn, VI_ASRL_END_TERMCHAR);
    EXPECT_EQ(nEndOut, VI_ASRL_END_NONE);
    char szClass[VI_FIND_BUFLEN] = {};
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_RSRC_CLASS, szClass), VI_SUCCESS);
    EXPECT_STREQ(szClass, "INSTR");
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_TCPIP_PORT, &nIntf), VI_ERROR_NSUP_ATTR);
}

TEST_F(SerialSession, LineSettingsReachTheTerminal) {
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_ASRL_BAUD, 115200), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_TWO), VI_SUCCESS);
    // A pseudo-terminal keeps 8 data bits and no parity whatever it is asked;
    // a setting the line refuses must fail and leave the previous one in force.
    const ViStatus dataBitsStatus = viSetAttribute(m_vi, VI_ATTR_ASRL_DATA_BITS, 7);
    ViUInt16 nDataBits = 0;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_ASRL_DATA_BITS, &nDataBits), VI_SUCCESS);
    if (dataBitsStatus == VI_SUCCESS) {
        EXPECT_EQ(nDataBits, 7);
    } else {
        EXPECT_EQ(dataBitsStatus, VI_ERROR_NSUP_ATTR_STATE);
        EXPECT_EQ(nDataBits, 8);
    }
    const int nFd = ::open(m_strSlave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(nFd, 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(nFd, &tio), 0);
    ::close(nFd);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(nDataBits == 7 ? CS7 : CS8));

    struct Row {
        ViAttr nAttribute;
        ViAttrState nValue;
    };
    for (const Row& row : {Row{VI_ATTR_ASRL_BAUD, 12345}, Row{VI_ATTR_ASRL_DATA_BITS, 9},
                           Row{VI_ATTR_ASRL_PARITY, 7}, Row{VI_ATTR_ASRL_STOP_BITS, 30},
                           Row{VI_ATTR_ASRL_END_IN, VI_ASRL_END_BREAK}}) {
        SCOPED_TRACE(row.nAttribute);
        EXPECT_EQ(viSetAttribute(m_vi, row.nAttribute, row.nValue), VI_ERROR_NSUP_ATTR_STATE);
    }
    ViUInt32 nBaud = 0;
    EXPECT_EQ(viGetAttribute(m_vi, VI_ATTR_ASRL_BAUD, &nBaud), VI_SUCCESS);
    EXPECT_EQ(nBaud, 115200u);
}

TEST_F(SerialSession, TermCharEndsReadsAsEndOrTermChar) {
    // END_IN = termination character: the line feed ends a read as END.
    Send("12.5\nnext\n");
    ViStatus status = VI_SUCCESS;
    EXPECT_EQ(Read(status), "12.5\n");
    EXPECT_EQ(status, VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    EXPECT_EQ(Read(status), "next\n");
    EXPECT_EQ(status, VI_SUCCESS_TERM_CHAR);

    // END suppressed and no termination character: only the timeout ends it.
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TERMCHAR_EN, VI_FALSE), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_ASRL_END_IN, VI_ASRL_END_NONE), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 100), VI_SUCCESS);
    Send("a\nb");
    EXPECT_EQ(Read(status), "a\nb");
    EXPECT_EQ(status, VI_ERROR_TMO);
}

TEST_F(SerialSession, QueryRoundTripWithEndOut) {
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_ASRL_END_OUT, VI_ASRL_END_TERMCHAR), VI_SUCCESS);
    std::thread instrument([this] {
        const std::string strQuery = ReceiveAtLeast(6);
        Send(strQuery == "MEAS?\n" ? "1.5,2.5\n" : "WRONG:" + strQuery + "\n");
    });
    double dFirst = 0, dSecond = 0;
    EXPECT_EQ(viQueryf(m_vi, "MEAS?", "%lf,%lf%*t", &dFirst, &dSecond), VI_SUCCESS);
    instrument.join();
    EXPECT_EQ(dFirst, 1.5);
    EXPECT_EQ(dSecond, 2.5);
}

TEST_F(SerialSession, HangupIsConnectionLost) {
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, 1000), VI_SUCCESS);
    ::close(m_nMaster);
    m_nMaster = -1;
    ViStatus status = VI_SUCCESS;
    Read(status);
    EXPECT_EQ(status, VI_ERROR_CONN_LOST);
}

TEST_F(SerialSession, CloseWakesABlockedRead) {
    ASSERT_EQ(viSetAttribute(m_vi, VI_ATTR_TMO_VALUE, VI_TMO_INFINITE), VI_SUCCESS);
    ViStatus readStatus = VI_SUCCESS;
    std::thread reader([&] {
        char buffer[16];
        ViUInt32 nCount = 0;
        readStatus = viRead(m_vi, reinterpret_cast<ViBuf>(buffer), sizeof buffer, &nCount);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(viClose(m_vi), VI_SUCCESS);
    reader.join();
    EXPECT_LT(readStatus, VI_SUCCESS);
}

}  // namespace
