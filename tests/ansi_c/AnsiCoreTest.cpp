// The hand-written core of the IVI-ANSI-C interface: the variable-size
// protocol's edge cases on every kind of text it returns, the option string,
// the error functions and their shared record with IVI-C, the error queue,
// and direct I/O, in simulation and over a loopback connection to the
// emulator with the bytes it received checked.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "AnsiTestSupport.h"

namespace ansitest {
namespace {

using tarvektest::EmulatorFor;

constexpr char kUntouched = '#';

TK6x1xSession OpenSimulated(const char* pModel = "6313") {
    TK6x1xSession session = TK6X1X_INVALID_SESSION;
    const std::string strOptions = std::string("Simulate=true;DriverSetup=Model:") + pModel;
    EXPECT_EQ(TK6x1x_init_with_options("", false, false, strOptions.c_str(), &session),
              TK6X1X_SUCCESS)
        << AnsiLastError(TK6X1X_INVALID_SESSION);
    return session;
}

// A session on an emulator that lives as long as the fixture.
class LiveAnsi {
  public:
    explicit LiveAnsi(const char* pModel = "6313", const char* pOptions = "")
        : m_emulator(EmulatorFor(pModel)) {
        m_emulator.Start();
        EXPECT_EQ(TK6x1x_init_with_options(m_emulator.Resource().c_str(), true, false, pOptions,
                                           &m_session),
                  TK6X1X_SUCCESS)
            << AnsiLastError(TK6X1X_INVALID_SESSION);
        m_emulator.ClearLines();
    }
    ~LiveAnsi() { TK6x1x_close(m_session); }
    TK6x1xSession session() const { return m_session; }
    emu::Emulator& Emulator() { return m_emulator; }

  private:
    emu::Emulator m_emulator;
    TK6x1xSession m_session = TK6X1X_INVALID_SESSION;
};

// A function that returns a text by the protocol, and the text it returns.
struct TextSource {
    const char* pName;
    std::function<int32_t(TK6x1xSession, size_t, char*, size_t*)> read;
    std::string strExpected;  // empty: any text
};

std::vector<TextSource> TextSources() {
    return {
        {"driver_vendor", TK6x1x_driver_vendor_get, "Norvale"},
        {"driver_version", TK6x1x_driver_version_get, "2.0.0.0"},
        {"instrument_manufacturer", TK6x1x_instrument_manufacturer_get, "Norvale"},
        {"instrument_model", TK6x1x_instrument_model_get, "6313"},
        {"supported_instrument_models", TK6x1x_supported_instrument_models_get, ""},
        {"scpi_version (a text attribute)", TK6x1x_scpi_version_get, ""},
        {"channel name (a generated function)",
         [](TK6x1xSession session, size_t nSize, char* pBuffer, size_t* pRequired) {
             return TK6x1x_get_channel_name(session, 2, nSize, pBuffer, pRequired);
         },
         "CH2"},
        {"error_message (no session)",
         [](TK6x1xSession, size_t nSize, char* pBuffer, size_t* pRequired) {
             return TK6x1x_error_message(TK6X1X_ERROR_INVALID_VALUE, nSize, pBuffer, pRequired);
         },
         ""},
    };
}

// The edge cases of the protocol, as sizes relative to the text with its
// null (nNeeded): the buffer offered, whether it is null, whether
// size_required is offered, and what must come back.
struct SizeCase {
    const char* pCase;
    long nSizeFromNeeded;  // the size passed is nNeeded + this, or 0 when bZeroSize
    bool bZeroSize;
    bool bNullBuffer;
    bool bNullRequired;
    int32_t nStatus;
    bool bWritten;         // the text is in the buffer
    bool bRequiredIsSize;  // size_required says nNeeded
};

constexpr SizeCase kSizeCases[] = {
    {"size 0, buffer given: the size only", 0, true, false, false, TK6X1X_SUCCESS, false, true},
    {"null buffer, size given: the size only", 0, false, true, false, TK6X1X_SUCCESS, false, true},
    {"size 0 and null buffer: the size only", 0, true, true, false, TK6X1X_SUCCESS, false, true},
    {"one byte too small: refused, untouched", -1, false, false, false,
     TK6X1X_ERROR_BUFFER_TOO_SMALL, false, true},
    {"size 1: refused, untouched", 0, false, false, false, TK6X1X_ERROR_BUFFER_TOO_SMALL, false,
     true},
    {"exact fit", 0, false, false, false, TK6X1X_SUCCESS, true, true},
    {"larger than needed", 100, false, false, false, TK6X1X_SUCCESS, true, true},
    {"exact fit without size_required", 0, false, false, true, TK6X1X_SUCCESS, true, false},
    {"size only without size_required: refused", 0, true, true, true, TK6X1X_ERROR_NULL_POINTER,
     false, false},
};

TEST(AnsiSizeProtocol, EveryTextFollowsTheEdgeCaseTable) {
    const TK6x1xSession session = OpenSimulated();
    for (const TextSource& source : TextSources()) {
        SCOPED_TRACE(source.pName);
        size_t nNeeded = 0;
        ASSERT_EQ(source.read(session, 0, nullptr, &nNeeded), TK6X1X_SUCCESS);
        ASSERT_GE(nNeeded, 2u);
        for (const SizeCase& row : kSizeCases) {
            SCOPED_TRACE(row.pCase);
            std::string strBuffer(nNeeded + 200, kUntouched);
            size_t nSize = row.bZeroSize ? 0 : nNeeded + row.nSizeFromNeeded;
            if (std::strcmp(row.pCase, "size 1: refused, untouched") == 0) {
                nSize = 1;
            }
            size_t nRequired = 12345;
            const int32_t status =
                source.read(session, nSize, row.bNullBuffer ? nullptr : strBuffer.data(),
                            row.bNullRequired ? nullptr : &nRequired);
            EXPECT_EQ(status, row.nStatus) << AnsiLastError(session);
            if (row.bRequiredIsSize) {
                EXPECT_EQ(nRequired, nNeeded);
            }
            if (row.bWritten) {
                EXPECT_EQ(std::strlen(strBuffer.c_str()) + 1, nNeeded);
                EXPECT_EQ(strBuffer[nNeeded], kUntouched) << "written past the text";
                if (!source.strExpected.empty()) {
                    EXPECT_EQ(strBuffer.c_str(), source.strExpected);
                }
            } else {
                EXPECT_EQ(strBuffer, std::string(nNeeded + 200, kUntouched));
            }
        }
    }
    EXPECT_EQ(TK6x1x_close(session), TK6X1X_SUCCESS);
}

TEST(AnsiSizeProtocol, TooSmallABufferSaysSoInTheLastError) {
    const TK6x1xSession session = OpenSimulated();
    char buffer[4] = "";
    size_t nRequired = 0;
    ASSERT_EQ(TK6x1x_driver_vendor_get(session, sizeof buffer, buffer, &nRequired),
              TK6X1X_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(nRequired, 8u);
    EXPECT_NE(AnsiLastError(session).find("the buffer holds 4 bytes; the value needs 8"),
              std::string::npos)
        << AnsiLastError(session);
    TK6x1x_close(session);
}

// The error_query entry is taken from the queue once: asking its size keeps
// it for the next call, which gets it whole.
TEST(AnsiErrorQuery, AskingTheSizeKeepsTheEntryForTheNextCall) {
    LiveAnsi live;
    ASSERT_EQ(TK6x1x_direct_io_write_string(live.session(), "VOLT 99\n"), TK6X1X_SUCCESS);
    int32_t nCode = 12345;
    size_t nRequired = 0;
    ASSERT_EQ(TK6x1x_error_query(live.session(), &nCode, 0, nullptr, &nRequired), TK6X1X_SUCCESS);
    EXPECT_EQ(nCode, 12345) << "the size alone leaves the outputs as they were";
    std::string strMessage(nRequired - 1, kUntouched);  // one short
    EXPECT_EQ(TK6x1x_error_query(live.session(), &nCode, strMessage.size(), strMessage.data(),
                                 &nRequired),
              TK6X1X_ERROR_BUFFER_TOO_SMALL);
    strMessage.assign(nRequired, kUntouched);
    ASSERT_EQ(TK6x1x_error_query(live.session(), &nCode, strMessage.size(), strMessage.data(),
                                 &nRequired),
              TK6X1X_SUCCESS);
    EXPECT_EQ(nCode, -222);
    EXPECT_STREQ(strMessage.c_str(), "Data out of range");
    const auto lines = live.Emulator().Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), ":SYST:ERR?"), 1) << "read once";
    char buffer[64] = "";
    ASSERT_EQ(TK6x1x_error_query(live.session(), &nCode, sizeof buffer, buffer, &nRequired),
              TK6X1X_SUCCESS);
    EXPECT_EQ(nCode, 0);
}

TEST(AnsiErrorQueue, ReadsEveryEntryFormattedAndLeavesTheQueueEmpty) {
    LiveAnsi live;
    for (const char* pCommand : {"VOLT 99\n", "BOGUS\n", "CURR 99\n"}) {
        ASSERT_EQ(TK6x1x_direct_io_write_string(live.session(), pCommand), TK6X1X_SUCCESS);
    }
    char queue[512];
    ASSERT_EQ(TK6x1x_read_and_clear_error_queue(live.session(), sizeof queue, queue),
              TK6X1X_SUCCESS)
        << AnsiLastError(live.session());
    EXPECT_STREQ(queue,
                 "-222,\"Data out of range\";-113,\"Undefined header\";-222,\"Data out of range\"");
    ASSERT_EQ(TK6x1x_read_and_clear_error_queue(live.session(), sizeof queue, queue),
              TK6X1X_SUCCESS);
    EXPECT_STREQ(queue, "");
}

TEST(AnsiErrorQueue, KeepsOnlyWholeEntriesThatFitAndDropsTheRest) {
    LiveAnsi live;
    for (const char* pCommand : {"VOLT 99\n", "BOGUS\n"}) {
        ASSERT_EQ(TK6x1x_direct_io_write_string(live.session(), pCommand), TK6X1X_SUCCESS);
    }
    const std::string strFirst = "-222,\"Data out of range\"";
    std::string strBuffer(strFirst.size() + 5, kUntouched);  // not enough for ";-113,..."
    ASSERT_EQ(TK6x1x_read_and_clear_error_queue(live.session(), strBuffer.size(), strBuffer.data()),
              TK6X1X_SUCCESS);
    EXPECT_EQ(strBuffer.c_str(), strFirst);
    char queue[256];
    ASSERT_EQ(TK6x1x_read_and_clear_error_queue(live.session(), sizeof queue, queue),
              TK6X1X_SUCCESS);
    EXPECT_STREQ(queue, "") << "the entry that did not fit was read and dropped";
}

TEST(AnsiErrorQueue, RefusesAZeroSizeOrANullBufferWithoutReading) {
    LiveAnsi live;
    char queue[16] = "#";
    EXPECT_EQ(TK6x1x_read_and_clear_error_queue(live.session(), 0, queue),
              TK6X1X_ERROR_INVALID_VALUE);
    EXPECT_EQ(TK6x1x_read_and_clear_error_queue(live.session(), sizeof queue, nullptr),
              TK6X1X_ERROR_NULL_POINTER);
    EXPECT_STREQ(queue, "#");
    EXPECT_TRUE(live.Emulator().Lines().empty());
    EXPECT_NE(AnsiLastError(live.session()).find("error_queue"), std::string::npos);
}

// An instrument whose queue never empties, one that garbles its answer and
// one that does not answer: each read ends, with whole entries or a status.
TEST(AnsiErrorQueue, EndsOnAHostileInstrument) {
    LiveAnsi live;
    live.Emulator().SetFixedReply(":SYST:ERR?", "-100,\"Command error\"");
    char queue[64];
    ASSERT_EQ(TK6x1x_read_and_clear_error_queue(live.session(), sizeof queue, queue),
              TK6X1X_SUCCESS);
    EXPECT_STREQ(queue, "-100,\"Command error\";-100,\"Command error\";-100,\"Command error\"");

    live.Emulator().ClearFaults();
    live.Emulator().SetGarbledReply(":SYST:ERR?");
    std::strcpy(queue, "#");
    EXPECT_EQ(TK6x1x_read_and_clear_error_queue(live.session(), sizeof queue, queue),
              IVI_ERROR_UNEXPECTED_RESPONSE);
    EXPECT_FALSE(AnsiLastError(live.session()).empty());

    live.Emulator().ClearFaults();
    live.Emulator().SetNoReply(":SYST:ERR?");
    ASSERT_EQ(TK6x1x_direct_io_timeout_milliseconds_set(live.session(), 200), TK6X1X_SUCCESS);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_LT(TK6x1x_read_and_clear_error_queue(live.session(), sizeof queue, queue), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    int32_t nCode = 0;
    size_t nRequired = 0;
    EXPECT_LT(TK6x1x_error_query(live.session(), &nCode, 0, nullptr, &nRequired), 0);
}

struct OptionCase {
    const char* pOptions;
    int32_t nStatus;
    const char* pModel;  // what the session reports, when it opens
};

TEST(AnsiInit, TakesNameValuePairsSeparatedBySemicolons) {
    const OptionCase kCases[] = {
        {"Simulate=true", TK6X1X_SUCCESS, "6310"},
        {"Simulate=true;", TK6X1X_SUCCESS, "6310"},
        {" Simulate = true ; Cache=false ;DriverSetup=Model:6513", TK6X1X_SUCCESS, "6513"},
        {"DriverSetup=Model:6512;Simulate=1", TK6X1X_SUCCESS, "6512"},
        {"simulate=TRUE;rangecheck=false", TK6X1X_SUCCESS, "6310"},
        {"Simulate", TK6X1X_ERROR_BAD_OPTION_NAME, nullptr},
        {"=true;Simulate=true", TK6X1X_ERROR_BAD_OPTION_NAME, nullptr},
        {"Simulate=maybe", TK6X1X_ERROR_BAD_OPTION_VALUE, nullptr},
        {"Simulate=true,Cache=false", TK6X1X_ERROR_BAD_OPTION_VALUE, nullptr},
        {"Simulate=true;Bogus=1", TK6X1X_ERROR_BAD_OPTION_NAME, nullptr},
        {"Simulate=true;Simulate=false", IVI_ERROR_CANNOT_RECOVER, nullptr},
    };
    for (const OptionCase& row : kCases) {
        SCOPED_TRACE(row.pOptions);
        TK6x1xSession session = reinterpret_cast<TK6x1xSession>(std::uintptr_t{77});
        const int32_t status = TK6x1x_init_with_options("", false, false, row.pOptions, &session);
        EXPECT_EQ(status, row.nStatus) << AnsiLastError(TK6X1X_INVALID_SESSION);
        if (status < 0) {
            EXPECT_EQ(session, TK6X1X_INVALID_SESSION);
            EXPECT_FALSE(AnsiLastError(TK6X1X_INVALID_SESSION).empty());
            continue;
        }
        char model[32] = "";
        size_t nRequired = 0;
        EXPECT_EQ(TK6x1x_instrument_model_get(session, sizeof model, model, &nRequired),
                  TK6X1X_SUCCESS);
        EXPECT_STREQ(model, row.pModel);
        EXPECT_EQ(TK6x1x_close(session), TK6X1X_SUCCESS);
    }
}

TEST(AnsiInit, StartsWithoutSimulationOrStatusQueryAndHonoursTheOptions) {
    LiveAnsi live;
    bool bFlag = true;
    EXPECT_EQ(TK6x1x_simulate_get(live.session(), &bFlag), TK6X1X_SUCCESS);
    EXPECT_FALSE(bFlag);
    bFlag = true;
    EXPECT_EQ(TK6x1x_query_instrument_status_enabled_get(live.session(), &bFlag), TK6X1X_SUCCESS);
    EXPECT_FALSE(bFlag);
    EXPECT_EQ(TK6x1x_query_instrument_status_enabled_set(live.session(), true), TK6X1X_SUCCESS);
    EXPECT_EQ(TK6x1x_query_instrument_status_enabled_get(live.session(), &bFlag), TK6X1X_SUCCESS);
    EXPECT_TRUE(bFlag);
    // With the status query on, a value the instrument refuses fails the call.
    live.Emulator().ClearLines();
    EXPECT_EQ(TK6x1x_current_level_set(live.session(), 9.5), TK6X1X_SUCCESS);
    EXPECT_EQ(TK6x1x_voltage_level_set(live.session(), "CH1", 59.0), TK6X1X_SUCCESS);
}

TEST(AnsiInit, AFailedOpenExplainsItselfThroughTheInvalidSession) {
    TK6x1xSession session = TK6X1X_INVALID_SESSION;
    EXPECT_LT(TK6x1x_init("TCPIP::127.0.0.1::1::SOCKET", true, false, &session), 0);
    EXPECT_EQ(session, TK6X1X_INVALID_SESSION);
    const std::string strText = AnsiLastError(TK6X1X_INVALID_SESSION);
    EXPECT_FALSE(strText.empty());
    EXPECT_EQ(TK6x1x_clear_last_error(TK6X1X_INVALID_SESSION), TK6X1X_SUCCESS);
    EXPECT_EQ(AnsiLastError(TK6X1X_INVALID_SESSION), "");
    EXPECT_EQ(TK6x1x_init("", false, false, nullptr), TK6X1X_ERROR_NULL_POINTER);
    EXPECT_NE(AnsiLastError(TK6X1X_INVALID_SESSION).find("session_out"), std::string::npos);
}

TEST(AnsiErrors, ErrorMessageIsEmptyForSuccessAndRefusesUnknownCodes) {
    char text[256] = "#";
    size_t nRequired = 0;
    EXPECT_EQ(TK6x1x_error_message(TK6X1X_SUCCESS, sizeof text, text, &nRequired), TK6X1X_SUCCESS);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(nRequired, 1u);
    std::strcpy(text, "#");
    EXPECT_EQ(TK6x1x_error_message(0x12345, sizeof text, text, &nRequired),
              TK6X1X_ERROR_INVALID_VALUE);
    EXPECT_STREQ(text, "#") << "the buffer stays untouched";
    for (int32_t nCode : {TK6X1X_ERROR_ATTRIBUTE_NOT_SUPPORTED, TK6X1X_ERROR_BUFFER_TOO_SMALL,
                          TK6X1X_ERROR_DIRECT_IO_IN_SIMULATION, TK6X1X_ERROR_INVALID_SESSION}) {
        SCOPED_TRACE(nCode);
        EXPECT_EQ(TK6x1x_error_message(nCode, sizeof text, text, &nRequired), TK6X1X_SUCCESS);
        EXPECT_GT(std::strlen(text), 5u);
    }
}

// The error record is the session's: the IVI-C driver's text, details and
// all, and the layer's own texts until the driver fails again.
TEST(AnsiErrors, LastErrorIsTheSessionsRecordSharedWithIviC) {
    const TK6x1xSession session = OpenSimulated();
    const ViSession vi = static_cast<ViSession>(reinterpret_cast<std::uintptr_t>(session));
    EXPECT_EQ(AnsiLastError(session), "");
    ASSERT_EQ(TK6x1x_voltage_level_set(session, "CH1", 75.0), TK6X1X_ERROR_INVALID_VALUE);
    ViStatus nCode = 0;
    ViChar ivi[1024] = "";
    TARVEK_GetError(vi, &nCode, sizeof ivi, ivi);
    EXPECT_EQ(nCode, TK6X1X_ERROR_INVALID_VALUE);
    EXPECT_EQ(AnsiLastError(session), ivi);
    EXPECT_NE(AnsiLastError(session).find("'75'"), std::string::npos);
    EXPECT_EQ(AnsiLastError(session), ivi) << "reading it does not clear it";

    EXPECT_EQ(TK6x1x_voltage_level_get(session, "CH1", nullptr), TK6X1X_ERROR_NULL_POINTER);
    EXPECT_EQ(TK6x1x_driver_vendor_get(session, 0, nullptr, nullptr), TK6X1X_ERROR_NULL_POINTER);
    EXPECT_NE(AnsiLastError(session).find("size_required"), std::string::npos);
    EXPECT_LT(TK6x1x_voltage_level_set(session, "CH9", 1.0), 0)
        << "a driver failure replaces the layer's record";
    EXPECT_EQ(AnsiLastError(session).find("size_required"), std::string::npos);
    EXPECT_NE(AnsiLastError(session).find("CH9"), std::string::npos) << AnsiLastError(session);

    EXPECT_EQ(TK6x1x_clear_last_error(session), TK6X1X_SUCCESS);
    EXPECT_EQ(AnsiLastError(session), "");
    EXPECT_EQ(TK6x1x_close(session), TK6X1X_SUCCESS);
}

// Every accessor of the catalogue, given a null pointer where it must write
// or read, refuses with a status and a text, and the session works on.
TEST(AnsiErrors, EveryAccessorRefusesNullPointers) {
    const TK6x1xSession session = OpenSimulated();
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.pName);
        int32_t status = 0;
        if (row.cType == 's') {
            using Fn = int32_t (*)(TK6x1xSession, size_t, char*, size_t*);
            using ChannelFn = int32_t (*)(TK6x1xSession, const char*, size_t, char*, size_t*);
            status = row.bChannel ? reinterpret_cast<ChannelFn>(row.pGet)(session, "CH1", 8,
                                                                          nullptr, nullptr)
                                  : reinterpret_cast<Fn>(row.pGet)(session, 8, nullptr, nullptr);
        } else if (row.bChannel) {
            status = reinterpret_cast<int32_t (*)(TK6x1xSession, const char*, void*)>(row.pGet)(
                session, "CH1", nullptr);
        } else {
            status =
                reinterpret_cast<int32_t (*)(TK6x1xSession, void*)>(row.pGet)(session, nullptr);
        }
        EXPECT_LT(status, 0);
        EXPECT_FALSE(AnsiLastError(session).empty());
        if (row.cType == 's' && row.pSet != nullptr) {
            EXPECT_LT(reinterpret_cast<int32_t (*)(TK6x1xSession, const char*)>(row.pSet)(session,
                                                                                          nullptr),
                      0);
        }
        if (row.bChannel && row.cType == 'r') {
            double dValue = 0;
            EXPECT_LT(reinterpret_cast<int32_t (*)(TK6x1xSession, const char*, double*)>(row.pGet)(
                          session, nullptr, &dValue),
                      0)
                << "no channel named";
        }
        EXPECT_EQ(TK6x1x_clear_last_error(session), TK6X1X_SUCCESS);
    }
    double dLevel = 0;
    EXPECT_EQ(TK6x1x_voltage_level_get(session, "CH1", &dLevel), TK6X1X_SUCCESS);
    TK6x1x_close(session);
}

TEST(AnsiErrors, EveryKindOfFunctionRefusesAnInvalidSession) {
    const TK6x1xSession bad = reinterpret_cast<TK6x1xSession>(std::uintptr_t{0x7777});
    double dValue = 0;
    bool bValue = false;
    char text[16];
    size_t nRequired = 0;
    uint8_t data[4] = {};
    size_t nCount = 0;
    EXPECT_EQ(TK6x1x_voltage_level_get(bad, "CH1", &dValue), TK6X1X_ERROR_INVALID_SESSION);
    EXPECT_EQ(TK6x1x_ocp_enabled_set(bad, true), TK6X1X_ERROR_INVALID_SESSION);
    EXPECT_EQ(TK6x1x_simulate_get(bad, &bValue), TK6X1X_ERROR_INVALID_SESSION);
    EXPECT_EQ(TK6x1x_instrument_model_get(bad, sizeof text, text, &nRequired),
              TK6X1X_ERROR_INVALID_SESSION);
    EXPECT_EQ(TK6x1x_configure_ovp(bad, "CH1", true, 5.0), TK6X1X_ERROR_INVALID_SESSION);
    EXPECT_EQ(TK6x1x_read_and_clear_error_queue(bad, sizeof text, text),
              TK6X1X_ERROR_INVALID_SESSION);
    EXPECT_EQ(TK6x1x_direct_io_read_bytes(bad, sizeof data, data, &nCount),
              TK6X1X_ERROR_INVALID_SESSION);
    EXPECT_EQ(TK6x1x_reset(bad), TK6X1X_ERROR_INVALID_SESSION);
    EXPECT_EQ(TK6x1x_close(bad), TK6X1X_ERROR_INVALID_SESSION);
}

TEST(AnsiDirectIo, WritesAndReadsTheExactBytesOnTheWire) {
    LiveAnsi live;
    ASSERT_EQ(TK6x1x_direct_io_write_string(live.session(), "*IDN?\n"), TK6X1X_SUCCESS);
    char text[128] = "";
    ASSERT_GE(TK6x1x_direct_io_read_string(live.session(), sizeof text, text), 0);
    EXPECT_STREQ(text, "Norvale,6313,SN000001,1.02\n");
    const uint8_t command[] = {'S', 'Y', 'S', 'T', ':', 'V', 'E', 'R', 'S', '?', '\n'};
    ASSERT_EQ(TK6x1x_direct_io_write_bytes(live.session(), sizeof command, command),
              TK6X1X_SUCCESS);
    uint8_t data[64] = {};
    size_t nCount = 0;
    ASSERT_GE(TK6x1x_direct_io_read_bytes(live.session(), sizeof data, data, &nCount), 0);
    EXPECT_GT(nCount, 1u);
    EXPECT_EQ(data[nCount - 1], '\n');
    EXPECT_EQ(live.Emulator().Lines(), (std::vector<std::string>{"*IDN?", "SYST:VERS?"}));
}

TEST(AnsiDirectIo, AShortBufferGetsTheStartAndTheNextReadTheNextResponse) {
    LiveAnsi live;
    ASSERT_EQ(TK6x1x_direct_io_write_string(live.session(), "*IDN?\n"), TK6X1X_SUCCESS);
    char text[8] = "";
    ASSERT_GE(TK6x1x_direct_io_read_string(live.session(), sizeof text, text), 0);
    EXPECT_STREQ(text, "Norvale");
    ASSERT_EQ(TK6x1x_direct_io_write_string(live.session(), "*IDN?\n"), TK6X1X_SUCCESS);
    char whole[64] = "";
    ASSERT_GE(TK6x1x_direct_io_read_string(live.session(), sizeof whole, whole), 0);
    EXPECT_STREQ(whole, "Norvale,6313,SN000001,1.02\n");
    EXPECT_EQ(TK6x1x_direct_io_read_string(live.session(), 0, whole), TK6X1X_ERROR_INVALID_VALUE);
    EXPECT_EQ(TK6x1x_direct_io_write_string(live.session(), nullptr), TK6X1X_ERROR_NULL_POINTER);
}

TEST(AnsiDirectIo, TimeoutIsTheIoSessionsAndReadsGiveUpAfterIt) {
    LiveAnsi live;
    ASSERT_EQ(TK6x1x_direct_io_timeout_milliseconds_set(live.session(), 200), TK6X1X_SUCCESS);
    int32_t nTimeout = 0;
    ASSERT_EQ(TK6x1x_direct_io_timeout_milliseconds_get(live.session(), &nTimeout), TK6X1X_SUCCESS);
    EXPECT_EQ(nTimeout, 200);
    char text[16] = "#";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_LT(TK6x1x_direct_io_read_string(live.session(), sizeof text, text), 0)
        << "nothing was asked, so nothing comes";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_STREQ(text, "");
}

TEST(AnsiDirectIo, IsRefusedInSimulation) {
    const TK6x1xSession session = OpenSimulated();
    EXPECT_EQ(TK6x1x_direct_io_write_string(session, "*IDN?\n"),
              TK6X1X_ERROR_DIRECT_IO_IN_SIMULATION);
    char text[16];
    EXPECT_EQ(TK6x1x_direct_io_read_string(session, sizeof text, text),
              TK6X1X_ERROR_DIRECT_IO_IN_SIMULATION);
    EXPECT_NE(AnsiLastError(session).find("simulation"), std::string::npos);
    TK6x1x_close(session);
}

// A session is the driver's: what one interface sets, the other reads, under
// the same lock and cache.
TEST(AnsiSessions, AreTheIviCDriversSessions) {
    LiveAnsi live;
    const ViSession vi = static_cast<ViSession>(reinterpret_cast<std::uintptr_t>(live.session()));
    ASSERT_EQ(TK6x1x_voltage_level_set(live.session(), "CH2", 7.5), TK6X1X_SUCCESS);
    ViReal64 dLevel = 0;
    ASSERT_EQ(TARVEK_GetAttributeViReal64(vi, "CH2", TARVEK_ATTR_VOLTAGE_LEVEL, &dLevel),
              VI_SUCCESS);
    EXPECT_DOUBLE_EQ(dLevel, 7.5);
    bool bHasLock = false;
    ASSERT_EQ(TK6x1x_lock_session(live.session(), &bHasLock), TK6X1X_SUCCESS);
    EXPECT_TRUE(bHasLock);
    ASSERT_EQ(TK6x1x_unlock_session(live.session(), &bHasLock), TK6X1X_SUCCESS);
    EXPECT_FALSE(bHasLock);
}

// Two threads on one session through both interfaces: each call runs under
// the session's lock, so a per-channel write never lands on the other
// thread's channel even though the instrument selects channels in between.
TEST(AnsiSessions, CallsFromTwoThreadsKeepTheirChannelsApart) {
    LiveAnsi live;
    const ViSession vi = static_cast<ViSession>(reinterpret_cast<std::uintptr_t>(live.session()));
    std::atomic<int> nWrong{0};
    auto work = [&](const char* pChannel, double dBase, bool bAnsi) {
        for (int n = 0; n < 40; ++n) {
            const double dLevel = dBase + n * 0.01;
            double dRead = -1;
            if (bAnsi) {
                TK6x1x_voltage_level_set(live.session(), pChannel, dLevel);
                TK6x1x_invalidate_all_attributes(live.session());
                TK6x1x_voltage_level_get(live.session(), pChannel, &dRead);
            } else {
                TARVEK_SetAttributeViReal64(vi, pChannel, TARVEK_ATTR_VOLTAGE_LEVEL, dLevel);
                TARVEK_InvalidateAllAttributes(vi);
                TARVEK_GetAttributeViReal64(vi, pChannel, TARVEK_ATTR_VOLTAGE_LEVEL, &dRead);
            }
            if (std::abs(dRead - dLevel) > 1e-9) {
                ++nWrong;
            }
        }
    };
    std::thread first(work, "CH1", 1.0, true);
    std::thread second(work, "CH2", 20.0, false);
    std::thread third(work, "CH3", 10.0, true);
    first.join();
    second.join();
    third.join();
    EXPECT_EQ(nWrong.load(), 0);
}

}  // namespace
}  // namespace ansitest
