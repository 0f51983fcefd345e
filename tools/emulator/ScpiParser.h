// SCPI program-message parsing for the instrument emulator: splitting a line
// into program message units, matching headers in long or short form against
// command patterns, and converting parameters (numbers with units and suffix
// multipliers, booleans, character data, strings).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace emu::scpi {

// A failure that becomes an entry of the instrument's error queue.
class ScpiError : public std::runtime_error {
  public:
    explicit ScpiError(int nCode, const std::string& strDetail = {});
    int Code() const { return m_nCode; }
    const std::string& Detail() const { return m_strDetail; }

  private:
    int m_nCode;
    std::string m_strDetail;
};

// The standard SCPI message of an error number ("Undefined header" for -113).
std::string ErrorText(int nCode);

// The standard-event-status bit an error number sets: command errors 32,
// execution errors 16, device-dependent errors 8, query errors 4.
int EsrBitForError(int nCode);

// One program message unit, as split from a line.
struct ProgramUnit {
    std::string strHeaderText;          // header exactly as received (with any '?')
    std::vector<std::string> vecNodes;  // header mnemonics, e.g. {"SOUR", "VOLT"}
    bool bCommon = false;               // "*IDN?" style
    bool bQuery = false;
    bool bAbsolute = false;     // starts with ':' (never relative to the previous unit)
    std::string strParameters;  // the text after the header, trimmed
};

// Splits a message at ';' outside quoted strings.
std::vector<std::string> SplitUnits(std::string_view strLine);

// Splits a parameter list at ',' outside quoted strings; every piece trimmed.
// An empty text gives no parameters.
std::vector<std::string> SplitParameters(std::string_view strText);

// Parses one unit; returns false for an empty unit. Throws ScpiError for a
// malformed header.
bool ParseUnit(std::string_view strUnit, ProgramUnit& unit);

// A compiled header pattern such as "[SOURce]:VOLTage:[LEVel]:PIN#".
// Upper-case letters give the short form; brackets mark optional nodes; '#'
// marks a node that takes a numeric suffix.
struct PatternNode {
    std::string strShort;
    std::string strLong;
    bool bOptional = false;
    bool bSuffix = false;
};
using HeaderPattern = std::vector<PatternNode>;

HeaderPattern CompilePattern(std::string_view strPattern);

// Matches received header nodes against a pattern. On success vecSuffixes
// holds one entry per suffix node: the received number or -1 when omitted.
bool MatchHeader(const HeaderPattern& pattern, const std::vector<std::string>& vecNodes,
                 std::vector<int>& vecSuffixes);

// True when strWord is the short or long form of the mnemonic pattern (mixed
// case, e.g. "PARAllel2": trailing digits must match exactly).
bool MatchMnemonic(std::string_view strSpec, std::string_view strWord);

std::string Trim(std::string_view str);
std::string ToUpper(std::string_view str);

// Physical units a numeric parameter may carry.
enum class Unit { None, Volt, Ampere, Second, VoltPerSecond, AmperePerSecond, Watt };

// Numeric parameter: decimal number, optional suffix multiplier and unit,
// or MINimum/MAXimum/DEFault. Throws -104, -120, -131, -138, -222.
double ParseReal(std::string_view strText, Unit unit, double dMin, double dMax, double dDefault);

// Integer parameter: decimal (rounded) or #H/#Q/#B non-decimal, MIN/MAX/DEF.
long ParseInteger(std::string_view strText, long nMin, long nMax, long nDefault);

// Boolean parameter: ON/OFF or a number (non-zero is true after rounding).
bool ParseBoolean(std::string_view strText);

// Character-data parameter: index into vecChoices (mnemonic patterns) or -141.
size_t ParseChoice(std::string_view strText, const std::vector<std::string_view>& vecChoices);

// String parameter: a quoted string is unquoted (doubled quotes collapsed);
// unquoted text is taken as it stands.
std::string ParseText(std::string_view strText);

// Reply formats: reals in NR3 with seven significant digits ("+5.000000E+00").
std::string FormatReal(double dValue);

}  // namespace emu::scpi
