#include "session/curve_dragger.h"

#include <algorithm>
#include <cstdint>

#include "resource.h"

namespace varnu::host {

namespace {

constexpr const char* kCurve = "IDD_COLOR_GER";

int ValueAt(int y, int h) {
    return (h - y) * 255 / h;
}

// The row whose value is v, or the nearest row below it.
int RowFor(int v, int h) {
    for (int y = 0; y <= h; ++y)
        if (ValueAt(y, h) <= v) return y;
    return h;
}

int HandleX(const HeadlessPicture& p, int k) {
    const int xs[5] = {0, p.width / 4, p.width / 2, 3 * p.width / 4, p.width};
    return xs[k];
}

// The centre row of the red square around column x.
int HandleRow(const HeadlessPicture& p, int x) {
    int top = p.height, bottom = -1;
    for (int y = 0; y < p.height; ++y)
        for (int c = std::max(0, x - 2); c <= std::min(p.width - 1, x + 2); ++c) {
            const std::uint8_t* px = &p.rgb[(static_cast<std::size_t>(y) * p.width + c) * 3];
            if (px[0] == 255 && px[1] == 0 && px[2] == 0) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    if (bottom < 0) return p.height / 2;
    if (bottom - top >= 3) return top + 2;
    // Cut at an edge of the preview, or partly painted over by the curve.
    if (top <= 2) return std::max(bottom - 1, 0);
    if (bottom >= p.height - 3) return top + 2;
    return (top + bottom + 1) / 2;
}

UserAction Mouse(UserActionKind kind, int x, int y) {
    return UserAction{kind, kCurve, IDC_PREVIEW, 0, {}, x, y, nullptr};
}

}  // namespace

void CurveDragger::Step() {
    const HeadlessPicture& picture = HeadlessPreview();
    const int h = picture.height;
    if (h <= 0) return;
    if (!planned_) Plan(h);
    int rows[5];
    for (int k = 0; k < 5; ++k) rows[k] = HandleRow(picture, HandleX(picture, k));
    // First every handle is lifted to the top, from the right: each stops
    // 4 rows below its neighbour, so that placing them from the left
    // never meets one in the way.
    if (lift_ >= 0) {
        const int k = lift_--;
        const int x = HandleX(picture, k);
        QueueUserActionsNext({Mouse(UserActionKind::Press, x, rows[k]),
                              Mouse(UserActionKind::Move, x, 0),
                              Mouse(UserActionKind::Release, x, 0), Next()});
        return;
    }
    for (int k = 0; k < 5; ++k) {
        if (done_[k]) continue;
        done_[k] = true;
        const int y = RowFor(goal_[k], h);
        const int x = HandleX(picture, k);
        QueueUserActionsNext({Mouse(UserActionKind::Press, x, rows[k]),
                              Mouse(UserActionKind::Move, x, y),
                              Mouse(UserActionKind::Release, x, y), Next()});
        return;
    }
    if (!shiftPending_) return;  // done; the stored record says what was reached
    shiftPending_ = false;
    for (int k = 0; k < 5; ++k) {
        goal_[k] = target_[k];
        done_[k] = !direct_[k];
    }
    UserAction shift{UserActionKind::Scroll, kCurve, IDC_SHIFT, 0 /* line up */, {}, 0, 0, nullptr};
    QueueUserActionsNext({shift, Next()});
}

void CurveDragger::Plan(int h) {
    planned_ = true;
    for (int k = 0; k < 5; ++k) {
        direct_[k] = ValueAt(RowFor(target_[k], h), h) == target_[k];
        if (!direct_[k]) shiftPending_ = true;
    }
    for (int k = 0; k < 5; ++k) {
        // First round: one below the value (the shift adds it), and the
        // others just below theirs, so that the shift is allowed.
        const int below = std::max(target_[k] - 1, 0);
        goal_[k] = shiftPending_ ? ValueAt(RowFor(below, h), h) : target_[k];
        done_[k] = false;
    }
}

UserAction CurveDragger::Next() {
    return UserAction{
        UserActionKind::Inspect, kCurve, 0, 0, {}, 0, 0, [this](const HeadlessDialog&) { Step(); }};
}

}  // namespace varnu::host
