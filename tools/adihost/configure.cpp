#include "adihost/configure.h"

#include <cctype>
#include <cstdio>

#include "adihost/host.h"
#include "adihost/png_writer.h"
#include "config/config_record.h"
#include "config/device_tables.h"
#include "config/tone_curve.h"
#include "dialogs/headless.h"
#include "resource.h"

namespace adihost {

namespace {

using varnu::QueueUserAction;
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

// The paper row a --paper value names: its number, or its name (blanks and
// case aside).
int PaperPosition(const std::string& value) {
    varnu::RebuildPaperNameList(0);
    char* end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 10);
    if (!value.empty() && *end == '\0')
        return number >= 1 && number <= varnu::PaperNameList.count ? static_cast<int>(number) - 1
                                                                   : -1;
    for (int i = 0; i < varnu::PaperNameList.count; ++i)
        if (Trimmed(Utf8FromWindows1252(varnu::PaperNameList.names[i])) == Trimmed(value)) return i;
    return -1;
}

}  // namespace

int RunConfigure(const ConfigureOptions& o) {
    LockConfig();
    varnu::ResetHeadlessDialogs();
    Packet version(11);
    version.Set<std::int16_t>(4, 14);
    SendDriver(version);
    Packet model(20);
    SendDriver(model);

    if (o.paper) {
        const int position = PaperPosition(*o.paper);
        if (position < 0) {
            std::fprintf(stderr,
                         "adihost: no paper format \"%s\" (adihost configure --show lists the "
                         "current one)\n",
                         o.paper->c_str());
            return 1;
        }
        Act(UserActionKind::Select, kSetup, IDC_PAPER, position);
    }
    if (o.length) Act(UserActionKind::Type, kSetup, IDC_LENGTH, 0, std::to_string(*o.length));
    if (o.margin) Act(UserActionKind::Type, kSetup, IDC_MARGIN, 0, std::to_string(*o.margin));
    if (o.copies) Act(UserActionKind::Type, kSetup, IDC_COPIES, 0, std::to_string(*o.copies));
    std::string refusals;
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
    if (o.curve) {
        // The five handles set where the user would have dragged them.
        Act(UserActionKind::Click, kSetup, IDC_IMAGE_CORRECTION);
        const std::array<int, 5> values = *o.curve;
        Inspect(kCurve, [values](const varnu::HeadlessDialog&) {
            for (int k = 0; k < 5; ++k) varnu::ToneCurveEditPoints[k] = values[k];
        });
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
    configure.Set<std::int16_t>(6, o.defaults ? 1 : 0);
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
    // A value the fields cut (the copies field takes two digits) is refused
    // rather than stored as something else.
    const varnu::ConfigRecord& c = varnu::Config;
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
    if (refused) {
        std::fputs("adihost: nothing stored\n", stderr);
        return 1;
    }
    Packet save(47);
    if (SendDriver(save) != 0) {
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
