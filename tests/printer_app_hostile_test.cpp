// The printer application as a hostile local client meets it: settings and
// names that would rewrite its state file, a device a client names, pages
// and documents that declare far more than they hold, many jobs at once
// with cancels, and no DNS-SD daemon. Each test runs its own sandbox.
// VARNU_STRESS_ROUNDS sets the rounds of parallel jobs (3 unless set).
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <regex>
#include <set>

#include "printer_app_fixture.h"

namespace varnu::testing {
namespace {

// What rewrote the state file before: a value that closes the printer's
// section and opens another on a file of the client's choosing.
std::string Injection(const std::string& dir) {
    return "useprogram\n</Printer>\n<Printer did=\"\" driver=varnu_4820 id=8 name=pwn uri=file://" +
           dir + "/pwned>\n";
}

// Kilobytes of the process's memory: its resident size now, or its peak.
long MemoryKb(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// A job nested across the roll, without a size: only its media source.
void NestedOnTheRoll(ipp_t* request) {
    ipp_t* col = ippNew();
    ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr, "main-roll");
    ippAddCollection(request, IPP_TAG_JOB, "media-col", col);
    ippDelete(col);
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "varnu-nesting", nullptr, "across-roll");
}

class HostileClientTest : public PrinterAppTest {
  protected:
    // One of many clients at once: prints `file`, lists the jobs, adds the
    // job's id to `ids`, and cancels it after `cancelAfterMs` (none: -1).
    void PrintThenCancel(const std::string& file, const char* format,
                         const std::function<void(ipp_t*)>& attributes, int cancelAfterMs,
                         std::mutex* mutex, std::vector<int>* ids) {
        int id = 0;
        PrintJob(file, format, &id, attributes);
        Send(NewRequest(IPP_OP_GET_JOBS));
        if (id == 0) return;
        {
            const std::lock_guard<std::mutex> lock(*mutex);
            ids->push_back(id);
        }
        if (cancelAfterMs < 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(cancelAfterMs));
        ipp_t* request = NewRequest(IPP_OP_CANCEL_JOB);
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
        Send(request);
    }
};

TEST_F(HostileClientTest, SettingsThatWouldRewriteTheStateAreRefusedOrMadeSafe) {
    StartApp();
    const std::string injection = Injection(dir_.string());
    // Vendor defaults: only what the printer offers.
    EXPECT_EQ(SetDefault("varnu-finishing-margin-default", injection),
              IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES);
    EXPECT_EQ(SetDefault("varnu-output-bin-default", "bin_99"),
              IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES);
    EXPECT_EQ(SetDefault("varnu-sheet-margin-default", "11", true),
              IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES);
    EXPECT_EQ(SetDefault("varnu-sheet-margin-default", "5", true), IPP_STATUS_OK);
    // Texts PAPPL keeps line by line: kept, without their line breaks.
    ipp_t* location = NewRequest(IPP_OP_SET_PRINTER_ATTRIBUTES);
    ippAddString(location, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-location", nullptr,
                 ("Plot room" + injection).c_str());
    EXPECT_EQ(Send(location), IPP_STATUS_OK);
    // A job's name and user, and a vendor value the printer lacks.
    WriteWidePng(Path("wide.png"));
    int id = 0;
    EXPECT_EQ(PrintJob(Path("wide.png"), "image/png", &id,
                       [&](ipp_t* r) {
                           ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr,
                                        ("plan" + injection).c_str());
                           ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "varnu-output-bin",
                                        nullptr, "bin_99");
                       }),
              IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES);
    EXPECT_EQ(PrintJob(Path("wide.png"), "image/png", &id,
                       [&](ipp_t* r) {
                           ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr,
                                        ("plan" + injection).c_str());
                           ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr,
                                        "na_letter_8.5x11in");
                       }),
              IPP_STATUS_OK);
    EXPECT_EQ(WaitForEnd(id), IPP_JSTATE_COMPLETED);
    // A printer on a file a client names.
    ipp_t* create = ippNewRequest(IPP_OP_CREATE_PRINTER);
    const std::string system = "ipp://localhost:" + std::to_string(port_) + "/ipp/system";
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr, system.c_str());
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "t");
    ippAddString(create, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, "pwn2");
    ippAddString(create, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "smi55357-driver", nullptr,
                 "varnu_4820");
    ippAddString(create, IPP_TAG_PRINTER, IPP_TAG_URI, "smi55357-device-uri", nullptr,
                 ("file://" + Path("pwned2")).c_str());
    EXPECT_NE(Send(create, "", nullptr, "/ipp/system"), IPP_STATUS_OK);
    // After a restart: one printer, its margin kept, nothing written
    // elsewhere.
    StopApp();
    const std::string state = Read(Path("app/state"));
    std::size_t printers = 0;
    for (std::size_t at = 0; (at = state.find("\n<Printer ", at)) != std::string::npos; ++at)
        ++printers;
    EXPECT_EQ(printers, 1u) << state;
    EXPECT_EQ(state.find("\n</Printer>\n<Printer did"), std::string::npos) << state;
    StartApp();
    ipp_t* probe = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippDeleteAttribute(probe, ippFindAttribute(probe, "printer-uri", IPP_TAG_URI));
    const std::string pwn = "ipp://localhost:" + std::to_string(port_) + "/ipp/print/pwn";
    ippAddString(probe, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, pwn.c_str());
    EXPECT_EQ(Send(probe, "", nullptr, "/ipp/print/pwn"), IPP_STATUS_ERROR_NOT_FOUND);
    TakeOutput();
    EXPECT_EQ(PrintJob(Path("wide.png"), "image/png", &id), IPP_STATUS_OK);
    EXPECT_EQ(WaitForEnd(id), IPP_JSTATE_COMPLETED);
    EXPECT_NE(TakeOutput().find("IP199,199,"), std::string::npos);  // 5 mm in
    EXPECT_FALSE(fs::exists(Path("pwned")));
    EXPECT_FALSE(fs::exists(Path("pwned2")));
}

TEST_F(HostileClientTest, WithoutDnsSdTheAddPrinterPageAndTheDeviceListWork) {
    if (Run("pgrep -x avahi-daemon > /dev/null").status == 0)
        GTEST_SKIP() << "an avahi-daemon runs here";
    StartApp();
    EXPECT_EQ(Run("curl -sf -o " + Path("add.html") + " http://localhost:" + std::to_string(port_) +
                  "/addprinter")
                  .status,
              0);
    EXPECT_NE(Read(Path("add.html")).find("device_uri"), std::string::npos);
    const ProcessResult devices =
        Run(std::string(PRINTER_APP_PATH) + " devices > " + Path("devices.txt"));
    EXPECT_EQ(devices.status, 0) << devices.err;
    const std::string said = Read(Path("devices.txt")) + devices.err;
    EXPECT_NE(said.find("no DNS-SD daemon"), std::string::npos) << said;
    // Still serving.
    EXPECT_EQ(Send(NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES)), IPP_STATUS_OK);
}

// What a desktop's driverless queue can send: output-bin and a finishing
// template, page overrides, and more copies than one driver job makes.
TEST_F(HostileClientTest, StandardAttributesReachTheDriver) {
    StartApp();
    WriteWidePng(Path("wide.png"));
    int id = 0;
    ASSERT_EQ(PrintJob(Path("wide.png"), "image/png", &id,
                       [](ipp_t* r) {
                           ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "output-bin", nullptr,
                                        "tray-3");
                           ipp_t* col = ippNew();
                           ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "finishing-template",
                                        nullptr, "program2");
                           ippAddCollection(r, IPP_TAG_JOB, "finishings-col", col);
                           ippDelete(col);
                           ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", 150);
                       }),
              IPP_STATUS_OK);
    EXPECT_EQ(WaitForEnd(id), IPP_JSTATE_COMPLETED);
    const std::vector<std::string> copies = SplitJobs(TakeOutput());
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_NE(copies[0].find("BP2,99;"), std::string::npos);
    EXPECT_NE(copies[1].find("BP2,51;"), std::string::npos);
    for (const char* line :
         {"@PJL DEFAULT FINISHPROGID=PROGRAM2\r\n", "@PJL DEFAULT FINISHBIN=BIN_3\r\n"})
        EXPECT_NE(copies[1].find(line), std::string::npos) << line;
    // Page 2 of two on its own sheet at its own resolution.
    WriteDrawingPdf(Path("two.pdf"), 200, 150, 2);
    ASSERT_EQ(PrintJob(Path("two.pdf"), "application/pdf", &id,
                       [](ipp_t* r) {
                           ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr,
                                        "iso_a4_210x297mm");
                           ipp_t* col = ippNew();
                           ippAddRange(col, IPP_TAG_ZERO, "pages", 2, 2);
                           ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media", nullptr,
                                        "iso_a3_297x420mm");
                           ippAddResolution(col, IPP_TAG_ZERO, "printer-resolution",
                                            IPP_RES_PER_INCH, 200, 200);
                           ippAddCollection(r, IPP_TAG_JOB, "overrides", col);
                           ippDelete(col);
                       }),
              IPP_STATUS_OK);
    EXPECT_EQ(WaitForEnd(id), IPP_JSTATE_COMPLETED);
    const std::vector<std::string> pages = SplitJobs(TakeOutput());
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].find("\x1b*t200R"), std::string::npos);
    EXPECT_NE(pages[1].find("\x1b*t200R"), std::string::npos);
    EXPECT_NE(pages[0].find("PS"), std::string::npos);
    EXPECT_NE(pages[0].substr(pages[0].find("PS"), 14), pages[1].substr(pages[1].find("PS"), 14));
    // An override the printer cannot honour is refused at once.
    EXPECT_EQ(PrintJob(Path("two.pdf"), "application/pdf", &id,
                       [](ipp_t* r) {
                           ipp_t* col = ippNew();
                           ippAddRange(col, IPP_TAG_ZERO, "pages", 1, 1);
                           ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "sides", nullptr,
                                        "two-sided-long-edge");
                           ippAddCollection(r, IPP_TAG_JOB, "overrides", col);
                           ippDelete(col);
                       }),
              IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES);
}

// A JPEG of 16 x 16 grey pixels whose header then says 16384 x 16384.
void WriteJpegBomb(const std::string& path) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &bytes, &size);
    info.image_width = info.image_height = 16;
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(16, 128);
    for (int y = 0; y < 16; ++y) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    std::string jpeg(reinterpret_cast<char*>(bytes), size);
    jpeg_destroy_compress(&info);
    std::free(bytes);
    const std::size_t sof = jpeg.find("\xff\xc0");
    ASSERT_NE(sof, std::string::npos);
    jpeg[sof + 5] = jpeg[sof + 7] = 0x40;  // height and width 0x4000
    jpeg[sof + 6] = jpeg[sof + 8] = 0;
    std::ofstream(path, std::ios::binary) << jpeg;
}

// A one-page PDF whose content is `content`, deflated.
void WriteContentPdf(const std::string& path, const std::string& content) {
    uLongf size = compressBound(content.size());
    std::string packed(size, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
              reinterpret_cast<const Bytef*>(content.data()), content.size(), 9);
    packed.resize(size);
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    auto object = [&](const std::string& body) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
    object("<< /Length " + std::to_string(packed.size()) + " /Filter /FlateDecode >>\nstream\n" +
           packed + "\nendstream");
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 5\n0000000000 65535 f \n";
    for (std::size_t at : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", at);
        pdf += line;
    }
    pdf += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    std::ofstream(path, std::ios::binary) << pdf;
}

// A PWG raster page whose header declares 100000 x 1000000 grey pixels.
void WriteRasterBomb(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
    cups_page_header2_t header;
    cupsRasterInitPWGHeader(&header, pwgMediaForPWG("na_letter_8.5x11in"), "sgray_8", 300, 300,
                            "one-sided", nullptr);
    header.cupsWidth = 100000;
    header.cupsHeight = 1000000;
    header.cupsBytesPerLine = 100000;
    cupsRasterWriteHeader2(raster, &header);
    std::vector<unsigned char> row(100000, 255);
    for (int y = 0; y < 1000; ++y) cupsRasterWritePixels(raster, row.data(), row.size());
    cupsRasterClose(raster);
    ::close(fd);
}

// Each declares far more than it holds: refused with a reason, the
// application's peak memory under 500 MB, its size back near idle after.
TEST_F(HostileClientTest, DocumentsThatDeclareFarMoreThanTheyHoldAreRefusedQuickly) {
    StartApp();
    [[maybe_unused]] const long idle = MemoryKb(app_, "VmRSS:");
    WriteJpegBomb(Path("bomb.jpg"));
    std::string operators;
    for (int i = 0; i < 11000000; ++i) operators += "n\n";
    WriteContentPdf(Path("operators.pdf"), operators);
    operators = {};
    WriteContentPdf(Path("spaces.pdf"), std::string(400u << 20, ' '));
    WriteRasterBomb(Path("bomb.pwg"));
    const struct {
        const char* file;
        const char* format;
        const char* why;
    } bombs[] = {{"bomb.jpg", "image/jpeg", "more than its"},
                 {"operators.pdf", "application/pdf", "operators"},
                 {"spaces.pdf", "application/pdf", "decoded"},
                 {"bomb.pwg", "image/pwg-raster", "far larger than the sheet"}};
    for (const auto& bomb : bombs) {
        SCOPED_TRACE(bomb.file);
        int id = 0;
        ASSERT_EQ(PrintJob(Path(bomb.file), bomb.format, &id), IPP_STATUS_OK);
        std::string message;
        EXPECT_EQ(WaitForEnd(id, &message), IPP_JSTATE_ABORTED);
        EXPECT_NE(message.find(bomb.why), std::string::npos) << message;
    }
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // they keep what is freed
    EXPECT_LT(MemoryKb(app_, "VmHWM:"), 500 * 1024);
    EXPECT_LT(MemoryKb(app_, "VmRSS:"), idle + 100 * 1024);
#endif
    EXPECT_EQ(TakeOutput(), "");
    WaitUntilIdle();
    ExpectNothingLeft();
}

// A nested job whose page cannot print fails at once, not after the
// nest's wait for further jobs.
TEST_F(HostileClientTest, ANestedDocumentThatCannotPrintIsNotHeldForANest) {
    StartApp();
    ASSERT_EQ(SetDefault("varnu-nesting-wait-default", "120", true), IPP_STATUS_OK);
    WriteContentPdf(Path("spaces.pdf"), std::string(150u << 20, ' '));
    int id = 0;
    ASSERT_EQ(PrintJob(Path("spaces.pdf"), "application/pdf", &id, NestedOnTheRoll), IPP_STATUS_OK);
    std::string message;
    EXPECT_EQ(WaitForEnd(id, &message, 30), IPP_JSTATE_ABORTED);
    EXPECT_NE(message.find("decoded"), std::string::npos) << message;
    EXPECT_EQ(TakeOutput(), "");
}

TEST_F(HostileClientTest, ParallelJobsWithCancelsEndWholeAndNoneStaysPending) {
    const char* given = std::getenv("VARNU_STRESS_ROUNDS");
    const int rounds = given != nullptr ? std::atoi(given) : 3;
    StartApp();
    const std::string pwg = PwgSample();
    ASSERT_NE(pwg, "");
    WriteDrawingPdf(Path("small.pdf"), 150, 200, 2);
    WriteDrawingPdf(Path("slow.pdf"), 594, 841, 1);  // A1: the driver takes a second
    WriteWidePng(Path("wide.png"));
    const struct {
        std::string file;
        const char* format;
    } documents[] = {{Path("small.pdf"), "application/pdf"},
                     {pwg, "image/pwg-raster"},
                     {Path("slow.pdf"), "application/pdf"},
                     {Path("wide.png"), "image/png"}};
    std::mt19937 random(7);
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<std::thread> clients;
        std::mutex mutex;
        std::vector<int> ids;
        for (int c = 0; c < 10; ++c) {
            const auto& d = documents[(round + c) % 4];
            const bool cancel = random() % 3 == 0;
            const int pause = static_cast<int>(random() % 800);
            clients.emplace_back([&, d, cancel, pause] {
                const auto a1 = [](ipp_t* r) {
                    ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr,
                                 "iso_a1_594x841mm");
                    ippAddResolution(r, IPP_TAG_JOB, "printer-resolution", IPP_RES_PER_INCH, 300,
                                     300);
                };
                PrintThenCancel(d.file, d.format, a1, cancel ? pause : -1, &mutex, &ids);
            });
        }
        for (std::thread& t : clients) t.join();
        for (int id : ids) EXPECT_GE(WaitForEnd(id, nullptr, 300), IPP_JSTATE_CANCELED) << id;
        ASSERT_EQ(waitpid(app_, nullptr, WNOHANG), 0)
            << Tail(Read(Path("app.out"))) << Tail(Read(Path("app/log")));
    }
    WaitUntilIdle();
    ExpectWholeJobs(Read(Path("app/out.prn")));
    ExpectNothingLeft();
}

// Nested jobs on the roll that arrive while a nest waits, with cancels, a
// broken document and raster jobs among them: every job ends, those that
// went out in a nest with a job that printed, and the device gets whole
// jobs only.
TEST_F(HostileClientTest, ParallelNestedJobsWithCancelsEndWholeAndNoneStaysPending) {
    StartApp();
    ASSERT_EQ(SetDefault("varnu-nesting-wait-default", "1", true), IPP_STATUS_OK);
    const std::string pwg = PwgSample();
    ASSERT_NE(pwg, "");
    WriteDrawingPdf(Path("small.pdf"), 150, 200, 2);
    WriteDrawingPdf(Path("a3.pdf"), 297, 420, 1);
    Write("broken.pdf", "%PDF-1.4\nnot a PDF at all");
    const struct {
        std::string file;
        const char* format;
    } documents[] = {{Path("small.pdf"), "application/pdf"},  {Path("a3.pdf"), "application/pdf"},
                     {Path("small.pdf"), "application/pdf"},  {Path("a3.pdf"), "application/pdf"},
                     {Path("broken.pdf"), "application/pdf"}, {pwg, "image/pwg-raster"}};
    std::mt19937 random(11);
    std::vector<int> ids;
    for (int round = 0; round < 3; ++round) {
        std::vector<std::thread> clients;
        std::mutex mutex;
        for (int c = 0; c < 12; ++c) {
            const auto& d = documents[random() % 6];
            const bool cancel = random() % 4 == 0, at300 = random() % 8 == 0;
            const int pause = static_cast<int>(random() % 1500);
            clients.emplace_back([&, d, cancel, at300, pause] {
                std::this_thread::sleep_for(std::chrono::milliseconds(pause / 3));
                const auto onTheRoll = [at300](ipp_t* r) {
                    NestedOnTheRoll(r);
                    const int dpi = at300 ? 300 : 200;
                    ippAddResolution(r, IPP_TAG_JOB, "printer-resolution", IPP_RES_PER_INCH, dpi,
                                     dpi);
                };
                PrintThenCancel(d.file, d.format, onTheRoll, cancel ? pause : -1, &mutex, &ids);
            });
        }
        for (std::thread& t : clients) t.join();
    }
    int nested = 0, printed = 0;
    for (const int id : ids) {
        std::string message;
        const int state = WaitForEnd(id, &message, 300);
        EXPECT_GE(state, IPP_JSTATE_CANCELED) << id;
        std::smatch with;
        if (state != IPP_JSTATE_COMPLETED) continue;
        ++printed;
        if (!std::regex_search(message, with, std::regex("Printed on the roll with job (\\d+)")))
            continue;
        ++nested;
        EXPECT_EQ(JobState(std::stoi(with[1])), IPP_JSTATE_COMPLETED) << message;
    }
    std::printf("%zu jobs: %d printed, %d of them in another's nest\n", ids.size(), printed,
                nested);
    EXPECT_GT(nested, 0);
    ASSERT_EQ(waitpid(app_, nullptr, WNOHANG), 0)
        << Tail(Read(Path("app.out"))) << Tail(Read(Path("app/log")));
    WaitUntilIdle();
    const std::string out = Read(Path("app/out.prn"));
    ExpectWholeJobs(out);
    EXPECT_GE(static_cast<int>(SplitJobs(out).size()), printed - nested);
    ExpectNothingLeft();
}

}  // namespace
}  // namespace varnu::testing
