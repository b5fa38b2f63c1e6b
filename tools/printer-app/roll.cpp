#include "roll.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "driver.h"
#include "model/roll_sheet.h"
#include "readers/ipp_media.h"
#include "settings.h"

namespace varnu::printer_app {

namespace {

constexpr double kMm = 1 / 25.4;

void SetDefault(pappl_printer_t* printer, const char* name, int value) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    cups_option_t* options = nullptr;
    const int count = cupsAddIntegerOption(name, value, 0, &options);
    papplPrinterSetDriverDefaults(printer, &data, count, options);
    cupsFreeOptions(count, options);
}

}  // namespace

int LongestRollMm() {
    int longest = 0;
    for (const RollWidth& r : RollWidths()) longest = std::max(longest, r.maxLengthMm);
    return longest;
}

bool OnTheRoll(pappl_job_t* job) {
    if (papplJobGetAttribute(job, "media") != nullptr) return false;
    ipp_t* col = ippGetCollection(papplJobGetAttribute(job, "media-col"), 0);
    return col != nullptr && ippFindAttribute(col, "media-source", IPP_TAG_ZERO) != nullptr &&
           ippFindAttribute(col, "media-size", IPP_TAG_ZERO) == nullptr &&
           ippFindAttribute(col, "media-size-name", IPP_TAG_ZERO) == nullptr;
}

double LoadedRollWidth(pappl_printer_t* printer) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    return data.media_ready[0].size_width / 2540.0;
}

bool RollSheet(pappl_printer_t* printer, const host::Area& page, bool mayTurn, int marginMm,
               pappl_media_col_t* media, std::string* error) {
    host::RollCut cut;
    if (!host::CutFromRoll(page, LoadedRollWidth(printer), marginMm, mayTurn, LongestRollMm(), &cut,
                           error))
        return false;
    media->size_length = cut.length;
    media->size_width = cut.width;
    std::snprintf(media->size_name, sizeof media->size_name, "custom_roll_%dx%dmm",
                  media->size_width / 100, cut.length / 100);
    return true;
}

void ShowRollSupply(pappl_printer_t* printer) {
    const int length = VendorDefault(printer, kRollLengthAttribute);
    const int left = std::clamp(VendorDefault(printer, kRollLeftAttribute), 0, std::max(length, 0));
    pappl_supply_t roll{};
    roll.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
    roll.is_consumed = true;
    roll.type = PAPPL_SUPPLY_TYPE_OTHER;
    roll.level = length > 0 ? static_cast<int>(100.0 * left / length) : -1;
    if (length > 0)
        std::snprintf(roll.description, sizeof roll.description, "Roll paper, %.0f mm: %.1f m left",
                      LoadedRollWidth(printer) / kMm, left / 1000.0);
    else
        std::snprintf(roll.description, sizeof roll.description, "Roll paper, %.0f mm",
                      LoadedRollWidth(printer) / kMm);
    papplPrinterSetSupplies(printer, 1, &roll);
    const bool low = length > 0 && left * 10 < length;
    papplPrinterSetReasons(printer, low ? PAPPL_PREASON_MEDIA_LOW : PAPPL_PREASON_NONE,
                           low ? PAPPL_PREASON_NONE : PAPPL_PREASON_MEDIA_LOW);
}

bool WaitForRoll(pappl_job_t* job, double neededMm) {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    bool said = false;
    while (VendorDefault(printer, kRollLengthAttribute) > 0 &&
           VendorDefault(printer, kRollLeftAttribute) < neededMm) {
        if (papplJobIsCanceled(job)) break;
        if (!said) {
            papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Waiting for a roll with %.0f mm left.",
                        neededMm);
            papplJobSetMessage(job, "waiting for a roll with %.1f m left", neededMm / 1000);
            papplPrinterSetReasons(printer, PAPPL_PREASON_MEDIA_NEEDED, PAPPL_PREASON_NONE);
            said = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    if (said) papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_MEDIA_NEEDED);
    return !papplJobIsCanceled(job);
}

void UseRoll(pappl_printer_t* printer, double usedMm) {
    if (VendorDefault(printer, kRollLengthAttribute) <= 0 || usedMm <= 0) return;
    const int left = VendorDefault(printer, kRollLeftAttribute);
    SetDefault(printer, kRollLeftAttribute,
               std::max(0, left - static_cast<int>(std::lround(usedMm))));
    ShowRollSupply(printer);
}

int JoinRollDefaults(pappl_printer_t* printer, int count, cups_option_t** vendor) {
    const char* length = cupsGetOption(kRollLengthAttribute, count, *vendor);
    if (length == nullptr || std::atoi(length) == VendorDefault(printer, kRollLengthAttribute))
        return count;
    const char* left = cupsGetOption(kRollLeftAttribute, count, *vendor);
    if (left != nullptr && std::atoi(left) != VendorDefault(printer, kRollLeftAttribute))
        return count;
    return cupsAddOption(kRollLeftAttribute, length, count, vendor);
}

}  // namespace varnu::printer_app
