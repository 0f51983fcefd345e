// The VISA side of a session. Every command and query goes through the
// formatted I/O of the instrument session; a negative VISA status is returned
// as it came and never recorded, and a successful exchange is followed by the
// instrument status check.
#include "runtime/io/VisaSession.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "runtime/session/DriverSession.h"
#include "visa.h"

namespace drt {

namespace {

// Bits 2 to 5 of the standard event status register: query, device-dependent,
// execution and command errors.
constexpr ViInt32 kEsrErrorBits = 0x3C;
// Characters kept per identity field, and room for a whole identity answer.
constexpr std::size_t kIdentityFieldSize = 256;
constexpr ViInt32 kIdentityResponseSize = 4 * 257 + 2;

}  // namespace

template <class Session>
ViStatus VisaSession<Session>::OpenIo() {
    Session& session = Self();
    if (session.GetSimulate()) {
        return VI_SUCCESS;
    }
    ViStatus status = viOpenDefaultRM(&session.ResourceManagerHandle());
    if (status < 0) {
        return status;
    }
    return viOpen(session.ResourceManagerHandle(), session.GetIoResourceDescriptor().c_str(),
                  VI_NULL, session.GetOpenTimeout(), &session.InstrumentHandle());
}

template <class Session>
ViStatus VisaSession<Session>::CloseIo() {
    Session& session = Self();
    if (session.GetSimulate() || session.ResourceManagerHandle() == VI_NULL) {
        return VI_SUCCESS;
    }
    // Closing the resource manager closes the instrument session opened
    // through it.
    const ViStatus status = viClose(session.ResourceManagerHandle());
    if (status < 0) {
        return status;
    }
    session.ResourceManagerHandle() = VI_NULL;
    session.InstrumentHandle() = VI_NULL;
    return status;
}

template <class Session>
ViStatus VisaSession<Session>::ClearStatus() {
    if (Self().GetSimulate()) {
        return VI_SUCCESS;
    }
    const ViStatus status = Printf("*CLS\n");
    return status < 0 ? status : CheckStatus();
}

template <class Session>
ViStatus VisaSession<Session>::QueryIdentity(std::string& strManufacturer, std::string& strModel,
                                             std::string& strSerialNumber,
                                             std::string& strFirmwareRevision) {
    if (Self().GetSimulate()) {
        return VI_SUCCESS;
    }
    // The whole answer is read as one line and split here, so that an answer
    // with fewer than four fields fills what came (the rest stay empty) and is
    // consumed entirely either way. Each field keeps at most 256 characters,
    // blanks included; the line's terminator is not part of the last field.
    ViChar response[kIdentityResponseSize] = {};
    ViInt32 nCount = kIdentityResponseSize;
    const ViStatus status = Queryf("*IDN?\n", "%#T", &nCount, response);
    if (status < 0) {
        return status;
    }
    std::string strResponse(response, static_cast<std::size_t>(std::clamp<ViInt32>(
                                          nCount, 0, kIdentityResponseSize - 1)));
    strResponse.resize(std::min(strResponse.size(), std::strlen(strResponse.c_str())));
    while (!strResponse.empty() && (strResponse.back() == '\n' || strResponse.back() == '\r')) {
        strResponse.pop_back();
    }
    std::string* fields[] = {&strManufacturer, &strModel, &strSerialNumber, &strFirmwareRevision};
    std::size_t nStart = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        std::string strField;
        if (nStart <= strResponse.size()) {
            const std::size_t nComma = i < 3 ? strResponse.find(',', nStart) : std::string::npos;
            const std::size_t nEnd = nComma == std::string::npos ? strResponse.size() : nComma;
            strField = strResponse.substr(nStart,
                                          std::min<std::size_t>(nEnd - nStart, kIdentityFieldSize));
            nStart = nComma == std::string::npos ? strResponse.size() + 1 : nComma + 1;
        }
        *fields[i] = strField;
    }
    return CheckStatus();
}

template <class Session>
ViStatus VisaSession<Session>::CheckStatus() {
    Session& session = Self();
    if (!session.GetQueryInstrStatus() || session.GetSimulate()) {
        return VI_SUCCESS;
    }
    ViInt32 nEventStatus = 0;
    const ViStatus status = Queryf("*ESR?\n", "%ld%*T", &nEventStatus);
    if (status < 0) {
        return status;
    }
    if ((nEventStatus & 0xFF & kEsrErrorBits) != 0) {
        return session.ReportError(IVI_ERROR_INSTRUMENT_STATUS);
    }
    return status;
}

template <class Session>
void VisaSession<Session>::HoldOutput() {
    if (m_nCallDepth == 0 || m_bHoldingOutput) {
        return;
    }
    // A VISA library without held output refuses the mode; every command then
    // goes out on its own, as before.
    const ViSession hInstrument = Self().GetInstrumentHandle();
    if (viGetAttribute(hInstrument, VI_ATTR_WR_BUF_OPER_MODE, &m_nSavedWriteMode) >= 0 &&
        viSetAttribute(hInstrument, VI_ATTR_WR_BUF_OPER_MODE, VI_FLUSH_DISABLE) >= 0) {
        m_bHoldingOutput = true;
    }
}

template <class Session>
ViStatus VisaSession<Session>::EndCall() {
    if (--m_nCallDepth > 0 || !m_bHoldingOutput) {
        return VI_SUCCESS;
    }
    m_bHoldingOutput = false;
    const ViSession hInstrument = Self().GetInstrumentHandle();
    const ViStatus status = viFlush(hInstrument, VI_WRITE_BUF);
    viSetAttribute(hInstrument, VI_ATTR_WR_BUF_OPER_MODE, m_nSavedWriteMode);
    if (status < 0) {
        // The call already cached values whose commands did not all arrive.
        Self().InvalidateAllAttributes();
    }
    return status;
}

template <class Session>
ViStatus VisaSession<Session>::Printf(const char* pFormat, ...) {
    HoldOutput();
    va_list args;
    va_start(args, pFormat);
    const ViStatus status = viVPrintf(Self().GetInstrumentHandle(), pFormat, args);
    va_end(args);
    return status;
}

template <class Session>
ViStatus VisaSession<Session>::Queryf(const char* pCommand, const char* pResponseFormat, ...) {
    // Bytes that arrived before the question (the rest of a reply whose query
    // timed out, output nobody asked for) are not its answer: dropped here,
    // they cannot shift every later answer by one.
    const ViStatus flushStatus =
        viFlush(Self().GetInstrumentHandle(), VI_READ_BUF_DISCARD | VI_IO_IN_BUF_DISCARD);
    if (flushStatus < 0) {
        return flushStatus;
    }
    va_list args;
    va_start(args, pResponseFormat);
    const ViStatus status =
        viVQueryf(Self().GetInstrumentHandle(), pCommand, pResponseFormat, args);
    va_end(args);
    return status;
}

template class VisaSession<DriverSession>;

}  // namespace drt
