// tarvek: the command-line tool for TARVEK supplies, built on the public C API.
//
//   tarvek info TCPIP::192.168.1.20::5025::SOCKET
//   tarvek apply MyPSU --channel CH1 --voltage 5 --current 0.5 --output on
#include <cstdio>
#include <cstring>
#include <exception>

#include "tools/cli/Commands.h"
#include "tools/cli/Json.h"
#include "tools/cli/Session.h"

namespace {

using cli::CommandInfo;
using cli::Invocation;

constexpr const char* kGlobalHelp =
    "Global options (any position):\n"
    "  --simulate        open the session in simulation (no instrument needed)\n"
    "  --options TEXT    option string for the driver, e.g. \"QueryInstrStatus=1\" or\n"
    "                    \"Cache=0,DriverSetup=Model:6510\"\n"
    "  --json            machine-readable output\n"
    "  --help            this text\n"
    "  --version         the tool's and the driver's version\n"
    "RESOURCE is a VISA resource (TCPIP::host::5025::SOCKET, ASRL/dev/ttyUSB0::INSTR)\n"
    "or a logical name of the configuration store.\n"
    "Commands that change settings check the instrument's status after every call\n"
    "(they add QueryInstrStatus=1 unless --options names it) and fail with the\n"
    "instrument's own error text when it refused something.\n"
    "Exit status: 0 success, 1 driver or instrument error (the instrument refused a\n"
    "value, or the connection failed), 2 bad command line, 130 interrupted.\n";

void PrintUsage(std::FILE* pStream) {
    std::fprintf(pStream, "Usage: tarvek COMMAND [ARGUMENTS] [OPTIONS]\n\nCommands:\n");
    for (const CommandInfo& command : cli::Commands()) {
        std::fprintf(pStream, "  %-11s %s\n", command.pName, command.pSummary);
    }
    std::fprintf(pStream, "\n%s\nRun 'tarvek COMMAND --help' for a command's arguments.\n",
                 kGlobalHelp);
}

void PrintCommandHelp(const CommandInfo& command) {
    std::printf("Usage: tarvek %s %s\n\n%s.\n", command.pName, command.pArguments,
                command.pSummary);
    if (command.pDetails[0] != '\0') {
        std::printf("%s\n", command.pDetails);
    }
    std::printf("\n%s", kGlobalHelp);
}

bool IsGlobalValueOption(const std::string& strName) {
    return strName == "options";
}
bool IsGlobalFlag(const std::string& strName) {
    return strName == "simulate" || strName == "json" || strName == "help" || strName == "version";
}

// A negative number is a value, not an option ("set R voltage_level -1").
bool LooksLikeOption(const std::string& strArg) {
    if (strArg.size() < 2 || strArg[0] != '-') {
        return false;
    }
    return !(std::isdigit(static_cast<unsigned char>(strArg[1])) || strArg[1] == '.');
}

struct Parsed {
    const CommandInfo* pCommand = nullptr;
    Invocation invocation;
    bool bHelp = false;
};

Parsed Parse(int argc, char** argv) {
    Parsed parsed;
    Invocation& inv = parsed.invocation;
    bool bOptionsEnded = false;
    for (int n = 1; n < argc; ++n) {
        const std::string strArg = argv[n];
        if (!bOptionsEnded && strArg == "--") {
            bOptionsEnded = true;
            continue;
        }
        if (!bOptionsEnded && (strArg == "-h")) {
            parsed.bHelp = true;
            continue;
        }
        if (bOptionsEnded || !LooksLikeOption(strArg)) {
            if (parsed.pCommand == nullptr) {
                for (const CommandInfo& command : cli::Commands()) {
                    if (strArg == command.pName) {
                        parsed.pCommand = &command;
                    }
                }
                if (parsed.pCommand == nullptr && strArg != "help") {
                    throw cli::UsageError("unknown command '" + strArg + "'");
                }
                if (strArg == "help") {
                    parsed.bHelp = true;
                }
            } else {
                inv.vecArgs.push_back(strArg);
            }
            continue;
        }
        if (strArg.rfind("--", 0) != 0) {
            throw cli::UsageError("unknown option '" + strArg + "'");
        }
        std::string strName = strArg.substr(2);
        std::string strValue;
        bool bHasValue = false;
        if (const size_t nEquals = strName.find('='); nEquals != std::string::npos) {
            strValue = strName.substr(nEquals + 1);
            strName.erase(nEquals);
            bHasValue = true;
        }
        bool bTakesValue = IsGlobalValueOption(strName);
        if (parsed.pCommand != nullptr) {
            for (const char* pOption : parsed.pCommand->vecValueOptions) {
                bTakesValue = bTakesValue || strName == pOption;
            }
        }
        if (bTakesValue) {
            if (!bHasValue) {
                if (n + 1 >= argc) {
                    throw cli::UsageError("--" + strName + " needs a value");
                }
                strValue = argv[++n];
            }
            if (cli::IsRepeatableOption(strName)) {
                inv.mapRepeated[strName].push_back(strValue);
            } else if (inv.mapValues.count(strName) != 0) {
                throw cli::UsageError("--" + strName + " is given twice");
            }
            inv.mapValues[strName] = strValue;
        } else if (IsGlobalFlag(strName) && !bHasValue) {
            inv.setFlags.insert(strName);
        } else {
            throw cli::UsageError("unknown option '--" + strName + "'" +
                                  (parsed.pCommand
                                       ? std::string(" for '") + parsed.pCommand->pName + "'"
                                       : std::string(" (options come after the command)")));
        }
    }
    parsed.bHelp = parsed.bHelp || inv.setFlags.count("help") != 0;
    inv.bJson = inv.setFlags.count("json") != 0;
    return parsed;
}

void ReportDriverError(const cli::DriverError& error, bool bJson) {
    if (bJson) {
        cli::JsonObject json;
        json.Add("status", std::to_string(error.Status()))
            .Add("code", cli::JsonString(cli::StatusHex(error.Status())))
            .Add("message", cli::JsonString(error.what()));
        if (!error.Hint().empty()) {
            json.Add("hint", cli::JsonString(error.Hint()));
        }
        std::printf("%s\n", cli::JsonObject().Add("error", json.Text()).Text().c_str());
    }
    std::fprintf(stderr, "tarvek: error %s: %s\n", cli::StatusHex(error.Status()).c_str(),
                 error.what());
    if (!error.Hint().empty()) {
        std::fprintf(stderr, "tarvek: hint: %s\n", error.Hint().c_str());
    }
}

// The driver's revision, read from a simulated session so that no
// instrument is needed; the tool is built with the driver it ships with.
int PrintVersion(bool bJson) {
    ViSession vi = VI_NULL;
    std::string strRevision = "unknown";
    if (TARVEK_InitWithOptions(const_cast<ViChar*>(""), VI_FALSE, VI_FALSE, "Simulate=1", &vi) >=
        VI_SUCCESS) {
        ViChar szRevision[256] = {};
        if (TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_SPECIFIC_DRIVER_REVISION,
                                        sizeof szRevision, szRevision) >= VI_SUCCESS) {
            strRevision = szRevision;
        }
        TARVEK_close(vi);
    }
    if (bJson) {
        std::printf("%s\n", cli::JsonObject()
                                .Add("tarvek", cli::JsonString(TARVEK_PROJECT_VERSION))
                                .Add("driver_revision", cli::JsonString(strRevision))
                                .Text()
                                .c_str());
    } else {
        std::printf("tarvek %s (driver revision %s)\n", TARVEK_PROJECT_VERSION,
                    strRevision.c_str());
    }
    return cli::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    Parsed parsed;
    try {
        parsed = Parse(argc, argv);
    } catch (const cli::UsageError& error) {
        std::fprintf(stderr, "tarvek: %s\nRun 'tarvek --help' for usage.\n", error.what());
        return cli::kExitUsage;
    }
    if (parsed.pCommand == nullptr && parsed.invocation.setFlags.count("version") != 0) {
        return PrintVersion(parsed.invocation.bJson);
    }
    if (parsed.pCommand == nullptr) {
        PrintUsage(parsed.bHelp ? stdout : stderr);
        return parsed.bHelp ? cli::kExitOk : cli::kExitUsage;
    }
    const CommandInfo& command = *parsed.pCommand;
    if (parsed.bHelp) {
        PrintCommandHelp(command);
        return cli::kExitOk;
    }
    if (parsed.invocation.setFlags.count("version") != 0) {
        return PrintVersion(parsed.invocation.bJson);
    }
    const Invocation& inv = parsed.invocation;
    const int nArgs = static_cast<int>(inv.vecArgs.size());
    if (nArgs < command.nMinArgs || (command.nMaxArgs >= 0 && nArgs > command.nMaxArgs)) {
        std::fprintf(stderr, "Usage: tarvek %s %s\nRun 'tarvek %s --help' for details.\n",
                     command.pName, command.pArguments, command.pName);
        return cli::kExitUsage;
    }
    try {
        return command.handler(inv);
    } catch (const cli::UsageError& error) {
        std::fprintf(stderr, "tarvek %s: %s\n", command.pName, error.what());
        return cli::kExitUsage;
    } catch (const cli::DriverError& error) {
        ReportDriverError(error, inv.bJson);
        return cli::kExitDriverError;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarvek: %s\n", error.what());
        return cli::kExitDriverError;
    }
}
