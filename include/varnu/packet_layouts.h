// Byte offsets of the fields of every request packet, by request, as the
// host lays them out: one place for the driver, hostkit and the tests. All
// values are little-endian; the plot-time packets put doubles at odd offsets.
#pragma once

#include <cstddef>

namespace varnu::layout {

// Word 0 of every packet: the request code on entry, the result on exit.
inline constexpr std::size_t kCode = 0;

// Driver request 11 and plot request 29: the host's version check.
namespace version {
inline constexpr std::size_t kVersion = 4;      // 16-bit, in; 3 out
inline constexpr std::size_t kZero = 6;         // 16-bit, 0 out
inline constexpr std::size_t kHostWindow = 11;  // 32-bit window handle, in
}  // namespace version

// Driver request 20: the model description.
namespace model {
inline constexpr std::size_t kReplySize = 2;   // 16-bit, 40
inline constexpr std::size_t kModelCount = 4;  // 16-bit
inline constexpr std::size_t kZero = 6;        // 16-bit
inline constexpr std::size_t kName = 8;        // 32 bytes, NUL-padded
}  // namespace model

// Driver request 21: configure and report the page data.
namespace configure {
inline constexpr std::size_t kDefaults = 6;      // 16-bit, 1 asks for the defaults
inline constexpr std::size_t kReplySize = 2;     // 16-bit, 59
inline constexpr std::size_t kExtentX = 8;       // double, inches
inline constexpr std::size_t kExtentY = 16;      // double
inline constexpr std::size_t kResolutionX = 24;  // double, host steps per inch
inline constexpr std::size_t kResolutionY = 32;  // double
inline constexpr std::size_t kFixed40 = 40;      // 16-bit, 395
inline constexpr std::size_t kPenCount = 42;     // 16-bit, 255
inline constexpr std::size_t kFixed44 = 44;      // 16-bit, 1
inline constexpr std::size_t kFixed46 = 46;      // 16-bit, 7
inline constexpr std::size_t kPort = 48;         // 16-bit, 1 serial, 2 parallel
inline constexpr std::size_t kBaud = 50;         // 16-bit, 9600
inline constexpr std::size_t kParity = 52;       // 16-bit, 0
inline constexpr std::size_t kDataBits = 54;     // 16-bit, 8
inline constexpr std::size_t kStopBits = 56;     // 16-bit, 1
inline constexpr std::size_t kFixed58 = 58;      // byte, 0
}  // namespace configure

// Driver requests 22, 23, 25: 256-entry byte tables.
namespace byte_table {
inline constexpr std::size_t kReplySize = 2;  // 16-bit, 262
inline constexpr std::size_t kTag = 4;        // 16-bit
inline constexpr std::size_t kEntries = 6;    // 256 bytes
}  // namespace byte_table

// Driver request 40: the capability flags.
namespace capabilities {
inline constexpr std::size_t kFlag4 = 4;      // byte, 1
inline constexpr std::size_t kOptions = 5;    // 32-bit; bit 0x80000 set
inline constexpr std::size_t kFlag139 = 139;  // byte, 2
inline constexpr std::size_t kFlag140 = 140;  // byte, 0
}  // namespace capabilities

// Driver request 44: 256 doubles.
namespace double_table {
inline constexpr std::size_t kSum = 2;       // 16-bit: low half of +8 plus +12
inline constexpr std::size_t kCount = 4;     // 32-bit, 255
inline constexpr std::size_t kValue = 8;     // 32-bit, in
inline constexpr std::size_t kAddend = 12;   // 16-bit, in
inline constexpr std::size_t kEntries = 16;  // 256 doubles
}  // namespace double_table

// Request 49 of either handler: reset, and the host's identity.
namespace reset {
inline constexpr std::size_t kHostKind = 4;     // 16-bit, 1 for the CAD host
inline constexpr std::size_t kHostRelease = 7;  // byte, 2 or more
inline constexpr std::size_t kKindAnswer = 10;  // 16-bit, 0, -3 or -5
inline constexpr std::size_t kZero = 12;        // 16-bit
inline constexpr std::size_t kIdentity = 86;    // the header's identity text
}  // namespace reset

// Plot requests 46, 47 and 48: the host's option bits, extents, page data.
namespace page {
inline constexpr std::size_t kOptionBits = 5;       // 32-bit
inline constexpr std::size_t kExtentX = 9;          // double, inches
inline constexpr std::size_t kExtentY = 17;         // double
inline constexpr std::size_t kPaperX = 25;          // double, request 48's answer
inline constexpr std::size_t kPaperY = 33;          // double
inline constexpr std::size_t kResolutionX = 41;     // double, host steps per inch
inline constexpr std::size_t kResolutionY = 49;     // double
inline constexpr std::size_t kPaperName = 73;       // request 48: "MAX" when the paper fits
inline constexpr std::size_t kFlag139 = 139;        // byte, 2
inline constexpr std::size_t kFlag140 = 140;        // byte, 0
inline constexpr std::size_t kConfigureSize = 267;  // request 46 reads and writes these back
}  // namespace page

// Plot requests 3 and 4: move and draw to a point.
namespace point {
inline constexpr std::size_t kX = 4;  // unsigned 16-bit host steps
inline constexpr std::size_t kY = 6;
}  // namespace point

// Plot requests 5, 7, 41 and 36: pen, line type, width, line-type count.
namespace pen {
inline constexpr std::size_t kPen = 4;             // request 5, unsigned 16-bit
inline constexpr std::size_t kLineType = 4;        // request 7, unsigned 16-bit
inline constexpr std::size_t kWidth = 4;           // request 41, double, inches
inline constexpr std::size_t kLineTypeCount = 4;   // request 36, 16-bit
inline constexpr std::size_t kLineTypeCount8 = 8;  // request 43, byte
}  // namespace pen

// Plot request 33: a polygon of up to 16 vertices in the packet.
namespace polygon {
inline constexpr std::size_t kFill = 6;       // 16-bit
inline constexpr std::size_t kCount = 10;     // 16-bit
inline constexpr std::size_t kVertices = 12;  // (x, y) unsigned 16-bit pairs
}  // namespace polygon

// Plot request 54: a polygon whose vertices the host hands over by address.
namespace polygon_by_address {
inline constexpr std::size_t kFill = 4;      // 16-bit
inline constexpr std::size_t kCount = 6;     // 16-bit
inline constexpr std::size_t kVertices = 8;  // 32-bit address of (x, y) pairs
}  // namespace polygon_by_address

// Plot request 52: a raster image.
namespace image {
inline constexpr std::size_t kFetch = 4;          // 32-bit address of the row fetch routine
inline constexpr std::size_t kRelease = 8;        // 32-bit address of the row release routine
inline constexpr std::size_t kHandle = 12;        // 32-bit, passed back in every row request
inline constexpr std::size_t kCorners = 16;       // x0, y0, x1, y1, signed 32-bit
inline constexpr std::size_t kKind = 32;          // signed 32-bit pixel kind
inline constexpr std::size_t kSourceWidth = 36;   // signed 32-bit
inline constexpr std::size_t kSourceHeight = 40;  // signed 32-bit
inline constexpr std::size_t kTransparent = 44;   // 16-bit switch
inline constexpr std::size_t kBits = 46;          // 16-bit bits per pixel
inline constexpr std::size_t kColour = 48;        // 16-bit colour index of a bilevel image
inline constexpr std::size_t kOpaque = 50;        // 72 bytes copied into every row request
inline constexpr std::size_t kOpaqueSize = 72;
inline constexpr std::size_t kTaken = 122;  // 16-bit, set to 1 by the driver
}  // namespace image

// The 144-byte record the driver fills before each call of the host's row
// fetch routine.
namespace row_request {
inline constexpr std::size_t kSize = 144;
inline constexpr std::size_t kFirstColumn = 0;  // signed 32-bit source columns and rows
inline constexpr std::size_t kFirstRow = 4;
inline constexpr std::size_t kLastColumn = 8;
inline constexpr std::size_t kLastRow = 12;
inline constexpr std::size_t kStrip = 16;        // left, bottom, right, top in host units
inline constexpr std::size_t kHandle = 32;       // the image handle of request 52
inline constexpr std::size_t kDepth = 36;        // 8 colour, 1 bilevel
inline constexpr std::size_t kOrientation = 40;  // 2, or 7 with the long edge along x
inline constexpr std::size_t kBits = 46;         // 24 colour, 1 bilevel
inline constexpr std::size_t kColourWhite = 48;  // colour: FF FF FF; bilevel: 16-bit 0
inline constexpr std::size_t kKeyColour = 52;    // colour: 00 01 02
inline constexpr std::size_t kColourIndex = 56;  // bilevel: 16-bit
inline constexpr std::size_t kFixed64 = 64;      // 32-bit 0
inline constexpr std::size_t kFixed68 = 68;      // 16-bit 0
inline constexpr std::size_t kFixed70 = 70;      // 16-bit 1
inline constexpr std::size_t kOpaque = 72;       // request 52's 72 opaque bytes
}  // namespace row_request

// The host's reply to a row fetch.
namespace row_reply {
inline constexpr std::size_t kPixels = 0;   // 32-bit address of the line's bytes
inline constexpr std::size_t kCount = 4;    // signed 32-bit byte count
inline constexpr std::size_t kStop = 12;    // 16-bit, non-zero: no further lines
inline constexpr std::size_t kFailed = 14;  // 16-bit, non-zero: the line failed
}  // namespace row_reply

}  // namespace varnu::layout
