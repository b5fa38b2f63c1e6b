// Throughput of the output path: PE numbers and command texts into a host
// that discards what it receives.
#include <benchmark/benchmark.h>

#include "discard_host.h"
#include "interface/output_buffer.h"

namespace varnu::bench {
namespace {

// A polyline as the vector requests write it: an opener, then offsets.
void BM_PeNumbersAndText(benchmark::State& state) {
    InstallDiscardHost();
    AllocateCommandBuffer();
    std::int32_t x = 0;
    for (auto _ : state) {
        AppendText("PE7<");
        for (int i = 0; i < 16; ++i) {
            AppendPeNumber((x * 37) % 4001 - 2000, false);
            AppendPeNumber((x * 53) % 3001 - 1500, false);
            ++x;
        }
        AppendText(";");
    }
    FlushOutput();
    state.SetBytesProcessed(static_cast<std::int64_t>(DiscardedBytes()));
    state.SetItemsProcessed(state.iterations() * 32);
    ReleaseCommandBuffer();
}
BENCHMARK(BM_PeNumbersAndText);

void BM_ShortTexts(benchmark::State& state) {
    InstallDiscardHost();
    AllocateCommandBuffer();
    for (auto _ : state) {
        AppendText("SP7;");
        AppendText("PW0.35;");
        AppendText("LT;");
    }
    FlushOutput();
    state.SetBytesProcessed(static_cast<std::int64_t>(DiscardedBytes()));
    ReleaseCommandBuffer();
}
BENCHMARK(BM_ShortTexts);

}  // namespace
}  // namespace varnu::bench
