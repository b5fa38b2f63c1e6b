// The CUPS filter's rows kept compressed (RowSpool): an E-size 600 dpi
// grey row (21,600 bytes) as a CAD sheet has it, mostly white with lines
// and a grey area, kept and read back bottom up, in whole rows and in
// tiles of a strip's columns.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "sinks/row_spool.h"

namespace varnu::host {
namespace {

constexpr std::size_t kRowBytes = 21600;
constexpr std::int64_t kRows = 2400;  // 4 inches of the sheet

std::vector<std::uint8_t> SheetRow(std::int64_t y) {
    std::vector<std::uint8_t> row(kRowBytes, 255);
    for (std::size_t x = 0; x < kRowBytes; x += 300) row[x] = row[x + 1] = 0;  // grid
    if (y % 300 < 2) std::fill(row.begin(), row.end(), 0);
    for (std::size_t x = 5000; x < 7000; ++x) row[x] = static_cast<std::uint8_t>(153 + (x + y) % 3);
    return row;
}

void Keep(RowSpool* spool, std::size_t tileBytes) {
    std::vector<std::vector<std::uint8_t>> rows;
    for (std::int64_t y = 0; y < 300; ++y) rows.push_back(SheetRow(y));
    spool->Start(kRowBytes, "/tmp", RowSpool::kMemoryBudget, tileBytes);
    std::string error;
    for (std::int64_t y = 0; y < kRows; ++y) spool->Append(rows[y % 300].data(), &error);
    spool->Close(&error);
}

void BM_RowSpoolKeep(benchmark::State& state) {
    RowSpool spool;
    for (auto _ : state) Keep(&spool, static_cast<std::size_t>(state.range(0)));
    state.SetBytesProcessed(state.iterations() * kRows * static_cast<std::int64_t>(kRowBytes));
    state.counters["ratio"] = static_cast<double>(kRows * kRowBytes) / spool.compressedBytes();
}
BENCHMARK(BM_RowSpoolKeep)->Arg(0)->Arg(3106);

void BM_RowSpoolReadBack(benchmark::State& state) {
    RowSpool spool;
    Keep(&spool, 0);
    std::string error;
    for (auto _ : state) {
        const std::uint8_t* rows = nullptr;
        std::int64_t first = 0, count = 0;
        for (std::int64_t r = kRows - 1; r >= 0; r = first - 1) {
            spool.Block(r, &rows, &first, &count, &error);
            benchmark::DoNotOptimize(rows);
        }
    }
    state.SetBytesProcessed(state.iterations() * kRows * static_cast<std::int64_t>(kRowBytes));
}
BENCHMARK(BM_RowSpoolReadBack);

void BM_RowSpoolReadTiles(benchmark::State& state) {
    RowSpool spool;
    Keep(&spool, 3106);
    std::string error;
    const std::size_t tiles = (kRowBytes + 3105) / 3106;
    for (auto _ : state) {
        for (std::size_t t = 0; t < tiles; ++t) {
            const std::uint8_t* rows = nullptr;
            std::int64_t first = 0, count = 0;
            for (std::int64_t r = 0; r < kRows; r += count) {
                spool.Tile(r, t, &rows, &first, &count, &error);
                benchmark::DoNotOptimize(rows);
            }
        }
    }
    state.SetBytesProcessed(state.iterations() * kRows * static_cast<std::int64_t>(kRowBytes));
}
BENCHMARK(BM_RowSpoolReadTiles);

}  // namespace
}  // namespace varnu::host
