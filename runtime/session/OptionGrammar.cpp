#include "runtime/session/OptionGrammar.h"

#include <cctype>

namespace drt {

namespace {

bool IsSpace(char ch) {
    return std::isspace(static_cast<unsigned char>(ch)) != 0;
}
bool IsWord(char ch) {
    return std::isalnum(static_cast<unsigned char>(ch)) != 0 || ch == '_';
}
bool IsKeyChar(char ch) {
    return IsWord(ch) || ch == '+';
}
bool IsLineTerminator(char ch) {
    return ch == '\n' || ch == '\r';
}

std::size_t SkipSpaces(std::string_view strText, std::size_t nPos) {
    while (nPos < strText.size() && IsSpace(strText[nPos])) {
        ++nPos;
    }
    return nPos;
}

template <class Pred>
std::size_t SkipWhile(std::string_view strText, std::size_t nPos, Pred pred) {
    while (nPos < strText.size() && pred(strText[nPos])) {
        ++nPos;
    }
    return nPos;
}

}  // namespace

std::optional<DriverSetupMatch> FindDriverSetup(std::string_view strText) {
    static constexpr std::string_view kKeyword = "driversetup";
    for (std::size_t nAt = 0; nAt + kKeyword.size() <= strText.size(); ++nAt) {
        bool bKeyword = true;
        for (std::size_t i = 0; i < kKeyword.size() && bKeyword; ++i) {
            bKeyword = std::tolower(static_cast<unsigned char>(strText[nAt + i])) == kKeyword[i];
        }
        if (!bKeyword) {
            continue;
        }
        const std::size_t nEquals = SkipSpaces(strText, nAt + kKeyword.size());
        if (nEquals >= strText.size() || strText[nEquals] != '=') {
            continue;
        }
        // The leftmost match starts at the first blank of the run before the
        // keyword.
        std::size_t nStart = nAt;
        while (nStart > 0 && IsSpace(strText[nStart - 1])) {
            --nStart;
        }
        const std::size_t nEnd =
            SkipWhile(strText, nEquals + 1, [](char ch) { return !IsLineTerminator(ch); });
        return DriverSetupMatch{nStart,
                                std::string(strText.substr(nEquals + 1, nEnd - nEquals - 1))};
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> FindInherentOptions(std::string_view strText) {
    std::vector<std::pair<std::string, std::string>> vecMatches;
    std::size_t nPos = 0;
    while (nPos < strText.size()) {
        const std::size_t nNameStart = SkipSpaces(strText, nPos);
        const std::size_t nNameEnd = SkipWhile(strText, nNameStart, IsWord);
        if (nNameEnd == nNameStart) {
            // No word here: no match can start anywhere in this blank run.
            nPos = nNameStart + 1;
            continue;
        }
        std::size_t nCursor = SkipSpaces(strText, nNameEnd);
        if (nCursor < strText.size() && strText[nCursor] == '=') {
            const std::size_t nValueStart = SkipSpaces(strText, nCursor + 1);
            const std::size_t nValueEnd = SkipWhile(strText, nValueStart, IsWord);
            if (nValueEnd > nValueStart) {
                nCursor = SkipSpaces(strText, nValueEnd);
                if (nCursor < strText.size() && strText[nCursor] == ',') {
                    ++nCursor;
                }
                vecMatches.emplace_back(
                    std::string(strText.substr(nNameStart, nNameEnd - nNameStart)),
                    std::string(strText.substr(nValueStart, nValueEnd - nValueStart)));
                nPos = nCursor;
                continue;
            }
        }
        // Every start inside this word meets the same failure after it.
        nPos = nNameEnd;
    }
    return vecMatches;
}

std::vector<std::pair<std::string, std::string>> FindDriverSetupPairs(std::string_view strText) {
    std::vector<std::pair<std::string, std::string>> vecMatches;
    std::size_t nPos = 0;
    while (nPos < strText.size()) {
        const std::size_t nKeyStart =
            SkipWhile(strText, nPos, [](char ch) { return !IsKeyChar(ch); });
        if (nKeyStart >= strText.size()) {
            break;
        }
        const std::size_t nKeyEnd = SkipWhile(strText, nKeyStart, IsKeyChar);
        const std::size_t nSeparator = SkipSpaces(strText, nKeyEnd);
        if (nSeparator < strText.size() &&
            (strText[nSeparator] == '=' || strText[nSeparator] == ':')) {
            const std::size_t nBlanksStart = nSeparator + 1;
            const std::size_t nBlanksEnd = SkipSpaces(strText, nBlanksStart);
            const std::size_t nValueEnd =
                SkipWhile(strText, nBlanksEnd, [](char ch) { return ch != ','; });
            std::size_t nValueStart = nBlanksEnd;
            if (nValueEnd == nBlanksEnd && nBlanksEnd > nBlanksStart) {
                // Only blanks before the comma or the end: the greedy blank
                // run gives its last blank back to the value.
                nValueStart = nBlanksEnd - 1;
            }
            if (nValueEnd > nValueStart) {
                vecMatches.emplace_back(
                    std::string(strText.substr(nKeyStart, nKeyEnd - nKeyStart)),
                    std::string(strText.substr(nValueStart, nValueEnd - nValueStart)));
                nPos = nValueEnd;
                continue;
            }
        }
        nPos = nKeyEnd;
    }
    return vecMatches;
}

}  // namespace drt
