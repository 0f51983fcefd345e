// tarvek trace: the I/O trace of a session, or of a process's trace file,
// printed readably or as JSON lines.
#pragma once

#include <string>

#include "tools/cli/Commands.h"
#include "visatype.h"

namespace cli {

// One line of the VISA layer's trace format (visa.h, viTkReadTrace):
//   <seconds.micros> 0x<session> <direction> <call> 0x<status> "<escaped data>"
struct TraceLine {
    std::string strTime;  // as written: seconds since the epoch, 6 decimals
    ViUInt32 nSession = 0;
    std::string strDirection;
    std::string strCall;
    ViStatus status = 0;
    std::string strEscaped;  // the data between the quotes, escapes kept
    std::string strData;     // the bytes
};

// False when the line is not one of the format.
bool ParseTraceLine(const std::string& strLine, TraceLine& line);
// "2026-12-07 20:47:03.123456Z 0x00001002 write viWrite "*IDN?\n"", the status
// added when it is not VI_SUCCESS; or one JSON object.
std::string FormatTraceLine(const TraceLine& line, bool bJson);

int RunTrace(const Invocation& inv);

}  // namespace cli
