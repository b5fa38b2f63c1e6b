// adihost: plots job scripts, images, DXF and PDF drawings through the
// Varnu 4820/4810 driver, edits its stored configuration, previews streams
// and runs the built-in demo job. Command-line handling on the host library.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "adihost/demo.h"
#include "model/nesting.h"
#include "model/print.h"
#include "model/roll_sheet.h"
#include "preview/preview.h"
#include "readers/documents.h"
#include "readers/ipp_media.h"
#include "readers/test_page.h"
#include "session/config_store.h"
#include "session/configure.h"
#include "session/driver.h"
#include "session/plot_session.h"
#include "session/text.h"
#include "sinks/output_file.h"
#include "sinks/png_file.h"
#include "sinks/signals.h"
#include "varnu/printer_tables.h"
#include "varnu_version.h"

namespace {

using namespace adihost;
using namespace varnu::host;

constexpr int kRefused = 1;

struct PlotOptions {
    std::string input, output, label, at, scale, origin, layers;
    bool fit = true, transparent = false, quiet = false;
    int colour = 7;
    std::string pages = "all", rotate = "auto";
    bool fitGiven = false;
    std::string nest = "none", gap = "5";  // --gap in mm, read by ReadGap
    bool cutMarks = false, gapGiven = false;
};

int Refuse(const std::string& error) {
    std::fprintf(stderr, "adihost: %s\n", error.c_str());
    return kRefused;
}

// Each configure message on its own line.
void PrintMessages(const std::vector<std::string>& messages) {
    for (const std::string& m : messages) std::fprintf(stderr, "adihost: %s\n", m.c_str());
}

// --scale for pages: a factor (0.5) or 1:N, the whole text a number; the
// page from a thousandth to a hundred times its size.
bool ReadPageScale(const std::string& text, double* scale, std::string* error) {
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

// --scale 1:N, --origin X,Y and --layers A,B for a drawing.
bool ReadDrawingOptions(const PlotOptions& o, DocumentOptions* d, std::string* error) {
    if (!o.scale.empty()) {
        double one = 0, n = 0;
        if (std::sscanf(o.scale.c_str(), "%lf:%lf", &one, &n) != 2 || !(one > 0) || !(n > 0) ||
            !std::isfinite(n / one) || n / one < 1e-6 || n / one > 1e9) {
            *error = "--scale expects 1:N with N from 0.000001 to 1000000000";
            return false;
        }
        d->scaleDenominator = n / one;
    }
    if (!o.origin.empty() &&
        (std::sscanf(o.origin.c_str(), "%lf,%lf", &d->originX, &d->originY) != 2 ||
         !(std::fabs(d->originX) <= 1e6) || !(std::fabs(d->originY) <= 1e6))) {
        *error = "--origin expects X,Y in millimetres (at most 1000000 either way)";
        return false;
    }
    for (std::size_t at = 0; !o.layers.empty() && at <= o.layers.size();) {
        const std::size_t comma = std::min(o.layers.find(',', at), o.layers.size());
        if (comma > at) d->layers.push_back(o.layers.substr(at, comma - at));
        at = comma + 1;
    }
    return true;
}

// The command line as what is asked of the document's pages: pages at
// their own size unless --fit, turned where only then they fit unless
// --rotate none; images placed with --at; drawings with --scale 1:N.
bool ReadDocumentOptions(const PlotOptions& o, const DocumentFormat& format, DocumentOptions* d,
                         std::string* error) {
    d->scaling = o.fitGiven ? Scaling::Fit : Scaling::None;
    // Nested, --rotate is the nest's: a page fills its cell whichever way
    // the sheet's axes run.
    d->mayTurn = o.rotate == "auto" || o.nest == "across-roll";
    d->progress = !o.quiet;
    d->transparent = o.transparent;
    d->colour = o.colour;
    if (std::string(format.mime) == "image/vnd.dxf") return ReadDrawingOptions(o, d, error);
    return ReadCorners(o.at, &d->at, error) && ReadPageScale(o.scale, &d->scale, error);
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

constexpr double kMm = 1 / 25.4;

// --gap: millimetres between nested pages, 0 to 100; with --cut-marks it
// goes only with --nest across-roll.
bool ReadGap(const PlotOptions& o, double* gap, std::string* error) {
    if (o.nest != "across-roll" && (o.gapGiven || o.cutMarks)) {
        *error = "--gap and --cut-marks go with --nest across-roll";
        return false;
    }
    double mm = 0;
    int used = 0;
    if (std::sscanf(o.gap.c_str(), "%lf%n", &mm, &used) != 1 ||
        used != static_cast<int>(o.gap.size()) || !(mm >= 0 && mm <= 100)) {
        *error = "--gap " + o.gap + ": give 0 to 100 mm between nested pages";
        return false;
    }
    *gap = mm * kMm;
    return true;
}

// The roll of the stored paper row; none where the row is a fixed format.
const varnu::RollWidth* StoredRoll(std::string* error) {
    const int row = StoredConfig().paperIndex;
    for (const varnu::RollWidth& roll : varnu::RollWidths())
        if (roll.row == row) return &roll;
    const varnu::PaperFormatRecord* paper = varnu::PaperFormat(0, row);
    std::string name = paper != nullptr ? Utf8FromWindows1252(paper->name) : "";
    while (!name.empty() && name.back() == ' ') name.pop_back();
    std::string rolls;  // "23..41": the table keeps its rolls together
    for (const varnu::RollWidth& roll : varnu::RollWidths())
        rolls = (rolls.empty() ? std::to_string(roll.row) : rolls.substr(0, rolls.find('.'))) +
                ".." + std::to_string(roll.row);
    *error = "--nest across-roll nests pages on a roll, and the stored paper \"" + name +
             "\" is no roll: choose one with adihost configure --paper N (the rolls are rows " +
             rolls + "; adihost configure --list-papers names them)";
    return nullptr;
}

// The pages nested across the stored roll, as one page on a sheet of the
// roll's width by the nest's length and the margins, set in a copy of the
// stored record for this run (the record's file stays as it is).
bool NestOnRoll(const PlotOptions& o, double gap, Document& document, PrintRequest* request,
                std::unique_ptr<Document>* nested, std::string* error) {
    const varnu::RollWidth* roll = StoredRoll(error);
    if (roll == nullptr) return false;
    std::vector<Area> sizes;
    std::vector<NestedPage> pages;
    for (const int index : request->pages) {
        const std::optional<Area> size = document.PageSize(index);
        if (!size) {
            *error =
                "--nest across-roll nests pages by their own size, which this document's "
                "have not (images, DXF drawings and HP-GL/2 files without PS are placed "
                "on the sheet): plot it without --nest";
            return false;
        }
        sizes.push_back(*size);
        pages.push_back({&document, index});
    }
    const int margin = StoredConfig().marginMm;
    const double width = roll->width / 2540.0;
    const NestRules rules{width - 2 * margin * kMm, gap, o.rotate == "auto", o.cutMarks};
    Nest nest;
    RollCut cut;
    if (!NestPages(sizes, rules, &nest, error)) return false;
    if (nest.length + 2 * margin * kMm > roll->maxLengthMm * kMm) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "the nest is %.0f mm long with the margins; a sheet of the roll is at most "
                      "%d mm: plot fewer pages (--page)",
                      (nest.length + 2 * margin * kMm) / kMm, roll->maxLengthMm);
        *error = text;
        return false;
    }
    // The nest already lies as it should: its sheet is not turned.
    if (!CutFromRoll(NestArea(nest), width, margin, false, roll->maxLengthMm, &cut, error))
        return false;
    RecordBytes record;
    if (LoadConfigRecord(40, record.data()) != 0) {
        *error = "the stored configuration cannot be read";
        return false;
    }
    UseConfigMemory(record);
    ConfigureOptions sheet;
    sheet.paper = std::to_string(roll->row);
    sheet.length = CutLengthMm(cut);
    std::vector<std::string> messages;
    if (!Configure(sheet, &messages)) {
        *error = "the roll sheet was refused";
        for (const std::string& m : messages) *error += "; " + m;
        return false;
    }
    *nested = std::make_unique<NestedPages>(std::move(pages), std::move(nest), rules);
    request->pages = {0};
    return true;
}

// Every page of the document, or the one --page names, each a job; or
// nested across the roll, all as one job.
int RunPlot(const PlotOptions& o) {
    std::string error;
    double gap = 0;
    if (!ReadGap(o, &gap, &error)) return Refuse(error);
    const DocumentFormat* format = FormatOf(o.input, "", &error);
    DocumentOptions options;
    if (format == nullptr || !ReadDocumentOptions(o, *format, &options, &error))
        return Refuse(error);
    const std::unique_ptr<Document> document = format->open(o.input, options, &error);
    if (document == nullptr)
        return Refuse(error.rfind(o.input, 0) == 0 ? error : o.input + ": " + error);
    PrintRequest request;
    request.label = o.label;
    request.progress = !o.quiet;
    if (!PageList(o.pages, document->pages(), &request.pages, &error)) return Refuse(error);
    if (!EnsureConfiguration()) return kRefused;
    std::unique_ptr<Document> nested;
    if (o.nest == "across-roll" && !NestOnRoll(o, gap, *document, &request, &nested, &error))
        return Refuse(o.input + ": " + error);
    PlotSession session;
    PrintReport report;
    const bool plotted =
        session.Open({o.output, o.input, {}}, &error) &&
        PrintDocument(nested ? *nested : *document, request, &session, &report, &error) &&
        session.Finish(&error);
    for (const std::string& note : report.notes)
        std::fprintf(stderr, "adihost: %s\n", note.c_str());
    if (!plotted) return Refuse(error.rfind(o.input, 0) == 0 ? error : o.input + ": " + error);
    return 0;
}

// The printer's test page with the stored configuration.
int RunTestPage(const std::string& output) {
    if (!EnsureConfiguration()) return kRefused;
    const std::unique_ptr<Document> page = OpenTestPage();
    PrintRequest request;
    request.pages = {0};
    PlotSession session;
    PrintReport report;
    std::string error;
    if (session.Open({output, {}, {}}, &error) &&
        PrintDocument(*page, request, &session, &report, &error) && session.Finish(&error))
        return 0;
    return Refuse(error);
}

int RunConfigure(const ConfigureOptions& o, bool show, bool listPapers) {
    if (listPapers) {
        const std::vector<std::string> names = PaperList();
        for (std::size_t i = 0; i < names.size(); ++i)
            std::printf("%2zu  %s\n", i + 1, names[i].c_str());
        return names.empty() ? kRefused : 0;
    }
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

// Where each job of an RTL/GL2 stream begins (its PJL opening), read a
// piece at a time; one job for any other stream, which is not read here:
// it may never end (a device, a pipe) and is refused as it comes.
std::vector<std::uint64_t> JobStarts(std::ifstream& in) {
    static const std::string kOpening = "\x1b%-12345X@PJL";
    std::vector<std::uint64_t> starts;
    std::string head(kOpening.size(), '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    in.clear();
    in.seekg(0);
    if (head != kOpening) return {0};
    std::string carry;
    std::vector<char> piece(1 << 20);
    std::uint64_t at = 0;
    while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
        const std::string text =
            carry + std::string(piece.data(), static_cast<std::size_t>(in.gcount()));
        // The carry is shorter than the opening: each match here is new.
        for (std::size_t found = text.find(kOpening); found != std::string::npos;
             found = text.find(kOpening, found + 1))
            starts.push_back(at - carry.size() + found);
        at += static_cast<std::uint64_t>(in.gcount());
        carry = text.substr(text.size() - std::min(text.size(), kOpening.size() - 1));
    }
    if (starts.empty() || starts.front() != 0) starts.insert(starts.begin(), 0);
    in.clear();
    return starts;
}

// "plan.png" for the sheet `n` (from 1) of several: "plan-2.png".
std::string SheetName(const std::string& output, std::size_t n, std::size_t count) {
    if (count == 1) return output;
    const std::size_t dot = output.rfind('.');
    const std::size_t slash = output.rfind('/');
    const bool suffix = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (suffix ? output.substr(0, dot) : output) + "-" + std::to_string(n) +
           (suffix ? output.substr(dot) : "");
}

// One job of the stream, bytes `begin` to `end`, drawn and written.
int RenderJob(std::ifstream& in, std::uint64_t begin, std::uint64_t end, const RenderCommand& o,
              const std::string& output, BandFiles* bands) {
    varnu::preview::Options options;
    options.dpi = o.dpi;
    options.verbose = o.verbose;
    if (!o.bands.empty())
        options.bandRow = [bands](int band, int width, int rows, int row,
                                  const std::uint8_t* bits) {
            bands->Row(band, width, rows, row, bits);
        };
    in.clear();
    in.seekg(static_cast<std::streamoff>(begin));
    std::uint64_t left = end - begin;
    bool unreadable = false;
    const varnu::preview::Rendering result = varnu::preview::Render(
        [&](char* to, std::size_t n) {
            in.read(to, static_cast<std::streamsize>(std::min<std::uint64_t>(n, left)));
            unreadable = unreadable || in.bad();
            left -= static_cast<std::uint64_t>(in.gcount());
            return static_cast<std::size_t>(in.gcount());
        },
        options);
    if (unreadable) return Refuse(o.input + ": cannot be read");
    if (!result.ok)
        std::fprintf(stderr, "adihost: %s: %s\n", o.input.c_str(), result.error.c_str());
    if (!result.ok && (!o.partial || result.sheet == nullptr)) return kRefused;
    std::string error;
    if (!varnu::preview::WritePng(result, output, o.input, &error)) return Refuse(error);
    return result.ok ? 0 : kRefused;
}

// Each sheet of the stream as a PNG of its own (NAME-1.png, NAME-2.png ...
// where there are several; only the first to standard output).
int RunRender(const RenderCommand& o) {
    std::ifstream in(o.input, std::ios::binary);
    if (!in) return Refuse(o.input + ": cannot be read");
    std::vector<std::uint64_t> starts = JobStarts(in);
    in.clear();
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    // A device or pipe has no end to seek to: read it until it stops.
    const std::uint64_t size =
        starts.size() > 1 || end > 0 ? static_cast<std::uint64_t>(end) : UINT64_MAX;
    if (o.output == "-" && starts.size() > 1) {
        std::fprintf(stderr, "adihost: %s holds %zu sheets; the first is drawn\n", o.input.c_str(),
                     starts.size());
        starts.resize(1);
    }
    BandFiles bands(o.bands);
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::string output = SheetName(o.output, i + 1, starts.size());
        const int status = RenderJob(in, starts[i], i + 1 < starts.size() ? starts[i + 1] : size, o,
                                     output, &bands);
        if (status != 0) return status;
        if (starts.size() > 1)
            std::fprintf(stderr, "adihost: sheet %zu: %s\n", i + 1, output.c_str());
    }
    if (!bands.Close()) return Refuse("cannot write the bands into " + o.bands);
    return 0;
}

}  // namespace

// Under LeakSanitizer (the asan build): fontconfig, which cairo's text uses,
// keeps its caches for the life of the process by design.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace {

CLI::App* AddPlotCommand(CLI::App& app, PlotOptions* plot) {
    CLI::App* command =
        app.add_subcommand("plot",
                           "plot a job script (.adi), an image (.png, .tif, .jpg), a DXF, a PDF or "
                           "an HP-GL/2 file (.plt; any "
                           "file is known by its contents first, then by its name)");
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
    command->add_option("--page", plot->pages, "the page to plot (from 1), or all (the default)");
    command
        ->add_option("--rotate", plot->rotate,
                     "auto (the default) turns a page that fits only turned; none never does")
        ->check(CLI::IsMember({"auto", "none"}));
    command
        ->add_option("--nest", plot->nest,
                     "none (the default): each page a job; across-roll: the pages side by side "
                     "across the stored roll, one job")
        ->check(CLI::IsMember({"none", "across-roll"}));
    command->add_option("--gap", plot->gap, "with --nest: mm between nested pages, 0..100 (5)");
    command->add_flag("--cut-marks", plot->cutMarks,
                      "with --nest: marks at the nested pages' corners to cut along");
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
                              bool* show, bool* listPapers) {
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
    command->add_flag("--list-papers", *listPapers,
                      "list the paper formats by number and name (what --paper takes)");
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
    app.set_version_flag("--version", std::string("adihost ") + varnu::kReleaseVersion);
    std::string configPath = DefaultConfigPath();
    app.add_option("--config", configPath, "the stored 40-byte configuration record")
        ->capture_default_str();
    PlotOptions plot;
    CLI::App* plotCommand = AddPlotCommand(app, &plot);
    ConfigureOptions configure;
    std::vector<int> curve;
    bool show = false, listPapers = false;
    CLI::App* configureCommand = AddConfigureCommand(app, &configure, &curve, &show, &listPapers);

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

    std::string testPageOutput;
    CLI::App* testPageCommand = app.add_subcommand(
        "test-page", "plot the printer's test page with the stored configuration");
    testPageCommand->add_option("-o,--output", testPageOutput, "the printer stream to write")
        ->required();

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
    plot.gapGiven = plotCommand->get_option("--gap")->count() > 0;
    std::string error;
    if (!InstallHost(&error)) return Refuse(error);
    if (*plotCommand) return RunPlot(plot);
    if (*configureCommand) return RunConfigure(configure, show, listPapers);
    if (*renderCommand) return RunRender(render);
    if (*demoCommand) return RunDemo(demoDirectory, demoQuiet);
    if (*testPageCommand) return RunTestPage(testPageOutput);
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
