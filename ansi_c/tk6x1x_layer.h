// The frame of every IVI-ANSI-C function and the conversions it needs. The
// layer holds no driver behaviour: each function turns its C99 arguments into
// a call of the IVI-C functions of libTARVEK_64 (TARVEK.h), which take the
// session lock, use the caches, simulate and record errors, and turns the
// results back. What the layer itself refuses (a null pointer it must
// dereference, a buffer too small, a malformed option string) it records in
// its own last-error slot, which the next failure of the IVI-C driver
// replaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "TARVEK.h"
#include "tk6x1x.h"

namespace tk6x1x {

inline ViSession Vi(TK6x1xSession session) {
    return static_cast<ViSession>(reinterpret_cast<std::uintptr_t>(session));
}

inline TK6x1xSession Handle(ViSession vi) {
    return reinterpret_cast<TK6x1xSession>(static_cast<std::uintptr_t>(vi));
}

// Records a failure the layer found itself; returns nStatus.
int32_t Fail(ViSession vi, int32_t nStatus, std::string strText);

// After a call into the IVI-C driver: a failure there is now the last error.
int32_t Passed(ViSession vi, ViStatus status) noexcept;

// Runs body() and turns an escaped exception into a status.
template <class Body>
int32_t Guard(Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (const std::bad_alloc&) {
        return IVI_ERROR_OUT_OF_MEMORY;
    } catch (...) {
        return IVI_ERROR_CANNOT_RECOVER;
    }
}

// The variable-size protocol for a text the layer holds: size 0 or a null
// buffer gives the size only; a buffer too small gets the size and
// TK6X1X_ERROR_BUFFER_TOO_SMALL and stays untouched; otherwise the text and
// its null are written and size_required says how many bytes that was.
int32_t CopyOut(ViSession vi, std::string_view strText, std::size_t nSize, char* pBuffer,
                std::size_t* pSizeRequired, const char* pFunction);

// The longest text the layer asks the driver for; a larger positive status
// is a warning, not a size.
inline constexpr ViStatus kMaxTextSize = 1 << 20;

// Reads a text through an IVI-C call of the form f(bufferSize, buffer), which
// returns the size it needs when the buffer is too small, once with a buffer
// large enough; the protocol is then served from the copy. A warning of the
// call is returned with the text.
template <class Read>
ViStatus ReadText(Read&& read, std::string& strText) {
    std::string strBuffer(256, '\0');
    for (int nTry = 0; nTry < 4; ++nTry) {
        const ViStatus status = read(static_cast<ViInt32>(strBuffer.size()), strBuffer.data());
        if (status < 0) {
            return status;
        }
        if (status > 0 && status <= kMaxTextSize &&
            static_cast<std::size_t>(status) > strBuffer.size()) {
            strBuffer.assign(static_cast<std::size_t>(status), '\0');
            continue;
        }
        strText.assign(strBuffer.c_str());
        return status > kMaxTextSize ? status : VI_SUCCESS;
    }
    return IVI_ERROR_CANNOT_RECOVER;
}

// A text read by ReadText (with its status) handed out by CopyOut: a failure
// of either, else the read's warning, else success.
inline int32_t Handed(ViStatus readStatus, int32_t nCopied) {
    return nCopied != VI_SUCCESS ? nCopied : readStatus;
}

// A string attribute through the protocol.
int32_t GetString(TK6x1xSession session, const char* pChannel, ViAttr nId, std::size_t nSize,
                  char* pBuffer, std::size_t* pSizeRequired, const char* pFunction);

// Typed attribute access with C99 types.
int32_t GetInt32(TK6x1xSession session, const char* pChannel, ViAttr nId, int32_t* pValue);
int32_t SetInt32(TK6x1xSession session, const char* pChannel, ViAttr nId, int32_t nValue);
int32_t GetReal64(TK6x1xSession session, const char* pChannel, ViAttr nId, double* pValue);
int32_t SetReal64(TK6x1xSession session, const char* pChannel, ViAttr nId, double dValue);
int32_t GetBoolean(TK6x1xSession session, const char* pChannel, ViAttr nId, bool* pValue);
int32_t SetBoolean(TK6x1xSession session, const char* pChannel, ViAttr nId, bool bValue);
int32_t GetSession(TK6x1xSession session, const char* pChannel, ViAttr nId, uint32_t* pValue);
int32_t SetString(TK6x1xSession session, const char* pChannel, ViAttr nId, const char* pValue);

// A bool output of an IVI-C function: the ViBoolean it is given, copied out
// when the call succeeds. A null pointer stays null, so the driver reports it.
class BoolOut {
  public:
    explicit BoolOut(bool* pOut) : m_pOut(pOut) {}
    ViBoolean* get() { return m_pOut != nullptr ? &m_bValue : nullptr; }
    ViStatus Done(ViStatus status) {
        if (m_pOut != nullptr && status >= 0) {
            *m_pOut = m_bValue != VI_FALSE;
        }
        return status;
    }

  private:
    bool* m_pOut;
    ViBoolean m_bValue = VI_FALSE;
};

inline ViBoolean Vb(bool bValue) {
    return bValue ? VI_TRUE : VI_FALSE;
}

}  // namespace tk6x1x
