// The host side of the driver interface: the six host services, request
// packets, memory below 4 GiB for what the driver reads by address, and the
// driver's messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_table.h"
#include "sinks/stream_sink.h"

namespace varnu::host {

// Calls PLADI with our service table and installs the messages; false
// with `error` set when the program is not linked below 4 GiB.
bool InstallHost(std::string* error);

using Packet = hostkit::Packet;

std::int16_t SendDriver(Packet& packet);
std::int16_t SendPlot(Packet& packet);

// Where the driver's WriteOutput goes from now on; nullptr drops it.
void SetStreamSink(StreamSink* sink);

// Memory below 4 GiB for what the driver reads by address; nullptr when
// the arena is exhausted.
void* LowAllocate(std::size_t size);
void LowReset();

// Gives back the low memory allocated while it lived: for what the driver
// reads by address only until the request that uses it returns.
class LowScope {
  public:
    LowScope();
    ~LowScope();
    LowScope(const LowScope&) = delete;
    LowScope& operator=(const LowScope&) = delete;

  private:
    std::size_t mark_;
};

// Messages the driver printed since the last call (UTF-8); they also go to
// standard error as they come, unless echo is off.
std::vector<std::string> TakeMessages();
void EchoMessages(bool echo);

}  // namespace varnu::host
