// The driver's tables of what its instruments are: the known model
// identifiers with their families, and the physical output channels.
#pragma once

#include "runtime/repcap/OutputChannel.h"
#include "runtime/session/ModelTable.h"

namespace tarvek {

// Built once and read-only afterwards.
const drt::ModelFamilyTable& ModelTable();

// The physical output channels of every session, built once and read-only
// afterwards. A one-output model uses only the first.
const drt::ChannelList& PhysicalChannels();

}  // namespace tarvek
