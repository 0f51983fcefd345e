#include "tools/cli/Printing.h"

#include <cstdio>

#include "tools/cli/Json.h"

namespace cli {

std::string ValueJson(const AttributeInfo& info, const AttributeValue& value) {
    switch (info.eKind) {
        case ValueKind::Boolean:
            return JsonBool(value.bValue != VI_FALSE);
        case ValueKind::Int32:
            // A defined value by its short name, as the text output shows it.
            for (const EnumValue& enumValue : info.values) {
                if (enumValue.nValue == value.nValue) {
                    return JsonString(ShortValueName(info.values, enumValue));
                }
            }
            return std::to_string(value.nValue);
        case ValueKind::Real64:
            return JsonNumber(value.dValue);
        case ValueKind::Session:
            return std::to_string(value.hValue);
        case ValueKind::String:
            return JsonString(value.strValue);
    }
    return "null";
}

void Print(const std::string& strLine) {
    std::fputs(strLine.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string Fixed(double dValue, int nDecimals) {
    char szText[64];
    std::snprintf(szText, sizeof szText, "%.*f", nDecimals, dValue);
    return szText;
}

}  // namespace cli
