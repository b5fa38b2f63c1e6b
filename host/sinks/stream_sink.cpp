#include "sinks/stream_sink.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sinks/temporary.h"

namespace varnu::host {

bool StreamSink::Open(const StreamTarget& target, std::string* error) {
    Abandon();
    bytes_ = committed_ = 0;
    broken_ = false;
    writeErrno_ = 0;
    jobByJob_ = target.jobByJob && !target.spoolDirectory.empty();
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
        name_ = "the printer stream in a scratch file in " + target.spoolDirectory;
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
    bytes_ = committed_ = 0;
    broken_ = jobByJob_ = false;
    writeErrno_ = 0;
    writer_ = std::move(writer);
    name_ = "the printer stream";
}

bool StreamSink::Write(const void* bytes, std::size_t count) {
    if (!open() || broken_) return false;
    errno = 0;
    if (writer_.write ? !writer_.write(bytes, count)
                      : std::fwrite(bytes, 1, count, stream_) != count) {
        broken_ = true;
        writeErrno_ = errno;
        return false;
    }
    bytes_ += count;
    return true;
}

bool StreamSink::Finish(std::string* error) {
    if (!open() || broken_) {
        *error = WriteError();
        Abandon();
        return false;
    }
    if (writer_.write) {
        writer_ = {};
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

std::string StreamSink::WriteError() const {
    return "writing " + name_ + " failed" +
           (writeErrno_ != 0 ? std::string(": ") + std::strerror(writeErrno_) : std::string());
}

bool StreamSink::CommitJob(std::string* error) {
    if (!jobByJob_) {
        if (open() && !broken_ && streams() && !FlushStream()) broken_ = true;
        if (open() && !broken_) return true;
        *error = WriteError();
        return false;
    }
    if (stream_ == nullptr || broken_ || std::fflush(spool_) != 0) {
        if (stream_ != nullptr && !broken_) writeErrno_ = errno;
        *error = WriteError();
        DropJob();
        return false;
    }
    if (!CopySpoolToStandardOutput(error)) return false;
    committed_ = bytes_;
    DropJob();
    return true;
}

// What is written so far out of the stdio buffer or the program's writer.
bool StreamSink::FlushStream() {
    if (writer_.write) return !writer_.flush || writer_.flush();
    return std::fflush(stream_) == 0;
}

// The spool emptied: what it held was sent, or is not to be.
void StreamSink::DropJob() {
    if (!jobByJob_ || spool_ == nullptr) return;
    std::rewind(spool_);
    if (ftruncate(fileno(spool_), 0) != 0) broken_ = true;
    bytes_ = committed_;
    if (!broken_) writeErrno_ = 0;
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
    writer_ = {};
    file_.Discard();
}

}  // namespace varnu::host
