// Headless dialog layer: with no user at a screen, every dialog closes as if
// "Abbrechen" were pressed, so the configuration stays as it was, and every
// message box is recorded and answered with OK.
#include "dialogs/dialogs.h"
#include "dialogs/headless.h"

namespace varnu {

namespace {
constexpr std::int32_t kIdOk = 1;
}

std::vector<RecordedMessageBox>& HeadlessMessageBoxes() {
    static std::vector<RecordedMessageBox> boxes;
    return boxes;
}

DialogResult ShowDriverDialog() {
    return DialogResult::Cancel;
}
DialogResult ShowDetailDialog() {
    return DialogResult::Cancel;
}

std::int32_t ShowMessageBox(std::uint32_t owner, const char* text, const char* caption,
                            std::uint32_t style) {
    HeadlessMessageBoxes().push_back({owner, text, caption, style});
    return kIdOk;
}

}  // namespace varnu
