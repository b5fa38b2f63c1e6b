// rastertovarnu: the CUPS filter of the Varnu 4820/4810. Reads CUPS raster
// (8-bit grey or RGB) from a file or standard input, configures the driver
// from each page header as the setup dialog would, sends the page as an
// image whose lines are fed from the raster, and writes the printer stream
// to standard output once every page is done.
//
//   rastertovarnu job user title copies options [file]
#include <cups/cups.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "adihost/banded_image.h"
#include "adihost/configure.h"
#include "adihost/host.h"
#include "cups/varnu_options.h"
#include "varnu/printer_tables.h"

namespace {

using namespace adihost;

// How far a raster page may pass the sheet (rounding to points and dots).
constexpr double kSlackInches = 0.02;
// Points a page size may differ from a paper format's.
constexpr double kSizeSlackPoints = 2.5;

std::string Scratch;  // our directory inside the job's TMPDIR
int PageFile = -1;    // the current page's raster lines, unlinked

// The scratch files by name, for the signal handler (no allocation there).
char ScratchFiles[4][4096];
char ScratchDirectory[4096];

// CUPS cancels a job with SIGTERM: nothing of it may stay behind.
void Cancelled(int) {
    for (const char* path : ScratchFiles) unlink(path);
    rmdir(ScratchDirectory);
    _exit(1);
}

void Cleanup() {
    if (PageFile >= 0) close(PageFile);
    PageFile = -1;
    if (!Scratch.empty()) {
        std::remove((Scratch + "/varnu.cfg").c_str());
        std::remove((Scratch + "/varnu.cfg.tmp").c_str());
        std::remove((Scratch + "/stream.prn").c_str());
        std::remove((Scratch + "/stream.prn.part").c_str());
        rmdir(Scratch.c_str());
    }
}

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "ERROR: %s\n", message.c_str());
    AbandonOutput();
    Cleanup();
    std::exit(1);
}

// The configuration a page header asks for, in the setup dialog's terms.
ConfigureOptions OptionsFor(const cups_page_header2_t& h, int copies) {
    ConfigureOptions o;
    o.defaults = true;
    o.copies = std::clamp(copies, 1, 99);
    const double w = h.PageSize[0], l = h.PageSize[1];
    // A fixed format of this size, either way round, or else a roll of this
    // width cut to the length.
    int fixed = 0, custom = 0;
    for (int row = 1; row <= varnu::PaperRowCount(0); ++row) {
        const varnu::PaperFormatRecord& p = *varnu::PaperFormat(0, row);
        const double pw = p.width * 72, pl = p.length * 72;
        auto near = [](double a, double b) { return std::fabs(a - b) <= kSizeSlackPoints; };
        if (p.custom == 0 && fixed == 0 &&
            ((near(w, pw) && near(l, pl)) || (near(w, pl) && near(l, pw))))
            fixed = row;
        if (p.custom != 0 && custom == 0 && near(w, pw)) custom = row;
    }
    if (fixed != 0) {
        o.paper = std::to_string(fixed);
    } else if (custom != 0) {
        o.paper = std::to_string(custom);
        o.length = static_cast<int>(std::lround(l / 72 * 25.4));
    } else {
        Fail("no paper format or roll width of " + std::to_string(h.PageSize[0]) + " x " +
             std::to_string(h.PageSize[1]) + " points");
    }
    const int dpi = static_cast<int>(h.HWResolution[0]);
    if (dpi != 600 && dpi != 400 && dpi != 300 && dpi != 200)
        Fail("resolution " + std::to_string(dpi) + " dpi is not offered (600, 400, 300, 200)");
    o.resolution = dpi;
    if (h.cupsMediaType > 0) o.media = static_cast<int>(h.cupsMediaType) - 1;
    if (h.cupsInteger[varnu::kFillField] > 0)
        o.fill = h.cupsInteger[varnu::kFillField] == 1 ? "solid" : "halftone";
    if (h.cupsInteger[varnu::kProgramField] > 0)
        o.program = static_cast<int>(h.cupsInteger[varnu::kProgramField]) - 1;
    // The finishing margin is offered only with a finishing program.
    const varnu::FinishingChoiceRecord* program = varnu::FinishProgram(0, o.program.value_or(0));
    if (h.cupsInteger[varnu::kFinishMarginField] > 0 && program != nullptr &&
        !varnu::IsBypassProgram(*program))
        o.finishMargin = static_cast<int>(h.cupsInteger[varnu::kFinishMarginField]) - 1;
    if (h.cupsInteger[varnu::kMarginField] > 0)
        o.margin = static_cast<int>(h.cupsInteger[varnu::kMarginField]) - 1;
    if (h.cupsInteger[varnu::kDataModeField] > 1)
        Fail("the VCGL+MMR data mode is not offered by this printer");
    return o;
}

int Channels(const cups_page_header2_t& h) {
    if (h.cupsBitsPerColor != 8 || h.cupsColorOrder != CUPS_ORDER_CHUNKED) return 0;
    switch (h.cupsColorSpace) {
        case CUPS_CSPACE_W:
        case CUPS_CSPACE_SW:
        case CUPS_CSPACE_K:
            return 1;
        case CUPS_CSPACE_RGB:
        case CUPS_CSPACE_SRGB:
            return 3;
        default:
            return 0;
    }
}

// The page's lines into an unlinked file: the driver takes them from the
// bottom up, the raster brings them from the top down.
void SpoolPage(cups_raster_t* raster, const cups_page_header2_t& h, int page) {
    const std::string path = Scratch + "/page";
    PageFile = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (PageFile < 0) Fail("cannot make a page file in " + Scratch + ": " + std::strerror(errno));
    unlink(path.c_str());
    std::vector<unsigned char> line(h.cupsBytesPerLine);
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
        if (cupsRasterReadPixels(raster, line.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine)
            Fail("the raster stream ends inside page " + std::to_string(page) + " (line " +
                 std::to_string(y + 1) + " of " + std::to_string(h.cupsHeight) + ")");
        if (pwrite(PageFile, line.data(), line.size(),
                   static_cast<off_t>(y) * static_cast<off_t>(line.size())) !=
            static_cast<ssize_t>(line.size()))
            Fail(std::string("cannot write the page file: ") + std::strerror(errno));
    }
}

// Reads picture pixels from the page file; `turned`: the picture is the
// raster turned a quarter clockwise.
bool ReadRectangle(const cups_page_header2_t& h, int channels, bool turned, std::int32_t x,
                   std::int32_t y, std::int32_t w, std::int32_t hgt, std::uint32_t* pixels,
                   std::string* error) {
    const off_t bpl = h.cupsBytesPerLine;
    std::vector<unsigned char> segment;
    auto put = [&](std::uint32_t* out, const unsigned char* in) {
        if (channels == 3) {
            *out = std::uint32_t{in[0]} << 16 | std::uint32_t{in[1]} << 8 | in[2];
        } else {
            const std::uint32_t v = h.cupsColorSpace == CUPS_CSPACE_K ? 255 - in[0] : in[0];
            *out = v << 16 | v << 8 | v;
        }
    };
    // One raster row a read: picture row y + j (unturned), or raster row
    // height - 1 - u for picture column u (turned).
    const std::int32_t reads = turned ? w : hgt;
    const std::int32_t span = turned ? hgt : w;
    segment.resize(static_cast<std::size_t>(span) * channels);
    for (std::int32_t k = 0; k < reads; ++k) {
        const std::int64_t row =
            turned ? static_cast<std::int64_t>(h.cupsHeight) - 1 - (x + k) : y + k;
        const std::int64_t column = turned ? y : x;
        const off_t at = static_cast<off_t>(row) * bpl + static_cast<off_t>(column) * channels;
        if (pread(PageFile, segment.data(), segment.size(), at) !=
            static_cast<ssize_t>(segment.size())) {
            *error = "cannot read the page file back";
            return false;
        }
        for (std::int32_t i = 0; i < span; ++i) {
            const std::size_t px =
                turned ? static_cast<std::size_t>(i) * w + k : static_cast<std::size_t>(k) * w + i;
            put(pixels + px, &segment[static_cast<std::size_t>(i) * channels]);
        }
    }
    return true;
}

void PrintPage(const cups_page_header2_t& h, int page) {
    PageData sheet;
    std::string error;
    if (!OpenPlotJob("", &sheet, &error)) Fail(error);
    const double dpi = h.HWResolution[0];
    const double w = h.cupsWidth / dpi, l = h.cupsHeight / dpi;  // inches
    auto fits = [&](double x, double y) {
        return x <= sheet.extentX + kSlackInches && y <= sheet.extentY + kSlackInches;
    };
    const bool turned = !fits(w, l) && fits(l, w);
    if (!fits(turned ? l : w, turned ? w : l)) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "page %d (%.0f x %.0f mm) is larger than the sheet (%.0f x %.0f mm)", page,
                      w * 25.4, l * 25.4, sheet.extentX * 25.4, sheet.extentY * 25.4);
        Fail(text);
    }
    const int channels = Channels(h);
    BandedPicture picture;
    picture.width = static_cast<std::int32_t>(turned ? h.cupsHeight : h.cupsWidth);
    picture.height = static_cast<std::int32_t>(turned ? h.cupsWidth : h.cupsHeight);
    picture.render = [&h, channels, turned](std::int32_t x, std::int32_t y, std::int32_t pw,
                                            std::int32_t ph, std::uint32_t* pixels,
                                            std::string* e) {
        return ReadRectangle(h, channels, turned, x, y, pw, ph, pixels, e);
    };
    // Centred, the picture's own size in host steps.
    const double r = sheet.resolution;
    const double x = std::min(picture.width / dpi, sheet.extentX);
    const double y = std::min(picture.height / dpi, sheet.extentY);
    const double x0 = (sheet.extentX - x) / 2 * r, y0 = (sheet.extentY - y) / 2 * r;
    const Placement at{static_cast<std::int32_t>(std::lround(x0)),
                       static_cast<std::int32_t>(std::lround(y0)),
                       static_cast<std::int32_t>(std::lround(x0 + x * r)),
                       static_cast<std::int32_t>(std::lround(y0 + y * r)),
                       false,
                       7};
    const bool sent = SendBandedPicture(picture, at, &error);
    ClosePlotJob();
    if (!sent) Fail("page " + std::to_string(page) + ": " + error);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6 || argc > 7) {
        std::fputs("Usage: rastertovarnu job user title copies options [file]\n", stderr);
        return 1;
    }
    int fd = 0;
    if (argc == 7 && (fd = open(argv[6], O_RDONLY)) < 0) {
        std::fprintf(stderr, "ERROR: cannot open %s: %s\n", argv[6], std::strerror(errno));
        return 1;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string scratch =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/rastertovarnu-XXXXXX";
    if (mkdtemp(scratch.data()) == nullptr) {
        std::fprintf(stderr, "ERROR: cannot make a scratch directory: %s\n", std::strerror(errno));
        return 1;
    }
    Scratch = scratch;
    const char* names[4] = {"varnu.cfg", "varnu.cfg.tmp", "stream.prn", "stream.prn.part"};
    for (int i = 0; i < 4; ++i)
        std::snprintf(ScratchFiles[i], sizeof ScratchFiles[i], "%s/%s", Scratch.c_str(), names[i]);
    std::snprintf(ScratchDirectory, sizeof ScratchDirectory, "%s", Scratch.c_str());
    struct sigaction cancel {};
    cancel.sa_handler = &Cancelled;
    sigaction(SIGTERM, &cancel, nullptr);

    HostOptions host;
    host.configPath = Scratch + "/varnu.cfg";
    host.quiet = true;
    InstallHost(host);
    EchoMessages(false);  // the driver's messages are not the job's
    std::string error;
    const std::string stream = Scratch + "/stream.prn";
    if (!BeginOutput(stream, {}, &error)) Fail(error);

    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
    if (raster == nullptr) Fail("the input is not a CUPS raster stream");
    const int copies = std::atoi(argv[4]);
    cups_page_header2_t header;
    int page = 0;
    while (cupsRasterReadHeader2(raster, &header)) {
        ++page;
        if (Channels(header) == 0 || header.cupsWidth == 0 || header.cupsHeight == 0 ||
            header.cupsBytesPerLine != header.cupsWidth * static_cast<unsigned>(Channels(header)))
            Fail("page " + std::to_string(page) +
                 ": only 8-bit grey or RGB raster, chunked, is printed");
        std::fprintf(stderr, "INFO: Printing page %d\n", page);
        if (RunConfigure(OptionsFor(header, copies)) != 0)
            Fail("page " + std::to_string(page) + ": the printer settings were refused");
        SpoolPage(raster, header, page);
        PrintPage(header, page);
        close(PageFile);
        PageFile = -1;
        std::fprintf(stderr, "PAGE: %d %d\n", page, std::clamp(copies, 1, 99));
    }
    cupsRasterClose(raster);
    if (page == 0) Fail("the raster stream holds no page");
    if (!FinishOutput(&error)) Fail(error);

    // The whole stream, now that every page is done.
    std::FILE* in = std::fopen(stream.c_str(), "rb");
    if (in == nullptr) Fail("cannot read back the printer stream");
    std::vector<char> buffer(1 << 16);
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
        if (std::fwrite(buffer.data(), 1, n, stdout) != n) {
            std::fclose(in);
            Fail("cannot write the printer stream");
        }
    std::fclose(in);
    if (std::fflush(stdout) != 0) Fail("cannot write the printer stream");
    std::fprintf(stderr, "INFO: Ready to print\n");
    Cleanup();
    return 0;
}
