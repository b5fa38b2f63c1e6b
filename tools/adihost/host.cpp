#include "adihost/host.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "adihost/output_file.h"
#include "low_arena.h"
#include "resource.h"
#include "varnu/byte_order.h"
#include "varnu/config_record.h"
#include "varnu/headless_dialogs.h"
#include "varnu/host_interface.h"
#include "varnu/packet_layouts.h"
#include "varnu/pladi.h"

namespace adihost {

namespace layout = varnu::layout;

namespace {

HostOptions Options;
std::uint8_t ServiceTable[varnu::hostkit::kServiceTableSize];
std::vector<std::string> Messages;
bool Echo = true;

OutputFile Output;
std::uint64_t OutputCount = 0;
bool OutputBroken = false;

varnu::hostkit::LowArena& Arena() {
    static varnu::hostkit::LowArena arena(std::size_t{512} << 20);
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
    if (Output.stream() == nullptr || count < 0) return 0;
    if (std::fwrite(bytes, 1, static_cast<std::size_t>(count), Output.stream()) !=
        static_cast<std::size_t>(count)) {
        OutputBroken = true;
        return 0;
    }
    OutputCount += static_cast<std::uint64_t>(count);
    return 1;
}

// The host's stored record: exactly 40 bytes, or no record at all.
std::int32_t LoadConfig(std::int32_t size, void* record) {
    std::ifstream in(Options.configPath, std::ios::binary);
    if (!in || size != 40) return 1;
    char bytes[41];
    in.read(bytes, sizeof bytes);
    if (in.gcount() != 40) return 1;
    std::memcpy(record, bytes, 40);
    return 0;
}

// While held, a stored record waits here until CommitHeldConfig.
bool HoldingStores = false;
std::optional<std::array<std::uint8_t, 40>> HeldRecord;

// Written beside the record and renamed over it: a crash never leaves half a record.
std::int32_t WriteRecord(const void* record) {
    std::error_code ec;
    const std::filesystem::path path(Options.configPath);
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    OutputFile file;
    std::string error;
    if (!file.Open(Options.configPath, {}, &error)) return 1;
    if (std::fwrite(record, 1, 40, file.stream()) != 40 || !file.Commit(&error)) return 1;
    return 0;
}

std::int32_t StoreConfig(std::int32_t size, const void* record) {
    if (size != 40) return 1;
    if (!HoldingStores) return WriteRecord(record);
    HeldRecord.emplace();
    std::memcpy(HeldRecord->data(), record, 40);
    return 0;
}

std::int32_t NotifyHost(std::int32_t, std::int32_t) {
    return 1;
}

}  // namespace

std::string DefaultConfigPath() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] != '\0')
        return std::string(xdg) + "/adihost/varnu.cfg";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.config/adihost/varnu.cfg";
}

std::string Utf8FromWindows1252(const std::string& text) {
    // The 0x80..0x9F block of Windows-1252, as Unicode code points.
    static const std::uint16_t kHigh[32] = {
        0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    std::string out;
    for (unsigned char c : text) {
        std::uint32_t cp = c;
        if (c >= 0x80 && c < 0xA0) cp = kHigh[c - 0x80];
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

void InstallHost(const HostOptions& options) {
    Options = options;
    if (!varnu::hostkit::FillServiceTable(
            ServiceTable, {&PrintMessage, &SendDeviceString, &WriteOutput, &LoadConfig,
                           &StoreConfig, &NotifyHost})) {
        std::fputs("adihost: the program is not linked below 4 GiB (build it non-PIE)\n", stderr);
        std::exit(1);
    }
    if (PLADI(ServiceTable, 0) == nullptr) {
        std::fputs("adihost: the driver cannot describe itself below 4 GiB (build it non-PIE)\n",
                   stderr);
        std::exit(1);
    }
    Packet messages(50);
    SendDriver(messages);
}

void SetConfigPath(const std::string& path) {
    Options.configPath = path;
}

bool ConfigExists() {
    std::error_code ec;
    return std::filesystem::file_size(Options.configPath, ec) == 40 && !ec;
}

bool CheckConfigFile(std::string* error) {
    struct stat st;
    if (stat(Options.configPath.c_str(), &st) != 0) return true;  // created when stored
    if (!S_ISREG(st.st_mode) || st.st_size != 40) {
        *error = Options.configPath + ": not a configuration record (left as it is)";
        return false;
    }
    return true;
}

varnu::ConfigRecord StoredConfig() {
    std::uint8_t bytes[40];
    varnu::ConfigRecord record = varnu::DefaultConfigRecord(0);
    if (LoadConfig(40, bytes) == 0) varnu::DecodeConfigRecord(bytes, &record);
    return record;
}

void HoldConfigStores() {
    HoldingStores = true;
    HeldRecord.reset();
}

std::optional<varnu::ConfigRecord> HeldConfig() {
    if (!HeldRecord) return std::nullopt;
    varnu::ConfigRecord record;
    varnu::DecodeConfigRecord(HeldRecord->data(), &record);
    return record;
}

bool CommitHeldConfig() {
    HoldingStores = false;
    const bool ok = HeldRecord && WriteRecord(HeldRecord->data()) == 0;
    HeldRecord.reset();
    return ok;
}

void DropHeldConfig() {
    HoldingStores = false;
    HeldRecord.reset();
}

void LockConfig() {
    // The directory, not the record: the record is replaced by a rename.
    static int fd = -1;
    if (fd >= 0) return;
    std::filesystem::path directory = std::filesystem::path(Options.configPath).parent_path();
    if (directory.empty()) directory = ".";
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) flock(fd, LOCK_EX);
}

std::int16_t SendDriver(Packet& packet) {
    DriverRequest(packet.data());
    return packet.result();
}

std::int16_t SendPlot(Packet& packet) {
    PlotRequest(packet.data());
    return packet.result();
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

bool BeginOutput(const std::string& path, const std::string& input, std::string* error) {
    OutputCount = 0;
    OutputBroken = false;
    if (!Output.Open(path, input, error)) return false;
    static char buffer[1 << 20];
    std::setvbuf(Output.stream(), buffer, _IOFBF, sizeof buffer);
    return true;
}

bool FinishOutput(std::string* error) {
    if (OutputBroken) {
        Output.Discard();
        *error = "writing " + Output.path() + " failed";
        return false;
    }
    return Output.Commit(error);
}

void AbandonOutput() {
    Output.Discard();
}

std::uint64_t OutputBytes() {
    return OutputCount;
}

std::vector<std::string> TakeMessages() {
    std::vector<std::string> out;
    out.swap(Messages);
    return out;
}

void EchoMessages(bool echo) {
    Echo = echo;
}

bool OpenPlotJob(const std::string& label, PageData* page, std::string* error) {
    // What the host learnt at configuration time: version, page data.
    Packet version(11);
    version.Set<std::int16_t>(layout::version::kVersion, 14);
    if (SendDriver(version) != 0) {
        *error = "the driver refused the host version";
        return false;
    }
    Packet configure(21);
    SendDriver(configure);
    if (configure.result() != 0) {
        *error = "the driver could not report its page data";
        return false;
    }
    page->extentX = configure.Get<double>(layout::configure::kExtentX);
    page->extentY = configure.Get<double>(layout::configure::kExtentY);
    page->resolution = configure.Get<double>(layout::configure::kResolutionX);

    varnu::hostkit::JobOpening opening;
    opening.extentX = page->extentX;
    opening.extentY = page->extentY;
    opening.resolution = page->resolution;
    if (!label.empty()) {
        // The label is typed into the driver's dialog of request 46, as a
        // user would, so that it passes the dialog's checks.
        opening.afterOpen = [&label]() -> std::string {
            using varnu::UserAction;
            using varnu::UserActionKind;
            varnu::ResetHeadlessDialogs();
            varnu::QueueUserAction(
                {UserActionKind::Type, "DRIVERCFG2_GER", IDC_LABEL, 0, label, 0, 0, nullptr});
            varnu::QueueUserAction(
                {UserActionKind::LoseFocus, "DRIVERCFG2_GER", IDC_LABEL, 0, {}, 0, 0, nullptr});
            varnu::QueueUserAction(
                {UserActionKind::Click, "DRIVERCFG2_GER", IDC_CANCEL, 0, {}, 0, 0, nullptr});
            Packet driverDialog(46);
            SendPlot(driverDialog);
            if (varnu::HeadlessMessageBoxes().empty()) return {};
            return "label refused: " +
                   Utf8FromWindows1252(varnu::HeadlessMessageBoxes().front().text);
        };
    }
    std::string detail;
    switch (varnu::hostkit::OpenPlotJob(&PlotRequest, opening, &detail)) {
        case 0:
            return true;
        case -1:
            *error = detail;
            return false;
        case 29:
            *error = "the driver could not open the plot (is the configuration stored?)";
            return false;
        case 47:
            *error = "the driver refused the plot extents";
            return false;
        case 48:
            *error = "the driver refused the page data";
            return false;
        case 30:
            *error = "the driver could not start the job";
            return false;
        default:
            *error = "the driver refused the job: " + detail;
            return false;
    }
}

void ClosePlotJob() {
    Packet end(2);
    SendPlot(end);
}

}  // namespace adihost
