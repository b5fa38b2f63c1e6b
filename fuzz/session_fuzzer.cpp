// Fuzzes many jobs through one loaded module, as a CAD host plots them:
// each job in its own data mode, resolution and paper (the record the host
// hands over with request 29), with a drawing of pens, widths, line types,
// moves, draws, polygons and small images, and now and then a request 49,
// a request 9 or a failing output between and inside the jobs. Every job
// that completes must have written a stream that the preview reads to
// its end in the job's data mode; one it refuses is a crash, named on
// standard error.
//
// Input: jobs of a 5-byte head and steps.
//   u8 mode: bit 0 VCGL+MMR, bits 1..2 resolution (600, 400, 300, 200),
//      bit 3 the record names no resolution, bit 4 red printing,
//      bits 5..7 around the job: 4 an extra request 49 before it, 5 request
//      9 halfway, 6 the output fails after `fail` writes, 7 no request 49
//      before it; otherwise nothing
//   u8 paper row (from 1; 0 and rows past the table read as the first)
//   u8 options: bits 0..3 custom length in 500 mm steps, bit 4 halftone
//      fill, bit 5 PE base 64, bits 6..7 margin in 3 mm steps
//   u8 fail: writes before the output fails (mode 6)
//   u8 steps, then that many steps of 5 bytes: u8 kind, 4 argument bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host_table.h"
#include "job/driver_entry.h"
#include "low_arena.h"
#include "preview/preview.h"
#include "varnu/adi_abi.h"
#include "varnu/byte_order.h"
#include "varnu/config_record.h"
#include "varnu/headless_dialogs.h"
#include "varnu/packet_layouts.h"

// fontconfig (through cairo) keeps its caches for the life of the process
// by design; they are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace {

using namespace varnu;
using hostkit::Packet;

hostkit::LowArena& Arena() {
    static hostkit::LowArena arena(std::size_t{64} << 20);
    return arena;
}

// The host.
std::string Output;
std::int64_t WritesLeft = -1;  // <0 never fails
std::uint8_t Stored[kConfigRecordSize];

std::int32_t Print(const char*) {
    return 0;
}
std::int32_t Write(std::int32_t, std::int32_t, const void* bytes, std::int32_t count,
                   std::int32_t) {
    if (count < 0 || (count > 0 && bytes == nullptr)) __builtin_trap();
    if (WritesLeft == 0) return 0;
    if (WritesLeft > 0) --WritesLeft;
    Output.append(static_cast<const char*>(bytes), static_cast<std::size_t>(count));
    return 1;
}
std::int32_t Load(std::int32_t size, void* record) {
    if (size != kConfigRecordSize) __builtin_trap();
    std::memcpy(record, Stored, kConfigRecordSize);
    return 0;
}
std::int32_t Store(std::int32_t size, const void* record) {
    if (size != kConfigRecordSize) __builtin_trap();
    std::memcpy(Stored, record, kConfigRecordSize);
    return 0;
}
std::int32_t Notify(std::int32_t, std::int32_t) {
    return 3;
}

// The image of the last request 52: every line the same few pixels.
struct ImageSource {
    std::uint8_t* line = nullptr;  // low memory, 3 bytes a pixel
    std::int32_t bytes = 0;
    std::uint8_t* reply = nullptr;
} Source;

void* Fetch(void*) {
    std::memset(Source.reply, 0, 16);
    HostAddress address = 0;
    ToHostAddress(Source.line, &address);
    StoreLe<HostAddress>(Source.reply, layout::row_reply::kPixels, address);
    StoreLe<std::int32_t>(Source.reply, layout::row_reply::kCount, Source.bytes);
    return Source.reply;
}
std::int32_t Release(void*) {
    return 0;
}

// The job's bytes, read as they come.
struct Reader {
    const std::uint8_t* at;
    const std::uint8_t* end;
    std::uint8_t Byte() { return at < end ? *at++ : 0; }
    std::uint16_t Word() {
        const std::uint16_t low = Byte();
        return static_cast<std::uint16_t>(low | Byte() << 8);
    }
    bool Done() const { return at >= end; }
};

void Plot(Packet& p) {
    PlotRequest(p.data());
}
void Plot(Packet&& p) {
    PlotRequest(p.data());
}

void Image(Reader& in) {
    const std::uint8_t shape = in.Byte(), size = in.Byte();
    const std::int32_t x0 = in.Byte() * 64, y0 = in.Byte() * 64;
    const bool bilevel = shape & 1;
    const std::int32_t width = 1 + (shape >> 1) % 32, height = 1 + (shape >> 6) * 8;
    // At most 1.5 x 1.5 inches of host steps: a few thousand device lines.
    const std::int32_t dx = 1 + (size & 15) * 100, dy = 1 + (size >> 4) * 100;
    auto* line = static_cast<std::uint8_t*>(Arena().TryAllocate(3 * 32));
    if (line == nullptr) return;
    for (int i = 0; i < 3 * 32; ++i) line[i] = static_cast<std::uint8_t>(shape * 37 + i * 11);
    if (bilevel)
        for (int i = 0; i < 32; ++i) line[i] &= 1;
    Source.line = line;
    Source.bytes = bilevel ? width : 3 * width;
    namespace img = layout::image;
    Packet p(52);
    HostAddress fetch = 0, release = 0;
    FunctionToHostAddress(&Fetch, &fetch);
    FunctionToHostAddress(&Release, &release);
    p.Set(img::kFetch, fetch).Set(img::kRelease, release);
    p.Set(img::kCorners, x0).Set(img::kCorners + 4, y0);
    p.Set(img::kCorners + 8, x0 + dx).Set(img::kCorners + 12, y0 + dy);
    p.Set<std::int32_t>(img::kKind, bilevel ? 0 : 2);
    p.Set(img::kSourceWidth, width).Set(img::kSourceHeight, height);
    p.Set<std::int16_t>(img::kTransparent, (size >> 3) & 1);
    p.Set<std::int16_t>(img::kBits, bilevel ? 1 : 24);
    p.Set<std::int16_t>(img::kColour, static_cast<std::int16_t>(shape % 8));
    Plot(p);
}

void PolygonStep(Reader& in, bool byAddress) {
    const std::uint8_t shape = in.Byte();
    // Within the 16-bit range and at most 2.5 inches across: the preview
    // takes seconds for a VCGL polygon of a few square feet at 10 dpi.
    const int cx = 1300 + in.Word() % 60000, cy = 1300 + cx * 7 % 30000;
    const std::uint8_t r = in.Byte();
    const int n = 3 + shape % (byAddress ? 40 : 14);
    std::uint16_t v[2 * 43];
    for (int i = 0; i < n; ++i) {
        const int k = (i * 7 + shape) % 12, radius = 20 * (1 + r % 32) * (1 + i % 2);
        const int dx[] = {0, 3, 5, 6, 5, 3, 0, -3, -5, -6, -5, -3};
        v[2 * i] = static_cast<std::uint16_t>(cx + dx[k] * radius / 6);
        v[2 * i + 1] = static_cast<std::uint16_t>(cy + dx[(k + 3) % 12] * radius / 6);
    }
    const auto fill = static_cast<std::int16_t>(shape >> 4);
    if (!byAddress) {
        Packet p(33);
        p.Set(layout::polygon::kFill, fill).Set(layout::polygon::kCount, std::int16_t(n));
        for (int i = 0; i < 2 * n; ++i) p.Set(layout::polygon::kVertices + 2 * i, v[i]);
        return Plot(p);
    }
    auto* low = static_cast<std::uint16_t*>(Arena().TryAllocate(sizeof v));
    if (low == nullptr) return;
    std::memcpy(low, v, sizeof v);
    HostAddress address = 0;
    ToHostAddress(low, &address);
    namespace pa = layout::polygon_by_address;
    Plot(Packet(54)
             .Set(pa::kFill, fill)
             .Set(pa::kCount, std::int16_t(n))
             .Set(pa::kVertices, address));
}

// One drawing step.
void Step(Reader& in) {
    const std::uint8_t kind = in.Byte();
    Reader args{in.at, in.at + 4 <= in.end ? in.at + 4 : in.end};
    in.at = args.end;
    switch (kind % 12) {
        case 0:
            return Plot(Packet(5).Set(layout::pen::kPen, args.Word()));
        case 1:
            return Plot(Packet(7).Set(layout::pen::kLineType, std::uint16_t(args.Byte() % 11)));
        case 2: {
            const std::uint16_t w = args.Word();
            const double inches = w >= 0xFFF0 ? -1.0 : w / 20000.0;
            return Plot(Packet(41).Set(layout::pen::kWidth, inches));
        }
        case 3:
        case 4: {
            const std::uint16_t x = args.Word(), y = args.Word();
            return Plot(
                Packet(kind % 12 == 3 ? 3 : 4).Set(layout::point::kX, x).Set(layout::point::kY, y));
        }
        case 5:
            return Plot(Packet(8));
        case 6:
            return PolygonStep(args, false);
        case 7:
            return PolygonStep(args, true);
        case 8:
            return Image(args);
        case 9:
            return Plot(
                Packet(36).Set(layout::pen::kLineTypeCount, std::int16_t(args.Byte() % 12)));
        case 10: {
            Packet p(43);
            return Plot(p.Set(layout::pen::kLineTypeCount8, std::uint8_t(args.Byte() % 12)));
        }
        default:
            return Plot(Packet(0));  // draws a waiting image, nothing else
    }
}

constexpr std::uint16_t kResolutions[] = {kResolution600, kResolution400, kResolution300,
                                          kResolution200};

// A fresh module as the host loads it, with the service table in low memory.
void LoadModule() {
    RestoreModuleLoadStateForTesting();
    ResetHeadlessDialogs();
    Arena().Reset();
    static std::uint8_t* table = nullptr;
    table = static_cast<std::uint8_t*>(Arena().Allocate(hostkit::kServiceTableSize));
    Source.reply = static_cast<std::uint8_t*>(Arena().Allocate(16));
    if (!hostkit::FillServiceTable(table, {&Print, &Print, &Write, &Load, &Store, &Notify}))
        __builtin_trap();
    const auto* header = static_cast<const std::uint8_t*>(PLADI(table, 0));
    if (header == nullptr) __builtin_trap();
}

// The job's stored record from its setting bytes, then driver request 21.
ConfigRecord Configure(std::uint8_t mode, std::uint8_t paper, std::uint8_t options,
                       hostkit::JobOpening* opening, bool* configured) {
    ConfigRecord r = DefaultConfigRecord(0);
    r.modeFlags = static_cast<std::uint16_t>(((mode & 1) ? kModeVcgl : 0) |
                                             ((mode & 8) ? 0 : kResolutions[(mode >> 1) & 3]) |
                                             ((mode & 16) ? kModeRedPrinting : 0));
    r.paperIndex = paper;
    r.customLengthMm = 400 + (options & 15) * 500;
    r.optionFlags = static_cast<std::uint16_t>(((options & 16) ? kOptionHalftoneFill : 0) |
                                               ((options & 32) ? kOptionPe8Bit : 0));
    r.marginMm = static_cast<std::int16_t>((options >> 6) * 3);
    EncodeConfigRecord(r, Stored);

    // The host configures with the record (driver request 21 reports the
    // page); while a failed job is not reset, 21 refuses and the host
    // keeps the page it had.
    Packet configure(21);
    DriverRequest(configure.data());
    *configured = configure.result() == 0;
    if (*configured) {
        opening->extentX = configure.Get<double>(layout::configure::kExtentX);
        opening->extentY = configure.Get<double>(layout::configure::kExtentY);
        opening->resolution = configure.Get<double>(layout::configure::kResolutionX);
    }
    return r;
}

// Job start: through the host kit's opening, or (around 7) 29 to 30
// without the reset.
bool StartJob(int around, const hostkit::JobOpening& opening) {
    if (around != 7) {
        std::string error;
        return hostkit::OpenPlotJob(&PlotRequest, opening, &error) == 0;
    }
    Plot(Packet(29).Set(layout::version::kVersion, std::int16_t(14)));
    Plot(Packet(47)
             .Set(layout::page::kExtentX, opening.extentX)
             .Set(layout::page::kExtentY, opening.extentY));
    Packet start(30);
    Plot(start);
    return start.result() == 0;
}

// A completed job's stream must read in its own data mode. Where the host
// kept the page it had (21 refused), its extents count the steps of that
// page's size, which may be several times the driver's step now: a sheet
// larger than any roll is then what the host asked for.
void CheckStream(int job, const ConfigRecord& r, bool vcgl, bool configured) {
    // For a look at the streams: SESSION_FUZZER_STREAMS=DIR keeps each
    // as DIR/job-N.prn.
    if (const char* dir = std::getenv("SESSION_FUZZER_STREAMS")) {
        const std::string path = std::string(dir) + "/job-" + std::to_string(job) + ".prn";
        if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(Output.data(), 1, Output.size(), f);
            std::fclose(f);
        }
    }
    varnu::preview::Options render;
    render.dpi = 10;
    const varnu::preview::Rendering result = varnu::preview::Render(Output, render);
    const char* expected = vcgl ? "VCGL+MMR" : "RTL/GL2";
    if (!configured && !result.ok &&
        result.error.find("larger than any roll takes") != std::string::npos)
        return;
    if (!result.ok || result.mode != expected) {
        std::fprintf(stderr, "job %d (mode flags %04X, paper %d, %zu bytes): %s%s%s\n", job,
                     r.modeFlags, r.paperIndex, Output.size(), result.error.c_str(),
                     result.ok ? "read as " : "", result.ok ? result.mode.c_str() : "");
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    LoadModule();
    const std::size_t mark = Arena().Mark();
    Reader in{data, data + size};
    hostkit::JobOpening opening;
    for (int job = 0; !in.Done() && job < 16; ++job) {
        const std::uint8_t mode = in.Byte(), paper = in.Byte(), options = in.Byte(),
                           fail = in.Byte(), steps = in.Byte();
        const int around = mode >> 5;
        bool configured = false;
        const ConfigRecord r = Configure(mode, paper, options, &opening, &configured);
        if (around == 4)
            Plot(Packet(49)
                     .Set(layout::reset::kHostKind, std::int16_t(1))
                     .Set(layout::reset::kHostRelease, std::uint8_t(2)));
        Output.clear();
        WritesLeft = around == 6 ? fail : -1;
        const bool started = StartJob(around, opening);
        for (int s = 0; s < steps && !in.Done(); ++s) {
            if (around == 5 && s == steps / 2) Plot(Packet(9));
            Step(in);
        }
        Plot(Packet(2));
        Arena().ReleaseTo(mark);
        const bool failed = around == 5 || (around == 6 && WritesLeft == 0);
        if (started && !failed && !Output.empty()) CheckStream(job, r, (mode & 1) != 0, configured);
    }
    Plot(Packet(2));
    RestoreModuleLoadStateForTesting();
    return 0;
}
