// A hostile serial instrument: a pseudo-terminal whose master side a thread
// drives while the code under test opens the slave as ASRL/dev/pts/N::INSTR.
// The peer answers each query line "Qn?" with "An" and misbehaves on the next
// reply as armed: drips it, floods the line with bytes that never end a
// message, stays silent, truncates it or hangs up in the middle of it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace faulttest {

enum class PtyFault {
    None,
    Drip,            // the reply one byte every nDripMs
    Flood,           // endless bytes without a line feed instead of the reply
    Silent,          // no reply at all
    Truncate,        // the reply without its line feed, then nothing
    HangUpMidReply,  // half the reply, then the master side closes
    HangUp,          // the master side closes instead of replying
    Deaf,            // reads nothing from now until Calm, so writes back up
};

class HostilePty {
  public:
    HostilePty() {
        m_nMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_nMaster < 0 || ::grantpt(m_nMaster) != 0 || ::unlockpt(m_nMaster) != 0 ||
            ::pipe2(m_nWake, O_CLOEXEC | O_NONBLOCK) != 0) {
            return;
        }
        termios tio{};
        ::tcgetattr(m_nMaster, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_nMaster, TCSANOW, &tio);
        ::fcntl(m_nMaster, F_SETFL, ::fcntl(m_nMaster, F_GETFL) | O_NONBLOCK);
        m_strResource = std::string("ASRL") + ::ptsname(m_nMaster) + "::INSTR";
        m_thread = std::thread([this] { Run(); });
    }
    ~HostilePty() {
        if (m_thread.joinable()) {
            const char cWake = 1;
            [[maybe_unused]] const ssize_t nIgnored = ::write(m_nWake[1], &cWake, 1);
            m_thread.join();
        }
        for (int nFd : {m_nMaster, m_nWake[0], m_nWake[1]}) {
            if (nFd >= 0) {
                ::close(nFd);
            }
        }
    }
    HostilePty(const HostilePty&) = delete;
    HostilePty& operator=(const HostilePty&) = delete;

    bool Ready() const { return m_thread.joinable(); }
    const std::string& Resource() const { return m_strResource; }

    // The fault for the next reply (Deaf: from now on); the replies after it
    // are correct again.
    void Arm(PtyFault eFault, int nDripMs = 5) {
        m_bCalm = false;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_eFault = eFault;
        m_nDripMs = nDripMs;
    }
    // Ends a flood or a drip in progress.
    void Calm() { m_bCalm = true; }
    bool HungUp() const { return m_bHungUp; }
    // Query lines received so far, without their line feeds.
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_vecLines;
    }

  private:
    // Sleeps nMs or until the test ends; false when it ends.
    bool Pause(int nMs) {
        pollfd pfd{m_nWake[0], POLLIN, 0};
        return ::poll(&pfd, 1, nMs) == 0;
    }

    // Writes all bytes, waiting for room while the reader lags; false when
    // the test ends or the slave side is gone.
    bool Send(const std::string& strBytes) {
        std::size_t nDone = 0;
        while (nDone < strBytes.size()) {
            const ssize_t nSent =
                ::write(m_nMaster, strBytes.data() + nDone, strBytes.size() - nDone);
            if (nSent > 0) {
                nDone += static_cast<std::size_t>(nSent);
                continue;
            }
            pollfd pfd[2] = {{m_nMaster, POLLOUT, 0}, {m_nWake[0], POLLIN, 0}};
            if (::poll(pfd, 2, 20) < 0 || pfd[1].revents != 0 || m_bCalm) {
                return false;
            }
        }
        return true;
    }

    bool Deaf() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_eFault == PtyFault::Deaf && m_bCalm) {
            m_eFault = PtyFault::None;
        }
        return m_eFault == PtyFault::Deaf;
    }

    void HangUpNow() {
        ::close(m_nMaster);
        m_nMaster = -1;
        m_bHungUp = true;
    }

    // Plays the armed fault on one reply; false once the master is closed.
    bool Reply(const std::string& strReply) {
        PtyFault eFault = PtyFault::None;
        int nDripMs = 5;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            eFault = m_eFault;
            nDripMs = m_nDripMs;
            m_eFault = PtyFault::None;
        }
        switch (eFault) {
            case PtyFault::None:
            case PtyFault::Deaf:
                Send(strReply);
                return true;
            case PtyFault::Drip:
                for (const char c : strReply) {
                    if (!Send(std::string(1, c)) || !Pause(nDripMs)) {
                        break;
                    }
                }
                return true;
            case PtyFault::Flood: {
                // 1 KiB every 2 ms: far more than the reader asks for, yet
                // never a line feed; bounded to ten seconds.
                const std::string strChunk(1024, 'x');
                for (int n = 0; n < 5000 && !m_bCalm && Send(strChunk) && Pause(2); ++n) {
                }
                return true;
            }
            case PtyFault::Silent:
                return true;
            case PtyFault::Truncate:
                Send(strReply.substr(0, strReply.size() - 1));
                return true;
            case PtyFault::HangUpMidReply:
                // A hang-up discards what the slave side has not read yet:
                // the pause lets the reader take the first half, with room
                // for a slow scheduler yet well inside a 300 ms timeout.
                Send(strReply.substr(0, strReply.size() / 2));
                Pause(150);
                HangUpNow();
                return false;
            case PtyFault::HangUp:
                HangUpNow();
                return false;
        }
        return true;
    }

    void Run() {
        std::string strIn;
        char buffer[512];
        while (m_nMaster >= 0) {
            if (Deaf()) {
                if (!Pause(5)) {
                    return;
                }
                continue;
            }
            pollfd pfd[2] = {{m_nMaster, POLLIN, 0}, {m_nWake[0], POLLIN, 0}};
            if (::poll(pfd, 2, -1) < 0 || pfd[1].revents != 0) {
                return;
            }
            const ssize_t nGot = ::read(m_nMaster, buffer, sizeof buffer);
            if (nGot <= 0) {
                // No slave open (yet or any more): wait instead of spinning.
                if (!Pause(5)) {
                    return;
                }
                continue;
            }
            strIn.append(buffer, static_cast<std::size_t>(nGot));
            std::size_t nEnd = 0;
            while ((nEnd = strIn.find('\n')) != std::string::npos) {
                std::string strLine = strIn.substr(0, nEnd);
                strIn.erase(0, nEnd + 1);
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_vecLines.push_back(strLine);
                }
                // "Qn?" is answered "An", even after the rest of a line a
                // write cut short; other lines are commands.
                const std::size_t nQuery = strLine.rfind('Q');
                if (nQuery != std::string::npos && strLine.size() - nQuery >= 2 &&
                    strLine.back() == '?') {
                    const std::size_t nDigits = strLine.size() - nQuery - 2;
                    if (!Reply("A" + strLine.substr(nQuery + 1, nDigits) + "\n")) {
                        return;
                    }
                }
            }
        }
    }

    int m_nMaster = -1;
    int m_nWake[2] = {-1, -1};
    std::string m_strResource;
    std::mutex m_mutex;
    PtyFault m_eFault = PtyFault::None;
    int m_nDripMs = 5;
    std::vector<std::string> m_vecLines;
    std::atomic<bool> m_bCalm{false};
    std::atomic<bool> m_bHungUp{false};
    std::thread m_thread;
};

}  // namespace faulttest
