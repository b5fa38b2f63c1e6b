// Headless dialog layer: see varnu/headless_dialogs.h.
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <utility>

#include "dialogs/dialog_platform.h"
#include "dialogs/dialogs.h"
#include "resource.h"
#include "varnu/headless_dialogs.h"

namespace varnu {

namespace {

std::deque<UserAction>& Queue() {
    static std::deque<UserAction> queue;
    return queue;
}

HeadlessDialog& D(DialogWindow window) {
    return *static_cast<HeadlessDialog*>(window);
}
HeadlessControl& C(DialogWindow window, int control) {
    return D(window).controls[control];
}

// Edits notify the dialog when their text is set, as Win32 edits do.
bool IsEdit(int control) {
    switch (control) {
        case IDC_COPIES:
        case IDC_MARGIN:
        case IDC_LENGTH:
        case IDC_LABEL:
        case IDC_RED_PEN:
            return true;
        default:
            return false;
    }
}

struct OpenDialog {
    DialogWindow window;
    const DialogLogic* logic;
};
std::vector<OpenDialog>& OpenDialogs() {
    static std::vector<OpenDialog> open;
    return open;
}

const DialogLogic* LogicOf(DialogWindow window) {
    for (const OpenDialog& d : OpenDialogs())
        if (d.window == window) return d.logic;
    return nullptr;
}

int NotificationDepth = 0;

void Notify(DialogWindow window, int control, int notification) {
    const DialogLogic* logic = LogicOf(window);
    // A handler that sets a text is told again; a few levels are enough.
    if (logic == nullptr || logic->command == nullptr || NotificationDepth > 3) return;
    ++NotificationDepth;
    logic->command(window, control, notification);
    --NotificationDepth;
}

void Paint(DialogWindow window) {
    const DialogLogic* logic = LogicOf(window);
    if (logic == nullptr || logic->paint == nullptr) return;
    HeadlessPicture& picture = HeadlessPreview();
    picture.width = kPreviewWidth;
    picture.height = kPreviewHeight;
    picture.rgb.assign(static_cast<std::size_t>(kPreviewWidth) * kPreviewHeight * 3, 0);
    logic->paint(window, IDC_PREVIEW, &picture, {0, 0, kPreviewWidth, kPreviewHeight});
}

bool NeedsEnabledControl(UserActionKind kind) {
    switch (kind) {
        case UserActionKind::Select:
        case UserActionKind::Type:
        case UserActionKind::Click:
        case UserActionKind::LoseFocus:
        case UserActionKind::Scroll:
        case UserActionKind::Spin:
            return true;
        default:
            return false;
    }
}

void Apply(DialogWindow window, const DialogLogic& logic, UserAction& action) {
    HeadlessControl& control = C(window, action.control);
    // A user cannot reach a disabled control.
    if (NeedsEnabledControl(action.kind) && !control.enabled) {
        HeadlessErrors().push_back(D(window).templateName + ": control " +
                                   std::to_string(action.control) + " is disabled");
        return;
    }
    switch (action.kind) {
        case UserActionKind::Select:
            control.selection = action.value;
            Notify(window, action.control, kSelectionChange);
            break;
        case UserActionKind::Type:
            control.text = action.text;
            if (control.limit > 0 && static_cast<int>(control.text.size()) > control.limit)
                control.text.resize(static_cast<std::size_t>(control.limit));
            Notify(window, action.control, kTextChanged);
            break;
        case UserActionKind::Click:
            Notify(window, action.control, kClicked);
            break;
        case UserActionKind::LoseFocus:
            Notify(window, action.control, kFocusLost);
            break;
        case UserActionKind::Scroll:
            if (logic.scroll != nullptr) logic.scroll(window, action.control, action.value);
            break;
        case UserActionKind::Spin: {
            int position = control.spinPosition + action.value;
            position = position < control.spinLow    ? control.spinLow
                       : position > control.spinHigh ? control.spinHigh
                                                     : position;
            control.spinPosition = position;
            if (logic.scroll != nullptr)
                logic.scroll(window, action.control, 4 /* SB_THUMBPOSITION */);
            break;
        }
        case UserActionKind::Press:
        case UserActionKind::Move:
        case UserActionKind::Release:
            if (logic.mouse != nullptr) {
                const MouseAction mouse = action.kind == UserActionKind::Press ? MouseAction::Press
                                          : action.kind == UserActionKind::Move
                                              ? MouseAction::Move
                                              : MouseAction::Release;
                logic.mouse(window, IDC_PREVIEW, mouse, action.x, action.y);
            }
            break;
        case UserActionKind::Escape:
            if (logic.closesOnEscape) Notify(window, IDC_CANCEL, kClicked);
            break;
        case UserActionKind::Answer:
            HeadlessErrors().push_back(D(window).templateName +
                                       ": an answer with no message box open");
            break;
        case UserActionKind::Inspect:
            if (action.inspect) action.inspect(D(window));
            break;
    }
}

// Bitmap 3032 as palette indices.
constexpr const char* kCurveGrid[] = {
#include "curve_grid.inc"
};
constexpr int kGridWidth = 63, kGridHeight = 52;
constexpr Rgb24 kVgaPalette[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                   {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                   {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                   {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

void PutPixel(HeadlessPicture& p, int x, int y, Rgb24 c) {
    if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
    std::uint8_t* px = &p.rgb[(static_cast<std::size_t>(y) * p.width + x) * 3];
    px[0] = c.red;
    px[1] = c.green;
    px[2] = c.blue;
}

}  // namespace

void QueueUserAction(UserAction action) {
    Queue().push_back(std::move(action));
}
void QueueUserActionsNext(std::vector<UserAction> actions) {
    Queue().insert(Queue().begin(), std::make_move_iterator(actions.begin()),
                   std::make_move_iterator(actions.end()));
}
void ClearUserActions() {
    Queue().clear();
}
std::size_t PendingUserActions() {
    return Queue().size();
}

std::vector<RecordedMessageBox>& HeadlessMessageBoxes() {
    static std::vector<RecordedMessageBox> boxes;
    return boxes;
}
std::vector<HeadlessDialog>& HeadlessDialogLog() {
    static std::vector<HeadlessDialog> log;
    return log;
}
std::vector<std::string>& HeadlessErrors() {
    static std::vector<std::string> errors;
    return errors;
}
HeadlessPicture& HeadlessPreview() {
    static HeadlessPicture picture;
    return picture;
}

void ResetHeadlessDialogs() {
    ClearUserActions();
    HeadlessMessageBoxes().clear();
    HeadlessDialogLog().clear();
    HeadlessErrors().clear();
    HeadlessPreview() = HeadlessPicture{};
}

std::int32_t RunDialog(const char* templateName, DialogWindow, const DialogLogic& logic) {
    HeadlessDialog dialog;
    dialog.templateName = templateName;
    DialogWindow window = &dialog;
    OpenDialogs().push_back({window, &logic});
    if (logic.init != nullptr) logic.init(window);
    Paint(window);
    while (!dialog.ended) {
        if (Queue().empty() ||
            (Queue().front().kind != UserActionKind::Answer && !Queue().front().dialog.empty() &&
             Queue().front().dialog != templateName)) {
            // Nothing more for this dialog (the queue is empty, or the next
            // action is for an outer one): "Abbrechen", or closed without it
            // where the dialog has no such button.
            Notify(window, IDC_CANCEL, kClicked);
            if (!dialog.ended) EndDialogWith(window, IDC_CANCEL);
            break;
        }
        UserAction action = std::move(Queue().front());
        Queue().pop_front();
        Apply(window, logic, action);
    }
    OpenDialogs().pop_back();
    HeadlessDialogLog().push_back(dialog);
    return dialog.result;
}

void EndDialogWith(DialogWindow window, std::int32_t result) {
    D(window).ended = true;
    D(window).result = result;
}

void EnableControl(DialogWindow window, int control, bool enabled) {
    C(window, control).enabled = enabled;
}

void CheckRadio(DialogWindow window, int first, int last, int checked) {
    for (int id = first; id <= last; ++id) C(window, id).checked = id == checked;
}

void SetControlText(DialogWindow window, int control, const char* text) {
    C(window, control).text = text;
    if (IsEdit(control)) Notify(window, control, kTextChanged);
}

int GetControlText(DialogWindow window, int control, char* text, int size) {
    if (size <= 0) return 0;
    const std::string& s = C(window, control).text;
    const int n = static_cast<int>(s.size()) < size - 1 ? static_cast<int>(s.size()) : size - 1;
    s.copy(text, static_cast<std::size_t>(n));
    text[n] = '\0';
    return n;
}

void SetControlUnsigned(DialogWindow window, int control, std::uint32_t value) {
    SetControlText(window, control, std::to_string(value).c_str());
}

std::uint32_t GetControlUnsigned(DialogWindow window, int control, bool* isNumber) {
    // As GetDlgItemInt reads it: blanks, then decimal digits to the end.
    const std::string& s = C(window, control).text;
    std::size_t i = s.find_first_not_of(' ');
    std::uint64_t value = 0;
    bool digits = false;
    for (; i != std::string::npos && i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') {
            *isNumber = false;
            return 0;
        }
        value = value * 10 + static_cast<std::uint64_t>(s[i] - '0');
        if (value > 0xFFFFFFFFu) {
            *isNumber = false;
            return 0;
        }
        digits = true;
    }
    *isNumber = digits;
    return digits ? static_cast<std::uint32_t>(value) : 0;
}

void LimitText(DialogWindow window, int control, int characters) {
    C(window, control).limit = characters;
}
void SelectAllText(DialogWindow, int) {}
void FocusControl(DialogWindow window, int control) {
    D(window).focus = control;
}

void ComboReset(DialogWindow window, int control) {
    C(window, control).items.clear();
    C(window, control).selection = -1;
}
void ComboAdd(DialogWindow window, int control, const char* item) {
    C(window, control).items.emplace_back(item);
}
void ComboSelect(DialogWindow window, int control, int position) {
    HeadlessControl& c = C(window, control);
    c.selection = position >= 0 && position < static_cast<int>(c.items.size()) ? position : -1;
}
int ComboSelection(DialogWindow window, int control) {
    return C(window, control).selection;
}

void SpinRange(DialogWindow window, int control, int low, int high) {
    C(window, control).spinLow = low;
    C(window, control).spinHigh = high;
}
void SpinSetPosition(DialogWindow window, int control, int position) {
    HeadlessControl& c = C(window, control);
    c.spinPosition = position < c.spinLow    ? c.spinLow
                     : position > c.spinHigh ? c.spinHigh
                                             : position;
}
int SpinPosition(DialogWindow window, int control) {
    return C(window, control).spinPosition;
}

std::int32_t MessageBoxFor(DialogWindow owner, const char* text, const char* caption,
                           std::uint32_t style) {
    const bool yesNo = (style & 0x0F) == kBoxYesNo;
    std::int32_t answer = yesNo ? kAnswerNo : kAnswerOk;
    if (!Queue().empty() && Queue().front().kind == UserActionKind::Answer) {
        answer = Queue().front().value;
        Queue().pop_front();
    }
    HeadlessMessageBoxes().push_back({owner != nullptr ? D(owner).templateName : std::string(), 0,
                                      text, caption, style, answer});
    return answer;
}

void CaptureMouse(DialogWindow window, int control) {
    D(window).capture = control;
}
void ReleaseMouse(DialogWindow window) {
    D(window).capture = 0;
}
void SetCursorShape(CursorShape) {}
void RepaintControl(DialogWindow window, int control) {
    if (control == IDC_PREVIEW) Paint(window);
}
std::int32_t ControlClientBottom(DialogWindow, int) {
    return kPreviewHeight;
}

void DrawBitmapStretched(Canvas canvas, int bitmap, const PaintRect& r) {
    if (bitmap != IDB_CURVE_GRID) return;
    auto& picture = *static_cast<HeadlessPicture*>(canvas);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return;
    for (int y = 0; y < h; ++y) {
        const int sy = y * kGridHeight / h;
        for (int x = 0; x < w; ++x) {
            const int sx = x * kGridWidth / w;
            const char digit = kCurveGrid[sy][sx];
            const int index = digit <= '9' ? digit - '0' : digit - 'a' + 10;
            PutPixel(picture, r.left + x, r.top + y, kVgaPalette[index]);
        }
    }
}

void FillRectangle(Canvas canvas, const PaintRect& r, Rgb24 colour) {
    auto& picture = *static_cast<HeadlessPicture*>(canvas);
    // As FillRect: the right and bottom edges are not filled.
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) PutPixel(picture, x, y, colour);
}

void DrawPolyline(Canvas canvas, const PaintPoint* points, int count, Rgb24 colour) {
    auto& picture = *static_cast<HeadlessPicture*>(canvas);
    // Each segment from its start up to, not including, its end, as LineTo.
    for (int i = 0; i + 1 < count; ++i) {
        int x = points[i].x, y = points[i].y;
        const int x1 = points[i + 1].x, y1 = points[i + 1].y;
        const int dx = std::abs(x1 - x), dy = -std::abs(y1 - y);
        const int sx = x < x1 ? 1 : -1, sy = y < y1 ? 1 : -1;
        int err = dx + dy;
        while (x != x1 || y != y1) {
            PutPixel(picture, x, y, colour);
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y += sy;
            }
        }
    }
}

// The raster failure message, owned by the host's window.
std::int32_t ShowMessageBox(std::uint32_t owner, const char* text, const char* caption,
                            std::uint32_t style) {
    std::int32_t answer = kAnswerOk;
    if (!Queue().empty() && Queue().front().kind == UserActionKind::Answer) {
        answer = Queue().front().value;
        Queue().pop_front();
    }
    HeadlessMessageBoxes().push_back({std::string(), owner, text, caption, style, answer});
    return answer;
}

}  // namespace varnu
