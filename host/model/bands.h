// The bands of a picture drawn a band at a time, as the row server holds
// them: each rendered into a buffer of its own, and where the picture
// allows it the next one on a second thread while the driver reads this.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "model/plot.h"
#include "session/row_server.h"

namespace varnu::host {

// Bytes of one band. Two are held while the next is drawn ahead: 32 MB
// in all, whatever the picture's size. Each band replays all that crosses
// it, a page-long path whole, so fewer, larger bands replay less; smaller
// ones are read from the cache and take less memory. On the heavy E-size
// page 16 MB take the time 32 MB do, and memory past the driver's page
// buffer within twice Ghostscript's.
inline constexpr std::size_t kBandBytes = std::size_t{16} << 20;

class PictureBands {
  public:
    // `bandBytes` is what one band may hold (at least a line).
    explicit PictureBands(const Picture& source, std::size_t bandBytes = kBandBytes);
    ~PictureBands();
    PictureBands(const PictureBands&) = delete;
    PictureBands& operator=(const PictureBands&) = delete;

    // Makes `band` hold line `index` (a column when `column`), as
    // RowPicture::hold. Which band that is depends only on the lines asked
    // before, never on how far the drawing ahead has come.
    bool Hold(bool column, std::int32_t index, Band* band, std::string* error);

  private:
    // Pixels mapped in pages of 2 MB where the system has them: a band's
    // first drawing would otherwise take a page fault every 4 KB.
    class Pixels {
      public:
        Pixels() = default;
        ~Pixels();
        Pixels(const Pixels&) = delete;
        Pixels& operator=(const Pixels&) = delete;
        std::uint32_t* Hold(std::size_t words);  // null when out of memory
      private:
        std::uint32_t* words_ = nullptr;
        std::size_t bytes_ = 0;
    };
    struct Buffer {
        Band band{};
        bool columns = false;  // drawn by renderColumns
        Pixels pixels;
        bool ok = false;
        std::string error;
    };

    void Place(Buffer& buffer, bool column, std::int32_t index) const;
    void Render(Buffer& buffer);
    void Finish();  // waits for the band drawn ahead

    const Picture& source_;
    std::size_t bandBytes_;
    Buffer buffers_[2];
    int held_ = -1;  // the buffer the driver reads
    // The other buffer has its place as the band after, and is drawn (or
    // being drawn) ahead.
    bool planned_ = false, plannedColumn_ = false, drawnAhead_ = false;
    std::thread worker_;
};

}  // namespace varnu::host
