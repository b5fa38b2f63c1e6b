// Fuzzes adihost's job-script reader.
#include <cstdint>
#include <string>

#include "adihost/script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    adihost::Script script;
    std::string error;
    const bool ok = adihost::ParseScriptText(text, "fuzz.adi", &script, &error);
    if (!ok && error.rfind("fuzz.adi:", 0) != 0) __builtin_trap();  // every error names its line
    return 0;
}
