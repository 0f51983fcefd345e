// Checks that every kind of instrument session must pass: formatted queries
// in the formats C callers write, each of which must read the reply to its
// own query, and the status of reads that end on the termination character.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "visa.h"

namespace tkvisa_test {

// Runs viQueryf with a read format of one conversion (and perhaps a
// suppressed one after it) and gives what it stored as text: integers and
// reals printed plainly, strings as stored.
inline std::string QueryAs(ViSession vi, const std::string& strQuery, const char* pszFormat,
                           ViStatus& status) {
    const std::string strFormat = pszFormat;
    if (strFormat.find("ld") != std::string::npos) {
        ViInt32 nValue = -99999;
        status = viQueryf(vi, strQuery.c_str(), pszFormat, &nValue);
        return std::to_string(nValue);
    }
    if (strFormat.find("lf") != std::string::npos) {
        ViReal64 dValue = -99999;
        status = viQueryf(vi, strQuery.c_str(), pszFormat, &dValue);
        char szValue[64];
        std::snprintf(szValue, sizeof szValue, "%g", dValue);
        return szValue;
    }
    char szText[512] = {};
    if (strFormat.find('#') != std::string::npos) {
        ViInt32 nSize = sizeof szText;
        status = viQueryf(vi, strQuery.c_str(), pszFormat, &nSize, szText);
        return std::string(szText, static_cast<std::size_t>(std::clamp<ViInt32>(nSize, 0, 511)));
    }
    status = viQueryf(vi, strQuery.c_str(), pszFormat, szText);
    return szText;
}

struct QueryStep {
    const char* pszQuery;
    const char* pszFormat;
    const char* pszExpected;
};

// Queries of the emulator whose replies differ, in turn, so that a reply read
// by the wrong query shows; each format leaves a different part of its reply
// unread. %T needs a message end: a termination character or a link's END.
inline constexpr QueryStep kEmulatorQuerySteps[] = {
    {"*IDN?\n", "%255[^\n]", "Norvale,6313,SN000001,1.02"},
    {"*OPC?\n", "%ld", "1"},
    {"*IDN?\n", "%[^,]", "Norvale"},
    {"*OPC?\n", "%s", "1"},
    {"*IDN?\n", "%s", "Norvale,6313,SN000001,1.02"},
    {"*OPC?\n", "%lf", "1"},
    {"*IDN?\n", "%#[^\n]", "Norvale,6313,SN000001,1.02"},
    {"*OPC?\n", "%t", "1\n"},
    {"*IDN?\n", "%T", "Norvale,6313,SN000001,1.02\n"},
    {"*OPC?\n", "%255[^\n]", "1"},
    {"*IDN?\n", "%ld", "-99999"},  // no number: a format error, and nothing stored
    {"*OPC?\n", "%ld%*t", "1"},
};

// Runs the steps three times over, then the line query C callers write most
// five times: every query reads its own reply.
inline void ExpectEveryQueryReadsItsOwnReply(ViSession vi) {
    for (int nRound = 0; nRound < 3; ++nRound) {
        for (const QueryStep& step : kEmulatorQuerySteps) {
            SCOPED_TRACE(std::string(step.pszQuery) + " read as " + step.pszFormat + ", round " +
                         std::to_string(nRound));
            ViStatus status = VI_SUCCESS;
            EXPECT_EQ(QueryAs(vi, step.pszQuery, step.pszFormat, status), step.pszExpected);
            EXPECT_EQ(status,
                      std::string(step.pszExpected) == "-99999" ? VI_ERROR_INV_FMT : VI_SUCCESS);
        }
    }
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE("repeated line query " + std::to_string(i));
        ViStatus status = VI_ERROR_SYSTEM_ERROR;
        EXPECT_EQ(QueryAs(vi, "*IDN?\n", "%255[^\n]", status), "Norvale,6313,SN000001,1.02");
        EXPECT_EQ(status, VI_SUCCESS);
    }
}

struct ReadStep {
    int nTermChar;         // the enabled termination character, or -1 for none
    const char* pszWrite;  // sent before the read, or null
    const char* pszExpected;
    ViStatus expected;
};

// Reads on a link that marks message ends (VXI-11, HiSLIP): END wins over a
// termination character that comes with it; a termination character inside
// a message ends the read with VI_SUCCESS_TERM_CHAR and leaves the rest.
inline constexpr ReadStep kEndOnTermCharSteps[] = {
    {'\n', "*OPC?\n", "1\n", VI_SUCCESS},
    {-1, "*OPC?\n", "1\n", VI_SUCCESS},
    {',', "*IDN?\n", "Norvale,", VI_SUCCESS_TERM_CHAR},
    {',', nullptr, "6313,", VI_SUCCESS_TERM_CHAR},
    {',', nullptr, "SN000001,", VI_SUCCESS_TERM_CHAR},
    {',', nullptr, "1.02\n", VI_SUCCESS},
    {'1', "*OPC?\n", "1", VI_SUCCESS_TERM_CHAR},
    {'1', nullptr, "\n", VI_SUCCESS},
    {'\n', "*IDN?\n", "Norvale,6313,SN000001,1.02\n", VI_SUCCESS},
};

inline void ExpectEndWinsOverTermChar(ViSession vi) {
    for (const ReadStep& step : kEndOnTermCharSteps) {
        SCOPED_TRACE(std::string("termination character ") + std::to_string(step.nTermChar) +
                     ", expecting " + step.pszExpected);
        ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, step.nTermChar >= 0 ? VI_TRUE : VI_FALSE),
                  VI_SUCCESS);
        if (step.nTermChar >= 0) {
            ASSERT_EQ(
                viSetAttribute(vi, VI_ATTR_TERMCHAR, static_cast<ViAttrState>(step.nTermChar)),
                VI_SUCCESS);
        }
        ViUInt32 nCount = 0;
        if (step.pszWrite != nullptr) {
            const std::string strWrite = step.pszWrite;
            ASSERT_EQ(viWrite(vi, reinterpret_cast<const ViByte*>(strWrite.data()),
                              static_cast<ViUInt32>(strWrite.size()), &nCount),
                      VI_SUCCESS);
        }
        ViByte achReply[64] = {};
        EXPECT_EQ(viRead(vi, achReply, sizeof achReply, &nCount), step.expected);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(achReply), nCount), step.pszExpected);
    }
}

}  // namespace tkvisa_test
