// The stored configuration changed as a user changes it: through the
// driver's setup dialogs, picking list rows by name or number, typing into
// fields and dragging the curve handles.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace varnu::host {

struct ConfigureOptions {
    std::optional<std::string> paper;  // row number 1..41 or a name
    std::optional<int> length, margin, copies, media, resolution, program, finishMargin, bin;
    std::optional<std::string> fill;          // solid | halftone
    std::optional<std::string> manualOutput;  // yes | no
    std::optional<std::array<int, 5>> curve;
    bool defaults = false;  // start from the driver's defaults
    std::string curvePng;   // where to save the image-correction preview
};

// Stores the configuration the options describe; false when anything was
// refused, and then nothing is stored. `messages` says what and why.
bool Configure(const ConfigureOptions& options, std::vector<std::string>* messages);

// The names of the setup dialog's paper list, row by row from 1, as it
// shows them (what --paper takes by number or name); nothing is stored.
std::vector<std::string> PaperList();

// The configuration summary and the line types, as the driver prints them.
std::string DriverSummary();

}  // namespace varnu::host
