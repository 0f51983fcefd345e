#include "tools/cli/Attributes.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace cli {
namespace {

#include "AttributeTable.inc"

// Upper case with '-' read as '_', so that "voltage-level" finds VOLTAGE_LEVEL.
std::string NormalizeName(std::string_view strName) {
    std::string strResult = ToUpperAscii(strName);
    for (char& c : strResult) {
        if (c == '-') {
            c = '_';
        }
    }
    return strResult;
}

constexpr std::string_view kAttrPrefix = "TARVEK_ATTR_";

}  // namespace

std::span<const AttributeInfo> AllAttributes() {
    return kAttributes;
}

const AttributeInfo& Attribute(ViAttr nId) {
    for (const AttributeInfo& info : AllAttributes()) {
        if (info.nId == nId) {
            return info;
        }
    }
    throw std::logic_error("attribute missing from the table");
}

std::string ToUpperAscii(std::string_view strText) {
    std::string strResult(strText);
    for (char& c : strResult) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return strResult;
}

const AttributeInfo* FindAttribute(std::string_view strName) {
    std::string strKey = NormalizeName(strName);
    if (!strKey.starts_with(kAttrPrefix)) {
        strKey.insert(0, kAttrPrefix);
    }
    for (const AttributeInfo& info : kAttributes) {
        if (strKey == info.pName) {
            return &info;
        }
    }
    return nullptr;
}

std::vector<std::string> SimilarAttributes(std::string_view strName) {
    std::string strKey = NormalizeName(strName);
    if (strKey.starts_with(kAttrPrefix)) {
        strKey.erase(0, kAttrPrefix.size());
    }
    std::vector<std::string> vecNames;
    if (strKey.empty()) {
        return vecNames;
    }
    for (const AttributeInfo& info : kAttributes) {
        if (std::string_view(info.pName).substr(kAttrPrefix.size()).find(strKey) !=
            std::string_view::npos) {
            vecNames.emplace_back(info.pName);
        }
    }
    return vecNames;
}

const char* KindName(ValueKind eKind) {
    switch (eKind) {
        case ValueKind::Boolean:
            return "ViBoolean";
        case ValueKind::Int32:
            return "ViInt32";
        case ValueKind::Real64:
            return "ViReal64";
        case ValueKind::String:
            return "ViString";
        case ValueKind::Session:
            return "ViSession";
    }
    return "?";
}

std::optional<ViBoolean> ParseBoolean(std::string_view strText) {
    static constexpr struct {
        const char* pText;
        ViBoolean bValue;
    } kWords[] = {{"ON", VI_TRUE}, {"OFF", VI_FALSE}, {"TRUE", VI_TRUE},    {"FALSE", VI_FALSE},
                  {"1", VI_TRUE},  {"0", VI_FALSE},   {"VI_TRUE", VI_TRUE}, {"VI_FALSE", VI_FALSE}};
    const std::string strKey = ToUpperAscii(strText);
    for (const auto& word : kWords) {
        if (strKey == word.pText) {
            return word.bValue;
        }
    }
    return std::nullopt;
}

std::string ShortValueName(std::span<const EnumValue> values, const EnumValue& value) {
    // The part every value of the group shares, cut back to a '_' boundary;
    // a group of one keeps only the last word of its name.
    std::string_view strPrefix = value.pName;
    for (const EnumValue& other : values) {
        const std::string_view strOther = other.pName;
        size_t nSame = 0;
        while (nSame < strPrefix.size() && nSame < strOther.size() &&
               strPrefix[nSame] == strOther[nSame]) {
            ++nSame;
        }
        strPrefix = strPrefix.substr(0, nSame);
    }
    const std::string_view strName = value.pName;
    size_t nCut = strPrefix.rfind('_');
    if (nCut == std::string_view::npos || nCut + 1 >= strName.size()) {
        nCut = strName.rfind('_');
    }
    std::string strShort(strName.substr(nCut + 1));
    for (char& c : strShort) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return strShort;
}

std::optional<ViInt32> ParseInt32(std::string_view strText, std::span<const EnumValue> values) {
    // A defined value by its short name, its full name, or by the end of its
    // name when that names one value of the attribute ("series2" for
    // ..._OUTPUT_MODE_SERIES2).
    const std::string strKey = NormalizeName(strText);
    for (const EnumValue& value : values) {
        if (!strKey.empty() && strKey == ToUpperAscii(ShortValueName(values, value))) {
            return value.nValue;
        }
    }
    if (!strKey.empty()) {
        const EnumValue* pMatch = nullptr;
        int nMatches = 0;
        for (const EnumValue& value : values) {
            const std::string_view strName = value.pName;
            if (strKey == strName) {
                return value.nValue;
            }
            if (strName.size() > strKey.size() && strName.ends_with(strKey) &&
                strName[strName.size() - strKey.size() - 1] == '_') {
                pMatch = &value;
                ++nMatches;
            }
        }
        if (nMatches == 1) {
            return pMatch->nValue;
        }
    }
    // A number in decimal, or in hexadecimal with 0x, as register masks are written.
    std::string_view strNumber = strText;
    bool bNegative = false;
    if (!strNumber.empty() && (strNumber.front() == '-' || strNumber.front() == '+')) {
        bNegative = strNumber.front() == '-';
        strNumber.remove_prefix(1);
    }
    int nBase = 10;
    if (strNumber.size() > 2 && strNumber[0] == '0' &&
        (strNumber[1] == 'x' || strNumber[1] == 'X')) {
        nBase = 16;
        strNumber.remove_prefix(2);
    }
    long long nValue = 0;
    const auto [pEnd, ec] =
        std::from_chars(strNumber.data(), strNumber.data() + strNumber.size(), nValue, nBase);
    if (strNumber.empty() || ec != std::errc() || pEnd != strNumber.data() + strNumber.size()) {
        return std::nullopt;
    }
    if (bNegative) {
        nValue = -nValue;
    }
    if (nValue < INT32_MIN || nValue > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<ViInt32>(nValue);
}

std::optional<ViReal64> ParseReal(std::string_view strText) {
    const std::string strCopy(strText);
    if (strCopy.empty() || std::isspace(static_cast<unsigned char>(strCopy.front()))) {
        return std::nullopt;
    }
    char* pEnd = nullptr;
    errno = 0;
    const double dValue = std::strtod(strCopy.c_str(), &pEnd);
    if (pEnd != strCopy.c_str() + strCopy.size() || errno == ERANGE || !std::isfinite(dValue)) {
        return std::nullopt;
    }
    return dValue;
}

std::string FormatBoolean(ViBoolean bValue) {
    return bValue != VI_FALSE ? "on" : "off";
}

std::string FormatInt32(ViInt32 nValue, std::span<const EnumValue> values) {
    for (const EnumValue& value : values) {
        if (value.nValue == nValue) {
            return ShortValueName(values, value);
        }
    }
    return std::to_string(nValue);
}

std::string FormatReal(ViReal64 dValue) {
    if (!std::isfinite(dValue)) {
        return std::isnan(dValue) ? "nan" : (dValue > 0 ? "inf" : "-inf");
    }
    char szText[64];
    // The shortest of %.15g and %.17g that reads back as the same number.
    std::snprintf(szText, sizeof szText, "%.15g", dValue);
    if (std::strtod(szText, nullptr) != dValue) {
        std::snprintf(szText, sizeof szText, "%.17g", dValue);
    }
    return szText;
}

}  // namespace cli
