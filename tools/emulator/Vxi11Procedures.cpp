// The VXI-11 procedures of the emulator's server: create_link and
// destroy_link, device_write and device_read, readstb, trigger, clear,
// remote and local, the device lock, the interrupt channel and service
// requests, and device_abort.
#include "Vxi11ServerImpl.h"

namespace emu {

tknet::Fd vxi11::ConnectBack(int fdLink, unsigned long nAddress, unsigned short nPort) {
    tknet::Address target;
    auto* pTarget = reinterpret_cast<sockaddr_in*>(&target.storage);
    pTarget->sin_family = AF_INET;
    pTarget->sin_addr.s_addr = htonl(static_cast<uint32_t>(nAddress));
    pTarget->sin_port = htons(nPort);
    target.nLength = sizeof(sockaddr_in);
    tknet::Address source;
    const bool bSource = tknet::LocalAddressOf(fdLink, &source) && source.Family() == AF_INET;
    tknet::Fd fd;
    if (tknet::Connect(target, tknet::Deadline(1000), &fd, bSource ? &source : nullptr) !=
        tknet::Result::kOk) {
        return fd;
    }
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

void vxi11::CallServiceRequest(IntrChannel& channel, std::string& strHandle) {
    std::lock_guard<std::mutex> lock(channel.mutex);
    if (channel.pClient == nullptr) {
        return;
    }
    sigset_t pipe;
    sigset_t old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    Device_SrqParms parms{};
    parms.handle.handle_len = static_cast<u_int>(strHandle.size());
    parms.handle.handle_val = strHandle.data();
    const timeval timeout{0, 500000};
    const clnt_stat result = clnt_call(
        channel.pClient, device_intr_srq, reinterpret_cast<xdrproc_t>(xdr_Device_SrqParms),
        reinterpret_cast<char*>(&parms), reinterpret_cast<xdrproc_t>(XdrNothing), nullptr, timeout);
    if (result == RPC_CANTSEND || result == RPC_CANTRECV) {
        clnt_destroy(channel.pClient);  // the client has gone: no more calls
        channel.pClient = nullptr;
    }
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&old, SIGPIPE) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        const timespec zero{0, 0};
        sigtimedwait(&pipe, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

bool Vxi11Server::Impl::ValidDeviceName(const char* pszName) {
    const std::string strName = pszName != nullptr ? pszName : "";
    auto Digits = [](const std::string& str) {
        return !str.empty() && str.find_first_not_of("0123456789") == std::string::npos;
    };
    if (strName.rfind("inst", 0) == 0) {
        return Digits(strName.substr(4));
    }
    if (strName.rfind("gpib0,", 0) == 0) {
        const std::string strRest = strName.substr(6);
        const size_t nComma = strRest.find(',');
        return nComma == std::string::npos
                   ? Digits(strRest)
                   : Digits(strRest.substr(0, nComma)) && Digits(strRest.substr(nComma + 1));
    }
    return false;
}

long Vxi11Server::Impl::Access(std::unique_lock<std::mutex>& lock, long nLink, long nFlags,
                               unsigned long nLockTimeoutMs) {
    auto Free = [&] { return nLockOwner == 0 || nLockOwner == nLink; };
    if (Free()) {
        return 0;
    }
    if ((nFlags & kFlagWaitLock) == 0 || nLockTimeoutMs == 0) {
        return kErrLocked;
    }
    const auto wait = std::chrono::milliseconds(std::min(nLockTimeoutMs, kMaxWaitMs));
    return cvChange.wait_for(lock, wait, Free) ? 0 : kErrLocked;
}

long Vxi11Server::Impl::Check(std::unique_lock<std::mutex>& lock, long nLink, long nFlags,
                              unsigned long nLockTimeoutMs) {
    if (mapLinks.count(nLink) == 0) {
        return kErrInvalidLink;
    }
    const int nInjected = backend.TakeDeviceError();
    if (nInjected != 0) {
        return nInjected;
    }
    return Access(lock, nLink, nFlags, nLockTimeoutMs);
}

void Vxi11Server::Impl::CreateLink(Call& call) {
    const auto& parms = *static_cast<Create_LinkParms*>(call.pArgs);
    auto& result = *static_cast<Create_LinkResp*>(call.pResult);
    result.abortPort = nAbortPort;
    result.maxRecvSize = kMaxRecvSize;
    if (!ValidDeviceName(parms.device)) {
        result.error = kErrNotAccessible;
        return;
    }
    std::unique_lock<std::mutex> lock(mutex);
    const long nLink = nNextLink++;
    if (parms.lockDevice) {
        result.error = Access(lock, nLink, kFlagWaitLock, parms.lock_timeout);
        if (result.error != 0) {
            return;
        }
        nLockOwner = nLink;
    }
    mapLinks[nLink].pConnection = &call.connection;
    call.connection.vecLinks.push_back(nLink);
    result.lid = nLink;
    backend.Trace(static_cast<int>(nLink), "--", std::string("link created to ") + parms.device);
}

void Vxi11Server::Impl::DestroyLink(Call& call) {
    const long nLink = *static_cast<Device_Link*>(call.pArgs);
    auto& result = *static_cast<Device_Error*>(call.pResult);
    std::lock_guard<std::mutex> lock(mutex);
    if (mapLinks.erase(nLink) == 0) {
        result.error = kErrInvalidLink;
        return;
    }
    if (nLockOwner == nLink) {
        nLockOwner = 0;
    }
    std::erase(call.connection.vecLinks, nLink);
    cvChange.notify_all();
}

void Vxi11Server::Impl::DropLinks(Connection& connection) {
    std::lock_guard<std::mutex> lock(mutex);
    for (long nLink : connection.vecLinks) {
        if (bLinksOutlive) {
            // Kept, lock and all, but no longer reachable by service requests.
            mapLinks[nLink].pConnection = nullptr;
            mapLinks[nLink].bSrq = false;
            continue;
        }
        mapLinks.erase(nLink);
        if (nLockOwner == nLink) {
            nLockOwner = 0;
        }
    }
    connection.vecLinks.clear();
    connection.pIntr.reset();
    cvChange.notify_all();
}

void Vxi11Server::Impl::CreateIntrChan(Call& call) {
    const auto& parms = *static_cast<Device_RemoteFunc*>(call.pArgs);
    auto& result = *static_cast<Device_Error*>(call.pResult);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (call.connection.pIntr) {
            result.error = kErrChannelEstablished;
            return;
        }
    }
    if (parms.progFamily != DEVICE_TCP || parms.progNum != DEVICE_INTR ||
        parms.progVers != DEVICE_INTR_VERSION) {
        result.error = kErrParameter;
        return;
    }
    tknet::Fd fd = ConnectBack(call.connection.fd, parms.hostAddr, parms.hostPort);
    if (!fd) {
        result.error = kErrNoResources;
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(static_cast<uint32_t>(parms.hostAddr));
    address.sin_port = htons(parms.hostPort);
    netbuf server{};
    server.buf = &address;
    server.len = sizeof address;
    server.maxlen = sizeof address;
    auto pChannel = std::make_shared<IntrChannel>();
    pChannel->pClient = clnt_vc_create(fd.Get(), &server, parms.progNum, parms.progVers, 0, 0);
    if (pChannel->pClient == nullptr) {
        result.error = kErrNoResources;
        return;  // fd closes here
    }
    // The RPC client closes the socket when it is destroyed.
    clnt_control(pChannel->pClient, CLSET_FD_CLOSE, nullptr);
    fd.Release();
    std::lock_guard<std::mutex> lock(mutex);
    call.connection.pIntr = std::move(pChannel);
}

void Vxi11Server::Impl::DestroyIntrChan(Call& call) {
    auto& result = *static_cast<Device_Error*>(call.pResult);
    std::lock_guard<std::mutex> lock(mutex);
    if (!call.connection.pIntr) {
        result.error = kErrNoChannel;
        return;
    }
    call.connection.pIntr.reset();
}

void Vxi11Server::Impl::EnableSrq(Call& call) {
    const auto& parms = *static_cast<Device_EnableSrqParms*>(call.pArgs);
    auto& result = *static_cast<Device_Error*>(call.pResult);
    std::lock_guard<std::mutex> lock(mutex);
    auto it = mapLinks.find(parms.lid);
    if (it == mapLinks.end()) {
        result.error = kErrInvalidLink;
        return;
    }
    it->second.bSrq = parms.enable != 0;
    it->second.strHandle.assign(parms.handle.handle_val, parms.handle.handle_len);
}

void Vxi11Server::Impl::SignalServiceRequest() {
    std::vector<std::pair<std::shared_ptr<IntrChannel>, std::string>> vecTargets;
    {
        std::lock_guard<std::mutex> lock(mutex);
        // A reply held for any link is a message available (MAV).
        const bool bReplyWaiting =
            std::any_of(mapLinks.begin(), mapLinks.end(),
                        [](const auto& entry) { return !entry.second.strOut.empty(); });
        const bool bNow = (backend.StatusByte(bReplyWaiting) & 0x40) != 0;
        if (bNow && !bRequesting) {
            for (auto& [nLink, link] : mapLinks) {
                if (link.bSrq && link.pConnection != nullptr && link.pConnection->pIntr) {
                    vecTargets.emplace_back(link.pConnection->pIntr, link.strHandle);
                }
            }
        }
        bRequesting = bNow;
    }
    for (auto& [pChannel, strHandle] : vecTargets) {
        CallServiceRequest(*pChannel, strHandle);
    }
}

void Vxi11Server::Impl::Write(Call& call) {
    const auto& parms = *static_cast<Device_WriteParms*>(call.pArgs);
    auto& result = *static_cast<Device_WriteResp*>(call.pResult);
    std::unique_lock<std::mutex> lock(mutex);
    result.error = Check(lock, parms.lid, parms.flags, parms.lock_timeout);
    if (result.error != 0) {
        return;
    }
    Link& link = mapLinks[parms.lid];
    const bool bReplyWaiting = !link.strOut.empty();
    link.strIn.append(parms.data.data_val, parms.data.data_len);
    result.size = parms.data.data_len;
    std::vector<std::string> vecLines;
    size_t nNewline;
    while ((nNewline = link.strIn.find('\n')) != std::string::npos) {
        vecLines.push_back(link.strIn.substr(0, nNewline));
        link.strIn.erase(0, nNewline + 1);
    }
    if ((parms.flags & kFlagEnd) != 0 && !link.strIn.empty()) {
        vecLines.push_back(link.strIn);
        link.strIn.clear();
    }
    std::string strReplies;
    lock.unlock();
    for (const std::string& strLine : vecLines) {
        if (!backend.Execute(static_cast<int>(parms.lid), strLine, strReplies,
                             bReplyWaiting || !strReplies.empty())) {
            call.connection.bDrop = true;
            return;
        }
    }
    lock.lock();
    auto it = mapLinks.find(parms.lid);
    if (it != mapLinks.end()) {
        it->second.strOut += strReplies;
    }
    lock.unlock();
    SignalServiceRequest();
}

void Vxi11Server::Impl::Read(Call& call) {
    TakeReply(call);
    SignalServiceRequest();
}

void Vxi11Server::Impl::TakeReply(Call& call) {
    const auto& parms = *static_cast<Device_ReadParms*>(call.pArgs);
    auto& result = *static_cast<Device_ReadResp*>(call.pResult);
    std::unique_lock<std::mutex> lock(mutex);
    result.error = Check(lock, parms.lid, parms.flags, parms.lock_timeout);
    if (result.error != 0) {
        return;
    }
    const auto delay = backend.ReplyDelay();
    auto Aborted = [&] { return mapLinks[parms.lid].bAbort; };
    mapLinks[parms.lid].bAbort = false;
    if (delay.count() > 0 && cvChange.wait_for(lock, delay, Aborted)) {
        // An aborted read drops the reply it was waiting to deliver, as
        // an instrument abandons an interrupted output.
        mapLinks[parms.lid].bAbort = false;
        mapLinks[parms.lid].strOut.clear();
        result.error = kErrAbort;
        return;
    }
    auto Ready = [&] { return !mapLinks[parms.lid].strOut.empty() || Aborted(); };
    const auto wait = std::chrono::milliseconds(std::min(parms.io_timeout, kMaxWaitMs));
    if (!cvChange.wait_for(lock, wait, Ready)) {
        result.error = kErrTimeout;
        return;
    }
    Link& link = mapLinks[parms.lid];
    if (link.bAbort) {
        link.bAbort = false;
        result.error = kErrAbort;
        return;
    }
    // A read ends at the end of one reply, at the termination character
    // when asked to, or at the requested count.
    size_t nTake = std::min<size_t>(link.strOut.size(), parms.requestSize);
    const bool bTermChar = (parms.flags & kFlagTermCharSet) != 0;
    for (size_t i = 0; i < nTake; ++i) {
        if (link.strOut[i] == '\n' || (bTermChar && link.strOut[i] == parms.termChar)) {
            nTake = i + 1;
            break;
        }
    }
    call.connection.strReplyBuffer = link.strOut.substr(0, nTake);
    link.strOut.erase(0, nTake);
    const std::string& strData = call.connection.strReplyBuffer;
    result.reason = 0;
    if (bTermChar && !strData.empty() && strData.back() == parms.termChar) {
        result.reason |= kReasonTermChar;
    }
    if (!strData.empty() && strData.back() == '\n') {
        result.reason |= kReasonEnd;
    }
    if (result.reason == 0) {
        result.reason = kReasonRequestCount;
    }
    result.data.data_len = static_cast<u_int>(strData.size());
    result.data.data_val = call.connection.strReplyBuffer.data();
    backend.Trace(static_cast<int>(parms.lid), "->", strData);
}

void Vxi11Server::Impl::ReadStb(Call& call) {
    auto& result = *static_cast<Device_ReadStbResp*>(call.pResult);
    result.error = Generic(*static_cast<Device_GenericParms*>(call.pArgs), [&](Link& link) {
        result.stb = static_cast<u_char>(backend.StatusByte(!link.strOut.empty()));
    });
}

void Vxi11Server::Impl::Trigger(Call& call) {
    static_cast<Device_Error*>(call.pResult)->error =
        Generic(*static_cast<Device_GenericParms*>(call.pArgs), [&](Link&) { backend.Trigger(); });
    SignalServiceRequest();
}

void Vxi11Server::Impl::Clear(Call& call) {
    static_cast<Device_Error*>(call.pResult)->error =
        Generic(*static_cast<Device_GenericParms*>(call.pArgs), [&](Link& link) {
            link.strIn.clear();
            link.strOut.clear();
            backend.DeviceClear();
        });
    SignalServiceRequest();
}

void Vxi11Server::Impl::RemoteOrLocal(Call& call) {
    static_cast<Device_Error*>(call.pResult)->error =
        Generic(*static_cast<Device_GenericParms*>(call.pArgs), [](Link&) {});
}

void Vxi11Server::Impl::Lock(Call& call) {
    const auto& parms = *static_cast<Device_LockParms*>(call.pArgs);
    auto& result = *static_cast<Device_Error*>(call.pResult);
    std::unique_lock<std::mutex> lock(mutex);
    if (mapLinks.count(parms.lid) == 0) {
        result.error = kErrInvalidLink;
        return;
    }
    result.error = Access(lock, parms.lid, parms.flags, parms.lock_timeout);
    if (result.error == 0) {
        nLockOwner = parms.lid;
    }
}

void Vxi11Server::Impl::Unlock(Call& call) {
    const long nLink = *static_cast<Device_Link*>(call.pArgs);
    auto& result = *static_cast<Device_Error*>(call.pResult);
    std::lock_guard<std::mutex> lock(mutex);
    if (mapLinks.count(nLink) == 0) {
        result.error = kErrInvalidLink;
    } else if (nLockOwner != nLink) {
        result.error = kErrNoLock;
    } else {
        nLockOwner = 0;
        cvChange.notify_all();
    }
}

void Vxi11Server::Impl::Abort(Call& call) {
    const long nLink = *static_cast<Device_Link*>(call.pArgs);
    auto& result = *static_cast<Device_Error*>(call.pResult);
    std::lock_guard<std::mutex> lock(mutex);
    auto it = mapLinks.find(nLink);
    if (it == mapLinks.end()) {
        result.error = kErrInvalidLink;
        return;
    }
    it->second.bAbort = true;
    cvChange.notify_all();
}

}  // namespace emu
