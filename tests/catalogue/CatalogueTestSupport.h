// Shared pieces of the catalogue tests: sessions on both families, typed
// access by a row's value type, and the values the tests write.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "Emulator.h"
#include "LiveSession.h"
#include "TARVEK.h"
#include "TestModels.h"
#include "driver/attributes/CatalogueRows.h"

namespace cattest {

using Lines = std::vector<std::string>;
using Value = std::variant<ViInt32, ViReal64, ViBoolean, std::string>;

using tarvektest::kModels;
using tarvektest::Model;

inline std::string ModelName(const ::testing::TestParamInfo<Model>& info) {
    return std::string("Model") + info.param.pModel;
}

// The recorded error text of vi.
inline std::string ErrorText(ViSession vi) {
    ViStatus nCode = 0;
    std::vector<ViChar> text(1024, '\0');
    TARVEK_GetError(vi, &nCode, static_cast<ViInt32>(text.size()), text.data());
    return text.data();
}

// The row's value type read or written through the exported typed access.
ViStatus ReadAttribute(ViSession vi, const tarvek::AttributeRow& row, const char* pSelector,
                       Value& value);
ViStatus WriteAttribute(ViSession vi, const tarvek::AttributeRow& row, const char* pSelector,
                        const Value& value);

// A value the instrument accepts for the row, different from its default,
// and the text a write of it puts on the wire.
struct TestValue {
    Value value;
    std::string strWire;
};
TestValue TestValueFor(const tarvek::AttributeRow& row);

// The row's simulated default as a value of the row's type.
Value SimulatedDefault(const tarvek::AttributeRow& row);

// Whether the row's model gate refuses the family.
bool RefusedOn(const tarvek::AttributeRow& row, const Model& model);

// The row's query and command for the model, without the line feed.
std::string QueryFor(const tarvek::AttributeRow& row, const Model& model);
std::string CommandFor(const tarvek::AttributeRow& row, const Model& model,
                       const std::string& strWire);

// Opens a driver session on an emulator of the given model.
class LiveInstrument : public tarvektest::LiveSession {
  public:
    explicit LiveInstrument(const char* pModel, const char* pOptions = "")
        : LiveSession(tarvektest::EmulatorFor(pModel), pOptions) {}

    emu::Emulator& Instrument() { return Emulator(); }
};

class SimulatedInstrument {
  public:
    explicit SimulatedInstrument(const char* pModel, const char* pOptions = "");
    ~SimulatedInstrument();
    SimulatedInstrument(const SimulatedInstrument&) = delete;
    SimulatedInstrument& operator=(const SimulatedInstrument&) = delete;
    ViSession vi() const { return m_vi; }

  private:
    ViSession m_vi = VI_NULL;
};

}  // namespace cattest
