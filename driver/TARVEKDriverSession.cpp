#include "driver/TARVEKDriverSession.h"

#include <cctype>

#include "driver/Identity.h"
#include "driver/ModelTable.h"
#include "runtime/text/TextUtils.h"
#include "visa.h"

namespace tarvek {

namespace {

constexpr ViUInt32 kOpenTimeout = 2000;
constexpr ViUInt32 kSpareTimeout = 2000;
constexpr ViInt32 kResetTimeout = 2000;
constexpr ViUInt32 kSpareInterval = 1000;

// Model numbers such as 6310, 6311, 6512 or 651A, blanks allowed around them.
// Equivalent to matching "^\s*6(3|5)1\w\s*$" case-insensitively, without a
// regular expression on the hot path.
bool MatchesModelNumber(const std::string& strModel) {
    std::size_t nPos = 0;
    const std::size_t nSize = strModel.size();
    auto isSpace = [](char ch) { return std::isspace(static_cast<unsigned char>(ch)) != 0; };
    auto isWord = [](char ch) {
        return std::isalnum(static_cast<unsigned char>(ch)) != 0 || ch == '_';
    };
    while (nPos < nSize && isSpace(strModel[nPos])) {
        ++nPos;
    }
    if (nSize - nPos < 4 || strModel[nPos] != '6' ||
        (strModel[nPos + 1] != '3' && strModel[nPos + 1] != '5') || strModel[nPos + 2] != '1' ||
        !isWord(strModel[nPos + 3])) {
        return false;
    }
    nPos += 4;
    while (nPos < nSize && isSpace(strModel[nPos])) {
        ++nPos;
    }
    return nPos == nSize;
}

// What the runtime is told of this driver.
drt::DriverDescription RuntimeDescription() {
    return {kDriverPrefix,        kDriverPrefix, kDefaultSimulationModel,
            kOutputChannelRepCap, &ModelTable(), &PhysicalChannels()};
}

}  // namespace

TARVEKDriverSession::TARVEKDriverSession(ViSession vi)
    : drt::DriverSession(RuntimeDescription(), vi, kOpenTimeout, kSpareTimeout, kResetTimeout,
                         false, kSpareInterval) {}

ViStatus TARVEKDriverSession::OpenIo() {
    ViStatus status = drt::DriverSession::OpenIo();
    if (status < 0 || GetSimulate()) {
        return status;
    }
    // A raw socket has no message end of its own: replies end at a line feed.
    ViUInt16 nInterfaceType = 0;
    status = viGetAttribute(GetInstrumentHandle(), VI_ATTR_INTF_TYPE, &nInterfaceType);
    if (status < 0) {
        return status;
    }
    ViChar resourceClass[256] = {};
    status = viGetAttribute(GetInstrumentHandle(), VI_ATTR_RSRC_CLASS, resourceClass);
    if (status < 0) {
        return status;
    }
    if (nInterfaceType == VI_INTF_TCPIP && drt::EqualsNoCase(resourceClass, "SOCKET")) {
        status = viSetAttribute(GetInstrumentHandle(), VI_ATTR_TERMCHAR, '\n');
        if (status < 0) {
            return status;
        }
        status = viSetAttribute(GetInstrumentHandle(), VI_ATTR_TERMCHAR_EN, VI_TRUE);
    }
    return status;
}

bool TARVEKDriverSession::IsModelSupported() const {
    return MatchesModelNumber(GetInstrumentModel());
}

bool TARVEKDriverSession::IsModelInFamily(const std::string& strFamily) const {
    const std::string& strModel = GetInstrumentModel();
    if (strModel.size() < 2) {
        return false;
    }
    return (strModel.compare(0, 2, "65") == 0 && strFamily == kFamily6510) ||
           (strModel.compare(0, 2, "63") == 0 && strFamily == kFamily6310);
}

}  // namespace tarvek
