// The I/O trace of a VISA session: the bytes each VISA call handed to its
// transport and took from it, with the time of each transfer, the name of
// the call and the status it returned. A session records into a bounded ring
// while VI_ATTR_TKVISA_TRACE_EN is set; a process started with
// TKVISA_TRACE_FILE naming a file appends every session's entries to it.
//
// One entry is one line of text, the same in the ring's text and the file:
//
//   <seconds since the epoch, 6 decimals> <session> <direction> <call> <status> "<data>"
//   1796671464.123456 0x00001002 write viQueryf 0x00000000 "*IDN?\n"
//
// <session> and <status> are 8 hex digits; <direction> is write, read or
// event; <data> is the bytes between double quotes, printable ASCII as it is
// and everything else as \n, \r, \t, \\, \" or \xHH (always two digits), so
// that a line reads back into exactly the bytes recorded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "visa.h"

namespace tkvisa {

enum class TraceDirection { Write, Read, Event };

struct TraceEntry {
    std::int64_t nTimeUs = 0;  // microseconds since the epoch, when the transfer ended
    ViSession nSession = VI_NULL;
    TraceDirection eDirection = TraceDirection::Event;
    const char* pszCall = "";  // a string literal
    ViStatus status = VI_SUCCESS;
    std::string strData;
};

constexpr ViUInt32 kDefaultTraceCapacity = 1000;
constexpr ViUInt32 kMaxTraceCapacity = 1000000;
// The data the ring holds at most, over all its entries; the newest entry
// stays even when it alone is larger.
constexpr std::size_t kTraceByteBudget = std::size_t{4} << 20;

// Appends the line of one entry, '\n' included.
void AppendTraceLine(std::string& strOut, const TraceEntry& entry);

// The name of the environment variable read once when the library loads.
constexpr char kTraceFileVariable[] = "TKVISA_TRACE_FILE";
// Whether the process appends every session's trace to a file.
bool ProcessTraceOn();

// One session's trace. Used under the session's lock only.
class IoTrace {
  public:
    explicit IoTrace(ViSession nSession) : m_nSession(nSession) {}

    bool RingEnabled() const { return m_bRing; }
    void SetRingEnabled(bool bEnabled) { m_bRing = bEnabled; }
    ViUInt32 Capacity() const { return m_nCapacity; }
    // Takes 1 to kMaxTraceCapacity entries; drops the oldest beyond it.
    ViStatus SetCapacity(ViAttrState nCapacity);
    ViUInt32 Count() const { return static_cast<ViUInt32>(m_ring.size()); }
    ViUInt32 Dropped() const { return m_nDropped; }

    // Notes one transfer of the call in progress.
    void Record(TraceDirection eDirection, const void* pData, std::size_t nCount);
    // Ends the call in progress: its entries take its name and status, go to
    // the ring while it is enabled and to the process's file when there is one.
    void EndCall(const char* pszCall, ViStatus status) noexcept;
    // The ring as lines, oldest first.
    std::string Text() const;
    // Empties the ring and zeroes the dropped count.
    void Clear();

  private:
    void Keep(TraceEntry entry);

    ViSession m_nSession;
    bool m_bRing = false;
    ViUInt32 m_nCapacity = kDefaultTraceCapacity;
    ViUInt32 m_nDropped = 0;
    std::size_t m_nBytes = 0;
    std::vector<TraceEntry> m_vecPending;
    std::deque<TraceEntry> m_ring;
};

}  // namespace tkvisa
