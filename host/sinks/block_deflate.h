// One zlib stream deflated in blocks on two threads, as pigz does: each
// block a raw deflate primed with the 32 KiB before it and ending on a byte
// boundary, the blocks' checksums combined into the stream's. The bytes
// depend only on the input: blocks end every `kBlockBytes`, whatever the
// threads' timing.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace varnu::host {

class BlockDeflate {
  public:
    static constexpr std::size_t kBlockBytes = std::size_t{2} << 20;

    // `out` receives the stream in order, on the caller's thread, from
    // Write and Finish.
    using Out = std::function<void(const std::uint8_t* data, std::size_t n)>;
    BlockDeflate(int level, Out out);
    ~BlockDeflate();
    BlockDeflate(const BlockDeflate&) = delete;
    BlockDeflate& operator=(const BlockDeflate&) = delete;

    void Write(const std::uint8_t* data, std::size_t n);
    // The last block and the checksum; false when zlib failed (out of memory).
    bool Finish();

  private:
    struct Block {
        std::vector<std::uint8_t> in, dictionary;
        std::unique_ptr<std::uint8_t[]> out;  // not zeroed: it is rewritten
        std::size_t outCapacity = 0, outSize = 0;
        bool last = false, done = false, ok = false;
        unsigned long adler = 1;
    };
    void NewBlock();
    void Submit(bool last);
    void Deflate(Block& block) const;
    void Work();
    void PassDone(bool wait_for_one);

    int level_;
    Out out_;
    std::unique_ptr<Block> filling_;
    std::vector<std::unique_ptr<Block>> spare_;  // passed on, kept for their memory
    std::vector<std::uint8_t> tail_;             // the last 32 KiB before `filling_`
    unsigned long adler_ = 1;
    bool ok_ = true, headerSent_ = false;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Block>> queue_;  // in stream order
    std::size_t next_ = 0;                      // the first block no worker took
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace varnu::host
