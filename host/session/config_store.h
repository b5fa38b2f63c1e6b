// The driver's 40-byte configuration record as the host keeps it: in a file
// (adihost's, replaced whole by a rename) or in memory (a job's own, as the
// CUPS filter and the demo keep it, so that no file of it can be left).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "varnu/config_record.h"

namespace varnu::host {

using RecordBytes = std::array<std::uint8_t, 40>;

// $XDG_CONFIG_HOME/adihost/varnu.cfg, or ~/.config/adihost/varnu.cfg.
std::string DefaultConfigPath();

void UseConfigFile(const std::string& path);
// A record in memory, or none yet.
void UseConfigMemory(const std::optional<RecordBytes>& record = std::nullopt);
// The record's file; "" when it is kept in memory.
const std::string& ConfigPath();

bool ConfigExists();
// False when the record's file exists but is not a 40-byte record.
bool CheckConfigFile(std::string* error);
// The stored record, or the defaults when there is none.
ConfigRecord StoredConfig();
// Device pixels per inch of the stored record (600, 400, 300, 200).
int StoredDpi();

// From now on a record the driver stores is held: HeldConfig shows it,
// CommitHeldConfig keeps it (false when none was stored or it could not
// be written) and ends the hold, DropHeldConfig ends it.
void HoldConfigStores();
std::optional<ConfigRecord> HeldConfig();
bool CommitHeldConfig();
void DropHeldConfig();
// One read-modify-write of the record's file at a time, for this process's life.
void LockConfig();

// The driver's LoadConfig and StoreConfig services.
std::int32_t LoadConfigRecord(std::int32_t size, void* record);
std::int32_t StoreConfigRecord(std::int32_t size, const void* record);

}  // namespace varnu::host
