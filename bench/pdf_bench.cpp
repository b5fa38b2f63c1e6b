// adihost plot on an E-size vector drawing (36 x 48 inches, written with
// cairo: a title block, a grid, many circles, arcs and hatched parts) at
// 600 dpi: the time from start to the last byte and the peak memory of the
// adihost process.
//
//   varnu_pdf_bench [scratch directory]
#include <cairo-pdf.h>
#include <cairo.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

void WriteEsizeDrawing(const std::string& path) {
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

// Runs the command line through sh; its time and peak resident memory.
int Timed(const std::string& command, double* seconds, long* peakKb) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    *peakKb = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path dir =
        argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "varnu-pdf-bench";
    fs::create_directories(dir);
    const std::string pdf = (dir / "esize.pdf").string(), prn = (dir / "esize.prn").string();
    const std::string adihost =
        std::string(ADIHOST_PATH) + " --config " + (dir / "varnu.cfg").string();
    WriteEsizeDrawing(pdf);
    if (std::system((adihost + " configure --defaults --resolution 600").c_str()) != 0) return 1;
    double seconds = 0;
    long peakKb = 0;
    if (Timed(adihost + " plot " + pdf + " -o " + prn + " --quiet", &seconds, &peakKb) != 0) {
        std::fputs("adihost plot failed\n", stderr);
        return 1;
    }
    std::error_code ec;
    std::printf(
        "E-size vector PDF (%ju bytes), 600 dpi: %.2f s to the last byte, peak memory %.0f MB, "
        "stream %ju bytes\n",
        static_cast<std::uintmax_t>(fs::file_size(pdf, ec)), seconds, peakKb / 1024.0,
        static_cast<std::uintmax_t>(fs::file_size(prn, ec)));
    return 0;
}
