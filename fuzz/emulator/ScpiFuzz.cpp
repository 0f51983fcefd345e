// Feeds arbitrary bytes to the emulated instrument as program messages: the
// parser and the command handlers must answer every input with a reply or a
// queued error, never crash or hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Instrument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    if (nSize == 0) {
        return 0;
    }
    emu::Family family = (pData[0] & 1) != 0 ? emu::Family::Series6510 : emu::Family::Series6310;
    emu::Instrument instrument({"Norvale", "6313", "SN1", "1.0"}, family);
    std::string strInput(reinterpret_cast<const char*>(pData + 1), nSize - 1);
    size_t nStart = 0;
    while (nStart <= strInput.size()) {
        size_t nEnd = strInput.find('\n', nStart);
        if (nEnd == std::string::npos) {
            nEnd = strInput.size();
        }
        emu::Reply reply = instrument.Execute(strInput.substr(nStart, nEnd - nStart));
        if (reply.bHasReply && reply.strText.find('\n') != std::string::npos) {
            __builtin_trap();  // a reply must be one line
        }
        nStart = nEnd + 1;
    }
    instrument.Advance();
    return 0;
}
