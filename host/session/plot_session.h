// The one way a program plots: open the output, then for each job open it
// with the driver, draw, close it; finish the output when every job went
// well and the driver wrote something, else abandon it. A session not
// finished is abandoned when it ends. Each job that went well goes out
// when it closes where the output streams (a device, a FIFO, standard
// output, job by job), and job by job (StreamTarget) one that did not, or
// wrote nothing, is dropped, what went before staying sent.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "session/job.h"
#include "sinks/stream_sink.h"

namespace varnu::host {

// Sends the requests of one job on `sheet`; false with `error` set when
// the job is to be abandoned.
using DrawJob = std::function<bool(const Sheet& sheet, std::string* error)>;

class PlotSession {
  public:
    PlotSession() = default;
    ~PlotSession() { Abandon(); }
    PlotSession(const PlotSession&) = delete;
    PlotSession& operator=(const PlotSession&) = delete;

    bool Open(const StreamTarget& target, std::string* error);
    // Writes to a program's own writer (a printer application's device).
    void Open(StreamWriter writer);
    // Opens a job with `label`, draws it and closes it, whatever the drawing
    // did; a job drawn goes out at once where the output streams, and
    // job by job one that failed or wrote nothing is dropped.
    bool Job(const std::string& label, const DrawJob& draw, std::string* error);
    // Refuses an output the driver wrote nothing into.
    bool Finish(std::string* error);
    void Abandon();
    std::uint64_t bytes() const { return sink_.bytes(); }
    // Whether each job goes out when it closes, so that a job abandoned
    // later leaves the ones before it.
    bool streams() const { return sink_.streams(); }

  private:
    StreamSink sink_;
    bool open_ = false;
};

// A session of one job: Open, Job, Finish.
bool PlotOneJob(const StreamTarget& target, const std::string& label, const DrawJob& draw,
                std::string* error);

}  // namespace varnu::host
