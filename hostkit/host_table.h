// What every host of the driver does the same way: the table of its six
// service routines handed to PLADI, the handler addresses read back from the
// header, and request packets. Built only on the driver's interface headers,
// so the Windows test host compiles it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "interface/byte_order.h"
#include "interface/host_services.h"

namespace varnu::hostkit {

struct ServiceRoutines {
    PrintMessageFn* printMessage;
    SendDeviceStringFn* sendDeviceString;
    WriteOutputFn* writeOutput;
    LoadConfigFn* loadConfig;
    StoreConfigFn* storeConfig;
    NotifyHostFn* notifyHost;
};

inline constexpr std::size_t kServiceTableSize = 256;  // past the highest slot

// Writes the six slots of `table` (kServiceTableSize bytes). False when a
// routine lies above 4 GiB, i.e. the host is not linked low; such a table
// must not be handed over.
bool FillServiceTable(std::uint8_t* table, const ServiceRoutines& routines);

// Zero-filled memory below 4 GiB; nullptr when there is none left.
using LowAllocateFn = void* (*)(std::size_t size);
// The module's export and its two handlers, with the conventions the module
// declares for them.
using PladiFunction = void* ADI_CALLEE_CLEANS(const void* hostServices, std::uint32_t reserved);
using HandlerFunction = void ADI_CALLER_CLEANS(void* packet);
using PladiFn = PladiFunction*;
using Handler = HandlerFunction*;

struct Handlers {
    Handler driver = nullptr;  // driver (configuration) requests
    Handler plot = nullptr;    // plot requests
};

// For hosts that reach the driver only through its export: the table in low
// memory, PLADI, the handler addresses from the header. Returns what went
// wrong, or "".
std::string InstallHost(PladiFn pladi, LowAllocateFn lowAllocate, const ServiceRoutines& routines,
                        Handlers* handlers);

// A request packet, large enough for every request; the driver reads it in
// place and answers in its first word.
struct Packet {
    static constexpr std::size_t kSize = 2200;
    alignas(8) std::uint8_t bytes[kSize] = {};

    explicit Packet(std::int16_t code) { StoreLe(bytes, 0, code); }
    template <typename T>
    Packet& Set(std::size_t offset, T value) {
        StoreLe(bytes, offset, value);
        return *this;
    }
    template <typename T>
    T Get(std::size_t offset) const {
        return LoadLe<T>(bytes, offset);
    }
    std::uint8_t* data() { return bytes; }
    std::int16_t result() const { return Get<std::int16_t>(0); }
};

}  // namespace varnu::hostkit
