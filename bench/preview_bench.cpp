// The preview on an E-size stream (the E-size PDF plotted at 600 dpi: one
// picture of the whole sheet and its vectors) at 100 and 400 dpi: the time
// of reading and drawing it, the PNG written, and each run's peak memory
// (a child process renders once more and reports its peak resident set).
//
//   varnu_preview_bench [scratch directory]
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "preview/preview.h"
#include "sheet_drawing.h"

namespace {

std::string StreamPath;

bool RenderFile(double dpi, const std::string& png) {
    std::ifstream in(StreamPath, std::ios::binary);
    varnu::preview::Options options;
    options.dpi = dpi;
    const varnu::preview::Rendering r = varnu::preview::Render(
        [&in](char* to, std::size_t n) {
            in.read(to, static_cast<std::streamsize>(n));
            return static_cast<std::size_t>(in.gcount());
        },
        options);
    std::string error;
    return r.ok && varnu::preview::WritePng(r, png, StreamPath, &error);
}

// The peak resident memory of one rendering, in a child of its own.
double PeakMegabytes(double dpi, const std::string& png) {
    const pid_t pid = fork();
    if (pid == 0) _exit(RenderFile(dpi, png) ? 0 : 1);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss / 1024.0 : -1;
}

void BM_PreviewEsize(benchmark::State& state) {
    const double dpi = static_cast<double>(state.range(0));
    const std::string png = StreamPath + "." + std::to_string(state.range(0)) + ".png";
    for (auto _ : state)
        if (!RenderFile(dpi, png)) state.SkipWithError("the stream was not read");
    state.counters["peak_MB"] = PeakMegabytes(dpi, png);
    state.counters["stream_MB"] = std::filesystem::file_size(StreamPath) / 1048576.0;
}
BENCHMARK(BM_PreviewEsize)->Arg(100)->Arg(400)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    benchmark::Initialize(&argc, argv);
    const fs::path dir =
        argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "varnu-preview-bench";
    fs::create_directories(dir);
    const std::string pdf = (dir / "esize.pdf").string();
    StreamPath = (dir / "esize.prn").string();
    const std::string adihost =
        std::string(ADIHOST_PATH) + " --config " + (dir / "varnu.cfg").string();
    bench_drawing::WriteEsizeDrawing(pdf);
    if (std::system((adihost + " configure --defaults --resolution 600").c_str()) != 0 ||
        std::system((adihost + " plot " + pdf + " -o " + StreamPath + " --quiet").c_str()) != 0) {
        std::fputs("adihost plot failed\n", stderr);
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
