// The printer application against the world: ipptool's IPP Everywhere and
// IPP/2.0 suites, the same image through the application, adihost and the
// PPD's filter chain (the same bytes), a real CUPS printing to it as an
// IPP Everywhere queue, cancelled and failed jobs, and an unreachable
// device. Each test runs its own sandbox (scripts/printer-app-sandbox).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <png.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "pdf_sheets.h"
#include "private_cupsd.h"

namespace varnu::testing {
namespace {

const std::string kTests = PRINTER_APP_TESTS;  // the ipptool files and sample maker

// A port nothing listens on now.
int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t size = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    close(s);
    return ntohs(a.sin_port);
}

// A grey drawing of 2200 x 1700 pixels (11 x 8.5 inches at 200 dpi) as RGB:
// a frame, a diagonal, a chequered block and a grey ramp.
void WriteWidePng(const std::string& path) {
    const int w = 2200, h = 1700;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int v = 255;
            if (x < 20 || y < 20 || x >= w - 20 || y >= h - 20 || std::abs(x * h / w - y) < 6)
                v = 0;
            else if (y > 300 && y < 700 && x > 300 && x < 900)
                v = (x / 40 + y / 40) % 2 == 0 ? 0 : 255;
            else if (y > 1200 && y < 1500 && x > 200 && x < 1500)
                v = (x - 200) * 255 / 1300;
            std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
            p[0] = p[1] = p[2] = static_cast<std::uint8_t>(v);
        }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = w;
    image.height = h;
    image.format = PNG_FORMAT_RGB;
    ASSERT_NE(png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr), 0);
}

class PrinterAppTest : public SheetTest {
  public:
    void TearDown() override {
        StopApp();
        SheetTest::TearDown();
    }

    // The sandbox in dir/app on a free port, up when it answers.
    void StartApp() {
        fs::create_directories(Path("tmp"));
        port_ = FreePort();
        app_ = fork();
        if (app_ == 0) {
            setenv("VARNU_PRINTER_APP", PRINTER_APP_PATH, 1);
            setenv("TMPDIR", Path("tmp").c_str(), 1);  // checked empty at the end
            const std::string out = Path("app.out");
            freopen(out.c_str(), "w", stdout);
            freopen(out.c_str(), "a", stderr);
            execl(SANDBOX_SCRIPT, SANDBOX_SCRIPT, Path("app").c_str(),
                  std::to_string(port_).c_str(), nullptr);
            _exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            if (Ipp("", "/usr/share/cups/ipptool/get-printer-attributes.test").status == 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        FAIL() << "the sandbox did not answer\n" << Read(Path("app.out"));
    }

    void StopApp() {
        if (app_ <= 0) return;
        kill(app_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && waitpid(app_, &status, WNOHANG) != app_; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (kill(app_, 0) == 0) {
            ADD_FAILURE() << "the sandbox did not stop on SIGTERM";
            kill(app_, SIGKILL);
            waitpid(app_, nullptr, 0);
        }
        app_ = -1;
    }

    std::string Uri() const {
        return "ipp://localhost:" + std::to_string(port_) + "/ipp/print/varnu4820";
    }

    // ipptool with `file` (or none), the test file and -d definitions.
    ProcessResult Ipp(const std::string& file, const std::string& test,
                      const std::string& defines = "", const std::string& out = "ipp.txt") {
        return Run("ipptool -T 30 -t " + (file.empty() ? "" : "-f " + file + " ") + defines + " " +
                   Uri() + " " + test + " > " + Path(out));
    }

    // Prints `file` with the settings; the job's id.
    int Print(const std::string& file, const std::string& media, int dpi, int copies) {
        const ProcessResult r = Ipp(file, kTests + "/print.test",
                                    "-d media=" + media + " -d resolution=" + std::to_string(dpi) +
                                        "dpi -d copies=" + std::to_string(copies),
                                    "print.txt");
        const std::string said = Read(Path("print.txt"));
        EXPECT_EQ(r.status, 0) << said << r.err;
        std::smatch m;
        return std::regex_search(said, m, std::regex("job-id \\(integer\\) = (\\d+)"))
                   ? std::stoi(m[1])
                   : 0;
    }

    // Waits for `job` to end in `state` (9 completed, 8 aborted, 7 canceled);
    // its job-state-message.
    std::string Ended(int job, int state) {
        const ProcessResult r =
            Ipp("", kTests + "/job.test",
                "-d job=" + std::to_string(job) + " -d state=" + std::to_string(state), "job.txt");
        const std::string said = Read(Path("job.txt"));
        EXPECT_EQ(r.status, 0) << said << Read(Path("app/log"));
        return said;
    }

    // What the printer received, taken away so the next job starts anew.
    std::string TakeOutput() {
        const std::string stream = Read(Path("app/out.prn"));
        fs::remove(Path("app/out.prn"));
        return stream;
    }

    // Waits until no job is queued or printing: those left wait for
    // documents that never come (ipp-2.0.test leaves one); they are
    // cancelled.
    void WaitUntilIdle() {
        for (int i = 0; i < 1200; ++i) {
            Ipp("", kTests + "/jobs.test", "", "jobs.txt");
            const std::string jobs = Read(Path("jobs.txt"));
            if (jobs.find("job-printing") == std::string::npos &&
                jobs.find("job-queued") == std::string::npos)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        EXPECT_EQ(Ipp("", kTests + "/cancel-jobs.test").status, 0) << Read(Path("ipp.txt"));
        EXPECT_EQ(Ipp("", kTests + "/wait-idle.test").status, 0) << Read(Path("ipp.txt"));
    }

    // Nothing of any job stays in the spool but the records of the jobs
    // PAPPL keeps for Get-Jobs (*.ipp, their attributes); nothing in TMPDIR.
    void ExpectNothingLeft() {
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(Path("app/spool")))
            if (entry.path().extension() != ".ipp")
                left.push_back(entry.path().filename().string());
        for (const auto& entry : fs::directory_iterator(Path("tmp")))
            left.push_back(entry.path().string());
        EXPECT_TRUE(left.empty()) << left.size() << " files, first " << left.front();
    }

    std::string Adihost(const std::string& arguments) {
        const ProcessResult r = SheetTest::Adihost(arguments);
        EXPECT_EQ(r.status, 0) << arguments << ": " << r.err;
        return r.err;
    }

    pid_t app_ = -1;
    int port_ = 0;
};

TEST_F(PrinterAppTest, PassesIppEverywhereAndIpp20) {
    StartApp();
    const std::string samples = Path("samples");
    ASSERT_EQ(Run(kTests + "/make-pwg-samples " + samples + " 300 600").status, 0);
    ASSERT_EQ(Run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE=a4 "
                  "-sOutputFile=" +
                  samples + "/doc.pdf " + samples + "/drawing.ps")
                  .status,
              0);
    // ipptool finds the files beside the test file; -I goes on past a failure.
    Run("cd " + samples + " && ipptool -V 2.0 -I -tf doc.pdf " + Uri() +
        " ./ipp-everywhere.test > " + Path("everywhere.txt"));
    const std::string said = Read(Path("everywhere.txt"));
    std::smatch summary;
    ASSERT_TRUE(std::regex_search(said, summary,
                                  std::regex("(\\d+) passed, (\\d+) failed, (\\d+) skipped")))
        << said;
    // Its own tests: every print of a grey raster (six files at 300 and
    // 600 dpi, plain, deflate and gzip) and the one failure below; the
    // IPP/1.1 and 2.0 tests it includes all pass.
    EXPECT_EQ(summary[1], "36") << said;
    EXPECT_EQ(summary[2], "1") << said;
    // The one failure: what this printer does not have.
    const std::size_t fail = said.find("[FAIL]");
    ASSERT_NE(fail, std::string::npos);
    EXPECT_EQ(said.find("[FAIL]", fail + 1), std::string::npos) << said;
    EXPECT_NE(said.rfind("Required Operations and Attributes", fail), std::string::npos);
    const std::set<std::string> absent = {"identify-actions-default", "identify-actions-supported",
                                          "overrides-supported", "printer-supply",
                                          "printer-supply-description"};
    const std::regex expected("EXPECTED: ([a-z-]+)");
    const std::string block = said.substr(fail, said.find("[", fail + 7) - fail);
    for (std::sregex_iterator it(block.begin(), block.end(), expected), end; it != end; ++it)
        EXPECT_TRUE(absent.count((*it)[1])) << "unexpected failure: " << (*it)[0];
    EXPECT_EQ(Run("cd " + samples + " && ipptool -V 2.0 -tf doc.pdf " + Uri() +
                  " ./ipp-2.0.test > " + Path("ipp20.txt"))
                  .status,
              0)
        << Read(Path("ipp20.txt"));
    WaitUntilIdle();
    const std::string log = Read(Path("app/log"));
    EXPECT_EQ(log.find("Aborted, job"), std::string::npos) << log;
    ExpectNothingLeft();
}

TEST_F(PrinterAppTest, AnImageMakesTheSameStreamAsAdihostAndThePpd) {
    WriteWidePng(Path("wide.png"));
    ASSERT_EQ(Run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -r200 -dDEVICEWIDTHPOINTS=792 "
                  "-dDEVICEHEIGHTPOINTS=612 -dFIXEDMEDIA -sOutputFile=" +
                  Path("wide.jpg") + " " + kTests + "/drawing.ps")
                  .status,
              0);
    Write("cups-files.conf", "ServerBin " + MakeCupsServerBin(dir_, RASTERTOVARNU_PATH) +
                                 "\nDataDir /usr/share/cups\n");
    StartApp();
    for (int copies : {1, 2}) {
        SCOPED_TRACE("copies " + std::to_string(copies));
        Adihost("configure --defaults --paper 10 --resolution 200 --copies " +
                std::to_string(copies));
        Adihost("plot " + Path("wide.png") + " -o " + Path("adihost.prn"));
        for (const std::string image : {"wide.png", "wide.jpg"}) {
            SCOPED_TRACE(image);
            ASSERT_EQ(Run("cupsfilter -c " + Path("cups-files.conf") + " -p " + PPD_PATH +
                          " -m printer/varnu -e -n " + std::to_string(copies) +
                          " -o PageSize=Letter -o Resolution=200dpi " + Path(image) + " > " +
                          Path("ppd.prn"))
                          .status,
                      0);
            Ended(Print(Path(image), "na_letter_8.5x11in", 200, copies), 9);
            const std::string app = TakeOutput(), ppd = Read(Path("ppd.prn"));
            ASSERT_GT(app.size(), 10000u);
            EXPECT_TRUE(app == ppd) << "the application's stream differs from the PPD's";
            if (image == "wide.png") {
                EXPECT_TRUE(app == Read(Path("adihost.prn")))
                    << "the application's stream differs from adihost's";
            }
            EXPECT_NE(app.find("BP2," + std::to_string(copies) + ";IN;"), std::string::npos);
        }
    }
    ExpectNothingLeft();
}

}  // namespace
}  // namespace varnu::testing
