#include "Announcer.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/strlst.h>
#include <avahi-core/core.h>
#include <avahi-core/log.h>
#include <avahi-core/publish.h>

#include <httplib.h>
#include <pugixml.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace emu {
namespace {

// The name of the interface that holds the IPv4 address, or "".
std::string InterfaceOf(const std::string& strAddress) {
    in_addr address{};
    if (::inet_pton(AF_INET, strAddress.c_str(), &address) != 1) {
        return std::string();
    }
    ifaddrs* pList = nullptr;
    if (::getifaddrs(&pList) != 0) {
        return std::string();
    }
    std::string strName;
    for (const ifaddrs* p = pList; p != nullptr && strName.empty(); p = p->ifa_next) {
        if (p->ifa_addr != nullptr && p->ifa_addr->sa_family == AF_INET &&
            reinterpret_cast<const sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr == address.s_addr) {
            strName = p->ifa_name;
        }
    }
    ::freeifaddrs(pList);
    return strName;
}

void QuietLog(AvahiLogLevel, const char*) {}

}  // namespace

struct MdnsAnnouncer::Impl {
    AvahiSimplePoll* pPoll = nullptr;
    AvahiServer* pServer = nullptr;
    AvahiSEntryGroup* pGroup = nullptr;
    AvahiIfIndex nInterface = AVAHI_IF_UNSPEC;
    std::string strInstance;
    InstrumentIdentity identity;
    std::vector<std::pair<std::string, std::uint16_t>> vecServices;
    std::thread thread;
    std::atomic<bool> bStop{false};
    std::mutex mutex;
    std::condition_variable cvState;
    bool bAnnounced = false;
    bool bFailed = false;

    void SetState(bool bOk) {
        std::lock_guard<std::mutex> lock(mutex);
        (bOk ? bAnnounced : bFailed) = true;
        cvState.notify_all();
    }

    static void OnGroup(AvahiServer*, AvahiSEntryGroup*, AvahiEntryGroupState eState, void* pUser) {
        auto* pImpl = static_cast<Impl*>(pUser);
        if (eState == AVAHI_ENTRY_GROUP_ESTABLISHED) {
            pImpl->SetState(true);
        } else if (eState == AVAHI_ENTRY_GROUP_COLLISION || eState == AVAHI_ENTRY_GROUP_FAILURE) {
            pImpl->SetState(false);
        }
    }

    // Called once the host name is established: the services go out then.
    void AddServices(AvahiServer* pOn) {
        pGroup = avahi_s_entry_group_new(pOn, OnGroup, this);
        if (pGroup == nullptr) {
            SetState(false);
            return;
        }
        AvahiStringList* pText = avahi_string_list_new(
            ("Manufacturer=" + identity.strManufacturer).c_str(),
            ("Model=" + identity.strModel).c_str(), ("SerialNumber=" + identity.strSerial).c_str(),
            ("FirmwareVersion=" + identity.strFirmware).c_str(), nullptr);
        bool bOk = true;
        for (const auto& [strType, nPort] : vecServices) {
            bOk = bOk && avahi_server_add_service_strlst(pOn, pGroup, nInterface, AVAHI_PROTO_INET,
                                                         static_cast<AvahiPublishFlags>(0),
                                                         strInstance.c_str(), strType.c_str(),
                                                         nullptr, nullptr, nPort, pText) == 0;
        }
        avahi_string_list_free(pText);
        if (!bOk || avahi_s_entry_group_commit(pGroup) != 0) {
            SetState(false);
        }
    }

    static void OnServer(AvahiServer* pOn, AvahiServerState eState, void* pUser) {
        auto* pImpl = static_cast<Impl*>(pUser);
        if (eState == AVAHI_SERVER_RUNNING && pImpl->pGroup == nullptr) {
            pImpl->AddServices(pOn);
        } else if (eState == AVAHI_SERVER_COLLISION || eState == AVAHI_SERVER_FAILURE) {
            pImpl->SetState(false);
        }
    }

    void Free() {
        if (pServer != nullptr) {
            avahi_server_free(pServer);  // frees the group too, saying goodbye
            pServer = nullptr;
            pGroup = nullptr;
        }
        if (pPoll != nullptr) {
            avahi_simple_poll_free(pPoll);
            pPoll = nullptr;
        }
    }
};

MdnsAnnouncer::MdnsAnnouncer() : m_pImpl(std::make_unique<Impl>()) {}

MdnsAnnouncer::~MdnsAnnouncer() {
    Stop();
}

void MdnsAnnouncer::Start(const std::string& strAddress, const InstrumentIdentity& identity,
                          const std::vector<std::pair<std::string, std::uint16_t>>& vecServices) {
    Impl& impl = *m_pImpl;
    avahi_set_log_function(QuietLog);
    const std::string strInterface = InterfaceOf(strAddress);
    if (strInterface.empty()) {
        throw std::runtime_error("cannot announce " + strAddress + ": no interface holds it");
    }
    impl.nInterface = static_cast<AvahiIfIndex>(::if_nametoindex(strInterface.c_str()));
    impl.identity = identity;
    impl.vecServices = vecServices;
    impl.strInstance =
        (identity.strManufacturer + " " + identity.strModel + " " + identity.strSerial)
            .substr(0, 63);
    std::string strHostName = "tarvek-" + strAddress;
    std::replace(strHostName.begin(), strHostName.end(), '.', '-');

    impl.pPoll = avahi_simple_poll_new();
    if (impl.pPoll == nullptr) {
        throw std::runtime_error("cannot announce: no poll loop");
    }
    AvahiServerConfig config;
    avahi_server_config_init(&config);
    config.host_name = avahi_strdup(strHostName.c_str());
    config.use_ipv4 = 1;
    config.use_ipv6 = 0;
    config.allow_interfaces = avahi_string_list_new(strInterface.c_str(), nullptr);
    config.publish_hinfo = 0;
    config.publish_workstation = 0;
    config.publish_domain = 0;
    config.publish_addresses = 1;  // the host name's A record, which the services point at
    config.disallow_other_stacks = 0;
    config.enable_wide_area = 0;
    int nError = 0;
    impl.pServer = avahi_server_new(avahi_simple_poll_get(impl.pPoll), &config, Impl::OnServer,
                                    &impl, &nError);
    avahi_server_config_free(&config);
    if (impl.pServer == nullptr) {
        impl.Free();
        throw std::runtime_error("cannot start the mDNS responder (error " +
                                 std::to_string(nError) + ")");
    }
    impl.bStop = false;
    impl.thread = std::thread([&impl] {
        while (!impl.bStop.load()) {
            if (avahi_simple_poll_iterate(impl.pPoll, -1) != 0) {
                break;
            }
        }
    });
}

bool MdnsAnnouncer::WaitAnnounced(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->cvState.wait_for(lock, timeout,
                              [&] { return m_pImpl->bAnnounced || m_pImpl->bFailed; });
    return m_pImpl->bAnnounced;
}

void MdnsAnnouncer::Stop() {
    Impl& impl = *m_pImpl;
    if (impl.thread.joinable()) {
        impl.bStop = true;
        avahi_simple_poll_wakeup(impl.pPoll);
        impl.thread.join();
    }
    impl.Free();
}

// ----- the LXI web server -----------------------------------------------------

struct LxiWebServer::Impl {
    httplib::Server server;
    std::mutex mutex;
    std::condition_variable cvStop;
    bool bStopping = false;
    std::thread thread;
    std::uint16_t nPort = 0;
};

LxiWebServer::LxiWebServer() : m_pImpl(std::make_unique<Impl>()) {}

LxiWebServer::~LxiWebServer() {
    Stop();
}

std::string LxiWebServer::IdentificationXml(const std::string& strHost,
                                            const InstrumentIdentity& identity,
                                            const std::vector<std::string>& vecResources) {
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    pugi::xml_node root = document.append_child("LXIDevice");
    root.append_attribute("xmlns") = "http://www.lxistandard.org/InstrumentIdentification/1.0";
    root.append_attribute("xmlns:xsi") = "http://www.w3.org/2001/XMLSchema-instance";
    auto Text = [](pugi::xml_node parent, const char* pszName, const std::string& strValue) {
        parent.append_child(pszName).text().set(strValue.c_str());
    };
    const std::string strBase = "http://" + strHost + "/";
    Text(root, "Manufacturer", identity.strManufacturer);
    Text(root, "Model", identity.strModel);
    Text(root, "SerialNumber", identity.strSerial);
    Text(root, "FirmwareRevision", identity.strFirmware);
    Text(root, "ManufacturerDescription", "DC power supply (emulated)");
    Text(root, "HomepageURL", strBase);
    root.append_child("DriverURLs");
    Text(root, "UserDescription", identity.strModel + " " + identity.strSerial);
    Text(root, "IdentificationURL", strBase + "lxi/identification");
    pugi::xml_node interface = root.append_child("Interface");
    interface.append_attribute("xsi:type") = "NetworkInformation";
    interface.append_attribute("InterfaceType") = "LXI";
    interface.append_attribute("IPType") = "IPv4";
    interface.append_attribute("InterfaceName") = "eth0";
    for (const std::string& strResource : vecResources) {
        Text(interface, "InstrumentAddressString", strResource);
    }
    Text(interface, "Hostname", strHost);
    Text(interface, "IPAddress", strHost);
    Text(root, "Domain", "0");
    Text(root, "LXIVersion", "1.5");
    std::ostringstream stream;
    document.save(stream, "  ");
    return stream.str();
}

void LxiWebServer::Start(const std::string& strHost, std::uint16_t nPort,
                         const InstrumentIdentity& identity,
                         const std::vector<std::string>& vecResources, bool bHang) {
    Impl& impl = *m_pImpl;
    if (bHang) {
        impl.server.set_pre_routing_handler([&impl](const httplib::Request&, httplib::Response&) {
            std::unique_lock<std::mutex> lock(impl.mutex);
            impl.cvStop.wait(lock, [&impl] { return impl.bStopping; });
            return httplib::Server::HandlerResponse::Handled;
        });
    }
    const std::string strXml = IdentificationXml(strHost, identity, vecResources);
    const std::string strPage = "<!DOCTYPE html>\n<html><head><title>" + identity.strManufacturer +
                                " " + identity.strModel + "</title></head><body>\n<h1>" +
                                identity.strManufacturer + " " + identity.strModel +
                                "</h1>\n<p>Serial number " + identity.strSerial + ", firmware " +
                                identity.strFirmware +
                                ".</p>\n<p><a href=\"/lxi/identification\">LXI identification</a>"
                                "</p>\n</body></html>\n";
    impl.server.Get("/lxi/identification",
                    [strXml](const httplib::Request&, httplib::Response& res) {
                        res.set_content(strXml, "text/xml");
                    });
    impl.server.Get("/", [strPage](const httplib::Request&, httplib::Response& res) {
        res.set_content(strPage, "text/html");
    });
    // Short waits, so that Stop() does not sit out an idle keep-alive client.
    impl.server.set_keep_alive_max_count(1);
    impl.server.set_read_timeout(1, 0);
    impl.server.set_write_timeout(1, 0);
    if (nPort == 0) {
        const int nBound = impl.server.bind_to_any_port(strHost);
        if (nBound <= 0) {
            throw std::runtime_error("cannot bind the web server to " + strHost);
        }
        impl.nPort = static_cast<std::uint16_t>(nBound);
    } else {
        if (!impl.server.bind_to_port(strHost, nPort)) {
            throw std::runtime_error("cannot bind the web server to " + strHost + ":" +
                                     std::to_string(nPort));
        }
        impl.nPort = nPort;
    }
    impl.thread = std::thread([&impl] { impl.server.listen_after_bind(); });
}

std::uint16_t LxiWebServer::Port() const {
    return m_pImpl->nPort;
}

void LxiWebServer::Stop() {
    if (m_pImpl->thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_pImpl->mutex);
            m_pImpl->bStopping = true;
        }
        m_pImpl->cvStop.notify_all();
        m_pImpl->server.stop();
        m_pImpl->thread.join();
    }
}

}  // namespace emu
