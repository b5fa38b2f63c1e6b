// The E-size drawing the benchmarks plot (36 x 48 inches, written with
// cairo as a PDF: a title block, a grid, many circles, arcs and hatched
// parts).
#pragma once

#include <cairo-pdf.h>
#include <cairo.h>

#include <cmath>
#include <string>

inline void WriteEsizeDrawing(const std::string& path) {
    const double w = 48 * 72, h = 36 * 72;  // landscape, as the E-Arch sheet
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), w, h);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 2);
    cairo_rectangle(cr, 36, 36, w - 72, h - 72);
    cairo_stroke(cr);
    cairo_set_line_width(cr, 0.5);
    for (double x = 72; x < w - 72; x += 36) {  // half-inch grid
        cairo_move_to(cr, x, 72);
        cairo_line_to(cr, x, h - 72);
    }
    for (double y = 72; y < h - 72; y += 36) {
        cairo_move_to(cr, 72, y);
        cairo_line_to(cr, w - 72, y);
    }
    cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.5);
    for (int i = 0; i < 4000; ++i) {  // parts: circles and arcs
        const double x = 108 + std::fmod(i * 97.3, w - 216), y = 108 + std::fmod(i * 61.7, h - 216);
        cairo_new_sub_path(cr);
        cairo_arc(cr, x, y, 6 + i % 30, 0, (i % 3 == 0 ? 1.5 : 2) * M_PI);
    }
    cairo_stroke(cr);
    for (int i = 0; i < 300; ++i) {  // hatched and filled areas
        const double x = 144 + std::fmod(i * 211.0, w - 400),
                     y = 144 + std::fmod(i * 137.0, h - 400);
        cairo_rectangle(cr, x, y, 120, 80);
        cairo_set_source_rgb(cr, (i % 5) / 5.0, (i % 5) / 5.0, (i % 5) / 5.0);
        cairo_fill(cr);
    }
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_rectangle(cr, w - 72 - 720, 72, 720, 216);  // title block
    cairo_stroke(cr);
    cairo_select_font_face(cr, "sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 40);
    cairo_move_to(cr, w - 72 - 700, 140);
    cairo_show_text(cr, "VARNU BENCH E-SIZE");
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}
