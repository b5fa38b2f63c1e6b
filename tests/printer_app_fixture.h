// The printer application's sandbox for a test: started on a free port
// under the test's folder (scripts/printer-app-sandbox), driven with
// ipptool and libcups, stopped and checked at the end.
#pragma once

#include <arpa/inet.h>
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <png.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "pdf_sheets.h"

namespace varnu::testing {

inline const std::string kTests = PRINTER_APP_TESTS;    // the ipptool files and sample maker
inline const std::string kOutput = PRINTER_APP_OUTPUT;  // what a test leaves to look at

// A port nothing listens on now.
inline int FreePort() {
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
inline void WriteWidePng(const std::string& path) {
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

// The last lines of a log.
inline std::string Tail(const std::string& log) {
    std::size_t at = log.size();
    for (int lines = 0; lines < 40 && at > 0; ++lines) at = log.rfind('\n', at - 1);
    return log.substr(at == std::string::npos ? 0 : at);
}

// The jobs of a device file, each whole: from its PJL opening to its
// universal exit, nothing between them.
inline void ExpectWholeJobs(const std::string& stream) {
    const std::vector<std::string> jobs = SplitJobs(stream);
    std::string joined;
    for (const std::string& job : jobs) {
        EXPECT_EQ(job.rfind("\x1b%-12345X@PJL", 0), 0u);
        EXPECT_GE(job.size(), 11u);
        EXPECT_EQ(job.substr(job.size() - 11), "\x1b%-12345X\r\n") << "a job cut short";
        joined += job;
    }
    EXPECT_TRUE(joined == stream) << "bytes outside whole jobs";
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
        int status = 0;
        if (waitpid(app_, &status, WNOHANG) == app_) {
            ADD_FAILURE() << "the sandbox ended before it was stopped: status " << status << "\n"
                          << Read(Path("app.out")) << Tail(Read(Path("app/log")));
            app_ = -1;
            return;
        }
        kill(app_, SIGTERM);
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
    int Print(const std::string& file, const std::string& media, int dpi, int copies,
              const std::string& scaling = "auto") {
        const ProcessResult r =
            Ipp(file, kTests + "/print.test",
                "-d media=" + media + " -d resolution=" + std::to_string(dpi) +
                    "dpi -d copies=" + std::to_string(copies) + " -d scaling=" + scaling,
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

    // A grey 300 dpi PWG raster page of ipptool's samples, made with
    // Ghostscript; "" where they cannot be made.
    std::string PwgSample() {
        if (Run(kTests + "/make-pwg-samples " + Path("samples") + " 300").status != 0) return "";
        return Path("samples") +
               "/pwg-raster-samples-300dpi/sgray-8/document-letter-sgray-8-300dpi.pwg";
    }

    // The vendor default `name` set to `value` as a keyword (or integer).
    ipp_status_t SetDefault(const char* name, const std::string& value, bool integer = false) {
        ipp_t* request = NewRequest(IPP_OP_SET_PRINTER_ATTRIBUTES);
        if (integer)
            ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_INTEGER, name,
                          std::atoi(value.c_str()));
        else
            ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, name, nullptr, value.c_str());
        return Send(request);
    }

    // Print-Job of `file` as `format`, with `attributes` added; the status
    // and the job's id.
    ipp_status_t PrintJob(const std::string& file, const char* format, int* id,
                          const std::function<void(ipp_t*)>& attributes = {}) {
        ipp_t* request = NewRequest(IPP_OP_PRINT_JOB);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                     format);
        if (attributes) attributes(request);
        ipp_t* response = nullptr;
        const ipp_status_t status = Send(request, file, &response);
        *id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
        ippDelete(response);
        return status;
    }

    // The job's state (3 pending .. 9 completed) and message.
    int JobState(int id, std::string* message = nullptr) {
        ipp_t* request = NewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
        ipp_t* response = nullptr;
        Send(request, "", &response);
        const int state = ippGetInteger(ippFindAttribute(response, "job-state", IPP_TAG_ENUM), 0);
        if (message != nullptr) {
            const char* text = ippGetString(
                ippFindAttribute(response, "job-state-message", IPP_TAG_ZERO), 0, nullptr);
            *message = text != nullptr ? text : "";
        }
        ippDelete(response);
        return state;
    }

    int WaitForEnd(int id, std::string* message = nullptr, int seconds = 120) {
        for (int i = 0; i < seconds * 10; ++i) {
            const int state = JobState(id, message);
            if (state >= IPP_JSTATE_CANCELED) return state;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return 0;
    }

    // A request to the printer with its URI and user; Send takes it.
    ipp_t* NewRequest(ipp_op_t op) const {
        ipp_t* request = ippNewRequest(op);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     Uri().c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                     "tester");
        return request;
    }

    // Sends `request` (with `file` as its document) to `resource`; the
    // response's status, and the response itself where asked for.
    ipp_status_t Send(ipp_t* request, const std::string& file = "", ipp_t** response = nullptr,
                      const std::string& resource = "/ipp/print/varnu4820") const {
        http_t* http = httpConnect2("localhost", port_, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER,
                                    1, 30000, nullptr);
        if (http == nullptr) {
            ippDelete(request);
            return IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
        }
        ipp_t* got = file.empty()
                         ? cupsDoRequest(http, request, resource.c_str())
                         : cupsDoFileRequest(http, request, resource.c_str(), file.c_str());
        const ipp_status_t status = got != nullptr ? ippGetStatusCode(got) : cupsLastError();
        if (response != nullptr)
            *response = got;
        else
            ippDelete(got);
        httpClose(http);
        return status;
    }

    pid_t app_ = -1;
    int port_ = 0;
};

}  // namespace varnu::testing
