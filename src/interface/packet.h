// Reading and writing the packet of the call in progress at its byte offsets.
#pragma once

#include <cstdint>

#include "varnu/byte_order.h"
#include "varnu/packet_layouts.h"

namespace varnu {

// The packet of the call in progress; both handlers keep their argument here.
extern std::uint8_t* CurrentPacket;

inline constexpr std::int16_t kResultOk = 0;
inline constexpr std::int16_t kResultFailed = -1;
inline constexpr std::int16_t kResultPageData = 19;  // requests 46 and 48

template <typename T>
inline T PacketGet(std::size_t offset) {
    return LoadLe<T>(CurrentPacket, offset);
}

template <typename T>
inline void PacketPut(std::size_t offset, T value) {
    StoreLe<T>(CurrentPacket, offset, value);
}

// Word +0: the code on entry, the result on exit.
inline void SetResult(std::int16_t result) {
    PacketPut<std::int16_t>(layout::kCode, result);
}

}  // namespace varnu
