// The scanf-style input engine behind viScanf and the input half of
// viQueryf: conversions read from a ScanSource, which refills from the
// session's buffer as they go, so a reply is never copied whole first.
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

#include "FormatSpec.h"
#include "FormattedIo.h"

namespace tkvisa {
namespace {

// Collects the characters of a string conversion into the caller's buffer,
// never past its capacity (bytes, terminator included).
class StringSink {
  public:
    StringSink(char* pBuffer, std::size_t nCapacity, bool bTerminate)
        : m_pBuffer(pBuffer), m_nCapacity(nCapacity), m_bTerminate(bTerminate) {}
    void Add(char c) {
        const std::size_t nRoom = m_bTerminate && m_nCapacity > 0 ? m_nCapacity - 1 : m_nCapacity;
        if (m_pBuffer != nullptr && m_nStored < nRoom) {
            m_pBuffer[m_nStored++] = c;
        }
    }
    std::size_t Finish() {
        if (m_pBuffer != nullptr && m_bTerminate && m_nCapacity > 0) {
            m_pBuffer[m_nStored] = '\0';
        }
        return m_nStored;
    }

  private:
    char* m_pBuffer;
    std::size_t m_nCapacity;
    bool m_bTerminate;
    std::size_t m_nStored = 0;
};

void SkipSpace(ScanSource& source) {
    for (int c = source.Peek(); c >= 0 && IsSpace(c); c = source.Peek()) {
        source.Take();
    }
}

int DigitValue(int c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    return 99;
}

// Reads an integer of the given base (0: C prefix rules); false when no digit.
bool ScanInteger(ScanSource& source, int nBase, long nWidth, unsigned long long& nMagnitude,
                 bool& bNegative) {
    long nLeft = nWidth > 0 ? nWidth : std::numeric_limits<long>::max();
    nMagnitude = 0;
    bNegative = false;
    int c = source.Peek();
    if ((c == '+' || c == '-') && nLeft > 0) {
        bNegative = c == '-';
        source.Take();
        --nLeft;
        c = source.Peek();
    }
    bool bDigits = false;
    if ((nBase == 0 || nBase == 16) && c == '0' && nLeft > 0) {
        source.Take();
        --nLeft;
        bDigits = true;
        c = source.Peek();
        if ((c == 'x' || c == 'X') && nLeft > 0) {
            source.Take();
            --nLeft;
            nBase = 16;
            c = source.Peek();
        } else if (nBase == 0) {
            nBase = 8;
        }
    }
    if (nBase == 0) {
        nBase = 10;
    }
    bool bOverflow = false;
    while (nLeft > 0 && c >= 0 && DigitValue(c) < nBase) {
        const unsigned long long nDigit = static_cast<unsigned long long>(DigitValue(c));
        if (nMagnitude > (std::numeric_limits<unsigned long long>::max() - nDigit) /
                             static_cast<unsigned long long>(nBase)) {
            bOverflow = true;
        } else {
            nMagnitude = nMagnitude * static_cast<unsigned long long>(nBase) + nDigit;
        }
        bDigits = true;
        source.Take();
        --nLeft;
        c = source.Peek();
    }
    if (bOverflow) {
        nMagnitude = std::numeric_limits<unsigned long long>::max();
    }
    return bDigits;
}

// Clamps like strtol/strtoul do, then narrows to the target width.
template <typename T>
T Narrow(unsigned long long nMagnitude, bool bNegative, bool bSigned) {
    using Wide = long long;
    if (bSigned) {
        constexpr auto nMax = static_cast<unsigned long long>(std::numeric_limits<T>::max());
        if (!bNegative) {
            return nMagnitude > nMax ? std::numeric_limits<T>::max() : static_cast<T>(nMagnitude);
        }
        if (nMagnitude > nMax + 1) {
            return std::numeric_limits<T>::min();
        }
        return static_cast<T>(-static_cast<Wide>(nMagnitude - 1) - 1);
    }
    constexpr auto nMax = static_cast<unsigned long long>(std::numeric_limits<T>::max());
    const unsigned long long nClamped = nMagnitude > nMax ? nMax : nMagnitude;
    return static_cast<T>(bNegative ? (0 - nClamped) & nMax : nClamped);
}

// Stores a converted integer in the caller's variable of the conversion's
// width, as its signed or unsigned type.
template <class TSigned, class TUnsigned>
void StoreInteger(void* pTarget, unsigned long long nMagnitude, bool bNegative, bool bSigned) {
    if (bSigned) {
        *static_cast<TSigned*>(pTarget) = Narrow<TSigned>(nMagnitude, bNegative, true);
    } else {
        *static_cast<TUnsigned*>(pTarget) = Narrow<TUnsigned>(nMagnitude, bNegative, false);
    }
}

// The text of a real as read, bounded: digits beyond the buffer still count
// as read but cannot change a double's value beyond rounding of the last place.
class RealText {
  public:
    void Add(char c) {
        if (m_nLength < sizeof m_szText - 1) {
            m_szText[m_nLength++] = c;
        }
    }
    const char* Begin() const { return m_szText; }
    const char* End() const { return m_szText + m_nLength; }
    bool Negative() const { return m_nLength > 0 && m_szText[0] == '-'; }

  private:
    char m_szText[128];
    std::size_t m_nLength = 0;
};

bool MatchWordNoCase(ScanSource& source, const char* pszWord, long& nLeft) {
    for (const char* p = pszWord; *p != '\0'; ++p) {
        const int c = source.Peek();
        if (nLeft <= 0 || c < 0 || std::tolower(c) != *p) {
            return false;
        }
        source.Take();
        --nLeft;
    }
    return true;
}

// Reads a decimal real (or inf/nan); false when the input holds none.
bool ScanReal(ScanSource& source, long nWidth, double& dValue) {
    long nLeft = nWidth > 0 ? nWidth : 512;
    RealText text;
    bool bNegative = false;
    int c = source.Peek();
    if ((c == '+' || c == '-') && nLeft > 0) {
        bNegative = c == '-';
        if (bNegative) {
            text.Add('-');
        }
        source.Take();
        --nLeft;
        c = source.Peek();
    }
    if (c == 'i' || c == 'I') {
        if (!MatchWordNoCase(source, "inf", nLeft)) {
            return false;
        }
        dValue = bNegative ? -std::numeric_limits<double>::infinity()
                           : std::numeric_limits<double>::infinity();
        return true;
    }
    if (c == 'n' || c == 'N') {
        if (!MatchWordNoCase(source, "nan", nLeft)) {
            return false;
        }
        dValue = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    bool bDigits = false;
    int nDroppedDigits = 0;  // integer digits beyond the text buffer
    bool bFraction = false;
    for (c = source.Peek(); nLeft > 0 && ((c >= '0' && c <= '9') || (c == '.' && !bFraction));
         c = source.Peek()) {
        if (c == '.') {
            bFraction = true;
        } else {
            bDigits = true;
        }
        if (text.End() - text.Begin() < 120) {
            text.Add(static_cast<char>(c));
        } else if (!bFraction && c != '.') {
            ++nDroppedDigits;
        }
        source.Take();
        --nLeft;
    }
    if (!bDigits) {
        return false;
    }
    long nExponent = nDroppedDigits;
    if ((c == 'e' || c == 'E') && nLeft > 0) {
        source.Take();
        --nLeft;
        c = source.Peek();
        bool bExponentNegative = false;
        if ((c == '+' || c == '-') && nLeft > 0) {
            bExponentNegative = c == '-';
            source.Take();
            --nLeft;
        }
        long nValue = 0;
        for (c = source.Peek(); nLeft > 0 && c >= '0' && c <= '9'; c = source.Peek()) {
            nValue = std::min(nValue * 10 + (c - '0'), 100000L);
            source.Take();
            --nLeft;
        }
        nExponent += bExponentNegative ? -nValue : nValue;
    }
    if (nExponent != 0) {
        char szExponent[24];
        const auto result = std::to_chars(szExponent, szExponent + sizeof szExponent, nExponent);
        text.Add('e');
        for (const char* pDigit = szExponent; pDigit != result.ptr; ++pDigit) {
            text.Add(*pDigit);
        }
    }
    const auto result = std::from_chars(text.Begin(), text.End(), dValue);
    if (result.ec == std::errc::result_out_of_range) {
        // Overflow gives infinity and underflow zero, as strtod does.
        dValue = nExponent < 0 ? (bNegative ? -0.0 : 0.0)
                               : (bNegative ? -std::numeric_limits<double>::infinity()
                                            : std::numeric_limits<double>::infinity());
        return true;
    }
    return result.ec == std::errc() && result.ptr == text.End();
}

// Reads a plain decimal real held whole in the buffered bytes (the usual
// reply) with one from_chars call; false, consuming nothing, whenever the
// byte-wise reader must decide instead.
bool ScanRealBuffered(ScanSource& source, long nWidth, double& dValue) {
    if (nWidth > 0 || source.Peek() < 0) {
        return false;
    }
    const unsigned char* pData = source.Data();
    const std::size_t nAvailable = source.Available();
    const char* pBegin = reinterpret_cast<const char*>(pData);
    const char* pEnd = pBegin + nAvailable;
    const char* pNumber = pBegin;
    if (*pNumber == '+' || *pNumber == '-') {
        ++pNumber;
    }
    if (pNumber == pEnd || !((*pNumber >= '0' && *pNumber <= '9') || *pNumber == '.')) {
        return false;
    }
    double dParsed = 0.0;
    const auto result = std::from_chars(pNumber, pEnd, dParsed, std::chars_format::general);
    // The number must end inside the buffer, not run into a dangling exponent,
    // and contain no byte that ends the message.
    if (result.ec != std::errc() || result.ptr == pEnd || *result.ptr == 'e' ||
        *result.ptr == 'E') {
        return false;
    }
    const std::size_t nLength = static_cast<std::size_t>(result.ptr - pBegin);
    if (source.HoldsEndByte(pData, nLength)) {
        return false;
    }
    source.Consume(nLength);
    dValue = *pBegin == '-' ? -dParsed : dParsed;
    return true;
}

using CharSet = std::array<bool, 256>;

// Parses "[...]" after the '%'; p points at '['. Returns the position after ']'
// or null for an unterminated set.
const char* ReadScanSet(const char* p, CharSet& set) {
    ++p;
    bool bNegate = false;
    if (*p == '^') {
        bNegate = true;
        ++p;
    }
    set.fill(false);
    bool bFirst = true;
    for (; *p != '\0' && (*p != ']' || bFirst); ++p) {
        char c = *p;
        if (c == '\\' && p[1] != '\0') {
            const char* pNext = ReadEscape(p, c);
            p = pNext - 1;
        }
        if (p[1] == '-' && p[2] != ']' && p[2] != '\0') {
            const auto nFrom = static_cast<unsigned char>(c);
            const auto nTo = static_cast<unsigned char>(p[2]);
            for (unsigned n = nFrom; n <= nTo; ++n) {
                set[n] = true;
            }
            p += 2;
        } else {
            set[static_cast<unsigned char>(c)] = true;
        }
        bFirst = false;
    }
    if (*p != ']') {
        return nullptr;
    }
    if (bNegate) {
        for (bool& bMember : set) {
            bMember = !bMember;
        }
    }
    return p + 1;
}

}  // namespace

// Reads an IEEE 488.2 arbitrary block ("#<n><length><data>", or "#0<data>"
// up to the end of the message) and stores its big-endian elements of
// nElement bytes into pArray, at most nCapacity of them; the rest is read and
// dropped. Block bytes equal to the termination character are data. Returns
// false on malformed input or a source failure; nStored gets the count.
bool ScanBlock(ScanSource& source, std::size_t nElement, unsigned char* pArray,
               std::size_t nCapacity, std::size_t& nStored) {
    nStored = 0;
    SkipSpace(source);
    if (source.Peek() != '#') {
        return false;
    }
    source.Take();
    const int cDigits = source.Peek();
    if (cDigits < '0' || cDigits > '9') {
        return false;
    }
    source.Take();
    const bool bDefinite = cDigits != '0';
    unsigned long long nLength = 0;
    for (int i = 0; i < cDigits - '0'; ++i) {
        const int c = source.Peek();
        if (c < '0' || c > '9') {
            return false;
        }
        nLength = nLength * 10 + static_cast<unsigned>(c - '0');
        source.Take();
    }
    unsigned char element[8] = {};
    std::size_t nFill = 0;
    auto add = [&](unsigned char c) {
        element[nFill++] = c;
        if (nFill == nElement) {
            if (pArray != nullptr && nStored < nCapacity) {
                // Big-endian on the wire, host order in the caller's array.
                unsigned char* pTarget = pArray + nStored * nElement;
                for (std::size_t k = 0; k < nElement; ++k) {
                    pTarget[k] =
                        element[std::endian::native == std::endian::little ? nElement - 1 - k : k];
                }
                ++nStored;
            }  // else dropped: the caller's array is full
            nFill = 0;
        }
    };
    if (bDefinite) {
        while (nLength > 0) {
            if (source.Peek() < 0) {
                return false;
            }
            const std::size_t nSpan =
                static_cast<std::size_t>(std::min<unsigned long long>(source.Available(), nLength));
            const unsigned char* pData = source.Data();
            for (std::size_t i = 0; i < nSpan; ++i) {
                add(pData[i]);
            }
            source.Skip(nSpan);
            nLength -= nSpan;
        }
        return true;
    }
    // Indefinite length: data up to the byte that ends the message, which is
    // not data itself, or up to an END the link reports.
    for (;;) {
        const int c = source.Peek();
        if (c < 0) {
            return source.Status() >= VI_SUCCESS;
        }
        if (source.IsEndByte(static_cast<unsigned char>(c))) {
            source.Take();
            return true;
        }
        add(static_cast<unsigned char>(c));
        source.Skip(1);
    }
}

ViStatus ScanInput(ScanSource& source, const char* pszFormat, VaList& list) {
    if (pszFormat == nullptr) {
        return VI_ERROR_USER_BUF;
    }
    va_list& args = list.args;
    ViStatus status = VI_SUCCESS;
    // Ends the scan when the input cannot satisfy a directive: the source's own
    // failure (timeout, lost connection) if it had one, else a mismatch.
    auto fail = [&source] {
        return source.Status() < VI_SUCCESS ? source.Status() : VI_ERROR_INV_FMT;
    };
    const char* p = pszFormat;
    while (*p != '\0' && status == VI_SUCCESS) {
        if (IsSpace(static_cast<unsigned char>(*p))) {
            while (IsSpace(static_cast<unsigned char>(*p))) {
                ++p;
            }
            SkipSpace(source);
            continue;
        }
        if (*p != '%' || p[1] == '%') {
            char cLiteral = *p;
            if (*p == '\\') {
                p = ReadEscape(p, cLiteral);
            } else {
                p += *p == '%' ? 2 : 1;
            }
            if (source.Peek() != static_cast<unsigned char>(cLiteral)) {
                status = fail();
                break;
            }
            source.Take();
            continue;
        }
        ++p;
        Conversion conv;
        for (; *p == '*' || *p == '#'; ++p) {
            (*p == '*' ? conv.bSuppress : conv.bCount) = true;
        }
        if (*p == ',' || *p == '@') {
            status = VI_ERROR_NSUP_FMT;
            break;
        }
        if (std::isdigit(static_cast<unsigned char>(*p)) &&
            (!ReadNumber(p, conv.nWidth) || conv.nWidth == 0)) {
            status = VI_ERROR_INV_FMT;
            break;
        }
        p = ReadSize(p, conv.eSize);
        conv.cConversion = *p;
        CharSet set;
        if (*p == '[') {
            p = ReadScanSet(p, set);
            if (p == nullptr) {
                status = VI_ERROR_INV_FMT;
                break;
            }
        } else if (*p != '\0') {
            ++p;
        }
        const bool bAssign = !conv.bSuppress;
        switch (conv.cConversion) {
            case 'd':
            case 'i':
            case 'u':
            case 'o':
            case 'x':
            case 'X': {
                void* pTarget = bAssign ? va_arg(args, void*) : nullptr;
                if (bAssign && pTarget == nullptr) {
                    status = VI_ERROR_USER_BUF;
                    break;
                }
                SkipSpace(source);
                const int nBase = conv.cConversion == 'd'   ? 10
                                  : conv.cConversion == 'i' ? 0
                                  : conv.cConversion == 'u' ? 10
                                  : conv.cConversion == 'o' ? 8
                                                            : 16;
                unsigned long long nMagnitude = 0;
                bool bNegative = false;
                if (!ScanInteger(source, nBase, conv.nWidth, nMagnitude, bNegative)) {
                    status = fail();
                    break;
                }
                if (!bAssign) {
                    break;
                }
                const bool bSigned = conv.cConversion == 'd' || conv.cConversion == 'i';
                switch (conv.eSize) {
                    case Size::Short:
                        StoreInteger<ViInt16, ViUInt16>(pTarget, nMagnitude, bNegative, bSigned);
                        break;
                    case Size::Long:
                        StoreInteger<ViInt32, ViUInt32>(pTarget, nMagnitude, bNegative, bSigned);
                        break;
                    case Size::LongLong:
                        StoreInteger<ViInt64, ViUInt64>(pTarget, nMagnitude, bNegative, bSigned);
                        break;
                    default:
                        StoreInteger<int, unsigned>(pTarget, nMagnitude, bNegative, bSigned);
                        break;
                }
                break;
            }
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G': {
                if (conv.eSize == Size::Short || conv.eSize == Size::LongLong) {
                    status = VI_ERROR_NSUP_FMT;
                    break;
                }
                void* pTarget = bAssign ? va_arg(args, void*) : nullptr;
                if (bAssign && pTarget == nullptr) {
                    status = VI_ERROR_USER_BUF;
                    break;
                }
                SkipSpace(source);
                double dValue = 0.0;
                if (!ScanRealBuffered(source, conv.nWidth, dValue) &&
                    !ScanReal(source, conv.nWidth, dValue)) {
                    status = fail();
                    break;
                }
                if (bAssign && conv.eSize == Size::Long) {
                    *static_cast<ViReal64*>(pTarget) = dValue;
                } else if (bAssign) {
                    *static_cast<ViReal32*>(pTarget) = static_cast<ViReal32>(dValue);
                }
                break;
            }
            case 's':
            case '[':
            case 'c':
            case 't':
            case 'T': {
                const char cConversion = conv.cConversion;
                ViInt32* pnCount = nullptr;
                char* pBuffer = nullptr;
                if (bAssign) {
                    if (conv.bCount) {
                        pnCount = va_arg(args, ViInt32*);
                    }
                    pBuffer = va_arg(args, char*);
                    if (pBuffer == nullptr || (conv.bCount && pnCount == nullptr)) {
                        status = VI_ERROR_USER_BUF;
                        break;
                    }
                }
                const bool bTerminate = cConversion != 'c';
                // Capacity in bytes of the caller's buffer; how many characters
                // the field may consume.
                std::size_t nCapacity = 0;
                long nConsume = std::numeric_limits<long>::max();
                if (conv.bCount && bAssign) {
                    nCapacity = *pnCount > 0 ? static_cast<std::size_t>(*pnCount) : 0;
                    if (cConversion == 'c') {
                        nConsume = static_cast<long>(nCapacity);
                    }
                } else if (conv.nWidth > 0) {
                    nCapacity = static_cast<std::size_t>(conv.nWidth) + (bTerminate ? 1 : 0);
                    if (cConversion != 't' && cConversion != 'T') {
                        nConsume = conv.nWidth;
                    }
                } else if (cConversion == 'c') {
                    nCapacity = 1;
                    nConsume = 1;
                } else {
                    nCapacity = VI_FMT_UNBOUNDED_MAX;
                }
                StringSink sink(pBuffer, bAssign ? nCapacity : 0, bTerminate);
                if (cConversion == 's') {
                    SkipSpace(source);
                }
                // Walks the buffered bytes in bulk; refills only at the window's end.
                long nTaken = 0;
                bool bDone = false;
                while (!bDone && nTaken < nConsume && source.Peek() >= 0) {
                    const unsigned char* pData = source.Data();
                    const std::size_t nSpan =
                        std::min(source.Available(), static_cast<std::size_t>(nConsume - nTaken));
                    if (!bAssign && (cConversion == 't' || cConversion == 'T')) {
                        // Discarding to the end of the message: find it, copy nothing.
                        const std::size_t nRun = source.RunToEnd(pData, nSpan, cConversion == 't');
                        bDone = nRun < nSpan || source.IsEndByte(pData[nRun - 1]) ||
                                (cConversion == 't' && source.IsTermChar(pData[nRun - 1]));
                        source.Consume(nRun);
                        nTaken += static_cast<long>(nRun);
                        continue;
                    }
                    std::size_t i = 0;
                    while (i < nSpan) {
                        const unsigned char c = pData[i];
                        if ((cConversion == 's' && IsSpace(c)) || (cConversion == '[' && !set[c])) {
                            bDone = true;
                            break;
                        }
                        sink.Add(static_cast<char>(c));
                        ++i;
                        if (source.IsEndByte(c) || (cConversion == 't' && source.IsTermChar(c))) {
                            bDone = true;
                            break;
                        }
                    }
                    source.Consume(i);
                    nTaken += static_cast<long>(i);
                }
                const std::size_t nStored = sink.Finish();
                if (pnCount != nullptr) {
                    *pnCount = static_cast<ViInt32>(nStored);
                }
                if (source.Status() < VI_SUCCESS) {
                    status = source.Status();
                } else if (cConversion == 'c' && !conv.bCount && nTaken < nConsume) {
                    status = fail();
                } else if ((cConversion == 's' || cConversion == '[') && nTaken == 0) {
                    // A field of no characters is no match, as in C: reported
                    // as success with an empty string, it would pass a reply
                    // that is not there for one that is.
                    status = fail();
                }
                break;
            }
            case '\0':
                status = VI_ERROR_INV_FMT;
                break;
            case 'b': {
                // The element count comes from '#' (a ViPInt32 holding the
                // array's capacity, set to the elements stored) or the width.
                const std::size_t nElement = conv.eSize == Size::Short      ? 2
                                             : conv.eSize == Size::Long     ? 4
                                             : conv.eSize == Size::LongLong ? 8
                                                                            : 1;
                ViInt32* pnCount = nullptr;
                unsigned char* pArray = nullptr;
                std::size_t nCapacity = 0;
                if (bAssign) {
                    if (!conv.bCount && conv.nWidth <= 0) {
                        status = VI_ERROR_NSUP_FMT;  // no bound for the caller's array
                        break;
                    }
                    if (conv.bCount) {
                        pnCount = va_arg(args, ViInt32*);
                    }
                    pArray = va_arg(args, unsigned char*);
                    if (pArray == nullptr || (conv.bCount && pnCount == nullptr)) {
                        status = VI_ERROR_USER_BUF;
                        break;
                    }
                    nCapacity = conv.bCount
                                    ? (*pnCount > 0 ? static_cast<std::size_t>(*pnCount) : 0)
                                    : static_cast<std::size_t>(conv.nWidth);
                }
                std::size_t nStored = 0;
                const bool bRead = ScanBlock(source, nElement, pArray, nCapacity, nStored);
                if (pnCount != nullptr) {
                    *pnCount = static_cast<ViInt32>(nStored);
                }
                if (!bRead) {
                    status = fail();
                }
                break;
            }
            case 'B':
            case 'y':
            case 'n':
            case 'p':
            case 'a':
            case 'A':
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
