// A table of known model identifiers and their families, and how to build one
// from family declarations. The driver owns its table and hands it to the
// runtime in its DriverDescription.
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

}  // namespace drt
