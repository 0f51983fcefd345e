// The RPC plumbing of the emulator's VXI-11 server: record streams over
// TCP, datagrams over UDP, the dispatch table from (program, version,
// procedure) to handler, the portmapper, and the listeners and threads.
#include "Vxi11ServerImpl.h"

namespace emu {

tknet::Fd vxi11::BindDatagrams(const std::string& strHost, unsigned short nPort) {
    tknet::Fd fd;
    const tknet::Result result = tknet::BindDatagram(strHost, nPort, &fd);
    if (result == tknet::Result::kNoHost) {
        throw std::runtime_error("cannot resolve '" + strHost + "'");
    }
    if (result != tknet::Result::kOk) {
        throw std::runtime_error("cannot bind " + strHost + ":" + std::to_string(nPort) + ": " +
                                 std::strerror(errno));
    }
    return fd;
}

std::string vxi11::UniversalAddress(int fd, unsigned short nPort) {
    sockaddr_storage address{};
    socklen_t nLength = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nLength);
    char szHost[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr, szHost,
                    sizeof szHost);
    } else {
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&address)->sin_addr, szHost,
                    sizeof szHost);
    }
    return std::string(szHost) + "." + std::to_string(nPort >> 8) + "." +
           std::to_string(nPort & 0xFF);
}

bool Vxi11Server::Impl::WaitReadable(int fd) {
    return tknet::WaitReady(fd, POLLIN, tknet::Deadline(tknet::Deadline::kInfinite), fdWakeRead) ==
           tknet::Result::kOk;
}

int Vxi11Server::Impl::WaitDatagram() {
    pollfd afds[3] = {
        {fdWakeRead, POLLIN, 0}, {fdPmapUdp.Get(), POLLIN, 0}, {fdPmapBroadcast.Get(), POLLIN, 0}};
    for (;;) {
        const int n = ::poll(afds, fdPmapBroadcast ? 3 : 2, -1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || (afds[0].revents & POLLIN) != 0) {
            return -1;
        }
        return afds[1].revents != 0 ? fdPmapUdp.Get() : fdPmapBroadcast.Get();
    }
}

// The broadcast address of the IPv4 interface that holds strHost, or "".
std::string vxi11::BroadcastAddressOf(const std::string& strHost) {
    in_addr host{};
    if (::inet_pton(AF_INET, strHost.c_str(), &host) != 1) {
        return std::string();
    }
    ifaddrs* pList = nullptr;
    if (::getifaddrs(&pList) != 0) {
        return std::string();
    }
    std::string strBroadcast;
    for (const ifaddrs* p = pList; p != nullptr && strBroadcast.empty(); p = p->ifa_next) {
        if (p->ifa_addr != nullptr && p->ifa_addr->sa_family == AF_INET &&
            (p->ifa_flags & IFF_BROADCAST) != 0 && p->ifa_broadaddr != nullptr &&
            reinterpret_cast<const sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr == host.s_addr) {
            char szHost[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(p->ifa_broadaddr)->sin_addr,
                        szHost, sizeof szHost);
            strBroadcast = szHost;
        }
    }
    ::freeifaddrs(pList);
    return strBroadcast;
}

int Vxi11Server::Impl::ReadRecord(void* pHandle, void* pBuffer, int nLength) {
    auto* pConnection = static_cast<std::pair<Impl*, Connection*>*>(pHandle);
    if (!pConnection->first->WaitReadable(pConnection->second->fd)) {
        return -1;
    }
    const ssize_t n = ::read(pConnection->second->fd, pBuffer, static_cast<size_t>(nLength));
    return n > 0 ? static_cast<int>(n) : -1;
}

int Vxi11Server::Impl::WriteRecord(void* pHandle, void* pBuffer, int nLength) {
    auto* pConnection = static_cast<std::pair<Impl*, Connection*>*>(pHandle);
    const char* p = static_cast<const char*>(pBuffer);
    int nDone = 0;
    while (nDone < nLength) {
        const ssize_t n = ::send(pConnection->second->fd, p + nDone,
                                 static_cast<size_t>(nLength - nDone), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return -1;
        }
        nDone += static_cast<int>(n);
    }
    return nLength;
}

bool Vxi11Server::Impl::ServesOn(rpcprog_t nProgram, Channel eChannel) {
    switch (eChannel) {
        case Channel::Portmapper:
            return nProgram == PMAPPROG;
        case Channel::Core:
            return nProgram == DEVICE_CORE;
        case Channel::Abort:
            return nProgram == DEVICE_ASYNC;
    }
    return false;
}

bool Vxi11Server::Impl::Serve(Connection& connection, XDR& xdrIn, XDR& xdrOut) {
    char achCred[MAX_AUTH_BYTES];
    char achVerf[MAX_AUTH_BYTES];
    rpc_msg call{};
    call.rm_call.cb_cred.oa_base = achCred;
    call.rm_call.cb_verf.oa_base = achVerf;
    if (!xdr_callmsg(&xdrIn, &call) || call.rm_direction != CALL) {
        return false;
    }
    rpc_msg reply = tkrpc::AcceptedReply(call.rm_xid);
    const rpcprog_t nProgram = call.rm_call.cb_prog;
    const rpcvers_t nVersion = call.rm_call.cb_vers;
    const ProcedureRow* pRow = FindProcedure(nProgram, nVersion, call.rm_call.cb_proc);
    std::vector<char> vecArgs;
    std::vector<char> vecResult;
    bool bKeep = true;
    if (!ServesOn(nProgram, connection.eChannel)) {
        reply.acpted_rply.ar_stat = PROG_UNAVAIL;
    } else if (nVersion < LowVersion(nProgram) || nVersion > HighVersion(nProgram)) {
        reply.acpted_rply.ar_stat = PROG_MISMATCH;
        reply.acpted_rply.ar_vers.low = LowVersion(nProgram);
        reply.acpted_rply.ar_vers.high = HighVersion(nProgram);
    } else if (call.rm_call.cb_proc == 0) {
        reply.acpted_rply.ar_stat = SUCCESS;
    } else if (pRow == nullptr) {
        reply.acpted_rply.ar_stat = PROC_UNAVAIL;
    } else {
        vecArgs.assign(pRow->nArgsSize, 0);
        vecResult.assign(pRow->nResultSize, 0);
        if (!pRow->pfnArgs(&xdrIn, vecArgs.data())) {
            reply.acpted_rply.ar_stat = GARBAGE_ARGS;
            pRow = nullptr;
        } else {
            Call callState{connection, vecArgs.data(), vecResult.data()};
            (this->*pRow->pfnHandle)(callState);
            if (nProgram == DEVICE_CORE) {
                nCoreCalls.fetch_add(1, std::memory_order_relaxed);
            }
            reply.acpted_rply.ar_stat = SUCCESS;
            reply.acpted_rply.ar_results.proc = pRow->pfnResult;
            reply.acpted_rply.ar_results.where = vecResult.data();
            bKeep = !connection.bDrop;
        }
    }
    bool bSent = true;
    if (bKeep) {
        // On a stream both directions share one XDR handle.
        xdrOut.x_op = XDR_ENCODE;
        bSent = xdr_replymsg(&xdrOut, &reply);
    }
    if (pRow != nullptr) {
        xdr_free(pRow->pfnArgs, vecArgs.data());
    }
    return bKeep && bSent;
}

void Vxi11Server::Impl::ServeStream(Connection& connection) {
    std::pair<Impl*, Connection*> handle{this, &connection};
    XDR xdrs{};
    xdrrec_create(&xdrs, 0, 0, &handle, ReadRecord, WriteRecord);
    for (;;) {
        xdrs.x_op = XDR_DECODE;
        if (!xdrrec_skiprecord(&xdrs) || !Serve(connection, xdrs, xdrs) ||
            !xdrrec_endofrecord(&xdrs, TRUE)) {
            break;
        }
    }
    xdr_destroy(&xdrs);
    DropLinks(connection);
}

void Vxi11Server::Impl::ServeDatagrams() {
    std::vector<char> vecIn(UDPMSGSIZE);
    std::vector<char> vecOut(UDPMSGSIZE);
    for (;;) {
        const int fdReady = WaitDatagram();
        if (fdReady < 0) {
            return;
        }
        sockaddr_storage peer{};
        socklen_t nPeerLength = sizeof peer;
        const ssize_t n = ::recvfrom(fdReady, vecIn.data(), vecIn.size(), 0,
                                     reinterpret_cast<sockaddr*>(&peer), &nPeerLength);
        if (n <= 0) {
            continue;
        }
        XDR xdrIn{};
        XDR xdrOut{};
        xdrmem_create(&xdrIn, vecIn.data(), static_cast<u_int>(n), XDR_DECODE);
        xdrmem_create(&xdrOut, vecOut.data(), static_cast<u_int>(vecOut.size()), XDR_ENCODE);
        Connection connection;
        connection.eChannel = Channel::Portmapper;
        if (Serve(connection, xdrIn, xdrOut)) {
            ::sendto(fdPmapUdp.Get(), vecOut.data(), xdr_getpos(&xdrOut), 0,
                     reinterpret_cast<sockaddr*>(&peer), nPeerLength);
        }
        xdr_destroy(&xdrIn);
        xdr_destroy(&xdrOut);
    }
}

unsigned short Vxi11Server::Impl::PortOfProgram(rpcprog_t nProgram, rpcvers_t nVersion) const {
    if (nProgram == DEVICE_CORE && nVersion == DEVICE_CORE_VERSION) {
        return nCorePort;
    }
    if (nProgram == DEVICE_ASYNC && nVersion == DEVICE_ASYNC_VERSION) {
        return nAbortPort;
    }
    return 0;
}

void Vxi11Server::Impl::GetPort(Call& call) {
    const auto& query = *static_cast<pmap*>(call.pArgs);
    *static_cast<u_long*>(call.pResult) =
        query.pm_prot == IPPROTO_TCP ? PortOfProgram(query.pm_prog, query.pm_vers) : 0;
}

void Vxi11Server::Impl::GetAddress(Call& call) {
    const auto& query = *static_cast<rpcb*>(call.pArgs);
    const unsigned short nPort = PortOfProgram(query.r_prog, query.r_vers);
    const bool bTcp = query.r_netid != nullptr && std::strncmp(query.r_netid, "tcp", 3) == 0;
    call.connection.strReplyBuffer =
        nPort != 0 && bTcp ? UniversalAddress(aListeners[1]->Fd(), nPort) : std::string();
    *static_cast<char**>(call.pResult) = call.connection.strReplyBuffer.data();
}

unsigned short Vxi11Server::Impl::Listen(tknet::Listener& listener, const std::string& strHost,
                                         unsigned short nPort) {
    if (listener.Open(strHost, nPort) != tknet::Result::kOk) {
        throw std::runtime_error("cannot bind " + strHost + ":" + std::to_string(nPort) + ": " +
                                 std::strerror(errno));
    }
    return listener.Port();
}

void Vxi11Server::Impl::Serve(tknet::Listener& listener, Channel eChannel) {
    listener.Start([this, eChannel](tknet::Fd fd, const tknet::Address&) {
        Connection connection;
        connection.fd = fd.Get();
        connection.eChannel = eChannel;
        ServeStream(connection);
    });
}

void Vxi11Server::Impl::Start(const std::string& strHost, unsigned short nPort) {
    wake.emplace();
    if (!wake->Valid()) {
        throw std::runtime_error("cannot create the wake-up pipe");
    }
    fdWakeRead = wake->ReadFd();
    try {
        for (auto& listener : aListeners) {
            listener.emplace();
        }
        nRpcPort = Listen(*aListeners[0], strHost, nPort);
        fdPmapUdp = BindDatagrams(strHost, nRpcPort);
        const std::string strBroadcast = bAnswerBroadcast ? BroadcastAddressOf(strHost) : "";
        if (!strBroadcast.empty()) {
            fdPmapBroadcast = BindDatagrams(strBroadcast, nRpcPort);
        }
        nCorePort = Listen(*aListeners[1], strHost, 0);
        nAbortPort = Listen(*aListeners[2], strHost, 0);
    } catch (...) {
        Stop();
        throw;
    }
    // Every port is known before the portmapper answers its first query.
    Serve(*aListeners[0], Channel::Portmapper);
    Serve(*aListeners[1], Channel::Core);
    Serve(*aListeners[2], Channel::Abort);
    threadDatagrams = std::thread([this] { ServeDatagrams(); });
}

void Vxi11Server::Impl::Stop() {
    if (wake) {
        wake->Wake();
    }
    {
        // Wake reads and lock waits.
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& entry : mapLinks) {
            entry.second.bAbort = true;
        }
        cvChange.notify_all();
    }
    if (threadDatagrams.joinable()) {
        threadDatagrams.join();
    }
    for (auto& listener : aListeners) {
        if (listener) {
            listener->Stop();
            listener.reset();
        }
    }
    fdPmapUdp.Reset();
    fdPmapBroadcast.Reset();
    wake.reset();
    fdWakeRead = -1;
}

const Vxi11Server::Impl::ProcedureRow Vxi11Server::Impl::kProcedures[] = {
    Row(PMAPPROG, PMAPVERS, PMAPPROC_GETPORT, xdr_pmap, xdr_u_long, &Impl::GetPort),
    Row(PMAPPROG, RPCBVERS, RPCBPROC_GETADDR, xdr_rpcb, xdr_wrapstring, &Impl::GetAddress),
    Row(PMAPPROG, RPCBVERS4, RPCBPROC_GETADDR, xdr_rpcb, xdr_wrapstring, &Impl::GetAddress),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, create_link, xdr_Create_LinkParms, xdr_Create_LinkResp,
        &Impl::CreateLink),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_write, xdr_Device_WriteParms, xdr_Device_WriteResp,
        &Impl::Write),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_read, xdr_Device_ReadParms, xdr_Device_ReadResp,
        &Impl::Read),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_readstb, xdr_Device_GenericParms,
        xdr_Device_ReadStbResp, &Impl::ReadStb),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_trigger, xdr_Device_GenericParms, xdr_Device_Error,
        &Impl::Trigger),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_clear, xdr_Device_GenericParms, xdr_Device_Error,
        &Impl::Clear),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_remote, xdr_Device_GenericParms, xdr_Device_Error,
        &Impl::RemoteOrLocal),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_local, xdr_Device_GenericParms, xdr_Device_Error,
        &Impl::RemoteOrLocal),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_lock, xdr_Device_LockParms, xdr_Device_Error,
        &Impl::Lock),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_unlock, xdr_Device_Link, xdr_Device_Error,
        &Impl::Unlock),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, destroy_link, xdr_Device_Link, xdr_Device_Error,
        &Impl::DestroyLink),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, device_enable_srq, xdr_Device_EnableSrqParms,
        xdr_Device_Error, &Impl::EnableSrq),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, create_intr_chan, xdr_Device_RemoteFunc, xdr_Device_Error,
        &Impl::CreateIntrChan),
    Row(DEVICE_CORE, DEVICE_CORE_VERSION, destroy_intr_chan, XdrNoArguments, xdr_Device_Error,
        &Impl::DestroyIntrChan),
    Row(DEVICE_ASYNC, DEVICE_ASYNC_VERSION, device_abort, xdr_Device_Link, xdr_Device_Error,
        &Impl::Abort),
};

const Vxi11Server::Impl::ProcedureRow* Vxi11Server::Impl::FindProcedure(rpcprog_t nProgram,
                                                                        rpcvers_t nVersion,
                                                                        rpcproc_t nProcedure) {
    for (const ProcedureRow& row : kProcedures) {
        if (row.nProgram == nProgram && row.nVersion == nVersion && row.nProcedure == nProcedure) {
            return &row;
        }
    }
    return nullptr;
}

Vxi11Server::Vxi11Server(Vxi11Backend& backend) : m_pImpl(std::make_unique<Impl>(backend)) {}

Vxi11Server::~Vxi11Server() {
    Stop();
}

void Vxi11Server::Start(const std::string& strHost, unsigned short nRpcPort) {
    m_pImpl->Start(strHost, nRpcPort);
}

void Vxi11Server::SetLinksOutliveConnections(bool bOutlive) {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->bLinksOutlive = bOutlive;
}

void Vxi11Server::SetAnswerBroadcast(bool bAnswer) {
    m_pImpl->bAnswerBroadcast = bAnswer;
}

void Vxi11Server::Stop() {
    m_pImpl->Stop();
}

unsigned short Vxi11Server::RpcPort() const {
    return m_pImpl->nRpcPort;
}

unsigned short Vxi11Server::CorePort() const {
    return m_pImpl->nCorePort;
}

unsigned short Vxi11Server::AbortPort() const {
    return m_pImpl->nAbortPort;
}

std::size_t Vxi11Server::CoreCallCount() const {
    return m_pImpl->nCoreCalls.load(std::memory_order_relaxed);
}

std::size_t Vxi11Server::LinkCount() const {
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->mapLinks.size();
}

}  // namespace emu
