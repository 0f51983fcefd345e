#include "runtime/text/TextUtils.h"

#include <cctype>

namespace drt {

std::string TrimString(std::string_view strText, std::string_view strSet) {
    const auto nFirst = strText.find_first_not_of(strSet);
    if (nFirst == std::string_view::npos) {
        return {};
    }
    const auto nLast = strText.find_last_not_of(strSet);
    return std::string(strText.substr(nFirst, nLast - nFirst + 1));
}

std::vector<std::string> SplitString(std::string_view strText, char chSeparator, bool bTrim) {
    std::vector<std::string> vecPieces;
    std::size_t nStart = 0;
    while (nStart < strText.size()) {
        auto nEnd = strText.find(chSeparator, nStart);
        if (nEnd == std::string_view::npos) {
            nEnd = strText.size();
        }
        std::string_view piece = strText.substr(nStart, nEnd - nStart);
        vecPieces.push_back(bTrim ? TrimString(piece) : std::string(piece));
        nStart = nEnd + 1;
    }
    return vecPieces;
}

std::string ToUpper(std::string_view strText) {
    std::string strUpper(strText);
    for (char& ch : strUpper) {
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    return strUpper;
}

bool EqualsNoCase(std::string_view strA, std::string_view strB) {
    if (strA.size() != strB.size()) {
        return false;
    }
    for (std::size_t i = 0; i < strA.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(strA[i])) !=
            std::toupper(static_cast<unsigned char>(strB[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace drt
