#include "Transport.h"

#include <strings.h>
#include <cstring>

namespace tkvisa {

std::int64_t NowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int Deadline::RemainingMs() const {
    if (m_bInfinite) {
        return -1;
    }
    if (!m_bStarted) {
        m_bStarted = true;
        m_nEndMs = NowMs() + m_nTimeoutMs;
        return m_nTimeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(m_nTimeoutMs);
    }
    const std::int64_t nLeft = m_nEndMs - NowMs();
    if (nLeft <= 0) {
        return 0;
    }
    return nLeft > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(nLeft);
}

void Deadline::Start() {
    m_bStarted = true;
    m_nEndMs = NowMs() + m_nTimeoutMs;
}

namespace {

constexpr TransportEntry kTransports[] = {
    {VI_INTF_TCPIP, "SOCKET", nullptr, CreateTcpipSocketTransport},
    {VI_INTF_TCPIP, "INSTR", "hislip", CreateHislipTransport},
    {VI_INTF_TCPIP, "INSTR", nullptr, CreateVxi11Transport},
    {VI_INTF_ASRL, "INSTR", nullptr, CreateSerialTransport},
};

}  // namespace

const TransportEntry* FindTransport(const ResourceName& resource) {
    for (const TransportEntry& entry : kTransports) {
        if (entry.nIntfType == resource.nIntfType &&
            strcasecmp(entry.pszClass, resource.strClass.c_str()) == 0 &&
            (entry.pszDevicePrefix == nullptr ||
             strncasecmp(resource.strDevice.c_str(), entry.pszDevicePrefix,
                         std::strlen(entry.pszDevicePrefix)) == 0)) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace tkvisa
