// The raster path on an E-size page (36 x 48 inches at 600 dpi, 21,600 x
// 28,800 device pixels) of colour lines from the host, through plot request
// 52 to the last framed byte: a photograph, a dense line drawing and a
// drawing of thin lines, hatching and text at about 5 % ink. Baseline:
// libtiff's Group 4 encoder coding the same 1-bit page (the driver's own
// page, decoded from its stream by libtiff). Prints one line per page with
// both times and their ratio, and the driver's peak memory.
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
#include "job/driver_entry.h"
#include "raster/mmr.h"
#include "sinks/mmr_rows.h"
#include "varnu/adi_abi.h"
#include "varnu/byte_order.h"

namespace varnu::bench {
namespace {

std::uint32_t LoadBe32(const void* p) {
    return __builtin_bswap32(LoadLe<std::uint32_t>(p, 0));
}

// Lines run along the sheet's long edge: 28,800 lines of 21,600 pixels.
constexpr std::int32_t kLinePixels = 21600;  // 36 inches at 600 dpi
constexpr std::int32_t kLines = 28800;       // 48 inches

enum class Page { Photo, LineArt, Drawing };
constexpr Page kPages[] = {Page::Photo, Page::LineArt, Page::Drawing};
const char* Name(Page page) {
    return page == Page::Photo ? "photo" : page == Page::LineArt ? "lineart" : "drawing";
}

// The host's lines, precomputed and cycled, so that serving one costs the
// driver nothing but the call.
struct LineServer {
    std::uint8_t* reply = nullptr;
    std::vector<std::uint8_t*> lines;
};
LineServer Servers[3];
LineServer* Serving = nullptr;

std::uint8_t* NewLine() {
    return static_cast<std::uint8_t*>(AllocateLowForBench(3 * std::size_t{kLinePixels}));
}

// Line k of a drawing at about 5 % ink (the host's lines are columns of the
// sheet; they repeat every 480): lines 2 pixels wide across the sheet every
// 0.4 inch and along it every inch, diagonals every 0.8 inch, 45-degree hatching every 16 pixels
// in two areas, and rows of text-like strokes.
std::uint8_t* DrawingLine(int k) {
    std::uint8_t* line = NewLine();
    std::memset(line, 255, 3 * std::size_t{kLinePixels});
    const bool across = k % 240 < 2;
    for (std::int32_t p = 0; p < kLinePixels; ++p) {
        const bool along = p % 600 < 2;
        const bool diagonal = (p - 3 * k % 480 + 480) % 480 < 2;
        const bool hatched =
            ((p > 3000 && p < 6000) || (p > 12000 && p < 14500)) && (p + k) % 16 < 2;
        const int cell = p % 600;
        const bool text = p > 16000 && p < 20000 && cell > 100 && cell < 160 &&
                          ((p / 4 + k / 4) % 6 == 0 || (k % 40 < 3 && cell < 130));
        if (across || along || diagonal || hatched || text) std::memset(line + 3 * p, 0, 3);
    }
    return line;
}

void BuildLines(Page page) {
    LineServer& server = Servers[static_cast<int>(page)];
    if (!server.lines.empty()) return;
    server.reply = static_cast<std::uint8_t*>(AllocateLowForBench(16));
    std::memset(server.reply, 0, 16);
    if (page == Page::Photo) {
        // A photograph-like gradient with texture: about 2.4 coded bits a pixel.
        for (int k = 0; k < 64; ++k) {
            std::uint8_t* line = NewLine();
            for (std::int32_t x = 0; x < kLinePixels; ++x) {
                line[3 * x] = static_cast<std::uint8_t>((x / 85 + k * 3) & 255);
                line[3 * x + 1] = static_cast<std::uint8_t>((x / 120 + k * 5 + (x % 7)) & 255);
                line[3 * x + 2] = static_cast<std::uint8_t>(255 - ((x / 90) & 255));
            }
            server.lines.push_back(line);
        }
        return;
    }
    if (page == Page::Drawing) {
        for (int k = 0; k < 480; ++k) server.lines.push_back(DrawingLine(k));
        return;
    }
    // A drawing: a grid of 2-pixel lines every 0.4 inch, and strokes of
    // text in some of its cells; white elsewhere.
    for (int k = 0; k < 240; ++k) {
        std::uint8_t* line = NewLine();
        std::memset(line, 255, 3 * std::size_t{kLinePixels});
        for (std::int32_t x = 0; x < kLinePixels; ++x) {
            const bool grid = k < 2 || x % 240 < 2;
            const bool text = x % 960 > 600 && x % 960 < 640 && (x / 3 + k / 2) % 11 == 0;
            if (grid || text) std::memset(line + 3 * x, 0, 3);
        }
        server.lines.push_back(line);
    }
}

void* FetchLine(void* rowRequest) {
    const std::int32_t column = LoadLe<std::int32_t>(rowRequest, 0);
    const std::uint8_t* line =
        Serving->lines[static_cast<std::size_t>(column) % Serving->lines.size()];
    HostAddress address = 0;
    ToHostAddress(line, &address);
    StoreLe<HostAddress>(Serving->reply, 0, address);
    StoreLe<std::int32_t>(Serving->reply, 4, 3 * kLinePixels);
    return Serving->reply;
}
std::int32_t ReleaseLine(void*) {
    return 0;
}

// One job: the page as one colour image, RTL/GL2 at 600 dpi.
void PlotPage(Page page) {
    BuildLines(page);
    Serving = &Servers[static_cast<int>(page)];
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
    StoreLe<std::int32_t>(packet, 36, kLines);
    StoreLe<std::int32_t>(packet, 40, kLinePixels);
    PlotRequest(packet);
    CloseJob();  // draws the image, then ends the job
}

// Resident memory now, and the peak so far, in MB.
double ResidentMb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * 4096 / 1e6;
}
double PeakResidentMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1e3;
}
double DriverPeakMb = 0;

void BM_Driver(benchmark::State& state, Page page) {
    InstallDiscardHost();
    BuildLines(page);
    const double before = ResidentMb();
    const std::uint64_t sentBefore = DiscardedBytes();
    for (auto _ : state) PlotPage(page);
    state.counters["sent_MB"] = static_cast<double>(DiscardedBytes() - sentBefore) / 1e6 /
                                static_cast<double>(state.iterations());
    // The first page runs first, so the peak is the driver's on one page.
    if (page == Page::Photo) {
        DriverPeakMb = PeakResidentMb() - before;
        state.counters["peak_MB"] = DriverPeakMb;
    }
}

// The 1-bit page the driver sent, read back from its stream by libtiff:
// rows packed, first pixel in the top bit.
struct BitPage {
    std::vector<std::uint8_t> rows;
    std::int32_t width = 0, height = 0;
    std::uint64_t streamHash = 0;  // FNV-1a of the whole stream, to compare builds
    std::size_t streamBytes = 0;
};

std::int32_t NumberBefore(const std::string& s, std::size_t* at, char end) {
    std::int32_t n = 0;
    while (*at < s.size() && s[*at] != end) n = n * 10 + (s[(*at)++] - '0');
    ++*at;
    return n;
}

const BitPage& DriverPage(Page page) {
    static std::map<Page, BitPage> pages;
    BitPage& bits = pages[page];
    if (!bits.rows.empty()) return bits;
    std::string stream;
    InstallDiscardHost();
    CaptureOutput(&stream);
    PlotPage(page);
    CaptureOutput(nullptr);
    bits.streamHash = 0xcbf29ce484222325u;
    for (const char c : stream)
        bits.streamHash = (bits.streamHash ^ static_cast<std::uint8_t>(c)) * 0x100000001b3u;
    bits.streamBytes = stream.size();
    // The raster: "ESC*r<rows>T", then each band as "ESC*b<n>W", the width
    // as 4 bytes and the Group 4 data of as many rows as its end of block
    // says (the raster's rows left at most).
    std::size_t at = 0;
    std::int32_t rows = 0, left = 0;
    while ((at = stream.find("\x1b*", at)) != std::string::npos) {
        at += 2;
        const std::string head = stream.substr(at, 1);
        const std::size_t start = at + 1;
        std::size_t p = start;
        while (p < stream.size() && stream[p] >= '0' && stream[p] <= '9') ++p;
        if (p == start || p >= stream.size()) continue;
        if (head == "r" && stream[p] == 'T') {
            at = start;
            left = NumberBefore(stream, &at, 'T');
        } else if (head == "b" && stream[p] == 'W') {
            at = start;
            const std::int32_t count = NumberBefore(stream, &at, 'W');
            bits.width = static_cast<std::int32_t>(LoadBe32(stream.data() + at));
            rows = static_cast<std::int32_t>(
                host::CountMmrRows(reinterpret_cast<const std::uint8_t*>(stream.data()) + at + 4,
                                   static_cast<std::size_t>(count - 4), bits.width, left));
            left -= rows;
            const auto band =
                testing::DecodeGroup4(stream.substr(at + 4, count - 4), bits.width, rows);
            bits.rows.insert(bits.rows.end(), band.begin(), band.end());
            bits.height += rows;
            at += static_cast<std::size_t>(count);
        }
    }
    return bits;
}

void BM_LibtiffG4(benchmark::State& state, Page page) {
    const BitPage& bits = DriverPage(page);
    const char* path = "/dev/shm/varnu-bench.tif";
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(path, "w");
        testing::SetGroup4Tags(tif, bits.width, bits.height);
        TIFFWriteEncodedStrip(tif, 0, const_cast<std::uint8_t*>(bits.rows.data()),
                              static_cast<tmsize_t>(bits.rows.size()));
        TIFFClose(tif);
    }
    std::remove(path);
}

// Our coder alone on the same page, for the breakdown.
void BM_OurMmr(benchmark::State& state, Page page) {
    const BitPage& bits = DriverPage(page);
    const std::int32_t stride = bits.width / 8;
    std::vector<std::uint32_t> words(bits.rows.size() / 4);
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = LoadBe32(&bits.rows[4 * i]);
    std::vector<std::int32_t> lists(2 * RunListEntries(bits.width));
    static std::vector<std::uint8_t> area;
    area.assign(std::size_t{256} << 20, 0);
    for (auto _ : state) {
        BitWriterState writer;
        ResetBitWriter(writer, area.data(), area.size());
        std::int32_t* reference = lists.data() + RunListEntries(bits.width);
        reference[0] = 1;
        reference[1] = reference[2] = bits.width;
        EncodeMmrRows(writer, reinterpret_cast<const std::uint8_t*>(words.data()), bits.height,
                      stride, bits.width, lists.data(), reference, nullptr);
        WriteEndOfBlock(writer);
        benchmark::DoNotOptimize(area.data());
    }
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
                Seconds[run.run_name.function_name] = run.GetAdjustedRealTime() / 1e3;  // ms -> s
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> Seconds;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace varnu::bench;
    for (const Page page : kPages)
        benchmark::RegisterBenchmark((std::string("Driver/") + Name(page)).c_str(), BM_Driver, page)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
    for (const Page page : kPages) {
        benchmark::RegisterBenchmark((std::string("LibtiffG4/") + Name(page)).c_str(), BM_LibtiffG4,
                                     page)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark((std::string("OurMmr/") + Name(page)).c_str(), BM_OurMmr, page)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const Page page : kPages) {
        const auto driver = reporter.Seconds.find(std::string("Driver/") + Name(page));
        const auto tiff = reporter.Seconds.find(std::string("LibtiffG4/") + Name(page));
        if (driver == reporter.Seconds.end() || tiff == reporter.Seconds.end()) continue;
        std::printf(
            "%-8s driver %.3f s, libtiff G4 encode of the same page %.3f s: driver time "
            "%.2f x libtiff's (libtiff %.2f x the driver's)\n",
            Name(page), driver->second, tiff->second, driver->second / tiff->second,
            tiff->second / driver->second);
        const BitPage& bits = DriverPage(page);
        std::size_t ink = 0;
        for (const std::uint8_t byte : bits.rows)
            ink += static_cast<std::size_t>(__builtin_popcount(byte));
        std::printf(
            "%-8s stream %zu bytes (%.2f bits a pixel), ink %.1f %%, FNV-1a %016llx\n", Name(page),
            bits.streamBytes,
            8.0 * static_cast<double>(bits.streamBytes) / (double{kLinePixels} * kLines),
            100.0 * static_cast<double>(ink) / (8.0 * static_cast<double>(bits.rows.size())),
            static_cast<unsigned long long>(bits.streamHash));
    }
    if (DriverPeakMb > 0) {
        const double pageMb = (21600.0 + 32) / 8 * 28800 / 1e6;
        std::printf(
            "driver peak memory %.1f MB; page bitmap %.1f MB; budget 1.3 x page + 10.5 MB "
            "= %.1f MB\n",
            DriverPeakMb, pageMb, 1.3 * pageMb + 10.49);
    }
    return 0;
}
