// Writes the stream of every reference job, as this build of the driver
// writes it, to DIR/NAME.bin; the Windows test host compares against them.
#include <cstdio>
#include <string>

#include "low_arena.h"
#include "reference_jobs.h"
#include "varnu/pladi.h"

namespace {

varnu::hostkit::LowArena Arena(std::size_t{256} << 20);

void* LowAllocate(std::size_t size) {
    return Arena.TryAllocate(size);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: reference_streams DIR\n");
        return 2;
    }
    int failures = 0;
    for (const auto& job : varnu::reference::Jobs()) {
        const auto result = varnu::reference::RunJob(job, &PLADI, &LowAllocate);
        Arena.Reset();
        if (!result.error.empty() || !result.messages.empty()) {
            std::fprintf(stderr, "%s: %s%s\n", job.name, result.error.c_str(),
                         result.messages.empty() ? "" : result.messages.front().c_str());
            ++failures;
            continue;
        }
        const std::string path = std::string(argv[1]) + "/" + job.name + ".bin";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr ||
            std::fwrite(result.output.data(), 1, result.output.size(), f) != result.output.size() ||
            std::fclose(f) != 0) {
            std::fprintf(stderr, "%s: cannot be written\n", path.c_str());
            return 1;
        }
        std::printf("%-20s %9zu bytes\n", job.name, result.output.size());
    }
    return failures == 0 ? 0 : 1;
}
