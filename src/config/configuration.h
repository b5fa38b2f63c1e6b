// The configuration in use: the record the host stores and everything
// derived from it. It lives from module load on; the host's record, the
// dialogs and the page requests (20, 21, 29, 46, 47, 48) replace its parts,
// and only a load resets it as one.
#pragma once

#include <array>
#include <cstdint>

#include "varnu/config_record.h"
#include "varnu/default_tone_curve.h"
#include "varnu/printer_tables.h"

namespace varnu {

// The page values every output part reads: margins, the step divisor, the
// host resolution and the scale from host steps to device units.
struct PageGeometryRecord {
    double MarginInches[4];       // M0, M1 come off the length, M2, M3 off the width
    std::uint8_t LongEdgeAcross;  // 1 when the paper's width is not smaller than its length
    std::int32_t StepDivisor;     // 1, 2, 4, 8 or 16
    double HostResolution[2];     // host steps per inch, X and Y (equal)
    double ScaleFactor;           // device units per host step
};

// Paper names copied out in row order, 50 bytes an entry; rebuilt when a
// paper combo box is filled and by plot request 48.
inline constexpr int kPaperNameSize = 50;
struct PaperNameListRecord {
    char names[kPaperRowsPerModel][kPaperNameSize];
    std::int32_t count;
};

using PaperFormatRows = std::array<PaperFormatRecord, kModelGroups * kPaperRowsPerModel>;
extern const PaperFormatRows kPaperFormatRows;  // the rows as the printer's tables give them

inline constexpr int kLabelTextMax = 64;

// Bit of HostOptionBits: the host drives the serial line itself.
inline constexpr std::uint32_t kHostOwnsHandshake = 0x40;

struct ConfigurationRecord {
    ConfigRecord Config = {};                // the driver's one block; zero at module load
    std::int32_t CurrentModel = 0;           // model row in use
    std::int32_t JobCopies = 1;              // copies for the current job; not stored
    char LabelText[kLabelTextMax + 1] = {};  // label of the next job; not stored
    PageGeometryRecord PageGeometry = {};
    // 1 when both plot extents are below 40.9575 inches in the VCGL+MMR
    // mode: VCGL coordinates then fit 16-bit words.
    std::int32_t VcglShortCoordinates = 0;
    std::uint32_t HostOptionBits = 0;  // from plot requests 46, 47, 48 (kHostOwnsHandshake)
    std::uint8_t PaperListStale = 0;   // set by plot request 49, used by 48
    std::array<std::uint8_t, 256> ToneCurve = DefaultToneCurve;  // output level per input level
    std::int32_t ToneCurveEditPoints[5] = {};  // control values of the last rebuild
    // A custom row's length follows the configured custom length.
    PaperFormatRows PaperFormatTable = kPaperFormatRows;
    PaperNameListRecord PaperNameList = {};
};
extern ConfigurationRecord Configuration;

}  // namespace varnu
