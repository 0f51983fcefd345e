// Hostile instrument replies, parsed the way the driver parses them: a live
// session talks over a loopback socket to a scripted instrument that answers
// every query with one line taken from the input. Every reply must give a
// status and sane values, never a crash, a write past a buffer, a read of
// more than the instrument sent (a timeout) or a session that no longer talks.
//
// Input: the first byte picks the instrument family; then lines, each an
// operation byte followed by the reply the operation's first query gets
// (later queries get a well-formed default). Operations are the parsing
// functions below, then a read of every catalogue attribute that queries.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "TARVEK.h"
#include "driver/attributes/CatalogueRows.h"
#include "runtime/session/CallFrame.h"
#include "runtime/session/DriverSession.h"
#include "visa.h"

namespace {

constexpr ViUInt32 kTimeoutMs = 2000;
constexpr std::size_t kMaxOperations = 24;
constexpr char kSyncQuery[] = "*FUZZSYNC?";

[[noreturn]] void Fail(const char* pWhat, std::string_view strDetail = {}) {
    std::fprintf(stderr, "%s: \"%.*s\"\n", pWhat, static_cast<int>(strDetail.size()),
                 strDetail.data());
    std::abort();
}

// An instrument on a loopback socket that answers each line holding a '?'
// with the next scripted reply, or a well-formed default once the script is
// used up. It serves one connection and lives as long as the process.
class ScriptedInstrument {
  public:
    explicit ScriptedInstrument(std::string strIdentity) : m_strIdentity(std::move(strIdentity)) {
        m_nListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nLength = sizeof address;
        if (m_nListen < 0 || bind(m_nListen, reinterpret_cast<sockaddr*>(&address), nLength) != 0 ||
            listen(m_nListen, 1) != 0 ||
            getsockname(m_nListen, reinterpret_cast<sockaddr*>(&address), &nLength) != 0) {
            Fail("cannot listen on the loopback interface");
        }
        m_nPort = ntohs(address.sin_port);
        std::thread([this] { Serve(); }).detach();
    }

    std::string Resource() const {
        return "TCPIP::127.0.0.1::" + std::to_string(m_nPort) + "::SOCKET";
    }

    void Script(std::deque<std::string> replies) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_replies = std::move(replies);
    }

  private:
    std::string Answer(const std::string& strLine) {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (strLine.rfind(kSyncQuery, 0) == 0) {
            return strLine.substr(sizeof kSyncQuery);  // the token after the header
        }
        if (!m_replies.empty()) {
            std::string strReply = std::move(m_replies.front());
            m_replies.pop_front();
            return strReply;
        }
        struct Default {
            const char* pHeader;
            const char* pReply;
        };
        static const Default kDefaults[] = {
            {"*IDN?", nullptr},
            {"*OPC?", "1"},
            {":SYST:ERR?", "0,\"No error\""},
            {"OUTP:PON:STAT?", "RST"},
        };
        for (const Default& entry : kDefaults) {
            if (strLine.rfind(entry.pHeader, 0) == 0) {
                return entry.pReply != nullptr ? entry.pReply : m_strIdentity;
            }
        }
        return "0";
    }

    void Serve() {
        const int nConnection = accept4(m_nListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (nConnection < 0) {
            Fail("accept failed");
        }
        const int nOn = 1;
        setsockopt(nConnection, IPPROTO_TCP, TCP_NODELAY, &nOn, sizeof nOn);
        std::string strPending;
        char buffer[4096];
        for (;;) {
            const ssize_t nRead = recv(nConnection, buffer, sizeof buffer, 0);
            if (nRead <= 0) {
                close(nConnection);
                return;
            }
            strPending.append(buffer, static_cast<std::size_t>(nRead));
            for (std::size_t nEnd; (nEnd = strPending.find('\n')) != std::string::npos;) {
                const std::string strLine = strPending.substr(0, nEnd);
                strPending.erase(0, nEnd + 1);
                if (strLine.find('?') == std::string::npos) {
                    continue;
                }
                const std::string strReply = Answer(strLine) + "\n";
                if (send(nConnection, strReply.data(), strReply.size(), MSG_NOSIGNAL) !=
                    static_cast<ssize_t>(strReply.size())) {
                    Fail("the scripted instrument could not answer");
                }
            }
        }
    }

    std::string m_strIdentity;
    int m_nListen = -1;
    unsigned m_nPort = 0;
    std::mutex m_mutex;
    std::deque<std::string> m_replies;
};

// A session of one family on its own scripted instrument.
struct Bench {
    ScriptedInstrument instrument;
    ViSession vi = VI_NULL;
    drt::DriverSession* pSession = nullptr;
    unsigned long nSync = 0;

    explicit Bench(const char* pIdentity) : instrument(pIdentity) {
        const std::string strResource = instrument.Resource();
        const ViStatus status =
            TARVEK_InitWithOptions(const_cast<ViChar*>(strResource.c_str()), VI_TRUE, VI_FALSE,
                                   "Cache=0,QueryInstrStatus=1", &vi);
        if (status != VI_SUCCESS || drt::FetchSession(vi, pSession) < 0) {
            ViChar szText[1024] = {};
            ViStatus nCode = 0;
            TARVEK_GetError(VI_NULL, &nCode, sizeof szText, szText);
            std::fprintf(stderr, "0x%08X %s\n", static_cast<unsigned>(status), szText);
            Fail("cannot open a session on the scripted instrument", pIdentity);
        }
        const ViSession hInstrument = pSession->GetInstrumentHandle();
        viSetAttribute(hInstrument, VI_ATTR_TMO_VALUE, kTimeoutMs);
    }

    // Reads whatever replies the operations left unread, up to a fresh
    // token, so the next input starts on a clean line.
    void Resynchronise() {
        const ViSession hInstrument = pSession->GetInstrumentHandle();
        const std::string strToken = "sync" + std::to_string(++nSync);
        const std::string strQuery = std::string(kSyncQuery) + " " + strToken + "\n";
        instrument.Script({});
        ViUInt32 nWritten = 0;
        if (viWrite(hInstrument, reinterpret_cast<ViConstBuf>(strQuery.data()),
                    static_cast<ViUInt32>(strQuery.size()), &nWritten) < 0) {
            Fail("the session cannot write any more");
        }
        std::string strLine;
        for (;;) {
            ViByte buffer[512];
            ViUInt32 nRead = 0;
            const ViStatus status = viRead(hInstrument, buffer, sizeof buffer, &nRead);
            if (status < 0) {
                Fail("the session cannot read any more");
            }
            strLine.append(reinterpret_cast<const char*>(buffer), nRead);
            if (status == VI_SUCCESS_MAX_CNT) {
                continue;
            }
            if (strLine == strToken + "\n") {
                return;
            }
            strLine.clear();
        }
    }
};

Bench& Family(bool b6510) {
    // Built once and never torn down: the sessions stay open for every input.
    static Bench* pBenches[2] = {new Bench("Norvale,6313,FZ310,1.0"),
                                 new Bench("Norvale,6512,FZ510,1.0")};
    return *pBenches[b6510 ? 1 : 0];
}

// A status that means the driver read more than the instrument sent, or lost
// the connection to an instrument that never closes it.
void CheckStatus(ViStatus status, const char* pOperation) {
    if (status == VI_ERROR_TMO || status == VI_ERROR_CONN_LOST) {
        Fail("the driver waited for a reply that was never sent", pOperation);
    }
}

// A text buffer followed by guard bytes that must stay untouched, holding a
// terminated text after the call.
struct TextBuffer {
    static constexpr std::size_t kSize = 256;
    static constexpr char kGuard = '\x5a';
    char szText[kSize + 32];
    TextBuffer() { std::memset(szText, kGuard, sizeof szText); }
    void Check(std::size_t nUsable, const char* pOperation) const {
        for (std::size_t i = nUsable; i < sizeof szText; ++i) {
            if (szText[i] != kGuard) {
                Fail("a reply was written past the caller's buffer", pOperation);
            }
        }
        if (nUsable > 0 && std::memchr(szText, '\0', nUsable) == nullptr) {
            Fail("a reply left the caller's buffer unterminated", pOperation);
        }
    }
};

struct Operation {
    const char* pName;
    void (*pRun)(Bench& bench);
};

const Operation kOperations[] = {
    {"identity",
     [](Bench& bench) {
         std::string strFields[4];
         const ViStatus status =
             bench.pSession->QueryIdentity(strFields[0], strFields[1], strFields[2], strFields[3]);
         CheckStatus(status, "identity");
         for (const std::string& strField : strFields) {
             if (strField.size() > 256) {
                 Fail("an identity field is longer than 256 characters", strField);
             }
         }
         bench.pSession->ModelBelongsToFamily(strFields[1], "Series6310");
     }},
    {"status check",
     [](Bench& bench) {
         const ViStatus status = bench.pSession->CheckStatus();
         CheckStatus(status, "status check");
         if (status > 0 || (status < 0 && status != IVI_ERROR_INSTRUMENT_STATUS &&
                            static_cast<std::uint32_t>(status) >> 16 != 0xBFFF)) {
             Fail("the status check gave an unexpected status");
         }
     }},
    {"error query",
     [](Bench& bench) {
         ViInt32 nCode = -12345;
         TextBuffer message;
         const ViStatus status = TARVEK_error_query(bench.vi, &nCode, message.szText);
         CheckStatus(status, "error query");
         if (status >= 0) {
             message.Check(TextBuffer::kSize, "error query");
         }
     }},
    {"power-on state",
     [](Bench& bench) {
         ViInt32 nState = -7;
         ViInt32 nLocation = -7;
         const ViStatus status = TARVEK_QueryPowerOnState(bench.vi, &nState, &nLocation);
         CheckStatus(status, "power-on state");
         if (status >= 0 && (nState < TARVEK_VAL_POWER_ON_STATE_DISABLED ||
                             nState > TARVEK_VAL_POWER_ON_STATE_USER_STATE)) {
             Fail("the power-on state is no defined value");
         }
     }},
    {"programmed output",
     [](Bench& bench) {
         ViReal64 dVoltage = 0;
         ViReal64 dCurrent = 0;
         CheckStatus(TARVEK_QueryChannel(bench.vi, &dVoltage, &dCurrent), "programmed output");
     }},
    {"measurement",
     [](Bench& bench) {
         ViReal64 dValue = 0;
         CheckStatus(TARVEK_Measure(bench.vi, "CH1", TARVEK_VAL_MEASURE_VOLTAGE, &dValue),
                     "measurement");
     }},
    {"output state",
     [](Bench& bench) {
         ViBoolean bInState = 7;
         const ViStatus status = TARVEK_QueryOutputState(
             bench.vi, "CH1", TARVEK_VAL_OUTPUT_CONSTANT_CURRENT, &bInState);
         CheckStatus(status, "output state");
         if (status >= 0 && bInState != VI_TRUE && bInState != VI_FALSE) {
             Fail("the output state is no boolean");
         }
     }},
    {"maximum voltage",
     [](Bench& bench) {
         ViReal64 dValue = 0;
         CheckStatus(TARVEK_QueryMaxVoltageLevel(bench.vi, "CH1", 1.0, &dValue), "maximum voltage");
     }},
    {"operation complete",
     [](Bench& bench) {
         CheckStatus(TARVEK_WaitForOperationComplete(bench.vi), "operation complete");
     }},
    {"direct read",
     [](Bench& bench) {
         static const char kQuery[] = "SYST:VERS?\n";
         ViInt64 nCount = 0;
         CheckStatus(TARVEK_viWrite(bench.vi, sizeof kQuery - 1,
                                    reinterpret_cast<ViConstBuf>(kQuery), &nCount),
                     "direct write");
         ViByte buffer[16 + 32];
         std::memset(buffer, 0x5a, sizeof buffer);
         CheckStatus(TARVEK_viRead(bench.vi, 16, buffer, &nCount), "direct read");
         if (nCount > 16 ||
             std::any_of(buffer + 16, std::end(buffer), [](ViByte c) { return c != 0x5a; })) {
             Fail("a direct read went past its buffer");
         }
     }},
};

// The catalogue attributes a read sends a query for.
const std::vector<const tarvek::AttributeRow*>& QueriedAttributes() {
    static const std::vector<const tarvek::AttributeRow*> vecRows = [] {
        std::vector<const tarvek::AttributeRow*> vecFound;
        for (const tarvek::CatalogueEntry& entry : tarvek::CatalogueEntries()) {
            if ((entry.row.query != nullptr || !entry.row.getter.Empty()) &&
                entry.row.type != tarvek::ValueType::Session) {
                vecFound.push_back(&entry.row);
            }
        }
        return vecFound;
    }();
    return vecRows;
}

void ReadAttribute(Bench& bench, const tarvek::AttributeRow& row) {
    const char* pChannel = row.channel == drt::ChannelKind::Output ? "CH1" : "";
    ViStatus status = VI_SUCCESS;
    switch (row.type) {
        case tarvek::ValueType::Int32: {
            ViInt32 nValue = -987654;
            status = TARVEK_GetAttributeViInt32(bench.vi, pChannel, row.id, &nValue);
            if (status >= 0 && row.values != nullptr) {
                const drt::EnumCommandMap& map = row.values();
                if (std::none_of(map.begin(), map.end(), [&](const drt::EnumCommandInfo& info) {
                        return info.value == nValue;
                    })) {
                    Fail("an enumerated attribute read no defined value", row.name);
                }
            }
            break;
        }
        case tarvek::ValueType::Real64: {
            ViReal64 dValue = 0;
            status = TARVEK_GetAttributeViReal64(bench.vi, pChannel, row.id, &dValue);
            break;
        }
        case tarvek::ValueType::Boolean: {
            ViBoolean bValue = 7;
            status = TARVEK_GetAttributeViBoolean(bench.vi, pChannel, row.id, &bValue);
            if (status >= 0 && bValue != VI_TRUE && bValue != VI_FALSE) {
                Fail("a boolean attribute read no boolean", row.name);
            }
            break;
        }
        case tarvek::ValueType::String: {
            // A buffer far too small for most replies, then one that fits them.
            for (const ViInt32 nSize : {5, static_cast<ViInt32>(TextBuffer::kSize)}) {
                TextBuffer text;
                status =
                    TARVEK_GetAttributeViString(bench.vi, pChannel, row.id, nSize, text.szText);
                CheckStatus(status, row.name);
                if (status >= 0) {
                    text.Check(static_cast<std::size_t>(nSize), row.name);
                }
            }
            break;
        }
        case tarvek::ValueType::Session:
            break;
    }
    CheckStatus(status, row.name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    if (nSize == 0) {
        return 0;
    }
    Bench& bench = Family((pData[0] & 1) != 0);
    const std::string_view strInput(reinterpret_cast<const char*>(pData + 1), nSize - 1);
    const auto& vecAttributes = QueriedAttributes();
    const std::size_t nChoices = std::size(kOperations) + vecAttributes.size();
    std::size_t nOperations = 0;
    for (std::size_t nStart = 0; nStart < strInput.size() && nOperations < kMaxOperations;
         ++nOperations) {
        std::size_t nEnd = strInput.find('\n', nStart);
        if (nEnd == std::string_view::npos) {
            nEnd = strInput.size();
        }
        const std::string_view strLine = strInput.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (strLine.empty()) {
            continue;
        }
        const std::size_t nChoice = static_cast<unsigned char>(strLine[0]) % nChoices;
        bench.instrument.Script({std::string(strLine.substr(1))});
        if (nChoice < std::size(kOperations)) {
            kOperations[nChoice].pRun(bench);
        } else {
            ReadAttribute(bench, *vecAttributes[nChoice - std::size(kOperations)]);
        }
    }
    bench.Resynchronise();
    return 0;
}
