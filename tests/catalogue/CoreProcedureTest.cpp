// The unit-test procedure for an IVI driver, driven by the catalogue: for
// every settable attribute a legal value, the values at each limit and just
// past it (range and status checking on: refused by the driver in simulation,
// refused or coerced into the range by the instrument live), every enumerated value (those the
// catalogue marks refused must be refused) and an illegal one; every readable attribute read; every
// channel name and illegal ones. It runs in simulation and against the emulator, on both families,
// prints how many cases of each kind ran, and writes them, one JSON file per setup, to the build
// tree (TARVEK_CORE_FIGURES_DIR), from which docs/compliance.md's figures are generated and checked
// (tools/generators/gen_compliance_figures.py).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include <unistd.h>

#include "CatalogueTestSupport.h"
#include "driver/attributes/CatalogueFacts.h"
#include "tools/cli/Json.h"

namespace cattest {
namespace {

using tarvek::Access;
using tarvek::AttributeRow;
using tarvek::CatalogueEntry;
using tarvek::ValueType;

// The kinds of case, in the order the summary lists them.
enum Kind { kLegal, kAtLimit, kPastLimit, kEnumValue, kIllegal, kRead, kChannel, kRefused, kKinds };
constexpr const char* kKindNames[kKinds] = {
    "legal value",      "value at a limit",    "value just past a limit",
    "enumerated value", "illegal value",       "read",
    "channel name",     "refused on the model"};

// The kinds' keys in the figures files.
constexpr const char* kKindKeys[kKinds] = {"legal",   "at_limit", "past_limit", "enum_value",
                                           "illegal", "read",     "channel",    "refused"};

struct Tally {
    std::size_t arrCounts[kKinds] = {};
};

// Writes <TARVEK_CORE_FIGURES_DIR>/<setup>.json for each setup that ran in this process: its
// counts and whether its test passed. One file per setup, since ctest runs each in a process.
void WriteFigures(const std::map<std::string, Tally>& mapTallies) {
    const ::testing::TestSuite* pSuite = ::testing::UnitTest::GetInstance()->current_test_suite();
    std::map<std::string, bool> mapPassed;
    for (int n = 0; pSuite != nullptr && n < pSuite->total_test_count(); ++n) {
        const ::testing::TestInfo* pInfo = pSuite->GetTestInfo(n);
        const std::string strName = pInfo->name();
        if (pInfo->should_run()) {
            mapPassed[strName.substr(strName.rfind('/') + 1)] = pInfo->result()->Passed();
        }
    }
    const std::filesystem::path directory(TARVEK_CORE_FIGURES_DIR);
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    for (const auto& [strSetup, tally] : mapTallies) {
        cli::JsonObject counts;
        for (int n = 0; n < kKinds; ++n) {
            counts.Add(kKindKeys[n], std::to_string(tally.arrCounts[n]));
        }
        cli::JsonObject figures;
        figures.Add("setup", cli::JsonString(strSetup))
            .Add("passed", cli::JsonBool(mapPassed.count(strSetup) != 0 && mapPassed[strSetup]))
            .Add("counts", counts.Text());
        // Written beside and renamed, so that a reader in another process
        // (ctest runs several at once) never sees half a file.
        const std::filesystem::path target = directory / (strSetup + ".json");
        std::filesystem::path temporary = target;
        temporary += "." + std::to_string(::getpid());
        {
            std::ofstream file(temporary);
            file << figures.Text() << '\n';
            EXPECT_TRUE(file.good()) << "cannot write the figures to " << temporary;
        }
        std::filesystem::rename(temporary, target, error);
        EXPECT_FALSE(error) << "cannot write the figures to " << target << ": " << error.message();
    }
}

std::map<std::string, Tally>& Tallies() {
    static std::map<std::string, Tally> mapTallies;
    return mapTallies;
}

using Case = std::tuple<bool, Model>;  // live, model

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return std::string(std::get<0>(info.param) ? "Emulator" : "Simulated") + "Model" +
           std::get<1>(info.param).pModel;
}

const char* FamilyOf(const Model& model) {
    return model.pFamily;
}

// The model's legal range for the row, if the catalogue gives one.
const tarvek::ValueRange* RangeOf(const AttributeRow& row, const Model& model) {
    const tarvek::AttributeFacts* pFacts = tarvek::FindFacts(row.id);
    if (pFacts == nullptr || !pFacts->ranges.bHas || row.values != nullptr) {
        return nullptr;
    }
    return std::strcmp(FamilyOf(model), tarvek::kFamily6310) == 0 ? &pFacts->ranges.r6310
                                                                  : &pFacts->ranges.r6510;
}

Value Number(const AttributeRow& row, double dValue) {
    if (row.type == ValueType::Int32) {
        return ViInt32{static_cast<ViInt32>(std::lround(dValue))};
    }
    return ViReal64{dValue};
}

// How far past a limit the "just past" value lies.
double Step(const AttributeRow& row, double dLimit) {
    return row.type == ValueType::Int32 ? 1.0 : std::max(1e-3, std::fabs(dLimit) * 1e-6);
}

// Each value the row's map names, once, and whether the catalogue says a
// write of it is taken.
std::vector<std::pair<ViInt32, bool>> NamedValues(const AttributeRow& row) {
    const drt::EnumCommandMap& map = row.values();
    const tarvek::AcceptedValues* pAccepted = tarvek::FindAcceptedValues(row.id);
    std::set<std::string> setApplied;
    for (const auto& info : map) {
        if (!(info.models.size() == 1 && info.models.front() == drt::kNoModel)) {
            setApplied.insert(info.name);
        }
    }
    std::vector<std::pair<ViInt32, bool>> vecValues;
    std::set<std::string> setSeen;
    for (const auto& info : map) {
        if (!setSeen.insert(info.name).second) {
            continue;
        }
        bool bTaken = setApplied.count(info.name) != 0;
        if (pAccepted != nullptr) {
            // Built by appending: GCC 12 at -O3 warns of overlapping copies in
            // "," + temporary.
            std::string strList(",");
            strList += pAccepted->pAccepted;
            strList += ',';
            std::string strName(",");
            strName += info.name;
            strName += ',';
            bTaken = strList.find(strName) != std::string::npos;
        }
        vecValues.emplace_back(info.value, bTaken);
    }
    return vecValues;
}

Value EnumValue(const AttributeRow& row, ViInt32 nValue) {
    if (row.type == ValueType::Boolean) {
        return ViBoolean{static_cast<ViBoolean>(nValue)};
    }
    return ViInt32{nValue};
}

bool NotSupported(const CatalogueEntry& entry) {
    return entry.pNote != nullptr && std::strcmp(entry.pNote, "Not supported") == 0;
}

class CoreProcedure : public ::testing::TestWithParam<Case> {
  public:
    static void TearDownTestSuite() {
        std::printf("\nUnit-test procedure summary (cases per kind):\n");
        Tally total;
        for (const auto& [strName, tally] : Tallies()) {
            std::size_t nSum = 0;
            std::printf("  %s:", strName.c_str());
            for (int n = 0; n < kKinds; ++n) {
                std::printf(" %zu %s;", tally.arrCounts[n], kKindNames[n]);
                total.arrCounts[n] += tally.arrCounts[n];
                nSum += tally.arrCounts[n];
            }
            std::printf(" %zu in all\n", nSum);
        }
        std::size_t nAll = 0;
        for (std::size_t nCount : total.arrCounts) {
            nAll += nCount;
        }
        std::printf("  total: %zu cases\n", nAll);
        WriteFigures(Tallies());
    }
};

TEST_P(CoreProcedure, EveryAttributeTakesItsLegalValuesAndRefusesTheOthers) {
    const auto& [bLive, model] = GetParam();
    const char* pOptions = "RangeCheck=1,QueryInstrStatus=1";
    std::unique_ptr<LiveInstrument> pLive;
    std::unique_ptr<SimulatedInstrument> pSimulated;
    if (bLive) {
        pLive = std::make_unique<LiveInstrument>(model.pModel, pOptions);
    } else {
        pSimulated = std::make_unique<SimulatedInstrument>(model.pModel, pOptions);
    }
    const ViSession vi = bLive ? pLive->vi() : pSimulated->vi();
    ASSERT_NE(vi, VI_NULL);
    Tally& tally = Tallies()[CaseName({GetParam(), 0})];
    const std::vector<std::string> vecChannels = tarvektest::ChannelsOf(model);
    const std::vector<std::string> vecIllegalChannels = tarvektest::IllegalChannelsOf(model);

    for (const CatalogueEntry& entry : tarvek::CatalogueEntries()) {
        const AttributeRow& row = entry.row;
        SCOPED_TRACE(row.name);
        const bool bChannel = row.channel == tarvek::ChannelKind::Output;
        const char* pSelector = bChannel ? "CH1" : nullptr;
        const bool bWritable = row.access == Access::ReadWrite;
        Value value;

        if (RefusedOn(row, model) || NotSupported(entry)) {
            EXPECT_EQ(ReadAttribute(vi, row, pSelector, value), IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED);
            if (bWritable) {
                EXPECT_EQ(WriteAttribute(vi, row, pSelector, TestValueFor(row).value),
                          IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED);
            }
            ++tally.arrCounts[kRefused];
            continue;
        }

        // Every readable attribute reads; the value is put back after the writes.
        Value original;
        ASSERT_EQ(ReadAttribute(vi, row, pSelector, original), VI_SUCCESS) << ErrorText(vi);
        ++tally.arrCounts[kRead];

        if (bChannel) {
            for (const std::string& strChannel : vecChannels) {
                SCOPED_TRACE(strChannel);
                EXPECT_EQ(ReadAttribute(vi, row, strChannel.c_str(), value), VI_SUCCESS)
                    << ErrorText(vi);
                ++tally.arrCounts[kChannel];
            }
            for (const std::string& strChannel : vecIllegalChannels) {
                SCOPED_TRACE(strChannel);
                EXPECT_LT(ReadAttribute(vi, row, strChannel.c_str(), value), 0);
                ++tally.arrCounts[kChannel];
            }
        }
        if (!bWritable) {
            continue;
        }

        if (row.values != nullptr) {
            for (const auto& [nValue, bTaken] : NamedValues(row)) {
                SCOPED_TRACE(nValue);
                const ViStatus status = WriteAttribute(vi, row, pSelector, EnumValue(row, nValue));
                if (bTaken) {
                    EXPECT_EQ(status, VI_SUCCESS) << ErrorText(vi);
                    EXPECT_EQ(ReadAttribute(vi, row, pSelector, value), VI_SUCCESS);
                    EXPECT_EQ(value, EnumValue(row, nValue));
                } else {
                    EXPECT_LT(status, 0) << "the catalogue marks the value refused";
                }
                ++tally.arrCounts[kEnumValue];
            }
            if (row.type == ValueType::Int32) {
                EXPECT_LT(WriteAttribute(vi, row, pSelector, ViInt32{9999}), 0);
                ++tally.arrCounts[kIllegal];
            }
        } else if (const tarvek::ValueRange* pRange = RangeOf(row, model)) {
            const double dMiddle = row.type == ValueType::Int32
                                       ? std::floor((pRange->dMin + pRange->dMax) / 2)
                                       : (pRange->dMin + pRange->dMax) / 2;
            EXPECT_EQ(WriteAttribute(vi, row, pSelector, Number(row, dMiddle)), VI_SUCCESS)
                << ErrorText(vi);
            ++tally.arrCounts[kLegal];
            for (double dLimit : {pRange->dMin, pRange->dMax}) {
                SCOPED_TRACE(dLimit);
                EXPECT_EQ(WriteAttribute(vi, row, pSelector, Number(row, dLimit)), VI_SUCCESS)
                    << ErrorText(vi);
                ++tally.arrCounts[kAtLimit];
            }
            const double dBelow = pRange->dMin - Step(row, pRange->dMin);
            const double dAbove = pRange->dMax + Step(row, pRange->dMax);
            for (double dPast : {dBelow, dAbove}) {
                SCOPED_TRACE(dPast);
                const ViStatus status = WriteAttribute(vi, row, pSelector, Number(row, dPast));
                if (!bLive) {
                    EXPECT_EQ(status, IVI_ERROR_INVALID_VALUE) << "simulation refuses it itself";
                } else if (status >= 0) {
                    // The instrument took it: only by coercing it into the range.
                    ASSERT_EQ(ReadAttribute(vi, row, pSelector, value), VI_SUCCESS);
                    const double dRead = row.type == ValueType::Int32 ? std::get<ViInt32>(value)
                                                                      : std::get<ViReal64>(value);
                    EXPECT_GE(dRead, pRange->dMin);
                    EXPECT_LE(dRead, pRange->dMax);
                } else {
                    // Refused by the instrument (its reason through the status
                    // check) or, for values the driver holds, by the driver.
                    EXPECT_TRUE(status == IVI_ERROR_INSTRUMENT_STATUS ||
                                status == IVI_ERROR_INVALID_VALUE)
                        << status;
                }
                ++tally.arrCounts[kPastLimit];
            }
        } else {
            const TestValue legal = TestValueFor(row);
            EXPECT_EQ(WriteAttribute(vi, row, pSelector, legal.value), VI_SUCCESS) << ErrorText(vi);
            ++tally.arrCounts[kLegal];
            if (row.type == ValueType::String) {
                EXPECT_LT(WriteAttribute(vi, row, pSelector, std::string("5;*RST")), 0);
                ++tally.arrCounts[kIllegal];
            }
        }
        EXPECT_EQ(WriteAttribute(vi, row, pSelector, original), VI_SUCCESS) << ErrorText(vi);
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, CoreProcedure,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kModels)),
                         CaseName);

}  // namespace
}  // namespace cattest
