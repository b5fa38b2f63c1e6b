// The one printer driver of the application: its capabilities from the
// driver's tables, its documents printed through the host library.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "readers/ipp_media.h"

namespace varnu::printer_app {

inline constexpr const char* kDriverName = "varnu_4820";

// The printer's own stream (PJL, HP-GL/2, HP-RTL), printed as it is.
inline constexpr const char* kStreamFormat = "application/vnd.varnu-rtl";

// The formats the host library reads, printed by PrintDocumentFile.
inline constexpr const char* kDocumentFormats[] = {
    "application/pdf",         "image/jpeg",   "image/png", "image/tiff",
    "application/vnd.hp-HPGL", "image/vnd.dxf"};

// Vendor attributes of the finishing choices and the sheet margin.
inline constexpr const char* kProgramAttribute = "varnu-finishing-program";
inline constexpr const char* kFinishMarginAttribute = "varnu-finishing-margin";
inline constexpr const char* kOutputBinAttribute = "varnu-output-bin";
inline constexpr const char* kSheetMarginAttribute = "varnu-sheet-margin";
// The roll: pages turned to save it (auto, never), nested across it (none,
// across-roll) with a gap (mm) and cut marks (none, corners), with the
// pages of jobs that arrive within a wait (seconds); the loaded roll's
// length and what is left of it (mm, 0 unknown), which the administrator
// and the printed jobs set.
inline constexpr const char* kRollRotationAttribute = "varnu-roll-rotation";
inline constexpr const char* kNestingAttribute = "varnu-nesting";
inline constexpr const char* kNestingGapAttribute = "varnu-nesting-gap";
inline constexpr const char* kCutMarksAttribute = "varnu-cut-marks";
inline constexpr const char* kNestingWaitAttribute = "varnu-nesting-wait";
inline constexpr const char* kRollLengthAttribute = "varnu-roll-length";
inline constexpr const char* kRollLeftAttribute = "varnu-roll-left";

// The value a vendor attribute has by default, from the driver's own
// default record.
std::string FactoryVendorDefault(const std::string& name);

// papplSystemSetPrinterDrivers' creation callback: the printer's supply
// and its own web pages.
void PrinterCreated(pappl_printer_t* printer, void* data);

// papplSystemSetPrinterDrivers' driver callback.
bool DriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attributes,
                    void* context);

// The document formats the driver prints itself (PDF, JPEG, PNG), and the
// check that marks a printer offline while its device cannot be opened.
void AddDocumentFilters(pappl_system_t* system);

// The printer's own stream as the raw format.
void SetRawCallback(pappl_pr_driver_data_t* data);

}  // namespace varnu::printer_app
