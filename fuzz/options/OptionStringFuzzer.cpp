// Hostile option strings: the linear-time scanners must find exactly what the
// regular expressions that define them find, and a whole initialization with
// the text must either open a simulated session that reflects it or fail with
// a recorded status, never crash, leak or leave a handle behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TARVEK.h"
#include "runtime/session/CallFrame.h"
#include "runtime/session/DriverSession.h"
#include "runtime/session/OptionGrammar.h"
#include "runtime/text/TextUtils.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The regular-expression engine recurses per character; longer texts go only
// through the scanners and the initialization.
constexpr std::size_t kMaxRegexLength = 512;

// A resource name no VISA interface accepts: only a simulated session opens.
constexpr char kResource[] = "FUZZ::NOWHERE";

void Fail(const char* pWhat, std::string_view strText) {
    std::fprintf(stderr, "%s: \"%.*s\"\n", pWhat, static_cast<int>(strText.size()), strText.data());
    std::abort();
}

constexpr auto kSyntax = std::regex::ECMAScript | std::regex::icase;

// The expressions the scanners stand for.
struct Expressions {
    std::regex driverSetup{R"(\s*DriverSetup\s*=(.*))", kSyntax};
    std::regex inherentOption{R"(\s*(\w+)\s*=\s*(\w+)\s*,?)", kSyntax};
    std::regex driverSetupPair{R"(([\w+_]+)\s*(?:=|:)\s*([^,]+))", kSyntax};
};

const Expressions& Regexes() {
    static const Expressions expressions;
    return expressions;
}

Pairs AllMatches(const std::string& strText, const std::regex& regex) {
    Pairs vecPairs;
    for (auto it = std::sregex_iterator(strText.begin(), strText.end(), regex);
         it != std::sregex_iterator(); ++it) {
        vecPairs.emplace_back((*it)[1].str(), (*it)[2].str());
    }
    return vecPairs;
}

void CompareWithRegex(const std::string& strText) {
    std::smatch match;
    const bool bRegex = std::regex_search(strText, match, Regexes().driverSetup);
    const auto scanned = drt::FindDriverSetup(strText);
    if (bRegex != scanned.has_value() ||
        (bRegex && (static_cast<std::size_t>(match.position(0)) != scanned->nStart ||
                    match[1].str() != scanned->strText))) {
        Fail("DriverSetup scanner and expression differ", strText);
    }
    if (drt::FindInherentOptions(strText) != AllMatches(strText, Regexes().inherentOption)) {
        Fail("inherent-option scanner and expression differ", strText);
    }
    if (drt::FindDriverSetupPairs(strText) != AllMatches(strText, Regexes().driverSetupPair)) {
        Fail("DriverSetup-pair scanner and expression differ", strText);
    }
}

// What a session opened with strText must show: its DriverSetup text and, when
// that names one, the model.
void CheckOpenSession(ViSession vi, const std::string& strText) {
    drt::DriverSession* pSession = nullptr;
    if (drt::FetchSession(vi, pSession) < 0 || pSession == nullptr) {
        Fail("an opened session has no session object", strText);
    }
    if (!pSession->GetSimulate()) {
        Fail("a session opened without simulation on a resource that does not exist", strText);
    }
    const auto match = drt::FindDriverSetup(strText);
    if (match) {
        if (pSession->GetDriverSetup() != match->strText) {
            Fail("the session's DriverSetup is not the option string's", strText);
        }
        for (const auto& [strKey, strValue] : drt::FindDriverSetupPairs(match->strText)) {
            if (drt::EqualsNoCase(strKey, "Model") && pSession->GetInstrumentModel() != strValue) {
                Fail("the session's model is not the DriverSetup's", strText);
            }
        }
    }
    ViChar szModel[512] = {};
    if (TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_INSTRUMENT_MODEL, sizeof szModel, szModel) <
            0 ||
        pSession->GetInstrumentModel().compare(0, sizeof szModel - 1, szModel) != 0) {
        Fail("the model attribute is not the session's model", strText);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    static const bool bHermetic = [] {
        // No configuration store file: the built-in store, the same every run.
        return setenv("IVI_CONFIG_STORE", "/nonexistent/tarvek-fuzz/store.xml", 1) == 0;
    }();
    if (!bHermetic) {
        std::abort();
    }
    const std::string_view strInput(reinterpret_cast<const char*>(pData), nSize);
    const std::string strText(strInput.substr(0, strInput.find('\0')));
    if (strText.size() <= kMaxRegexLength) {
        CompareWithRegex(strText);
    }

    ViSession vi = 0x7fff;
    const ViStatus nStatus = TARVEK_InitWithOptions(const_cast<ViChar*>(kResource), VI_TRUE,
                                                    VI_FALSE, strText.c_str(), &vi);
    if (nStatus < 0) {
        if (vi != VI_NULL) {
            Fail("a failed initialization left a handle", strText);
        }
        // The driver's own refusals say why; VISA's pass through as bare codes.
        ViStatus nCode = VI_SUCCESS;
        ViChar szText[1024] = {};
        if (TARVEK_GetError(VI_NULL, &nCode, sizeof szText, szText) < 0 ||
            (static_cast<std::uint32_t>(nStatus) >> 16 == 0xBFFA &&
             (nCode != nStatus || szText[0] == '\0'))) {
            std::fprintf(stderr, "status 0x%08X, recorded 0x%08X \"%s\"\n",
                         static_cast<unsigned>(nStatus), static_cast<unsigned>(nCode), szText);
            Fail("a failed initialization recorded no matching error", strText);
        }
        return 0;
    }
    CheckOpenSession(vi, strText);
    if (TARVEK_close(vi) != VI_SUCCESS) {
        Fail("closing a session failed", strText);
    }
    return 0;
}
