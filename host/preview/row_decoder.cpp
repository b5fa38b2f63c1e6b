#include "preview/row_decoder.h"

#include <algorithm>

namespace varnu::preview {

RowDecoder::RowDecoder(TIFF* tif, long rows, std::size_t bytes)
    : tif_(tif), rows_(rows), stride_(bytes + 8) {
    for (Chunk& c : chunks_)
        c.rows.assign(stride_ * static_cast<std::size_t>(std::min(rows, kChunkRows)), 0);
    thread_ = std::thread([this] { Decode(); });
}

RowDecoder::~RowDecoder() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void RowDecoder::Decode() {
    long r = 0;
    for (int slot = 0;; slot = (slot + 1) % kChunks) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || filled_ < kChunks; });
            if (stop_) return;
        }
        Chunk& c = chunks_[slot];
        c.count = 0;
        c.last = false;
        const long end = std::min(rows_, r + kChunkRows);
        for (; r < end; ++r, ++c.count) {
            std::uint8_t* to = c.rows.data() + stride_ * static_cast<std::size_t>(c.count);
            if (TIFFReadScanline(tif_, to, static_cast<std::uint32_t>(r), 0) < 0) break;
        }
        c.last = r < end || r == rows_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++filled_;
        }
        changed_.notify_all();
        if (c.last) return;
    }
}

const std::uint8_t* RowDecoder::Next() {
    if (ended_) return nullptr;
    Chunk* c = row_ >= 0 ? &chunks_[reading_] : nullptr;
    if (c != nullptr && row_ + 1 < c->count) return c->rows.data() + stride_ * ++row_;
    if (c != nullptr) {
        if (c->last) {
            ended_ = true;
            return nullptr;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --filled_;
        }
        changed_.notify_all();
        reading_ = (reading_ + 1) % kChunks;
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return filled_ > 0; });
    }
    c = &chunks_[reading_];
    row_ = 0;
    if (c->count == 0) {
        ended_ = true;
        return nullptr;
    }
    return c->rows.data();
}

}  // namespace varnu::preview
