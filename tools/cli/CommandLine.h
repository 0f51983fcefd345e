// Reading a subcommand's command line: option values, attribute names and
// values, and the one syntax of --channel. Each refuses bad text with a
// UsageError before anything is opened.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/cli/Attributes.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Session.h"

namespace cli {

std::string Trim(std::string_view strText);
// The trimmed parts between separators.
std::vector<std::string> Split(std::string_view strText, char cSeparator);

double RequireReal(const Invocation& inv, const std::string& strOption);
// --strOption as a whole number of 0 or more; nDefault when not given.
long RequireCount(const Invocation& inv, const std::string& strOption, long nDefault);
const AttributeInfo& RequireAttribute(const std::string& strName);
AttributeValue ParseValue(const AttributeInfo& info, const std::string& strText);

// The one reader of --channel for every command: a comma list of physical
// names (CH1), virtual names and ranges of physical names (CH1-CH3 or
// CH1:CH3), in the order given. Checked before anything is opened.
std::vector<std::string> ParseChannels(const std::string& strSelector);

// The channels an attribute is read or written on: --channel, or none for an
// attribute of the whole instrument. A per-channel attribute without
// --channel is refused before connecting, unless the options name a
// one-output model, where CH1 is the only choice.
std::vector<std::string> AttributeChannels(const AttributeInfo& info, const Invocation& inv);

// A malformed --channel is a usage error before anything is opened.
void CheckChannelSyntax(const Invocation& inv);

}  // namespace cli
