#include "runtime/io/CommandText.h"

#include <cstdio>

#include "ivi.h"
#include "runtime/errors/StatusMessages.h"

namespace drt {

namespace {

constexpr std::size_t kShownCharacters = 64;

std::string Hex(unsigned char ch) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", ch);
    return text;
}

// What a character is called in a refusal, and why it is refused regardless of
// the attribute: null for a character only the grammar may refuse.
struct Refused {
    std::string strName;
    const char* pReason = nullptr;
};

Refused Classify(unsigned char ch) {
    switch (ch) {
        case ';':
            return {"';'", "which would end the command"};
        case '\n':
            return {"a line feed", "which would end the command"};
        case '\r':
            return {"a carriage return", "which would end the command"};
        default:
            break;
    }
    if (ch < 0x20 || ch == 0x7F) {
        return {"a control character", "which a command cannot carry"};
    }
    if (ch >= 0x80) {
        return {"a byte outside ASCII", "which a command cannot carry"};
    }
    return {std::string("'") + static_cast<char>(ch) + "'", nullptr};
}

}  // namespace

std::optional<std::string> CommandTextRefusal(std::string_view strValue,
                                              const TextGrammar* pGrammar,
                                              std::string_view strAttribute) {
    const std::string strTakes =
        pGrammar != nullptr ? std::string(strAttribute) + " takes " + pGrammar->pDescription + "."
                            : std::string("a text sent to the instrument cannot hold it.");
    // Characters that would end or corrupt the command come first: they are
    // what the refusal is most about.
    for (const char chValue : strValue) {
        const auto ch = static_cast<unsigned char>(chValue);
        const Refused refused = Classify(ch);
        if (refused.pReason != nullptr) {
            return "Value contains " + refused.strName + " (" + Hex(ch) + "), " + refused.pReason +
                   "; " + strTakes;
        }
    }
    if (pGrammar == nullptr) {
        return std::nullopt;
    }
    for (const char chValue : strValue) {
        if (pGrammar->strCharacters.find(chValue) == std::string_view::npos) {
            const auto ch = static_cast<unsigned char>(chValue);
            return "Value contains " + Classify(ch).strName + " (" + Hex(ch) + "), which " +
                   std::string(strAttribute) + " cannot hold; it takes " + pGrammar->pDescription +
                   ".";
        }
    }
    return std::nullopt;
}

std::string PrintableValue(std::string_view strValue) {
    std::string strShown;
    for (const char chValue : strValue.substr(0, kShownCharacters)) {
        const auto ch = static_cast<unsigned char>(chValue);
        switch (ch) {
            case '\n':
                strShown += "\\n";
                break;
            case '\r':
                strShown += "\\r";
                break;
            case '\t':
                strShown += "\\t";
                break;
            default:
                if (ch < 0x20 || ch >= 0x7F) {
                    strShown += "\\x" + Hex(ch).substr(2);
                } else {
                    strShown.push_back(chValue);
                }
        }
    }
    if (strValue.size() > kShownCharacters) {
        strShown += "...";
    }
    return strShown;
}

ViStatus CheckCommandText(ViSession vi, std::string_view strValue, const TextGrammar* pGrammar,
                          std::string_view strAttribute, std::string_view strFunction,
                          std::string_view strParameter) {
    const std::optional<std::string> strRefusal =
        CommandTextRefusal(strValue, pGrammar, strAttribute);
    if (!strRefusal) {
        return VI_SUCCESS;
    }
    return SetSessionError(vi, IVI_ERROR_INVALID_VALUE, "%s",
                           {PrintableValue(strValue), strFunction, strParameter, *strRefusal});
}

}  // namespace drt
