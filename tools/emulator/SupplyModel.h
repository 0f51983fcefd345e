// The state of the simulated supply: ratings, the settings and run state of
// each output, lists, the battery test, the data logger, digital I/O and
// system settings. Plain data; Instrument holds it and SupplyModel.cpp gives
// it its behaviour.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>

namespace emu {

using Clock = std::chrono::steady_clock;

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

}  // namespace emu
