// The headless dialog layer: every control's state kept in memory, user
// actions taken from a queue the caller fills before the request, message
// boxes recorded and answered from the same queue, and the image-correction
// preview painted into an RGB buffer. With an empty queue a dialog closes
// as if "Abbrechen" were pressed.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace varnu {

struct HeadlessControl {
    bool enabled = true;
    bool checked = false;
    std::string text;
    int limit = 0;  // characters; 0 = no limit set
    std::vector<std::string> items;
    int selection = -1;
    int spinLow = 0, spinHigh = 0, spinPosition = 0;
};

struct HeadlessDialog {
    std::string templateName;
    std::map<int, HeadlessControl> controls;
    bool ended = false;
    std::int32_t result = 0;
    int focus = 0;
    int capture = 0;
};

enum class UserActionKind {
    Select,     // combo box: choose item `value`
    Type,       // edit: replace the text by `text`
    Click,      // button or radio button
    LoseFocus,  // edit loses the keyboard focus
    Scroll,     // scroll bar: `value` 0 line up, 1 line down
    Spin,       // up-down control: `value` steps up (+) or down (-)
    Press,      // mouse button down on the preview at (x, y)
    Move,       // mouse moved to (x, y)
    Release,    // mouse button up at (x, y)
    Escape,     // the Escape key
    Answer,     // answers the next message box with `value` (1 OK, 6 Yes, 7 No)
    Inspect,    // calls `inspect` with the open dialog's state
};

struct UserAction {
    UserActionKind kind;
    std::string dialog;  // template the action is meant for; empty = any
    int control = 0;
    int value = 0;
    std::string text;
    int x = 0, y = 0;
    std::function<void(const HeadlessDialog&)> inspect;
};

void QueueUserAction(UserAction action);
// Puts actions before everything queued: what a host decides inside an
// Inspect, having looked at the dialog, happens next.
void QueueUserActionsNext(std::vector<UserAction> actions);
void ClearUserActions();
std::size_t PendingUserActions();

struct RecordedMessageBox {
    std::string ownerDialog;  // template of the owning dialog, empty for none
    std::uint32_t ownerWindow;
    std::string text;
    std::string caption;
    std::uint32_t style;
    std::int32_t answer;
};
std::vector<RecordedMessageBox>& HeadlessMessageBoxes();

// Every dialog as it was when it closed, in closing order.
std::vector<HeadlessDialog>& HeadlessDialogLog();
// Actions that named another dialog than the one open, or did not fit it.
std::vector<std::string>& HeadlessErrors();

// The image-correction preview as last painted: RGB, rows top to bottom.
struct HeadlessPicture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
};
HeadlessPicture& HeadlessPreview();
// Size of the preview control in pixels (85 x 79 dialog units).
inline constexpr int kPreviewWidth = 127;
inline constexpr int kPreviewHeight = 128;

// Back to nothing queued, nothing recorded.
void ResetHeadlessDialogs();

}  // namespace varnu
