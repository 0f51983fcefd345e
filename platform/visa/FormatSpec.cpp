#include "FormatSpec.h"

#include <cctype>

namespace tkvisa {

bool IsSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Backslash sequences in a format text: \n \r \t \\ \" \' and \ooo (octal), so
// that formats built at run time can name control characters.
const char* ReadEscape(const char* p, char& cOut) {
    switch (p[1]) {
        case 'n':
            cOut = '\n';
            return p + 2;
        case 'r':
            cOut = '\r';
            return p + 2;
        case 't':
            cOut = '\t';
            return p + 2;
        case '\\':
        case '"':
        case '\'':
            cOut = p[1];
            return p + 2;
        default:
            break;
    }
    if (p[1] >= '0' && p[1] <= '7') {
        int nValue = 0;
        int nDigits = 0;
        ++p;
        while (nDigits < 3 && *p >= '0' && *p <= '7') {
            nValue = nValue * 8 + (*p - '0');
            ++p;
            ++nDigits;
        }
        cOut = static_cast<char>(nValue & 0xFF);
        return p;
    }
    cOut = '\\';
    return p + 1;
}

bool ReadNumber(const char*& p, long& nValue) {
    nValue = 0;
    if (!std::isdigit(static_cast<unsigned char>(*p))) {
        return false;
    }
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        nValue = nValue * 10 + (*p - '0');
        if (nValue > kMaxWidth) {
            return false;
        }
        ++p;
    }
    return true;
}

const char* ReadSize(const char* p, Size& eSize) {
    if (p[0] == 'h') {
        eSize = Size::Short;
        return p + 1;
    }
    if (p[0] == 'l' && p[1] == 'l') {
        eSize = Size::LongLong;
        return p + 2;
    }
    if (p[0] == 'l') {
        eSize = Size::Long;
        return p + 1;
    }
    if (p[0] == 'L') {
        eSize = Size::LongLong;
        return p + 1;
    }
    return p;
}

}  // namespace tkvisa
