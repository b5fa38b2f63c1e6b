#include "sinks/temporary.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "sinks/signals.h"

namespace varnu::host {

int OpenUnnamedFile(const std::string& directory, std::string* error) {
    int fd = open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR)) {
        // A file system without unnamed files: named only until unlinked,
        // and the signal cleanup knows the name meanwhile.
        std::string name = directory + "/.varnu-XXXXXX";
        const SignalGuard guard;
        fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) {
            RemoveOnSignal(name);
            unlink(name.c_str());
            KeepOnSignal(name);
        }
    }
    if (fd < 0) *error = "cannot make a scratch file in " + directory + ": " + std::strerror(errno);
    return fd;
}

}  // namespace varnu::host
