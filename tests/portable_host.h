// A host for the driver that needs nothing but PLADI: the service table in
// low memory, the handler addresses from the header, request packets. Used
// by hosts that must build on Linux and on Windows alike (the reference
// jobs, the Windows test host).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace varnu::portable {

// Zero-filled memory below 4 GiB for what the driver reads by a 4-byte
// address; nullptr when there is none left.
using LowAllocateFn = void* (*)(std::size_t size);
using PladiFn = void* (*)(const void* hostServices, std::uint32_t reserved);
using Handler = void (*)(void* packet);

template <typename T>
void Put(void* bytes, std::size_t offset, T value) {
    std::memcpy(static_cast<std::uint8_t*>(bytes) + offset, &value, sizeof value);
}
template <typename T>
T Take(const void* bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const std::uint8_t*>(bytes) + offset, sizeof value);
    return value;
}

// A request packet; the driver reads it in place and answers in its first word.
struct Packet {
    alignas(8) std::uint8_t bytes[2200] = {};
    explicit Packet(std::int16_t code) { Put(bytes, 0, code); }
    template <typename T>
    Packet& Set(std::size_t offset, T value) {
        Put(bytes, offset, value);
        return *this;
    }
    std::int16_t result() const { return Take<std::int16_t>(bytes, 0); }
};

// The six services a host offers.
struct Services {
    std::int32_t (*printMessage)(const char* text);
    std::int32_t (*sendDeviceString)(const char* text);
    std::int32_t (*writeOutput)(std::int32_t one, std::int32_t zero, const void* bytes,
                                std::int32_t count, std::int32_t zero2);
    std::int32_t (*loadConfig)(std::int32_t size, void* record);
    std::int32_t (*storeConfig)(std::int32_t size, const void* record);
    std::int32_t (*notifyHost)(std::int32_t a, std::int32_t b);
};

struct Handlers {
    Handler driver = nullptr;  // driver (configuration) requests
    Handler plot = nullptr;    // plot requests
};

// The 4-byte form of an address; false when it does not fit.
bool LowAddress(const void* p, std::uint32_t* address);

// Puts the services into a table in low memory, hands it to PLADI and takes
// the handler addresses from the header. Returns what went wrong, or "".
std::string InstallHost(PladiFn pladi, LowAllocateFn lowAllocate, const Services& services,
                        Handlers* handlers);

}  // namespace varnu::portable
