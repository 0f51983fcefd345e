// Hostile channel selectors: the fast grammar recogniser must accept exactly
// what the defining regular expression accepts, and resolution must never
// crash, hang or allocate without bound.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "TARVEK.h"
#include "runtime/repcap/OutputChannel.h"
#include "runtime/session/CallFrame.h"

namespace {

// The regular-expression engine recurses per character and backtracks
// exponentially on long runs of identifier characters (263 bytes took over
// 10 s under the sanitizers); longer inputs are checked by the recogniser's
// own run only.
constexpr std::size_t kMaxRegexLength = 128;

drt::DriverSession& FuzzSession() {
    static drt::DriverSession* pSession = [] {
        ViSession vi = VI_NULL;
        if (TARVEK_InitWithOptions(const_cast<ViChar*>(""), VI_FALSE, VI_FALSE, "Simulate=1",
                                   &vi) != VI_SUCCESS) {
            std::abort();
        }
        drt::DriverSession* pFound = nullptr;
        drt::FetchSession(vi, pFound);
        return pFound;
    }();
    return *pSession;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    const std::string_view strInput(reinterpret_cast<const char*>(pData), nSize);
    const bool bFast = drt::SelectorMatchesGrammar(strInput);
    if (nSize <= kMaxRegexLength && bFast != drt::SelectorMatchesGrammarRegex(strInput)) {
        std::fprintf(stderr, "recogniser %s, expression %s: \"%.*s\"\n",
                     bFast ? "accepts" : "refuses", bFast ? "refuses" : "accepts",
                     static_cast<int>(nSize), pData);
        std::abort();
    }
    const std::string strSelector(strInput.substr(0, strInput.find('\0')));
    drt::DriverSession& session = FuzzSession();
    for (bool bCheckMembership : {true, false}) {
        drt::ChannelListPtr pList;
        const ViStatus nStatus =
            drt::ResolveChannels(session, strSelector.c_str(), bCheckMembership, pList);
        if (nStatus >= 0 && (!pList || pList->empty() || pList->size() > 1024)) {
            std::abort();
        }
        if (nStatus >= 0 && bCheckMembership && pList->size() > 3) {
            std::abort();  // every identifier is a distinct physical channel
        }
    }
    return 0;
}
