// Internal to the emulator: the pieces the SCPI command tables share (the
// character-data words, the handler factories, the arguments of one call) and
// the table of each subsystem, which Instrument::Commands() concatenates.
#pragma once

#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "Instrument.h"
#include "ScpiParser.h"

namespace emu {

using scpi::ScpiError;
using scpi::Unit;

inline constexpr int kBoth = 3;
inline constexpr int k6310 = 1;
inline constexpr int k6510 = 2;
inline constexpr size_t kErrorQueueSize = 20;

// Character-data words, mixed case giving the short form.
inline const std::vector<std::string_view> kTriggerWords = {"BUS", "EXTernal", "IMMediate"};
inline const std::vector<std::string_view> kTriggerReplies = {"BUS", "EXT", "IMM"};
inline const std::vector<std::string_view> kPairWords = {
    "OFF", "PARAllel2", "PARAllel3", "SERIes2", "SERIes3", "TRACk2", "TRACk3"};
inline const std::vector<std::string_view> kPairReplies = {"OFF",   "PARA2", "PARA3", "SERI2",
                                                           "SERI3", "TRAC2", "TRAC3"};
inline const std::vector<std::string_view> kPinFunctionWords = {
    "NONE", "DOUTput", "DINPut", "TOUTput", "TINPut", "FAULt", "INHibit"};
inline const std::vector<std::string_view> kPinFunctionReplies = {"NONE", "DOUT", "DINP", "TOUT",
                                                                  "TINP", "FAUL", "INH"};
inline const std::vector<std::string_view> kPolarityWords = {"POSitive", "NEGative"};
inline const std::vector<std::string_view> kPolarityReplies = {"POS", "NEG"};
inline const std::vector<std::string_view> kInhibitWords = {"LATChing", "LIVE", "OFF"};
inline const std::vector<std::string_view> kInhibitReplies = {"LATC", "LIVE", "OFF"};
inline const std::vector<std::string_view> kRemoteWords = {"REMote", "LOCal", "RWLock"};
inline const std::vector<std::string_view> kRemoteReplies = {"REM", "LOC", "RWL"};
inline const std::vector<std::string_view> kPowerOnWords = {"OFF", "LAST", "USER"};
inline const std::vector<std::string_view> kChannelWords = {"CH1", "CH2", "CH3"};
inline const std::vector<std::string_view> kOutputModeWords = {"FIXed", "LIST"};

inline constexpr int kPinFunctionOutput = 1;
inline constexpr int kPinFunctionInhibit = 6;
inline constexpr int kInhibitLatching = 0;
inline constexpr int kInhibitLive = 1;

inline Clock::time_point After(Clock::time_point tp, double dSeconds) {
    return tp +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(dSeconds));
}

inline double SecondsBetween(Clock::time_point tpFrom, Clock::time_point tpTo) {
    return std::chrono::duration<double>(tpTo - tpFrom).count();
}

// A duration given as seconds ("90", "1.5") or as "hh:mm:ss"; 0 when unreadable.
inline double DurationSeconds(const std::string& strText) {
    std::string str = scpi::Trim(strText);
    int nHours = 0;
    int nMinutes = 0;
    double dSeconds = 0.0;
    if (std::sscanf(str.c_str(), "%d:%d:%lf", &nHours, &nMinutes, &dSeconds) == 3) {
        return nHours * 3600.0 + nMinutes * 60.0 + dSeconds;
    }
    char* pEnd = nullptr;
    double dValue = std::strtod(str.c_str(), &pEnd);
    return (pEnd != str.c_str() && std::isfinite(dValue) && dValue > 0.0) ? dValue : 0.0;
}

inline std::string Bool(bool b) {
    return b ? "1" : "0";
}

inline std::string CurrentDateTime(bool bDate) {
    std::time_t tNow = std::time(nullptr);
    std::tm tmNow{};
    localtime_r(&tNow, &tmNow);
    char szBuffer[32];
    if (bDate) {
        std::snprintf(szBuffer, sizeof szBuffer, "%04d,%02d,%02d", tmNow.tm_year + 1900,
                      tmNow.tm_mon + 1, tmNow.tm_mday);
    } else {
        std::snprintf(szBuffer, sizeof szBuffer, "%02d,%02d,%02d", tmNow.tm_hour, tmNow.tm_min,
                      tmNow.tm_sec);
    }
    return szBuffer;
}

// Arguments and reply of one program message unit.
struct Instrument::Call {
    const std::vector<std::string>& vecParameters;
    const std::vector<int>& vecSuffixes;
    std::string strReply;

    void Expect(size_t nMin, size_t nMax) const {
        if (vecParameters.size() < nMin) {
            throw ScpiError(-109);
        }
        if (vecParameters.size() > nMax) {
            throw ScpiError(-108);
        }
    }
    const std::string& Parameter(size_t n) const {
        if (n >= vecParameters.size()) {
            throw ScpiError(-109);
        }
        return vecParameters[n];
    }
    int Suffix(size_t n) const {
        return (n < vecSuffixes.size() && vecSuffixes[n] >= 0) ? vecSuffixes[n] : 1;
    }
    bool SuffixGiven(size_t n) const { return n < vecSuffixes.size() && vecSuffixes[n] >= 0; }
};

// The command tables: one per subsystem, in the order Instrument::Commands()
// puts them (the order decides which pattern a header matches first). A friend
// of Instrument, so the handlers reach its state directly.
struct CommandTable {
    using I = Instrument;
    using C = Instrument::Call;
    using Handler = Instrument::Handler;
    using Handlers = std::pair<Handler, Handler>;

    static std::vector<Instrument::Command> CommonCommands();
    static std::vector<Instrument::Command> SystemCommands();
    static std::vector<Instrument::Command> ChannelsCommands();
    static std::vector<Instrument::Command> SourceCommands();
    static std::vector<Instrument::Command> OutputCommands();
    static std::vector<Instrument::Command> MeasureCommands();
    static std::vector<Instrument::Command> TriggerCommands();
    static std::vector<Instrument::Command> ListCommands();
    static std::vector<Instrument::Command> BatteryCommands();
    static std::vector<Instrument::Command> LoggerCommands();
    static std::vector<Instrument::Command> DigitalCommands();
    static std::vector<Instrument::Command> StatusCommands();

    static ChannelState& Selected(I& inst) {
        return inst.m_arrChannels[static_cast<size_t>(inst.m_settings.nSelected)];
    }
    static Handlers RealSetting(double ChannelSettings::*pField, Unit unit, double dMin,
                                double dMax, double dDefault) {
        return Handlers{[=](I& inst, C& call) {
                            call.Expect(1, 1);
                            Selected(inst).settings.*pField =
                                scpi::ParseReal(call.Parameter(0), unit, dMin, dMax, dDefault);
                        },
                        [=](I& inst, C& call) {
                            call.Expect(0, 0);
                            call.strReply = scpi::FormatReal(Selected(inst).settings.*pField);
                        }};
    }
    static Handlers BoolSetting(bool ChannelSettings::*pField) {
        return Handlers{[=](I& inst, C& call) {
                            call.Expect(1, 1);
                            Selected(inst).settings.*pField = scpi::ParseBoolean(call.Parameter(0));
                        },
                        [=](I& inst, C& call) {
                            call.Expect(0, 0);
                            call.strReply = Bool(Selected(inst).settings.*pField);
                        }};
    }
    // Settings of the instrument as a whole, reached through a member accessor.
    static Handlers RealOf(auto get, Unit unit, double dMin, double dMax, double dDefault) {
        return Handlers{[=](I& inst, C& call) {
                            call.Expect(1, 1);
                            get(inst) =
                                scpi::ParseReal(call.Parameter(0), unit, dMin, dMax, dDefault);
                        },
                        [=](I& inst, C& call) {
                            call.Expect(0, 0);
                            call.strReply = scpi::FormatReal(get(inst));
                        }};
    }
    static Handlers IntOf(auto get, long nMin, long nMax, long nDefault) {
        return Handlers{[=](I& inst, C& call) {
                            call.Expect(1, 1);
                            get(inst) = static_cast<std::remove_reference_t<decltype(get(inst))>>(
                                scpi::ParseInteger(call.Parameter(0), nMin, nMax, nDefault));
                        },
                        [=](I& inst, C& call) {
                            call.Expect(0, 0);
                            call.strReply = std::to_string(get(inst));
                        }};
    }
    static Handlers BoolOf(auto get) {
        return Handlers{[=](I& inst, C& call) {
                            call.Expect(1, 1);
                            get(inst) = scpi::ParseBoolean(call.Parameter(0));
                        },
                        [=](I& inst, C& call) {
                            call.Expect(0, 0);
                            call.strReply = Bool(get(inst));
                        }};
    }
    static Handlers ChoiceOf(auto get, const std::vector<std::string_view>* pWords,
                             const std::vector<std::string_view>* pReplies) {
        return Handlers{
            [=](I& inst, C& call) {
                call.Expect(1, 1);
                get(inst) = static_cast<int>(scpi::ParseChoice(call.Parameter(0), *pWords));
            },
            [=](I& inst, C& call) {
                call.Expect(0, 0);
                call.strReply = std::string((*pReplies)[static_cast<size_t>(get(inst))]);
            }};
    }
    // Free text: several comma-separated pieces are kept as one text.
    static std::string JoinText(const C& call) {
        call.Expect(1, 16);
        std::string strText;
        for (const std::string& str : call.vecParameters) {
            if (!strText.empty()) {
                strText += ',';
            }
            strText += scpi::ParseText(str);
        }
        return strText;
    }
    static Handlers TextOf(auto get) {
        return Handlers{[=](I& inst, C& call) { get(inst) = JoinText(call); },
                        [=](I& inst, C& call) {
                            call.Expect(0, 0);
                            call.strReply = get(inst);
                        }};
    }
    static Handlers Action(std::function<void(I&, C&)> action) {
        return Handlers{[action](I& inst, C& call) {
                            call.Expect(0, 0);
                            action(inst, call);
                        },
                        nullptr};
    }
    static Handlers Query(std::function<std::string(I&)> query) {
        return Handlers{nullptr, [query](I& inst, C& call) {
                            call.Expect(0, 0);
                            call.strReply = query(inst);
                        }};
    }
    static Instrument::Command Row(std::string strPattern, int nFamilies, Handlers handlers) {
        return Instrument::Command{std::move(strPattern), nFamilies, std::move(handlers.first),
                                   std::move(handlers.second)};
    }
    static ListStep& Step(I& inst) {
        return inst.m_arrLists[static_cast<size_t>(inst.m_nSelectedList - 1)]
            .arrSteps[static_cast<size_t>(inst.m_nSelectedStep - 1)];
    }
    static ListData& List(I& inst) {
        return inst.m_arrLists[static_cast<size_t>(inst.m_nSelectedList - 1)];
    }
    // A step value write also extends the list to the selected step.
    static Handlers StepReal(double ListStep::*pField, Unit unit, double dMax) {
        return Handlers{
            [=](I& inst, C& call) {
                call.Expect(1, 1);
                Step(inst).*pField = scpi::ParseReal(call.Parameter(0), unit, 0.0, dMax, 0.0);
                ListData& list = inst.m_arrLists[static_cast<size_t>(inst.m_nSelectedList - 1)];
                list.nLength = std::max(list.nLength, inst.m_nSelectedStep);
            },
            [=](I& inst, C& call) {
                call.Expect(0, 0);
                call.strReply = scpi::FormatReal(Step(inst).*pField);
            }};
    }
    static Handlers StepBool(bool ListStep::*pField) {
        return Handlers{[=](I& inst, C& call) {
                            call.Expect(1, 1);
                            Step(inst).*pField = scpi::ParseBoolean(call.Parameter(0));
                        },
                        [=](I& inst, C& call) {
                            call.Expect(0, 0);
                            call.strReply = Bool(Step(inst).*pField);
                        }};
    }
    // Instrument-summary registers: numbered 1..3 on the three-output family,
    // a single unnumbered (or "1") register on the one-output family.
    static size_t Summary(I& inst, C& call) {
        int nIndex = call.Suffix(0);
        if (nIndex < 1 || nIndex > 3) {
            throw ScpiError(-114);
        }
        if (nIndex > inst.ChannelCount()) {
            throw ScpiError(-113);  // the one-output model has no such register
        }
        return static_cast<size_t>(nIndex - 1);
    }
    static size_t Pin(C& call) {
        int nPin = call.Suffix(0);
        if (nPin < 1 || nPin > kPinCount) {
            throw ScpiError(-114);
        }
        return static_cast<size_t>(nPin - 1);
    }
    static int ChannelWord(I& inst, const std::string& strText) {
        std::string str = scpi::Trim(strText);
        for (size_t i = 0; i < kChannelWords.size(); ++i) {
            if (scpi::ToUpper(str) == kChannelWords[i]) {
                if (static_cast<int>(i) >= inst.ChannelCount()) {
                    throw ScpiError(-222);
                }
                return static_cast<int>(i);
            }
        }
        return static_cast<int>(scpi::ParseInteger(str, 0, inst.ChannelCount() - 1, 0));
    }
};

}  // namespace emu
