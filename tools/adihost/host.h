// adihost's side of the driver interface: the six host services, the
// configuration file, the output file, request packets and the plot job.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/adi_abi.h"

namespace adihost {

struct HostOptions {
    std::string configPath;  // the 40-byte configuration record
    bool quiet = false;      // no progress bar
};

// The default record path: $XDG_CONFIG_HOME/adihost/varnu.cfg or ~/.config/...
std::string DefaultConfigPath();

// Calls PLADI with our service table and installs the messages.
void InstallHost(const HostOptions& options);
// Where LoadConfig and StoreConfig keep the record from now on.
void SetConfigPath(const std::string& path);
bool ConfigExists();

// A request packet; any address the driver reads from it lies in low memory.
class Packet {
  public:
    static constexpr std::size_t kSize = 2200;
    explicit Packet(std::int16_t code) { Set<std::int16_t>(0, code); }
    template <typename T>
    Packet& Set(std::size_t offset, T value) {
        std::memcpy(bytes_ + offset, &value, sizeof value);
        return *this;
    }
    template <typename T>
    T Get(std::size_t offset) const {
        T value;
        std::memcpy(&value, bytes_ + offset, sizeof value);
        return value;
    }
    std::uint8_t* data() { return bytes_; }
    std::int16_t result() const { return Get<std::int16_t>(0); }

  private:
    alignas(8) std::uint8_t bytes_[kSize] = {};
};

std::int16_t SendDriver(Packet& packet);
std::int16_t SendPlot(Packet& packet);

// Memory below 4 GiB for what the driver reads by address; nullptr when
// the arena is exhausted.
void* LowAllocate(std::size_t size);
void LowReset();

// The plot stream: written to a temporary file beside `path` and renamed
// when the job ends well, so a failed job leaves no file.
bool BeginOutput(const std::string& path, std::string* error);
bool FinishOutput(std::string* error);
void AbandonOutput();
std::uint64_t OutputBytes();

// Messages the driver printed since the last call (UTF-8); they also go to
// standard error as they come.
std::vector<std::string> TakeMessages();
void EchoMessages(bool echo);

// Windows-1252 to UTF-8.
std::string Utf8FromWindows1252(const std::string& text);

// The page the stored configuration describes, as driver request 21 reports it.
struct PageData {
    double extentX = 0, extentY = 0;  // inches
    double resolution = 0;            // host steps per inch
};

// Opens a plot job: 49, 50, 29, [46 with the label typed], 47, 48, 30.
// False with a message when a request fails.
bool OpenPlotJob(const std::string& label, PageData* page, std::string* error);
// Plot request 2.
void ClosePlotJob();

}  // namespace adihost
