#include "CatalogueTestSupport.h"

#include <chrono>
#include <cstring>
#include <map>
#include <thread>

namespace cattest {

using tarvek::AttributeRow;
using tarvek::ValueType;

ViStatus ReadAttribute(ViSession vi, const AttributeRow& row, const char* pSelector, Value& value) {
    switch (row.type) {
        case ValueType::Int32: {
            ViInt32 nValue = -12345;
            const ViStatus status = TARVEK_GetAttributeViInt32(vi, pSelector, row.id, &nValue);
            value = nValue;
            return status;
        }
        case ValueType::Real64: {
            ViReal64 dValue = -12345.0;
            const ViStatus status = TARVEK_GetAttributeViReal64(vi, pSelector, row.id, &dValue);
            value = dValue;
            return status;
        }
        case ValueType::Boolean: {
            ViBoolean bValue = 77;
            const ViStatus status = TARVEK_GetAttributeViBoolean(vi, pSelector, row.id, &bValue);
            value = bValue;
            return status;
        }
        case ValueType::String: {
            std::vector<ViChar> buffer(256, '\0');
            const ViStatus status = TARVEK_GetAttributeViString(
                vi, pSelector, row.id, static_cast<ViInt32>(buffer.size()), buffer.data());
            value = std::string(buffer.data());
            return status;
        }
        case ValueType::Session:
            break;
    }
    ADD_FAILURE() << "no catalogue row has a session value";
    return IVI_ERROR_CANNOT_RECOVER;
}

ViStatus WriteAttribute(ViSession vi, const AttributeRow& row, const char* pSelector,
                        const Value& value) {
    switch (row.type) {
        case ValueType::Int32:
            return TARVEK_SetAttributeViInt32(vi, pSelector, row.id, std::get<ViInt32>(value));
        case ValueType::Real64:
            return TARVEK_SetAttributeViReal64(vi, pSelector, row.id, std::get<ViReal64>(value));
        case ValueType::Boolean:
            return TARVEK_SetAttributeViBoolean(vi, pSelector, row.id, std::get<ViBoolean>(value));
        case ValueType::String:
            return TARVEK_SetAttributeViString(vi, pSelector, row.id,
                                               std::get<std::string>(value).c_str());
        case ValueType::Session:
            break;
    }
    ADD_FAILURE() << "no catalogue row has a session value";
    return IVI_ERROR_CANNOT_RECOVER;
}

TestValue TestValueFor(const AttributeRow& row) {
    // Enumerations: a value other than the default, with the instrument word
    // it stands for.
    static const std::map<tarvek::EnumMapFn, TestValue> kEnumValues = {
        {&tarvek::OutputModeMap, {ViInt32{TARVEK_VAL_OUTPUT_MODE_PARALLEL2}, "PARA2"}},
        {&tarvek::ListPaceMap, {ViInt32{TARVEK_VAL_LIST_PACE_DWELL}, "0"}},
        {&tarvek::ListTerminateStateMap, {ViInt32{TARVEK_VAL_LIST_TERMINATE_STATE_LAST}, "1"}},
        {&tarvek::SpecificTriggerSourceMap,
         {ViInt32{TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_EXTERNAL}, "EXT"}},
        {&tarvek::InhibitModeMap, {ViInt32{TARVEK_VAL_INHIBIT_MODE_LIVE}, "LIVE"}},
        {&tarvek::RemoteStateMap, {ViInt32{TARVEK_VAL_REMOTE_STATE_LOCAL}, "LOC"}},
    };
    // Texts in the form the instrument keeps them.
    static const std::map<ViAttr, std::string> kTexts = {
        {TARVEK_ATTR_SYSTEM_DATE, "2026,12,6"},
        {TARVEK_ATTR_SYSTEM_TIME, "10,20,30"},
        {TARVEK_ATTR_TIMER_RUN, "5"},
        {TARVEK_ATTR_BATTERY_TEST_FAIL_SAFE_TIME, "5"},
    };
    switch (row.type) {
        case ValueType::Int32:
            if (row.values != nullptr) {
                return kEnumValues.at(row.values);
            }
            return {ViInt32{3}, "3"};
        case ValueType::Real64:
            return {ViReal64{1.25}, "1.25"};
        case ValueType::Boolean:
            return row.sim.nValue == VI_TRUE ? TestValue{ViBoolean{VI_FALSE}, "0"}
                                             : TestValue{ViBoolean{VI_TRUE}, "1"};
        case ValueType::String: {
            const std::string strText = kTexts.count(row.id) ? kTexts.at(row.id) : "text";
            return {strText, strText};
        }
        case ValueType::Session:
            break;
    }
    return {};
}

Value SimulatedDefault(const AttributeRow& row) {
    switch (row.type) {
        case ValueType::Int32:
            return ViInt32{row.sim.nValue};
        case ValueType::Real64:
            return ViReal64{row.sim.dValue};
        case ValueType::Boolean:
            return static_cast<ViBoolean>(row.sim.nValue);
        case ValueType::String:
            return std::string(row.sim.pText);
        case ValueType::Session:
            break;
    }
    return {};
}

bool RefusedOn(const AttributeRow& row, const Model& model) {
    return row.unsupported != nullptr && std::strstr(row.unsupported, model.pFamily) != nullptr;
}

namespace {
std::string WithoutLineFeed(const char* pText) {
    std::string strText = pText != nullptr ? pText : "";
    if (!strText.empty() && strText.back() == '\n') {
        strText.pop_back();
    }
    return strText;
}
bool UsesFamilyCommands(const AttributeRow& row, const Model& model) {
    return row.family.pFamily != nullptr && std::strcmp(row.family.pFamily, model.pFamily) == 0;
}
}  // namespace

std::string QueryFor(const AttributeRow& row, const Model& model) {
    return WithoutLineFeed(UsesFamilyCommands(row, model) && row.family.pQuery != nullptr
                               ? row.family.pQuery
                               : row.query);
}

std::string CommandFor(const AttributeRow& row, const Model& model, const std::string& strWire) {
    std::string strCommand = WithoutLineFeed(
        UsesFamilyCommands(row, model) && row.family.pCommand != nullptr ? row.family.pCommand
                                                                         : row.command);
    const auto nPosition = strCommand.find('%');
    return strCommand.substr(0, nPosition) + strWire;
}

SimulatedInstrument::SimulatedInstrument(const char* pModel, const char* pOptions) {
    std::string strOptions = std::string("Simulate=1,DriverSetup=Model:") + pModel;
    if (*pOptions != '\0') {
        strOptions = std::string(pOptions) + "," + strOptions;
    }
    EXPECT_EQ(TARVEK_InitWithOptions(const_cast<ViChar*>(""), VI_FALSE, VI_FALSE,
                                     strOptions.c_str(), &m_vi),
              VI_SUCCESS);
}

SimulatedInstrument::~SimulatedInstrument() {
    if (m_vi != VI_NULL) {
        TARVEK_close(m_vi);
    }
}

}  // namespace cattest
