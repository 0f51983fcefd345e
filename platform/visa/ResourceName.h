// Parsing of VISA resource names ("TCPIP0::host::5025::SOCKET",
// "ASRL1::INSTR", "ASRL/dev/ttyUSB0::INSTR", "GPIB0::5::INSTR",
// "USB0::0x1AB1::0x0E11::SN1::INSTR", ...).
#pragma once

#include <string>
#include <string_view>

#include "visa.h"

namespace tkvisa {

struct ResourceName {
    ViUInt16 nIntfType = 0;
    ViUInt16 nIntfNum = 0;
    std::string strClass;       // upper case: "SOCKET", "INSTR", "INTFC", "RAW"
    std::string strCanonical;   // "TCPIP0::127.0.0.1::5025::SOCKET"
    std::string strHost;        // TCPIP: host name or address, without brackets
    ViUInt16 nPort = 0;         // TCPIP SOCKET
    std::string strDevice;      // TCPIP INSTR: "inst0", "gpib0,5", ...
    std::string strDevicePath;  // ASRL: the device file
    ViUInt16 nVendorId = 0;     // USB: manufacturer ID
    ViUInt16 nProductId = 0;    // USB: model code
    std::string strSerial;      // USB: serial number, as written
    int nUsbInterface = -1;     // USB: interface number, or -1 for the first USBTMC one
};

// VI_SUCCESS, VI_ERROR_INV_RSRC_NAME for a malformed name of a known
// interface or with an empty "::" part, VI_ERROR_RSRC_NFOUND for a name no
// interface claims.
ViStatus ParseResourceName(std::string_view strName, ResourceName& resource);

}  // namespace tkvisa
