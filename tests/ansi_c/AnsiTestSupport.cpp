#include "AnsiTestSupport.h"

#include <cstring>

#define TK6X1X_FN(function) reinterpret_cast<ansitest::AnyFunction>(&function)

namespace ansitest {

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
#include "tk6x1x_test_table.inc"
    };
    return rows;
}

std::string AnsiLastError(TK6x1xSession session) {
    size_t nSize = 0;
    if (TK6x1x_last_error_message(session, 0, nullptr, &nSize) != TK6X1X_SUCCESS) {
        return "(no error text)";
    }
    std::string strText(nSize, '\0');
    TK6x1x_last_error_message(session, strText.size(), strText.data(), &nSize);
    strText.resize(std::strlen(strText.c_str()));
    return strText;
}

namespace {

class IviCApi : public Api {
  public:
    IviCApi(const std::string& strResource, bool bSimulate, const char* pModel) {
        std::string strOptions = "RangeCheck=1,QueryInstrStatus=1";
        if (bSimulate) {
            strOptions += std::string(",Simulate=1,DriverSetup=Model:") + pModel;
        }
        std::string strName = strResource;
        EXPECT_EQ(
            TARVEK_InitWithOptions(strName.data(), !bSimulate, VI_FALSE, strOptions.c_str(), &m_vi),
            VI_SUCCESS);
    }
    ~IviCApi() override { TARVEK_close(m_vi); }
    const char* Name() const override { return "IVI-C"; }

    int32_t Read(const Row& row, const char* pChannel, Value& value) override {
        const char* pSelector = pChannel != nullptr ? pChannel : "";
        switch (row.cType) {
            case 'i': {
                ViInt32 nValue = -12345;
                const ViStatus status =
                    TARVEK_GetAttributeViInt32(m_vi, pSelector, row.nId, &nValue);
                value = int32_t{nValue};
                return status;
            }
            case 'r': {
                ViReal64 dValue = -12345.0;
                const ViStatus status =
                    TARVEK_GetAttributeViReal64(m_vi, pSelector, row.nId, &dValue);
                value = dValue;
                return status;
            }
            case 'b': {
                ViBoolean bValue = 77;
                const ViStatus status =
                    TARVEK_GetAttributeViBoolean(m_vi, pSelector, row.nId, &bValue);
                value = bValue != VI_FALSE;
                return status;
            }
            case 's': {
                std::vector<ViChar> buffer(1024, '\0');
                const ViStatus status = TARVEK_GetAttributeViString(
                    m_vi, pSelector, row.nId, static_cast<ViInt32>(buffer.size()), buffer.data());
                value = std::string(buffer.data());
                return status;
            }
            default: {
                ViSession handle = VI_NULL;
                const ViStatus status =
                    TARVEK_GetAttributeViSession(m_vi, pSelector, row.nId, &handle);
                value = static_cast<int32_t>(handle);
                return status;
            }
        }
    }

    int32_t Write(const Row& row, const char* pChannel, const Value& value) override {
        const char* pSelector = pChannel != nullptr ? pChannel : "";
        switch (row.cType) {
            case 'i':
                return TARVEK_SetAttributeViInt32(m_vi, pSelector, row.nId,
                                                  std::get<int32_t>(value));
            case 'r':
                return TARVEK_SetAttributeViReal64(m_vi, pSelector, row.nId,
                                                   std::get<double>(value));
            case 'b':
                return TARVEK_SetAttributeViBoolean(m_vi, pSelector, row.nId,
                                                    std::get<bool>(value) ? VI_TRUE : VI_FALSE);
            case 's':
                return TARVEK_SetAttributeViString(m_vi, pSelector, row.nId,
                                                   std::get<std::string>(value).c_str());
            default:
                ADD_FAILURE() << "no attribute with a handle value is writable";
                return IVI_ERROR_CANNOT_RECOVER;
        }
    }

    std::string LastError() override {
        ViStatus nCode = 0;
        std::vector<ViChar> text(2048, '\0');
        TARVEK_GetError(m_vi, &nCode, static_cast<ViInt32>(text.size()), text.data());
        return text.data();
    }

  private:
    ViSession m_vi = VI_NULL;
};

// Calls a row's generated accessor with the signature its type and channel
// use give it.
template <class T>
int32_t CallGet(const Row& row, TK6x1xSession session, const char* pChannel, T* pValue) {
    if (row.bChannel) {
        return reinterpret_cast<int32_t (*)(TK6x1xSession, const char*, T*)>(row.pGet)(
            session, pChannel, pValue);
    }
    return reinterpret_cast<int32_t (*)(TK6x1xSession, T*)>(row.pGet)(session, pValue);
}

template <class T>
int32_t CallSet(const Row& row, TK6x1xSession session, const char* pChannel, T value) {
    if (row.pSet == nullptr) {
        ADD_FAILURE() << row.pName << " has no _set function";
        return IVI_ERROR_CANNOT_RECOVER;
    }
    if (row.bChannel) {
        return reinterpret_cast<int32_t (*)(TK6x1xSession, const char*, T)>(row.pSet)(
            session, pChannel, value);
    }
    return reinterpret_cast<int32_t (*)(TK6x1xSession, T)>(row.pSet)(session, value);
}

class AnsiCApi : public Api {
  public:
    AnsiCApi(const std::string& strResource, bool bSimulate, const char* pModel) {
        std::string strOptions = "RangeCheck=true;QueryInstrStatus=true";
        if (bSimulate) {
            strOptions += std::string(";Simulate=true;DriverSetup=Model:") + pModel;
        }
        EXPECT_EQ(TK6x1x_init_with_options(strResource.c_str(), !bSimulate, false,
                                           strOptions.c_str(), &m_session),
                  TK6X1X_SUCCESS)
            << AnsiLastError(TK6X1X_INVALID_SESSION);
    }
    ~AnsiCApi() override { TK6x1x_close(m_session); }
    const char* Name() const override { return "IVI-ANSI-C"; }

    int32_t Read(const Row& row, const char* pChannel, Value& value) override {
        switch (row.cType) {
            case 'i': {
                int32_t nValue = -12345;
                const int32_t status = CallGet(row, m_session, pChannel, &nValue);
                value = nValue;
                return status;
            }
            case 'r': {
                double dValue = -12345.0;
                const int32_t status = CallGet(row, m_session, pChannel, &dValue);
                value = dValue;
                return status;
            }
            case 'b': {
                bool bValue = false;
                const int32_t status = CallGet(row, m_session, pChannel, &bValue);
                value = bValue;
                return status;
            }
            case 's': {
                // Asks the size first, then reads with a buffer of exactly that size.
                using Fn = int32_t (*)(TK6x1xSession, size_t, char*, size_t*);
                using ChannelFn = int32_t (*)(TK6x1xSession, const char*, size_t, char*, size_t*);
                auto call = [&](size_t nSize, char* pBuffer, size_t* pRequired) {
                    return row.bChannel ? reinterpret_cast<ChannelFn>(row.pGet)(
                                              m_session, pChannel, nSize, pBuffer, pRequired)
                                        : reinterpret_cast<Fn>(row.pGet)(m_session, nSize, pBuffer,
                                                                         pRequired);
                };
                size_t nRequired = 0;
                int32_t status = call(0, nullptr, &nRequired);
                if (status < 0) {
                    value = std::string();
                    return status;
                }
                std::string strText(nRequired, '\0');
                status = call(strText.size(), strText.data(), &nRequired);
                strText.resize(std::strlen(strText.c_str()));
                value = strText;
                return status;
            }
            default: {
                uint32_t nHandle = 0;
                const int32_t status = CallGet(row, m_session, pChannel, &nHandle);
                value = static_cast<int32_t>(nHandle);
                return status;
            }
        }
    }

    int32_t Write(const Row& row, const char* pChannel, const Value& value) override {
        switch (row.cType) {
            case 'i':
                return CallSet(row, m_session, pChannel, std::get<int32_t>(value));
            case 'r':
                return CallSet(row, m_session, pChannel, std::get<double>(value));
            case 'b':
                return CallSet(row, m_session, pChannel, std::get<bool>(value));
            case 's':
                return CallSet(row, m_session, pChannel, std::get<std::string>(value).c_str());
            default:
                ADD_FAILURE() << "no attribute with a handle value is writable";
                return IVI_ERROR_CANNOT_RECOVER;
        }
    }

    std::string LastError() override { return AnsiLastError(m_session); }

  private:
    TK6x1xSession m_session = TK6X1X_INVALID_SESSION;
};

}  // namespace

std::unique_ptr<Api> OpenApi(Kind eKind, const std::string& strResource, bool bSimulate,
                             const char* pModel) {
    if (eKind == Kind::IviC) {
        return std::make_unique<IviCApi>(strResource, bSimulate, pModel);
    }
    return std::make_unique<AnsiCApi>(strResource, bSimulate, pModel);
}

}  // namespace ansitest
