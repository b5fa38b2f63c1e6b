#include "host_table.h"

#include "varnu/adi_abi.h"
#include "varnu/host_interface.h"
#include "varnu/packet_layouts.h"

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
    return FunctionFromHostAddress<HandlerFunction>(LoadLe<HostAddress>(header, offset));
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

std::int16_t OpenPlotJob(Handler plot, const JobOpening& job, std::string* error) {
    // Each request with the answer that means it passed.
    auto send = [&](Packet p, std::int16_t expected, const char* what) -> bool {
        const std::int16_t code = p.result();
        plot(p.data());
        if (p.result() == expected) return true;
        *error = "request " + std::to_string(code) + " (" + what + ") answered " +
                 std::to_string(p.result());
        return false;
    };
    namespace pg = layout::page;
    // The host's identity: the CAD host (1), release 2.
    Packet reset(49);
    reset.Set<std::int16_t>(layout::reset::kHostKind, 1)
        .Set<std::uint8_t>(layout::reset::kHostRelease, 2);
    if (!send(reset, 49, "reset")) return 49;
    if (!send(Packet(50), 50, "messages")) return 50;
    if (!send(Packet(29).Set(layout::version::kVersion, job.hostVersion), 0, "open the plot"))
        return 29;
    if (job.afterOpen) {
        *error = job.afterOpen();
        if (!error->empty()) return -1;
    }
    if (!send(Packet(47).Set(pg::kExtentX, job.extentX).Set(pg::kExtentY, job.extentY), 47,
              "plot extents"))
        return 47;
    if (!send(Packet(48)
                  .Set(pg::kExtentX, job.extentX)
                  .Set(pg::kExtentY, job.extentY)
                  .Set(pg::kResolutionX, job.resolution)
                  .Set(pg::kResolutionY, job.resolution),
              19, "page data"))
        return 48;
    if (job.startJob && !send(Packet(30), 0, "job start")) return 30;
    error->clear();
    return 0;
}

}  // namespace varnu::hostkit
