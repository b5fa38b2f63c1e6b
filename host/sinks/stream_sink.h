// Where a driver stream goes: a file (written beside it and renamed over it
// when complete), a device or FIFO (written as it comes), standard output,
// or standard output once complete (held meanwhile in an unnamed scratch
// file, so that a job that fails or is cancelled writes nothing there), or
// a writer of the program's own (a printer application's device).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sinks/output_file.h"

namespace varnu::host {

struct StreamTarget {
    std::string path;            // "-" is standard output
    std::string input;           // the file read: never the target
    std::string spoolDirectory;  // not empty: standard output, once complete
};

// A program's own writer: every piece goes to it as it comes; false from it
// stops the stream.
using StreamWriter = std::function<bool(const void* bytes, std::size_t count)>;

class StreamSink {
  public:
    StreamSink() = default;
    ~StreamSink() { Abandon(); }
    StreamSink(const StreamSink&) = delete;
    StreamSink& operator=(const StreamSink&) = delete;

    bool Open(const StreamTarget& target, std::string* error);
    void Open(StreamWriter writer);
    // False once a write has failed; what follows is not written.
    bool Write(const void* bytes, std::size_t count);
    std::uint64_t bytes() const { return bytes_; }
    // The stream complete: renamed into place, or copied to standard output.
    bool Finish(std::string* error);
    // Nothing of the stream stays, but what a device or FIFO already got.
    void Abandon();

  private:
    bool CopySpoolToStandardOutput(std::string* error);

    OutputFile file_;
    std::FILE* spool_ = nullptr;
    std::FILE* stream_ = nullptr;  // the one written: the file's or the spool
    StreamWriter writer_;
    std::string name_;
    std::vector<char> buffer_;
    std::uint64_t bytes_ = 0;
    bool broken_ = false;
};

}  // namespace varnu::host
