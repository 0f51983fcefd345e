// An emulated instrument serving on loopback and a driver session opened on
// it: the fixture every live test shares. The emulator stays reachable so
// that tests can script faults before a call and assert the exact program
// messages it received after.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "TARVEK.h"

namespace tarvektest {

using Lines = std::vector<std::string>;

// The text of the error the driver recorded on a session (VI_NULL: the
// thread's failed opening).
inline std::string RecordedText(ViSession vi) {
    ViStatus nCode = 0;
    std::vector<ViChar> text(2048, '\0');
    TARVEK_GetError(vi, &nCode, static_cast<ViInt32>(text.size()), text.data());
    return text.data();
}

// Which of the emulator's resources a session opens.
enum class Transport { Socket, Vxi11, Hislip };

// The emulator options for a model on a loopback address, serving the
// transport. HiSLIP takes an ephemeral port; VXI-11 keeps the portmapper on
// port 111, where the driver looks for it, so each VXI-11 test needs a
// loopback address of its own (127.0.0.0/8 has plenty).
inline emu::EmulatorOptions EmulatorFor(const std::string& strModel,
                                        Transport eTransport = Transport::Socket,
                                        const std::string& strHost = "127.0.0.1") {
    emu::EmulatorOptions options;
    options.strModel = strModel;
    options.strHost = strHost;
    options.bVxi11 = eTransport == Transport::Vxi11;
    options.bHislip = eTransport == Transport::Hislip;
    options.nHislipPort = 0;
    return options;
}

class LiveSession {
  public:
    // Starts the emulator; no session is open until Open().
    explicit LiveSession(const emu::EmulatorOptions& options = EmulatorFor("6313"),
                         Transport eTransport = Transport::Socket)
        : m_pEmulator(std::make_unique<emu::Emulator>(options)), m_eTransport(eTransport) {
        m_pEmulator->Start();
    }
    // Starts the emulator and opens a session with pOptions and an identity
    // query; the lines of the opening exchange are cleared so that a test
    // sees only its own traffic.
    LiveSession(const emu::EmulatorOptions& options, const char* pOptions,
                Transport eTransport = Transport::Socket)
        : LiveSession(options, eTransport) {
        EXPECT_EQ(Open(pOptions), VI_SUCCESS);
        m_pEmulator->ClearLines();
    }
    ~LiveSession() { Close(); }
    LiveSession(const LiveSession&) = delete;
    LiveSession& operator=(const LiveSession&) = delete;

    // Opens (another) session on the emulator's resource for the transport.
    ViStatus Open(const char* pOptions = "", ViBoolean bIdQuery = VI_TRUE,
                  ViBoolean bReset = VI_FALSE) {
        m_strResource = Resource();
        return TARVEK_InitWithOptions(m_strResource.data(), bIdQuery, bReset, pOptions, &m_vi);
    }
    void Close() {
        if (m_vi != VI_NULL) {
            TARVEK_close(m_vi);
            m_vi = VI_NULL;
        }
    }

    ViSession vi() const { return m_vi; }
    emu::Emulator& Emulator() { return *m_pEmulator; }
    std::string Resource() const {
        switch (m_eTransport) {
            case Transport::Vxi11:
                return m_pEmulator->Vxi11Resource();
            case Transport::Hislip:
                return m_pEmulator->HislipResource();
            case Transport::Socket:
                break;
        }
        return m_pEmulator->Resource();
    }

    // The lines received since the last call.
    Lines TakeLines() {
        Lines lines = m_pEmulator->Lines();
        m_pEmulator->ClearLines();
        return lines;
    }
    // The same, once nExpected lines have arrived (writes are not
    // acknowledged, so they may still be on their way); with none expected,
    // a short pause lets stray lines show.
    Lines TakeLines(std::size_t nExpected) {
        if (nExpected == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } else {
            m_pEmulator->WaitForLines(nExpected, std::chrono::milliseconds(2000));
        }
        return TakeLines();
    }

  private:
    std::unique_ptr<emu::Emulator> m_pEmulator;
    Transport m_eTransport;
    std::string m_strResource;  // InitWithOptions takes a mutable buffer
    ViSession m_vi = VI_NULL;
};

}  // namespace tarvektest
