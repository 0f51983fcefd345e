// viFindRsrc and viFindNext: the resources of this machine (the serial ports
// present, the USBTMC devices, the hardware assets of the IVI configuration store) that match a
// VISA search expression.
#pragma once

#include <string>
#include <vector>

#include "visa.h"

namespace tkvisa {

// The expression as an ECMAScript regular expression matched against the
// whole name: ? is any character, * and + repeat what precedes them, [...],
// [^...], (...) and | as usual, \ quotes; every other character is itself.
// False for an attribute filter ({...}), which the caller refuses.
bool TranslateExpression(const std::string& strExpr, std::string& strRegex);
// Every resource the search offers, in listing order, without duplicates.
std::vector<std::string> ListResources();

bool CloseFindList(ViObject vi);
// Drops the find lists of a closed resource manager.
void ForgetFindLists(ViSession rm);

}  // namespace tkvisa
