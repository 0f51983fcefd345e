// The formatted I/O engines on their own: conversions, VISA size modifiers,
// buffer bounds and malformed input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "FormattedIo.h"

namespace {

using tkvisa::MemoryScanSource;
using tkvisa::VaList;

// Scans input (with '\n' as the enabled termination character).
ViStatus Scan(const std::string& strInput, const char* pszFormat, ...) {
    MemoryScanSource source(strInput.data(), strInput.size(), '\n');
    VaList list;
    va_start(list.args, pszFormat);
    const ViStatus status = tkvisa::ScanInput(source, pszFormat, list);
    va_end(list.args);
    return status;
}

std::string Format(ViStatus& status, const char* pszFormat, ...) {
    std::string strOut;
    VaList list;
    va_start(list.args, pszFormat);
    status = tkvisa::FormatOutput(strOut, pszFormat, list);
    va_end(list.args);
    return strOut;
}

TEST(FormatOutput, WritesPrintfConversionsWithVisaSizes) {
    ViStatus status = VI_SUCCESS;
    struct Row {
        std::string strGot;
        const char* pszExpected;
    };
    const Row rows[] = {
        {Format(status, "VOLT %0.15lg\n", 5.1), "VOLT 5.1\n"},
        {Format(status, "%0.15lg", 0.1 + 0.2), "0.3"},
        {Format(status, "%0.15lg", 1e-20), "1e-20"},
        {Format(status, "*ESE %ld\n", static_cast<ViInt32>(-2147483647 - 1)), "*ESE -2147483648\n"},
        {Format(status, "%lu", static_cast<ViUInt32>(4000000000u)), "4000000000"},
        {Format(status, "%hd", static_cast<ViInt16>(-5)), "-5"},
        {Format(status, "%lld", static_cast<ViInt64>(1) << 40), "1099511627776"},
        {Format(status, "%d,%s", 7, "ON"), "7,ON"},
        {Format(status, "%5.2f|%-4d|%04x|%#o", 3.14159, 7, 255u, 8u), " 3.14|7   |00ff|010"},
        {Format(status, "%*d", 4, 9), "   9"},
        {Format(status, "%c%c", 'O', 'K'), "OK"},
        {Format(status, "100%%"), "100%"},
        {Format(status, "A\\nB\\101"), "A\nBA"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszExpected);
        EXPECT_EQ(row.strGot, row.pszExpected);
    }
}

TEST(FormatOutput, RefusesBadFormats) {
    ViStatus status = VI_SUCCESS;
    Format(status, "%q", 1);
    EXPECT_EQ(status, VI_ERROR_INV_FMT);
    Format(status, "%,3d", 1);
    EXPECT_EQ(status, VI_ERROR_NSUP_FMT);
    Format(status, "%99999999d", 1);
    EXPECT_EQ(status, VI_ERROR_INV_FMT);
    Format(status, "%s", static_cast<const char*>(nullptr));
    EXPECT_EQ(status, VI_ERROR_USER_BUF);
    Format(status, "%");
    EXPECT_EQ(status, VI_ERROR_INV_FMT);
}

TEST(ScanInput, IntegerSizesFollowVisa) {
    struct {
        ViInt32 nValue;
        ViInt32 nGuard;
    } l{0, 0x11223344};
    EXPECT_EQ(Scan("-123\n", "%ld", &l.nValue), VI_SUCCESS);
    EXPECT_EQ(l.nValue, -123);
    EXPECT_EQ(l.nGuard, 0x11223344);

    struct {
        ViInt16 nValue;
        ViInt16 nGuard;
    } h{0, 0x1234};
    EXPECT_EQ(Scan("321", "%hd", &h.nValue), VI_SUCCESS);
    EXPECT_EQ(h.nValue, 321);
    EXPECT_EQ(h.nGuard, 0x1234);

    ViInt64 nBig = 0;
    EXPECT_EQ(Scan("1099511627776", "%lld", &nBig), VI_SUCCESS);
    EXPECT_EQ(nBig, ViInt64{1} << 40);
    int nPlain = 0;
    EXPECT_EQ(Scan("+42", "%d", &nPlain), VI_SUCCESS);
    EXPECT_EQ(nPlain, 42);
    ViUInt32 nHex = 0;
    EXPECT_EQ(Scan("0x1F", "%lx", &nHex), VI_SUCCESS);
    EXPECT_EQ(nHex, 0x1Fu);
    ViInt32 nAuto = 0;
    EXPECT_EQ(Scan("017", "%li", &nAuto), VI_SUCCESS);
    EXPECT_EQ(nAuto, 15);
    ViInt32 nClamped = 0;
    EXPECT_EQ(Scan("99999999999", "%ld", &nClamped), VI_SUCCESS);
    EXPECT_EQ(nClamped, 2147483647);
    ViInt32 nWidth = 0, nRest = 0;
    EXPECT_EQ(Scan("12345", "%3ld%ld", &nWidth, &nRest), VI_SUCCESS);
    EXPECT_EQ(nWidth, 123);
    EXPECT_EQ(nRest, 45);
}

TEST(ScanInput, RealsReadSciNotationAndSpecialValues) {
    struct Row {
        const char* pszInput;
        double dExpected;
    };
    const Row rows[] = {
        {"5.000000E+00\n", 5.0},
        {"-2.5e-3", -2.5e-3},
        {"  +7", 7.0},
        {".5", 0.5},
        {"9.9E37", 9.9e37},
        {"5.\n", 5.0},
        {"-0.000125E+3", -0.125},
        {"1e400", HUGE_VAL},
        {"1e", 1.0},
        {"INF", HUGE_VAL},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszInput);
        double dValue = 0;
        EXPECT_EQ(Scan(row.pszInput, "%lf", &dValue), VI_SUCCESS);
        EXPECT_EQ(dValue, row.dExpected);
    }
    // Digits beyond what a double can use still scale the value.
    double dLong = 0;
    EXPECT_EQ(Scan("1" + std::string(200, '0') + ".5", "%lf", &dLong), VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dLong, 1e200);
    float fValue = 0;
    EXPECT_EQ(Scan("1.25", "%f", &fValue), VI_SUCCESS);
    EXPECT_EQ(fValue, 1.25f);
    double dNan = 0;
    EXPECT_EQ(Scan("nan", "%le", &dNan), VI_SUCCESS);
    EXPECT_NE(dNan, dNan);
}

TEST(ScanInput, StringConversionsAndBounds) {
    char szWord[8] = {};
    char szRest[8] = {};
    EXPECT_EQ(Scan("  ab cd", "%s%s", szWord, szRest), VI_SUCCESS);
    EXPECT_STREQ(szWord, "ab");
    EXPECT_STREQ(szRest, "cd");

    char szSet[8] = {};
    EXPECT_EQ(Scan("a-z09]x", "%[]a-z0-9-]", szSet), VI_SUCCESS);
    EXPECT_STREQ(szSet, "a-z09]x");

    char szChars[3] = {'x', 'x', 'x'};
    EXPECT_EQ(Scan("OKAY", "%2c", szChars), VI_SUCCESS);
    EXPECT_EQ(std::string(szChars, 3), "OKx");

    // A width bounds what is read; the rest stays for the next conversion.
    char szFirst[4] = {};
    char szSecond[8] = {};
    EXPECT_EQ(Scan("abcdef", "%3s%s", szFirst, szSecond), VI_SUCCESS);
    EXPECT_STREQ(szFirst, "abc");
    EXPECT_STREQ(szSecond, "def");

    // '#': size in, count out; the whole field is consumed.
    struct {
        char szText[4];
        char szGuard[4];
    } counted{{}, {'G', 'G', 'G', 'G'}};
    ViInt32 nSize = sizeof counted.szText;
    ViInt32 nAfter = 0;
    EXPECT_EQ(Scan("abcdefgh,5\n", "%#[^,],%ld", &nSize, counted.szText, &nAfter), VI_SUCCESS);
    EXPECT_EQ(nSize, 3);
    EXPECT_STREQ(counted.szText, "abc");
    EXPECT_EQ(std::string(counted.szGuard, 4), "GGGG");
    EXPECT_EQ(nAfter, 5);

    ViInt32 nZero = 0;
    char cUntouched = 'U';
    EXPECT_EQ(Scan("abc", "%#s", &nZero, &cUntouched), VI_SUCCESS);
    EXPECT_EQ(cUntouched, 'U');
    EXPECT_EQ(nZero, 0);

    // Without width or '#', at most VI_FMT_UNBOUNDED_MAX bytes are written.
    const std::string strLong(1000, 'Z');
    struct {
        char szText[VI_FMT_UNBOUNDED_MAX];
        char szGuard[8];
    } unbounded{{}, {'G', 'G', 'G', 'G', 'G', 'G', 'G', 'G'}};
    for (const char* pszFormat : {"%s", "%[Z]", "%t", "%T"}) {
        SCOPED_TRACE(pszFormat);
        EXPECT_EQ(Scan(strLong, pszFormat, unbounded.szText), VI_SUCCESS);
        EXPECT_EQ(std::strlen(unbounded.szText), VI_FMT_UNBOUNDED_MAX - 1u);
        EXPECT_EQ(std::string(unbounded.szGuard, 8), "GGGGGGGG");
    }
}

TEST(ScanInput, TerminationConversions) {
    // %t stops after the termination character, %T at the end of the message.
    MemoryScanSource source("1\nrest", 6, '\n');
    VaList list{};
    ViInt32 nValue = 0;
    auto scan = [&](const char* pszFormat, ...) {
        va_start(list.args, pszFormat);
        const ViStatus status = tkvisa::ScanInput(source, pszFormat, list);
        va_end(list.args);
        return status;
    };
    EXPECT_EQ(scan("%ld%*t", &nValue), VI_SUCCESS);
    EXPECT_EQ(nValue, 1);
    EXPECT_EQ(source.Consumed(), 2u);

    char szTail[16] = {};
    MemoryScanSource noTerm("a\nb\nc", 5, -1);
    VaList other{};
    auto scanNoTerm = [&](const char* pszFormat, ...) {
        va_start(other.args, pszFormat);
        const ViStatus status = tkvisa::ScanInput(noTerm, pszFormat, other);
        va_end(other.args);
        return status;
    };
    EXPECT_EQ(scanNoTerm("%T", szTail), VI_SUCCESS);
    EXPECT_STREQ(szTail, "a\nb\nc");
}

TEST(ScanInput, MalformedInputGivesFormatError) {
    struct Row {
        const char* pszInput;
        const char* pszFormat;
    };
    const Row rows[] = {
        {"abc\n", "%ld%*t"}, {"\n", "%lf%*t"},   {"1;2\n", "%lf,%lf%*t"},
        {"-\n", "%ld"},      {"x", "%c%c"},      {"A,B\n", "%256[^,],%256[^,],%256[^,]"},
        {"5", "%ld,"},       {"0x", "%1lx%1lx"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pszFormat) + " on " + row.pszInput);
        ViInt32 nA = 0, nB = 0;
        double dA = 0, dB = 0;
        char szA[257], szB[257], szC[257];
        ViStatus status = VI_SUCCESS;
        if (std::strchr(row.pszFormat, 'f') != nullptr) {
            status = Scan(row.pszInput, row.pszFormat, &dA, &dB);
        } else if (std::strchr(row.pszFormat, '[') != nullptr || std::strchr(row.pszFormat, 'c')) {
            status = Scan(row.pszInput, row.pszFormat, szA, szB, szC);
        } else {
            status = Scan(row.pszInput, row.pszFormat, &nA, &nB);
        }
        EXPECT_EQ(status, VI_ERROR_INV_FMT);
    }
}

TEST(ScanInput, FieldsThatMatchNothingFail) {
    struct Row {
        const char* pszInput;
        const char* pszFormat;
    };
    // Each row reads no character into a string or scan-set field.
    const Row rows[] = {
        {"\n", "%255[^\n]"}, {"", "%255[^\n]"},       {"\nA\n", "%[^\n]%*t"},
        {"xyz", "%[0-9]"},   {"\n", "%*[^\n]"},       {"  \n", "%s"},
        {"", "%s"},          {"A,,B", "%[^,],%[^,]"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pszFormat) + " on '" + row.pszInput + "'");
        char szA[256] = "untouched";
        char szB[256] = "untouched";
        EXPECT_EQ(Scan(row.pszInput, row.pszFormat, szA, szB), VI_ERROR_INV_FMT);
    }
    // Counted fields too; the count says nothing was stored.
    char szText[16] = {};
    ViInt32 nSize = sizeof szText;
    EXPECT_EQ(Scan("\n", "%#[^\n]%*t", &nSize, szText), VI_ERROR_INV_FMT);
    EXPECT_EQ(nSize, 0);
    // One character is a match.
    EXPECT_EQ(Scan("A\n", "%15[^\n]", szText), VI_SUCCESS);
    EXPECT_STREQ(szText, "A");
}

TEST(ScanInput, BadFormatsAreRefused) {
    ViInt32 nValue = 0;
    EXPECT_EQ(Scan("1", "%q", &nValue), VI_ERROR_INV_FMT);
    EXPECT_EQ(Scan("1", "%[abc", &nValue), VI_ERROR_INV_FMT);
    EXPECT_EQ(Scan("1", "%,3ld", &nValue), VI_ERROR_NSUP_FMT);
    EXPECT_EQ(Scan("1", "%Lf", &nValue), VI_ERROR_NSUP_FMT);
    EXPECT_EQ(Scan("1", "%ld", static_cast<ViInt32*>(nullptr)), VI_ERROR_USER_BUF);
    EXPECT_EQ(Scan("1", "%#s", static_cast<ViInt32*>(nullptr), static_cast<char*>(nullptr)),
              VI_ERROR_USER_BUF);
}

}  // namespace
