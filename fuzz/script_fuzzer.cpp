// Fuzzes adihost's readers of user files: job scripts, and DXF drawings
// (through dxflib) turned into requests. The first byte chooses which.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "adihost/dxf.h"
#include "adihost/script.h"

// fontconfig (through cairo's text) keeps its caches for the life of the
// process by design; they are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string error;
    adihost::Script script;
    if ((data[0] & 1) == 0) {
        const bool ok = adihost::ParseScriptText(text, "fuzz.adi", &script, &error);
        if (!ok && error.rfind("fuzz.adi:", 0) != 0)
            __builtin_trap();  // every error names its line
        return 0;
    }
    // dxflib reads a file: hand it the input through a memory file.
    const int fd = memfd_create("drawing", 0);
    if (fd < 0) return 0;
    if (write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size())) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        adihost::PageData page{48.0, 36.0, 1016.0};
        std::string skipped;
        adihost::DxfScript(path, page, {}, &script, &skipped, &error);
    }
    close(fd);
    return 0;
}
