#include "driver/functions/FunctionHelpers.h"

#include "driver/attributes/AttributeRows.h"
#include "runtime/attributes/AttributeDispatch.h"
#include "runtime/enums/ModelGate.h"
#include "runtime/errors/StatusMessages.h"

namespace tarvek::functions {

ViStatus SendFixedCommand(ViSession vi, const char* pCommand) {
    return CallExchange(vi, [&](TARVEKDriverSession& session) { return session.Printf(pCommand); });
}

ViStatus SendWordCommand(ViSession vi, const char* pFormat, const drt::EnumCommandMap& map,
                         ViInt32 nValue) {
    return CallExchange(vi, [&](TARVEKDriverSession& session) {
        std::string strWord;
        const ViStatus status = drt::ValueToCommand(session, map, nValue, strWord);
        return status < 0 ? status : session.Printf(pFormat, strWord.c_str());
    });
}

ViStatus QueryReal(ViSession vi, const char* pFunction, const char* pParameter, const char* pQuery,
                   ViReal64* pValue) {
    return Call(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        if (const ViStatus status =
                drt::CheckNullPointers(vi, pFunction, pParameter, pValue, pValue);
            status < 0) {
            return status;
        }
        if (session.GetSimulate()) {
            *pValue = 0.0;
            return VI_SUCCESS;
        }
        ViReal64 dValue = 0.0;
        ViStatus status = session.Queryf(pQuery, "%lf%*t", &dValue);
        status = RefuseNonFiniteReply(session, status, {dValue});
        if (status >= 0) {
            *pValue = dValue;
        }
        return FinishExchange(session, status);
    });
}

FunctionGate::FunctionGate(const char* pFunction, const char* pUnsupportedModels)
    : m_pFunction(pFunction),
      m_vecUnsupportedModels(drt::UnsupportedModelList(pUnsupportedModels)) {}

ViStatus FunctionGate::Check(TARVEKDriverSession& session) const {
    return drt::CheckModelSupport(session, m_vecUnsupportedModels, m_pFunction, false,
                                  kDriverPrefix);
}

ViStatus SendGatedCommand(ViSession vi, const FunctionGate& gate, const char* pCommand) {
    return Call(vi, [&](TARVEKDriverSession& session) {
        const ViStatus status = gate.Check(session);
        if (status < 0) {
            return status;
        }
        return RunExchange(session, [&](TARVEKDriverSession& s) { return s.Printf(pCommand); });
    });
}

ViStatus ConfigureChannels(ViSession vi, ViConstString pSelector,
                           std::initializer_list<ChannelWrite> writes) {
    return Call(vi, [&](TARVEKDriverSession& session) -> ViStatus {
        drt::ChannelListPtr pChannels;
        ViStatus status = ResolveChannelList(session, pSelector, pChannels);
        if (status < 0) {
            return status;
        }
        // The attribute callbacks do not select in simulation either: there
        // is no instrument selection to keep in step.
        const bool bSelect = !session.GetSimulate();
        for (const drt::OutputChannel& channel : *pChannels) {
            if (bSelect && (status = SelectChannel(session, channel)) < 0) {
                return status;
            }
            for (const ChannelWrite& write : writes) {
                status = std::visit(
                    [&](auto value) {
                        return drt::SetAttributeTyped<decltype(value)>(vi, pSelector, write.nId,
                                                                       value);
                    },
                    write.value);
                if (status < 0) {
                    return status;
                }
            }
        }
        return status;
    });
}

}  // namespace tarvek::functions
