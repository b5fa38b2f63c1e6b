// The printer application against the world: ipptool's IPP Everywhere and
// IPP/2.0 suites, the same image and the same PDF through the application,
// adihost and the PPD's filter chain (the same bytes), a real CUPS printing to it as an
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

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "pdf_sheets.h"
#include "printer_app_fixture.h"
#include "private_cupsd.h"
#include "webdriver.h"

namespace varnu::testing {
namespace {

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
    // Its own tests, every print of a grey raster (six files at 300 and
    // 600 dpi, plain, deflate and gzip) among them, and the IPP/1.1 and 2.0
    // tests it includes: all pass.
    EXPECT_EQ(summary[1], "37") << said;
    EXPECT_EQ(summary[2], "0") << said;
    EXPECT_EQ(Run("cd " + samples + " && ipptool -V 2.0 -tf doc.pdf " + Uri() +
                  " ./ipp-2.0.test > " + Path("ipp20.txt"))
                  .status,
              0)
        << Read(Path("ipp20.txt"));
    WaitUntilIdle();
    // Every raster print was printed. (A job ipp-1.1.test cancels while
    // PAPPL 1.3.1 is starting it can end as aborted: PAPPL's race.)
    const std::string log = Read(Path("app/log"));
    int completed = 0;
    for (std::size_t at = 0; (at = log.find("] Completed, job", at)) != std::string::npos; ++at)
        ++completed;
    EXPECT_GE(completed, 36) << log;
    ExpectNothingLeft();
}

TEST_F(PrinterAppTest, AnImageMakesTheSameStreamAsAdihostAndThePpd) {
    WriteWidePng(Path("wide.png"));
    ASSERT_EQ(Run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -r200 -dDEVICEWIDTHPOINTS=792 "
                  "-dDEVICEHEIGHTPOINTS=612 -dFIXEDMEDIA -sOutputFile=" +
                  Path("wide.jpg") + " " + kTests + "/drawing.ps")
                  .status,
              0);
    ASSERT_EQ(Run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=tiffg4 -r200 -dDEVICEWIDTHPOINTS=792 "
                  "-dDEVICEHEIGHTPOINTS=612 -dFIXEDMEDIA -sOutputFile=" +
                  Path("wide.tif") + " " + kTests + "/drawing.ps")
                  .status,
              0);
    Write("cups-files.conf",
          "ServerBin " + MakeCupsServerBin(dir_) + "\nDataDir /usr/share/cups\n");
    StartApp();
    for (int copies : {1, 2}) {
        SCOPED_TRACE("copies " + std::to_string(copies));
        Adihost("configure --defaults --paper 10 --resolution 200 --copies " +
                std::to_string(copies));
        for (const std::string image : {"wide.png", "wide.jpg", "wide.tif"}) {
            SCOPED_TRACE(image);
            Adihost("plot " + Path(image) + " -o " + Path("adihost.prn"));
            // The resolution as a PPD choice, and as the scheduler passes
            // IPP's printer-resolution.
            const std::string resolution =
                image == "wide.png" ? "Resolution=200dpi" : "printer-resolution=200x200dpi";
            ASSERT_EQ(Run("cupsfilter -c " + Path("cups-files.conf") + " -p " + PPD_PATH +
                          " -m printer/varnu -e -n " + std::to_string(copies) +
                          " -o PageSize=Letter -o " + resolution + " " + Path(image) + " > " +
                          Path("ppd.prn"))
                          .status,
                      0);
            Ended(Print(Path(image), "na_letter_8.5x11in", 200, copies), 9);
            const std::string app = TakeOutput(), ppd = Read(Path("ppd.prn"));
            ASSERT_GT(app.size(), 10000u);
            EXPECT_TRUE(app == ppd) << "the application's stream differs from the PPD's";
            EXPECT_TRUE(app == Read(Path("adihost.prn")))
                << "the application's stream differs from adihost's";
            EXPECT_NE(app.find("BP2," + std::to_string(copies) + ";IN;"), std::string::npos);
        }
    }
    ExpectNothingLeft();
}

// An HP-GL/2 plot file and a DXF drawing through adihost, the PPD's
// hpgltovarnu and dxftovarnu (CUPS telling each type by its contents) and
// the application: the same bytes.
std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST_F(PrinterAppTest, PlotFilesAndDrawingsMakeTheSameStreamAsAdihostAndThePpd) {
    Write("plan.plt",
          "IN;SP1;PU0,0;PD8000,0,8000,6000,0,6000,0,0;PU4000,3000;CI2000;"
          "SP2;PA1000,1000;LBPlan 1\x03;PU;SP0;");
    Write("plan.dxf",
          "  0\nSECTION\n  2\nENTITIES\n  0\nLINE\n  8\n0\n 10\n0\n 20\n0\n 11\n200\n 21\n"
          "100\n  0\nCIRCLE\n  8\n0\n 10\n100\n 20\n50\n 40\n40\n  0\nTEXT\n  8\n0\n 10\n"
          "10\n 20\n80\n 40\n8\n  1\nPlan 1\n  0\nENDSEC\n  0\nEOF\n");
    const std::string cupsFiles = MakeCupsFilesConf(dir_);
    StartApp();
    Adihost("configure --defaults --paper 10 --resolution 200");
    for (const auto& [file, type] :
         {std::pair<std::string, std::string>{"plan.plt", "application/vnd.hp-HPGL"},
          {"plan.dxf", "image/vnd.dxf"}}) {
        SCOPED_TRACE(file);
        Adihost("plot " + Path(file) + " -o " + Path("adihost.prn"));
        const ProcessResult filter =
            Run("cupsfilter -c " + cupsFiles + " -p " + PPD_PATH +
                " -m printer/varnu -e -o PageSize=Letter -o Resolution=200dpi " + Path(file) +
                " > " + Path("ppd.prn"));
        ASSERT_EQ(filter.status, 0) << filter.err;
        EXPECT_NE(filter.err.find("CONTENT_TYPE=" + Lower(type)), std::string::npos) << filter.err;
        const ProcessResult r = Ipp(Path(file), kTests + "/print.test",
                                    "-d media=na_letter_8.5x11in -d resolution=200dpi -d copies=1 "
                                    "-d filetype=" +
                                        type,
                                    "print.txt");
        const std::string said = Read(Path("print.txt"));
        ASSERT_EQ(r.status, 0) << said << r.err;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(said, m, std::regex("job-id \\(integer\\) = (\\d+)")));
        Ended(std::stoi(m[1]), 9);
        const std::string app = TakeOutput(), ppd = Read(Path("ppd.prn"));
        ASSERT_GT(app.size(), 1000u) << Read(Path("app/log"));
        EXPECT_TRUE(app == ppd) << "the application's stream differs from the PPD's";
        EXPECT_TRUE(app == Read(Path("adihost.prn")))
            << "the application's stream differs from adihost's";
    }
    ExpectNothingLeft();
}

// A PWG raster page (Ghostscript's) through the application and through the
// PPD's rastertovarnu: the same bytes.
TEST_F(PrinterAppTest, ARasterPageMakesTheSameStreamAsThePpdFilter) {
    StartApp();
    const std::string samples = Path("samples");
    ASSERT_EQ(Run(kTests + "/make-pwg-samples " + samples + " 300").status, 0);
    const std::string page = samples +
                             "/pwg-raster-samples-300dpi/sgray-8/"
                             "onepage-letter-sgray-8-300dpi.pwg";
    ASSERT_EQ(Run(std::string("PPD=") + PPD_PATH + " " + RASTERTOVARNU_PATH +
                  " 1 user title 1 '' " + page + " > " + Path("filter.prn"))
                  .status,
              0);
    Ended(Print(page, "na_letter_8.5x11in", 300, 1), 9);
    const std::string app = TakeOutput();
    ASSERT_GT(app.size(), 10000u);
    EXPECT_TRUE(app == Read(Path("filter.prn"))) << "the application's stream differs";
}

// A landscape page that fits the sheet as it is and a portrait one that
// fits only turned: the application turns them as adihost does, and the
// PPD's pdftovarnu, through cupsfilter and through a private cupsd's queue
// with lp's media, resolution and copies, makes the same bytes.
TEST_F(PrinterAppTest, APdfMakesTheSameStreamAsAdihostAndThePpd) {
    Write("cups-files.conf",
          "ServerBin " + MakeCupsServerBin(dir_) + "\nDataDir /usr/share/cups\n");
    StartApp();
    Adihost("configure --defaults --paper A2 --resolution 400");
    const std::string ipp = "-o media=iso_a2_420x594mm -o printer-resolution=400dpi ";
    for (const auto& [width, height] : {std::pair{400, 250}, std::pair{420, 594}}) {
        const std::string name = std::to_string(width) + "x" + std::to_string(height);
        SCOPED_TRACE(name);
        WriteDrawingPdf(Path(name + ".pdf"), width, height, 1);
        Adihost("plot " + Path(name + ".pdf") + " --rotate auto --quiet -o " + Path("adihost.prn"));
        Ended(Print(Path(name + ".pdf"), "iso_a2_420x594mm", 400, 1), 9);
        const std::string app = TakeOutput();
        ASSERT_GT(app.size(), 10000u);
        EXPECT_TRUE(app == Read(Path("adihost.prn")))
            << "the application's stream differs from adihost's";
        ASSERT_EQ(Run("cupsfilter -c " + Path("cups-files.conf") + " -p " + PPD_PATH +
                      " -m printer/varnu -e " + ipp + Path(name + ".pdf") + " > " + Path("ppd.prn"))
                      .status,
                  0);
        EXPECT_TRUE(app == Read(Path("ppd.prn")))
            << "the application's stream differs from the PPD's";
    }
    // Both pages in one document, two copies each.
    ASSERT_EQ(
        Run("pdfunite " + Path("400x250.pdf") + " " + Path("420x594.pdf") + " " + Path("two.pdf"))
            .status,
        0);
    Adihost("configure --defaults --paper A2 --resolution 400 --copies 2");
    Adihost("plot " + Path("two.pdf") + " --page all --rotate auto --quiet -o " +
            Path("adihost.prn"));
    const std::string adihost = Read(Path("adihost.prn"));
    ASSERT_EQ(SplitJobs(adihost).size(), 2u);
    Ended(Print(Path("two.pdf"), "iso_a2_420x594mm", 400, 2), 9);
    EXPECT_TRUE(TakeOutput() == adihost) << "the application's stream differs from adihost's";
    if (!fs::exists("/usr/sbin/cupsd")) GTEST_SKIP() << "cupsd is not installed (Debian: cups)";
    if (geteuid() != 0) GTEST_SKIP() << "a private cupsd that runs filters as lp needs root";
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(Path("two.pdf"), fs::perms::others_read, fs::perm_options::add);
    PrivateCupsd cupsd(dir_ / "cupsd");
    std::string error;
    ASSERT_TRUE(cupsd.Start(MakeCupsServerBin(dir_), &error))
        << error << "\n"
        << Read((dir_ / "cupsd/log/error_log").string());
    const std::string server = cupsd.Server(), out = (dir_ / "cupsd/out/ppd.prn").string();
    ASSERT_EQ(Run(server + "lpadmin -p V -E -v file://" + out + " -P " + PPD_PATH).status, 0);
    ASSERT_EQ(Run(server + "lp -d V -n 2 " + ipp + Path("two.pdf") + " > " + Path("lp.txt")).status,
              0);
    bool done = false;
    for (int i = 0; i < 600 && !done; ++i) {
        Run(server + "lpstat -W not-completed -o V > " + Path("pending.txt"));
        done = Read(Path("pending.txt")).empty();
        if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(done) << Read((dir_ / "cupsd/log/error_log").string());
    cupsd.Stop();
    EXPECT_TRUE(Read(out) == adihost) << "the PPD queue's stream differs from adihost's";
}

// The printer's reasons, waited for until `has` says whether one is there.
bool WaitForReason(PrinterAppTest& t, const std::string& reason, bool has) {
    for (int i = 0; i < 100; ++i) {
        t.Ipp("", kTests + "/reasons.test", "", "reasons.txt");
        if ((SheetTest::Read(t.Path("reasons.txt")).find(reason) != std::string::npos) == has)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
}

TEST_F(PrinterAppTest, CancelledAndFailedJobsLeaveNothingAndTheNextOnePrints) {
    StartApp();
    // A0 at 600 dpi: the driver takes seconds over its bands.
    WriteDrawingPdf(Path("big.pdf"), 841, 1189, 1);
    int job = Print(Path("big.pdf"), "iso_a0_841x1189mm", 600, 1);
    for (int i = 0; i < 100; ++i) {
        Ipp("", kTests + "/jobs.test", "", "jobs.txt");
        if (Read(Path("jobs.txt")).find("job-printing") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const auto cancelled = std::chrono::steady_clock::now();
    EXPECT_EQ(Ipp("", kTests + "/cancel-job.test", "-d job=" + std::to_string(job)).status, 0)
        << Read(Path("ipp.txt"));
    Ended(job, 7);
    // Cancelled within a band or two, not at the end of the page, and
    // ended on the device: the page's raster closed, the job ended.
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(3));
    const std::string ended = TakeOutput();
    ExpectWholeJobs(ended);
    EXPECT_LE(SplitJobs(ended).size(), 1u);
    // A truncated PDF fails with a message that says why.
    const std::string pdf = Read(Path("big.pdf"));
    Write("broken.pdf", pdf.substr(0, pdf.size() / 2));
    job = Print(Path("broken.pdf"), "iso_a0_841x1189mm", 600, 1);
    const std::string broken = Ended(job, 8);
    EXPECT_NE(broken.find("job-state-message"), std::string::npos) << broken;
    // The driver is whole again for the next job.
    WriteWidePng(Path("wide.png"));
    TakeOutput();
    Ended(Print(Path("wide.png"), "na_letter_8.5x11in", 200, 1), 9);
    const std::string stream = TakeOutput();
    EXPECT_EQ(stream.rfind("\x1b%-12345X@PJL", 0), 0u);
    EXPECT_NE(stream.find("\x1b%-12345X", 10), std::string::npos);
    WaitUntilIdle();
    ExpectNothingLeft();
}

// Every page of a PDF is checked before the first byte goes out: a page
// that cannot be printed fails the job with nothing sent.
TEST_F(PrinterAppTest, APdfWithAPageThatCannotBePrintedSendsNothing) {
    WriteDrawingPdf(Path("small.pdf"), 150, 200, 1);
    WriteDrawingPdf(Path("large.pdf"), 400, 500, 1);
    ASSERT_EQ(
        Run("pdfunite " + Path("small.pdf") + " " + Path("large.pdf") + " " + Path("mixed.pdf"))
            .status,
        0);
    StartApp();
    // At its own size page 2 does not fit Letter.
    const std::string failed =
        Ended(Print(Path("mixed.pdf"), "na_letter_8.5x11in", 200, 1, "none"), 8);
    EXPECT_NE(failed.find("page 2: the page (400 x 500 mm at scale 1) does not fit"),
              std::string::npos)
        << failed;
    EXPECT_NE(failed.find("nothing was sent"), std::string::npos) << failed;
    EXPECT_EQ(TakeOutput(), "");
    // Fitted where it must be, both pages print: page 1 at its own size.
    Ended(Print(Path("mixed.pdf"), "na_letter_8.5x11in", 200, 1, "auto"), 9);
    const std::vector<std::string> jobs = SplitJobs(TakeOutput());
    ASSERT_EQ(jobs.size(), 2u) << Read(Path("app/log"));
    const Picture first = RenderJob(jobs[0], "small");
    const Match own = BestMatch(first, PopplerPage(Path("small.pdf"), 1, 0));
    EXPECT_LT(own.meanDifference, 6.0);
    WaitUntilIdle();
    ExpectNothingLeft();
}

TEST_F(PrinterAppTest, OfflineWhileTheDeviceCannotBeOpened) {
    // The device file in a folder that is not there yet.
    fs::create_directories(Path("app"));
    fs::create_symlink(Path("later/out.prn"), Path("app/out.prn"));
    StartApp();
    WriteWidePng(Path("wide.png"));
    const int job = Print(Path("wide.png"), "na_letter_8.5x11in", 200, 1);
    EXPECT_TRUE(WaitForReason(*this, "offline", true)) << Read(Path("reasons.txt"));
    fs::create_directories(Path("later"));
    Ended(job, 9);  // PAPPL tries the device again every 5 seconds
    EXPECT_TRUE(WaitForReason(*this, "offline", false)) << Read(Path("reasons.txt"));
    EXPECT_GT(fs::file_size(Path("later/out.prn")), 10000u);
}

TEST_F(PrinterAppTest, DefaultsSetInTheWebInterfaceAreKeptAndPrinted) {
    StartApp();
    // The printer's defaults page, as a browser sends it: its session token
    // and cookie, then the form.
    const std::string page = "http://localhost:" + std::to_string(port_) + "/varnu4820/printing";
    ASSERT_EQ(Run("curl -sf -c " + Path("cookies") + " " + page + " > " + Path("page.html")).status,
              0);
    std::smatch session;
    const std::string html = Read(Path("page.html"));
    ASSERT_TRUE(
        std::regex_search(html, session, std::regex("name=\"session\" value=\"([0-9a-f]+)\"")));
    for (const char* field : {"varnu-finishing-program", "varnu-finishing-margin",
                              "varnu-output-bin", "varnu-sheet-margin", "printer-resolution"})
        EXPECT_NE(html.find(std::string("name=\"") + field + "\""), std::string::npos) << field;
    ASSERT_EQ(Run("curl -sf -b " + Path("cookies") + " -d session=" + session[1].str() +
                  " -d varnu-finishing-program=program3 -d varnu-finishing-margin=marginsoff"
                  " -d varnu-output-bin=bin_2 -d varnu-sheet-margin=5 -d printer-resolution=300dpi"
                  " -d print-quality=5 -d orientation-requested=3 -d print-content-optimize=auto"
                  " -d print-scaling=auto " +
                  page + " > " + Path("saved.html"))
                  .status,
              0);
    EXPECT_NE(Read(Path("saved.html")).find("Changes saved"), std::string::npos);
    // The page shows them in words, what was saved selected, and refuses
    // a value the printer does not offer.
    ASSERT_EQ(
        Run("curl -sf -b " + Path("cookies") + " " + page + " > " + Path("again.html")).status, 0);
    const std::string labelled = Read(Path("again.html"));
    for (const char* label :
         {"Finishing program:</th>", "<option value=\"program3\" selected>Program 3",
          "<option value=\"marginsoff\" selected>Always on<", "<option value=\"dontcare\">Any bin",
          "<option value=\"bin_2\" selected>Bin 2", "Sheet margin (mm):</th>", "value=\"5\"",
          "<option value=\"tray-2\" selected>"})
        EXPECT_NE(labelled.find(label), std::string::npos) << label;
    ASSERT_EQ(Run("curl -sf -b " + Path("cookies") + " -d session=" + session[1].str() +
                  " -d varnu-output-bin=bin_99 " + page + " > " + Path("refused.html"))
                  .status,
              0);
    EXPECT_EQ(Read(Path("refused.html")).find("Changes saved"), std::string::npos);
    // Kept in the state: the next run has them, and a job that names none
    // of them is printed with them.
    StopApp();
    StartApp();
    WriteWidePng(Path("wide.png"));
    Ended(Print(Path("wide.png"), "na_letter_8.5x11in", 200, 1), 9);
    const std::string stream = TakeOutput();
    for (const char* line :
         {"@PJL DEFAULT FINISHPROGID=PROGRAM3\r\n", "@PJL DEFAULT FINISHMARGINS=MARGINSOFF\r\n",
          "@PJL DEFAULT FINISHBIN=BIN_2\r\n"})
        EXPECT_NE(stream.find(line), std::string::npos) << line;
    // A margin of 5 mm on A-ANSI (11 x 8.5 inch): 199 plotter units in.
    EXPECT_NE(stream.find("IP199,199,"), std::string::npos);
}

// The media page saves only a size the printer has paper for, and says
// so; the jobs page says why a job failed; the supplies page says what is
// known of the roll.
TEST_F(PrinterAppTest, TheWebPagesSayWhatTheySaved) {
    StartApp();
    const std::string web = "http://localhost:" + std::to_string(port_) + "/varnu4820/";
    ASSERT_EQ(
        Run("curl -sf -c " + Path("cookies") + " " + web + "media > " + Path("media.html")).status,
        0);
    std::smatch session;
    const std::string html = Read(Path("media.html"));
    ASSERT_TRUE(
        std::regex_search(html, session, std::regex("name=\"session\" value=\"([0-9a-f]+)\"")));
    EXPECT_NE(html.find("The roll loaded: 914.4 mm wide"), std::string::npos);
    EXPECT_NE(html.find(">Vellum</option>"), std::string::npos);
    const auto post = [&](const std::string& page, const std::string& fields) {
        EXPECT_EQ(Run("curl -sf -b " + Path("cookies") + " -d session=" + session[1].str() + " " +
                      fields + " " + web + page + " > " + Path("posted.html"))
                      .status,
                  0);
        return Read(Path("posted.html"));
    };
    EXPECT_NE(post("media", "-d size=custom -d width=100 -d length=100 -d type=stationery")
                  .find("Not saved: the printer has no paper format or roll for 100.0 x 100.0 mm"),
              std::string::npos);
    EXPECT_NE(post("media", "-d size=custom -d width=900 -d length=2000 -d type=com.varnu.vellum")
                  .find("Changes saved."),
              std::string::npos);
    EXPECT_NE(Read(Path("posted.html")).find("The roll loaded: 900.0 mm wide"), std::string::npos);
    Write("broken.pdf", "%PDF-1.4\nnot a PDF at all");
    Ended(Print(Path("broken.pdf"), "iso_a4_210x297mm", 200, 1), 8);
    ASSERT_EQ(Run("curl -sf " + web + "jobs > " + Path("jobs.html")).status, 0);
    EXPECT_NE(Read(Path("jobs.html")).find("Failed: not a complete PDF"), std::string::npos)
        << Read(Path("jobs.html"));
    // The test page, made by the driver, printed as a job of its own.
    TakeOutput();
    EXPECT_NE(post("", "-d action=print-test-page").find("Test page printed."), std::string::npos);
    WaitUntilIdle();
    const std::vector<std::string> test = SplitJobs(TakeOutput());
    ASSERT_EQ(test.size(), 1u);
    EXPECT_NE(test[0].find("LT"), std::string::npos);  // its line types
    ASSERT_EQ(Run("curl -sf " + web + "supplies > " + Path("supplies.html")).status, 0);
    EXPECT_NE(Read(Path("supplies.html")).find("Roll paper, 900 mm:</th><td>unknown"),
              std::string::npos);
}

// The web interface in a real browser: its media, defaults, jobs and
// supplies pages kept as screenshots, defaults chosen in the form reaching
// the next job.
TEST_F(PrinterAppTest, ABrowserSetsDefaultsThatTheNextJobPrints) {
    const std::string missing = MissingBrowser();
    if (!missing.empty())
        GTEST_SKIP() << missing << " is not installed (Debian: chromium, chromium-driver)";
    StartApp();
    WebDriver browser;
    std::string error;
    ASSERT_TRUE(browser.Start(dir_ / "browser", FreePort(), &error))
        << error << Read(Path("browser/chromedriver.log"));
    const std::string web = "http://localhost:" + std::to_string(port_) + "/varnu4820/";
    fs::create_directories(kOutput);
    for (const char* page : {"media", "printing", "jobs", "supplies"}) {
        ASSERT_TRUE(browser.Go(web + page, &error)) << error;
        EXPECT_TRUE(browser.Screenshot(kOutput + "/" + page + ".png", &error)) << error;
    }
    // A select and the submit button of PAPPL's defaults page, then of the
    // printer's own.
    const struct {
        const char* page;
        const char* option;
    } choices[] = {{"printing", "select[name=varnu-finishing-program] option[value=program3]"},
                   {"printing", "select[name=varnu-output-bin] option[value=bin_5]"}};
    for (const auto& choice : choices) {
        SCOPED_TRACE(choice.page);
        ASSERT_TRUE(browser.Go(web + choice.page, &error)) << error;
        ASSERT_TRUE(browser.Click(choice.option, &error)) << error;
        ASSERT_TRUE(browser.Click("input[type=submit]", &error)) << error;
        bool saved = false;
        for (int i = 0; i < 50 && !saved; ++i) {
            saved = browser.Source().find("Changes saved.") != std::string::npos;
            if (!saved) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_TRUE(saved) << browser.Source();
    }
    EXPECT_TRUE(browser.Screenshot(kOutput + "/printing-saved.png", &error)) << error;
    WriteWidePng(Path("wide.png"));
    Ended(Print(Path("wide.png"), "na_letter_8.5x11in", 200, 1), 9);
    const std::string stream = TakeOutput();
    for (const char* line :
         {"@PJL DEFAULT FINISHPROGID=PROGRAM3\r\n", "@PJL DEFAULT FINISHBIN=BIN_5\r\n"})
        EXPECT_NE(stream.find(line), std::string::npos) << line;
}

TEST_F(PrinterAppTest, CupsPrintsToItAsAnIppEverywhereQueue) {
    if (!fs::exists("/usr/sbin/cupsd")) GTEST_SKIP() << "cupsd is not installed (Debian: cups)";
    if (geteuid() != 0) GTEST_SKIP() << "a private cupsd that runs filters as lp needs root";
    StartApp();
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    PrivateCupsd cupsd(dir_ / "cupsd");
    std::string error;
    ASSERT_TRUE(cupsd.Start(MakeCupsServerBin(dir_), &error))
        << error << "\n"
        << Read((dir_ / "cupsd/log/error_log").string());
    const std::string server = cupsd.Server();
    ASSERT_EQ(Run(server + "lpadmin -p Q -E -v " + Uri() + " -m everywhere").status, 0)
        << Read(Path("stderr.txt"));
    WriteDrawingPdf(Path("two.pdf"), 400, 250, 2);
    ASSERT_EQ(Run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -r100 -dDEVICEWIDTHPOINTS=792 "
                  "-dDEVICEHEIGHTPOINTS=612 -dFIXEDMEDIA -sOutputFile=" +
                  Path("wide.jpg") + " " + kTests + "/drawing.ps")
                  .status,
              0);
    for (const char* f : {"two.pdf", "wide.jpg"})
        fs::permissions(Path(f), fs::perms::others_read, fs::perm_options::add);
    // CUPS's queue sends print-quality (its PPD has no resolutions): normal
    // is 400 dpi here, draft 200 dpi.
    ASSERT_EQ(Run(server + "lp -d Q -n 2 -o media=iso_a2_420x594mm " + Path("two.pdf")).status, 0);
    ASSERT_EQ(
        Run(server + "lp -d Q -o media=na_letter_8.5x11in -o print-quality=3 " + Path("wide.jpg"))
            .status,
        0);
    bool done = false;
    for (int i = 0; i < 600 && !done; ++i) {
        Run(server + "lpstat -W not-completed -o Q > " + Path("pending.txt"));
        done = Read(Path("pending.txt")).empty();
        if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(done) << Read((dir_ / "cupsd/log/error_log").string());
    WaitUntilIdle();
    cupsd.Stop();
    const char* keep = std::getenv("PRINTER_APP_TEST_KEEP");  // to look at what it printed
    if (keep != nullptr)
        fs::copy_file(Path("app/log"), fs::path(keep) / "app.log",
                      fs::copy_options::overwrite_existing);
    const std::vector<std::string> jobs = SplitJobs(Read(Path("app/out.prn")));
    ASSERT_EQ(jobs.size(), 3u) << Read(Path("app/log"));
    for (int page = 1; page <= 2; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        const std::string& job = jobs[page - 1];
        EXPECT_NE(job.find("BP2,2;IN;"), std::string::npos);   // the printer makes the copies
        EXPECT_NE(job.find("\x1b*t400R"), std::string::npos);  // print-quality normal
        const Picture sheet = RenderJob(job, "pdf" + std::to_string(page));
        // CUPS 2.4's queue for the application has no LandscapeOrientation
        // in the PPD it writes (it does not map the printer's
        // landscape-orientation-requested-preferred, 4 or 5 alike), so
        // pdftopdf turns the landscape page clockwise onto the portrait
        // sheet, and the application's own quarter turn (adihost's) makes
        // it half round; through the PPD's queue (Plus90) it is upright.
        // Both are taken: the application cannot tell a page CUPS turned.
        Picture turned = sheet;
        std::reverse(turned.grey.begin(), turned.grey.end());
        const Picture reference = PopplerPage(Path("two.pdf"), page, 0);
        const Match upright = BestMatch(sheet, reference), half = BestMatch(turned, reference);
        const Match& m = upright.meanDifference < half.meanDifference ? upright : half;
        EXPECT_LT(m.meanDifference, 6.0);
        EXPECT_LT(m.worstBlock, 80.0);
    }
    EXPECT_NE(jobs[2].find("BP2,1;IN;"), std::string::npos);
    EXPECT_NE(jobs[2].find("\x1b*t200R"), std::string::npos);
    RenderJob(jobs[2], "jpeg");
    if (keep != nullptr)
        for (const char* png : {"pdf1.png", "pdf2.png", "jpeg.png"})
            fs::copy_file(Path(png), fs::path(keep) / png, fs::copy_options::overwrite_existing);
    ExpectNothingLeft();
}

}  // namespace
}  // namespace varnu::testing
