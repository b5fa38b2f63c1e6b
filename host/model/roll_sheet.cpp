#include "model/roll_sheet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace varnu::host {

namespace {

constexpr double kMm = 1 / 25.4;

}  // namespace

bool CutFromRoll(const Area& page, double rollWidth, int marginMm, bool mayTurn, int maxLengthMm,
                 RollCut* cut, std::string* error) {
    const double roll = rollWidth - 2 * marginMm * kMm;
    const bool fits = page.width <= roll + kFitSlackInches,
               fitsTurned = page.height <= roll + kFitSlackInches;
    if (!fits && !(mayTurn && fitsTurned)) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the page (%.0f x %.0f mm) is wider than the roll (%.0f mm)",
                      page.width / kMm, page.height / kMm, rollWidth / kMm);
        *error = text;
        return false;
    }
    cut->turned = !fits || (mayTurn && fitsTurned && page.width < page.height);
    const double length = (cut->turned ? page.width : page.height) + 2 * marginMm * kMm;
    cut->length = std::min(static_cast<int>(std::ceil(length * 2540)), maxLengthMm * 100);
    cut->width = static_cast<int>(std::lround(rollWidth * 2540));
    return true;
}

int CutLengthMm(const RollCut& cut) {
    return static_cast<int>(std::lround(cut.length / 100.0));
}

}  // namespace varnu::host
