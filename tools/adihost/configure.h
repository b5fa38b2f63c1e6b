// adihost configure: edits the stored record through the real dialog logic.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace adihost {

struct ConfigureOptions {
    std::optional<std::string> paper;  // row number 1..41 or a name
    std::optional<int> length, margin, copies, media, resolution, program, finishMargin, bin;
    std::optional<std::string> fill;          // solid | halftone
    std::optional<std::string> manualOutput;  // yes | no
    std::optional<std::array<int, 5>> curve;
    bool defaults = false;
    bool show = false;
    std::string curvePng;
};

// Returns the exit status: 0 stored, 1 refused (nothing stored).
int RunConfigure(const ConfigureOptions& options);

}  // namespace adihost
