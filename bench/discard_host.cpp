#include "discard_host.h"

#include <cstdio>
#include <cstdlib>

#include "host/adi_abi.h"
#include "host/byte_order.h"
#include "host/driver_entry.h"
#include "host/host_services.h"

namespace varnu::bench {
namespace {

std::uint64_t Discarded = 0;
std::uint8_t Table[256];

std::int32_t Print(const char*) {
    return 0;
}
std::int32_t Write(std::int32_t, std::int32_t, const void*, std::int32_t count, std::int32_t) {
    Discarded += static_cast<std::uint64_t>(count);
    return 1;
}
std::int32_t Config(std::int32_t, const void*) {
    return 0;
}
std::int32_t Load(std::int32_t, void*) {
    return 1;
}
std::int32_t Notify(std::int32_t, std::int32_t) {
    return 0;
}

template <typename Fn>
void Put(std::uint32_t offset, Fn* fn) {
    HostAddress address = 0;
    if (!FunctionToHostAddress(fn, &address)) {
        std::fputs("benchmark host above 4 GiB: link non-PIE\n", stderr);
        std::abort();
    }
    StoreLe(Table, offset, address);
}

}  // namespace

void InstallDiscardHost() {
    RestoreModuleLoadStateForTesting();
    Put(kPrintMessageSlot, &Print);
    Put(kSendDeviceStringSlot, &Print);
    Put(kWriteOutputSlot, &Write);
    Put(kLoadConfigSlot, &Load);
    Put(kStoreConfigSlot, &Config);
    Put(kNotifyHostSlot, &Notify);
    PLADI(Table, 0);
}

std::uint64_t DiscardedBytes() {
    return Discarded;
}

}  // namespace varnu::bench
