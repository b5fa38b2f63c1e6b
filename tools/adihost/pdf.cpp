#include "adihost/pdf.h"

#include <cairo.h>
#include <poppler.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "adihost/banded_image.h"
#include "adihost/host.h"

namespace adihost {

namespace {

// How far a page may pass the sheet and still count as fitting: a page
// drawn for the format, its size rounded to points.
constexpr double kFitSlackInches = 0.02;
// cairo's image surfaces are at most 32767 pixels a side; taller bands
// are rendered in tiles of at most this many rows. Each tile renders the
// whole page clipped to it, so the fewer the faster.
constexpr std::int32_t kTileRows = 32000;

struct GObjectDeleter {
    void operator()(void* object) const {
        if (object != nullptr) g_object_unref(object);
    }
};
using Document = std::unique_ptr<PopplerDocument, GObjectDeleter>;
using Page = std::unique_ptr<PopplerPage, GObjectDeleter>;

// A file cut short in transfer keeps a readable start; poppler rebuilds
// its cross-reference and would print what is left as if it were all.
bool EndsWithEofMarker(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in.tellg();
    if (!in || size <= 0) return false;
    const std::streamoff tail = std::min<std::streamoff>(size, 1024);
    std::string bytes(static_cast<std::size_t>(tail), '\0');
    in.seekg(size - tail);
    in.read(bytes.data(), tail);
    return in && bytes.find("%%EOF") != std::string::npos;
}

bool OpenDocument(const std::string& path, Document* document, std::string* error) {
    if (!EndsWithEofMarker(path)) {
        *error = "not a complete PDF (no end-of-file marker; truncated?)";
        return false;
    }
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(path, ec).string();
    GError* gerror = nullptr;
    gchar* uri = g_filename_to_uri(absolute.c_str(), nullptr, &gerror);
    if (uri != nullptr) document->reset(poppler_document_new_from_file(uri, nullptr, &gerror));
    g_free(uri);
    if (*document == nullptr) {
        if (gerror != nullptr && gerror->domain == POPPLER_ERROR &&
            gerror->code == POPPLER_ERROR_ENCRYPTED)
            *error = "the PDF is password-protected; print it from a viewer that can open it";
        else
            *error = std::string("not a readable PDF: ") +
                     (gerror != nullptr ? gerror->message : "unknown error");
        if (gerror != nullptr) g_error_free(gerror);
        return false;
    }
    if (poppler_document_get_n_pages(document->get()) <= 0) {
        *error = "the PDF has no pages";
        return false;
    }
    return true;
}

// Where a page lands on the sheet: its picture size in device pixels, the
// area in host steps, and whether it is turned a quarter clockwise.
struct PageLayout {
    double scale = 1;
    bool turned = false;
    std::int32_t width = 0, height = 0;  // picture pixels
    Placement placement{};
};

bool LayOut(double pageW, double pageH, const PageData& sheet, int dpi, const PdfOptions& o,
            PageLayout* layout, std::string* error) {
    // Page sizes in inches; the sheet's printable extent in inches.
    const double w = pageW / 72, h = pageH / 72;
    auto fitScale = [&](bool turned) {
        return turned ? std::min(sheet.extentX / h, sheet.extentY / w)
                      : std::min(sheet.extentX / w, sheet.extentY / h);
    };
    auto fits = [&](bool turned, double s) {
        const double x = (turned ? h : w) * s, y = (turned ? w : h) * s;
        return x <= sheet.extentX + kFitSlackInches && y <= sheet.extentY + kFitSlackInches;
    };
    if (o.fit) {
        layout->turned = o.rotateAuto && fitScale(true) > fitScale(false);
        layout->scale = fitScale(layout->turned);
    } else {
        layout->scale = o.scale;
        layout->turned = o.rotateAuto && !fits(false, o.scale) && fits(true, o.scale);
        if (!fits(layout->turned, o.scale)) {
            char text[256];
            std::snprintf(text, sizeof text,
                          "the page (%.0f x %.0f mm at scale %g) does not fit the sheet "
                          "(%.0f x %.0f mm); use --fit, --scale or --rotate auto",
                          w * 25.4 * o.scale, h * 25.4 * o.scale, o.scale, sheet.extentX * 25.4,
                          sheet.extentY * 25.4);
            *error = text;
            return false;
        }
    }
    const double x = (layout->turned ? h : w) * layout->scale;
    const double y = (layout->turned ? w : h) * layout->scale;
    // Inside the sheet even where the slack let the page pass it.
    const double cx = std::min(x, sheet.extentX), cy = std::min(y, sheet.extentY);
    layout->width = std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(cx * dpi)));
    layout->height = std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(cy * dpi)));
    const double r = sheet.resolution;
    const double x0 = (sheet.extentX - cx) / 2 * r, y0 = (sheet.extentY - cy) / 2 * r;
    layout->placement = {static_cast<std::int32_t>(std::lround(x0)),
                         static_cast<std::int32_t>(std::lround(y0)),
                         static_cast<std::int32_t>(std::lround(x0 + cx * r)),
                         static_cast<std::int32_t>(std::lround(y0 + cy * r)),
                         false,
                         7};
    return true;
}

// Renders the rectangle of the page's picture straight into the band,
// tile by tile.
bool RenderRectangle(PopplerPage* page, const PageLayout& layout, int dpi, double pageH,
                     std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                     std::uint32_t* pixels, std::string* error) {
    const double k = dpi * layout.scale / 72;  // picture pixels a point
    const int stride = 4 * w;
    if (cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, w) != stride) {
        *error = "the band is too wide to draw";
        return false;
    }
    for (std::int32_t top = 0; top < h; top += kTileRows) {
        const std::int32_t rows = std::min(kTileRows, h - top);
        cairo_surface_t* surface = cairo_image_surface_create_for_data(
            reinterpret_cast<unsigned char*>(pixels + static_cast<std::size_t>(top) * w),
            CAIRO_FORMAT_RGB24, w, rows, stride);
        cairo_t* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_translate(cr, -x, -(y + top));
        if (layout.turned) {
            // A quarter clockwise: the page's top edge along the picture's right.
            cairo_translate(cr, pageH * k, 0);
            cairo_rotate(cr, M_PI / 2);
        }
        cairo_scale(cr, k, k);
        poppler_page_render_for_printing(page, cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        const cairo_status_t status = cairo_surface_status(surface);
        cairo_surface_destroy(surface);
        if (status != CAIRO_STATUS_SUCCESS) {
            *error = std::string("rendering failed: ") + cairo_status_to_string(status);
            return false;
        }
    }
    return true;
}

bool PlotPage(PopplerDocument* document, int index, int count, const PdfOptions& o,
              std::string* error) {
    PageData sheet;
    if (!OpenPlotJob(o.label, &sheet, error)) return false;
    Page page(poppler_document_get_page(document, index));
    bool ok = page != nullptr;
    if (!ok) *error = "page " + std::to_string(index + 1) + " cannot be read";
    double pageW = 0, pageH = 0;
    if (ok) poppler_page_get_size(page.get(), &pageW, &pageH);
    ok = ok && pageW > 0 && pageH > 0;
    const int dpi = ConfiguredDpi();
    PageLayout layout;
    if (ok && !LayOut(pageW, pageH, sheet, dpi, o, &layout, error)) {
        *error = "page " + std::to_string(index + 1) + ": " + *error;
        ok = false;
    }
    if (ok) {
        BandedPicture picture;
        picture.width = layout.width;
        picture.height = layout.height;
        PopplerPage* p = page.get();
        picture.render = [p, &layout, dpi, pageH](std::int32_t x, std::int32_t y, std::int32_t w,
                                                  std::int32_t h, std::uint32_t* pixels,
                                                  std::string* e) {
            return RenderRectangle(p, layout, dpi, pageH, x, y, w, h, pixels, e);
        };
        if (o.progress)
            picture.progressLabel =
                "page " + std::to_string(index + 1) + " of " + std::to_string(count);
        if (!SendBandedPicture(picture, layout.placement, error)) {
            *error = "page " + std::to_string(index + 1) + ": " + *error;
            ok = false;
        }
    }
    ClosePlotJob();
    return ok;
}

}  // namespace

bool PlotPdf(const std::string& path, const std::string& output, const PdfOptions& o,
             std::string* error) {
    if (!(o.scale > 0 && o.scale <= 100)) {
        *error = "--scale must be above 0 and at most 100";
        return false;
    }
    Document document;
    if (!OpenDocument(path, &document, error)) return false;
    const int count = poppler_document_get_n_pages(document.get());
    int first = 0, last = count - 1;
    if (o.pages != "all") {
        char* end = nullptr;
        const long n = std::strtol(o.pages.c_str(), &end, 10);
        if (o.pages.empty() || *end != '\0' || n < 1 || n > count) {
            *error = "--page " + o.pages + ": the PDF has " + std::to_string(count) +
                     " page(s); give 1.." + std::to_string(count) + " or all";
            return false;
        }
        first = last = static_cast<int>(n) - 1;
    }
    if (!BeginOutput(output, path, error)) return false;
    for (int i = first; i <= last; ++i) {
        if (!PlotPage(document.get(), i, count, o, error)) {
            AbandonOutput();
            return false;
        }
    }
    return FinishOutput(error);
}

}  // namespace adihost
