#include "Transport.h"

#include <strings.h>
#include <cstring>

namespace tkvisa {

namespace {

constexpr TransportEntry kTransports[] = {
    {VI_INTF_TCPIP, "SOCKET", nullptr, CreateTcpipSocketTransport},
    {VI_INTF_TCPIP, "INSTR", "hislip", CreateHislipTransport},
    {VI_INTF_TCPIP, "INSTR", nullptr, CreateVxi11Transport},
    {VI_INTF_ASRL, "INSTR", nullptr, CreateSerialTransport},
    {VI_INTF_USB, "INSTR", nullptr, CreateUsbtmcTransport},
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
