// The printer's tables: model capabilities, paper formats, media,
// finishing programs, finishing margins, output bins. Every table but the
// model table is grouped by model row, each group with a fixed row capacity;
// the groups of the one further model are empty. The custom paper rows'
// lengths follow the configured custom length while the module runs.
#pragma once

#include <array>
#include <cstdint>

namespace varnu {

inline constexpr int kModelCount = 1;   // rows of the model table
inline constexpr int kModelGroups = 2;  // groups kept in the grouped tables

struct ModelRecord {
    char name[32];          // NUL-padded; copied into driver request 20's reply
    std::int16_t finisher;  // 1: finishing program, margin and bin offered and sent
    std::int16_t media;     // 1: media type offered and sent
    std::int16_t unused1[3];
    std::int16_t label;        // 1: the label field of the driver dialog is enabled
    std::int16_t redPrinting;  // 1: red printing ("+1 Farbe") offered and honoured
    std::int16_t unused2;
    std::int16_t manualOutput;  // 1: manual output offered and sent
    std::int16_t dpi600;        // 1: 600 dpi offered; also the default resolution
    std::int16_t vcglAllowed;   // non-zero: the VCGL+MMR data mode may be chosen
};

struct PaperFormatRecord {
    char name[56];
    double length;             // inches along the feed; custom rows: set at run time
    double width;              // inches, the roll width
    std::int16_t custom;       // 1: user-defined length ("Benutzerdef. Format")
    std::int16_t maxLengthMm;  // 15000 on custom rows, else 0
    std::uint8_t unused[4];
};
static_assert(sizeof(PaperFormatRecord) == 80);

struct MediaRecord {
    char name[60];                 // display name, RTL/GL2 mode
    char hpglCommand[60];          // sent at job start, RTL/GL2 mode
    char vcglName[60];             // display name, VCGL+MMR mode
    std::uint8_t vcglCommand[60];  // length = byte 3 + 4; first byte 0 = none
};
static_assert(sizeof(MediaRecord) == 240);

struct FinishingChoiceRecord {
    char name[60];
    char pjlLine[62];  // NUL-terminated, CR LF included
};
static_assert(sizeof(FinishingChoiceRecord) == 122);

// Row capacities of one model group.
inline constexpr int kPaperRowsPerModel = 42;  // row 0 unused, rows 1..41
inline constexpr int kMediaRowsPerModel = 5;
inline constexpr int kFinishProgramRowsPerModel = 22;
inline constexpr int kFinishMarginRowsPerModel = 3;
inline constexpr int kOutputBinRowsPerModel = 16;

extern const ModelRecord ModelTable[kModelCount];
extern const MediaRecord MediaTable[kModelGroups * kMediaRowsPerModel];
extern const FinishingChoiceRecord FinishProgramTable[kModelGroups * kFinishProgramRowsPerModel];
extern const FinishingChoiceRecord FinishMarginTable[kModelGroups * kFinishMarginRowsPerModel];
extern const FinishingChoiceRecord OutputBinTable[kModelGroups * kOutputBinRowsPerModel];

// The finishing program whose PJL line selects no finishing at all; with it
// margin and bin are neither offered nor sent. Compared including its NUL.
inline constexpr char kBypassPjlLine[] = "@PJL DEFAULT FINISHPROGID=BYPASS\r\n";
bool IsBypassProgram(const FinishingChoiceRecord& row);

// Row lookups. Each returns nullptr for a model or row outside the table's
// used rows (a row whose name is empty ends a list), so that an index from a
// stored record can never make the driver read outside a table.
const ModelRecord* Model(std::int32_t model);
const PaperFormatRecord* PaperFormat(std::int32_t model, std::int32_t row);
const MediaRecord* Media(std::int32_t model, std::int32_t row);
const FinishingChoiceRecord* FinishProgram(std::int32_t model, std::int32_t row);
const FinishingChoiceRecord* FinishMargin(std::int32_t model, std::int32_t row);
const FinishingChoiceRecord* OutputBin(std::int32_t model, std::int32_t row);

// Number of listed rows of a model's group (paper: rows 1..count).
std::int32_t PaperRowCount(std::int32_t model);
std::int32_t MediaRowCount(std::int32_t model);
std::int32_t FinishProgramRowCount(std::int32_t model);
std::int32_t FinishMarginRowCount(std::int32_t model);
std::int32_t OutputBinRowCount(std::int32_t model);

// Default custom length in millimetres for a paper row: 396 for a fixed
// format, else the length of the format whose width the row borrows.
std::int32_t defaultCustomLength(std::int32_t model, std::int32_t row);

}  // namespace varnu
