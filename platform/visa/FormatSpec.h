// The format-text pieces that the output and the input engine of VISA
// formatted I/O read alike: one conversion's fields, the size modifiers
// with their VISA meaning, backslash escapes and field widths.
#pragma once

#include <string>

namespace tkvisa {

// Largest field width or precision a format may ask for; more is a format error
// rather than a request for gigabytes of padding.
constexpr long kMaxWidth = 65535;

// h: 16 bits, l: 32 bits (ViInt32), ll and L: 64 bits; none: int.
enum class Size { Default, Short, Long, LongLong };

// One conversion of a format text, as far as it has been read.
struct Conversion {
    std::string strFlags;
    bool bSuppress = false;
    bool bCount = false;  // VISA's '#': the field size travels as a ViPInt32
    long nWidth = -1;
    long nPrecision = -1;
    Size eSize = Size::Default;
    char cConversion = 0;
};

// The white space of a format text and of formatted input (C's isspace in
// the C locale, whatever the process's locale is).
bool IsSpace(int c);
// Reads the backslash sequence at p (p[0] is '\\') into cOut; returns the
// position after it.
const char* ReadEscape(const char* p, char& cOut);
// Reads a decimal field width or precision at p, advancing p; false when p
// holds no digit or the number exceeds kMaxWidth.
bool ReadNumber(const char*& p, long& nValue);
// Reads a size modifier at p, if any; returns the position after it.
const char* ReadSize(const char* p, Size& eSize);

}  // namespace tkvisa
