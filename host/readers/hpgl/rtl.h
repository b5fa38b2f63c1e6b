// HP-RTL raster: the image being received, where it lands, and images
// held back to join the next band of the same picture.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "readers/hpgl/drawing.h"
#include "readers/hpgl/raster_image.h"
#include "readers/hpgl/state.h"

namespace varnu::host::hpgl {

// The page's axes for raster rows and their pixels, and the corner where
// the raster's coordinates begin.
Point2 RowStep(const State& s);
Point2 PixelStep(const State& s);
Point2 CapToPage(const State& s, Point2 cap);
Point2 PageToCap(const State& s, Point2 page);
// The pen's position (plotter units of the turned system) at the CAP.
Point2 RtlCapToPen(const State& s);

class RasterBuilder {
  public:
    bool Active() const { return image_ != nullptr; }
    // A new image at the CAP with the settings' width and colours.
    void Begin(const State& s);
    RasterImage& image() { return *image_; }
    // The settings the image began with: its width, planes and colours stay
    // those while its rows come, whatever the file says in between.
    const RtlSettings& settings() const { return settings_; }
    const RasterPlace& place() const { return place_; }
    std::vector<std::vector<std::uint8_t>>& seeds() { return seeds_; }
    std::vector<std::uint8_t>& row() { return row_; }
    int plane = 0;           // the plane the next transfer fills
    std::int64_t limit = 0;  // rows the image may take (*r#T), 0: any
    // Bytes held, and pixels made, this page, across images.
    std::size_t held = 0;
    std::int64_t pixels = 0;
    // The last row was made from the planes' seed rows as they stand, and
    // the transfers of the row under way changed them.
    bool fromSeeds = false, changed = false;

    // Ends the image: it goes on to the sink, or is held to take the rows
    // of a next band that starts where it ends. Returns its rows.
    std::int64_t End(Sink* sink);
    // Hands on the image held back, if any.
    void FlushPending(Sink* sink);

  private:
    std::shared_ptr<RasterImage> image_;
    RtlSettings settings_;
    RasterPlace place_;
    std::vector<std::vector<std::uint8_t>> seeds_;  // a plane's last row
    std::vector<std::uint8_t> row_;                 // the image's row being made
    std::shared_ptr<RasterImage> pending_;
    RasterPlace pendingPlace_;
};

}  // namespace varnu::host::hpgl
