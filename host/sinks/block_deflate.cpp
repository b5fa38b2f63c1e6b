#include "sinks/block_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>
#include <system_error>
#include <utility>

namespace varnu::host {

namespace {

constexpr std::size_t kWindow = 32768;
// Blocks queued or being deflated before the writer waits: two deflating,
// two done or waiting, so neither thread idles while the caller fills one.
constexpr std::size_t kInFlight = 4;
constexpr int kWorkers = 2;

// The stream's two-byte header for a 32 KiB window, as zlib writes it.
std::uint16_t ZlibHeader(int level) {
    const int flags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
    const int header = (Z_DEFLATED + (7 << 4)) << 8 | flags << 6;
    return static_cast<std::uint16_t>(header + 31 - header % 31);
}

}  // namespace

BlockDeflate::BlockDeflate(int level, Out out)
    : level_(std::clamp(level, 0, 9)), out_(std::move(out)) {
    try {
        for (int i = 0; i < kWorkers; ++i) workers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
        // No thread: the caller deflates each block itself (the same bytes).
    }
}

BlockDeflate::~BlockDeflate() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void BlockDeflate::Write(const std::uint8_t* data, std::size_t n) {
    while (n > 0) {
        if (!filling_) NewBlock();
        const std::size_t take = std::min(n, kBlockBytes - filling_->in.size());
        filling_->in.insert(filling_->in.end(), data, data + take);
        data += take, n -= take;
        if (filling_->in.size() == kBlockBytes) Submit(false);
    }
}

// A block to fill, from those passed on when there is one.
void BlockDeflate::NewBlock() {
    if (spare_.empty()) {
        filling_ = std::make_unique<Block>();
    } else {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
    }
    Block& block = *filling_;
    block.in.clear();
    block.in.reserve(kBlockBytes);
    block.dictionary.clear();
    block.last = block.done = block.ok = false;
}

bool BlockDeflate::Finish() {
    if (!filling_) NewBlock();
    Submit(true);
    PassDone(true);
    return ok_;
}

void BlockDeflate::Submit(bool last) {
    Block& block = *filling_;
    block.last = last;
    block.dictionary = tail_;
    const std::size_t keep = std::min(kWindow, block.in.size());
    if (block.in.size() >= kWindow) tail_.clear();
    tail_.insert(tail_.end(), block.in.end() - static_cast<std::ptrdiff_t>(keep), block.in.end());
    if (tail_.size() > kWindow) tail_.erase(tail_.begin(), tail_.end() - kWindow);
    if (workers_.empty()) {
        Deflate(block);
        block.done = true;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(filling_));
    }
    changed_.notify_all();
    PassDone(false);
}

void BlockDeflate::Deflate(Block& block) const {
    block.adler = adler32(1, block.in.data(), static_cast<uInt>(block.in.size()));
    z_stream z{};
    if (deflateInit2(&z, level_, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return;
    if (!block.dictionary.empty())
        deflateSetDictionary(&z, block.dictionary.data(),
                             static_cast<uInt>(block.dictionary.size()));
    // The bound, and the empty stored block a flush ends with.
    const std::size_t bound = deflateBound(&z, block.in.size()) + 16;
    if (block.outCapacity < bound) {
        block.out.reset(new (std::nothrow) std::uint8_t[bound]);
        block.outCapacity = block.out ? bound : 0;
    }
    z.next_in = block.in.data();
    z.avail_in = static_cast<uInt>(block.in.size());
    z.next_out = block.out.get();
    z.avail_out = static_cast<uInt>(block.outCapacity);
    const int result = block.out ? deflate(&z, block.last ? Z_FINISH : Z_SYNC_FLUSH) : Z_MEM_ERROR;
    block.ok = z.avail_in == 0 &&
               (block.last ? result == Z_STREAM_END : result == Z_OK && z.avail_out > 0);
    block.outSize = z.total_out;
    deflateEnd(&z);
}

void BlockDeflate::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || next_ < queue_.size(); });
        if (stopping_) return;
        Block& block = *queue_[next_++];
        lock.unlock();
        Deflate(block);
        lock.lock();
        block.done = true;
        changed_.notify_all();
    }
}

// Hands the finished blocks at the queue's head to `out_`, in order; waits
// while the queue is full, or until it is empty when `all`.
void BlockDeflate::PassDone(bool all) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!queue_.empty()) {
        if (!queue_.front()->done) {
            if (!all && queue_.size() < kInFlight) return;
            changed_.wait(lock);
            continue;
        }
        std::unique_ptr<Block> block = std::move(queue_.front());
        queue_.pop_front();
        if (next_ > 0) --next_;
        lock.unlock();
        ok_ = ok_ && block->ok;
        if (ok_) {
            if (!headerSent_) {
                const std::uint16_t header = ZlibHeader(level_);
                const std::uint8_t bytes[2] = {std::uint8_t(header >> 8), std::uint8_t(header)};
                out_(bytes, 2);
                headerSent_ = true;
            }
            out_(block->out.get(), block->outSize);
            adler_ = adler32_combine(adler_, block->adler, static_cast<z_off_t>(block->in.size()));
            if (block->last) {
                const std::uint8_t sum[4] = {std::uint8_t(adler_ >> 24), std::uint8_t(adler_ >> 16),
                                             std::uint8_t(adler_ >> 8), std::uint8_t(adler_)};
                out_(sum, 4);
            }
        }
        spare_.push_back(std::move(block));
        lock.lock();
    }
}

}  // namespace varnu::host
