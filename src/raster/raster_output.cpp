#include "raster/raster_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "interface/host_services.h"
#include "interface/memory.h"
#include "interface/output_buffer.h"
#include "raster/dither.h"
#include "raster/mmr.h"
#include "varnu/vcgl_commands.h"

namespace varnu {

RasterStateRecord RasterState;
std::int32_t CurrentDpi = 0;
char ResolutionCommand[kResolutionCommandSize] = "                      ";

void SendDirectBytes(const void* bytes, std::size_t count) {
    HostWriteOutput(bytes, static_cast<std::int32_t>(count));
}

void SendDirectText(const char* format, ...) {
    char text[64];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n > 0)
        SendDirectBytes(text, static_cast<std::size_t>(
                                  n < static_cast<int>(sizeof text) ? n : sizeof text - 1));
}

namespace {

// HP-RTL commands.
constexpr char kEnterRtl[] = "\x1b%1A";  // HP-GL/2 to RTL, keep the pen position
constexpr char kOpaqueBackground[] = "\x1b&a0N";
constexpr char kRasterWidth[] = "\x1b*r%dS";
constexpr char kRasterHeight[] = "\x1b*r%dT";
constexpr char kStartRaster[] = "\x1b*r1A";  // at the current position
constexpr char kCompressionMmr[] = "\x1b*b8M";
constexpr char kTransferData[] = "\x1b*b%dW";  // then the block
constexpr char kEndRaster[] = "\x1b*rC";
constexpr char kEnterHpgl2[] = "\x1b%0B";
constexpr char kMoveAlongX[] = "PR%d,0";
constexpr char kMoveAlongY[] = "PR0,%d";
constexpr char kResolutionFormat[] = "\x1b*t%dR";

struct DpiCode {
    std::uint16_t code;
    std::int32_t dpi;
};
constexpr DpiCode kDpiCodes[] = {{0x100, 600}, {0x200, 400}, {0x400, 300}, {0x800, 200}};

void SendBigEndian32(std::int32_t value) {
    std::uint8_t packed[5];
    PackBigEndian32(static_cast<std::uint32_t>(value), packed);
    SendDirectBytes(packed, 4);
}

void SendVcglResolution() {
    if (CurrentDpi == 400) SendDirect(vcgl::kResolution400);
    if (CurrentDpi == 200) SendDirect(vcgl::kResolution200);
}

std::int64_t RoundUp32(std::int64_t v) {
    return (v + 31) / 32 * 32;
}

// Rows coded per band: 32 x ceil((rows / 32) / 32), at least one band of 32.
std::int32_t BandRows(std::int32_t rows) {
    const std::int32_t q = rows / 32;
    const std::int32_t b = 32 * ((q + 31) / 32);
    return b > 0 ? b : 32;
}

std::int64_t BytesPerCodedRow(std::int32_t stride) {
    return (static_cast<std::int64_t>(stride) + 100) * 4;
}

// Output area for T rows: one block when it stays within the limit,
// otherwise one band's worth.
std::int64_t OutputAreaBytes(std::int32_t rows, std::int32_t stride) {
    const std::int64_t perRow = BytesPerCodedRow(stride);
    if (rows * perRow <= kSingleBandLimit) return rows * perRow;
    return BandRows(rows) * perRow;
}

// The host's-thread coder's area, doubled (plus what a row may need) when a
// band does not fit.
bool GrowOutputArea(BitWriterState& writer, std::size_t bytes) {
    BandCoder& c = RasterState.coder;
    const std::size_t used = writer.byteCount;
    const std::size_t capacity = c.capacity * 2 + bytes;
    auto* area = static_cast<std::uint8_t*>(AllocateZeroed(capacity));
    if (area == nullptr) return false;
    std::memcpy(area, c.area, used);
    ReleaseBlock(c.area);
    c.area = area;
    c.capacity = capacity;
    writer.area = area;
    writer.position = reinterpret_cast<std::uint32_t*>(area + used);
    writer.capacity = capacity;
    return true;
}

bool AllocateCoder(BandCoder* c, std::size_t capacity) {
    c->area = static_cast<std::uint8_t*>(AllocateZeroed(capacity));
    c->capacity = capacity;
    c->runLists = static_cast<std::int32_t*>(
        AllocateZeroed(2 * RunListEntries(RasterState.width) * sizeof(std::int32_t)));
    return c->area != nullptr && c->runLists != nullptr;
}

void ReleaseCoder(BandCoder* c) {
    ReleaseBlock(c->area);
    ReleaseBlock(c->runLists);
    *c = BandCoder{};
}

// Runs one piece of work on a second thread when one can be had, and joins
// it at the latest when it goes out of scope.
class RunAside {
  public:
    template <typename Work>
    bool Start(Work&& work) {
        try {
            thread_ = std::thread(std::forward<Work>(work));
            ran_ = true;
        } catch (const std::system_error&) {
            ran_ = false;  // none to be had: the caller does the work itself
        }
        return ran_;
    }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    bool Ran() const { return ran_; }
    ~RunAside() { Join(); }

  private:
    std::thread thread_;
    bool ran_ = false;
};

// Codes rows [start, start + rows) as one band; the coded bytes are then at
// the start of the coder's area, writer.byteCount of them. Sets and returns
// the coder's status. Touches nothing but the page (read only) and the
// coder, so a second core may run it; `grow` is null there.
std::int32_t CodeBand(BandCoder* c, std::int32_t start, std::int32_t rows, GrowOutputFn grow) {
    BitWriterState& w = c->writer;
    ResetBitWriter(w, c->area, c->capacity);
    const std::size_t entries = RunListEntries(RasterState.width);
    std::int32_t* current = c->runLists;
    std::int32_t* reference = c->runLists + entries;
    reference[0] = 1;  // the white row above every band
    reference[1] = reference[2] = RasterState.width;
    const std::uint8_t* first =
        RasterState.pageBuffer + static_cast<std::size_t>(start) * RasterState.stride;
    c->status = EncodeMmrRows(w, first, rows, RasterState.stride, RasterState.width, current,
                              reference, grow);
    if (c->status != 0) return c->status;
    WriteEndOfBlock(w);
    SwapWordBytes(w.area, w.area, w.byteCount);
    return 0;
}

void FrameRtl(std::int32_t rows, const BandCoder& c) {
    const std::uint32_t coded = c.writer.byteCount;
    SendDirectText(kRasterWidth, RasterState.width);
    SendDirectText(kRasterHeight, rows);
    SendDirectText("%s", kStartRaster);
    SendDirectText("%s", kCompressionMmr);
    SendDirectText(kTransferData, static_cast<std::int32_t>(coded + 4));
    SendBigEndian32(RasterState.width);
    SendDirectBytes(c.area, coded);
}

void SendImageHeader(std::int32_t width, std::int32_t rows) {
    SendDirect(vcgl::kImageHeaderOpener);
    SendBigEndian32(RasterState.anchorX);
    SendBigEndian32(RasterState.anchorY);
    SendBigEndian32(width);
    SendBigEndian32(rows);
}

void FrameVcgl(std::int32_t rows, const BandCoder& c) {
    const std::uint32_t coded = c.writer.byteCount;
    if (RasterState.transparent == 0) {
        // Blank preamble: clears the band's area before the opaque image.
        SendImageHeader(32, 1);
        SendBigEndian32(RasterState.rowPixels);
        SendBigEndian32(rows);
        SendDirect(vcgl::kImageHeaderTail);
        SendDirect(vcgl::kDataMode0207);
        SendDirect(vcgl::kDataOpener);
        SendDirect(vcgl::kBlankLength);
        SendDirect(vcgl::kBlankPattern);
        SendDirect(vcgl::kDataMode0200);
        SendDirect(vcgl::kPaintTransparent);
        SendVcglResolution();
    }
    SendImageHeader(RasterState.width, rows);
    // The size in 400-dpi device units.
    const std::int32_t scale = CurrentDpi == 200 ? 2 : 1;
    SendBigEndian32(RasterState.width * scale);
    SendBigEndian32(rows * scale);
    SendDirect(vcgl::kImageHeaderTail);
    SendDirect(vcgl::kDataMode0207);
    SendDirect(vcgl::kDataOpener);
    SendBigEndian32(static_cast<std::int32_t>(coded));
    SendDirectBytes(c.area, coded);
}

void Frame(std::int32_t rows, const BandCoder& c) {
    RasterState.vcgl ? FrameVcgl(rows, c) : FrameRtl(rows, c);
}

void MoveToNextBand(std::int32_t advance) {
    if (!RasterState.vcgl) {
        SendDirectText("%s", kEndRaster);
        SendDirectText("%s", kEnterHpgl2);
        // Rows at the device resolution in HP-GL/2 units, truncated.
        const auto units =
            static_cast<std::int32_t>(static_cast<double>(advance) / CurrentDpi * 1016.0);
        SendDirectText(RasterState.longEdge ? kMoveAlongX : kMoveAlongY, units);
        SendDirectText("%s", kEnterRtl);
        SendDirectText("%s", kOpaqueBackground);
        SendDirectText("%s", ResolutionCommand);
        return;
    }
    SendDirect(vcgl::kDataMode0200);
    (RasterState.longEdge ? RasterState.anchorX : RasterState.anchorY) += advance;
    SendVcglResolution();
}

}  // namespace

double SelectResolution(std::uint16_t modeFlags, bool vcgl) {
    const std::uint16_t code = modeFlags & 0xF00;
    for (const DpiCode& entry : kDpiCodes) {
        if (entry.code != code) continue;
        CurrentDpi = entry.dpi;
        if (!vcgl) std::snprintf(ResolutionCommand, 8, kResolutionFormat, entry.dpi);
    }
    return CurrentDpi;
}

bool PrepareRaster(std::int32_t pixelsPerLine, std::int32_t lineCount, bool vcgl,
                   std::int32_t transparent, std::int32_t anchorX, std::int32_t anchorY,
                   std::int32_t replication, bool longEdge) {
    ReleaseRasterBuffers();
    // Sizes in 64 bits first: a grid too large for the 32-bit counts, or
    // for memory, is refused before anything is allocated or sent.
    constexpr std::int64_t kMaxRowPixels = std::int64_t{1} << 24;
    constexpr std::int64_t kMaxRows = std::int64_t{1} << 24;
    // 1 GiB of page holds a 36-inch roll 400 inches long at 600 dpi.
    constexpr std::int64_t kMaxPageBytes = std::int64_t{1} << 30;
    if (pixelsPerLine <= 0 || lineCount <= 0 || replication <= 0) return false;
    const std::int64_t rowPixels = std::int64_t{pixelsPerLine} * replication;
    const std::int64_t rows = std::int64_t{lineCount} * replication;
    if (rowPixels > kMaxRowPixels || rows > kMaxRows) return false;
    const std::int64_t width = RoundUp32(rowPixels) + 32;
    const std::int64_t stride = width / 8;
    if (stride * rows > kMaxPageBytes) return false;

    RasterState = RasterStateRecord{};
    RasterState.vcgl = vcgl;
    RasterState.transparent = transparent;
    RasterState.anchorX = anchorX;
    RasterState.anchorY = anchorY;
    RasterState.replication = replication;
    RasterState.longEdge = longEdge;
    RasterState.pixelsPerLine = pixelsPerLine;
    RasterState.rowPixels = static_cast<std::int32_t>(rowPixels);
    RasterState.nominalRows = static_cast<std::int32_t>(rows);
    RasterState.width = static_cast<std::int32_t>(width);
    RasterState.stride = static_cast<std::int32_t>(stride);

    // The largest output area any row count up to the nominal one needs: the
    // single block just under the limit, or the band of the full count.
    const std::int64_t perRow = BytesPerCodedRow(RasterState.stride);
    const std::int64_t singleRows =
        rows < kSingleBandLimit / perRow ? rows : kSingleBandLimit / perRow;
    std::int64_t area = OutputAreaBytes(static_cast<std::int32_t>(singleRows), RasterState.stride);
    const std::int64_t banded = OutputAreaBytes(RasterState.nominalRows, RasterState.stride);
    if (banded > area) area = banded;
    area += static_cast<std::int64_t>(WorstCaseRowBytes(RasterState.width) + kEndOfBlockBytes);

    RasterState.pageBuffer =
        static_cast<std::uint8_t*>(AllocateZeroed(static_cast<std::size_t>(stride * rows)));
    RasterState.levels =
        static_cast<std::uint8_t*>(AllocateZeroed(static_cast<std::size_t>(width) + 64));
    const bool coder = AllocateCoder(&RasterState.coder, static_cast<std::size_t>(area));
    if (RasterState.pageBuffer == nullptr || RasterState.levels == nullptr || !coder) {
        ReleaseRasterBuffers();
        return false;
    }
    return true;
}

std::int32_t BeginRaster() {
    BuildDitherMasks();
    if (!RasterState.vcgl) {
        SendDirectText("%s", kEnterRtl);
        SendDirectText("%s", kOpaqueBackground);
        SendDirectText("%s", ResolutionCommand);
    } else {
        SendVcglResolution();
    }
    return 0;
}

std::int32_t EncodeAndSendBands() {
    const std::int32_t total = RasterState.rowCounter;
    if (total == 0) return 0;  // nothing collected: no band at all
    const std::int64_t perRow = BytesPerCodedRow(RasterState.stride);
    BandCoder& first = RasterState.coder;

    if (total * perRow <= kSingleBandLimit) {
        if (CodeBand(&first, 0, total, GrowOutputArea) != 0) return -1;
        Frame(total, first);
        return 0;
    }

    // Bands, each coded on its own from a white reference row. A second
    // core codes every other band into its own area while this thread codes
    // and sends the one before it; only this thread calls the host. Without
    // a second area or thread, the same bands are coded here, one by one.
    const std::int32_t bandRows = BandRows(total);
    const auto rowsAt = [&](std::int32_t start) {
        return total - start < bandRows ? total - start : bandRows;
    };
    BandCoder& second = RasterState.secondCoder;
    bool twoCores = second.area != nullptr ||
                    AllocateCoder(&second, static_cast<std::size_t>(bandRows * perRow));
    for (std::int32_t start = 0; start < total; start += 2 * bandRows) {
        const std::int32_t next = start + bandRows;
        RunAside aside;
        if (twoCores && next < total)
            twoCores = aside.Start(
                [next, &rowsAt, coder = &second] { CodeBand(coder, next, rowsAt(next), nullptr); });
        if (start > 0) MoveToNextBand(bandRows);
        if (CodeBand(&first, start, rowsAt(start), GrowOutputArea) != 0) return -1;
        Frame(rowsAt(start), first);
        if (next >= total) break;
        MoveToNextBand(bandRows);
        aside.Join();
        // A band the second core had no room for, or could not code at all,
        // is coded here, where the area may grow.
        const BandCoder* done = &second;
        if (!aside.Ran() || second.status != 0) {
            if (CodeBand(&first, next, rowsAt(next), GrowOutputArea) != 0) return -1;
            done = &first;
        }
        Frame(rowsAt(next), *done);
    }
    return 0;
}

void EndRaster() {
    if (!RasterState.vcgl) {
        SendDirectText("%s", kEndRaster);
        SendDirectText("%s", kEnterHpgl2);
    } else {
        SendDirect(vcgl::kDataMode0200);
        SendDirect(vcgl::kResolution400);
    }
    ReleaseRasterBuffers();
}

void ReleaseRasterBuffers() {
    ReleaseBlock(RasterState.pageBuffer);
    RasterState.pageBuffer = nullptr;
    ReleaseBlock(RasterState.levels);
    RasterState.levels = nullptr;
    ReleaseCoder(&RasterState.coder);
    ReleaseCoder(&RasterState.secondCoder);
}

void ResetRasterOnLoad() {
    ReleaseRasterBuffers();
    RasterState = RasterStateRecord{};
    CurrentDpi = 0;
    std::memset(ResolutionCommand, ' ', sizeof ResolutionCommand - 1);
    ResolutionCommand[sizeof ResolutionCommand - 1] = '\0';
}

}  // namespace varnu
