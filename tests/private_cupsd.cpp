#include "private_cupsd.h"

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>

namespace varnu::testing {

namespace fs = std::filesystem;

std::string MakeCupsServerBin(const fs::path& dir, const std::vector<std::string>& filters) {
    const fs::path bin = dir / "serverbin";
    if (fs::exists(bin)) return bin.string();
    fs::create_directories(bin / "filter");
    for (const auto& entry : fs::directory_iterator("/usr/lib/cups"))
        if (entry.path().filename() != "filter")
            fs::create_symlink(entry.path(), bin / entry.path().filename());
    std::set<fs::path> ours;
    for (const std::string& filter : filters) ours.insert(fs::path(filter).filename());
    for (const auto& entry : fs::directory_iterator("/usr/lib/cups/filter"))
        if (!ours.count(entry.path().filename()))  // an installed one: ours instead
            fs::create_symlink(entry.path(), bin / "filter" / entry.path().filename());
    for (const std::string& filter : filters)
        fs::copy_file(filter, bin / "filter" / fs::path(filter).filename());
    return bin.string();
}

std::string MakeCupsFilesConf(const fs::path& dir) {
    fs::create_directories(dir / "serverroot");
    fs::copy_file(TYPES_PATH, dir / "serverroot/varnu.types", fs::copy_options::skip_existing);
    const fs::path conf = dir / "cups-files.conf";
    std::ofstream(conf) << "ServerBin " << MakeCupsServerBin(dir)
                        << "\nDataDir /usr/share/cups\nServerRoot " << (dir / "serverroot").string()
                        << "\n";
    return conf.string();
}

bool PrivateCupsd::Start(const std::string& serverBin, std::string* error) {
    const passwd* lp = getpwnam("lp");
    const group* lpGroup = getgrnam("lp");
    if (lp == nullptr || lpGroup == nullptr) {
        *error = "no user or group lp";
        return false;
    }
    for (const char* d : {"conf", "spool", "cache", "state", "log", "out"}) {
        fs::create_directories(dir_ / d);
        if (std::string(d) != "conf") chown((dir_ / d).c_str(), lp->pw_uid, lpGroup->gr_gid);
    }
    const std::string root = dir_.string();
    fs::copy_file(TYPES_PATH, dir_ / "conf/varnu.types", fs::copy_options::skip_existing);
    std::ofstream(dir_ / "conf/cupsd.conf")
        << "Listen " << root << "/cups.sock\nBrowsing No\nLogLevel warn\n"
        << "<Location />\n  Order allow,deny\n  Allow @LOCAL\n</Location>\n"
        << "<Location /admin>\n  AuthType Default\n  Require user @SYSTEM\n"
        << "  Order allow,deny\n  Allow @LOCAL\n</Location>\n";
    std::ofstream(dir_ / "conf/cups-files.conf")
        << "FileDevice Yes\nServerRoot " << root << "/conf\nServerBin " << serverBin
        << "\nRequestRoot " << root << "/spool\nCacheDir " << root << "/cache\nStateDir " << root
        << "/state\nTempDir " << root << "/spool\nErrorLog " << root << "/log/error_log\nAccessLog "
        << root << "/log/access_log\nPageLog " << root << "/log/page_log\nUser lp\nGroup lp\n"
        << "SystemGroup root\n";
    pid_ = fork();
    if (pid_ == 0) {
        const std::string conf = root + "/conf/cupsd.conf";
        const std::string files = root + "/conf/cups-files.conf";
        execlp("cupsd", "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), nullptr);
        _exit(127);
    }
    // Up when its socket answers.
    for (int i = 0; i < 200; ++i) {
        if (fs::exists(dir_ / "cups.sock") &&
            std::system(
                ("CUPS_SERVER=" + root + "/cups.sock lpstat -r > /dev/null 2>&1").c_str()) == 0)
            return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            *error = "cupsd stopped at once";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    *error = "cupsd did not open its socket";
    return false;
}

void PrivateCupsd::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) != pid_; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (kill(pid_, 0) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

}  // namespace varnu::testing
