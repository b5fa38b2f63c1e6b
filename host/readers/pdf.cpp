#include "readers/pdf.h"

#include <cairo.h>
#include <poppler.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "model/fit.h"

namespace varnu::host {

namespace {

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
using Page = std::shared_ptr<PopplerPage>;

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

// Where the page's picture comes from: the page, turned or not, at k
// picture pixels a point.
struct PageDrawing {
    Page page;
    bool turned = false;
    double k = 1, pageH = 0;
};

// Renders the rectangle of the page's picture straight into the band,
// tile by tile.
bool RenderRectangle(const PageDrawing& d, std::int32_t x, std::int32_t y, std::int32_t w,
                     std::int32_t h, std::uint32_t* pixels, std::string* error) {
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
        if (d.turned) {
            // A quarter clockwise: the page's top edge along the picture's right.
            cairo_translate(cr, d.pageH * d.k, 0);
            cairo_rotate(cr, M_PI / 2);
        }
        cairo_scale(cr, d.k, d.k);
        poppler_page_render_for_printing(d.page.get(), cr);
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

std::string DoesNotFit(double w, double h, double scale, const Sheet& sheet) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "the page (%.0f x %.0f mm at scale %g) does not fit the sheet "
                  "(%.0f x %.0f mm); use --fit, --scale or --rotate auto",
                  w * 25.4 * scale, h * 25.4 * scale, scale, sheet.extentX * 25.4,
                  sheet.extentY * 25.4);
    return text;
}

}  // namespace

struct PdfDocument::Poppler {
    Document document;
};

PdfDocument::PdfDocument() : poppler_(std::make_unique<Poppler>()) {}
PdfDocument::~PdfDocument() = default;

bool PdfDocument::Open(const std::string& path, std::string* error) {
    if (!EndsWithEofMarker(path)) {
        *error = "not a complete PDF (no end-of-file marker; truncated?)";
        return false;
    }
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(path, ec).string();
    GError* gerror = nullptr;
    gchar* uri = g_filename_to_uri(absolute.c_str(), nullptr, &gerror);
    Document& document = poppler_->document;
    if (uri != nullptr) document.reset(poppler_document_new_from_file(uri, nullptr, &gerror));
    g_free(uri);
    if (document == nullptr) {
        if (gerror != nullptr && gerror->domain == POPPLER_ERROR &&
            gerror->code == POPPLER_ERROR_ENCRYPTED)
            *error = "the PDF is password-protected; print it from a viewer that can open it";
        else
            *error = std::string("not a readable PDF: ") +
                     (gerror != nullptr ? gerror->message : "unknown error");
        if (gerror != nullptr) g_error_free(gerror);
        return false;
    }
    if (pages() <= 0) {
        *error = "the PDF has no pages";
        return false;
    }
    return true;
}

int PdfDocument::pages() const {
    return poppler_->document ? poppler_document_get_n_pages(poppler_->document.get()) : 0;
}

bool PdfDocument::Pages(const std::string& pages, int* first, int* last, std::string* error) const {
    const int count = this->pages();
    *first = 0, *last = count - 1;
    if (pages == "all") return true;
    char* end = nullptr;
    const long n = std::strtol(pages.c_str(), &end, 10);
    if (pages.empty() || *end != '\0' || n < 1 || n > count) {
        *error = "--page " + pages + ": the PDF has " + std::to_string(count) +
                 " page(s); give 1.." + std::to_string(count) + " or all";
        return false;
    }
    *first = *last = static_cast<int>(n) - 1;
    return true;
}

bool PdfDocument::PagePlot(int index, const Sheet& sheet, int dpi, const PdfOptions& o, Plot* plot,
                           std::string* error) const {
    const std::string name = "page " + std::to_string(index + 1);
    PageDrawing d;
    d.page = Page(poppler_document_get_page(poppler_->document.get(), index), GObjectDeleter{});
    double pageW = 0, pageH = 0;
    if (d.page != nullptr) poppler_page_get_size(d.page.get(), &pageW, &pageH);
    if (d.page == nullptr || !(pageW > 0 && pageH > 0)) {
        *error = name + " cannot be read";
        return false;
    }
    // Page sizes in inches.
    const Area size{pageW / 72, pageH / 72};
    const auto fit = FitPage(size, sheet, {o.fit, o.scale, o.rotateAuto});
    if (!fit) {
        *error = name + ": " + DoesNotFit(size.width, size.height, o.scale, sheet);
        return false;
    }
    d.turned = fit->turned;
    d.k = dpi * fit->scale / 72;  // picture pixels a point
    d.pageH = pageH;
    Picture picture;
    picture.width =
        std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(fit->size.width * dpi)));
    picture.height =
        std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(fit->size.height * dpi)));
    picture.render = [d](std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                         std::uint32_t* pixels,
                         std::string* e) { return RenderRectangle(d, x, y, w, h, pixels, e); };
    picture.label = name;
    if (o.progress) picture.progressLabel = name + " of " + std::to_string(pages());
    *plot = Plot(name);
    plot->DrawPicture(std::move(picture), fit->placement);
    return true;
}

}  // namespace varnu::host
