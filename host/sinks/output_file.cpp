#include "sinks/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "sinks/signals.h"

namespace varnu::host {

namespace {

namespace fs = std::filesystem;

// The file a path ends at after its symbolic links.
fs::path FollowLinks(fs::path p) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++hops) {
        const fs::path target = fs::read_symlink(p, ec);
        if (ec) break;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    return p;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool OutputFile::Open(const std::string& path, const std::string& input, std::string* error) {
    Discard();
    path_ = path;
    if (path == "-") {
        stream_ = stdout;
        return true;
    }
    target_ = FollowLinks(path).string();
    if (!input.empty() && SameFile(target_, input)) {
        *error = path + " is the input file; it would be destroyed";
        return false;
    }
    struct stat st;
    const bool exists = stat(target_.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        *error = path + " is a directory";
        return false;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        // A printer device or a pipe: written as it is, never replaced.
        stream_ = std::fopen(target_.c_str(), "wb");
        if (stream_ == nullptr) {
            *error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    std::string name = target_ + ".XXXXXX.part";
    int fd = -1;
    {
        // No signal between creating the temporary and noting it for removal.
        const SignalGuard guard;
        fd = mkstemps(name.data(), 5);
        if (fd >= 0) RemoveOnSignal(name);
    }
    if (fd < 0) {
        *error = "cannot write " + target_ + ".part: " + std::strerror(errno);
        return false;
    }
    temporary_ = name;
    // mkstemps makes it private; the file gets the mode a plain create would.
    mode_t mode = 0;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fd, mode);
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr) {
        close(fd);
        *error = "cannot write " + temporary_ + ": " + std::strerror(errno);
        Discard();
        return false;
    }
    return true;
}

bool OutputFile::Commit(std::string* error) {
    if (stream_ == nullptr) {
        *error = "writing " + path_ + " failed";
        return false;
    }
    bool ok = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
    if (stream_ != stdout) ok = std::fclose(stream_) == 0 && ok;
    stream_ = nullptr;
    if (!ok) {
        *error = "writing " + path_ + " failed";
        Discard();
        return false;
    }
    if (!temporary_.empty()) {
        if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
            *error = "cannot rename to " + target_ + ": " + std::strerror(errno);
            Discard();
            return false;
        }
        KeepOnSignal(temporary_);
        temporary_.clear();
    }
    return true;
}

void OutputFile::Discard() {
    if (stream_ != nullptr && stream_ != stdout) std::fclose(stream_);
    stream_ = nullptr;
    if (!temporary_.empty()) {
        std::remove(temporary_.c_str());
        KeepOnSignal(temporary_);
        temporary_.clear();
    }
}

}  // namespace varnu::host
