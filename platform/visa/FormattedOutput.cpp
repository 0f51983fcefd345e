// The printf-style output engine behind viPrintf and the output half of
// viQueryf: each conversion becomes a C conversion with its widths made
// explicit, its argument read with the VISA meaning of its size modifier.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "FormatSpec.h"
#include "FormattedIo.h"

namespace tkvisa {
namespace {

void AppendFormatted(std::string& strOut, const std::string& strConversion, auto value) {
    char szSmall[128];
    const int nLength = std::snprintf(szSmall, sizeof szSmall, strConversion.c_str(), value);
    if (nLength < 0) {
        return;
    }
    if (static_cast<std::size_t>(nLength) < sizeof szSmall) {
        strOut.append(szSmall, static_cast<std::size_t>(nLength));
        return;
    }
    const std::size_t nStart = strOut.size();
    strOut.resize(nStart + static_cast<std::size_t>(nLength) + 1);
    std::snprintf(strOut.data() + nStart, static_cast<std::size_t>(nLength) + 1,
                  strConversion.c_str(), value);
    strOut.resize(nStart + static_cast<std::size_t>(nLength));
}

// The C conversion text for one output conversion, with widths made explicit.
std::string CConversion(const Conversion& conv, const char* pszLength, char cConversion,
                        bool bKeepHash) {
    std::string strConversion = "%";
    for (char c : conv.strFlags) {
        if (c != '#' || bKeepHash) {
            strConversion += c;
        }
    }
    if (conv.nWidth >= 0) {
        strConversion += std::to_string(conv.nWidth);
    }
    if (conv.nPrecision >= 0) {
        strConversion += '.' + std::to_string(conv.nPrecision);
    }
    strConversion += pszLength;
    strConversion += cConversion;
    return strConversion;
}

}  // namespace

ViStatus FormatOutput(std::string& strOut, const char* pszFormat, VaList& list) {
    if (pszFormat == nullptr) {
        return VI_ERROR_USER_BUF;
    }
    va_list& args = list.args;
    ViStatus status = VI_SUCCESS;
    if (std::strpbrk(pszFormat, "%\\") == nullptr) {
        strOut += pszFormat;  // a plain command: nothing to convert
        return status;
    }
    for (const char* p = pszFormat; *p != '\0' && status == VI_SUCCESS;) {
        if (*p == '\\') {
            char c = 0;
            p = ReadEscape(p, c);
            strOut += c;
            continue;
        }
        if (*p != '%') {
            strOut += *p++;
            continue;
        }
        ++p;
        if (*p == '%') {
            strOut += '%';
            ++p;
            continue;
        }
        Conversion conv;
        while (*p != '\0' && std::strchr("-+ 0#", *p) != nullptr) {
            conv.strFlags += *p++;
        }
        if (*p == ',' || *p == '@') {
            status = VI_ERROR_NSUP_FMT;  // arrays and IEEE 488.2 number forms
            break;
        }
        if (*p == '*') {
            const int nWidth = va_arg(args, int);
            if (nWidth < 0) {
                conv.strFlags += '-';
            }
            const long nAbs = nWidth < 0 ? -static_cast<long>(nWidth) : nWidth;
            if (nAbs > kMaxWidth) {
                status = VI_ERROR_INV_FMT;
                break;
            }
            conv.nWidth = nAbs;
            ++p;
        } else if (std::isdigit(static_cast<unsigned char>(*p)) && !ReadNumber(p, conv.nWidth)) {
            status = VI_ERROR_INV_FMT;
            break;
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                const int nPrecision = va_arg(args, int);
                conv.nPrecision = nPrecision < 0 ? -1 : nPrecision;
                if (conv.nPrecision > kMaxWidth) {
                    status = VI_ERROR_INV_FMT;
                    break;
                }
                ++p;
            } else if (!std::isdigit(static_cast<unsigned char>(*p))) {
                conv.nPrecision = 0;
            } else if (!ReadNumber(p, conv.nPrecision)) {
                status = VI_ERROR_INV_FMT;
                break;
            }
        }
        p = ReadSize(p, conv.eSize);
        conv.cConversion = *p;
        if (*p != '\0') {
            ++p;
        }
        switch (conv.cConversion) {
            case 'd':
            case 'i': {
                long long nValue = 0;
                switch (conv.eSize) {
                    case Size::Short:
                        nValue = static_cast<ViInt16>(va_arg(args, int));
                        break;
                    case Size::Long:
                        nValue = va_arg(args, ViInt32);
                        break;
                    case Size::LongLong:
                        nValue = va_arg(args, ViInt64);
                        break;
                    default:
                        nValue = va_arg(args, int);
                        break;
                }
                AppendFormatted(strOut, CConversion(conv, "ll", 'd', false), nValue);
                break;
            }
            case 'u':
            case 'o':
            case 'x':
            case 'X': {
                unsigned long long nValue = 0;
                switch (conv.eSize) {
                    case Size::Short:
                        nValue = static_cast<ViUInt16>(va_arg(args, unsigned int));
                        break;
                    case Size::Long:
                        nValue = va_arg(args, ViUInt32);
                        break;
                    case Size::LongLong:
                        nValue = va_arg(args, ViUInt64);
                        break;
                    default:
                        nValue = va_arg(args, unsigned int);
                        break;
                }
                AppendFormatted(strOut, CConversion(conv, "ll", conv.cConversion, true), nValue);
                break;
            }
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
            case 'a':
            case 'A': {
                if (conv.eSize == Size::LongLong || conv.eSize == Size::Short) {
                    status = VI_ERROR_NSUP_FMT;
                    break;
                }
                // float arguments arrive promoted to double, with or without 'l'.
                const double dValue = va_arg(args, double);
                AppendFormatted(strOut, CConversion(conv, "", conv.cConversion, true), dValue);
                break;
            }
            case 'c': {
                const int nChar = va_arg(args, int);
                AppendFormatted(strOut, CConversion(conv, "", 'c', false), nChar);
                break;
            }
            case 's': {
                const char* pszText = va_arg(args, const char*);
                if (pszText == nullptr) {
                    status = VI_ERROR_USER_BUF;
                    break;
                }
                AppendFormatted(strOut, CConversion(conv, "", 's', false), pszText);
                break;
            }
            case 'b':
            case 'B':
            case 'y':
            case 'n':
            case 'p':
                status = VI_ERROR_NSUP_FMT;
                break;
            default:
                status = VI_ERROR_INV_FMT;
                break;
        }
    }
    return status;
}

}  // namespace tkvisa
