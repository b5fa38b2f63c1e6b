// The stream being read, pulled from its source as reading goes on: a
// window of bytes ahead of the reader and nothing behind it, so memory
// stays bounded whatever the stream's length.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "preview/preview.h"

namespace varnu::preview {

// Reading stops with the offset where the stream stopped making sense.
struct StreamError : std::runtime_error {
    std::uint64_t offset;
    StreamError(std::uint64_t at, const std::string& what) : std::runtime_error(what), offset(at) {}
};

class Input {
  public:
    // The most a reader may look ahead: the longest command it buffers.
    static constexpr std::size_t kWindow = 1 << 18;

    Input(const ByteSource& source, std::uint64_t limit) : source_(source), limit_(limit) {}

    // The byte `ahead` places on, or -1 past the end (ahead < kWindow).
    int Peek(std::size_t ahead = 0) {
        if (end_ - pos_ <= ahead && !Fill(ahead + 1)) return -1;
        return static_cast<unsigned char>(buffer_[pos_ + ahead]);
    }
    int Get() {
        const int c = Peek();
        if (c >= 0) ++pos_;
        return c;
    }
    bool StartsWith(std::string_view text);
    // Makes n bytes available at Data() or throws "stream ends inside `what`".
    const char* Need(std::size_t n, const char* what);
    void Skip(std::size_t n) { pos_ += n; }
    // Up to n bytes straight from the stream (for raster data of any length).
    std::size_t Read(char* to, std::size_t n);
    std::uint64_t Offset() const { return base_ + pos_; }
    bool AtEnd() { return Peek() < 0; }
    // A reader that learns the sheet's size sets what the stream may take.
    void SetLimit(std::uint64_t limit) { limit_ = limit; }

  private:
    bool Fill(std::size_t n);

    const ByteSource& source_;
    std::uint64_t limit_;
    std::vector<char> buffer_ = std::vector<char>(2 * kWindow);
    std::size_t pos_ = 0, end_ = 0;
    std::uint64_t base_ = 0;  // stream offset of buffer_[0]
    bool ended_ = false;
};

}  // namespace varnu::preview
