// tarvek scpi: a SCPI command sent as it is, and a query's reply printed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "tools/cli/CommandLine.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Json.h"
#include "tools/cli/Outputs.h"
#include "tools/cli/Printing.h"
#include "tools/cli/Session.h"

namespace cli {
namespace {

constexpr size_t kLargestReply = 1 << 20;

}  // namespace

int RunScpi(const Invocation& inv) {
    std::string strCommand;
    for (size_t n = 1; n < inv.vecArgs.size(); ++n) {
        strCommand += (n == 1 ? "" : " ") + inv.vecArgs[n];
    }
    if (strCommand.find_first_of("\r\n") != std::string::npos) {
        throw UsageError("the command must be a single line");
    }
    Session session(inv.vecArgs[0], inv.DriverOptions());
    const ViSession vi = session.Handle();
    const std::string strMessage = strCommand + "\n";
    ViInt64 nWritten = 0;
    session.Check(TARVEK_viWrite(vi, static_cast<ViInt64>(strMessage.size()),
                                 reinterpret_cast<ViConstBuf>(strMessage.data()), &nWritten),
                  "TARVEK_viWrite");
    const bool bQuery = strCommand.find('?') != std::string::npos;
    std::string strReply;
    if (bQuery) {
        // Read until the reply's line feed; a reply is bounded to keep a
        // runaway instrument from filling memory.
        while (strReply.empty() || strReply.back() != '\n') {
            ViByte buffer[4096];
            ViInt64 nRead = 0;
            // VISA reports a read that ended at the line feed as a success code.
            const ViStatus status = TARVEK_viRead(vi, sizeof buffer, buffer, &nRead);
            if (status < VI_SUCCESS) {
                session.Check(status, strCommand.c_str());
            }
            if (nRead <= 0) {
                break;
            }
            strReply.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(nRead));
            if (strReply.size() > kLargestReply) {
                throw DriverError(IVI_ERROR_UNEXPECTED_RESPONSE, "The reply exceeds 1 MiB.");
            }
        }
        while (!strReply.empty() && (strReply.back() == '\n' || strReply.back() == '\r')) {
            strReply.pop_back();
        }
    }
    if (!bQuery) {
        // A command has no reply; the error queue says whether it was taken.
        session.CheckInstrumentErrors(strCommand.c_str());
    }
    if (inv.bJson) {
        JsonObject json;
        json.Add("command", JsonString(strCommand));
        if (bQuery) {
            json.Add("reply", JsonString(strReply));
        }
        Print(json.Text());
    } else if (bQuery) {
        Print(strReply);
    }
    return kExitOk;
}

}  // namespace cli
