// The commands that read: info, get, measure, errors and attributes.
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

// -- info -------------------------------------------------------------------

int RunInfo(const Invocation& inv) {
    Session session(inv.vecArgs[0], inv.DriverOptions());
    struct Field {
        const char* pLabel;
        const char* pKey;
        ViAttr nId;
    };
    static constexpr Field kIdentity[] = {
        {"Manufacturer", "manufacturer", TARVEK_ATTR_INSTRUMENT_MANUFACTURER},
        {"Model", "model", TARVEK_ATTR_INSTRUMENT_MODEL},
        {"Firmware", "firmware", TARVEK_ATTR_INSTRUMENT_FIRMWARE_REVISION},
    };
    static constexpr Field kDriver[] = {
        {"Driver", "driver", TARVEK_ATTR_SPECIFIC_DRIVER_DESCRIPTION},
        {"Driver revision", "driver_revision", TARVEK_ATTR_SPECIFIC_DRIVER_REVISION},
        {"Resource", "resource", TARVEK_ATTR_IO_RESOURCE_DESCRIPTOR},
        {"Logical name", "logical_name", TARVEK_ATTR_LOGICAL_NAME},
        {"Driver setup", "driver_setup", TARVEK_ATTR_DRIVER_SETUP},
    };
    // The inherent options, by their option-string names.
    static constexpr Field kOptions[] = {
        {"Cache", "cache", TARVEK_ATTR_CACHE},
        {"InterchangeCheck", "interchange_check", TARVEK_ATTR_INTERCHANGE_CHECK},
        {"QueryInstrStatus", "query_instrument_status", TARVEK_ATTR_QUERY_INSTRUMENT_STATUS},
        {"RangeCheck", "range_check", TARVEK_ATTR_RANGE_CHECK},
        {"RecordCoercions", "record_coercions", TARVEK_ATTR_RECORD_COERCIONS},
        {"Simulate", "simulate", TARVEK_ATTR_SIMULATE},
    };
    std::vector<std::pair<std::string, std::string>> vecLines;  // label, text
    JsonObject json;
    auto addField = [&](const Field& field) {
        const AttributeInfo& info = Attribute(field.nId);
        const AttributeValue value = session.Get(info, "");
        vecLines.emplace_back(field.pLabel, session.Format(info, value));
        json.Add(field.pKey, ValueJson(info, value));
    };
    for (const Field& field : kIdentity) {
        addField(field);
    }
    const std::vector<std::string> vecChannels = session.ChannelNames();
    // The two families differ in their output count.
    const std::string strFamily = vecChannels.size() == 1 ? "Series6510" : "Series6310";
    std::string strOutputs = std::to_string(vecChannels.size()) + " (";
    std::vector<std::string> vecChannelJson;
    for (size_t n = 0; n < vecChannels.size(); ++n) {
        strOutputs += (n == 0 ? "" : ", ") + vecChannels[n];
        vecChannelJson.push_back(JsonString(vecChannels[n]));
    }
    strOutputs += ")";
    vecLines.emplace_back("Family", strFamily);
    vecLines.emplace_back("Outputs", strOutputs);
    json.Add("family", JsonString(strFamily))
        .Add("outputs", std::to_string(vecChannels.size()))
        .Add("channels", JsonArray(vecChannelJson));
    for (const Field& field : kDriver) {
        addField(field);
    }
    std::string strOptions;
    JsonObject jsonOptions;
    for (const Field& field : kOptions) {
        const bool bOn = session.Get(Attribute(field.nId), "").bValue != VI_FALSE;
        strOptions +=
            std::string(strOptions.empty() ? "" : ", ") + field.pLabel + "=" + (bOn ? "1" : "0");
        jsonOptions.Add(field.pKey, JsonBool(bOn));
    }
    vecLines.emplace_back("Options", strOptions);
    json.Add("options", jsonOptions.Text());
    if (inv.bJson) {
        Print(json.Text());
    } else {
        for (const auto& [strLabel, strText] : vecLines) {
            std::printf("%-16s %s\n", (strLabel + ":").c_str(), strText.c_str());
        }
    }
    return kExitOk;
}

// -- get ------------------------------------------------------------------

int RunGet(const Invocation& inv) {
    const AttributeInfo& info = RequireAttribute(inv.vecArgs[1]);
    const std::vector<std::string> vecChannels = AttributeChannels(info, inv);
    Session session(inv.vecArgs[0], inv.DriverOptions());
    std::vector<std::string> vecJson;
    for (const std::string& strChannel : vecChannels) {
        const AttributeValue value = session.Get(info, strChannel);
        const std::string strText = session.Format(info, value);
        vecJson.push_back(JsonObject()
                              .Add("attribute", JsonString(info.pName))
                              .Add("channel", JsonString(strChannel))
                              .Add("type", JsonString(KindName(info.eKind)))
                              .Add("value", ValueJson(info, value))
                              .Add("text", JsonString(strText))
                              .Text());
        if (!inv.bJson) {
            // One value prints alone, for scripts; several carry their output.
            Print(vecChannels.size() == 1 ? strText : strChannel + ": " + strText);
        }
    }
    if (inv.bJson) {
        Print(vecJson.size() == 1 ? vecJson[0]
                                  : JsonObject().Add("outputs", JsonArray(vecJson)).Text());
    }
    return kExitOk;
}

// -- measure --------------------------------------------------------------

int RunMeasure(const Invocation& inv) {
    CheckChannelSyntax(inv);
    Session session(inv.vecArgs[0], inv.DriverOptions());
    const std::vector<Output> vecOutputs = SelectedOutputs(session, inv);
    std::vector<std::string> vecJson;
    if (!inv.bJson) {
        Print(TableHeader());
    }
    for (const Output& output : vecOutputs) {
        const Reading reading = ReadOutput(session, output);
        if (inv.bJson) {
            vecJson.push_back(ReadingJson(reading));
        } else {
            Print(TableRow(reading));
        }
    }
    if (inv.bJson) {
        Print(JsonObject().Add("outputs", JsonArray(vecJson)).Text());
    }
    return kExitOk;
}

// -- errors ---------------------------------------------------------------

int RunErrors(const Invocation& inv) {
    Session session(inv.vecArgs[0], inv.DriverOptions());
    // The queue is finite; the bound keeps a misbehaving instrument from
    // holding the tool forever.
    constexpr int kMaxErrors = 100;
    std::vector<std::string> vecJson;
    int nCount = 0;
    for (; nCount < kMaxErrors; ++nCount) {
        ViInt32 nCode = 0;
        ViChar szMessage[256] = {};
        session.Check(TARVEK_error_query(session.Handle(), &nCode, szMessage),
                      "TARVEK_error_query");
        if (nCode == 0) {
            break;
        }
        if (inv.bJson) {
            vecJson.push_back(JsonObject()
                                  .Add("code", std::to_string(nCode))
                                  .Add("message", JsonString(szMessage))
                                  .Text());
        } else {
            std::printf("%d  %s\n", nCode, szMessage);
        }
    }
    if (inv.bJson) {
        Print(JsonObject().Add("errors", JsonArray(vecJson)).Text());
    } else if (nCount == 0) {
        Print("No errors.");
    }
    return kExitOk;
}

// -- attributes -------------------------------------------------------------

int RunAttributes(const Invocation& inv) {
    const std::string strFilter = inv.vecArgs.empty() ? "" : ToUpperAscii(inv.vecArgs[0]);
    std::vector<std::string> vecJson;
    for (const AttributeInfo& info : AllAttributes()) {
        if (std::string_view(info.pName).find(strFilter) == std::string_view::npos) {
            continue;
        }
        std::vector<std::string> vecValues;
        std::string strValues;
        for (const EnumValue& value : info.values) {
            const std::string strShort = ShortValueName(info.values, value);
            vecValues.push_back(JsonString(strShort));
            strValues += (strValues.empty() ? "" : " ") + strShort;
        }
        if (inv.bJson) {
            vecJson.push_back(JsonObject()
                                  .Add("name", JsonString(info.pName))
                                  .Add("id", std::to_string(info.nId))
                                  .Add("type", JsonString(KindName(info.eKind)))
                                  .Add("writable", JsonBool(info.bWritable))
                                  .Add("per_channel", JsonBool(info.bPerChannel))
                                  .Add("values", JsonArray(vecValues))
                                  .Text());
        } else {
            std::printf("%-64s %-9s %-2s %-7s %s\n", info.pName, KindName(info.eKind),
                        info.bWritable ? "RW" : "R", info.bPerChannel ? "channel" : "",
                        strValues.c_str());
        }
    }
    if (inv.bJson) {
        Print(JsonArray(vecJson));
    }
    return kExitOk;
}

}  // namespace cli
