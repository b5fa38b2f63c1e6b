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
#include "modes/data_mode.h"
#include "raster/dither.h"
#include "raster/mmr.h"

namespace varnu {

namespace {

struct DpiCode {
    std::uint16_t code;
    std::int32_t dpi;
};
constexpr DpiCode kDpiCodes[] = {{0x100, 600}, {0x200, 400}, {0x400, 300}, {0x800, 200}};

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
    BandCoder& c = Image.RasterState.coder;
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
        AllocateZeroed(2 * RunListEntries(Image.RasterState.width) * sizeof(std::int32_t)));
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
    const std::size_t entries = RunListEntries(Image.RasterState.width);
    std::int32_t* current = c->runLists;
    std::int32_t* reference = c->runLists + entries;
    reference[0] = 1;  // the white row above every band
    reference[1] = reference[2] = Image.RasterState.width;
    const std::uint8_t* first =
        Image.RasterState.pageBuffer + static_cast<std::size_t>(start) * Image.RasterState.stride;
    c->status = EncodeMmrRows(w, first, rows, Image.RasterState.stride, Image.RasterState.width,
                              current, reference, grow);
    if (c->status != 0) return c->status;
    WriteEndOfBlock(w);
    SwapWordBytes(w.area, w.area, w.byteCount);
    return 0;
}

void Frame(std::int32_t rows, const BandCoder& c) {
    RasterStateRecord& r = Image.RasterState;
    ModeOps(r.mode).frame(r, rows, c.area, c.writer.byteCount);
    ++r.bandsSent;
}

void MoveToNextBand(std::int32_t advance) {
    RasterStateRecord& r = Image.RasterState;
    ModeOps(r.mode).bandMove(r, advance);
}

}  // namespace

double SelectResolution(std::uint16_t modeFlags, DataMode mode) {
    const std::uint16_t code = modeFlags & 0xF00;
    for (const DpiCode& entry : kDpiCodes) {
        if (entry.code != code) continue;
        Module.CurrentDpi = entry.dpi;
        ModeOps(mode).selectResolution(entry.dpi);
    }
    return Module.CurrentDpi;
}

bool PrepareRaster(std::int32_t pixelsPerLine, std::int32_t lineCount, DataMode mode,
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

    Image.RasterState = RasterStateRecord{};
    Image.RasterState.mode = mode;
    Image.RasterState.transparent = transparent;
    Image.RasterState.anchorX = anchorX;
    Image.RasterState.anchorY = anchorY;
    Image.RasterState.replication = replication;
    Image.RasterState.longEdge = longEdge;
    Image.RasterState.pixelsPerLine = pixelsPerLine;
    Image.RasterState.rowPixels = static_cast<std::int32_t>(rowPixels);
    Image.RasterState.nominalRows = static_cast<std::int32_t>(rows);
    Image.RasterState.width = static_cast<std::int32_t>(width);
    Image.RasterState.stride = static_cast<std::int32_t>(stride);

    // The largest output area any row count up to the nominal one needs: the
    // single block just under the limit, or the band of the full count.
    const std::int64_t perRow = BytesPerCodedRow(Image.RasterState.stride);
    const std::int64_t singleRows =
        rows < kSingleBandLimit / perRow ? rows : kSingleBandLimit / perRow;
    std::int64_t area =
        OutputAreaBytes(static_cast<std::int32_t>(singleRows), Image.RasterState.stride);
    const std::int64_t banded =
        OutputAreaBytes(Image.RasterState.nominalRows, Image.RasterState.stride);
    if (banded > area) area = banded;
    area +=
        static_cast<std::int64_t>(WorstCaseRowBytes(Image.RasterState.width) + kEndOfBlockBytes);

    Image.RasterState.pageBuffer =
        static_cast<std::uint8_t*>(AllocateZeroed(static_cast<std::size_t>(stride * rows)));
    Image.RasterState.levels =
        static_cast<std::uint8_t*>(AllocateZeroed(static_cast<std::size_t>(width) + 64));
    const bool coder = AllocateCoder(&Image.RasterState.coder, static_cast<std::size_t>(area));
    if (Image.RasterState.pageBuffer == nullptr || Image.RasterState.levels == nullptr || !coder) {
        ReleaseRasterBuffers();
        return false;
    }
    return true;
}

std::int32_t BeginRaster() {
    BuildDitherMasks();
    ModeOps(Image.RasterState.mode).rasterBegin(Image.RasterState);
    return 0;
}

std::int32_t EncodeAndSendBands() {
    const std::int32_t total = Image.RasterState.rowCounter;
    if (total == 0) return 0;  // nothing collected: no band at all
    FinishPageWrites();        // a second core codes from the page
    Image.RasterState.totalRows = total;
    const std::int64_t perRow = BytesPerCodedRow(Image.RasterState.stride);
    BandCoder& first = Image.RasterState.coder;

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
    BandCoder& second = Image.RasterState.secondCoder;
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
    ModeOps(Image.RasterState.mode).rasterEnd();
    ReleaseRasterBuffers();
}

void ReleaseRasterBuffers() {
    ReleaseBlock(Image.RasterState.pageBuffer);
    Image.RasterState.pageBuffer = nullptr;
    ReleaseBlock(Image.RasterState.levels);
    Image.RasterState.levels = nullptr;
    ReleaseCoder(&Image.RasterState.coder);
    ReleaseCoder(&Image.RasterState.secondCoder);
}

}  // namespace varnu
