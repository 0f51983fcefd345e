// Attributes of the two shapes the benchmarks measure, registered beside the
// driver's own, and a simulated session to run them on.
#pragma once

#include <cstdlib>

#include "TARVEK.h"
#include "driver/attributes/AttributeRows.h"
#include "runtime/attributes/AttributeDispatch.h"

namespace attrbench {

enum BenchId : ViAttr { kBenchReal = 1159101, kBenchRealChannel };

inline constexpr tarvek::AttributeRow kBenchRows[] = {
    {.id = kBenchReal,
     .name = "TARVEK_ATTR_BENCH_REAL",
     .type = tarvek::ValueType::Real64,
     .query = "SOUR:CURR:LEV:IMM:AMPL?\n",
     .command = "SOUR:CURR:LEV:IMM:AMPL %0.15lg\n"},
    {.id = kBenchRealChannel,
     .name = "TARVEK_ATTR_BENCH_REAL_CHANNEL",
     .type = tarvek::ValueType::Real64,
     .query = "SOUR:VOLT:LEV:IMM:AMPL?\n",
     .command = "SOUR:VOLT:LEV:IMM:AMPL %0.15lg\n",
     .channel = tarvek::ChannelKind::Output},
};

inline const drt::AttributeRegistry& BenchRegistry() {
    static const drt::AttributeRegistry registry = [] {
        drt::AttributeRegistry table = drt::AttributeTable();
        tarvek::RegisterRows<kBenchRows>(table);
        return table;
    }();
    return registry;
}

// The exported call's path for an attribute of the registry: dispatch, then
// the generated callback.
inline ViStatus SetReal(ViSession vi, ViConstString pChannel, ViAttr nId, ViReal64 dValue) {
    return drt::SetAttributeTyped<ViReal64>(BenchRegistry(), vi, pChannel, nId, dValue);
}

inline ViSession OpenSimulated() {
    ViSession vi = VI_NULL;
    if (TARVEK_InitWithOptions(const_cast<ViChar*>(""), VI_FALSE, VI_FALSE, "Simulate=1", &vi) !=
        VI_SUCCESS) {
        std::abort();
    }
    return vi;
}

}  // namespace attrbench
