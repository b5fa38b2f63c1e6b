// Raster throughput: our MMR coder against libtiff's Group 4 encoder on full
// 36 x 48 inch pages at 600 dpi, and the whole raster path of a colour image
// from host lines to the last framed byte. Prints the ratios and the peak
// memory after the benchmarks.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "discard_host.h"
#include "g4_decoder.h"
#include "host/adi_abi.h"
#include "host/byte_order.h"
#include "host/driver_entry.h"
#include "raster/mmr.h"
#include "raster/threshold_matrix.h"

namespace varnu::bench {
namespace {

constexpr std::int32_t kWidth = 21600;  // 36 inches at 600 dpi
constexpr std::int32_t kRows = 28800;   // 48 inches
constexpr std::int32_t kStride = kWidth / 8;

double RasterPathPeakMb = 0;

// The process's peak resident size so far. The raster path runs first, so
// its figure is that of the driver drawing one page (plus the host's lines).
double PeakResidentMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1e3;
}

enum class Page { White, LineArt, Halftone };

// A page in our row layout (native words, first pixel in bit 31).
std::vector<std::uint32_t> MakePage(Page kind) {
    std::vector<std::uint32_t> words(static_cast<std::size_t>(kWidth / 32) * kRows, 0);
    auto set = [&](std::int32_t x, std::int32_t y) {
        words[static_cast<std::size_t>(y) * (kWidth / 32) + x / 32] |= 0x80000000u >> (x % 32);
    };
    if (kind == Page::LineArt) {
        // A drawing: a grid of thin lines, circles and text-sized strokes.
        for (std::int32_t y = 0; y < kRows; ++y) {
            for (std::int32_t x = 0; x < kWidth; ++x) {
                const bool grid = x % 600 < 3 || y % 600 < 3;
                const std::int32_t cx = x % 1200 - 600, cy = y % 1200 - 600;
                const std::int32_t r2 = cx * cx + cy * cy;
                const bool circle = r2 > 400 * 400 && r2 < 404 * 404;
                const bool strokes =
                    (y % 97 < 40) && (x % 1800 < 900) && ((x / 7 + y / 5) % 9 == 0);
                if (grid || circle || strokes) set(x, y);
            }
        }
    } else if (kind == Page::Halftone) {
        // An ordered-dither halftone of a gradient from white to black.
        for (std::int32_t y = 0; y < kRows; ++y)
            for (std::int32_t x = 0; x < kWidth; ++x)
                if (x * 256 / kWidth >= ThresholdMatrix[y % 16][x % 16]) set(x, y);
    }
    return words;
}

void BM_OurMmr(benchmark::State& state, Page kind, const char* name) {
    const auto page = MakePage(kind);
    std::vector<std::int32_t> lists(2 * RunListEntries(kWidth));
    // One band's output area, grown by the coder as needed.
    static std::vector<std::uint8_t> area;
    area.assign(std::size_t{64} << 20, 0);
    std::size_t coded = 0;
    for (auto _ : state) {
        ResetBitWriter(area.data(), area.size());
        std::int32_t* current = lists.data();
        std::int32_t* reference = lists.data() + RunListEntries(kWidth);
        reference[0] = 1;
        reference[1] = reference[2] = kWidth;
        EncodeMmrRows(reinterpret_cast<const std::uint8_t*>(page.data()), kRows, kStride, kWidth,
                      current, reference, nullptr);
        WriteEndOfBlock();
        SwapWordBytes(area.data(), area.data(), BitWriter.byteCount);
        coded = BitWriter.byteCount;
        benchmark::DoNotOptimize(area.data());
    }
    state.counters["coded_MB"] = static_cast<double>(coded) / 1e6;
    state.SetBytesProcessed(state.iterations() * std::int64_t{kStride} * kRows);
    (void)name;
}

void BM_LibtiffG4(benchmark::State& state, Page kind, const char* name) {
    const auto words = MakePage(kind);
    // libtiff wants packed bytes, first pixel in the top bit of each byte.
    std::vector<std::uint8_t> packed(words.size() * 4);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::uint32_t w = __builtin_bswap32(words[i]);
        std::memcpy(&packed[4 * i], &w, 4);
    }
    const char* path = "/dev/shm/varnu-bench.tif";
    std::size_t coded = 0;
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(path, "w");
        varnu::testing::SetGroup4Tags(tif, kWidth, kRows);
        coded = static_cast<std::size_t>(
            TIFFWriteEncodedStrip(tif, 0, packed.data(), static_cast<tmsize_t>(packed.size())));
        TIFFClose(tif);
    }
    std::remove(path);
    state.counters["input_MB"] = static_cast<double>(coded) / 1e6;
    state.SetBytesProcessed(state.iterations() * std::int64_t{kStride} * kRows);
    (void)name;
}

// The whole raster path: a 36 x 48 inch colour image at 600 dpi through
// plot request 52, served line by line by the host.
struct LineServer {
    std::uint8_t* reply;
    std::vector<std::uint8_t*> lines;  // a few precomputed lines, cycled
    std::int32_t pixels;
};
LineServer Server;

void* FetchLine(void* rowRequest) {
    const std::int32_t column = LoadLe<std::int32_t>(rowRequest, 0);
    const std::uint8_t* line = Server.lines[static_cast<std::size_t>(column) % Server.lines.size()];
    HostAddress address = 0;
    ToHostAddress(line, &address);
    StoreLe<HostAddress>(Server.reply, 0, address);
    StoreLe<std::int32_t>(Server.reply, 4, 3 * Server.pixels);
    return Server.reply;
}
std::int32_t ReleaseLine(void*) {
    return 0;
}

void* LowAllocate(std::size_t size) {
    // Lines handed over by address must lie below 4 GiB.
    static std::uint8_t* arena = nullptr;
    static std::size_t used = 0;
    if (arena == nullptr)
        arena = static_cast<std::uint8_t*>(AllocateLowForBench(std::size_t{256} << 20));
    void* p = arena + used;
    used += (size + 15) & ~std::size_t{15};
    return p;
}

void BM_RasterPathColourPage(benchmark::State& state) {
    InstallDiscardHost();
    Server.pixels = kWidth;
    Server.reply = static_cast<std::uint8_t*>(LowAllocate(16));
    std::memset(Server.reply, 0, 16);
    if (Server.lines.empty()) {
        for (int k = 0; k < 64; ++k) {
            auto* line = static_cast<std::uint8_t*>(LowAllocate(3 * kWidth));
            // A photograph-like gradient with texture.
            for (std::int32_t x = 0; x < kWidth; ++x) {
                line[3 * x] = static_cast<std::uint8_t>((x / 85 + k * 3) & 255);
                line[3 * x + 1] = static_cast<std::uint8_t>((x / 120 + k * 5 + (x % 7)) & 255);
                line[3 * x + 2] = static_cast<std::uint8_t>(255 - ((x / 90) & 255));
            }
            Server.lines.push_back(line);
        }
    }
    for (auto _ : state) {
        OpenJob(false, 48.0, 36.0);
        std::uint8_t packet[2100] = {};
        StoreLe<std::int16_t>(packet, 0, 52);
        HostAddress fetch = 0, release = 0;
        FunctionToHostAddress(&FetchLine, &fetch);
        FunctionToHostAddress(&ReleaseLine, &release);
        StoreLe(packet, 4, fetch);
        StoreLe(packet, 8, release);
        StoreLe<std::int32_t>(packet, 24, 48 * 1016);
        StoreLe<std::int32_t>(packet, 28, 36 * 1016);
        StoreLe<std::int32_t>(packet, 32, 2);
        StoreLe<std::int32_t>(packet, 36, 28800);
        StoreLe<std::int32_t>(packet, 40, 21600);
        PlotRequest(packet);
        CloseJob();  // draws the image, then ends the job
    }
    state.counters["sent_MB"] =
        static_cast<double>(DiscardedBytes()) / 1e6 / static_cast<double>(state.iterations());
    RasterPathPeakMb = PeakResidentMb();
    state.counters["peak_MB"] = RasterPathPeakMb;
}

}  // namespace
}  // namespace varnu::bench

namespace {

// Keeps each run's real time per iteration, for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration)
                Seconds[run.benchmark_name()] = run.GetAdjustedRealTime() / 1e3;  // ms -> s
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> Seconds;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace varnu::bench;
    benchmark::RegisterBenchmark("RasterPath/colour_36x48in_600dpi", BM_RasterPathColourPage)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(2);
    for (auto [page, name] : {std::pair{Page::White, "white"},
                              {Page::LineArt, "lineart"},
                              {Page::Halftone, "halftone"}}) {
        benchmark::RegisterBenchmark((std::string("MMR/ours/") + name).c_str(), BM_OurMmr, page,
                                     name)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark((std::string("MMR/libtiff/") + name).c_str(), BM_LibtiffG4,
                                     page, name)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* page : {"white", "lineart", "halftone"}) {
        const auto ours = reporter.Seconds.find(std::string("MMR/ours/") + page + "/iterations:3");
        const auto tiff =
            reporter.Seconds.find(std::string("MMR/libtiff/") + page + "/iterations:3");
        if (ours != reporter.Seconds.end() && tiff != reporter.Seconds.end() && ours->second > 0)
            std::printf("MMR %-9s ours %.3f s, libtiff %.3f s: %.2fx libtiff's throughput\n", page,
                        ours->second, tiff->second, tiff->second / ours->second);
    }
    if (RasterPathPeakMb > 0) {
        const double pageMb = (21600.0 + 32) / 8 * 28800 / 1e6;
        std::printf(
            "raster path peak memory %.1f MB; page bitmap %.1f MB; budget 1.3 x page + 10.5 MB = "
            "%.1f MB\n",
            RasterPathPeakMb, pageMb, 1.3 * pageMb + 10.49);
    }
    return 0;
}
