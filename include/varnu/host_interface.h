// What the host and the module exchange besides packets: the module's
// description record that PLADI returns, and the host's service table.
#pragma once

#include <cstdint>

#include "varnu/adi_abi.h"

namespace varnu {

// The description record: 504 packed, little-endian bytes.
inline constexpr int kDriverHeaderSize = 504;
inline constexpr int kIdentityReplySize = 81;  // identity text and padding, copied by request 49
inline constexpr int kRequestHandlerOffset = 410;
inline constexpr int kPlotHandlerOffset = 414;

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

}  // namespace varnu
