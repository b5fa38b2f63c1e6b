#include "host_table.h"

#include "interface/adi_abi.h"
#include "job/driver_entry.h"

namespace varnu::hostkit {

namespace {

template <typename Fn>
bool PutSlot(std::uint8_t* table, std::uint32_t offset, Fn* fn) {
    HostAddress address = 0;
    if (!FunctionToHostAddress(fn, &address)) return false;
    StoreLe(table, offset, address);
    return true;
}

Handler HandlerAt(const std::uint8_t* header, std::size_t offset) {
    return FunctionFromHostAddress<void(void*)>(LoadLe<HostAddress>(header, offset));
}

}  // namespace

bool FillServiceTable(std::uint8_t* table, const ServiceRoutines& r) {
    return PutSlot(table, kPrintMessageSlot, r.printMessage) &&
           PutSlot(table, kSendDeviceStringSlot, r.sendDeviceString) &&
           PutSlot(table, kWriteOutputSlot, r.writeOutput) &&
           PutSlot(table, kLoadConfigSlot, r.loadConfig) &&
           PutSlot(table, kStoreConfigSlot, r.storeConfig) &&
           PutSlot(table, kNotifyHostSlot, r.notifyHost);
}

std::string InstallHost(PladiFn pladi, LowAllocateFn lowAllocate, const ServiceRoutines& routines,
                        Handlers* handlers) {
    auto* table = static_cast<std::uint8_t*>(lowAllocate(kServiceTableSize));
    if (table == nullptr) return "no low memory for the service table";
    if (!FillServiceTable(table, routines))
        return "the host's routines lie above 4 GiB (link it at a low base)";
    const auto* header = static_cast<const std::uint8_t*>(pladi(table, 0));
    if (header == nullptr) return "PLADI handed back no header";
    handlers->driver = HandlerAt(header, kRequestHandlerOffset);
    handlers->plot = HandlerAt(header, kPlotHandlerOffset);
    return {};
}

}  // namespace varnu::hostkit
