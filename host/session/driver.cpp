#include "session/driver.h"

#include <cstdio>

#include "low_arena.h"
#include "session/config_store.h"
#include "session/text.h"
#include "varnu/pladi.h"

namespace varnu::host {

namespace {

std::uint8_t ServiceTable[hostkit::kServiceTableSize];
std::vector<std::string> Messages;
bool Echo = true;
StreamSink* Sink = nullptr;

hostkit::LowArena& Arena() {
    static hostkit::LowArena arena(std::size_t{512} << 20);
    return arena;
}

std::int32_t PrintMessage(const char* text) {
    std::string utf8 = Utf8FromWindows1252(text);
    if (Echo) std::fputs(utf8.c_str(), stderr);
    Messages.push_back(std::move(utf8));
    return 0;
}

// The serial handshake goes to a device line we do not have; nothing to do.
std::int32_t SendDeviceString(const char*) {
    return 0;
}

std::int32_t WriteOutput(std::int32_t, std::int32_t, const void* bytes, std::int32_t count,
                         std::int32_t) {
    if (Sink == nullptr || count < 0) return 0;
    return Sink->Write(bytes, static_cast<std::size_t>(count)) ? 1 : 0;
}

std::int32_t NotifyHost(std::int32_t, std::int32_t) {
    return 1;
}

}  // namespace

bool InstallHost(std::string* error) {
    if (!hostkit::FillServiceTable(
            ServiceTable, {&PrintMessage, &SendDeviceString, &WriteOutput, &LoadConfigRecord,
                           &StoreConfigRecord, &NotifyHost})) {
        *error = "the program is not linked below 4 GiB (build it non-PIE)";
        return false;
    }
    if (PLADI(ServiceTable, 0) == nullptr) {
        *error = "the driver cannot describe itself below 4 GiB (build it non-PIE)";
        return false;
    }
    Packet messages(50);
    SendDriver(messages);
    return true;
}

std::int16_t SendDriver(Packet& packet) {
    DriverRequest(packet.data());
    return packet.result();
}

std::int16_t SendPlot(Packet& packet) {
    PlotRequest(packet.data());
    return packet.result();
}

void SetStreamSink(StreamSink* sink) {
    Sink = sink;
}

void* LowAllocate(std::size_t size) {
    return Arena().TryAllocate(size);
}

void LowReset() {
    Arena().Reset();
}

LowScope::LowScope() : mark_(Arena().Mark()) {}

LowScope::~LowScope() {
    Arena().ReleaseTo(mark_);
}

std::vector<std::string> TakeMessages() {
    std::vector<std::string> out;
    out.swap(Messages);
    return out;
}

void EchoMessages(bool echo) {
    Echo = echo;
}

}  // namespace varnu::host
