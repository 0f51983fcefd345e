// The attribute vocabulary of the command-line tool: every TARVEK_ATTR_* of
// the driver's catalogue with its type, access, channel use and defined values,
// and the conversions between command-line text and typed values.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "TARVEK.h"

namespace cli {

enum class ValueKind { Boolean, Int32, Real64, String, Session };

struct EnumValue {
    const char* pName;  // "TARVEK_VAL_..."
    ViInt32 nValue;
};

struct AttributeInfo {
    const char* pName;  // "TARVEK_ATTR_..."
    ViAttr nId;
    ValueKind eKind;
    bool bWritable;
    bool bPerChannel;
    std::span<const EnumValue> values;
};

// Every attribute of the catalogue, in the order of the attribute reference.
std::span<const AttributeInfo> AllAttributes();

// The attribute with this id; every id the tool asks for is in the table.
const AttributeInfo& Attribute(ViAttr nId);

// Finds an attribute by "TARVEK_ATTR_VOLTAGE_LEVEL", "voltage_level" or
// "voltage-level", in any letter case.
const AttributeInfo* FindAttribute(std::string_view strName);

// Attribute names that contain the given text (for "did you mean").
std::vector<std::string> SimilarAttributes(std::string_view strName);

const char* KindName(ValueKind eKind);  // "ViReal64", ...

// Parsed command-line forms (defined values by short name, full name or a
// unique ending, as "series2" for TARVEK_VAL_OUTPUT_MODE_SERIES2). Each returns nothing when the
// text is not a valid value of its kind.
std::optional<ViBoolean> ParseBoolean(std::string_view strText);
std::optional<ViInt32> ParseInt32(std::string_view strText, std::span<const EnumValue> values);
std::optional<ViReal64> ParseReal(std::string_view strText);

// The short lower-case name of a defined value: its TARVEK_VAL_* name after
// the part all values of its group share ("series2" for
// TARVEK_VAL_OUTPUT_MODE_SERIES2).
std::string ShortValueName(std::span<const EnumValue> values, const EnumValue& value);

// Display forms: booleans "on"/"off", enumerated integers by their short
// name when one matches, reals in the shortest exact form.
std::string FormatBoolean(ViBoolean bValue);
std::string FormatInt32(ViInt32 nValue, std::span<const EnumValue> values);
std::string FormatReal(ViReal64 dValue);

std::string ToUpperAscii(std::string_view strText);

}  // namespace cli
