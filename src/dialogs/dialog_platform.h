// The platform layer under the dialog logic: a modal dialog is a template
// name and a table of handlers; everything the logic does to the screen is
// one of the operations below. The headless layer (Linux) and the Win32
// layer (the DLL) implement them; which one is chosen at link time.
#pragma once

#include <cstdint>

namespace varnu {

// An open dialog; a window handle on Win32, a control-state record headless.
using DialogWindow = void*;

// Notification codes the logic tells apart (as Win32 numbers them).
inline constexpr int kClicked = 0;           // BN_CLICKED
inline constexpr int kSelectionChange = 1;   // CBN_SELCHANGE
inline constexpr int kFocusLost = 0x0200;    // EN_KILLFOCUS
inline constexpr int kTextChanged = 0x0300;  // EN_CHANGE

// Scroll codes.
inline constexpr int kLineUp = 0;    // SB_LINEUP
inline constexpr int kLineDown = 1;  // SB_LINEDOWN

enum class MouseAction { Press, Move, Release };
enum class CursorShape { Arrow, Cross };

// Message box styles and answers (Win32 values).
inline constexpr std::uint32_t kBoxOk = 0x00;
inline constexpr std::uint32_t kBoxYesNo = 0x04;
inline constexpr std::uint32_t kBoxQuestion = 0x20;
inline constexpr std::uint32_t kBoxWarning = 0x30;
inline constexpr std::uint32_t kBoxForeground = 0x10000;
inline constexpr std::int32_t kAnswerOk = 1;
inline constexpr std::int32_t kAnswerYes = 6;
inline constexpr std::int32_t kAnswerNo = 7;

struct PaintRect {
    std::int32_t left, top, right, bottom;
};
struct PaintPoint {
    std::int32_t x, y;
};
struct Rgb24 {
    std::uint8_t red, green, blue;
};

// Where an owner-drawn control is painted.
using Canvas = void*;

// Handlers of one dialog; a missing one means "not handled".
struct DialogLogic {
    bool (*init)(DialogWindow dialog);
    bool (*command)(DialogWindow dialog, int control, int notification);
    bool (*scroll)(DialogWindow dialog, int control, int code);
    void (*paint)(DialogWindow dialog, int control, Canvas canvas, const PaintRect& rect);
    void (*mouse)(DialogWindow dialog, int control, MouseAction action, int x, int y);
    bool closesOnEscape;  // Escape sends "Abbrechen" (id 2) when true
};

// Runs a dialog modally and returns what EndDialogWith was given.
std::int32_t RunDialog(const char* templateName, DialogWindow owner, const DialogLogic& logic);
void EndDialogWith(DialogWindow dialog, std::int32_t result);

void EnableControl(DialogWindow dialog, int control, bool enabled);
void CheckRadio(DialogWindow dialog, int first, int last, int checked);
void SetControlText(DialogWindow dialog, int control, const char* text);
// Copies at most size - 1 characters and a NUL; returns the length.
int GetControlText(DialogWindow dialog, int control, char* text, int size);
void SetControlUnsigned(DialogWindow dialog, int control, std::uint32_t value);
// The text read as an unsigned number; *isNumber false (and 0) when it is none.
std::uint32_t GetControlUnsigned(DialogWindow dialog, int control, bool* isNumber);
void LimitText(DialogWindow dialog, int control, int characters);
void SelectAllText(DialogWindow dialog, int control);
void FocusControl(DialogWindow dialog, int control);
void ComboReset(DialogWindow dialog, int control);
void ComboAdd(DialogWindow dialog, int control, const char* item);
void ComboSelect(DialogWindow dialog, int control, int position);
int ComboSelection(DialogWindow dialog, int control);
void SpinRange(DialogWindow dialog, int control, int low, int high);
void SpinSetPosition(DialogWindow dialog, int control, int position);
int SpinPosition(DialogWindow dialog, int control);
std::int32_t MessageBoxFor(DialogWindow owner, const char* text, const char* caption,
                           std::uint32_t style);
void CaptureMouse(DialogWindow dialog, int control);
void ReleaseMouse(DialogWindow dialog);
void SetCursorShape(CursorShape shape);
void RepaintControl(DialogWindow dialog, int control);
// Client bottom of a control, in its own coordinates.
std::int32_t ControlClientBottom(DialogWindow dialog, int control);

// Painting of owner-drawn controls.
void DrawBitmapStretched(Canvas canvas, int bitmap, const PaintRect& rect);
void FillRectangle(Canvas canvas, const PaintRect& rect, Rgb24 colour);
void DrawPolyline(Canvas canvas, const PaintPoint* points, int count, Rgb24 colour);

}  // namespace varnu
