#include "session/configure.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "resource.h"
#include "session/config_store.h"
#include "session/curve_dragger.h"
#include "session/driver.h"
#include "session/text.h"
#include "sinks/png_file.h"
#include "varnu/config_record.h"
#include "varnu/headless_dialogs.h"
#include "varnu/packet_layouts.h"

namespace varnu::host {

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

using Messages = std::vector<std::string>;

// Selects `row` of a combo box once its dialog is up; a row the list does not
// have is noted in `refusals` (a selection would store it all the same).
void SelectRow(const char* dialog, int control, int row, const char* option, Messages* refusals) {
    Inspect(dialog, [=](const varnu::HeadlessDialog& d) {
        const auto it = d.controls.find(control);
        const int rows = it == d.controls.end() ? 0 : static_cast<int>(it->second.items.size());
        if (row < 0 || row >= rows)
            refusals->push_back(std::string(option) + " " + std::to_string(row) +
                                " is not a row of the list (0.." + std::to_string(rows - 1) + ")");
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
void SelectPaper(const std::string& value, Messages* refusals) {
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
            refusals->push_back("no paper format \"" + value +
                                "\" (adihost configure --show lists the current one)");
            return;
        }
        QueueUserActionsNext({UserAction{
            UserActionKind::Select, kSetup, IDC_PAPER, static_cast<int>(row), {}, 0, 0, nullptr}});
    });
}

// The setup dialog's fields and lists, and those of its options dialog.
void QueueSettings(const ConfigureOptions& o, Messages* refusals) {
    if (o.paper) SelectPaper(*o.paper, refusals);
    if (o.length) Act(UserActionKind::Type, kSetup, IDC_LENGTH, 0, std::to_string(*o.length));
    if (o.margin) Act(UserActionKind::Type, kSetup, IDC_MARGIN, 0, std::to_string(*o.margin));
    if (o.copies) Act(UserActionKind::Type, kSetup, IDC_COPIES, 0, std::to_string(*o.copies));
    if (o.media) SelectRow(kSetup, IDC_MEDIA, *o.media, "--media", refusals);
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
        if (o.program) SelectRow(kOptions, IDC_PROGRAM, *o.program, "--program", refusals);
        if (o.finishMargin)
            SelectRow(kOptions, IDC_FINISH_MARGIN, *o.finishMargin, "--finish-margin", refusals);
        if (o.bin) SelectRow(kOptions, IDC_BIN, *o.bin, "--bin", refusals);
        if (o.manualOutput)
            Act(UserActionKind::Click, kOptions,
                *o.manualOutput == "yes" ? IDC_MANUAL_ON : IDC_MANUAL_OFF);
        Act(UserActionKind::Click, kOptions, IDC_OK);
    }
}

// What the dialogs said: their warnings, what the headless layer could not
// do, and whether the setup dialog closed with "OK" having taken every action.
bool DialogsTookEverything(Messages* messages) {
    bool took = true;
    for (const auto& box : varnu::HeadlessMessageBoxes()) {
        messages->push_back(Utf8FromWindows1252(box.caption) + ": " +
                            Utf8FromWindows1252(box.text));
        took = false;
    }
    for (const std::string& e : varnu::HeadlessErrors()) {
        messages->push_back("not available here: " + e);
        took = false;
    }
    if (varnu::PendingUserActions() != 0 || varnu::HeadlessDialogLog().empty() ||
        varnu::HeadlessDialogLog().back().result != 0) {
        messages->push_back("the setup dialog did not take every setting");
        took = false;
    }
    return took;
}

// A value the fields cut (the copies field takes two digits) is refused
// rather than stored as something else.
bool StoredWhatWasAsked(const ConfigureOptions& o, const varnu::ConfigRecord& c,
                        Messages* messages) {
    bool took = true;
    auto check = [&](const char* option, const std::optional<int>& asked, long long stored) {
        if (asked && *asked != stored) {
            messages->push_back(std::string("the setup dialog did not take ") + option + " " +
                                std::to_string(*asked));
            took = false;
        }
    };
    check("--copies", o.copies, c.copies);
    check("--margin", o.margin, c.marginMm);
    check("--length", o.length, c.customLengthMm);
    check("--media", o.media, c.mediaIndex);
    check("--program", o.program, c.finishProgramIndex);
    check("--finish-margin", o.finishMargin, c.finishMarginIndex);
    check("--bin", o.bin, c.outputBinIndex);
    if (o.curve && !std::equal(o.curve->begin(), o.curve->end(), c.curvePoints)) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "the image-correction dialog set the curve to %d,%d,%d,%d,%d "
                      "(its handles rise from left to right, about 8 apart)",
                      c.curvePoints[0], c.curvePoints[1], c.curvePoints[2], c.curvePoints[3],
                      c.curvePoints[4]);
        messages->push_back(text);
        took = false;
    }
    return took;
}

// The driver's dialogs for one run, headless, the stored records held and
// the host's version told; whatever way the run returns, no action of ours
// stays queued and no record stays held.
struct DialogSession {
    DialogSession() {
        LockConfig();
        varnu::ResetHeadlessDialogs();
        HoldConfigStores();
        Packet version(11);
        version.Set<std::int16_t>(layout::version::kVersion, 14);
        SendDriver(version);
    }
    ~DialogSession() {
        varnu::ClearUserActions();
        DropHeldConfig();
    }
    DialogSession(const DialogSession&) = delete;
    DialogSession& operator=(const DialogSession&) = delete;
};

}  // namespace

bool Configure(const ConfigureOptions& o, Messages* messages) {
    const DialogSession session;
    Packet model(20);
    SendDriver(model);

    Messages refusals;
    QueueSettings(o, &refusals);
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
    messages->insert(messages->end(), refusals.begin(), refusals.end());
    refused = !DialogsTookEverything(messages) || refused;
    if (!pngWritten) {
        messages->push_back(pngError);
        refused = true;
    }
    Packet save(47);
    const std::optional<varnu::ConfigRecord> held =
        SendDriver(save) == 0 ? HeldConfig() : std::nullopt;
    if (!held) {
        messages->push_back("the configuration could not be stored");
        return false;
    }
    refused = !StoredWhatWasAsked(o, *held, messages) || refused;
    if (refused) {
        messages->push_back("nothing stored");
        return false;
    }
    if (!CommitHeldConfig()) {
        messages->push_back("the configuration could not be stored");
        return false;
    }
    return true;
}

std::vector<std::string> PaperList() {
    const DialogSession session;
    std::vector<std::string> names;
    Inspect(kSetup, [&names](const varnu::HeadlessDialog& d) {
        const auto it = d.controls.find(IDC_PAPER);
        if (it == d.controls.end()) return;
        for (const std::string& item : it->second.items) {
            std::string name = Utf8FromWindows1252(item);
            while (!name.empty() && name.back() == ' ') name.pop_back();
            names.push_back(name);
        }
    });
    Act(UserActionKind::Click, kSetup, IDC_CANCEL);
    Packet configure(21);
    SendDriver(configure);
    return names;
}

std::string DriverSummary() {
    EchoMessages(false);
    TakeMessages();
    Packet summary(31);
    SendPlot(summary);
    Packet catalogue(15);
    SendPlot(catalogue);
    std::string text;
    for (const std::string& m : TakeMessages()) text += m;
    EchoMessages(true);
    return text;
}

}  // namespace varnu::host
