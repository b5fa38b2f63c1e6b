#include "preview/preview.h"

#include <cstring>

#include "preview/input.h"
#include "preview/readers.h"
#include "preview/sheet.h"
#include "sinks/png_file.h"

namespace varnu::preview {

int Rendering::Width() const {
    return sheet ? sheet->Width() : 0;
}
int Rendering::Height() const {
    return sheet ? sheet->Height() : 0;
}

void Rendering::ForEachRow(const std::function<void(const std::uint8_t*)>& row) const {
    if (sheet) sheet->ForEachRow(row);
}

std::vector<std::uint8_t> Rendering::Grey() const {
    std::vector<std::uint8_t> all;
    all.reserve(static_cast<std::size_t>(Width()) * Height());
    ForEachRow([&](const std::uint8_t* row) { all.insert(all.end(), row, row + Width()); });
    return all;
}

Rendering Render(const ByteSource& source, const Options& options) {
    Rendering out;
    if (!(options.dpi > 0) || options.dpi > kMaxDpi) {
        out.error = "a preview of " + std::to_string(options.dpi) + " dpi (1 to 600)";
        return out;
    }
    Input in(source, options.maxStreamBytes != 0 ? options.maxStreamBytes : std::uint64_t{1} << 30);
    try {
        if (in.StartsWith("\x1b%-12345X")) {
            ReadRtl(in, options, &out);
        } else if (in.Peek() == 0x9B) {
            ReadVcgl(in, options, &out);
        } else {
            throw StreamError(0, "neither a PJL job nor a VCGL job");
        }
        out.ok = true;
    } catch (const StreamError& e) {
        out.error = "byte " + std::to_string(e.offset) + ": " + e.what();
    } catch (const std::bad_alloc&) {
        out.error = "byte " + std::to_string(in.Offset()) + ": out of memory";
    }
    return out;
}

Rendering Render(const std::string& stream, const Options& options) {
    std::size_t at = 0;
    return Render(
        [&](char* to, std::size_t n) {
            const std::size_t got = std::min(n, stream.size() - at);
            std::memcpy(to, stream.data() + at, got);
            at += got;
            return got;
        },
        options);
}

bool WritePng(const Rendering& rendering, const std::string& path, const std::string& input,
              std::string* error) {
    return host::WriteGreyPng(
        path, rendering.Width(), rendering.Height(),
        [&](const std::function<void(const std::uint8_t*)>& row) { rendering.ForEachRow(row); },
        error, input);
}

}  // namespace varnu::preview
