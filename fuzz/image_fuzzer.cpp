// Fuzzes the host library's image readers: PNG through libpng and TIFF through
// libtiff, each on the bytes as a file. The first byte chooses which.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "readers/images.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The readers take a path: hand them the input through a memory file.
    const int fd = memfd_create("image", 0);
    if (fd < 0) return 0;
    const auto rest = static_cast<ssize_t>(size - 1);
    if (write(fd, data + 1, size - 1) == rest) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        varnu::host::Image image;
        std::string error;
        const bool ok = (data[0] & 1) == 0 ? varnu::host::LoadPng(path, &image, &error)
                                           : varnu::host::LoadTiff(path, &image, &error);
        const std::size_t channels = image.bilevel ? 1 : 3;
        if (ok && image.pixels.size() != static_cast<std::size_t>(image.width) *
                                             static_cast<std::size_t>(image.height) * channels)
            __builtin_trap();  // a decoded image holds exactly its pixels
        if (!ok && error.empty()) __builtin_trap();
    }
    close(fd);
    return 0;
}
