// The driver's status codes and their messages, and the one way the runtime
// records an error on a session.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "ivi.h"

namespace drt {

struct StatusMessage {
    ViStatus nCode;
    const char* pMessage;
};

// The fixed table of codes and messages, ordered by code.
std::span<const StatusMessage> StatusMessageTable();

// A copy of the code's message, or an empty text when the table lacks it.
std::string FindStatusMessage(ViStatus nCode);

// What a caller is told about a status: the driver's message for its own
// codes, VISA's description (viStatusDesc) for a code VISA knows, else an
// empty text.
std::string DescribeStatus(ViStatus nCode);

// Recorded texts hold at most this many characters (plus the terminator).
inline constexpr std::size_t kMaxErrorText = 1023;

// printf-style formatting restricted to %s: each %s takes the next argument
// (an exhausted list gives an empty text), "%%" gives "%", and any other '%'
// stands for itself. Arguments are inserted verbatim, so text from outside the
// driver is never read as a format. The result is cut at kMaxErrorText.
std::string FormatMessage(std::string_view strFormat, std::initializer_list<std::string_view> args);

// Records nStatus on vi with the code's message, two blanks and strElaboration
// (when not empty) as the format, filled with args. Returns nStatus, or the
// recording call's status when recording fails.
ViStatus SetSessionError(ViSession vi, ViStatus nStatus, std::string_view strElaboration,
                         std::initializer_list<std::string_view> args);

inline ViStatus SetSessionError(ViSession vi, ViStatus nStatus,
                                std::initializer_list<std::string_view> args = {}) {
    return SetSessionError(vi, nStatus, {}, args);
}

// The null-output check of exported functions with up to two output pointers.
// strParameterNames lists the two parameters' names separated by a comma.
ViStatus CheckNullPointers(ViSession vi, std::string_view strFunctionName,
                           std::string_view strParameterNames, const void* pFirst,
                           const void* pSecond);

}  // namespace drt
