#include "driver/ModelTable.h"

#include "driver/Identity.h"

namespace tarvek {

const drt::ModelFamilyTable& ModelTable() {
    static const drt::ModelFamilyTable table = drt::BuildModelTable({
        {kFamily6310, "TK6310"},
        {kFamily6510, "TK6510"},
    });
    return table;
}

const drt::ChannelList& PhysicalChannels() {
    static const drt::ChannelList channels =
        drt::BuildChannelList(kOutputChannelRepCap, "CH1,CH2,CH3");
    return channels;
}

}  // namespace tarvek
