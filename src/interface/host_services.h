// The host's service table and the six slots the driver calls.
#pragma once

#include <cstdint>

#include "interface/adi_abi.h"

namespace varnu {

// Byte offsets of the slots in the host's table; each slot holds a 4-byte
// function address.
enum HostServiceSlot : std::uint32_t {
    kPrintMessageSlot = 112,
    kSendDeviceStringSlot = 140,
    kWriteOutputSlot = 160,
    kLoadConfigSlot = 176,
    kStoreConfigSlot = 180,
    kNotifyHostSlot = 192,
};

// Signatures of the slots, caller-cleans, 32-bit results.
using PrintMessageFn = std::int32_t ADI_CALLER_CLEANS(const char* text);
using SendDeviceStringFn = std::int32_t ADI_CALLER_CLEANS(const char* text);
using WriteOutputFn = std::int32_t ADI_CALLER_CLEANS(std::int32_t one, std::int32_t zero,
                                                     const void* bytes, std::int32_t count,
                                                     std::int32_t zero2);
using LoadConfigFn = std::int32_t ADI_CALLER_CLEANS(std::int32_t size, void* record);
using StoreConfigFn = std::int32_t ADI_CALLER_CLEANS(std::int32_t size, const void* record);
using NotifyHostFn = std::int32_t ADI_CALLER_CLEANS(std::int32_t a, std::int32_t b);

// The table the host handed to PLADI; kept for the life of the module.
extern const std::uint8_t* HostServices;

// The host's window, from driver request 11 and plot request 29; owner of
// the raster failure message box.
extern std::uint32_t HostWindow;

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
