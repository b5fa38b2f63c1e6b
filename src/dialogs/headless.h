// What the headless dialog layer shows instead of windows: a record of every
// message box, for tests and the host program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnu {

struct RecordedMessageBox {
    std::uint32_t owner;
    std::string text;
    std::string caption;
    std::uint32_t style;
};

std::vector<RecordedMessageBox>& HeadlessMessageBoxes();

}  // namespace varnu
