// Fuzzes the host library's readers of user files: job scripts, and DXF
// drawings (through dxflib) turned into a plot. The first byte chooses which.
#include <cstdint>
#include <string>

#include "readers/dxf.h"
#include "readers/script.h"

// fontconfig (through cairo's text) keeps its caches for the life of the
// process by design; they are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string error;
    varnu::host::Plot plot;
    if ((data[0] & 1) == 0) {
        const bool ok = varnu::host::ReadScriptText(text, "fuzz.adi", &plot, &error);
        if (!ok && error.rfind("fuzz.adi:", 0) != 0)
            __builtin_trap();  // every error names its line
        return 0;
    }
    const varnu::host::Sheet sheet{48.0, 36.0, 1016.0};
    varnu::host::DxfReport report;
    const bool ok = varnu::host::ReadDxfText(text, "fuzz.dxf", sheet, {}, &plot, &report, &error);
    if (!ok && error.rfind("fuzz.dxf", 0) != 0) __builtin_trap();  // every error names the file
    return 0;
}
