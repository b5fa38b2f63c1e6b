#include "readers/cups_raster.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "model/fit.h"
#include "readers/cups_options.h"
#include "sinks/temporary.h"
#include "varnu/printer_tables.h"

namespace varnu::host {

namespace {

// Points a page size may differ from a paper format's.
constexpr double kSizeSlackPoints = 2.5;

// A fixed format of this size, either way round, or else a roll of this
// width cut to the length; false when there is neither.
bool ChoosePaper(double w, double l, ConfigureOptions* o) {
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
        o->paper = std::to_string(fixed);
    } else if (custom != 0) {
        o->paper = std::to_string(custom);
        o->length = static_cast<int>(std::lround(l / 72 * 25.4));
    }
    return fixed != 0 || custom != 0;
}

// The PPD's own options, each a field of the header holding row plus one.
void ChooseOptions(const cups_page_header2_t& h, ConfigureOptions* o) {
    if (h.cupsMediaType > 0) o->media = static_cast<int>(h.cupsMediaType) - 1;
    if (h.cupsInteger[varnu::kFillField] > 0)
        o->fill = h.cupsInteger[varnu::kFillField] == 1 ? "solid" : "halftone";
    if (h.cupsInteger[varnu::kProgramField] > 0)
        o->program = static_cast<int>(h.cupsInteger[varnu::kProgramField]) - 1;
    // The finishing margin is offered only with a finishing program.
    const varnu::FinishingChoiceRecord* program = varnu::FinishProgram(0, o->program.value_or(0));
    if (h.cupsInteger[varnu::kFinishMarginField] > 0 && program != nullptr &&
        !varnu::IsBypassProgram(*program))
        o->finishMargin = static_cast<int>(h.cupsInteger[varnu::kFinishMarginField]) - 1;
    if (h.cupsInteger[varnu::kMarginField] > 0)
        o->margin = static_cast<int>(h.cupsInteger[varnu::kMarginField]) - 1;
}

}  // namespace

RasterPages::~RasterPages() {
    if (raster_ != nullptr) cupsRasterClose(raster_);
    if (spool_ >= 0) close(spool_);
}

bool RasterPages::Open(std::string* error) {
    raster_ = cupsRasterOpen(fd_, CUPS_RASTER_READ);
    if (raster_ == nullptr) *error = "the input is not a CUPS raster stream";
    return raster_ != nullptr;
}

bool RasterPages::Next() {
    if (spool_ >= 0) close(spool_);
    spool_ = -1;
    if (!cupsRasterReadHeader2(raster_, &header_)) return false;
    ++page_;
    return true;
}

int RasterPages::Channels() const {
    const cups_page_header2_t& h = header_;
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

bool RasterPages::Settings(int copies, ConfigureOptions* o, std::string* error) const {
    const cups_page_header2_t& h = header_;
    if (Channels() == 0 || h.cupsWidth == 0 || h.cupsHeight == 0 ||
        h.cupsBytesPerLine != h.cupsWidth * static_cast<unsigned>(Channels())) {
        *error = "page " + std::to_string(page_) +
                 ": only 8-bit grey or RGB raster, chunked, is printed";
        return false;
    }
    *o = ConfigureOptions{};
    o->defaults = true;
    o->copies = std::clamp(copies, 1, 99);
    if (!ChoosePaper(h.PageSize[0], h.PageSize[1], o)) {
        *error = "no paper format or roll width of " + std::to_string(h.PageSize[0]) + " x " +
                 std::to_string(h.PageSize[1]) + " points";
        return false;
    }
    const int dpi = static_cast<int>(h.HWResolution[0]);
    if (dpi != 600 && dpi != 400 && dpi != 300 && dpi != 200) {
        *error = "resolution " + std::to_string(dpi) + " dpi is not offered (600, 400, 300, 200)";
        return false;
    }
    o->resolution = dpi;
    ChooseOptions(h, o);
    if (h.cupsInteger[varnu::kDataModeField] > 1) {
        *error = "the VCGL+MMR data mode is not offered by this printer";
        return false;
    }
    return true;
}

bool RasterPages::Spool(const std::string& directory, std::string* error) {
    spool_ = OpenUnnamedFile(directory, error);
    if (spool_ < 0) return false;
    const cups_page_header2_t& h = header_;
    std::vector<unsigned char> line(h.cupsBytesPerLine);
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
        if (cupsRasterReadPixels(raster_, line.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine) {
            *error = "the raster stream ends inside page " + std::to_string(page_) + " (line " +
                     std::to_string(y + 1) + " of " + std::to_string(h.cupsHeight) + ")";
            return false;
        }
        if (pwrite(spool_, line.data(), line.size(),
                   static_cast<off_t>(y) * static_cast<off_t>(line.size())) !=
            static_cast<ssize_t>(line.size())) {
            *error = std::string("cannot write the page file: ") + std::strerror(errno);
            return false;
        }
    }
    return true;
}

// Picture pixels from the spool file; `turned`: the picture is the raster
// turned a quarter clockwise.
bool RasterPages::ReadRectangle(bool turned, std::int32_t x, std::int32_t y, std::int32_t w,
                                std::int32_t hgt, std::uint32_t* pixels, std::string* error) const {
    const cups_page_header2_t& h = header_;
    const int channels = Channels();
    const off_t bpl = h.cupsBytesPerLine;
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
    std::vector<unsigned char> segment(static_cast<std::size_t>(span) * channels);
    for (std::int32_t k = 0; k < reads; ++k) {
        const std::int64_t row =
            turned ? static_cast<std::int64_t>(h.cupsHeight) - 1 - (x + k) : y + k;
        const std::int64_t column = turned ? y : x;
        const off_t at = static_cast<off_t>(row) * bpl + static_cast<off_t>(column) * channels;
        if (pread(spool_, segment.data(), segment.size(), at) !=
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

bool RasterPages::PagePlot(const Sheet& sheet, Plot* plot, std::string* error) const {
    const cups_page_header2_t& h = header_;
    const double dpi = h.HWResolution[0];
    const Area size{h.cupsWidth / dpi, h.cupsHeight / dpi};  // inches
    const auto fit = FitPage(size, sheet, {false, 1, true});
    if (!fit) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "page %d (%.0f x %.0f mm) is larger than the sheet (%.0f x %.0f mm)", page_,
                      size.width * 25.4, size.height * 25.4, sheet.extentX * 25.4,
                      sheet.extentY * 25.4);
        *error = text;
        return false;
    }
    const bool turned = fit->turned;
    Picture picture;
    picture.width = static_cast<std::int32_t>(turned ? h.cupsHeight : h.cupsWidth);
    picture.height = static_cast<std::int32_t>(turned ? h.cupsWidth : h.cupsHeight);
    picture.render = [this, turned](std::int32_t x, std::int32_t y, std::int32_t w,
                                    std::int32_t hgt, std::uint32_t* pixels, std::string* e) {
        return ReadRectangle(turned, x, y, w, hgt, pixels, e);
    };
    picture.label = "page " + std::to_string(page_);
    *plot = Plot(picture.label);
    plot->DrawPicture(std::move(picture), fit->placement);
    return true;
}

}  // namespace varnu::host
