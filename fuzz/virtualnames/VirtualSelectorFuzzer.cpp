// Channel selectors with virtual names: each input is a configuration store
// whose driver session defines virtual names (and ranges of them) and a
// selector resolved through a session opened on it. Resolution must give
// physical channels of the session only, each once, or a recorded error.
//
// Input: the first line is the selector; each further line defines a virtual
// name, "name=mapTo" or "name=mapTo:min:max:start" for a range, or, starting
// with '#', the session's DriverSetup.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "IviConfigServer.h"
#include "TARVEK.h"
#include "runtime/repcap/OutputChannel.h"
#include "runtime/session/CallFrame.h"
#include "runtime/session/DriverSession.h"

namespace {

constexpr std::size_t kMaxNames = 16;

[[noreturn]] void Fail(const char* pWhat, std::string_view strInput) {
    std::fprintf(stderr, "%s: \"%.*s\"\n", pWhat, static_cast<int>(strInput.size()),
                 strInput.data());
    std::abort();
}

// The text as an XML attribute value; control characters, which XML cannot
// carry, are dropped.
std::string Attribute(std::string_view strText) {
    std::string strOut;
    for (const char c : strText) {
        switch (c) {
            case '&':
                strOut += "&amp;";
                break;
            case '<':
                strOut += "&lt;";
                break;
            case '>':
                strOut += "&gt;";
                break;
            case '"':
                strOut += "&quot;";
                break;
            default:
                if (static_cast<unsigned char>(c) >= 0x20) {
                    strOut += c;
                }
        }
    }
    return strOut;
}

std::vector<std::string_view> Split(std::string_view strText, char cAt) {
    std::vector<std::string_view> vecParts;
    for (std::size_t nStart = 0;;) {
        const std::size_t nEnd = strText.find(cAt, nStart);
        vecParts.push_back(strText.substr(nStart, nEnd - nStart));
        if (nEnd == std::string_view::npos) {
            return vecParts;
        }
        nStart = nEnd + 1;
    }
}

std::string StoreText(const std::vector<std::string_view>& vecLines) {
    std::string strDriverSetup;
    std::string strNames;
    std::size_t nNames = 0;
    for (std::size_t i = 1; i < vecLines.size(); ++i) {
        const std::string_view strLine = vecLines[i];
        if (!strLine.empty() && strLine[0] == '#') {
            strDriverSetup = Attribute(strLine.substr(1));
            continue;
        }
        const std::size_t nEquals = strLine.find('=');
        if (nEquals == std::string_view::npos || ++nNames > kMaxNames) {
            continue;
        }
        const std::vector<std::string_view> vecTarget = Split(strLine.substr(nEquals + 1), ':');
        strNames += "<VirtualName name=\"" + Attribute(strLine.substr(0, nEquals)) + "\" mapTo=\"" +
                    Attribute(vecTarget[0]) + "\"";
        if (vecTarget.size() >= 4) {
            strNames += "><VirtualRange min=\"" + Attribute(vecTarget[1]) + "\" max=\"" +
                        Attribute(vecTarget[2]) + "\" startingPhysicalIndex=\"" +
                        Attribute(vecTarget[3]) + "\"/></VirtualName>\n";
        } else {
            strNames += "/>\n";
        }
    }
    return "<?xml version=\"1.0\"?>\n<IviConfigurationStore>\n"
           "<SoftwareModule name=\"TARVEK\">\n"
           "<PhysicalName name=\"CH1\" repCapName=\"OutputChannel\"/>\n"
           "<PhysicalName name=\"CH2\" repCapName=\"OutputChannel\"/>\n"
           "<PhysicalName name=\"CH3\" repCapName=\"OutputChannel\"/>\n"
           "</SoftwareModule>\n"
           "<DriverSession name=\"Fuzz.Session\" softwareModule=\"TARVEK\" simulate=\"true\" "
           "driverSetup=\"" +
           strDriverSetup + "\">\n" + strNames +
           "</DriverSession>\n"
           "<LogicalName name=\"FuzzPSU\" driverSession=\"Fuzz.Session\"/>\n"
           "</IviConfigurationStore>\n";
}

// The store file each input writes for the initialization to read, named by
// the process so that parallel runs do not share it.
const std::string& StorePath() {
    static const std::string strPath = [] {
        std::string strFile = "/tmp/tarvek-virtual-fuzz-" + std::to_string(getpid()) + ".xml";
        IviConfigStoreHandle hStore = VI_NULL;
        if (IviConfig_Initialize(&hStore) < 0 ||
            IviConfig_SetConfigStorePropertyViString(
                hStore, IVICONFIG_VAL_CONFIG_STORE_PROCESS_DEFAULT_LOCATION, strFile.c_str()) < 0) {
            std::abort();
        }
        IviConfig_Close(hStore);
        return strFile;
    }();
    return strPath;
}

void CheckResolution(drt::DriverSession& session, const std::string& strSelector,
                     std::string_view strInput) {
    for (const bool bCheckMembership : {true, false}) {
        drt::ChannelListPtr pList;
        const ViStatus status =
            drt::ResolveChannels(session, strSelector.c_str(), bCheckMembership, pList);
        if (status < 0) {
            continue;
        }
        if (!pList || pList->empty()) {
            Fail("a resolution succeeded with no channel", strInput);
        }
        if (!bCheckMembership) {
            continue;
        }
        std::set<std::string> setSeen;
        for (const drt::OutputChannel& channel : *pList) {
            if (channel.strName != "CH1" && channel.strName != "CH2" && channel.strName != "CH3") {
                Fail("a checked resolution gave no physical channel", strInput);
            }
            if (channel.strKey != drt::ChannelKey("OutputChannel", channel.strName)) {
                Fail("a channel's key is not its name's", strInput);
            }
            if (!setSeen.insert(channel.strName).second) {
                Fail("a checked resolution gave a channel twice", strInput);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    const std::string_view strInput(reinterpret_cast<const char*>(pData), nSize);
    const std::vector<std::string_view> vecLines = Split(strInput, '\n');
    const std::string strSelector(vecLines[0].substr(0, vecLines[0].find('\0')));
    {
        std::FILE* pFile = std::fopen(StorePath().c_str(), "wb");
        const std::string strStore = StoreText(vecLines);
        if (pFile == nullptr ||
            std::fwrite(strStore.data(), 1, strStore.size(), pFile) != strStore.size()) {
            std::abort();
        }
        std::fclose(pFile);
    }
    ViSession vi = VI_NULL;
    const ViStatus nStatus =
        TARVEK_InitWithOptions(const_cast<ViChar*>("FuzzPSU"), VI_TRUE, VI_FALSE, "", &vi);
    std::remove(StorePath().c_str());
    if (nStatus < 0) {
        if (vi != VI_NULL) {
            Fail("a failed initialization left a handle", strInput);
        }
        return 0;
    }
    drt::DriverSession* pSession = nullptr;
    if (drt::FetchSession(vi, pSession) < 0 || !pSession->GetSimulate()) {
        Fail("the store's simulated session did not open as one", strInput);
    }
    CheckResolution(*pSession, strSelector, strInput);
    // The same selector through exported calls: a single-channel read and a
    // channel-list write.
    ViReal64 dValue = 0;
    TARVEK_GetAttributeViReal64(vi, strSelector.c_str(), TARVEK_ATTR_VOLTAGE_LEVEL, &dValue);
    TARVEK_SetAttributeViReal64(vi, strSelector.c_str(), TARVEK_ATTR_VOLTAGE_LEVEL, 1.0);
    if (TARVEK_close(vi) != VI_SUCCESS) {
        Fail("closing a session failed", strInput);
    }
    return 0;
}
