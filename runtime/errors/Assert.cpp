#include "runtime/errors/Assert.h"

#include <atomic>
#include <cstdio>

namespace drt {

namespace {
std::atomic<unsigned long> g_nAssertions{0};
}

void ReportAssertion(const char* pExpression, const char* pFile, int nLine) {
    g_nAssertions.fetch_add(1, std::memory_order_relaxed);
#ifndef NDEBUG
    std::fprintf(stderr, "assertion failed: %s (%s:%d)\n", pExpression, pFile, nLine);
#else
    (void)pExpression;
    (void)pFile;
    (void)nLine;
#endif
}

unsigned long AssertionCount() {
    return g_nAssertions.load(std::memory_order_relaxed);
}

}  // namespace drt
