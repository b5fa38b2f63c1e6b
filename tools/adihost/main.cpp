// adihost: plots job scripts, images, DXF and PDF drawings through the
// Varnu 4820/4810 driver, edits its stored configuration, previews streams
// and runs the built-in demo job. Command-line handling on the host library.
#include <CLI/CLI.hpp>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "adihost/demo.h"
#include "model/image_placement.h"
#include "model/send.h"
#include "preview/preview.h"
#include "readers/dxf.h"
#include "readers/hpgl.h"
#include "readers/images.h"
#include "readers/pdf.h"
#include "readers/script.h"
#include "session/config_store.h"
#include "session/configure.h"
#include "session/driver.h"
#include "session/plot_session.h"
#include "sinks/output_file.h"
#include "sinks/png_file.h"
#include "sinks/signals.h"

namespace {

using namespace adihost;
using namespace varnu::host;

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
    bool fitGiven = false, pagesGiven = false;
};

enum class InputKind { Script, Image, Dxf, Pdf, Hpgl };

InputKind KindOf(const std::string& input) {
    for (const char* suffix : {".pdf", ".PDF"})
        if (EndsWith(input, suffix)) return InputKind::Pdf;
    for (const char* suffix :
         {".png", ".tif", ".tiff", ".jpg", ".jpeg", ".PNG", ".TIF", ".TIFF", ".JPG", ".JPEG"})
        if (EndsWith(input, suffix)) return InputKind::Image;
    for (const char* suffix : {".dxf", ".DXF"})
        if (EndsWith(input, suffix)) return InputKind::Dxf;
    std::string lower = input;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* suffix : {".plt", ".hpgl", ".hpg"})
        if (EndsWith(lower, suffix)) return InputKind::Hpgl;
    return InputKind::Script;
}

int Refuse(const std::string& error) {
    std::fprintf(stderr, "adihost: %s\n", error.c_str());
    return kRefused;
}

// Each configure message on its own line.
void PrintMessages(const std::vector<std::string>& messages) {
    for (const std::string& m : messages) std::fprintf(stderr, "adihost: %s\n", m.c_str());
}

// --scale for a PDF: a factor (0.5) or 1:N, the whole text a number; the
// page from a thousandth to a hundred times its size.
bool ReadPdfScale(const std::string& text, double* scale, std::string* error) {
    if (text.empty()) return true;
    double one = 0, n = 0;
    int used = 0;
    const bool ratio = std::sscanf(text.c_str(), "%lf:%lf%n", &one, &n, &used) == 2 &&
                       used == static_cast<int>(text.size());
    const bool factor = !ratio && std::sscanf(text.c_str(), "%lf%n", &one, &used) == 1 &&
                        used == static_cast<int>(text.size());
    const double value = ratio ? one / n : one;
    if (!(ratio || factor) || (ratio && !(one > 0 && n > 0)) || !std::isfinite(value) ||
        !(value >= 0.001 && value <= 100)) {
        *error = "--scale " + text + ": give a factor or 1:N for 0.001 to 100 times the page";
        return false;
    }
    *scale = value;
    return true;
}

// A PDF: the page at its own size unless --fit; each page its own job.
// Every page is checked before the first is sent.
int PlotPdfFile(const PlotOptions& o) {
    PdfOptions pdf;
    pdf.fit = o.fitGiven;
    pdf.rotateAuto = o.rotate == "auto";
    pdf.progress = !o.quiet;
    std::string error;
    if (!ReadPdfScale(o.scale, &pdf.scale, &error)) return Refuse(error);
    PdfDocument document;
    int first = 0, last = 0;
    Sheet sheet;
    bool ok = document.Open(o.input, &error) && document.Pages(o.pages, &first, &last, &error) &&
              ReadSheet(&sheet, &error) &&
              document.Check(first, last, sheet, StoredDpi(), pdf, &error);
    PlotSession session;
    ok = ok && session.Open({o.output, o.input, {}}, &error);
    int sent = 0;
    for (int i = first; ok && i <= last; ++i, sent += ok ? 1 : 0)
        ok = session.Job(
            o.label,
            [&](const Sheet& jobSheet, std::string* e) {
                Plot page;
                return document.PagePlot(i, jobSheet, StoredDpi(), pdf, &page, e) &&
                       Send(page, pdf.progress, e);
            },
            &error);
    if (!ok && session.streams()) error += PagesSentNote(first, sent);
    if (ok && session.Finish(&error)) return 0;
    return Refuse(o.input + ": " + error);
}

// An HP-GL/2 plot file: placed as it says unless --fit; each page its own
// job, every page checked before the first is sent.
int PlotHpglFile(const PlotOptions& o) {
    HpglOptions hpgl;
    hpgl.fit = o.fitGiven;
    hpgl.rotateAuto = o.rotate == "auto";
    hpgl.progress = !o.quiet;
    std::string error;
    if (!ReadPdfScale(o.scale, &hpgl.scale, &error)) return Refuse(error);
    HpglDocument document;
    Sheet sheet;
    if (!document.Open(o.input, &error)) return Refuse(o.input + ": " + error);
    int first = 0, last = document.pages() - 1;
    if (o.pagesGiven && o.pages != "all") {
        const int n = std::atoi(o.pages.c_str());
        if (n < 1 || n > document.pages())
            return Refuse("--page " + o.pages + ": the file has " +
                          std::to_string(document.pages()) + " page(s)");
        first = last = n - 1;
    }
    bool ok =
        ReadSheet(&sheet, &error) && document.Check(first, last, sheet, StoredDpi(), hpgl, &error);
    PlotSession session;
    ok = ok && session.Open({o.output, o.input, {}}, &error);
    int sent = 0;
    for (int i = first; ok && i <= last; ++i, sent += ok ? 1 : 0)
        ok = session.Job(
            o.label,
            [&](const Sheet& jobSheet, std::string* e) {
                Plot page;
                return document.PagePlot(i, jobSheet, StoredDpi(), hpgl, &page, e) &&
                       Send(page, hpgl.progress, e);
            },
            &error);
    if (!ok && session.streams()) error += PagesSentNote(first, sent);
    if (ok && session.Finish(&error)) {
        if (!document.Skipped().empty())
            std::fprintf(stderr, "adihost: not drawn: %s\n", document.Skipped().c_str());
        return 0;
    }
    return Refuse(o.input + ": " + error);
}

// --at X0,Y0,X1,Y1 in millimetres, or nothing to fit the image to the sheet.
bool ReadCorners(const std::string& at, std::optional<Corners>* corners, std::string* error) {
    if (at.empty()) return true;
    Corners c;
    if (std::sscanf(at.c_str(), "%lf,%lf,%lf,%lf", &c.x0, &c.y0, &c.x1, &c.y1) != 4 ||
        !std::isfinite(c.x0) || !std::isfinite(c.y0) || !std::isfinite(c.x1) ||
        !std::isfinite(c.y1) || !(c.x1 > c.x0) || !(c.y1 > c.y0) || c.x0 < 0 || c.y0 < 0) {
        *error = "--at expects X0,Y0,X1,Y1 in millimetres with X0 < X1 and Y0 < Y1";
        return false;
    }
    *corners = c;
    return true;
}

// A raster image as a plot of one image.
bool ImagePlot(const PlotOptions& o, const Sheet& sheet, Plot* plot, std::string* error) {
    Image image;
    if (!LoadImage(o.input, &image, error)) {
        *error = o.input + ": " + *error;
        return false;
    }
    std::optional<Corners> at;
    Placement placement;
    bool cut = false;
    if (!ReadCorners(o.at, &at, error) || !PlaceImage(sheet, at, &image, &placement, &cut, error))
        return false;
    if (cut) std::fputs("adihost: the image is cut at the sheet's edge\n", stderr);
    placement.transparent = o.transparent;
    placement.colour = static_cast<std::int16_t>(o.colour);
    *plot = Plot(o.input);
    plot->DrawImage(plot->AddImage(std::move(image)), placement);
    return true;
}

// --scale 1:N, --origin X,Y and --layers A,B for a DXF drawing.
bool ReadDxfOptions(const PlotOptions& o, DxfOptions* dxf, std::string* error) {
    if (!o.scale.empty()) {
        double one = 0, n = 0;
        if (std::sscanf(o.scale.c_str(), "%lf:%lf", &one, &n) != 2 || !(one > 0) || !(n > 0) ||
            !std::isfinite(n / one) || n / one < 1e-6 || n / one > 1e9) {
            *error = "--scale expects 1:N with N from 0.000001 to 1000000000";
            return false;
        }
        dxf->scaleDenominator = n / one;
    }
    if (!o.origin.empty() &&
        (std::sscanf(o.origin.c_str(), "%lf,%lf", &dxf->originX, &dxf->originY) != 2 ||
         !(std::fabs(dxf->originX) <= 1e6) || !(std::fabs(dxf->originY) <= 1e6))) {
        *error = "--origin expects X,Y in millimetres (at most 1000000 either way)";
        return false;
    }
    for (std::size_t at = 0; !o.layers.empty() && at <= o.layers.size();) {
        const std::size_t comma = std::min(o.layers.find(',', at), o.layers.size());
        if (comma > at) dxf->layers.push_back(o.layers.substr(at, comma - at));
        at = comma + 1;
    }
    return true;
}

bool DxfPlot(const PlotOptions& o, const Sheet& sheet, Plot* plot, std::string* skipped,
             std::string* error) {
    DxfOptions dxf;
    if (!ReadDxfOptions(o, &dxf, error)) return false;
    DxfReport report;
    const bool ok = ReadDxf(o.input, sheet, dxf, plot, &report, error);
    for (const std::string& name : report.unknownLayers)
        std::fprintf(stderr, "adihost: the drawing has no layer named \"%s\"\n", name.c_str());
    *skipped = report.skipped;
    return ok;
}

// A first plot: the defaults, stored as the setup dialog would.
bool EnsureConfiguration() {
    if (ConfigExists()) return true;
    ConfigureOptions defaults;
    defaults.defaults = true;
    std::vector<std::string> messages;
    const bool stored = Configure(defaults, &messages);
    PrintMessages(messages);
    if (stored) std::fputs("adihost: no stored configuration; stored the defaults\n", stderr);
    return stored;
}

int RunPlot(const PlotOptions& o) {
    std::string error;
    const InputKind kind = KindOf(o.input);
    Plot script;
    if (kind == InputKind::Script && !ReadScript(o.input, &script, &error)) return Refuse(error);
    if (kind == InputKind::Script && !script.DrawsSomething())
        return Refuse(o.input + ": nothing to draw (no draw, polygon or image line)");
    if (!EnsureConfiguration()) return kRefused;
    if (kind == InputKind::Pdf) return PlotPdfFile(o);
    if (kind == InputKind::Hpgl) return PlotHpglFile(o);
    std::string skipped;
    const bool plotted = PlotOneJob(
        {o.output, o.input, {}}, o.label,
        [&](const Sheet& sheet, std::string* e) {
            Plot plot;
            if (kind == InputKind::Image && !ImagePlot(o, sheet, &plot, e)) return false;
            if (kind == InputKind::Dxf && !DxfPlot(o, sheet, &plot, &skipped, e)) return false;
            return Send(kind == InputKind::Script ? script : plot, !o.quiet, e);
        },
        &error);
    if (!plotted) return Refuse(error);
    if (!skipped.empty()) std::fprintf(stderr, "adihost: skipped: %s\n", skipped.c_str());
    return 0;
}

int RunConfigure(const ConfigureOptions& o, bool show) {
    std::vector<std::string> messages;
    const bool stored = Configure(o, &messages);
    PrintMessages(messages);
    if (!stored) return kRefused;
    if (show) std::fputs((DriverSummary() + "\n").c_str(), stdout);
    return 0;
}

struct RenderCommand {
    std::string input, output, bands;
    double dpi = 100;
    bool partial = false, verbose = false;
};

// Each raster band as the printer decodes it, one PBM file a band.
class BandFiles {
  public:
    explicit BandFiles(const std::string& folder) : folder_(folder) {}
    void Row(int band, int width, int rows, int row, const std::uint8_t* bits) {
        if (row == 0) {
            char name[32];
            std::snprintf(name, sizeof name, "/band-%03d.pbm", band);
            file_.close();
            file_.open(folder_ + name, std::ios::binary);
            file_ << "P4\n" << width << ' ' << rows << '\n';
        }
        file_.write(reinterpret_cast<const char*>(bits), (width + 7) / 8);
        failed_ = failed_ || !file_;
    }
    bool Close() {
        file_.close();
        return !failed_;
    }

  private:
    std::string folder_;
    std::ofstream file_;
    bool failed_ = false;
};

int RunRender(const RenderCommand& o) {
    std::ifstream in(o.input, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "adihost: %s: cannot be read\n", o.input.c_str());
        return kRefused;
    }
    varnu::preview::Options options;
    options.dpi = o.dpi;
    options.verbose = o.verbose;
    BandFiles bands(o.bands);
    if (!o.bands.empty())
        options.bandRow = [&bands](int band, int width, int rows, int row,
                                   const std::uint8_t* bits) {
            bands.Row(band, width, rows, row, bits);
        };
    bool unreadable = false;
    const varnu::preview::Rendering result = varnu::preview::Render(
        [&](char* to, std::size_t n) {
            in.read(to, static_cast<std::streamsize>(n));
            unreadable = unreadable || in.bad();
            return static_cast<std::size_t>(in.gcount());
        },
        options);
    if (unreadable) {
        std::fprintf(stderr, "adihost: %s: cannot be read\n", o.input.c_str());
        return kRefused;
    }
    if (!result.ok)
        std::fprintf(stderr, "adihost: %s: %s\n", o.input.c_str(), result.error.c_str());
    if (!result.ok && (!o.partial || result.sheet == nullptr)) return kRefused;
    std::string error;
    if (!varnu::preview::WritePng(result, o.output, o.input, &error)) {
        std::fprintf(stderr, "adihost: %s\n", error.c_str());
        return kRefused;
    }
    if (!bands.Close()) {
        std::fprintf(stderr, "adihost: cannot write the bands into %s\n", o.bands.c_str());
        return kRefused;
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

CLI::App* AddPlotCommand(CLI::App& app, PlotOptions* plot) {
    CLI::App* command = app.add_subcommand(
        "plot", "plot a job script (.adi), an image (.png, .tif, .jpg), a DXF or a PDF");
    command
        ->add_option("INPUT", plot->input,
                     "job script, DXF or PDF drawing, or image (images of at most 268435456 "
                     "pixels, e.g. 16384 x 16384, and 1048576 a side)")
        ->required()
        ->check(CLI::ExistingFile);
    command
        ->add_option("-o,--output", plot->output,
                     "the printer stream to write (- for standard output; a device or FIFO is "
                     "written as it is)")
        ->required();
    command->add_option("--label", plot->label,
                        "label text for the sheet (typed into the driver dialog)");
    command->add_flag("--fit", plot->fit, "fit an image to the page (the default)");
    command->add_option("--at", plot->at, "place an image at X0,Y0,X1,Y1 millimetres");
    command->add_option("--color", plot->colour, "colour index of a one-bit image's set pixels")
        ->check(CLI::Range(0, 7));
    command->add_flag("--transparent", plot->transparent,
                      "image background shows the drawing through");
    command->add_flag("--quiet", plot->quiet, "no progress bar");
    command->add_option("--page", plot->pages, "PDF: the page to plot (from 1), or all");
    command->add_option("--rotate", plot->rotate, "PDF: auto turns a page that fits only turned")
        ->check(CLI::IsMember({"auto"}));
    command->add_option("--scale", plot->scale,
                        "DXF at a fixed scale 1:N (drawing units in mm) instead of fitted; "
                        "PDF: the page's size times a factor or 1:N");
    command->add_option("--origin", plot->origin,
                        "with --scale: the drawing's origin at X,Y mm on the sheet");
    command->add_option("--layers", plot->layers,
                        "DXF: plot only these layers (A,B,...), even those off or frozen");
    return command;
}

CLI::App* AddConfigureCommand(CLI::App& app, ConfigureOptions* configure, std::vector<int>* curve,
                              bool* show) {
    CLI::App* command =
        app.add_subcommand("configure", "edit the stored configuration through the setup dialog");
    command->add_option("--paper", configure->paper, "paper format: row number 1..41 or its name");
    command->add_option("--length", configure->length, "custom paper length in mm");
    command->add_option("--margin", configure->margin, "margin in mm, 0..10");
    command->add_option("--copies", configure->copies, "copies, 1..99");
    command->add_option("--media", configure->media, "media row, 0..3");
    command->add_option("--fill", configure->fill, "polygon fill")
        ->check(CLI::IsMember({"solid", "halftone"}));
    command->add_option("--resolution", configure->resolution, "raster resolution")
        ->check(CLI::IsMember({600, 400, 300, 200}));
    command->add_option("--program", configure->program, "finishing program row, 0..20");
    command->add_option("--finish-margin", configure->finishMargin, "finishing margin row, 0..1");
    command->add_option("--bin", configure->bin, "output bin row, 0..14");
    command->add_option("--manual-output", configure->manualOutput, "manual output")
        ->check(CLI::IsMember({"yes", "no"}));
    command->add_option("--curve", *curve, "image correction P0,P1,P2,P3,P4 (0..255 each)")
        ->delimiter(',')
        ->expected(5)
        ->check(CLI::Range(0, 255));
    command->add_flag("--defaults", configure->defaults, "start from the driver's defaults");
    command->add_flag("--show", *show, "print the configuration summary and the line types");
    command->add_option("--curve-png", configure->curvePng,
                        "save the image-correction preview as PNG");
    return command;
}

// The record read and written by the run: refused when it is no record, or
// when a stream or picture would be written over it.
bool CheckRecord(const std::string& configPath, const PlotOptions& plot,
                 const std::string& renderOutput) {
    UseConfigFile(configPath);
    std::string error;
    if (!CheckConfigFile(&error)) {
        Refuse(error);
        return false;
    }
    for (const std::string* output : {&plot.output, &renderOutput})
        if (!output->empty() && SameFile(*output, configPath)) {
            Refuse(*output + " is the configuration record; it would be destroyed");
            return false;
        }
    return true;
}

int Run(int argc, char** argv) {
    CLI::App app{"adihost: plots through the Varnu 4820/4810 Wide Format driver (ADI 4.3)"};
    app.require_subcommand(1);
    std::string configPath = DefaultConfigPath();
    app.add_option("--config", configPath, "the stored 40-byte configuration record")
        ->capture_default_str();
    PlotOptions plot;
    CLI::App* plotCommand = AddPlotCommand(app, &plot);
    ConfigureOptions configure;
    std::vector<int> curve;
    bool show = false;
    CLI::App* configureCommand = AddConfigureCommand(app, &configure, &curve, &show);

    RenderCommand render;
    CLI::App* renderCommand =
        app.add_subcommand("render", "draw the sheet a driver stream prints, as a PNG");
    renderCommand->add_option("STREAM", render.input, "a stream the driver wrote")
        ->required()
        ->check(CLI::ExistingFile);
    renderCommand
        ->add_option("-o,--output", render.output, "the PNG to write (- for standard output)")
        ->required();
    renderCommand
        ->add_option("--dpi", render.dpi,
                     "preview pixels per inch of the sheet, 1 to 600 for every sheet the driver "
                     "describes (15,000 mm of a 36-inch roll, and up to 2.54 times that in "
                     "a mode's steps)")
        ->check(CLI::Range(1.0, varnu::preview::kMaxDpi));
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
    if (!CheckRecord(configPath, plot, render.output)) return kRefused;
    InstallSignalCleanup();
    plot.fitGiven = plotCommand->get_option("--fit")->count() > 0;
    plot.pagesGiven = plotCommand->get_option("--page")->count() > 0;
    std::string error;
    if (!InstallHost(&error)) return Refuse(error);
    if (*plotCommand) return RunPlot(plot);
    if (*configureCommand) return RunConfigure(configure, show);
    if (*renderCommand) return RunRender(render);
    if (*demoCommand) return RunDemo(demoDirectory, demoQuiet);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // No exception leaves the program: a refusal, not an abort; the output
    // of a plot abandoned on the way is removed as its session ends.
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("adihost: out of memory\n", stderr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "adihost: %s\n", e.what());
    }
    return kRefused;
}
