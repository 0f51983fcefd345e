// What the tool adds to a failed status: a text for statuses the driver left
// without one, and a hint that names the resource and the command involved.
#pragma once

#include <string>

#include "TARVEK.h"

namespace cli {

// What the tool knew when the call failed.
struct HintContext {
    std::string strResource;  // as given on the command line
    std::string strCommand;   // the SCPI command or driver call that failed
    ViInt32 nTimeoutMs = -1;  // the I/O timeout, when known
};

// The status's name and meaning ("VI_ERROR_TMO: ..."), or empty for a status
// the table does not know.
std::string StatusText(ViStatus status);

// A sentence telling a newcomer what to look at, or empty when the table has
// nothing useful to add.
std::string StatusHint(ViStatus status, const HintContext& context);

}  // namespace cli
