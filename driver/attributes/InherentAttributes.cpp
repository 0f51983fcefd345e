// The inherent and identity attributes, the direct-I/O attributes and the
// channel attributes. Most read session state rather than the instrument, so
// they have hand-written callbacks; TARVEK_ATTR_SELECTED_CHANNEL is an
// ordinary instrument row.
#include <string>

#include "TARVEK.h"
#include "driver/Identity.h"
#include "driver/Inherent.h"
#include "driver/ModelTable.h"
#include "driver/attributes/AttributeRows.h"
#include "driver/attributes/EnumTables.h"
#include "runtime/attributes/AttributeDispatch.h"
#include "runtime/session/CallFrame.h"
#include "visa.h"

namespace tarvek {

namespace {

// --- Texts the session or the build knows --------------------------------

std::string SupportedModels() {
    static const std::string strModels = [] {
        std::string strJoined;
        for (const auto& [strModel, strFamily] : ModelTable()) {
            strJoined += strJoined.empty() ? "" : ",";
            strJoined += strModel;
        }
        return strJoined;
    }();
    return strModels;
}

struct TextSource {
    const char* pGetName;
    std::string (*pText)(const TARVEKDriverSession& session);
};

enum TextIndex : std::size_t {
    kDriverSetupText,
    kPrefixText,
    kResourceText,
    kLogicalNameText,
    kSupportedModelsText,
    kGroupCapabilitiesText,
    kFirmwareRevisionText,
    kManufacturerText,
    kModelText,
    kVendorText,
    kDescriptionText,
    kRevisionText,
};

constexpr TextSource kTexts[] = {
    {"TARVEK_get_DRIVER_SETUP", [](const TARVEKDriverSession& s) { return s.GetDriverSetup(); }},
    {"TARVEK_get_SPECIFIC_DRIVER_PREFIX",
     [](const TARVEKDriverSession&) { return std::string(kDriverPrefix); }},
    {"TARVEK_get_IO_RESOURCE_DESCRIPTOR",
     [](const TARVEKDriverSession& s) { return s.GetIoResourceDescriptor(); }},
    {"TARVEK_get_LOGICAL_NAME", [](const TARVEKDriverSession& s) { return s.GetLogicalName(); }},
    {"TARVEK_get_SUPPORTED_INSTRUMENT_MODELS",
     [](const TARVEKDriverSession&) { return SupportedModels(); }},
    {"TARVEK_get_GROUP_CAPABILITIES",
     [](const TARVEKDriverSession&) { return std::string(kGroupCapabilities); }},
    {"TARVEK_get_INSTRUMENT_FIRMWARE_REVISION",
     [](const TARVEKDriverSession& s) { return InstrumentRevision(s); }},
    {"TARVEK_get_INSTRUMENT_MANUFACTURER",
     [](const TARVEKDriverSession& s) {
         return s.GetSimulate() ? std::string(kDriverVendor) : s.GetInstrumentManufacturer();
     }},
    {"TARVEK_get_INSTRUMENT_MODEL",
     [](const TARVEKDriverSession& s) { return s.GetInstrumentModel(); }},
    {"TARVEK_get_SPECIFIC_DRIVER_VENDOR",
     [](const TARVEKDriverSession&) { return std::string(kDriverVendor); }},
    {"TARVEK_get_SPECIFIC_DRIVER_DESCRIPTION",
     [](const TARVEKDriverSession&) {
         return std::string(kDriverDescription) + kDescriptionSuffix;
     }},
    {"TARVEK_get_SPECIFIC_DRIVER_REVISION",
     [](const TARVEKDriverSession&) { return std::string(kDriverRevision); }},
};

template <std::size_t I>
ViStatus GetText(ViSession vi, ViConstString, ViInt32 nBufferSize, ViChar buffer[]) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (buffer == nullptr) {
            return session.ReportError(IVI_ERROR_NULL_POINTER,
                                       {kTexts[I].pGetName, "AttributeValue"});
        }
        CopyToBuffer(kTexts[I].pText(session), nBufferSize, buffer);
        return VI_SUCCESS;
    });
}

// --- The session's option flags ------------------------------------------

struct FlagSource {
    const char* pGetName;
    bool (drt::DriverSession::*pGet)() const;
    void (drt::DriverSession::*pSet)(bool);
};

enum FlagIndex : std::size_t {
    kRangeCheckFlag,
    kQueryStatusFlag,
    kCacheFlag,
    kSimulateFlag,
    kRecordCoercionsFlag,
    kInterchangeCheckFlag,
};

constexpr FlagSource kFlags[] = {
    {"TARVEK_get_RANGE_CHECK", &drt::DriverSession::GetRangeCheck,
     &drt::DriverSession::SetRangeCheck},
    {"TARVEK_get_QUERY_INSTRUMENT_STATUS", &drt::DriverSession::GetQueryInstrStatus,
     &drt::DriverSession::SetQueryInstrStatus},
    {"TARVEK_get_CACHE", &drt::DriverSession::GetCache, &drt::DriverSession::SetCache},
    {"TARVEK_get_SIMULATE", &drt::DriverSession::GetSimulate, nullptr},
    {"TARVEK_get_RECORD_COERCIONS", &drt::DriverSession::GetRecordCoercions,
     &drt::DriverSession::SetRecordCoercions},
    {"TARVEK_get_INTERCHANGE_CHECK", &drt::DriverSession::GetInterchangeCheck, nullptr},
};

template <std::size_t I>
ViStatus GetFlag(ViSession vi, ViConstString, ViBoolean* pValue) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (pValue == nullptr) {
            return session.ReportError(IVI_ERROR_NULL_POINTER,
                                       {kFlags[I].pGetName, "AttributeValue"});
        }
        *pValue = (session.*kFlags[I].pGet)() ? VI_TRUE : VI_FALSE;
        return VI_SUCCESS;
    });
}

// Exactly VI_TRUE turns a flag on; any other value turns it off.
template <std::size_t I>
ViStatus SetFlag(ViSession vi, ViConstString, ViBoolean value) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        (session.*kFlags[I].pSet)(value == VI_TRUE);
        return VI_SUCCESS;
    });
}

// Simulation is fixed at initialization: writing the value it has is
// accepted, any change refused.
ViStatus SetSimulate(ViSession vi, ViConstString, ViBoolean value) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        if ((value == VI_TRUE) != session.GetSimulate()) {
            return session.ReportError(IVI_ERROR_CANNOT_CHANGE_SIMULATION_STATE);
        }
        return VI_SUCCESS;
    });
}

ViStatus SetInterchangeCheck(ViSession vi, ViConstString, ViBoolean value) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        if (value == VI_TRUE) {
            return session.ReportErrorText(IVI_ERROR_VALUE_NOT_SUPPORTED,
                                           "Interchange checking is not supported by the driver.",
                                           {"True", "AttributeValue", "SetAttributeViBoolean"});
        }
        session.SetInterchangeCheck(false);
        return VI_SUCCESS;
    });
}

// --- Integers ------------------------------------------------------------

template <class Body>
ViStatus GetInt32(ViSession vi, const char* pGetName, ViInt32* pValue, Body body) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (pValue == nullptr) {
            return session.ReportError(IVI_ERROR_NULL_POINTER, {pGetName, "AttributeValue"});
        }
        *pValue = body(session);
        return VI_SUCCESS;
    });
}

ViStatus GetChannelCount(ViSession vi, ViConstString, ViInt32* pValue) {
    return GetInt32(vi, "TARVEK_get_CHANNEL_COUNT", pValue, [](TARVEKDriverSession& session) {
        return session.IsModelInFamily(kFamily6310)
                   ? static_cast<ViInt32>(PhysicalChannels().size())
                   : 1;
    });
}

ViStatus GetClassSpecMajorVersion(ViSession vi, ViConstString, ViInt32* pValue) {
    return GetInt32(vi, "TARVEK_get_SPECIFIC_DRIVER_CLASS_SPEC_MAJOR_VERSION", pValue,
                    [](TARVEKDriverSession&) { return kClassSpecMajorVersion; });
}

ViStatus GetClassSpecMinorVersion(ViSession vi, ViConstString, ViInt32* pValue) {
    return GetInt32(vi, "TARVEK_get_SPECIFIC_DRIVER_CLASS_SPEC_MINOR_VERSION", pValue,
                    [](TARVEKDriverSession&) { return kClassSpecMinorVersion; });
}

// --- Direct I/O attributes -------------------------------------------------

// Asks the typed access whether the session simulates (its status does not
// matter) and refuses direct I/O when it does.
ViStatus RefuseDirectIoInSimulation(TARVEKDriverSession& session) {
    ViBoolean bSimulate = VI_FALSE;
    (void)drt::GetAttributeTyped<ViBoolean>(session.GetViSession(), "", TARVEK_ATTR_SIMULATE,
                                            &bSimulate);
    if (bSimulate != VI_FALSE) {
        return session.ReportErrorText(
            IVI_SPECIFIC_ERROR_BASE + 0x214,
            "Direct I/O operations are not available in simulation mode.");
    }
    return VI_SUCCESS;
}

ViStatus GetIoTimeout(ViSession vi, ViConstString, ViInt32* pValue) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (pValue == nullptr) {
            return session.ReportError(IVI_ERROR_NULL_POINTER,
                                       {"TARVEK_get_SYSTEM_IO_TIMEOUT", "AttributeValue"});
        }
        const ViStatus nStatus = RefuseDirectIoInSimulation(session);
        if (nStatus < 0) {
            return nStatus;
        }
        return viGetAttribute(session.GetInstrumentHandle(), VI_ATTR_TMO_VALUE, pValue);
    });
}

ViStatus SetIoTimeout(ViSession vi, ViConstString, ViInt32 value) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        // VISA's timeout is unsigned: -1 is its VI_TMO_INFINITE, and any
        // other negative value would pass as a timeout of weeks.
        if (value < -1) {
            return session.ReportErrorText(
                IVI_ERROR_INVALID_VALUE,
                "The I/O timeout is in milliseconds from 0 to 2147483647, or -1 "
                "(VI_TMO_INFINITE) to wait without end.",
                {std::to_string(value), "TARVEK_set_SYSTEM_IO_TIMEOUT", "AttributeValue"});
        }
        const ViStatus nStatus = RefuseDirectIoInSimulation(session);
        if (nStatus < 0) {
            return nStatus;
        }
        return viSetAttribute(session.GetInstrumentHandle(), VI_ATTR_TMO_VALUE,
                              static_cast<ViAttrState>(static_cast<ViUInt32>(value)));
    });
}

ViStatus GetIoSession(ViSession vi, ViConstString, ViSession* pValue) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (pValue == nullptr) {
            return session.ReportError(IVI_ERROR_NULL_POINTER,
                                       {"TARVEK_get_SYSTEM_IO_SESSION", "AttributeValue"});
        }
        const ViStatus nStatus = RefuseDirectIoInSimulation(session);
        if (nStatus < 0) {
            return nStatus;
        }
        *pValue = session.GetInstrumentHandle();
        return VI_SUCCESS;
    });
}

constexpr AttributeRow kInherentRows[] = {
    {TARVEK_ATTRIBUTE(RANGE_CHECK), .type = ValueType::Boolean, .getter = &GetFlag<kRangeCheckFlag>,
     .setter = &SetFlag<kRangeCheckFlag>},
    {TARVEK_ATTRIBUTE(QUERY_INSTRUMENT_STATUS), .type = ValueType::Boolean,
     .getter = &GetFlag<kQueryStatusFlag>, .setter = &SetFlag<kQueryStatusFlag>},
    {TARVEK_ATTRIBUTE(CACHE), .type = ValueType::Boolean, .getter = &GetFlag<kCacheFlag>,
     .setter = &SetFlag<kCacheFlag>},
    {TARVEK_ATTRIBUTE(SIMULATE), .type = ValueType::Boolean, .getter = &GetFlag<kSimulateFlag>,
     .setter = &SetSimulate},
    {TARVEK_ATTRIBUTE(RECORD_COERCIONS), .type = ValueType::Boolean,
     .getter = &GetFlag<kRecordCoercionsFlag>, .setter = &SetFlag<kRecordCoercionsFlag>},
    {TARVEK_ATTRIBUTE(DRIVER_SETUP), .type = ValueType::String, .access = Access::ReadOnly,
     .getter = &GetText<kDriverSetupText>},
    {TARVEK_ATTRIBUTE(INTERCHANGE_CHECK), .type = ValueType::Boolean,
     .getter = &GetFlag<kInterchangeCheckFlag>, .setter = &SetInterchangeCheck},
    {TARVEK_ATTRIBUTE(CHANNEL_COUNT), .access = Access::ReadOnly, .getter = &GetChannelCount},
    {TARVEK_ATTRIBUTE(SPECIFIC_DRIVER_PREFIX), .type = ValueType::String,
     .access = Access::ReadOnly, .getter = &GetText<kPrefixText>},
    {TARVEK_ATTRIBUTE(IO_RESOURCE_DESCRIPTOR), .type = ValueType::String,
     .access = Access::ReadOnly, .getter = &GetText<kResourceText>},
    {TARVEK_ATTRIBUTE(LOGICAL_NAME), .type = ValueType::String, .access = Access::ReadOnly,
     .getter = &GetText<kLogicalNameText>},
    {TARVEK_ATTRIBUTE(SUPPORTED_INSTRUMENT_MODELS), .type = ValueType::String,
     .access = Access::ReadOnly, .getter = &GetText<kSupportedModelsText>},
    {TARVEK_ATTRIBUTE(GROUP_CAPABILITIES), .type = ValueType::String, .access = Access::ReadOnly,
     .getter = &GetText<kGroupCapabilitiesText>},
    {TARVEK_ATTRIBUTE(INSTRUMENT_FIRMWARE_REVISION), .type = ValueType::String,
     .access = Access::ReadOnly, .getter = &GetText<kFirmwareRevisionText>},
    {TARVEK_ATTRIBUTE(INSTRUMENT_MANUFACTURER), .type = ValueType::String,
     .access = Access::ReadOnly, .getter = &GetText<kManufacturerText>},
    {TARVEK_ATTRIBUTE(INSTRUMENT_MODEL), .type = ValueType::String, .access = Access::ReadOnly,
     .getter = &GetText<kModelText>},
    {TARVEK_ATTRIBUTE(SPECIFIC_DRIVER_VENDOR), .type = ValueType::String,
     .access = Access::ReadOnly, .getter = &GetText<kVendorText>},
    {TARVEK_ATTRIBUTE(SPECIFIC_DRIVER_DESCRIPTION), .type = ValueType::String,
     .access = Access::ReadOnly, .getter = &GetText<kDescriptionText>},
    {TARVEK_ATTRIBUTE(SPECIFIC_DRIVER_CLASS_SPEC_MAJOR_VERSION), .access = Access::ReadOnly,
     .getter = &GetClassSpecMajorVersion},
    {TARVEK_ATTRIBUTE(SPECIFIC_DRIVER_CLASS_SPEC_MINOR_VERSION), .access = Access::ReadOnly,
     .getter = &GetClassSpecMinorVersion},
    {TARVEK_ATTRIBUTE(SPECIFIC_DRIVER_REVISION), .type = ValueType::String,
     .access = Access::ReadOnly, .getter = &GetText<kRevisionText>},
    {TARVEK_ATTRIBUTE(SYSTEM_IO_SESSION), .type = ValueType::Session, .access = Access::ReadOnly,
     .getter = &GetIoSession},
    {TARVEK_ATTRIBUTE(SYSTEM_IO_TIMEOUT), .getter = &GetIoTimeout, .setter = &SetIoTimeout},
    {TARVEK_ATTRIBUTE(SELECTED_CHANNEL), .query = "INST:SEL?\n", .command = "INST:SEL %s\n",
     .values = &ChannelMap, .unsupported = kFamily6510, .sim = TARVEK_VAL_CHANNEL1},
};

}  // namespace

void RegisterInherentAttributes(drt::AttributeRegistry& registry) {
    RegisterRows<kInherentRows>(registry);
}

}  // namespace tarvek
