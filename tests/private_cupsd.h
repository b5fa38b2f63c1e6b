// What the tests with a real CUPS share: a ServerBin of their own and a
// cupsd of their own on a unix socket.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace varnu::testing {

// DIR/serverbin: the system's CUPS programs and filters, and our filters
// (rastertovarnu, pdftovarnu, imagetovarnu, hpgltovarnu, dxftovarnu) beside
// them, so nothing is
// installed into the system.
std::string MakeCupsServerBin(const std::filesystem::path& dir,
                              const std::vector<std::string>& filters = {
                                  RASTERTOVARNU_PATH, PDFTOVARNU_PATH, IMAGETOVARNU_PATH,
                                  HPGLTOVARNU_PATH, DXFTOVARNU_PATH});

// DIR/cups-files.conf for cupsfilter: our filters (MakeCupsServerBin) and
// the MIME types CUPS lacks (varnu.types, read from the ServerRoot).
std::string MakeCupsFilesConf(const std::filesystem::path& dir);

// A cupsd under `dir` listening on dir/cups.sock, stopped whatever happens.
class PrivateCupsd {
  public:
    explicit PrivateCupsd(const std::filesystem::path& dir) : dir_(dir) {}
    ~PrivateCupsd() { Stop(); }
    PrivateCupsd(const PrivateCupsd&) = delete;
    PrivateCupsd& operator=(const PrivateCupsd&) = delete;

    bool Start(const std::string& serverBin, std::string* error);
    void Stop();
    // "CUPS_SERVER=dir/cups.sock ": the prefix of a command line for it.
    std::string Server() const { return "CUPS_SERVER=" + (dir_ / "cups.sock").string() + " "; }

  private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
};

}  // namespace varnu::testing
