// Ownership of configuration-store handles: every handle obtained during
// initialization is given back on every path, so none outlives it.
#pragma once

#include <string>

#include "IviConfigServer.h"
#include "runtime/errors/Assert.h"

namespace drt {

class ConfigHandle {
  public:
    ConfigHandle() = default;
    ~ConfigHandle() { Release(); }
    ConfigHandle(const ConfigHandle&) = delete;
    ConfigHandle& operator=(const ConfigHandle&) = delete;

    ViSession* Out() {
        Release();
        return &m_handle;
    }
    ViSession Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != VI_NULL; }

    void Release() {
        if (m_handle != VI_NULL) {
            const ViStatus s = IviConfig_DisposeHandle(&m_handle);
            DRT_ASSERT(s >= 0);
            m_handle = VI_NULL;
        }
    }

  private:
    ViSession m_handle = VI_NULL;
};

// Reads a string property with the buffer size the store is asked with; a
// text longer than that is read again in full rather than used cut short.
template <class Getter>
ViStatus ReadConfigString(Getter getter, ViSession hObject, ViInt32 nProperty, ViInt32 nBufferSize,
                          std::string& strValue) {
    std::string strBuffer(static_cast<std::size_t>(nBufferSize), '\0');
    ViStatus status = getter(hObject, nProperty, nBufferSize, strBuffer.data());
    if (status > 0) {
        strBuffer.assign(static_cast<std::size_t>(status), '\0');
        status =
            getter(hObject, nProperty, static_cast<ViInt32>(strBuffer.size()), strBuffer.data());
    }
    if (status < 0) {
        return status;
    }
    strValue.assign(strBuffer.c_str());
    return VI_SUCCESS;
}

}  // namespace drt
