// The exported per-attribute functions behave exactly as the typed access on
// their attribute, including the null-pointer report naming the typed
// function.
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "CatalogueTestSupport.h"
#include "driver/attributes/CatalogueWrappers.h"
#include "runtime/attributes/AttributeRegistry.h"

namespace cattest {
namespace {

// One wrapper pair: reads through the wrapper and through the typed access,
// writes through the wrapper (absent for read-only attributes) and reads
// with a null pointer through the wrapper.
struct Wrapper {
    const char* pName;
    ViAttr nId;
    const char* pTypedFunction;
    std::function<ViStatus(ViSession, std::string&)> getByWrapper;
    std::function<ViStatus(ViSession, std::string&)> getByTypedAccess;
    std::function<ViStatus(ViSession)> setByWrapper;  // writes TestWrite<Type>()
    std::function<ViStatus(ViSession)> getNull;
};

template <class T>
T TestWrite() {
    if constexpr (std::is_same_v<T, ViReal64>) {
        return 1.25;
    } else if constexpr (std::is_same_v<T, ViBoolean>) {
        return VI_FALSE;
    } else {
        return 1;  // a defined value of every enumeration
    }
}

template <class T>
std::string Text(T value) {
    return std::to_string(value);
}

template <class T>
ViStatus GetTyped(ViSession vi, ViAttr nId, T* pValue);
template <>
ViStatus GetTyped(ViSession vi, ViAttr nId, ViInt32* pValue) {
    return TARVEK_GetAttributeViInt32(vi, nullptr, nId, pValue);
}
template <>
ViStatus GetTyped(ViSession vi, ViAttr nId, ViReal64* pValue) {
    return TARVEK_GetAttributeViReal64(vi, nullptr, nId, pValue);
}
template <>
ViStatus GetTyped(ViSession vi, ViAttr nId, ViBoolean* pValue) {
    return TARVEK_GetAttributeViBoolean(vi, nullptr, nId, pValue);
}

ViStatus GetText(ViStatus (*pGet)(ViSession, ViInt32, ViChar[]), ViSession vi,
                 std::string& strValue) {
    std::vector<ViChar> buffer(256, '\0');
    const ViStatus status = pGet(vi, static_cast<ViInt32>(buffer.size()), buffer.data());
    strValue = buffer.data();
    return status;
}

#define SCALAR_GETTER(Type, Name, ATTR)                                             \
    "TARVEK_Get" #Name, TARVEK_ATTR_##ATTR, "TARVEK_GetAttribute" #Type,            \
        [](ViSession vi, std::string& strValue) {                                   \
            Type value{};                                                           \
            const ViStatus status = TARVEK_Get##Name(vi, &value);                   \
            strValue = Text(value);                                                 \
            return status;                                                          \
        },                                                                          \
        [](ViSession vi, std::string& strValue) {                                   \
            Type value{};                                                           \
            const ViStatus status = GetTyped<Type>(vi, TARVEK_ATTR_##ATTR, &value); \
            strValue = Text(value);                                                 \
            return status;                                                          \
        }
#define SCALAR_NULL(Name) [](ViSession vi) { return TARVEK_Get##Name(vi, nullptr); }
#define X_GS(Type, Name, ATTR)        \
    {SCALAR_GETTER(Type, Name, ATTR), \
     [](ViSession vi) { return TARVEK_Set##Name(vi, TestWrite<Type>()); }, SCALAR_NULL(Name)},
#define X_G(Type, Name, ATTR) {SCALAR_GETTER(Type, Name, ATTR), nullptr, SCALAR_NULL(Name)},
#define STRING_GETTER(Name, ATTR)                                                                 \
    "TARVEK_Get" #Name, TARVEK_ATTR_##ATTR, "GetAttributeViString",                               \
        [](ViSession vi, std::string& strValue) {                                                 \
            return GetText(&TARVEK_Get##Name, vi, strValue);                                      \
        },                                                                                        \
        [](ViSession vi, std::string& strValue) {                                                 \
            std::vector<ViChar> buffer(256, '\0');                                                \
            const ViStatus status =                                                               \
                TARVEK_GetAttributeViString(vi, nullptr, TARVEK_ATTR_##ATTR, 256, buffer.data()); \
            strValue = buffer.data();                                                             \
            return status;                                                                        \
        }
#define STRING_NULL(Name) [](ViSession vi) { return TARVEK_Get##Name(vi, 10, nullptr); }
#define X_GS_STRING(Name, ATTR)                                                         \
    {STRING_GETTER(Name, ATTR), [](ViSession vi) { return TARVEK_Set##Name(vi, "1"); }, \
     STRING_NULL(Name)},
#define X_G_STRING(Name, ATTR) {STRING_GETTER(Name, ATTR), nullptr, STRING_NULL(Name)},

const std::vector<Wrapper>& Wrappers() {
    static const std::vector<Wrapper> vecWrappers = {
        TARVEK_ATTRIBUTE_WRAPPERS(X_GS, X_G, X_GS_STRING, X_G_STRING)};
    return vecWrappers;
}

// Each wrapped attribute is wrapped once, and has a setter exactly when the
// attribute itself can be written.
TEST(Wrappers, SettersExactlyForWritableAttributes) {
    ASSERT_FALSE(Wrappers().empty());
    std::set<ViAttr> setIds;
    for (const auto& wrapper : Wrappers()) {
        SCOPED_TRACE(wrapper.pName);
        EXPECT_TRUE(setIds.insert(wrapper.nId).second) << "wrapped twice";
        const drt::AttributeDescriptor* pDescriptor = drt::AttributeTable().Find(wrapper.nId);
        ASSERT_NE(pDescriptor, nullptr);
        EXPECT_EQ(static_cast<bool>(wrapper.setByWrapper), !pDescriptor->setter.Empty());
    }
}

class WrappersOnModel : public ::testing::TestWithParam<Model> {};

TEST_P(WrappersOnModel, BehaveAsTheTypedAccess) {
    SimulatedInstrument instrument(GetParam().pModel);
    const ViSession vi = instrument.vi();
    for (const auto& wrapper : Wrappers()) {
        SCOPED_TRACE(wrapper.pName);
        std::string strByWrapper, strByTyped;
        const ViStatus nByWrapper = wrapper.getByWrapper(vi, strByWrapper);
        EXPECT_EQ(nByWrapper, wrapper.getByTypedAccess(vi, strByTyped));
        EXPECT_EQ(strByWrapper, strByTyped);
        if (wrapper.setByWrapper) {
            // Gated attributes refuse the write as they refuse the read.
            EXPECT_EQ(wrapper.setByWrapper(vi), nByWrapper);
            if (nByWrapper == VI_SUCCESS) {
                EXPECT_EQ(wrapper.getByTypedAccess(vi, strByTyped), VI_SUCCESS);
                EXPECT_EQ(wrapper.getByWrapper(vi, strByWrapper), VI_SUCCESS);
                EXPECT_EQ(strByWrapper, strByTyped);
                EXPECT_NE(strByWrapper, "");
            }
        }
    }
}

TEST_P(WrappersOnModel, NullValuePointerNamesTheTypedFunction) {
    SimulatedInstrument instrument(GetParam().pModel);
    const ViSession vi = instrument.vi();
    for (const auto& wrapper : Wrappers()) {
        SCOPED_TRACE(wrapper.pName);
        EXPECT_EQ(wrapper.getNull(vi), IVI_ERROR_NULL_POINTER);
        EXPECT_NE(ErrorText(vi).find(std::string("function '") + wrapper.pTypedFunction + "'"),
                  std::string::npos)
            << ErrorText(vi);
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, WrappersOnModel, ::testing::ValuesIn(kModels), ModelName);

TEST(Wrappers, RejectAnUnknownSession) {
    ViReal64 dValue = 0.0;
    EXPECT_EQ(TARVEK_GetCurrentLevel(12345, &dValue), IVI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_EQ(TARVEK_SetCurrentLevel(12345, 1.0), IVI_ERROR_INVALID_SESSION_HANDLE);
}

}  // namespace
}  // namespace cattest
