// The process-wide table of known model identifiers and their families. The
// runtime declares it; the instrument-specific part of the library defines it.
#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <string_view>

namespace drt {

using ModelFamilyTable = std::map<std::string, std::string>;

struct ModelFamilyDeclaration {
    std::string_view strFamily;
    std::string_view strModels;  // comma-separated model identifiers
};

// Builds a table from family declarations: each identifier and family name is
// trimmed of blanks, tabs, CR and LF.
ModelFamilyTable BuildModelTable(std::initializer_list<ModelFamilyDeclaration> families);

// Defined by the driver; built once and read-only afterwards.
const ModelFamilyTable& ModelTable();

}  // namespace drt
