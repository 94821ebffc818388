// The pause before retrying something that failed against the PBX: about
// dwFirstMs after the first failure, doubling with every further one up to
// dwMaxMs. Each pause is drawn from the upper half of its step, so that
// providers that lost the same server do not all come back at the same moment.
#pragma once

#include <cstdint>

#include "common/Types.h"

// The steps of every retry against the PBX (the background login, the event
// stream): about 1 s after the first failure, doubling up to 30 s.
constexpr DWORD kPbxRetryFirstMs = 1000;
constexpr DWORD kPbxRetryMaxMs = 30000;

class CBackoff {
public:
    CBackoff(DWORD dwFirstMs, DWORD dwMaxMs, uint32_t uSeed)
        : m_dwFirstMs(dwFirstMs), m_dwMaxMs(dwMaxMs), m_uState(uSeed != 0 ? uSeed : 0x9E3779B9u) {}

    // Counts one more failure and gives the pause before the next attempt.
    DWORD NextDelay() {
        const DWORD dwStep = Step();
        if (m_dwFailures < 32) ++m_dwFailures;
        const DWORD dwHalf = dwStep / 2;
        return dwStep - dwHalf + (dwHalf != 0 ? NextRandom() % (dwHalf + 1) : 0);
    }

    // After a success the next failure starts again at the first step.
    void Reset() { m_dwFailures = 0; }
    DWORD Failures() const { return m_dwFailures; }

private:
    // dwFirstMs doubled once per failure so far, never above dwMaxMs.
    DWORD Step() const {
        uint64_t qwStep = m_dwFirstMs;
        for (DWORD dwDoubling = 0; dwDoubling < m_dwFailures && qwStep < m_dwMaxMs; ++dwDoubling) qwStep *= 2;
        return static_cast<DWORD>(qwStep < m_dwMaxMs ? qwStep : m_dwMaxMs);
    }

    // xorshift32: enough to spread retries, and the same sequence for a seed.
    uint32_t NextRandom() {
        m_uState ^= m_uState << 13;
        m_uState ^= m_uState >> 17;
        m_uState ^= m_uState << 5;
        return m_uState;
    }

    DWORD m_dwFirstMs;
    DWORD m_dwMaxMs;
    DWORD m_dwFailures = 0;
    uint32_t m_uState;
};
