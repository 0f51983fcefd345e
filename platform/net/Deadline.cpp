#include "Deadline.h"

#include <ctime>

namespace tknet {

std::int64_t NowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

const Deadline& Deadline::Start() const {
    if (!m_bStarted && !m_bInfinite) {
        m_bStarted = true;
        m_nEndMs = NowMs() + m_nTimeoutMs;
    }
    return *this;
}

int Deadline::RemainingMs() const {
    if (m_bInfinite) {
        return -1;
    }
    if (!m_bStarted) {
        Start();
        return m_nTimeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(m_nTimeoutMs);
    }
    const std::int64_t nLeft = m_nEndMs - NowMs();
    if (nLeft <= 0) {
        return 0;
    }
    return nLeft > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(nLeft);
}

Deadline Deadline::Extended(std::uint32_t nMs) const {
    if (m_bInfinite) {
        return Deadline(kInfinite);
    }
    Start();
    const std::uint64_t nTimeout = std::uint64_t{m_nTimeoutMs} + nMs;
    Deadline later(nTimeout >= kInfinite ? kInfinite - 1 : static_cast<std::uint32_t>(nTimeout));
    later.m_bStarted = true;
    later.m_nEndMs = m_nEndMs + nMs;
    return later;
}

int Deadline::RemainingMsAtMost(int nMs) const {
    const int nLeft = RemainingMs();
    return nLeft < 0 || nLeft > nMs ? nMs : nLeft;
}

}  // namespace tknet
