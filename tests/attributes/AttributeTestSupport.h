// Sessions, test attributes of every type and channel kind, and helpers shared
// by the attribute engine tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "IviSession.h"
#include "TARVEK.h"
#include "driver/attributes/AttributeRows.h"
#include "driver/attributes/EnumTables.h"
#include "runtime/attributes/AttributeDispatch.h"
#include "runtime/session/CallFrame.h"

namespace attrtest {

using Lines = std::vector<std::string>;

// Ids outside every band the catalogue uses.
enum TestId : ViAttr {
    kTestReal = 1159001,
    kTestRealChannel,
    kTestBoolean,
    kTestBooleanChannel,
    kTestInt,
    kTestEnum,
    kTestString,
    kTestFixedString,
    kTestFixedBoolean,
    kTestGated,
    kTestFamilyHeader,
    kTestDriverHeld,
};

inline constexpr tarvek::AttributeRow kTestRows[] = {
    {.id = kTestReal,
     .name = "TARVEK_ATTR_TEST_REAL",
     .type = tarvek::ValueType::Real64,
     .query = "SOUR:CURR:LEV:IMM:AMPL?\n",
     .command = "SOUR:CURR:LEV:IMM:AMPL %0.15lg\n",
     .sim = 0.25},
    {.id = kTestRealChannel,
     .name = "TARVEK_ATTR_TEST_REAL_CHANNEL",
     .type = tarvek::ValueType::Real64,
     .query = "SOUR:VOLT:LEV:IMM:AMPL?\n",
     .command = "SOUR:VOLT:LEV:IMM:AMPL %0.15lg\n",
     .sim = 0.0,
     .channel = tarvek::ChannelKind::Output},
    {.id = kTestBoolean,
     .name = "TARVEK_ATTR_TEST_BOOLEAN",
     .type = tarvek::ValueType::Boolean,
     .query = "SYST:BEEP:STAT?\n",
     .command = "SYST:BEEP:STAT %s\n",
     .values = &drt::BooleanMap,
     .sim = VI_FALSE},
    {.id = kTestBooleanChannel,
     .name = "TARVEK_ATTR_TEST_BOOLEAN_CHANNEL",
     .type = tarvek::ValueType::Boolean,
     .query = "OUTP:STAT?\n",
     .command = "OUTP:STAT %s\n",
     .values = &drt::BooleanMap,
     .sim = VI_TRUE,
     .channel = tarvek::ChannelKind::Output},
    {.id = kTestInt, .name = "TARVEK_ATTR_TEST_INT", .query = "*ESE?\n", .command = "*ESE %ld\n"},
    {.id = kTestEnum,
     .name = "TARVEK_ATTR_TEST_ENUM",
     .query = "OUTP:PAIR?\n",
     .command = "OUTP:PAIR %s\n",
     .values = &tarvek::OutputModeMap},
    {.id = kTestString,
     .name = "TARVEK_ATTR_TEST_STRING",
     .type = tarvek::ValueType::String,
     .query = "SYST:DATE?\n",
     .command = "SYST:DATE %s\n",
     .sim = "2026,1,1"},
    {.id = kTestFixedString,
     .name = "TARVEK_ATTR_TEST_FIXED_STRING",
     .type = tarvek::ValueType::String,
     .access = tarvek::Access::ReadOnly,
     .query = "SYST:VERS?\n",
     .sim = "1999.0",
     .simKind = tarvek::SimKind::Fixed},
    {.id = kTestFixedBoolean,
     .name = "TARVEK_ATTR_TEST_FIXED_BOOLEAN",
     .type = tarvek::ValueType::Boolean,
     .access = tarvek::Access::ReadOnly,
     .query = "SOUR:CURR:PROT:TRIP?\n",
     .values = &drt::BooleanMap,
     .sim = VI_FALSE,
     .simKind = tarvek::SimKind::Fixed},
    {.id = kTestGated,
     .name = "TARVEK_ATTR_TEST_GATED",
     .type = tarvek::ValueType::Real64,
     .query = "BATT:MOD:CURR?\n",
     .command = "BATT:MOD:CURR %0.15lg\n",
     .unsupported = tarvek::kFamily6310},
    {.id = kTestFamilyHeader,
     .name = "TARVEK_ATTR_TEST_FAMILY_HEADER",
     .query = "STAT:QUES:ISUM1:ENAB?\n",
     .command = "STAT:QUES:ISUM1:ENAB %ld\n",
     .family = {tarvek::kFamily6510, "STAT:QUES:ISUM:ENAB?\n", "STAT:QUES:ISUM:ENAB %ld\n"}},
    {.id = kTestDriverHeld,
     .name = "TARVEK_ATTR_TEST_DRIVER_HELD",
     .channel = tarvek::ChannelKind::Output},
};

// The driver's registry plus the test rows.
inline const drt::AttributeRegistry& TestRegistry() {
    static const drt::AttributeRegistry registry = [] {
        drt::AttributeRegistry table = drt::AttributeTable();
        tarvek::RegisterRows<kTestRows>(table);
        return table;
    }();
    return registry;
}

template <class T>
ViStatus Get(ViSession vi, ViConstString pChannel, ViAttr nId, T* pValue) {
    return drt::GetAttributeTyped<T>(TestRegistry(), vi, pChannel, nId, pValue);
}
template <class T>
ViStatus Set(ViSession vi, ViConstString pChannel, ViAttr nId, T value) {
    return drt::SetAttributeTyped<T>(TestRegistry(), vi, pChannel, nId, value);
}
inline ViStatus GetString(ViSession vi, ViAttr nId, ViInt32 nSize, ViChar* pBuffer) {
    return drt::GetAttributeString(TestRegistry(), vi, "", nId, nSize, pBuffer);
}

// An open session closed at the end of the scope.
class Session {
  public:
    explicit Session(const std::string& strOptions = "Simulate=1",
                     const std::string& strResource = "") {
        m_nInitStatus = TARVEK_InitWithOptions(const_cast<ViChar*>(strResource.c_str()), VI_FALSE,
                                               VI_FALSE, strOptions.c_str(), &m_vi);
        EXPECT_EQ(m_nInitStatus, VI_SUCCESS) << strOptions;
    }
    ~Session() {
        if (m_vi != VI_NULL) {
            TARVEK_close(m_vi);
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    ViSession Vi() const { return m_vi; }
    drt::DriverSession& Object() const {
        drt::DriverSession* pSession = nullptr;
        EXPECT_EQ(drt::FetchSession(m_vi, pSession), VI_SUCCESS);
        return *pSession;
    }

  private:
    ViSession m_vi = VI_NULL;
    ViStatus m_nInitStatus = VI_SUCCESS;
};

// The code and text last recorded on vi (the error is left in place).
struct Recorded {
    ViStatus nCode = 0;
    std::string strText;
};
inline Recorded LastError(ViSession vi) {
    Recorded recorded;
    ViChar buffer[1100] = {};
    TARVEK_GetError(vi, &recorded.nCode, sizeof(buffer), buffer);
    recorded.strText = buffer;
    return recorded;
}

}  // namespace attrtest
