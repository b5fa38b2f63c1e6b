// Little-endian values at any byte offset of a host record (request packets,
// the configuration record, the driver header). Every access goes through
// memcpy: the packets put doubles at odd offsets.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace varnu {

static_assert(std::endian::native == std::endian::little,
              "the host's records are little-endian; so is every target we build for");

template <typename T>
inline T LoadLe(const void* base, std::size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const std::uint8_t*>(base) + offset, sizeof value);
    return value;
}

template <typename T>
inline void StoreLe(void* base, std::size_t offset, T value) {
    std::memcpy(static_cast<std::uint8_t*>(base) + offset, &value, sizeof value);
}

}  // namespace varnu
