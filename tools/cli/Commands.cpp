#include "tools/cli/Commands.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "tools/cli/Attributes.h"
#include "tools/cli/Json.h"
#include "tools/cli/Session.h"
#include "tools/cli/Trace.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_bInterrupted = 0;

void OnInterrupt(int) {
    g_bInterrupted = 1;
}

const AttributeInfo& Attribute(ViAttr nId) {
    for (const AttributeInfo& info : AllAttributes()) {
        if (info.nId == nId) {
            return info;
        }
    }
    throw std::logic_error("attribute missing from the table");
}

std::string Trim(std::string_view strText) {
    const auto nFirst = strText.find_first_not_of(" \t\r\n");
    if (nFirst == std::string_view::npos) {
        return {};
    }
    const auto nLast = strText.find_last_not_of(" \t\r\n");
    return std::string(strText.substr(nFirst, nLast - nFirst + 1));
}

std::vector<std::string> Split(std::string_view strText, char cSeparator) {
    std::vector<std::string> vecParts;
    size_t nStart = 0;
    while (true) {
        const size_t nEnd = strText.find(cSeparator, nStart);
        vecParts.push_back(Trim(strText.substr(nStart, nEnd - nStart)));
        if (nEnd == std::string_view::npos) {
            return vecParts;
        }
        nStart = nEnd + 1;
    }
}

double RequireReal(const Invocation& inv, const std::string& strOption) {
    const auto dValue = ParseReal(inv.Value(strOption));
    if (!dValue) {
        throw UsageError("--" + strOption + " needs a number, not '" + inv.Value(strOption) + "'");
    }
    return *dValue;
}

long RequireCount(const Invocation& inv, const std::string& strOption, long nDefault) {
    if (!inv.Has(strOption)) {
        return nDefault;
    }
    const auto nValue = ParseInt32(inv.Value(strOption), {});
    if (!nValue || *nValue < 0) {
        throw UsageError("--" + strOption + " needs a whole number of 0 or more, not '" +
                         inv.Value(strOption) + "'");
    }
    return *nValue;
}

const AttributeInfo& RequireAttribute(const std::string& strName) {
    if (const AttributeInfo* pInfo = FindAttribute(strName)) {
        return *pInfo;
    }
    std::string strMessage = "unknown attribute '" + strName + "'";
    const auto vecSimilar = SimilarAttributes(strName);
    if (!vecSimilar.empty()) {
        strMessage += "; did you mean";
        for (size_t n = 0; n < vecSimilar.size() && n < 5; ++n) {
            strMessage += (n == 0 ? " " : ", ") + vecSimilar[n];
        }
        strMessage += "?";
    } else {
        strMessage += " (tarvek attributes lists them all)";
    }
    throw UsageError(strMessage);
}

AttributeValue ParseValue(const AttributeInfo& info, const std::string& strText) {
    AttributeValue value;
    switch (info.eKind) {
        case ValueKind::Boolean: {
            const auto bValue = ParseBoolean(strText);
            if (!bValue) {
                throw UsageError(std::string(info.pName) +
                                 " takes on, off, true, false, 1 or 0, not '" + strText + "'");
            }
            value.bValue = *bValue;
            break;
        }
        case ValueKind::Int32: {
            const auto nValue = ParseInt32(strText, info.values);
            if (!nValue) {
                std::string strMessage = std::string(info.pName) + " takes a whole number" +
                                         (info.values.empty() ? "" : " or one of") + ", not '" +
                                         strText + "'";
                if (!info.values.empty()) {
                    strMessage = std::string(info.pName) + " takes one of";
                    for (const EnumValue& enumValue : info.values) {
                        // Appended in place: GCC 12 at -O3 warns of overlapping
                        // copies in " " + temporary.
                        strMessage += ' ';
                        strMessage += ShortValueName(info.values, enumValue);
                    }
                    strMessage += ", not '" + strText + "'";
                }
                throw UsageError(strMessage);
            }
            value.nValue = *nValue;
            break;
        }
        case ValueKind::Real64: {
            const auto dValue = ParseReal(strText);
            if (!dValue) {
                throw UsageError(std::string(info.pName) + " takes a number, not '" + strText +
                                 "'");
            }
            value.dValue = *dValue;
            break;
        }
        case ValueKind::String:
            value.strValue = strText;
            break;
        case ValueKind::Session:
            throw UsageError(std::string(info.pName) + " cannot be set");
    }
    return value;
}

std::string ValueJson(const AttributeInfo& info, const AttributeValue& value) {
    switch (info.eKind) {
        case ValueKind::Boolean:
            return JsonBool(value.bValue != VI_FALSE);
        case ValueKind::Int32:
            // A defined value by its short name, as the text output shows it.
            for (const EnumValue& enumValue : info.values) {
                if (enumValue.nValue == value.nValue) {
                    return JsonString(ShortValueName(info.values, enumValue));
                }
            }
            return std::to_string(value.nValue);
        case ValueKind::Real64:
            return JsonNumber(value.dValue);
        case ValueKind::Session:
            return std::to_string(value.hValue);
        case ValueKind::String:
            return JsonString(value.strValue);
    }
    return "null";
}

std::string PhysicalName(const Session& session, const std::string& strSelector) {
    return "CH" + std::to_string(session.ChannelIndex(strSelector) + 1);
}

struct Output {
    std::string strLabel;     // as the user named it: "CH1", or a virtual name
    std::string strPhysical;  // "CH1"...
};

constexpr int kMaxOutputs = 3;

// "CH2" -> 2; 0 for anything that is not a physical output name.
int PhysicalNumber(std::string_view strName) {
    const std::string strUpper = ToUpperAscii(Trim(strName));
    if (strUpper.size() == 3 && strUpper.starts_with("CH") && strUpper[2] >= '1' &&
        strUpper[2] <= '9') {
        return strUpper[2] - '0';
    }
    return 0;
}

// The one reader of --channel for every command: a comma list of physical
// names (CH1), virtual names and ranges of physical names (CH1-CH3 or
// CH1:CH3), in the order given. Checked before anything is opened.
std::vector<std::string> ParseChannels(const std::string& strSelector) {
    std::vector<std::string> vecNames;
    for (const std::string& strItem : Split(strSelector, ',')) {
        if (strItem.empty()) {
            throw UsageError("--channel has an empty name in '" + strSelector + "'");
        }
        const size_t nDash = strItem.find_first_of("-:");
        const int nFirst =
            nDash == std::string::npos ? 0 : PhysicalNumber(strItem.substr(0, nDash));
        const int nLast = nDash == std::string::npos
                              ? 0
                              : PhysicalNumber(std::string_view(strItem).substr(nDash + 1));
        if (nFirst == 0 || nLast == 0) {
            vecNames.push_back(strItem);  // a single name, physical or virtual
            continue;
        }
        if (nFirst > nLast || nLast > kMaxOutputs) {
            throw UsageError("--channel range '" + strItem +
                             "' must run upwards within CH1 to CH3, as CH1-CH3");
        }
        for (int n = nFirst; n <= nLast; ++n) {
            vecNames.push_back("CH" + std::to_string(n));
        }
    }
    return vecNames;
}

// Whether the option string or the logical name's session in the store names
// a one-output model (DriverSetup=Model:65xx): the ways the tool knows the
// model before it connects.
bool OneOutputModelNamed(const Invocation& inv) {
    auto namesOneOutput = [](const std::string& strText) {
        const std::string strUpper = ToUpperAscii(strText);
        const size_t nAt = strUpper.find("MODEL:");
        return nAt != std::string::npos && strUpper.compare(nAt + 6, 2, "65") == 0;
    };
    return namesOneOutput(inv.DriverOptions()) ||
           (!inv.vecArgs.empty() && namesOneOutput(LogicalNameDriverSetup(inv.vecArgs[0])));
}

// The channels an attribute is read or written on: --channel, or none for an
// attribute of the whole instrument. A per-channel attribute without
// --channel is refused before connecting, unless the options name a
// one-output model, where CH1 is the only choice.
std::vector<std::string> AttributeChannels(const AttributeInfo& info, const Invocation& inv) {
    if (inv.Has("channel")) {
        return ParseChannels(inv.Value("channel"));
    }
    if (!info.bPerChannel) {
        return {""};
    }
    if (OneOutputModelNamed(inv)) {
        return {"CH1"};
    }
    throw UsageError(std::string(info.pName) +
                     " is set per output: give --channel CH1, CH2 or CH3 (CH1 alone on a "
                     "one-output 651x), a range such as CH1-CH3, or a virtual name; the model "
                     "is not known before connecting unless DriverSetup names it");
}

// A malformed --channel is a usage error before anything is opened.
void CheckChannelSyntax(const Invocation& inv) {
    if (inv.Has("channel")) {
        ParseChannels(inv.Value("channel"));
    }
}

// The outputs a command acts on: --channel, or every output.
std::vector<Output> SelectedOutputs(const Session& session, const Invocation& inv) {
    std::vector<Output> vecOutputs;
    if (!inv.Has("channel")) {
        for (const std::string& strName : session.ChannelNames()) {
            vecOutputs.push_back({strName, strName});
        }
        return vecOutputs;
    }
    for (const std::string& strName : ParseChannels(inv.Value("channel"))) {
        vecOutputs.push_back({strName, PhysicalName(session, strName)});
    }
    return vecOutputs;
}

// After the settings of a command: a session whose caller turned status
// checking off still reports what the instrument refused.
void CheckChangesTookEffect(const Session& session, const char* pWhat) {
    if (!session.ChecksInstrumentStatus()) {
        session.CheckInstrumentErrors(pWhat);
    }
}

struct Reading {
    std::string strChannel;
    ViReal64 dVoltage = 0.0;
    ViReal64 dCurrent = 0.0;
    bool bOutput = false;
    std::string strState;  // CV, CC, unregulated, off, OVP tripped, OCP tripped
};

Reading ReadOutput(const Session& session, const Output& output) {
    const ViSession vi = session.Handle();
    const std::string& strChannel = output.strPhysical;
    Reading reading;
    reading.strChannel = output.strLabel;
    const char* pChannel = strChannel.c_str();
    session.Check(TARVEK_Measure(vi, pChannel, TARVEK_VAL_MEASURE_VOLTAGE, &reading.dVoltage),
                  "TARVEK_Measure");
    session.Check(TARVEK_Measure(vi, pChannel, TARVEK_VAL_MEASURE_CURRENT, &reading.dCurrent),
                  "TARVEK_Measure");
    reading.bOutput = session.Get(Attribute(TARVEK_ATTR_OUTPUT_ENABLED), strChannel).bValue;
    auto inState = [&](ViInt32 nState) {
        ViBoolean bInState = VI_FALSE;
        session.Check(TARVEK_QueryOutputState(vi, pChannel, nState, &bInState),
                      "TARVEK_QueryOutputState");
        return bInState != VI_FALSE;
    };
    if (inState(TARVEK_VAL_OUTPUT_OVER_VOLTAGE)) {
        reading.strState = "OVP tripped";
    } else if (!reading.bOutput) {
        // The output-state query left this output selected, so the
        // instrument-wide trip flag is this output's.
        ViBoolean bTripped = VI_FALSE;
        session.Check(TARVEK_GetOCPTripped(vi, &bTripped), "TARVEK_GetOCPTripped");
        reading.strState = bTripped ? "OCP tripped" : "off";
    } else if (inState(TARVEK_VAL_OUTPUT_UNREGULATED)) {
        reading.strState = "unregulated";
    } else {
        reading.strState = inState(TARVEK_VAL_OUTPUT_CONSTANT_CURRENT) ? "CC" : "CV";
    }
    return reading;
}

std::string ReadingJson(const Reading& reading) {
    return JsonObject()
        .Add("channel", JsonString(reading.strChannel))
        .Add("voltage", JsonNumber(reading.dVoltage))
        .Add("current", JsonNumber(reading.dCurrent))
        .Add("output", JsonBool(reading.bOutput))
        .Add("state", JsonString(reading.strState))
        .Text();
}

// Sleeps until the deadline in short slices; false when Ctrl-C came first.
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

void Print(const std::string& strLine) {
    std::fputs(strLine.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string Fixed(double dValue, int nDecimals) {
    char szText[64];
    std::snprintf(szText, sizeof szText, "%.*f", nDecimals, dValue);
    return szText;
}

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

// -- get / set --------------------------------------------------------------

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

int RunSet(const Invocation& inv) {
    const AttributeInfo& info = RequireAttribute(inv.vecArgs[1]);
    if (!info.bWritable) {
        throw UsageError(std::string(info.pName) + " is read-only");
    }
    const AttributeValue value = ParseValue(info, inv.vecArgs[2]);
    const std::vector<std::string> vecChannels = AttributeChannels(info, inv);
    Session session(inv.vecArgs[0], inv.DriverOptions(true));
    std::vector<std::string> vecJson;
    std::vector<std::string> vecLines;
    for (const std::string& strChannel : vecChannels) {
        session.Set(info, strChannel, value);
        vecJson.push_back(JsonObject()
                              .Add("attribute", JsonString(info.pName))
                              .Add("channel", JsonString(strChannel))
                              .Add("value", ValueJson(info, value))
                              .Add("text", JsonString(session.Format(info, value)))
                              .Text());
        vecLines.push_back(std::string(info.pName) +
                           (strChannel.empty() ? "" : " on " + strChannel) + " set to " +
                           session.Format(info, value));
    }
    CheckChangesTookEffect(session, info.pName);
    if (inv.bJson) {
        Print(vecJson.size() == 1 ? vecJson[0]
                                  : JsonObject().Add("outputs", JsonArray(vecJson)).Text());
    } else {
        for (const std::string& strLine : vecLines) {
            Print(strLine);
        }
    }
    return kExitOk;
}

// -- apply / measure --------------------------------------------------------

int RunApply(const Invocation& inv) {
    const std::string strChannel = inv.Value("channel");
    if (strChannel.empty()) {
        throw UsageError("apply needs --channel");
    }
    std::optional<double> dVoltage, dCurrent, dOvp;
    std::optional<ViBoolean> bOutput;
    if (inv.Has("voltage")) {
        dVoltage = RequireReal(inv, "voltage");
    }
    if (inv.Has("current")) {
        dCurrent = RequireReal(inv, "current");
    }
    if (inv.Has("ovp")) {
        dOvp = RequireReal(inv, "ovp");
    }
    if (inv.Has("output")) {
        bOutput = ParseBoolean(inv.Value("output"));
        if (!bOutput) {
            throw UsageError("--output takes on or off, not '" + inv.Value("output") + "'");
        }
    }
    if (!dVoltage && !dCurrent && !dOvp && !bOutput) {
        throw UsageError("apply needs at least one of --voltage, --current, --ovp, --output");
    }
    const std::vector<std::string> vecChannels = ParseChannels(strChannel);
    Session session(inv.vecArgs[0], inv.DriverOptions(true));
    const ViSession vi = session.Handle();
    std::vector<std::string> vecLines;
    std::vector<std::string> vecJson;
    for (const std::string& strOutput : vecChannels) {
        const char* pChannel = strOutput.c_str();
        std::vector<std::string> vecDone;
        JsonObject json;
        json.Add("channel", JsonString(strOutput));
        // Levels and protection first, so that an output switched on in the
        // same command comes up with the new settings. A refused value stops
        // here, before the output is switched on.
        if (dOvp) {
            session.Check(TARVEK_ConfigureOVP(vi, pChannel, VI_TRUE, *dOvp), "TARVEK_ConfigureOVP");
            vecDone.push_back("OVP " + FormatReal(*dOvp) + " V");
            json.Add("ovp", JsonNumber(*dOvp));
        }
        if (dVoltage) {
            session.Check(TARVEK_ConfigureVoltageLevel(vi, pChannel, *dVoltage),
                          "TARVEK_ConfigureVoltageLevel");
            vecDone.push_back("voltage " + FormatReal(*dVoltage) + " V");
            json.Add("voltage", JsonNumber(*dVoltage));
        }
        if (dCurrent) {
            session.Check(
                TARVEK_ConfigureCurrentLimit(vi, pChannel, TARVEK_VAL_CURRENT_REGULATE, *dCurrent),
                "TARVEK_ConfigureCurrentLimit");
            vecDone.push_back("current limit " + FormatReal(*dCurrent) + " A");
            json.Add("current", JsonNumber(*dCurrent));
        }
        if (bOutput) {
            session.Check(TARVEK_ConfigureOutputEnabled(vi, pChannel, *bOutput),
                          "TARVEK_ConfigureOutputEnabled");
            vecDone.push_back("output " + FormatBoolean(*bOutput));
            json.Add("output", JsonBool(*bOutput != VI_FALSE));
        }
        std::string strLine = strOutput + ":";
        for (size_t n = 0; n < vecDone.size(); ++n) {
            strLine += (n == 0 ? " " : ", ") + vecDone[n];
        }
        vecLines.push_back(strLine);
        vecJson.push_back(json.Text());
    }
    CheckChangesTookEffect(session, "apply");
    if (inv.bJson) {
        Print(vecJson.size() == 1 ? vecJson[0]
                                  : JsonObject().Add("outputs", JsonArray(vecJson)).Text());
    } else {
        for (const std::string& strLine : vecLines) {
            Print(strLine);
        }
    }
    return kExitOk;
}

std::string TableHeader() {
    return "Output   Voltage (V)  Current (A)  Output  State";
}

std::string TableRow(const Reading& reading) {
    char szLine[160];
    std::snprintf(szLine, sizeof szLine, "%-8s %11s  %11s  %-6s  %s", reading.strChannel.c_str(),
                  Fixed(reading.dVoltage, 4).c_str(), Fixed(reading.dCurrent, 4).c_str(),
                  reading.bOutput ? "on" : "off", reading.strState.c_str());
    return szLine;
}

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

// -- monitor ----------------------------------------------------------------

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

// -- list -------------------------------------------------------------------

struct ListStep {
    double dVoltage;
    double dCurrent;
    double dDwell;
};

constexpr size_t kMaxListSteps = 100;

std::vector<ListStep> ReadSteps(const std::string& strPath) {
    std::ifstream file(strPath);
    if (!file) {
        throw UsageError("cannot read " + strPath);
    }
    std::vector<ListStep> vecSteps;
    std::string strLine;
    int nLine = 0;
    bool bFirstRow = true;
    while (std::getline(file, strLine)) {
        ++nLine;
        const std::string strRow = Trim(strLine);
        if (strRow.empty() || strRow.front() == '#') {
            continue;
        }
        const std::vector<std::string> vecFields = Split(strRow, ',');
        const bool bHeader = bFirstRow && !ParseReal(vecFields[0]);
        bFirstRow = false;
        if (bHeader) {
            continue;  // a header row such as "voltage,current,dwell"
        }
        const auto where = strPath + ":" + std::to_string(nLine) + ": ";
        if (vecFields.size() != 3) {
            throw UsageError(where + "expected voltage,current,dwell");
        }
        const auto dVoltage = ParseReal(vecFields[0]);
        const auto dCurrent = ParseReal(vecFields[1]);
        const auto dDwell = ParseReal(vecFields[2]);
        if (!dVoltage || !dCurrent || !dDwell) {
            throw UsageError(where + "voltage, current and dwell must be numbers");
        }
        if (*dVoltage < 0 || *dCurrent < 0 || *dDwell <= 0 || *dDwell > 86400.0) {
            throw UsageError(where +
                             "voltage and current must not be negative and the dwell "
                             "must be above 0 and at most 86400 s");
        }
        vecSteps.push_back({*dVoltage, *dCurrent, *dDwell});
        if (vecSteps.size() > kMaxListSteps) {
            throw UsageError(where + "a list holds at most 100 steps");
        }
    }
    if (vecSteps.empty()) {
        throw UsageError(strPath + " holds no steps");
    }
    return vecSteps;
}

constexpr ViInt32 kListNumber = 1;

// Stores the steps in list 1 of the selected output, paced by dwell time.
void ProgramList(const Session& session, const std::vector<ListStep>& vecSteps, ViInt32 nRepeat) {
    const ViSession vi = session.Handle();
    session.Check(TARVEK_SetSelectedList(vi, kListNumber), "TARVEK_SetSelectedList");
    for (size_t n = 0; n < vecSteps.size(); ++n) {
        session.Check(TARVEK_SetSelectedStep(vi, static_cast<ViInt32>(n + 1)),
                      "TARVEK_SetSelectedStep");
        session.Check(TARVEK_SetStepVoltage(vi, vecSteps[n].dVoltage), "TARVEK_SetStepVoltage");
        session.Check(TARVEK_SetStepCurrent(vi, vecSteps[n].dCurrent), "TARVEK_SetStepCurrent");
        session.Check(TARVEK_SetListDwell(vi, vecSteps[n].dDwell), "TARVEK_SetListDwell");
    }
    session.Check(TARVEK_SetListPace(vi, TARVEK_VAL_LIST_PACE_DWELL), "TARVEK_SetListPace");
    session.Check(TARVEK_SetListRepeatCount(vi, nRepeat), "TARVEK_SetListRepeatCount");
    session.Check(TARVEK_SetListTerminateState(vi, TARVEK_VAL_LIST_TERMINATE_STATEDC),
                  "TARVEK_SetListTerminateState");
    session.Check(TARVEK_SetNextList(vi, 0), "TARVEK_SetNextList");
    session.Check(TARVEK_SetListTriggerSource(vi, TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_IMMEDIATE),
                  "TARVEK_SetListTriggerSource");
    session.Check(TARVEK_SaveListData(vi), "TARVEK_SaveListData");
}

// After Ctrl-C or a failure: stop the list, return to fixed levels and switch
// the output off. Best effort: a lost connection must not hide the first error.
void MakeSafe(const Session& session, ViInt32 nIndex, const std::string& strChannel) {
    const ViSession vi = session.Handle();
    TARVEK_AbortList(vi, nIndex);
    TARVEK_DisableList(vi);
    TARVEK_ConfigureOutputEnabled(vi, strChannel.c_str(), VI_FALSE);
}

int RunList(const Invocation& inv) {
    if (!inv.Has("channel") || !inv.Has("steps")) {
        throw UsageError("list needs --channel and --steps");
    }
    const std::vector<std::string> vecChannels = ParseChannels(inv.Value("channel"));
    if (vecChannels.size() != 1) {
        throw UsageError("list runs on one output, not '" + inv.Value("channel") + "'");
    }
    const std::vector<ListStep> vecSteps = ReadSteps(inv.Value("steps"));
    const long nRepeat = RequireCount(inv, "repeat", 1);
    Session session(inv.vecArgs[0], inv.DriverOptions(true));
    const ViSession vi = session.Handle();
    const ViInt32 nIndex = session.ChannelIndex(vecChannels[0]);
    const std::string strChannel = "CH" + std::to_string(nIndex + 1);
    if (session.ChannelCount() > 1) {
        session.Check(TARVEK_SetSelectedChannel(vi, nIndex), "TARVEK_SetSelectedChannel");
    }
    ProgramList(session, vecSteps, static_cast<ViInt32>(nRepeat));
    CheckChangesTookEffect(session, "the list");
    const bool bWasOn =
        session.Get(Attribute(TARVEK_ATTR_OUTPUT_ENABLED), strChannel).bValue != VI_FALSE;
    const std::string strPasses =
        nRepeat == 0 ? "until interrupted"
                     : std::to_string(nRepeat) + (nRepeat == 1 ? " pass" : " passes");
    if (!inv.bJson) {
        Print("Running " + std::to_string(vecSteps.size()) + " steps on " + strChannel + ", " +
              strPasses + " (Ctrl-C aborts)");
    }
    // Until here Ctrl-C simply ends the program: nothing has been started.
    InstallInterruptHandler();
    bool bInterrupted = false;
    try {
        session.Check(TARVEK_EnableList(vi, kListNumber), "TARVEK_EnableList");
        session.Check(TARVEK_ConfigureOutputEnabled(vi, strChannel.c_str(), VI_TRUE),
                      "TARVEK_ConfigureOutputEnabled");
        session.Check(TARVEK_StartList(vi, nIndex), "TARVEK_StartList");
        // The instrument runs the steps on its own clock; follow it by time and
        // measure the output in the middle of each step.
        auto stepStart = Clock::now();
        for (long nPass = 1; !bInterrupted && (nRepeat == 0 || nPass <= nRepeat); ++nPass) {
            for (size_t n = 0; n < vecSteps.size(); ++n) {
                const ListStep& step = vecSteps[n];
                const auto dwell = std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(step.dDwell));
                if (!SleepUntil(stepStart + dwell / 2)) {
                    bInterrupted = true;
                    break;
                }
                ViReal64 dVoltage = 0.0;
                ViReal64 dCurrent = 0.0;
                session.Check(
                    TARVEK_Measure(vi, strChannel.c_str(), TARVEK_VAL_MEASURE_VOLTAGE, &dVoltage),
                    "TARVEK_Measure");
                session.Check(
                    TARVEK_Measure(vi, strChannel.c_str(), TARVEK_VAL_MEASURE_CURRENT, &dCurrent),
                    "TARVEK_Measure");
                if (inv.bJson) {
                    Print(JsonObject()
                              .Add("pass", std::to_string(nPass))
                              .Add("step", std::to_string(n + 1))
                              .Add("set_voltage", JsonNumber(step.dVoltage))
                              .Add("set_current", JsonNumber(step.dCurrent))
                              .Add("dwell", JsonNumber(step.dDwell))
                              .Add("voltage", JsonNumber(dVoltage))
                              .Add("current", JsonNumber(dCurrent))
                              .Text());
                } else {
                    char szLine[200];
                    std::snprintf(szLine, sizeof szLine,
                                  "  pass %ld  step %zu/%zu  set %s V %s A for %s s  measured %s V "
                                  "%s A",
                                  nPass, n + 1, vecSteps.size(), FormatReal(step.dVoltage).c_str(),
                                  FormatReal(step.dCurrent).c_str(),
                                  FormatReal(step.dDwell).c_str(), Fixed(dVoltage, 3).c_str(),
                                  Fixed(dCurrent, 4).c_str());
                    Print(szLine);
                }
                stepStart += dwell;
                if (!SleepUntil(stepStart)) {
                    bInterrupted = true;
                    break;
                }
            }
        }
    } catch (const DriverError&) {
        // A call cut short by Ctrl-C fails like any other; it is still an
        // interruption, not an instrument failure.
        bInterrupted = Interrupted();
        if (!bInterrupted) {
            MakeSafe(session, nIndex, strChannel);
            throw;
        }
    }
    if (bInterrupted) {
        MakeSafe(session, nIndex, strChannel);
        if (inv.bJson) {
            Print(JsonObject().Add("result", JsonString("interrupted")).Text());
        } else {
            Print("Interrupted: list aborted, " + strChannel + " back to fixed levels, output off");
        }
        return kExitInterrupted;
    }
    session.Check(TARVEK_DisableList(vi), "TARVEK_DisableList");
    if (!bWasOn) {
        session.Check(TARVEK_ConfigureOutputEnabled(vi, strChannel.c_str(), VI_FALSE),
                      "TARVEK_ConfigureOutputEnabled");
    }
    if (inv.bJson) {
        Print(JsonObject().Add("result", JsonString("finished")).Text());
    } else {
        Print("List finished; " + strChannel + " back to fixed levels, output " +
              (bWasOn ? "on" : "off"));
    }
    return kExitOk;
}

// -- scpi / errors ----------------------------------------------------------

constexpr size_t kLargestReply = 1 << 20;

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
