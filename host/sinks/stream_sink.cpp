#include "sinks/stream_sink.h"

#include <unistd.h>

#include "sinks/temporary.h"

namespace varnu::host {

bool StreamSink::Open(const StreamTarget& target, std::string* error) {
    Abandon();
    bytes_ = 0;
    broken_ = false;
    if (!target.spoolDirectory.empty()) {
        const int fd = OpenUnnamedFile(target.spoolDirectory, error);
        if (fd < 0) return false;
        spool_ = fdopen(fd, "w+b");
        if (spool_ == nullptr) {
            close(fd);
            *error = "cannot hold the printer stream";
            return false;
        }
        stream_ = spool_;
        name_ = "the printer stream";
    } else {
        if (!file_.Open(target.path, target.input, error)) return false;
        stream_ = file_.stream();
        name_ = target.path;
    }
    // Large writes; standard output keeps its own buffer, which outlives us.
    if (stream_ != stdout) {
        buffer_.resize(std::size_t{1} << 20);
        std::setvbuf(stream_, buffer_.data(), _IOFBF, buffer_.size());
    }
    return true;
}

void StreamSink::Open(StreamWriter writer) {
    Abandon();
    bytes_ = 0;
    broken_ = false;
    writer_ = std::move(writer);
    name_ = "the printer stream";
}

bool StreamSink::Write(const void* bytes, std::size_t count) {
    if ((stream_ == nullptr && !writer_) || broken_) return false;
    if (writer_ ? !writer_(bytes, count) : std::fwrite(bytes, 1, count, stream_) != count) {
        broken_ = true;
        return false;
    }
    bytes_ += count;
    return true;
}

bool StreamSink::Finish(std::string* error) {
    if ((stream_ == nullptr && !writer_) || broken_) {
        Abandon();
        *error = "writing " + name_ + " failed";
        return false;
    }
    if (writer_) {
        writer_ = nullptr;
        return true;
    }
    if (spool_ == nullptr) {
        stream_ = nullptr;
        return file_.Commit(error);
    }
    const bool ok = CopySpoolToStandardOutput(error);
    Abandon();
    return ok;
}

bool StreamSink::CopySpoolToStandardOutput(std::string* error) {
    if (std::fflush(spool_) != 0 || std::fseek(spool_, 0, SEEK_SET) != 0) {
        *error = "cannot read back the printer stream";
        return false;
    }
    std::vector<char> piece(1 << 16);
    for (std::size_t n; (n = std::fread(piece.data(), 1, piece.size(), spool_)) > 0;)
        if (std::fwrite(piece.data(), 1, n, stdout) != n) {
            *error = "cannot write the printer stream";
            return false;
        }
    if (std::ferror(spool_) != 0 || std::fflush(stdout) != 0) {
        *error = "cannot write the printer stream";
        return false;
    }
    return true;
}

void StreamSink::Abandon() {
    if (spool_ != nullptr) std::fclose(spool_);
    spool_ = nullptr;
    stream_ = nullptr;
    writer_ = nullptr;
    file_.Discard();
}

}  // namespace varnu::host
