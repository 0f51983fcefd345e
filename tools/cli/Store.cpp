// tarvek store: the configuration store file the driver reads, from the shell.
// Reading goes through the store reader, edits through the store writer, so
// the tool accepts and refuses exactly what the driver does.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "StoreWriter.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Json.h"
#include "tools/cli/Session.h"

namespace cli {
namespace {

// A store that cannot be read or changed: exit status 1, like a driver failure.
class StoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

std::string LowerAscii(std::string strText) {
    for (char& c : strText) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return strText;
}

std::string Trim(const std::string& strText) {
    const auto nFirst = strText.find_first_not_of(" \t");
    if (nFirst == std::string::npos) {
        return {};
    }
    return strText.substr(nFirst, strText.find_last_not_of(" \t") - nFirst + 1);
}

// --options takes the driver's option-string syntax ("Cache=0,Simulate=1",
// optionally ending in DriverSetup=...) and becomes session attributes.
void ParseSessionOptions(const std::string& strText, cfgstore::LogicalNameEntry& entry,
                         bool& bDriverSetupGiven) {
    std::string strRest = strText;
    while (!Trim(strRest).empty()) {
        const auto nComma = strRest.find(',');
        std::string strItem = Trim(strRest.substr(0, nComma));
        const auto nEquals = strItem.find('=');
        const std::string strKey = LowerAscii(Trim(strItem.substr(0, nEquals)));
        if (strKey == "driversetup") {
            // DriverSetup runs to the end of the option string, commas included.
            const auto nStart = strRest.find('=');
            entry.strDriverSetup = Trim(strRest.substr(nStart + 1));
            bDriverSetupGiven = true;
            return;
        }
        if (nEquals == std::string::npos) {
            throw UsageError("--options: '" + strItem + "' needs a value (" + strItem + "=1)");
        }
        const std::string strValue = LowerAscii(Trim(strItem.substr(nEquals + 1)));
        bool bValue = false;
        if (strValue == "1" || strValue == "true" || strValue == "vi_true") {
            bValue = true;
        } else if (!(strValue == "0" || strValue == "false" || strValue == "vi_false")) {
            throw UsageError("--options: " + Trim(strItem.substr(0, nEquals)) +
                             " takes 1, 0, true or false, not '" + strItem.substr(nEquals + 1) +
                             "'");
        }
        std::string strAttribute;
        for (const std::string& strCandidate : cfgstore::SessionOptionAttributes()) {
            if (LowerAscii(strCandidate) == strKey) {
                strAttribute = strCandidate;
            }
        }
        if (strAttribute.empty()) {
            throw UsageError("--options: unknown option '" + Trim(strItem.substr(0, nEquals)) +
                             "' (Cache, InterchangeCheck, QueryInstrStatus, RangeCheck, "
                             "RecordCoercions, Simulate, DriverSetup)");
        }
        for (const auto& option : entry.vecOptions) {
            if (option.first == strAttribute) {
                throw UsageError("--options: " + Trim(strItem.substr(0, nEquals)) +
                                 " is given twice");
            }
        }
        entry.vecOptions.emplace_back(strAttribute, bValue);
        if (nComma == std::string::npos) {
            return;
        }
        strRest.erase(0, nComma + 1);
    }
}

cfgstore::LogicalNameEntry EntryFromCommandLine(const Invocation& inv) {
    cfgstore::LogicalNameEntry entry;
    entry.strName = inv.vecArgs[1];
    if (entry.strName.empty()) {
        throw UsageError("add needs a non-empty NAME");
    }
    if (!inv.Has("resource") || inv.Value("resource").empty()) {
        throw UsageError("add needs --resource R (the VISA resource of the supply)");
    }
    entry.strResource = inv.Value("resource");
    bool bDriverSetupGiven = false;
    ParseSessionOptions(inv.Value("options"), entry, bDriverSetupGiven);
    if (inv.setFlags.count("simulate") != 0) {
        for (const auto& option : entry.vecOptions) {
            if (option.first == "simulate") {
                throw UsageError("--simulate and Simulate in --options are both given");
            }
        }
        entry.vecOptions.emplace_back("simulate", true);
    }
    if (inv.Has("driver-setup")) {
        if (bDriverSetupGiven) {
            throw UsageError("--driver-setup and DriverSetup in --options are both given");
        }
        entry.strDriverSetup = inv.Value("driver-setup");
    }
    const auto it = inv.mapRepeated.find("virtual");
    if (it != inv.mapRepeated.end()) {
        for (const std::string& strList : it->second) {
            // Each --virtual takes one mapping or a comma list of them.
            std::string strRest = strList + ",";
            for (auto nComma = strRest.find(','); nComma != std::string::npos;
                 nComma = strRest.find(',')) {
                const std::string strPair = Trim(strRest.substr(0, nComma));
                strRest.erase(0, nComma + 1);
                const auto nEquals = strPair.find('=');
                if (nEquals == std::string::npos || nEquals == 0 || nEquals + 1 == strPair.size()) {
                    throw UsageError("--virtual takes NAME=CHn (e.g. Motor=CH2), not '" + strPair +
                                     "'");
                }
                entry.vecVirtualNames.emplace_back(Trim(strPair.substr(0, nEquals)),
                                                   Trim(strPair.substr(nEquals + 1)));
            }
        }
    }
    return entry;
}

std::string OptionText(const cfgstore::DriverSession& session) {
    const std::pair<const char*, bool> kOptions[] = {
        {"Cache", session.bCache},
        {"InterchangeCheck", session.bInterchangeCheck},
        {"QueryInstrStatus", session.bQueryInstrStatus},
        {"RangeCheck", session.bRangeCheck},
        {"RecordCoercions", session.bRecordCoercions},
        {"Simulate", session.bSimulate},
    };
    std::string strText;
    for (const auto& [szName, bValue] : kOptions) {
        strText += std::string(strText.empty() ? "" : ",") + szName + "=" + (bValue ? "1" : "0");
    }
    return strText;
}

std::string ResourceOf(const cfgstore::StoreData& data, const cfgstore::DriverSession& session) {
    return session.nHardwareAsset
               ? data.vecHardwareAssets[*session.nHardwareAsset].strResourceDescriptor
               : std::string();
}

std::shared_ptr<const cfgstore::StoreData> ReadValidStore(const std::string& strPath) {
    const cfgstore::StoreFileState state = cfgstore::ReadStoreFile(strPath);
    if (!state.pData) {
        throw StoreError(state.strError);
    }
    return state.pData;
}

int StoreList(const Invocation& inv, const std::string& strPath) {
    const auto pData = ReadValidStore(strPath);
    std::vector<std::string> vecJson;
    for (const cfgstore::LogicalName& logical : pData->vecLogicalNames) {
        const cfgstore::DriverSession& session = pData->vecDriverSessions[logical.nDriverSession];
        const std::string strResource = ResourceOf(*pData, session);
        if (inv.bJson) {
            vecJson.push_back(JsonObject()
                                  .Add("name", JsonString(logical.strName))
                                  .Add("driver_session", JsonString(session.strName))
                                  .Add("resource", JsonString(strResource))
                                  .Add("simulate", JsonBool(session.bSimulate))
                                  .Text());
        } else {
            std::printf("%-20s %s%s\n", logical.strName.c_str(),
                        strResource.empty() ? "(no resource)" : strResource.c_str(),
                        session.bSimulate ? "  (simulated)" : "");
        }
    }
    if (inv.bJson) {
        std::printf("%s\n", JsonObject()
                                .Add("store", JsonString(strPath))
                                .Add("logical_names", JsonArray(vecJson))
                                .Text()
                                .c_str());
    } else if (pData->vecLogicalNames.empty()) {
        std::fprintf(stderr, "No logical names in %s.\n", strPath.c_str());
    }
    return kExitOk;
}

int StoreShow(const Invocation& inv, const std::string& strPath) {
    const auto pData = ReadValidStore(strPath);
    const std::string& strName = inv.vecArgs[1];
    const auto it = pData->mapLogicalNames.find(strName);
    if (it == pData->mapLogicalNames.end()) {
        throw StoreError("The configuration store \"" + strPath + "\" holds no logical name \"" +
                         strName + "\" ('tarvek store list' shows those it holds).");
    }
    const cfgstore::DriverSession& session =
        pData->vecDriverSessions[pData->vecLogicalNames[it->second].nDriverSession];
    const std::string strModule =
        session.nSoftwareModule ? pData->vecSoftwareModules[*session.nSoftwareModule].strName : "";
    std::vector<std::string> vecVirtual;
    std::vector<std::string> vecVirtualJson;
    for (const cfgstore::VirtualName& name : session.vecVirtualNames) {
        std::string strMapping = name.strName + "=" + name.strMapTo;
        for (const cfgstore::VirtualRange& range : name.vecRanges) {
            strMapping += " [" + std::to_string(range.nMin) + "-" + std::to_string(range.nMax) +
                          " from " + std::to_string(range.nStartingPhysicalIndex) + "]";
        }
        vecVirtual.push_back(strMapping);
        vecVirtualJson.push_back(JsonObject()
                                     .Add("name", JsonString(name.strName))
                                     .Add("map_to", JsonString(name.strMapTo))
                                     .Text());
    }
    if (inv.bJson) {
        std::printf("%s\n", JsonObject()
                                .Add("name", JsonString(strName))
                                .Add("driver_session", JsonString(session.strName))
                                .Add("resource", JsonString(ResourceOf(*pData, session)))
                                .Add("software_module", JsonString(strModule))
                                .Add("options", JsonString(OptionText(session)))
                                .Add("driver_setup", JsonString(session.strDriverSetup))
                                .Add("virtual_names", JsonArray(vecVirtualJson))
                                .Text()
                                .c_str());
        return kExitOk;
    }
    std::string strVirtual;
    for (const std::string& strMapping : vecVirtual) {
        strVirtual += (strVirtual.empty() ? "" : ", ") + strMapping;
    }
    const std::pair<const char*, std::string> kRows[] = {
        {"Logical name", strName},
        {"Driver session", session.strName},
        {"Resource", ResourceOf(*pData, session)},
        {"Software module", strModule},
        {"Options", OptionText(session)},
        {"DriverSetup", session.strDriverSetup},
        {"Virtual names", strVirtual},
    };
    for (const auto& [szLabel, strValue] : kRows) {
        std::printf("%-16s %s\n", (std::string(szLabel) + ":").c_str(), strValue.c_str());
    }
    return kExitOk;
}

int StoreCheck(const Invocation& inv, const std::string& strPath) {
    const cfgstore::StoreFileState state = cfgstore::ReadStoreFile(strPath);
    const std::string strProblem = cfgstore::CheckStoreFile(strPath);
    if (!strProblem.empty()) {
        throw StoreError(strProblem);
    }
    std::string strSummary;
    if (!state.bExists) {
        strSummary = "No store file at " + strPath +
                     ": the driver uses its built-in registration of TARVEK (CH1, CH2, CH3).";
    } else {
        strSummary = strPath + " is valid: " + std::to_string(state.pData->vecLogicalNames.size()) +
                     " logical names, " + std::to_string(state.pData->vecDriverSessions.size()) +
                     " driver sessions, " + std::to_string(state.pData->vecHardwareAssets.size()) +
                     " hardware assets, " + std::to_string(state.pData->vecSoftwareModules.size()) +
                     " software modules.";
    }
    if (inv.bJson) {
        std::printf("%s\n", JsonObject()
                                .Add("store", JsonString(strPath))
                                .Add("exists", JsonBool(state.bExists))
                                .Add("valid", JsonBool(true))
                                .Text()
                                .c_str());
    } else {
        std::printf("%s\n", strSummary.c_str());
    }
    return kExitOk;
}

struct StoreSubcommand {
    const char* pName;
    int nArgs;  // words after the subcommand
    int (*handler)(const Invocation&, const std::string& strPath);
};

int StoreAdd(const Invocation& inv, const std::string& strPath) {
    const cfgstore::LogicalNameEntry entry = EntryFromCommandLine(inv);
    std::string strError;
    if (!cfgstore::AddLogicalName(strPath, entry, strError)) {
        throw StoreError(strError);
    }
    std::printf("Added %s (%s) to %s.\n", entry.strName.c_str(), entry.strResource.c_str(),
                strPath.c_str());
    return kExitOk;
}

int StoreRemove(const Invocation& inv, const std::string& strPath) {
    std::string strError;
    if (!cfgstore::RemoveLogicalName(strPath, inv.vecArgs[1], strError)) {
        throw StoreError(strError);
    }
    std::printf("Removed %s from %s.\n", inv.vecArgs[1].c_str(), strPath.c_str());
    return kExitOk;
}

constexpr StoreSubcommand kSubcommands[] = {
    {"list", 0, StoreList},     {"show", 1, StoreShow},   {"add", 1, StoreAdd},
    {"remove", 1, StoreRemove}, {"check", 0, StoreCheck},
};

}  // namespace

int RunStore(const Invocation& inv) {
    const std::string& strSubcommand = inv.vecArgs[0];
    for (const StoreSubcommand& subcommand : kSubcommands) {
        if (strSubcommand != subcommand.pName) {
            continue;
        }
        if (static_cast<int>(inv.vecArgs.size()) != 1 + subcommand.nArgs) {
            throw UsageError(std::string(subcommand.pName) +
                             (subcommand.nArgs == 0 ? " takes no arguments" : " needs NAME"));
        }
        const bool bAdd = subcommand.handler == StoreAdd;
        for (const char* pOption : {"resource", "driver-setup", "virtual"}) {
            if (!bAdd && inv.Has(pOption)) {
                throw UsageError("--" + std::string(pOption) + " belongs to 'store add'");
            }
        }
        if (!bAdd && (inv.Has("options") || inv.setFlags.count("simulate") != 0)) {
            throw UsageError("--options and --simulate belong to 'store add'");
        }
        try {
            return subcommand.handler(inv, cfgstore::MasterLocation());
        } catch (const StoreError& error) {
            std::fprintf(stderr, "tarvek store: %s\n", error.what());
            return kExitDriverError;
        }
    }
    throw UsageError("unknown store command '" + strSubcommand +
                     "' (list, show, add, remove or check)");
}

std::string LogicalNameDriverSetup(const std::string& strName) {
    if (strName.find("::") != std::string::npos) {
        return {};  // a VISA resource, not a name of the store
    }
    try {
        const cfgstore::StoreFileState state = cfgstore::ReadStoreFile(cfgstore::MasterLocation());
        if (!state.pData) {
            return {};
        }
        const cfgstore::StoreData& data = *state.pData;
        if (const auto it = data.mapLogicalNames.find(strName); it != data.mapLogicalNames.end()) {
            return data.vecDriverSessions[data.vecLogicalNames[it->second].nDriverSession]
                .strDriverSetup;
        }
        if (const auto it = data.mapDriverSessions.find(strName);
            it != data.mapDriverSessions.end()) {
            return data.vecDriverSessions[it->second].strDriverSetup;
        }
    } catch (const std::exception&) {
        // An unreadable store tells nothing; opening the session reports it.
    }
    return {};
}

bool IsRepeatableOption(const std::string& strName) {
    return strName == "virtual";
}

}  // namespace cli
