#include "session/plot_session.h"

#include "session/driver.h"

namespace varnu::host {

bool PlotSession::Open(const StreamTarget& target, std::string* error) {
    Abandon();
    if (!sink_.Open(target, error)) return false;
    SetStreamSink(&sink_);
    open_ = true;
    return true;
}

void PlotSession::Open(StreamWriter writer) {
    Abandon();
    sink_.Open(std::move(writer));
    SetStreamSink(&sink_);
    open_ = true;
}

bool PlotSession::Job(const std::string& label, const DrawJob& draw, std::string* error) {
    if (!open_) {
        *error = "no output is open";
        return false;
    }
    const std::uint64_t before = sink_.bytes();
    Sheet sheet;
    bool drawn = OpenJob(label, &sheet, error);
    if (drawn) drawn = draw(sheet, error);
    CloseJob();
    // Job by job, a job goes out whole, or not at all.
    if (drawn && sink_.jobByJob() && sink_.bytes() == before) {
        *error = "the driver wrote nothing";
        drawn = false;
    }
    if (!drawn) {
        sink_.DropJob();
        return false;
    }
    return sink_.CommitJob(error);
}

bool PlotSession::Finish(std::string* error) {
    if (!open_) {
        *error = "no output is open";
        return false;
    }
    if (sink_.bytes() == 0) {  // never an empty file reported as a plot
        Abandon();
        *error = "the driver wrote nothing";
        return false;
    }
    SetStreamSink(nullptr);
    open_ = false;
    return sink_.Finish(error);
}

void PlotSession::Abandon() {
    if (!open_) return;
    SetStreamSink(nullptr);
    sink_.Abandon();
    open_ = false;
}

bool PlotOneJob(const StreamTarget& target, const std::string& label, const DrawJob& draw,
                std::string* error) {
    PlotSession session;
    return session.Open(target, error) && session.Job(label, draw, error) && session.Finish(error);
}

}  // namespace varnu::host
