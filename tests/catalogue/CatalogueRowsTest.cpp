// Every generated catalogue row, read and (where writable) written on both
// families: live against the emulator, asserting the exact lines sent and
// the value returned, and in simulation, asserting defaults and recall.
#include <cstring>
#include <string>
#include <tuple>

#include "CatalogueTestSupport.h"

namespace cattest {
namespace {

using tarvek::Access;
using tarvek::AttributeRow;
using tarvek::SimKind;

// The generated rows (the hand-written ones have tests of their own).
std::vector<const AttributeRow*> GeneratedRows() {
    std::vector<const AttributeRow*> vecRows;
    for (const auto& entry : tarvek::CatalogueEntries()) {
        if (entry.pNote == nullptr) {
            vecRows.push_back(&entry.row);
        }
    }
    return vecRows;
}

using RowCase = std::tuple<const AttributeRow*, Model>;

std::string RowCaseName(const ::testing::TestParamInfo<RowCase>& info) {
    const auto& [pRow, model] = info.param;
    return std::string(pRow->name + std::strlen("TARVEK_ATTR_")) + "_" + model.pModel;
}

// A fixed instrument reply for a read-only row and the value it stands for.
struct Reply {
    std::string strReply;
    Value value;
};
Reply ReplyFor(const AttributeRow& row) {
    switch (row.type) {
        case tarvek::ValueType::Int32:
            return {"5", ViInt32{5}};
        case tarvek::ValueType::Real64:
            return {"2.5", ViReal64{2.5}};
        case tarvek::ValueType::Boolean:
            return {"1", ViBoolean{VI_TRUE}};
        default:
            return {"1999.0", std::string("1999.0")};
    }
}

class LiveRow : public ::testing::TestWithParam<RowCase> {};

TEST_P(LiveRow, ReadsAndWritesWithTheRowsCommands) {
    const auto& [pRow, model] = GetParam();
    const AttributeRow& row = *pRow;
    LiveInstrument instrument(model.pModel);
    const ViSession vi = instrument.vi();
    const bool bChannel = row.channel == tarvek::ChannelKind::Output;
    const char* pSelector = bChannel ? (model.bMultiOutput ? "CH2" : "CH1") : nullptr;
    const Lines selection = bChannel && model.bMultiOutput ? Lines{"INST:SEL 1"} : Lines{};

    Value value;
    if (RefusedOn(row, model)) {
        EXPECT_EQ(ReadAttribute(vi, row, pSelector, value), IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED);
        EXPECT_NE(ErrorText(vi).find(std::string("instrument model '") + model.pModel + "'"),
                  std::string::npos)
            << ErrorText(vi);
        if (row.access == Access::ReadWrite) {
            EXPECT_EQ(WriteAttribute(vi, row, pSelector, TestValueFor(row).value),
                      IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED);
        }
        EXPECT_EQ(instrument.TakeLines(0), Lines{});
        return;
    }

    if (row.access == Access::ReadWrite) {
        const TestValue written = TestValueFor(row);
        ASSERT_EQ(WriteAttribute(vi, row, pSelector, written.value), VI_SUCCESS) << ErrorText(vi);
        Lines expected = selection;
        expected.push_back(CommandFor(row, model, written.strWire));
        EXPECT_EQ(instrument.TakeLines(expected.size()), expected);

        ASSERT_EQ(ReadAttribute(vi, row, pSelector, value), VI_SUCCESS) << ErrorText(vi);
        EXPECT_EQ(value, written.value);
    } else {
        const Reply reply = ReplyFor(row);
        instrument.Instrument().SetFixedReply(QueryFor(row, model), reply.strReply);
        ASSERT_EQ(ReadAttribute(vi, row, pSelector, value), VI_SUCCESS) << ErrorText(vi);
        EXPECT_EQ(value, reply.value);
    }
    Lines expected = selection;
    expected.push_back(QueryFor(row, model));
    EXPECT_EQ(instrument.TakeLines(expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, LiveRow,
                         ::testing::Combine(::testing::ValuesIn(GeneratedRows()),
                                            ::testing::ValuesIn(kModels)),
                         RowCaseName);

class SimulatedRow : public ::testing::TestWithParam<RowCase> {};

TEST_P(SimulatedRow, ReturnsItsDefaultThenTheValueWritten) {
    const auto& [pRow, model] = GetParam();
    const AttributeRow& row = *pRow;
    SimulatedInstrument instrument(model.pModel);
    const ViSession vi = instrument.vi();
    const char* pSelector = row.channel == tarvek::ChannelKind::Output ? "CH1" : nullptr;

    Value value;
    if (RefusedOn(row, model)) {
        EXPECT_EQ(ReadAttribute(vi, row, pSelector, value), IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED);
        if (row.access == Access::ReadWrite) {
            EXPECT_EQ(WriteAttribute(vi, row, pSelector, TestValueFor(row).value),
                      IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED);
        }
        return;
    }
    ASSERT_EQ(ReadAttribute(vi, row, pSelector, value), VI_SUCCESS) << ErrorText(vi);
    EXPECT_EQ(value, SimulatedDefault(row));
    if (row.access == Access::ReadWrite) {
        const TestValue written = TestValueFor(row);
        ASSERT_EQ(WriteAttribute(vi, row, pSelector, written.value), VI_SUCCESS) << ErrorText(vi);
        ASSERT_EQ(ReadAttribute(vi, row, pSelector, value), VI_SUCCESS);
        EXPECT_EQ(value, row.simKind == SimKind::Fixed ? SimulatedDefault(row) : written.value);
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, SimulatedRow,
                         ::testing::Combine(::testing::ValuesIn(GeneratedRows()),
                                            ::testing::ValuesIn(kModels)),
                         RowCaseName);

// A reply the converter refuses leaves its -1 (narrowed to the type) in the
// caller's variable; an unanswered query reaches no converter and leaves the
// variable as it was, for enumerated and boolean rows as for numeric ones.
// A text the generic write path sends is refused for any character its
// attribute cannot hold, so every such row says which characters those are.
TEST(CatalogueRows, EveryWritableTextRowNamesWhatItsValueHolds) {
    for (const AttributeRow* pRow : GeneratedRows()) {
        if (pRow->type == drt::ValueType::String && pRow->access == Access::ReadWrite) {
            SCOPED_TRACE(pRow->name);
            ASSERT_NE(pRow->text, nullptr);
            EXPECT_EQ(pRow->text->strCharacters.find_first_of(";\r\n"), std::string_view::npos)
                << "a grammar never holds what ends a command";
        }
    }
}

TEST(LiveRowFailure, OnlyAConversionFailureOverwritesTheCallersValue) {
    struct Case {
        const char* pQuery;
        ViAttr nId;
        const char* pReply;  // null: no reply at all
        ViStatus nStatus;    // 0: any I/O failure
        ViInt32 nExpected;
    };
    constexpr ViStatus kUnexpectedResponse = static_cast<ViStatus>(0xBFFA0059);
    const Case cases[] = {
        {"OUTP:PAIR?", TARVEK_ATTR_OUTPUT_MODE, "PARA9", kUnexpectedResponse, -1},
        {"OUTP:PAIR?", TARVEK_ATTR_OUTPUT_MODE, nullptr, 0, 42},
        {"SOUR:CURR:PROT:STAT?", TARVEK_ATTR_OCP_ENABLED, "TRUE", kUnexpectedResponse, 65535},
        {"SOUR:CURR:PROT:STAT?", TARVEK_ATTR_OCP_ENABLED, nullptr, 0, 42},
        {"*ESE?", TARVEK_ATTR_STANDARD_EVENT_ENABLE_REGISTER, nullptr, 0, 42},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pQuery) + (c.pReply != nullptr ? c.pReply : " (no reply)"));
        LiveInstrument instrument("6313");
        const ViSession vi = instrument.vi();
        ASSERT_EQ(TARVEK_SetAttributeViInt32(vi, "", TARVEK_ATTR_SYSTEM_IO_TIMEOUT, 100),
                  VI_SUCCESS);
        if (c.pReply != nullptr) {
            instrument.Instrument().SetFixedReply(c.pQuery, c.pReply);
        } else {
            instrument.Instrument().SetNoReply(c.pQuery);
        }
        ViStatus nStatus = VI_SUCCESS;
        ViInt32 nValue = 42;
        if (c.nId == TARVEK_ATTR_OCP_ENABLED) {
            ViBoolean bValue = 42;
            nStatus = TARVEK_GetAttributeViBoolean(vi, "", c.nId, &bValue);
            nValue = bValue;
        } else {
            nStatus = TARVEK_GetAttributeViInt32(vi, "", c.nId, &nValue);
        }
        if (c.nStatus != 0) {
            EXPECT_EQ(nStatus, c.nStatus);
        } else {
            EXPECT_LT(nStatus, 0);
        }
        EXPECT_EQ(nValue, c.nExpected);
    }
}

}  // namespace
}  // namespace cattest
