// The drawings the benchmarks plot, written with cairo as PDFs: a border, a
// half-inch grid, circles and arcs, filled areas, separately stroked lines,
// a title block and lines of text, as much of each as asked.
#pragma once

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace bench_drawing {

struct Content {
    int circles = 0, fills = 0, lines = 0, texts = 0;
};

// A border, a half-inch grid, circles and arcs, filled areas, separately
// stroked lines, a title block and lines of text, spread over the page.
inline void DrawSheet(cairo_t* cr, double w, double h, const Content& c) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 2);
    cairo_rectangle(cr, 36, 36, w - 72, h - 72);
    cairo_stroke(cr);
    cairo_set_line_width(cr, 0.5);
    for (double x = 72; x < w - 72; x += 36) cairo_move_to(cr, x, 72), cairo_line_to(cr, x, h - 72);
    for (double y = 72; y < h - 72; y += 36) cairo_move_to(cr, 72, y), cairo_line_to(cr, w - 72, y);
    cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.5);
    for (int i = 0; i < c.circles; ++i) {
        const double x = 108 + std::fmod(i * 97.3, w - 216), y = 108 + std::fmod(i * 61.7, h - 216);
        cairo_new_sub_path(cr);
        cairo_arc(cr, x, y, 6 + i % 30, 0, (i % 3 == 0 ? 1.5 : 2) * M_PI);
    }
    cairo_stroke(cr);
    for (int i = 0; i < c.fills; ++i) {
        const double x = 144 + std::fmod(i * 211.0, w - 400),
                     y = 144 + std::fmod(i * 137.0, h - 400);
        cairo_rectangle(cr, x, y, 120, 80);
        cairo_set_source_rgb(cr, (i % 5) / 5.0, (i % 5) / 5.0, (i % 5) / 5.0);
        cairo_fill(cr);
    }
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 0.7);
    for (int i = 0; i < c.lines; ++i) {  // each its own path, as CAD exports write them
        const double x = 80 + std::fmod(i * 53.9, w - 240), y = 80 + std::fmod(i * 29.3, h - 240);
        cairo_move_to(cr, x, y);
        cairo_line_to(cr, x + 20 + i % 140, y + (i % 7) * 9);
        cairo_stroke(cr);
    }
    cairo_select_font_face(cr, "sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 9);
    for (int i = 0; i < c.texts; ++i) {
        cairo_move_to(cr, 80 + std::fmod(i * 71.1, w - 300), 90 + std::fmod(i * 43.7, h - 200));
        const std::string text = "PART " + std::to_string(i) + " M8x40 DIN 912";
        cairo_show_text(cr, text.c_str());
    }
    cairo_rectangle(cr, w - 72 - std::min(720.0, w / 2), 72, std::min(720.0, w / 2), 216);
    cairo_stroke(cr);
    cairo_select_font_face(cr, "sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 30);
    cairo_move_to(cr, w - 72 - std::min(700.0, w / 2 - 20), 140);
    cairo_show_text(cr, "VARNU BENCH");
}

inline void WriteSheet(const std::string& path, double wMm, double hMm, const Content& c) {
    const double w = wMm / 25.4 * 72, h = hMm / 25.4 * 72;
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), w, h);
    cairo_t* cr = cairo_create(surface);
    DrawSheet(cr, w, h, c);
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

// The E-size sheet (48 x 36 inches, landscape as the E-Arch sheet): 4,000
// circles and arcs, 300 filled areas.
inline void WriteEsizeDrawing(const std::string& path) {
    WriteSheet(path, 48 * 25.4, 36 * 25.4, Content{4000, 300, 0, 0});
}

}  // namespace bench_drawing
