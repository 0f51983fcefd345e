// The unit-test procedure for an IVI driver through both interfaces, driven
// by the catalogue table that the IVI-ANSI-C generator writes: for every
// settable attribute a legal value, the values at each limit and just past
// it, every named value (those the catalogue marks refused must be refused)
// and an illegal one; every readable attribute read; every channel name and
// illegal ones. The same body runs through IVI-C and IVI-ANSI-C, in
// simulation and against the emulator, on both families, so the two
// interfaces are held to the same behaviour.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>

#include "AnsiTestSupport.h"

namespace ansitest {
namespace {

constexpr char kSessionGroup[] = "Session, identity and direct I/O";

using Case = std::tuple<Kind, bool, Model>;  // interface, live, model

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return std::string(std::get<0>(info.param) == Kind::IviC ? "IviC" : "AnsiC") +
           (std::get<1>(info.param) ? "Emulator" : "Simulated") + "Model" +
           std::get<2>(info.param).pModel;
}

bool Contains(const char* pList, const char* pWord) {
    return pList != nullptr && std::strstr(pList, pWord) != nullptr;
}

const Range* RangeOf(const Row& row, const Model& model, double& dMin, double& dMax) {
    if (!row.range.bHas || !row.values.empty()) {
        return nullptr;
    }
    const bool b6310 = std::strcmp(model.pFamily, "Series6310") == 0;
    dMin = b6310 ? row.range.dMin6310 : row.range.dMin6510;
    dMax = b6310 ? row.range.dMax6310 : row.range.dMax6510;
    return &row.range;
}

Value Number(const Row& row, double dValue) {
    if (row.cType == 'i') {
        return int32_t{static_cast<int32_t>(std::lround(dValue))};
    }
    return dValue;
}

Value Named(const Row& row, int32_t nValue) {
    if (row.cType == 'b') {
        return nValue != 0;
    }
    return nValue;
}

// A legal value for a row without a range or named values.
Value LegalValue(const Row& row) {
    static const std::map<std::string, std::string> kTexts = {
        {"SYSTEM_DATE", "2026,12,6"},
        {"SYSTEM_TIME", "10,20,30"},
        {"TIMER_RUN", "5"},
        {"BATTERY_TEST_FAIL_SAFE_TIME", "5"},
    };
    switch (row.cType) {
        case 'i':
            return int32_t{3};
        case 'r':
            return 1.25;
        case 's':
            return kTexts.count(row.pName) != 0 ? kTexts.at(row.pName) : std::string("text");
        default:
            return true;
    }
}

double AsNumber(const Value& value) {
    return std::holds_alternative<int32_t>(value) ? std::get<int32_t>(value)
                                                  : std::get<double>(value);
}

class CoreProcedure : public ::testing::TestWithParam<Case> {};

TEST_P(CoreProcedure, EveryAttributeTakesItsLegalValuesAndRefusesTheOthers) {
    const auto& [eKind, bLive, model] = GetParam();
    std::unique_ptr<emu::Emulator> pEmulator;
    if (bLive) {
        pEmulator = std::make_unique<emu::Emulator>(tarvektest::EmulatorFor(model.pModel));
        pEmulator->Start();
    }
    const std::unique_ptr<Api> pApi =
        OpenApi(eKind, bLive ? pEmulator->Resource() : "", !bLive, model.pModel);
    const std::vector<std::string> vecChannels = tarvektest::ChannelsOf(model);
    const std::vector<std::string> vecIllegalChannels = tarvektest::IllegalChannelsOf(model);
    Api& api = *pApi;
    ASSERT_FALSE(Rows().empty());
    std::size_t nCases = 0;  // attributes fully exercised or refused as the catalogue says

    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.pName);
        const char* pSelector = row.bChannel ? "CH1" : nullptr;
        Value value;

        if (Contains(row.pUnsupported, model.pFamily) ||
            std::strcmp(row.pNote, "Not supported") == 0) {
            EXPECT_EQ(api.Read(row, pSelector, value), IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED);
            if (row.bWritable) {
                EXPECT_EQ(api.Write(row, pSelector, LegalValue(row)),
                          IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED);
            }
            ++nCases;
            continue;
        }
        // The session's own attributes: each one reads (those of the I/O
        // session only where there is one).
        if (std::strcmp(row.pGroup, kSessionGroup) == 0) {
            if (bLive || !Contains(row.pNote, "not in simulation")) {
                EXPECT_GE(api.Read(row, pSelector, value), 0) << api.LastError();
                ++nCases;
            }
            continue;
        }

        Value original;
        ASSERT_EQ(api.Read(row, pSelector, original), VI_SUCCESS) << api.LastError();
        if (row.bChannel) {
            for (const std::string& strChannel : vecChannels) {
                SCOPED_TRACE(strChannel);
                EXPECT_EQ(api.Read(row, strChannel.c_str(), value), VI_SUCCESS) << api.LastError();
            }
            for (const std::string& strChannel : vecIllegalChannels) {
                SCOPED_TRACE(strChannel);
                EXPECT_LT(api.Read(row, strChannel.c_str(), value), 0);
            }
        }
        if (!row.bWritable) {
            ++nCases;
            continue;
        }

        double dMin = 0.0;
        double dMax = 0.0;
        if (!row.values.empty()) {
            for (const NamedValue& named : row.values) {
                SCOPED_TRACE(named.nValue);
                const bool bTaken = named.bSupported && !Contains(named.pRefusedBy, model.pFamily);
                const int32_t status = api.Write(row, pSelector, Named(row, named.nValue));
                if (bTaken) {
                    EXPECT_EQ(status, VI_SUCCESS) << api.LastError();
                    EXPECT_EQ(api.Read(row, pSelector, value), VI_SUCCESS);
                    EXPECT_EQ(value, Named(row, named.nValue));
                } else {
                    EXPECT_LT(status, 0) << "the catalogue marks the value refused";
                }
            }
            if (row.cType == 'i') {
                EXPECT_LT(api.Write(row, pSelector, int32_t{9999}), 0);
            }
        } else if (RangeOf(row, model, dMin, dMax) != nullptr) {
            const double dMiddle =
                row.cType == 'i' ? std::floor((dMin + dMax) / 2) : (dMin + dMax) / 2;
            EXPECT_EQ(api.Write(row, pSelector, Number(row, dMiddle)), VI_SUCCESS)
                << api.LastError();
            for (double dLimit : {dMin, dMax}) {
                SCOPED_TRACE(dLimit);
                EXPECT_EQ(api.Write(row, pSelector, Number(row, dLimit)), VI_SUCCESS)
                    << api.LastError();
            }
            auto step = [&](double dLimit) {
                return row.cType == 'i' ? 1.0 : std::max(1e-3, std::fabs(dLimit) * 1e-6);
            };
            for (double dPast : {dMin - step(dMin), dMax + step(dMax)}) {
                SCOPED_TRACE(dPast);
                const int32_t status = api.Write(row, pSelector, Number(row, dPast));
                if (!bLive) {
                    EXPECT_EQ(status, IVI_ERROR_INVALID_VALUE) << "simulation refuses it itself";
                } else if (status >= 0) {
                    // The instrument took it: only by coercing it into the range.
                    ASSERT_EQ(api.Read(row, pSelector, value), VI_SUCCESS);
                    EXPECT_GE(AsNumber(value), dMin);
                    EXPECT_LE(AsNumber(value), dMax);
                } else {
                    EXPECT_TRUE(status == IVI_ERROR_INSTRUMENT_STATUS ||
                                status == IVI_ERROR_INVALID_VALUE)
                        << status;
                }
            }
        } else {
            EXPECT_EQ(api.Write(row, pSelector, LegalValue(row)), VI_SUCCESS) << api.LastError();
            if (row.cType == 's') {
                EXPECT_LT(api.Write(row, pSelector, std::string("5;*RST")), 0);
            }
        }
        EXPECT_EQ(api.Write(row, pSelector, original), VI_SUCCESS) << api.LastError();
        ++nCases;
    }
    // Every row got to its end: the walk stopped nowhere on the way.
    const std::size_t nNotInSimulation =
        bLive ? 0 : std::count_if(Rows().begin(), Rows().end(), [](const Row& row) {
            return std::strcmp(row.pGroup, kSessionGroup) == 0 &&
                   Contains(row.pNote, "not in simulation");
        });
    EXPECT_EQ(nCases + nNotInSimulation, Rows().size());
}

INSTANTIATE_TEST_SUITE_P(BothInterfaces, CoreProcedure,
                         ::testing::Combine(::testing::Values(Kind::IviC, Kind::AnsiC),
                                            ::testing::Bool(), ::testing::ValuesIn(kModels)),
                         CaseName);

}  // namespace
}  // namespace ansitest
