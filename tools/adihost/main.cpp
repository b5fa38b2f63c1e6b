// adihost: plots job scripts and images through the Varnu 4820/4810 driver,
// edits its stored configuration, and runs the built-in demo job.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "adihost/configure.h"
#include "adihost/demo.h"
#include "adihost/dxf.h"
#include "adihost/host.h"
#include "adihost/images.h"
#include "adihost/output_file.h"
#include "adihost/pdf.h"
#include "adihost/png_writer.h"
#include "adihost/render.h"
#include "adihost/script.h"

namespace {

using namespace adihost;

constexpr int kRefused = 1;

bool EndsWith(const std::string& s, const char* suffix) {
    const std::string t(suffix);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

struct PlotOptions {
    std::string input, output, label, at, scale, origin, layers;
    bool fit = true, transparent = false, quiet = false;
    int colour = 7;
    std::string pages = "1", rotate;  // PDF
    bool fitGiven = false;
};

// A PDF: --scale is a factor or 1:N, the page at its own size unless --fit.
int PlotPdfFile(const PlotOptions& o) {
    PdfOptions pdf;
    pdf.pages = o.pages;
    pdf.fit = o.fitGiven;
    pdf.rotateAuto = o.rotate == "auto";
    pdf.label = o.label;
    pdf.progress = !o.quiet;
    std::string error;
    double one = 0, n = 0;
    if (!o.scale.empty() && std::sscanf(o.scale.c_str(), "%lf:%lf", &one, &n) == 2 && n > 0) {
        pdf.scale = one / n;
    } else if (!o.scale.empty() && std::sscanf(o.scale.c_str(), "%lf", &one) == 1) {
        pdf.scale = one;
    } else if (!o.scale.empty()) {
        std::fputs("adihost: --scale expects a factor (0.5) or 1:N\n", stderr);
        return kRefused;
    }
    if (!PlotPdf(o.input, o.output, pdf, &error)) {
        std::fprintf(stderr, "adihost: %s: %s\n", o.input.c_str(), error.c_str());
        return kRefused;
    }
    return 0;
}

// A raster image as a one-step script: placed at --at (millimetres) or
// fitted to the page keeping its proportions.
bool ImageScript(const PlotOptions& o, const PageData& page, Script* script, std::string* error) {
    Image image;
    if (!LoadImage(o.input, &image, error)) {
        *error = o.input + ": " + *error;
        return false;
    }
    const double stepsPerMm = page.resolution / 25.4;
    double x0, y0, x1, y1;
    if (!o.at.empty()) {
        if (std::sscanf(o.at.c_str(), "%lf,%lf,%lf,%lf", &x0, &y0, &x1, &y1) != 4 ||
            !std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1) ||
            !(x1 > x0) || !(y1 > y0) || x0 < 0 || y0 < 0) {
            *error = "--at expects X0,Y0,X1,Y1 in millimetres with X0 < X1 and Y0 < Y1";
            return false;
        }
        x0 *= stepsPerMm, y0 *= stepsPerMm, x1 *= stepsPerMm, y1 *= stepsPerMm;
    } else {
        const double w = page.extentX * page.resolution, h = page.extentY * page.resolution;
        const double scale = std::min(w / image.width, h / image.height);
        x0 = (w - image.width * scale) / 2, y0 = (h - image.height * scale) / 2;
        x1 = x0 + image.width * scale, y1 = y0 + image.height * scale;
    }
    if (x1 > 2147483647.0 || y1 > 2147483647.0) {
        *error = "the image area is too large";
        return false;
    }
    const double sheetW = page.extentX * page.resolution, sheetH = page.extentY * page.resolution;
    if (x0 >= sheetW || y0 >= sheetH) {
        *error = "the image lies outside the sheet (" +
                 std::to_string(std::lround(sheetW / stepsPerMm)) + " x " +
                 std::to_string(std::lround(sheetH / stepsPerMm)) + " mm)";
        return false;
    }
    if (x1 > sheetW + 1 || y1 > sheetH + 1) {
        // Only what lands on the sheet goes to the driver, cut at whole source
        // pixels: an image mostly beyond the sheet would make a stream of
        // gigabytes the printer throws away.
        std::fputs("adihost: the image is cut at the sheet's edge\n", stderr);
        const double pixelW = (x1 - x0) / image.width, pixelH = (y1 - y0) / image.height;
        const auto columns = static_cast<std::int32_t>(
            std::min<double>(image.width, std::ceil((sheetW - x0) / pixelW)));
        const auto skipRows =
            static_cast<std::int32_t>(std::max(0.0, std::floor((y1 - sheetH) / pixelH)));
        const std::size_t bytes = image.bilevel ? 1 : 3;
        Image cut;
        cut.width = std::max(columns, 1);
        cut.height = std::max(image.height - skipRows, 1);
        cut.bilevel = image.bilevel;
        cut.pixels.reserve(static_cast<std::size_t>(cut.width) * cut.height * bytes);
        for (std::int32_t row = image.height - cut.height; row < image.height; ++row) {
            const auto first =
                image.pixels.begin() + static_cast<std::ptrdiff_t>(row) * image.width * bytes;
            cut.pixels.insert(cut.pixels.end(), first, first + cut.width * bytes);
        }
        x1 = x0 + cut.width * pixelW;
        y1 -= (image.height - cut.height) * pixelH;
        image = std::move(cut);
    }
    ScriptStep step{};
    step.kind = ScriptStep::Kind::Image;
    step.line = 0;
    step.placement = {static_cast<std::int32_t>(x0),
                      static_cast<std::int32_t>(y0),
                      static_cast<std::int32_t>(x1),
                      static_cast<std::int32_t>(y1),
                      o.transparent,
                      static_cast<std::int16_t>(o.colour)};
    script->path = o.input;
    script->images.push_back(std::move(image));
    script->steps.push_back(step);
    return true;
}

int RunPlot(const PlotOptions& o) {
    std::string error;
    const bool isPdf = EndsWith(o.input, ".pdf") || EndsWith(o.input, ".PDF");
    const bool isImage = EndsWith(o.input, ".png") || EndsWith(o.input, ".tif") ||
                         EndsWith(o.input, ".tiff") || EndsWith(o.input, ".PNG") ||
                         EndsWith(o.input, ".TIF") || EndsWith(o.input, ".TIFF");
    const bool isDxf = EndsWith(o.input, ".dxf") || EndsWith(o.input, ".DXF");
    Script script;
    if (!isImage && !isDxf && !isPdf && !ParseScript(o.input, &script, &error)) {
        std::fprintf(stderr, "adihost: %s\n", error.c_str());
        return kRefused;
    }
    if (!isImage && !isDxf && !isPdf && !DrawsSomething(script)) {
        std::fprintf(stderr, "adihost: %s: nothing to draw (no draw, polygon or image line)\n",
                     o.input.c_str());
        return kRefused;
    }
    if (!ConfigExists()) {
        // A first plot: the defaults, stored as the setup dialog would.
        ConfigureOptions defaults;
        defaults.defaults = true;
        if (RunConfigure(defaults) != 0) return kRefused;
        std::fputs("adihost: no stored configuration; stored the defaults\n", stderr);
    }
    if (isPdf) return PlotPdfFile(o);
    PageData page;
    if (!BeginOutput(o.output, o.input, &error)) {
        std::fprintf(stderr, "adihost: %s\n", error.c_str());
        return kRefused;
    }
    bool ok = OpenPlotJob(o.label, &page, &error);
    if (ok && isImage) ok = ImageScript(o, page, &script, &error);
    std::string skipped;
    if (ok && isDxf) {
        DxfOptions dxf;
        if (!o.scale.empty()) {
            double one = 0, n = 0;
            if (std::sscanf(o.scale.c_str(), "%lf:%lf", &one, &n) != 2 || !(one > 0) || !(n > 0) ||
                !std::isfinite(n / one) || n / one < 1e-6 || n / one > 1e9) {
                error = "--scale expects 1:N with N from 0.000001 to 1000000000";
                ok = false;
            }
            dxf.scaleDenominator = n / one;
        }
        if (ok && !o.origin.empty() &&
            (std::sscanf(o.origin.c_str(), "%lf,%lf", &dxf.originX, &dxf.originY) != 2 ||
             !(std::fabs(dxf.originX) <= 1e6) || !(std::fabs(dxf.originY) <= 1e6))) {
            error = "--origin expects X,Y in millimetres (at most 1000000 either way)";
            ok = false;
        }
        for (std::size_t at = 0; !o.layers.empty() && at <= o.layers.size();) {
            const std::size_t comma = std::min(o.layers.find(',', at), o.layers.size());
            if (comma > at) dxf.layers.push_back(o.layers.substr(at, comma - at));
            at = comma + 1;
        }
        std::vector<std::string> unknown;
        if (ok) ok = DxfScript(o.input, page, dxf, &script, &skipped, &error, &unknown);
        for (const std::string& name : unknown)
            std::fprintf(stderr, "adihost: the drawing has no layer named \"%s\"\n", name.c_str());
    }
    if (ok) ok = RunScript(script, !o.quiet, &error);
    ClosePlotJob();
    if (ok && OutputBytes() == 0) {  // never an empty file reported as a plot
        error = "the driver wrote nothing";
        ok = false;
    }
    if (!ok || !FinishOutput(&error)) {
        AbandonOutput();
        std::fprintf(stderr, "adihost: %s\n", error.c_str());
        return kRefused;
    }
    if (!skipped.empty()) std::fprintf(stderr, "adihost: skipped: %s\n", skipped.c_str());
    return 0;
}

struct RenderCommand {
    std::string input, output, bands;
    double dpi = 100;
    bool partial = false, verbose = false;
};

int RunRender(const RenderCommand& o) {
    std::ifstream in(o.input, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "adihost: %s: cannot be read\n", o.input.c_str());
        return kRefused;
    }
    RenderOptions options;
    options.dpi = o.dpi;
    options.verbose = o.verbose;
    options.keepBands = !o.bands.empty();
    const RenderResult result = RenderStream(bytes.str(), options);
    if (!result.ok)
        std::fprintf(stderr, "adihost: %s: %s\n", o.input.c_str(), result.error.c_str());
    if (!result.ok && !o.partial) return kRefused;
    std::string error;
    if (!WritePng(o.output, result.preview.width, result.preview.height, result.preview.rgb, &error,
                  o.input)) {
        std::fprintf(stderr, "adihost: %s\n", error.c_str());
        return kRefused;
    }
    // Each raster band as the printer decodes it, one PBM file a band.
    for (std::size_t i = 0; i < result.rasters.size() && !o.bands.empty(); ++i) {
        const RasterBand& band = result.rasters[i];
        char name[32];
        std::snprintf(name, sizeof name, "/band-%03zu.pbm", i);
        std::ofstream pbm(o.bands + name, std::ios::binary);
        pbm << "P4\n" << band.width << ' ' << band.rows << '\n';
        pbm.write(reinterpret_cast<const char*>(band.bits.data()),
                  static_cast<std::streamsize>(band.bits.size()));
        if (!pbm) {
            std::fprintf(stderr, "adihost: cannot write the bands into %s\n", o.bands.c_str());
            return kRefused;
        }
    }
    return result.ok ? 0 : kRefused;
}

}  // namespace

// Under LeakSanitizer (the asan build): fontconfig, which cairo's text uses,
// keeps its caches for the life of the process by design.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace {

int Run(int argc, char** argv) {
    CLI::App app{"adihost: plots through the Varnu 4820/4810 Wide Format driver (ADI 4.3)"};
    app.require_subcommand(1);
    HostOptions host;
    host.configPath = DefaultConfigPath();
    app.add_option("--config", host.configPath, "the stored 40-byte configuration record")
        ->capture_default_str();

    PlotOptions plot;
    CLI::App* plotCommand = app.add_subcommand(
        "plot", "plot a job script (.adi), an image (.png, .tif), a DXF or a PDF");
    plotCommand
        ->add_option("INPUT", plot.input,
                     "job script, DXF or PDF drawing, or image (images of at most 268435456 "
                     "pixels, e.g. 16384 x 16384, and 1048576 a side)")
        ->required()
        ->check(CLI::ExistingFile);
    plotCommand
        ->add_option("-o,--output", plot.output,
                     "the printer stream to write (- for standard output; a device or FIFO is "
                     "written as it is)")
        ->required();
    plotCommand->add_option("--label", plot.label,
                            "label text for the sheet (typed into the driver dialog)");
    plotCommand->add_flag("--fit", plot.fit, "fit an image to the page (the default)");
    plotCommand->add_option("--at", plot.at, "place an image at X0,Y0,X1,Y1 millimetres");
    plotCommand->add_option("--color", plot.colour, "colour index of a one-bit image's set pixels")
        ->check(CLI::Range(0, 7));
    plotCommand->add_flag("--transparent", plot.transparent,
                          "image background shows the drawing through");
    plotCommand->add_flag("--quiet", plot.quiet, "no progress bar");
    plotCommand->add_option("--page", plot.pages, "PDF: the page to plot (from 1), or all");
    plotCommand->add_option("--rotate", plot.rotate, "PDF: auto turns a page that fits only turned")
        ->check(CLI::IsMember({"auto"}));
    plotCommand->add_option("--scale", plot.scale,
                            "DXF at a fixed scale 1:N (drawing units in mm) instead of fitted; "
                            "PDF: the page's size times a factor or 1:N");
    plotCommand->add_option("--origin", plot.origin,
                            "with --scale: the drawing's origin at X,Y mm on the sheet");
    plotCommand->add_option("--layers", plot.layers,
                            "DXF: plot only these layers (A,B,...), even those off or frozen");

    ConfigureOptions configure;
    CLI::App* configureCommand =
        app.add_subcommand("configure", "edit the stored configuration through the setup dialog");
    configureCommand->add_option("--paper", configure.paper,
                                 "paper format: row number 1..41 or its name");
    configureCommand->add_option("--length", configure.length, "custom paper length in mm");
    configureCommand->add_option("--margin", configure.margin, "margin in mm, 0..10");
    configureCommand->add_option("--copies", configure.copies, "copies, 1..99");
    configureCommand->add_option("--media", configure.media, "media row, 0..3");
    configureCommand->add_option("--fill", configure.fill, "polygon fill")
        ->check(CLI::IsMember({"solid", "halftone"}));
    configureCommand->add_option("--resolution", configure.resolution, "raster resolution")
        ->check(CLI::IsMember({600, 400, 300, 200}));
    configureCommand->add_option("--program", configure.program, "finishing program row, 0..20");
    configureCommand->add_option("--finish-margin", configure.finishMargin,
                                 "finishing margin row, 0..1");
    configureCommand->add_option("--bin", configure.bin, "output bin row, 0..14");
    configureCommand->add_option("--manual-output", configure.manualOutput, "manual output")
        ->check(CLI::IsMember({"yes", "no"}));
    std::vector<int> curve;
    configureCommand->add_option("--curve", curve, "image correction P0,P1,P2,P3,P4 (0..255 each)")
        ->delimiter(',')
        ->expected(5)
        ->check(CLI::Range(0, 255));
    configureCommand->add_flag("--defaults", configure.defaults,
                               "start from the driver's defaults");
    configureCommand->add_flag("--show", configure.show,
                               "print the configuration summary and the line types");
    configureCommand->add_option("--curve-png", configure.curvePng,
                                 "save the image-correction preview as PNG");

    RenderCommand render;
    CLI::App* renderCommand =
        app.add_subcommand("render", "draw the sheet a driver stream prints, as a PNG");
    renderCommand->add_option("STREAM", render.input, "a stream the driver wrote")
        ->required()
        ->check(CLI::ExistingFile);
    renderCommand
        ->add_option("-o,--output", render.output, "the PNG to write (- for standard output)")
        ->required();
    renderCommand->add_option("--dpi", render.dpi, "preview pixels per inch of the sheet")
        ->check(CLI::Range(1.0, 600.0));
    renderCommand->add_flag("--partial", render.partial,
                            "write what was drawn even when the stream stops making sense");
    renderCommand->add_flag("--verbose", render.verbose, "list the PJL lines");
    renderCommand
        ->add_option("--bands", render.bands,
                     "also write each raster band, decoded, as DIR/band-NNN.pbm")
        ->check(CLI::ExistingDirectory);

    std::string demoDirectory = "./demo-out";
    bool demoQuiet = false;
    CLI::App* demoCommand =
        app.add_subcommand("demo", "plot the built-in sample drawing in both data modes");
    demoCommand
        ->add_option("-o,--output", demoDirectory, "directory for demo-rtl.prn and demo-vcgl.prn")
        ->capture_default_str();
    demoCommand->add_flag("--quiet", demoQuiet, "no progress bar");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    if (!curve.empty())
        configure.curve = std::array<int, 5>{curve[0], curve[1], curve[2], curve[3], curve[4]};

    SetConfigPath(host.configPath);
    std::string configError;
    if (!CheckConfigFile(&configError)) {
        std::fprintf(stderr, "adihost: %s\n", configError.c_str());
        return kRefused;
    }
    // The record is no place for a stream or a picture either.
    for (const std::string* output : {&plot.output, &render.output})
        if (!output->empty() && SameFile(*output, host.configPath)) {
            std::fprintf(stderr, "adihost: %s is the configuration record; it would be destroyed\n",
                         output->c_str());
            return kRefused;
        }
    InstallSignalCleanup();
    plot.fitGiven = plotCommand->get_option("--fit")->count() > 0;
    InstallHost(host);
    if (*plotCommand) return RunPlot(plot);
    if (*configureCommand) return RunConfigure(configure);
    if (*renderCommand) return RunRender(render);
    if (*demoCommand) return RunDemo(demoDirectory, demoQuiet);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // No exception leaves the program: a refusal, not an abort.
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("adihost: out of memory\n", stderr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "adihost: %s\n", e.what());
    }
    AbandonOutput();
    return kRefused;
}
