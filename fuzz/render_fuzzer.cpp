// Fuzzes the preview: any bytes as a printer stream (PJL with HP-GL/2 and
// HP-RTL raster, or binary VCGL with MMR bands), drawn at a low dpi.
#include <cstdint>
#include <string>

#include "preview/preview.h"

// fontconfig (through cairo) keeps its caches for the life of the process
// by design; they are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string stream(reinterpret_cast<const char*>(data), size);
    varnu::preview::Options options;
    options.dpi = 10;
    const varnu::preview::Rendering result = varnu::preview::Render(stream, options);
    // Every pixel of what was drawn can be read back.
    std::size_t rows = 0;
    result.ForEachRow([&rows](const std::uint8_t*) { ++rows; });
    if (rows != static_cast<std::size_t>(result.Height())) __builtin_trap();
    if (!result.ok && result.error.rfind("byte ", 0) != 0)
        __builtin_trap();  // every refusal names where reading stopped
    return 0;
}
