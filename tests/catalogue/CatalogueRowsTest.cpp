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

}  // namespace
}  // namespace cattest
