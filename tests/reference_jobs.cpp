#include "reference_jobs.h"

#include <cstdio>
#include <cstring>

#include "varnu/adi_abi.h"
#include "varnu/packet_layouts.h"

namespace varnu::reference {

namespace {

using hostkit::Handler;
using hostkit::Packet;

// The state of the job that runs.
struct Running {
    LowAllocateFn lowAllocate = nullptr;
    Handler driver = nullptr, plot = nullptr;
    const Job* job = nullptr;
    JobResult* result = nullptr;
    std::int32_t imageWidth = 0;  // source width in request 52
    bool imageBilevel = false;
    bool imageSmooth = false;               // gradients, for the large images
    std::uint8_t* line = nullptr;           // the line handed to the driver, one per image
    std::int32_t served = 0;                // pixels a line is served with
    std::vector<std::uint8_t*> photoLines;  // precomputed and cycled, when not empty
    bool keepOutput = true;
};
Running Now;

std::uint32_t LowAddress(const void* p) {
    HostAddress address = 0;
    if (!ToHostAddress(p, &address) && Now.result->error.empty())
        Now.result->error = "an address above 4 GiB was handed over";
    return address;
}

template <typename Fn>
std::uint32_t FunctionAddress(Fn* fn) {
    return LowAddress(reinterpret_cast<const void*>(fn));
}

// The six services.
std::int32_t PrintMessage(const char* text) {
    Now.result->messages.emplace_back(text);
    return 0;
}
std::int32_t SendDeviceString(const char*) {
    return 0;
}
std::int32_t WriteOutput(std::int32_t, std::int32_t, const void* bytes, std::int32_t count,
                         std::int32_t) {
    if (count < 0) return 0;
    Now.result->bytes += static_cast<std::uint64_t>(count);
    if (Now.keepOutput)
        Now.result->output.append(static_cast<const char*>(bytes), static_cast<std::size_t>(count));
    return 1;
}
std::int32_t LoadConfig(std::int32_t size, void* record) {
    if (size != 40) return 1;
    std::memcpy(record, Now.job->record, 40);
    return 0;
}
std::int32_t StoreConfig(std::int32_t, const void*) {
    return 0;
}
std::int32_t NotifyHost(std::int32_t, std::int32_t) {
    return 1;
}

// The image's lines: a colour pattern, colour gradients, or a bilevel
// pattern of rings and bars.
std::uint8_t* ImageLine(std::int32_t line, std::int32_t* count) {
    const std::int32_t w = Now.served;
    *count = Now.imageBilevel ? w : 3 * w;
    if (!Now.photoLines.empty())
        return Now.photoLines[static_cast<std::size_t>(line) % Now.photoLines.size()];
    std::uint8_t* pixels = Now.line;
    if (pixels == nullptr) return nullptr;
    for (std::int32_t x = 0; x < w; ++x) {
        if (Now.imageSmooth) {
            pixels[3 * x] = static_cast<std::uint8_t>(x * 255 / (w - 1));
            pixels[3 * x + 1] = static_cast<std::uint8_t>(line / 29);
            pixels[3 * x + 2] = static_cast<std::uint8_t>(x < w / 2 ? 40 : 220);
        } else if (Now.imageBilevel) {
            const std::int32_t dx = x - w / 2, dy = line - 40;
            pixels[x] = ((dx * dx + dy * dy) / 97) % 3 == 0 || x % 29 < 3 ? 1 : 0;
        } else {
            pixels[3 * x] = static_cast<std::uint8_t>(x * 255 / (w - 1));
            pixels[3 * x + 1] = static_cast<std::uint8_t>((line * 7 + x) & 0xFF);
            pixels[3 * x + 2] = static_cast<std::uint8_t>((x ^ line) * 3);
        }
    }
    return pixels;
}

// The row routines named in request 52's packet.
void* FetchRows(void* rowRequest) {
    auto* reply = static_cast<std::uint8_t*>(Now.lowAllocate(16));
    if (reply == nullptr) return nullptr;
    // One of the two is 0: the line is a row or a column.
    const std::int32_t line = LoadLe<std::int32_t>(rowRequest, layout::row_request::kFirstRow) +
                              LoadLe<std::int32_t>(rowRequest, layout::row_request::kFirstColumn);
    std::int32_t count = 0;
    const std::uint8_t* pixels = ImageLine(line, &count);
    if (pixels == nullptr) {
        StoreLe<std::int32_t>(reply, layout::row_reply::kCount, 1);
        StoreLe<std::int16_t>(reply, layout::row_reply::kFailed, 1);
        return reply;
    }
    StoreLe<std::uint32_t>(reply, layout::row_reply::kPixels, LowAddress(pixels));
    StoreLe<std::int32_t>(reply, layout::row_reply::kCount, count);
    return reply;
}
std::int32_t ReleaseRows(void*) {
    return 0;
}

// Drawing requests answer in their own ways; only -1 is a refusal.
constexpr std::int16_t kNotRefused = INT16_MIN;

std::int16_t Send(Handler handler, Packet& p, const char* what, std::int16_t expected) {
    const std::int16_t code = LoadLe<std::int16_t>(p.bytes, 0);
    handler(p.bytes);
    const bool passed = expected == kNotRefused ? p.result() != -1 : p.result() == expected;
    if (!passed && Now.result->error.empty()) {
        char text[120];
        std::snprintf(text, sizeof text, "request %d (%s) answered %d, expected %d", code, what,
                      p.result(), expected);
        Now.result->error = text;
    }
    return p.result();
}
void Plot(Packet p, const char* what, std::int16_t expected = kNotRefused) {
    Send(Now.plot, p, what, expected);
}

// Drawing steps.
void Pen(std::uint16_t pen) {
    Plot(Packet(5).Set(layout::pen::kPen, pen), "pen");
}
void LineType(std::uint16_t type) {
    Plot(Packet(7).Set(layout::pen::kLineType, type), "line type");
}
void Width(double inches) {
    Plot(Packet(41).Set(layout::pen::kWidth, inches), "width");
}
void MoveTo(std::uint16_t x, std::uint16_t y) {
    Plot(Packet(3).Set(layout::point::kX, x).Set(layout::point::kY, y), "move");
}
void DrawTo(std::uint16_t x, std::uint16_t y) {
    Plot(Packet(4).Set(layout::point::kX, x).Set(layout::point::kY, y), "draw");
}
void PenUp() {
    Plot(Packet(8), "pen up");
}

struct Vertex {
    std::uint16_t x, y;
};

// Up to 16 vertices travel in the packet (33), more by address (54).
void Polygon(std::int16_t fill, const std::vector<Vertex>& vertices) {
    const auto n = static_cast<std::int16_t>(vertices.size());
    if (vertices.size() <= 16) {
        namespace inPacket = layout::polygon;
        Packet p(33);
        p.Set(inPacket::kFill, fill).Set(inPacket::kCount, n);
        for (std::size_t i = 0; i < vertices.size(); ++i)
            p.Set(inPacket::kVertices + 4 * i, vertices[i].x)
                .Set(inPacket::kVertices + 4 * i + 2, vertices[i].y);
        Plot(p, "polygon");
        return;
    }
    auto* low = static_cast<Vertex*>(Now.lowAllocate(sizeof(Vertex) * vertices.size()));
    if (low == nullptr) {
        Now.result->error = "no low memory for a polygon";
        return;
    }
    std::memcpy(low, vertices.data(), sizeof(Vertex) * vertices.size());
    namespace byAddress = layout::polygon_by_address;
    Plot(Packet(54)
             .Set(byAddress::kFill, fill)
             .Set(byAddress::kCount, n)
             .Set(byAddress::kVertices, LowAddress(low)),
         "polygon by address");
}

// Request 52, then any request to have it drawn while the rows are served.
void Image(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, bool bilevel,
           std::int32_t width, std::int32_t height, std::int16_t colour = 7, bool smooth = false,
           std::int32_t served = 0) {
    Now.imageWidth = width;
    Now.served = served > 0 ? served : width;
    Now.imageBilevel = bilevel;
    Now.imageSmooth = smooth;
    Now.line = static_cast<std::uint8_t*>(Now.lowAllocate(3 * static_cast<std::size_t>(width)));
    namespace img = layout::image;
    Packet p(52);
    p.Set(img::kFetch, FunctionAddress(&FetchRows))
        .Set(img::kRelease, FunctionAddress(&ReleaseRows));
    p.Set<std::uint32_t>(img::kHandle, 0x5EED0052);
    p.Set(img::kCorners, x0).Set(img::kCorners + 4, y0);
    p.Set(img::kCorners + 8, x1).Set(img::kCorners + 12, y1);
    p.Set<std::int32_t>(img::kKind, bilevel ? 0 : 2);
    p.Set(img::kSourceWidth, width).Set(img::kSourceHeight, height);
    p.Set<std::int16_t>(img::kTransparent, 0).Set<std::int16_t>(img::kBits, bilevel ? 1 : 24);
    p.Set(img::kColour, colour);
    Plot(p, "image", 52);
    Plot(Packet(0), "draw the waiting image");
}

// A star of pens, widths and line types, filled shapes and one image: every
// kind of request a drawing is made of.
void Drawing(bool bilevelImage) {
    for (std::uint16_t pen = 1; pen <= 8; ++pen) {
        Pen(pen);
        LineType(static_cast<std::uint16_t>(pen - 1));
        Width(0.002 * pen);
        MoveTo(6000, 4000);
        DrawTo(static_cast<std::uint16_t>(6000 + 700 * pen),
               static_cast<std::uint16_t>(9000 - 500 * pen));
        DrawTo(static_cast<std::uint16_t>(6000 + 300 * pen), 200);
        PenUp();
    }
    Pen(3);
    Polygon(1, {{1000, 1000}, {3000, 1200}, {2500, 3200}, {1200, 2800}});
    std::vector<Vertex> ring;
    for (int i = 0; i < 40; ++i) {
        const int dx[] = {0, 3, 5, 6, 5, 3, 0, -3, -5, -6, -5, -3};
        const int k = i % 12, r = i % 2 == 0 ? 1800 : 900;
        ring.push_back({static_cast<std::uint16_t>(14000 + dx[k] * r / 6),
                        static_cast<std::uint16_t>(6000 + dx[(k + 3) % 12] * r / 6)});
    }
    Pen(5);
    Polygon(2, ring);
    Image(2000, 5000, 5000, 7000, bilevelImage, 160, 90, 2);
    Pen(1);
    MoveTo(100, 100);
    DrawTo(20000, 100);
    DrawTo(20000, 15000);
    PenUp();
}

// The stored record, built field by field at its byte offsets.
struct RecordFields {
    std::int32_t copies = 1, paperIndex = 1, customLengthMm = 1189;
    std::int16_t media = 0, finishProgram = 0, finishMargin = 0, outputBin = 0;
    std::int32_t redPen = 1;
    std::int16_t spare = 2, marginMm = 0;
    std::uint16_t optionFlags = 0x1000, modeFlags = 0x0100;
    std::int16_t model = 0;
    std::uint8_t curve[5] = {0, 70, 135, 200, 255};
};

Job MakeJob(const char* name, const RecordFields& f, void (*draw)()) {
    Job job{name, {}, draw};
    std::uint8_t* r = job.record;
    StoreLe(r, 0, f.copies);
    StoreLe(r, 4, f.paperIndex);
    StoreLe(r, 8, f.customLengthMm);
    StoreLe(r, 12, f.media);
    StoreLe(r, 14, f.finishProgram);
    StoreLe(r, 16, f.finishMargin);
    StoreLe(r, 18, f.outputBin);
    StoreLe(r, 20, f.redPen);
    StoreLe(r, 24, f.spare);
    StoreLe(r, 26, f.marginMm);
    StoreLe(r, 28, f.optionFlags);
    StoreLe(r, 30, f.modeFlags);
    StoreLe(r, 32, f.model);
    std::memcpy(r + 34, f.curve, 5);
    return job;
}

}  // namespace

const std::vector<Job>& Jobs() {
    static const std::vector<Job> jobs = [] {
        std::vector<Job> list;
        // RTL/GL2 at 600 dpi, halftone fill, the defaults otherwise.
        list.push_back(MakeJob("rtl-600", RecordFields{}, [] { Drawing(false); }));
        // RTL/GL2 at 300 dpi, solid fill, three copies, margins, a finishing
        // program, manual output and the other edge along the feed.
        RecordFields rtl300;
        rtl300.copies = 3;
        rtl300.marginMm = 7;
        rtl300.finishProgram = 2;
        rtl300.finishMargin = 1;
        rtl300.outputBin = 1;
        rtl300.optionFlags = 0;
        rtl300.modeFlags = 0x0400 | 0x0080 | 0x1000;
        rtl300.curve[1] = 40;
        rtl300.curve[3] = 230;
        list.push_back(MakeJob("rtl-300-options", rtl300, [] { Drawing(true); }));
        // VCGL+MMR at 400 dpi, with a colour and a bilevel image.
        RecordFields vcgl400;
        vcgl400.modeFlags = 0x0040 | 0x0200;
        list.push_back(MakeJob("vcgl-400", vcgl400, [] {
            Drawing(false);
            Image(9000, 9000, 12000, 10500, true, 300, 80, 1);
        }));
        // VCGL+MMR at 200 dpi on a user-defined format, 8-bit PE numbers.
        RecordFields vcgl200;
        vcgl200.paperIndex = 33;  // "Benutzerdef. Format mit A0-Breite "
        vcgl200.customLengthMm = 2400;
        vcgl200.media = 1;
        vcgl200.optionFlags = 0x2000;
        vcgl200.modeFlags = 0x0040 | 0x0800;
        list.push_back(MakeJob("vcgl-200-custom", vcgl200, [] { Drawing(true); }));
        // Large colour images, cut into bands. The default paper lies with
        // its long edge along x, so lines are columns: 12,192 units make
        // 7,200 lines at 600 dpi (1024 x 7 + 32), of which the first is not
        // fetched, and the rows sent and the rows announced round to
        // different band heights.
        list.push_back(MakeJob("rtl-600-banded", RecordFields{}, [] {
            Drawing(false);
            Image(1000, 1000, 13192, 4600, false, 2126, 7200, 7, true);
        }));
        // VCGL+MMR at 400 dpi on a format wider than long: lines are rows,
        // and the bands advance along y.
        RecordFields vcglAcross;
        vcglAcross.paperIndex = 33;
        vcglAcross.customLengthMm = 600;
        vcglAcross.modeFlags = 0x0040 | 0x0200;
        list.push_back(MakeJob("vcgl-400-banded-across", vcglAcross, [] {
            Drawing(true);
            Image(1000, 1000, 5252, 15400, false, 2126, 7200, 7, true);
        }));
        return list;
    }();
    return jobs;
}

// The raster benchmark's photograph: 36 x 48 inches at 600 dpi of colour
// lines, 64 of them precomputed and cycled so that serving costs nothing.
void PhotoPage() {
    constexpr std::int32_t kPixels = 21600, kLines = 28800;
    for (int k = 0; k < 64; ++k) {
        auto* line = static_cast<std::uint8_t*>(Now.lowAllocate(3 * std::size_t{kPixels}));
        if (line == nullptr) {
            Now.result->error = "no low memory for the photograph's lines";
            return;
        }
        for (std::int32_t x = 0; x < kPixels; ++x) {
            line[3 * x] = static_cast<std::uint8_t>((x / 85 + k * 3) & 255);
            line[3 * x + 1] = static_cast<std::uint8_t>((x / 120 + k * 5 + (x % 7)) & 255);
            line[3 * x + 2] = static_cast<std::uint8_t>(255 - ((x / 90) & 255));
        }
        Now.photoLines.push_back(line);
    }
    Image(0, 0, 48 * 1016, 36 * 1016, false, kLines, kPixels, 7, false, kPixels);
}

JobResult RunJob(const Job& job, PladiFn pladi, LowAllocateFn lowAllocate, bool keepOutput) {
    JobResult result;
    Now = Running{};
    Now.keepOutput = keepOutput;
    Now.lowAllocate = lowAllocate;
    Now.job = &job;
    Now.result = &result;

    const hostkit::ServiceRoutines services = {&PrintMessage, &SendDeviceString, &WriteOutput,
                                               &LoadConfig,   &StoreConfig,      &NotifyHost};
    hostkit::Handlers handlers;
    result.error = hostkit::InstallHost(pladi, lowAllocate, services, &handlers);
    if (!result.error.empty()) return result;
    Now.driver = handlers.driver;
    Now.plot = handlers.plot;

    hostkit::JobOpening opening;  // 36 x 24 inches, 1016 steps an inch
    opening.hostVersion = 3;
    if (hostkit::OpenPlotJob(Now.plot, opening, &result.error) == 0) job.draw();
    Packet end(2);
    Now.plot(end.bytes);
    return result;
}

JobResult RunPhotoPage(PladiFn pladi, LowAllocateFn lowAllocate) {
    static const Job photo = MakeJob("photo-e-size", RecordFields{}, PhotoPage);
    return RunJob(photo, pladi, lowAllocate, false);
}

std::string FirstDifference(const std::string& expected, const std::string& actual) {
    if (expected == actual) return {};
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    auto hex = [at](const std::string& s) {
        std::string out;
        const std::size_t from = at >= 8 ? at - 8 : 0;
        for (std::size_t i = from; i < s.size() && i < at + 8; ++i) {
            char b[4];
            std::snprintf(b, sizeof b, "%s%02X", i == at ? "[" : " ",
                          static_cast<unsigned char>(s[i]));
            out += b;
        }
        return out;
    };
    char head[160];
    std::snprintf(head, sizeof head,
                  "%zu bytes expected, %zu written; first difference at %zu:", expected.size(),
                  actual.size(), at);
    return std::string(head) + "\n  expected" + hex(expected) + "\n  written " + hex(actual);
}

}  // namespace varnu::reference
