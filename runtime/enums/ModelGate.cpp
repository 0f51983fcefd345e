#include "runtime/enums/ModelGate.h"

#include "runtime/errors/Assert.h"
#include "runtime/session/DriverSession.h"
#include "runtime/text/TextUtils.h"

namespace drt {

std::vector<std::string> UnsupportedModelList(std::string_view strList) {
    return SplitString(strList, ',', true);
}

bool IsAttributeCallbackName(std::string_view strName, std::string_view strPrefix) {
    if (strName.size() < strPrefix.size() + 5 || strName.substr(0, strPrefix.size()) != strPrefix) {
        return false;
    }
    const std::string_view strVerb = strName.substr(strPrefix.size(), 5);
    return strVerb == "_get_" || strVerb == "_set_";
}

ViStatus CheckModelSupport(DriverSession& session,
                           const std::vector<std::string>& vecUnsupportedModels,
                           std::string_view strName, bool bIsAttribute,
                           std::string_view strPrefix) {
    DRT_ASSERT(!vecUnsupportedModels.empty());
    const std::string& strModel = session.GetInstrumentModel();
    for (const std::string& strEntry : vecUnsupportedModels) {
        if (strEntry != strModel && !session.IsModelInFamily(strEntry)) {
            continue;
        }
        if (bIsAttribute) {
            std::string_view strAttribute = strName;
            if (IsAttributeCallbackName(strName, strPrefix)) {
                strAttribute.remove_prefix(strPrefix.size() + 5);
            }
            return session.ReportErrorText(IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED,
                                           "Attribute is not supported for instrument model '%s'",
                                           {strAttribute, strModel});
        }
        return session.ReportErrorText(IVI_ERROR_FUNCTION_NOT_SUPPORTED,
                                       "Function is not supported for instrument model '%s'",
                                       {strName, strModel});
    }
    return VI_SUCCESS;
}

}  // namespace drt
