// The multicast DNS half of LAN discovery: a DNS-SD browse for the service
// types LAN instruments announce, each instance resolved to an IPv4 address
// and port.
//
// The browse runs on Avahi's embeddable stack (libavahi-core), not on the
// avahi-daemon client API: the daemon needs a D-Bus system bus and a running
// daemon, which a test network namespace (and many instrument-control
// machines) do not have, while the embedded stack only needs the multicast
// socket. It parses and bounds every DNS message itself; this file never
// sees a packet. It runs with publishing off, so it announces nothing, and it
// shares port 5353 with a daemon that may run on the same machine.
#include <avahi-common/address.h>
#include <avahi-common/simple-watch.h>
#include <avahi-core/core.h>
#include <avahi-core/log.h>
#include <avahi-core/lookup.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "Discovery.h"

namespace tkvisa {
namespace {

struct ServiceType {
    const char* pszType;
    LanProtocol eProtocol;
};

constexpr ServiceType kServiceTypes[] = {
    {"_vxi-11._tcp", kLanVxi11},
    {"_hislip._tcp", kLanHislip},
    {"_scpi-raw._tcp", kLanSocket},
    {"_lxi._tcp", kLanLxi},
};

// The stack's cache holds at most this many records per interface, so a
// flood of announcements costs bounded memory.
constexpr unsigned kMaxCacheEntries = 1024;

void QuietLog(AvahiLogLevel, const char*) {}

struct BrowseState {
    AvahiServer* pServer = nullptr;
    std::vector<AvahiSServiceResolver*> vecResolvers;
    std::vector<LanService>* pServices = nullptr;
};

const ServiceType* TypeOf(const char* pszType) {
    for (const ServiceType& type : kServiceTypes) {
        if (pszType != nullptr && std::strcmp(type.pszType, pszType) == 0) {
            return &type;
        }
    }
    return nullptr;
}

void OnResolved(AvahiSServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent eEvent,
                const char*, const char* pszType, const char*, const char*,
                const AvahiAddress* pAddress, uint16_t nPort, AvahiStringList*,
                AvahiLookupResultFlags, void* pUser) {
    auto* pState = static_cast<BrowseState*>(pUser);
    const ServiceType* pType = TypeOf(pszType);
    if (eEvent != AVAHI_RESOLVER_FOUND || pType == nullptr || pAddress == nullptr ||
        pAddress->proto != AVAHI_PROTO_INET || nPort == 0 ||
        pState->pServices->size() >= kMaxServicesPerMethod) {
        return;
    }
    char szAddress[AVAHI_ADDRESS_STR_MAX] = {};
    if (avahi_address_snprint(szAddress, sizeof szAddress, pAddress) == nullptr) {
        return;
    }
    // The VXI-11 port announced is the portmapper's: the name needs none.
    const std::uint16_t nServicePort = pType->eProtocol == kLanVxi11 ? 0 : nPort;
    for (const LanService& seen : *pState->pServices) {
        if (seen.strAddress == szAddress && seen.eProtocol == pType->eProtocol &&
            seen.nPort == nServicePort) {
            return;
        }
    }
    pState->pServices->push_back(LanService{szAddress, pType->eProtocol, nServicePort});
}

void OnBrowsed(AvahiSServiceBrowser*, AvahiIfIndex nInterface, AvahiProtocol eProtocol,
               AvahiBrowserEvent eEvent, const char* pszName, const char* pszType,
               const char* pszDomain, AvahiLookupResultFlags, void* pUser) {
    auto* pState = static_cast<BrowseState*>(pUser);
    if (eEvent != AVAHI_BROWSER_NEW || pState->vecResolvers.size() >= kMaxServicesPerMethod) {
        return;
    }
    AvahiSServiceResolver* pResolver = avahi_s_service_resolver_new(
        pState->pServer, nInterface, eProtocol, pszName, pszType, pszDomain, AVAHI_PROTO_INET,
        static_cast<AvahiLookupFlags>(0), OnResolved, pState);
    if (pResolver != nullptr) {
        pState->vecResolvers.push_back(pResolver);
    }
}

struct PollDeleter {
    void operator()(AvahiSimplePoll* p) const { avahi_simple_poll_free(p); }
};

}  // namespace

void BrowseMdns(const tknet::Deadline& deadline, std::vector<LanService>& vecServices) {
    static std::once_flag onceLog;
    std::call_once(onceLog, [] { avahi_set_log_function(QuietLog); });

    std::unique_ptr<AvahiSimplePoll, PollDeleter> pPoll(avahi_simple_poll_new());
    if (!pPoll) {
        return;
    }
    AvahiServerConfig config;
    avahi_server_config_init(&config);
    config.use_ipv4 = 1;
    config.use_ipv6 = 0;
    config.publish_hinfo = 0;
    config.publish_addresses = 0;
    config.publish_workstation = 0;
    config.publish_domain = 0;
    config.disable_publishing = 1;
    config.disallow_other_stacks = 0;
    config.enable_wide_area = 0;
    config.n_cache_entries_max = kMaxCacheEntries;
    BrowseState state;
    state.pServices = &vecServices;
    int nError = 0;
    state.pServer =
        avahi_server_new(avahi_simple_poll_get(pPoll.get()), &config, nullptr, nullptr, &nError);
    avahi_server_config_free(&config);
    if (state.pServer == nullptr) {
        return;
    }
    std::vector<AvahiSServiceBrowser*> vecBrowsers;
    for (const ServiceType& type : kServiceTypes) {
        AvahiSServiceBrowser* pBrowser = avahi_s_service_browser_new(
            state.pServer, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, type.pszType, nullptr,
            static_cast<AvahiLookupFlags>(0), OnBrowsed, &state);
        if (pBrowser != nullptr) {
            vecBrowsers.push_back(pBrowser);
        }
    }
    while (!deadline.Passed()) {
        if (avahi_simple_poll_iterate(pPoll.get(), deadline.RemainingMs()) != 0) {
            break;
        }
    }
    for (AvahiSServiceResolver* pResolver : state.vecResolvers) {
        avahi_s_service_resolver_free(pResolver);
    }
    for (AvahiSServiceBrowser* pBrowser : vecBrowsers) {
        avahi_s_service_browser_free(pBrowser);
    }
    avahi_server_free(state.pServer);
}

}  // namespace tkvisa
