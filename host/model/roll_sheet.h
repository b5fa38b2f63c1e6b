// The sheet cut from the roll for a page, or for pages nested on it: the
// roll's width by the page's length the way round it lies, with the
// sheet's margins.
#pragma once

#include <string>

#include "model/fit.h"

namespace varnu::host {

// A sheet cut from the roll, in hundredths of a millimetre (as IPP gives
// sizes): across the roll, along it.
struct RollCut {
    int width = 0, length = 0;
    bool turned = false;  // the page's height runs across the roll
};

// The sheet for a page of `page` inches on a roll `rollWidth` inches wide
// with `marginMm` on every side: the roll's width, and the page's length
// the way round that is shorter along the roll (`mayTurn`) or as it comes,
// with the margins at both ends, rounded up to a hundredth of a millimetre
// and at most `maxLengthMm`; false with `error` when it fits the roll
// neither way.
bool CutFromRoll(const Area& page, double rollWidth, int marginMm, bool mayTurn, int maxLengthMm,
                 RollCut* cut, std::string* error);

// The whole millimetres of a cut's length, as the driver's custom length
// takes them.
int CutLengthMm(const RollCut& cut);

}  // namespace varnu::host
