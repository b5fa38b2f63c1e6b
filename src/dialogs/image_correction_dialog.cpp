// "Bildkorrektur": the tone curve's five control values, shown over a grid
// with their handles, dragged with the mouse or shifted with three small
// scroll bars.
#include <cstdint>

#include "config/config_record.h"
#include "config/tone_curve.h"
#include "dialogs/dialog_platform.h"
#include "dialogs/dialog_texts.h"
#include "dialogs/dialogs.h"
#include "dialogs/dialogs_internal.h"
#include "resource.h"
#include "varnu/default_tone_curve.h"

namespace varnu {

namespace {

std::int32_t* P() {
    return Configuration.ToneCurveEditPoints;
}

constexpr Rgb24 kHandleColour = {255, 0, 0};
constexpr Rgb24 kCurveColour = {0, 0, 255};
constexpr int kHitDistance = 2;
constexpr int kHandleGap = 4;

bool Init(DialogWindow) {
    for (int k = 0; k < kCurvePointCount; ++k) P()[k] = Dialogs.DialogWorkingCopy.curvePoints[k];
    rebuildToneCurve(P());
    Dialogs.Curve.dragMoved = false;
    Dialogs.Curve.dragging = false;
    return true;
}

// The quartic Bezier of five values at t = i / 255, as the tone curve samples it.
std::int32_t BezierAt(const std::int32_t v[5], int i) {
    const double t = i * 0.00392156862745098;
    const double u = 1.0 - t;
    const double y = v[0] * u * u * u * u + 4.0 * v[1] * t * u * u * u +
                     6.0 * v[2] * t * t * u * u + 4.0 * v[3] * t * t * t * u + v[4] * t * t * t * t;
    return static_cast<std::int32_t>(y);  // toward zero
}

void Paint(DialogWindow, int, Canvas canvas, const PaintRect& r) {
    DrawBitmapStretched(canvas, IDB_CURVE_GRID, r);
    Dialogs.Curve.height = r.bottom - r.top;
    const std::int32_t xs[5] = {r.left, (r.left + r.right) / 4, (r.left + r.right) / 2,
                                3 * (r.left + r.right) / 4, r.right};
    std::int32_t ys[5];
    for (int k = 0; k < 5; ++k) {
        ys[k] = r.bottom - (r.bottom * P()[k]) / 255;
        Dialogs.Curve.handles[k] = {xs[k], ys[k]};
    }
    PaintPoint points[256];
    for (int i = 0; i < 256; ++i) points[i] = {BezierAt(xs, i), BezierAt(ys, i)};
    for (const PaintPoint& h : Dialogs.Curve.handles)
        FillRectangle(canvas, {h.x - 2, h.y - 2, h.x + 2, h.y + 2}, kHandleColour);
    DrawPolyline(canvas, points, 256, kCurveColour);
}

// The dragged handle's new screen position has been set: its value follows.
void HandleMoved(DialogWindow dialog) {
    const int k = Dialogs.Curve.dragged;
    if (Dialogs.Curve.height <= 0) return;
    std::int32_t value =
        (Dialogs.Curve.height - Dialogs.Curve.handles[k].y) * 255 / Dialogs.Curve.height;
    value = value < 0 ? 0 : value > 255 ? 255 : value;
    P()[k] = value;
    RepaintControl(dialog, IDC_PREVIEW);
}

void Mouse(DialogWindow dialog, int control, MouseAction action, int x, int y) {
    switch (action) {
        case MouseAction::Press:
            for (int k = 0; k < 5; ++k) {
                const PaintPoint h = Dialogs.Curve.handles[k];
                if (x >= h.x - kHitDistance && x <= h.x + kHitDistance && y >= h.y - kHitDistance &&
                    y <= h.y + kHitDistance) {
                    Dialogs.Curve.dragging = true;
                    Dialogs.Curve.dragged = k;
                    CaptureMouse(dialog, control);
                    SetCursorShape(CursorShape::Cross);
                    return;
                }
            }
            return;
        case MouseAction::Move: {
            if (!Dialogs.Curve.dragging) return;
            SetCursorShape(CursorShape::Cross);
            // The 16-bit client coordinate: 0x8000 and above lie above the control.
            const auto my = static_cast<std::int16_t>(static_cast<std::uint16_t>(y));
            const std::int32_t bottom = ControlClientBottom(dialog, control);
            const int k = Dialogs.Curve.dragged;
            const PaintPoint* h = Dialogs.Curve.handles;
            auto within = [bottom](std::int32_t v) { return v < bottom ? v : bottom; };
            std::int32_t ny;
            // Each handle stays 4 pixels above its left neighbour and below its
            // right one, so the curve keeps rising.
            if (k == 0) {
                ny = (my < 0 || my <= h[1].y + kHandleGap) ? h[1].y + kHandleGap : within(my);
            } else if (k < 4) {
                if (my < 0 || my <= h[k + 1].y + kHandleGap) {
                    ny = h[k + 1].y + kHandleGap;
                } else if (my >= h[k - 1].y - kHandleGap) {
                    ny = h[k - 1].y - kHandleGap;
                } else {
                    ny = within(my);
                }
            } else {
                ny = my < 0 ? 0 : my > h[3].y - kHandleGap ? h[3].y - kHandleGap : within(my);
            }
            Dialogs.Curve.handles[k].y = ny;
            Dialogs.Curve.dragMoved = true;
            HandleMoved(dialog);
            return;
        }
        case MouseAction::Release:
            if (!Dialogs.Curve.dragging) return;
            Dialogs.Curve.dragging = false;
            ReleaseMouse(dialog);
            SetCursorShape(CursorShape::Arrow);
            return;
    }
}

// Applies a step to the five values if every result stays a byte value; a
// step that would leave 0..255 is refused, so the values always fit the
// stored curve.
void Step(const std::int32_t delta[5]) {
    for (int k = 0; k < 5; ++k)
        if (P()[k] + delta[k] < 0 || P()[k] + delta[k] > 255) return;
    for (int k = 0; k < 5; ++k) P()[k] += delta[k];
}

bool Scroll(DialogWindow dialog, int control, int code) {
    if (code != kLineUp && code != kLineDown) return true;
    const bool up = code == kLineUp;
    const std::int32_t* p = P();
    switch (control) {
        case IDC_CONTRAST:
            if (up && p[4] < 254 && p[0] > 1) {
                const std::int32_t steeper[5] = {-2, -1, 0, 1, 2};
                Step(steeper);
            } else if (!up && p[4] <= 255 && p[0] >= 0 && p[1] < p[3] - 10) {
                const std::int32_t flatter[5] = {2, 1, 0, -1, -2};
                Step(flatter);
            }
            break;
        case IDC_SHIFT:
            if (up && p[4] < 255) {
                const std::int32_t lighter[5] = {1, 1, 1, 1, 1};
                Step(lighter);
            } else if (!up && p[0] > 0) {
                const std::int32_t darker[5] = {-1, -1, -1, -1, -1};
                Step(darker);
            }
            break;
        case IDC_GAMMA:
            if (up && p[2] < p[3] && p[3] < p[4]) {
                const std::int32_t raise[5] = {0, 4, 5, 4, 0};
                Step(raise);
            } else if (!up && p[0] < p[1] && p[1] < p[2]) {
                const std::int32_t lower[5] = {0, -4, -5, -4, 0};
                Step(lower);
            }
            break;
        default:
            return true;
    }
    RepaintControl(dialog, IDC_PREVIEW);
    return true;
}

bool Command(DialogWindow dialog, int control, int) {
    switch (control) {
        case IDC_DEFAULT_CURVE:
            if (MessageBoxFor(dialog, dialog_texts::kResetQuestion, dialog_texts::kResetCaption,
                              kBoxYesNo | kBoxQuestion | kBoxForeground) == kAnswerYes) {
                Configuration.ToneCurve = DefaultToneCurve;
                for (int k = 0; k < kCurvePointCount; ++k) {
                    P()[k] = Configuration.ToneCurve[kCurveInputs[k]];
                    Dialogs.DialogWorkingCopy.curvePoints[k] = static_cast<std::uint8_t>(P()[k]);
                }
                rebuildToneCurve(P());
                RepaintControl(dialog, IDC_PREVIEW);
            }
            return true;
        case IDC_CURVE_OK:
            rebuildToneCurve(P());
            EndDialogWith(dialog, 0);
            return true;
        default:
            return false;
    }
}

// Escape does not close it: only "OK" does.
constexpr DialogLogic kImageCorrectionLogic = {Init, Command, Scroll, Paint, Mouse, false};

}  // namespace

std::int32_t ShowImageCorrectionDialog(DialogWindow owner) {
    return RunDialog("IDD_COLOR_GER", owner, kImageCorrectionLogic);
}

}  // namespace varnu
