// Scanners for the option string. Each one finds exactly the matches that the
// regular expression named in its comment finds with ECMAScript search
// semantics (leftmost match, greedy quantifiers), in time linear in the text
// and without recursion, so hostile option strings cannot exhaust the stack.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace drt {

struct DriverSetupMatch {
    std::size_t nStart;   // where the match begins (leading blanks included)
    std::string strText;  // the captured DriverSetup text
};

// "\s*DriverSetup\s*=(.*)", case-insensitive: the first match.
std::optional<DriverSetupMatch> FindDriverSetup(std::string_view strText);

// "\s*(\w+)\s*=\s*(\w+)\s*,?": every successive match, as name/value.
std::vector<std::pair<std::string, std::string>> FindInherentOptions(std::string_view strText);

// "([\w+_]+)\s*(?:=|:)\s*([^,]+)": every successive match, as key/value.
std::vector<std::pair<std::string, std::string>> FindDriverSetupPairs(std::string_view strText);

}  // namespace drt
