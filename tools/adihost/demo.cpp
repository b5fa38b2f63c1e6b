#include "adihost/demo.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "adihost/host.h"
#include "adihost/output_file.h"
#include "adihost/png_writer.h"
#include "adihost/render.h"
#include "varnu/config_record.h"

namespace adihost {

namespace {

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

}  // namespace

Script DemoScript(double extentX, double extentY, double resolution) {
    // Everything in inches, turned into host steps here.
    auto s = [resolution](double inches) {
        return static_cast<long>(std::lround(inches * resolution));
    };
    std::ostringstream t;
    auto rect = [&](double x0, double y0, double x1, double y1) {
        t << "move " << s(x0) << ' ' << s(y0) << "\ndraw " << s(x1) << ' ' << s(y0) << "\ndraw "
          << s(x1) << ' ' << s(y1) << "\ndraw " << s(x0) << ' ' << s(y1) << "\ndraw " << s(x0)
          << ' ' << s(y0) << '\n';
    };
    const double w = extentX, h = extentY;
    t << "# sample drawing\npen 7\nwidth 0.5mm\n";
    rect(0.5, 0.5, w - 0.5, h - 0.5);
    // Title block, bottom right.
    t << "width 0.35mm\n";
    rect(w - 8.5, 0.5, w - 0.5, 3.0);
    for (double y : {1.1, 1.7, 2.3})
        t << "move " << s(w - 8.5) << ' ' << s(y) << "\ndraw " << s(w - 0.5) << ' ' << s(y) << '\n';
    t << "move " << s(w - 4.5) << ' ' << s(0.5) << "\ndraw " << s(w - 4.5) << ' ' << s(1.7) << '\n';
    // Every line type.
    t << "linetypes 8\nwidth 0.25mm\n";
    for (int type = 0; type <= 8; ++type) {
        const double y = h - 1.5 - 0.6 * type;
        t << "linetype " << type << "\nmove " << s(1.5) << ' ' << s(y) << "\ndraw " << s(9.5) << ' '
          << s(y) << '\n';
    }
    t << "linetype 0\n";
    // Several widths, and the pens.
    const double widths[] = {0.1, 0.25, 0.5, 1.0, 2.0};
    for (int i = 0; i < 5; ++i) {
        const double x = 11.0 + 0.8 * i;
        t << "width " << widths[i] << "mm\nmove " << s(x) << ' ' << s(h - 1.5) << "\ndraw " << s(x)
          << ' ' << s(h - 6.0) << '\n';
    }
    t << "width 0.35mm\n";
    for (int pen = 1; pen <= 7; ++pen) {
        const double y = h - 7.0 - 0.5 * pen;
        t << "pen " << pen << "\nmove " << s(1.5) << ' ' << s(y) << "\ndraw " << s(9.5) << ' '
          << s(y + 0.3) << '\n';
    }
    // Filled polygons: greys from the palette, a star, a thin sliver.
    const int fills[] = {8, 9, 250, 251, 252, 253};
    for (int i = 0; i < 6; ++i) {
        const double x = 16.0 + 1.6 * i, y = h - 4.0;
        t << "polygon " << fills[i] << ' ' << s(x) << ',' << s(y) << ' ' << s(x + 1.4) << ','
          << s(y) << ' ' << s(x + 1.4) << ',' << s(y + 2.0) << ' ' << s(x) << ',' << s(y + 2.0)
          << '\n';
    }
    t << "polygon 7";
    for (int k = 0; k < 10; ++k) {
        const double r = k % 2 == 0 ? 1.5 : 0.6, a = M_PI / 2 + k * M_PI / 5;
        t << ' ' << s(19.0 + r * std::cos(a)) << ',' << s(h - 8.0 + r * std::sin(a));
    }
    t << "\npolygon 1 " << s(16.0) << ',' << s(h - 11.0) << ' ' << s(26.0) << ',' << s(h - 10.8)
      << ' ' << s(16.0) << ',' << s(h - 10.7) << '\n';
    t << "pen 7\nmove " << s(1.0) << ' ' << s(1.0) << "\n";

    Script script;
    std::string error;
    ParseScriptText(t.str(), "demo", &script, &error);
    // The two images, after the vectors.
    script.images.push_back(GreyWedge());
    script.images.push_back(RingScan());
    ScriptStep wedge{};
    wedge.kind = ScriptStep::Kind::Image;
    wedge.image = 0;
    wedge.placement = {static_cast<std::int32_t>(s(1.5)),
                       static_cast<std::int32_t>(s(3.5)),
                       static_cast<std::int32_t>(s(13.5)),
                       static_cast<std::int32_t>(s(7.5)),
                       false,
                       7};
    ScriptStep rings = wedge;
    rings.image = 1;
    rings.placement = {static_cast<std::int32_t>(s(w - 8.0)),
                       static_cast<std::int32_t>(s(4.0)),
                       static_cast<std::int32_t>(s(w - 2.0)),
                       static_cast<std::int32_t>(s(10.0)),
                       true,
                       5};
    script.steps.push_back(wedge);
    script.steps.push_back(rings);
    return script;
}

int RunDemo(const std::string& directory, bool quiet) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec) {
        std::fprintf(stderr, "adihost: cannot create %s: %s\n", directory.c_str(),
                     ec.message().c_str());
        return 1;
    }
    struct Mode {
        const char* file;
        std::uint16_t modeFlags;
    };
    const Mode modes[] = {{"demo-rtl.prn", varnu::kResolution600},
                          {"demo-vcgl.prn", varnu::kModeVcgl | varnu::kResolution400}};
    for (const Mode& mode : modes) {
        // The demo's own record, next to its output: the user's stays untouched.
        const std::string config = directory + "/.demo-config";
        varnu::ConfigRecord defaults = varnu::DefaultConfigRecord(0);
        defaults.modeFlags = mode.modeFlags;
        std::uint8_t record[40];
        varnu::EncodeConfigRecord(defaults, record);
        RemoveOnSignal(config);
        std::FILE* f = std::fopen(config.c_str(), "wb");
        if (f == nullptr || std::fwrite(record, 1, 40, f) != 40) {
            if (f != nullptr) std::fclose(f);
            std::remove(config.c_str());
            std::fprintf(stderr, "adihost: cannot write %s\n", config.c_str());
            return 1;
        }
        std::fclose(f);
        SetConfigPath(config);

        const std::string out = directory + "/" + mode.file;
        std::string error;
        PageData page;
        if (!BeginOutput(out, {}, &error) || !OpenPlotJob("", &page, &error)) {
            AbandonOutput();
            std::remove(config.c_str());
            std::fprintf(stderr, "adihost: %s\n", error.c_str());
            return 1;
        }
        const Script script = DemoScript(page.extentX, page.extentY, page.resolution);
        const bool ran = RunScript(script, !quiet, &error);
        ClosePlotJob();
        if (!ran || !FinishOutput(&error)) {
            AbandonOutput();
            std::remove(config.c_str());
            std::fprintf(stderr, "adihost: %s\n", error.c_str());
            return 1;
        }
        LowReset();
        std::fprintf(stderr, "adihost: wrote %s (%llu bytes)\n", out.c_str(),
                     static_cast<unsigned long long>(OutputBytes()));
        std::remove(config.c_str());
        KeepOnSignal(config);
        // And what the printer would make of it.
        std::ifstream in(out, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        const RenderResult preview = RenderStream(bytes.str(), RenderOptions{});
        const std::string png = out.substr(0, out.size() - 4) + ".png";
        if (!preview.ok || !WritePng(png, preview.preview.width, preview.preview.height,
                                     preview.preview.rgb, &error)) {
            std::fprintf(stderr, "adihost: the preview of %s: %s\n", out.c_str(),
                         preview.ok ? error.c_str() : preview.error.c_str());
            return 1;
        }
        std::fprintf(stderr, "adihost: wrote %s\n", png.c_str());
    }
    return 0;
}

}  // namespace adihost
