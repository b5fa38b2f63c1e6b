#include "readers/pdf.h"

#include <cairo.h>
#include <poppler.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "model/fit.h"
#include "readers/pdf_work.h"
#include "readers/sized_pages.h"

namespace varnu::host {

namespace {

// cairo's image surfaces are at most 32767 pixels a side; larger bands
// are drawn in tiles of at most this many pixels a side.
constexpr std::int32_t kTile = 32000;

// Device units a point while poppler draws (see PageRecording::Surface).
constexpr double kPrinterDot = 600.0 / 72;

struct GObjectDeleter {
    void operator()(void* object) const {
        if (object != nullptr) g_object_unref(object);
    }
};
using PopplerFile = std::unique_ptr<PopplerDocument, GObjectDeleter>;
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
    std::int32_t width = 0, height = 0;  // picture pixels
    // A stroke thinner than a pixel: drawn by coverage, or its pixel
    // centres would miss it and the line break up.
    bool coverage = false;
};

// The page interpreted once into cairo's display list, at picture pixels
// on white; each band replays only what lies in it. Rendering the page
// through poppler for each band would interpret all of it every time.
// Bands of columns replay a second list, recorded mirrored on the
// diagonal: replaying one list under a mirroring matrix draws text whose
// matrix turns the wrong way round.
class PageRecording {
  public:
    explicit PageRecording(PageDrawing d) : d_(std::move(d)) {}
    ~PageRecording() {
        for (cairo_surface_t* s : surfaces_)
            if (s != nullptr) cairo_surface_destroy(s);
    }
    PageRecording(const PageRecording&) = delete;
    PageRecording& operator=(const PageRecording&) = delete;

    // The display list, recorded on first use: pixel (u, v) of it the
    // picture's (u, v), or (v, u) for `columns`.
    cairo_surface_t* Surface(bool columns, std::string* error);

  private:
    PageDrawing d_;
    cairo_surface_t* surfaces_[2] = {nullptr, nullptr};
};

cairo_surface_t* PageRecording::Surface(bool columns, std::string* error) {
    cairo_surface_t*& surface = surfaces_[columns ? 1 : 0];
    if (surface != nullptr) return surface;
    const double w = d_.width, h = d_.height;
    const cairo_rectangle_t extents{0, 0, columns ? h : w, columns ? w : h};
    surface = cairo_recording_surface_create(CAIRO_CONTENT_COLOR, &extents);
    // Poppler prints a line of width 0 one dot of a 600 dpi printer wide,
    // a dot being a device unit: device units of that size while it draws
    // make such a line one picture pixel at any resolution and scale.
    cairo_surface_set_device_scale(surface, kPrinterDot, kPrinterDot);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, 1 / kPrinterDot, 1 / kPrinterDot);  // picture pixels again
    // A pixel is ink where its centre is inside a shape, as on a one-bit
    // device: coverage would only turn edges into dither, at three times
    // the cost. A page with a stroke thinner than a pixel keeps it.
    if (!d_.coverage) {
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
        cairo_font_options_t* glyphs = cairo_font_options_create();
        cairo_font_options_set_antialias(glyphs, CAIRO_ANTIALIAS_NONE);  // text too
        cairo_set_font_options(cr, glyphs);
        cairo_font_options_destroy(glyphs);
    }
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    if (columns) {
        const cairo_matrix_t mirror{0, 1, 1, 0, 0, 0};
        cairo_transform(cr, &mirror);
    }
    if (d_.turned) {
        // A quarter clockwise: the page's top edge along the picture's right.
        cairo_translate(cr, d_.pageH * d_.k, 0);
        cairo_rotate(cr, M_PI / 2);
    }
    cairo_scale(cr, d_.k, d_.k);
    poppler_page_render_for_printing(d_.page.get(), cr);
    cairo_destroy(cr);
    // Replayed pixel for pixel: the recorded commands are in pixels.
    cairo_surface_set_device_scale(surface, 1, 1);
    const cairo_status_t status = cairo_surface_status(surface);
    if (status == CAIRO_STATUS_SUCCESS) return surface;
    *error = std::string("rendering failed: ") + cairo_status_to_string(status);
    cairo_surface_destroy(surface);
    surface = nullptr;
    return nullptr;
}

// Replays the page's picture into `pixels` (`w` x `h` words, rows of
// `stride` bytes) in tiles cairo can draw, pixel (u, v) of the buffer
// being the picture's (x + u, y + v), or (x + v, y + u) when `columns`.
bool Replay(PageRecording& recording, std::int32_t x, std::int32_t y, bool columns, std::int32_t w,
            std::int32_t h, std::uint32_t* pixels, std::size_t stride, std::string* error) {
    cairo_surface_t* page = recording.Surface(columns, error);
    if (page == nullptr) return false;
    // The buffer's origin in the list's pixels.
    const std::int32_t originU = columns ? y : x, originV = columns ? x : y;
    for (std::int32_t v0 = 0; v0 < h; v0 += kTile)
        for (std::int32_t u0 = 0; u0 < w; u0 += kTile) {
            cairo_surface_t* tile = cairo_image_surface_create_for_data(
                reinterpret_cast<unsigned char*>(pixels) + v0 * stride + 4 * std::size_t(u0),
                CAIRO_FORMAT_RGB24, std::min(kTile, w - u0), std::min(kTile, h - v0),
                static_cast<int>(stride));
            cairo_t* cr = cairo_create(tile);
            cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
            cairo_set_source_surface(cr, page, -(originU + u0), -(originV + v0));
            cairo_paint(cr);
            cairo_destroy(cr);
            cairo_surface_flush(tile);
            const cairo_status_t status = cairo_surface_status(tile);
            cairo_surface_destroy(tile);
            if (status != CAIRO_STATUS_SUCCESS) {
                *error = std::string("rendering failed: ") + cairo_status_to_string(status);
                return false;
            }
        }
    return true;
}

}  // namespace

struct PdfDocument::Poppler {
    PopplerFile document;
    PdfWork work;
    // What each page counted asks for: checking the pages before plotting
    // them counts each once.
    std::map<int, PageWork> counted;
};

struct PdfDocument::PageLayout {
    PageDrawing drawing;
    PageFit fit;
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
    PopplerFile& document = poppler_->document;
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
    return poppler_->work.Open(path, error);
}

int PdfDocument::pages() const {
    return poppler_->document ? poppler_document_get_n_pages(poppler_->document.get()) : 0;
}

Area PdfDocument::PageInches(int index) const {
    const Page page(poppler_document_get_page(poppler_->document.get(), index), GObjectDeleter{});
    double w = 0, h = 0;
    if (page != nullptr) poppler_page_get_size(page.get(), &w, &h);
    return {w / 72, h / 72};
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

bool PdfDocument::Layout(int index, const Sheet& sheet, int dpi, const PdfOptions& o,
                         PageLayout* layout, std::string* error) const {
    const std::string name = "page " + std::to_string(index + 1);
    PageDrawing& d = layout->drawing;
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
        *error = name + ": " + PageDoesNotFit(size, o.scale, sheet);
        return false;
    }
    layout->fit = *fit;
    d.turned = fit->turned;
    d.k = dpi * fit->scale / 72;  // picture pixels a point
    d.pageH = pageH;
    const double w = fit->size.width * dpi, h = fit->size.height * dpi;
    if (!(w >= 1 && h >= 1)) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "%s: the page (%.3g x %.3g mm at scale %g) is smaller than a printer dot",
                      name.c_str(), size.width * 25.4 * o.scale, size.height * 25.4 * o.scale,
                      o.scale);
        *error = text;
        return false;
    }
    d.width = static_cast<std::int32_t>(std::lround(w));
    d.height = static_cast<std::int32_t>(std::lround(h));
    const WorkLimits limits;
    std::string why;
    auto counted = poppler_->counted.find(index);
    if (counted == poppler_->counted.end()) {
        PageWork work;
        if (poppler_->work.Count(index, limits, &work, &why))
            counted = poppler_->counted.emplace(index, work).first;
    }
    if (counted == poppler_->counted.end() ||
        !(why = TooMuchWork(counted->second, w * h, limits)).empty()) {
        *error = name + " is refused: " + why;
        return false;
    }
    d.coverage = counted->second.thinnestStroke * d.k < 1;
    return true;
}

bool PdfDocument::Check(int first, int last, const Sheet& sheet, int dpi, const PdfOptions& o,
                        std::string* error) const {
    for (int i = first; i <= last; ++i) {
        PageLayout layout;
        if (!Layout(i, sheet, dpi, o, &layout, error)) return false;
    }
    return true;
}

bool PdfDocument::PagePlot(int index, const Sheet& sheet, int dpi, const PdfOptions& o, Plot* plot,
                           std::string* error) const {
    PageLayout layout;
    if (!Layout(index, sheet, dpi, o, &layout, error)) return false;
    const std::string name = "page " + std::to_string(index + 1);
    Picture picture;
    picture.width = layout.drawing.width;
    picture.height = layout.drawing.height;
    auto recording = std::make_shared<PageRecording>(std::move(layout.drawing));
    picture.render = [recording](std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                                 std::uint32_t* pixels, std::string* e) {
        return Replay(*recording, x, y, false, w, h, pixels, 4 * std::size_t(w), e);
    };
    const std::int32_t height = picture.height;
    picture.renderColumns = [recording, height](std::int32_t x, std::int32_t w,
                                                std::uint32_t* pixels, std::string* e) {
        return Replay(*recording, x, 0, true, height, w, pixels, 4 * std::size_t(height), e);
    };
    picture.opaque = true;       // replayed on the page's white
    picture.renderAhead = true;  // the recording is replayed by one call at a time
    picture.label = name;
    if (o.progress) picture.progressLabel = name + " of " + std::to_string(pages());
    *plot = Plot(name);
    plot->DrawPicture(std::move(picture), layout.fit.placement);
    return true;
}

std::unique_ptr<Document> OpenPdf(const std::string& path, const DocumentOptions& options,
                                  std::string* error) {
    auto document = std::make_unique<SizedPages<PdfDocument, PdfOptions>>(options);
    if (!document->Open(path, error)) return nullptr;
    return document;
}

}  // namespace varnu::host
