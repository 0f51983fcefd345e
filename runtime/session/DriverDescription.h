// What the runtime needs to know of the driver it serves. The runtime is the
// same for any instrument; the driver hands it one of these when it builds a
// session, so that no name or model of an instrument lives in the runtime.
#pragma once

#include <string_view>

#include "runtime/repcap/OutputChannel.h"
#include "runtime/session/ModelTable.h"

namespace drt {

// Every member refers to storage that lives as long as the process: the
// driver passes constants and a table built once.
struct DriverDescription {
    // The prefix of the exported names ("<prefix>_GetChannelName"), used in
    // error texts and to recognise attribute callback names.
    std::string_view strPrefix;
    // The name of the driver's software module in the configuration store.
    std::string_view strSoftwareModule;
    // The model a simulated session takes when nothing else names one.
    std::string_view strDefaultSimulationModel;
    // The repeated capability of the output channels ("<name>!!CH1" keys,
    // error texts).
    std::string_view strRepCapName;
    // The known model identifiers and the family of each.
    const ModelFamilyTable* pModelTable = nullptr;
    // The physical output channels of every session, in order.
    const ChannelList* pPhysicalChannels = nullptr;
};

}  // namespace drt
