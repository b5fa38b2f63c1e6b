// Fuzzes the driver through its two request handlers, as a host would call
// them: a sequence of requests with fuzzer-chosen packets, host services
// that fail when the fuzzer says so, vertex arrays and image lines in low
// memory with fuzzer-chosen contents.
//
// Input: byte 0 host failures (bit 0 LoadConfig, bit 1 StoreConfig, bits
// 2..7 WriteOutput fails from that call on, 0 never), byte 1 allocations
// that succeed before they fail (0 never fail), then records:
//   u8 flags (bit 0 driver handler, bit 1 null address, bits 2..7 lines an
//   image serves), i16 code, u16 length, `length` packet bytes from +2.
#include <cstdint>
#include <cstring>
#include <vector>

#include "host_table.h"
#include "interface/host_services.h"
#include "interface/memory.h"
#include "job/driver_entry.h"
#include "low_arena.h"
#include "varnu/adi_abi.h"
#include "varnu/byte_order.h"
#include "varnu/headless_dialogs.h"

namespace {

using namespace varnu;

// The largest packet the interface defines: request 33 with 32767 vertices
// inline (+12, 4 bytes each). The fuzzer fills its first bytes.
constexpr std::size_t kPacketSize = 12 + 4 * 32767;
constexpr std::size_t kFilledSize = 2200;

hostkit::LowArena& Arena() {
    static hostkit::LowArena arena(std::size_t{256} << 20);
    return arena;
}

std::uint8_t Table[hostkit::kServiceTableSize];
int WritesLeft = -1;
bool LoadFails = false, StoreFails = false;
std::uint8_t Stored[40];
bool HaveStored = false;

std::int32_t Print(const char*) {
    return 0;
}
std::int32_t Write(std::int32_t, std::int32_t, const void* bytes, std::int32_t count,
                   std::int32_t) {
    if (count < 0 || (count > 0 && bytes == nullptr)) __builtin_trap();
    // Touch every byte the driver claims to hand over.
    volatile std::uint8_t sink = 0;
    for (std::int32_t i = 0; i < count; i += 64)
        sink = sink ^ static_cast<const std::uint8_t*>(bytes)[i];
    if (WritesLeft == 0) return 0;
    if (WritesLeft > 0) --WritesLeft;
    return 1;
}
std::int32_t Load(std::int32_t size, void* record) {
    if (size != 40) __builtin_trap();
    if (LoadFails || !HaveStored) return 1;
    std::memcpy(record, Stored, 40);
    return 0;
}
std::int32_t Store(std::int32_t size, const void* record) {
    if (size != 40) __builtin_trap();
    if (StoreFails) return 1;
    std::memcpy(Stored, record, 40);
    HaveStored = true;
    return 0;
}
std::int32_t Notify(std::int32_t, std::int32_t) {
    return 3;
}

// The image the current request 52 describes: lines made from its packet.
struct ImageSource {
    std::vector<std::uint8_t> bytes;
    int linesLeft = 0;
    std::uint8_t* reply = nullptr;
} Source;

void* Fetch(void* request) {
    if (request == nullptr) __builtin_trap();
    std::uint8_t* reply = Source.reply;
    std::memset(reply, 0, 16);
    if (Source.linesLeft-- <= 0) {
        StoreLe<std::int16_t>(reply, 12, 1);  // no more lines
        return reply;
    }
    const std::size_t n =
        Source.bytes.empty() ? 0 : Source.bytes[Source.linesLeft % Source.bytes.size()] * 37u;
    auto* pixels = static_cast<std::uint8_t*>(Arena().TryAllocate(n + 1));
    if (pixels == nullptr) {
        StoreLe<std::int16_t>(reply, 14, 1);  // the host fails
        return reply;
    }
    for (std::size_t i = 0; i < n; ++i)
        pixels[i] = Source.bytes.empty() ? 0 : Source.bytes[i % Source.bytes.size()];
    HostAddress address = 0;
    ToHostAddress(pixels, &address);
    StoreLe<HostAddress>(reply, 0, address);
    // A byte count that need not match the line.
    StoreLe<std::int32_t>(reply, 4,
                          static_cast<std::int32_t>(n) - (Source.linesLeft % 3 == 0 ? 5 : 0));
    return reply;
}
std::int32_t Release(void*) {
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    RestoreModuleLoadStateForTesting();
    ResetHeadlessDialogs();
    Arena().Reset();
    if (!hostkit::FillServiceTable(Table, {&Print, &Print, &Write, &Load, &Store, &Notify}))
        __builtin_trap();
    LoadFails = data[0] & 1;
    StoreFails = data[0] & 2;
    WritesLeft = (data[0] >> 2) == 0 ? -1 : (data[0] >> 2) * 7;
    FailAllocationsAfterForTesting(data[1] == 0 ? -1 : data[1] % 16);
    HaveStored = false;
    Source.reply = static_cast<std::uint8_t*>(Arena().Allocate(16));
    if (PLADI(Table, 0) == nullptr) __builtin_trap();

    std::size_t at = 2;
    alignas(8) static std::uint8_t packet[kPacketSize];
    while (at + 5 <= size) {
        const std::uint8_t flags = data[at];
        std::int16_t code;
        std::memcpy(&code, data + at + 1, 2);
        std::uint16_t length;
        std::memcpy(&length, data + at + 3, 2);
        at += 5;
        length =
            static_cast<std::uint16_t>(std::min<std::size_t>({length, size - at, kFilledSize - 2}));
        std::memset(packet, 0, sizeof packet);
        std::memcpy(packet, &code, 2);
        std::memcpy(packet + 2, data + at, length);
        const bool nullAddress = flags & 2;
        if (!(flags & 1) && code == 54) {
            // The vertex array: the packet's own bytes, in low memory.
            auto* vertices = static_cast<std::uint8_t*>(Arena().TryAllocate(4 * 32768));
            HostAddress address = 0;
            if (vertices != nullptr && !nullAddress) {
                for (std::size_t i = 0; i < 4 * 32768; ++i)
                    vertices[i] = length ? data[at + i % length] : 0;
                ToHostAddress(vertices, &address);
            }
            StoreLe<HostAddress>(packet, 8, address);
        }
        if (!(flags & 1) && code == 52) {
            Source.bytes.assign(data + at, data + at + length);
            Source.linesLeft = flags >> 2;
            HostAddress fetch = 0, release = 0;
            if (!nullAddress) {
                FunctionToHostAddress(&Fetch, &fetch);
                FunctionToHostAddress(&Release, &release);
            }
            StoreLe(packet, 4, fetch);
            StoreLe(packet, 8, release);
        }
        at += length;
        if (flags & 1) {
            DriverRequest(packet);
        } else {
            PlotRequest(packet);
        }
    }
    // Whatever the sequence, a job end and a reset leave the module tidy.
    std::memset(packet, 0, sizeof packet);
    packet[0] = 2;
    PlotRequest(packet);
    FailAllocationsAfterForTesting(-1);
    RestoreModuleLoadStateForTesting();
    return 0;
}
