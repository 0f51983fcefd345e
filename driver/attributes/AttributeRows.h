// Attributes declared as table rows.
//
// Each attribute is one AttributeRow; RegisterRows<kRows>() turns every row of
// a constexpr array into a registry descriptor whose read and write callbacks
// are generated from the row. The generated callbacks follow the fixed step
// orders of the driver:
//
//   read:  fetch session (0xBFFA1190), lock, null value pointer (0xBFFA0058
//          naming TARVEK_get_<NAME>, "AttributeValue"), model gate (0xBFFA0012),
//          channel resolution to exactly one channel (channel rows), getter
//          cache guard; simulating: the cached value (Setting rows) or the
//          row's default; otherwise select the channel (channel rows), send
//          the query, convert (number, or text through the row's map), run the
//          instrument status check; the guard records the value; unlock.
//   write: fetch session, lock, model gate, channel resolution to a list
//          (channel rows), setter cache guard (channel rows skip channels
//          already holding the value); simulating: done; otherwise convert
//          (enum/boolean word; 0xBFFA0000 sends nothing), send the command
//          (per pending channel, after selecting it, stopping at the first
//          failure), run the status check once; the guard records the value;
//          unlock.
//
// Formats: reals are written "%0.15lg" and read "%lf%*t"; numeric ViInt32
// "%ld" / "%ld%*t"; booleans, enumerations and texts are written "%s" and read
// as the response line "%#t" (256 characters, line feed dropped). So the row's command
// carries "%0.15lg", "%ld" or "%s" for its value, and, like every command and
// query, ends with its own "\n".
//
// A row whose behaviour is genuinely different names its hand-written
// callbacks in .getter / .setter; they replace the generated ones (a
// hand-written getter on a ReadWrite row still gets a generated setter unless
// .setter is given too). Hand-written callbacks use the helpers below
// (ResolveChannelList, ResolveOneChannel, SelectChannel, the cache guards of
// runtime/attributes/CacheManager.h, drt::CallLocked).
//
// Example rows (the line feeds are part of the command texts):
//
//   constexpr AttributeRow kProtectionRows[] = {
//       {TARVEK_ATTRIBUTE(OCP_ENABLED), .type = ValueType::Boolean,
//        .query = "SOUR:CURR:PROT:STAT?\n", .command = "SOUR:CURR:PROT:STAT %s\n",
//        .values = &drt::BooleanMap, .sim = VI_TRUE},
//       {TARVEK_ATTRIBUTE(OCP_TRIPPED), .type = ValueType::Boolean, .access = Access::ReadOnly,
//        .query = "SOUR:CURR:PROT:TRIP?\n", .values = &drt::BooleanMap,
//        .sim = VI_FALSE, .simKind = SimKind::Fixed},
//       {TARVEK_ATTRIBUTE(VOLTAGE_LEVEL), .type = ValueType::Real64,
//        .query = "SOUR:VOLT:LEV:IMM:AMPL?\n", .command = "SOUR:VOLT:LEV:IMM:AMPL %0.15lg\n",
//        .sim = 0.0, .channel = ChannelKind::Output},
//       {TARVEK_ATTRIBUTE(BATTERY_TEST_CURRENT), .type = ValueType::Real64,
//        .query = "BATT:MOD:CURR?\n", .command = "BATT:MOD:CURR %0.15lg\n",
//        .unsupported = kFamily6310, .sim = 0.0},
//       {TARVEK_ATTRIBUTE(QUESTIONABLE_INSTRUMENT_SUMMARY1_ENABLE_REGISTER),
//        .query = "STAT:QUES:ISUM1:ENAB?\n", .command = "STAT:QUES:ISUM1:ENAB %ld\n",
//        .family = {kFamily6510, "STAT:QUES:ISUM:ENAB?\n", "STAT:QUES:ISUM:ENAB %ld\n"}},
//       {TARVEK_ATTRIBUTE(CHANNEL_COUNT), .access = Access::ReadOnly,
//        .getter = &TARVEK_get_CHANNEL_COUNT},
//   };
//   void RegisterProtectionAttributes(drt::AttributeRegistry& registry) {
//       RegisterRows<kProtectionRows>(registry);
//   }
//
// Designated initialisers must keep the member order of AttributeRow; every
// member left out takes the default shown there.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TARVEK.h"
#include "driver/Identity.h"
#include "driver/TARVEKDriverSession.h"
#include "runtime/attributes/AttributeRegistry.h"
#include "runtime/attributes/CacheManager.h"
#include "runtime/enums/EnumCommandMap.h"
#include "runtime/io/CommandText.h"
#include "runtime/repcap/OutputChannel.h"

// The id and constant name of attribute TARVEK_ATTR_<NAME>.
#define TARVEK_ATTRIBUTE(NAME) .id = TARVEK_ATTR_##NAME, .name = "TARVEK_ATTR_" #NAME

namespace tarvek {

using drt::ChannelKind;
using drt::ValueType;

enum class Access : unsigned char { ReadOnly, ReadWrite };

// What a simulated read returns: Setting rows the value last recorded (written
// or read) for the attribute and channel, else the default; Fixed rows
// (instrument state such as event registers and trip flags) always the
// default.
enum class SimKind : unsigned char { Setting, Fixed };

// The simulated default: an integer (also ViBoolean and enumerated values), a
// real or a text, written as a plain literal: .sim = VI_TRUE, .sim = 0.0,
// .sim = "1999.0".
struct SimDefault {
    constexpr SimDefault() = default;
    constexpr SimDefault(int nInt) : nValue(nInt), dValue(nInt) {}
    constexpr SimDefault(double dReal) : dValue(dReal) {}
    constexpr SimDefault(const char* pString) : pText(pString) {}

    ViInt32 nValue = 0;
    ViReal64 dValue = 0.0;
    const char* pText = "";
};

// Commands used instead of the row's own when the session's model belongs to
// pFamily (a null text keeps the row's own).
struct FamilyCommands {
    const char* pFamily = nullptr;
    const char* pQuery = nullptr;
    const char* pCommand = nullptr;
};

// The enumeration (or boolean) map of an attribute: a function returning a
// map built once on first use.
using EnumMapFn = const drt::EnumCommandMap& (*)();

struct AttributeRow {
    ViAttr id = 0;
    const char* name = "";  // "TARVEK_ATTR_<NAME>"
    ValueType type = ValueType::Int32;
    Access access = Access::ReadWrite;
    const char* query = nullptr;        // with "\n"; null: the generated read sends nothing
    const char* command = nullptr;      // with "\n" and one of "%0.15lg", "%ld", "%s"
    EnumMapFn values = nullptr;         // boolean or enumeration map; null: number or free text
    const char* unsupported = nullptr;  // comma-separated models/families refused; null: all models
    SimDefault sim{};
    SimKind simKind = SimKind::Setting;
    ChannelKind channel = ChannelKind::None;
    FamilyCommands family{};
    drt::AnyGetter getter{};  // hand-written read callback, replacing the generated one
    drt::AnySetter setter{};  // hand-written write callback, replacing the generated one
    const drt::TextGrammar* text = nullptr;  // text rows: what the value may hold; null: any
                                             // text a command can carry
};

// Per-row data built once on first use: the unsupported list and the callback
// names used in messages ("TARVEK_get_<NAME>", "TARVEK_set_<NAME>").
struct RowStatics {
    explicit RowStatics(const AttributeRow& row);
    std::vector<std::string> vecUnsupportedModels;
    std::string strGetName;
    std::string strSetName;
};

// nStatus of a query that read the reals in values, or a recorded
// unexpected-response error when one of them is not finite: an instrument
// setting or reading is never infinite, and an overlong digit string or a
// "NAN" reply must not pass as a value.
ViStatus RefuseNonFiniteReply(TARVEKDriverSession& session, ViStatus nStatus,
                              std::initializer_list<ViReal64> values);

// The generated callbacks' bodies, shared by every row of a type.
template <class T>
ViStatus ReadRow(const AttributeRow& row, const RowStatics& statics, ViSession vi,
                 ViConstString channelName, T* pValue);
ViStatus ReadRowString(const AttributeRow& row, const RowStatics& statics, ViSession vi,
                       ViConstString channelName, ViInt32 nBufferSize, ViChar* pBuffer);
template <class T>
ViStatus WriteRow(const AttributeRow& row, const RowStatics& statics, ViSession vi,
                  ViConstString channelName, T value);

namespace detail {

template <ValueType Type>
struct CTypeOf;
template <>
struct CTypeOf<ValueType::Int32> {
    using type = ViInt32;
};
template <>
struct CTypeOf<ValueType::Real64> {
    using type = ViReal64;
};
template <>
struct CTypeOf<ValueType::Boolean> {
    using type = ViBoolean;
};
template <>
struct CTypeOf<ValueType::Session> {
    using type = ViSession;
};
template <>
struct CTypeOf<ValueType::String> {
    using type = ViConstString;
};

// The callbacks generated for row I of the array Rows.
template <const auto& Rows, std::size_t I>
struct RowCallbacks {
    static constexpr const AttributeRow& kRow = Rows[I];
    using T = typename CTypeOf<kRow.type>::type;

    static const RowStatics& Statics() {
        static const RowStatics statics(kRow);
        return statics;
    }
    static ViStatus Get(ViSession vi, ViConstString channelName, T* pValue) {
        return ReadRow<T>(kRow, Statics(), vi, channelName, pValue);
    }
    static ViStatus GetString(ViSession vi, ViConstString channelName, ViInt32 nBufferSize,
                              ViChar buffer[]) {
        return ReadRowString(kRow, Statics(), vi, channelName, nBufferSize, buffer);
    }
    static ViStatus Set(ViSession vi, ViConstString channelName, T value) {
        return WriteRow<T>(kRow, Statics(), vi, channelName, value);
    }

    static drt::AttributeDescriptor Descriptor() {
        drt::AnyGetter getter = kRow.getter;
        drt::AnySetter setter = kRow.setter;
        if constexpr (kRow.type == ValueType::String) {
            if (getter.Empty()) {
                getter = drt::AnyGetter(&GetString);
            }
        } else {
            if (getter.Empty()) {
                getter = drt::AnyGetter(&Get);
            }
        }
        if (setter.Empty() && kRow.access == Access::ReadWrite) {
            setter = drt::AnySetter(&Set);
        }
        drt::AttributeDescriptor descriptor =
            drt::AttributeDescriptor::Make(kRow.id, kRow.name, kRow.type, getter, setter);
        descriptor.pTextGrammar = kRow.text;
        return descriptor;
    }
};

}  // namespace detail

// Registers every row of Rows (a namespace-scope constexpr array of
// AttributeRow) in array order; the first registration of an id wins.
template <const auto& Rows>
void RegisterRows(drt::AttributeRegistry& registry) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (registry.Register(detail::RowCallbacks<Rows, I>::Descriptor()), ...);
    }
    (std::make_index_sequence<std::size(Rows)>{});
}

// The sections of the registry, registered in this order. Each is defined
// beside its rows.
void RegisterInherentAttributes(drt::AttributeRegistry& registry);   // InherentAttributes.cpp
void RegisterCatalogueAttributes(drt::AttributeRegistry& registry);  // CatalogueAttributes.cpp

// --- Helpers for generated and hand-written callbacks (all under the lock) ---

// Resolves a selector to the channels it names, in order. On a one-output
// model (Series6510) identifiers other than the first channel are refused
// with 0xBFFA0067.
ViStatus ResolveChannelList(TARVEKDriverSession& session, ViConstString channelName,
                            drt::ChannelListPtr& pChannels);
// Resolves a selector to exactly one channel; pHolder keeps it alive.
ViStatus ResolveOneChannel(TARVEKDriverSession& session, ViConstString channelName,
                           const drt::OutputChannel*& pChannel, drt::ChannelListPtr& pHolder);
// Makes the channel the instrument's selected one by writing
// TARVEK_ATTR_SELECTED_CHANNEL through the typed access (its own gate, cache
// and status check apply). A name not starting with CH1/CH2/CH3 (any case)
// is 0xBFFA0020. On a one-output model nothing is sent: the instrument has
// only that output. Call it only outside simulation.
ViStatus SelectChannel(TARVEKDriverSession& session, const drt::OutputChannel& channel);

// ResolveOneChannel, then the channel selected on the instrument unless the
// session simulates.
ViStatus ResolveAndSelectOne(TARVEKDriverSession& session, ViConstString channelName,
                             const drt::OutputChannel*& pChannel, drt::ChannelListPtr& pHolder);

// True when the session's model has a single output (Series6510).
bool IsSingleOutputModel(const TARVEKDriverSession& session);

// Copies a text into a caller's buffer, cut to nBufferSize - 1 characters and
// terminated; writes nothing when the buffer is null or nBufferSize < 1.
void CopyToBuffer(std::string_view strText, ViInt32 nBufferSize, ViChar* pBuffer);

}  // namespace tarvek
