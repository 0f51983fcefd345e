#include "MessageIo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ApiFrame.h"
#include "Events.h"

namespace tkvisa {
namespace {

// Buffers larger than this are refused rather than risked.
constexpr ViUInt32 kMaxBufferSize = 64u << 20;
constexpr std::size_t kFileChunk = 64 * 1024;

bool SpeaksStrings(const Session& session) {
    return session.m_nIoProtocol == VI_PROT_4882_STRS &&
           (session.m_resource.nIntfType == VI_INTF_ASRL ||
            session.m_resource.strClass == "SOCKET");
}

// Sends a message exactly as given, bypassing the serial END translation:
// the message carries its own line feed.
ViStatus SendRaw(Session& session, const char* pszMessage) {
    std::size_t nDone = 0;
    // As every write: what is left of earlier replies cannot answer this one.
    session.DiscardBufferedInput();
    session.m_pTransport->SetMessageOptions(session.MessageOptionsOf());
    const ViStatus status =
        session.m_pTransport->Write(reinterpret_cast<const ViByte*>(pszMessage),
                                    std::strlen(pszMessage), session.m_callDeadline, &nDone);
    session.Trace(TraceDirection::Write, pszMessage, nDone);
    return status;
}

struct FileCloser {
    void operator()(std::FILE* pFile) const { std::fclose(pFile); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Asynchronous transfers complete before the call returns (VI_SUCCESS_SYNC);
// the transfer's own status and count arrive with the I/O completion event.
template <typename Transfer>
ViStatus CompleteAtOnce(ViSession vi, ViBuf pBuffer, ViUInt32 nCount, const char* pszOperation,
                        ViPJobId pJobId, Transfer transfer) {
    if (pJobId != nullptr) {
        *pJobId = VI_NULL_JOB;
    }
    EventData event;
    event.nType = VI_EVENT_IO_COMPLETION;
    event.pBuffer = pBuffer;
    event.pszOperation = pszOperation;
    const ViStatus status = WithSession(vi, true, pszOperation, [&](Session& session) -> ViStatus {
        if (pBuffer == nullptr && nCount != 0) {
            return VI_ERROR_USER_BUF;
        }
        ViUInt32 nDone = 0;
        event.status = transfer(session, &nDone);
        event.nRetCount = nDone;
        return VI_SUCCESS_SYNC;
    });
    if (status < VI_SUCCESS) {
        return status;
    }
    event.nJobId = NewJobId();
    if (pJobId != nullptr) {
        *pJobId = event.nJobId;
    }
    PostEvent(vi, event);
    return status;
}

}  // namespace

ViStatus ReadStatusByteByMessage(Session& session, ViUInt16* pStatus) {
    if (!SpeaksStrings(session)) {
        return VI_ERROR_NSUP_OPER;
    }
    ViStatus status = SendRaw(session, "*STB?\n");
    if (status < VI_SUCCESS) {
        return status;
    }
    // The answer is one line, whatever the session's termination settings.
    const ViUInt8 nTermChar = session.m_nTermChar;
    const ViBoolean bTermCharEnabled = session.m_bTermCharEnabled;
    session.m_nTermChar = '\n';
    session.m_bTermCharEnabled = VI_TRUE;
    session.m_bEndBytesStale = true;
    char szReply[64] = {};
    ViUInt32 nRead = 0;
    status = session.Read(reinterpret_cast<ViByte*>(szReply), sizeof szReply - 1, &nRead);
    if (status == VI_SUCCESS_MAX_CNT) {
        // Too long to be a status byte; the rest of the line goes too.
        const ViStatus discardStatus = session.DiscardRestOfMessage();
        status = discardStatus < VI_SUCCESS ? discardStatus : status;
    }
    session.m_nTermChar = nTermChar;
    session.m_bTermCharEnabled = bTermCharEnabled;
    session.m_bEndBytesStale = true;
    if (status < VI_SUCCESS) {
        return status;
    }
    szReply[nRead] = '\0';
    char* pEnd = nullptr;
    errno = 0;
    const long nValue = std::strtol(szReply, &pEnd, 10);
    while (*pEnd == '\r' || *pEnd == '\n' || *pEnd == ' ') {
        ++pEnd;
    }
    if (pEnd == szReply || *pEnd != '\0' || errno != 0 || nValue < 0 || nValue > 255) {
        return VI_ERROR_IO;
    }
    *pStatus = static_cast<ViUInt16>(nValue);
    return VI_SUCCESS;
}

ViStatus AssertTriggerByMessage(Session& session) {
    if (!SpeaksStrings(session)) {
        return VI_ERROR_NSUP_OPER;
    }
    return SendRaw(session, "*TRG\n");
}

}  // namespace tkvisa

using namespace tkvisa;

extern "C" {

ViStatus _VI_FUNC viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size) {
    return WithSession(vi, true, [&](Session& session) -> ViStatus {
        constexpr ViUInt16 kKnown = VI_READ_BUF | VI_WRITE_BUF | VI_IO_IN_BUF | VI_IO_OUT_BUF;
        if (mask == 0 || (mask & ~kKnown) != 0) {
            return VI_ERROR_INV_MASK;
        }
        if (size > kMaxBufferSize) {
            return VI_ERROR_ALLOC;
        }
        if (mask & VI_READ_BUF) {
            // Bytes already buffered stay; the buffer never holds fewer than one.
            const std::size_t nPending = session.m_nInEnd - session.m_nInPos;
            std::vector<ViByte> vecNew(
                std::max<std::size_t>({std::size_t{size}, nPending, std::size_t{1}}));
            std::copy(session.m_vecIn.begin() + static_cast<std::ptrdiff_t>(session.m_nInPos),
                      session.m_vecIn.begin() + static_cast<std::ptrdiff_t>(session.m_nInEnd),
                      vecNew.begin());
            session.m_vecIn.swap(vecNew);
            session.m_nInPos = 0;
            session.m_nInEnd = nPending;
        }
        if (mask & VI_WRITE_BUF) {
            session.m_nWriteBufSize = size;
        }
        // The operating system's buffers keep the sizes it chose.
        return (mask & (VI_IO_IN_BUF | VI_IO_OUT_BUF)) ? VI_WARN_NSUP_BUF : VI_SUCCESS;
    });
}

ViStatus _VI_FUNC viBufWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    if (retCnt != nullptr) {
        *retCnt = 0;
    }
    return WithSession(vi, true, "viBufWrite", [&](Session& session) -> ViStatus {
        if (buf == nullptr && cnt != 0) {
            return VI_ERROR_USER_BUF;
        }
        session.m_strOut.append(reinterpret_cast<const char*>(buf), cnt);
        if (retCnt != nullptr) {
            *retCnt = cnt;
        }
        return session.m_strOut.size() >= session.m_nWriteBufSize ? session.Flush(VI_WRITE_BUF)
                                                                  : VI_SUCCESS;
    });
}

ViStatus _VI_FUNC viBufRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
    // Reads always go through the session's read buffer.
    return viRead(vi, buf, cnt, retCnt);
}

ViStatus _VI_FUNC viVSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt, ViVAList parms) {
    return WithSession(vi, true, [&](Session&) -> ViStatus {
        if (buf == nullptr || writeFmt == nullptr) {
            return VI_ERROR_USER_BUF;
        }
        std::string strText;
        VaList list;
        va_copy(list.args, parms);
        const ViStatus status = FormatOutput(strText, writeFmt, list);
        va_end(list.args);
        if (status >= VI_SUCCESS) {
            std::memcpy(buf, strText.c_str(), strText.size() + 1);
        }
        return status;
    });
}

ViStatus _VI_FUNCC viSPrintf(ViSession vi, ViPBuf buf, ViConstString writeFmt, ...) {
    va_list args;
    va_start(args, writeFmt);
    const ViStatus status = viVSPrintf(vi, buf, writeFmt, args);
    va_end(args);
    return status;
}

ViStatus _VI_FUNC viVSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt, ViVAList arglist) {
    return WithSession(vi, true, [&](Session&) -> ViStatus {
        if (buf == nullptr || readFmt == nullptr) {
            return VI_ERROR_USER_BUF;
        }
        // The string is the whole message: its end is the END of the input.
        MemoryScanSource source(buf, std::strlen(reinterpret_cast<const char*>(buf)));
        VaList list;
        va_copy(list.args, arglist);
        const ViStatus status = ScanInput(source, readFmt, list);
        va_end(list.args);
        return status;
    });
}

ViStatus _VI_FUNCC viSScanf(ViSession vi, ViConstBuf buf, ViConstString readFmt, ...) {
    va_list args;
    va_start(args, readFmt);
    const ViStatus status = viVSScanf(vi, buf, readFmt, args);
    va_end(args);
    return status;
}

ViStatus _VI_FUNC viReadAsync(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPJobId jobId) {
    return CompleteAtOnce(
        vi, buf, cnt, "viReadAsync", jobId,
        [&](Session& session, ViUInt32* pnDone) { return session.Read(buf, cnt, pnDone); });
}

ViStatus _VI_FUNC viWriteAsync(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPJobId jobId) {
    // The event's buffer attribute is a ViBuf; the data is only read.
    return CompleteAtOnce(
        vi, const_cast<ViBuf>(buf), cnt, "viWriteAsync", jobId,
        [&](Session& session, ViUInt32* pnDone) { return session.Write(buf, cnt, pnDone); });
}

ViStatus _VI_FUNC viTerminate(ViObject vi, ViUInt16 degree, ViJobId jobId) {
    return WithSession(vi, false, [&](Session&) -> ViStatus {
        if (degree != VI_NULL) {
            return VI_ERROR_INV_DEGREE;
        }
        (void)jobId;  // every job has completed before its call returned
        return VI_ERROR_INV_JOB_ID;
    });
}

ViStatus _VI_FUNC viReadToFile(ViSession vi, ViConstString filename, ViUInt32 cnt,
                               ViPUInt32 retCnt) {
    if (retCnt != nullptr) {
        *retCnt = 0;
    }
    return WithSession(vi, true, "viReadToFile", [&](Session& session) -> ViStatus {
        if (filename == nullptr) {
            return VI_ERROR_USER_BUF;
        }
        const File pFile(std::fopen(filename, session.m_bFileAppend ? "ab" : "wb"));
        if (!pFile) {
            return VI_ERROR_FILE_ACCESS;
        }
        std::vector<ViByte> vecChunk(kFileChunk);
        ViUInt32 nTotal = 0;
        ViStatus status = VI_SUCCESS_MAX_CNT;
        while (nTotal < cnt && status == VI_SUCCESS_MAX_CNT) {
            const ViUInt32 nWant = std::min<ViUInt32>(cnt - nTotal, kFileChunk);
            ViUInt32 nRead = 0;
            status = session.Read(vecChunk.data(), nWant, &nRead);
            if (nRead > 0 && std::fwrite(vecChunk.data(), 1, nRead, pFile.get()) != nRead) {
                return VI_ERROR_FILE_IO;
            }
            nTotal += nRead;
            if (retCnt != nullptr) {
                *retCnt = nTotal;
            }
        }
        return std::fflush(pFile.get()) == 0 ? status : VI_ERROR_FILE_IO;
    });
}

ViStatus _VI_FUNC viWriteFromFile(ViSession vi, ViConstString filename, ViUInt32 cnt,
                                  ViPUInt32 retCnt) {
    if (retCnt != nullptr) {
        *retCnt = 0;
    }
    return WithSession(vi, true, "viWriteFromFile", [&](Session& session) -> ViStatus {
        if (filename == nullptr) {
            return VI_ERROR_USER_BUF;
        }
        const File pFile(std::fopen(filename, "rb"));
        if (!pFile) {
            return VI_ERROR_FILE_ACCESS;
        }
        // One message: the whole (or first cnt bytes of the) file in one write.
        std::vector<ViByte> vecData;
        std::vector<ViByte> vecChunk(kFileChunk);
        while (vecData.size() < cnt) {
            const std::size_t nWant = std::min<std::size_t>(cnt - vecData.size(), kFileChunk);
            const std::size_t nGot = std::fread(vecChunk.data(), 1, nWant, pFile.get());
            vecData.insert(vecData.end(), vecChunk.begin(),
                           vecChunk.begin() + static_cast<std::ptrdiff_t>(nGot));
            if (nGot < nWant) {
                if (std::ferror(pFile.get())) {
                    return VI_ERROR_FILE_IO;
                }
                break;
            }
        }
        ViUInt32 nWritten = 0;
        const ViStatus status =
            session.Write(vecData.data(), static_cast<ViUInt32>(vecData.size()), &nWritten);
        if (retCnt != nullptr) {
            *retCnt = nWritten;
        }
        return status;
    });
}

}  // extern "C"
