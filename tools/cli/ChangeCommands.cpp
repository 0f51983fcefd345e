// The commands that change the supply's settings: set, apply and list.
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

// What a change did, per output: one JSON object (an "outputs" array for
// several), or one line each.
void PrintPerOutput(const Invocation& inv, const std::vector<std::string>& vecJson,
                    const std::vector<std::string>& vecLines) {
    if (inv.bJson) {
        Print(vecJson.size() == 1 ? vecJson[0]
                                  : JsonObject().Add("outputs", JsonArray(vecJson)).Text());
    } else {
        for (const std::string& strLine : vecLines) {
            Print(strLine);
        }
    }
}

}  // namespace

// -- set ------------------------------------------------------------------

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
    PrintPerOutput(inv, vecJson, vecLines);
    return kExitOk;
}

// -- apply ----------------------------------------------------------------

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
    PrintPerOutput(inv, vecJson, vecLines);
    return kExitOk;
}

// -- list -------------------------------------------------------------------

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

}  // namespace cli
