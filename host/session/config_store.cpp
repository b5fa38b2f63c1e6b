#include "session/config_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sinks/output_file.h"

namespace varnu::host {

namespace {

std::string Path;
bool InMemory = false;
std::optional<RecordBytes> Memory;

// While held, a stored record waits here until CommitHeldConfig.
bool Holding = false;
std::optional<RecordBytes> Held;

// Written beside the record and renamed over it: a crash never leaves half a record.
bool WriteRecord(const RecordBytes& record) {
    if (InMemory) {
        Memory = record;
        return true;
    }
    std::error_code ec;
    const std::filesystem::path path(Path);
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    OutputFile file;
    std::string error;
    if (!file.Open(Path, {}, &error)) return false;
    return std::fwrite(record.data(), 1, 40, file.stream()) == 40 && file.Commit(&error);
}

}  // namespace

std::string DefaultConfigPath() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] != '\0')
        return std::string(xdg) + "/adihost/varnu.cfg";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.config/adihost/varnu.cfg";
}

void UseConfigFile(const std::string& path) {
    Path = path;
    InMemory = false;
}

void UseConfigMemory(const std::optional<RecordBytes>& record) {
    Path.clear();
    InMemory = true;
    Memory = record;
}

const std::string& ConfigPath() {
    return Path;
}

bool ConfigExists() {
    if (InMemory) return Memory.has_value();
    std::error_code ec;
    return std::filesystem::file_size(Path, ec) == 40 && !ec;
}

bool CheckConfigFile(std::string* error) {
    struct stat st;
    if (InMemory || stat(Path.c_str(), &st) != 0) return true;  // created when stored
    if (!S_ISREG(st.st_mode) || st.st_size != 40) {
        *error = Path + ": not a configuration record (left as it is)";
        return false;
    }
    return true;
}

std::int32_t LoadConfigRecord(std::int32_t size, void* record) {
    if (size != 40) return 1;
    if (InMemory) {
        if (!Memory) return 1;
        std::memcpy(record, Memory->data(), 40);
        return 0;
    }
    // Exactly 40 bytes, or no record at all.
    std::ifstream in(Path, std::ios::binary);
    char bytes[41];
    in.read(bytes, sizeof bytes);
    if (in.gcount() != 40) return 1;
    std::memcpy(record, bytes, 40);
    return 0;
}

std::int32_t StoreConfigRecord(std::int32_t size, const void* record) {
    if (size != 40) return 1;
    RecordBytes bytes;
    std::memcpy(bytes.data(), record, 40);
    if (Holding) {
        Held = bytes;
        return 0;
    }
    return WriteRecord(bytes) ? 0 : 1;
}

ConfigRecord StoredConfig() {
    std::uint8_t bytes[40];
    ConfigRecord record = DefaultConfigRecord(0);
    if (LoadConfigRecord(40, bytes) == 0) DecodeConfigRecord(bytes, &record);
    return record;
}

int StoredDpi() {
    switch (StoredConfig().modeFlags & kModeResolutionMask) {
        case kResolution400:
            return 400;
        case kResolution300:
            return 300;
        case kResolution200:
            return 200;
        default:
            return 600;
    }
}

void HoldConfigStores() {
    Holding = true;
    Held.reset();
}

std::optional<ConfigRecord> HeldConfig() {
    if (!Held) return std::nullopt;
    ConfigRecord record;
    DecodeConfigRecord(Held->data(), &record);
    return record;
}

bool CommitHeldConfig() {
    Holding = false;
    const bool ok = Held && WriteRecord(*Held);
    Held.reset();
    return ok;
}

void DropHeldConfig() {
    Holding = false;
    Held.reset();
}

void LockConfig() {
    // The directory, not the record: the record is replaced by a rename.
    static int fd = -1;
    if (fd >= 0 || InMemory) return;
    std::filesystem::path directory = std::filesystem::path(Path).parent_path();
    if (directory.empty()) directory = ".";
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) flock(fd, LOCK_EX);
}

}  // namespace varnu::host
