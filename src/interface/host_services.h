// The host's service table and the six slots the driver calls.
#pragma once

#include <cstdint>

#include "varnu/host_interface.h"

namespace varnu {

// Slot calls. A missing table or an empty slot counts as the slot's failure
// result (WriteOutput 0, LoadConfig/StoreConfig non-zero, NotifyHost -1), so
// a half-filled host table never makes the driver jump to address 0.
void HostPrintMessage(const char* text);
void HostSendDeviceString(const char* text);
std::int32_t HostWriteOutput(const void* bytes, std::int32_t count);
std::int32_t HostLoadConfig(void* record40);
std::int32_t HostStoreConfig(const void* record40);
std::int32_t HostNotify(std::int32_t a, std::int32_t b);

}  // namespace varnu
