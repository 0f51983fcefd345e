#include "tools/cli/CommandLine.h"

#include "tools/cli/Session.h"

namespace cli {
namespace {

constexpr int kMaxOutputs = 3;

// "CH2" -> 2; 0 for anything that is not a physical output name.
int PhysicalNumber(std::string_view strName) {
    const std::string strUpper = ToUpperAscii(Trim(strName));
    if (strUpper.size() == 3 && strUpper.starts_with("CH") && strUpper[2] >= '1' &&
        strUpper[2] <= '9') {
        return strUpper[2] - '0';
    }
    return 0;
}

// Whether the option string or the logical name's session in the store names
// a one-output model (DriverSetup=Model:65xx): the ways the tool knows the
// model before it connects.
bool OneOutputModelNamed(const Invocation& inv) {
    auto namesOneOutput = [](const std::string& strText) {
        const std::string strUpper = ToUpperAscii(strText);
        const size_t nAt = strUpper.find("MODEL:");
        return nAt != std::string::npos && strUpper.compare(nAt + 6, 2, "65") == 0;
    };
    return namesOneOutput(inv.DriverOptions()) ||
           (!inv.vecArgs.empty() && namesOneOutput(LogicalNameDriverSetup(inv.vecArgs[0])));
}

}  // namespace

std::string Trim(std::string_view strText) {
    const auto nFirst = strText.find_first_not_of(" \t\r\n");
    if (nFirst == std::string_view::npos) {
        return {};
    }
    const auto nLast = strText.find_last_not_of(" \t\r\n");
    return std::string(strText.substr(nFirst, nLast - nFirst + 1));
}

std::vector<std::string> Split(std::string_view strText, char cSeparator) {
    std::vector<std::string> vecParts;
    size_t nStart = 0;
    while (true) {
        const size_t nEnd = strText.find(cSeparator, nStart);
        vecParts.push_back(Trim(strText.substr(nStart, nEnd - nStart)));
        if (nEnd == std::string_view::npos) {
            return vecParts;
        }
        nStart = nEnd + 1;
    }
}

double RequireReal(const Invocation& inv, const std::string& strOption) {
    const auto dValue = ParseReal(inv.Value(strOption));
    if (!dValue) {
        throw UsageError("--" + strOption + " needs a number, not '" + inv.Value(strOption) + "'");
    }
    return *dValue;
}

long RequireCount(const Invocation& inv, const std::string& strOption, long nDefault) {
    if (!inv.Has(strOption)) {
        return nDefault;
    }
    const auto nValue = ParseInt32(inv.Value(strOption), {});
    if (!nValue || *nValue < 0) {
        throw UsageError("--" + strOption + " needs a whole number of 0 or more, not '" +
                         inv.Value(strOption) + "'");
    }
    return *nValue;
}

const AttributeInfo& RequireAttribute(const std::string& strName) {
    if (const AttributeInfo* pInfo = FindAttribute(strName)) {
        return *pInfo;
    }
    std::string strMessage = "unknown attribute '" + strName + "'";
    const auto vecSimilar = SimilarAttributes(strName);
    if (!vecSimilar.empty()) {
        strMessage += "; did you mean";
        for (size_t n = 0; n < vecSimilar.size() && n < 5; ++n) {
            strMessage += (n == 0 ? " " : ", ") + vecSimilar[n];
        }
        strMessage += "?";
    } else {
        strMessage += " (tarvek attributes lists them all)";
    }
    throw UsageError(strMessage);
}

AttributeValue ParseValue(const AttributeInfo& info, const std::string& strText) {
    AttributeValue value;
    switch (info.eKind) {
        case ValueKind::Boolean: {
            const auto bValue = ParseBoolean(strText);
            if (!bValue) {
                throw UsageError(std::string(info.pName) +
                                 " takes on, off, true, false, 1 or 0, not '" + strText + "'");
            }
            value.bValue = *bValue;
            break;
        }
        case ValueKind::Int32: {
            const auto nValue = ParseInt32(strText, info.values);
            if (!nValue) {
                std::string strMessage = std::string(info.pName) + " takes a whole number" +
                                         (info.values.empty() ? "" : " or one of") + ", not '" +
                                         strText + "'";
                if (!info.values.empty()) {
                    strMessage = std::string(info.pName) + " takes one of";
                    for (const EnumValue& enumValue : info.values) {
                        // Appended in place: GCC 12 at -O3 warns of overlapping
                        // copies in " " + temporary.
                        strMessage += ' ';
                        strMessage += ShortValueName(info.values, enumValue);
                    }
                    strMessage += ", not '" + strText + "'";
                }
                throw UsageError(strMessage);
            }
            value.nValue = *nValue;
            break;
        }
        case ValueKind::Real64: {
            const auto dValue = ParseReal(strText);
            if (!dValue) {
                throw UsageError(std::string(info.pName) + " takes a number, not '" + strText +
                                 "'");
            }
            value.dValue = *dValue;
            break;
        }
        case ValueKind::String:
            value.strValue = strText;
            break;
        case ValueKind::Session:
            throw UsageError(std::string(info.pName) + " cannot be set");
    }
    return value;
}

std::vector<std::string> ParseChannels(const std::string& strSelector) {
    std::vector<std::string> vecNames;
    for (const std::string& strItem : Split(strSelector, ',')) {
        if (strItem.empty()) {
            throw UsageError("--channel has an empty name in '" + strSelector + "'");
        }
        const size_t nDash = strItem.find_first_of("-:");
        const int nFirst =
            nDash == std::string::npos ? 0 : PhysicalNumber(strItem.substr(0, nDash));
        const int nLast = nDash == std::string::npos
                              ? 0
                              : PhysicalNumber(std::string_view(strItem).substr(nDash + 1));
        if (nFirst == 0 || nLast == 0) {
            vecNames.push_back(strItem);  // a single name, physical or virtual
            continue;
        }
        if (nFirst > nLast || nLast > kMaxOutputs) {
            throw UsageError("--channel range '" + strItem +
                             "' must run upwards within CH1 to CH3, as CH1-CH3");
        }
        for (int n = nFirst; n <= nLast; ++n) {
            vecNames.push_back("CH" + std::to_string(n));
        }
    }
    return vecNames;
}

std::vector<std::string> AttributeChannels(const AttributeInfo& info, const Invocation& inv) {
    if (inv.Has("channel")) {
        return ParseChannels(inv.Value("channel"));
    }
    if (!info.bPerChannel) {
        return {""};
    }
    if (OneOutputModelNamed(inv)) {
        return {"CH1"};
    }
    throw UsageError(std::string(info.pName) +
                     " is set per output: give --channel CH1, CH2 or CH3 (CH1 alone on a "
                     "one-output 651x), a range such as CH1-CH3, or a virtual name; the model "
                     "is not known before connecting unless DriverSetup names it");
}

void CheckChannelSyntax(const Invocation& inv) {
    if (inv.Has("channel")) {
        ParseChannels(inv.Value("channel"));
    }
}

}  // namespace cli
