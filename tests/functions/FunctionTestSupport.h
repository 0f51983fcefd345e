// Driver sessions on emulated instruments of both families, for the tests of
// the instrument functions.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "LiveSession.h"
#include "TARVEK.h"

namespace fntest {

using Lines = std::vector<std::string>;

inline constexpr char kModel6310[] = "6313";
inline constexpr char kModel6510[] = "6513";

// The recorded error of vi: its code and text.
struct RecordedError {
    ViStatus nCode = 0;
    std::string strText;
};

inline RecordedError LastError(ViSession vi) {
    RecordedError error;
    std::vector<ViChar> text(1024, '\0');
    TARVEK_GetError(vi, &error.nCode, static_cast<ViInt32>(text.size()), text.data());
    error.strText = text.data();
    return error;
}

// A driver session on an emulator of the given model, opened with the
// instrument status check on, so that every successful exchange is followed
// by "*ESR?" on the wire.
class LiveInstrument : public tarvektest::LiveSession {
  public:
    explicit LiveInstrument(const char* pModel, const char* pOptions = "QueryInstrStatus=1")
        : LiveSession(tarvektest::EmulatorFor(pModel), pOptions) {}

    emu::Emulator& Instrument() { return Emulator(); }
};

// A simulated session; pOptions names the model through DriverSetup.
class SimulatedInstrument {
  public:
    explicit SimulatedInstrument(const char* pOptions = "Simulate=1") {
        EXPECT_EQ(
            TARVEK_InitWithOptions(const_cast<ViChar*>(""), VI_FALSE, VI_FALSE, pOptions, &m_vi),
            VI_SUCCESS);
    }
    ~SimulatedInstrument() {
        if (m_vi != VI_NULL) {
            TARVEK_close(m_vi);
        }
    }
    SimulatedInstrument(const SimulatedInstrument&) = delete;
    SimulatedInstrument& operator=(const SimulatedInstrument&) = delete;

    ViSession vi() const { return m_vi; }

  private:
    ViSession m_vi = VI_NULL;
};

// Polls until done() holds or the timeout passes; returns done().
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    const auto tpEnd = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > tpEnd) {
            return done();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace fntest
