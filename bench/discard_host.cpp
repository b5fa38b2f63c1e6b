#include "discard_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/config_record.h"
#include "host_table.h"
#include "job/driver_entry.h"
#include "low_arena.h"
#include "varnu/host_interface.h"

namespace varnu::bench {
namespace {

std::uint64_t Discarded = 0;
std::string* Captured = nullptr;
std::uint8_t Table[hostkit::kServiceTableSize];
std::uint8_t Stored[40];

std::int32_t Print(const char*) {
    return 0;
}
std::int32_t Write(std::int32_t, std::int32_t, const void* bytes, std::int32_t count,
                   std::int32_t) {
    Discarded += static_cast<std::uint64_t>(count);
    if (Captured != nullptr) Captured->append(static_cast<const char*>(bytes), count);
    return 1;
}
std::int32_t Store(std::int32_t, const void* record) {
    std::memcpy(Stored, record, sizeof Stored);
    return 0;
}
std::int32_t Load(std::int32_t, void* record) {
    std::memcpy(record, Stored, sizeof Stored);
    return 0;
}
std::int32_t Notify(std::int32_t, std::int32_t) {
    return 0;
}

using Request = hostkit::Packet;

}  // namespace

void InstallDiscardHost() {
    RestoreModuleLoadStateForTesting();
    if (!hostkit::FillServiceTable(Table, {&Print, &Print, &Write, &Load, &Store, &Notify})) {
        std::fputs("benchmark host above 4 GiB: link non-PIE\n", stderr);
        std::abort();
    }
    PLADI(Table, 0);
}

std::uint64_t DiscardedBytes() {
    return Discarded;
}

void CaptureOutput(std::string* into) {
    Captured = into;
}

void OpenJob(bool vcgl, double extentX, double extentY) {
    applyConfigDefaults(0);
    Configuration.Config.modelIndex = 0;
    if (vcgl) Configuration.Config.modeFlags = kModeVcgl | kResolution400;
    EncodeConfigRecord(Configuration.Config, Stored);
    hostkit::JobOpening opening;
    opening.extentX = extentX;
    opening.extentY = extentY;
    opening.resolution = vcgl ? 800.0 : 1016.0;
    opening.hostVersion = 3;
    std::string error;
    if (hostkit::OpenPlotJob(&PlotRequest, opening, &error) != 0) {
        std::fprintf(stderr, "benchmark job did not start: %s\n", error.c_str());
        std::abort();
    }
}

void* AllocateLowForBench(std::size_t size) {
    static hostkit::LowArena arena(std::size_t{512} << 20);
    return arena.Allocate(size);
}

void CloseJob() {
    Request end(2);
    PlotRequest(end.bytes);
}

}  // namespace varnu::bench
