// Headless dialog layer: with no user at a screen, every dialog closes as if
// "Abbrechen" were pressed, so the configuration stays as it was.
#include "dialogs/dialogs.h"

namespace varnu {

DialogResult ShowDriverDialog() {
    return DialogResult::Cancel;
}
DialogResult ShowDetailDialog() {
    return DialogResult::Cancel;
}

}  // namespace varnu
