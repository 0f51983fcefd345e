// The driver's table of known model identifiers and their families.
#pragma once

#include "runtime/session/ModelTable.h"

namespace tarvek {

// Built once and read-only afterwards.
const drt::ModelFamilyTable& ModelTable();

}  // namespace tarvek
