// The time budget of one operation. A VISA call gets one deadline when it
// starts, and every wait it makes (connect, send, receive, the replies of a
// protocol) asks the same deadline how long is left, so the call as a whole
// returns within its timeout, whatever the peer does.
#pragma once

#include <cstdint>

namespace tknet {

// Monotonic milliseconds from the coarse clock: reading it costs nothing
// worth counting, and its resolution (a few ms) is finer than what VISA
// timeouts promise.
std::int64_t NowMs();

class Deadline {
  public:
    // The timeout that never passes (VISA's VI_TMO_INFINITE).
    static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

    // The clock starts at the first question, so an operation that never has
    // to wait never reads the clock; Start() fixes the start at once.
    explicit Deadline(std::uint32_t nTimeoutMs)
        : m_bInfinite(nTimeoutMs == kInfinite), m_nTimeoutMs(nTimeoutMs) {}

    // Starts the clock now unless it already runs; returns *this.
    const Deadline& Start() const;
    bool IsInfinite() const { return m_bInfinite; }
    // Milliseconds left for poll(): -1 for infinite, 0 once passed.
    int RemainingMs() const;
    bool Passed() const { return RemainingMs() == 0; }
    // The shorter of this deadline and nMs from now, as milliseconds for poll().
    int RemainingMsAtMost(int nMs) const;
    // The timeout this deadline was made with.
    std::uint32_t TimeoutMs() const { return m_nTimeoutMs; }
    // The deadline nMs after this one (an infinite one stays infinite).
    // Starts this one's clock: every operation of a call that may wait a
    // little past the call's end (for a reply the peer owes) shares one
    // allowance instead of each adding its own.
    Deadline Extended(std::uint32_t nMs) const;

  private:
    bool m_bInfinite;
    std::uint32_t m_nTimeoutMs;
    mutable bool m_bStarted = false;
    mutable std::int64_t m_nEndMs = 0;
};

}  // namespace tknet
