// Where a driver stream goes: a file (written beside it and renamed over it
// when complete), a device or FIFO (written as it comes), standard output,
// or standard output once complete (held meanwhile in an unnamed scratch
// file, so that a job that fails or is cancelled writes nothing there):
// the whole stream, or job by job, each job sent as soon as it is complete
// (a CUPS filter's pages, each a job of its own, reach the printer while
// the next is made); or a writer of the program's own (a printer
// application's device), each job flushed on when it is complete.
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
    bool jobByJob = false;       // with spoolDirectory: each job once it is complete
};

// A program's own writer: every piece goes to `write` as it comes, false
// from it stopping the stream; `flush`, where set, sends a completed job's
// pieces on (false: the stream failed).
struct StreamWriter {
    std::function<bool(const void* bytes, std::size_t count)> write;
    std::function<bool()> flush;
};

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
    // Where what a job wrote goes out when the job is complete (standard
    // output, a device or FIFO, a program's writer, or job by job), so that
    // a job that fails later leaves the ones before it sent.
    bool streams() const {
        return jobByJob_ || writer_.write || (spool_ == nullptr && file_.streams());
    }
    bool jobByJob() const { return jobByJob_; }
    // A job complete: out at once where the target streams (job by job,
    // copied from the scratch file to standard output); false with `error`
    // set once a write has failed. A file stays to be renamed by Finish.
    bool CommitJob(std::string* error);
    // A job that failed: job by job, what it wrote is dropped, the jobs
    // before it staying sent; elsewhere the stream is finished or abandoned
    // whole.
    void DropJob();
    // The stream complete: renamed into place, or copied to standard output.
    bool Finish(std::string* error);
    // Nothing of the stream stays, but what a device or FIFO already got.
    void Abandon();

  private:
    bool open() const { return stream_ != nullptr || writer_.write; }
    bool FlushStream();
    bool CopySpoolToStandardOutput(std::string* error);
    std::string WriteError() const;

    OutputFile file_;
    std::FILE* spool_ = nullptr;
    std::FILE* stream_ = nullptr;  // the one written: the file's or the spool
    StreamWriter writer_;
    std::string name_;
    std::vector<char> buffer_;
    std::uint64_t bytes_ = 0;
    std::uint64_t committed_ = 0;  // of bytes_, sent job by job
    bool jobByJob_ = false;
    bool broken_ = false;
    int writeErrno_ = 0;
};

}  // namespace varnu::host
