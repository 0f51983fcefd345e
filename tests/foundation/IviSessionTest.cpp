#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "IviSession.h"

namespace {

class IviHandle : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(IviSession_New(&m_vi), VI_SUCCESS); }
    void TearDown() override { IviSession_Dispose(m_vi); }
    ViSession m_vi = VI_NULL;
};

TEST_F(IviHandle, GetErrorFollowsTheStringConvention) {
    ASSERT_EQ(IviSession_SetError(m_vi, -5, "abcdef"), VI_SUCCESS);
    ViStatus nCode = 0;
    struct Case {
        ViInt32 nSize;
        ViStatus nExpected;
        const char* pText;
    } cases[] = {
        {0, 7, nullptr},
        {1, 7, ""},
        {4, 7, "abc"},
        {6, 7, "abcde"},
        {7, VI_SUCCESS, "abcdef"},
        {100, VI_SUCCESS, "abcdef"},
        {-3, 7, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nSize);
        char buffer[128] = "zzzz";
        EXPECT_EQ(IviSession_GetError(m_vi, c.nSize, &nCode, buffer), c.nExpected);
        EXPECT_EQ(nCode, -5);
        EXPECT_STREQ(buffer, c.pText != nullptr ? c.pText : "zzzz");
    }
    EXPECT_EQ(IviSession_GetError(m_vi, 0, nullptr, nullptr), 7) << "null outputs are allowed";
}

TEST_F(IviHandle, ClearErrorForgetsStatusAndText) {
    IviSession_SetError(m_vi, -5, "abc");
    EXPECT_EQ(IviSession_ClearError(m_vi), VI_SUCCESS);
    ViStatus nCode = -1;
    char buffer[16];
    EXPECT_EQ(IviSession_GetError(m_vi, sizeof buffer, &nCode, buffer), VI_SUCCESS);
    EXPECT_EQ(nCode, VI_SUCCESS);
    EXPECT_STREQ(buffer, "");
}

TEST_F(IviHandle, NullHandleRecordIsKeptPerThread) {
    IviSession_SetError(VI_NULL, -7, "main thread");
    std::thread other([] {
        ViStatus nCode = -1;
        char buffer[32];
        IviSession_GetError(VI_NULL, sizeof buffer, &nCode, buffer);
        EXPECT_EQ(nCode, VI_SUCCESS);
        IviSession_SetError(VI_NULL, -9, "other thread");
    });
    other.join();
    ViStatus nCode = 0;
    char buffer[32];
    IviSession_GetError(VI_NULL, sizeof buffer, &nCode, buffer);
    EXPECT_EQ(nCode, -7);
    EXPECT_STREQ(buffer, "main thread");
}

TEST_F(IviHandle, DisposedHandleIsInvalidEverywhere) {
    ViSession vi = VI_NULL;
    ASSERT_EQ(IviSession_New(&vi), VI_SUCCESS);
    int nData = 0;
    ASSERT_EQ(IviSession_SetDataPtr(vi, &nData), VI_SUCCESS);
    ASSERT_EQ(IviSession_Dispose(vi), VI_SUCCESS);
    void* pData = &nData;
    EXPECT_EQ(IviSession_GetDataPtr(vi, &pData), IVI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_EQ(pData, nullptr);
    EXPECT_EQ(IviSession_Lock(vi, nullptr), IVI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_EQ(IviSession_Unlock(vi, nullptr), IVI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_EQ(IviSession_SetError(vi, -1, "x"), IVI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_EQ(IviSession_Dispose(vi), IVI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_EQ(IviSession_New(nullptr), IVI_ERROR_NULL_POINTER);
}

TEST_F(IviHandle, UnlockByANonOwnerFails) {
    ASSERT_EQ(IviSession_Lock(m_vi, nullptr), VI_SUCCESS);
    std::thread other([&] { EXPECT_LT(IviSession_Unlock(m_vi, nullptr), 0); });
    other.join();
    EXPECT_EQ(IviSession_Unlock(m_vi, nullptr), VI_SUCCESS);
    EXPECT_LT(IviSession_Unlock(m_vi, nullptr), 0) << "nothing left to unlock";
}

}  // namespace
