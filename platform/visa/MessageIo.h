// Message-based operations beyond plain reads and writes: IEEE 488.2 status
// and trigger messages on links without device operations, buffers, string
// formatting, asynchronous and file transfers.
#pragma once

#include "Session.h"

namespace tkvisa {

// viReadSTB and viAssertTrigger on links with no device operation of their
// own (sockets, serial ports): "*STB?" and "*TRG" when VI_ATTR_IO_PROT is
// VI_PROT_4882_STRS, VI_ERROR_NSUP_OPER otherwise. The session is locked.
ViStatus ReadStatusByteByMessage(Session& session, ViUInt16* pStatus);
ViStatus AssertTriggerByMessage(Session& session);

}  // namespace tkvisa
