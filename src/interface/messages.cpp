#include "interface/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "interface/host_services.h"
#include "interface/lifetimes.h"

namespace varnu {

const char MessageTable[kMessageSlots][kMessageSlotSize] = {
#include "message_table.inc"
};

char MessageBuffer[kMessageBufferSize];

void ReportMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(MessageBuffer, sizeof MessageBuffer, format, args);
    va_end(args);
    HostPrintMessage(MessageBuffer);
}

void ReportSlot(MessageSlot slot) {
    ReportMessage("\n%s\n", Module.ActiveMessages[slot]);
}

void InstallMessages() {
    std::memcpy(Module.ActiveMessages, MessageTable, sizeof Module.ActiveMessages);
}

}  // namespace varnu
