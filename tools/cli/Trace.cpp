#include "tools/cli/Trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <thread>

#include "TARVEK.h"
#include "tools/cli/Json.h"
#include "tools/cli/Session.h"

namespace cli {
namespace {

constexpr std::size_t kLargestReply = 1 << 20;
// How often --follow looks for more of the file.
constexpr auto kFollowPoll = std::chrono::milliseconds(100);

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool Unescape(const std::string& strEscaped, std::string& strData) {
    strData.clear();
    for (std::size_t i = 0; i < strEscaped.size(); ++i) {
        const char c = strEscaped[i];
        if (c != '\\') {
            strData += c;
            continue;
        }
        if (++i == strEscaped.size()) {
            return false;
        }
        switch (strEscaped[i]) {
            case 'n':
                strData += '\n';
                break;
            case 'r':
                strData += '\r';
                break;
            case 't':
                strData += '\t';
                break;
            case '\\':
            case '"':
                strData += strEscaped[i];
                break;
            case 'x': {
                if (i + 2 >= strEscaped.size() || HexDigit(strEscaped[i + 1]) < 0 ||
                    HexDigit(strEscaped[i + 2]) < 0) {
                    return false;
                }
                strData += static_cast<char>(HexDigit(strEscaped[i + 1]) * 16 +
                                             HexDigit(strEscaped[i + 2]));
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    return true;
}

bool ParseHex32(const std::string& strText, ViUInt32& nValue) {
    if (strText.size() != 10 || strText.compare(0, 2, "0x") != 0) {
        return false;
    }
    nValue = 0;
    for (std::size_t i = 2; i < strText.size(); ++i) {
        const int nDigit = HexDigit(strText[i]);
        if (nDigit < 0) {
            return false;
        }
        nValue = nValue * 16 + static_cast<ViUInt32>(nDigit);
    }
    return true;
}

// The bytes as a JSON string, each byte one character (U+0000 to U+00FF), so
// that the text is valid JSON whatever the bytes and reads back exactly.
std::string JsonBytes(const std::string& strData) {
    std::string strJson = "\"";
    for (const char c : strData) {
        const auto n = static_cast<unsigned char>(c);
        if (n >= 0x7F) {
            char szEscape[8];
            std::snprintf(szEscape, sizeof szEscape, "\\u%04x", n);
            strJson += szEscape;
        } else {
            const std::string strOne = JsonString(std::string_view(&c, 1));
            strJson.append(strOne, 1, strOne.size() - 2);
        }
    }
    return strJson + "\"";
}

// "2026-12-07 20:47:03.123456Z" from "1796671623.123456".
std::string UtcTime(const std::string& strTime) {
    const std::size_t nDot = strTime.find('.');
    const std::time_t nSeconds = std::strtoll(strTime.substr(0, nDot).c_str(), nullptr, 10);
    std::tm tmUtc{};
    if (gmtime_r(&nSeconds, &tmUtc) == nullptr) {
        return strTime;
    }
    char szTime[32];
    std::strftime(szTime, sizeof szTime, "%Y-%m-%d %H:%M:%S", &tmUtc);
    return std::string(szTime) + (nDot == std::string::npos ? "" : strTime.substr(nDot)) + "Z";
}

// Reads a whole reply, bounded, as `tarvek scpi` does.
std::string ReadReply(Session& session, const std::string& strCommand) {
    std::string strReply;
    while (strReply.empty() || strReply.back() != '\n') {
        ViByte buffer[4096];
        ViInt64 nRead = 0;
        const ViStatus status = TARVEK_viRead(session.Handle(), sizeof buffer, buffer, &nRead);
        if (status < VI_SUCCESS) {
            session.Check(status, strCommand.c_str());
        }
        if (nRead <= 0) {
            break;
        }
        strReply.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(nRead));
        if (strReply.size() > kLargestReply) {
            throw DriverError(IVI_ERROR_UNEXPECTED_RESPONSE, "The reply exceeds 1 MiB.");
        }
    }
    return strReply;
}

void PrintLines(const std::string& strText, bool bJson, long& nLeft) {
    std::istringstream stream(strText);
    std::string strLine;
    while (nLeft != 0 && std::getline(stream, strLine)) {
        TraceLine line;
        if (!ParseTraceLine(strLine, line)) {
            std::fprintf(stderr, "tarvek: not a trace line, skipped: %s\n", strLine.c_str());
            continue;
        }
        std::printf("%s\n", FormatTraceLine(line, bJson).c_str());
        if (nLeft > 0) {
            --nLeft;
        }
    }
    std::fflush(stdout);
}

// Opens the session, switches its trace on, sends the command (reading the
// reply of a query) and prints what went over the wire.
int TraceSession(const Invocation& inv, long nCount) {
    const std::string strCommand = inv.Value("scpi", "*IDN?");
    if (strCommand.empty() || strCommand.find_first_of("\r\n") != std::string::npos) {
        throw UsageError("--scpi takes one command on a single line");
    }
    Session session(inv.vecArgs[0], inv.DriverOptions());
    const ViSession vi = session.Handle();
    ViBoolean bSimulate = VI_FALSE;
    session.Check(TARVEK_GetAttributeViBoolean(vi, "", TARVEK_ATTR_SIMULATE, &bSimulate),
                  "TARVEK_ATTR_SIMULATE");
    if (bSimulate == VI_TRUE) {
        throw UsageError("a simulated session sends nothing to trace; give an instrument");
    }
    session.Check(TARVEK_ConfigureIoTrace(vi, VI_TRUE), "TARVEK_ConfigureIoTrace");
    const std::string strMessage = strCommand + "\n";
    ViInt64 nWritten = 0;
    session.Check(TARVEK_viWrite(vi, static_cast<ViInt64>(strMessage.size()),
                                 reinterpret_cast<ViConstBuf>(strMessage.data()), &nWritten),
                  "TARVEK_viWrite");
    if (strCommand.find('?') != std::string::npos) {
        ReadReply(session, strCommand);
    }
    const ViStatus nSize = TARVEK_GetIoTrace(vi, 0, nullptr);
    session.Check(nSize < 0 ? nSize : VI_SUCCESS, "TARVEK_GetIoTrace");
    std::string strText(static_cast<std::size_t>(nSize), '\0');
    session.Check(TARVEK_GetIoTrace(vi, nSize, strText.data()), "TARVEK_GetIoTrace");
    strText.resize(std::strlen(strText.c_str()));
    PrintLines(strText, inv.bJson, nCount);
    return kExitOk;
}

// Prints the file's lines and then each line appended to it, until Ctrl-C or
// --count lines. A file that shrinks or is replaced is read from its start.
int FollowFile(const std::string& strPath, bool bJson, long nCount) {
    InstallInterruptHandler();
    int fd = -1;
    ino_t nInode = 0;
    off_t nOffset = 0;
    std::string strPending;
    bool bWarned = false;
    while (nCount != 0 && !Interrupted()) {
        struct stat info {};
        if (::stat(strPath.c_str(), &info) != 0) {
            if (!bWarned) {
                std::fprintf(stderr, "tarvek: waiting for %s: %s\n", strPath.c_str(),
                             std::strerror(errno));
                bWarned = true;
            }
        } else if (fd < 0 || info.st_ino != nInode || info.st_size < nOffset) {
            if (fd >= 0) {
                ::close(fd);
            }
            fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                throw UsageError("cannot read " + strPath + ": " + std::strerror(errno));
            }
            nInode = info.st_ino;
            nOffset = 0;
            strPending.clear();
        }
        bool bGot = false;
        if (fd >= 0) {
            char buffer[65536];
            const ssize_t n = ::pread(fd, buffer, sizeof buffer, nOffset);
            if (n > 0) {
                bGot = true;
                nOffset += n;
                strPending.append(buffer, static_cast<std::size_t>(n));
                // Only whole lines: the writer may be between two writes.
                const std::size_t nEnd = strPending.rfind('\n');
                if (nEnd != std::string::npos) {
                    PrintLines(strPending.substr(0, nEnd + 1), bJson, nCount);
                    strPending.erase(0, nEnd + 1);
                }
            }
        }
        if (!bGot) {
            std::this_thread::sleep_for(kFollowPoll);
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return Interrupted() ? kExitInterrupted : kExitOk;
}

}  // namespace

bool ParseTraceLine(const std::string& strLine, TraceLine& line) {
    std::istringstream stream(strLine);
    std::string strSession, strStatus;
    if (!(stream >> line.strTime >> strSession >> line.strDirection >> line.strCall >> strStatus)) {
        return false;
    }
    ViUInt32 nStatus = 0;
    if (!ParseHex32(strSession, line.nSession) || !ParseHex32(strStatus, nStatus) ||
        (line.strDirection != "write" && line.strDirection != "read" &&
         line.strDirection != "event") ||
        line.strTime.find_first_not_of("0123456789.") != std::string::npos) {
        return false;
    }
    line.status = static_cast<ViStatus>(nStatus);
    // The data starts after the fifth space; no field before it holds one.
    std::size_t nStart = 0;
    for (int nField = 0; nField < 5; ++nField) {
        const std::size_t nSpace = strLine.find(' ', nStart);
        if (nSpace == std::string::npos) {
            return false;
        }
        nStart = nSpace + 1;
    }
    if (strLine.size() < nStart + 2 || strLine[nStart] != '"' || strLine.back() != '"') {
        return false;
    }
    line.strEscaped = strLine.substr(nStart + 1, strLine.size() - nStart - 2);
    return Unescape(line.strEscaped, line.strData);
}

std::string FormatTraceLine(const TraceLine& line, bool bJson) {
    char szHex[16];
    if (bJson) {
        return JsonObject()
            .Add("time", line.strTime)
            .Add("session", std::to_string(line.nSession))
            .Add("direction", JsonString(line.strDirection))
            .Add("call", JsonString(line.strCall))
            .Add("status", std::to_string(line.status))
            .Add("data", JsonBytes(line.strData))
            .Text();
    }
    std::snprintf(szHex, sizeof szHex, "0x%08X", line.nSession);
    std::string strText = UtcTime(line.strTime) + " " + szHex + " " + line.strDirection +
                          (line.strDirection == "read" ? "  " : " ") + line.strCall + " \"" +
                          line.strEscaped + "\"";
    if (line.status != VI_SUCCESS) {
        strText += "  status " + StatusHex(line.status);
    }
    return strText;
}

int RunTrace(const Invocation& inv) {
    long nCount = -1;
    if (inv.Has("count")) {
        char* pEnd = nullptr;
        const std::string strCount = inv.Value("count");
        nCount = std::strtol(strCount.c_str(), &pEnd, 10);
        if (strCount.empty() || *pEnd != '\0' || nCount < 1) {
            throw UsageError("--count takes a whole number from 1");
        }
    }
    if (inv.Has("follow") == !inv.vecArgs.empty()) {
        throw UsageError("give either RESOURCE or --follow FILE");
    }
    if (inv.Has("follow")) {
        if (inv.Has("scpi")) {
            throw UsageError("--scpi needs a RESOURCE, not --follow");
        }
        return FollowFile(inv.Value("follow"), inv.bJson, nCount);
    }
    return TraceSession(inv, nCount);
}

}  // namespace cli
