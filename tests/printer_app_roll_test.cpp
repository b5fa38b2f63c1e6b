// The roll through the printer application: a job on the roll without a
// size has sheets cut to its pages, turned where that saves roll; nested,
// its pages lie side by side on one sheet; the roll's length is a supply
// that each job uses up, kept across a restart, and a job longer than what
// is left waits for a new roll.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include "printer_app_fixture.h"

namespace varnu::testing {
namespace {

using RollTest = PrinterAppTest;

// A job on the roll, without a size: only its media source.
void OnTheRoll(ipp_t* request, const char* nesting) {
    ipp_t* col = ippNew();
    ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-source", nullptr, "main-roll");
    ippAddCollection(request, IPP_TAG_JOB, "media-col", col);
    ippDelete(col);
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "varnu-nesting", nullptr, nesting);
    ippAddResolution(request, IPP_TAG_JOB, "printer-resolution", IPP_RES_PER_INCH, 200, 200);
}

std::string Supply(RollTest& t) {
    ipp_t* request = t.NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ipp_t* response = nullptr;
    t.Send(request, "", &response);
    const char* text = ippGetString(
        ippFindAttribute(response, "printer-supply-description", IPP_TAG_ZERO), 0, nullptr);
    const std::string said = text != nullptr ? text : "";
    ippDelete(response);
    return said;
}

TEST_F(RollTest, PagesNestAcrossTheRollWhichIsASupply) {
    StartApp();
    EXPECT_EQ(Supply(*this), "Roll paper, 914 mm");
    ASSERT_EQ(SetDefault("varnu-roll-length-default", "10000", true), IPP_STATUS_OK);
    EXPECT_EQ(Supply(*this), "Roll paper, 914 mm: 10.0 m left");
    // Three A3 portrait pages side by side, with cut marks: one driver job,
    // 420 mm long.
    WriteDrawingPdf(Path("three.pdf"), 297, 420, 3);
    int id = 0;
    ASSERT_EQ(PrintJob(Path("three.pdf"), "application/pdf", &id,
                       [](ipp_t* r) {
                           OnTheRoll(r, "across-roll");
                           ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "varnu-cut-marks", nullptr,
                                        "corners");
                       }),
              IPP_STATUS_OK);
    ASSERT_EQ(WaitForEnd(id), IPP_JSTATE_COMPLETED);
    const std::vector<std::string> nested = SplitJobs(TakeOutput());
    ASSERT_EQ(nested.size(), 1u);
    // 420 mm and a 5 mm border each end for the marks, by 914.4 mm; 40 a mm.
    EXPECT_EQ(SheetOf(nested[0]), std::make_pair(17200, 36576));
    const Picture sheet = RenderJob(nested[0], "nested");
    fs::create_directories(kOutput);
    fs::copy_file(Path("nested.png"), kOutput + "/nested-three-a3.png",
                  fs::copy_options::overwrite_existing);
    // Each page's own drawing, in its third of the sheet.
    for (int page = 1; page <= 3; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        // Where the nest put it: after the 5 mm border, 297 mm and a 5 mm
        // gap a page, with a pixel of paper around it (the cut marks begin
        // a millimetre off).
        const double perMm = sheet.width / 914.4;
        const int x = static_cast<int>((5 + (page - 1) * 302) * perMm) - 1;
        const int top = static_cast<int>(5 * perMm) - 1;
        Picture third;
        third.width = std::min(sheet.width - x, static_cast<int>(297 * perMm) + 2);
        third.height = std::min(sheet.height - top, static_cast<int>(420 * perMm) + 2);
        for (int y = top; y < top + third.height; ++y) {
            const auto row = sheet.grey.begin() + y * sheet.width + x;
            third.grey.insert(third.grey.end(), row, row + third.width);
        }
        const Match m = BestMatch(third, PopplerPage(Path("three.pdf"), page, 0));
        EXPECT_LT(m.meanDifference, 8.0);
    }
    EXPECT_EQ(Supply(*this), "Roll paper, 914 mm: 9.6 m left");
    // Not nested, each page its own sheet, turned to take 297 mm of roll.
    ASSERT_EQ(
        PrintJob(Path("three.pdf"), "application/pdf", &id, [](ipp_t* r) { OnTheRoll(r, "none"); }),
        IPP_STATUS_OK);
    ASSERT_EQ(WaitForEnd(id), IPP_JSTATE_COMPLETED);
    const std::vector<std::string> apart = SplitJobs(TakeOutput());
    ASSERT_EQ(apart.size(), 3u);
    for (const std::string& job : apart)
        EXPECT_EQ(SheetOf(job), std::make_pair(11880, 36576));  // 297 mm
    EXPECT_EQ(Supply(*this), "Roll paper, 914 mm: 8.7 m left");
    // Kept across a restart.
    StopApp();
    StartApp();
    EXPECT_EQ(Supply(*this), "Roll paper, 914 mm: 8.7 m left");
}

// The same PDF and settings nested through the printer application and
// through adihost: the same driver job, byte for byte.
TEST_F(RollTest, NestedPagesMakeTheSameStreamAsAdihost) {
    StartApp();
    WriteDrawingPdf(Path("three.pdf"), 297, 420, 3);
    Adihost("configure --defaults --paper 23 --resolution 200");
    const std::string plot = "plot " + Path("three.pdf") + " --quiet --nest across-roll -o ";
    const struct {
        const char* name;
        int gap;
        const char* cutMarks;
        const char* arguments;
    } cases[] = {{"side by side", 5, "none", ""},
                 {"two across, cut marks", 20, "corners", " --gap 20 --cut-marks"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int id = 0;
        ASSERT_EQ(PrintJob(Path("three.pdf"), "application/pdf", &id,
                           [&](ipp_t* r) {
                               OnTheRoll(r, "across-roll");
                               ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "varnu-nesting-gap",
                                             c.gap);
                               ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "varnu-cut-marks",
                                            nullptr, c.cutMarks);
                           }),
                  IPP_STATUS_OK);
        ASSERT_EQ(WaitForEnd(id), IPP_JSTATE_COMPLETED);
        const std::string app = TakeOutput();
        ASSERT_EQ(SplitJobs(app).size(), 1u);
        Adihost(plot + Path("adihost.prn") + c.arguments);
        EXPECT_TRUE(Read(Path("adihost.prn")) == app)
            << "adihost " << Read(Path("adihost.prn")).size() << " bytes, the application "
            << app.size();
    }
}

TEST_F(RollTest, AJobLongerThanTheRollLeftWaitsForANewRoll) {
    StartApp();
    ASSERT_EQ(SetDefault("varnu-roll-length-default", "300", true), IPP_STATUS_OK);
    WriteDrawingPdf(Path("three.pdf"), 297, 420, 3);
    int id = 0;
    ASSERT_EQ(PrintJob(Path("three.pdf"), "application/pdf", &id,
                       [](ipp_t* r) { OnTheRoll(r, "across-roll"); }),
              IPP_STATUS_OK);
    bool needed = false;
    for (int i = 0; i < 100 && !needed; ++i) {
        Ipp("", kTests + "/reasons.test", "", "reasons.txt");
        needed = Read(Path("reasons.txt")).find("media-needed") != std::string::npos;
        if (!needed) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(needed) << Read(Path("reasons.txt"));
    EXPECT_LT(JobState(id), IPP_JSTATE_CANCELED);
    EXPECT_EQ(Read(Path("app/out.prn")), "");
    // A new roll loaded: the job prints on it.
    ASSERT_EQ(SetDefault("varnu-roll-length-default", "50000", true), IPP_STATUS_OK);
    EXPECT_EQ(WaitForEnd(id), IPP_JSTATE_COMPLETED);
    EXPECT_EQ(SplitJobs(TakeOutput()).size(), 1u);
    EXPECT_EQ(Supply(*this), "Roll paper, 914 mm: 49.6 m left");
}

// Jobs that arrive while the first waits join its nest and end as printed
// with it; "Print Now" sends the nest; a job that prints otherwise, or the
// first one's cancel, leaves the others to print on their own.
TEST_F(RollTest, JobsArrivingWithinTheWaitNestIntoOneDriverJob) {
    StartApp();
    // "Print Now" on the jobs page, as a browser sends it, once the page
    // says a nest waits: whether the page then says it prints.
    const auto printNow = [&] {
        const std::string jobs = "http://localhost:" + std::to_string(port_) + "/varnu4820/jobs";
        const std::string cookies = Path("cookies"), page = Path("jobs.html");
        std::smatch session;
        for (int i = 0; i < 100 && session.empty(); ++i) {
            Run("curl -sf -c " + cookies + " " + jobs + " > " + page);
            const std::string html = Read(page);
            if (html.find("waits for further jobs to nest") == std::string::npos ||
                !std::regex_search(html, session,
                                   std::regex("name=\"session\" value=\"([0-9a-f]+)\"")))
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (session.empty()) return false;
        Run("curl -sf -b " + cookies + " -d session=" + session[1].str() + " -d action=print-now " +
            jobs + " > " + page);
        return Read(page).find("The nest prints now.") != std::string::npos;
    };
    ASSERT_EQ(SetDefault("varnu-nesting-wait-default", "120", true), IPP_STATUS_OK);
    WriteDrawingPdf(Path("a3.pdf"), 297, 420, 1);
    const auto nested = [](ipp_t* r) { OnTheRoll(r, "across-roll"); };
    int ids[3] = {};
    for (int& id : ids)
        ASSERT_EQ(PrintJob(Path("a3.pdf"), "application/pdf", &id, nested), IPP_STATUS_OK);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(JobState(ids[0]), IPP_JSTATE_PROCESSING);
    EXPECT_TRUE(printNow()) << Read(Path("jobs.html"));
    std::string message;
    for (const int id : ids) EXPECT_EQ(WaitForEnd(id, &message), IPP_JSTATE_COMPLETED);
    EXPECT_EQ(message, "Printed on the roll with job " + std::to_string(ids[0]) + ".");
    std::vector<std::string> out = SplitJobs(TakeOutput());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(SheetOf(out[0]), std::make_pair(16800, 36576));  // three A3 side by side
    // At 300 dpi the second job breaks the nest: the first goes out at once.
    const auto at300 = [](ipp_t* r) {
        OnTheRoll(r, "across-roll");
        ippDeleteAttribute(r, ippFindAttribute(r, "printer-resolution", IPP_TAG_ZERO));
        ippAddResolution(r, IPP_TAG_JOB, "printer-resolution", IPP_RES_PER_INCH, 300, 300);
    };
    ASSERT_EQ(PrintJob(Path("a3.pdf"), "application/pdf", &ids[0], nested), IPP_STATUS_OK);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_EQ(PrintJob(Path("a3.pdf"), "application/pdf", &ids[1], at300), IPP_STATUS_OK);
    EXPECT_EQ(WaitForEnd(ids[0], nullptr, 30), IPP_JSTATE_COMPLETED);
    // The one at 300 dpi waits in turn; cancelled, the job that joined it
    // prints on its own.
    ASSERT_EQ(PrintJob(Path("a3.pdf"), "application/pdf", &ids[2], at300), IPP_STATUS_OK);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ipp_t* cancel = NewRequest(IPP_OP_CANCEL_JOB);
    ippAddInteger(cancel, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", ids[1]);
    EXPECT_EQ(Send(cancel), IPP_STATUS_OK);
    EXPECT_EQ(WaitForEnd(ids[1]), IPP_JSTATE_CANCELED);
    EXPECT_TRUE(printNow()) << Read(Path("jobs.html"));
    EXPECT_EQ(WaitForEnd(ids[2]), IPP_JSTATE_COMPLETED);
    out = SplitJobs(TakeOutput());
    ASSERT_EQ(out.size(), 2u);
    for (const std::string& job : out)
        EXPECT_EQ(SheetOf(job), std::make_pair(11880, 36576)) << "one A3 turned: 297 mm";
    // A raster job, which prints as it is read, sends a waiting nest.
    const std::string pwg = PwgSample();
    ASSERT_NE(pwg, "");
    ASSERT_EQ(PrintJob(Path("a3.pdf"), "application/pdf", &ids[0], nested), IPP_STATUS_OK);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_EQ(PrintJob(pwg, "image/pwg-raster", &ids[1]), IPP_STATUS_OK);
    EXPECT_EQ(WaitForEnd(ids[0], nullptr, 30), IPP_JSTATE_COMPLETED);
    EXPECT_EQ(WaitForEnd(ids[1], nullptr, 30), IPP_JSTATE_COMPLETED);
    TakeOutput();
    // Stopped while a nest waits, the application prints it and ends.
    ASSERT_EQ(PrintJob(Path("a3.pdf"), "application/pdf", &ids[0], nested), IPP_STATUS_OK);
    std::this_thread::sleep_for(std::chrono::seconds(3));  // the watch is set every 2 s
    StopApp();
    EXPECT_EQ(SplitJobs(TakeOutput()).size(), 1u);
}

// A second printer on the same device: a nest waiting there does not hold
// up the first printer's jobs (one job runs at a time), and a job printed
// in that nest is not printed again after the first printer's nest.
TEST_F(RollTest, ANestOnOnePrinterNeitherHoldsUpNorUndoesAnother) {
    StartApp();
    std::ofstream(Path("app/out.prn")).close();  // PAPPL creates printers on writable files only
    const std::string system = "ipp://localhost:" + std::to_string(port_) + "/ipp/system";
    ipp_t* create = ippNewRequest(IPP_OP_CREATE_PRINTER);
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr, system.c_str());
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "t");
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "printer-service-type", nullptr,
                 "print");
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "smi55357-driver", nullptr,
                 "varnu_4820");
    ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_URI, "smi55357-device-uri", nullptr,
                 ("file://" + Path("app/out.prn")).c_str());
    ippAddString(create, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, "second");
    ASSERT_EQ(Send(create, "", nullptr, "/ipp/system"), IPP_STATUS_OK);
    // Requests to the second printer.
    const std::string resource = "/ipp/print/second";
    const auto second = [&](ipp_op_t op) {
        ipp_t* request = NewRequest(op);
        ippDeleteAttribute(request, ippFindAttribute(request, "printer-uri", IPP_TAG_URI));
        const std::string uri = "ipp://localhost:" + std::to_string(port_) + resource;
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
        return request;
    };
    ipp_t* wait = second(IPP_OP_SET_PRINTER_ATTRIBUTES);
    ippAddInteger(wait, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "varnu-nesting-wait-default", 120);
    ASSERT_EQ(Send(wait, "", nullptr, resource), IPP_STATUS_OK);
    WriteDrawingPdf(Path("a3.pdf"), 297, 420, 1);
    int nest[2] = {};
    for (int& id : nest) {
        ipp_t* print = second(IPP_OP_PRINT_JOB);
        OnTheRoll(print, "across-roll");
        ipp_t* response = nullptr;
        ASSERT_EQ(Send(print, Path("a3.pdf"), &response, resource), IPP_STATUS_OK);
        id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
        ippDelete(response);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    int first = 0;
    ASSERT_EQ(PrintJob(Path("a3.pdf"), "application/pdf", &first,
                       [](ipp_t* r) { OnTheRoll(r, "across-roll"); }),
              IPP_STATUS_OK);
    EXPECT_EQ(WaitForEnd(first, nullptr, 30), IPP_JSTATE_COMPLETED) << "held up by the nest";
    std::string message;
    for (int i = 0; i < 300 && message.rfind("Printed on the roll", 0) != 0; ++i) {
        ipp_t* request = second(IPP_OP_GET_JOB_ATTRIBUTES);
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", nest[1]);
        ipp_t* response = nullptr;
        Send(request, "", &response, resource);
        const char* text =
            ippGetString(ippFindAttribute(response, "job-state-message", IPP_TAG_ZERO), 0, nullptr);
        message = text != nullptr ? text : "";
        const int state = ippGetInteger(ippFindAttribute(response, "job-state", IPP_TAG_ENUM), 0);
        ippDelete(response);
        if (state >= IPP_JSTATE_CANCELED) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(message, "Printed on the roll with job " + std::to_string(nest[0]) + ".");
    const std::string stream = TakeOutput();
    ExpectWholeJobs(stream);
    EXPECT_EQ(SplitJobs(stream).size(), 2u) << "the nest of two, and the first printer's job";
}

}  // namespace
}  // namespace varnu::testing
