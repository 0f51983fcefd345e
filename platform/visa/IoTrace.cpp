#include "IoTrace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace tkvisa {
namespace {

// The file every session of the process appends to, opened once when the
// library loads so that tracing costs no lookup per call.
class ProcessTraceFile {
  public:
    ProcessTraceFile() {
        const char* pszPath = std::getenv(kTraceFileVariable);
        if (pszPath != nullptr && *pszPath != '\0') {
            m_fd = ::open(pszPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        }
    }
    // Left open at exit: sessions closed from static destructors still write.
    ProcessTraceFile(const ProcessTraceFile&) = delete;
    ProcessTraceFile& operator=(const ProcessTraceFile&) = delete;

    bool IsOpen() const { return m_fd >= 0; }

    // One write per call, so that a call's lines stay together and a reader
    // following the file never sees half a line of another process's append.
    void Append(const std::string& strLines) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::size_t nDone = 0;
        while (nDone < strLines.size()) {
            const ssize_t n = ::write(m_fd, strLines.data() + nDone, strLines.size() - nDone);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;  // a full disk loses trace lines, never I/O
            }
            nDone += static_cast<std::size_t>(n);
        }
    }

  private:
    int m_fd = -1;
    std::mutex m_mutex;
};

ProcessTraceFile& TheProcessTraceFile() {
    static ProcessTraceFile* pFile = new ProcessTraceFile;
    return *pFile;
}

// Opens the file while the library loads, before any session exists.
const bool g_bProcessTraceOn = TheProcessTraceFile().IsOpen();

const char* DirectionName(TraceDirection eDirection) {
    switch (eDirection) {
        case TraceDirection::Write:
            return "write";
        case TraceDirection::Read:
            return "read";
        case TraceDirection::Event:
            break;
    }
    return "event";
}

std::int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool ProcessTraceOn() {
    return g_bProcessTraceOn;
}

void AppendTraceLine(std::string& strOut, const TraceEntry& entry) {
    char szHead[96];
    const std::int64_t nSeconds = entry.nTimeUs / 1000000;
    const std::int64_t nMicros = entry.nTimeUs % 1000000;
    std::snprintf(szHead, sizeof szHead, "%lld.%06lld 0x%08X %s ", static_cast<long long>(nSeconds),
                  static_cast<long long>(nMicros), static_cast<unsigned>(entry.nSession),
                  DirectionName(entry.eDirection));
    strOut += szHead;
    strOut += entry.pszCall;
    std::snprintf(szHead, sizeof szHead, " 0x%08X \"", static_cast<unsigned>(entry.status));
    strOut += szHead;
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char cSigned : entry.strData) {
        const auto c = static_cast<unsigned char>(cSigned);
        switch (c) {
            case '\n':
                strOut += "\\n";
                break;
            case '\r':
                strOut += "\\r";
                break;
            case '\t':
                strOut += "\\t";
                break;
            case '\\':
                strOut += "\\\\";
                break;
            case '"':
                strOut += "\\\"";
                break;
            default:
                if (c >= 0x20 && c < 0x7F) {
                    strOut += static_cast<char>(c);
                } else {
                    strOut += "\\x";
                    strOut += kHex[c >> 4];
                    strOut += kHex[c & 0xF];
                }
        }
    }
    strOut += "\"\n";
}

ViStatus IoTrace::SetCapacity(ViAttrState nCapacity) {
    if (nCapacity < 1 || nCapacity > kMaxTraceCapacity) {
        return VI_ERROR_NSUP_ATTR_STATE;
    }
    m_nCapacity = static_cast<ViUInt32>(nCapacity);
    while (m_ring.size() > m_nCapacity) {
        m_nBytes -= m_ring.front().strData.size();
        m_ring.pop_front();
        ++m_nDropped;
    }
    return VI_SUCCESS;
}

void IoTrace::Record(TraceDirection eDirection, const void* pData, std::size_t nCount) {
    if (!m_bRing && !ProcessTraceOn()) {
        return;
    }
    TraceEntry entry;
    entry.nTimeUs = NowUs();
    entry.eDirection = eDirection;
    if (nCount > 0) {
        entry.strData.assign(static_cast<const char*>(pData), nCount);
    }
    m_vecPending.push_back(std::move(entry));
}

void IoTrace::Keep(TraceEntry entry) {
    m_nBytes += entry.strData.size();
    m_ring.push_back(std::move(entry));
    while (m_ring.size() > 1 && (m_ring.size() > m_nCapacity || m_nBytes > kTraceByteBudget)) {
        m_nBytes -= m_ring.front().strData.size();
        m_ring.pop_front();
        ++m_nDropped;
    }
}

void IoTrace::EndCall(const char* pszCall, ViStatus status) noexcept {
    if (m_vecPending.empty()) {
        return;
    }
    try {
        std::string strLines;
        for (TraceEntry& entry : m_vecPending) {
            entry.nSession = m_nSession;
            entry.pszCall = pszCall != nullptr ? pszCall : "viUnknown";
            entry.status = status;
            if (ProcessTraceOn()) {
                AppendTraceLine(strLines, entry);
            }
            if (m_bRing) {
                Keep(std::move(entry));
            }
        }
        if (!strLines.empty()) {
            TheProcessTraceFile().Append(strLines);
        }
    } catch (...) {
        // Out of memory: the trace loses these entries, the call its status never.
    }
    m_vecPending.clear();
}

std::string IoTrace::Text() const {
    std::string strText;
    for (const TraceEntry& entry : m_ring) {
        AppendTraceLine(strText, entry);
    }
    return strText;
}

void IoTrace::Clear() {
    m_ring.clear();
    m_nBytes = 0;
    m_nDropped = 0;
}

}  // namespace tkvisa
