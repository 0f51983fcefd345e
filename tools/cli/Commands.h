// The subcommands of the tool and the parsed command line they receive.
#pragma once

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace cli {

// Exit statuses: 0 success, 1 the driver or instrument reported a failure,
// 2 the command line cannot be carried out, 130 interrupted by Ctrl-C.
inline constexpr int kExitOk = 0;
inline constexpr int kExitDriverError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

struct Invocation {
    std::vector<std::string> vecArgs;              // positionals after the subcommand
    std::map<std::string, std::string> mapValues;  // --name VALUE
    // Every VALUE of an option that may be repeated (--virtual A=CH1 --virtual B=CH2).
    std::map<std::string, std::vector<std::string>> mapRepeated;
    std::set<std::string> setFlags;  // --name
    bool bJson = false;

    bool Has(const std::string& strName) const { return mapValues.count(strName) != 0; }
    std::string Value(const std::string& strName, const std::string& strDefault = "") const {
        const auto it = mapValues.find(strName);
        return it == mapValues.end() ? strDefault : it->second;
    }
    // The option string for TARVEK_InitWithOptions from --simulate and --options.
    // bCheckStatus adds QueryInstrStatus=1 (unless --options names it), so
    // that every call reports a value the instrument refused.
    std::string DriverOptions(bool bCheckStatus = false) const;
};

using CommandHandler = int (*)(const Invocation&);

struct CommandInfo {
    const char* pName;
    const char* pArguments;  // the usage after "tarvek <name>"
    const char* pSummary;
    const char* pDetails;
    std::vector<const char*> vecValueOptions;  // options taking a value
    int nMinArgs;
    int nMaxArgs;  // -1: any number
    CommandHandler handler;
};

const std::vector<CommandInfo>& Commands();

// Options that may be given more than once; each value is kept.
bool IsRepeatableOption(const std::string& strName);

// tarvek discover: the LAN instruments found and their identity (Discover.cpp).
int RunDiscover(const Invocation& inv);

// tarvek store: list, show, add, remove and check on the configuration store file.
int RunStore(const Invocation& inv);

// tarvek panel: runs the browser front panel (python3 -m tarvek.panel).
int RunPanel(const Invocation& inv);

// The DriverSetup of a logical name's (or driver session's) session in the
// store file, or "" when the name is not there or the store cannot be read.
std::string LogicalNameDriverSetup(const std::string& strName);

// Long-running commands (monitor, list) catch Ctrl-C and poll for it; the
// others keep the default, so Ctrl-C ends them at once.
bool Interrupted();
void InstallInterruptHandler();

using Clock = std::chrono::steady_clock;
// Sleeps until the deadline in short slices; false when Ctrl-C came first.
bool SleepUntil(Clock::time_point deadline);

// The commands that read (ReadCommands.cpp).
int RunInfo(const Invocation& inv);
int RunGet(const Invocation& inv);
int RunMeasure(const Invocation& inv);
int RunErrors(const Invocation& inv);
int RunAttributes(const Invocation& inv);

// The commands that change settings (ChangeCommands.cpp).
int RunSet(const Invocation& inv);
int RunApply(const Invocation& inv);
int RunList(const Invocation& inv);

// tarvek monitor (MonitorCommand.cpp) and tarvek scpi (ScpiCommand.cpp).
int RunMonitor(const Invocation& inv);
int RunScpi(const Invocation& inv);

}  // namespace cli
