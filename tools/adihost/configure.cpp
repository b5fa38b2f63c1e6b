#include "adihost/configure.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "adihost/host.h"
#include "adihost/png_writer.h"
#include "resource.h"
#include "varnu/config_record.h"
#include "varnu/headless_dialogs.h"
#include "varnu/packet_layouts.h"

namespace adihost {

namespace layout = varnu::layout;

namespace {

using varnu::QueueUserAction;
using varnu::QueueUserActionsNext;
using varnu::UserAction;
using varnu::UserActionKind;

constexpr const char* kSetup = "DETAILCFG2_GER";
constexpr const char* kOptions = "OPTIONCFG1_GER";
constexpr const char* kCurve = "IDD_COLOR_GER";

void Act(UserActionKind kind, const char* dialog, int control, int value = 0,
         std::string text = {}) {
    QueueUserAction(UserAction{kind, dialog, control, value, std::move(text), 0, 0, nullptr});
}

void Inspect(const char* dialog, std::function<void(const varnu::HeadlessDialog&)> fn) {
    UserAction a{UserActionKind::Inspect, dialog, 0, 0, {}, 0, 0, std::move(fn)};
    QueueUserAction(std::move(a));
}

// Selects `row` of a combo box once its dialog is up; a row the list does not
// have is noted in `refusals` (a selection would store it all the same).
void SelectRow(const char* dialog, int control, int row, const char* option,
               std::string* refusals) {
    Inspect(dialog, [=](const varnu::HeadlessDialog& d) {
        const auto it = d.controls.find(control);
        const int rows = it == d.controls.end() ? 0 : static_cast<int>(it->second.items.size());
        if (row < 0 || row >= rows)
            *refusals += std::string("adihost: ") + option + " " + std::to_string(row) +
                         " is not a row of the list (0.." + std::to_string(rows - 1) + ")\n";
    });
    Act(UserActionKind::Select, dialog, control, row);
}

std::string Trimmed(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    std::string out = s.substr(b, e - b);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Selects the paper row a --paper value names, as the user picks it from the
// dialog's list: by its number, or by its name (blanks and case aside).
void SelectPaper(const std::string& value, std::string* refusals) {
    Inspect(kSetup, [value, refusals](const varnu::HeadlessDialog& d) {
        const auto it = d.controls.find(IDC_PAPER);
        const std::vector<std::string> none;
        const std::vector<std::string>& items = it == d.controls.end() ? none : it->second.items;
        const auto rows = static_cast<long>(items.size());
        long row = -1;
        char* end = nullptr;
        const long number = std::strtol(value.c_str(), &end, 10);
        if (!value.empty() && *end == '\0') {
            row = number >= 1 && number <= rows ? number - 1 : -1;
        } else {
            for (long i = 0; i < rows && row < 0; ++i)
                if (Trimmed(Utf8FromWindows1252(items[static_cast<std::size_t>(i)])) ==
                    Trimmed(value))
                    row = i;
        }
        if (row < 0) {
            *refusals += "adihost: no paper format \"" + value +
                         "\" (adihost configure --show lists the current one)\n";
            return;
        }
        QueueUserActionsNext({UserAction{
            UserActionKind::Select, kSetup, IDC_PAPER, static_cast<int>(row), {}, 0, 0, nullptr}});
    });
}

// The image-correction dialog as the user sees it: five red handles on the
// preview, a handle's value following its height when dragged. The preview
// has fewer rows than there are values, so a drag reaches about every other
// value; the rest are set in two rounds with one step of the "shift" scroll
// bar (all five values up by one) between them.
class CurveDragger {
  public:
    explicit CurveDragger(const std::array<int, 5>& target) : target_(target) {}

    // Looks at the preview and queues the next drag, or the shift between
    // the rounds; nothing once every handle is where it should be.
    void Step() {
        const varnu::HeadlessPicture& picture = varnu::HeadlessPreview();
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
        UserAction shift{
            UserActionKind::Scroll, kCurve, IDC_SHIFT, 0 /* line up */, {}, 0, 0, nullptr};
        QueueUserActionsNext({shift, Next()});
    }

  private:
    static int ValueAt(int y, int h) { return (h - y) * 255 / h; }
    // The row whose value is v, or the nearest row below it.
    static int RowFor(int v, int h) {
        for (int y = 0; y <= h; ++y)
            if (ValueAt(y, h) <= v) return y;
        return h;
    }
    static int HandleX(const varnu::HeadlessPicture& p, int k) {
        const int xs[5] = {0, p.width / 4, p.width / 2, 3 * p.width / 4, p.width};
        return xs[k];
    }
    // The centre row of the red square around column x.
    static int HandleRow(const varnu::HeadlessPicture& p, int x) {
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
    void Plan(int h) {
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
    static UserAction Mouse(UserActionKind kind, int x, int y) {
        return UserAction{kind, kCurve, IDC_PREVIEW, 0, {}, x, y, nullptr};
    }
    UserAction Next() {
        return UserAction{UserActionKind::Inspect,
                          kCurve,
                          0,
                          0,
                          {},
                          0,
                          0,
                          [this](const varnu::HeadlessDialog&) { Step(); }};
    }

    std::array<int, 5> target_;
    std::array<int, 5> goal_{};
    std::array<bool, 5> done_{};
    std::array<bool, 5> direct_{};
    bool planned_ = false;
    bool shiftPending_ = false;
    int lift_ = 4;
};

}  // namespace

int RunConfigure(const ConfigureOptions& o) {
    LockConfig();
    varnu::ResetHeadlessDialogs();
    HoldConfigStores();
    // Whatever way this returns, no action of ours stays queued and no
    // record stays held.
    struct Cleanup {
        ~Cleanup() {
            varnu::ClearUserActions();
            DropHeldConfig();
        }
    } cleanup;
    Packet version(11);
    version.Set<std::int16_t>(layout::version::kVersion, 14);
    SendDriver(version);
    Packet model(20);
    SendDriver(model);

    std::string refusals;
    if (o.paper) SelectPaper(*o.paper, &refusals);
    if (o.length) Act(UserActionKind::Type, kSetup, IDC_LENGTH, 0, std::to_string(*o.length));
    if (o.margin) Act(UserActionKind::Type, kSetup, IDC_MARGIN, 0, std::to_string(*o.margin));
    if (o.copies) Act(UserActionKind::Type, kSetup, IDC_COPIES, 0, std::to_string(*o.copies));
    if (o.media) SelectRow(kSetup, IDC_MEDIA, *o.media, "--media", &refusals);
    if (o.fill)
        Act(UserActionKind::Click, kSetup, *o.fill == "solid" ? IDC_FILL_SOLID : IDC_FILL_HALFTONE);
    if (o.resolution) {
        const int id = *o.resolution == 600   ? IDC_DPI600
                       : *o.resolution == 400 ? IDC_DPI400
                       : *o.resolution == 300 ? IDC_DPI300
                                              : IDC_DPI200;
        Act(UserActionKind::Click, kSetup, id);
    }
    if (o.program || o.finishMargin || o.bin || o.manualOutput) {
        Act(UserActionKind::Click, kSetup, IDC_OPTIONS);
        if (o.program) SelectRow(kOptions, IDC_PROGRAM, *o.program, "--program", &refusals);
        if (o.finishMargin)
            SelectRow(kOptions, IDC_FINISH_MARGIN, *o.finishMargin, "--finish-margin", &refusals);
        if (o.bin) SelectRow(kOptions, IDC_BIN, *o.bin, "--bin", &refusals);
        if (o.manualOutput)
            Act(UserActionKind::Click, kOptions,
                *o.manualOutput == "yes" ? IDC_MANUAL_ON : IDC_MANUAL_OFF);
        Act(UserActionKind::Click, kOptions, IDC_OK);
    }
    CurveDragger dragger(o.curve.value_or(std::array<int, 5>{}));
    if (o.curve) {
        Act(UserActionKind::Click, kSetup, IDC_IMAGE_CORRECTION);
        Inspect(kCurve, [&dragger](const varnu::HeadlessDialog&) { dragger.Step(); });
        Act(UserActionKind::Click, kCurve, IDC_CURVE_OK);
    }
    std::string pngError;
    bool pngWritten = true;
    if (!o.curvePng.empty()) {
        Act(UserActionKind::Click, kSetup, IDC_IMAGE_CORRECTION);
        const std::string path = o.curvePng;
        Inspect(kCurve, [path, &pngError, &pngWritten](const varnu::HeadlessDialog&) {
            const varnu::HeadlessPicture& picture = varnu::HeadlessPreview();
            pngWritten = WritePng(path, picture.width, picture.height, picture.rgb, &pngError);
        });
        Act(UserActionKind::Click, kCurve, IDC_CURVE_OK);
    }
    Act(UserActionKind::Click, kSetup, IDC_OK);

    Packet configure(21);
    configure.Set<std::int16_t>(layout::configure::kDefaults, o.defaults ? 1 : 0);
    SendDriver(configure);

    bool refused = !refusals.empty();
    std::fputs(refusals.c_str(), stderr);
    for (const auto& box : varnu::HeadlessMessageBoxes()) {
        std::fprintf(stderr, "adihost: %s: %s\n", Utf8FromWindows1252(box.caption).c_str(),
                     Utf8FromWindows1252(box.text).c_str());
        refused = true;
    }
    for (const std::string& e : varnu::HeadlessErrors()) {
        std::fprintf(stderr, "adihost: not available here: %s\n", e.c_str());
        refused = true;
    }
    if (varnu::PendingUserActions() != 0 || varnu::HeadlessDialogLog().empty() ||
        varnu::HeadlessDialogLog().back().result != 0) {
        std::fputs("adihost: the setup dialog did not take every setting\n", stderr);
        refused = true;
    }
    if (!pngWritten) {
        std::fprintf(stderr, "adihost: %s\n", pngError.c_str());
        refused = true;
    }
    Packet save(47);
    const std::optional<varnu::ConfigRecord> held =
        SendDriver(save) == 0 ? HeldConfig() : std::nullopt;
    if (!held) {
        std::fputs("adihost: the configuration could not be stored\n", stderr);
        return 1;
    }
    // A value the fields cut (the copies field takes two digits) is refused
    // rather than stored as something else.
    const varnu::ConfigRecord& c = *held;
    auto took = [&refused](const char* option, const std::optional<int>& asked, long long stored) {
        if (asked && *asked != stored) {
            std::fprintf(stderr, "adihost: the setup dialog did not take %s %d\n", option, *asked);
            refused = true;
        }
    };
    took("--copies", o.copies, c.copies);
    took("--margin", o.margin, c.marginMm);
    took("--length", o.length, c.customLengthMm);
    took("--media", o.media, c.mediaIndex);
    took("--program", o.program, c.finishProgramIndex);
    took("--finish-margin", o.finishMargin, c.finishMarginIndex);
    took("--bin", o.bin, c.outputBinIndex);
    if (o.curve && !std::equal(o.curve->begin(), o.curve->end(), c.curvePoints)) {
        std::fprintf(stderr,
                     "adihost: the image-correction dialog set the curve to %d,%d,%d,%d,%d "
                     "(its handles rise from left to right, about 8 apart)\n",
                     c.curvePoints[0], c.curvePoints[1], c.curvePoints[2], c.curvePoints[3],
                     c.curvePoints[4]);
        refused = true;
    }
    if (refused) {
        std::fputs("adihost: nothing stored\n", stderr);
        return 1;
    }
    if (!CommitHeldConfig()) {
        std::fputs("adihost: the configuration could not be stored\n", stderr);
        return 1;
    }
    if (o.show) {
        EchoMessages(false);
        TakeMessages();
        Packet summary(31);
        SendPlot(summary);
        Packet catalogue(15);
        SendPlot(catalogue);
        for (const std::string& m : TakeMessages()) std::fputs(m.c_str(), stdout);
        std::fputs("\n", stdout);
        EchoMessages(true);
    }
    return 0;
}

}  // namespace adihost
