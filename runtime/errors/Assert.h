// The runtime's diagnostic assertion: a broken internal invariant is reported
// with the failed expression (on stderr in Debug builds) and processing then
// continues with the status at hand. It never aborts.
#pragma once

namespace drt {

void ReportAssertion(const char* pExpression, const char* pFile, int nLine);

// Number of assertions reported in this process; lets tests see that an
// invariant violation was noticed without parsing stderr.
unsigned long AssertionCount();

}  // namespace drt

#define DRT_ASSERT(expr) ((expr) ? (void)0 : ::drt::ReportAssertion(#expr, __FILE__, __LINE__))
