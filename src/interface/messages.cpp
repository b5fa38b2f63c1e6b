#include "interface/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "interface/host_services.h"

namespace varnu {

const char MessageTable[kMessageSlots][kMessageSlotSize] = {
#include "message_table.inc"
};

char ActiveMessages[kMessageSlots][kMessageSlotSize];
char MessageBuffer[kMessageBufferSize];

void ReportMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(MessageBuffer, sizeof MessageBuffer, format, args);
    va_end(args);
    HostPrintMessage(MessageBuffer);
}

void ReportSlot(MessageSlot slot) {
    ReportMessage("\n%s\n", ActiveMessages[slot]);
}

void InstallMessages() {
    std::memcpy(ActiveMessages, MessageTable, sizeof ActiveMessages);
}

void ResetMessagesOnLoad() {
    std::memset(ActiveMessages, 0, sizeof ActiveMessages);
    std::memset(MessageBuffer, 0, sizeof MessageBuffer);
}

}  // namespace varnu
