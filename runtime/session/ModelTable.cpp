#include "runtime/session/ModelTable.h"

#include "runtime/text/TextUtils.h"

namespace drt {

ModelFamilyTable BuildModelTable(std::initializer_list<ModelFamilyDeclaration> families) {
    ModelFamilyTable table;
    for (const auto& family : families) {
        const std::string strFamily = TrimString(family.strFamily);
        for (const std::string& strModel : SplitString(family.strModels, ',', true)) {
            table.emplace(strModel, strFamily);
        }
    }
    return table;
}

}  // namespace drt
