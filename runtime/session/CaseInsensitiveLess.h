// Ordering of every name-keyed map of a session: characters compared one by
// one after upper-casing (as signed bytes); a proper prefix orders first.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace drt {

struct CaseInsensitiveLess {
    using is_transparent = void;

    bool operator()(std::string_view strLeft, std::string_view strRight) const {
        const std::size_t nCount =
            strLeft.size() < strRight.size() ? strLeft.size() : strRight.size();
        for (std::size_t i = 0; i < nCount; ++i) {
            const auto chLeft =
                static_cast<signed char>(std::toupper(static_cast<unsigned char>(strLeft[i])));
            const auto chRight =
                static_cast<signed char>(std::toupper(static_cast<unsigned char>(strRight[i])));
            if (chLeft != chRight) {
                return chLeft < chRight;
            }
        }
        return strLeft.size() < strRight.size();
    }
};

}  // namespace drt
