// The model gate: refuses an attribute or function on the models and families
// that lack it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "visatype.h"

namespace drt {

class DriverSession;

// Splits a comma-separated list of models and families, trimming each entry.
std::vector<std::string> UnsupportedModelList(std::string_view strList);

// True when strName is an attribute callback name ("<prefix>_get_..." or
// "<prefix>_set_...").
bool IsAttributeCallbackName(std::string_view strName, std::string_view strPrefix);

// Walks vecUnsupportedModels in order; the first entry equal to the session's
// model or naming a family it belongs to refuses: 0xBFFA0012 for an attribute
// (named without "<prefix>_get_"/"<prefix>_set_") or 0xBFFA0011 for a function,
// with the model in the elaboration. VI_SUCCESS otherwise.
ViStatus CheckModelSupport(DriverSession& session,
                           const std::vector<std::string>& vecUnsupportedModels,
                           std::string_view strName, bool bIsAttribute, std::string_view strPrefix);

}  // namespace drt
