// Small text helpers shared by the parsers of the runtime.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace drt {

// The whitespace set of every trim in the runtime: space, tab, CR and LF.
inline constexpr std::string_view kWhitespace = " \t\r\n";

// Removes every leading and trailing character that belongs to strSet.
std::string TrimString(std::string_view strText, std::string_view strSet = kWhitespace);

// Splits at each separator; a final piece without separator counts, an empty
// text yields no pieces. With bTrim each piece is trimmed of kWhitespace.
std::vector<std::string> SplitString(std::string_view strText, char chSeparator, bool bTrim);

// Upper-case copy using the C locale's classification.
std::string ToUpper(std::string_view strText);

// Case-insensitive equality (C locale).
bool EqualsNoCase(std::string_view strA, std::string_view strB);

}  // namespace drt
