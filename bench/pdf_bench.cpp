// adihost plot on an E-size vector drawing (36 x 48 inches, written with
// cairo: a title block, a grid, many circles, arcs and hatched parts) at
// 600 dpi: the time from start to the last byte and the peak memory of the
// adihost process.
//
//   varnu_pdf_bench [scratch directory]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "esize_drawing.h"

namespace {

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
