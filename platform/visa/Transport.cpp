#include "Transport.h"

#include <strings.h>
#include <cstring>

namespace tkvisa {

Deadline::Deadline(ViUInt32 nTimeoutMs)
    : m_bInfinite(nTimeoutMs == VI_TMO_INFINITE),
      m_tEnd(Clock::now() + std::chrono::milliseconds(m_bInfinite ? 0 : nTimeoutMs)) {}

int Deadline::RemainingMs() const {
    if (m_bInfinite) {
        return -1;
    }
    const auto nLeft = std::chrono::ceil<std::chrono::milliseconds>(m_tEnd - Clock::now()).count();
    if (nLeft <= 0) {
        return 0;
    }
    return nLeft > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(nLeft);
}

namespace {

constexpr TransportEntry kTransports[] = {
    {VI_INTF_TCPIP, "SOCKET", CreateTcpipSocketTransport},
    {VI_INTF_ASRL, "INSTR", CreateSerialTransport},
};

}  // namespace

const TransportEntry* FindTransport(const ResourceName& resource) {
    for (const TransportEntry& entry : kTransports) {
        if (entry.nIntfType == resource.nIntfType &&
            strcasecmp(entry.pszClass, resource.strClass.c_str()) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace tkvisa
