// The one signal cleanup of every program: what is named here is removed
// when SIGINT, SIGTERM, SIGHUP or SIGPIPE ends the program, which then dies
// of that signal as it would have.
#pragma once

#include <csignal>
#include <string>

namespace varnu::host {

// Once, before the first file is noted.
void InstallSignalCleanup();
// A file to remove (at most eight at a time, each under 4096 bytes of name).
void RemoveOnSignal(const std::string& path);
void KeepOnSignal(const std::string& path);

// Holds the cleanup's signals back while it lives: a file created and noted
// within one guard is never left behind by a signal in between.
class SignalGuard {
  public:
    SignalGuard();
    ~SignalGuard();
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

  private:
    sigset_t previous_;
};

}  // namespace varnu::host
