// Draw requests per second through PlotRequest into a host that discards.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "discard_host.h"
#include "job/driver_entry.h"

namespace varnu::bench {
namespace {

// A polyline of short segments in a zig-zag, as a hatch or a curve arrives.
void DrawRequests(benchmark::State& state, bool vcgl) {
    InstallDiscardHost();
    OpenJob(vcgl);
    std::uint8_t packet[16] = {};
    std::uint16_t x = 1000, y = 1000;
    std::uint64_t n = 0;
    for (auto _ : state) {
        packet[0] = 4;  // draw; word 0 stays 4 on success
        packet[1] = 0;
        x = static_cast<std::uint16_t>(x + 7 + (n & 15));
        if (x > 30000) x = 1000;
        y = static_cast<std::uint16_t>(1000 + (n & 1) * 40);
        std::memcpy(packet + 4, &x, 2);
        std::memcpy(packet + 6, &y, 2);
        PlotRequest(packet);
        ++n;
    }
    CloseJob();
    state.SetItemsProcessed(static_cast<std::int64_t>(n));
}

void BM_DrawRequestsRtl(benchmark::State& state) {
    DrawRequests(state, false);
}
void BM_DrawRequestsVcgl(benchmark::State& state) {
    DrawRequests(state, true);
}
BENCHMARK(BM_DrawRequestsRtl);
BENCHMARK(BM_DrawRequestsVcgl);

}  // namespace
}  // namespace varnu::bench
