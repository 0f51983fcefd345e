// A TCP proxy between the code under test and an instrument (the emulator)
// that damages the instrument's replies on the wire: it forwards program
// messages unchanged and treats each reply line according to the fault armed
// for it, so the instrument stays real while the link misbehaves.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Socket.h"

namespace faulttest {

enum class LinkFault {
    None,
    Swallow,          // the reply never arrives
    CloseMidReply,    // half the reply, then the connection closes
    NoTerminator,     // the reply without its line feed
    Drip,             // the reply one byte every 5 ms
    Reset,            // the connection is reset (RST) instead of the reply
    JunkBeforeReply,  // a line of unsolicited text, then the reply, in one packet
};

class FaultProxy {
  public:
    explicit FaultProxy(std::uint16_t nTargetPort) {
        m_bListening = m_listener.Open("127.0.0.1", 0) == tknet::Result::kOk &&
                       tknet::Resolve("127.0.0.1", nTargetPort, &m_vecTarget) == tknet::Result::kOk;
        m_nPort = m_listener.Port();
        if (m_bListening) {
            m_listener.Start(
                [this](tknet::Fd client, const tknet::Address&) { Proxy(std::move(client)); });
        }
    }
    ~FaultProxy() { m_listener.Stop(); }
    FaultProxy(const FaultProxy&) = delete;
    FaultProxy& operator=(const FaultProxy&) = delete;

    bool Listening() const { return m_bListening; }
    std::string Resource() const {
        return "TCPIP::127.0.0.1::" + std::to_string(m_nPort) + "::SOCKET";
    }
    // The fault applies to the reply to the next query that starts with
    // strQuery (any query when empty), after nSkip such replies have passed;
    // forwarding resumes after it.
    void Arm(LinkFault eFault, const std::string& strQuery = "", int nSkip = 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_eFault = eFault;
        m_strFaultQuery = strQuery;
        m_nSkip = nSkip;
    }
    // Bytes sent to the client ahead of anything it asked for, right now.
    void SendUnsolicited(const std::string& strBytes) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int nFd : m_vecClients) {
            ::send(nFd, strBytes.data(), strBytes.size(), MSG_NOSIGNAL);
        }
    }

  private:
    // Connects the client to the instrument and forwards between them.
    void Proxy(tknet::Fd client) {
        tknet::Fd server;
        if (tknet::ConnectAny(m_vecTarget, tknet::Deadline(2000), &server) != tknet::Result::kOk) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_vecClients.push_back(client.Get());
        }
        Serve(client.Get(), server.Get());
        std::lock_guard<std::mutex> lock(m_mutex);
        std::erase(m_vecClients, client.Get());
    }

    static void SendAll(int nFd, const std::string& strBytes) {
        ::send(nFd, strBytes.data(), strBytes.size(), MSG_NOSIGNAL);
    }

    // Forwards until either side closes or a fault ends the connection.
    void Serve(int nClient, int nServer) {
        std::string strReply;
        std::string strRequest;
        std::deque<std::string> queQueries;  // sent and not yet answered, in order
        for (;;) {
            pollfd pfds[3] = {
                {nClient, POLLIN, 0}, {nServer, POLLIN, 0}, {m_listener.WakeFd(), POLLIN, 0}};
            if (::poll(pfds, 3, -1) <= 0) {
                continue;
            }
            if (pfds[2].revents != 0) {
                return;
            }
            char buffer[65536];
            if (pfds[0].revents != 0) {
                const ssize_t nGot = ::recv(nClient, buffer, sizeof buffer, 0);
                if (nGot <= 0) {
                    return;
                }
                SendAll(nServer, std::string(buffer, static_cast<std::size_t>(nGot)));
                strRequest.append(buffer, static_cast<std::size_t>(nGot));
                for (std::size_t nEnd = strRequest.find('\n'); nEnd != std::string::npos;
                     nEnd = strRequest.find('\n')) {
                    if (strRequest.substr(0, nEnd).find('?') != std::string::npos) {
                        queQueries.push_back(strRequest.substr(0, nEnd));
                    }
                    strRequest.erase(0, nEnd + 1);
                }
            }
            if (pfds[1].revents != 0) {
                const ssize_t nGot = ::recv(nServer, buffer, sizeof buffer, 0);
                if (nGot <= 0) {
                    return;
                }
                strReply.append(buffer, static_cast<std::size_t>(nGot));
                for (std::size_t nEnd = strReply.find('\n'); nEnd != std::string::npos;
                     nEnd = strReply.find('\n')) {
                    const std::string strLine = strReply.substr(0, nEnd + 1);
                    strReply.erase(0, nEnd + 1);
                    std::string strQuery;
                    if (!queQueries.empty()) {
                        strQuery = queQueries.front();
                        queQueries.pop_front();
                    }
                    if (!Deliver(nClient, strLine, TakeFault(strQuery))) {
                        return;
                    }
                }
            }
        }
    }

    // The fault for the reply to strQuery, disarming it once it applies.
    LinkFault TakeFault(const std::string& strQuery) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_eFault == LinkFault::None || strQuery.rfind(m_strFaultQuery, 0) != 0) {
            return LinkFault::None;
        }
        if (m_nSkip > 0) {
            --m_nSkip;
            return LinkFault::None;
        }
        return std::exchange(m_eFault, LinkFault::None);
    }

    // Sends one reply line as the fault says; false ends the connection.
    bool Deliver(int nClient, const std::string& strLine, LinkFault eFault) {
        switch (eFault) {
            case LinkFault::None:
                SendAll(nClient, strLine);
                return true;
            case LinkFault::Swallow:
                return true;
            case LinkFault::CloseMidReply:
                SendAll(nClient, strLine.substr(0, strLine.size() / 2));
                return false;
            case LinkFault::NoTerminator:
                SendAll(nClient, strLine.substr(0, strLine.size() - 1));
                return true;
            case LinkFault::Drip:
                for (char c : strLine) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    SendAll(nClient, std::string(1, c));
                }
                return true;
            case LinkFault::Reset: {
                // Closing with a zero linger time sends RST instead of FIN.
                const linger option{1, 0};
                ::setsockopt(nClient, SOL_SOCKET, SO_LINGER, &option, sizeof option);
                return false;
            }
            case LinkFault::JunkBeforeReply:
                SendAll(nClient, "UNSOLICITED\n" + strLine);
                return true;
        }
        return true;
    }

    std::vector<tknet::Address> m_vecTarget;
    bool m_bListening = false;
    std::uint16_t m_nPort = 0;
    std::mutex m_mutex;
    LinkFault m_eFault = LinkFault::None;
    std::string m_strFaultQuery;
    int m_nSkip = 0;
    std::vector<int> m_vecClients;
    // Last: stopped first, while the state above still lives.
    tknet::Listener m_listener;
};

}  // namespace faulttest
