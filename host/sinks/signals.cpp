#include "sinks/signals.h"

#include <unistd.h>

#include <array>
#include <cstring>

namespace varnu::host {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Fixed storage: the handler may not allocate.
constexpr std::size_t kSlots = 8;
std::array<std::array<char, 4096>, kSlots> Paths{};

void RemoveAndDie(int signal) {
    for (auto& slot : Paths)
        if (slot[0] != '\0') unlink(slot.data());
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    raise(signal);  // delivered as the handler returns
}

}  // namespace

void InstallSignalCleanup() {
    struct sigaction cleanup {};
    cleanup.sa_handler = &RemoveAndDie;
    sigemptyset(&cleanup.sa_mask);
    for (int s : kSignals) sigaddset(&cleanup.sa_mask, s);
    for (int s : kSignals) sigaction(s, &cleanup, nullptr);
}

void RemoveOnSignal(const std::string& path) {
    const SignalGuard guard;
    for (auto& slot : Paths)
        if (slot[0] == '\0' && path.size() < slot.size()) {
            std::memcpy(slot.data(), path.c_str(), path.size() + 1);
            return;
        }
}

void KeepOnSignal(const std::string& path) {
    const SignalGuard guard;
    for (auto& slot : Paths)
        if (path == slot.data()) slot[0] = '\0';
}

SignalGuard::SignalGuard() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int s : kSignals) sigaddset(&blocked, s);
    sigprocmask(SIG_BLOCK, &blocked, &previous_);
}

SignalGuard::~SignalGuard() {
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace varnu::host
