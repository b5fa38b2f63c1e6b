// adihost plot beside Ghostscript's tiffg4 device on the same PDFs at
// 600 dpi (drawings written with cairo: A4, A0, a light and a heavy E-size
// sheet, a 900 x 5000 mm banner): each one's time from start to the last
// byte, its peak memory, adihost's time over Ghostscript's, and a hash of
// adihost's stream (the same bytes before and after a change).
//
//   varnu_pdf_bench [--repeat N] [scratch directory] [case name...]
//
// With --repeat each case runs N times, adihost and Ghostscript in turn,
// and the least time of each is shown: on a shared machine the others'
// work only ever adds to it. The load average is shown at the start and
// the end.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// FNV-1a of the file's bytes: enough to tell two streams apart.
unsigned long long HashOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned long long h = 1469598103934665603ULL;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i)
            h = (h ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ULL;
        if (!in) break;
    }
    return h;
}

void ShowLoad(const char* when) {
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3)
        std::printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
}

// The least of each measure over the runs.
void KeepLeast(const Usage& run, Usage* least, bool first) {
    if (first) {
        *least = run;
        return;
    }
    least->seconds = std::min(least->seconds, run.seconds);
    least->cpu = std::min(least->cpu, run.cpu);
    least->peakKb = std::min(least->peakKb, run.peakKb);
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    int repeat = 1;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "--repeat") {
        repeat = std::max(1, std::atoi(args[1].c_str()));
        args.erase(args.begin(), args.begin() + 2);
    }
    const fs::path dir =
        !args.empty() ? fs::path(args[0]) : fs::temp_directory_path() / "varnu-pdf-bench";
    const std::vector<std::string> only(args.begin() + std::min<std::size_t>(args.size(), 1),
                                        args.end());
    fs::create_directories(dir);
    const std::string adihost =
        std::string(std::getenv("ADIHOST") ? std::getenv("ADIHOST") : ADIHOST_PATH) + " --config " +
        (dir / "varnu.cfg").string();
    if (std::system("gs --version > /dev/null") != 0)
        std::fputs("gs (Debian package ghostscript) not found: adihost alone\n", stderr);
    // Wall time and CPU time (user and system): on a shared machine the
    // CPU time is the steadier of the two.
    ShowLoad("at the start");
    std::printf("%-8s | %-22s | %-22s | %-13s | %s\n", "", "adihost plot", "gs tiffg4",
                "adihost / gs", "stream");
    std::printf("%-8s | %7s %7s %6s | %7s %7s %6s | %6s %6s | %s\n", "page", "wall s", "cpu s",
                "MB", "wall s", "cpu s", "MB", "wall", "cpu", "FNV-1a");
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
        for (int run = 0; run < repeat; ++run) {
            Usage one;
            if (Timed(adihost + " plot " + pdf + " -o " + prn + " --rotate auto --quiet", &one) !=
                0) {
                std::fprintf(stderr, "%s: adihost plot failed\n", c.name);
                return 1;
            }
            KeepLeast(one, &ours, run == 0);
            if (Timed("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=tiffg4 -r600 -sOutputFile=" +
                          (dir / "gs.tif").string() + " " + pdf,
                      &one) != 0)
                one = Usage{};
            KeepLeast(one, &gs, run == 0);
        }
        std::printf("%-8s | %7.2f %7.2f %6.0f | %7.2f %7.2f %6.0f | %6.2f %6.2f | %016llx\n",
                    c.name, ours.seconds, ours.cpu, ours.peakKb / 1024.0, gs.seconds, gs.cpu,
                    gs.peakKb / 1024.0, gs.seconds > 0 ? ours.seconds / gs.seconds : 0.0,
                    gs.cpu > 0 ? ours.cpu / gs.cpu : 0.0, HashOf(prn));
        std::fflush(stdout);
    }
    ShowLoad("at the end");
    return 0;
}
