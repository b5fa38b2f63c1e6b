#include "session/job.h"

#include "resource.h"
#include "session/driver.h"
#include "session/text.h"
#include "varnu/headless_dialogs.h"
#include "varnu/packet_layouts.h"
#include "varnu/pladi.h"

namespace varnu::host {

namespace {

namespace layout = varnu::layout;

}  // namespace

// What the host learns at configuration time: the version, the page data.
bool ReadSheet(Sheet* sheet, std::string* error) {
    Packet version(11);
    version.Set<std::int16_t>(layout::version::kVersion, 14);
    if (SendDriver(version) != 0) {
        *error = "the driver refused the host version";
        return false;
    }
    Packet configure(21);
    SendDriver(configure);
    if (configure.result() != 0) {
        *error = "the driver could not report its page data";
        return false;
    }
    sheet->extentX = configure.Get<double>(layout::configure::kExtentX);
    sheet->extentY = configure.Get<double>(layout::configure::kExtentY);
    sheet->resolution = configure.Get<double>(layout::configure::kResolutionX);
    return true;
}

namespace {

// The label is typed into the driver's dialog of request 46, as a user
// would, so that it passes the dialog's checks.
std::string TypeLabel(const std::string& label) {
    using varnu::UserActionKind;
    varnu::ResetHeadlessDialogs();
    varnu::QueueUserAction(
        {UserActionKind::Type, "DRIVERCFG2_GER", IDC_LABEL, 0, label, 0, 0, nullptr});
    varnu::QueueUserAction(
        {UserActionKind::LoseFocus, "DRIVERCFG2_GER", IDC_LABEL, 0, {}, 0, 0, nullptr});
    varnu::QueueUserAction(
        {UserActionKind::Click, "DRIVERCFG2_GER", IDC_CANCEL, 0, {}, 0, 0, nullptr});
    Packet driverDialog(46);
    SendPlot(driverDialog);
    if (varnu::HeadlessMessageBoxes().empty()) return {};
    return "label refused: " + Utf8FromWindows1252(varnu::HeadlessMessageBoxes().front().text);
}

std::string Refusal(std::int16_t request, const std::string& detail) {
    switch (request) {
        case -1:
            return detail;
        case 29:
            return "the driver could not open the plot (is the configuration stored?)";
        case 47:
            return "the driver refused the plot extents";
        case 48:
            return "the driver refused the page data";
        case 30:
            return "the driver could not start the job";
        default:
            return "the driver refused the job: " + detail;
    }
}

}  // namespace

bool OpenJob(const std::string& label, Sheet* sheet, std::string* error) {
    if (!ReadSheet(sheet, error)) return false;
    hostkit::JobOpening opening;
    opening.extentX = sheet->extentX;
    opening.extentY = sheet->extentY;
    opening.resolution = sheet->resolution;
    if (!label.empty()) opening.afterOpen = [&label] { return TypeLabel(label); };
    std::string detail;
    const std::int16_t failed = hostkit::OpenPlotJob(&PlotRequest, opening, &detail);
    if (failed == 0) return true;
    *error = Refusal(failed, detail);
    return false;
}

void CloseJob() {
    Packet end(2);
    SendPlot(end);
}

void ResetDriver() {
    Packet reset(49);
    reset.Set<std::int16_t>(layout::reset::kHostKind, 1)
        .Set<std::uint8_t>(layout::reset::kHostRelease, 2);
    SendPlot(reset);
}

}  // namespace varnu::host
