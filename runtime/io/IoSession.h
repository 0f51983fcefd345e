// The I/O interface of a driver session: opening and closing the instrument
// connection, clearing its status, reading its identity and checking its
// status after an operation.
#pragma once

#include <string>

#include "visatype.h"

namespace drt {

class IoSession {
  public:
    virtual ~IoSession() = default;
    virtual ViStatus OpenIo() = 0;
    virtual ViStatus CloseIo() = 0;
    virtual ViStatus ClearStatus() = 0;
    virtual ViStatus QueryIdentity(std::string& strManufacturer, std::string& strModel,
                                   std::string& strSerialNumber,
                                   std::string& strFirmwareRevision) = 0;
    virtual ViStatus CheckStatus() = 0;
};

}  // namespace drt
