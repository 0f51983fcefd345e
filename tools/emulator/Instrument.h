// The emulated power supply: its state model and the SCPI command table that
// acts on it. Not thread-safe; the server serialises every call.
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

namespace emu {

using Clock = std::chrono::steady_clock;

enum class Family { Series6310, Series6510 };

struct Identity {
    std::string strManufacturer;
    std::string strModel;
    std::string strSerial;
    std::string strFirmware;
};

// Ratings shared by every output of both families.
struct Ratings {
    static constexpr double kVoltageMax = 60.0;
    static constexpr double kCurrentMax = 10.0;
    static constexpr double kOvpMax = 66.0;
    static constexpr double kOcpMax = 11.0;
    static constexpr double kPowerMax = 100.0;
    static constexpr double kSlewMax = 1e6;
};

enum TriggerSource { kTriggerBus = 0, kTriggerExternal = 1, kTriggerImmediate = 2 };
enum PowerOnState { kPowerOnOff = 0, kPowerOnLast = 1, kPowerOnUser = 2 };

constexpr int kListCount = 10;                // lists 1..10
constexpr int kStepCount = 100;               // steps 1..100
constexpr int kSlotCount = 10;                // *SAV/*RCL locations 0..9
constexpr int kPinCount = 8;                  // digital pins 1..8
constexpr double kBatteryTimeConstant = 1.0;  // seconds; charge current decays with it

struct ListStep {
    double dVoltage = 0.0;
    double dCurrent = 0.0;
    double dDwell = 0.0;
    bool bBeginTrigger = false;
    bool bEndTrigger = false;
};

struct ListData {
    std::array<ListStep, kStepCount> arrSteps{};
    int nLength = 0;  // highest step programmed
    bool bPaceTrigger = false;
    long nRepeatCount = 1;  // 0: repeat until aborted
    bool bTerminateLast = false;
    long nNextList = 0;  // 0: none
};

// A list running (or armed) on one output.
struct ListRun {
    bool bArmed = false;    // initiated, waiting for its trigger
    bool bRunning = false;  // stepping
    bool bHolding = false;  // finished with "terminate at last step"
    int nList = 1;
    int nStep = 0;  // 0-based index while running
    long nPass = 0;
    Clock::time_point tpStepStart{};
    double dHoldVoltage = 0.0;
    double dHoldCurrent = 0.0;
};

// Settings of one output that *SAV stores and *RST resets.
struct ChannelSettings {
    double dVoltage = 0.0;
    double dCurrent = 1.0;
    double dOvpLevel = Ratings::kOvpMax;
    double dOcpLevel = Ratings::kOcpMax;
    bool bOcpEnabled = true;
    bool bOutput = false;
    double dVoltageSlew = 0.0;
    double dCurrentSlew = 0.0;
    double dVoltageMax = Ratings::kVoltageMax;
    double dVoltageMin = 0.0;
    bool bSense = false;
    bool bTimerEnabled = false;
    std::string strTimerCount = "0";
    int nTriggerSource = kTriggerImmediate;
    bool bContinuous = false;
    bool bListMode = false;
    long nModeList = 1;
};

struct ChannelState {
    ChannelSettings settings;
    bool bOvpTripped = false;
    bool bOcpTripped = false;
    bool bRestoreOnClear = false;
    ListRun run;
    double dLoad = 1000.0;  // ohms; infinity for an open circuit
    std::optional<Clock::time_point> tpTimerOff;
};

struct InstrumentSettings {
    std::array<ChannelSettings, 3> arrChannels{};
    int nSelected = 0;
    int nPairMode = 0;
};

// Header selection and output-pairing state of the instrument as a whole.
struct InstrumentState {
    int nSelected = 0;
    int nPairMode = 0;
};

struct BatteryTest {
    bool bAhLogging = true;
    bool bWhLogging = true;
    double dSampleTime = 1.0;
    int nTriggerSource = kTriggerImmediate;
    bool bChargeMode = true;
    double dVoltage = 0.0;
    double dCurrent = 0.0;
    double dEndCurrent = 0.0;
    long nEndDelay = 0;
    bool bFailSafe = false;
    double dFailSafeAh = 0.0;
    double dFailSafeWh = 0.0;
    double dFailSafeOvp = 0.0;
    std::string strFailSafeTime = "0";
    // run state
    bool bArmed = false;
    bool bRunning = false;
    Clock::time_point tpStart{};
    Clock::time_point tpLast{};
    std::optional<Clock::time_point> tpBelowEnd;
    double dAmpHours = 0.0;
    double dWattHours = 0.0;
    double dPresentCurrent = 0.0;
};

struct DataLogger {
    double dInterval = 1.0;
    int nTriggerSource = kTriggerImmediate;
    bool bArmed = false;
    bool bRunning = false;
    Clock::time_point tpStart{};
};

struct DigitalIo {
    std::array<int, kPinCount> arrFunction{};  // index into the pin-function words
    std::array<bool, kPinCount> arrNegative{};
    long nOutputData = 0;
    long nExternalInput = 0;  // levels applied from outside (tests)
    int nInhibitMode = 0;     // LATC, LIVE, OFF
    bool bInhibitLatched = false;
};

struct SystemSettings {
    bool bBeeper = true;
    bool bDisplay = true;
    bool bLxiIdentify = false;
    int nRemoteState = 0;  // REM, LOC, RWL
    std::string strDate;
    std::string strTime;
    long nBeeps = 0;
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
