// The rows of an MMR band decoded by libtiff on a thread of its own, a few
// hundred rows ahead of the painter, so decoding and painting share the two
// cores. Rows come out in order and the same whatever the timing; where
// decoding fails, the rows before it come out and then the end.
#pragma once

#include <tiffio.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace varnu::preview {

class RowDecoder {
  public:
    // Rows of `bytes` from `tif` (used by the decoder until it is destroyed).
    RowDecoder(TIFF* tif, long rows, std::size_t bytes);
    ~RowDecoder();  // stops and waits for the decoding thread
    RowDecoder(const RowDecoder&) = delete;
    RowDecoder& operator=(const RowDecoder&) = delete;

    // The next row, with 8 readable zero bytes past it; null after the last
    // row decoded.
    const std::uint8_t* Next();

  private:
    static constexpr long kChunkRows = 256;
    static constexpr int kChunks = 3;  // the hand-over: rows ahead at most
    struct Chunk {
        std::vector<std::uint8_t> rows;
        long count = 0;  // rows decoded into it
        bool last = false;
    };
    void Decode();

    TIFF* tif_;
    long rows_;
    std::size_t stride_;
    Chunk chunks_[kChunks];
    std::mutex mutex_;
    std::condition_variable changed_;
    int filled_ = 0;  // chunks ready for the painter, from reading_ on
    bool stop_ = false;
    int reading_ = 0;  // the painter's chunk and row in it
    long row_ = -1;
    bool ended_ = false;
    std::thread thread_;
};

}  // namespace varnu::preview
