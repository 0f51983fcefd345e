// Value caches: simulation as the instrument's memory, the real-number
// tolerance, fixed simulated values and invalidation.
#include <cmath>

#include "AttributeTestSupport.h"
#include "runtime/attributes/CacheManager.h"

namespace attrtest {
namespace {

TEST(Cache, RealToleranceBoundaries) {
    struct Case {
        double dCached;
        double dValue;
        bool bEqual;
    };
    const Case cases[] = {
        {5.0, 5.0, true},          {5.0 + 1e-13, 5.0, true},  // tolerance 2.5e-13
        {5.0 + 3e-13, 5.0, false}, {1e-20, 0.0, true},        // floor 1e-19
        {1e-18, 0.0, false},       {-1e-20, 1e-20, true},    {0.0, 0.0, true},
        {NAN, NAN, false},         {1e300, -1e300, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.dCached << " vs " << c.dValue);
        EXPECT_EQ(drt::CachedValueEquals(c.dCached, c.dValue), c.bEqual);
    }
    EXPECT_FALSE(drt::CachedValueEquals(ViBoolean{2}, ViBoolean{1}));
}

TEST(Cache, SimulationReadsBackWrittenValuesEvenWithCacheOff) {
    Session session("Simulate=1,Cache=0");
    const ViSession vi = session.Vi();
    ViReal64 dValue = -1;
    EXPECT_EQ(Get(vi, "", kTestReal, &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 0.25);  // the simulated default
    EXPECT_EQ(Set(vi, "", kTestReal, 1.5), VI_SUCCESS);
    EXPECT_EQ(Get(vi, "", kTestReal, &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 1.5);

    // Per channel: each channel keeps its own value.
    EXPECT_EQ(Set(vi, "CH1,CH3", kTestRealChannel, 5.0), VI_SUCCESS);
    for (const char* pChannel : {"CH1", "CH2", "CH3"}) {
        SCOPED_TRACE(pChannel);
        EXPECT_EQ(Get(vi, pChannel, kTestRealChannel, &dValue), VI_SUCCESS);
        EXPECT_EQ(dValue, std::string(pChannel) == "CH2" ? 0.0 : 5.0);
    }
    ViBoolean bValue = 9;
    EXPECT_EQ(Get(vi, "CH2", kTestBooleanChannel, &bValue), VI_SUCCESS);
    EXPECT_EQ(bValue, VI_TRUE);
    EXPECT_EQ(Set(vi, "CH2", kTestBooleanChannel, ViBoolean{VI_FALSE}), VI_SUCCESS);
    EXPECT_EQ(Get(vi, "CH2", kTestBooleanChannel, &bValue), VI_SUCCESS);
    EXPECT_EQ(bValue, VI_FALSE);

    ViChar buffer[32] = {};
    EXPECT_EQ(GetString(vi, kTestString, sizeof(buffer), buffer), VI_SUCCESS);
    EXPECT_STREQ(buffer, "2026,1,1");
    EXPECT_EQ(Set<ViConstString>(vi, "", kTestString, "2027,2,3"), VI_SUCCESS);
    EXPECT_EQ(GetString(vi, kTestString, sizeof(buffer), buffer), VI_SUCCESS);
    EXPECT_STREQ(buffer, "2027,2,3");
}

TEST(Cache, SimulationKeepsValuesConversionWouldRefuseOnlyWithoutRangeChecking) {
    Session session("Simulate=1,RangeCheck=0");
    ViInt32 nMode = -1;
    EXPECT_EQ(Set(session.Vi(), "", kTestEnum, ViInt32{7}), VI_SUCCESS);
    EXPECT_EQ(Get(session.Vi(), "", kTestEnum, &nMode), VI_SUCCESS);
    EXPECT_EQ(nMode, 7);

    Session checked("Simulate=1,RangeCheck=1");
    EXPECT_LT(Set(checked.Vi(), "", kTestEnum, ViInt32{7}), 0);
    EXPECT_EQ(Get(checked.Vi(), "", kTestEnum, &nMode), VI_SUCCESS);
    EXPECT_NE(nMode, 7) << "a refused value is not kept";
}

TEST(Cache, CutStringReadDoesNotShortenTheCachedValue) {
    Session session;
    ViChar small[4] = {};
    ViChar large[32] = {};
    EXPECT_EQ(GetString(session.Vi(), kTestString, sizeof(small), small), 4096);
    EXPECT_STREQ(small, "202");
    EXPECT_EQ(GetString(session.Vi(), kTestString, sizeof(large), large), VI_SUCCESS);
    EXPECT_STREQ(large, "2026,1,1");
}

TEST(Cache, FixedSimulatedValuesIgnoreTheCache) {
    Session session;
    const ViSession vi = session.Vi();
    auto& slot = session.Object().Caches().booleans.Slot(kTestFixedBoolean, "");
    slot.bValid = true;
    slot.value = VI_TRUE;
    ViBoolean bTripped = 9;
    EXPECT_EQ(Get(vi, "", kTestFixedBoolean, &bTripped), VI_SUCCESS);
    EXPECT_EQ(bTripped, VI_FALSE);
    ViChar buffer[16] = {};
    EXPECT_EQ(GetString(vi, kTestFixedString, sizeof(buffer), buffer), VI_SUCCESS);
    EXPECT_STREQ(buffer, "1999.0");
}

TEST(Cache, InvalidateAllReturnsToDefaults) {
    Session session;
    const ViSession vi = session.Vi();
    ViReal64 dValue = 0;
    EXPECT_EQ(Set(vi, "", kTestReal, 3.0), VI_SUCCESS);
    EXPECT_EQ(TARVEK_InvalidateAllAttributes(vi), VI_SUCCESS);
    EXPECT_EQ(Get(vi, "", kTestReal, &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 0.25);
}

TEST(Cache, DescriptorInvalidatesOneChannelOrAll) {
    Session session;
    const ViSession vi = session.Vi();
    drt::DriverSession& object = session.Object();
    const drt::AttributeDescriptor* pDescriptor = TestRegistry().Find(kTestRealChannel);
    ASSERT_NE(pDescriptor, nullptr);
    EXPECT_EQ(Set(vi, "CH1-CH3", kTestRealChannel, 2.0), VI_SUCCESS);
    pDescriptor->invalidateCache(object, kTestRealChannel, false, "OutputChannel!!CH2");
    ViReal64 dValue = -1;
    EXPECT_EQ(Get(vi, "CH2", kTestRealChannel, &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 0.0);
    EXPECT_EQ(Get(vi, "CH3", kTestRealChannel, &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 2.0);
    pDescriptor->invalidateCache(object, kTestRealChannel, true, "");
    EXPECT_EQ(Get(vi, "CH3", kTestRealChannel, &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 0.0);
}

TEST(Cache, DriverHeldValueIsRetainedOnlyWhenCaching) {
    // Without a query the attribute lives in the cache alone; with caching off
    // outside simulation nothing is retained. Simulation always retains.
    Session session;
    ViInt32 nValue = -1;
    EXPECT_EQ(Set(session.Vi(), "CH2", kTestDriverHeld, ViInt32{1}), VI_SUCCESS);
    EXPECT_EQ(Get(session.Vi(), "CH2", kTestDriverHeld, &nValue), VI_SUCCESS);
    EXPECT_EQ(nValue, 1);
    EXPECT_EQ(Get(session.Vi(), "CH1", kTestDriverHeld, &nValue), VI_SUCCESS);
    EXPECT_EQ(nValue, 0);
}

TEST(Cache, ModelGateRefusesBeforeTheCache) {
    Session session;  // Series6310: the gated test row is refused
    ViReal64 dValue = 0;
    EXPECT_EQ(Set(session.Vi(), "", kTestGated, 1.0), static_cast<ViStatus>(0xBFFA0012));
    EXPECT_EQ(
        LastError(session.Vi()).strText,
        "Does not support this class-compliant feature: attribute 'TEST_GATED'.  Attribute is not "
        "supported for instrument model '6310'");
    EXPECT_EQ(Get(session.Vi(), "", kTestGated, &dValue), static_cast<ViStatus>(0xBFFA0012));
    EXPECT_TRUE(session.Object().Caches().reals.Empty());

    Session other("Simulate=1,DriverSetup=Model:6510");
    EXPECT_EQ(Set(other.Vi(), "", kTestGated, 1.0), VI_SUCCESS);
    EXPECT_EQ(Get(other.Vi(), "", kTestGated, &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 1.0);
}

TEST(Cache, ReadCallbackNamesItselfForNullPointer) {
    Session session;
    EXPECT_EQ(Get<ViReal64>(session.Vi(), "", kTestReal, nullptr),
              static_cast<ViStatus>(0xBFFA0058));
    EXPECT_EQ(
        LastError(session.Vi()).strText,
        "Null pointer passed for function 'TARVEK_get_TEST_REAL', parameter 'AttributeValue'.");
    EXPECT_EQ(Set<ViConstString>(session.Vi(), "", kTestString, nullptr),
              static_cast<ViStatus>(0xBFFA0058));
}

}  // namespace
}  // namespace attrtest
