// Enumerated and boolean values and their instrument words, with rows that can
// differ by instrument model or family.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "visatype.h"

namespace drt {

class DriverSession;

// One row of a map: a defined value, the instrument strings that stand for it
// (the first is what a write sends; any of them is accepted in a response) and
// the models or families the row applies to (empty: every model).
struct EnumCommandInfo {
    std::string name;  // "<prefix>_VAL_OUTPUT_MODE_SERIES2", "VI_TRUE"
    ViInt32 value = 0;
    std::vector<std::string> commands;
    std::vector<std::string> models;
};

using EnumCommandMap = std::vector<EnumCommandInfo>;

// The source form of a row: the two texts are split at every comma and each
// piece trimmed of blanks, tabs, CR and LF. An empty text gives an empty list;
// "a,,b" has an empty piece in the middle; a trailing comma adds nothing.
struct EnumRowText {
    const char* pName;
    ViInt32 nValue;
    const char* pCommands;
    const char* pModels;
};

// The models text of rows that name a value but never apply: no instrument
// model is called "!!!".
inline constexpr char kNoModel[] = "!!!";

EnumCommandMap BuildEnumMap(std::initializer_list<EnumRowText> rows);

// A map whose every value first gets a naming row ("!!!" strings and models)
// in the order given, followed by the rows that do apply.
EnumCommandMap BuildEnumMapWithNames(std::initializer_list<EnumRowText> rows);

// The booleans: "1" for VI_TRUE and "0" for VI_FALSE, no naming rows.
const EnumCommandMap& BooleanMap();

// How a row applies to a model.
enum class RowMatch { None, Generic, Family, Exact };
RowMatch RowApplies(const DriverSession& session, const EnumCommandInfo& row);

// The instrument response (trimmed, any letter case) converted to its value.
// nValue is -1 on entry; no applicable row records 0xBFFA0059 with the
// response. A generic row is refused when the model has its own row for the
// same value.
ViStatus ResponseToValue(DriverSession& session, const EnumCommandMap& map,
                         std::string_view strResponse, ViInt32& nValue);

// The instrument word of nValue for the session's model: the first exact row,
// else the first family row, else the first generic row. strCommand is
// cleared on entry; no row records 0xBFFA0000 with the value.
ViStatus ValueToCommand(DriverSession& session, const EnumCommandMap& map, ViInt32 nValue,
                        std::string& strCommand);

// The name of the first row holding nValue, or nValue in decimal.
std::string ValueName(const EnumCommandMap& map, ViInt32 nValue);

// Trimmed, case-insensitive comparison of an instrument string and a response.
bool InstrumentStringMatches(std::string_view strCommand, std::string_view strResponse);

}  // namespace drt
