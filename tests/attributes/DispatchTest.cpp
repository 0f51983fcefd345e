// Typed access: the order of its checks, the string buffer protocol, and the
// inherent attributes it reaches.
#include <cstring>

#include "AttributeTestSupport.h"

namespace attrtest {
namespace {

constexpr ViStatus kNotRecognized = static_cast<ViStatus>(0xBFFA000C);
constexpr ViStatus kReadOnly = static_cast<ViStatus>(0xBFFA000D);
constexpr ViStatus kTypesDiffer = static_cast<ViStatus>(0xBFFA0015);
constexpr ViStatus kNullPointer = static_cast<ViStatus>(0xBFFA0058);

TEST(Dispatch, UnknownIdIsReportedWithItsNumber) {
    Session session;
    for (ViAttr nId : {0u, 1150013u, 4000000000u}) {
        SCOPED_TRACE(nId);
        ViInt32 nValue = 0;
        EXPECT_EQ(TARVEK_GetAttributeViInt32(session.Vi(), "", nId, &nValue), kNotRecognized);
        EXPECT_EQ(LastError(session.Vi()).strText,
                  "Attribute ID '" + std::to_string(nId) + "' not recognized.");
    }
}

TEST(Dispatch, TypeIsCheckedBeforeAccess) {
    Session session;
    ViInt32 nValue = 0;
    EXPECT_EQ(TARVEK_GetAttributeViInt32(session.Vi(), "", TARVEK_ATTR_SYSTEM_IO_SESSION, &nValue),
              kTypesDiffer);
    EXPECT_EQ(LastError(session.Vi()).strText,
              "GetAttributeViInt32 called for attribute 'TARVEK_ATTR_SYSTEM_IO_SESSION' of type "
              "'ViSession'.");
    // A read-only attribute written through the wrong Set function: the type wins.
    EXPECT_EQ(TARVEK_SetAttributeViReal64(session.Vi(), "", TARVEK_ATTR_CHANNEL_COUNT, 1.0),
              kTypesDiffer);
    EXPECT_EQ(TARVEK_SetAttributeViInt32(session.Vi(), "", TARVEK_ATTR_CHANNEL_COUNT, 1),
              kReadOnly);
    EXPECT_EQ(LastError(session.Vi()).strText,
              "Attribute 'TARVEK_ATTR_CHANNEL_COUNT' is read-only.");
}

TEST(Dispatch, ScalarGetChecksPointerBeforeLookup) {
    Session session;
    struct Case {
        ViStatus nStatus;
        const char* pFunction;
    };
    const Case cases[] = {
        {TARVEK_GetAttributeViInt32(session.Vi(), "", 0, nullptr), "TARVEK_GetAttributeViInt32"},
        {TARVEK_GetAttributeViReal64(session.Vi(), "", 0, nullptr), "TARVEK_GetAttributeViReal64"},
        {TARVEK_GetAttributeViBoolean(session.Vi(), "", 0, nullptr),
         "TARVEK_GetAttributeViBoolean"},
        {TARVEK_GetAttributeViSession(session.Vi(), "", 0, nullptr),
         "TARVEK_GetAttributeViSession"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pFunction);
        EXPECT_EQ(c.nStatus, kNullPointer);
    }
    TARVEK_GetAttributeViSession(session.Vi(), "", 0, nullptr);
    EXPECT_EQ(LastError(session.Vi()).strText,
              "Null pointer passed for function 'TARVEK_GetAttributeViSession', parameter "
              "'AttributeValue'.");
}

TEST(Dispatch, StringBufferProtocol) {
    Session session;
    const ViSession vi = session.Vi();
    ViChar buffer[64];
    // Size 0 answers the size needed without calling the callback, whatever the buffer.
    EXPECT_EQ(TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_SPECIFIC_DRIVER_PREFIX, 0, nullptr),
              4096);
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_SPECIFIC_DRIVER_PREFIX, 0, buffer),
              4096);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_SPECIFIC_DRIVER_PREFIX, 5, nullptr),
              kNullPointer);
    EXPECT_EQ(LastError(vi).strText,
              "Null pointer passed for function 'GetAttributeViString', parameter "
              "'AttributeValueBufferSize'.");
    // "TARVEK" has 6 characters: 7 bytes fill the buffer exactly (4096), 8 leave room (0).
    struct Case {
        ViInt32 nSize;
        ViStatus nStatus;
        const char* pText;
    };
    const Case cases[] = {
        {7, 4096, "TARVEK"}, {8, 0, "TARVEK"}, {4, 4096, "TAR"}, {1, 4096, ""}, {-1, 0, "TARVEK"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nSize);
        std::memset(buffer, 'x', sizeof(buffer));
        EXPECT_EQ(TARVEK_GetAttributeViString(vi, "", TARVEK_ATTR_SPECIFIC_DRIVER_PREFIX, c.nSize,
                                              buffer),
                  c.nStatus);
        EXPECT_STREQ(buffer, c.pText);
    }
}

TEST(Dispatch, IdentityAttributesInSimulation) {
    Session session;
    struct Case {
        ViAttr nId;
        const char* pValue;
    };
    const Case cases[] = {
        {TARVEK_ATTR_SPECIFIC_DRIVER_PREFIX, "TARVEK"},
        {TARVEK_ATTR_SPECIFIC_DRIVER_VENDOR, "Norvale"},
        {TARVEK_ATTR_SPECIFIC_DRIVER_DESCRIPTION,
         "IVI-C Driver for 631X and 651X Series DC Power Supplies [Compiled for 64-bit]"},
        {TARVEK_ATTR_SPECIFIC_DRIVER_REVISION, "2.0.0.0"},
        {TARVEK_ATTR_GROUP_CAPABILITIES,
         "IviDCPwrBase,IviDCPwrSoftwareTrigger,IviDCPwrMeasurement"},
        {TARVEK_ATTR_INSTRUMENT_MANUFACTURER, "Norvale"},
        {TARVEK_ATTR_INSTRUMENT_FIRMWARE_REVISION, "Sim2.0.0.0"},
        {TARVEK_ATTR_INSTRUMENT_MODEL, "6310"},
        {TARVEK_ATTR_SUPPORTED_INSTRUMENT_MODELS, "TK6310,TK6510"},
        {TARVEK_ATTR_IO_RESOURCE_DESCRIPTOR, ""},
        {TARVEK_ATTR_LOGICAL_NAME, ""},
        {TARVEK_ATTR_DRIVER_SETUP, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pValue);
        ViChar buffer[256] = {};
        EXPECT_EQ(TARVEK_GetAttributeViString(session.Vi(), "", c.nId, sizeof(buffer), buffer),
                  VI_SUCCESS);
        EXPECT_STREQ(buffer, c.pValue);
    }
    ViInt32 nMajor = -1;
    ViInt32 nMinor = -1;
    EXPECT_EQ(TARVEK_GetAttributeViInt32(
                  session.Vi(), "", TARVEK_ATTR_SPECIFIC_DRIVER_CLASS_SPEC_MAJOR_VERSION, &nMajor),
              VI_SUCCESS);
    EXPECT_EQ(TARVEK_GetAttributeViInt32(
                  session.Vi(), "", TARVEK_ATTR_SPECIFIC_DRIVER_CLASS_SPEC_MINOR_VERSION, &nMinor),
              VI_SUCCESS);
    EXPECT_EQ(nMajor, 3);
    EXPECT_EQ(nMinor, 0);
}

TEST(Dispatch, ChannelCountFollowsTheFamily) {
    struct Case {
        const char* pOptions;
        ViInt32 nCount;
    };
    for (const Case& c : {Case{"Simulate=1", 3}, Case{"Simulate=1,DriverSetup=Model:6510", 1},
                          Case{"Simulate=1,DriverSetup=Model:TK6310", 1}}) {
        SCOPED_TRACE(c.pOptions);
        Session session(c.pOptions);
        ViInt32 nCount = 0;
        EXPECT_EQ(TARVEK_GetAttributeViInt32(session.Vi(), "", TARVEK_ATTR_CHANNEL_COUNT, &nCount),
                  VI_SUCCESS);
        EXPECT_EQ(nCount, c.nCount);
        ViChar name[8] = {};
        EXPECT_EQ(TARVEK_GetChannelName(session.Vi(), 3, sizeof(name), name), VI_SUCCESS);
        EXPECT_STREQ(name, "CH3");
    }
}

TEST(Dispatch, InherentFlagsAndTheirRules) {
    Session session;
    const ViSession vi = session.Vi();
    for (ViAttr nId : {TARVEK_ATTR_RANGE_CHECK, TARVEK_ATTR_QUERY_INSTRUMENT_STATUS,
                       TARVEK_ATTR_CACHE, TARVEK_ATTR_RECORD_COERCIONS}) {
        SCOPED_TRACE(nId);
        ViBoolean bValue = 7;
        EXPECT_EQ(TARVEK_SetAttributeViBoolean(vi, "", nId, VI_TRUE), VI_SUCCESS);
        EXPECT_EQ(TARVEK_GetAttributeViBoolean(vi, "", nId, &bValue), VI_SUCCESS);
        EXPECT_EQ(bValue, VI_TRUE);
        EXPECT_EQ(TARVEK_SetAttributeViBoolean(vi, "", nId, 2), VI_SUCCESS);
        EXPECT_EQ(TARVEK_GetAttributeViBoolean(vi, "", nId, &bValue), VI_SUCCESS);
        EXPECT_EQ(bValue, VI_FALSE);
    }
    EXPECT_EQ(TARVEK_SetAttributeViBoolean(vi, "", TARVEK_ATTR_SIMULATE, VI_FALSE),
              static_cast<ViStatus>(0xBFFA0062));
    EXPECT_EQ(TARVEK_SetAttributeViBoolean(vi, "", TARVEK_ATTR_SIMULATE, VI_TRUE), VI_SUCCESS);
    EXPECT_EQ(TARVEK_SetAttributeViBoolean(vi, "", TARVEK_ATTR_INTERCHANGE_CHECK, VI_TRUE),
              static_cast<ViStatus>(0xBFFA0013));
    EXPECT_EQ(
        LastError(vi).strText,
        "Does not support this class-compliant feature:  Enumeration value 'True' passed as the "
        "value for parameter 'AttributeValue' in function 'SetAttributeViBoolean'.  Interchange "
        "checking is not supported by the driver.");
    ViBoolean bInterchange = 7;
    EXPECT_EQ(TARVEK_GetAttributeViBoolean(vi, "", TARVEK_ATTR_INTERCHANGE_CHECK, &bInterchange),
              VI_SUCCESS);
    EXPECT_EQ(bInterchange, VI_FALSE);
}

TEST(Dispatch, DirectIoAttributesRefuseSimulation) {
    Session session;
    ViSession hIo = 5;
    ViInt32 nTimeout = 0;
    EXPECT_EQ(TARVEK_GetAttributeViSession(session.Vi(), "", TARVEK_ATTR_SYSTEM_IO_SESSION, &hIo),
              static_cast<ViStatus>(0xBFFA4214));
    EXPECT_EQ(LastError(session.Vi()).strText,
              "I/O error.  Direct I/O operations are not available in simulation mode.");
    EXPECT_EQ(
        TARVEK_GetAttributeViInt32(session.Vi(), "", TARVEK_ATTR_SYSTEM_IO_TIMEOUT, &nTimeout),
        static_cast<ViStatus>(0xBFFA4214));
    EXPECT_EQ(TARVEK_SetAttributeViInt32(session.Vi(), "", TARVEK_ATTR_SYSTEM_IO_TIMEOUT, 10),
              static_cast<ViStatus>(0xBFFA4214));
}

TEST(Dispatch, InvalidHandleIsRefusedByTheCallback) {
    ViInt32 nValue = 0;
    EXPECT_EQ(TARVEK_GetAttributeViInt32(0x7FFFFFF0, "", TARVEK_ATTR_CHANNEL_COUNT, &nValue),
              static_cast<ViStatus>(0xBFFA1190));
    EXPECT_EQ(TARVEK_SetAttributeViBoolean(0x7FFFFFF0, "", TARVEK_ATTR_CACHE, VI_TRUE),
              static_cast<ViStatus>(0xBFFA1190));
}

TEST(Dispatch, GetChannelNameIndexAndBuffer) {
    Session session;
    ViChar name[8] = {};
    EXPECT_EQ(TARVEK_GetChannelName(session.Vi(), 1, sizeof(name), name), VI_SUCCESS);
    EXPECT_STREQ(name, "CH1");
    EXPECT_EQ(TARVEK_GetChannelName(session.Vi(), 2, 3, name), VI_SUCCESS);
    EXPECT_STREQ(name, "CH");
    EXPECT_EQ(TARVEK_GetChannelName(session.Vi(), 0, sizeof(name), name),
              static_cast<ViStatus>(0xBFFA0010));
    EXPECT_EQ(LastError(session.Vi()).strText,
              "Invalid value '-1' for function 'GetOutputChannelName', parameter 'Index'.");
    EXPECT_EQ(TARVEK_GetChannelName(session.Vi(), 4, sizeof(name), name),
              static_cast<ViStatus>(0xBFFA0010));
    EXPECT_EQ(TARVEK_GetChannelName(session.Vi(), 1, sizeof(name), nullptr), kNullPointer);
    EXPECT_EQ(LastError(session.Vi()).strText,
              "Null pointer passed for function 'TARVEK_GetChannelName', parameter 'Name'.");
}

}  // namespace
}  // namespace attrtest

namespace attrtest {
namespace {

ViStatus FirstGetter(ViSession, ViConstString, ViInt32* pValue) {
    *pValue = 1;
    return VI_SUCCESS;
}
ViStatus SecondGetter(ViSession, ViConstString, ViInt32* pValue) {
    *pValue = 2;
    return VI_SUCCESS;
}

TEST(Registry, FirstRegistrationOfAnIdWins) {
    drt::AttributeRegistry registry;
    EXPECT_TRUE(registry.Register(drt::AttributeDescriptor::Make(7, "A", &FirstGetter, nullptr)));
    EXPECT_FALSE(registry.Register(drt::AttributeDescriptor::Make(7, "B", &SecondGetter, nullptr)));
    EXPECT_TRUE(registry.Register(drt::AttributeDescriptor::Make(3, "C", &SecondGetter, nullptr)));
    const drt::AttributeDescriptor* pDescriptor = registry.Find(7);
    ASSERT_NE(pDescriptor, nullptr);
    EXPECT_STREQ(pDescriptor->name, "A");
    EXPECT_STREQ(pDescriptor->typeName, "ViInt32");
    EXPECT_TRUE(pDescriptor->setter.Empty());
    EXPECT_EQ(registry.Find(5), nullptr);
    EXPECT_EQ(registry.Size(), 2u);
}

TEST(Registry, InherentAttributesHaveTheirTypesAndAccess) {
    struct Case {
        ViAttr nId;
        drt::ValueType type;
        bool bWritable;
    };
    const Case cases[] = {
        {TARVEK_ATTR_CACHE, drt::ValueType::Boolean, true},
        {TARVEK_ATTR_CHANNEL_COUNT, drt::ValueType::Int32, false},
        {TARVEK_ATTR_SYSTEM_IO_SESSION, drt::ValueType::Session, false},
        {TARVEK_ATTR_SYSTEM_IO_TIMEOUT, drt::ValueType::Int32, true},
        {TARVEK_ATTR_SELECTED_CHANNEL, drt::ValueType::Int32, true},
        {TARVEK_ATTR_DRIVER_SETUP, drt::ValueType::String, false},
        {TARVEK_ATTR_SPECIFIC_DRIVER_REVISION, drt::ValueType::String, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nId);
        const drt::AttributeDescriptor* pDescriptor = drt::AttributeTable().Find(c.nId);
        ASSERT_NE(pDescriptor, nullptr);
        EXPECT_EQ(pDescriptor->valueType, c.type);
        EXPECT_FALSE(pDescriptor->getter.Empty());
        EXPECT_EQ(!pDescriptor->setter.Empty(), c.bWritable);
    }
}

ViStatus SetOnlyInt(ViSession, ViConstString, ViInt32) {
    return VI_SUCCESS;
}
ViStatus SetOnlyString(ViSession, ViConstString, ViConstString) {
    return VI_SUCCESS;
}

TEST(Dispatch, WriteOnlyAttributeRefusesReadsBeforeTheBufferProtocol) {
    drt::AttributeRegistry registry;
    registry.Register(drt::AttributeDescriptor::Make(11, "TARVEK_ATTR_TEST_WRITE_ONLY",
                                                     drt::ValueType::Int32, {}, &SetOnlyInt));
    registry.Register(drt::AttributeDescriptor::Make(12, "TARVEK_ATTR_TEST_WRITE_ONLY_TEXT",
                                                     drt::ValueType::String, {}, &SetOnlyString));
    Session session;
    const ViSession vi = session.Vi();
    ViInt32 nValue = 0;
    EXPECT_EQ(drt::GetAttributeTyped<ViInt32>(registry, vi, "", 11, &nValue),
              static_cast<ViStatus>(0xBFFA000E));
    EXPECT_EQ(LastError(vi).strText, "Attribute 'TARVEK_ATTR_TEST_WRITE_ONLY' is write-only.");
    // The size query and the null buffer come after the readability check.
    for (ViInt32 nSize : {0, 5}) {
        SCOPED_TRACE(nSize);
        EXPECT_EQ(drt::GetAttributeString(registry, vi, "", 12, nSize, nullptr),
                  static_cast<ViStatus>(0xBFFA000E));
        EXPECT_EQ(LastError(vi).strText,
                  "Attribute 'TARVEK_ATTR_TEST_WRITE_ONLY_TEXT' is write-only.");
    }
    EXPECT_EQ(drt::SetAttributeTyped<ViInt32>(registry, vi, "", 11, 3), VI_SUCCESS);
    EXPECT_EQ(drt::SetAttributeTyped<ViConstString>(registry, vi, "", 11, "3"), kTypesDiffer);
    EXPECT_EQ(LastError(vi).strText,
              "SetAttributeViString called for attribute 'TARVEK_ATTR_TEST_WRITE_ONLY' of type "
              "'ViInt32'.");
}

TEST(Dispatch, SelectorIsIgnoredByAttributesWithoutChannel) {
    Session session;
    ViReal64 dValue = 0;
    EXPECT_EQ(Set(session.Vi(), "CH2", kTestReal, 1.25), VI_SUCCESS);
    EXPECT_EQ(Get(session.Vi(), "not;a:selector", kTestReal, &dValue), VI_SUCCESS);
    EXPECT_EQ(dValue, 1.25);
}

}  // namespace
}  // namespace attrtest
