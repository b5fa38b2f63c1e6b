// The Windows test host: loads kvdmc_g.dll as a CAD host does, replays the
// reference jobs and compares their streams with the Linux build's, then
// drives the module's dialogs. Exit 0 when everything held.
//
//   varnu_win_host REFERENCE_DIR SCREENSHOT_DIR
//   varnu_win_host --photo      (times the E-size photograph through the module)
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "dialog_scenarios.h"
#include "low_arena.h"
#include "reference_jobs.h"
#include "win_ui.h"

namespace {

// Low memory for what the driver reads by a 4-byte address.
varnu::hostkit::LowArena& Arena() {
    static varnu::hostkit::LowArena arena(std::size_t{256} << 20);
    return arena;
}

void* LowAllocate(std::size_t size) {
    return Arena().TryAllocate(size);
}

// Wine takes a Unix path as one on the Z: drive.
std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string windows = "Z:";
    windows += path;
    return windows;
}

bool ReadFile(const std::string& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    *bytes = text.str();
    return true;
}

void CompareReferenceJobs(varnu::reference::PladiFn pladi, const std::string& directory) {
    for (const auto& job : varnu::reference::Jobs()) {
        const auto result = varnu::reference::RunJob(job, pladi, &LowAllocate);
        Arena().Reset();
        std::string expected;
        const std::string path = directory + "/" + job.name + ".bin";
        if (!wintest::Expect(ReadFile(path, &expected), path + " cannot be read")) continue;
        if (!wintest::Expect(result.error.empty(), std::string(job.name) + ": " + result.error))
            continue;
        wintest::Expect(result.messages.empty(),
                        std::string(job.name) + ": the driver printed a message");
        const std::string difference = varnu::reference::FirstDifference(expected, result.output);
        if (wintest::Expect(difference.empty(), std::string(job.name) + ": " + difference))
            std::printf("%-20s %9zu bytes, the same as on Linux\n", job.name, result.output.size());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool photo = argc == 2 && std::string(argv[1]) == "--photo";
    if (argc != 3 && !photo) {
        std::fprintf(stderr, "usage: varnu_win_host REFERENCE_DIR SCREENSHOT_DIR | --photo\n");
        return 2;
    }
    HMODULE module = LoadLibraryA("kvdmc_g");
    if (module == nullptr) {
        std::fprintf(stderr, "kvdmc_g.dll cannot be loaded (error %lu)\n", GetLastError());
        return 1;
    }
    auto pladi = reinterpret_cast<varnu::reference::PladiFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "PLADI")));
    std::printf("kvdmc_g.dll at %p, PLADI at %p, low memory at %p\n", static_cast<void*>(module),
                reinterpret_cast<void*>(pladi), Arena().base());
    if (pladi == nullptr || reinterpret_cast<std::uintptr_t>(module) > 0xFFFFFFFFu) {
        std::fprintf(stderr, "kvdmc_g.dll exports no PLADI or loaded above 4 GiB\n");
        return 1;
    }

    if (photo) {
        const auto start = std::chrono::steady_clock::now();
        const auto result = varnu::reference::RunPhotoPage(pladi, &LowAllocate);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("photo page (36 x 48 in, 600 dpi): %llu bytes in %.2f s%s%s\n",
                    static_cast<unsigned long long>(result.bytes), took.count(),
                    result.error.empty() ? "" : ", ", result.error.c_str());
        return result.error.empty() ? 0 : 1;
    }
    CompareReferenceJobs(pladi, WindowsPath(argv[1]));
    const std::string shots = WindowsPath(argv[2]);
    CreateDirectoryA(shots.c_str(), nullptr);  // may be there already
    wintest::SetScreenshotDirectory(shots);
    wintest::RunDialogScenarios(pladi, &LowAllocate);

    const auto& failures = wintest::Failures();
    if (failures.empty()) {
        std::printf("all %ld checks held\n", wintest::Checks());
        return 0;
    }
    std::printf("%zu of %ld checks failed\n", failures.size(), wintest::Checks());
    return 1;
}
