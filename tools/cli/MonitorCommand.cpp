// tarvek monitor: a live table of the outputs' readings, one row per interval.
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

int RunMonitor(const Invocation& inv) {
    const double dInterval = inv.Has("interval") ? RequireReal(inv, "interval") : 1.0;
    if (dInterval < 0.01 || dInterval > 86400.0) {
        throw UsageError("--interval must be between 0.01 and 86400 seconds");
    }
    const long nCount = RequireCount(inv, "count", 0);
    std::ofstream csv;
    if (inv.Has("csv")) {
        csv.open(inv.Value("csv"), std::ios::out | std::ios::trunc);
        if (!csv) {
            throw UsageError("cannot write " + inv.Value("csv"));
        }
    }
    CheckChannelSyntax(inv);
    Session session(inv.vecArgs[0], inv.DriverOptions());
    InstallInterruptHandler();
    const std::vector<Output> vecOutputs = SelectedOutputs(session, inv);
    std::string strHeader = "    Time";
    std::string strCsvHeader = "time_s";
    for (const Output& output : vecOutputs) {
        const std::string& strLabel = output.strLabel;
        char szColumns[160];
        std::snprintf(szColumns, sizeof szColumns, " | %8s %8s  %-11s", (strLabel + " V").c_str(),
                      (strLabel + " A").c_str(), "State");
        strHeader += szColumns;
        strCsvHeader += "," + strLabel + "_V," + strLabel + "_A," + strLabel + "_state";
    }
    if (inv.bJson) {
        // One JSON object per row, so a script can read the stream line by line.
    } else {
        Print(strHeader.substr(0, strHeader.find_last_not_of(' ') + 1));
    }
    if (csv) {
        csv << strCsvHeader << '\n' << std::flush;
    }
    const auto start = Clock::now();
    const auto interval =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(dInterval));
    for (long nRow = 0; nCount == 0 || nRow < nCount; ++nRow) {
        if (nRow > 0 && !SleepUntil(start + nRow * interval)) {
            break;
        }
        const double dTime = std::chrono::duration<double>(Clock::now() - start).count();
        std::string strLine = Fixed(dTime, 2);
        strLine.insert(0, strLine.size() < 8 ? 8 - strLine.size() : 0, ' ');
        std::string strCsv = Fixed(dTime, 3);
        std::vector<std::string> vecJson;
        for (const Output& output : vecOutputs) {
            Reading reading;
            try {
                reading = ReadOutput(session, output);
            } catch (const DriverError&) {
                if (Interrupted()) {
                    return kExitOk;  // Ctrl-C cut a reading short
                }
                throw;
            }
            char szColumns[128];
            std::snprintf(szColumns, sizeof szColumns, " | %8s %8s  %-11s",
                          Fixed(reading.dVoltage, 3).c_str(), Fixed(reading.dCurrent, 4).c_str(),
                          reading.strState.c_str());
            strLine += szColumns;
            for (const std::string& strField :
                 {FormatReal(reading.dVoltage), FormatReal(reading.dCurrent), reading.strState}) {
                strCsv += ',';
                strCsv += strField;
            }
            vecJson.push_back(ReadingJson(reading));
        }
        if (inv.bJson) {
            Print(JsonObject()
                      .Add("time_s", JsonNumber(dTime))
                      .Add("outputs", JsonArray(vecJson))
                      .Text());
        } else {
            Print(strLine.substr(0, strLine.find_last_not_of(' ') + 1));
        }
        if (csv) {
            csv << strCsv << '\n' << std::flush;
        }
    }
    return kExitOk;  // Ctrl-C is the ordinary way to end a monitor
}

}  // namespace cli
