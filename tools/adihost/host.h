// adihost's side of the driver interface: the six host services, the
// configuration file, the output file, request packets and the plot job.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host_table.h"
#include "varnu/adi_abi.h"
#include "varnu/config_record.h"

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
// False when the record's file exists but is not a 40-byte record.
bool CheckConfigFile(std::string* error);
// The stored record, or the defaults when there is none.
varnu::ConfigRecord StoredConfig();
// From now on a record the driver stores is kept in memory: HeldConfig shows
// it, CommitHeldConfig writes it (false when none was stored or the write
// failed) and ends the hold.
void HoldConfigStores();
std::optional<varnu::ConfigRecord> HeldConfig();
bool CommitHeldConfig();
// Ends the hold without writing.
void DropHeldConfig();
// Holds the record's directory for this process: one read-modify-write at a time.
void LockConfig();

using Packet = varnu::hostkit::Packet;

std::int16_t SendDriver(Packet& packet);
std::int16_t SendPlot(Packet& packet);

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

// The plot stream, written through an OutputFile (a failed job leaves no
// file); refused when `path` is the file `input`.
bool BeginOutput(const std::string& path, const std::string& input, std::string* error);
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
