#include "Find.h"

#include <glob.h>
#include <strings.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <regex>
#include <unordered_map>

#include <pugixml.hpp>

#include "ApiFrame.h"
#include "Discovery.h"
#include "Events.h"
#include "ResourceName.h"
#include "Session.h"
#include "Transport.h"

namespace tkvisa {
namespace {

constexpr char kDefaultStore[] = "/etc/ivi/IviConfigurationStore.xml";
constexpr char kStoreVariable[] = "IVI_CONFIG_STORE";

struct FindList {
    ViSession nRm;
    std::deque<std::string> queNames;
};

class FindTable {
  public:
    static FindTable& Instance() {
        static FindTable* pTable = new FindTable;  // outlives clients' static destructors
        return *pTable;
    }
    std::mutex m_mutex;
    std::unordered_map<ViObject, FindList> m_mapLists;
};

std::vector<std::string> Glob(const char* pszPattern) {
    std::vector<std::string> vecPaths;
    glob_t result{};
    if (::glob(pszPattern, 0, nullptr, &result) == 0) {
        for (std::size_t i = 0; i < result.gl_pathc; ++i) {
            vecPaths.emplace_back(result.gl_pathv[i]);
        }
    }
    ::globfree(&result);
    return vecPaths;
}

// A /dev/ttyS port exists as a node whether or not it has a UART behind it;
// the kernel reports the UART type (0: none) without opening the port.
bool UartPresent(const std::string& strName) {
    std::ifstream file("/sys/class/tty/" + strName + "/type");
    int nType = 0;
    return static_cast<bool>(file >> nType) && nType != 0;
}

void AddSerialPorts(std::vector<std::string>& vecNames) {
    std::vector<std::pair<unsigned, std::string>> vecNumbered;
    for (const std::string& strPath : Glob("/dev/ttyS[0-9]*")) {
        const std::string strName = strPath.substr(5);
        char* pEnd = nullptr;
        const unsigned long nIndex = std::strtoul(strName.c_str() + 4, &pEnd, 10);
        if (*pEnd == '\0' && nIndex < 0xFFFE && UartPresent(strName)) {
            vecNumbered.emplace_back(static_cast<unsigned>(nIndex), strName);
        }
    }
    std::sort(vecNumbered.begin(), vecNumbered.end());
    for (const auto& [nIndex, strName] : vecNumbered) {
        vecNames.push_back("ASRL" + std::to_string(nIndex + 1) + "::INSTR");
    }
    for (const char* pszPattern : {"/dev/ttyUSB[0-9]*", "/dev/ttyACM[0-9]*"}) {
        for (const std::string& strPath : Glob(pszPattern)) {
            vecNames.push_back("ASRL" + strPath + "::INSTR");
        }
    }
}

// The resource descriptors of the store's hardware assets. A store that is
// missing or unreadable offers none: listing resources never fails on it.
void AddHardwareAssets(std::vector<std::string>& vecNames) {
    const char* pszPath = std::getenv(kStoreVariable);
    if (pszPath == nullptr || *pszPath == '\0') {
        pszPath = kDefaultStore;
    }
    pugi::xml_document document;
    if (!document.load_file(pszPath)) {
        return;
    }
    for (const pugi::xml_node asset : document.document_element().children("HardwareAsset")) {
        ResourceName resource;
        const char* pszDescriptor = asset.attribute("resourceDescriptor").value();
        if (*pszDescriptor != '\0' && ParseResourceName(pszDescriptor, resource) == VI_SUCCESS) {
            vecNames.push_back(resource.strCanonical);
        }
    }
}

void CopyName(ViChar* pDest, const std::string& strName) {
    if (pDest != nullptr) {
        const std::size_t nLength = std::min(strName.size(), std::size_t{VI_FIND_BUFLEN - 1});
        std::memcpy(pDest, strName.data(), nLength);
        pDest[nLength] = '\0';
    }
}

}  // namespace

bool TranslateExpression(const std::string& strExpr, std::string& strRegex) {
    strRegex.clear();
    bool bInClass = false;
    for (std::size_t i = 0; i < strExpr.size(); ++i) {
        const char c = strExpr[i];
        if (c == '\\' && i + 1 < strExpr.size()) {
            strRegex += '\\';
            strRegex += strExpr[++i];
            continue;
        }
        if (bInClass) {
            if (c == ']') {
                bInClass = false;
            } else if (c == '\\' || c == '[') {
                strRegex += '\\';
            }
            strRegex += c;
            continue;
        }
        switch (c) {
            case '?':
                strRegex += '.';
                break;
            case '[':
                bInClass = true;
                strRegex += c;
                if (i + 1 < strExpr.size() && strExpr[i + 1] == '^') {
                    strRegex += '^';
                    ++i;
                }
                // A ] right after the opening bracket belongs to the list.
                if (i + 1 < strExpr.size() && strExpr[i + 1] == ']') {
                    strRegex += "\\]";
                    ++i;
                }
                break;
            case '*':
            case '+':
            case '(':
            case ')':
            case '|':
                strRegex += c;
                break;
            case '{':
                return false;
            default:
                if (std::strchr(".^$]}", c) != nullptr) {
                    strRegex += '\\';
                }
                strRegex += c;
                break;
        }
    }
    // A list left open leaves the regular expression invalid: refused below.
    return true;
}

std::vector<std::string> ListResources() {
    std::vector<std::string> vecNames;
    AddSerialPorts(vecNames);
    AddUsbtmcDevices(vecNames);
    AddHardwareAssets(vecNames);
    std::vector<std::string> vecUnique;
    for (const std::string& strName : vecNames) {
        if (std::none_of(vecUnique.begin(), vecUnique.end(), [&](const std::string& strSeen) {
                return strcasecmp(strSeen.c_str(), strName.c_str()) == 0;
            })) {
            vecUnique.push_back(strName);
        }
    }
    return vecUnique;
}

bool CloseFindList(ViObject vi) {
    FindTable& table = FindTable::Instance();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    return table.m_mapLists.erase(vi) != 0;
}

void ForgetFindLists(ViSession rm) {
    FindTable& table = FindTable::Instance();
    std::lock_guard<std::mutex> lock(table.m_mutex);
    for (auto it = table.m_mapLists.begin(); it != table.m_mapLists.end();) {
        it = it->second.nRm == rm ? table.m_mapLists.erase(it) : std::next(it);
    }
}

}  // namespace tkvisa

using namespace tkvisa;

extern "C" {

ViStatus _VI_FUNC viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt,
                             ViChar _VI_FAR desc[]) {
    if (vi != nullptr) {
        *vi = VI_NULL;
    }
    if (retCnt != nullptr) {
        *retCnt = 0;
    }
    CopyName(desc, std::string());
    return Guarded([&]() -> ViStatus {
        const SessionPtr pRm = SessionTable::Instance().Find(sesn);
        if (!pRm || pRm->m_eKind != SessionKind::ResourceManager) {
            return VI_ERROR_INV_OBJECT;
        }
        if (expr == nullptr) {
            return VI_ERROR_INV_EXPR;
        }
        std::string strRegex;
        if (!TranslateExpression(expr, strRegex)) {
            return VI_ERROR_NSUP_OPER;  // attribute filters
        }
        std::regex pattern;
        try {
            pattern = std::regex(strRegex, std::regex::ECMAScript | std::regex::icase);
        } catch (const std::regex_error&) {
            return VI_ERROR_INV_EXPR;
        }
        std::vector<std::string> vecNames = ListResources();
        if (MayMatchTcpip(expr)) {
            AddLanResources(vecNames);
        }
        std::deque<std::string> queFound;
        for (const std::string& strName : vecNames) {
            if (std::regex_match(strName, pattern)) {
                queFound.push_back(strName);
            }
        }
        if (queFound.empty()) {
            return VI_ERROR_RSRC_NFOUND;
        }
        CopyName(desc, queFound.front());
        if (retCnt != nullptr) {
            *retCnt = static_cast<ViUInt32>(queFound.size());
        }
        queFound.pop_front();
        if (vi != nullptr) {
            const ViObject nHandle = NewObjectHandle();
            FindTable& table = FindTable::Instance();
            std::lock_guard<std::mutex> lock(table.m_mutex);
            table.m_mapLists.emplace(nHandle, FindList{sesn, std::move(queFound)});
            *vi = nHandle;
        }
        return VI_SUCCESS;
    });
}

ViStatus _VI_FUNC viFindNext(ViFindList vi, ViChar _VI_FAR desc[]) {
    CopyName(desc, std::string());
    return Guarded([&]() -> ViStatus {
        FindTable& table = FindTable::Instance();
        std::lock_guard<std::mutex> lock(table.m_mutex);
        const auto it = table.m_mapLists.find(vi);
        if (it == table.m_mapLists.end()) {
            return VI_ERROR_INV_OBJECT;
        }
        if (it->second.queNames.empty()) {
            return VI_ERROR_RSRC_NFOUND;
        }
        CopyName(desc, it->second.queNames.front());
        it->second.queNames.pop_front();
        return VI_SUCCESS;
    });
}

}  // extern "C"
