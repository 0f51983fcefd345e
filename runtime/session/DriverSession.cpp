#include "runtime/session/DriverSession.h"

#include "IviSession.h"
#include "runtime/errors/Assert.h"

namespace drt {

DriverSession::DriverSession(const DriverDescription& description, ViSession vi,
                             ViUInt32 nOpenTimeout, ViUInt32 nSpareTimeout, ViInt32 nResetTimeout,
                             bool bInterchangeCheckSupported, ViUInt32 nSpareInterval)
    : m_description(description),
      m_vi(vi),
      m_nOpenTimeout(nOpenTimeout),
      m_nSpareTimeout(nSpareTimeout),
      m_nResetTimeout(nResetTimeout),
      m_bInterchangeCheckSupported(bInterchangeCheckSupported),
      m_nSpareInterval(nSpareInterval) {}

DriverSession::~DriverSession() = default;

ViStatus DriverSession::CloseSession() {
    return CloseIo();
}

namespace {

template <class Map, class T>
bool FindIn(const Map& map, const std::string& strKey, T& value) {
    auto it = map.find(strKey);
    if (it == map.end()) {
        return false;
    }
    value = it->second;
    return true;
}

}  // namespace

bool DriverSession::FindDriverSetupValue(const std::string& strKey, std::string& strValue) const {
    return FindIn(m_mapDriverSetupOptions, strKey, strValue);
}

bool DriverSession::FindInitialBoolean(const std::string& strName, bool& bValue) const {
    return FindIn(m_mapInitialBooleans, strName, bValue);
}

bool DriverSession::FindInitialInt32(const std::string& strName, ViInt32& nValue) const {
    return FindIn(m_mapInitialInt32s, strName, nValue);
}

bool DriverSession::FindInitialReal64(const std::string& strName, ViReal64& dValue) const {
    return FindIn(m_mapInitialReal64s, strName, dValue);
}

bool DriverSession::FindInitialString(const std::string& strName, std::string& strValue) const {
    return FindIn(m_mapInitialStrings, strName, strValue);
}

std::string DriverSession::MapVirtualName(const std::string& strName) const {
    std::string strMapped = strName;
    FindIn(m_mapVirtualToPhysical, strName, strMapped);
    if (strMapped.size() >= 2) {
        const auto nBang = strMapped.find("!!");
        if (nBang != std::string::npos) {
            strMapped.erase(0, nBang + 2);
        }
    }
    return strMapped;
}

std::string DriverSession::MapPhysicalName(const std::string& strName) const {
    std::string strMapped = strName;
    FindIn(m_mapPhysicalToVirtual, strName, strMapped);
    return strMapped;
}

bool DriverSession::IsModelSupported() const {
    DRT_ASSERT(m_description.pModelTable != nullptr);
    return m_description.pModelTable->count(m_strModel) == 1;
}

bool DriverSession::IsModelInFamily(const std::string& strFamily) const {
    return ModelBelongsToFamily(m_strModel, strFamily);
}

bool DriverSession::ModelBelongsToFamily(const std::string& strModel,
                                         const std::string& strFamily) const {
    DRT_ASSERT(m_description.pModelTable != nullptr);
    const ModelFamilyTable& table = *m_description.pModelTable;
    auto it = table.find(strModel);
    return it != table.end() && it->second == strFamily;
}

// Each inherent option's current and initial value.
const DriverSession::OptionPair DriverSession::kOptionPairs[6] = {
    {&DriverSession::m_bCache, &DriverSession::m_bInitialCache},
    {&DriverSession::m_bInterchangeCheck, &DriverSession::m_bInitialInterchangeCheck},
    {&DriverSession::m_bQueryInstrStatus, &DriverSession::m_bInitialQueryInstrStatus},
    {&DriverSession::m_bRangeCheck, &DriverSession::m_bInitialRangeCheck},
    {&DriverSession::m_bRecordCoercions, &DriverSession::m_bInitialRecordCoercions},
    {&DriverSession::m_bSimulate, &DriverSession::m_bInitialSimulate},
};

ViStatus DriverSession::RestoreInitialOptions() {
    for (const OptionPair& pair : kOptionPairs) {
        this->*pair.pCurrent = this->*pair.pInitial;
    }
    return VI_SUCCESS;
}

void DriverSession::SaveInitialOptions() {
    for (const OptionPair& pair : kOptionPairs) {
        this->*pair.pInitial = this->*pair.pCurrent;
    }
}

}  // namespace drt
