// The command table main() dispatches on, the option string every command
// opens its session with, and the Ctrl-C handling of the long-running ones.
// Each command's body lives with the others of its kind (ReadCommands.cpp,
// ChangeCommands.cpp, MonitorCommand.cpp, ScpiCommand.cpp, Store.cpp, ...).
#include "tools/cli/Commands.h"

#include <algorithm>
#include <csignal>
#include <thread>

#include "tools/cli/Attributes.h"
#include "tools/cli/Trace.h"

namespace cli {
namespace {

volatile std::sig_atomic_t g_bInterrupted = 0;

void OnInterrupt(int) {
    g_bInterrupted = 1;
}

}  // namespace

std::string Invocation::DriverOptions(bool bCheckStatus) const {
    std::string strOptions;
    if (setFlags.count("simulate") != 0) {
        strOptions = "Simulate=1";
    }
    const std::string strExtra = Value("options");
    // The driver refuses an option named twice; the caller's choice wins.
    if (bCheckStatus && ToUpperAscii(strExtra).find("QUERYINSTRSTATUS") == std::string::npos) {
        strOptions += (strOptions.empty() ? "" : ",") + std::string("QueryInstrStatus=1");
    }
    if (!strExtra.empty()) {
        // DriverSetup runs to the end of the string, so the caller's text goes last.
        strOptions += (strOptions.empty() ? "" : ",") + strExtra;
    }
    return strOptions;
}

bool Interrupted() {
    return g_bInterrupted != 0;
}

void InstallInterruptHandler() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool SleepUntil(Clock::time_point deadline) {
    while (Clock::now() < deadline) {
        if (Interrupted()) {
            return false;
        }
        const auto remaining = deadline - Clock::now();
        std::this_thread::sleep_for(
            std::min<Clock::duration>(remaining, std::chrono::milliseconds(20)));
    }
    return !Interrupted();
}

const std::vector<CommandInfo>& Commands() {
    static const std::vector<CommandInfo> kCommands = {
        {"info",
         "RESOURCE",
         "identity, model, family, outputs, driver revision and options",
         "Opens the supply (identity query on, no reset) and prints what the driver knows "
         "about it.",
         {},
         1,
         1,
         RunInfo},
        {"get",
         "RESOURCE ATTRIBUTE [--channel SEL]",
         "read any attribute by name",
         "ATTRIBUTE is TARVEK_ATTR_VOLTAGE_LEVEL or voltage_level, in any letter case.\n"
         "Enumerated values print as their short names (series2), booleans as on/off.\n"
         "Per-channel attributes need --channel (CH1, CH2, CH3, a range CH1-CH3, a comma\n"
         "list or a virtual name); without it they are refused before connecting, unless\n"
         "--options names a one-output model (DriverSetup=Model:6512), where CH1 is used.",
         {"channel"},
         2,
         2,
         RunGet},
        {"set",
         "RESOURCE ATTRIBUTE VALUE [--channel SEL]",
         "write any attribute by name",
         "VALUE is a number, a defined value's short name (series2) or TARVEK_VAL_* name,\n"
         "on/off/true/false/1/0 for booleans, or text for string attributes.\n"
         "--channel takes the same selectors as get. The instrument's status is checked\n"
         "after the write; a refused value fails with the instrument's error text.",
         {"channel"},
         3,
         3,
         RunSet},
        {"apply",
         "RESOURCE --channel SEL [--voltage V] [--current A] [--ovp V] [--output on|off]",
         "configure an output in one go",
         "Sets the over-voltage protection limit, the voltage level, the current limit\n"
         "(regulating) and the output state, in that order; SEL may name several outputs\n"
         "(CH1,CH3 or CH1-CH3). The instrument's status is checked after every call; a\n"
         "refused value stops the command before the output is switched on.",
         {"channel", "voltage", "current", "ovp", "output"},
         1,
         1,
         RunApply},
        {"measure",
         "RESOURCE [--channel SEL]",
         "measure voltage, current and regulation state",
         "SEL is one output, a comma list (CH1,CH3) or a range (CH1-CH3); without it every\n"
         "output is measured.",
         {"channel"},
         1,
         1,
         RunMeasure},
        {"monitor",
         "RESOURCE [--channel SEL] [--interval S] [--count N] [--csv FILE]",
         "a live table of voltage, current and state, one row per interval",
         "Interval defaults to 1 s; count 0 (the default) runs until Ctrl-C.\n"
         "--csv also writes the rows to FILE.",
         {"channel", "interval", "count", "csv"},
         1,
         1,
         RunMonitor},
        {"list",
         "RESOURCE --channel SEL --steps FILE.csv [--repeat N]",
         "program and run list mode, showing each step",
         "FILE.csv has one step per line: voltage,current,dwell (volts, amperes,\n"
         "seconds); blank lines, '#' comments and a header row are skipped.\n"
         "--repeat runs the list N times (default 1; 0 repeats until Ctrl-C).\n"
         "Ctrl-C aborts the list, returns the output to fixed levels and switches it off.",
         {"channel", "steps", "repeat"},
         1,
         1,
         RunList},
        {"scpi",
         "RESOURCE COMMAND...",
         "send a SCPI command; a query prints its reply",
         "The words of COMMAND are joined with spaces and sent with a line feed.\n"
         "A command containing '?' is a query and its reply is printed.\n"
         "Not available with --simulate.",
         {},
         2,
         -1,
         RunScpi},
        {"errors",
         "RESOURCE",
         "read the instrument's error queue until it is empty",
         "",
         {},
         1,
         1,
         RunErrors},
        {"trace",
         "RESOURCE [--scpi COMMAND] [--count N] | --follow FILE [--count N]",
         "print the I/O trace of a session, or follow a process's trace file",
         "With RESOURCE: opens the session, switches its I/O trace on, sends COMMAND\n"
         "(*IDN? when not given; a command containing '?' has its reply read) and\n"
         "prints every transfer: time (UTC), session, direction, VISA call and the\n"
         "bytes with C escapes (\\n, \\xHH), and the status when it is not success.\n"
         "The driver's own opening exchange comes before the trace is on.\n"
         "Not available with --simulate: nothing goes over the wire.\n"
         "With --follow: prints the lines of FILE, the trace file a program writes\n"
         "when started with TKVISA_TRACE_FILE=FILE, and then each line appended to\n"
         "it until Ctrl-C (or N lines with --count). --json prints one JSON object\n"
         "per transfer and line; data holds each byte as one character.",
         {"scpi", "follow", "count"},
         0,
         1,
         RunTrace},
        {"discover",
         "[--timeout S]",
         "list the LAN instruments that answer, with their identity",
         "Finds instruments by a VXI-11 broadcast and multicast DNS (DNS-SD), then asks\n"
         "each for *IDN? (or, when it will not answer, reads its LXI identification\n"
         "document). One row per instrument: address, manufacturer, model, serial,\n"
         "firmware, protocols offered and resource names. The whole command takes at\n"
         "most --timeout seconds (default 1).",
         {"timeout"},
         0,
         0,
         RunDiscover},
        {"attributes",
         "[FILTER]",
         "list the attributes the tool knows",
         "Name, type, access (RW or R), whether it takes --channel, and its values.\n"
         "FILTER keeps names that contain it (upper case).",
         {},
         0,
         1,
         RunAttributes},
        {"panel",
         "RESOURCE [--bind ADDR] [--port N] [--token TEXT] [--rate HZ] [--io-timeout MS]",
         "a front panel in the browser: live readings, plots, lists, console",
         "Serves the page on http://127.0.0.1:8080/ (--port 0 picks a free port) and prints\n"
         "its address. Any --bind but a loopback address requires a token, printed at start\n"
         "(--token sets one, and requires it on loopback too). Needs Python 3 with\n"
         "python3-aiohttp ($TARVEK_PYTHON names the interpreter). See docs/panel.md.",
         {"bind", "port", "token", "rate", "io-timeout"},
         0,
         1,
         RunPanel},
        {"store",
         "list | show NAME | add NAME --resource R [--options O] [--driver-setup S] "
         "[--virtual V=CHn ...] | remove NAME | check",
         "edit the configuration store: list, show, add, remove, check",
         "Works on the store file the driver reads: $IVI_CONFIG_STORE, or\n"
         "/etc/ivi/IviConfigurationStore.xml when it is not set. Needs no instrument.\n"
         "  list           every logical name with its resource\n"
         "  show NAME      the session behind NAME: resource, options, DriverSetup,\n"
         "                 virtual names\n"
         "  add NAME       adds NAME (a logical name, driver session and hardware asset)\n"
         "                 for the VISA resource R. --options takes the option string's\n"
         "                 Cache=1,Simulate=0,... (also --simulate), --driver-setup the\n"
         "                 DriverSetup text (Model:6510), --virtual maps a channel name\n"
         "                 to CH1..CH3 (repeat it, or give a comma list)\n"
         "  remove NAME    removes NAME, and its session and asset unless others use them\n"
         "  check          validates the file and reports the first problem with its line\n"
         "Edits are atomic and keep everything else in the file; a malformed or\n"
         "read-only store is refused and left as it is.",
         {"resource", "driver-setup", "virtual"},
         1,
         2,
         RunStore},
    };
    return kCommands;
}

}  // namespace cli
