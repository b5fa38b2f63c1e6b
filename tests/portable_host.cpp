#include "portable_host.h"

namespace varnu::portable {

namespace {

// Where the driver finds the host's services, and where its header names
// the two request handlers.
constexpr std::size_t kPrintMessageSlot = 112, kSendDeviceStringSlot = 140, kWriteOutputSlot = 160,
                      kLoadConfigSlot = 176, kStoreConfigSlot = 180, kNotifyHostSlot = 192;
constexpr std::size_t kDriverHandlerOffset = 410, kPlotHandlerOffset = 414;

template <typename Fn>
bool PutSlot(std::uint8_t* table, std::size_t offset, Fn* fn) {
    std::uint32_t address = 0;
    if (!LowAddress(reinterpret_cast<const void*>(fn), &address)) return false;
    Put(table, offset, address);
    return true;
}

Handler HandlerAt(const std::uint8_t* header, std::size_t offset) {
    return reinterpret_cast<Handler>(
        static_cast<std::uintptr_t>(Take<std::uint32_t>(header, offset)));
}

}  // namespace

bool LowAddress(const void* p, std::uint32_t* address) {
    const auto value = reinterpret_cast<std::uintptr_t>(p);
    *address = value > UINT32_MAX ? 0 : static_cast<std::uint32_t>(value);
    return value <= UINT32_MAX;
}

std::string InstallHost(PladiFn pladi, LowAllocateFn lowAllocate, const Services& services,
                        Handlers* handlers) {
    auto* table = static_cast<std::uint8_t*>(lowAllocate(256));
    if (table == nullptr) return "no low memory for the service table";
    const bool low = PutSlot(table, kPrintMessageSlot, services.printMessage) &&
                     PutSlot(table, kSendDeviceStringSlot, services.sendDeviceString) &&
                     PutSlot(table, kWriteOutputSlot, services.writeOutput) &&
                     PutSlot(table, kLoadConfigSlot, services.loadConfig) &&
                     PutSlot(table, kStoreConfigSlot, services.storeConfig) &&
                     PutSlot(table, kNotifyHostSlot, services.notifyHost);
    if (!low) return "the host's services lie above 4 GiB (link it at a low base)";
    const auto* header = static_cast<const std::uint8_t*>(pladi(table, 0));
    if (header == nullptr) return "PLADI handed back no header";
    handlers->driver = HandlerAt(header, kDriverHandlerOffset);
    handlers->plot = HandlerAt(header, kPlotHandlerOffset);
    return {};
}

}  // namespace varnu::portable
