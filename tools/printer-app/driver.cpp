#include "driver.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "jobs.h"
#include "model/print.h"
#include "overrides.h"
#include "pappl_hooks.h"
#include "readers/ipp_media.h"
#include "readers/test_page.h"
#include "roll.h"
#include "session/configure.h"
#include "session/job.h"
#include "settings.h"
#include "varnu/config_record.h"
#include "varnu/printer_tables.h"
#include "web.h"

namespace varnu::printer_app {

namespace {

constexpr int kModel = 0;

pappl_media_col_t MediaCol(const FixedMedia& m) {
    pappl_media_col_t col{};
    col.size_width = m.width;
    col.size_length = m.length;
    std::strncpy(col.size_name, m.pwg.c_str(), sizeof col.size_name - 1);
    std::strncpy(col.source, "main-roll", sizeof col.source - 1);
    std::strncpy(col.type, MediaTypes()[0].c_str(), sizeof col.type - 1);
    return col;
}

// The media names: the fixed formats, then the range of the roll (its
// narrowest and widest width, lengths up to the longest the table allows).
void AddMedia(pappl_pr_driver_data_t* data) {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const FixedMedia& m : FixedFormats()) list.push_back(m.pwg);
        int narrow = 1 << 30, wide = 0, longest = 0;
        for (const RollWidth& r : RollWidths()) {
            narrow = std::min(narrow, r.width);
            wide = std::max(wide, r.width);
            longest = std::max(longest, r.maxLengthMm * 100);
        }
        char name[128];
        pwgFormatSizeName(name, sizeof name, "roll", "min", narrow, 100, nullptr);
        list.push_back(name);
        pwgFormatSizeName(name, sizeof name, "roll", "max", wide, longest, nullptr);
        list.push_back(name);
        return list;
    }();
    data->num_media = static_cast<int>(names.size());
    for (std::size_t i = 0; i < names.size() && i < PAPPL_MAX_MEDIA; ++i)
        data->media[i] = names[i].c_str();
    const ConfigRecord defaults = DefaultConfigRecord(kModel);
    for (const FixedMedia& m : FixedFormats())
        if (m.row == defaults.paperIndex) data->media_default = MediaCol(m);
    data->num_source = 1;
    data->source[0] = "main-roll";
    data->media_ready[0] = data->media_default;
    static const std::vector<std::string>& types = MediaTypes();
    data->num_type = static_cast<int>(types.size());
    for (std::size_t i = 0; i < types.size() && i < PAPPL_MAX_TYPE; ++i)
        data->type[i] = types[i].c_str();
    std::strncpy(data->media_default.type, types[defaults.mediaIndex].c_str(),
                 sizeof data->media_default.type - 1);
    data->media_ready[0] = data->media_default;
}

void AddKeywords(ipp_t* attributes, const char* name, const std::vector<std::string>& keywords,
                 int defaultRow) {
    std::vector<const char*> values;
    for (const std::string& k : keywords) values.push_back(k.c_str());
    const std::string supported = std::string(name) + "-supported";
    const std::string byDefault = std::string(name) + "-default";
    ippAddStrings(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(),
                  static_cast<int>(values.size()), nullptr, values.data());
    ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, byDefault.c_str(), nullptr,
                 values[static_cast<std::size_t>(defaultRow)]);
}

// The finishing programs as IPP finishing templates, so that a desktop's
// driverless queue offers them (CUPS makes its cupsFinishingTemplate of
// finishings-col-database).
void AddFinishingCollections(ipp_t* attributes, const ConfigRecord& defaults) {
    const std::vector<std::string> programs = ProgramKeywords();
    // PAPPL adds finishing-template-supported itself (with "none" only).
    ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "finishings-col-supported", nullptr,
                 "finishing-template");
    ipp_attribute_t* database = nullptr;
    for (const std::string& p : programs) {
        ipp_t* col = ippNew();
        ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "finishing-template", nullptr, p.c_str());
        if (database == nullptr)
            database =
                ippAddCollection(attributes, IPP_TAG_PRINTER, "finishings-col-database", col);
        else
            ippSetCollection(attributes, &database, ippGetCount(database), col);
        ippDelete(col);
    }
    ipp_t* col = ippNew();
    ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "finishing-template", nullptr,
                 programs[static_cast<std::size_t>(defaults.finishProgramIndex)].c_str());
    ippAddCollection(attributes, IPP_TAG_PRINTER, "finishings-col-default", col);
    ippDelete(col);
}

// The output bins under IPP's names; a job's output-bin, like its
// varnu-output-bin, goes with a finishing program.
void AddOutputBins(pappl_pr_driver_data_t* data) {
    static const std::vector<std::string> bins = IppOutputBins();
    if (varnu::Model(kModel)->finisher == 0) return;
    data->num_bin = 0;
    for (std::size_t i = 0; i < bins.size() && i < PAPPL_MAX_BIN; ++i)
        data->bin[data->num_bin++] = bins[i].c_str();
    data->bin_default = DefaultConfigRecord(kModel).outputBinIndex;
}

// Identify-Printer shows its message on the printer's display, as PJL's
// ready message, when no job holds the device.
void Identify(pappl_printer_t* printer, pappl_identify_actions_t, const char* message) {
    pappl_device_t* device = papplPrinterOpenDevice(printer);
    if (device == nullptr) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify: the printer is busy.");
        return;
    }
    std::string text = message != nullptr && message[0] != '\0' ? message : "Varnu printer";
    for (char& c : text)
        if (c == '"' || static_cast<unsigned char>(c) < 0x20 ||
            static_cast<unsigned char>(c) > 0x7e)
            c = ' ';
    const std::string pjl =
        "\x1b%-12345X@PJL RDYMSG DISPLAY=\"" + text.substr(0, 40) + "\"\r\n\x1b%-12345X";
    papplDeviceWrite(device, pjl.data(), pjl.size());
    papplDeviceFlush(device);
    papplPrinterCloseDevice(printer);
}

// Finishing program, finishing margin, output bin and the sheet margin.
void AddVendorAttributes(pappl_pr_driver_data_t* data, ipp_t** attributes) {
    const ConfigRecord defaults = DefaultConfigRecord(kModel);
    *attributes = ippNew();
    int n = 0;
    if (varnu::Model(kModel)->finisher != 0) {
        AddKeywords(*attributes, kProgramAttribute, ProgramKeywords(), defaults.finishProgramIndex);
        AddKeywords(*attributes, kFinishMarginAttribute, FinishMarginKeywords(),
                    defaults.finishMarginIndex);
        AddKeywords(*attributes, kOutputBinAttribute, OutputBinKeywords(), defaults.outputBinIndex);
        data->vendor[n++] = kProgramAttribute;
        data->vendor[n++] = kFinishMarginAttribute;
        data->vendor[n++] = kOutputBinAttribute;
    }
    ippAddRange(*attributes, IPP_TAG_PRINTER, "varnu-sheet-margin-supported", 0, kMaxMarginMm);
    ippAddInteger(*attributes, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "varnu-sheet-margin-default",
                  defaults.marginMm);
    data->vendor[n++] = kSheetMarginAttribute;
    AddKeywords(*attributes, kRollRotationAttribute, {"auto", "never"}, 0);
    AddKeywords(*attributes, kNestingAttribute, {"none", "across-roll"}, 0);
    AddKeywords(*attributes, kCutMarksAttribute, {"none", "corners"}, 0);
    const struct {
        const char* name;
        int upper, byDefault;
    } ranges[] = {{kNestingGapAttribute, 100, 5},
                  {kNestingWaitAttribute, 3600, 0},
                  {kRollLengthAttribute, 1000000, 0},
                  {kRollLeftAttribute, 1000000, 0}};
    for (const auto& r : ranges) {
        ippAddRange(*attributes, IPP_TAG_PRINTER, (std::string(r.name) + "-supported").c_str(), 0,
                    r.upper);
        ippAddInteger(*attributes, IPP_TAG_PRINTER, IPP_TAG_INTEGER,
                      (std::string(r.name) + "-default").c_str(), r.byDefault);
    }
    for (const char* name :
         {kRollRotationAttribute, kNestingAttribute, kNestingGapAttribute, kCutMarksAttribute,
          kNestingWaitAttribute, kRollLengthAttribute, kRollLeftAttribute})
        data->vendor[n++] = name;
    data->num_vendor = n;
    if (varnu::Model(kModel)->finisher != 0) AddFinishingCollections(*attributes, defaults);
    // What PAPPL leaves out: one rendering intent (the driver's tone curve),
    // no preferred attributes, one side (so any sheet back).
    ippAddString(*attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default",
                 nullptr, "auto");
    ippAddString(*attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported",
                 nullptr, "auto");
    ippAddBoolean(*attributes, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    std::vector<const char*> overridable = {"document-number", "document-numbers", "pages"};
    for (const char* name : kOverridable) overridable.push_back(name);
    ippAddStrings(*attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported",
                  static_cast<int>(overridable.size()), nullptr, overridable.data());
    ippAddString(*attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back",
                 nullptr, "normal");
}

// 200, 300, 400 and 600 dpi where the model offers it; the default the one
// below the highest.
void AddResolutions(pappl_pr_driver_data_t* data) {
    const bool dpi600 = varnu::Model(kModel)->dpi600 != 0;
    data->num_resolution = 0;
    for (int dpi : {200, 300, 400, 600}) {
        if (dpi == 600 && !dpi600) continue;
        data->x_resolution[data->num_resolution] = dpi;
        data->y_resolution[data->num_resolution] = dpi;
        ++data->num_resolution;
    }
    // print-quality normal prints at this default (JobResolution).
    data->x_default = data->y_default = data->x_resolution[data->num_resolution - 2];
}

}  // namespace

void PrinterCreated(pappl_printer_t* printer, void*) {
    ShowRollSupply(printer);
    AddPrinterPages(printer);
}

std::string FactoryVendorDefault(const std::string& name) {
    const ConfigRecord defaults = DefaultConfigRecord(kModel);
    if (name == kRollRotationAttribute) return "auto";
    if (name == kNestingAttribute) return "none";
    if (name == kNestingGapAttribute) return "5";
    if (name == kCutMarksAttribute) return "none";
    if (name == kNestingWaitAttribute) return "0";
    if (name == kRollLengthAttribute || name == kRollLeftAttribute) return "0";
    if (name == kProgramAttribute) return ProgramKeywords()[defaults.finishProgramIndex];
    if (name == kFinishMarginAttribute) return FinishMarginKeywords()[defaults.finishMarginIndex];
    if (name == kOutputBinAttribute) return OutputBinKeywords()[defaults.outputBinIndex];
    if (name == kSheetMarginAttribute) return std::to_string(defaults.marginMm);
    return {};
}

// The web interface's "Print Test Page": the driver draws the test page
// with the printer's defaults into a file of the spool, which PAPPL then
// prints as the printer's own stream (and removes).
const char* TestPage(pappl_printer_t* printer, char* buffer, std::size_t size) {
    static std::atomic<int> count{0};
    const std::string path = ScratchDirectory() + "/test-page-" + std::to_string(getpid()) + "-" +
                             std::to_string(++count) + ".prn";
    host::ConfigureOptions settings;
    std::string error;
    std::vector<std::string> messages;
    const SlotHold hold;  // no job in the driver meanwhile
    const std::unique_ptr<host::Document> page = host::OpenTestPage();
    host::PlotSession session;
    host::PrintRequest request;
    request.pages = {0};
    host::PrintReport report;
    if (!PrinterSettings(printer, &settings, &error) ||
        (host::ResetDriver(), !host::Configure(settings, &messages)) ||
        !session.Open({path, {}, {}}, &error) ||
        !host::PrintDocument(*page, request, &session, &report, &error) ||
        !session.Finish(&error)) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Test page: %s",
                        error.empty() ? "the printer settings were refused" : error.c_str());
        return nullptr;
    }
    std::snprintf(buffer, size, "%s", path.c_str());
    return buffer;
}

bool DriverCallback(pappl_system_t*, const char* driverName, const char*, const char*,
                    pappl_pr_driver_data_t* data, ipp_t** attributes, void*) {
    if (std::strcmp(driverName, kDriverName) != 0) return false;
    SetRasterCallbacks(data);
    SetRawCallback(data);
    const std::string model = std::string("Varnu ") + varnu::Model(kModel)->name;
    std::strncpy(data->make_and_model, model.c_str(), sizeof data->make_and_model - 1);
    data->ppm = 1;
    data->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_LARGE_FORMAT | PAPPL_KIND_ROLL;
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    data->content_default = PAPPL_CONTENT_AUTO;
    data->quality_default = IPP_QUALITY_HIGH;
    data->scaling_default = PAPPL_SCALING_AUTO;
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->duplex = PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->finishings = PAPPL_FINISHINGS_NONE;
    data->borderless = false;  // margins 0: the sheet margin is the driver's own setting
    data->left_right = data->bottom_top = 0;
    AddResolutions(data);
    AddMedia(data);
    AddOutputBins(data);
    AddVendorAttributes(data, attributes);
    data->identify_cb = Identify;
    data->testpage_cb = TestPage;
    data->identify_supported = data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
    data->has_supplies = true;
    return true;
}

}  // namespace varnu::printer_app

namespace varnu::printer_app {

namespace {

// The printer's own stream, sent as it is. One cancelled after it began
// ends with the universal exit, which returns the printer to PJL whatever
// the stream was in.
bool PrintRaw(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
    const char* name = papplJobGetFilename(job);
    std::FILE* file = name != nullptr ? std::fopen(name, "rb") : nullptr;
    if (file == nullptr) return papplJobIsCanceled(job);
    char piece[65536];
    bool ok = true, begun = false;
    for (std::size_t n;
         ok && !papplJobIsCanceled(job) && (n = std::fread(piece, 1, sizeof piece, file)) > 0;) {
        ok = papplDeviceWrite(device, piece, n) == static_cast<ssize_t>(n);
        begun = true;
    }
    std::fclose(file);
    if (ok && begun && papplJobIsCanceled(job)) {
        static constexpr char kExit[] = "\x1b%-12345X";
        ok = papplDeviceWrite(device, kExit, sizeof kExit - 1) == sizeof kExit - 1;
    }
    return ok;
}

// A printer whose jobs wait while it is stopped is waiting for its device:
// PAPPL stops it when the device cannot be opened.
void MarkOffline(pappl_printer_t* printer, void*) {
    const bool waiting = papplPrinterGetState(printer) == IPP_PSTATE_STOPPED &&
                         papplPrinterGetNumberOfActiveJobs(printer) > 0;
    const bool marked = (papplPrinterGetReasons(printer) & PAPPL_PREASON_OFFLINE) != 0;
    if (waiting != marked)
        papplPrinterSetReasons(printer, waiting ? PAPPL_PREASON_OFFLINE : PAPPL_PREASON_NONE,
                               waiting ? PAPPL_PREASON_NONE : PAPPL_PREASON_OFFLINE);
}

bool CheckDevices(pappl_system_t* system, void*) {
    WatchForStop();
    papplSystemIteratePrinters(system, MarkOffline, nullptr);
    return true;
}

}  // namespace

void AddDocumentFilters(pappl_system_t* system) {
    for (const char* format : kDocumentFormats)
        papplSystemAddMIMEFilter(system, format, kStreamFormat, PrintDocumentFile, nullptr);
    papplSystemAddTimerCallback(system, 0, 2, CheckDevices, nullptr);
}

void SetRawCallback(pappl_pr_driver_data_t* data) {
    data->format = kStreamFormat;
    data->printfile_cb = PrintRaw;
}

}  // namespace varnu::printer_app
