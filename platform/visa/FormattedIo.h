// VISA formatted I/O: the printf-style output engine and the scanf-style input
// engine behind viPrintf, viScanf and viQueryf. Integer size modifiers have
// their VISA meaning: h is 16 bits, l is 32 bits (ViInt32), ll and L are 64
// bits; no modifier is int. For reals, no modifier is float on input, l is
// double.
#pragma once

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <string>

#include "visa.h"

namespace tkvisa {

// A variable argument list that the output and input halves of one query
// consume in turn.
struct VaList {
    va_list args;
};

// The bytes a formatted read consumes: a window of buffered bytes walked
// inline, refilled by the concrete source. A byte marked in the end table ends
// the message once taken (the termination character, a serial END); after
// that, or when the source fails, Peek returns -1 and Status tells which.
class ScanSource {
  public:
    using EndTable = std::array<bool, 256>;

    virtual ~ScanSource() = default;
    int Peek() {
        if (m_bEnded) {
            return -1;
        }
        if (m_pCur == m_pEnd && !Refill()) {
            m_bEnded = true;
            return -1;
        }
        return *m_pCur;
    }
    void Take() {
        if (!m_bEnded && m_pCur != m_pEnd) {
            m_bEnded = (*m_pEndTable)[*m_pCur++];
        }
    }
    // The bytes buffered for the current message (valid after a Peek that
    // returned a byte), and how to consume them in bulk.
    const unsigned char* Data() const { return m_pCur; }
    std::size_t Available() const {
        return m_bEnded ? 0 : static_cast<std::size_t>(m_pEnd - m_pCur);
    }
    // Consumes n buffered bytes, of which only the last may end the message.
    void Consume(std::size_t n) {
        if (n > 0) {
            m_pCur += n - 1;
            Take();
        }
    }
    // Consumes n buffered bytes as data: none of them ends the message, even
    // one equal to an end byte (the payload of a binary block).
    void Skip(std::size_t n) { m_pCur += std::min(n, Available()); }
    bool IsEndByte(unsigned char c) const { return (*m_pEndTable)[c]; }
    // Whether one of n bytes at p ends the message.
    bool HoldsEndByte(const unsigned char* p, std::size_t n) const {
        if (m_nSoleEndByte >= 0) {
            return std::memchr(p, m_nSoleEndByte, n) != nullptr;
        }
        if (m_nSoleEndByte == kNoEndByte) {
            return false;
        }
        for (std::size_t i = 0; i < n; ++i) {
            if ((*m_pEndTable)[p[i]]) {
                return true;
            }
        }
        return false;
    }
    // Length of the run at p (of n bytes) up to and including the first byte
    // that ends the message or, with bAtTermChar, is the termination
    // character; n when there is none.
    std::size_t RunToEnd(const unsigned char* p, std::size_t n, bool bAtTermChar) const {
        const bool bSingle =
            m_nSoleEndByte == kNoEndByte ||
            (m_nSoleEndByte >= 0 && (!bAtTermChar || m_nSoleEndByte == m_nTermChar));
        if (bSingle) {
            const int nStop =
                m_nSoleEndByte >= 0 ? m_nSoleEndByte : (bAtTermChar ? m_nTermChar : -1);
            if (nStop < 0) {
                return n;
            }
            const void* pFound = std::memchr(p, nStop, n);
            return pFound
                       ? static_cast<std::size_t>(static_cast<const unsigned char*>(pFound) - p) + 1
                       : n;
        }
        for (std::size_t i = 0; i < n; ++i) {
            if ((*m_pEndTable)[p[i]] || (bAtTermChar && p[i] == m_nTermChar)) {
                return i + 1;
            }
        }
        return n;
    }
    ViStatus Status() const { return m_status; }
    // Whether c is the termination character, enabled or not (for %t).
    bool IsTermChar(int c) const { return c == m_nTermChar; }
    bool Ended() const { return m_bEnded; }

    static constexpr int kNoEndByte = -2;
    static constexpr int kSeveralEndBytes = -1;

  protected:
    // nSoleEndByte: the only byte marked in the table, kNoEndByte or
    // kSeveralEndBytes; it lets bulk scans use memchr.
    ScanSource(const EndTable& endTable, int nSoleEndByte, int nTermChar)
        : m_pEndTable(&endTable), m_nSoleEndByte(nSoleEndByte), m_nTermChar(nTermChar) {}
    // Makes the window non-empty, or returns false at the end of the data or
    // on failure (with m_status set).
    virtual bool Refill() = 0;

    const unsigned char* m_pCur = nullptr;
    const unsigned char* m_pEnd = nullptr;
    ViStatus m_status = VI_SUCCESS;

  private:
    const EndTable* m_pEndTable;
    int m_nSoleEndByte;
    int m_nTermChar;
    bool m_bEnded = false;
};

// Appends the text of writeFmt to strOut. VI_SUCCESS, VI_ERROR_INV_FMT or
// VI_ERROR_NSUP_FMT.
ViStatus FormatOutput(std::string& strOut, const char* pszFormat, VaList& list);

// Runs readFmt over the source. VI_SUCCESS, the source's error (a timeout, a
// lost connection), VI_ERROR_INV_FMT for a bad format or a reply that does not
// match it, VI_ERROR_NSUP_FMT for conversions the layer does not offer.
ViStatus ScanInput(ScanSource& source, const char* pszFormat, VaList& list);

// A source over bytes in memory whose end is the message's END; the
// termination character (when given) ends the message early.
class MemoryScanSource final : public ScanSource {
  public:
    MemoryScanSource(const void* pData, std::size_t nSize, int nTermChar = -1)
        : ScanSource(m_endTable, nTermChar >= 0 && nTermChar < 256 ? nTermChar : kNoEndByte,
                     nTermChar),
          m_pData(static_cast<const unsigned char*>(pData)) {
        m_endTable.fill(false);
        if (nTermChar >= 0 && nTermChar < 256) {
            m_endTable[static_cast<std::size_t>(nTermChar)] = true;
        }
        m_pCur = m_pData;
        m_pEnd = m_pData + nSize;
    }
    std::size_t Consumed() const { return static_cast<std::size_t>(m_pCur - m_pData); }

  protected:
    bool Refill() override { return false; }

  private:
    EndTable m_endTable;
    const unsigned char* m_pData;
};

}  // namespace tkvisa
