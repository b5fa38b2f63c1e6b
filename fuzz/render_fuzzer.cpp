// Fuzzes adihost render: any bytes as a printer stream (PJL with HP-GL/2 and
// HP-RTL raster, or binary VCGL with MMR bands), drawn at a low dpi.
#include <cstdint>
#include <string>

#include "adihost/render.h"

// fontconfig (through cairo) keeps its caches for the life of the process
// by design; they are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string stream(reinterpret_cast<const char*>(data), size);
    adihost::RenderOptions options;
    options.dpi = 10;
    const adihost::RenderResult result = adihost::RenderStream(stream, options);
    if (!result.ok && result.error.rfind("byte ", 0) != 0)
        __builtin_trap();  // every refusal names where reading stopped
    return 0;
}
