// The image-correction dialog as a user works it: five red handles on the
// preview, each handle's value following its height when dragged.
#pragma once

#include <array>

#include "varnu/headless_dialogs.h"

namespace varnu::host {

// The preview has fewer rows than there are values, so a drag reaches about
// every other value; the rest are set in two rounds with one step of the
// "shift" scroll bar (all five values up by one) between them.
class CurveDragger {
  public:
    explicit CurveDragger(const std::array<int, 5>& target) : target_(target) {}

    // Looks at the preview and queues the next drag, or the shift between
    // the rounds; nothing once every handle is where it should be.
    void Step();

  private:
    void Plan(int h);
    UserAction Next();

    std::array<int, 5> target_;
    std::array<int, 5> goal_{};
    std::array<bool, 5> done_{};
    std::array<bool, 5> direct_{};
    bool planned_ = false;
    bool shiftPending_ = false;
    int lift_ = 4;
};

}  // namespace varnu::host
