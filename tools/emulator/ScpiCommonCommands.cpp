// The IEEE 488.2 common commands and the SYSTem and STATus subsystems: the
// instrument as a whole.
#include <algorithm>
#include <cmath>

#include "CommandTable.h"

namespace emu {

// IEEE 488.2 common commands.
std::vector<Instrument::Command> CommandTable::CommonCommands() {
    return {
        Row("*IDN", kBoth, Query([](I& inst) {
                return inst.m_identity.strManufacturer + "," + inst.m_identity.strModel + "," +
                       inst.m_identity.strSerial + "," + inst.m_identity.strFirmware;
            })),
        Row("*RST", kBoth, Action([](I& inst, C&) { inst.Reset(); })),
        Row("*CLS", kBoth, Action([](I& inst, C&) { inst.ClearStatus(); })),
        Row("*ESR", kBoth, Query([](I& inst) {
                int nValue = inst.m_nEsr;
                inst.m_nEsr = 0;
                return std::to_string(nValue);
            })),
        Row("*ESE", kBoth, IntOf([](I& inst) -> int& { return inst.m_nEse; }, 0, 255, 0)),
        Row("*SRE", kBoth, IntOf([](I& inst) -> int& { return inst.m_nSre; }, 0, 255, 0)),
        Row("*STB", kBoth, Query([](I& inst) { return std::to_string(inst.StatusByte()); })),
        Row("*OPC", kBoth,
            {[](I& inst, C& call) {
                 call.Expect(0, 0);
                 inst.m_nEsr |= 0x01;  // every operation completes at once
             },
             [](I&, C& call) {
                 call.Expect(0, 0);
                 call.strReply = "1";
             }}),
        Row("*WAI", kBoth, Action([](I&, C&) {})),
        Row("*TRG", kBoth, Action([](I& inst, C&) { inst.Trigger(); })),
        Row("*TST", kBoth, Query([](I&) { return std::string("0"); })),
        Row("*PSC", kBoth, BoolOf([](I& inst) -> bool& { return inst.m_bPsc; })),
        Row("*SAV", kBoth,
            {[](I& inst, C& call) {
                 call.Expect(1, 1);
                 long nSlot = scpi::ParseInteger(call.Parameter(0), 0, kSlotCount - 1, 0);
                 inst.m_arrSlots[static_cast<size_t>(nSlot)] = inst.Snapshot();
             },
             nullptr}),
        Row("*RCL", kBoth,
            {[](I& inst, C& call) {
                 call.Expect(1, 1);
                 long nSlot = scpi::ParseInteger(call.Parameter(0), 0, kSlotCount - 1, 0);
                 const auto& slot = inst.m_arrSlots[static_cast<size_t>(nSlot)];
                 inst.Restore(slot ? *slot : InstrumentSettings{});
             },
             nullptr}),
    };
}

// SYSTem, DISPlay and LXI: the instrument as a whole.
std::vector<Instrument::Command> CommandTable::SystemCommands() {
    return {
        Row("SYSTem:ERRor:[NEXT]", kBoth, Query([](I& inst) {
                if (inst.m_deqErrors.empty()) {
                    return std::string("0,\"No error\"");
                }
                auto error = inst.m_deqErrors.front();
                inst.m_deqErrors.pop_front();
                return std::to_string(error.first) + ",\"" + error.second + "\"";
            })),
        Row("SYSTem:ERRor:COUNt", kBoth,
            Query([](I& inst) { return std::to_string(inst.m_deqErrors.size()); })),
        Row("SYSTem:VERSion", kBoth, Query([](I&) { return std::string("1999.0"); })),
        Row("SYSTem:BEEPer:STATe", kBoth,
            BoolOf([](I& inst) -> bool& { return inst.m_system.bBeeper; })),
        Row("SYSTem:BEEPer:[IMMediate]", kBoth,
            Action([](I& inst, C&) { ++inst.m_system.nBeeps; })),
        Row("SYSTem:COMMunicate:RLSTate", kBoth,
            ChoiceOf([](I& inst) -> int& { return inst.m_system.nRemoteState; }, &kRemoteWords,
                     &kRemoteReplies)),
        Row("SYSTem:RWLock", kBoth, Action([](I& inst, C&) { inst.m_system.nRemoteState = 2; })),
        Row("SYSTem:REMote", kBoth, Action([](I& inst, C&) { inst.m_system.nRemoteState = 0; })),
        Row("SYSTem:LOCal", kBoth, Action([](I& inst, C&) { inst.m_system.nRemoteState = 1; })),
        Row("SYSTem:SECure:IMMediate", kBoth, Action([](I& inst, C&) {
                inst.m_arrSlots = {};
                inst.m_arrLists = {};
                inst.m_nPowerOnState = kPowerOnOff;
                inst.m_nPowerOnSlot = 0;
                inst.PowerCycle();
            })),
        Row("SYSTem:DATE", kBoth,
            {[](I& inst, C& call) { inst.m_system.strDate = JoinText(call); },
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply =
                     inst.m_system.strDate.empty() ? CurrentDateTime(true) : inst.m_system.strDate;
             }}),
        Row("SYSTem:TIME", kBoth,
            {[](I& inst, C& call) { inst.m_system.strTime = JoinText(call); },
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply =
                     inst.m_system.strTime.empty() ? CurrentDateTime(false) : inst.m_system.strTime;
             }}),
        Row("DISPlay:[WINDow]:STATe", kBoth,
            BoolOf([](I& inst) -> bool& { return inst.m_system.bDisplay; })),
        Row("LXI:IDENtify:[STATe]", kBoth,
            BoolOf([](I& inst) -> bool& { return inst.m_system.bLxiIdentify; })),
    };
}

// STATus: SCPI status registers.
std::vector<Instrument::Command> CommandTable::StatusCommands() {
    return {
        Row("STATus:QUEStionable:[EVENt]", kBoth, Query([](I& inst) {
                int nValue = inst.m_nQuesEvent;
                inst.m_nQuesEvent = 0;
                return std::to_string(nValue);
            })),
        Row("STATus:QUEStionable:CONDition", kBoth,
            Query([](I& inst) { return std::to_string(inst.m_nQuesCondition); })),
        Row("STATus:QUEStionable:ENABle", kBoth,
            IntOf([](I& inst) -> int& { return inst.m_nQuesEnable; }, 0, 32767, 0)),
        Row("STATus:QUEStionable:INSTrument:[EVENt]", kBoth, Query([](I& inst) {
                int nValue = inst.m_nInstEvent;
                inst.m_nInstEvent = 0;
                return std::to_string(nValue);
            })),
        Row("STATus:QUEStionable:INSTrument:CONDition", kBoth,
            Query([](I& inst) { return std::to_string(inst.m_nInstCondition); })),
        Row("STATus:QUEStionable:INSTrument:ENABle", kBoth,
            IntOf([](I& inst) -> int& { return inst.m_nInstEnable; }, 0, 32767, 0)),
        Row("STATus:QUEStionable:ISUMmary#:[EVENt]", kBoth,
            {nullptr,
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 size_t nIndex = Summary(inst, call);
                 call.strReply = std::to_string(inst.m_arrIsumEvent[nIndex]);
                 inst.m_arrIsumEvent[nIndex] = 0;
             }}),
        Row("STATus:QUEStionable:ISUMmary#:CONDition", kBoth,
            {nullptr,
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = std::to_string(inst.m_arrIsumCondition[Summary(inst, call)]);
             }}),
        Row("STATus:QUEStionable:ISUMmary#:ENABle", kBoth,
            {[](I& inst, C& call) {
                 call.Expect(1, 1);
                 size_t nIndex = Summary(inst, call);
                 inst.m_arrIsumEnable[nIndex] =
                     static_cast<int>(scpi::ParseInteger(call.Parameter(0), 0, 32767, 0));
             },
             [](I& inst, C& call) {
                 call.Expect(0, 0);
                 call.strReply = std::to_string(inst.m_arrIsumEnable[Summary(inst, call)]);
             }}),
        Row("STATus:PRESet", kBoth, Action([](I& inst, C&) {
                inst.m_nQuesEnable = 0;
                inst.m_nInstEnable = 0;
                inst.m_arrIsumEnable = {};
            })),
    };
}

}  // namespace emu
