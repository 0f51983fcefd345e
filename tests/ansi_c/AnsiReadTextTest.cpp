// How the layer reads a text of the IVI-C driver: a positive status up to a
// sane size is the size the text needs, anything above is a warning that
// comes back with the text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tk6x1x_layer.h"

namespace {

struct ReadCase {
    const char* pCase;
    std::vector<ViStatus> vecStatuses;  // what each call of the reader returns
    ViStatus nExpected;
    std::size_t nCalls;
};

TEST(AnsiReadText, TellsASizeFromAWarning) {
    const ReadCase kCases[] = {
        {"fits at once", {VI_SUCCESS}, VI_SUCCESS, 1},
        {"needs 600 bytes, then fits", {600, VI_SUCCESS}, VI_SUCCESS, 2},
        {"a warning is no size", {0x3FFF0005}, 0x3FFF0005, 1},
        {"a failure", {IVI_ERROR_INVALID_VALUE}, IVI_ERROR_INVALID_VALUE, 1},
        {"a size beyond any text is a warning",
         {tk6x1x::kMaxTextSize + 1},
         tk6x1x::kMaxTextSize + 1,
         1},
        {"a size that keeps growing", {300, 400, 500, 600}, IVI_ERROR_CANNOT_RECOVER, 4},
    };
    for (const ReadCase& row : kCases) {
        SCOPED_TRACE(row.pCase);
        std::size_t nCall = 0;
        std::size_t nLargestBuffer = 0;
        std::string strText;
        const ViStatus status = tk6x1x::ReadText(
            [&](ViInt32 nSize, ViChar* pBuffer) {
                nLargestBuffer = std::max<std::size_t>(nLargestBuffer, nSize);
                pBuffer[0] = 'x';
                pBuffer[1] = '\0';
                return row.vecStatuses.at(nCall++);
            },
            strText);
        EXPECT_EQ(status, row.nExpected);
        EXPECT_EQ(nCall, row.nCalls);
        EXPECT_LE(nLargestBuffer, 1000u);
        if (status >= 0) {
            EXPECT_EQ(strText, "x");
        }
    }
}

}  // namespace
