// Opens and closes simulated sessions for tests of the frame and errors.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "TARVEK.h"

class SimulatedSession {
  public:
    explicit SimulatedSession(const char* pOptions = "Simulate=1") {
        EXPECT_EQ(
            TARVEK_InitWithOptions(const_cast<ViChar*>(""), VI_FALSE, VI_FALSE, pOptions, &m_vi),
            VI_SUCCESS);
    }
    ~SimulatedSession() {
        if (m_vi != VI_NULL) {
            TARVEK_close(m_vi);
        }
    }
    SimulatedSession(const SimulatedSession&) = delete;
    SimulatedSession& operator=(const SimulatedSession&) = delete;

    ViSession Handle() const { return m_vi; }
    // Closes now and returns the (now stale) handle.
    ViSession Close() {
        const ViSession vi = m_vi;
        EXPECT_EQ(TARVEK_close(m_vi), VI_SUCCESS);
        m_vi = VI_NULL;
        return vi;
    }

  private:
    ViSession m_vi = VI_NULL;
};

// The status and text last recorded for vi.
struct RecordedError {
    ViStatus nCode = 0;
    std::string strText;
};

inline RecordedError LastError(ViSession vi) {
    RecordedError error;
    char buffer[2048] = {};
    TARVEK_GetError(vi, &error.nCode, sizeof buffer, buffer);
    error.strText = buffer;
    return error;
}
