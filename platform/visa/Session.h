// VISA sessions: the resource manager and instrument sessions behind the
// ViSession handles, their attributes, buffers and read/write semantics.
#pragma once

#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "FormattedIo.h"
#include "IoTrace.h"
#include "ResourceName.h"
#include "Transport.h"
#include "visa.h"

namespace tkvisa {

constexpr ViUInt32 kDefaultTimeoutMs = 2000;
constexpr std::size_t kReadBufferSize = 4096;
constexpr std::size_t kWriteBufferSize = 4096;

enum class SessionKind { ResourceManager, Instrument };

class Session {
  public:
    Session(SessionKind eKind, ViSession nHandle, ViSession nRm)
        : m_eKind(eKind), m_nHandle(nHandle), m_nRm(nRm) {}

    // Serialises all operations on the session; taken by every entry point.
    std::mutex m_mutex;
    bool m_bClosed = false;

    SessionKind m_eKind;
    ViSession m_nHandle;
    ViSession m_nRm;  // the resource manager that opened it (its own handle for an RM)
    std::vector<ViSession> m_vecChildren;  // RM only; guarded by the table lock

    // Attributes
    ViUInt32 m_nTimeoutMs = kDefaultTimeoutMs;
    ViAddr m_pUserData = nullptr;
    ViUInt8 m_nTermChar = '\n';
    ViBoolean m_bTermCharEnabled = VI_FALSE;
    ViBoolean m_bSendEndEnabled = VI_TRUE;
    ViBoolean m_bSuppressEndEnabled = VI_FALSE;
    ViUInt16 m_nIoProtocol = VI_PROT_NORMAL;
    ViUInt16 m_nEndIn = VI_ASRL_END_TERMCHAR;
    ViUInt16 m_nEndOut = VI_ASRL_END_NONE;
    ViUInt8 m_nReplaceChar = 0;
    ViUInt16 m_nWriteBufferMode = VI_FLUSH_WHEN_FULL;
    ViUInt16 m_nReadBufferMode = VI_FLUSH_DISABLE;
    ViBoolean m_bFileAppend = VI_FALSE;
    ViUInt32 m_nWriteBufSize = kWriteBufferSize;  // viBufWrite flushes when it fills
    LineSettings m_line;

    ResourceName m_resource;
    std::unique_ptr<Transport> m_pTransport;

    // The I/O trace; null until the session first records, so that a
    // session never traced pays one test of a pointer per transfer.
    std::unique_ptr<IoTrace> m_pTrace;
    void Trace(TraceDirection eDirection, const void* pData, std::size_t nCount) {
        if (m_pTrace) {
            m_pTrace->Record(eDirection, pData, nCount);
        }
    }
    // The trace, made (recording nothing yet) when the session has none.
    IoTrace& TraceOf() {
        if (!m_pTrace) {
            m_pTrace = std::make_unique<IoTrace>(m_nHandle);
        }
        return *m_pTrace;
    }
    void TraceEvent(const char* pszWhat) {
        Trace(TraceDirection::Event, pszWhat, std::strlen(pszWhat));
    }

    // The deadline of the VISA call in progress. Every transfer of one call
    // (a query's write and its read, the held output a read sends first, the
    // rest of a message dropped after a scan) shares it, so a call returns
    // within its timeout however its time is spread over them.
    Deadline m_callDeadline{kDefaultTimeoutMs};
    // Starts the call's deadline; the frame calls it once the session's lock
    // is held.
    void BeginCall() {
        m_callDeadline = Deadline(m_nTimeoutMs);
        m_callDeadline.Start();
    }

    ViStatus Read(ViByte* pBuffer, ViUInt32 nCount, ViUInt32* pnRead);
    ViStatus Write(const ViByte* pBuffer, ViUInt32 nCount, ViUInt32* pnWritten);
    ViStatus Printf(const char* pszFormat, VaList& list);
    ViStatus Scanf(const char* pszFormat, VaList& list);
    ViStatus Flush(ViUInt16 nMask);
    // Sends formatted output held under VI_FLUSH_DISABLE, if any.
    ViStatus FlushHeldOutput();
    ViStatus Clear();
    void CloseTransport();
    MessageOptions MessageOptionsOf() const;

    ViStatus GetAttribute(ViAttr nAttribute, void* pValue);
    ViStatus SetAttribute(ViAttr nAttribute, ViAttrState nValue);

    // Whether taking byte c ends the message, and whether as the termination
    // character (VI_SUCCESS_TERM_CHAR) or as an END indicator (VI_SUCCESS).
    bool EndsMessage(ViByte c, bool& bTermChar) const;
    // Which bytes end a message under the current settings, as a table.
    const ScanSource::EndTable& EndBytes();
    // Reads more bytes into the read buffer within the call's deadline; the
    // buffer must be empty.
    ViStatus Refill();
    // Whether the link marks the end of each message itself (VXI-11, HiSLIP),
    // so that a message can be read to its end without a termination byte.
    bool LinkCarriesEnd() const;
    // Drops the rest of the current message, up to and including the byte or
    // END that ends it, reading on when the buffer does not hold the end.
    // With nothing that ends a message (a socket without termination
    // character) it drops nothing: where the message ends is unknown.
    ViStatus DiscardRestOfMessage();
    // Drops every unread byte the session holds.
    void DiscardBufferedInput();

    std::vector<ViByte> m_vecIn = std::vector<ViByte>(kReadBufferSize);
    std::size_t m_nInPos = 0;
    std::size_t m_nInEnd = 0;
    // The link reported that the buffered bytes end a message.
    bool m_bInEndsMessage = false;
    std::string m_strOut;
    ScanSource::EndTable m_endBytes{};
    int m_nSoleEndByte = ScanSource::kNoEndByte;
    bool m_bEndBytesStale = true;
};

using SessionPtr = std::shared_ptr<Session>;

// The process-wide handle table. Handles are never reused while the process
// lives (until the 32-bit counter wraps), so a stale handle finds nothing.
class SessionTable {
  public:
    static SessionTable& Instance();
    SessionPtr Find(ViObject nHandle);
    SessionPtr CreateResourceManager();
    // Registers an opened instrument session under the RM; null when the RM
    // was closed meanwhile.
    SessionPtr AddInstrument(ViSession nRm, std::unique_ptr<Session> pSession);
    ViSession NextHandle();
    // Removes the session (and, for an RM, every session it opened) from the
    // table and returns them for closing.
    std::vector<SessionPtr> Remove(ViObject nHandle);

  private:
    std::mutex m_mutex;
    std::unordered_map<ViSession, SessionPtr> m_mapSessions;
    ViSession m_nNext = 0x1000;
};

}  // namespace tkvisa
