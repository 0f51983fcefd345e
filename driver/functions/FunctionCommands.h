// The commands and queries the driver's functions and session services send,
// beside the functions that send them, so that the SCPI coverage reference
// can list them; the catalogue rows list the attributes' own. A test scans
// the sources and fails when one they send is missing here.
#pragma once

#include <span>

namespace tarvek {

struct FunctionCommand {
    const char* pFunction;  // the exported function or session service
    const char* pText;      // as sent, format directives included, without "\n"
    const char* pFamily;    // the only family it is sent to, or null for both
};

std::span<const FunctionCommand> FunctionCommands();

}  // namespace tarvek
