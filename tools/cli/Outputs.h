// The outputs a command acts on and what it reads from them: the selection
// --channel makes, one output's measurements and state, and the forms the
// measure and monitor commands print them in.
#pragma once

#include <string>
#include <vector>

#include "tools/cli/Commands.h"
#include "tools/cli/Session.h"

namespace cli {

struct Output {
    std::string strLabel;     // as the user named it: "CH1", or a virtual name
    std::string strPhysical;  // "CH1"...
};

struct Reading {
    std::string strChannel;
    ViReal64 dVoltage = 0.0;
    ViReal64 dCurrent = 0.0;
    bool bOutput = false;
    std::string strState;  // CV, CC, unregulated, off, OVP tripped, OCP tripped
};

// The outputs a command acts on: --channel, or every output.
std::vector<Output> SelectedOutputs(const Session& session, const Invocation& inv);

// After the settings of a command: a session whose caller turned status
// checking off still reports what the instrument refused.
void CheckChangesTookEffect(const Session& session, const char* pWhat);

Reading ReadOutput(const Session& session, const Output& output);
std::string ReadingJson(const Reading& reading);
// The text table of measure and monitor.
std::string TableHeader();
std::string TableRow(const Reading& reading);

}  // namespace cli
