// A driver session owned by the command-line tool, and the error that carries
// the driver's own text up to main().
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "TARVEK.h"
#include "tools/cli/Attributes.h"

namespace cli {

// A failed driver call: the status, the text TARVEK_GetError gave for it (or
// the instrument's own error texts) and, where the tool has one, a hint.
class DriverError : public std::runtime_error {
  public:
    DriverError(ViStatus status, const std::string& strMessage, std::string strHint = {})
        : std::runtime_error(strMessage), m_status(status), m_strHint(std::move(strHint)) {}
    ViStatus Status() const { return m_status; }
    const std::string& Hint() const { return m_strHint; }

  private:
    ViStatus m_status;
    std::string m_strHint;
};

// A command line that cannot be carried out: unknown attribute, bad value...
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One value of any attribute type, as read or to be written.
struct AttributeValue {
    ViBoolean bValue = VI_FALSE;
    ViInt32 nValue = 0;
    ViReal64 dValue = 0.0;
    ViSession hValue = VI_NULL;
    std::string strValue;
};

class Session {
  public:
    // Opens by VISA resource or logical name; throws DriverError with the text
    // of the failed initialization.
    Session(const std::string& strResource, const std::string& strOptions);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    ViSession Handle() const { return m_vi; }

    // Throws DriverError for a negative status; reports a warning on stderr.
    // An instrument-status failure carries the instrument's own error texts.
    void Check(ViStatus status, const char* pWhat) const;

    // For a session opened without status checking: reads the instrument's
    // error queue and throws DriverError with its texts when it holds any.
    void CheckInstrumentErrors(const char* pWhat) const;
    bool ChecksInstrumentStatus() const;

    AttributeValue Get(const AttributeInfo& info, const std::string& strChannel) const;
    void Set(const AttributeInfo& info, const std::string& strChannel,
             const AttributeValue& value) const;
    // The value as the tool shows it ("on", "TARVEK_VAL_...", "5").
    std::string Format(const AttributeInfo& info, const AttributeValue& value) const;

    ViInt32 ChannelCount() const;
    // Physical channel names "CH1"... from the driver.
    std::vector<std::string> ChannelNames() const;
    // The 0-based physical index of a single-channel selector (physical or
    // virtual name), as TARVEK_StartList and TARVEK_AbortList take it.
    ViInt32 ChannelIndex(const std::string& strSelector) const;

  private:
    // The queue's entries as the instrument words them: -222,"Data out of range".
    std::string DrainErrorQueue() const;
    DriverError Failure(ViStatus status, const std::string& strText, const char* pWhat) const;

    ViSession m_vi = VI_NULL;
    std::string m_strResource;
};

// The text the driver recorded for the last failure on vi (VI_NULL: of this
// thread's failed initialization), or the status code's standard message.
std::string ErrorText(ViSession vi, ViStatus status);

std::string StatusHex(ViStatus status);

}  // namespace cli
