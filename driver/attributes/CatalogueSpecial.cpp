// The class attributes whose behaviour is not one SCPI exchange: the current
// limit and its behaviour, over-voltage protection, the trigger source, and
// the triggered levels these instruments do not have. Each callback runs
// under the session lock (re-entrant, because several of them call the typed
// access, and so other callbacks, while holding it); a channel is selected
// and then addressed under the same lock hold.
#include "driver/attributes/CatalogueCallbacks.h"
#include "runtime/attributes/AttributeDispatch.h"
#include "runtime/errors/StatusMessages.h"
#include "runtime/session/CallFrame.h"

namespace tarvek {
namespace {

using drt::ChannelKind;

ViStatus ReportNullValue(ViSession vi, const char* pFunction) {
    return drt::SetSessionError(vi, IVI_ERROR_NULL_POINTER, {pFunction, "AttributeValue"});
}

// The instrument-specific attribute that carries the current limit for the
// channel's behaviour: the protection level when tripping, else the level.
ViStatus CurrentLimitCarrier(ViSession vi, ViConstString pChannel, ViAttr& nCarrier) {
    ViInt32 nBehavior = 0;
    const ViStatus status = drt::GetAttributeTyped<ViInt32>(
        vi, pChannel, TARVEK_ATTR_CURRENT_LIMIT_BEHAVIOR, &nBehavior);
    nCarrier = nBehavior == TARVEK_VAL_CURRENT_TRIP ? TARVEK_ATTR_CURRENT_PROTECTION_LEVEL
                                                    : TARVEK_ATTR_CURRENT_LEVEL;
    return status;
}

// The instrument's own trigger source for a class trigger source, or -1 when
// the instruments have no such source.
ViInt32 SpecificTriggerSource(ViInt32 nClassSource) {
    switch (nClassSource) {
        case TARVEK_VAL_TRIG_IMMEDIATE:
            return TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_IMMEDIATE;
        case TARVEK_VAL_TRIG_EXTERNAL:
            return TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_EXTERNAL;
        case TARVEK_VAL_SOFTWARE_TRIG:
            return TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_BUS;
        default:
            return -1;
    }
}

ViInt32 ClassTriggerSource(ViInt32 nSpecificSource) {
    switch (nSpecificSource) {
        case TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_BUS:
            return TARVEK_VAL_SOFTWARE_TRIG;
        case TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_EXTERNAL:
            return TARVEK_VAL_TRIG_EXTERNAL;
        case TARVEK_VAL_SPECIFIC_TRIGGER_SOURCE_IMMEDIATE:
            return TARVEK_VAL_TRIG_IMMEDIATE;
        default:
            return -1;
    }
}

ViStatus RefuseTriggeredLevel(ViSession vi, const char* pName) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        return session.ReportError(IVI_ERROR_ATTRIBUTE_NOT_SUPPORTED, {pName});
    });
}

}  // namespace

extern "C" {

// --- CURRENT_LIMIT_BEHAVIOR: held by the driver, per channel ---------------------

ViStatus TARVEK_get_CURRENT_LIMIT_BEHAVIOR(ViSession vi, ViConstString channelName,
                                           ViInt32* pValue) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        if (pValue == nullptr) {
            return ReportNullValue(vi, "TARVEK_get_CURRENT_LIMIT_BEHAVIOR");
        }
        const drt::OutputChannel* pChannel = nullptr;
        drt::ChannelListPtr pHolder;
        if (const ViStatus status = ResolveOneChannel(session, channelName, pChannel, pHolder);
            status < 0) {
            return status;
        }
        drt::GetterCacheManager<ViInt32, ChannelKind::Output> guard(
            session, TARVEK_ATTR_CURRENT_LIMIT_BEHAVIOR, pChannel);
        const ViInt32* pRecorded = guard.CachedValue();
        *pValue = pRecorded != nullptr ? *pRecorded : TARVEK_VAL_CURRENT_REGULATE;
        guard.SetValue(*pValue);
        return VI_SUCCESS;
    });
}

ViStatus TARVEK_set_CURRENT_LIMIT_BEHAVIOR(ViSession vi, ViConstString channelName, ViInt32 value) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        // Held by the driver, so no instrument would refuse a third value.
        if (session.GetRangeCheck() && value != TARVEK_VAL_CURRENT_REGULATE &&
            value != TARVEK_VAL_CURRENT_TRIP) {
            return session.ReportError(
                IVI_ERROR_INVALID_VALUE,
                {std::to_string(value), "TARVEK_set_CURRENT_LIMIT_BEHAVIOR", "AttributeValue"});
        }
        drt::ChannelListPtr pChannels;
        if (const ViStatus status = ResolveChannelList(session, channelName, pChannels);
            status < 0) {
            return status;
        }
        // The guard records the value per channel; nothing goes to the instrument.
        drt::SetterCacheManager<ViInt32, ChannelKind::Output> guard(
            session, *pChannels, TARVEK_ATTR_CURRENT_LIMIT_BEHAVIOR, value);
        return VI_SUCCESS;
    });
}

// --- CURRENT_LIMIT: the level or the protection level, by behaviour ----------------

ViStatus TARVEK_get_CURRENT_LIMIT(ViSession vi, ViConstString channelName, ViReal64* pValue) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        if (pValue == nullptr) {
            return ReportNullValue(vi, "TARVEK_get_CURRENT_LIMIT");
        }
        const drt::OutputChannel* pChannel = nullptr;
        drt::ChannelListPtr pHolder;
        ViStatus status = ResolveAndSelectOne(session, channelName, pChannel, pHolder);
        if (status < 0) {
            return status;
        }
        ViAttr nCarrier = TARVEK_ATTR_CURRENT_LEVEL;
        if ((status = CurrentLimitCarrier(vi, pChannel->strName.c_str(), nCarrier)) < 0) {
            return status;
        }
        return drt::GetAttributeTyped<ViReal64>(vi, channelName, nCarrier, pValue);
    });
}

// Also in simulation the value goes to the carrying attribute, so that a
// simulated read gives back what was written.
ViStatus TARVEK_set_CURRENT_LIMIT(ViSession vi, ViConstString channelName, ViReal64 value) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        drt::ChannelListPtr pChannels;
        ViStatus status = ResolveChannelList(session, channelName, pChannels);
        if (status < 0) {
            return status;
        }
        drt::SetterCacheManager<ViReal64, ChannelKind::Output> guard(
            session, *pChannels, TARVEK_ATTR_CURRENT_LIMIT, value);
        const bool bSimulate = session.GetSimulate();
        for (const drt::OutputChannel* pChannel : guard.Pending()) {
            if (!bSimulate && (status = SelectChannel(session, *pChannel)) < 0) {
                break;
            }
            ViAttr nCarrier = TARVEK_ATTR_CURRENT_LEVEL;
            if ((status = CurrentLimitCarrier(vi, pChannel->strName.c_str(), nCarrier)) < 0) {
                break;
            }
            if ((status = drt::SetAttributeTyped<ViReal64>(vi, nullptr, nCarrier, value)) < 0) {
                break;
            }
        }
        guard.SetStatus(status);
        return status;
    });
}

// --- OVP_ENABLED: protection cannot be switched off -----------------------------------

ViStatus TARVEK_get_OVP_ENABLED(ViSession vi, ViConstString channelName, ViBoolean* pValue) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        if (pValue == nullptr) {
            return ReportNullValue(vi, "TARVEK_get_OVP_ENABLED");
        }
        const drt::OutputChannel* pChannel = nullptr;
        drt::ChannelListPtr pHolder;
        if (const ViStatus status = ResolveOneChannel(session, channelName, pChannel, pHolder);
            status < 0) {
            return status;
        }
        *pValue = VI_TRUE;
        return VI_SUCCESS;
    });
}

ViStatus TARVEK_set_OVP_ENABLED(ViSession vi, ViConstString channelName, ViBoolean value) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        drt::ChannelListPtr pChannels;
        if (const ViStatus status = ResolveChannelList(session, channelName, pChannels);
            status < 0) {
            return status;
        }
        if (value != VI_TRUE) {
            const std::string strValue = drt::ValueName(drt::BooleanMap(), value);
            return session.ReportError(IVI_ERROR_VALUE_NOT_SUPPORTED,
                                       {strValue, "AttributeValue", "OVP_ENABLED"});
        }
        return VI_SUCCESS;
    });
}

// --- OVP_LIMIT: the voltage protection level of the channel ---------------------------

ViStatus TARVEK_get_OVP_LIMIT(ViSession vi, ViConstString channelName, ViReal64* pValue) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        // Reported under the typed function's name, as the value is that of
        // the protection level read through it.
        if (pValue == nullptr) {
            return ReportNullValue(vi, "TARVEK_GetAttributeViReal64");
        }
        const drt::OutputChannel* pChannel = nullptr;
        drt::ChannelListPtr pHolder;
        ViStatus status = ResolveAndSelectOne(session, channelName, pChannel, pHolder);
        if (status < 0) {
            return status;
        }
        return drt::GetAttributeTyped<ViReal64>(vi, nullptr, TARVEK_ATTR_VOLTAGE_PROTECTION_LEVEL,
                                                pValue);
    });
}

ViStatus TARVEK_set_OVP_LIMIT(ViSession vi, ViConstString channelName, ViReal64 value) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        drt::ChannelListPtr pChannels;
        ViStatus status = ResolveChannelList(session, channelName, pChannels);
        if (status < 0) {
            return status;
        }
        const bool bSimulate = session.GetSimulate();
        for (const drt::OutputChannel& channel : *pChannels) {
            if (!bSimulate && (status = SelectChannel(session, channel)) < 0) {
                return status;
            }
            status = drt::SetAttributeTyped<ViReal64>(vi, nullptr,
                                                      TARVEK_ATTR_VOLTAGE_PROTECTION_LEVEL, value);
            if (status < 0) {
                return status;
            }
        }
        return status;
    });
}

// --- TRIGGER_SOURCE: carried by the list trigger source -------------------------------

ViStatus TARVEK_get_TRIGGER_SOURCE(ViSession vi, ViConstString channelName, ViInt32* pValue) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        if (pValue == nullptr) {
            return ReportNullValue(vi, "TARVEK_get_TRIGGER_SOURCE");
        }
        const drt::OutputChannel* pChannel = nullptr;
        drt::ChannelListPtr pHolder;
        ViStatus status = ResolveOneChannel(session, channelName, pChannel, pHolder);
        if (status < 0) {
            return status;
        }
        drt::GetterCacheManager<ViInt32, ChannelKind::Output> guard(
            session, TARVEK_ATTR_TRIGGER_SOURCE, pChannel);
        if (session.GetSimulate()) {
            const ViInt32* pCached = guard.CachedValue();
            *pValue = pCached != nullptr ? *pCached : TARVEK_VAL_TRIG_IMMEDIATE;
            guard.SetValue(*pValue);
            return VI_SUCCESS;
        }
        if ((status = SelectChannel(session, *pChannel)) < 0) {
            guard.SetStatus(status);
            return status;
        }
        ViInt32 nSpecific = -1;
        status = TARVEK_GetListTriggerSource(vi, &nSpecific);
        if (status < 0) {
            guard.SetStatus(status);
            return status;
        }
        *pValue = ClassTriggerSource(nSpecific);
        if (*pValue < 0) {
            status = session.ReportErrorText(IVI_ERROR_UNEXPECTED_RESPONSE,
                                             "Unexpected trigger source.");
        } else {
            status = drt::CheckSessionStatus(vi);
        }
        guard.SetValue(*pValue);
        guard.SetStatus(status);
        return status;
    });
}

// A source the instruments lack is refused before anything is sent.
ViStatus TARVEK_set_TRIGGER_SOURCE(ViSession vi, ViConstString channelName, ViInt32 value) {
    return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession& session) {
        drt::ChannelListPtr pChannels;
        ViStatus status = ResolveChannelList(session, channelName, pChannels);
        if (status < 0) {
            return status;
        }
        // Refused before anything is recorded, in simulation as well.
        const ViInt32 nSpecific = SpecificTriggerSource(value);
        if (nSpecific < 0) {
            return session.ReportError(IVI_ERROR_VALUE_NOT_SUPPORTED,
                                       {drt::ValueName(ClassTriggerSourceMap(), value),
                                        "AttributeValue", "TRIGGER_SOURCE"});
        }
        drt::SetterCacheManager<ViInt32, ChannelKind::Output> guard(
            session, *pChannels, TARVEK_ATTR_TRIGGER_SOURCE, value);
        if (session.GetSimulate() || guard.Pending().empty()) {
            return VI_SUCCESS;
        }
        for (const drt::OutputChannel* pChannel : guard.Pending()) {
            if ((status = SelectChannel(session, *pChannel)) < 0 ||
                (status = TARVEK_SetListTriggerSource(vi, nSpecific)) < 0 ||
                (status = drt::CheckSessionStatus(vi)) < 0) {
                break;
            }
        }
        guard.SetStatus(status);
        return status;
    });
}

// --- Triggered levels: not available on these instruments ----------------------------

ViStatus TARVEK_get_TRIGGERED_CURRENT_LIMIT(ViSession vi, ViConstString, ViReal64* pValue) {
    if (pValue == nullptr) {
        return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession&) {
            return ReportNullValue(vi, "TARVEK_get_TRIGGERED_CURRENT_LIMIT");
        });
    }
    return RefuseTriggeredLevel(vi, "TRIGGERED_CURRENT_LIMIT");
}

ViStatus TARVEK_set_TRIGGERED_CURRENT_LIMIT(ViSession vi, ViConstString, ViReal64) {
    return RefuseTriggeredLevel(vi, "TRIGGERED_CURRENT_LIMIT");
}

ViStatus TARVEK_get_TRIGGERED_VOLTAGE_LEVEL(ViSession vi, ViConstString, ViReal64* pValue) {
    if (pValue == nullptr) {
        return drt::CallLocked<TARVEKDriverSession>(vi, [&](TARVEKDriverSession&) {
            return ReportNullValue(vi, "TARVEK_get_TRIGGERED_VOLTAGE_LEVEL");
        });
    }
    return RefuseTriggeredLevel(vi, "TRIGGERED_VOLTAGE_LEVEL");
}

ViStatus TARVEK_set_TRIGGERED_VOLTAGE_LEVEL(ViSession vi, ViConstString, ViReal64) {
    return RefuseTriggeredLevel(vi, "TRIGGERED_VOLTAGE_LEVEL");
}

}  // extern "C"

}  // namespace tarvek
