#include "ScpiParser.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace emu::scpi {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char Upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool IsAlpha(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Splits at a separator outside single- or double-quoted strings.
std::vector<std::string> SplitOutsideQuotes(std::string_view str, char cSeparator) {
    std::vector<std::string> vecPieces;
    std::string strCurrent;
    char cQuote = 0;
    for (char c : str) {
        if (cQuote != 0) {
            if (c == cQuote) {
                cQuote = 0;
            }
            strCurrent += c;
        } else if (c == '"' || c == '\'') {
            cQuote = c;
            strCurrent += c;
        } else if (c == cSeparator) {
            vecPieces.push_back(strCurrent);
            strCurrent.clear();
        } else {
            strCurrent += c;
        }
    }
    if (cQuote != 0) {
        throw ScpiError(-150, "unterminated string");
    }
    vecPieces.push_back(strCurrent);
    return vecPieces;
}

// Splits a mnemonic or word into its letters and its trailing digits.
void SplitSuffix(std::string_view strWord, std::string_view& strAlpha,
                 std::string_view& strDigits) {
    size_t nEnd = strWord.size();
    while (nEnd > 0 && IsDigit(strWord[nEnd - 1])) {
        --nEnd;
    }
    strAlpha = strWord.substr(0, nEnd);
    strDigits = strWord.substr(nEnd);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i])) {
            return false;
        }
    }
    return true;
}

std::string ShortForm(std::string_view strSpec) {
    std::string strShort;
    for (char c : strSpec) {
        if (std::isupper(static_cast<unsigned char>(c)) || IsDigit(c) || c == '*') {
            strShort += c;
        } else {
            break;
        }
    }
    return strShort;
}

bool MatchNode(const PatternNode& node, const std::string& strReceived, int& nSuffix) {
    std::string_view strAlpha;
    std::string_view strDigits;
    if (node.bSuffix) {
        SplitSuffix(strReceived, strAlpha, strDigits);
    } else {
        strAlpha = strReceived;
    }
    if (!EqualsNoCase(strAlpha, node.strShort) && !EqualsNoCase(strAlpha, node.strLong)) {
        return false;
    }
    nSuffix = -1;
    if (!strDigits.empty()) {
        if (strDigits.size() > 6) {
            throw ScpiError(-114);
        }
        nSuffix = std::atoi(std::string(strDigits).c_str());
    }
    return true;
}

bool MatchFrom(const HeaderPattern& pattern, size_t nNode, const std::vector<std::string>& vecNodes,
               size_t nToken, std::vector<int>& vecSuffixes) {
    if (nNode == pattern.size()) {
        return nToken == vecNodes.size();
    }
    const PatternNode& node = pattern[nNode];
    size_t nSuffixCount = vecSuffixes.size();
    if (nToken < vecNodes.size()) {
        int nSuffix = -1;
        if (MatchNode(node, vecNodes[nToken], nSuffix)) {
            if (node.bSuffix) {
                vecSuffixes.push_back(nSuffix);
            }
            if (MatchFrom(pattern, nNode + 1, vecNodes, nToken + 1, vecSuffixes)) {
                return true;
            }
            vecSuffixes.resize(nSuffixCount);
        }
    }
    if (node.bOptional) {
        if (node.bSuffix) {
            vecSuffixes.push_back(-1);
        }
        if (MatchFrom(pattern, nNode + 1, vecNodes, nToken, vecSuffixes)) {
            return true;
        }
        vecSuffixes.resize(nSuffixCount);
    }
    return false;
}

struct Multiplier {
    const char* pszPrefix;
    double dFactor;
};

// SCPI suffix multipliers; "M" is milli, "MA" mega (except before the ampere unit).
constexpr Multiplier kMultipliers[] = {{"", 1.0},   {"EX", 1e18}, {"PE", 1e15}, {"T", 1e12},
                                       {"G", 1e9},  {"MA", 1e6},  {"K", 1e3},   {"M", 1e-3},
                                       {"U", 1e-6}, {"N", 1e-9},  {"P", 1e-12}, {"F", 1e-15}};

std::vector<std::string_view> UnitNames(Unit unit) {
    switch (unit) {
        case Unit::Volt:
            return {"V"};
        case Unit::Ampere:
            return {"A"};
        case Unit::Second:
            return {"S"};
        case Unit::VoltPerSecond:
            return {"V/S", "V/MS", "V/US"};
        case Unit::AmperePerSecond:
            return {"A/S", "A/MS", "A/US"};
        case Unit::Watt:
            return {"W"};
        case Unit::None:
            break;
    }
    return {};
}

// Applies a suffix ("MV", "mA", "ms", "V/ms") to a value, or throws.
double ApplySuffix(double dValue, std::string_view strSuffix, Unit unit) {
    std::string strUpper = ToUpper(strSuffix);
    if (strUpper.empty()) {
        return dValue;
    }
    if (unit == Unit::None) {
        throw ScpiError(-138);
    }
    for (std::string_view strUnit : UnitNames(unit)) {
        if (strUpper.size() < strUnit.size() ||
            strUpper.compare(strUpper.size() - strUnit.size(), strUnit.size(), strUnit) != 0) {
            continue;
        }
        double dRate = 1.0;
        if (strUnit.ends_with("/MS")) {
            dRate = 1e3;
        } else if (strUnit.ends_with("/US")) {
            dRate = 1e6;
        }
        std::string strPrefix = strUpper.substr(0, strUpper.size() - strUnit.size());
        for (const Multiplier& multiplier : kMultipliers) {
            if (strPrefix == multiplier.pszPrefix) {
                return dValue * multiplier.dFactor * dRate;
            }
        }
    }
    // A bare multiplier without its unit ("500M") is also accepted.
    for (const Multiplier& multiplier : kMultipliers) {
        if (strUpper == multiplier.pszPrefix) {
            return dValue * multiplier.dFactor;
        }
    }
    throw ScpiError(-131);
}

// Parses a decimal numeric element at the start of str; returns the count of
// characters used, 0 when str does not start with a number.
size_t ParseDecimal(std::string_view str, double& dValue) {
    size_t n = 0;
    if (n < str.size() && (str[n] == '+' || str[n] == '-')) {
        ++n;
    }
    size_t nDigits = 0;
    while (n < str.size() && IsDigit(str[n])) {
        ++n;
        ++nDigits;
    }
    if (n < str.size() && str[n] == '.') {
        ++n;
        while (n < str.size() && IsDigit(str[n])) {
            ++n;
            ++nDigits;
        }
    }
    if (nDigits == 0) {
        return 0;
    }
    size_t nMantissaEnd = n;
    // An exponent needs digits after the E; otherwise the E belongs to a suffix.
    while (n < str.size() && IsBlank(str[n])) {
        ++n;
    }
    if (n < str.size() && (str[n] == 'e' || str[n] == 'E')) {
        size_t nExp = n + 1;
        while (nExp < str.size() && IsBlank(str[nExp])) {
            ++nExp;
        }
        if (nExp < str.size() && (str[nExp] == '+' || str[nExp] == '-')) {
            ++nExp;
        }
        if (nExp < str.size() && IsDigit(str[nExp])) {
            while (nExp < str.size() && IsDigit(str[nExp])) {
                ++nExp;
            }
            nMantissaEnd = nExp;
        }
    }
    std::string strNumber;
    for (size_t i = 0; i < nMantissaEnd; ++i) {
        if (!IsBlank(str[i])) {
            strNumber += str[i];
        }
    }
    dValue = std::strtod(strNumber.c_str(), nullptr);
    return nMantissaEnd;
}

enum class Keyword { None, Min, Max, Def, Inf };

Keyword KeywordOf(std::string_view str) {
    if (MatchMnemonic("MINimum", str)) {
        return Keyword::Min;
    }
    if (MatchMnemonic("MAXimum", str)) {
        return Keyword::Max;
    }
    if (MatchMnemonic("DEFault", str)) {
        return Keyword::Def;
    }
    if (MatchMnemonic("INFinity", str)) {
        return Keyword::Inf;
    }
    return Keyword::None;
}

}  // namespace

ScpiError::ScpiError(int nCode, const std::string& strDetail)
    : std::runtime_error(ErrorText(nCode)), m_nCode(nCode), m_strDetail(strDetail) {}

std::string ErrorText(int nCode) {
    static const std::map<int, const char*> mapTexts = {
        {0, "No error"},
        {-100, "Command error"},
        {-101, "Invalid character"},
        {-102, "Syntax error"},
        {-103, "Invalid separator"},
        {-104, "Data type error"},
        {-108, "Parameter not allowed"},
        {-109, "Missing parameter"},
        {-112, "Program mnemonic too long"},
        {-113, "Undefined header"},
        {-114, "Header suffix out of range"},
        {-120, "Numeric data error"},
        {-121, "Invalid character in number"},
        {-131, "Invalid suffix"},
        {-138, "Suffix not allowed"},
        {-141, "Invalid character data"},
        {-150, "String data error"},
        {-200, "Execution error"},
        {-221, "Settings conflict"},
        {-222, "Data out of range"},
        {-224, "Illegal parameter value"},
        {-300, "Device-specific error"},
        {-310, "System error"},
        {-350, "Queue overflow"},
        {-363, "Input buffer overrun"},
        {-400, "Query error"},
        {-410, "Query INTERRUPTED"},
        {-420, "Query UNTERMINATED"},
        {-430, "Query DEADLOCKED"},
    };
    auto it = mapTexts.find(nCode);
    if (it != mapTexts.end()) {
        return it->second;
    }
    if (nCode <= -100 && nCode > -200) {
        return "Command error";
    }
    if (nCode <= -200 && nCode > -300) {
        return "Execution error";
    }
    if (nCode <= -400 && nCode > -500) {
        return "Query error";
    }
    return "Device-specific error";
}

int EsrBitForError(int nCode) {
    if (nCode <= -100 && nCode > -200) {
        return 32;
    }
    if (nCode <= -200 && nCode > -300) {
        return 16;
    }
    if (nCode <= -400 && nCode > -500) {
        return 4;
    }
    return 8;
}

std::string Trim(std::string_view str) {
    size_t nBegin = 0;
    size_t nEnd = str.size();
    while (nBegin < nEnd && IsBlank(str[nBegin])) {
        ++nBegin;
    }
    while (nEnd > nBegin && IsBlank(str[nEnd - 1])) {
        --nEnd;
    }
    return std::string(str.substr(nBegin, nEnd - nBegin));
}

std::string ToUpper(std::string_view str) {
    std::string strResult(str);
    for (char& c : strResult) {
        c = Upper(c);
    }
    return strResult;
}

std::vector<std::string> SplitUnits(std::string_view strLine) {
    return SplitOutsideQuotes(strLine, ';');
}

std::vector<std::string> SplitParameters(std::string_view strText) {
    std::string strTrimmed = Trim(strText);
    std::vector<std::string> vecParameters;
    if (strTrimmed.empty()) {
        return vecParameters;
    }
    for (const std::string& strPiece : SplitOutsideQuotes(strTrimmed, ',')) {
        std::string strParameter = Trim(strPiece);
        if (strParameter.empty()) {
            throw ScpiError(-102, "empty parameter");
        }
        vecParameters.push_back(strParameter);
    }
    return vecParameters;
}

bool ParseUnit(std::string_view strUnit, ProgramUnit& unit) {
    std::string strText = Trim(strUnit);
    if (strText.empty()) {
        return false;
    }
    size_t nHeaderEnd = 0;
    while (nHeaderEnd < strText.size() && !IsBlank(strText[nHeaderEnd])) {
        ++nHeaderEnd;
    }
    unit = ProgramUnit{};
    unit.strHeaderText = strText.substr(0, nHeaderEnd);
    unit.strParameters = Trim(std::string_view(strText).substr(nHeaderEnd));
    std::string_view strHeader = unit.strHeaderText;
    if (!strHeader.empty() && strHeader.back() == '?') {
        unit.bQuery = true;
        strHeader.remove_suffix(1);
    }
    if (!strHeader.empty() && strHeader.front() == '*') {
        unit.bCommon = true;
        unit.bAbsolute = true;
        std::string_view strName = strHeader.substr(1);
        if (strName.empty()) {
            throw ScpiError(-102, "empty common header");
        }
        for (char c : strName) {
            if (!IsAlpha(c)) {
                throw ScpiError(-101);
            }
        }
        unit.vecNodes.push_back(ToUpper(strHeader));  // the name with its "*"
        return true;
    }
    if (!strHeader.empty() && strHeader.front() == ':') {
        unit.bAbsolute = true;
        strHeader.remove_prefix(1);
    }
    if (strHeader.empty()) {
        throw ScpiError(-102, "empty header");
    }
    size_t nStart = 0;
    while (nStart <= strHeader.size()) {
        size_t nColon = strHeader.find(':', nStart);
        std::string_view strNode = strHeader.substr(
            nStart, nColon == std::string_view::npos ? std::string_view::npos : nColon - nStart);
        if (strNode.empty()) {
            throw ScpiError(-102, "empty header node");
        }
        if (!IsAlpha(strNode.front())) {
            throw ScpiError(-101);
        }
        for (char c : strNode) {
            if (!IsAlpha(c) && !IsDigit(c) && c != '_') {
                throw ScpiError(-101);
            }
        }
        if (strNode.size() > 12) {
            throw ScpiError(-112);
        }
        unit.vecNodes.emplace_back(strNode);
        if (nColon == std::string_view::npos) {
            break;
        }
        nStart = nColon + 1;
    }
    return true;
}

HeaderPattern CompilePattern(std::string_view strPattern) {
    HeaderPattern pattern;
    size_t nStart = 0;
    while (nStart <= strPattern.size()) {
        size_t nColon = strPattern.find(':', nStart);
        std::string_view strNode = strPattern.substr(
            nStart, nColon == std::string_view::npos ? std::string_view::npos : nColon - nStart);
        PatternNode node;
        if (strNode.size() >= 2 && strNode.front() == '[' && strNode.back() == ']') {
            node.bOptional = true;
            strNode = strNode.substr(1, strNode.size() - 2);
        }
        if (!strNode.empty() && strNode.back() == '#') {
            node.bSuffix = true;
            strNode.remove_suffix(1);
        }
        node.strShort = ToUpper(ShortForm(strNode));
        node.strLong = ToUpper(strNode);
        pattern.push_back(node);
        if (nColon == std::string_view::npos) {
            break;
        }
        nStart = nColon + 1;
    }
    return pattern;
}

bool MatchHeader(const HeaderPattern& pattern, const std::vector<std::string>& vecNodes,
                 std::vector<int>& vecSuffixes) {
    vecSuffixes.clear();
    return MatchFrom(pattern, 0, vecNodes, 0, vecSuffixes);
}

bool MatchMnemonic(std::string_view strSpec, std::string_view strWord) {
    std::string_view strSpecAlpha;
    std::string_view strSpecDigits;
    std::string_view strWordAlpha;
    std::string_view strWordDigits;
    SplitSuffix(strSpec, strSpecAlpha, strSpecDigits);
    SplitSuffix(strWord, strWordAlpha, strWordDigits);
    if (strSpecDigits != strWordDigits) {
        return false;
    }
    return EqualsNoCase(strWordAlpha, ShortForm(strSpecAlpha)) ||
           EqualsNoCase(strWordAlpha, strSpecAlpha);
}

double ParseReal(std::string_view strText, Unit unit, double dMin, double dMax, double dDefault) {
    std::string str = Trim(strText);
    switch (KeywordOf(str)) {
        case Keyword::Min:
            return dMin;
        case Keyword::Max:
            return dMax;
        case Keyword::Def:
            return dDefault;
        case Keyword::Inf:
            throw ScpiError(-222);
        case Keyword::None:
            break;
    }
    double dValue = 0.0;
    size_t nUsed = ParseDecimal(str, dValue);
    if (nUsed == 0) {
        if (!str.empty() && (IsAlpha(str.front()) || str.front() == '"' || str.front() == '\'')) {
            throw ScpiError(-104);
        }
        throw ScpiError(-121);
    }
    std::string strSuffix = Trim(std::string_view(str).substr(nUsed));
    for (char c : strSuffix) {
        if (!IsAlpha(c) && c != '/') {
            throw ScpiError(-121);
        }
    }
    dValue = ApplySuffix(dValue, strSuffix, unit);
    if (!std::isfinite(dValue)) {
        throw ScpiError(-120);
    }
    // Values are compared with a little slack so that a limit written back
    // from its own printed form is not refused.
    double dSlack = 1e-9 * std::max(1.0, std::fabs(dMax));
    if (dValue < dMin - dSlack || dValue > dMax + dSlack) {
        throw ScpiError(-222);
    }
    return std::min(std::max(dValue, dMin), dMax);
}

long ParseInteger(std::string_view strText, long nMin, long nMax, long nDefault) {
    std::string str = Trim(strText);
    switch (KeywordOf(str)) {
        case Keyword::Min:
            return nMin;
        case Keyword::Max:
            return nMax;
        case Keyword::Def:
            return nDefault;
        case Keyword::Inf:
            throw ScpiError(-222);
        case Keyword::None:
            break;
    }
    double dValue = 0.0;
    if (str.size() >= 3 && str[0] == '#') {
        int nBase = 0;
        switch (Upper(str[1])) {
            case 'H':
                nBase = 16;
                break;
            case 'Q':
                nBase = 8;
                break;
            case 'B':
                nBase = 2;
                break;
            default:
                throw ScpiError(-121);
        }
        char* pEnd = nullptr;
        std::string strDigits = str.substr(2);
        long long nValue = std::strtoll(strDigits.c_str(), &pEnd, nBase);
        if (pEnd == nullptr || *pEnd != '\0' || strDigits.size() > 16) {
            throw ScpiError(-121);
        }
        dValue = static_cast<double>(nValue);
    } else {
        size_t nUsed = ParseDecimal(str, dValue);
        if (nUsed == 0) {
            if (!str.empty() && (IsAlpha(str.front()) || str.front() == '"')) {
                throw ScpiError(-104);
            }
            throw ScpiError(-121);
        }
        if (!Trim(std::string_view(str).substr(nUsed)).empty()) {
            throw ScpiError(-138);
        }
    }
    dValue = std::round(dValue);
    if (!std::isfinite(dValue) || dValue < static_cast<double>(nMin) ||
        dValue > static_cast<double>(nMax)) {
        throw ScpiError(-222);
    }
    return static_cast<long>(dValue);
}

bool ParseBoolean(std::string_view strText) {
    std::string str = Trim(strText);
    if (EqualsNoCase(str, "ON")) {
        return true;
    }
    if (EqualsNoCase(str, "OFF")) {
        return false;
    }
    double dValue = 0.0;
    size_t nUsed = ParseDecimal(str, dValue);
    if (nUsed == 0) {
        throw ScpiError(IsAlpha(str.empty() ? ' ' : str.front()) ? -141 : -104);
    }
    if (!Trim(std::string_view(str).substr(nUsed)).empty()) {
        throw ScpiError(-138);
    }
    return std::round(dValue) != 0.0;
}

size_t ParseChoice(std::string_view strText, const std::vector<std::string_view>& vecChoices) {
    std::string str = Trim(strText);
    if (str.empty() || str.front() == '"' || str.front() == '\'') {
        throw ScpiError(-104);
    }
    for (size_t i = 0; i < vecChoices.size(); ++i) {
        if (MatchMnemonic(vecChoices[i], str)) {
            return i;
        }
    }
    throw ScpiError(-141);
}

std::string ParseText(std::string_view strText) {
    std::string str = Trim(strText);
    if (str.size() >= 2 && (str.front() == '"' || str.front() == '\'') &&
        str.back() == str.front()) {
        char cQuote = str.front();
        std::string strResult;
        for (size_t i = 1; i + 1 < str.size(); ++i) {
            strResult += str[i];
            if (str[i] == cQuote && i + 2 < str.size() && str[i + 1] == cQuote) {
                ++i;
            }
        }
        return strResult;
    }
    return str;
}

std::string FormatReal(double dValue) {
    if (dValue == 0.0) {
        dValue = 0.0;  // no "-0"
    }
    char szBuffer[64];
    std::snprintf(szBuffer, sizeof szBuffer, "%+.6E", dValue);
    return szBuffer;
}

}  // namespace emu::scpi
