// The emulated power supply: executes program messages against the supply
// model (SupplyModel.h) through the SCPI command tables (CommandTable.h and
// the Scpi*Commands.cpp files). Not thread-safe; the server serialises every
// call.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "SupplyModel.h"

namespace emu {

enum class Family { Series6310, Series6510 };

struct Identity {
    std::string strManufacturer;
    std::string strModel;
    std::string strSerial;
    std::string strFirmware;
};

// Fault injection for one query header.
struct QueryFault {
    enum class Kind { Fixed, NoReply, Garbled, Oversized } kind = Kind::Fixed;
    std::string strReply;
    size_t nBytes = 0;
};

// The reply to one program message.
struct Reply {
    bool bHasReply = false;
    std::string strText;  // without the terminating "\n"
};

class Instrument {
  public:
    Instrument(Identity identity, Family family);

    // Executes one program message (without its terminator). bReplyWaiting
    // tells that an earlier reply still waits to be read (a link that holds
    // replies until the client asks): the status byte's MAV shows it.
    Reply Execute(const std::string& strMessage, bool bReplyWaiting = false);

    Family GetFamily() const { return m_family; }
    int ChannelCount() const { return m_family == Family::Series6310 ? 3 : 1; }

    // Brings timed behaviour (list steps, battery test, timers) up to now.
    void Advance();

    void PushError(int nCode, const std::string& strMessage = {});
    void SetStatusBits(int nEsrBits) { m_nEsr |= nEsrBits & 0xFF; }
    void PowerCycle();

    // Fault injection keyed by query header.
    void SetQueryFault(const std::string& strQuery, QueryFault fault);
    void ClearQueryFaults() { m_mapFaults.clear(); }

    // Inspection and control for tests.
    ChannelState& Channel(int nChannel);
    const ChannelState& Channel(int nChannel) const;
    void SetLoadResistance(int nChannel, double dOhms);
    double MeasuredVoltage(int nChannel);
    double MeasuredCurrent(int nChannel);
    int ListStepNumber(int nChannel);
    bool ListRunning(int nChannel);
    bool BatteryTestRunning();
    bool DataLoggerRunning();
    size_t DataLoggerSamples();
    void SetDigitalInput(long nLevels);
    int SelectedChannel() const { return m_settings.nSelected; }
    std::vector<std::pair<int, std::string>> ErrorQueue() const {
        return {m_deqErrors.begin(), m_deqErrors.end()};
    }
    int StandardEventStatus() const { return m_nEsr; }

    // Every header pattern the instrument understands, in table order, with
    // the families that take it (bit 0: Series6310, bit 1: Series6510) and
    // whether it has a command form and a query form.
    struct PatternInfo {
        std::string strPattern;
        int nFamilies;
        bool bCommand;
        bool bQuery;
    };
    static std::vector<PatternInfo> CommandPatterns();

    // Used by the command table.
    struct Call;
    using Handler = std::function<void(Instrument&, Call&)>;
    struct Command {
        std::string strPattern;
        int nFamilies;  // bit 0: Series6310, bit 1: Series6510
        Handler setter;
        Handler getter;
    };

  private:
    friend struct CommandTable;

    struct Resolved {
        const Command* pCommand = nullptr;
        size_t nIndex = 0;
        std::vector<int> vecSuffixes;
    };
    std::optional<Resolved> Resolve(const std::vector<std::string>& vecNodes, bool bCommon) const;
    std::string FaultKey(const std::string& strHeaderText, bool bQuery,
                         const std::vector<std::string>& vecNodes, bool bCommon) const;

    void Reset();
    void ClearStatus();
    void SettleOutputs();
    void UpdateStatus();
    void StartList(int nChannel, bool bFromTrigger);
    void BeginListRun(int nChannel, int nList, Clock::time_point tpStart);
    void FinishList(int nChannel, Clock::time_point tpAt);
    void AbortList(int nChannel);
    void AdvanceList(int nChannel, Clock::time_point tpNow);
    void AdvanceBattery(Clock::time_point tpNow);
    void StartBattery(Clock::time_point tpNow);
    void StopBattery();
    void Trigger();
    void NextStep(int nChannel, Clock::time_point tpAt);
    InstrumentSettings Snapshot() const;
    void Restore(const InstrumentSettings& settings);
    static const std::vector<Command>& Commands();
    bool Inhibited() const;
    int StatusByte() const;

    struct Operating {
        double dVoltage = 0.0;
        double dCurrent = 0.0;
        bool bConstantCurrent = false;
        bool bUnregulated = false;
    };
    Operating OperatingPoint(int nChannel) const;
    void ActiveSetpoints(int nChannel, double& dVoltage, double& dCurrent) const;

    Identity m_identity;
    Family m_family;
    std::array<ChannelState, 3> m_arrChannels{};
    InstrumentState m_settings;
    std::array<ListData, kListCount> m_arrLists{};
    int m_nSelectedList = 1;
    int m_nSelectedStep = 1;
    BatteryTest m_battery;
    DataLogger m_logger;
    DigitalIo m_digital;
    SystemSettings m_system;
    std::array<std::optional<InstrumentSettings>, kSlotCount> m_arrSlots{};
    int m_nPowerOnState = kPowerOnOff;
    long m_nPowerOnSlot = 0;

    // IEEE 488.2 and SCPI status
    int m_nEsr = 0;
    int m_nEse = 0;
    int m_nSre = 0;
    // A reply is queued and not yet read while the current message runs:
    // an earlier query of the message, or one the link still holds.
    bool m_bOutputQueued = false;
    bool m_bPsc = true;
    int m_nQuesCondition = 0;
    int m_nQuesEvent = 0;
    int m_nQuesEnable = 0;
    int m_nInstEvent = 0;
    int m_nInstEnable = 0;
    int m_nInstCondition = 0;
    std::array<int, 3> m_arrIsumCondition{};
    std::array<int, 3> m_arrIsumEvent{};
    std::array<int, 3> m_arrIsumEnable{};
    std::deque<std::pair<int, std::string>> m_deqErrors;

    std::map<std::string, QueryFault> m_mapFaults;
    std::vector<std::string> m_vecPath;  // header path for relative headers after ';'
};

}  // namespace emu