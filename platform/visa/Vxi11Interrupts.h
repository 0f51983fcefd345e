// The receiver of VXI-11 service requests: one RPC server for the interrupt
// channel (DEVICE_INTR) per process, on an ephemeral TCP port, with threads
// of its own. It runs while any link holds it; each link gives the device a
// handle naming its session, and a device_intr_srq carrying that handle posts
// VI_EVENT_SERVICE_REQ to the session.
#pragma once

#include <cstdint>
#include <string>

#include "visa.h"

namespace tkvisa {

// Starts the receiver on first use; its port, or 0 when it cannot listen.
std::uint16_t AcquireInterruptReceiver();
// Drops one hold; the last one stops the receiver and closes its connections.
void ReleaseInterruptReceiver();

// The handle a link passes to device_enable_srq for session vi, and back.
std::string InterruptHandleOf(ViSession vi);
bool SessionOfInterruptHandle(const char* pData, std::size_t nLength, ViSession* pSession);

}  // namespace tkvisa
