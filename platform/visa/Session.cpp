#include "Session.h"

#include "Events.h"
#include "Locks.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tkvisa {
namespace {

constexpr char kManufacturer[] = "TARVEK VISA";
constexpr ViUInt16 kManufacturerId = 0x3FFF;
constexpr ViVersion kImplementationVersion = 0x00100000UL;

// A formatted read over the session's read buffer. What is left of the
// message afterwards is the session's to drop (Session::Scanf).
class SessionScanSource final : public ScanSource {
  public:
    explicit SessionScanSource(Session& session)
        : ScanSource(session.EndBytes(), session.m_nSoleEndByte, session.m_nTermChar),
          m_session(session) {
        Window();
    }
    ~SessionScanSource() override { Sync(); }

    // Hands the read position back to the session.
    void Sync() {
        m_session.m_nInPos = static_cast<std::size_t>(m_pCur - m_session.m_vecIn.data());
    }

  protected:
    bool Refill() override {
        Sync();
        if (m_session.m_bInEndsMessage) {
            // The link ended the message with the bytes just taken.
            m_session.m_bInEndsMessage = false;
            m_status = VI_SUCCESS;
            return false;
        }
        m_status = m_session.Refill();
        Window();
        return m_status >= VI_SUCCESS && m_pCur != m_pEnd;
    }

  private:
    void Window() {
        m_pCur = m_session.m_vecIn.data() + m_session.m_nInPos;
        m_pEnd = m_session.m_vecIn.data() + m_session.m_nInEnd;
    }

    Session& m_session;
};

// ----- Attribute table -----------------------------------------------------

enum class AttrType { UInt8, UInt16, UInt32, Boolean, Handle, Address, Text };

enum Scope : unsigned {
    kRm = 1,
    kTcpip = 2,
    kAsrl = 4,
    kUsb = 8,
    kInstr = kTcpip | kAsrl | kUsb,
    kAny = kRm | kInstr,
};

struct AttributeRow {
    ViAttr nId;
    AttrType eType;
    unsigned nScope;
    ViAttrState (*pfnGet)(const Session&);
    std::string (*pfnText)(const Session&);
    // Checks and stores a value; null for read-only attributes.
    ViStatus (*pfnSet)(Session&, ViAttrState);
};

ViStatus SetBoolean(ViBoolean& bField, ViAttrState nValue) {
    if (nValue != VI_TRUE && nValue != VI_FALSE) {
        return VI_ERROR_NSUP_ATTR_STATE;
    }
    bField = static_cast<ViBoolean>(nValue);
    return VI_SUCCESS;
}

ViStatus SetByte(ViUInt8& nField, ViAttrState nValue) {
    if (nValue > 0xFF) {
        return VI_ERROR_NSUP_ATTR_STATE;
    }
    nField = static_cast<ViUInt8>(nValue);
    return VI_SUCCESS;
}

// Changes a line setting and applies it to the open connection; an unusable
// value leaves the previous settings in force.
template <typename T>
ViStatus SetLine(Session& session, T LineSettings::*pField, ViAttrState nValue,
                 std::initializer_list<ViAttrState> listAllowed) {
    if (listAllowed.size() != 0 &&
        std::find(listAllowed.begin(), listAllowed.end(), nValue) == listAllowed.end()) {
        return VI_ERROR_NSUP_ATTR_STATE;
    }
    if (nValue > std::numeric_limits<T>::max()) {
        return VI_ERROR_NSUP_ATTR_STATE;
    }
    const LineSettings previous = session.m_line;
    session.m_line.*pField = static_cast<T>(nValue);
    const ViStatus status =
        session.m_pTransport ? session.m_pTransport->Apply(session.m_line) : VI_SUCCESS;
    if (status < VI_SUCCESS) {
        session.m_line = previous;
        if (session.m_pTransport) {
            session.m_pTransport->Apply(session.m_line);
        }
    }
    return status;
}

constexpr ViAttrState ByteOf(ViUInt8 n) {
    return n;
}

const AttributeRow kAttributes[] = {
    {VI_ATTR_RSRC_CLASS, AttrType::Text, kInstr, nullptr,
     [](const Session& s) { return s.m_resource.strClass; }, nullptr},
    {VI_ATTR_RSRC_NAME, AttrType::Text, kInstr, nullptr,
     [](const Session& s) { return s.m_resource.strCanonical; }, nullptr},
    {VI_ATTR_RSRC_MANF_NAME, AttrType::Text, kAny, nullptr,
     [](const Session&) { return std::string(kManufacturer); }, nullptr},
    {VI_ATTR_RSRC_MANF_ID, AttrType::UInt16, kAny,
     [](const Session&) -> ViAttrState { return kManufacturerId; }, nullptr, nullptr},
    {VI_ATTR_RSRC_IMPL_VERSION, AttrType::UInt32, kAny,
     [](const Session&) -> ViAttrState { return kImplementationVersion; }, nullptr, nullptr},
    {VI_ATTR_RSRC_SPEC_VERSION, AttrType::UInt32, kAny,
     [](const Session&) -> ViAttrState { return VI_SPEC_VERSION; }, nullptr, nullptr},
    {VI_ATTR_RSRC_LOCK_STATE, AttrType::UInt32, kAny,
     [](const Session& s) -> ViAttrState {
         return s.m_eKind == SessionKind::Instrument ? LockStateOf(s.m_resource.strCanonical)
                                                     : VI_NO_LOCK;
     },
     nullptr, nullptr},
    {VI_ATTR_RM_SESSION, AttrType::Handle, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_nRm; }, nullptr, nullptr},
    {VI_ATTR_INTF_TYPE, AttrType::UInt16, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_resource.nIntfType; }, nullptr, nullptr},
    {VI_ATTR_INTF_NUM, AttrType::UInt16, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_resource.nIntfNum; }, nullptr, nullptr},
    {VI_ATTR_INTF_INST_NAME, AttrType::Text, kInstr, nullptr,
     [](const Session& s) {
         if (s.m_resource.nIntfType == VI_INTF_USB) {
             return "USB" + std::to_string(s.m_resource.nIntfNum) + " (USBTMC)";
         }
         return s.m_resource.nIntfType == VI_INTF_TCPIP
                    ? "TCPIP" + std::to_string(s.m_resource.nIntfNum) +
                          (s.m_resource.strClass == "INSTR" ? " (VXI-11)" : " (socket)")
                    : "ASRL " + s.m_resource.strDevicePath;
     },
     nullptr},
    {VI_ATTR_TMO_VALUE, AttrType::UInt32, kAny,
     [](const Session& s) -> ViAttrState { return s.m_nTimeoutMs; }, nullptr,
     [](Session& s, ViAttrState n) -> ViStatus {
         if (n > 0xFFFFFFFFULL) {
             return VI_ERROR_NSUP_ATTR_STATE;
         }
         s.m_nTimeoutMs = static_cast<ViUInt32>(n);
         return VI_SUCCESS;
     }},
    {VI_ATTR_USER_DATA, AttrType::Address, kAny,
     [](const Session& s) -> ViAttrState {
         return reinterpret_cast<std::uintptr_t>(s.m_pUserData);
     },
     nullptr,
     [](Session& s, ViAttrState n) -> ViStatus {
         s.m_pUserData = reinterpret_cast<ViAddr>(static_cast<std::uintptr_t>(n));
         return VI_SUCCESS;
     }},
    {VI_ATTR_TERMCHAR, AttrType::UInt8, kInstr,
     [](const Session& s) { return ByteOf(s.m_nTermChar); }, nullptr,
     [](Session& s, ViAttrState n) { return SetByte(s.m_nTermChar, n); }},
    {VI_ATTR_TERMCHAR_EN, AttrType::Boolean, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_bTermCharEnabled; }, nullptr,
     [](Session& s, ViAttrState n) { return SetBoolean(s.m_bTermCharEnabled, n); }},
    {VI_ATTR_SEND_END_EN, AttrType::Boolean, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_bSendEndEnabled; }, nullptr,
     [](Session& s, ViAttrState n) { return SetBoolean(s.m_bSendEndEnabled, n); }},
    {VI_ATTR_SUPPRESS_END_EN, AttrType::Boolean, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_bSuppressEndEnabled; }, nullptr,
     [](Session& s, ViAttrState n) { return SetBoolean(s.m_bSuppressEndEnabled, n); }},
    {VI_ATTR_IO_PROT, AttrType::UInt16, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_nIoProtocol; }, nullptr,
     [](Session& s, ViAttrState n) -> ViStatus {
         if (n != VI_PROT_NORMAL && n != VI_PROT_4882_STRS) {
             return VI_ERROR_NSUP_ATTR_STATE;
         }
         s.m_nIoProtocol = static_cast<ViUInt16>(n);
         return VI_SUCCESS;
     }},
    {VI_ATTR_RD_BUF_SIZE, AttrType::UInt32, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_vecIn.size(); }, nullptr, nullptr},
    {VI_ATTR_WR_BUF_SIZE, AttrType::UInt32, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_nWriteBufSize; }, nullptr, nullptr},
    {VI_ATTR_FILE_APPEND_EN, AttrType::Boolean, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_bFileAppend; }, nullptr,
     [](Session& s, ViAttrState n) { return SetBoolean(s.m_bFileAppend, n); }},
    {VI_ATTR_MAX_QUEUE_LENGTH, AttrType::UInt32, kInstr,
     [](const Session&) -> ViAttrState { return kMaxEventQueueLength; }, nullptr, nullptr},
    // VI_FLUSH_ON_ACCESS drops every unread byte after each formatted read;
    // VI_FLUSH_DISABLE keeps bytes after the end of the message scanned.
    {VI_ATTR_RD_BUF_OPER_MODE, AttrType::UInt16, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_nReadBufferMode; }, nullptr,
     [](Session& s, ViAttrState n) -> ViStatus {
         if (n != VI_FLUSH_ON_ACCESS && n != VI_FLUSH_DISABLE) {
             return VI_ERROR_NSUP_ATTR_STATE;
         }
         s.m_nReadBufferMode = static_cast<ViUInt16>(n);
         return VI_SUCCESS;
     }},
    // VI_FLUSH_DISABLE holds formatted output until a read, a write, a
    // flush or a full buffer, so a caller can send several formatted
    // commands as one message; the other modes send each call's output.
    {VI_ATTR_WR_BUF_OPER_MODE, AttrType::UInt16, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_nWriteBufferMode; }, nullptr,
     [](Session& s, ViAttrState n) -> ViStatus {
         if (n != VI_FLUSH_ON_ACCESS && n != VI_FLUSH_WHEN_FULL && n != VI_FLUSH_DISABLE) {
             return VI_ERROR_NSUP_ATTR_STATE;
         }
         s.m_nWriteBufferMode = static_cast<ViUInt16>(n);
         return n == VI_FLUSH_DISABLE ? VI_SUCCESS : s.FlushHeldOutput();
     }},
    {VI_ATTR_TCPIP_ADDR, AttrType::Text, kTcpip, nullptr,
     [](const Session& s) {
         return s.m_pTransport ? s.m_pTransport->PeerAddress() : std::string();
     },
     nullptr},
    {VI_ATTR_TCPIP_HOSTNAME, AttrType::Text, kTcpip, nullptr,
     [](const Session& s) { return s.m_resource.strHost; }, nullptr},
    {VI_ATTR_TCPIP_DEVICE_NAME, AttrType::Text, kTcpip, nullptr,
     [](const Session& s) { return s.m_resource.strDevice; }, nullptr},
    {VI_ATTR_TCPIP_PORT, AttrType::UInt16, kTcpip,
     [](const Session& s) -> ViAttrState { return s.m_resource.nPort; }, nullptr, nullptr},
    {VI_ATTR_TCPIP_NODELAY, AttrType::Boolean, kTcpip,
     [](const Session& s) -> ViAttrState { return s.m_line.bNoDelay; }, nullptr,
     [](Session& s, ViAttrState n) {
         return SetLine(s, &LineSettings::bNoDelay, n, {0, 1});
     }},
    {VI_ATTR_TCPIP_KEEPALIVE, AttrType::Boolean, kTcpip,
     [](const Session& s) -> ViAttrState { return s.m_line.bKeepAlive; }, nullptr,
     [](Session& s, ViAttrState n) {
         return SetLine(s, &LineSettings::bKeepAlive, n, {0, 1});
     }},
    {VI_ATTR_ASRL_BAUD, AttrType::UInt32, kAsrl,
     [](const Session& s) -> ViAttrState { return s.m_line.nBaud; }, nullptr,
     [](Session& s, ViAttrState n) { return SetLine(s, &LineSettings::nBaud, n, {}); }},
    {VI_ATTR_ASRL_DATA_BITS, AttrType::UInt16, kAsrl,
     [](const Session& s) -> ViAttrState { return s.m_line.nDataBits; }, nullptr,
     [](Session& s, ViAttrState n) {
         return SetLine(s, &LineSettings::nDataBits, n, {5, 6, 7, 8});
     }},
    {VI_ATTR_ASRL_PARITY, AttrType::UInt16, kAsrl,
     [](const Session& s) -> ViAttrState { return s.m_line.nParity; }, nullptr,
     [](Session& s, ViAttrState n) {
         return SetLine(s, &LineSettings::nParity, n,
                        {VI_ASRL_PAR_NONE, VI_ASRL_PAR_ODD, VI_ASRL_PAR_EVEN, VI_ASRL_PAR_MARK,
                         VI_ASRL_PAR_SPACE});
     }},
    {VI_ATTR_ASRL_STOP_BITS, AttrType::UInt16, kAsrl,
     [](const Session& s) -> ViAttrState { return s.m_line.nStopBits; }, nullptr,
     [](Session& s, ViAttrState n) {
         return SetLine(s, &LineSettings::nStopBits, n, {VI_ASRL_STOP_ONE, VI_ASRL_STOP_TWO});
     }},
    {VI_ATTR_ASRL_FLOW_CNTRL, AttrType::UInt16, kAsrl,
     [](const Session& s) -> ViAttrState { return s.m_line.nFlowControl; }, nullptr,
     [](Session& s, ViAttrState n) {
         return SetLine(s, &LineSettings::nFlowControl, n,
                        {VI_ASRL_FLOW_NONE, VI_ASRL_FLOW_XON_XOFF, VI_ASRL_FLOW_RTS_CTS,
                         VI_ASRL_FLOW_XON_XOFF | VI_ASRL_FLOW_RTS_CTS});
     }},
    {VI_ATTR_ASRL_XON_CHAR, AttrType::UInt8, kAsrl,
     [](const Session& s) { return ByteOf(s.m_line.nXonChar); }, nullptr,
     [](Session& s, ViAttrState n) { return SetLine(s, &LineSettings::nXonChar, n, {}); }},
    {VI_ATTR_ASRL_XOFF_CHAR, AttrType::UInt8, kAsrl,
     [](const Session& s) { return ByteOf(s.m_line.nXoffChar); }, nullptr,
     [](Session& s, ViAttrState n) { return SetLine(s, &LineSettings::nXoffChar, n, {}); }},
    {VI_ATTR_ASRL_REPLACE_CHAR, AttrType::UInt8, kAsrl,
     [](const Session& s) { return ByteOf(s.m_nReplaceChar); }, nullptr,
     [](Session& s, ViAttrState n) { return SetByte(s.m_nReplaceChar, n); }},
    {VI_ATTR_ASRL_END_IN, AttrType::UInt16, kAsrl,
     [](const Session& s) -> ViAttrState { return s.m_nEndIn; }, nullptr,
     [](Session& s, ViAttrState n) -> ViStatus {
         if (n != VI_ASRL_END_NONE && n != VI_ASRL_END_LAST_BIT && n != VI_ASRL_END_TERMCHAR) {
             return VI_ERROR_NSUP_ATTR_STATE;
         }
         s.m_nEndIn = static_cast<ViUInt16>(n);
         return VI_SUCCESS;
     }},
    {VI_ATTR_ASRL_END_OUT, AttrType::UInt16, kAsrl,
     [](const Session& s) -> ViAttrState { return s.m_nEndOut; }, nullptr,
     [](Session& s, ViAttrState n) -> ViStatus {
         if (n != VI_ASRL_END_NONE && n != VI_ASRL_END_TERMCHAR && n != VI_ASRL_END_BREAK) {
             return VI_ERROR_NSUP_ATTR_STATE;
         }
         s.m_nEndOut = static_cast<ViUInt16>(n);
         return VI_SUCCESS;
     }},
    // The I/O trace (IoTrace.h): reading these never makes a trace.
    {VI_ATTR_TKVISA_TRACE_EN, AttrType::Boolean, kInstr,
     [](const Session& s) -> ViAttrState {
         return s.m_pTrace && s.m_pTrace->RingEnabled() ? VI_TRUE : VI_FALSE;
     },
     nullptr,
     [](Session& s, ViAttrState n) -> ViStatus {
         if (n != VI_TRUE && n != VI_FALSE) {
             return VI_ERROR_NSUP_ATTR_STATE;
         }
         if (n == VI_TRUE || s.m_pTrace) {
             s.TraceOf().SetRingEnabled(n == VI_TRUE);
         }
         return VI_SUCCESS;
     }},
    {VI_ATTR_TKVISA_TRACE_CAPACITY, AttrType::UInt32, kInstr,
     [](const Session& s) -> ViAttrState {
         return s.m_pTrace ? s.m_pTrace->Capacity() : kDefaultTraceCapacity;
     },
     nullptr,
     [](Session& s, ViAttrState n) -> ViStatus {
         if (n < 1 || n > kMaxTraceCapacity) {
             return VI_ERROR_NSUP_ATTR_STATE;
         }
         return s.TraceOf().SetCapacity(n);
     }},
    {VI_ATTR_TKVISA_TRACE_COUNT, AttrType::UInt32, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_pTrace ? s.m_pTrace->Count() : 0; },
     nullptr, nullptr},
    {VI_ATTR_TKVISA_TRACE_DROPPED, AttrType::UInt32, kInstr,
     [](const Session& s) -> ViAttrState { return s.m_pTrace ? s.m_pTrace->Dropped() : 0; },
     nullptr, nullptr},
    {VI_ATTR_ASRL_AVAIL_NUM, AttrType::UInt32, kAsrl,
     [](const Session& s) -> ViAttrState {
         const std::size_t nOs = s.m_pTransport ? s.m_pTransport->Available() : 0;
         return (s.m_nInEnd - s.m_nInPos) + nOs;
     },
     nullptr, nullptr},
};

unsigned ScopeOf(const Session& session) {
    if (session.m_eKind == SessionKind::ResourceManager) {
        return kRm;
    }
    switch (session.m_resource.nIntfType) {
        case VI_INTF_ASRL:
            return kAsrl;
        case VI_INTF_USB:
            return kUsb;
        default:
            return kTcpip;
    }
}

const AttributeRow* FindAttribute(ViAttr nAttribute, const Session& session) {
    for (const AttributeRow& row : kAttributes) {
        if (row.nId == nAttribute) {
            return (row.nScope & ScopeOf(session)) != 0 ? &row : nullptr;
        }
    }
    return nullptr;
}

}  // namespace

// ----- Session -------------------------------------------------------------

bool Session::EndsMessage(ViByte c, bool& bTermChar) const {
    bTermChar = m_bTermCharEnabled && c == m_nTermChar;
    if (bTermChar) {
        return true;
    }
    if (m_resource.nIntfType == VI_INTF_ASRL && !m_bSuppressEndEnabled) {
        if (m_nEndIn == VI_ASRL_END_TERMCHAR && c == m_nTermChar) {
            return true;
        }
        if (m_nEndIn == VI_ASRL_END_LAST_BIT && m_line.nDataBits >= 5 && m_line.nDataBits <= 8 &&
            (c & (1u << (m_line.nDataBits - 1))) != 0) {
            return true;
        }
    }
    return false;
}

const ScanSource::EndTable& Session::EndBytes() {
    if (m_bEndBytesStale) {
        for (unsigned c = 0; c < 256; ++c) {
            bool bTermChar = false;
            m_endBytes[c] = EndsMessage(static_cast<ViByte>(c), bTermChar);
        }
        const auto nCount = std::count(m_endBytes.begin(), m_endBytes.end(), true);
        m_nSoleEndByte =
            nCount == 0   ? ScanSource::kNoEndByte
            : nCount == 1 ? static_cast<int>(std::find(m_endBytes.begin(), m_endBytes.end(), true) -
                                             m_endBytes.begin())
                          : ScanSource::kSeveralEndBytes;
        m_bEndBytesStale = false;
    }
    return m_endBytes;
}

ViStatus Session::Refill() {
    if (!m_pTransport) {
        return VI_ERROR_NSUP_OPER;
    }
    m_nInPos = 0;
    m_nInEnd = 0;
    std::size_t nGot = 0;
    m_pTransport->SetMessageOptions(MessageOptionsOf());
    const ViStatus status =
        m_pTransport->Read(m_vecIn.data(), m_vecIn.size(), m_callDeadline, &nGot);
    Trace(TraceDirection::Read, m_vecIn.data(), nGot);
    m_nInEnd = nGot;
    m_bInEndsMessage = status >= VI_SUCCESS && m_pTransport->ReadEndedMessage();
    return status;
}

ViStatus Session::FlushHeldOutput() {
    return m_strOut.empty() ? VI_SUCCESS : Flush(VI_WRITE_BUF);
}

ViStatus Session::Read(ViByte* pBuffer, ViUInt32 nCount, ViUInt32* pnRead) {
    if (const ViStatus status = FlushHeldOutput(); status < VI_SUCCESS) {
        *pnRead = 0;
        return status;
    }
    const ScanSource::EndTable& endBytes = EndBytes();
    ViUInt32 nDone = 0;
    ViStatus status = VI_SUCCESS_MAX_CNT;
    while (nDone < nCount) {
        if (m_nInPos == m_nInEnd) {
            if (m_bInEndsMessage) {
                // An empty message, or one whose end the link reported after
                // the bytes already taken.
                m_bInEndsMessage = false;
                status = VI_SUCCESS;
                break;
            }
            const ViStatus refillStatus = Refill();
            if (refillStatus < VI_SUCCESS) {
                status = refillStatus;
                break;
            }
            continue;
        }
        const ViByte c = m_vecIn[m_nInPos++];
        pBuffer[nDone++] = c;
        if (endBytes[c]) {
            // A termination character that is also the last byte of a
            // message the link ended came with END, and END wins.
            const bool bLinkEnd = m_nInPos == m_nInEnd && m_bInEndsMessage;
            status = m_bTermCharEnabled && c == m_nTermChar && !bLinkEnd ? VI_SUCCESS_TERM_CHAR
                                                                         : VI_SUCCESS;
            if (m_nInPos == m_nInEnd) {
                m_bInEndsMessage = false;
            }
            break;
        }
        if (m_nInPos == m_nInEnd && m_bInEndsMessage) {
            m_bInEndsMessage = false;
            status = VI_SUCCESS;
            break;
        }
    }
    *pnRead = nDone;
    return status;
}

ViStatus Session::Write(const ViByte* pBuffer, ViUInt32 nCount, ViUInt32* pnWritten) {
    // Held formatted output goes first, so bytes leave in the order written.
    if (const ViStatus status = FlushHeldOutput(); status < VI_SUCCESS) {
        *pnWritten = 0;
        return status;
    }
    // A new message voids what is left unread of earlier replies (a device
    // drops its own unread output the same way), so no reply read after
    // this write can be one that was meant for an earlier one.
    DiscardBufferedInput();
    std::size_t nDone = 0;
    m_pTransport->SetMessageOptions(MessageOptionsOf());
    ViStatus status = m_pTransport->Write(pBuffer, nCount, m_callDeadline, &nDone);
    Trace(TraceDirection::Write, pBuffer, nDone);
    *pnWritten = static_cast<ViUInt32>(nDone);
    if (status == VI_SUCCESS && m_resource.nIntfType == VI_INTF_ASRL && m_bSendEndEnabled) {
        // END on a serial line is the termination character or a break after the data.
        if (m_nEndOut == VI_ASRL_END_TERMCHAR) {
            std::size_t nExtra = 0;
            status = m_pTransport->Write(&m_nTermChar, 1, m_callDeadline, &nExtra);
            Trace(TraceDirection::Write, &m_nTermChar, nExtra);
        } else if (m_nEndOut == VI_ASRL_END_BREAK) {
            status = m_pTransport->SendBreak();
            TraceEvent("break");
        }
    }
    return status;
}

ViStatus Session::Printf(const char* pszFormat, VaList& list) {
    const std::size_t nMark = m_strOut.size();
    const ViStatus status = FormatOutput(m_strOut, pszFormat, list);
    if (status < VI_SUCCESS) {
        m_strOut.resize(nMark);
        return status;
    }
    // Every formatted write goes out at the end of the call, so a command
    // never waits in the buffer for a later one, unless the caller asked to
    // hold output and the buffer has room.
    if (m_nWriteBufferMode == VI_FLUSH_DISABLE && m_strOut.size() < m_nWriteBufSize) {
        return VI_SUCCESS;
    }
    return Flush(VI_WRITE_BUF);
}

bool Session::LinkCarriesEnd() const {
    return (m_resource.nIntfType == VI_INTF_TCPIP || m_resource.nIntfType == VI_INTF_USB) &&
           m_resource.strClass == "INSTR";
}

void Session::DiscardBufferedInput() {
    m_nInPos = m_nInEnd = 0;
    m_bInEndsMessage = false;
}

ViStatus Session::DiscardRestOfMessage() {
    const ScanSource::EndTable& endBytes = EndBytes();
    const bool bCanTell = m_nSoleEndByte != ScanSource::kNoEndByte || LinkCarriesEnd();
    for (;;) {
        while (m_nInPos < m_nInEnd) {
            if (endBytes[m_vecIn[m_nInPos++]]) {
                if (m_nInPos == m_nInEnd) {
                    m_bInEndsMessage = false;
                }
                return VI_SUCCESS;
            }
        }
        if (m_bInEndsMessage) {
            m_bInEndsMessage = false;
            return VI_SUCCESS;
        }
        if (!bCanTell) {
            return VI_SUCCESS;
        }
        if (const ViStatus status = Refill(); status < VI_SUCCESS) {
            return status;
        }
    }
}

ViStatus Session::Scanf(const char* pszFormat, VaList& list) {
    ViStatus status = FlushHeldOutput();
    if (status < VI_SUCCESS) {
        return status;
    }
    bool bEnded = false;
    {
        SessionScanSource source(*this);
        status = ScanInput(source, pszFormat, list);
        bEnded = source.Ended();
    }
    if (bEnded) {
        // A scan that took the byte ending the message with the last
        // buffered byte took the whole message the link ended too.
        if (m_nInPos == m_nInEnd) {
            m_bInEndsMessage = false;
        }
    } else if (status >= VI_SUCCESS || status == VI_ERROR_INV_FMT) {
        // The rest of a reply, matched or not, must never become the answer
        // of a later read.
        const ViStatus discardStatus = DiscardRestOfMessage();
        if (status >= VI_SUCCESS && discardStatus < VI_SUCCESS) {
            status = discardStatus;
        }
    }
    if (m_nReadBufferMode == VI_FLUSH_ON_ACCESS) {
        DiscardBufferedInput();
    }
    return status;
}

ViStatus Session::Flush(ViUInt16 nMask) {
    if (nMask == 0 || (nMask & ~0xFFu) != 0 ||
        ((nMask & VI_READ_BUF) && (nMask & VI_READ_BUF_DISCARD)) ||
        ((nMask & VI_WRITE_BUF) && (nMask & VI_WRITE_BUF_DISCARD))) {
        return VI_ERROR_INV_MASK;
    }
    ViStatus status = VI_SUCCESS;
    if (nMask & (VI_READ_BUF | VI_READ_BUF_DISCARD)) {
        DiscardBufferedInput();
    }
    if (nMask & VI_WRITE_BUF_DISCARD) {
        m_strOut.clear();
    }
    if ((nMask & VI_WRITE_BUF) && !m_strOut.empty()) {
        // Taken out of the buffer first: Write sends held output itself.
        std::string strOut;
        strOut.swap(m_strOut);
        ViUInt32 nWritten = 0;
        status = Write(reinterpret_cast<const ViByte*>(strOut.data()),
                       static_cast<ViUInt32>(strOut.size()), &nWritten);
        // Keep the buffer's capacity for the next formatted call.
        strOut.clear();
        m_strOut.swap(strOut);
    }
    if (status == VI_SUCCESS && (nMask & (VI_IO_IN_BUF | VI_IO_IN_BUF_DISCARD))) {
        status = m_pTransport->DiscardInput();
    }
    if (status == VI_SUCCESS && (nMask & VI_IO_OUT_BUF)) {
        status = m_pTransport->DrainOutput();
    }
    return status;
}

ViStatus Session::Clear() {
    DiscardBufferedInput();
    m_strOut.clear();
    TraceEvent("device clear");
    const ViStatus status = m_pTransport->DeviceClear(m_callDeadline);
    return status == VI_ERROR_NSUP_OPER ? m_pTransport->DiscardInput() : status;
}

MessageOptions Session::MessageOptionsOf() const {
    MessageOptions options;
    options.bSendEnd = m_bSendEndEnabled == VI_TRUE;
    options.bTermCharEnabled = m_bTermCharEnabled == VI_TRUE;
    options.nTermChar = m_nTermChar;
    return options;
}

void Session::CloseTransport() {
    if (m_pTransport) {
        m_pTransport->Close();
        m_pTransport.reset();
    }
}

ViStatus Session::GetAttribute(ViAttr nAttribute, void* pValue) {
    if (m_pTransport && pValue != nullptr) {
        const ViStatus linkStatus = m_pTransport->GetLinkAttribute(nAttribute, pValue);
        if (linkStatus != VI_ERROR_NSUP_ATTR) {
            return linkStatus;
        }
    }
    const AttributeRow* pRow = FindAttribute(nAttribute, *this);
    if (pRow == nullptr) {
        return VI_ERROR_NSUP_ATTR;
    }
    if (pValue == nullptr) {
        return VI_ERROR_USER_BUF;
    }
    if (pRow->eType == AttrType::Text) {
        const std::string strValue = pRow->pfnText(*this);
        const std::size_t nLength = std::min(strValue.size(), std::size_t{VI_FIND_BUFLEN - 1});
        std::memcpy(pValue, strValue.data(), nLength);
        static_cast<char*>(pValue)[nLength] = '\0';
        return VI_SUCCESS;
    }
    const ViAttrState nValue = pRow->pfnGet(*this);
    switch (pRow->eType) {
        case AttrType::UInt8:
            *static_cast<ViUInt8*>(pValue) = static_cast<ViUInt8>(nValue);
            break;
        case AttrType::UInt16:
        case AttrType::Boolean:
            *static_cast<ViUInt16*>(pValue) = static_cast<ViUInt16>(nValue);
            break;
        case AttrType::UInt32:
        case AttrType::Handle:
            *static_cast<ViUInt32*>(pValue) = static_cast<ViUInt32>(nValue);
            break;
        case AttrType::Address:
            *static_cast<ViAddr*>(pValue) =
                reinterpret_cast<ViAddr>(static_cast<std::uintptr_t>(nValue));
            break;
        case AttrType::Text:
            break;
    }
    return VI_SUCCESS;
}

ViStatus Session::SetAttribute(ViAttr nAttribute, ViAttrState nValue) {
    if (m_pTransport) {
        const ViStatus linkStatus =
            m_pTransport->SetLinkAttribute(nAttribute, nValue, m_callDeadline);
        if (linkStatus != VI_ERROR_NSUP_ATTR) {
            return linkStatus;
        }
    }
    const AttributeRow* pRow = FindAttribute(nAttribute, *this);
    if (pRow == nullptr) {
        return VI_ERROR_NSUP_ATTR;
    }
    if (pRow->pfnSet == nullptr) {
        return VI_ERROR_ATTR_READONLY;
    }
    m_bEndBytesStale = true;
    return pRow->pfnSet(*this, nValue);
}

// ----- Session table -------------------------------------------------------

SessionTable& SessionTable::Instance() {
    // Never destroyed, so that a client closing sessions from its own static
    // destructors at exit still finds the table.
    static SessionTable* pTable = new SessionTable;
    return *pTable;
}

ViSession SessionTable::NextHandle() {
    // Caller holds m_mutex.
    do {
        ++m_nNext;
    } while (m_nNext == VI_NULL || m_mapSessions.count(m_nNext) != 0);
    return m_nNext;
}

SessionPtr SessionTable::Find(ViObject nHandle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_mapSessions.find(nHandle);
    return it == m_mapSessions.end() ? nullptr : it->second;
}

SessionPtr SessionTable::CreateResourceManager() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const ViSession nHandle = NextHandle();
    auto pSession = std::make_shared<Session>(SessionKind::ResourceManager, nHandle, nHandle);
    m_mapSessions.emplace(nHandle, pSession);
    return pSession;
}

SessionPtr SessionTable::AddInstrument(ViSession nRm, std::unique_ptr<Session> pOwned) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto itRm = m_mapSessions.find(nRm);
    if (itRm == m_mapSessions.end() || itRm->second->m_eKind != SessionKind::ResourceManager) {
        return nullptr;
    }
    const ViSession nHandle = NextHandle();
    pOwned->m_nHandle = nHandle;
    SessionPtr pSession(std::move(pOwned));
    m_mapSessions.emplace(nHandle, pSession);
    itRm->second->m_vecChildren.push_back(nHandle);
    return pSession;
}

std::vector<SessionPtr> SessionTable::Remove(ViObject nHandle) {
    std::vector<SessionPtr> vecRemoved;
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_mapSessions.find(nHandle);
    if (it == m_mapSessions.end()) {
        return vecRemoved;
    }
    SessionPtr pSession = it->second;
    m_mapSessions.erase(it);
    vecRemoved.push_back(pSession);
    if (pSession->m_eKind == SessionKind::ResourceManager) {
        for (ViSession nChild : pSession->m_vecChildren) {
            const auto itChild = m_mapSessions.find(nChild);
            if (itChild != m_mapSessions.end()) {
                vecRemoved.push_back(itChild->second);
                m_mapSessions.erase(itChild);
            }
        }
        pSession->m_vecChildren.clear();
    } else {
        const auto itRm = m_mapSessions.find(pSession->m_nRm);
        if (itRm != m_mapSessions.end()) {
            auto& vecChildren = itRm->second->m_vecChildren;
            vecChildren.erase(std::remove(vecChildren.begin(), vecChildren.end(), nHandle),
                              vecChildren.end());
        }
    }
    return vecRemoved;
}

}  // namespace tkvisa
