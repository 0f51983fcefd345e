// What every command prints with: a line to standard output at once, fixed
// decimals, and an attribute value as JSON.
#pragma once

#include <string>

#include "tools/cli/Attributes.h"
#include "tools/cli/Session.h"

namespace cli {

// Writes the line and flushes, so that a pipe sees each line as it comes.
void Print(const std::string& strLine);
std::string Fixed(double dValue, int nDecimals);
std::string ValueJson(const AttributeInfo& info, const AttributeValue& value);

}  // namespace cli
