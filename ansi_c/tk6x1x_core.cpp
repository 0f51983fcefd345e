// The hand-written part of the IVI-ANSI-C interface: opening and closing,
// the identity and status properties, the error functions and direct I/O,
// and the helpers the generated accessors share. All of it calls the IVI-C
// driver; see tk6x1x_layer.h.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "tk6x1x_layer.h"

static_assert(TK6X1X_ERROR_INSTRUMENT_STATUS == IVI_ERROR_INSTRUMENT_STATUS);
static_assert(TK6X1X_ERROR_INVALID_VALUE == IVI_ERROR_INVALID_VALUE);
static_assert(TK6X1X_ERROR_ATTRIBUTE_NOT_SUPPORTED == IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED);
static_assert(TK6X1X_ERROR_VALUE_NOT_SUPPORTED == IVI_ERROR_VALUE_NOT_SUPPORTED);
static_assert(TK6X1X_ERROR_NULL_POINTER == IVI_ERROR_NULL_POINTER);
static_assert(TK6X1X_ERROR_INVALID_SESSION == IVI_ERROR_INVALID_SESSION_HANDLE);
static_assert(TK6X1X_ERROR_BAD_OPTION_NAME == IVI_ERROR_BAD_OPTION_NAME);
static_assert(TK6X1X_ERROR_BAD_OPTION_VALUE == IVI_ERROR_BAD_OPTION_VALUE);
static_assert(sizeof(int32_t) == sizeof(ViInt32) && sizeof(int16_t) == sizeof(ViInt16));

namespace tk6x1x {

namespace {

constexpr char kBufferTooSmall[] = "The buffer is too small for the value.";

struct ErrorRecord {
    int32_t nStatus = 0;
    std::string strText;
};

// One error-queue entry taken from the instrument but not yet handed out.
struct QueueEntry {
    ViInt32 nCode = 0;
    std::string strMessage;
};

struct LayerState {
    std::mutex mutex;
    std::map<ViSession, ErrorRecord> mapErrors;  // the layer's own last errors
    std::map<ViSession, QueueEntry> mapPending;  // error_query entries kept back
};

LayerState& State() {
    static LayerState* pState = new LayerState;  // outlives every static destructor
    return *pState;
}

// A failed TK6x1x_init has no session: its record belongs to the thread, as
// the IVI-C driver's does.
thread_local std::optional<ErrorRecord> t_initError;

std::optional<ErrorRecord> OwnError(ViSession vi) {
    if (vi == VI_NULL) {
        return t_initError;
    }
    std::lock_guard<std::mutex> guard(State().mutex);
    const auto it = State().mapErrors.find(vi);
    if (it == State().mapErrors.end()) {
        return std::nullopt;
    }
    return it->second;
}

void ForgetOwnError(ViSession vi) {
    if (vi == VI_NULL) {
        t_initError.reset();
        return;
    }
    std::lock_guard<std::mutex> guard(State().mutex);
    State().mapErrors.erase(vi);
}

std::string StatusText(int32_t nStatus) {
    if (nStatus == TK6X1X_ERROR_BUFFER_TOO_SMALL) {
        return kBufferTooSmall;
    }
    ViChar text[256] = {};
    if (TARVEK_error_message(VI_NULL, nStatus, text) < 0) {
        return {};
    }
    return text;
}

// The IVI-C session lock held across the several calls of one function.
class SessionLock {
  public:
    explicit SessionLock(ViSession vi) : m_vi(vi), m_status(TARVEK_LockSession(vi, VI_NULL)) {}
    ~SessionLock() {
        if (m_status >= 0) {
            TARVEK_UnlockSession(m_vi, VI_NULL);
        }
    }
    SessionLock(const SessionLock&) = delete;
    SessionLock& operator=(const SessionLock&) = delete;
    ViStatus status() const { return m_status; }

  private:
    ViSession m_vi;
    ViStatus m_status;
};

// The options "name=value;name=value" as the IVI-C option string
// "name=value,name=value[,DriverSetup=text]"; an empty text when they are
// refused (strError says why).
std::optional<std::string> TranslateOptions(std::string_view strOptions, int32_t& nStatus,
                                            std::string& strError) {
    auto trim = [](std::string_view str) {
        while (!str.empty() && std::isspace(static_cast<unsigned char>(str.front()))) {
            str.remove_prefix(1);
        }
        while (!str.empty() && std::isspace(static_cast<unsigned char>(str.back()))) {
            str.remove_suffix(1);
        }
        return str;
    };
    std::string strInherent;
    std::optional<std::string> strDriverSetup;
    while (!strOptions.empty()) {
        const std::size_t nEnd = std::min(strOptions.find(';'), strOptions.size());
        const std::string_view strPair = trim(strOptions.substr(0, nEnd));
        strOptions.remove_prefix(std::min(nEnd + 1, strOptions.size()));
        if (strPair.empty()) {
            continue;
        }
        const std::size_t nEqual = strPair.find('=');
        const std::string_view strName = trim(strPair.substr(0, std::min(nEqual, strPair.size())));
        if (nEqual == std::string_view::npos || strName.empty() ||
            strName.find(',') != std::string_view::npos) {
            nStatus = IVI_ERROR_BAD_OPTION_NAME;
            strError =
                "Each option must be name=value, separated by ';': '" + std::string(strPair) + "'.";
            return std::nullopt;
        }
        const std::string_view strValue = trim(strPair.substr(nEqual + 1));
        std::string strLower(strName);
        std::transform(strLower.begin(), strLower.end(), strLower.begin(),
                       [](char ch) { return static_cast<char>(std::tolower(ch)); });
        if (strLower == "driversetup") {
            strDriverSetup = std::string(strValue);
            continue;
        }
        // A comma would start another option of the IVI-C option string.
        if (strValue.find(',') != std::string_view::npos || strValue.empty()) {
            nStatus = IVI_ERROR_BAD_OPTION_VALUE;
            strError = "The option '" + std::string(strName) + "' has the value '" +
                       std::string(strValue) + "'; expected true or false.";
            return std::nullopt;
        }
        if (!strInherent.empty()) {
            strInherent += ',';
        }
        strInherent.append(strName).append("=").append(strValue);
    }
    if (strDriverSetup) {
        strInherent += (strInherent.empty() ? "DriverSetup=" : ",DriverSetup=") + *strDriverSetup;
    }
    return strInherent;
}

int32_t CheckOut(ViSession vi, const void* pPointer, const char* pFunction, const char* pName) {
    if (pPointer != nullptr) {
        return VI_SUCCESS;
    }
    return Fail(vi, IVI_ERROR_NULL_POINTER,
                std::string(pFunction) + ": the parameter " + pName + " is a null pointer.");
}

// Takes one entry from the error queue: the one kept back, else the
// instrument's next one. The caller holds the session lock.
ViStatus NextQueueEntry(ViSession vi, QueueEntry& entry) {
    {
        std::lock_guard<std::mutex> guard(State().mutex);
        const auto it = State().mapPending.find(vi);
        if (it != State().mapPending.end()) {
            entry = std::move(it->second);
            State().mapPending.erase(it);
            return VI_SUCCESS;
        }
    }
    ViChar message[256] = {};
    const ViStatus status = TARVEK_error_query(vi, &entry.nCode, message);
    entry.strMessage = message;
    return status;
}

void KeepBack(ViSession vi, QueueEntry entry) {
    std::lock_guard<std::mutex> guard(State().mutex);
    State().mapPending[vi] = std::move(entry);
}

// The most entries read_and_clear_error_queue takes from one instrument, so
// that one which never reports "no error" cannot hold the caller forever;
// far more than an instrument's error queue holds.
constexpr int kMaxQueueEntries = 256;

}  // namespace

int32_t Fail(ViSession vi, int32_t nStatus, std::string strText) {
    std::string strMessage = StatusText(nStatus);
    if (!strText.empty()) {
        strMessage += (strMessage.empty() ? "" : "  ") + strText;
    }
    ErrorRecord record{nStatus, std::move(strMessage)};
    if (vi == VI_NULL) {
        t_initError = std::move(record);
    } else {
        std::lock_guard<std::mutex> guard(State().mutex);
        State().mapErrors[vi] = std::move(record);
    }
    return nStatus;
}

int32_t Passed(ViSession vi, ViStatus status) noexcept {
    if (status < 0) {
        try {
            ForgetOwnError(vi);
        } catch (...) {
            // A mutex that cannot be taken leaves the older text; the status stands.
        }
    }
    return status;
}

int32_t CopyOut(ViSession vi, std::string_view strText, std::size_t nSize, char* pBuffer,
                std::size_t* pSizeRequired, const char* pFunction) {
    const std::size_t nNeeded = strText.size() + 1;
    if (nSize == 0 || pBuffer == nullptr) {
        if (pSizeRequired == nullptr) {
            return Fail(vi, IVI_ERROR_NULL_POINTER,
                        std::string(pFunction) +
                            ": size_required is a null pointer and there is no buffer.");
        }
        *pSizeRequired = nNeeded;
        return VI_SUCCESS;
    }
    if (pSizeRequired != nullptr) {
        *pSizeRequired = nNeeded;
    }
    if (nSize < nNeeded) {
        return Fail(vi, TK6X1X_ERROR_BUFFER_TOO_SMALL,
                    std::string(pFunction) + ": the buffer holds " + std::to_string(nSize) +
                        " bytes; the value needs " + std::to_string(nNeeded) +
                        " with its terminating null.");
    }
    std::memcpy(pBuffer, strText.data(), strText.size());
    pBuffer[strText.size()] = '\0';
    return VI_SUCCESS;
}

int32_t GetString(TK6x1xSession session, const char* pChannel, ViAttr nId, std::size_t nSize,
                  char* pBuffer, std::size_t* pSizeRequired, const char* pFunction) {
    const ViSession vi = Vi(session);
    return Guard([&]() -> int32_t {
        std::string strValue;
        const ViStatus status = ReadText(
            [&](ViInt32 nBufferSize, ViChar* pText) {
                return TARVEK_GetAttributeViString(vi, pChannel != nullptr ? pChannel : "", nId,
                                                   nBufferSize, pText);
            },
            strValue);
        if (status < 0) {
            return Passed(vi, status);
        }
        return Handed(status, CopyOut(vi, strValue, nSize, pBuffer, pSizeRequired, pFunction));
    });
}

int32_t GetInt32(TK6x1xSession session, const char* pChannel, ViAttr nId, int32_t* pValue) {
    const ViSession vi = Vi(session);
    return Passed(vi, TARVEK_GetAttributeViInt32(vi, pChannel != nullptr ? pChannel : "", nId,
                                                 reinterpret_cast<ViInt32*>(pValue)));
}

int32_t SetInt32(TK6x1xSession session, const char* pChannel, ViAttr nId, int32_t nValue) {
    const ViSession vi = Vi(session);
    return Passed(vi,
                  TARVEK_SetAttributeViInt32(vi, pChannel != nullptr ? pChannel : "", nId, nValue));
}

int32_t GetReal64(TK6x1xSession session, const char* pChannel, ViAttr nId, double* pValue) {
    const ViSession vi = Vi(session);
    return Passed(
        vi, TARVEK_GetAttributeViReal64(vi, pChannel != nullptr ? pChannel : "", nId, pValue));
}

int32_t SetReal64(TK6x1xSession session, const char* pChannel, ViAttr nId, double dValue) {
    const ViSession vi = Vi(session);
    return Passed(
        vi, TARVEK_SetAttributeViReal64(vi, pChannel != nullptr ? pChannel : "", nId, dValue));
}

int32_t GetBoolean(TK6x1xSession session, const char* pChannel, ViAttr nId, bool* pValue) {
    const ViSession vi = Vi(session);
    BoolOut value(pValue);
    return Passed(vi, value.Done(TARVEK_GetAttributeViBoolean(
                          vi, pChannel != nullptr ? pChannel : "", nId, value.get())));
}

int32_t SetBoolean(TK6x1xSession session, const char* pChannel, ViAttr nId, bool bValue) {
    const ViSession vi = Vi(session);
    return Passed(
        vi, TARVEK_SetAttributeViBoolean(vi, pChannel != nullptr ? pChannel : "", nId, Vb(bValue)));
}

int32_t GetSession(TK6x1xSession session, const char* pChannel, ViAttr nId, uint32_t* pValue) {
    const ViSession vi = Vi(session);
    ViSession value = VI_NULL;
    const ViStatus status = TARVEK_GetAttributeViSession(vi, pChannel != nullptr ? pChannel : "",
                                                         nId, pValue != nullptr ? &value : nullptr);
    if (status >= 0 && pValue != nullptr) {
        *pValue = value;
    }
    return Passed(vi, status);
}

int32_t SetString(TK6x1xSession session, const char* pChannel, ViAttr nId, const char* pValue) {
    const ViSession vi = Vi(session);
    return Passed(
        vi, TARVEK_SetAttributeViString(vi, pChannel != nullptr ? pChannel : "", nId, pValue));
}

}  // namespace tk6x1x

using namespace tk6x1x;

extern "C" {

TK6X1X_API int32_t TK6x1x_init(const char* resource_name, bool id_query, bool reset,
                               TK6x1xSession* session_out) {
    return TK6x1x_init_with_options(resource_name, id_query, reset, "", session_out);
}

TK6X1X_API int32_t TK6x1x_init_with_options(const char* resource_name, bool id_query, bool reset,
                                            const char* options, TK6x1xSession* session_out) {
    return Guard([&]() -> int32_t {
        if (const int32_t status =
                CheckOut(VI_NULL, session_out, "TK6x1x_init_with_options", "session_out");
            status < 0) {
            return status;
        }
        *session_out = TK6X1X_INVALID_SESSION;
        int32_t nStatus = VI_SUCCESS;
        std::string strError;
        const auto strOptions =
            TranslateOptions(options != nullptr ? options : "", nStatus, strError);
        if (!strOptions) {
            return Fail(VI_NULL, nStatus, strError);
        }
        ViSession vi = VI_NULL;
        const ViStatus status = TARVEK_InitWithOptions(
            const_cast<ViRsrc>(resource_name), Vb(id_query), Vb(reset), strOptions->c_str(), &vi);
        if (status >= 0) {
            *session_out = Handle(vi);
        }
        return Passed(VI_NULL, status);
    });
}

TK6X1X_API int32_t TK6x1x_close(TK6x1xSession session) {
    const ViSession vi = Vi(session);
    return Guard([&]() -> int32_t {
        const ViStatus status = TARVEK_close(vi);
        if (status >= 0) {
            std::lock_guard<std::mutex> guard(State().mutex);
            State().mapErrors.erase(vi);
            State().mapPending.erase(vi);
        }
        return status;
    });
}

TK6X1X_API int32_t TK6x1x_reset(TK6x1xSession session) {
    return Passed(Vi(session), TARVEK_reset(Vi(session)));
}

TK6X1X_API int32_t TK6x1x_driver_version_get(TK6x1xSession session, size_t size, char* version_out,
                                             size_t* size_required) {
    return GetString(session, nullptr, TARVEK_ATTR_SPECIFIC_DRIVER_REVISION, size, version_out,
                     size_required, "TK6x1x_driver_version_get");
}

TK6X1X_API int32_t TK6x1x_driver_vendor_get(TK6x1xSession session, size_t size, char* vendor_out,
                                            size_t* size_required) {
    return GetString(session, nullptr, TARVEK_ATTR_SPECIFIC_DRIVER_VENDOR, size, vendor_out,
                     size_required, "TK6x1x_driver_vendor_get");
}

TK6X1X_API int32_t TK6x1x_instrument_manufacturer_get(TK6x1xSession session, size_t size,
                                                      char* manufacturer_out,
                                                      size_t* size_required) {
    return GetString(session, nullptr, TARVEK_ATTR_INSTRUMENT_MANUFACTURER, size, manufacturer_out,
                     size_required, "TK6x1x_instrument_manufacturer_get");
}

TK6X1X_API int32_t TK6x1x_instrument_model_get(TK6x1xSession session, size_t size, char* model_out,
                                               size_t* size_required) {
    return GetString(session, nullptr, TARVEK_ATTR_INSTRUMENT_MODEL, size, model_out, size_required,
                     "TK6x1x_instrument_model_get");
}

TK6X1X_API int32_t TK6x1x_supported_instrument_models_get(TK6x1xSession session, size_t size,
                                                          char* supported_instrument_models_out,
                                                          size_t* size_required) {
    return GetString(session, nullptr, TARVEK_ATTR_SUPPORTED_INSTRUMENT_MODELS, size,
                     supported_instrument_models_out, size_required,
                     "TK6x1x_supported_instrument_models_get");
}

TK6X1X_API int32_t TK6x1x_query_instrument_status_enabled_get(TK6x1xSession session,
                                                              bool* instrument_status_enabled_out) {
    return GetBoolean(session, nullptr, TARVEK_ATTR_QUERY_INSTRUMENT_STATUS,
                      instrument_status_enabled_out);
}

TK6X1X_API int32_t TK6x1x_query_instrument_status_enabled_set(TK6x1xSession session,
                                                              bool instrument_status_enabled) {
    return SetBoolean(session, nullptr, TARVEK_ATTR_QUERY_INSTRUMENT_STATUS,
                      instrument_status_enabled);
}

TK6X1X_API int32_t TK6x1x_simulate_get(TK6x1xSession session, bool* simulate_out) {
    return GetBoolean(session, nullptr, TARVEK_ATTR_SIMULATE, simulate_out);
}

TK6X1X_API int32_t TK6x1x_error_query(TK6x1xSession session, int32_t* error_code_out, size_t size,
                                      char* error_message_out, size_t* size_required) {
    const ViSession vi = Vi(session);
    return Guard([&]() -> int32_t {
        if (const int32_t status =
                CheckOut(vi, error_code_out, "TK6x1x_error_query", "error_code_out");
            status < 0) {
            return status;
        }
        const SessionLock lock(vi);
        if (lock.status() < 0) {
            return Passed(vi, lock.status());
        }
        QueueEntry entry;
        const ViStatus status = NextQueueEntry(vi, entry);
        if (status < 0) {
            return Passed(vi, status);
        }
        const int32_t nCopied = CopyOut(vi, entry.strMessage, size, error_message_out,
                                        size_required, "TK6x1x_error_query");
        if (nCopied < 0 || size == 0 || error_message_out == nullptr) {
            // Only the size was asked for, or it did not fit: the entry waits.
            KeepBack(vi, std::move(entry));
            return nCopied;
        }
        *error_code_out = entry.nCode;
        return status;
    });
}

TK6X1X_API int32_t TK6x1x_read_and_clear_error_queue(TK6x1xSession session, size_t size,
                                                     char* error_queue) {
    const ViSession vi = Vi(session);
    return Guard([&]() -> int32_t {
        if (const int32_t status =
                CheckOut(vi, error_queue, "TK6x1x_read_and_clear_error_queue", "error_queue");
            status < 0) {
            return status;
        }
        if (size == 0) {
            return Fail(vi, IVI_ERROR_INVALID_VALUE,
                        "TK6x1x_read_and_clear_error_queue: size is 0; the buffer needs room for "
                        "at least the terminating null.");
        }
        const SessionLock lock(vi);
        if (lock.status() < 0) {
            return Passed(vi, lock.status());
        }
        std::string strQueue;
        bool bFull = false;
        ViStatus status = VI_SUCCESS;
        for (int nEntry = 0; nEntry < kMaxQueueEntries; ++nEntry) {
            QueueEntry entry;
            status = NextQueueEntry(vi, entry);
            if (status < 0 || entry.nCode == 0) {
                break;
            }
            const std::string strEntry = (strQueue.empty() ? "" : ";") +
                                         std::to_string(entry.nCode) + ",\"" + entry.strMessage +
                                         "\"";
            // Once an entry does not fit, it and every later one are dropped.
            bFull = bFull || strQueue.size() + strEntry.size() + 1 > size;
            if (!bFull) {
                strQueue += strEntry;
            }
        }
        std::memcpy(error_queue, strQueue.c_str(), strQueue.size() + 1);
        return Passed(vi, status < 0 ? status : VI_SUCCESS);
    });
}

TK6X1X_API int32_t TK6x1x_error_message(int32_t error, size_t size, char* error_message,
                                        size_t* size_required) {
    return Guard([&]() -> int32_t {
        const std::string strText = StatusText(error);
        if (error != VI_SUCCESS && strText.empty()) {
            return IVI_ERROR_INVALID_VALUE;
        }
        return CopyOut(VI_NULL, error == VI_SUCCESS ? std::string() : strText, size, error_message,
                       size_required, "TK6x1x_error_message");
    });
}

TK6X1X_API int32_t TK6x1x_last_error_message(TK6x1xSession session, size_t size,
                                             char* error_message, size_t* size_required) {
    const ViSession vi = Vi(session);
    return Guard([&]() -> int32_t {
        std::string strText;
        if (const auto record = OwnError(vi)) {
            strText = record->strText;
        } else {
            ViStatus nCode = VI_SUCCESS;
            const ViStatus status = ReadText(
                [&](ViInt32 nBufferSize, ViChar* pText) {
                    return TARVEK_GetError(vi, &nCode, nBufferSize, pText);
                },
                strText);
            if (status < 0) {
                return status;
            }
        }
        // Reading the message is no failure of its own, so it leaves the record as it is.
        const std::size_t nNeeded = strText.size() + 1;
        if (size_required != nullptr) {
            *size_required = nNeeded;
        }
        if (size == 0 || error_message == nullptr) {
            return size_required != nullptr ? VI_SUCCESS : IVI_ERROR_NULL_POINTER;
        }
        if (size < nNeeded) {
            return TK6X1X_ERROR_BUFFER_TOO_SMALL;
        }
        std::memcpy(error_message, strText.c_str(), nNeeded);
        return VI_SUCCESS;
    });
}

TK6X1X_API int32_t TK6x1x_clear_last_error(TK6x1xSession session) {
    const ViSession vi = Vi(session);
    return Guard([&]() -> int32_t {
        const ViStatus status = TARVEK_ClearError(vi);
        if (status >= 0) {
            ForgetOwnError(vi);
        }
        return status;
    });
}

TK6X1X_API int32_t TK6x1x_clear_last_error_message(TK6x1xSession session) {
    return TK6x1x_clear_last_error(session);
}

TK6X1X_API int32_t TK6x1x_direct_io_timeout_milliseconds_get(TK6x1xSession session,
                                                             int32_t* timeout_out) {
    return GetInt32(session, nullptr, TARVEK_ATTR_SYSTEM_IO_TIMEOUT, timeout_out);
}

TK6X1X_API int32_t TK6x1x_direct_io_timeout_milliseconds_set(TK6x1xSession session,
                                                             int32_t timeout) {
    return SetInt32(session, nullptr, TARVEK_ATTR_SYSTEM_IO_TIMEOUT, timeout);
}

TK6X1X_API int32_t TK6x1x_direct_io_write_bytes(TK6x1xSession session, size_t size,
                                                const uint8_t* data) {
    const ViSession vi = Vi(session);
    return Guard([&]() -> int32_t {
        if (size > 0) {
            if (const int32_t status = CheckOut(vi, data, "TK6x1x_direct_io_write_bytes", "data");
                status < 0) {
                return status;
            }
        }
        ViInt64 nWritten = 0;
        return Passed(vi, TARVEK_viWrite(vi, static_cast<ViInt64>(size), data, &nWritten));
    });
}

TK6X1X_API int32_t TK6x1x_direct_io_write_string(TK6x1xSession session, const char* text) {
    const ViSession vi = Vi(session);
    if (text == nullptr) {
        return Guard([&] { return CheckOut(vi, text, "TK6x1x_direct_io_write_string", "text"); });
    }
    return TK6x1x_direct_io_write_bytes(session, std::strlen(text),
                                        reinterpret_cast<const uint8_t*>(text));
}

TK6X1X_API int32_t TK6x1x_direct_io_read_bytes(TK6x1xSession session, size_t size,
                                               uint8_t* data_out, size_t* count_out) {
    const ViSession vi = Vi(session);
    return Guard([&]() -> int32_t {
        for (const auto& [pPointer, pName] :
             {std::pair<const void*, const char*>{data_out, "data_out"},
              {count_out, "count_out"}}) {
            if (const int32_t status = CheckOut(vi, pPointer, "TK6x1x_direct_io_read_bytes", pName);
                status < 0) {
                return status;
            }
        }
        *count_out = 0;
        ViInt64 nRead = 0;
        const ViStatus status = TARVEK_viRead(vi, static_cast<ViInt64>(size), data_out, &nRead);
        if (status >= 0) {
            *count_out = static_cast<size_t>(nRead);
        }
        return Passed(vi, status);
    });
}

TK6X1X_API int32_t TK6x1x_direct_io_read_string(TK6x1xSession session, size_t size,
                                                char* text_out) {
    const ViSession vi = Vi(session);
    return Guard([&]() -> int32_t {
        if (const int32_t status =
                CheckOut(vi, text_out, "TK6x1x_direct_io_read_string", "text_out");
            status < 0) {
            return status;
        }
        if (size == 0) {
            return Fail(vi, IVI_ERROR_INVALID_VALUE,
                        "TK6x1x_direct_io_read_string: size is 0; the buffer needs room for at "
                        "least the terminating null.");
        }
        ViInt64 nRead = 0;
        const ViStatus status = TARVEK_viRead(vi, static_cast<ViInt64>(size - 1),
                                              reinterpret_cast<ViByte*>(text_out), &nRead);
        text_out[status >= 0 ? static_cast<size_t>(nRead) : 0] = '\0';
        return Passed(vi, status);
    });
}

}  // extern "C"
