// The receiver of VXI-11 service requests: the RPC server for the interrupt
// channel (DEVICE_INTR) of every link in the process. It listens on the
// address each link's connection comes from (one socket per local address,
// shared by the links on it), admits connections only from the devices of
// those links, and serves them all from one thread; events are posted by a
// thread per session with requests waiting. Each link registers a random
// handle naming its session; a device_intr_srq carrying it posts
// VI_EVENT_SERVICE_REQ to the session.
#pragma once

#include <cstdint>
#include <string>

#include "Socket.h"
#include "visa.h"

namespace tkvisa {

// A link's hold on the receiver: what it names in create_intr_chan and
// device_enable_srq.
struct InterruptChannel {
    std::uint16_t nPort = 0;  // the receiver's port on the link's local address
    std::string strHandle;    // random, unguessable; empty while not held
};

// Registers session vi for service requests from the host of device (the
// link's peer) reaching the host of local (the link's own address), starting
// the receiver or a listening socket on that address when needed. False when
// it cannot listen or draw a handle.
bool AcquireInterruptChannel(const tknet::Address& local, const tknet::Address& device,
                             ViSession vi, InterruptChannel* pChannel);
// Drops the registration and clears *pChannel; the last one on a local
// address closes its socket and connections, the last of all stops the
// receiver. Never waits for the receiver's threads.
void ReleaseInterruptChannel(InterruptChannel* pChannel);

}  // namespace tkvisa
