// What every host of the driver does the same way: the table of its six
// service routines handed to PLADI, the handler addresses read back from the
// header, and request packets. Built only on the driver's interface headers,
// so the Windows test host compiles it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "varnu/byte_order.h"
#include "varnu/host_interface.h"
#include "varnu/packet_layouts.h"

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
    std::int16_t result() const { return Get<std::int16_t>(layout::kCode); }
};

// How a plot job is opened.
struct JobOpening {
    double extentX = 36.0, extentY = 24.0;  // plot extents in inches (47, 48)
    double resolution = 1016.0;             // host steps per inch (48)
    std::int16_t hostVersion = 14;          // request 29's version word
    // Sent between 29 and 47 (request 46 and its dialog, for instance);
    // returns "" or what went wrong.
    std::function<std::string()> afterOpen;
    bool startJob = true;  // end with request 30
};

// The plot requests a CAD host opens a job with: 49 (reset, with the host's
// identity), 50 (messages), 29 (open), `afterOpen`, 47 (extents), 48 (page
// data) and 30 (job start), each checked for its answer. Returns 0, or the
// code of the request that failed (-1 for afterOpen) with `error` saying how.
std::int16_t OpenPlotJob(Handler plot, const JobOpening& job, std::string* error);

}  // namespace varnu::hostkit
