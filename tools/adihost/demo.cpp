#include "adihost/demo.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "model/send.h"
#include "preview/preview.h"
#include "session/config_store.h"
#include "session/driver.h"
#include "session/plot_session.h"
#include "sinks/png_file.h"
#include "varnu/config_record.h"

namespace adihost {

namespace {

using namespace varnu::host;

// A grey wedge with a sinusoidal ripple, as a colour image.
Image GreyWedge() {
    Image im;
    im.width = 480;
    im.height = 160;
    im.pixels.resize(static_cast<std::size_t>(im.width) * im.height * 3);
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x) {
            const double ripple = 20 * std::sin(y / 9.0) * std::sin(x / 23.0);
            const int v = static_cast<int>(255.0 * x / (im.width - 1) + ripple);
            const auto g = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            for (int c = 0; c < 3; ++c)
                im.pixels[(static_cast<std::size_t>(y) * im.width + x) * 3 + c] = g;
        }
    return im;
}

// Concentric rings and a diagonal, as a one-bit image.
Image RingScan() {
    Image im;
    im.width = 300;
    im.height = 300;
    im.bilevel = true;
    im.pixels.resize(static_cast<std::size_t>(im.width) * im.height);
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x) {
            const double r = std::hypot(x - 150.0, y - 150.0);
            const bool ring = static_cast<int>(r) % 24 < 6 && r < 140;
            const bool diagonal = std::abs(x - y) < 3;
            im.pixels[static_cast<std::size_t>(y) * im.width + x] = ring || diagonal ? 1 : 0;
        }
    return im;
}

// Everything in inches, turned into host steps here.
struct Pen {
    Plot* plot;
    double resolution;
    std::uint16_t S(double inches) const {
        return static_cast<std::uint16_t>(std::lround(inches * resolution));
    }
    void Line(double x0, double y0, double x1, double y1) const {
        plot->Move(S(x0), S(y0));
        plot->Draw(S(x1), S(y1));
    }
    void Rectangle(double x0, double y0, double x1, double y1) const {
        plot->Move(S(x0), S(y0));
        plot->Draw(S(x1), S(y0));
        plot->Draw(S(x1), S(y1));
        plot->Draw(S(x0), S(y1));
        plot->Draw(S(x0), S(y0));
    }
    void Polygon(std::int16_t fill,
                 std::initializer_list<std::pair<double, double>> corners) const {
        std::vector<Vertex> vertices;
        for (const auto& [x, y] : corners) vertices.emplace_back(S(x), S(y));
        plot->Polygon(fill, std::move(vertices));
    }
};

// The frame, the title block, every line type, several widths and the pens.
void DrawLines(const Pen& p, double w, double h) {
    Plot& plot = *p.plot;
    plot.Pen(7);
    plot.Width(0.5 / 25.4);
    p.Rectangle(0.5, 0.5, w - 0.5, h - 0.5);
    plot.Width(0.35 / 25.4);
    p.Rectangle(w - 8.5, 0.5, w - 0.5, 3.0);
    for (double y : {1.1, 1.7, 2.3}) p.Line(w - 8.5, y, w - 0.5, y);
    p.Line(w - 4.5, 0.5, w - 4.5, 1.7);
    plot.LineTypes(8);
    plot.Width(0.25 / 25.4);
    for (int type = 0; type <= 8; ++type) {
        const double y = h - 1.5 - 0.6 * type;
        plot.LineType(static_cast<std::uint16_t>(type));
        p.Line(1.5, y, 9.5, y);
    }
    plot.LineType(0);
    const double widths[] = {0.1, 0.25, 0.5, 1.0, 2.0};
    for (int i = 0; i < 5; ++i) {
        const double x = 11.0 + 0.8 * i;
        plot.Width(widths[i] / 25.4);
        p.Line(x, h - 1.5, x, h - 6.0);
    }
    plot.Width(0.35 / 25.4);
    for (int pen = 1; pen <= 7; ++pen) {
        const double y = h - 7.0 - 0.5 * pen;
        plot.Pen(static_cast<std::uint16_t>(pen));
        p.Line(1.5, y, 9.5, y + 0.3);
    }
}

// Filled polygons: greys from the palette, a star, a thin sliver.
void DrawAreas(const Pen& p, double h) {
    const int fills[] = {8, 9, 250, 251, 252, 253};
    for (int i = 0; i < 6; ++i) {
        const double x = 16.0 + 1.6 * i, y = h - 4.0;
        p.Polygon(static_cast<std::int16_t>(fills[i]),
                  {{x, y}, {x + 1.4, y}, {x + 1.4, y + 2.0}, {x, y + 2.0}});
    }
    std::vector<Vertex> star;
    for (int k = 0; k < 10; ++k) {
        const double r = k % 2 == 0 ? 1.5 : 0.6, a = M_PI / 2 + k * M_PI / 5;
        star.emplace_back(p.S(19.0 + r * std::cos(a)), p.S(h - 8.0 + r * std::sin(a)));
    }
    p.plot->Polygon(7, std::move(star));
    p.Polygon(1, {{16.0, h - 11.0}, {26.0, h - 10.8}, {16.0, h - 10.7}});
    p.plot->Pen(7);
    p.plot->Move(p.S(1.0), p.S(1.0));
}

}  // namespace

Plot DemoPlot(const Sheet& sheet) {
    Plot plot("demo");
    const Pen p{&plot, sheet.resolution};
    DrawLines(p, sheet.extentX, sheet.extentY);
    DrawAreas(p, sheet.extentY);
    // The two images, after the vectors.
    const double w = sheet.extentX;
    const std::size_t wedge = plot.AddImage(GreyWedge()), rings = plot.AddImage(RingScan());
    plot.DrawImage(wedge, {p.S(1.5), p.S(3.5), p.S(13.5), p.S(7.5), false, 7});
    plot.DrawImage(rings, {p.S(w - 8.0), p.S(4.0), p.S(w - 2.0), p.S(10.0), true, 5});
    return plot;
}

namespace {

// One data mode's stream, from a record of the demo's own (the user's
// stays untouched), and its preview.
bool DemoMode(const std::string& out, std::uint16_t modeFlags, bool quiet, std::string* error) {
    varnu::ConfigRecord defaults = varnu::DefaultConfigRecord(0);
    defaults.modeFlags = modeFlags;
    RecordBytes record;
    varnu::EncodeConfigRecord(defaults, record.data());
    UseConfigMemory(record);
    const bool plotted = PlotOneJob(
        {out, {}, {}}, "",
        [quiet](const Sheet& sheet, std::string* e) { return Send(DemoPlot(sheet), !quiet, e); },
        error);
    LowReset();
    if (!plotted) return false;
    std::fprintf(stderr, "adihost: wrote %s (%llu bytes)\n", out.c_str(),
                 static_cast<unsigned long long>(std::filesystem::file_size(out)));
    // And what the printer would make of it.
    std::ifstream in(out, std::ios::binary);
    const varnu::preview::Rendering preview = varnu::preview::Render(
        [&in](char* to, std::size_t n) {
            in.read(to, static_cast<std::streamsize>(n));
            return static_cast<std::size_t>(in.gcount());
        },
        varnu::preview::Options{});
    const std::string png = out.substr(0, out.size() - 4) + ".png";
    if (!preview.ok || !varnu::preview::WritePng(preview, png, out, error)) {
        *error = "the preview of " + out + ": " + (preview.ok ? *error : preview.error);
        return false;
    }
    std::fprintf(stderr, "adihost: wrote %s\n", png.c_str());
    return true;
}

}  // namespace

int RunDemo(const std::string& directory, bool quiet) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec) {
        std::fprintf(stderr, "adihost: cannot create %s: %s\n", directory.c_str(),
                     ec.message().c_str());
        return 1;
    }
    const std::pair<const char*, std::uint16_t> modes[] = {
        {"demo-rtl.prn", varnu::kResolution600},
        {"demo-vcgl.prn", varnu::kModeVcgl | varnu::kResolution400}};
    for (const auto& [file, flags] : modes) {
        std::string error;
        if (!DemoMode(directory + "/" + file, flags, quiet, &error)) {
            std::fprintf(stderr, "adihost: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace adihost
