// Every instrument function of tk6x1x.h beside its IVI-C counterpart: two
// sessions of the same model, one per interface, get the same calls in the
// same order (the table the generator writes from TARVEK.h), and each call
// must give the same status and the same outputs through both. In
// simulation and against two emulators of the same model.
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "AnsiTestSupport.h"

namespace ansitest {
namespace {

struct Outcome {
    int32_t nStatus = 0;
    std::vector<std::string> vecOutputs;

    void Add(const std::string& strText) { vecOutputs.push_back(strText); }
    void Add(bool bValue) { vecOutputs.emplace_back(bValue ? "true" : "false"); }
    template <class Number>
    void Add(Number value) {
        std::ostringstream stream;
        stream << value;
        vecOutputs.push_back(stream.str());
    }
};

struct FunctionRow {
    const char* pName;
    Outcome (*pAnsi)(TK6x1xSession);
    Outcome (*pIviC)(ViSession);
};

const std::vector<FunctionRow>& FunctionRows() {
    static const std::vector<FunctionRow> rows = {
#include "tk6x1x_function_table.inc"
    };
    return rows;
}

using FunctionCase = std::tuple<bool, Model>;  // live, model

std::string FunctionCaseName(const ::testing::TestParamInfo<FunctionCase>& info) {
    return std::string(std::get<0>(info.param) ? "Emulator" : "Simulated") + "Model" +
           std::get<1>(info.param).pModel;
}

class BothInterfaces : public ::testing::TestWithParam<FunctionCase> {};

TEST_P(BothInterfaces, EveryFunctionGivesTheSameStatusAndOutputs) {
    const auto& [bLive, model] = GetParam();
    std::unique_ptr<emu::Emulator> pForAnsi, pForIviC;
    std::string strOptions = "QueryInstrStatus=1";
    if (bLive) {
        pForAnsi = std::make_unique<emu::Emulator>(tarvektest::EmulatorFor(model.pModel));
        pForIviC = std::make_unique<emu::Emulator>(tarvektest::EmulatorFor(model.pModel));
        pForAnsi->Start();
        pForIviC->Start();
    } else {
        strOptions += std::string(";Simulate=1;DriverSetup=Model:") + model.pModel;
    }
    TK6x1xSession session = TK6X1X_INVALID_SESSION;
    ASSERT_EQ(TK6x1x_init_with_options(bLive ? pForAnsi->Resource().c_str() : "", true, true,
                                       strOptions.c_str(), &session),
              TK6X1X_SUCCESS)
        << AnsiLastError(TK6X1X_INVALID_SESSION);
    std::string strIviOptions = strOptions;
    for (char& ch : strIviOptions) {
        ch = ch == ';' ? ',' : ch;
    }
    std::string strResource = bLive ? pForIviC->Resource() : "";
    ViSession vi = VI_NULL;
    ASSERT_EQ(
        TARVEK_InitWithOptions(strResource.data(), VI_TRUE, VI_TRUE, strIviOptions.c_str(), &vi),
        VI_SUCCESS);

    ASSERT_GT(FunctionRows().size(), 40u);
    for (const FunctionRow& row : FunctionRows()) {
        SCOPED_TRACE(row.pName);
        const Outcome ansi = row.pAnsi(session);
        const Outcome ivi = row.pIviC(vi);
        EXPECT_EQ(ansi.nStatus, ivi.nStatus) << AnsiLastError(session);
        EXPECT_EQ(ansi.vecOutputs, ivi.vecOutputs);
    }
    EXPECT_EQ(TK6x1x_close(session), TK6X1X_SUCCESS);
    EXPECT_EQ(TARVEK_close(vi), VI_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(AnsiFunctions, BothInterfaces,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kModels)),
                         FunctionCaseName);

}  // namespace
}  // namespace ansitest
