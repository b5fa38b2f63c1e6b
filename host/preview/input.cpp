#include "preview/input.h"

#include <algorithm>
#include <cstring>

namespace varnu::preview {

bool Input::StartsWith(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (Peek(i) != static_cast<unsigned char>(text[i])) return false;
    return true;
}

const char* Input::Need(std::size_t n, const char* what) {
    if (n > kWindow)
        throw StreamError(Offset(), std::string("a command longer than ") +
                                        std::to_string(kWindow) + " bytes: " + what);
    if (end_ - pos_ < n && !Fill(n))
        throw StreamError(Offset(), std::string("stream ends inside ") + what);
    return buffer_.data() + pos_;
}

std::size_t Input::Read(char* to, std::size_t n) {
    if (end_ == pos_ && !Fill(1)) return 0;
    const std::size_t got = std::min(n, end_ - pos_);
    std::memcpy(to, buffer_.data() + pos_, got);
    pos_ += got;
    return got;
}

// Moves what is left to the front and reads until n bytes are there, the
// stream ends or it passes its limit.
bool Input::Fill(std::size_t n) {
    if (pos_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
        base_ += pos_;
        end_ -= pos_;
        pos_ = 0;
    }
    while (end_ < n && !ended_) {
        const std::size_t got = source_(buffer_.data() + end_, buffer_.size() - end_);
        if (got == 0) ended_ = true;
        end_ += got;
        if (base_ + end_ > limit_)
            throw StreamError(limit_, "the stream goes on past " + std::to_string(limit_) +
                                          " bytes, more than a job for this sheet takes");
    }
    return end_ >= n;
}

}  // namespace varnu::preview
