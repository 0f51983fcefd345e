// VISA formatted I/O: the printf-style output engine and the scanf-style input
// engine behind viPrintf, viScanf and viQueryf. Integer size modifiers have
// their VISA meaning: h is 16 bits, l is 32 bits (ViInt32), ll and L are 64
// bits; no modifier is int. For reals, no modifier is float on input, l is
// double.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#include "visa.h"

namespace tkvisa {

// A variable argument list that the output and input halves of one query
// consume in turn.
struct VaList {
    va_list args;
};

// The bytes a formatted read consumes. Peek returns the next byte of the
// current message or -1 once the message has ended (its END or termination
// byte was taken) or the source failed; Status then tells which.
class ScanSource {
  public:
    virtual ~ScanSource() = default;
    virtual int Peek() = 0;
    virtual void Take() = 0;
    virtual ViStatus Status() const = 0;
    // Whether byte c, once taken, was the termination character.
    virtual bool IsTermChar(int c) const = 0;
};

// Appends the text of writeFmt to strOut. VI_SUCCESS, VI_ERROR_INV_FMT or
// VI_ERROR_NSUP_FMT.
ViStatus FormatOutput(std::string& strOut, const char* pszFormat, VaList& list);

// Runs readFmt over the source. VI_SUCCESS, the source's error (a timeout, a
// lost connection), VI_ERROR_INV_FMT for a bad format or a reply that does not
// match it, VI_ERROR_NSUP_FMT for conversions the layer does not offer.
ViStatus ScanInput(ScanSource& source, const char* pszFormat, VaList& list);

// A source over bytes in memory whose end is the message's END; the
// termination character (when enabled) ends the message early.
class MemoryScanSource final : public ScanSource {
  public:
    MemoryScanSource(const void* pData, std::size_t nSize, int nTermChar = -1)
        : m_pData(static_cast<const unsigned char*>(pData)),
          m_nSize(nSize),
          m_nTermChar(nTermChar) {}
    int Peek() override { return m_bEnded || m_nPos >= m_nSize ? -1 : m_pData[m_nPos]; }
    void Take() override {
        if (m_nPos < m_nSize) {
            m_bEnded = m_pData[m_nPos] == m_nTermChar;
            ++m_nPos;
        }
    }
    ViStatus Status() const override { return VI_SUCCESS; }
    bool IsTermChar(int c) const override { return c == m_nTermChar; }
    std::size_t Consumed() const { return m_nPos; }

  private:
    const unsigned char* m_pData;
    std::size_t m_nSize;
    int m_nTermChar;
    std::size_t m_nPos = 0;
    bool m_bEnded = false;
};

}  // namespace tkvisa
