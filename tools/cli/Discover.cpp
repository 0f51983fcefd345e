// tarvek discover: the LAN instruments that answer, one row each, with the
// identity each gives. The search is the VISA library's (VXI-11 broadcast
// and multicast DNS); the identity comes from *IDN? over the instrument's
// first resource, or, for one that will not answer, from its LXI
// identification document. The whole command keeps to --timeout: the
// search takes the first 70 %, the identity queries (all at once) the rest.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <pugixml.hpp>

#include "Discovery.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Json.h"
#include "visa.h"

namespace cli {
namespace {

struct Identity {
    std::string strManufacturer;
    std::string strModel;
    std::string strSerial;
    std::string strFirmware;
    std::string strSource;  // "idn", "lxi" or "" when neither answered
};

struct Row {
    tkvisa::LanInstrument instrument;
    Identity identity;
};

// The four fields of an *IDN? reply; false when it has fewer than four.
bool ParseIdn(const std::string& strReply, Identity& identity) {
    std::vector<std::string> vecFields(1);
    for (const char c : strReply) {
        if (c == ',') {
            vecFields.emplace_back();
        } else if (c != '\n' && c != '\r') {
            vecFields.back() += c;
        }
    }
    if (vecFields.size() < 4) {
        return false;
    }
    identity = Identity{vecFields[0], vecFields[1], vecFields[2], vecFields[3], "idn"};
    return true;
}

// *IDN? over the resource, bounded by nTimeoutMs for opening and for each exchange.
bool QueryIdn(const std::string& strResource, ViUInt32 nTimeoutMs, Identity& identity) {
    ViSession rm = VI_NULL;
    if (viOpenDefaultRM(&rm) < VI_SUCCESS) {
        return false;
    }
    bool bOk = false;
    ViSession vi = VI_NULL;
    if (viOpen(rm, strResource.c_str(), VI_NULL, nTimeoutMs, &vi) >= VI_SUCCESS) {
        viSetAttribute(vi, VI_ATTR_TMO_VALUE, nTimeoutMs);
        viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE);  // a socket ends replies at the LF
        static const char kQuery[] = "*IDN?\n";
        ViUInt32 nCount = 0;
        char achReply[256];
        if (viWrite(vi, reinterpret_cast<ViConstBuf>(kQuery), sizeof kQuery - 1, &nCount) >=
                VI_SUCCESS &&
            viRead(vi, reinterpret_cast<ViPBuf>(achReply), sizeof achReply, &nCount) >=
                VI_SUCCESS) {
            bOk = ParseIdn(std::string(achReply, nCount), identity);
        }
        viClose(vi);
    }
    viClose(rm);
    return bOk;
}

// The identity in the instrument's LXI identification document.
bool FetchLxi(const std::string& strAddress, std::uint16_t nPort, int nTimeoutMs,
              Identity& identity) {
    httplib::Client client(strAddress, nPort);
    const time_t nSeconds = nTimeoutMs / 1000;
    const time_t nMicros = (nTimeoutMs % 1000) * 1000;
    client.set_connection_timeout(nSeconds, nMicros);
    client.set_read_timeout(nSeconds, nMicros);
    client.set_write_timeout(nSeconds, nMicros);
    // A document is a few kilobytes: a body larger than this is not one, and
    // its reading stops there.
    constexpr std::size_t kMaxDocument = 64 * 1024;
    std::string strBody;
    const httplib::Result result =
        client.Get("/lxi/identification", [&](const char* pData, std::size_t nLength) {
            strBody.append(pData, std::min(nLength, kMaxDocument + 1 - strBody.size()));
            return strBody.size() <= kMaxDocument;
        });
    if (!result || result->status != 200 || strBody.size() > kMaxDocument) {
        return false;
    }
    pugi::xml_document document;
    if (!document.load_buffer(strBody.data(), strBody.size())) {
        return false;
    }
    const pugi::xml_node device = document.child("LXIDevice");
    identity =
        Identity{device.child_value("Manufacturer"), device.child_value("Model"),
                 device.child_value("SerialNumber"), device.child_value("FirmwareRevision"), "lxi"};
    return !identity.strManufacturer.empty() || !identity.strModel.empty();
}

void Identify(Row& row, int nTimeoutMs) {
    const tkvisa::LanInstrument& instrument = row.instrument;
    Identity fromLxi;
    std::thread threadLxi;
    bool bLxi = false;
    if (instrument.nHttpPort != 0) {
        threadLxi = std::thread([&] {
            bLxi = FetchLxi(instrument.strAddress, instrument.nHttpPort, nTimeoutMs, fromLxi);
        });
    }
    // Half the time for opening, half for the query.
    const bool bIdn = !instrument.vecResources.empty() &&
                      QueryIdn(instrument.vecResources.front(),
                               static_cast<ViUInt32>(std::max(nTimeoutMs / 2, 1)), row.identity);
    if (threadLxi.joinable()) {
        threadLxi.join();
    }
    if (!bIdn && bLxi) {
        row.identity = fromLxi;
    }
}

std::string Joined(const std::vector<std::string>& vecItems, const char* pszSeparator) {
    std::string strText;
    for (const std::string& strItem : vecItems) {
        strText += (strText.empty() ? "" : pszSeparator) + strItem;
    }
    return strText;
}

std::string JsonStrings(const std::vector<std::string>& vecItems) {
    std::vector<std::string> vecJson;
    for (const std::string& strItem : vecItems) {
        vecJson.push_back(JsonString(strItem));
    }
    return JsonArray(vecJson);
}

}  // namespace

int RunDiscover(const Invocation& inv) {
    double dSeconds = 1.0;
    if (inv.Has("timeout")) {
        const std::string strValue = inv.Value("timeout");
        char* pEnd = nullptr;
        dSeconds = std::strtod(strValue.c_str(), &pEnd);
        if (pEnd == strValue.c_str() || *pEnd != '\0' || !(dSeconds >= 0.1 && dSeconds <= 60)) {
            std::fprintf(stderr, "tarvek: --timeout takes seconds from 0.1 to 60, not '%s'\n",
                         strValue.c_str());
            return kExitUsage;
        }
    }
    const int nTotalMs = static_cast<int>(std::lround(dSeconds * 1000));
    const auto start = std::chrono::steady_clock::now();
    tkvisa::DiscoveryOptions options;
    options.nTimeoutMs = static_cast<std::uint32_t>(nTotalMs * 8 / 10);
    std::vector<Row> vecRows;
    for (tkvisa::LanInstrument& instrument : tkvisa::DiscoverLan(options)) {
        vecRows.push_back(Row{std::move(instrument), {}});
    }
    const int nElapsedMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - start)
                                                .count());
    const int nLeftMs = std::max(nTotalMs - nElapsedMs, 50);
    std::vector<std::thread> vecThreads;
    for (Row& row : vecRows) {
        vecThreads.emplace_back([&row, nLeftMs] { Identify(row, nLeftMs); });
    }
    for (std::thread& thread : vecThreads) {
        thread.join();
    }

    if (inv.bJson) {
        std::vector<std::string> vecItems;
        for (const Row& row : vecRows) {
            JsonObject item;
            item.Add("address", JsonString(row.instrument.strAddress))
                .Add("resources", JsonStrings(row.instrument.vecResources))
                .Add("manufacturer", JsonString(row.identity.strManufacturer))
                .Add("model", JsonString(row.identity.strModel))
                .Add("serial", JsonString(row.identity.strSerial))
                .Add("firmware", JsonString(row.identity.strFirmware))
                .Add("identity", row.identity.strSource.empty()
                                     ? std::string("null")
                                     : JsonString(row.identity.strSource))
                .Add("protocols", JsonStrings(tkvisa::LanProtocolNames(row.instrument.nProtocols)));
            vecItems.push_back(item.Text());
        }
        std::printf("%s\n", JsonObject().Add("instruments", JsonArray(vecItems)).Text().c_str());
        return kExitOk;
    }
    if (vecRows.empty()) {
        std::printf("No LAN instruments answered within %.1f s.\n", dSeconds);
        return kExitOk;
    }
    std::printf("%-15s  %-12s  %-8s  %-12s  %-8s  %-22s  %s\n", "ADDRESS", "MANUFACTURER", "MODEL",
                "SERIAL", "FIRMWARE", "PROTOCOLS", "RESOURCES");
    for (const Row& row : vecRows) {
        const auto Field = [&](const std::string& strValue) {
            return row.identity.strSource.empty() ? std::string("?") : strValue;
        };
        std::printf("%-15s  %-12s  %-8s  %-12s  %-8s  %-22s  %s\n",
                    row.instrument.strAddress.c_str(), Field(row.identity.strManufacturer).c_str(),
                    Field(row.identity.strModel).c_str(), Field(row.identity.strSerial).c_str(),
                    Field(row.identity.strFirmware).c_str(),
                    Joined(tkvisa::LanProtocolNames(row.instrument.nProtocols), ",").c_str(),
                    Joined(row.instrument.vecResources, " ").c_str());
    }
    return kExitOk;
}

}  // namespace cli
