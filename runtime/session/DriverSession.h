// The runtime's session object: one per open handle. It owns the VISA
// handles, the inherent options, the strings initialization collected, the
// configuration-store maps, the attribute caches and the coercion records.
#pragma once

#include <deque>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>

#include "runtime/attributes/AttributeCache.h"
#include "runtime/errors/Assert.h"
#include "runtime/errors/StatusMessages.h"
#include "runtime/io/VisaSession.h"
#include "runtime/session/CaseInsensitiveLess.h"
#include "runtime/session/DriverDescription.h"

namespace drt {

template <class T>
using NameMap = std::map<std::string, T, CaseInsensitiveLess>;

class DriverSession : public VisaSession<DriverSession> {
  public:
    DriverSession(const DriverDescription& description, ViSession vi, ViUInt32 nOpenTimeout,
                  ViUInt32 nSpareTimeout, ViInt32 nResetTimeout, bool bInterchangeCheckSupported,
                  ViUInt32 nSpareInterval);
    ~DriverSession() override;

    DriverSession(const DriverSession&) = delete;
    DriverSession& operator=(const DriverSession&) = delete;

    virtual ViStatus Initialize(ViConstString pResourceName, ViBoolean bIdQuery, ViBoolean bReset,
                                ViConstString pOptionString);
    virtual ViStatus CloseSession();
    virtual ViSession GetViSession() const { return m_vi; }
    // What the driver told the runtime of itself.
    const DriverDescription& Description() const { return m_description; }
    // The physical output channels the driver described.
    const ChannelList& PhysicalChannels() const {
        DRT_ASSERT(m_description.pPhysicalChannels != nullptr);
        return *m_description.pPhysicalChannels;
    }

    virtual bool GetCache() const { return m_bCache; }
    virtual bool GetInterchangeCheck() const { return m_bInterchangeCheck; }
    virtual bool GetQueryInstrStatus() const { return m_bQueryInstrStatus; }
    virtual bool GetRangeCheck() const { return m_bRangeCheck; }
    virtual bool GetRecordCoercions() const { return m_bRecordCoercions; }
    virtual bool GetSimulate() const { return m_bSimulate; }

    virtual bool GetInitialCache() const { return m_bInitialCache; }
    virtual bool GetInitialInterchangeCheck() const { return m_bInitialInterchangeCheck; }
    virtual bool GetInitialQueryInstrStatus() const { return m_bInitialQueryInstrStatus; }
    virtual bool GetInitialRangeCheck() const { return m_bInitialRangeCheck; }
    virtual bool GetInitialRecordCoercions() const { return m_bInitialRecordCoercions; }
    virtual bool GetInitialSimulate() const { return m_bInitialSimulate; }

    virtual void SetCache(bool bValue) { m_bCache = bValue; }
    virtual void SetInterchangeCheck(bool bValue) { m_bInterchangeCheck = bValue; }
    virtual void SetQueryInstrStatus(bool bValue) { m_bQueryInstrStatus = bValue; }
    virtual void SetRangeCheck(bool bValue) { m_bRangeCheck = bValue; }
    virtual void SetRecordCoercions(bool bValue) { m_bRecordCoercions = bValue; }
    virtual void SetSimulate(bool bValue) { m_bSimulate = bValue; }

    virtual const std::string& GetOptionString() const { return m_strOptionString; }
    virtual const std::string& GetResourceName() const { return m_strResourceName; }
    virtual const std::string& GetLogicalName() const { return m_strLogicalName; }
    virtual const std::string& GetIoResourceDescriptor() const { return m_strIoResourceDescriptor; }
    virtual const std::string& GetDriverSetup() const { return m_strDriverSetup; }
    virtual const std::string& GetInstrumentManufacturer() const { return m_strManufacturer; }
    virtual const std::string& GetInstrumentModel() const { return m_strModel; }
    virtual const std::string& GetSerialNumber() const { return m_strSerialNumber; }
    virtual const std::string& GetFirmwareRevision() const { return m_strFirmwareRevision; }

    virtual ViUInt32 GetOpenTimeout() const { return m_nOpenTimeout; }
    virtual ViUInt32 GetSpareTimeout() const { return m_nSpareTimeout; }
    virtual ViInt32 GetResetTimeout() const { return m_nResetTimeout; }
    virtual bool GetInterchangeCheckSupported() const { return m_bInterchangeCheckSupported; }
    virtual ViUInt32 GetSpareInterval() const { return m_nSpareInterval; }

    virtual bool FindDriverSetupValue(const std::string& strKey, std::string& strValue) const;
    virtual bool FindInitialBoolean(const std::string& strName, bool& bValue) const;
    virtual bool FindInitialInt32(const std::string& strName, ViInt32& nValue) const;
    virtual bool FindInitialReal64(const std::string& strName, ViReal64& dValue) const;
    virtual bool FindInitialString(const std::string& strName, std::string& strValue) const;

    virtual const NameMap<bool>& GetInitialBooleans() const { return m_mapInitialBooleans; }
    virtual const NameMap<ViInt32>& GetInitialInt32s() const { return m_mapInitialInt32s; }
    virtual const NameMap<ViReal64>& GetInitialReal64s() const { return m_mapInitialReal64s; }
    virtual const NameMap<std::string>& GetInitialStrings() const { return m_mapInitialStrings; }
    virtual const NameMap<std::string>& GetInherentOptions() const { return m_mapInherentOptions; }
    virtual const NameMap<std::string>& GetDriverSetupOptions() const {
        return m_mapDriverSetupOptions;
    }
    virtual const NameMap<std::string>& GetVirtualNames() const { return m_mapVirtualToPhysical; }

    virtual std::string MapVirtualName(const std::string& strName) const;
    virtual std::string MapPhysicalName(const std::string& strName) const;

    virtual bool IsModelSupported() const;
    virtual bool IsModelInFamily(const std::string& strFamily) const;
    virtual bool IsModel(const std::string& strModel) const { return strModel == m_strModel; }
    virtual bool ModelBelongsToFamily(const std::string& strModel,
                                      const std::string& strFamily) const;
    virtual ViStatus RestoreInitialOptions();

    // Records nStatus with the code's message filled with args; returns
    // nStatus or the failure of recording.
    ViStatus ReportError(ViStatus nStatus, std::initializer_list<std::string_view> args = {}) {
        return SetSessionError(m_vi, nStatus, {}, args);
    }
    // As ReportError, with strElaboration appended after two blanks.
    ViStatus ReportErrorText(ViStatus nStatus, std::string_view strElaboration,
                             std::initializer_list<std::string_view> args = {}) {
        return SetSessionError(m_vi, nStatus, strElaboration, args);
    }
    virtual ViStatus ReportConfigError(ViStatus nStatus);

    virtual void InvalidateAllAttributes() { m_caches.Clear(); }

    virtual ViStatus ReadConfiguration(const std::string& strResourceName,
                                       const std::string& strOptionString);
    virtual ViStatus ApplyDriverSession(ViSession hDriverSession);
    virtual ViStatus LoadInitialSettings(ViSession hDataComponents);
    virtual ViStatus ApplyInitialSettings();
    virtual ViStatus ParseOptionString(const std::string& strOptionString);
    virtual ViStatus ParseDriverSetup(const std::string& strText);
    virtual ViStatus ApplyDriverSetupOption(const std::string& strKey, const std::string& strValue);
    virtual ViStatus ParseInherentOptions(const std::string& strText);
    virtual ViStatus ParseBooleanOption(const std::string& strName, const std::string& strValue,
                                        bool& bFlag);
    virtual ViStatus LoadVirtualNames(ViSession hDriverSession);
    virtual ViStatus LoadPhysicalNames(ViSession hSoftwareModule);

    // Not virtual operations: plain access for the runtime's own parts.
    AttributeCaches& Caches() { return m_caches; }
    std::deque<std::string>& CoercionRecords() { return m_dequeCoercionRecords; }
    ViSession& ResourceManagerHandle() { return m_hResourceManager; }
    ViSession& InstrumentHandle() { return m_hInstrument; }
    ViSession GetInstrumentHandle() const { return m_hInstrument; }

  protected:
    friend class VisaSession<DriverSession>;

    // Puts the six inherent options at their defaults.
    void ResetOptionDefaults();
    // Records the options in force as the initial values.
    void SaveInitialOptions();

    struct OptionPair {
        bool DriverSession::*pCurrent;
        bool DriverSession::*pInitial;
    };
    static const OptionPair kOptionPairs[6];

    DriverDescription m_description;
    ViSession m_hResourceManager = 0;
    ViSession m_hInstrument = 0;
    ViSession m_vi = 0;
    bool m_bIdQuery = false;
    bool m_bReset = false;

    bool m_bCache = false;
    bool m_bInterchangeCheck = false;
    bool m_bQueryInstrStatus = false;
    bool m_bRangeCheck = false;
    bool m_bRecordCoercions = false;
    bool m_bSimulate = false;

    bool m_bInitialCache = false;
    bool m_bInitialInterchangeCheck = false;
    bool m_bInitialQueryInstrStatus = false;
    bool m_bInitialRangeCheck = false;
    bool m_bInitialRecordCoercions = false;
    bool m_bInitialSimulate = false;

    ViUInt32 m_nOpenTimeout;
    ViUInt32 m_nSpareTimeout;
    ViInt32 m_nResetTimeout;
    bool m_bInterchangeCheckSupported;
    ViUInt32 m_nSpareInterval;

    std::string m_strOptionString;
    std::string m_strResourceName;
    std::string m_strLogicalName;
    std::string m_strIoResourceDescriptor;
    std::string m_strDriverSetup;
    std::string m_strManufacturer;
    std::string m_strModel;
    std::string m_strSerialNumber;
    std::string m_strFirmwareRevision;

    NameMap<std::string> m_mapInherentOptions;
    NameMap<std::string> m_mapDriverSetupOptions;
    NameMap<bool> m_mapInitialBooleans;
    NameMap<ViInt32> m_mapInitialInt32s;
    NameMap<ViReal64> m_mapInitialReal64s;
    NameMap<std::string> m_mapInitialStrings;
    NameMap<std::string> m_mapVirtualToPhysical;
    NameMap<std::string> m_mapPhysicalToVirtual;
    NameMap<std::string> m_mapPhysicalToRepCap;

    AttributeCaches m_caches;
    std::deque<std::string> m_dequeCoercionRecords;
};

}  // namespace drt
