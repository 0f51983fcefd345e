#include "tools/cli/Outputs.h"

#include <cstdio>

#include "tools/cli/CommandLine.h"
#include "tools/cli/Json.h"
#include "tools/cli/Printing.h"

namespace cli {
namespace {

std::string PhysicalName(const Session& session, const std::string& strSelector) {
    return "CH" + std::to_string(session.ChannelIndex(strSelector) + 1);
}

}  // namespace

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

void CheckChangesTookEffect(const Session& session, const char* pWhat) {
    if (!session.ChecksInstrumentStatus()) {
        session.CheckInstrumentErrors(pWhat);
    }
}

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

}  // namespace cli
