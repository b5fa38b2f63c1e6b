// Files the programs write, written where the user said and never half-written:
// "-" is standard output, a symbolic link is followed to its target, a device
// or FIFO is written directly, and a regular file is written to a temporary
// beside it (unique to this process) that replaces it only when complete.
#pragma once

#include <cstdio>
#include <string>

namespace varnu::host {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Refuses a target that is the same file as `input` (when given) or a directory.
    bool Open(const std::string& path, const std::string& input, std::string* error);
    // Closes; a regular file's temporary is renamed over the target.
    bool Commit(std::string* error);
    // Closes and removes the temporary; a device, FIFO or stream keeps what it got.
    void Discard();

    std::FILE* stream() const { return stream_; }
    // Standard output, a device or FIFO: no temporary, written as it comes.
    bool streams() const { return stream_ != nullptr && temporary_.empty(); }
    const std::string& path() const { return path_; }

  private:
    std::FILE* stream_ = nullptr;
    std::string path_, target_, temporary_;
};

// Whether `a` and `b` name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace varnu::host
