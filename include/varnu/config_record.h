// The user's settings: the 40-byte record the host stores for the module,
// its fields by name and its byte form.
#pragma once

#include <cstdint>

namespace varnu {

inline constexpr int kConfigRecordSize = 40;

// optionFlags bits.
inline constexpr std::uint16_t kOptionSerial = 0x0001;         // serial connection
inline constexpr std::uint16_t kOptionHandshakeMask = 0x0300;  // serial handshake code
inline constexpr std::uint16_t kHandshakeXonXoff = 0x0000;
inline constexpr std::uint16_t kHandshakeHardware = 0x0100;
inline constexpr std::uint16_t kOptionHalftoneFill = 0x1000;  // "Halbton"; clear = "Voll"
inline constexpr std::uint16_t kOptionPe8Bit = 0x2000;        // PE base 64, opener "PE"

// modeFlags bits.
inline constexpr std::uint16_t kModeRedPrinting = 0x0010;
inline constexpr std::uint16_t kModeVcgl = 0x0040;  // clear = RTL/GL2
inline constexpr std::uint16_t kModeManualOutput = 0x0080;
inline constexpr std::uint16_t kModeResolutionMask = 0x0F00;
inline constexpr std::uint16_t kResolution600 = 0x0100;
inline constexpr std::uint16_t kResolution400 = 0x0200;
inline constexpr std::uint16_t kResolution300 = 0x0400;
inline constexpr std::uint16_t kResolution200 = 0x0800;
inline constexpr std::uint16_t kModeLongEdgeAlongX = 0x1000;

inline constexpr int kCurvePointCount = 5;
inline constexpr std::int32_t kMaxCopies = 99;
inline constexpr std::int32_t kMaxCustomLengthMm = 15000;
inline constexpr std::int16_t kMaxMarginMm = 10;

// The fields by name. The stored form is the byte layout of EncodeConfigRecord,
// never this struct's memory.
struct ConfigRecord {
    std::int32_t copies;                         // +0   1..99
    std::int32_t paperIndex;                     // +4   paper row, from 1
    std::int32_t customLengthMm;                 // +8   length of a custom paper row
    std::int16_t mediaIndex;                     // +12  media row, from 0
    std::int16_t finishProgramIndex;             // +14  0 = "Falter-Bypass "
    std::int16_t finishMarginIndex;              // +16
    std::int16_t outputBinIndex;                 // +18
    std::int32_t redPen;                         // +20  host pen printed red
    std::int16_t spareWord;                      // +24  2 from the defaults; nothing reads it
    std::int16_t marginMm;                       // +26  all four sides, 0..10
    std::uint16_t optionFlags;                   // +28
    std::uint16_t modeFlags;                     // +30
    std::int16_t modelIndex;                     // +32  model row the block was stored for
    std::uint8_t curvePoints[kCurvePointCount];  // +34  curve outputs at 0, 64, 128, 192, 255
    std::uint8_t unusedByte;                     // +39  carried as the host gave it
};

void EncodeConfigRecord(const ConfigRecord& record, std::uint8_t out[kConfigRecordSize]);
void DecodeConfigRecord(const std::uint8_t in[kConfigRecordSize], ConfigRecord* record);

// The defaults for a model row, as "Standard" in the setup dialog sets them;
// modelIndex is 0.
ConfigRecord DefaultConfigRecord(std::int32_t model);

}  // namespace varnu
