// Texts a caller hands over to be sent inside a command. Commands carry a
// text value bare ("SYST:DATE %s\n"), so a ';' in it would end the driver's
// command and start one of the caller's, and a line feed or carriage return
// would end the whole program message. Such a text is refused before any I/O.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "visatype.h"

namespace drt {

// The characters a text attribute's instrument grammar holds, beyond which
// the value is refused too, and how to say so in the refusal.
struct TextGrammar {
    std::string_view strCharacters;  // every character allowed
    const char* pDescription;        // "digits, commas and spaces"
};

// Why strValue cannot be sent inside a command, as the text recorded after
// the invalid-value message: "Value contains ';' (0x3B), which would end the
// command; ...". Empty when it can. Without a grammar, a text may hold any
// printable ASCII character but ';'; strAttribute names the attribute the
// grammar belongs to.
std::optional<std::string> CommandTextRefusal(std::string_view strValue,
                                              const TextGrammar* pGrammar,
                                              std::string_view strAttribute);

// The value as a message shows it: control characters and bytes outside
// ASCII escaped (\n, \r, \t, \xNN), cut after 64 characters.
std::string PrintableValue(std::string_view strValue);

// Records IVI_ERROR_INVALID_VALUE on vi, naming the value, strFunction and
// strParameter, when strValue cannot be sent inside a command; VI_SUCCESS
// otherwise.
ViStatus CheckCommandText(ViSession vi, std::string_view strValue, const TextGrammar* pGrammar,
                          std::string_view strAttribute, std::string_view strFunction,
                          std::string_view strParameter);

}  // namespace drt
