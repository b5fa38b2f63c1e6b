// adihost plot beside Ghostscript's tiffg4 device on the same PDFs at
// 600 dpi (drawings written with cairo: A4, A0, a light and a heavy E-size
// sheet, a 900 x 5000 mm banner): each one's time from start to the last
// byte, its peak memory, and adihost's time over Ghostscript's.
//
//   varnu_pdf_bench [scratch directory] [case name...]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sheet_drawing.h"
#include "timed_command.h"

namespace {

using bench_drawing::Content;
using bench_drawing::WriteSheet;
using bench_timing::Timed;
using bench_timing::Usage;

struct Case {
    const char* name;
    double wMm, hMm;
    Content content;
    const char* configure;  // the sheet it goes on
};

const Case kCases[] = {
    {"A4", 210, 297, {300, 40, 0, 0}, "--paper 1"},
    {"A0", 1189, 841, {4000, 300, 0, 0}, "--paper 1"},
    {"E-light", 48 * 25.4, 36 * 25.4, {4000, 300, 0, 0}, "--paper 1"},
    {"E-heavy", 48 * 25.4, 36 * 25.4, {4000, 300, 20000, 5000}, "--paper 1"},
    {"banner", 900, 5000, {4000, 300, 0, 0}, "--paper 23 --length 5000"},
};

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path dir =
        argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "varnu-pdf-bench";
    const std::vector<std::string> only(argv + std::min(argc, 2), argv + argc);
    fs::create_directories(dir);
    const std::string adihost =
        std::string(std::getenv("ADIHOST") ? std::getenv("ADIHOST") : ADIHOST_PATH) + " --config " +
        (dir / "varnu.cfg").string();
    if (std::system("gs --version > /dev/null") != 0)
        std::fputs("gs (Debian package ghostscript) not found: adihost alone\n", stderr);
    // Wall time and CPU time (user and system): on a shared machine the
    // CPU time is the steadier of the two.
    std::printf("%-8s | %-22s | %-22s | %s\n", "", "adihost plot", "gs tiffg4", "adihost / gs");
    std::printf("%-8s | %7s %7s %6s | %7s %7s %6s | %6s %6s\n", "page", "wall s", "cpu s", "MB",
                "wall s", "cpu s", "MB", "wall", "cpu");
    for (const Case& c : kCases) {
        if (!only.empty() && std::find(only.begin(), only.end(), c.name) == only.end()) continue;
        const std::string pdf = (dir / (std::string(c.name) + ".pdf")).string();
        const std::string prn = (dir / (std::string(c.name) + ".prn")).string();
        WriteSheet(pdf, c.wMm, c.hMm, c.content);
        if (std::system(
                (adihost + " configure --defaults --resolution 600 " + c.configure + " > /dev/null")
                    .c_str()) != 0)
            return 1;
        Usage ours, gs;
        if (Timed(adihost + " plot " + pdf + " -o " + prn + " --rotate auto --quiet", &ours) != 0) {
            std::fprintf(stderr, "%s: adihost plot failed\n", c.name);
            return 1;
        }
        if (Timed("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=tiffg4 -r600 -sOutputFile=" +
                      (dir / "gs.tif").string() + " " + pdf,
                  &gs) != 0)
            gs = Usage{};
        std::printf("%-8s | %7.2f %7.2f %6.0f | %7.2f %7.2f %6.0f | %6.2f %6.2f\n", c.name,
                    ours.seconds, ours.cpu, ours.peakKb / 1024.0, gs.seconds, gs.cpu,
                    gs.peakKb / 1024.0, gs.seconds > 0 ? ours.seconds / gs.seconds : 0.0,
                    gs.cpu > 0 ? ours.cpu / gs.cpu : 0.0);
        std::fflush(stdout);
    }
    return 0;
}
